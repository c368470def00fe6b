// MJPEG Compressor: studio-range YUV (YUY2, UYVY, NV12, I420), RGB24 or
// RGB32 frames to MJPG of the same size, at the quality set through
// IAMVideoCompression (on the filter and on its output pin).
//
// YUV goes to the JPEG coder as planes, with its own chroma sampling and
// its range expanded to the JPEG range (colourspace.h), never through RGB:
// the picture loses nothing to a colour round trip and the coder does no
// colour conversion.

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/com/object.h"
#include "platform/media/codecs/codecs.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/codecs/videotransform.h"
#include "platform/media/core/filterentry.h"

namespace ronvix::media {

using namespace com;

namespace {

// Quality control shared by the filter and its output pin. Thread-safe.
class CompressionControl final : public IAMVideoCompression {
public:
    explicit CompressionControl(IUnknown& owner) : m_owner(owner) {}

    HRESULT QueryInterface(REFIID riid, void** out) override {
        return m_owner.QueryInterface(riid, out);
    }
    ULONG AddRef() override { return m_owner.AddRef(); }
    ULONG Release() override { return m_owner.Release(); }

    HRESULT put_KeyFrameRate(LONG) override { return E_NOTIMPL; }
    HRESULT get_KeyFrameRate(LONG* rate) override {
        if (!rate)
            return E_POINTER;
        *rate = 1;  // Every frame is a key frame.
        return S_OK;
    }
    HRESULT put_PFramesPerKeyFrame(LONG) override { return E_NOTIMPL; }
    HRESULT get_PFramesPerKeyFrame(LONG* frames) override {
        if (!frames)
            return E_POINTER;
        *frames = 0;
        return S_OK;
    }
    HRESULT put_Quality(double quality) override {
        if (quality < 0.0 || quality > 1.0 || quality != quality)
            return E_INVALIDARG;
        m_quality.store(quality);
        return S_OK;
    }
    HRESULT get_Quality(double* quality) override {
        if (!quality)
            return E_POINTER;
        *quality = m_quality.load();
        return S_OK;
    }
    HRESULT put_WindowSize(uint64_t) override { return E_NOTIMPL; }
    HRESULT get_WindowSize(uint64_t* size) override {
        if (!size)
            return E_POINTER;
        *size = 1;
        return S_OK;
    }
    HRESULT GetInfo(LPWSTR version, int* version_len, LPWSTR description, int* description_len,
                    LONG* def_key_frame_rate, LONG* def_p_frames_per_key, double* def_quality,
                    LONG* capabilities) override {
        return JpegCompressionInfo(u"MJPEG Compressor", kDefaultJpegQuality, version, version_len,
                                   description, description_len, def_key_frame_rate,
                                   def_p_frames_per_key, def_quality, capabilities);
    }
    HRESULT OverrideKeyFrame(LONG) override { return E_NOTIMPL; }
    HRESULT OverrideFrameSize(LONG, LONG) override { return E_NOTIMPL; }

    int JpegQuality() const { return JpegQualityFromFraction(m_quality.load()); }

private:
    IUnknown& m_owner;
    std::atomic<double> m_quality{kDefaultJpegQuality};
};

class CompressorOutputPin final : public TransformOutputPin {
public:
    CompressorOutputPin(VideoTransformFilter& filter, CompressionControl& control)
        : TransformOutputPin(filter, u"XForm Out"), m_control(control) {}

protected:
    HRESULT QueryPinInterface(REFIID riid, void** out) override {
        if (riid == IAMVideoCompression::iid)
            return ReturnInterface<IAMVideoCompression>(&m_control, out);
        return TransformOutputPin::QueryPinInterface(riid, out);
    }

private:
    CompressionControl& m_control;
};

class MjpegCompressor final : public VideoTransformFilter {
public:
    MjpegCompressor()
        : VideoTransformFilter(CLSID_MjpegCompressor), m_control(*static_cast<IBaseFilter*>(this)) {
        CreatePins(std::make_unique<CompressorOutputPin>(*this, m_control));
    }

    HRESULT CheckInputType(const AM_MEDIA_TYPE& in) override {
        VideoGeometry g;
        if (!ReadGeometry(in, &g))
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (const std::optional<YuvLayout> layout = YuvLayoutOf(in.subtype))
            return YuvSizeUsable(*layout, g.width, g.height) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        if (in.subtype == MEDIASUBTYPE_RGB24 || in.subtype == MEDIASUBTYPE_RGB32)
            return S_OK;
        return VFW_E_TYPE_NOT_ACCEPTED;
    }

    std::vector<MediaType> OutputTypes(const AM_MEDIA_TYPE& in) override {
        VideoGeometry g;
        if (!ReadGeometry(in, &g))
            return {};
        MediaType t = MediaType::Video(MEDIASUBTYPE_MJPG, g.width, g.height, 24, g.time_per_frame);
        VIDEOINFOHEADER vih = *t.VideoInfo();
        vih.bmiHeader.biSizeImage = static_cast<DWORD>(JpegEncoder::MaxSize(g.width, g.height));
        t.SetFormat(&vih, sizeof vih);
        return {t};
    }

    HRESULT CheckTransform(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out) override {
        return SameSizeAs(in, out, MEDIASUBTYPE_MJPG) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
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
        const std::span<uint8_t> target(dst, static_cast<size_t>(out->GetSize()));
        const int quality = m_control.JpegQuality();
        const size_t have = static_cast<size_t>(std::max<LONG>(0, in->GetActualDataLength()));
        size_t written = 0;
        if (const std::optional<YuvLayout> layout = YuvLayoutOf(in_type->subtype)) {
            // A short frame is skipped: coding it would show what the
            // buffer held before.
            if (have < YuvImageSize(*layout, g.width, g.height))
                return S_FALSE;
            written = m_encoder.EncodeStudioYuv(src, *layout, g.width, g.height, quality, target);
        } else if (in_type->subtype == MEDIASUBTYPE_RGB24) {
            if (have < Rgb24ImageSize(g.width, g.height))
                return S_FALSE;
            written = m_encoder.EncodeRgb24(src, g.width, g.height, g.bottom_up, quality, target);
        } else {
            if (have < Rgb32ImageSize(g.width, g.height))
                return S_FALSE;
            written = m_encoder.EncodeRgb32(src, g.width, g.height, g.bottom_up, quality, target);
        }
        if (!written)
            return E_FAIL;
        out->SetActualDataLength(static_cast<LONG>(written));
        return S_OK;
    }

    // The same description for the coded frames: a VideoInfo or VideoInfo2
    // block (rate, interlacing, aspect) with the MJPG bitmap header.
    std::optional<MediaType> OutputTypeFor(const AM_MEDIA_TYPE& in) override {
        if (in.majortype != MEDIATYPE_Video || !in.pbFormat)
            return std::nullopt;
        MediaType t = MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_MJPG, in.formattype);
        if (in.formattype == FORMAT_VideoInfo && in.cbFormat >= sizeof(VIDEOINFOHEADER)) {
            VIDEOINFOHEADER vih;
            std::memcpy(&vih, in.pbFormat, sizeof vih);
            Recode(vih.bmiHeader);
            t.SetFormat(&vih, sizeof vih);
        } else if (in.formattype == FORMAT_VideoInfo2 && in.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
            VIDEOINFOHEADER2 vih;
            std::memcpy(&vih, in.pbFormat, sizeof vih);
            Recode(vih.bmiHeader);
            t.SetFormat(&vih, sizeof vih);
        } else {
            return std::nullopt;
        }
        t->lSampleSize = 1;
        return t;
    }

protected:
    HRESULT QueryInterfaceExtra(REFIID riid, void** out) override {
        if (riid == IAMVideoCompression::iid)
            return ReturnInterface<IAMVideoCompression>(&m_control, out);
        return VideoTransformFilter::QueryInterfaceExtra(riid, out);
    }

private:
    static void Recode(BITMAPINFOHEADER& header) {
        header.biCompression = MEDIASUBTYPE_MJPG.Data1;
        header.biBitCount = 24;
        header.biSizeImage =
            static_cast<DWORD>(JpegEncoder::MaxSize(header.biWidth, std::abs(header.biHeight)));
    }

    CompressionControl m_control;
    // Used on the streaming thread only.
    JpegEncoder m_encoder;
};

}  // namespace

ClassEntry MjpegCompressorClassEntry() {
    return FilterClassEntry<MjpegCompressor>(CLSID_MjpegCompressor, "MJPEG Compressor",
                                             MERIT_UNLIKELY);
}

}  // namespace ronvix::media
