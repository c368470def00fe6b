// The V4L2 backends against a scripted fake system: enumeration and binding,
// formats, controls shared by every instance of a device, streaming with
// driver times and sequence numbers, EAGAIN and poll time-outs, drops, a
// device removed in the middle of a stream, and the output device.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <thread>

#include "platform/com/devices.h"
#include "platform/com/oleauto.h"
#include "platform/media/codecs/codecs.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/codecs/videotransform.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/core/graph.h"
#include "platform/media/devices/devicecontrols.h"
#include "platform/media/devices/v4l2/fake_v4l2.h"
#include "platform/media/devices/v4l2/v4l2device.h"

namespace ronvix::media::test {
namespace {

using namespace std::chrono_literals;
using com::E_INVALIDARG;
using com::S_OK;

constexpr REFERENCE_TIME k30fps = 333'333;
const char kCam[] = "/dev/video0";

std::vector<com::Device> Devices(const GUID& category) {
    RegisterV4l2Devices();
    return com::DeviceRegistry::Instance().Enumerate(category);
}

ComPtr<IBaseFilter> Bind(const std::u16string& display_name) {
    ComPtr<IBaseFilter> filter;
    auto device = com::DeviceRegistry::Instance().Find(display_name);
    if (device) {
        EXPECT_EQ(device->description.create(IBaseFilter::iid, filter.OutVoid()), S_OK);
    }
    return filter;
}

// The one capture device of the fake, bound as the user would.
ComPtr<IBaseFilter> OnlyCamera() {
    const auto devices = Devices(CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(devices.size(), 1u);
    return devices.empty() ? nullptr : Bind(devices[0].display_name);
}

VideoGeometry CurrentFormat(IBaseFilter* camera) {
    auto config = PinNamed(camera, u"Capture").As<IAMStreamConfig>();
    AM_MEDIA_TYPE* mt = nullptr;
    VideoGeometry g;
    EXPECT_EQ(config->GetFormat(&mt), S_OK);
    if (mt) {
        ReadGeometry(*mt, &g);
        DeleteMediaType(mt);
    }
    return g;
}

TEST(V4l2Devices, SameNamedCamerasAreBothListedInNodeOrderAndEachBindsToItsOwnNode) {
    ScopedFakeV4l2 fake;
    FakeNode first = YuyvCamera("USB Camera", "/dev/v4l/by-id/usb-Cam_A-video-index0");
    FakeNode metadata = first;  // The camera's metadata node: no video capture.
    metadata.caps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    metadata.stable_name = "/dev/v4l/by-id/usb-Cam_A-video-index1";
    FakeNode second = YuyvCamera("USB Camera");
    second.width = 320;
    second.height = 240;
    FakeNode loopback;
    loopback.card = "Dummy video device";
    loopback.caps = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_READWRITE;
    loopback.output_formats = {V4L2_PIX_FMT_YUYV};
    fake->AddNode("/dev/video10", second);
    fake->AddNode("/dev/video0", first);
    fake->AddNode("/dev/video1", metadata);
    fake->AddNode("/dev/video12", loopback);

    const std::u16string category = com::ToUtf16(CLSID_VideoInputDeviceCategory.ToString());
    auto devices = Devices(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].description.friendly_name, "USB Camera");
    EXPECT_EQ(devices[1].description.friendly_name, "USB Camera");
    EXPECT_EQ(devices[0].display_name,
              u"@device:pnp:/dev/v4l/by-id/usb-Cam_A-video-index0\\" + category);
    EXPECT_EQ(devices[1].display_name, u"@device:pnp:/dev/video10\\" + category);
    // Each name reaches its own node: the two report their own current sizes.
    ComPtr<IBaseFilter> a = Bind(devices[0].display_name);
    ComPtr<IBaseFilter> b = Bind(devices[1].display_name);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(CurrentFormat(a.Get()).width, 640);
    EXPECT_EQ(CurrentFormat(b.Get()).width, 320);

    const auto outputs = Devices(com::CLSID_TransmitCategory);
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].description.friendly_name, "Dummy video device");

    // A device that appears is listed at the next enumeration; one that
    // went is not, and its name binds to nothing.
    fake->AddNode("/dev/video2", YuyvCamera("Capture Card"));
    fake->Remove("/dev/video0");
    devices = Devices(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].description.friendly_name, "Capture Card");
    EXPECT_EQ(devices[1].display_name, u"@device:pnp:/dev/video10\\" + category);
    EXPECT_FALSE(com::DeviceRegistry::Instance().Find(
        u"@device:pnp:/dev/v4l/by-id/usb-Cam_A-video-index0\\" + category));
}

TEST(V4l2Devices, FormatsOfferEveryCarriedSizeAndRateWithTheCurrentFormatFirst) {
    ScopedFakeV4l2 fake;
    FakeNode node = YuyvCamera();
    node.formats = {
        FakeFormat{V4L2_PIX_FMT_MJPEG,
                   {FakeSize{1280, 720, {{1, 30}, {1, 15}}}, FakeSize{640, 480, {{1, 30}}}}},
        FakeFormat{V4L2_PIX_FMT_H264, {FakeSize{1920, 1080, {{1, 30}}}}},
        FakeFormat{V4L2_PIX_FMT_YUYV, {FakeSize{640, 480, {{1, 30}}}}},
    };
    node.fourcc = V4L2_PIX_FMT_YUYV;
    node.interval = {1, 30};
    fake->AddNode(kCam, node);
    ComPtr<IBaseFilter> camera = OnlyCamera();
    ASSERT_TRUE(camera);
    ComPtr<IPin> pin = PinNamed(camera.Get(), u"Capture");
    auto config = pin.As<IAMStreamConfig>();
    ASSERT_TRUE(config);

    struct Expected {
        GUID subtype;
        int width, height;
        REFERENCE_TIME period;
    };
    const Expected expected[] = {{MEDIASUBTYPE_YUY2, 640, 480, k30fps},
                                 {MEDIASUBTYPE_MJPG, 1280, 720, k30fps},
                                 {MEDIASUBTYPE_MJPG, 1280, 720, 2 * k30fps},
                                 {MEDIASUBTYPE_MJPG, 640, 480, k30fps}};
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    ASSERT_EQ(count, 4) << "H.264 cannot be carried and is not offered";
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf()), S_OK);
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps{};
        ASSERT_EQ(config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
        VideoGeometry g;
        ASSERT_TRUE(ReadGeometry(*mt, &g));
        EXPECT_EQ(mt->subtype, expected[i].subtype) << i;
        EXPECT_EQ(g.width, expected[i].width) << i;
        EXPECT_EQ(g.height, expected[i].height) << i;
        EXPECT_NEAR(double(g.time_per_frame), double(expected[i].period), 1.0) << i;
        EXPECT_EQ(caps.MinFrameInterval, g.time_per_frame);
        AM_MEDIA_TYPE* offered = nullptr;
        ASSERT_EQ(types->Next(1, &offered, nullptr), S_OK);
        EXPECT_EQ(offered->subtype, mt->subtype) << "the pin offers the same list";
        DeleteMediaType(offered);
        DeleteMediaType(mt);
    }

    // Choosing a format narrows the pin to it.
    AM_MEDIA_TYPE* mjpg = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    ASSERT_EQ(config->GetStreamCaps(2, &mjpg, reinterpret_cast<BYTE*>(&caps)), S_OK);
    ASSERT_EQ(config->SetFormat(mjpg), S_OK);
    DeleteMediaType(mjpg);
    const VideoGeometry chosen = CurrentFormat(camera.Get());
    EXPECT_EQ(chosen.width, 1280);
    EXPECT_NEAR(double(chosen.time_per_frame), double(2 * k30fps), 1.0);
}

TEST(V4l2Devices, PictureControlsUseTheDeviceRangesAndEveryInstanceSharesThem) {
    ScopedFakeV4l2 fake;
    FakeNode node = YuyvCamera();
    node.controls = {{V4L2_CID_BRIGHTNESS, FakeControl{-64, 64, 2, 0, 0}},
                     {V4L2_CID_CONTRAST, FakeControl{0, 95, 1, 32, 32}},
                     {V4L2_CID_GAIN, FakeControl{0, 100, 1, 10, 10}},
                     {V4L2_CID_AUTOGAIN, FakeControl{0, 1, 1, 1, 1}}};
    fake->AddNode(kCam, node);
    ComPtr<IBaseFilter> camera = OnlyCamera();
    ASSERT_TRUE(camera);
    auto amp = camera.As<IAMVideoProcAmp>();
    ASSERT_TRUE(amp);

    LONG min = 0, max = 0, step = 0, def = 0, caps = 0, value = 0, flags = 0;
    ASSERT_EQ(amp->GetRange(VideoProcAmp_Brightness, &min, &max, &step, &def, &caps), S_OK);
    EXPECT_EQ(min, -64);
    EXPECT_EQ(max, 64);
    EXPECT_EQ(step, 2);
    EXPECT_EQ(def, 0);
    EXPECT_EQ(caps, VideoProcAmp_Flags_Manual);
    EXPECT_EQ(amp->GetRange(VideoProcAmp_Sharpness, &min, &max, &step, &def, &caps),
              E_PROP_ID_UNSUPPORTED);

    // The capture page sends its values with the automatic flag; a property
    // without an automatic mode takes the value all the same.
    EXPECT_EQ(amp->Set(VideoProcAmp_Brightness, 10, VideoProcAmp_Flags_Auto), S_OK);
    EXPECT_EQ(fake->ControlValue(kCam, V4L2_CID_BRIGHTNESS), 10);
    EXPECT_EQ(amp->Set(VideoProcAmp_Brightness, 65, VideoProcAmp_Flags_Manual), E_INVALIDARG);
    EXPECT_EQ(fake->ControlValue(kCam, V4L2_CID_BRIGHTNESS), 10);

    // Gain has the driver's automatic mode.
    ASSERT_EQ(amp->GetRange(VideoProcAmp_Gain, &min, &max, &step, &def, &caps), S_OK);
    EXPECT_EQ(caps, VideoProcAmp_Flags_Manual | VideoProcAmp_Flags_Auto);
    EXPECT_EQ(amp->Set(VideoProcAmp_Gain, 40, VideoProcAmp_Flags_Manual), S_OK);
    EXPECT_EQ(fake->ControlValue(kCam, V4L2_CID_AUTOGAIN), 0);
    EXPECT_EQ(fake->ControlValue(kCam, V4L2_CID_GAIN), 40);
    EXPECT_EQ(amp->Set(VideoProcAmp_Gain, 0, VideoProcAmp_Flags_Auto), S_OK);
    EXPECT_EQ(fake->ControlValue(kCam, V4L2_CID_GAIN), 40);

    // A new instance of the device shows what the last one set.
    camera = nullptr;
    amp = OnlyCamera().As<IAMVideoProcAmp>();
    ASSERT_TRUE(amp);
    ASSERT_EQ(amp->Get(VideoProcAmp_Brightness, &value, &flags), S_OK);
    EXPECT_EQ(value, 10);
    EXPECT_EQ(flags, VideoProcAmp_Flags_Manual);
    ASSERT_EQ(amp->Get(VideoProcAmp_Gain, &value, &flags), S_OK);
    EXPECT_EQ(flags, VideoProcAmp_Flags_Auto);
}

TEST(V4l2Devices, QualityGoesToTheDeviceJpegControlOrStaysWithTheDevice) {
    ScopedFakeV4l2 fake;
    FakeNode encoder = YuyvCamera("Encoding Camera", "/dev/v4l/by-id/usb-Enc-video-index0");
    encoder.controls[V4L2_CID_JPEG_COMPRESSION_QUALITY] = FakeControl{1, 100, 1, 85, 85};
    fake->AddNode(kCam, encoder);
    fake->AddNode("/dev/video2", YuyvCamera("Raw Camera", "/dev/v4l/by-id/usb-Raw-video-index0"));
    const auto devices = Devices(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(devices.size(), 2u);
    auto quality_of = [&](size_t device) {
        ComPtr<IBaseFilter> camera = Bind(devices[device].display_name);
        return PinNamed(camera.Get(), u"Capture").As<IAMVideoCompression>();
    };

    double quality = -1;
    ASSERT_EQ(quality_of(0)->get_Quality(&quality), S_OK);
    EXPECT_NEAR(quality, 84.0 / 99.0, 1e-9) << "the device's own setting";
    ASSERT_EQ(quality_of(0)->put_Quality(0.5), S_OK);
    EXPECT_EQ(fake->ControlValue(kCam, V4L2_CID_JPEG_COMPRESSION_QUALITY), 51);
    EXPECT_EQ(quality_of(0)->put_Quality(1.5), E_INVALIDARG);

    ASSERT_EQ(quality_of(1)->get_Quality(&quality), S_OK);
    EXPECT_DOUBLE_EQ(quality, 0.75);
    ASSERT_EQ(quality_of(1)->put_Quality(0.3), S_OK);
    ASSERT_EQ(quality_of(1)->get_Quality(&quality), S_OK);
    EXPECT_DOUBLE_EQ(quality, 0.3) << "a new instance shows what the last one set";
}

TEST(V4l2Devices, WithoutItsOwnJpegControlTheQualityDrivesTheCompressorOfItsFrames) {
    ScopedFakeV4l2 fake;
    fake->AddNode(kCam, YuyvCamera("Raw Camera", "/dev/v4l/by-id/usb-Raw2-video-index0"));
    RegisterCodecClasses();
    ComPtr<IBaseFilter> camera = OnlyCamera();
    ComPtr<IBaseFilter> compressor;
    ASSERT_EQ(MjpegCompressorClassEntry().create(IBaseFilter::iid, compressor.OutVoid()), S_OK);
    ComPtr<TestSink> sink = TestSink::Make({{MediaType::Partial(MEDIATYPE_Video)}});
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ASSERT_EQ(graph->AddFilter(camera.Get(), u"Camera"), S_OK);
    ASSERT_EQ(graph->AddFilter(compressor.Get(), u"Compressor"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink->Filter(), u"Sink"), S_OK);
    ASSERT_EQ(graph->ConnectDirect(PinNamed(camera.Get(), u"Capture").Get(),
                                   FirstPin(compressor.Get(), PINDIR_INPUT).Get(), nullptr),
              S_OK);
    ASSERT_EQ(graph->ConnectDirect(FirstPin(compressor.Get(), PINDIR_OUTPUT).Get(), sink->Input(),
                                   nullptr),
              S_OK);
    auto device_quality = PinNamed(camera.Get(), u"Capture").As<IAMVideoCompression>();
    auto encoder_quality = compressor.As<IAMVideoCompression>();
    ASSERT_TRUE(device_quality && encoder_quality);
    double quality = -1;

    // Set before the stream: the compressor takes it when the graph starts.
    ASSERT_EQ(device_quality->put_Quality(0.2), S_OK);
    auto control = graph.As<IMediaControl>();
    ASSERT_TRUE(com::SUCCEEDED(control->Run()));
    ASSERT_EQ(encoder_quality->get_Quality(&quality), S_OK);
    EXPECT_DOUBLE_EQ(quality, 0.2);
    // Moved while capturing: at once.
    ASSERT_EQ(device_quality->put_Quality(0.9), S_OK);
    ASSERT_EQ(encoder_quality->get_Quality(&quality), S_OK);
    EXPECT_DOUBLE_EQ(quality, 0.9);
    ASSERT_EQ(control->Stop(), S_OK);
}

struct Events {
    LONG device_lost = 0;
    LONG_PTR lost_param1 = 0;
    LONG_PTR lost_param2 = -1;
    LONG aborts = 0;
};

Events DrainEvents(IFilterGraph2* graph, int wait_ms) {
    auto events = ComPtr<IFilterGraph2>(graph).As<IMediaEvent>();
    Events seen;
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, wait_ms) == S_OK) {
        if (code == EC_DEVICE_LOST) {
            ++seen.device_lost;
            seen.lost_param1 = p1;
            seen.lost_param2 = p2;
        } else if (code == EC_ERRORABORT) {
            ++seen.aborts;
        }
        events->FreeEventParams(code, p1, p2);
    }
    return seen;
}

class V4l2Streaming : public ::testing::Test {
protected:
    void SetUp() override {
        fake->AddNode(kCam, YuyvCamera());
        camera = OnlyCamera();
        ASSERT_TRUE(camera);
        capture = PinNamed(camera.Get(), u"Capture");
        ASSERT_EQ(graph->AddFilter(camera.Get(), u"Camera"), S_OK);
        ASSERT_EQ(graph->AddFilter(sink->Filter(), u"Sink"), S_OK);
        ASSERT_EQ(graph->ConnectDirect(capture.Get(), sink->Input(), nullptr), S_OK);
    }
    void TearDown() override {
        if (control)
            control->Stop();
    }

    void Run() {
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        ASSERT_TRUE(sink->WaitFor([&] { return fake->Streaming(kCam); }));
    }
    // Feeds frame `sequence`, captured `age` ago.
    void Feed(uint32_t sequence, uint8_t luma, REFERENCE_TIME time) {
        fake->Feed(kCam, FakeFrame{YuyvFrame(640, 480, luma), sequence, time, 0});
    }
    LONG Dropped() {
        LONG n = -1;
        capture.As<IAMDroppedFrames>()->GetNumDropped(&n);
        return n;
    }
    LONG Captured() {
        LONG n = -1;
        capture.As<IAMDroppedFrames>()->GetNumNotDropped(&n);
        return n;
    }

    ScopedFakeV4l2 fake;
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    ComPtr<TestSink> sink = TestSink::Make({{MediaType::Partial(MEDIATYPE_Video)}});
    ComPtr<IBaseFilter> camera;
    ComPtr<IPin> capture;
};

TEST_F(V4l2Streaming, FramesArriveInOrderStampedWithTheDriverTimesOnTheGraphClock) {
    Run();
    const REFERENCE_TIME t0 = MonotonicNow100ns();
    for (uint32_t i = 0; i < 3; ++i)
        Feed(i, uint8_t(50 + i), t0 + i * k30fps);
    ASSERT_TRUE(sink->WaitForSamples(3));
    const auto frames = sink->ReceivedSamples();
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(frames[i].data.size(), 640u * 480 * 2);
        EXPECT_EQ(frames[i].data[0], 50 + i) << "frame " << i << " out of order";
        ASSERT_TRUE(frames[i].has_time);
        // Driver times have microsecond resolution.
        EXPECT_NEAR(double(frames[i].start - frames[0].start), double(i * k30fps), 10.0);
    }
    // The first frame was captured just after the run began.
    EXPECT_GE(frames[0].start, 0);
    EXPECT_LT(frames[0].start, 50'000'000);
    // A frame counts as captured once its delivery returned, just after the
    // sink saw it.
    EXPECT_TRUE(sink->WaitFor([&] { return Captured() == 3; })) << Captured();
    EXPECT_EQ(Dropped(), 0);
}

// A recording replayed by the fake, as the benchmarks use it: a file of
// JPEGs is cut into its frames (a raw file into whole frames, a partial one
// left out), and an MJPG camera delivers them in a loop at its own rate,
// bit for bit, each stamped with its place on the device's clock.
TEST(V4l2Replay, ARecordingIsCutIntoItsFramesAndDeliveredInTurnAtTheDeviceRate) {
    constexpr uint32_t kW = 64, kH = 48;
    const std::string dir = ::testing::TempDir();
    std::vector<std::vector<uint8_t>> jpegs;
    {
        JpegEncoder encoder;
        std::ofstream out(dir + "replay.mjpeg", std::ios::binary);
        for (uint8_t luma : {40, 120, 200}) {
            Yuv422Image picture;
            picture.Resize(int(kW), int(kH));
            std::fill(picture.y.begin(), picture.y.end(), luma);
            std::fill(picture.u.begin(), picture.u.end(), uint8_t(128));
            std::fill(picture.v.begin(), picture.v.end(), uint8_t(128));
            std::vector<uint8_t> jpeg(JpegEncoder::MaxSize(int(kW), int(kH)));
            jpeg.resize(encoder.EncodeYuv422(picture, 90, jpeg));
            ASSERT_FALSE(jpeg.empty());
            out.write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
            jpegs.push_back(jpeg);
        }
        std::ofstream raw(dir + "replay.nv12", std::ios::binary);
        const std::vector<char> two_and_a_half(kW * kH * 3 / 2 * 5 / 2, 7);
        raw.write(two_and_a_half.data(), std::streamsize(two_and_a_half.size()));
    }
    EXPECT_EQ(RecordedFrames(dir + "replay.nv12", V4L2_PIX_FMT_NV12, kW, kH).size(), 2u);
    std::vector<std::vector<uint8_t>> frames =
        RecordedFrames(dir + "replay.mjpeg", V4L2_PIX_FMT_MJPEG, kW, kH);
    ASSERT_EQ(frames, jpegs);

    ScopedFakeV4l2 fake;
    FakeNode node;
    node.formats = {FakeFormat{V4L2_PIX_FMT_MJPEG, {FakeSize{kW, kH, {{1, 30}}}}}};
    node.fourcc = V4L2_PIX_FMT_MJPEG;
    node.width = kW;
    node.height = kH;
    fake->AddNode(kCam, node);
    fake->Replay(kCam, frames);
    ComPtr<IBaseFilter> camera = OnlyCamera();
    ASSERT_TRUE(camera);
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<TestSink> sink = TestSink::Make({{MediaType::Partial(MEDIATYPE_Video)}});
    ASSERT_EQ(graph->AddFilter(camera.Get(), u"Camera"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink->Filter(), u"Sink"), S_OK);
    ASSERT_EQ(
        graph->ConnectDirect(PinNamed(camera.Get(), u"Capture").Get(), sink->Input(), nullptr),
        S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.As<IMediaControl>()->Run()));
    ASSERT_TRUE(sink->WaitForSamples(7));
    graph.As<IMediaControl>()->Stop();
    const auto received = sink->ReceivedSamples();
    ASSERT_TRUE(received[0].has_time);
    // Which recorded frame came first; every later one follows from its
    // time (a loaded machine may lose one, as a driver would).
    const auto first = std::find(frames.begin(), frames.end(), received[0].data);
    ASSERT_NE(first, frames.end());
    for (size_t i = 1; i < received.size(); ++i) {
        const double periods = double(received[i].start - received[0].start) / double(k30fps);
        const long step = std::lround(periods);
        EXPECT_NEAR(periods, double(step), 0.01) << "frame " << i << " off the device's rate";
        EXPECT_GE(step, long(i));
        EXPECT_EQ(received[i].data, frames[size_t(first - frames.begin() + step) % frames.size()])
            << "frame " << i;
    }
}

// A driver that keeps its own rate (29.97 where 30 was asked): the first
// frame carries the rate it really runs at, for the file's header.
TEST(V4l2Rates, TheFirstFrameCarriesTheRateTheDriverReallyRunsAt) {
    ScopedFakeV4l2 fake;
    FakeNode node = YuyvCamera();
    node.interval = {1001, 30000};
    node.fixed_rate = true;
    fake->AddNode(kCam, node);
    ComPtr<IBaseFilter> camera = OnlyCamera();
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<TestSink> sink = TestSink::Make({{MediaType::Partial(MEDIATYPE_Video)}});
    graph->AddFilter(camera.Get(), u"Camera");
    graph->AddFilter(sink->Filter(), u"Sink");
    ComPtr<IPin> capture = PinNamed(camera.Get(), u"Capture");
    const MediaType asked = MediaType::Video(MEDIASUBTYPE_YUY2, 640, 480, 16, k30fps);
    ASSERT_EQ(graph->ConnectDirect(capture.Get(), sink->Input(), &asked.Get()), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.As<IMediaControl>()->Run()));
    ASSERT_TRUE(sink->WaitFor([&] { return fake->Streaming(kCam); }));
    const REFERENCE_TIME t0 = MonotonicNow100ns();
    for (uint32_t i = 0; i < 2; ++i)
        fake->Feed(kCam, FakeFrame{YuyvFrame(640, 480, 80), i, t0 + i * 333'667, 0});
    ASSERT_TRUE(sink->WaitForSamples(2));
    graph.As<IMediaControl>()->Stop();
    const auto frames = sink->ReceivedSamples();
    EXPECT_EQ(frames[0].type_period, 333'667);
    EXPECT_EQ(frames[1].type_period, -1) << "once, on the first frame";
}

TEST_F(V4l2Streaming, EagainAndPollTimeOutsLoseNothingAndASequenceGapCountsAsDropped) {
    Run();
    const REFERENCE_TIME t0 = MonotonicNow100ns();
    Feed(0, 10, t0);
    ASSERT_TRUE(sink->WaitForSamples(1));
    // No frame for a while: poll times out again and again.
    const int polls = fake->Polls(kCam);
    std::this_thread::sleep_for(300ms);
    EXPECT_GE(fake->Polls(kCam) - polls, 2) << "poll should time out and be repeated";
    // Poll reports a frame that the driver then does not hand over.
    fake->ScriptEagain(kCam, 2);
    Feed(1, 11, t0 + k30fps);
    Feed(2, 12, t0 + 2 * k30fps);
    ASSERT_TRUE(sink->WaitForSamples(3));
    EXPECT_EQ(Dropped(), 0);
    EXPECT_TRUE(sink->WaitFor([&] { return Captured() == 3; })) << Captured();

    // The driver lost frames 3, 4 and 5.
    Feed(6, 16, t0 + 6 * k30fps);
    ASSERT_TRUE(sink->WaitForSamples(4));
    EXPECT_EQ(Dropped(), 3);
    LONG numbers[8] = {};
    LONG copied = 0;
    ASSERT_EQ(capture.As<IAMDroppedFrames>()->GetDroppedInfo(8, numbers, &copied), S_OK);
    ASSERT_EQ(copied, 3);
    EXPECT_EQ(numbers[0], 3);
    EXPECT_EQ(numbers[2], 5);
    // The delivered frame keeps its own time: the gap stays in the stream.
    const auto frames = sink->ReceivedSamples();
    EXPECT_NEAR(double(frames[3].start - frames[0].start), double(6 * k30fps), 10.0);
}

TEST_F(V4l2Streaming, FramesWhilePausedAreNeitherDeliveredNorCountedAndARunStartsAFreshCount) {
    Run();
    const REFERENCE_TIME t0 = MonotonicNow100ns();
    Feed(0, 1, t0);
    Feed(1, 2, t0 + k30fps);
    ASSERT_TRUE(sink->WaitForSamples(2));
    ASSERT_EQ(control->Pause(), S_OK);
    for (uint32_t i = 2; i < 5; ++i)
        Feed(i, uint8_t(i + 1), t0 + i * k30fps);
    ASSERT_TRUE(sink->WaitFor([&] { return fake->PendingFrames(kCam) == 0; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sink->Count(), 2u) << "a paused live source delivers nothing";
    ASSERT_TRUE(com::SUCCEEDED(control->Run()));
    // The driver went on numbering while paused; that gap is no loss.
    Feed(9, 10, MonotonicNow100ns());
    ASSERT_TRUE(sink->WaitForSamples(3));
    EXPECT_EQ(sink->ReceivedSamples()[2].data[0], 10);
    EXPECT_EQ(Dropped(), 0);
    EXPECT_TRUE(sink->WaitFor([&] { return Captured() == 3; })) << Captured();
}

TEST_F(V4l2Streaming, AConsumerThatHoldsEveryBufferMakesFramesDropAndEveryFrameIsAccounted) {
    graph->Disconnect(capture.Get());
    graph->Disconnect(sink->Input());
    ComPtr<TestSink> blocking = TestSink::Make({{MediaType::Partial(MEDIATYPE_Video)}, true});
    ASSERT_EQ(graph->RemoveFilter(sink->Filter()), S_OK);
    ASSERT_EQ(graph->AddFilter(blocking->Filter(), u"Blocking"), S_OK);
    ASSERT_EQ(graph->ConnectDirect(capture.Get(), blocking->Input(), nullptr), S_OK);
    Run();
    const REFERENCE_TIME t0 = MonotonicNow100ns();
    constexpr uint32_t kFrames = 12;
    for (uint32_t i = 0; i < kFrames; ++i)
        Feed(i, uint8_t(i), t0 + i * k30fps);
    ASSERT_TRUE(blocking->WaitForBlocked());
    ASSERT_TRUE(blocking->WaitFor([&] { return fake->PendingFrames(kCam) == 0; }));
    EXPECT_GT(Dropped(), 0) << "the pool ran dry while the consumer held it";
    blocking->Unblock();
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(size_t(Captured()), blocking->Count());
    EXPECT_EQ(Captured() + Dropped(), LONG(kFrames));
}

// Frames go downstream in the driver's own buffers while the driver keeps
// enough to fill, and are copied past that: a consumer that holds frames
// (as a file's interleaving does) loses none, each held frame keeps its
// picture, and one held past the stop stays readable and gives its buffer
// back when let go.
TEST_F(V4l2Streaming, FramesHeldDownstreamKeepTheirPicturesAndGiveTheirBuffersBack) {
    graph->Disconnect(capture.Get());
    graph->Disconnect(sink->Input());
    ComPtr<TestSink> holder =
        TestSink::Make({{MediaType::Partial(MEDIATYPE_Video)}, false, u"Input", 0, 0, /*keep=*/4});
    ASSERT_EQ(graph->RemoveFilter(sink->Filter()), S_OK);
    ASSERT_EQ(graph->AddFilter(holder->Filter(), u"Holder"), S_OK);
    ASSERT_EQ(graph->ConnectDirect(capture.Get(), holder->Input(), nullptr), S_OK);
    for (int run = 0; run < 2; ++run) {
        Run();
        const REFERENCE_TIME t0 = MonotonicNow100ns();
        constexpr uint32_t kFrames = 12;
        for (uint32_t i = 0; i < kFrames; ++i) {  // one at a time, as a device delivers them
            Feed(i, uint8_t(20 + 10 * i), t0 + i * k30fps);
            ASSERT_TRUE(holder->WaitForSamples(kFrames * run + i + 1));
        }
        EXPECT_EQ(Dropped(), 0);
        ASSERT_EQ(control->Stop(), S_OK);
        const std::vector<std::vector<uint8_t>> kept = holder->KeptBytes();
        ASSERT_EQ(kept.size(), 4u);
        for (size_t k = 0; k < kept.size(); ++k)
            EXPECT_EQ(kept[k], YuyvFrame(640, 480, uint8_t(20 + 10 * (kFrames - 4 + k)))) << k;
        EXPECT_EQ(fake->OpenDescriptors(), 0);
        holder->LetGo();
        EXPECT_EQ(fake->Mapped(), 0);
    }
}

TEST_F(V4l2Streaming, RemovalEndsTheStreamRaisesDeviceLostOnceAndStopReleasesTheDevice) {
    Run();
    const REFERENCE_TIME t0 = MonotonicNow100ns();
    Feed(0, 1, t0);
    Feed(1, 2, t0 + k30fps);
    ASSERT_TRUE(sink->WaitForSamples(2));
    fake->Remove(kCam);
    ASSERT_TRUE(sink->WaitFor([&] { return sink->EndOfStreams() == 1; }))
        << "the stream did not end";
    const Events events = DrainEvents(graph.Get(), 500);
    EXPECT_EQ(events.device_lost, 1);
    EXPECT_EQ(
        events.lost_param1,
        reinterpret_cast<LONG_PTR>(static_cast<com::IUnknown*>(camera.As<com::IUnknown>().Get())));
    EXPECT_EQ(events.lost_param2, 0);
    EXPECT_EQ(events.aborts, 0);
    // The capture thread has ended: it polls no more.
    const int polls = fake->Polls(kCam);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(fake->Polls(kCam), polls);

    const auto before = std::chrono::steady_clock::now();
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_EQ(fake->OpenDescriptors(), 0);
    EXPECT_EQ(fake->Mapped(), 0);
    EXPECT_EQ(Captured(), 2);
}

// A source of MJPG frames of 64x48 into a V4L2 output node.
class V4l2OutputTest : public ::testing::Test {
protected:
    void Open(std::vector<uint32_t> formats) {
        FakeNode node;
        node.card = "Loopback";
        node.caps = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_READWRITE;
        node.output_formats = std::move(formats);
        fake->AddNode(kOut, node);
        RegisterV4l2Devices();
        const auto devices = Devices(com::CLSID_TransmitCategory);
        ASSERT_EQ(devices.size(), 1u);
        output = Bind(devices[0].display_name);
        ASSERT_TRUE(output);
        TestSource::Options options;
        options.types = {MediaType::Video(MEDIASUBTYPE_MJPG, kWidth, kHeight, 24, 400'000)};
        options.buffer_size = 1 << 16;
        source = TestSource::Make(options);
        ASSERT_EQ(graph->AddFilter(source->Filter(), u"Source"), S_OK);
        ASSERT_EQ(graph->AddFilter(output.Get(), u"Output"), S_OK);
        ASSERT_EQ(graph->ConnectDirect(source->Output(), PinNamed(output.Get(), u"Video In").Get(),
                                       nullptr),
                  S_OK);
        ASSERT_TRUE(SUCCEEDED(control->Run()));
    }
    void TearDown() override { control->Stop(); }

    // A JPEG of a uniform grey picture.
    static std::vector<uint8_t> GreyJpeg(uint8_t grey) {
        std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 4, grey);
        std::vector<uint8_t> jpeg(JpegEncoder::MaxSize(kWidth, kHeight));
        JpegEncoder encoder;
        jpeg.resize(encoder.EncodeRgb32(rgb.data(), kWidth, kHeight, false, 95, jpeg));
        return jpeg;
    }

    static constexpr int kWidth = 64;
    static constexpr int kHeight = 48;
    static constexpr char kOut[] = "/dev/video7";
    ScopedFakeV4l2 fake;
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    ComPtr<TestSource> source;
    ComPtr<IBaseFilter> output;
};

TEST_F(V4l2OutputTest, ADeviceThatTakesMjpgGetsTheFramesAsTheyCameInOrder) {
    Open({V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_YUYV});
    EXPECT_EQ(fake->OutputFourcc(kOut), V4L2_PIX_FMT_MJPEG);
    fake->ScriptEagain(kOut, 2);  // Full for a moment: waited for, nothing lost.
    std::vector<std::vector<uint8_t>> sent;
    for (uint8_t grey : {30, 130, 230}) {
        sent.push_back(GreyJpeg(grey));
        ASSERT_EQ(source->Push(sent.back()), S_OK);
    }
    EXPECT_EQ(fake->Written(kOut), sent);
}

TEST_F(V4l2OutputTest, ARawDeviceGetsEachMjpgFrameDecodedToYuyv) {
    Open({V4L2_PIX_FMT_YUYV});
    EXPECT_EQ(fake->OutputFourcc(kOut), V4L2_PIX_FMT_YUYV);
    for (uint8_t grey : {40, 200})
        ASSERT_EQ(source->Push(GreyJpeg(grey)), S_OK);
    ASSERT_EQ(source->Push({0x00, 0x11, 0x22}), S_OK) << "a corrupt frame is skipped, not fatal";
    const auto written = fake->Written(kOut);
    ASSERT_EQ(written.size(), 2u);
    // Studio-range luma of full-range grey g: 16 + g * 219 / 255.
    const int expected[] = {16 + 40 * 219 / 255, 16 + 200 * 219 / 255};
    for (size_t i = 0; i < written.size(); ++i) {
        ASSERT_EQ(written[i].size(), size_t(kWidth) * kHeight * 2);
        EXPECT_NEAR(written[i][0], expected[i], 4) << "frame " << i;
        EXPECT_NEAR(written[i][written[i].size() / 2], expected[i], 4) << "frame " << i;
        EXPECT_NEAR(written[i][1], 128, 4) << "a grey picture has no colour";
    }
}

TEST_F(V4l2OutputTest, MonitorOutShowsWhatTheDeviceIsSentAtTheMonitorSize) {
    ComPtr<TestSink> monitor = TestSink::Make({{MediaType::Partial(MEDIATYPE_Video)}});
    ASSERT_EQ(graph->AddFilter(monitor->Filter(), u"Monitor"), S_OK);
    Open({V4L2_PIX_FMT_YUYV});
    control->Stop();
    ASSERT_EQ(graph->ConnectDirect(PinNamed(output.Get(), u"Monitor Out").Get(), monitor->Input(),
                                   nullptr),
              S_OK);
    ASSERT_TRUE(com::SUCCEEDED(control->Run()));
    ASSERT_EQ(source->Push(GreyJpeg(255), 0, 400'000), S_OK);
    ASSERT_TRUE(monitor->WaitForSamples(1));
    const auto shown = monitor->ReceivedSamples()[0];
    ASSERT_EQ(shown.data.size(), size_t(720) * 576 * 4);
    EXPECT_GE(shown.data[0], 250) << "the white picture sent";
    EXPECT_GE(shown.data[shown.data.size() - 2], 250);
    EXPECT_TRUE(shown.has_time);
    EXPECT_EQ(fake->Written(kOut).size(), 1u);
}

TEST_F(V4l2OutputTest, AnOutputThatVanishesRaisesDeviceLostOnce) {
    Open({V4L2_PIX_FMT_MJPEG});
    ASSERT_EQ(source->Push(GreyJpeg(80)), S_OK);
    fake->Remove(kOut);
    source->Push(GreyJpeg(90));
    source->Push(GreyJpeg(100));
    const Events events = DrainEvents(graph.Get(), 300);
    EXPECT_EQ(events.device_lost, 1);
    EXPECT_EQ(events.lost_param2, 0);
    EXPECT_EQ(fake->Written(kOut).size(), 1u);
}

}  // namespace
}  // namespace ronvix::media::test
