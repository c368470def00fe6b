// The row-cached JPEG encoder against coding every frame whole: the same
// bytes for a test pattern sequence (so keeping unchanged rows changes
// nothing in the stream), fewer rows coded once the first frame is known,
// and pictures that a standard decoder reads back.

#include <gtest/gtest.h>

#include <vector>

#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/codecs/jpegrows.h"
#include "platform/media/devices/virtual/testpattern.h"

namespace ronvix::media {
namespace {

constexpr REFERENCE_TIME kPeriod = 400'000;

std::vector<uint8_t> Code(JpegRowEncoder& encoder, const Yuv422Image& picture, int quality) {
    std::vector<uint8_t> out(JpegRowEncoder::MaxSize(picture.width, picture.height));
    out.resize(encoder.Encode(picture, quality, out));
    return out;
}

// Coding the frame on its own, with nothing kept from earlier frames.
std::vector<uint8_t> CodeWhole(const Yuv422Image& picture, int quality) {
    JpegRowEncoder fresh;
    return Code(fresh, picture, quality);
}

int RestartMarkers(const std::vector<uint8_t>& jpeg) {
    int n = 0;
    for (size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] >= 0xD0 && jpeg[i + 1] <= 0xD7)
            ++n;
    return n;
}

TEST(JpegRowEncoder, APatternSequenceCodesToTheBytesOfWholeFramesWithFewerRows) {
    Yuv422Image picture;
    picture.Resize(720, 576);
    JpegRowEncoder encoder;
    const int rows = 576 / 8;
    int fewer = 0;
    // Across a whole second (its white border in and out) and a quality
    // change, which has to code the next frame whole.
    for (uint32_t index = 20; index < 32; ++index) {
        const int quality = index < 28 ? 75 : 40;
        DrawTestPattern(picture, index, REFERENCE_TIME(index) * kPeriod, kPeriod, {});
        const std::vector<uint8_t> kept = Code(encoder, picture, quality);
        ASSERT_FALSE(kept.empty()) << index;
        EXPECT_EQ(kept, CodeWhole(picture, quality)) << "frame " << index;
        EXPECT_EQ(RestartMarkers(kept), rows - 1);
        if (index == 20 || index == 28) {
            EXPECT_EQ(encoder.RowsCodedLast(), rows) << index;
        }
        if (encoder.RowsCodedLast() < rows / 2)
            ++fewer;
    }
    // Most frames change only the square, the numbers and the code.
    EXPECT_GE(fewer, 8);

    // An unchanged frame codes nothing again and gives the same bytes.
    const std::vector<uint8_t> once = Code(encoder, picture, 40);
    EXPECT_EQ(Code(encoder, picture, 40), once);
    EXPECT_EQ(encoder.RowsCodedLast(), 0);
}

TEST(JpegRowEncoder, DecodesToThePictureTurboJpegCodes) {
    Yuv422Image picture;
    picture.Resize(640, 480);
    DrawTestPattern(picture, 7, 7 * kPeriod, kPeriod, {});
    JpegRowEncoder encoder;
    Code(encoder, picture, 90);
    DrawTestPattern(picture, 8, 8 * kPeriod, kPeriod, {});
    const std::vector<uint8_t> rows = Code(encoder, picture, 90);

    std::vector<uint8_t> reference(JpegEncoder::MaxSize(640, 480));
    JpegEncoder whole;
    reference.resize(whole.EncodeYuv422(picture, 90, reference));
    ASSERT_FALSE(reference.empty());

    JpegDecoder decoder;
    std::vector<uint8_t> a(Rgb32ImageSize(640, 480)), b(a.size());
    ASSERT_TRUE(decoder.DecodeRgb32(rows, 640, 480, false, a.data()));
    ASSERT_TRUE(decoder.DecodeRgb32(reference, 640, 480, false, b.data()));
    // Both use the fast integer transform on the same samples and tables.
    size_t worst = 0;
    for (size_t i = 0; i < a.size(); ++i)
        worst = std::max<size_t>(worst, size_t(std::abs(int(a[i]) - int(b[i]))));
    EXPECT_LE(worst, 2u);
}

TEST(JpegRowEncoder, PartialMcuSizesAreCodedWholeAndSmallBuffersRefused) {
    // 330 x 122: neither a multiple of 16 wide nor of 8 high.
    Yuv422Image picture;
    picture.Resize(330, 122);
    JpegRowEncoder encoder;
    for (uint32_t index = 0; index < 3; ++index) {
        DrawTestPattern(picture, index, REFERENCE_TIME(index) * kPeriod, kPeriod, {});
        const std::vector<uint8_t> out = Code(encoder, picture, 75);
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(encoder.RowsCodedLast(), (122 + 7) / 8);
        EXPECT_EQ(out, CodeWhole(picture, 75));
        JpegDecoder decoder;
        int w = 0, h = 0;
        ASSERT_TRUE(decoder.ReadSize(out, &w, &h));
        EXPECT_EQ(w, 330);
        EXPECT_EQ(h, 122);
    }
    std::vector<uint8_t> small(JpegRowEncoder::MaxSize(330, 122) - 1);
    EXPECT_EQ(encoder.Encode(picture, 75, small), 0u);
    Yuv422Image empty;
    std::vector<uint8_t> any(4096);
    EXPECT_EQ(encoder.Encode(empty, 75, any), 0u);
}

}  // namespace
}  // namespace ronvix::media
