// Colour Space Converter: studio-range YUV (YUY2, UYVY, NV12, I420) or RGB24
// frames to RGB32 of the same size (RGB32 passes straight to the renderer
// and needs no converter).

#include "platform/com/object.h"
#include "platform/media/codecs/codecs.h"
#include "platform/media/codecs/colourspace.h"
#include "platform/media/codecs/videotransform.h"
#include "platform/media/core/filterentry.h"

namespace ronvix::media {

using namespace com;

namespace {

class ColourConverter final : public VideoTransformFilter {
public:
    ColourConverter() : VideoTransformFilter(CLSID_Colour) { CreatePins(); }

    HRESULT CheckInputType(const AM_MEDIA_TYPE& in) override {
        VideoGeometry g;
        if (!ReadGeometry(in, &g))
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (const std::optional<YuvLayout> layout = YuvLayoutOf(in.subtype))
            return YuvSizeUsable(*layout, g.width, g.height) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        if (in.subtype == MEDIASUBTYPE_RGB24)
            return S_OK;
        return VFW_E_TYPE_NOT_ACCEPTED;
    }

    std::vector<MediaType> OutputTypes(const AM_MEDIA_TYPE& in) override {
        VideoGeometry g;
        if (!ReadGeometry(in, &g))
            return {};
        return {MediaType::Video(MEDIASUBTYPE_RGB32, g.width, g.height, 32, g.time_per_frame)};
    }

    HRESULT CheckTransform(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out) override {
        return SameSizeAs(in, out, MEDIASUBTYPE_RGB32) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
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
        if (!src || !dst)
            return E_POINTER;
        const size_t size = Rgb32ImageSize(go.width, go.height);
        if (size > static_cast<size_t>(out->GetSize()))
            return E_UNEXPECTED;
        const size_t have = static_cast<size_t>(std::max<LONG>(0, in->GetActualDataLength()));
        if (const std::optional<YuvLayout> layout = YuvLayoutOf(in_type->subtype)) {
            if (have < YuvImageSize(*layout, gi.width, gi.height))
                return S_FALSE;
            // A renderer that shows the picture smaller gets only the
            // pixels it needs: every n-th of each way, the largest n (up to
            // 8) that still covers the drawn size, so a picture that is a
            // whole multiple of it (1920x1080 in 384x216) comes at exactly
            // that size and is not scaled again.
            int draw_width = 0, draw_height = 0;
            int step = 1;
            if (DownstreamDrawSize(Output(), &draw_width, &draw_height))
                while (step < 8 && gi.width / (step + 1) >= draw_width &&
                       gi.height / (step + 1) >= draw_height)
                    ++step;
            if (step > 1) {
                StudioYuvToRgb32Every(src, *layout, gi.width, gi.height, step, dst, go.bottom_up);
                SetSampleRgb32Size(out, out_type, gi.width / step, gi.height / step);
                out->SetActualDataLength(
                    static_cast<LONG>(Rgb32ImageSize(gi.width / step, gi.height / step)));
                return S_OK;
            }
            StudioYuvToRgb32(src, *layout, gi.width, gi.height, dst, go.bottom_up);
        } else {
            if (have < Rgb24ImageSize(gi.width, gi.height))
                return S_FALSE;
            Rgb24ToRgb32(src, gi.bottom_up, gi.width, gi.height, dst, go.bottom_up);
        }
        out->SetActualDataLength(static_cast<LONG>(size));
        return S_OK;
    }
};

}  // namespace

ClassEntry ColourConverterClassEntry() {
    return FilterClassEntry<ColourConverter>(CLSID_Colour, "Colour Space Converter", MERIT_NORMAL);
}

void RegisterCodecClasses() {
    // Registering again replaces each entry with an equal one.
    ClassRegistry& registry = ClassRegistry::Instance();
    registry.Register(MjpegDecompressorClassEntry());
    registry.Register(ColourConverterClassEntry());
    registry.Register(MjpegCompressorClassEntry());
    registry.Register(Ffv1CompressorClassEntry());
    registry.Register(Ffv1DecompressorClassEntry());
}

}  // namespace ronvix::media
