#pragma once
// Media types: AM_MEDIA_TYPE with the platform's layout and identifiers, the
// VideoInfo and WaveFormatEx format blocks, and MediaType, the owning C++
// wrapper the engine uses internally.
//
// Memory rule: the format block of an AM_MEDIA_TYPE and every AM_MEDIA_TYPE
// handed out by an enumerator come from the task allocator (CoTaskMemAlloc),
// so callers free them with FreeMediaType / DeleteMediaType or with
// CoTaskMemFree.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/oleauto.h"
#include "platform/com/unknwn.h"

namespace ronvix::media {

using com::BOOL;
using com::DWORD;
using com::GUID;
using com::HRESULT;
using com::LONG;
using com::LONG_PTR;
using com::REFERENCE_TIME;
using com::ULONG;
using BYTE = uint8_t;
using WORD = uint16_t;
using com::WCHAR;
using LPCWSTR = com::LPCOLESTR;
using LPWSTR = com::LPOLESTR;
using LONGLONG = int64_t;

// Major types.
inline constexpr GUID MEDIATYPE_Video = RONVIX_GUID("{73646976-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIATYPE_Audio = RONVIX_GUID("{73647561-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIATYPE_Stream = RONVIX_GUID("{E436EB83-524F-11CE-9F53-0020AF0BA770}");
inline constexpr GUID MEDIATYPE_Interleaved = RONVIX_GUID("{73766169-0000-0010-8000-00AA00389B71}");

// Subtypes.
inline constexpr GUID MEDIASUBTYPE_MJPG = RONVIX_GUID("{47504A4D-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_YUY2 = RONVIX_GUID("{32595559-0000-0010-8000-00AA00389B71}");
// Uncompressed YUV as capture devices deliver it (four-character-code
// subtypes): UYVY is packed 4:2:2 with chroma first (U Y0 V Y1); NV12 is
// 4:2:0 with a luma plane and one plane of interleaved Cb, Cr pairs; I420
// (V4L2's YU12) is 4:2:0 with a luma plane, then Cb, then Cr, each chroma
// plane of half the width and half the height. Rows are packed, top-down.
inline constexpr GUID MEDIASUBTYPE_UYVY = RONVIX_GUID("{59565955-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_NV12 = RONVIX_GUID("{3231564E-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_I420 = RONVIX_GUID("{30323449-0000-0010-8000-00AA00389B71}");
// FFV1: lossless intra-frame video; its configuration record follows the
// bitmap header in the format block (biSize counts it).
inline constexpr GUID MEDIASUBTYPE_FFV1 = RONVIX_GUID("{31564646-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_RGB24 = RONVIX_GUID("{E436EB7D-524F-11CE-9F53-0020AF0BA770}");
inline constexpr GUID MEDIASUBTYPE_RGB32 = RONVIX_GUID("{E436EB7E-524F-11CE-9F53-0020AF0BA770}");
inline constexpr GUID MEDIASUBTYPE_PCM = RONVIX_GUID("{00000001-0000-0010-8000-00AA00389B71}");
inline constexpr GUID MEDIASUBTYPE_Avi = RONVIX_GUID("{E436EB88-524F-11CE-9F53-0020AF0BA770}");

// Format types.
inline constexpr GUID FORMAT_None = RONVIX_GUID("{0F6417D6-C318-11D0-A43F-00A0C9223196}");
inline constexpr GUID FORMAT_VideoInfo = RONVIX_GUID("{05589F80-C356-11CE-BF01-00AA0055595A}");
inline constexpr GUID FORMAT_VideoInfo2 = RONVIX_GUID("{F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA}");
inline constexpr GUID FORMAT_WaveFormatEx = RONVIX_GUID("{05589F81-C356-11CE-BF01-00AA0055595A}");

// Pin categories (answered through IKsPropertySet on AMPROPSETID_Pin).
inline constexpr GUID PIN_CATEGORY_CAPTURE = RONVIX_GUID("{FB6C4281-0353-11D1-905F-0000C0CC16BA}");
inline constexpr GUID PIN_CATEGORY_PREVIEW = RONVIX_GUID("{FB6C4282-0353-11D1-905F-0000C0CC16BA}");
inline constexpr GUID AMPROPSETID_Pin = RONVIX_GUID("{9B00F101-1567-11D1-B3F1-00AA003761C5}");
inline constexpr DWORD AMPROPERTY_PIN_CATEGORY = 0;

// Device enumerator categories.
inline constexpr GUID CLSID_LegacyAmFilterCategory =
    RONVIX_GUID("{083863F1-70DE-11D0-BD40-00A0C911CE86}");
inline constexpr GUID CLSID_VideoInputDeviceCategory =
    RONVIX_GUID("{860BB310-5D01-11D0-BD3B-00A0C911CE86}");
inline constexpr GUID CLSID_AudioInputDeviceCategory =
    RONVIX_GUID("{33D9A762-90C8-11D0-BD43-00A0C911CE86}");
inline constexpr GUID CLSID_AudioRendererCategory =
    RONVIX_GUID("{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}");
inline constexpr GUID AM_KSCATEGORY_TRANSMIT =
    RONVIX_GUID("{CC7BFB41-F175-11D1-A392-00E0291F3959}");

struct RECT {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
};

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
    DWORD biSize = sizeof(BITMAPINFOHEADER);
    LONG biWidth = 0;
    LONG biHeight = 0;
    WORD biPlanes = 1;
    WORD biBitCount = 0;
    DWORD biCompression = 0;
    DWORD biSizeImage = 0;
    LONG biXPelsPerMeter = 0;
    LONG biYPelsPerMeter = 0;
    DWORD biClrUsed = 0;
    DWORD biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct WAVEFORMATEX {
    WORD wFormatTag = 0;
    WORD nChannels = 0;
    DWORD nSamplesPerSec = 0;
    DWORD nAvgBytesPerSec = 0;
    WORD nBlockAlign = 0;
    WORD wBitsPerSample = 0;
    WORD cbSize = 0;
};
static_assert(sizeof(WAVEFORMATEX) == 18);
#pragma pack(pop)

inline constexpr WORD WAVE_FORMAT_PCM = 1;

// The VideoInfo block: 88 bytes on the platform (two RECTs, two DWORDs, one
// REFERENCE_TIME, the bitmap header), naturally aligned.
struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate = 0;
    DWORD dwBitErrorRate = 0;
    REFERENCE_TIME AvgTimePerFrame = 0;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);

// The VideoInfo2 block (FORMAT_VideoInfo2): VideoInfo's fields with the
// interlacing and the picture's display aspect ratio, 112 bytes on the
// platform. AvgTimePerFrame sits at the same offset as in VIDEOINFOHEADER.
struct VIDEOINFOHEADER2 {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate = 0;
    DWORD dwBitErrorRate = 0;
    REFERENCE_TIME AvgTimePerFrame = 0;
    DWORD dwInterlaceFlags = 0;  // AMINTERLACE_*
    DWORD dwCopyProtectFlags = 0;
    DWORD dwPictAspectRatioX = 0;  // The whole picture's display aspect,
    DWORD dwPictAspectRatioY = 0;  // 4:3 for an analog television frame.
    DWORD dwControlFlags = 0;
    DWORD dwReserved2 = 0;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER2) == 112);

// dwInterlaceFlags. A frame that holds both fields woven line by line is
// IsInterlaced with FieldPatBothRegular; Field1First says the top field
// (the frame's first line) is the earlier one, its absence that the bottom
// field is.
inline constexpr DWORD AMINTERLACE_IsInterlaced = 0x1;
inline constexpr DWORD AMINTERLACE_1FieldPerSample = 0x2;
inline constexpr DWORD AMINTERLACE_Field1First = 0x4;
inline constexpr DWORD AMINTERLACE_FieldPatternMask = 0x30;
inline constexpr DWORD AMINTERLACE_FieldPatField1Only = 0x0;
inline constexpr DWORD AMINTERLACE_FieldPatField2Only = 0x10;
inline constexpr DWORD AMINTERLACE_FieldPatBothRegular = 0x20;
inline constexpr DWORD AMINTERLACE_FieldPatBothIrregular = 0x30;
inline constexpr DWORD AMINTERLACE_DisplayModeMask = 0xC0;
inline constexpr DWORD AMINTERLACE_DisplayModeBobOnly = 0x0;
inline constexpr DWORD AMINTERLACE_DisplayModeWeaveOnly = 0x40;
inline constexpr DWORD AMINTERLACE_DisplayModeBobOrWeave = 0x80;

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples = 0;
    BOOL bTemporalCompression = 0;
    ULONG lSampleSize = 0;
    GUID formattype;
    com::IUnknown* pUnk = nullptr;  // Reference owned by the record.
    ULONG cbFormat = 0;
    BYTE* pbFormat = nullptr;  // Owned by the record; from the task allocator.
};

// Frees the format block and the object reference; the record stays.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Deep copy into `dst` (which must hold nothing). E_OUTOFMEMORY leaves `dst` empty.
HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src);
// A copy from the task allocator, or null when out of memory.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* src);
// Frees a record made by CreateMediaType (or handed out by an enumerator).
void DeleteMediaType(AM_MEDIA_TYPE* mt);

// A type matches a partial one when every non-null identifier of the
// partial type (major, sub, format) equals its own. Null `partial` matches.
bool MatchesPartial(const AM_MEDIA_TYPE& mt, const AM_MEDIA_TYPE* partial);
// Major, sub and format type all set: the type can be proposed as it is.
bool IsComplete(const AM_MEDIA_TYPE& mt);
// Same identifiers and the same format bytes.
bool SameType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);

// A readable one-line description for logs: "Video/MJPG 720x576" etc.
std::string DescribeMediaType(const AM_MEDIA_TYPE& mt);
// A four-character code as a subtype GUID ({XXXXXXXX-0000-0010-8000-00AA00389B71}).
GUID SubtypeFromFourcc(uint32_t fourcc);

// The largest picture side the engine takes, in pixels. A file or a device
// that declares a wider or taller picture is refused: every size computed
// from a picture within it fits in 32 bits, and one RGB32 frame of it
// (256 MiB) is the most a single picture can ask for.
inline constexpr int kMaxPictureSide = 8192;
// Whether a picture of `width` x |`height`| is one the engine takes.
constexpr bool PictureSizeAllowed(int64_t width, int64_t height) {
    return width > 0 && height != 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           height >= -kMaxPictureSide;
}

// Owning wrapper: copying deep-copies, destruction frees. Not thread-safe.
class MediaType {
public:
    MediaType() = default;
    explicit MediaType(const AM_MEDIA_TYPE& mt) { CopyMediaType(&m_mt, &mt); }
    MediaType(const MediaType& other) : MediaType(other.m_mt) {}
    MediaType(MediaType&& other) noexcept : m_mt(other.m_mt) { other.m_mt = AM_MEDIA_TYPE{}; }
    MediaType& operator=(const MediaType& other);
    MediaType& operator=(MediaType&& other) noexcept;
    ~MediaType() { FreeMediaType(m_mt); }

    // A video type with a VideoInfo block. biSizeImage is width x |height|
    // x bits / 8, or 0 when that does not fit its 32 bits.
    static MediaType Video(const GUID& subtype, int width, int height, int bits,
                           REFERENCE_TIME time_per_frame_100ns = 0);
    // A PCM type with a WaveFormatEx block. The block alignment and byte
    // rate are 0 when they do not fit their fields (an invalid format that
    // every consumer refuses), never a wrapped value.
    static MediaType Pcm(int rate, int bits, int channels);
    // Only major and sub type (format type left null): a pattern, not a type.
    static MediaType Partial(const GUID& major, const GUID& subtype = {}, const GUID& format = {});

    void SetFormat(const void* data, size_t size);
    const AM_MEDIA_TYPE& Get() const { return m_mt; }
    AM_MEDIA_TYPE& Get() { return m_mt; }
    const AM_MEDIA_TYPE* operator->() const { return &m_mt; }
    AM_MEDIA_TYPE* operator->() { return &m_mt; }
    const VIDEOINFOHEADER* VideoInfo() const;
    const WAVEFORMATEX* WaveFormat() const;

private:
    AM_MEDIA_TYPE m_mt{};
};

}  // namespace ronvix::media
