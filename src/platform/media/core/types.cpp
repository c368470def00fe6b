#include "platform/media/core/types.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace ronvix::media {

void FreeMediaType(AM_MEDIA_TYPE& mt) {
    com::CoTaskMemFree(mt.pbFormat);
    mt.pbFormat = nullptr;
    mt.cbFormat = 0;
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src) {
    if (!dst || !src)
        return com::E_POINTER;
    *dst = *src;
    if (src->cbFormat && src->pbFormat) {
        dst->pbFormat = static_cast<BYTE*>(com::CoTaskMemAlloc(src->cbFormat));
        if (!dst->pbFormat) {
            dst->cbFormat = 0;
            dst->pUnk = nullptr;
            return com::E_OUTOFMEMORY;
        }
        std::memcpy(dst->pbFormat, src->pbFormat, src->cbFormat);
    } else {
        dst->pbFormat = nullptr;
        dst->cbFormat = 0;
    }
    if (dst->pUnk)
        dst->pUnk->AddRef();
    return com::S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* src) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(com::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!mt)
        return nullptr;
    new (mt) AM_MEDIA_TYPE{};
    if (src && com::FAILED(CopyMediaType(mt, src))) {
        com::CoTaskMemFree(mt);
        return nullptr;
    }
    return mt;
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt)
        return;
    FreeMediaType(*mt);
    com::CoTaskMemFree(mt);
}

bool MatchesPartial(const AM_MEDIA_TYPE& mt, const AM_MEDIA_TYPE* partial) {
    if (!partial)
        return true;
    if (partial->majortype != com::GUID_NULL && partial->majortype != mt.majortype)
        return false;
    if (partial->subtype != com::GUID_NULL && partial->subtype != mt.subtype)
        return false;
    if (partial->formattype != com::GUID_NULL && partial->formattype != mt.formattype)
        return false;
    return true;
}

bool IsComplete(const AM_MEDIA_TYPE& mt) {
    return mt.majortype != com::GUID_NULL && mt.subtype != com::GUID_NULL &&
           mt.formattype != com::GUID_NULL;
}

bool SameType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
    if (a.majortype != b.majortype || a.subtype != b.subtype || a.formattype != b.formattype ||
        a.cbFormat != b.cbFormat)
        return false;
    return a.cbFormat == 0 ||
           (a.pbFormat && b.pbFormat && std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0);
}

GUID SubtypeFromFourcc(uint32_t fourcc) {
    GUID g = RONVIX_GUID("{00000000-0000-0010-8000-00AA00389B71}");
    g.Data1 = fourcc;
    return g;
}

namespace {
std::string GuidName(const GUID& g) {
    struct Name {
        GUID guid;
        const char* name;
    };
    static const Name names[] = {
        {MEDIATYPE_Video, "Video"},      {MEDIATYPE_Audio, "Audio"},
        {MEDIATYPE_Stream, "Stream"},    {MEDIATYPE_Interleaved, "Interleaved"},
        {MEDIASUBTYPE_MJPG, "MJPG"},     {MEDIASUBTYPE_YUY2, "YUY2"},
        {MEDIASUBTYPE_RGB24, "RGB24"},   {MEDIASUBTYPE_RGB32, "RGB32"},
        {MEDIASUBTYPE_PCM, "PCM"},       {MEDIASUBTYPE_Avi, "Avi"},
        {FORMAT_VideoInfo, "VideoInfo"}, {FORMAT_WaveFormatEx, "WaveFormatEx"},
        {FORMAT_None, "None"},           {com::GUID_NULL, "*"},
    };
    for (const Name& n : names)
        if (n.guid == g)
            return n.name;
    // A four-character-code subtype reads as its code.
    if (SubtypeFromFourcc(g.Data1) == g) {
        std::string code;
        for (int i = 0; i < 4; ++i) {
            const char c = static_cast<char>((g.Data1 >> (8 * i)) & 0xFF);
            if (c < 0x20 || c > 0x7E)
                return g.ToString();
            code += c;
        }
        return code;
    }
    return g.ToString();
}
}  // namespace

std::string DescribeMediaType(const AM_MEDIA_TYPE& mt) {
    std::string text = GuidName(mt.majortype) + "/" + GuidName(mt.subtype);
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        VIDEOINFOHEADER vih;
        std::memcpy(&vih, mt.pbFormat, sizeof vih);
        text += " " + std::to_string(vih.bmiHeader.biWidth) + "x" +
                std::to_string(vih.bmiHeader.biHeight);
        if (vih.AvgTimePerFrame > 0)
            text += " " + std::to_string(10000000.0 / double(vih.AvgTimePerFrame)).substr(0, 5) +
                    " fps";
    } else if (mt.formattype == FORMAT_WaveFormatEx && mt.cbFormat >= sizeof(WAVEFORMATEX)) {
        WAVEFORMATEX wfx;
        std::memcpy(&wfx, mt.pbFormat, sizeof wfx);
        text += " " + std::to_string(wfx.nSamplesPerSec) + " Hz " +
                std::to_string(wfx.wBitsPerSample) + " bit " + std::to_string(wfx.nChannels) +
                " ch";
    } else if (mt.formattype != com::GUID_NULL) {
        text += " " + GuidName(mt.formattype);
    }
    return text;
}

MediaType& MediaType::operator=(const MediaType& other) {
    if (this != &other) {
        MediaType copy(other);
        *this = std::move(copy);
    }
    return *this;
}

MediaType& MediaType::operator=(MediaType&& other) noexcept {
    if (this != &other) {
        FreeMediaType(m_mt);
        m_mt = other.m_mt;
        other.m_mt = AM_MEDIA_TYPE{};
    }
    return *this;
}

void MediaType::SetFormat(const void* data, size_t size) {
    com::CoTaskMemFree(m_mt.pbFormat);
    m_mt.pbFormat = nullptr;
    m_mt.cbFormat = 0;
    if (!size)
        return;
    m_mt.pbFormat = static_cast<BYTE*>(com::CoTaskMemAlloc(size));
    if (!m_mt.pbFormat)
        return;
    std::memcpy(m_mt.pbFormat, data, size);
    m_mt.cbFormat = static_cast<ULONG>(size);
}

MediaType MediaType::Video(const GUID& subtype, int width, int height, int bits,
                           REFERENCE_TIME time_per_frame_100ns) {
    MediaType t;
    t.m_mt.majortype = MEDIATYPE_Video;
    t.m_mt.subtype = subtype;
    t.m_mt.formattype = FORMAT_VideoInfo;
    VIDEOINFOHEADER vih;
    vih.AvgTimePerFrame = time_per_frame_100ns;
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biBitCount = static_cast<WORD>(bits);
    const bool rgb = subtype == MEDIASUBTYPE_RGB32 || subtype == MEDIASUBTYPE_RGB24;
    vih.bmiHeader.biCompression = rgb ? 0 : subtype.Data1;
    // In 64 bits: a device or a file may name any size, and the product of
    // two such values overflows an int long before it means anything.
    const int64_t image = int64_t(width) * std::abs(int64_t(height)) * (bits ? bits : 24) / 8;
    vih.bmiHeader.biSizeImage =
        width > 0 && image > 0 && image <= int64_t(UINT32_MAX) ? static_cast<DWORD>(image) : 0;
    t.m_mt.bFixedSizeSamples = subtype != MEDIASUBTYPE_MJPG;
    t.m_mt.bTemporalCompression = 0;
    t.m_mt.lSampleSize = t.m_mt.bFixedSizeSamples ? vih.bmiHeader.biSizeImage : 1;
    t.SetFormat(&vih, sizeof vih);
    return t;
}

MediaType MediaType::Pcm(int rate, int bits, int channels) {
    MediaType t;
    t.m_mt.majortype = MEDIATYPE_Audio;
    t.m_mt.subtype = MEDIASUBTYPE_PCM;
    t.m_mt.formattype = FORMAT_WaveFormatEx;
    WAVEFORMATEX wfx;
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = static_cast<WORD>(channels);
    wfx.nSamplesPerSec = static_cast<DWORD>(rate);
    wfx.wBitsPerSample = static_cast<WORD>(bits);
    const int64_t block = int64_t(channels) * bits / 8;
    const int64_t per_second = block * rate;
    if (rate > 0 && block > 0 && block <= 0xFFFF && per_second <= int64_t(UINT32_MAX)) {
        wfx.nBlockAlign = static_cast<WORD>(block);
        wfx.nAvgBytesPerSec = static_cast<DWORD>(per_second);
    }
    t.m_mt.bFixedSizeSamples = 1;
    t.m_mt.lSampleSize = wfx.nBlockAlign;
    t.SetFormat(&wfx, sizeof wfx);
    return t;
}

MediaType MediaType::Partial(const GUID& major, const GUID& subtype, const GUID& format) {
    MediaType t;
    t.m_mt.majortype = major;
    t.m_mt.subtype = subtype;
    t.m_mt.formattype = format;
    return t;
}

const VIDEOINFOHEADER* MediaType::VideoInfo() const {
    if (m_mt.formattype != FORMAT_VideoInfo || m_mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.pbFormat);
}

const WAVEFORMATEX* MediaType::WaveFormat() const {
    if (m_mt.formattype != FORMAT_WaveFormatEx || m_mt.cbFormat < sizeof(WAVEFORMATEX))
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(m_mt.pbFormat);
}

}  // namespace ronvix::media
