// The capture file's container. See aviwriter.h.

#include "platform/media/container/aviwriter.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/media/container/riff.h"

namespace ronvix::media {

using namespace com;

namespace {

using riff::Fcc;
using riff::IndexFcc;
using riff::StreamFcc;

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;
constexpr uint32_t kAvifTrustCkType = 0x800;
constexpr uint32_t kAviifKeyframe = 0x10;
constexpr uint32_t kDeltaFrame = 0x80000000u;
constexpr uint32_t kMainHeaderBytes = 56;
constexpr uint32_t kStreamHeaderBytes = 56;
constexpr uint32_t kIndexHeaderBytes = 24;  // Of an index chunk, after its own header.
constexpr uint32_t kExtendedHeaderBytes = 248;
constexpr uint32_t kVideoPropertiesBytes = 36 + 32 * 2;

// Little-endian building of header bytes.
class Bytes {
public:
    void U8(uint8_t v) { m_data.push_back(v); }
    void U16(uint16_t v) {
        U8(uint8_t(v));
        U8(uint8_t(v >> 8));
    }
    void U32(uint32_t v) {
        U16(uint16_t(v));
        U16(uint16_t(v >> 16));
    }
    void U64(uint64_t v) {
        U32(uint32_t(v));
        U32(uint32_t(v >> 32));
    }
    void Raw(std::span<const uint8_t> bytes) {
        m_data.insert(m_data.end(), bytes.begin(), bytes.end());
    }
    void Zeros(size_t n) { m_data.insert(m_data.end(), n, 0); }
    // Opens a chunk (or a list, with its type); Close fills in its size.
    size_t Open(uint32_t id) {
        U32(id);
        const size_t at = m_data.size();
        U32(0);
        return at;
    }
    size_t OpenList(uint32_t list, uint32_t type) {
        const size_t at = Open(list);
        U32(type);
        return at;
    }
    void Close(size_t at) {
        const auto size = uint32_t(m_data.size() - at - 4);
        if (size % 2)
            U8(0);
        std::memcpy(&m_data[at], &size, 4);
    }
    size_t Size() const { return m_data.size(); }
    std::span<const uint8_t> Data() const { return m_data; }

private:
    std::vector<uint8_t> m_data;
};

// The video properties of `v` ('vprp': one field described, or two for
// interlaced pictures), filled with a JUNK chunk to one size whatever they
// are, or JUNK alone without properties: properties a stream learns on its
// first frame then fit where the header kept their place.
Bytes VideoPropertiesArea(const AviVideoFormat& v) {
    constexpr size_t kArea = 8 + kVideoPropertiesBytes;
    Bytes h;
    if (v.properties) {
        const AviVideoProperties& p = *v.properties;
        const uint32_t height = uint32_t(std::abs(v.height));
        const size_t vprp = h.Open(Fcc("vprp"));
        h.U32(0);  // VideoFormatToken: unknown
        h.U32(0);  // VideoStandard: unknown
        h.U32(p.refresh_hz
                  ? p.refresh_hz
                  : uint32_t((v.rate_num + v.rate_den / 2) / std::max<int64_t>(v.rate_den, 1)));
        h.U32(uint32_t(v.width));  // dwHTotalInT
        h.U32(height);             // dwVTotalInLines
        const uint16_t ax = p.aspect_x ? p.aspect_x : uint16_t(v.width);
        const uint16_t ay = p.aspect_y ? p.aspect_y : uint16_t(height);
        h.U32(uint32_t(ax) << 16 | ay);  // dwFrameAspectRatio
        h.U32(uint32_t(v.width));
        h.U32(height);
        const uint32_t fields = p.interlaced ? 2 : 1;
        h.U32(fields);
        for (uint32_t f = 0; f < fields; ++f) {
            const uint32_t field_height = height / fields;
            h.U32(field_height);       // CompressedBMHeight
            h.U32(uint32_t(v.width));  // CompressedBMWidth
            h.U32(field_height);       // ValidBMHeight
            h.U32(uint32_t(v.width));  // ValidBMWidth
            h.U32(0);                  // ValidBMXOffset
            h.U32(0);                  // ValidBMYOffset
            h.U32(0);                  // VideoXOffsetInT
            // VideoYValidStartLine: the earlier field first.
            h.U32(p.interlaced && !p.top_first ? 1 - f : f);
        }
        h.Close(vprp);
    }
    if (h.Size() < kArea) {
        const size_t junk = h.Open(Fcc("JUNK"));
        h.Zeros(kArea - h.Size());
        h.Close(junk);
    }
    return h;
}

uint32_t Clamp32(uint64_t v) {
    return uint32_t(std::min<uint64_t>(v, UINT32_MAX));
}

}  // namespace

AviFileWriter::AviFileWriter(AviSink& sink) : AviFileWriter(sink, Options{}) {}

AviFileWriter::AviFileWriter(AviSink& sink, Options options) : m_sink(sink), m_options(options) {}

int AviFileWriter::AddVideo(AviVideoFormat format) {
    Stream s;
    s.video = true;
    s.video_format = std::move(format);
    const int n = int(m_streams.size());
    s.chunk_id = StreamFcc(n, s.video_format.compressed ? "dc" : "db");
    s.index_id = IndexFcc(n);
    m_streams.push_back(std::move(s));
    return n;
}

int AviFileWriter::AddAudio(AviAudioFormat format) {
    Stream s;
    s.audio_format = std::move(format);
    s.audio_format.block_align = std::max<uint16_t>(s.audio_format.block_align, 1);
    const int n = int(m_streams.size());
    s.chunk_id = StreamFcc(n, "wb");
    s.index_id = IndexFcc(n);
    m_streams.push_back(std::move(s));
    return n;
}

int64_t AviFileWriter::Chunks(int stream) const {
    return m_streams.at(size_t(stream)).chunks;
}

int64_t AviFileWriter::Ticks(const Stream& s, uint32_t size) const {
    return s.video ? 1 : int64_t(size / s.audio_format.block_align);
}

HRESULT AviFileWriter::Put(uint64_t offset, std::span<const uint8_t> bytes) {
    const std::span<const uint8_t> parts[] = {bytes};
    return Put(offset, parts);
}

HRESULT AviFileWriter::Put(uint64_t offset, std::span<const std::span<const uint8_t>> parts) {
    if (FAILED(m_error))
        return m_error;
    const HRESULT hr = m_sink.WriteAt(offset, parts);
    if (FAILED(hr))
        m_error = hr;
    return hr;
}

HRESULT AviFileWriter::PutU32(uint64_t offset, uint32_t value) {
    uint8_t bytes[4];
    std::memcpy(bytes, &value, 4);
    return Put(offset, bytes);
}

HRESULT AviFileWriter::Begin() {
    if (m_begun)
        return E_UNEXPECTED;
    m_begun = true;
    const Stream* first_video = nullptr;
    for (const Stream& s : m_streams)
        if (s.video && !first_video)
            first_video = &s;

    Bytes h;
    const size_t riff = h.OpenList(Fcc("RIFF"), Fcc("AVI "));
    const size_t hdrl = h.OpenList(Fcc("LIST"), Fcc("hdrl"));
    const size_t avih = h.Open(Fcc("avih"));
    m_avih = h.Size();
    const int64_t num = first_video ? first_video->video_format.rate_num : 25;
    const int64_t den = first_video ? first_video->video_format.rate_den : 1;
    h.U32(Clamp32(uint64_t(1'000'000 * den / std::max<int64_t>(num, 1))));  // dwMicroSecPerFrame
    h.U32(0);                                                               // dwMaxBytesPerSec
    h.U32(0);                                                               // dwPaddingGranularity
    h.U32(kAvifIsInterleaved | kAvifTrustCkType);                           // dwFlags
    h.U32(0);                                                               // dwTotalFrames
    h.U32(0);                                                               // dwInitialFrames
    h.U32(uint32_t(m_streams.size()));                                      // dwStreams
    h.U32(0);                                                               // dwSuggestedBufferSize
    h.U32(first_video ? uint32_t(first_video->video_format.width) : 0);
    h.U32(first_video ? uint32_t(std::abs(first_video->video_format.height)) : 0);
    h.Zeros(16);
    h.Close(avih);

    for (Stream& s : m_streams) {
        const size_t strl = h.OpenList(Fcc("LIST"), Fcc("strl"));
        const size_t strh = h.Open(Fcc("strh"));
        s.strh = h.Size();
        if (s.video) {
            const AviVideoFormat& v = s.video_format;
            h.U32(Fcc("vids"));
            h.U32(v.handler);
            h.U32(0);                              // dwFlags
            h.U16(0);                              // wPriority
            h.U16(0);                              // wLanguage
            h.U32(0);                              // dwInitialFrames
            h.U32(Clamp32(uint64_t(v.rate_den)));  // dwScale
            h.U32(Clamp32(uint64_t(v.rate_num)));  // dwRate
            h.U32(0);                              // dwStart
            h.U32(0);                              // dwLength
            h.U32(0);                              // dwSuggestedBufferSize
            h.U32(UINT32_MAX);                     // dwQuality: default
            h.U32(0);                              // dwSampleSize
            h.U16(0);
            h.U16(0);
            h.U16(uint16_t(v.width));
            h.U16(uint16_t(std::abs(v.height)));
        } else {
            const AviAudioFormat& a = s.audio_format;
            h.U32(Fcc("auds"));
            h.U32(0);
            h.U32(0);
            h.U16(0);
            h.U16(0);
            h.U32(0);
            h.U32(a.block_align);       // dwScale
            h.U32(a.bytes_per_second);  // dwRate
            h.U32(0);
            h.U32(0);  // dwLength
            h.U32(0);  // dwSuggestedBufferSize
            h.U32(UINT32_MAX);
            h.U32(a.block_align);  // dwSampleSize
            h.Zeros(8);
        }
        h.Close(strh);
        const size_t strf = h.Open(Fcc("strf"));
        h.Raw(s.video ? s.video_format.strf : s.audio_format.strf);
        h.Close(strf);
        const size_t indx = h.Open(Fcc("indx"));
        s.indx = h.Size();
        h.U16(4);  // wLongsPerEntry
        h.U8(0);   // bIndexSubType
        h.U8(0);   // bIndexType: an index of indexes
        h.U32(0);  // nEntriesInUse
        h.U32(s.chunk_id);
        h.Zeros(12);
        h.Zeros(size_t(m_options.super_index_capacity) * 16);
        h.Close(indx);
        if (s.video) {
            s.vprp = h.Size();
            h.Raw(VideoPropertiesArea(s.video_format).Data());
        }
        h.Close(strl);
    }
    const size_t odml = h.OpenList(Fcc("LIST"), Fcc("odml"));
    const size_t dmlh = h.Open(Fcc("dmlh"));
    m_dmlh = h.Size();
    h.Zeros(kExtendedHeaderBytes);
    h.Close(dmlh);
    h.Close(odml);
    h.Close(hdrl);
    // The 'movi' list starts on a 2 KiB boundary, as capture files usually do.
    const size_t pad = (2048 - (h.Size() + 8 + 12) % 2048) % 2048;
    const size_t junk = h.Open(Fcc("JUNK"));
    h.Zeros(pad);
    h.Close(junk);
    m_movi = h.Size();
    h.OpenList(Fcc("LIST"), Fcc("movi"));
    (void)riff;
    m_riff = 0;
    m_riffs = 1;
    m_end = h.Size();
    // The sizes are those of an empty file until the first checkpoint.
    std::vector<uint8_t> header(h.Data().begin(), h.Data().end());
    const auto riff_size = uint32_t(m_end - 8);
    const uint32_t movi_size = 4;
    std::memcpy(&header[4], &riff_size, 4);
    std::memcpy(&header[m_movi + 4], &movi_size, 4);
    const HRESULT hr = Put(0, header);
    m_checkpoints.push_back(Take());  // The empty file: a cut may end there.
    return hr;
}

HRESULT AviFileWriter::SetVideoRate(int stream, int64_t rate_num, int64_t rate_den) {
    Stream& s = m_streams.at(size_t(stream));
    if (!s.video || s.chunks > 0)
        return E_UNEXPECTED;
    s.video_format.rate_num = std::max<int64_t>(rate_num, 1);
    s.video_format.rate_den = std::max<int64_t>(rate_den, 1);
    if (!m_begun)
        return S_OK;
    HRESULT hr = PutU32(s.strh + 20, Clamp32(uint64_t(s.video_format.rate_den)));
    if (SUCCEEDED(hr))
        hr = PutU32(s.strh + 24, Clamp32(uint64_t(s.video_format.rate_num)));
    for (const Stream& first : m_streams)
        if (first.video) {
            if (&first == &s && SUCCEEDED(hr))
                hr = PutU32(m_avih, Clamp32(uint64_t(1'000'000 * s.video_format.rate_den /
                                                     s.video_format.rate_num)));
            break;
        }
    if (SUCCEEDED(hr) && s.video_format.properties)
        hr = Put(s.vprp, VideoPropertiesArea(s.video_format).Data());
    return hr;
}

HRESULT AviFileWriter::SetVideoProperties(int stream, const AviVideoProperties& properties) {
    Stream& s = m_streams.at(size_t(stream));
    if (!s.video || s.chunks > 0)
        return E_UNEXPECTED;
    s.video_format.properties = properties;
    return m_begun ? Put(s.vprp, VideoPropertiesArea(s.video_format).Data()) : S_OK;
}

HRESULT AviFileWriter::Reserve(Stream& s) {
    // An index chunk with room for its entries, empty until a checkpoint
    // fills it; its base is the 'movi' list of the RIFF it lies in.
    Bytes ix;
    const size_t chunk = ix.Open(s.index_id);
    ix.U16(2);  // wLongsPerEntry
    ix.U8(0);   // bIndexSubType
    ix.U8(1);   // bIndexType: an index of chunks
    ix.U32(0);  // nEntriesInUse
    ix.U32(s.chunk_id);
    ix.U64(m_movi);
    ix.U32(0);
    ix.Zeros(size_t(m_options.index_capacity) * 8);
    ix.Close(chunk);
    s.ix = m_end;
    s.ix_slot.reset();  // It gets its own entry in the super index.
    s.ix_base = m_movi;
    s.ix_written = 0;
    s.ix_duration = 0;
    const HRESULT hr = Put(m_end, ix.Data());
    m_end += ix.Size();
    return hr;
}

HRESULT AviFileWriter::Write(int stream, std::span<const uint8_t> data, bool key) {
    if (!m_begun || m_finished)
        return E_UNEXPECTED;
    if (FAILED(m_error))
        return m_error;
    Stream& s = m_streams.at(size_t(stream));
    const uint64_t chunk_bytes = 8 + data.size() + (data.size() % 2);
    if (m_end + chunk_bytes + 8 + kIndexHeaderBytes + uint64_t(m_options.index_capacity) * 8 -
            m_riff >
        m_options.riff_limit) {
        const HRESULT hr = NextRiff();
        if (FAILED(hr))
            return hr;
    }
    if (!s.ix || s.ix_written + s.pending.size() >= m_options.index_capacity) {
        // A full index is filled in by a checkpoint, so its entries reach
        // the disk after the chunks they name, like every other entry.
        if (s.ix) {
            const HRESULT hr = Checkpoint();
            if (FAILED(hr))
                return hr;
        }
        const HRESULT hr = Reserve(s);
        if (FAILED(hr))
            return hr;
    }
    uint8_t header[8];
    const auto size = uint32_t(data.size());
    std::memcpy(header, &s.chunk_id, 4);
    std::memcpy(header + 4, &size, 4);
    static constexpr uint8_t kPad[1] = {0};
    const std::span<const uint8_t> parts[] = {header, data,
                                              std::span<const uint8_t>(kPad, data.size() % 2)};
    const HRESULT hr = Put(m_end, parts);
    if (FAILED(hr))
        return hr;
    m_last_chunk = m_end;
    s.pending.push_back({m_end + 8, size, key});
    if (m_riffs == 1)
        m_old_index.push_back(
            {s.chunk_id, key ? kAviifKeyframe : 0, uint32_t(m_end - (m_movi + 8)), size});
    m_end += chunk_bytes;
    ++s.chunks;
    if (m_riffs == 1)
        ++s.first_riff_chunks;
    s.bytes += size;
    s.largest = std::max(s.largest, size);
    m_dirty = true;
    return S_OK;
}

HRESULT AviFileWriter::FlushIndex(Stream& s) {
    if (!s.ix || s.pending.empty())
        return S_OK;
    Bytes entries;
    for (const Entry& e : s.pending) {
        entries.U32(uint32_t(e.offset - s.ix_base));
        entries.U32(e.size | (e.key || !s.video ? 0 : kDeltaFrame));
        s.ix_duration += Ticks(s, e.size);
    }
    const uint64_t ix = *s.ix;
    HRESULT hr = Put(ix + 8 + kIndexHeaderBytes + uint64_t(s.ix_written) * 8, entries.Data());
    s.ix_written += uint32_t(s.pending.size());
    s.pending.clear();
    if (SUCCEEDED(hr))
        hr = PutU32(ix + 12, s.ix_written);  // nEntriesInUse
    if (FAILED(hr))
        return hr;
    // Its entry in the super index: added when the index first holds
    // entries, its duration updated by every later checkpoint.
    if (!s.ix_slot) {
        if (s.super_entries >= m_options.super_index_capacity)
            return S_OK;  // No room: these chunks are found by scanning.
        s.ix_slot = s.super_entries++;
    }
    Bytes entry;
    entry.U64(ix);
    entry.U32(8 + kIndexHeaderBytes + m_options.index_capacity * 8);
    entry.U32(Clamp32(uint64_t(s.ix_duration)));
    hr = Put(s.indx + kIndexHeaderBytes + uint64_t(*s.ix_slot) * 16, entry.Data());
    if (SUCCEEDED(hr))
        hr = PutU32(s.indx + 4, s.super_entries);  // nEntriesInUse
    return hr;
}

HRESULT AviFileWriter::PatchCounts(const Snapshot& at, uint64_t riff_end) {
    // The current RIFF and its 'movi' list end where the snapshot ends.
    HRESULT hr = PutU32(at.riff + 4, Clamp32(std::max(riff_end, at.end) - at.riff - 8));
    if (SUCCEEDED(hr))
        hr = PutU32(at.movi + 4, Clamp32(at.end - at.movi - 8));
    uint32_t largest = 0;
    uint64_t bytes_per_second = 0;
    const Stream* first_video = nullptr;
    for (size_t i = 0; i < m_streams.size() && SUCCEEDED(hr); ++i) {
        const Stream& s = m_streams[i];
        const Snapshot::Counts& c = at.counts[i];
        largest = std::max(largest, c.largest);
        if (s.video && !first_video)
            first_video = &s;
        const uint64_t length = s.video ? uint64_t(c.chunks) : c.bytes / s.audio_format.block_align;
        hr = PutU32(s.strh + 32, Clamp32(length));  // dwLength
        if (SUCCEEDED(hr))
            hr = PutU32(s.strh + 36, c.largest);  // dwSuggestedBufferSize
        if (s.video)
            bytes_per_second += uint64_t(c.largest) * uint64_t(s.video_format.rate_num) /
                                uint64_t(std::max<int64_t>(s.video_format.rate_den, 1));
        else
            bytes_per_second += s.audio_format.bytes_per_second;
    }
    const size_t video = first_video ? size_t(first_video - m_streams.data()) : 0;
    const int64_t total = first_video ? at.counts[video].chunks : 0;
    const int64_t in_first = first_video ? at.counts[video].first_riff_chunks : 0;
    if (SUCCEEDED(hr))
        hr = PutU32(m_avih + 4, Clamp32(bytes_per_second));  // dwMaxBytesPerSec
    if (SUCCEEDED(hr))
        hr = PutU32(m_avih + 12,
                    kAvifIsInterleaved | kAvifTrustCkType | (at.old_index ? kAvifHasIndex : 0));
    if (SUCCEEDED(hr))
        hr = PutU32(m_avih + 16, Clamp32(uint64_t(in_first)));  // dwTotalFrames
    if (SUCCEEDED(hr))
        hr = PutU32(m_avih + 28, largest + 8);  // dwSuggestedBufferSize
    if (SUCCEEDED(hr))
        hr = PutU32(m_dmlh, Clamp32(uint64_t(total)));  // dwTotalFrames
    return hr;
}

AviFileWriter::Snapshot AviFileWriter::Take() const {
    Snapshot at;
    at.end = m_end;
    at.riff = m_riff;
    at.movi = m_movi;
    at.old_index = m_old_index_written;
    at.old_entries = m_old_index.size();
    for (const Stream& s : m_streams) {
        at.counts.push_back({s.chunks, s.first_riff_chunks, s.bytes, s.largest});
        at.indexes.push_back({s.ix, s.ix_slot, s.ix_written, s.ix_duration, s.super_entries});
    }
    at.sound_covers_picture = SoundCoversPicture();
    return at;
}

bool AviFileWriter::SoundCoversPicture() const {
    // The sound reaches the end of the first picture stream when frames x
    // num >= places x den x sample rate (in long double: no overflow).
    const Stream* video = nullptr;
    for (const Stream& s : m_streams)
        if (s.video && !video)
            video = &s;
    for (const Stream& s : m_streams) {
        if (s.video || !video)
            continue;
        const auto frames = static_cast<long double>(s.bytes / s.audio_format.block_align);
        if (frames * static_cast<long double>(video->video_format.rate_num) <
            static_cast<long double>(video->chunks) *
                static_cast<long double>(video->video_format.rate_den) *
                static_cast<long double>(s.audio_format.sample_rate))
            return false;
    }
    return true;
}

int64_t AviFileWriter::Position(int stream) const {
    const Stream& s = m_streams.at(size_t(stream));
    return s.video ? s.chunks : int64_t(s.bytes / s.audio_format.block_align);
}

std::pair<int64_t, int64_t> AviFileWriter::UnitRate(int stream) const {
    const Stream& s = m_streams.at(size_t(stream));
    if (s.video)
        return {s.video_format.rate_num, std::max<int64_t>(s.video_format.rate_den, 1)};
    return {std::max<int64_t>(s.audio_format.sample_rate, 1), 1};
}

uint64_t AviFileWriter::ReleaseCheckpoints(uint64_t durable_end) {
    // The one a cut would choose now, and the one before it (whose chunks
    // carry the sound a next file may need to start with the picture).
    size_t chosen = 0;
    std::optional<size_t> covering;
    for (size_t i = 0; i < m_checkpoints.size() && m_checkpoints[i].end <= durable_end; ++i) {
        chosen = i;
        if (m_checkpoints[i].sound_covers_picture)
            covering = i;
    }
    const size_t keep = covering.value_or(chosen);
    const size_t drop = keep > 0 ? keep - 1 : 0;
    m_checkpoints.erase(m_checkpoints.begin(), m_checkpoints.begin() + ptrdiff_t(drop));
    return m_checkpoints.empty() ? m_end : m_checkpoints.front().end;
}

HRESULT AviFileWriter::PatchIndexes(const Snapshot& at) {
    HRESULT hr = S_OK;
    for (size_t i = 0; i < m_streams.size() && SUCCEEDED(hr); ++i) {
        const Stream& s = m_streams[i];
        const Snapshot::IndexState& x = at.indexes[i];
        hr = PutU32(s.indx + 4, x.super_entries);
        if (SUCCEEDED(hr) && x.ix)
            hr = PutU32(*x.ix + 12, x.ix_written);
        if (SUCCEEDED(hr) && x.ix && x.ix_slot) {
            Bytes entry;
            entry.U64(*x.ix);
            entry.U32(8 + kIndexHeaderBytes + m_options.index_capacity * 8);
            entry.U32(Clamp32(uint64_t(x.ix_duration)));
            hr = Put(s.indx + kIndexHeaderBytes + uint64_t(*x.ix_slot) * 16, entry.Data());
        }
    }
    return hr;
}

AviFileWriter::Cut AviFileWriter::EndAt(uint64_t durable_end) {
    // The latest checkpoint within what the sink took, preferring one whose
    // sound covers its pictures; the empty file at worst.
    std::optional<size_t> chosen, covering;
    for (size_t i = 0; i < m_checkpoints.size() && m_checkpoints[i].end <= durable_end; ++i) {
        chosen = i;
        if (m_checkpoints[i].sound_covers_picture)
            covering = i;
    }
    if (covering)
        chosen = covering;
    Cut cut;
    if (!chosen || !m_begun) {
        // Not even the header is on the disk: the file holds nothing.
        cut.positions.assign(m_streams.size(), 0);
        return cut;
    }
    Snapshot at = m_checkpoints[*chosen];
    cut.length = at.end;
    for (size_t i = 0; i < m_streams.size() && i < at.counts.size(); ++i)
        cut.positions.push_back(
            m_streams[i].video
                ? at.counts[i].chunks
                : int64_t(at.counts[i].bytes / m_streams[i].audio_format.block_align));
    // Patches overwrite bytes the sink has: they go in whatever failed.
    const HRESULT failure = m_error;
    m_error = S_OK;
    HRESULT hr = PatchIndexes(at);
    uint64_t riff_end = 0;
    if (SUCCEEDED(hr) && at.riff == 0 && !at.old_index && !m_old_index_written &&
        at.old_entries <= m_old_index.size()) {
        // The legacy index of what the cut file holds, over the bytes past
        // its end when they can take it.
        Bytes idx1;
        const size_t chunk = idx1.Open(Fcc("idx1"));
        for (size_t i = 0; i < at.old_entries; ++i) {
            const OldEntry& e = m_old_index[i];
            idx1.U32(e.id);
            idx1.U32(e.flags);
            idx1.U32(e.offset);
            idx1.U32(e.size);
        }
        idx1.Close(chunk);
        if (at.end + idx1.Size() <= durable_end && SUCCEEDED(Put(at.end, idx1.Data()))) {
            riff_end = at.end + idx1.Size();
            at.old_index = true;
        }
    }
    if (SUCCEEDED(hr))
        hr = PatchCounts(at, riff_end);
    if (SUCCEEDED(hr))
        hr = m_sink.Barrier();
    cut.length = std::max(riff_end, at.end);
    m_error = FAILED(hr) ? hr : failure;
    m_finished = true;
    m_checkpoint = at;
    return cut;
}

std::unique_ptr<AviFileWriter> AviFileWriter::Successor(AviSink& sink) const {
    auto next = std::make_unique<AviFileWriter>(sink, m_options);
    for (const Stream& s : m_streams) {
        if (s.video)
            next->AddVideo(s.video_format);
        else
            next->AddAudio(s.audio_format);
    }
    return next;
}

HRESULT AviFileWriter::Checkpoint() {
    if (!m_begun || !m_dirty)
        return m_error;
    // What the new patches describe is on the disk before them.
    if (SUCCEEDED(m_error)) {
        const HRESULT hr = m_sink.Barrier();
        if (FAILED(hr))
            m_error = hr;
    }
    if (FAILED(m_error))
        return m_error;
    for (Stream& s : m_streams) {
        const HRESULT hr = FlushIndex(s);
        if (FAILED(hr))
            return hr;
    }
    const Snapshot at = Take();
    const HRESULT hr = PatchCounts(at);
    if (SUCCEEDED(hr)) {
        m_checkpoint = at;
        m_checkpoints.push_back(at);
        // Without a user releasing them (no cut expected), the oldest go.
        constexpr size_t kMaxCheckpoints = 64;
        if (m_checkpoints.size() > kMaxCheckpoints)
            m_checkpoints.pop_front();
        m_dirty = false;
    }
    return hr;
}

HRESULT AviFileWriter::WriteOldIndex() {
    Bytes idx1;
    const size_t chunk = idx1.Open(Fcc("idx1"));
    for (const OldEntry& e : m_old_index) {
        idx1.U32(e.id);
        idx1.U32(e.flags);
        idx1.U32(e.offset);
        idx1.U32(e.size);
    }
    idx1.Close(chunk);
    const HRESULT hr = Put(m_end, idx1.Data());
    if (FAILED(hr))
        return hr;
    m_end += idx1.Size();
    m_old_index.clear();
    m_old_index.shrink_to_fit();
    m_old_index_written = true;
    m_dirty = true;
    return S_OK;
}

HRESULT AviFileWriter::NextRiff() {
    HRESULT hr = Checkpoint();
    if (SUCCEEDED(hr) && m_riffs == 1)
        hr = WriteOldIndex();
    if (SUCCEEDED(hr))
        hr = Checkpoint();  // The first RIFF's sizes cover its old index.
    if (FAILED(hr))
        return hr;
    Bytes h;
    h.U32(Fcc("RIFF"));
    h.U32(4 + 12);
    h.U32(Fcc("AVIX"));
    h.U32(Fcc("LIST"));
    h.U32(4);
    h.U32(Fcc("movi"));
    hr = Put(m_end, h.Data());
    if (FAILED(hr))
        return hr;
    m_riff = m_end;
    m_movi = m_end + 12;
    m_end += h.Size();
    ++m_riffs;
    for (Stream& s : m_streams) {
        s.ix.reset();
        s.ix_slot.reset();
    }
    m_dirty = true;
    return S_OK;
}

HRESULT AviFileWriter::Finish() {
    if (!m_begun || m_finished)
        return m_error;
    m_finished = true;
    HRESULT hr = Checkpoint();
    if (SUCCEEDED(hr) && m_riffs == 1 && !m_old_index_written) {
        hr = WriteOldIndex();
        if (SUCCEEDED(hr))
            hr = Checkpoint();
    }
    if (SUCCEEDED(hr))
        return m_sink.Barrier();
    // A write failed: the header is made to describe the last checkpoint,
    // whose chunks are on the disk. Patches need no new space, so they are
    // tried whatever the failure was.
    if (m_checkpoint) {
        const HRESULT failure = m_error;
        m_error = S_OK;
        PatchCounts(*m_checkpoint);
        m_sink.Barrier();
        m_error = failure;
    }
    return m_error;
}

}  // namespace ronvix::media
