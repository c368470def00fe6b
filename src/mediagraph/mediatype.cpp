#include "mediagraph/mediatype.h"

#include <array>
#include <cstring>

#include "platform/com/comptr.h"
#include "platform/com/oleauto.h"

namespace ronvix::mediagraph {

using com::GUID;
using media::AM_MEDIA_TYPE;

namespace {

// --------------------------------------------------------------- GUID tables

constexpr GUID Base(uint32_t data1, uint16_t data2, uint16_t data3, std::array<uint8_t, 8> data4) {
    return GUID{data1, data2, data3, data4};
}
// {cccc-0000-0010-8000-00AA00389B71}: four-character codes and format tags.
constexpr GUID FourCC(const char (&code)[5]) {
    const uint32_t v = uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 |
                       uint32_t(uint8_t(code[2])) << 16 | uint32_t(uint8_t(code[3])) << 24;
    return Base(v, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
}
constexpr GUID Tag(uint32_t tag) {
    return Base(tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
}
constexpr GUID E436(uint8_t low) {
    return Base(0xE436EB00u | low, 0x524F, 0x11CE,
                {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70});
}
constexpr GUID Analog(uint8_t low) {
    return Base(0x0482DD00u | low, 0x7817, 0x11CF,
                {0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65});
}
constexpr GUID Mpeg2(uint8_t low) {
    return Base(0xE06D8000u | low, 0xDB46, 0x11CF,
                {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA});
}

struct GuidName {
    GUID guid;
    const char* name;
};

constexpr std::array<GuidName, 15> kMajorTypes{{
    {RONVIX_GUID("{0482DEE1-7817-11CF-8A03-00AA006ECB65}"), "AnalogAudio"},
    {RONVIX_GUID("{0482DDE1-7817-11CF-8A03-00AA006ECB65}"), "Analogvideo"},
    {RONVIX_GUID("{73647561-0000-0010-8000-00AA00389B71}"), "Audio"},
    {RONVIX_GUID("{670AEA80-3A82-11D0-B79B-00AA003767A7}"), "AUXLine21Data"},
    {RONVIX_GUID("{656C6966-0000-0010-8000-00AA00389B71}"), "File"},
    {RONVIX_GUID("{73766169-0000-0010-8000-00AA00389B71}"), "Interleaved"},
    {RONVIX_GUID("{74726C6D-0000-0010-8000-00AA00389B71}"), "LMRT"},
    {RONVIX_GUID("{7364696D-0000-0010-8000-00AA00389B71}"), "Midi"},
    {RONVIX_GUID("{E06D8020-DB46-11CF-B4D1-00805F6CBBEA}"), "MPEG2_PES"},
    {RONVIX_GUID("{73636D64-0000-0010-8000-00AA00389B71}"), "ScriptCommand"},
    {RONVIX_GUID("{E436EB83-524F-11CE-9F53-0020AF0BA770}"), "Stream"},
    {RONVIX_GUID("{73747874-0000-0010-8000-00AA00389B71}"), "Text"},
    {RONVIX_GUID("{0482DEE3-7817-11CF-8A03-00AA006ECB65}"), "Timecode"},
    {RONVIX_GUID("{736C7275-0000-0010-8000-00AA00389B71}"), "URL_STREAM"},
    {RONVIX_GUID("{73646976-0000-0010-8000-00AA00389B71}"), "Video"},
}};

// Searched top to bottom; the first equal row names the subtype.
constexpr std::array<GuidName, 97> kSubtypes{{
    {FourCC("CLPL"), "CLPL"},
    {FourCC("YUYV"), "YUYV"},
    {FourCC("IYUV"), "IYUV"},
    {FourCC("YVU9"), "YVU9"},
    {FourCC("Y411"), "Y411"},
    {FourCC("Y41P"), "Y41P"},
    {FourCC("YUY2"), "YUY2"},
    {FourCC("YVYU"), "YVYU"},
    {FourCC("UYVY"), "UYVY"},
    {FourCC("Y211"), "Y211"},
    {FourCC("YV12"), "YV12"},
    {FourCC("CLJR"), "CLJR"},
    {FourCC("IF09"), "IF09"},
    {FourCC("CPLA"), "CPLA"},
    {FourCC("MJPG"), "MJPG"},
    {FourCC("TVMJ"), "TVMJ"},
    {FourCC("WAKE"), "WAKE"},
    {FourCC("CFCC"), "CFCC"},
    {FourCC("IJPG"), "IJPG"},
    {FourCC("Plum"), "Plum"},
    {FourCC("DVCS"), "DVCS"},
    {FourCC("DVSD"), "DVSD"},
    {FourCC("MDVF"), "MDVF"},
    {E436(0x78), "RGB1"},
    {E436(0x79), "RGB4"},
    {E436(0x7A), "RGB8"},
    {E436(0x7B), "RGB565"},
    {E436(0x7C), "RGB555"},
    {E436(0x7D), "RGB24"},
    {E436(0x7E), "RGB32"},
    {RONVIX_GUID("{773C9AC0-3274-11D0-B724-00AA006C1A01}"), "ARGB32"},
    {E436(0x7F), "Overlay"},
    {E436(0x80), "MPEG1Packet"},
    {E436(0x81), "MPEG1Payload"},
    {Tag(0x50), "MPEG1AudioPayload"},
    {E436(0x84), "MPEG1System"},
    {E436(0x85), "MPEG1VideoCD"},
    {E436(0x86), "MPEG1Video"},
    {E436(0x87), "MPEG1Audio"},
    {E436(0x88), "Avi"},
    {RONVIX_GUID("{3DB80F90-9412-11D1-ADED-0000F8754B99}"), "Asf"},
    {E436(0x89), "QTMovie"},
    {FourCC("rpza"), "QTRpza"},
    {FourCC("smc "), "QTSmc"},
    {FourCC("rle "), "QTRle"},
    {FourCC("jpeg"), "QTJpeg"},
    {E436(0x8A), "PCMAudio_Obsolete"},
    {Tag(0x01), "PCM"},
    {E436(0x8B), "WAVE"},
    {E436(0x8C), "AU"},
    {E436(0x8D), "AIFF"},
    {FourCC("dvsd"), "dvsd_"},
    {FourCC("dvhd"), "dvhd"},
    {FourCC("dvsl"), "dvsl"},
    {RONVIX_GUID("{6E8D4A22-310C-11D0-B79A-00AA003767A7}"), "Line21_BytePair"},
    {RONVIX_GUID("{6E8D4A23-310C-11D0-B79A-00AA003767A7}"), "Line21_GOPPacket"},
    {RONVIX_GUID("{6E8D4A24-310C-11D0-B79A-00AA003767A7}"), "Line21_VBIRawData"},
    {Tag(0x09), "DRM_Audio"},
    {Tag(0x03), "IEEE_FLOAT"},
    {Tag(0x92), "DOLBY_AC3_SPDIF"},
    {Tag(0x240), "RAW_SPORT"},
    {Tag(0x241), "SPDIF_TAG_241h"},
    {RONVIX_GUID("{A0AF4F81-E163-11D0-BAD9-00609744111A}"), "DssVideo"},
    {RONVIX_GUID("{A0AF4F82-E163-11D0-BAD9-00609744111A}"), "DssAudio"},
    {RONVIX_GUID("{5A9B6A40-1A22-11D1-BAD9-00609744111A}"), "VPVideo"},
    {RONVIX_GUID("{5A9B6A41-1A22-11D1-BAD9-00609744111A}"), "VPVBI"},
    {Analog(0xE2), "AnalogVideo_NTSC_M"},
    {Analog(0xE5), "AnalogVideo_PAL_B"},
    {Analog(0xE6), "AnalogVideo_PAL_D"},
    {Analog(0xE7), "AnalogVideo_PAL_G"},
    {Analog(0xE8), "AnalogVideo_PAL_H"},
    {Analog(0xE9), "AnalogVideo_PAL_I"},
    {Analog(0xEA), "AnalogVideo_PAL_M"},
    {Analog(0xEB), "AnalogVideo_PAL_N"},
    {Analog(0xEC), "AnalogVideo_PAL_N_COMBO"},
    {Analog(0xF0), "AnalogVideo_SECAM_B"},
    {Analog(0xF1), "AnalogVideo_SECAM_D"},
    {Analog(0xF2), "AnalogVideo_SECAM_G"},
    {Analog(0xF3), "AnalogVideo_SECAM_H"},
    {Analog(0xF4), "AnalogVideo_SECAM_K"},
    {Analog(0xF5), "AnalogVideo_SECAM_K1"},
    {Analog(0xF6), "AnalogVideo_SECAM_L"},
    {Mpeg2(0x26), "MPEG2_VIDEO"},
    {Mpeg2(0x22), "MPEG2_PROGRAM"},
    {Mpeg2(0x23), "MPEG2_TRANSPORT"},
    {Mpeg2(0x2B), "MPEG2_AUDIO"},
    {Mpeg2(0x2C), "DOLBY_AC3"},
    {Mpeg2(0x2D), "DVD_SUBPICTURE"},
    {Mpeg2(0x32), "DVD_LPCM_AUDIO"},
    {Mpeg2(0x33), "DTS"},
    {Mpeg2(0x34), "SDDS"},
    {Mpeg2(0x2F), "PCI"},
    {Mpeg2(0x30), "DSI"},
    {Mpeg2(0x31), "PROVIDER"},
    {FourCC("MP42"), "MS-MPEG4"},
    {FourCC("DIVX"), "DIVX"},
    {Tag(0x75), "VOXWARE_MetaSound"},
}};

struct TagName {
    uint16_t tag;
    const char* name;
};

constexpr std::array<TagName, 64> kFormatTags{{
    {1, "PCM"},
    {2, "ADPCM"},
    {3, "IEEE_FLOAT"},
    {5, "IBM_CVSD"},
    {6, "ALAW"},
    {7, "MULAW"},
    {16, "OKI_ADPCM"},
    {17, "DVI_ADPCM"},
    {18, "MEDIASPACE_ADPCM"},
    {19, "SIERRA_ADPCM"},
    {20, "G723_ADPCM"},
    {21, "DIGISTD"},
    {22, "DIGIFIX"},
    {23, "DIALOGIC_OKI_ADPCM"},
    {24, "MEDIAVISION_ADPCM"},
    {32, "YAMAHA_ADPCM"},
    {33, "SONARC"},
    {34, "DSPGROUP_TRUESPEECH"},
    {35, "ECHOSC1"},
    {36, "AUDIOFILE_AF36"},
    {37, "APTX"},
    {38, "AUDIOFILE_AF10"},
    {48, "DOLBY_AC2"},
    {49, "GSM610"},
    {50, "MSNAUDIO"},
    {51, "ANTEX_ADPCME"},
    {52, "CONTROL_RES_VQLPC"},
    {53, "DIGIREAL"},
    {54, "DIGIADPCM"},
    {55, "CONTROL_RES_CR10"},
    {56, "NMS_VBXADPCM"},
    {57, "CS_IMAADPCM"},
    {58, "ECHOSC3"},
    {59, "ROCKWELL_ADPCM"},
    {60, "ROCKWELL_DIGITALK"},
    {61, "XEBEC"},
    {64, "G721_ADPCM"},
    {65, "G728_CELP"},
    {80, "MPEG"},
    {85, "MPEGLAYER3"},
    {96, "CIRRUS"},
    {97, "ESPCM"},
    {98, "VOXWARE"},
    {99, "CANOPUS_ATRAC"},
    {100, "G726_ADPCM"},
    {101, "G722_ADPCM"},
    {102, "DSAT"},
    {103, "DSAT_DISPLAY"},
    {117, "VOXWARE"},
    {128, "SOFTSOUND"},
    {256, "RHETOREX_ADPCM"},
    {512, "CREATIVE_ADPCM"},
    {514, "CREATIVE_FASTSPEECH8"},
    {515, "CREATIVE_FASTSPEECH10"},
    {544, "QUARTERDECK"},
    {768, "FM_TOWNS_SND"},
    {1024, "BTV_DIGITAL"},
    {4096, "OLIGSM"},
    {4097, "OLIADPCM"},
    {4098, "OLICELP"},
    {4099, "OLISBC"},
    {4100, "OLIOPR"},
    {4352, "LH_CODEC"},
    {5120, "NORRIS"},
}};

constexpr GUID kFormatVideoInfo = RONVIX_GUID("{05589F80-C356-11CE-BF01-00AA0055595A}");
constexpr GUID kFormatVideoInfo2 = RONVIX_GUID("{F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA}");
constexpr GUID kFormatWaveFormatEx = RONVIX_GUID("{05589F81-C356-11CE-BF01-00AA0055595A}");
constexpr GUID kFormatMpegVideo = RONVIX_GUID("{05589F82-C356-11CE-BF01-00AA0055595A}");
constexpr GUID kFormatMpeg2Video = RONVIX_GUID("{E06D80E3-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID kFormatDvInfo = RONVIX_GUID("{05589F84-C356-11CE-BF01-00AA0055595A}");
constexpr GUID kFormatMpegStreams = RONVIX_GUID("{05589F83-C356-11CE-BF01-00AA0055595A}");
constexpr GUID kFormatDolbyAC3 = RONVIX_GUID("{E06D80E4-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID kFormatMpeg2Audio = RONVIX_GUID("{E06D80E5-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID kFormatDvdLpcmAudio = RONVIX_GUID("{E06D80E6-DB46-11CF-B4D1-00805F6CBBEA}");

template <size_t N>
const char* Lookup(const std::array<GuidName, N>& table, const GUID& guid) {
    for (const GuidName& row : table)
        if (row.guid == guid)
            return row.name;
    return nullptr;
}

// Little-endian reads from a block known to hold the bytes.
uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The video detail of the bitmap header at `offset`, or nothing when the
// block is too short to hold the header's fields.
QString VideoDetail(const AM_MEDIA_TYPE& mt, size_t offset) {
    constexpr size_t kFieldsEnd = 20;  // through biCompression
    if (mt.cbFormat < offset + kFieldsEnd)
        return {};
    const uint8_t* header = mt.pbFormat + offset;
    const auto width = static_cast<int32_t>(U32(header + 4));
    const auto height = static_cast<int32_t>(U32(header + 8));
    const int bits = U16(header + 14);
    return QStringLiteral("%1 %2X%3, %4 bits")
        .arg(CompressionText(U32(header + 16)))
        .arg(width)
        .arg(height)
        .arg(bits);
}

QString AudioDetail(const AM_MEDIA_TYPE& mt) {
    constexpr size_t kFieldsEnd = 16;  // through wBitsPerSample
    if (mt.cbFormat < kFieldsEnd)
        return {};
    const uint8_t* wave = mt.pbFormat;
    const char* tag = FormatTagName(U16(wave));
    return QString::fromLatin1(tag ? tag : "Unknown") +
           QStringLiteral(", %1 Hertz, %2 Bits, %3 Channels")
               .arg(static_cast<int32_t>(U32(wave + 4)))
               .arg(U16(wave + 14))
               .arg(U16(wave + 2));
}

// Record to record, for a destination that holds nothing.
void CopyRecord(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src) {
    dst = src;
    dst.pbFormat = nullptr;
    if (src.cbFormat != 0) {
        dst.pbFormat = static_cast<uint8_t*>(com::CoTaskMemAlloc(src.cbFormat));
        if (dst.pbFormat && src.pbFormat)
            std::memcpy(dst.pbFormat, src.pbFormat, src.cbFormat);
        else if (dst.pbFormat)
            std::memset(dst.pbFormat, 0, src.cbFormat);
        else
            dst.cbFormat = 0;
    }
    if (dst.pUnk)
        dst.pUnk->AddRef();
}

void FreeRecord(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0) {
        com::CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
    }
    mt.pbFormat = nullptr;
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

}  // namespace

const char* MajorTypeName(const GUID& major) {
    return Lookup(kMajorTypes, major);
}
const char* SubtypeName(const GUID& subtype) {
    return Lookup(kSubtypes, subtype);
}
const char* FormatTagName(uint16_t tag) {
    for (const TagName& row : kFormatTags)
        if (row.tag == tag)
            return row.name;
    return nullptr;
}
size_t SubtypeTableSize() {
    return kSubtypes.size();
}
size_t MajorTypeTableSize() {
    return kMajorTypes.size();
}
size_t FormatTagTableSize() {
    return kFormatTags.size();
}

QString CompressionText(uint32_t compression) {
    switch (compression) {
        case 0:
            return QStringLiteral("RGB");
        case 1:
            return QStringLiteral("RLE8");
        case 2:
            return QStringLiteral("RLE4");
        case 3:
            return QStringLiteral("BITFIELDS");
        default:
            break;
    }
    QString text;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<uint8_t>(compression >> (8 * i));
        if (c == 0)
            break;
        text += QChar(c);
    }
    return text;
}

QString MediaTypeText(const AM_MEDIA_TYPE& record) {
    // A private copy, so nothing the caller holds is touched while reading.
    AM_MEDIA_TYPE mt{};
    CopyRecord(mt, record);
    const char* major = MajorTypeName(mt.majortype);
    const char* sub = SubtypeName(mt.subtype);
    QString text = QStringLiteral("Major Type: ") +
                   QString::fromLatin1(major ? major : "UnKnown ") +
                   QStringLiteral(" - Sub Type: ") + QString::fromLatin1(sub ? sub : "UnKnown ") +
                   QStringLiteral(" Format: ");
    const bool block = mt.cbFormat > 0 && mt.pbFormat;
    const GUID& f = mt.formattype;
    if (f == kFormatVideoInfo) {
        text += QStringLiteral("VideoInfo ");
        if (block)
            text += VideoDetail(mt, 48);
    } else if (f == kFormatVideoInfo2) {
        text += QStringLiteral("VideoInfo2 ");
        if (block)
            text += VideoDetail(mt, 72);
    } else if (f == kFormatWaveFormatEx) {
        text += QStringLiteral("WaveFormatEx: ");
        if (block)
            text += AudioDetail(mt);
    } else if (f == kFormatMpegVideo) {
        text += QStringLiteral("MPEGVideo ");
        if (block)
            text += VideoDetail(mt, 48);
    } else if (f == kFormatMpeg2Video) {
        text += QStringLiteral("MPEGStreams ");
        if (block)
            text += VideoDetail(mt, 72);
    } else if (f == kFormatDvInfo) {
        text += QStringLiteral("DvInfo");
    } else if (f == kFormatMpegStreams) {
        text += QStringLiteral("MPEGStreams");
    } else if (f == kFormatDolbyAC3) {
        text += QStringLiteral("DolbyAC3");
    } else if (f == kFormatMpeg2Audio) {
        text += QStringLiteral("MPEG2Audio");
    } else if (f == kFormatDvdLpcmAudio) {
        text += QStringLiteral("DVD_LPCMAudio");
    } else {
        text += QStringLiteral("Unknown");
    }
    FreeRecord(mt);
    return text;
}

// --------------------------------------------------------------- TMediaType

TMediaType::TMediaType(const GUID& major_type) {
    m_record.majortype = major_type;
    m_record.bFixedSizeSamples = -1;
    m_record.lSampleSize = 1;
}

TMediaType::TMediaType(const AM_MEDIA_TYPE& record) {
    CopyRecord(m_record, record);
}

TMediaType::~TMediaType() {
    FreeRecord(m_record);
}

void TMediaType::Assign(const TMediaType& source) {
    if (&source == this)
        return;
    FreeRecord(m_record);
    CopyRecord(m_record, source.m_record);
}

void TMediaType::FreeFormat() {
    if (m_record.cbFormat != 0)
        com::CoTaskMemFree(m_record.pbFormat);
    m_record.cbFormat = 0;
    m_record.pbFormat = nullptr;
}

bool TMediaType::SameAs(const TMediaType& other) const {
    const AM_MEDIA_TYPE& a = m_record;
    const AM_MEDIA_TYPE& b = other.m_record;
    if (a.majortype != b.majortype || a.subtype != b.subtype || a.formattype != b.formattype ||
        a.cbFormat != b.cbFormat)
        return false;
    return a.cbFormat == 0 ||
           (a.pbFormat && b.pbFormat && std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0);
}

void TMediaType::ReadData(std::span<const uint8_t> data) {
    FreeFormat();
    if (m_record.pUnk) {
        m_record.pUnk->Release();
        m_record.pUnk = nullptr;
    }
    uint8_t raw[kStoredMediaTypeSize] = {};
    const size_t head = std::min(data.size(), kStoredMediaTypeSize);
    std::memcpy(raw, data.data(), head);
    AM_MEDIA_TYPE& mt = m_record;
    mt.majortype = *GUID::FromBytes(std::span(raw, 16));
    mt.subtype = *GUID::FromBytes(std::span(raw + 16, 16));
    mt.bFixedSizeSamples = static_cast<com::BOOL>(U32(raw + 32));
    mt.bTemporalCompression = static_cast<com::BOOL>(U32(raw + 36));
    mt.lSampleSize = U32(raw + 40);
    mt.formattype = *GUID::FromBytes(std::span(raw + 44, 16));
    mt.pUnk = nullptr;
    // The format block holds what the stored block carries, never more: a
    // count larger than the bytes present must not make us allocate or read
    // past the data.
    const size_t available = data.size() - head;
    const size_t announced = U32(raw + 64);
    mt.cbFormat = static_cast<com::ULONG>(std::min(announced, available));
    mt.pbFormat = nullptr;
    if (mt.cbFormat != 0) {
        mt.pbFormat = static_cast<uint8_t*>(com::CoTaskMemAlloc(mt.cbFormat));
        if (mt.pbFormat)
            std::memcpy(mt.pbFormat, data.data() + head, mt.cbFormat);
        else
            mt.cbFormat = 0;
    }
}

QByteArray TMediaType::WriteData() const {
    const AM_MEDIA_TYPE& mt = m_record;
    QByteArray out(static_cast<qsizetype>(kStoredMediaTypeSize + mt.cbFormat), '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    auto put_guid = [](uint8_t* at, const GUID& g) {
        const auto bytes = g.ToBytes();
        std::memcpy(at, bytes.data(), bytes.size());
    };
    put_guid(p, mt.majortype);
    put_guid(p + 16, mt.subtype);
    PutU32(p + 32, static_cast<uint32_t>(mt.bFixedSizeSamples));
    PutU32(p + 36, static_cast<uint32_t>(mt.bTemporalCompression));
    PutU32(p + 40, mt.lSampleSize);
    put_guid(p + 44, mt.formattype);
    PutU32(p + 60, 0);  // object reference slot
    PutU32(p + 64, mt.cbFormat);
    PutU32(p + 68, 0);  // format pointer slot
    if (mt.cbFormat != 0 && mt.pbFormat)
        std::memcpy(p + kStoredMediaTypeSize, mt.pbFormat, mt.cbFormat);
    return out;
}

// ----------------------------------------------------------- TEnumMediaType

void TEnumMediaType::LoadFromPin(media::IPin* pin) {
    FreeTypes();
    if (!pin)
        return;
    com::ComPtr<media::IEnumMediaTypes> types;
    if (pin->EnumMediaTypes(types.ReleaseAndGetAddressOf()) == com::S_OK && types)
        LoadFromEnumerator(types.Get());
}

void TEnumMediaType::LoadFromEnumerator(media::IEnumMediaTypes* types) {
    if (!m_items.empty())
        FreeTypes();
    if (!types)
        return;
    AM_MEDIA_TYPE* mt = nullptr;
    while (types->Next(1, &mt, nullptr) == com::S_OK && mt) {
        m_items.push_back(std::make_unique<TMediaType>(*mt));
        media::DeleteMediaType(mt);
        mt = nullptr;
    }
}

TMediaType* TEnumMediaType::Item(int index) const {
    if (index < 0 || index >= Count())
        return nullptr;
    return m_items[static_cast<size_t>(index)].get();
}

QString TEnumMediaType::Description(int index) const {
    const TMediaType* item = Item(index);
    return item ? MediaTypeText(item->MediaRecord()) : QString();
}

}  // namespace ronvix::mediagraph
