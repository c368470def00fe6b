// The MJPEG Decompressor and Compressor, the Colour Space Converter and the
// FFV1 Compressor and Decompressor: round trips that keep the picture (the
// FFV1 ones every sample of it), conversions in both row orders, corrupt
// input, quality control, and their place in intelligent connect.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <thread>

#include <QFile>
#include <QTemporaryDir>

#include "platform/media/codecs/codecs.h"
#include "platform/media/codecs/colourspace.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/container/avi_probe.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/core/graph.h"
#include "platform/media/devices/virtual/picture_reader.h"

namespace ronvix::media::test {
namespace {

using com::S_OK;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// A smooth picture with edges and colour: what a camera sees, not noise.
Picture Reference() {
    Picture p;
    p.width = kWidth;
    p.height = kHeight;
    p.bgrx.resize(size_t(kWidth) * kHeight * 4);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* px = p.bgrx.data() + (size_t(y) * kWidth + x) * 4;
            const bool disc = (x - 200) * (x - 200) + (y - 120) * (y - 120) < 60 * 60;
            px[0] = uint8_t(disc ? 40 : 255 * x / kWidth);
            px[1] = uint8_t(disc ? 200 : 255 * y / kHeight);
            px[2] = uint8_t(disc ? 220 : 128 + 100 * ((x / 40 + y / 40) % 2));
            px[3] = 255;
        }
    return p;
}

std::vector<uint8_t> EncodeJpeg(const Picture& p, int quality) {
    tjhandle h = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(h, p.bgrx.data(), p.width, p.width * 4, p.height, TJPF_BGRX, &out, &size,
                TJSAMP_422, quality, 0);
    std::vector<uint8_t> jpeg(out, out + size);
    tjFree(out);
    tjDestroy(h);
    return jpeg;
}

std::vector<uint8_t> ToRgb32(const Picture& p, bool bottom_up) {
    std::vector<uint8_t> out(p.bgrx.size());
    for (int y = 0; y < p.height; ++y)
        std::copy_n(p.bgrx.data() + size_t(y) * p.width * 4, size_t(p.width) * 4,
                    out.data() + size_t(bottom_up ? p.height - 1 - y : y) * p.width * 4);
    return out;
}

std::vector<uint8_t> ToRgb24(const Picture& p, bool bottom_up) {
    const int stride = (p.width * 3 + 3) & ~3;
    std::vector<uint8_t> out(size_t(stride) * p.height);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            std::copy_n(p.Pixel(x, y), 3,
                        out.data() + size_t(bottom_up ? p.height - 1 - y : y) * stride + x * 3);
    return out;
}

// Textbook BT.601 studio range, chroma averaged over each pixel pair.
std::vector<uint8_t> ToYuy2(const Picture& p) {
    std::vector<uint8_t> out(size_t(p.width) * p.height * 2);
    auto c8 = [](double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 255.0))); };
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; x += 2) {
            const uint8_t* a = p.Pixel(x, y);
            const uint8_t* b = p.Pixel(x + 1, y);
            auto luma = [](const uint8_t* q) {
                return 16 + (65.481 * q[2] + 128.553 * q[1] + 24.966 * q[0]) / 255;
            };
            const double r = (a[2] + b[2]) / 2.0, g = (a[1] + b[1]) / 2.0, bl = (a[0] + b[0]) / 2.0;
            uint8_t* q = out.data() + size_t(y) * p.width * 2 + x * 2;
            q[0] = c8(luma(a));
            q[1] = c8(128 + (-37.797 * r - 74.203 * g + 112 * bl) / 255);
            q[2] = c8(luma(b));
            q[3] = c8(128 + (112 * r - 93.786 * g - 18.214 * bl) / 255);
        }
    return out;
}

ComPtr<IBaseFilter> Make(const com::ClassEntry& entry) {
    ComPtr<IBaseFilter> f;
    EXPECT_EQ(entry.create(IBaseFilter::iid, f.OutVoid()), S_OK);
    return f;
}

TestSource::Options SourceOf(const GUID& subtype, int bits, size_t buffer_size,
                             int height = kHeight) {
    TestSource::Options o;
    o.types = {MediaType::Video(subtype, kWidth, height, bits, 400000)};
    o.buffer_size = static_cast<LONG>(buffer_size);
    return o;
}

TestSink::Options SinkOf(const GUID& subtype) {
    return {{MediaType::Partial(MEDIATYPE_Video, subtype)}};
}

TEST(MjpegDecompressor, RoundTripsToRgb32AndYuy2KeepThePicture) {
    const Picture reference = Reference();
    const std::vector<uint8_t> jpeg = EncodeJpeg(reference, 90);
    for (const GUID& out : {MEDIASUBTYPE_RGB32, MEDIASUBTYPE_YUY2}) {
        FilterHarness h(Make(MjpegDecompressorClassEntry()));
        TestSource* source = h.AddSource(SourceOf(MEDIASUBTYPE_MJPG, 24, 1 << 20));
        TestSink* sink = h.AddSink(SinkOf(out));
        ASSERT_EQ(h.ConnectIn(source, u"XForm In"), S_OK);
        ASSERT_EQ(h.ConnectOut(u"XForm Out", sink), S_OK);
        ASSERT_TRUE(SUCCEEDED(h.Control()->Run()));
        ASSERT_EQ(source->Push(jpeg, 1200000, 1600000), S_OK);
        ASSERT_EQ(source->Push({0xFF, 0xD8, 0x00, 0x01, 0x02}, 1600000, 2000000), S_OK)
            << "a corrupt frame is skipped, not an error";
        ASSERT_EQ(source->Push(jpeg, 2000000, 2400000), S_OK);
        ASSERT_TRUE(sink->WaitForSamples(2));
        h.Control()->Stop();
        const std::vector<TestSink::Received> frames = sink->ReceivedSamples();
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_EQ(frames[0].start, 1200000);
        EXPECT_EQ(frames[1].start, 2000000);
        const Picture decoded = out == MEDIASUBTYPE_RGB32
                                    ? FromRgb32(frames[0].data, kWidth, kHeight, true)
                                    : FromYuy2(frames[0].data, kWidth, kHeight);
        EXPECT_GT(Psnr(decoded, reference), out == MEDIASUBTYPE_RGB32 ? 32.0 : 30.0);
        h.Teardown();
    }
}

// YUY2 out of a JPEG: the stream's own samples back in studio range, with
// colours no RGB picture can hold (dark red-blue, bright yellow-green) kept;
// other samplings, odd widths and a truncated stream still give a picture.
TEST(MjpegDecompressor, Yuy2KeepsTheSamplesRgbCannotHold) {
    // The range packing against its scalar form for every value in every
    // lane, with tails; and studio values survive the round trip exactly.
    for (int v = 16; v <= 235; ++v)
        ASSERT_EQ(FullToStudioLuma(StudioToFullLuma(uint8_t(v))), v);
    for (int v = 16; v <= 240; ++v)
        ASSERT_EQ(FullToStudioChroma(StudioToFullChroma(uint8_t(v))), v);
    for (size_t pairs : {size_t(128), size_t(141), size_t(7)}) {
        std::vector<uint8_t> y(2 * pairs), u(pairs), v(pairs), out(4 * pairs);
        for (size_t i = 0; i < pairs; ++i) {
            y[2 * i] = uint8_t(2 * i), y[2 * i + 1] = uint8_t(2 * i + 1);
            u[i] = uint8_t(i * 2 + 1), v[i] = uint8_t(255 - i * 2);
        }
        FullPlanesRowToYuy2(y.data(), u.data(), v.data(), pairs, out.data());
        for (size_t i = 0; i < pairs; ++i) {
            ASSERT_EQ(out[4 * i], FullToStudioLuma(y[2 * i])) << pairs << " " << i;
            ASSERT_EQ(out[4 * i + 1], FullToStudioChroma(u[i])) << pairs << " " << i;
            ASSERT_EQ(out[4 * i + 2], FullToStudioLuma(y[2 * i + 1])) << pairs << " " << i;
            ASSERT_EQ(out[4 * i + 3], FullToStudioChroma(v[i])) << pairs << " " << i;
        }
    }

    // Studio YUY2 of `width` x kHeight: smooth ramps RGB can hold, with
    // blocks of colour it cannot.
    auto studio = [](int width) {
        std::vector<uint8_t> f(Yuy2ImageSize(width, kHeight));
        for (int row = 0; row < kHeight; ++row)
            for (int p = 0; p < width / 2; ++p) {
                uint8_t* q = f.data() + size_t(row) * Yuy2Stride(width) + 4 * p;
                const bool odd_colour = (p / 16 + row / 32) % 3 == 0;
                q[0] = q[2] =
                    uint8_t(odd_colour ? (row < 120 ? 40 : 220) : 60 + row * 140 / kHeight);
                q[1] = uint8_t(odd_colour ? (row < 120 ? 230 : 30) : 108 + p * 40 / (width / 2));
                q[3] = uint8_t(odd_colour ? 230 : 128);
            }
        return f;
    };
    enum class Coder { Ours422, Ours420, Ffmpeg };
    struct Case {
        const char* name;
        int width;
        Coder coder;
        bool truncated;
        double max_mean_error;
    };
    const Case cases[] = {
        {"4:2:2", kWidth, Coder::Ours422, false, 1.0},
        {"4:2:2, odd width", kWidth + 1, Coder::Ours422, false, 1.0},
        {"ffmpeg's 4:2:2 (factors 2x2 and 1x2)", kWidth, Coder::Ffmpeg, false, 1.5},
        {"4:2:0 through RGB, in-gamut blocks only", kWidth, Coder::Ours420, false, 4.0},
        {"truncated: the rows it holds", kWidth, Coder::Ours422, true, 1.0},
    };
    const QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int even = c.width & ~1;
        const bool half_height = c.coder == Coder::Ours420;
        std::vector<uint8_t> src = studio(even);
        std::vector<uint8_t> jpeg;
        if (c.coder == Coder::Ffmpeg) {
            const QString raw = dir.filePath("frame.yuyv");
            QFile file(raw);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(reinterpret_cast<const char*>(src.data()), qint64(src.size()));
            file.close();
            const auto out =
                RunTool("ffmpeg", {"-v", "error", "-f", "rawvideo", "-pix_fmt", "yuyv422", "-s",
                                   QString("%1x%2").arg(even).arg(kHeight), "-i", raw, "-c:v",
                                   "mjpeg", "-q:v", "1", "-f", "mjpeg", "-"});
            ASSERT_TRUE(out && !out->isEmpty());
            jpeg.assign(out->begin(), out->end());
        } else {
            // Its JPEG at quality 100, the odd last column repeating its
            // neighbour (the coder reads luma rows of whole pixel pairs),
            // 4:2:0 taking every other chroma row.
            const int cw = (c.width + 1) / 2, ch = half_height ? kHeight / 2 : kHeight;
            std::vector<uint8_t> y(size_t(2 * cw) * kHeight), u(size_t(cw) * ch), v(u.size());
            for (int row = 0; row < kHeight; ++row)
                for (int x = 0; x < 2 * cw; ++x) {
                    const uint8_t* q = src.data() + size_t(row) * Yuy2Stride(even) +
                                       2 * size_t(std::min(x, even - 1));
                    y[size_t(row) * 2 * cw + x] = StudioToFullLuma(q[0]);
                    if (x % 2 == 0 && (!half_height || row % 2 == 0)) {
                        const uint8_t* pair = q - (q - src.data()) % 4;
                        const size_t at = size_t(half_height ? row / 2 : row) * cw + x / 2;
                        u[at] = StudioToFullChroma(pair[1]);
                        v[at] = StudioToFullChroma(pair[3]);
                    }
                }
            tjhandle h = tjInitCompress();
            const unsigned char* planes[3] = {y.data(), u.data(), v.data()};
            const int strides[3] = {2 * cw, cw, cw};
            unsigned char* coded = nullptr;
            unsigned long size = 0;
            ASSERT_EQ(tjCompressFromYUVPlanes(h, planes, c.width, strides, kHeight,
                                              half_height ? TJSAMP_420 : TJSAMP_422, &coded, &size,
                                              100, 0),
                      0);
            jpeg.assign(coded, coded + size);
            tjFree(coded);
            tjDestroy(h);
        }
        if (c.truncated)
            jpeg.resize(jpeg.size() / 2);

        JpegDecoder decoder;
        std::vector<uint8_t> out(Yuy2ImageSize(even, kHeight), 0xAA);
        ASSERT_TRUE(decoder.DecodeYuy2(jpeg, c.width, kHeight, out.data()));
        // Rows compared: all, the in-gamut ones for RGB's detour, the top
        // quarter of a stream cut in half.
        double error = 0;
        size_t compared = 0;
        for (int row = 0; row < (c.truncated ? kHeight / 4 : kHeight); ++row)
            for (int p = 0; p < even / 2; ++p) {
                if (half_height && (p / 16 + row / 32) % 3 == 0)
                    continue;
                for (int k = 0; k < 4; ++k) {
                    const size_t at = size_t(row) * Yuy2Stride(even) + 4 * p + k;
                    error += std::abs(int(out[at]) - int(src[at]));
                    ++compared;
                }
            }
        EXPECT_LT(error / double(compared), c.max_mean_error);
    }
    JpegDecoder decoder;
    std::vector<uint8_t> out(Yuy2ImageSize(kWidth, kHeight));
    EXPECT_FALSE(decoder.DecodeYuy2(std::vector<uint8_t>{0xFF, 0xD8, 0x00, 0x01}, kWidth, kHeight,
                                    out.data()));
    EXPECT_FALSE(decoder.DecodeYuy2(EncodeJpeg(Reference(), 90), kWidth, kHeight + 8, out.data()))
        << "a stream of another size";
}

// Studio range into the coder's planes for every byte value of every
// component, in each layout: what the range tables say, exactly.
TEST(StudioPlanes, EveryValueOfEveryLayoutExpandsAsTheRangeTablesSay) {
    constexpr int kPairs = 256;
    for (const YuvLayout layout :
         {YuvLayout::Yuy2, YuvLayout::Uyvy, YuvLayout::Nv12, YuvLayout::I420}) {
        SCOPED_TRACE(int(layout));
        const int width = 2 * kPairs, height = 2;
        std::vector<uint8_t> frame(YuvImageSize(layout, width, height));
        for (int row = 0; row < height; ++row)
            for (int i = 0; i < kPairs; ++i) {
                const uint8_t a = uint8_t(i), b = uint8_t(255 - i);
                if (layout == YuvLayout::Nv12 || layout == YuvLayout::I420) {
                    frame[size_t(row * width + 2 * i)] = a;
                    frame[size_t(row * width + 2 * i + 1)] = b;
                    const size_t cb =
                        size_t(width * height) + size_t(layout == YuvLayout::Nv12 ? 2 * i : i);
                    frame[cb] = a;
                    frame[layout == YuvLayout::Nv12 ? cb + 1 : cb + kPairs] = b;
                } else {
                    uint8_t* p = frame.data() + size_t(row) * width * 2 + 4 * size_t(i);
                    const bool yuy2 = layout == YuvLayout::Yuy2;
                    p[yuy2 ? 0 : 1] = a;  // luma, chroma as they lie
                    p[yuy2 ? 1 : 0] = a;
                    p[yuy2 ? 2 : 3] = b;
                    p[yuy2 ? 3 : 2] = b;
                }
            }
        YuvPlanes planes;
        StudioYuvToPlanes(frame.data(), layout, width, height, &planes);
        for (int i = 0; i < kPairs; ++i) {
            ASSERT_EQ(planes.y[size_t(width + 2 * i)], StudioToFullLuma(uint8_t(i))) << i;
            ASSERT_EQ(planes.y[size_t(width + 2 * i + 1)], StudioToFullLuma(uint8_t(255 - i))) << i;
            ASSERT_EQ(planes.u[size_t(i)], StudioToFullChroma(uint8_t(i))) << i;
            ASSERT_EQ(planes.v[size_t(i)], StudioToFullChroma(uint8_t(255 - i))) << i;
        }
    }
}

// The compressor codes device frames strip by strip, straight from their
// layout: the same JPEG as the whole frame's planes coded at once, for
// every layout and for sizes that end in a partial MCU each way.
TEST(StudioPlanes, FramesCodedStripByStripEqualTheirPlanesCodedWhole) {
    std::mt19937 random(7);
    for (const YuvLayout layout :
         {YuvLayout::Yuy2, YuvLayout::Uyvy, YuvLayout::Nv12, YuvLayout::I420})
        for (const auto& [width, height] : {std::pair{64, 32}, {70, 38}, {38, 18}}) {
            SCOPED_TRACE(testing::Message() << int(layout) << " " << width << "x" << height);
            std::vector<uint8_t> frame(YuvImageSize(layout, width, height));
            for (size_t i = 0; i < frame.size(); ++i)  // gradients with noise
                frame[i] = uint8_t(16 + (i * 7) % 200 + random() % 24);
            YuvPlanes planes;
            StudioYuvToPlanes(frame.data(), layout, width, height, &planes);
            JpegEncoder encoder;
            std::vector<uint8_t> whole(JpegEncoder::MaxSize(width, height)), strips(whole.size());
            const size_t a = encoder.EncodeYuvPlanes(planes, 80, whole);
            const size_t b =
                encoder.EncodeStudioYuv(frame.data(), layout, width, height, 80, strips);
            ASSERT_GT(a, 0u);
            ASSERT_EQ(b, a);
            EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + long(a), strips.begin()));
        }
}

// A renderer that draws the picture smaller gets it made at that size: the
// decompressor decodes at the smallest DCT scale that still covers the
// drawn size and resamples it to that size when that is at most a halving,
// the converter keeps every n-th pixel; each such frame says its size on
// the sample, and shows the same picture.
TEST(PreviewSize, DecoderAndConverterMakeNoMorePixelsThanTheWindowDraws) {
    const Picture reference = Reference();
    const std::vector<uint8_t> jpeg = EncodeJpeg(reference, 90);
    const std::vector<uint8_t> yuy2 = ToYuy2(reference);
    struct Case {
        bool decoder;
        LONG draw_width, draw_height;
        int width, height;  // what comes out
    };
    const Case cases[] = {
        {true, 80, 60, 80, 60},      // 1/4 covers exactly
        {true, 81, 40, 160, 120},    // one pixel more: 1/2, too high to halve
        {true, 100, 75, 100, 75},    // 1/2, resampled (the page's window)
        {true, 30, 20, 30, 20},      // 1/8, resampled
        {true, 320, 240, 320, 240},  // full size: the connection's type
        {false, 80, 60, 80, 60},     // every fourth pixel
        {false, 100, 50, 106, 80},   // every third
        {false, 300, 200, 320, 240},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.decoder ? "decoder " : "converter ") << c.draw_width
                                        << "x" << c.draw_height);
        FilterHarness h(
            Make(c.decoder ? MjpegDecompressorClassEntry() : ColourConverterClassEntry()));
        TestSource* source = h.AddSource(c.decoder ? SourceOf(MEDIASUBTYPE_MJPG, 24, 1 << 20)
                                                   : SourceOf(MEDIASUBTYPE_YUY2, 16, yuy2.size()));
        TestSink::Options sink_options = SinkOf(MEDIASUBTYPE_RGB32);
        sink_options.draw_width = c.draw_width;
        sink_options.draw_height = c.draw_height;
        TestSink* sink = h.AddSink(sink_options);
        ASSERT_EQ(h.ConnectIn(source, u"XForm In"), S_OK);
        ASSERT_EQ(h.ConnectOut(u"XForm Out", sink), S_OK);
        ASSERT_TRUE(SUCCEEDED(h.Control()->Run()));
        ASSERT_EQ(source->Push(c.decoder ? jpeg : yuy2, 0, 400000), S_OK);
        ASSERT_TRUE(sink->WaitForSamples(1));
        h.Control()->Stop();
        const TestSink::Received frame = sink->ReceivedSamples().at(0);
        const bool reduced = c.width != kWidth;
        ASSERT_EQ(bool(frame.type.VideoInfo()), reduced);
        if (reduced) {
            EXPECT_EQ(frame.type->subtype, MEDIASUBTYPE_RGB32);
            EXPECT_EQ(frame.type.VideoInfo()->bmiHeader.biWidth, c.width);
            EXPECT_EQ(frame.type.VideoInfo()->bmiHeader.biHeight, c.height) << "bottom-up kept";
            EXPECT_EQ(frame.type.VideoInfo()->AvgTimePerFrame, 400000);
        }
        ASSERT_EQ(frame.data.size(), size_t(c.width) * c.height * 4);
        // The same picture: the reference taken at the same points.
        const Picture shown = FromRgb32(frame.data, c.width, c.height, true);
        Picture expected;
        expected.width = c.width;
        expected.height = c.height;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                // The decoder's pixels stand for their centres.
                const int sx =
                    c.decoder ? (2 * x + 1) * kWidth / (2 * c.width) : x * kWidth / c.width;
                const int sy =
                    c.decoder ? (2 * y + 1) * kHeight / (2 * c.height) : y * kHeight / c.height;
                expected.bgrx.insert(expected.bgrx.end(), reference.Pixel(sx, sy),
                                     reference.Pixel(sx, sy) + 4);
            }
        EXPECT_GT(Psnr(shown, expected), 20.0);
        h.Teardown();
    }
}

// Bilinear resampling reproduces a linear picture exactly wherever the
// output's pixel centres fall (each channel a ramp of its own direction),
// for ratios both ways, odd sizes that leave the vector code a tail, a
// single row or column, and either output row order.
TEST(Rgb32Scaler, ALinearPictureStaysLinearAtEveryRatio) {
    auto ramp = [](double x, double y, int c) {
        switch (c) {
            case 0:
                return 10 + 4.0 * x;
            case 1:
                return 20 + 6.0 * y;
            case 2:
                return 5 + 2.0 * x + 2.0 * y;
            default:
                return 77.0;
        }
    };
    const struct {
        int sw, sh, dw, dh;
    } cases[] = {{60, 40, 48, 32}, {61, 33, 37, 20}, {40, 30, 20, 15}, {30, 20, 45, 31},
                 {9, 1, 5, 1},     {1, 7, 1, 4},     {40, 40, 40, 40}};
    Rgb32Scaler scaler;
    for (const auto& c : cases)
        for (bool bottom_up : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh
                                            << (bottom_up ? " bottom-up" : ""));
            std::vector<uint8_t> src(size_t(c.sw) * c.sh * 4), dst(size_t(c.dw) * c.dh * 4);
            for (int y = 0; y < c.sh; ++y)
                for (int x = 0; x < c.sw; ++x)
                    for (int k = 0; k < 4; ++k)
                        src[(size_t(y) * c.sw + x) * 4 + k] = uint8_t(ramp(x, y, k));
            scaler.Scale(src.data(), c.sw, c.sh, dst.data(), c.dw, c.dh, bottom_up);
            double worst = 0;
            for (int y = 0; y < c.dh; ++y)
                for (int x = 0; x < c.dw; ++x) {
                    // The centre in source pixels, held inside the picture.
                    const double sx = std::clamp((x + 0.5) * c.sw / c.dw - 0.5, 0.0, c.sw - 1.0);
                    const double sy = std::clamp((y + 0.5) * c.sh / c.dh - 0.5, 0.0, c.sh - 1.0);
                    const int row = bottom_up ? c.dh - 1 - y : y;
                    for (int k = 0; k < 4; ++k) {
                        const double got = dst[(size_t(row) * c.dw + x) * 4 + k];
                        worst = std::max(worst, std::abs(got - ramp(sx, sy, k)));
                    }
                }
            // Each of the two passes rounds once; a centre half a source
            // pixel off would be 2 or more away.
            EXPECT_LE(worst, 1.1);
        }
}

TEST(MjpegCompressor, Yuy2AndRgbRoundTripsKeepThePictureAndQualitySetsTheSize) {
    const Picture reference = Reference();
    struct Case {
        GUID subtype;
        int bits;
        std::vector<uint8_t> frame;
        double min_psnr;
    };
    const Case cases[] = {
        {MEDIASUBTYPE_YUY2, 16, ToYuy2(reference), 30.0},
        {MEDIASUBTYPE_RGB32, 32, ToRgb32(reference, true), 32.0},
        {MEDIASUBTYPE_RGB24, 24, ToRgb24(reference, true), 32.0},
    };
    for (const Case& c : cases) {
        ComPtr<IBaseFilter> compressor = Make(MjpegCompressorClassEntry());
        FilterHarness h(compressor);
        TestSource* source = h.AddSource(SourceOf(c.subtype, c.bits, c.frame.size()));
        TestSink* sink = h.AddSink(SinkOf(MEDIASUBTYPE_MJPG));
        ASSERT_EQ(h.ConnectIn(source, u"XForm In"), S_OK);
        ASSERT_EQ(h.ConnectOut(u"XForm Out", sink), S_OK);
        ComPtr<IAMVideoCompression> quality;
        ASSERT_EQ(PinNamed(compressor.Get(), u"XForm Out")
                      ->QueryInterface(IAMVideoCompression::iid, quality.OutVoid()),
                  S_OK);
        EXPECT_TRUE(compressor.As<IAMVideoCompression>()) << "the filter answers it too";
        ASSERT_EQ(quality->put_Quality(0.95), S_OK);
        ASSERT_TRUE(SUCCEEDED(h.Control()->Run()));
        ASSERT_EQ(source->Push(c.frame, 0, 400000), S_OK);
        ASSERT_TRUE(sink->WaitForSamples(1));
        ASSERT_EQ(quality->put_Quality(0.05), S_OK);
        ASSERT_EQ(source->Push(c.frame, 400000, 800000), S_OK);
        ASSERT_TRUE(sink->WaitForSamples(2));
        h.Control()->Stop();
        const std::vector<TestSink::Received> frames = sink->ReceivedSamples();
        EXPECT_GT(Psnr(DecodeJpeg(frames[0].data), reference), c.min_psnr);
        EXPECT_LT(frames[1].data.size() * 2, frames[0].data.size());
        EXPECT_GT(Psnr(DecodeJpeg(frames[1].data), reference), 20.0);
        quality = nullptr;
        compressor = nullptr;
        h.Teardown();
    }
}

TEST(ColourConverter, ConvertsEachInputToRgb32InEitherRowOrder) {
    const Picture reference = Reference();
    struct Case {
        GUID subtype;
        int bits;
        int height;  // Negative: top-down.
        std::vector<uint8_t> frame;
        double min_psnr;
    };
    const Case cases[] = {
        {MEDIASUBTYPE_RGB24, 24, kHeight, ToRgb24(reference, true), INFINITY},
        {MEDIASUBTYPE_RGB24, 24, -kHeight, ToRgb24(reference, false), INFINITY},
        {MEDIASUBTYPE_YUY2, 16, kHeight, ToYuy2(reference), 35.0},
    };
    for (const Case& c : cases) {
        FilterHarness h(Make(ColourConverterClassEntry()));
        TestSource* source = h.AddSource(SourceOf(c.subtype, c.bits, c.frame.size(), c.height));
        TestSink* sink = h.AddSink(SinkOf(MEDIASUBTYPE_RGB32));
        ASSERT_EQ(h.ConnectIn(source, u"XForm In"), S_OK);
        ASSERT_EQ(h.ConnectOut(u"XForm Out", sink), S_OK);
        ASSERT_TRUE(SUCCEEDED(h.Control()->Run()));
        ASSERT_EQ(source->Push(c.frame, 0, 400000), S_OK);
        ASSERT_TRUE(sink->WaitForSamples(1));
        h.Control()->Stop();
        const Picture out = FromRgb32(sink->ReceivedSamples()[0].data, kWidth, kHeight, true);
        EXPECT_GE(Psnr(out, reference), c.min_psnr) << c.height;
        h.Teardown();
    }
    // MJPG is not a colour conversion.
    FilterHarness h(Make(ColourConverterClassEntry()));
    TestSource* mjpg = h.AddSource(SourceOf(MEDIASUBTYPE_MJPG, 24, 1 << 16));
    EXPECT_TRUE(FAILED(h.ConnectIn(mjpg, u"XForm In")));
}

// Takes the codec classes out of the process-wide registry again when the
// test ends, so other tests see the registry they expect.
struct CodecRegistration {
    CodecRegistration() {
        RegisterCodecClasses();
        RegisterCodecClasses();  // Idempotent.
    }
    ~CodecRegistration() {
        for (const GUID& clsid : {CLSID_MjpegDecompressor, CLSID_MjpegCompressor, CLSID_Colour,
                                  CLSID_Ffv1Compressor, CLSID_Ffv1Decompressor})
            com::ClassRegistry::Instance().Unregister(clsid);
    }
};

TEST(Codecs, ConnectInsertsThemByMerit) {
    CodecRegistration registration;
    for (const GUID& clsid : {CLSID_MjpegDecompressor, CLSID_MjpegCompressor, CLSID_Colour,
                              CLSID_Ffv1Compressor, CLSID_Ffv1Decompressor}) {
        const std::optional<com::ClassEntry> entry = com::ClassRegistry::Instance().Find(clsid);
        ASSERT_TRUE(entry.has_value());
        EXPECT_GT(entry->merit, uint32_t(com::MERIT_DO_NOT_USE));
        EXPECT_EQ(entry->categories, std::vector<GUID>{CLSID_LegacyAmFilterCategory});
    }
    struct Case {
        GUID from, to;
        GUID inserted;
    };
    const Case cases[] = {
        {MEDIASUBTYPE_MJPG, MEDIASUBTYPE_RGB32, CLSID_MjpegDecompressor},
        {MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB32, CLSID_Colour},
        {MEDIASUBTYPE_RGB32, MEDIASUBTYPE_MJPG, CLSID_MjpegCompressor},
        // Raw YUV to MJPG stays with the MJPEG Compressor; the FFV1 one is
        // taken only where FFV1 is wanted, and its decoder for FFV1 alone.
        {MEDIASUBTYPE_YUY2, MEDIASUBTYPE_MJPG, CLSID_MjpegCompressor},
        {MEDIASUBTYPE_NV12, MEDIASUBTYPE_MJPG, CLSID_MjpegCompressor},
        {MEDIASUBTYPE_YUY2, MEDIASUBTYPE_FFV1, CLSID_Ffv1Compressor},
        {MEDIASUBTYPE_FFV1, MEDIASUBTYPE_YUY2, CLSID_Ffv1Decompressor},
    };
    for (const Case& c : cases) {
        ComPtr<IFilterGraph2> graph = CreateFilterGraph();
        ComPtr<TestSource> source = TestSource::Make(SourceOf(c.from, 16, 1 << 20));
        ComPtr<TestSink> sink = TestSink::Make(SinkOf(c.to));
        graph->AddFilter(source->Filter(), u"Source");
        graph->AddFilter(sink->Filter(), u"Sink");
        ASSERT_EQ(graph->Connect(source->Output(), sink->Input()), S_OK);
        ComPtr<IPin> peer;
        ASSERT_EQ(source->Output()->ConnectedTo(peer.ReleaseAndGetAddressOf()), S_OK);
        GUID clsid;
        PinFilter(peer.Get())->GetClassID(&clsid);
        EXPECT_EQ(clsid, c.inserted);
        EXPECT_EQ(sink->Input()->ConnectionType()->subtype, c.to);
    }
}

// A picture in `layout` (kWidth x kHeight): smooth ramps with a disc and,
// in its lower half, noise no coder can shrink; and the YUY2 the FFV1
// Decompressor gives back for it (4:2:0 chroma rows used twice).
struct LayoutPicture {
    std::vector<uint8_t> packed;
    std::vector<uint8_t> yuy2;
};

LayoutPicture MakeLayoutPicture(YuvLayout layout, uint32_t seed) {
    const int cw = kWidth / 2, ch = IsYuv420(layout) ? kHeight / 2 : kHeight;
    std::mt19937 random(seed);
    std::vector<uint8_t> y(size_t(kWidth) * kHeight), u(size_t(cw) * ch), v(size_t(cw) * ch);
    auto value = [&](int x, int row, int rows, int bias) {
        if (row >= rows / 2)
            return uint8_t(random());
        const bool disc = (x - 60) * (x - 60) + (row - rows / 4) * (row - rows / 4) < 900;
        return uint8_t(disc ? bias : (x * 3 + row * 2 + bias) & 0xFF);
    };
    for (int row = 0; row < kHeight; ++row)
        for (int x = 0; x < kWidth; ++x)
            y[size_t(row) * kWidth + x] = value(x, row, kHeight, 16);
    for (int row = 0; row < ch; ++row)
        for (int x = 0; x < cw; ++x) {
            u[size_t(row) * cw + x] = value(x, row, ch, 90);
            v[size_t(row) * cw + x] = value(x, row, ch, 200);
        }
    LayoutPicture p;
    p.packed.resize(YuvImageSize(layout, kWidth, kHeight));
    p.yuy2.resize(Yuy2ImageSize(kWidth, kHeight));
    for (int row = 0; row < kHeight; ++row) {
        const int crow = IsYuv420(layout) ? row / 2 : row;
        for (int x = 0; x < cw; ++x) {
            const uint8_t y0 = y[size_t(row) * kWidth + 2 * x],
                          y1 = y[size_t(row) * kWidth + 2 * x + 1];
            const uint8_t cu = u[size_t(crow) * cw + x], cv = v[size_t(crow) * cw + x];
            uint8_t* o = p.yuy2.data() + (size_t(row) * kWidth + 2 * x) * 2;
            o[0] = y0, o[1] = cu, o[2] = y1, o[3] = cv;
            uint8_t* q = p.packed.data() + (size_t(row) * kWidth + 2 * x) * 2;
            if (layout == YuvLayout::Yuy2)
                q[0] = y0, q[1] = cu, q[2] = y1, q[3] = cv;
            else if (layout == YuvLayout::Uyvy)
                q[0] = cu, q[1] = y0, q[2] = cv, q[3] = y1;
        }
    }
    if (IsYuv420(layout)) {
        std::copy(y.begin(), y.end(), p.packed.begin());
        uint8_t* chroma = p.packed.data() + y.size();
        for (size_t i = 0; i < u.size(); ++i) {
            if (layout == YuvLayout::Nv12) {
                chroma[2 * i] = u[i];
                chroma[2 * i + 1] = v[i];
            } else {
                chroma[i] = u[i];
                chroma[u.size() + i] = v[i];
            }
        }
    }
    return p;
}

// The threads of this process.
size_t ProcessThreads() {
    // A thread started and joined first: runtimes that start a helper of
    // their own with the first thread (ThreadSanitizer's) have it counted
    // from the start.
    std::thread([] {}).join();
    return size_t(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                std::filesystem::directory_iterator()));
}

// Every layout through the FFV1 Compressor and back through the FFV1
// Decompressor, each frame on its own codec stream state: the samples come
// back unchanged, the type carries the stream's record after its bitmap
// header, a frame of noise fits the output buffer, a corrupt frame is
// skipped, and the codecs' own threads are gone once the filters stop.
TEST(Ffv1Codecs, EveryLayoutComesBackSampleForSample) {
    const struct {
        const char* name;
        GUID subtype;
        YuvLayout layout;
        int bits;
    } cases[] = {
        {"YUY2", MEDIASUBTYPE_YUY2, YuvLayout::Yuy2, 16},
        {"UYVY", MEDIASUBTYPE_UYVY, YuvLayout::Uyvy, 16},
        {"NV12", MEDIASUBTYPE_NV12, YuvLayout::Nv12, 12},
        {"I420", MEDIASUBTYPE_I420, YuvLayout::I420, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const LayoutPicture pictures[] = {MakeLayoutPicture(c.layout, 1),
                                          MakeLayoutPicture(c.layout, 2)};
        std::vector<std::vector<uint8_t>> coded;
        MediaType coded_type;
        {
            FilterHarness h(Make(Ffv1CompressorClassEntry()));
            TestSource* source =
                h.AddSource(SourceOf(c.subtype, c.bits, pictures[0].packed.size()));
            TestSink* sink = h.AddSink(SinkOf(MEDIASUBTYPE_FFV1));
            ASSERT_EQ(h.ConnectIn(source, u"XForm In"), S_OK);
            ASSERT_EQ(h.ConnectOut(u"XForm Out", sink), S_OK);
            coded_type = sink->Input()->ConnectionType();
            const size_t threads = ProcessThreads();
            ASSERT_TRUE(SUCCEEDED(h.Control()->Run()));
            for (int i = 0; i < 2; ++i)
                ASSERT_EQ(source->Push(pictures[i].packed, i * 400000, (i + 1) * 400000), S_OK);
            ASSERT_TRUE(sink->WaitForSamples(2));
            h.Control()->Stop();
            EXPECT_EQ(ProcessThreads(), threads) << "a coding thread outlived the stop";
            for (const TestSink::Received& r : sink->ReceivedSamples())
                coded.push_back(r.data);
            h.Teardown();
        }
        const VIDEOINFOHEADER* vih = coded_type.VideoInfo();
        ASSERT_TRUE(vih);
        EXPECT_EQ(vih->bmiHeader.biCompression, MEDIASUBTYPE_FFV1.Data1);
        ASSERT_GT(coded_type->cbFormat, sizeof(VIDEOINFOHEADER)) << "no configuration record";
        EXPECT_EQ(vih->bmiHeader.biSize,
                  sizeof(BITMAPINFOHEADER) + coded_type->cbFormat - sizeof(VIDEOINFOHEADER));
        ASSERT_EQ(coded.size(), 2u);
        EXPECT_LT(coded[0].size(), pictures[0].packed.size()) << "nothing was compressed";

        FilterHarness h(Make(Ffv1DecompressorClassEntry()));
        TestSource::Options options;
        options.types = {coded_type};
        options.buffer_size = LONG(vih->bmiHeader.biSizeImage);
        TestSource* source = h.AddSource(options);
        TestSink* sink = h.AddSink(SinkOf(MEDIASUBTYPE_YUY2));
        ASSERT_EQ(h.ConnectIn(source, u"XForm In"), S_OK);
        ASSERT_EQ(h.ConnectOut(u"XForm Out", sink), S_OK);
        const size_t threads = ProcessThreads();
        ASSERT_TRUE(SUCCEEDED(h.Control()->Run()));
        // The second frame first: each frame decodes on its own.
        ASSERT_EQ(source->Push(coded[1], 0, 400000), S_OK);
        ASSERT_EQ(source->Push({1, 2, 3, 4, 5, 6, 7, 8}, 400000, 800000), S_OK)
            << "a corrupt frame is skipped, not an error";
        ASSERT_EQ(source->Push(coded[0], 800000, 1200000), S_OK);
        ASSERT_TRUE(sink->WaitForSamples(2));
        h.Control()->Stop();
        EXPECT_EQ(ProcessThreads(), threads) << "a decoding thread outlived the stop";
        const std::vector<TestSink::Received> frames = sink->ReceivedSamples();
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_TRUE(frames[0].data == pictures[1].yuy2);
        EXPECT_TRUE(frames[1].data == pictures[0].yuy2);
        EXPECT_EQ(frames[1].start, 800000);
        h.Teardown();
    }
}

TEST(MjpegDecompressor, StopWakesAFrameWaitingForAnOutputBuffer) {
    FilterHarness h(Make(MjpegDecompressorClassEntry()));
    TestSource* source = h.AddSource(SourceOf(MEDIASUBTYPE_MJPG, 24, 1 << 20));
    TestSink::Options options = SinkOf(MEDIASUBTYPE_RGB32);
    options.block = true;
    TestSink* sink = h.AddSink(options);
    ASSERT_EQ(h.ConnectIn(source, u"XForm In"), S_OK);
    ASSERT_EQ(h.ConnectOut(u"XForm Out", sink), S_OK);
    ASSERT_TRUE(SUCCEEDED(h.Control()->Run()));
    const std::vector<uint8_t> jpeg = EncodeJpeg(Reference(), 50);
    // The sink holds one frame, the pool has three: the pusher ends up
    // waiting inside the decompressor for a buffer.
    std::thread pusher([&] {
        for (int i = 0; i < 8; ++i)
            if (source->Push(jpeg) != S_OK)
                break;
    });
    ASSERT_TRUE(sink->WaitForBlocked());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(h.Control()->Stop(), S_OK);
    pusher.join();
    h.Teardown();
}

}  // namespace
}  // namespace ronvix::media::test
