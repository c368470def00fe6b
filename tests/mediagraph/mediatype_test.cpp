#include <gtest/gtest.h>

#include <cstring>

#include "mediagraph/formdata.h"
#include "mediagraph/mediatype.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::mediagraph {
namespace {

using media::AM_MEDIA_TYPE;
using media::BITMAPINFOHEADER;
using media::VIDEOINFOHEADER;
using media::WAVEFORMATEX;

// A video record with a VideoInfo block.
TMediaType VideoType(const com::GUID& subtype, int width, int height, int bits,
                     uint32_t compression) {
    VIDEOINFOHEADER vih;
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biBitCount = static_cast<uint16_t>(bits);
    vih.bmiHeader.biCompression = compression;
    AM_MEDIA_TYPE mt{};
    mt.majortype = media::MEDIATYPE_Video;
    mt.subtype = subtype;
    mt.formattype = media::FORMAT_VideoInfo;
    mt.cbFormat = sizeof(vih);
    mt.pbFormat = reinterpret_cast<uint8_t*>(&vih);
    return TMediaType(mt);  // deep copy: the block above may go
}

TMediaType AudioType(uint16_t tag, uint32_t rate, uint16_t bits, uint16_t channels) {
    WAVEFORMATEX wfx;
    wfx.wFormatTag = tag;
    wfx.nSamplesPerSec = rate;
    wfx.wBitsPerSample = bits;
    wfx.nChannels = channels;
    AM_MEDIA_TYPE mt{};
    mt.majortype = media::MEDIATYPE_Audio;
    mt.subtype = media::MEDIASUBTYPE_PCM;
    mt.formattype = media::FORMAT_WaveFormatEx;
    mt.cbFormat = sizeof(wfx);
    mt.pbFormat = reinterpret_cast<uint8_t*>(&wfx);
    return TMediaType(mt);
}

constexpr uint32_t FourCC(const char (&c)[5]) {
    return uint32_t(uint8_t(c[0])) | uint32_t(uint8_t(c[1])) << 8 | uint32_t(uint8_t(c[2])) << 16 |
           uint32_t(uint8_t(c[3])) << 24;
}

TEST(MediaTypeText, DescribesVideoAndAudioAsTheFormatListsShowThem) {
    TMediaType video = VideoType(media::MEDIASUBTYPE_YUY2, 720, 576, 16, FourCC("YUY2"));
    EXPECT_EQ(MediaTypeText(video.MediaRecord()),
              "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 720X576, 16 bits");
    TMediaType audio = AudioType(1, 48000, 16, 2);
    EXPECT_EQ(MediaTypeText(audio.MediaRecord()),
              "Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, 48000 Hertz, 16 "
              "Bits, 2 Channels");
    // Top-down bitmaps keep their sign; codes 0 and 3 have names.
    EXPECT_EQ(MediaTypeText(VideoType(media::MEDIASUBTYPE_RGB32, 640, -480, 32, 0).MediaRecord()),
              "Major Type: Video - Sub Type: RGB32 Format: VideoInfo RGB 640X-480, 32 bits");
    EXPECT_EQ(MediaTypeText(VideoType(media::MEDIASUBTYPE_RGB32, 8, 8, 32, 3).MediaRecord()),
              "Major Type: Video - Sub Type: RGB32 Format: VideoInfo BITFIELDS 8X8, 32 bits");
}

TEST(MediaTypeText, UnknownIdentifiersAndMissingBlocks) {
    AM_MEDIA_TYPE mt{};
    mt.majortype = RONVIX_GUID("{11111111-2222-3333-4444-555555555555}");
    mt.subtype = mt.majortype;
    mt.formattype = mt.majortype;
    EXPECT_EQ(MediaTypeText(mt), "Major Type: UnKnown  - Sub Type: UnKnown  Format: Unknown");

    mt.majortype = media::MEDIATYPE_Video;
    mt.subtype = media::MEDIASUBTYPE_MJPG;
    mt.formattype = media::FORMAT_VideoInfo;
    EXPECT_EQ(MediaTypeText(mt), "Major Type: Video - Sub Type: MJPG Format: VideoInfo ");

    // A block too short for the bitmap header gives the kind only; reading
    // on would run past the block.
    uint8_t short_block[40] = {};
    mt.cbFormat = sizeof(short_block);
    mt.pbFormat = short_block;
    EXPECT_EQ(MediaTypeText(mt), "Major Type: Video - Sub Type: MJPG Format: VideoInfo ");
    mt.formattype = media::FORMAT_WaveFormatEx;
    mt.cbFormat = 8;
    EXPECT_EQ(MediaTypeText(mt), "Major Type: Video - Sub Type: MJPG Format: WaveFormatEx: ");
}

TEST(MediaTypeText, TablesKeepTheirRowsAndOrder) {
    EXPECT_EQ(MajorTypeTableSize(), 15u);
    EXPECT_EQ(SubtypeTableSize(), 97u);
    EXPECT_EQ(FormatTagTableSize(), 64u);
    EXPECT_STREQ(SubtypeName(RONVIX_GUID("{64737664-0000-0010-8000-00AA00389B71}")), "dvsd_");
    EXPECT_STREQ(SubtypeName(RONVIX_GUID("{44535644-0000-0010-8000-00AA00389B71}")), "DVSD");
    EXPECT_STREQ(SubtypeName(RONVIX_GUID("{3234504D-0000-0010-8000-00AA00389B71}")), "MS-MPEG4");
    EXPECT_STREQ(SubtypeName(RONVIX_GUID("{E06D8026-DB46-11CF-B4D1-00805F6CBBEA}")), "MPEG2_VIDEO");
    EXPECT_STREQ(SubtypeName(RONVIX_GUID("{0482DDF5-7817-11CF-8A03-00AA006ECB65}")),
                 "AnalogVideo_SECAM_K1");
    EXPECT_STREQ(SubtypeName(RONVIX_GUID("{20656C72-0000-0010-8000-00AA00389B71}")), "QTRle");
    EXPECT_STREQ(SubtypeName(media::MEDIASUBTYPE_RGB24), "RGB24");
    EXPECT_STREQ(SubtypeName(media::MEDIASUBTYPE_PCM), "PCM");
    EXPECT_STREQ(MajorTypeName(RONVIX_GUID("{0482DDE1-7817-11CF-8A03-00AA006ECB65}")),
                 "Analogvideo");
    EXPECT_STREQ(FormatTagName(117), "VOXWARE");
    EXPECT_STREQ(FormatTagName(98), "VOXWARE");
    EXPECT_EQ(FormatTagName(4), nullptr);
    EXPECT_EQ(MediaTypeText(AudioType(4, 8000, 8, 1).MediaRecord()),
              "Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: Unknown, 8000 Hertz, 8 "
              "Bits, 1 Channels");
}

TEST(CompressionText, NamesCodesByTheirCharacters) {
    EXPECT_EQ(CompressionText(0), "RGB");
    EXPECT_EQ(CompressionText(1), "RLE8");
    EXPECT_EQ(CompressionText(2), "RLE4");
    EXPECT_EQ(CompressionText(3), "BITFIELDS");
    EXPECT_EQ(CompressionText(FourCC("MJPG")), "MJPG");
    EXPECT_EQ(CompressionText(0x00004142), "BA");  // cut at the first zero byte
    EXPECT_EQ(CompressionText(0x41424300), "");    // zero first byte
}

// The grabbers' block exactly as the form data holds it.
QByteArray ExpectedGrabberBlock() {
    const uint8_t bytes[72] = {0x76, 0x69, 0x64, 0x73, 0x00, 0x00, 0x10, 0x00,
                               0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71,  // MEDIATYPE_Video
                               0x4D, 0x4A, 0x50, 0x47, 0x00, 0x00, 0x10, 0x00,
                               0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71,  // MEDIASUBTYPE_MJPG
                               0,    0,    0,    0,    0,    0,    0,    0,
                               1,    0,    0,    0,  // flags, sample size 1
                               0x80, 0x9F, 0x58, 0x05, 0x56, 0xC3, 0xCE, 0x11,
                               0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A,  // FORMAT_VideoInfo
                               0,    0,    0,    0,    0,    0,    0,    0,
                               0,    0,    0,    0};  // pUnk, cbFormat, pbFormat
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof(bytes));
}

TEST(TMediaTypeData, GrabberBlockReadsAndWritesByteForByte) {
    EXPECT_EQ(GrabberMediaTypeData(), ExpectedGrabberBlock());
    TMediaType type;
    type.ReadData(ExpectedGrabberBlock());
    const AM_MEDIA_TYPE& mt = type.MediaRecord();
    EXPECT_EQ(mt.majortype, media::MEDIATYPE_Video);
    EXPECT_EQ(mt.subtype, media::MEDIASUBTYPE_MJPG);
    EXPECT_EQ(mt.formattype, media::FORMAT_VideoInfo);
    EXPECT_EQ(mt.lSampleSize, 1u);
    EXPECT_EQ(mt.bFixedSizeSamples, 0);
    EXPECT_EQ(mt.cbFormat, 0u);
    EXPECT_EQ(mt.pbFormat, nullptr);
    EXPECT_EQ(type.WriteData(), ExpectedGrabberBlock());
}

TEST(TMediaTypeData, FormatBlockTravelsAndShortBlocksStopAtTheirEnd) {
    TMediaType video = VideoType(media::MEDIASUBTYPE_YUY2, 720, 576, 16, FourCC("YUY2"));
    const QByteArray data = video.WriteData();
    ASSERT_EQ(data.size(), 72 + 88);
    TMediaType copy;
    copy.ReadData(data);
    EXPECT_TRUE(copy.SameAs(video));
    EXPECT_EQ(copy.WriteData(), data);
    // A new object writes true as -1.
    EXPECT_EQ(TMediaType(media::MEDIATYPE_Audio).MediaRecord().bFixedSizeSamples, -1);

    // A block that announces more format bytes than it carries keeps only
    // what is there; a huge count must not be allocated.
    QByteArray cut = data.left(72 + 10);
    TMediaType partial;
    partial.ReadData(cut);
    EXPECT_EQ(partial.FormatSize(), 10u);
    EXPECT_EQ(std::memcmp(partial.MediaRecord().pbFormat, data.constData() + 72, 10), 0);
    QByteArray huge = ExpectedGrabberBlock();
    huge[64] = char(0xFF);
    huge[65] = char(0xFF);
    huge[66] = char(0xFF);
    huge[67] = char(0x7F);
    partial.ReadData(huge);
    EXPECT_EQ(partial.FormatSize(), 0u);
    // Shorter than the record: the rest of the record reads as zero.
    partial.ReadData(ExpectedGrabberBlock().left(20));
    EXPECT_EQ(partial.MediaRecord().majortype, media::MEDIATYPE_Video);
    EXPECT_EQ(partial.MediaRecord().formattype, com::GUID_NULL);
}

TEST(TMediaType, AssignAndSameAsFollowTheirRules) {
    TMediaType a = VideoType(media::MEDIASUBTYPE_YUY2, 720, 576, 16, FourCC("YUY2"));
    a.Assign(a);
    EXPECT_EQ(a.FormatSize(), 88u);
    EXPECT_EQ(MediaTypeText(a.MediaRecord()),
              "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 720X576, 16 bits");

    TMediaType b;
    b.Assign(a);
    EXPECT_NE(b.MediaRecord().pbFormat, a.MediaRecord().pbFormat);  // deep copy
    b.MediaRecord().lSampleSize = 12345;
    b.MediaRecord().bTemporalCompression = 1;
    EXPECT_TRUE(a.SameAs(b));
    b.MediaRecord().pbFormat[60] ^= 1;  // a bitmap header byte
    EXPECT_FALSE(a.SameAs(b));
    b.FreeFormat();
    EXPECT_EQ(b.FormatSize(), 0u);
    EXPECT_EQ(b.MediaRecord().pbFormat, nullptr);
    EXPECT_FALSE(a.SameAs(b));
    EXPECT_TRUE(b.ShouldWriteData(nullptr));
    EXPECT_TRUE(b.ShouldWriteData(&a));
    TMediaType c;
    c.Assign(b);
    EXPECT_FALSE(b.ShouldWriteData(&c));
}

}  // namespace
}  // namespace ronvix::mediagraph
