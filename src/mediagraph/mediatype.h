#pragma once
// Media types as the workflows see them: TMediaType owns one platform media
// type record with its format block, copies, compares and stores it;
// TEnumMediaType lists the types a pin offers; MediaTypeText describes one
// record in the one line the format lists show.
//
// User interface thread only. A TMediaType's format block comes from the
// task allocator and belongs to the record; a held object reference is
// counted.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/media/core/interfaces.h"

namespace ronvix::mediagraph {

// Size of the stored record: the platform's 32-bit layout of the media
// type record, which the stored block keeps on every platform.
inline constexpr size_t kStoredMediaTypeSize = 72;

class TMediaType {
public:
    // Every field zero except bFixedSizeSamples (true, stored as -1),
    // lSampleSize 1 and the major type.
    explicit TMediaType(const com::GUID& major_type = com::GUID_NULL);
    // A deep copy of `record`.
    explicit TMediaType(const media::AM_MEDIA_TYPE& record);
    TMediaType(const TMediaType&) = delete;
    TMediaType& operator=(const TMediaType&) = delete;
    ~TMediaType();

    // Deep copy of `source`'s record; nothing when `source` is this object.
    void Assign(const TMediaType& source);

    const media::AM_MEDIA_TYPE& MediaRecord() const { return m_record; }
    media::AM_MEDIA_TYPE& MediaRecord() { return m_record; }
    void SetSubtype(const com::GUID& subtype) { m_record.subtype = subtype; }
    void SetFormatType(const com::GUID& format_type) { m_record.formattype = format_type; }
    uint32_t FormatSize() const { return m_record.cbFormat; }
    void FreeFormat();

    // Same major, sub and format type and the same format bytes; sample
    // size and the two flags are not compared.
    bool SameAs(const TMediaType& other) const;

    // The stored "data" block: the 72-byte record, then the format block.
    // Reading takes a short block as far as it goes (the rest of the record
    // is zero, and the format block holds only the bytes that are there).
    void ReadData(std::span<const uint8_t> data);
    void ReadData(const QByteArray& data) {
        ReadData(std::span(reinterpret_cast<const uint8_t*>(data.constData()),
                           static_cast<size_t>(data.size())));
    }
    QByteArray WriteData() const;
    // Whether "data" is written when `ancestor` (may be null) is what the
    // form inherits.
    bool ShouldWriteData(const TMediaType* ancestor) const {
        return !ancestor || !SameAs(*ancestor);
    }

private:
    media::AM_MEDIA_TYPE m_record{};
};

// The media types a pin offers, in its order.
class TEnumMediaType {
public:
    TEnumMediaType() = default;
    TEnumMediaType(const TEnumMediaType&) = delete;
    TEnumMediaType& operator=(const TEnumMediaType&) = delete;
    ~TEnumMediaType() { FreeTypes(); }

    // Empty when the pin offers no enumeration.
    void LoadFromPin(media::IPin* pin);
    void LoadFromEnumerator(media::IEnumMediaTypes* types);
    int Count() const { return static_cast<int>(m_items.size()); }
    // Entry `index`, or null outside 0..Count-1.
    TMediaType* Item(int index) const;
    // MediaTypeText of entry `index`; empty outside 0..Count-1.
    QString Description(int index) const;
    void FreeTypes() { m_items.clear(); }

private:
    std::vector<std::unique_ptr<TMediaType>> m_items;
};

// The one-line description of a record. Never changes `record`.
QString MediaTypeText(const media::AM_MEDIA_TYPE& record);
// The name of a bitmap compression code: RGB, RLE8, RLE4, BITFIELDS or the
// code's four characters up to the first zero byte.
QString CompressionText(uint32_t compression);

// The names the description uses, for tests and diagnostics: nullptr when
// the table has no row.
const char* MajorTypeName(const com::GUID& major);
const char* SubtypeName(const com::GUID& subtype);
const char* FormatTagName(uint16_t tag);
size_t SubtypeTableSize();
size_t MajorTypeTableSize();
size_t FormatTagTableSize();

}  // namespace ronvix::mediagraph
