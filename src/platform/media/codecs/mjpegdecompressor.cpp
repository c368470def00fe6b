// MJPEG Decompressor: MJPG frames to RGB32 (preferred) or YUY2 of the same
// size.

#include <cstring>
#include <vector>

#include "platform/com/object.h"
#include "platform/media/codecs/codecs.h"
#include "platform/media/codecs/colourspace.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/codecs/videotransform.h"
#include "platform/media/core/filterentry.h"

namespace ronvix::media {

using namespace com;

namespace {

class MjpegDecompressor final : public VideoTransformFilter {
public:
    MjpegDecompressor() : VideoTransformFilter(CLSID_MjpegDecompressor) { CreatePins(); }

    HRESULT CheckInputType(const AM_MEDIA_TYPE& in) override {
        VideoGeometry g;
        if (in.subtype != MEDIASUBTYPE_MJPG || !ReadGeometry(in, &g) ||
            !PictureSizeAllowed(g.width, g.height))
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    std::vector<MediaType> OutputTypes(const AM_MEDIA_TYPE& in) override {
        VideoGeometry g;
        if (!ReadGeometry(in, &g))
            return {};
        return {MediaType::Video(MEDIASUBTYPE_RGB32, g.width, g.height, 32, g.time_per_frame),
                MediaType::Video(MEDIASUBTYPE_YUY2, g.width & ~1, g.height, 16, g.time_per_frame)};
    }

    HRESULT CheckTransform(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out) override {
        VideoGeometry gi, go;
        if (!ReadGeometry(in, &gi) || !ReadGeometry(out, &go) || go.height != gi.height)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (out.subtype == MEDIASUBTYPE_RGB32 && go.width == gi.width)
            return S_OK;
        if (out.subtype == MEDIASUBTYPE_YUY2 && go.width == (gi.width & ~1) && go.width > 0)
            return S_OK;
        return VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT Transform(IMediaSample* in, const MediaType& in_type, IMediaSample* out,
                      const MediaType& out_type) override {
        VideoGeometry gi, go;
        ReadGeometry(in_type.Get(), &gi);
        ReadGeometry(out_type.Get(), &go);
        BYTE* src = nullptr;
        BYTE* dst = nullptr;
        in->GetPointer(&src);
        out->GetPointer(&dst);
        const LONG length = in->GetActualDataLength();
        if (!src || !dst || length <= 0)
            return S_FALSE;
        const std::span<const uint8_t> jpeg(src, static_cast<size_t>(length));
        if (out_type->subtype == MEDIASUBTYPE_RGB32) {
            const size_t size = Rgb32ImageSize(go.width, go.height);
            if (size > static_cast<size_t>(out->GetSize()))
                return E_UNEXPECTED;
            // A renderer that shows the picture smaller gets it decoded at
            // the smallest DCT scale that still covers what it draws, and
            // resampled here to exactly that size when that takes at most
            // halving it: the picture is made once, on this thread, and the
            // renderer only copies it.
            int draw_width = 0, draw_height = 0;
            const bool drawn_smaller = DownstreamDrawSize(Output(), &draw_width, &draw_height) &&
                                       draw_width > 0 && draw_height > 0 &&
                                       draw_width <= gi.width && draw_height <= gi.height;
            const int eighths = drawn_smaller ? JpegDecoder::ScaleEighthsCovering(
                                                    gi.width, gi.height, draw_width, draw_height)
                                              : 8;
            const int sw = JpegDecoder::ScaledSide(gi.width, eighths);
            const int sh = JpegDecoder::ScaledSide(gi.height, eighths);
            if (drawn_smaller && (sw != draw_width || sh != draw_height) &&
                Rgb32Scaler::Suits(sw, sh, draw_width, draw_height)) {
                m_rgb.resize(Rgb32ImageSize(sw, sh));
                if (!m_decoder.DecodeRgb32Scaled(jpeg, gi.width, gi.height, eighths, false,
                                                 m_rgb.data()))
                    return S_FALSE;
                m_scaler.Scale(m_rgb.data(), sw, sh, dst, draw_width, draw_height, go.bottom_up);
                SetSampleRgb32Size(out, out_type, draw_width, draw_height);
                out->SetActualDataLength(
                    static_cast<LONG>(Rgb32ImageSize(draw_width, draw_height)));
                return S_OK;
            }
            if (eighths == 8) {
                if (!m_decoder.DecodeRgb32(jpeg, gi.width, gi.height, go.bottom_up, dst))
                    return S_FALSE;
                out->SetActualDataLength(static_cast<LONG>(size));
                return S_OK;
            }
            if (!m_decoder.DecodeRgb32Scaled(jpeg, gi.width, gi.height, eighths, go.bottom_up, dst))
                return S_FALSE;
            SetSampleRgb32Size(out, out_type, sw, sh);
            out->SetActualDataLength(static_cast<LONG>(Rgb32ImageSize(sw, sh)));
            return S_OK;
        }
        const size_t size = Yuy2ImageSize(go.width, go.height);
        if (size > static_cast<size_t>(out->GetSize()))
            return E_UNEXPECTED;
        if (!m_decoder.DecodeYuy2(jpeg, gi.width, gi.height, dst))
            return S_FALSE;
        out->SetActualDataLength(static_cast<LONG>(size));
        return S_OK;
    }

private:
    // Used on the streaming thread only.
    JpegDecoder m_decoder;
    std::vector<uint8_t> m_rgb;
    Rgb32Scaler m_scaler;
};

}  // namespace

ClassEntry MjpegDecompressorClassEntry() {
    return FilterClassEntry<MjpegDecompressor>(CLSID_MjpegDecompressor, "MJPEG Decompressor",
                                               MERIT_NORMAL);
}

}  // namespace ronvix::media
