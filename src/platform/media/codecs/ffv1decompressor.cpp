// FFV1 Decompressor: FFV1 frames (the stream's configuration record after
// the bitmap header of its format) to YUY2 of the same size, for the paths
// that play a file out (the MJPEG Compressor then takes the YUY2 where MJPG
// is wanted). 4:2:0 pictures come out with each chroma row used for both
// rows it covers.
//
// The codec (with its threads) is opened when the filter leaves Stopped and
// closed, its threads joined, when it stops or is destroyed. A frame that
// does not decode is skipped; a stream of samples it cannot give as YUY2
// (more than 8 bits, RGB) stops with VFW_E_UNSUPPORTED_VIDEO, one that
// finds no memory with E_OUTOFMEMORY; no exception leaves the filter.

#include <cstring>
#include <mutex>
#include <new>

#include "platform/com/object.h"
#include "platform/media/codecs/codecs.h"
#include "platform/media/codecs/ffv1codec.h"
#include "platform/media/codecs/videotransform.h"
#include "platform/media/core/filterentry.h"

namespace ronvix::media {

using namespace com;

namespace {

bool IsFfv1(const AM_MEDIA_TYPE& mt) {
    if (mt.subtype == MEDIASUBTYPE_FFV1)
        return true;
    const VIDEOINFOHEADER* vih =
        mt.formattype == FORMAT_VideoInfo && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER)
            ? reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)
            : nullptr;
    return vih && vih->bmiHeader.biCompression == MEDIASUBTYPE_FFV1.Data1;
}

class Ffv1Decompressor final : public VideoTransformFilter {
public:
    Ffv1Decompressor() : VideoTransformFilter(CLSID_Ffv1Decompressor) { CreatePins(); }

    HRESULT CheckInputType(const AM_MEDIA_TYPE& in) override {
        VideoGeometry g;
        if (!IsFfv1(in) || !ReadGeometry(in, &g) || g.width % 2 != 0)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    std::vector<MediaType> OutputTypes(const AM_MEDIA_TYPE& in) override {
        VideoGeometry g;
        if (!ReadGeometry(in, &g))
            return {};
        return {MediaType::Video(MEDIASUBTYPE_YUY2, g.width, g.height, 16, g.time_per_frame)};
    }

    HRESULT CheckTransform(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out) override {
        return SameSizeAs(in, out, MEDIASUBTYPE_YUY2) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
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
        const size_t picture = Yuy2ImageSize(g.width, g.height);
        if (static_cast<size_t>(std::max<LONG>(0, out->GetSize())) < picture)
            return E_UNEXPECTED;
        const size_t have = static_cast<size_t>(std::max<LONG>(0, in->GetActualDataLength()));
        std::lock_guard guard(m_codec_lock);
        if (!m_decoder.IsOpen())
            return S_FALSE;  // stopping
        Ffv1Decoder::Result result = Ffv1Decoder::Result::Corrupt;
        try {
            result = m_decoder.DecodeToYuy2({src, have}, dst);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        switch (result) {
            case Ffv1Decoder::Result::Ok:
                out->SetActualDataLength(static_cast<LONG>(picture));
                return S_OK;
            case Ffv1Decoder::Result::Corrupt:
                return S_FALSE;
            case Ffv1Decoder::Result::Unsupported:
                break;
        }
        return VFW_E_UNSUPPORTED_VIDEO;
    }

protected:
    HRESULT OnActivate() override {
        const HRESULT hr = VideoTransformFilter::OnActivate();
        if (FAILED(hr) || !Input().IsConnected())
            return hr;
        const MediaType in = Input().ConnectionType();
        VideoGeometry g;
        if (!ReadGeometry(in.Get(), &g))
            return VFW_E_TYPE_NOT_ACCEPTED;
        std::span<const uint8_t> record;
        if (in->cbFormat > sizeof(VIDEOINFOHEADER))
            record = {in->pbFormat + sizeof(VIDEOINFOHEADER),
                      in->cbFormat - sizeof(VIDEOINFOHEADER)};
        std::lock_guard guard(m_codec_lock);
        if (!m_decoder.Open(record, g.width, g.height, OnlineCores()))
            return VFW_E_UNSUPPORTED_VIDEO;
        return S_OK;
    }

    void OnStopJoin() override {
        std::lock_guard guard(m_codec_lock);
        m_decoder.Close();
    }

private:
    std::mutex m_codec_lock;
    Ffv1Decoder m_decoder;
};

}  // namespace

ClassEntry Ffv1DecompressorClassEntry() {
    return FilterClassEntry<Ffv1Decompressor>(CLSID_Ffv1Decompressor, "FFV1 Decompressor",
                                              MERIT_NORMAL);
}

}  // namespace ronvix::media
