// FFV1 Compressor: YUY2, UYVY, NV12 or I420 frames to lossless FFV1 of the
// same size and chroma sampling (ffv1codec.h). The output type carries the
// codec's configuration record after its bitmap header, so a file's stream
// format holds what a reader needs to decode it.
//
// Its merit is below the MJPEG Compressor's and it makes FFV1 only, so a
// connection that wants MJPG never goes through it: it is picked only
// where FFV1 is asked for.
//
// The codec (with its threads) is opened when the filter leaves Stopped and
// closed, its threads joined, when it stops or is destroyed. A lock keeps
// the streaming thread's frame and the stop from using the codec at once.
// Memory that runs out refuses the type or fails the frame
// (E_OUTOFMEMORY); no exception leaves the filter.

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/com/object.h"
#include "platform/media/codecs/codecs.h"
#include "platform/media/codecs/ffv1codec.h"
#include "platform/media/codecs/videotransform.h"
#include "platform/media/core/filterentry.h"

namespace ronvix::media {

using namespace com;

namespace {

// The configuration record a stream of `layout` at this size gets: made by
// a codec opened once without threads (the record does not depend on them,
// only on the slices).
std::vector<uint8_t> RecordFor(YuvLayout layout, int width, int height, int slices) {
    Ffv1Encoder probe;
    if (!probe.Open(layout, width, height, 1, slices))
        return {};
    const std::span<const uint8_t> record = probe.Extradata();
    return {record.begin(), record.end()};
}

class Ffv1Compressor final : public VideoTransformFilter {
public:
    Ffv1Compressor() : VideoTransformFilter(CLSID_Ffv1Compressor) { CreatePins(); }

    HRESULT CheckInputType(const AM_MEDIA_TYPE& in) override {
        VideoGeometry g;
        if (!ReadGeometry(in, &g))
            return VFW_E_TYPE_NOT_ACCEPTED;
        const std::optional<YuvLayout> layout = YuvLayoutOf(in.subtype);
        return layout && YuvSizeUsable(*layout, g.width, g.height) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    std::vector<MediaType> OutputTypes(const AM_MEDIA_TYPE& in) override {
        const std::vector<uint8_t>* record = Record(in);
        if (!record)
            return {};
        VIDEOINFOHEADER vih;
        std::memcpy(&vih, in.pbFormat, sizeof vih);
        try {
            return {Coded(vih, *record)};
        } catch (const std::bad_alloc&) {
            return {};
        }
    }

    HRESULT CheckTransform(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out) override {
        if (!SameSizeAs(in, out, MEDIASUBTYPE_FFV1))
            return VFW_E_TYPE_NOT_ACCEPTED;
        // The record the type carries must be the one the codec writes.
        const std::vector<uint8_t>* record = Record(in);
        if (!record || out.cbFormat != sizeof(VIDEOINFOHEADER) + record->size() ||
            std::memcmp(out.pbFormat + sizeof(VIDEOINFOHEADER), record->data(), record->size()))
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT Transform(IMediaSample* in, const MediaType& in_type, IMediaSample* out,
                      const MediaType&) override {
        VideoGeometry g;
        ReadGeometry(in_type.Get(), &g);
        BYTE* src = nullptr;
        BYTE* dst = nullptr;
        in->GetPointer(&src);
        out->GetPointer(&dst);
        if (!src || !dst)
            return E_POINTER;
        const std::optional<YuvLayout> layout = YuvLayoutOf(in_type->subtype);
        const size_t have = static_cast<size_t>(std::max<LONG>(0, in->GetActualDataLength()));
        // A short frame is skipped: coding it would show what the buffer
        // held before.
        if (!layout || have < YuvImageSize(*layout, g.width, g.height))
            return S_FALSE;
        std::lock_guard guard(m_codec_lock);
        if (!m_encoder.IsOpen())
            return S_FALSE;  // stopping
        const size_t written =
            m_encoder.Encode(src, std::span<uint8_t>(dst, static_cast<size_t>(out->GetSize())));
        if (!written)
            return E_FAIL;
        out->SetActualDataLength(static_cast<LONG>(written));
        return S_OK;
    }

    // The same description for the coded frames: a VideoInfo or VideoInfo2
    // block (rate, interlacing, aspect) with the FFV1 bitmap header and the
    // stream's record after it.
    std::optional<MediaType> OutputTypeFor(const AM_MEDIA_TYPE& in) override {
        try {
            return DescribeFor(in);
        } catch (const std::bad_alloc&) {
            return std::nullopt;  // the frame goes on without the description
        }
    }

protected:
    std::optional<MediaType> DescribeFor(const AM_MEDIA_TYPE& in) {
        if (in.majortype != MEDIATYPE_Video || !in.pbFormat)
            return std::nullopt;
        const std::vector<uint8_t> record = StreamRecord();
        MediaType t = MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_FFV1, in.formattype);
        std::vector<uint8_t> block;
        auto build = [&](auto header) {
            std::memcpy(&header, in.pbFormat, sizeof header);
            Recode(header.bmiHeader, record.size());
            block.resize(sizeof header + record.size());
            std::memcpy(block.data(), &header, sizeof header);
            if (!record.empty())
                std::memcpy(block.data() + sizeof header, record.data(), record.size());
        };
        if (in.formattype == FORMAT_VideoInfo && in.cbFormat >= sizeof(VIDEOINFOHEADER))
            build(VIDEOINFOHEADER{});
        else if (in.formattype == FORMAT_VideoInfo2 && in.cbFormat >= sizeof(VIDEOINFOHEADER2))
            build(VIDEOINFOHEADER2{});
        else
            return std::nullopt;
        t.SetFormat(block.data(), block.size());
        t->lSampleSize = 1;
        return t;
    }

    HRESULT OnActivate() override {
        const HRESULT hr = VideoTransformFilter::OnActivate();
        if (FAILED(hr) || !Input().IsConnected() || !Output().IsConnected())
            return hr;
        const MediaType in = Input().ConnectionType();
        const MediaType out = Output().ConnectionType();
        VideoGeometry g;
        const std::optional<YuvLayout> layout = YuvLayoutOf(in->subtype);
        if (!ReadGeometry(in.Get(), &g) || !layout)
            return VFW_E_TYPE_NOT_ACCEPTED;
        std::lock_guard guard(m_codec_lock);
        const int threads = OnlineCores();
        if (!m_encoder.Open(*layout, g.width, g.height, threads, Ffv1SliceCount(threads)))
            return E_OUTOFMEMORY;
        // The frames must match the record the file's header got.
        const std::span<const uint8_t> record = m_encoder.Extradata();
        if (out->cbFormat != sizeof(VIDEOINFOHEADER) + record.size() ||
            std::memcmp(out->pbFormat + sizeof(VIDEOINFOHEADER), record.data(), record.size())) {
            m_encoder.Close();
            return E_UNEXPECTED;
        }
        return S_OK;
    }

    void OnStopJoin() override {
        std::lock_guard guard(m_codec_lock);
        m_encoder.Close();
    }

private:
    static void Recode(BITMAPINFOHEADER& header, size_t record) {
        header.biSize = static_cast<DWORD>(sizeof(BITMAPINFOHEADER) + record);
        header.biCompression = MEDIASUBTYPE_FFV1.Data1;
        header.biBitCount = 24;
        // The bound for 4:2:2, the larger of the two samplings.
        header.biSizeImage = static_cast<DWORD>(
            Ffv1Encoder::MaxSize(YuvLayout::Yuy2, header.biWidth, std::abs(header.biHeight)));
    }

    static MediaType Coded(VIDEOINFOHEADER vih, const std::vector<uint8_t>& record) {
        Recode(vih.bmiHeader, record.size());
        MediaType t;
        t->majortype = MEDIATYPE_Video;
        t->subtype = MEDIASUBTYPE_FFV1;
        t->formattype = FORMAT_VideoInfo;
        t->bFixedSizeSamples = 0;
        t->bTemporalCompression = 0;
        t->lSampleSize = 1;
        std::vector<uint8_t> block(sizeof vih + record.size());
        std::memcpy(block.data(), &vih, sizeof vih);
        if (!record.empty())
            std::memcpy(block.data() + sizeof vih, record.data(), record.size());
        t.SetFormat(block.data(), block.size());
        return t;
    }

    // The record for input `in`, made once per layout and size; null when
    // the input is not one the codec takes (or memory ran out). Control
    // thread.
    const std::vector<uint8_t>* Record(const AM_MEDIA_TYPE& in) {
        try {
            return MakeRecord(in);
        } catch (const std::bad_alloc&) {
            std::lock_guard guard(m_record_lock);
            m_record_valid = false;
            return nullptr;
        }
    }

    const std::vector<uint8_t>* MakeRecord(const AM_MEDIA_TYPE& in) {
        VideoGeometry g;
        const std::optional<YuvLayout> layout = YuvLayoutOf(in.subtype);
        if (!ReadGeometry(in, &g) || !layout || !YuvSizeUsable(*layout, g.width, g.height))
            return nullptr;
        std::lock_guard guard(m_record_lock);
        if (!m_record_valid || m_record_layout != *layout || m_record_width != g.width ||
            m_record_height != g.height) {
            m_record = RecordFor(*layout, g.width, g.height, Ffv1SliceCount(OnlineCores()));
            m_record_layout = *layout;
            m_record_width = g.width;
            m_record_height = g.height;
            m_record_valid = !m_record.empty();
        }
        return m_record_valid ? &m_record : nullptr;
    }

    // The record of the connected stream (streaming thread).
    std::vector<uint8_t> StreamRecord() {
        std::lock_guard guard(m_codec_lock);
        const std::span<const uint8_t> record = m_encoder.Extradata();
        return {record.begin(), record.end()};
    }

    std::mutex m_record_lock;
    std::vector<uint8_t> m_record;
    bool m_record_valid = false;
    YuvLayout m_record_layout = YuvLayout::Yuy2;
    int m_record_width = 0;
    int m_record_height = 0;

    std::mutex m_codec_lock;
    Ffv1Encoder m_encoder;
};

}  // namespace

ClassEntry Ffv1CompressorClassEntry() {
    // Below the MJPEG Compressor: tried after it, and taken only
    // where FFV1 is wanted.
    return FilterClassEntry<Ffv1Compressor>(CLSID_Ffv1Compressor, "FFV1 Compressor",
                                            MERIT_UNLIKELY - 1);
}

}  // namespace ronvix::media
