// The pixel formats of V4L2 capture devices against the scripted fake: each
// studio-range YUV layout captured through the MJPEG Compressor matches the
// picture the device was given, the row padding and the bytes the driver
// filled are honoured, and the field order and display aspect of an analog
// card travel with the first frame.

#include <gtest/gtest.h>

#include <cmath>

#include "platform/com/devices.h"
#include "platform/media/codecs/codecs.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/codecs/videotransform.h"
#include "platform/media/core/capturebuilder.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/core/graph.h"
#include "platform/media/devices/v4l2/fake_v4l2.h"
#include "platform/media/devices/v4l2/v4l2device.h"
#include "platform/media/plumbing/plumbing.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media::test {
namespace {

using com::GUID_NULL;
using com::S_OK;
using com::VFW_E_TYPE_NOT_ACCEPTED;

constexpr char kCam[] = "/dev/video0";

// A picture in RGB (B, G, R, X per pixel, top-down) and the same picture as
// a device would send it: BT.601 studio range with the layout's chroma
// sampling, rows padded to the node's bytes per line.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgrx;
};

// Smooth colour gradients (JPEG codes them well, so what is left is the
// conversion's error), with a patch above studio white and one below black
// in the middle.
Picture TestPicture(int width, int height) {
    Picture p{width, height, std::vector<uint8_t>(size_t(width) * height * 4)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* px = p.bgrx.data() + (size_t(y) * width + x) * 4;
            px[2] = uint8_t(30 + 190 * x / width);
            px[1] = uint8_t(220 - 180 * y / height);
            px[0] = uint8_t(128 + 100 * std::sin(double(x + y) / 20.0));
            px[3] = 255;
        }
    return p;
}

struct Patch {
    int x0, y0, x1, y1;
    uint8_t studio_luma;  // What the device sends there, chroma neutral.
    uint8_t rgb;          // What it shows as.
};
// Super-white (studio 250) shows as full white; sub-black (studio 4) as
// black: neither wraps round.
Patch SuperWhite(const Picture& p) {
    return {p.width / 4, p.height / 4, p.width / 2, p.height / 2, 250, 255};
}
Patch SubBlack(const Picture& p) {
    return {p.width / 2, p.height / 2, 3 * p.width / 4, 3 * p.height / 4, 4, 0};
}

struct Yuv {
    double y, u, v;
};
Yuv StudioOf(const uint8_t* bgrx) {
    const double r = bgrx[2] / 255.0, g = bgrx[1] / 255.0, b = bgrx[0] / 255.0;
    return {16 + 65.481 * r + 128.553 * g + 24.966 * b, 128 - 37.797 * r - 74.203 * g + 112.0 * b,
            128 + 112.0 * r - 93.786 * g - 18.214 * b};
}

// The picture as a V4L2 buffer of `fourcc` with `pad` bytes after each
// (luma) row; fields stored one after the other when `sequential`.
std::vector<uint8_t> DeviceFrame(const Picture& p, uint32_t fourcc, uint32_t pad,
                                 const std::vector<Patch>& patches) {
    const int w = p.width, h = p.height;
    std::vector<double> Y(size_t(w) * h), U(Y.size()), V(Y.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            const Yuv c = StudioOf(p.bgrx.data() + i * 4);
            Y[i] = c.y;
            U[i] = c.u;
            V[i] = c.v;
            for (const Patch& patch : patches)
                if (x >= patch.x0 && x < patch.x1 && y >= patch.y0 && y < patch.y1) {
                    Y[i] = patch.studio_luma;
                    U[i] = V[i] = 128;
                }
        }
    auto q = [](double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); };
    const bool planar = fourcc == V4L2_PIX_FMT_NV12 || fourcc == V4L2_PIX_FMT_YUV420;
    const size_t bpl = size_t(w) * (planar ? 1 : 2) + pad;
    std::vector<uint8_t> out(bpl * size_t(planar ? h + h / 2 : h), 0xEE);
    if (!planar) {
        const bool yuyv = fourcc == V4L2_PIX_FMT_YUYV;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; x += 2) {
                const size_t i = size_t(y) * w + x;
                uint8_t* at = out.data() + size_t(y) * bpl + size_t(x) * 2;
                const uint8_t u = q((U[i] + U[i + 1]) / 2), v = q((V[i] + V[i + 1]) / 2);
                const uint8_t y0 = q(Y[i]), y1 = q(Y[i + 1]);
                if (yuyv) {
                    at[0] = y0, at[1] = u, at[2] = y1, at[3] = v;
                } else {
                    at[0] = u, at[1] = y0, at[2] = v, at[3] = y1;
                }
            }
        return out;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out[size_t(y) * bpl + size_t(x)] = q(Y[size_t(y) * w + x]);
    uint8_t* chroma = out.data() + bpl * size_t(h);
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) {
            double u = 0, v = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    u += U[size_t(2 * y + dy) * w + 2 * x + dx];
                    v += V[size_t(2 * y + dy) * w + 2 * x + dx];
                }
            if (fourcc == V4L2_PIX_FMT_NV12) {
                chroma[size_t(y) * bpl + 2 * size_t(x)] = q(u / 4);
                chroma[size_t(y) * bpl + 2 * size_t(x) + 1] = q(v / 4);
            } else {
                const size_t cbpl = bpl / 2;
                chroma[size_t(y) * cbpl + size_t(x)] = q(u / 4);
                chroma[cbpl * size_t(h / 2) + size_t(y) * cbpl + size_t(x)] = q(v / 4);
            }
        }
    return out;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i % 4 == 3)
            continue;  // X
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
        ++n;
    }
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (sum / double(n)));
}

double PatchMean(const std::vector<uint8_t>& bgrx, int width, const Patch& p) {
    double sum = 0;
    int n = 0;
    for (int y = p.y0 + 2; y < p.y1 - 2; ++y)
        for (int x = p.x0 + 2; x < p.x1 - 2; ++x)
            for (int c = 0; c < 3; ++c, ++n)
                sum += bgrx[(size_t(y) * width + x) * 4 + size_t(c)];
    return sum / n;
}

// A camera of one raw format, through a converter into a sink: the MJPEG
// Compressor, as a capture graph has it, or the Colour Space Converter, as
// the preview has it.
class CompressedCapture {
public:
    CompressedCapture(ScopedFakeV4l2& fake, FakeNode node,
                      const com::ClassEntry& converter = MjpegCompressorClassEntry(),
                      const GUID& output = MEDIASUBTYPE_MJPG)
        : m_fake(fake), sink(TestSink::Make({{MediaType::Partial(MEDIATYPE_Video, output)}})) {
        m_fake->AddNode(kCam, std::move(node));
        RegisterV4l2Devices();
        RegisterCodecClasses();
        const auto devices =
            com::DeviceRegistry::Instance().Enumerate(CLSID_VideoInputDeviceCategory);
        EXPECT_EQ(devices.size(), 1u);
        if (devices.empty())
            return;
        EXPECT_EQ(devices[0].description.create(IBaseFilter::iid, camera.OutVoid()), S_OK);
        EXPECT_EQ(converter.create(IBaseFilter::iid, compressor.OutVoid()), S_OK);
        graph->AddFilter(camera.Get(), u"Camera");
        graph->AddFilter(compressor.Get(), u"Compressor");
        graph->AddFilter(sink->Filter(), u"Sink");
    }
    ~CompressedCapture() { graph.As<IMediaControl>()->Stop(); }

    HRESULT Connect() {
        HRESULT hr = graph->ConnectDirect(PinNamed(camera.Get(), u"Capture").Get(),
                                          FirstPin(compressor.Get(), PINDIR_INPUT).Get(), nullptr);
        if (SUCCEEDED(hr))
            hr = graph->ConnectDirect(FirstPin(compressor.Get(), PINDIR_OUTPUT).Get(),
                                      sink->Input(), nullptr);
        return hr;
    }
    HRESULT Run() {
        const HRESULT hr = graph.As<IMediaControl>()->Run();
        if (SUCCEEDED(hr)) {
            EXPECT_TRUE(sink->WaitFor([&] { return m_fake->Streaming(kCam); }));
        }
        return hr;
    }
    void Feed(uint32_t sequence, std::vector<uint8_t> data) {
        m_fake->Feed(kCam, FakeFrame{std::move(data), sequence,
                                     MonotonicNow100ns() + REFERENCE_TIME(sequence) * 400'000, 0});
    }
    LONG Dropped() {
        LONG n = -1;
        PinNamed(camera.Get(), u"Capture").As<IAMDroppedFrames>()->GetNumDropped(&n);
        return n;
    }

    ScopedFakeV4l2& m_fake;
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<IBaseFilter> camera;
    ComPtr<IBaseFilter> compressor;
    ComPtr<TestSink> sink;
};

FakeNode RawCamera(uint32_t fourcc, uint32_t width, uint32_t height, uint32_t pad) {
    FakeNode node;
    node.card = "Raw Camera";
    node.formats = {FakeFormat{fourcc, {FakeSize{width, height, {{1, 25}}}}}};
    node.fourcc = fourcc;
    node.width = width;
    node.height = height;
    node.interval = {1, 25};
    node.row_padding = pad;
    return node;
}

TEST(V4l2Formats, EachYuvLayoutIsCompressedFromTheDevicePictureWithItsRangeExpanded) {
    struct Case {
        uint32_t fourcc;
        GUID subtype;
        uint32_t pad;
    };
    const Case cases[] = {{V4L2_PIX_FMT_YUYV, MEDIASUBTYPE_YUY2, 0},
                          {V4L2_PIX_FMT_UYVY, MEDIASUBTYPE_UYVY, 64},
                          {V4L2_PIX_FMT_NV12, MEDIASUBTYPE_NV12, 32},
                          {V4L2_PIX_FMT_YUV420, MEDIASUBTYPE_I420, 32}};
    constexpr int kW = 160, kH = 96;
    const Picture picture = TestPicture(kW, kH);
    std::vector<Patch> patches = {SuperWhite(picture), SubBlack(picture)};
    Picture shown = picture;  // What the patches show as.
    for (const Patch& p : patches)
        for (int y = p.y0; y < p.y1; ++y)
            for (int x = p.x0; x < p.x1; ++x)
                for (int c = 0; c < 3; ++c)
                    shown.bgrx[(size_t(y) * kW + x) * 4 + size_t(c)] = p.rgb;

    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(reinterpret_cast<const char*>(&c.fourcc), 4));
        ScopedFakeV4l2 fake;
        CompressedCapture capture(fake, RawCamera(c.fourcc, kW, kH, c.pad));
        ASSERT_TRUE(capture.camera);
        AM_MEDIA_TYPE* offered = nullptr;
        ASSERT_EQ(
            PinNamed(capture.camera.Get(), u"Capture").As<IAMStreamConfig>()->GetFormat(&offered),
            S_OK);
        EXPECT_EQ(offered->subtype, c.subtype);
        DeleteMediaType(offered);
        ASSERT_EQ(capture.Connect(), S_OK);
        ASSERT_TRUE(SUCCEEDED(capture.Run()));

        const std::vector<uint8_t> frame = DeviceFrame(picture, c.fourcc, c.pad, patches);
        capture.Feed(0, frame);
        // The driver filled the buffer short: the frame is not sent with
        // what the buffer held before.
        capture.Feed(1, std::vector<uint8_t>(frame.begin(), frame.end() - ptrdiff_t(c.pad + 8)));
        capture.Feed(2, frame);
        ASSERT_TRUE(capture.sink->WaitForSamples(2));
        ASSERT_TRUE(capture.sink->WaitFor([&] { return fake->PendingFrames(kCam) == 0; }));
        EXPECT_EQ(capture.Dropped(), 1);

        const auto received = capture.sink->ReceivedSamples();
        ASSERT_EQ(received.size(), 2u);
        JpegDecoder decoder;
        std::vector<uint8_t> decoded(size_t(kW) * kH * 4);
        ASSERT_TRUE(decoder.DecodeRgb32(received[0].data, kW, kH, false, decoded.data()));
        EXPECT_GE(Psnr(decoded, shown.bgrx), 35.0);
        EXPECT_GE(PatchMean(decoded, kW, patches[0]), 250.0) << "super-white is white";
        EXPECT_LE(PatchMean(decoded, kW, patches[1]), 5.0) << "sub-black is black";
        EXPECT_EQ(received[1].data, received[0].data) << "the same picture codes the same";
    }
}

TEST(V4l2Formats, EachYuvLayoutIsPreviewedWithItsRangeExpanded) {
    constexpr int kW = 64, kH = 48;
    const Picture picture = TestPicture(kW, kH);
    const std::vector<Patch> patches = {SuperWhite(picture), SubBlack(picture)};
    for (uint32_t fourcc :
         {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_UYVY, V4L2_PIX_FMT_NV12, V4L2_PIX_FMT_YUV420}) {
        SCOPED_TRACE(std::string(reinterpret_cast<const char*>(&fourcc), 4));
        ScopedFakeV4l2 fake;
        CompressedCapture preview(fake, RawCamera(fourcc, kW, kH, 16), ColourConverterClassEntry(),
                                  MEDIASUBTYPE_RGB32);
        ASSERT_EQ(preview.Connect(), S_OK);
        ASSERT_TRUE(SUCCEEDED(preview.Run()));
        preview.Feed(0, DeviceFrame(picture, fourcc, 16, patches));
        ASSERT_TRUE(preview.sink->WaitForSamples(1));
        const std::vector<uint8_t> shown = preview.sink->ReceivedSamples()[0].data;
        ASSERT_EQ(shown.size(), size_t(kW) * kH * 4);
        // Bottom-up rows, as RGB32 with a positive height has them.
        std::vector<uint8_t> top_down(shown.size());
        for (int y = 0; y < kH; ++y)
            std::memcpy(&top_down[size_t(y) * kW * 4], &shown[size_t(kH - 1 - y) * kW * 4],
                        size_t(kW) * 4);
        for (const Patch& p : patches)
            EXPECT_NEAR(PatchMean(top_down, kW, p), p.rgb, 1.0);
        // Chroma at half resolution blurs the gradient's edges a little.
        EXPECT_GE(
            Psnr(top_down,
                 [&] {
                     Picture shown_picture = picture;
                     for (const Patch& p : patches)
                         for (int y = p.y0; y < p.y1; ++y)
                             for (int x = p.x0; x < p.x1; ++x)
                                 for (int c = 0; c < 3; ++c)
                                     shown_picture.bgrx[(size_t(y) * kW + x) * 4 + size_t(c)] =
                                         p.rgb;
                     return shown_picture.bgrx;
                 }()),
            35.0);
    }
}

// An analog card: PAL and NTSC, three inputs, both fields in each frame.
FakeNode AnalogCard(uint32_t field) {
    FakeNode node;
    node.card = "BT878 video";
    node.formats = {FakeFormat{V4L2_PIX_FMT_UYVY, {}}};  // A scaler: no sizes listed.
    node.fourcc = V4L2_PIX_FMT_UYVY;
    node.width = 720;
    node.height = 576;
    node.interval = {1, 25};
    node.fixed_rate = true;
    node.field = field;
    node.field_as_asked = field == V4L2_FIELD_INTERLACED;
    node.standards = {{"PAL", V4L2_STD_PAL}, {"NTSC", V4L2_STD_NTSC}, {"SECAM", V4L2_STD_SECAM}};
    node.std = V4L2_STD_PAL;
    node.inputs = {FakeInput{"Television", V4L2_INPUT_TYPE_TUNER, V4L2_STD_ALL, 0b01, 0},
                   FakeInput{"Composite1", V4L2_INPUT_TYPE_CAMERA, V4L2_STD_ALL, 0b10, 0},
                   FakeInput{"S-Video", V4L2_INPUT_TYPE_CAMERA, V4L2_STD_ALL, 0b10, 0}};
    node.audio_inputs = {"Tuner", "Line"};
    return node;
}

TEST(V4l2Formats, AnAnalogCardOffersItsStandardFrameAndItsFirstFrameTellsFieldsAndAspect) {
    struct Case {
        const char* name;
        uint32_t field;
        v4l2_std_id std;
        bool top_first;
        bool woven;  // Fields stored one after the other, woven by the camera.
    };
    const Case cases[] = {
        {"interlaced PAL", V4L2_FIELD_INTERLACED, V4L2_STD_PAL, true, false},
        {"interlaced NTSC", V4L2_FIELD_INTERLACED, V4L2_STD_NTSC, false, false},
        {"bottom first", V4L2_FIELD_INTERLACED_BT, V4L2_STD_PAL, false, false},
        {"sequential, top first", V4L2_FIELD_SEQ_TB, V4L2_STD_PAL, true, true},
        {"sequential, bottom first", V4L2_FIELD_SEQ_BT, V4L2_STD_NTSC, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedFakeV4l2 fake;
        FakeNode node = AnalogCard(c.field);
        node.std = c.std;
        node.height = (c.std & V4L2_STD_525_60) ? 480 : 576;
        node.interval = (c.std & V4L2_STD_525_60) ? v4l2_fract{1001, 30000} : v4l2_fract{1, 25};
        const uint32_t lines = node.height;
        fake->AddNode(kCam, node);
        RegisterV4l2Devices();
        const auto devices =
            com::DeviceRegistry::Instance().Enumerate(CLSID_VideoInputDeviceCategory);
        ASSERT_EQ(devices.size(), 1u);
        ComPtr<IBaseFilter> camera;
        ASSERT_EQ(devices[0].description.create(IBaseFilter::iid, camera.OutVoid()), S_OK);
        ComPtr<IPin> pin = PinNamed(camera.Get(), u"Capture");

        // Without sizes from the driver, the standard's frames are offered.
        auto config = pin.As<IAMStreamConfig>();
        int count = 0, size = 0;
        ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
        ASSERT_GE(count, 2);
        AM_MEDIA_TYPE* first = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps{};
        ASSERT_EQ(config->GetStreamCaps(0, &first, reinterpret_cast<BYTE*>(&caps)), S_OK);
        VideoGeometry g;
        ASSERT_TRUE(ReadGeometry(*first, &g));
        DeleteMediaType(first);
        EXPECT_EQ(g.width, 720);
        EXPECT_EQ(g.height, int(lines));

        ComPtr<IFilterGraph2> graph = CreateFilterGraph();
        ComPtr<TestSink> sink = TestSink::Make({{MediaType::Partial(MEDIATYPE_Video)}});
        graph->AddFilter(camera.Get(), u"Camera");
        graph->AddFilter(sink->Filter(), u"Sink");
        const MediaType asked = MediaType::Video(MEDIASUBTYPE_UYVY, 720, int(lines), 16, 0);
        ASSERT_EQ(graph->ConnectDirect(pin.Get(), sink->Input(), &asked.Get()), S_OK);
        ASSERT_TRUE(SUCCEEDED(graph.As<IMediaControl>()->Run()));
        ASSERT_TRUE(sink->WaitFor([&] { return fake->Streaming(kCam); }));
        // The buffer's first half of lines is 40, the second 200: woven, the
        // frame's lines alternate.
        std::vector<uint8_t> data(size_t(720) * 2 * lines);
        for (uint32_t row = 0; row < lines; ++row)
            for (size_t x = 0; x < 720 * 2; x += 2) {
                data[row * 1440 + x] = 128;
                data[row * 1440 + x + 1] = row < lines / 2 ? 40 : 200;
            }
        fake->Feed(kCam, FakeFrame{data, 0, MonotonicNow100ns(), 0});
        fake->Feed(kCam, FakeFrame{data, 1, MonotonicNow100ns(), 0});
        ASSERT_TRUE(sink->WaitForSamples(2));
        graph.As<IMediaControl>()->Stop();

        const auto frames = sink->ReceivedSamples();
        const MediaType& type = frames[0].type;
        ASSERT_EQ(type->formattype, FORMAT_VideoInfo2);
        ASSERT_GE(type->cbFormat, sizeof(VIDEOINFOHEADER2));
        VIDEOINFOHEADER2 vih2;
        std::memcpy(&vih2, type->pbFormat, sizeof vih2);
        EXPECT_EQ(vih2.dwInterlaceFlags & AMINTERLACE_IsInterlaced, AMINTERLACE_IsInterlaced);
        EXPECT_EQ((vih2.dwInterlaceFlags & AMINTERLACE_Field1First) != 0, c.top_first);
        EXPECT_EQ(vih2.dwInterlaceFlags & AMINTERLACE_FieldPatternMask,
                  AMINTERLACE_FieldPatBothRegular);
        EXPECT_EQ(vih2.dwPictAspectRatioX, 4u);
        EXPECT_EQ(vih2.dwPictAspectRatioY, 3u);
        EXPECT_EQ(vih2.AvgTimePerFrame, (c.std & V4L2_STD_525_60) ? 333'667 : 400'000);
        EXPECT_EQ(vih2.bmiHeader.biWidth, 720);
        EXPECT_EQ(frames[1].type->formattype, GUID_NULL) << "once, on the first frame";

        const std::vector<uint8_t>& got = frames[0].data;
        ASSERT_EQ(got.size(), data.size());
        const uint8_t line0 = got[1], line1 = got[1440 + 1];
        if (c.woven) {
            // The field stored first holds the frame's first line when it is
            // the top field.
            EXPECT_EQ(line0, c.top_first ? 40 : 200);
            EXPECT_EQ(line1, c.top_first ? 200 : 40);
        } else {
            EXPECT_EQ(line0, 40);
            EXPECT_EQ(line1, 40);
        }
    }
}

// The capture stream as the window builds it (a Smart Tee for the
// preview, the MJPEG Compressor the MJPG-only grabber needs, the grabber,
// sync) hands the first frame's VideoInfo2 type on to what takes the
// stream (the mux): MJPG now, with the fields and the aspect.
TEST(V4l2Formats, TheFirstFramesFieldsAndAspectReachTheEndOfTheCapturePath) {
    ScopedFakeV4l2 fake;
    fake->AddNode(kCam, AnalogCard(V4L2_FIELD_INTERLACED));
    RegisterV4l2Devices();
    RegisterEngineClasses();
    RegisterCodecClasses();
    const auto devices = com::DeviceRegistry::Instance().Enumerate(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(devices.size(), 1u);
    ComPtr<IBaseFilter> camera, grabber, sync, preview;
    ASSERT_EQ(devices[0].description.create(IBaseFilter::iid, camera.OutVoid()), S_OK);
    ASSERT_EQ(SampleGrabberClassEntry().create(IBaseFilter::iid, grabber.OutVoid()), S_OK);
    ASSERT_EQ(SyncClassEntry().create(IBaseFilter::iid, sync.OutVoid()), S_OK);
    const MediaType mjpg = MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_MJPG, FORMAT_VideoInfo);
    ASSERT_EQ(grabber.As<ISampleGrabber>()->SetMediaType(&mjpg.Get()), S_OK);
    ComPtr<TestSink> mux = TestSink::Make({{MediaType::Partial(MEDIATYPE_Video)}});
    ComPtr<TestSink> screen = TestSink::Make({{MediaType::Partial(MEDIATYPE_Video)}});
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(CreateCaptureGraphBuilderInstance(ICaptureGraphBuilder2::iid, builder.OutVoid()),
              S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
    for (auto [filter, name] : {std::pair{camera.Get(), u"Camera"},
                                {grabber.Get(), u"Grabber"},
                                {sync.Get(), u"sync"},
                                {mux->Filter(), u"Mux"},
                                {screen->Filter(), u"Screen"}})
        ASSERT_EQ(graph->AddFilter(filter, name), S_OK);
    // Through a Smart Tee: the camera has no preview pin of its own.
    ASSERT_TRUE(SUCCEEDED(builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, camera.Get(),
                                                nullptr, screen->Filter())));
    ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, camera.Get(), grabber.Get(),
                                    sync.Get()),
              S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, nullptr, sync.Get(), nullptr, mux->Filter()), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.As<IMediaControl>()->Run()));
    ASSERT_TRUE(mux->WaitFor([&] { return fake->Streaming(kCam); }));
    for (uint32_t i = 0; i < 3; ++i)
        fake->Feed(kCam, FakeFrame{std::vector<uint8_t>(size_t(720) * 576 * 2, 0x80), i,
                                   MonotonicNow100ns(), 0});
    ASSERT_TRUE(mux->WaitForSamples(3));
    graph.As<IMediaControl>()->Stop();

    const auto frames = mux->ReceivedSamples();
    const MediaType& type = frames[0].type;
    EXPECT_EQ(type->subtype, MEDIASUBTYPE_MJPG);
    ASSERT_EQ(type->formattype, FORMAT_VideoInfo2);
    ASSERT_EQ(type->cbFormat, sizeof(VIDEOINFOHEADER2));
    VIDEOINFOHEADER2 vih2;
    std::memcpy(&vih2, type->pbFormat, sizeof vih2);
    EXPECT_EQ(vih2.dwInterlaceFlags, AMINTERLACE_IsInterlaced | AMINTERLACE_Field1First |
                                         AMINTERLACE_FieldPatBothRegular |
                                         AMINTERLACE_DisplayModeBobOrWeave);
    EXPECT_EQ(vih2.dwPictAspectRatioX, 4u);
    EXPECT_EQ(vih2.dwPictAspectRatioY, 3u);
    EXPECT_EQ(vih2.AvgTimePerFrame, 400'000);
    EXPECT_EQ(vih2.bmiHeader.biCompression, MEDIASUBTYPE_MJPG.Data1);
    EXPECT_EQ(vih2.bmiHeader.biWidth, 720);
    EXPECT_EQ(vih2.bmiHeader.biHeight, 576);
    EXPECT_EQ(frames[1].type->formattype, GUID_NULL);
    for (IBaseFilter* f :
         {camera.Get(), grabber.Get(), sync.Get(), mux->Filter(), screen->Filter()})
        graph->RemoveFilter(f);
}

TEST(V4l2Formats, ADriverThatSendsOneFieldPerBufferIsRefusedWhenTheStreamStarts) {
    ScopedFakeV4l2 fake;
    fake->AddNode(kCam, AnalogCard(V4L2_FIELD_ALTERNATE));
    RegisterV4l2Devices();
    ComPtr<IBaseFilter> camera;
    const auto devices = com::DeviceRegistry::Instance().Enumerate(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(devices.size(), 1u);
    ASSERT_EQ(devices[0].description.create(IBaseFilter::iid, camera.OutVoid()), S_OK);
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<TestSink> sink = TestSink::Make({{MediaType::Partial(MEDIATYPE_Video)}});
    graph->AddFilter(camera.Get(), u"Camera");
    graph->AddFilter(sink->Filter(), u"Sink");
    ASSERT_EQ(
        graph->ConnectDirect(PinNamed(camera.Get(), u"Capture").Get(), sink->Input(), nullptr),
        S_OK);
    EXPECT_EQ(graph.As<IMediaControl>()->Run(), VFW_E_TYPE_NOT_ACCEPTED);
    graph.As<IMediaControl>()->Stop();
    EXPECT_EQ(fake->OpenDescriptors(), 0);
}

}  // namespace
}  // namespace ronvix::media::test
