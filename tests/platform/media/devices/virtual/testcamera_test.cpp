// The Test Pattern Camera as a device: live capture with exact frame
// accounting, picture controls that really change the pixels, JPEG quality,
// formats, and drops under a stalled consumer.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/com/devices.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/core/graph.h"
#include "platform/media/core/latest_sink.h"
#include "platform/media/devices/devicecontrols.h"
#include "platform/media/devices/propertypages.h"
#include "platform/media/devices/virtual/picture_reader.h"
#include "platform/media/devices/virtual/testpattern.h"
#include "platform/media/devices/virtual/virtualdevices.h"

namespace ronvix::media::test {
namespace {

using namespace std::chrono_literals;
using com::S_OK;

constexpr REFERENCE_TIME kFrame25 = 400'000;

ComPtr<IBaseFilter> NewCamera() {
    ComPtr<IBaseFilter> camera;
    EXPECT_EQ(CreateTestCamera(IBaseFilter::iid, camera.OutVoid()), S_OK);
    return camera;
}

void ResetCamera() {
    for (LONG p : {VideoProcAmp_Brightness, VideoProcAmp_Contrast, VideoProcAmp_Saturation,
                   VideoProcAmp_Sharpness})
        CameraControls::Device()->SetProperty(p, 128);
    CameraControls::Device()->SetQuality(0.75);
}

struct Graph {
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    ~Graph() {
        if (control)
            control->Stop();
    }
    void Add(IBaseFilter* f, const char16_t* name) { ASSERT_EQ(graph->AddFilter(f, name), S_OK); }
};

struct Counts {
    LONG dropped = -1;
    LONG delivered = -1;
};
Counts ReadCounts(IUnknown* object) {
    Counts c;
    ComPtr<IAMDroppedFrames> drops;
    EXPECT_EQ(object->QueryInterface(IAMDroppedFrames::iid, drops.OutVoid()), S_OK);
    if (drops) {
        drops->GetNumDropped(&c.dropped);
        drops->GetNumNotDropped(&c.delivered);
    }
    return c;
}

// Every received frame carries its index as a block code, is stamped at its
// slot, and the indexes missing from the sequence are exactly the drops the
// camera counted.
void ExpectFramesAccountedFor(const std::vector<TestSink::Received>& frames, const Counts& counts,
                              REFERENCE_TIME period) {
    ASSERT_EQ(static_cast<LONG>(frames.size()), counts.delivered);
    const int64_t produced = int64_t(counts.delivered) + counts.dropped;
    int64_t previous = -1, missing = 0;
    for (const TestSink::Received& f : frames) {
        const Picture pic = DecodeJpeg(f.data);
        ASSERT_FALSE(pic.Empty());
        const std::optional<uint32_t> code = ReadBlockCode(pic);
        ASSERT_TRUE(code.has_value()) << "after frame " << previous;
        ASSERT_GT(int64_t(*code), previous) << "codes must increase";
        ASSERT_LT(int64_t(*code), produced);
        EXPECT_TRUE(f.has_time);
        EXPECT_EQ(f.start, REFERENCE_TIME(*code) * period);
        EXPECT_EQ(HasWhiteBorder(pic), HoldsWholeSecond(f.start, period)) << "frame " << *code;
        missing += int64_t(*code) - previous - 1;
        previous = *code;
    }
    missing += produced - 1 - previous;  // Dropped after the last one received.
    EXPECT_EQ(missing, counts.dropped);
}

TEST(TestCamera, ThreeSecondsOfCaptureAccountForEveryFrame) {
    ResetCamera();
    Graph g;
    ComPtr<IBaseFilter> camera = NewCamera();
    ComPtr<TestSink> sink =
        TestSink::Make({{MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_MJPG)}});
    g.Add(camera.Get(), u"Camera");
    g.Add(sink.Get(), u"Sink");
    ComPtr<IPin> capture = PinNamed(camera.Get(), u"Capture");
    ASSERT_EQ(g.graph->ConnectDirect(capture.Get(), sink->Input(), nullptr), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    std::this_thread::sleep_for(3s);
    ASSERT_EQ(g.control->Stop(), S_OK);

    const Counts counts = ReadCounts(capture.Get());
    const std::vector<TestSink::Received> frames = sink->ReceivedSamples();
    ExpectFramesAccountedFor(frames, counts, kFrame25);
    // 75 frames at 25 fps; the band is wide because timing is not under test.
    const LONG produced = counts.delivered + counts.dropped;
    EXPECT_GE(produced, 45);
    EXPECT_LE(produced, 100);
    // The filter answers for its capture pin's counts.
    const Counts filter_counts = ReadCounts(camera.Get());
    EXPECT_EQ(filter_counts.delivered, counts.delivered);
    EXPECT_EQ(filter_counts.dropped, counts.dropped);
}

TEST(TestCamera, TheHooksItIsMadeWithCountItsPictureMakingCpu) {
    ResetCamera();
    VirtualDeviceHooks hooks;
    hooks.camera_cpu_ns = std::make_shared<std::atomic<int64_t>>(0);
    Graph g;
    ComPtr<IBaseFilter> camera;
    ASSERT_EQ(CreateTestCamera(hooks, IBaseFilter::iid, camera.OutVoid()), S_OK);
    ComPtr<TestSink> sink =
        TestSink::Make({{MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_MJPG)}});
    g.Add(camera.Get(), u"Camera");
    g.Add(sink.Get(), u"Sink");
    ComPtr<IPin> capture = PinNamed(camera.Get(), u"Capture");
    ASSERT_EQ(g.graph->ConnectDirect(capture.Get(), sink->Input(), nullptr), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    std::this_thread::sleep_for(1s);
    ASSERT_EQ(g.control->Stop(), S_OK);
    ASSERT_FALSE(sink->ReceivedSamples().empty());
    EXPECT_GT(hooks.camera_cpu_ns->load(), 0);
}

TEST(TestCamera, StalledConsumerMakesTheCameraDropAndCountWhileStalled) {
    ResetCamera();
    Graph g;
    ComPtr<IBaseFilter> camera = NewCamera();
    TestSink::Options options;
    options.block = true;
    ComPtr<TestSink> sink = TestSink::Make(options);
    g.Add(camera.Get(), u"Camera");
    g.Add(sink.Get(), u"Sink");
    ComPtr<IPin> capture = PinNamed(camera.Get(), u"Capture");
    ASSERT_EQ(g.graph->ConnectDirect(capture.Get(), sink->Input(), nullptr), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    ASSERT_TRUE(sink->WaitForBlocked());
    // The counter moves while the consumer holds the stream.
    ASSERT_TRUE(sink->WaitFor([&] { return ReadCounts(capture.Get()).dropped >= 5; }));
    sink->Unblock();
    ASSERT_TRUE(sink->WaitFor([&] { return sink->Count() >= 8; }));
    ASSERT_EQ(g.control->Stop(), S_OK);
    const Counts counts = ReadCounts(capture.Get());
    EXPECT_GE(counts.dropped, 5);
    ExpectFramesAccountedFor(sink->ReceivedSamples(), counts, kFrame25);
}

TEST(TestCamera, StoppingTheCameraAloneWakesAConsumerThatNeverReturns) {
    ResetCamera();
    Graph g;
    ComPtr<IBaseFilter> camera = NewCamera();
    TestSink::Options options;
    options.block = true;
    ComPtr<TestSink> sink = TestSink::Make(options);
    g.Add(camera.Get(), u"Camera");
    g.Add(sink.Get(), u"Sink");
    ASSERT_EQ(
        g.graph->ConnectDirect(PinNamed(camera.Get(), u"Capture").Get(), sink->Input(), nullptr),
        S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    ASSERT_TRUE(sink->WaitForBlocked());
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(camera->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);  // Liveness, not timing.
    EXPECT_GE(sink->Flushes(), 1);
    FILTER_STATE state = State_Running;
    camera->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
}

TEST(TestCamera, ProcAmpRangesFlagsAndDeviceState) {
    ResetCamera();
    ComPtr<IBaseFilter> first = NewCamera();
    ComPtr<IAMVideoProcAmp> amp = first.As<IAMVideoProcAmp>();
    ASSERT_TRUE(amp);
    for (LONG p : {VideoProcAmp_Brightness, VideoProcAmp_Contrast, VideoProcAmp_Saturation,
                   VideoProcAmp_Sharpness}) {
        LONG min = -1, max = -1, step = -1, def = -1, caps = -1;
        ASSERT_EQ(amp->GetRange(p, &min, &max, &step, &def, &caps), S_OK);
        EXPECT_EQ(min, 0);
        EXPECT_EQ(max, 255);
        EXPECT_EQ(step, 1);
        EXPECT_EQ(def, 128);
        EXPECT_EQ(caps, VideoProcAmp_Flags_Manual);
    }
    // Auto is not a mode of these properties: the value applies anyway and
    // reads back as manual.
    ASSERT_EQ(amp->Set(VideoProcAmp_Contrast, 77, VideoProcAmp_Flags_Auto), S_OK);
    LONG value = 0, flags = 0;
    ASSERT_EQ(amp->Get(VideoProcAmp_Contrast, &value, &flags), S_OK);
    EXPECT_EQ(value, 77);
    EXPECT_EQ(flags, VideoProcAmp_Flags_Manual);
    EXPECT_EQ(amp->Set(VideoProcAmp_Hue, 10, VideoProcAmp_Flags_Manual), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(amp->Set(VideoProcAmp_Brightness, 256, VideoProcAmp_Flags_Manual), com::E_INVALIDARG);
    EXPECT_EQ(amp->Set(VideoProcAmp_Brightness, -1, VideoProcAmp_Flags_Manual), com::E_INVALIDARG);

    // The values belong to the device: a new instance shows them, also
    // after the first is gone.
    ComPtr<IAMVideoCompression> quality;
    ASSERT_EQ(PinNamed(first.Get(), u"Capture")
                  ->QueryInterface(IAMVideoCompression::iid, quality.OutVoid()),
              S_OK);
    ASSERT_EQ(quality->put_Quality(0.3), S_OK);
    EXPECT_EQ(quality->put_Quality(1.5), com::E_INVALIDARG);
    quality = nullptr;
    amp = nullptr;
    first = nullptr;
    ComPtr<IBaseFilter> second = NewCamera();
    second.As<IAMVideoProcAmp>()->Get(VideoProcAmp_Contrast, &value, &flags);
    EXPECT_EQ(value, 77);
    ComPtr<IAMVideoCompression> second_quality;
    PinNamed(second.Get(), u"Capture")
        ->QueryInterface(IAMVideoCompression::iid, second_quality.OutVoid());
    double q = 0;
    ASSERT_EQ(second_quality->get_Quality(&q), S_OK);
    EXPECT_DOUBLE_EQ(q, 0.3);
    ResetCamera();
}

TEST(TestCamera, EachPictureControlMovesItsStatisticMonotonically) {
    ResetCamera();
    Graph g;
    ComPtr<IBaseFilter> camera = NewCamera();
    auto sink = MakeCom<LatestFrameSink>(MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_RGB32));
    g.Add(camera.Get(), u"Camera");
    g.Add(sink.Get(), u"Preview sink");
    ASSERT_EQ(
        g.graph->ConnectDirect(PinNamed(camera.Get(), u"Preview").Get(), sink->Input(), nullptr),
        S_OK);
    const VIDEOINFOHEADER vih = *sink->Type().VideoInfo();
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    ComPtr<IAMVideoProcAmp> amp = camera.As<IAMVideoProcAmp>();

    struct Control {
        LONG property;
        double PictureStats::*statistic;
        const char* name;
    };
    const Control controls[] = {
        {VideoProcAmp_Brightness, &PictureStats::mean_luma, "brightness/mean"},
        {VideoProcAmp_Contrast, &PictureStats::luma_spread, "contrast/spread"},
        {VideoProcAmp_Saturation, &PictureStats::chroma, "saturation/chroma"},
        {VideoProcAmp_Sharpness, &PictureStats::high_frequency, "sharpness/high frequency"},
    };
    for (const Control& c : controls) {
        double previous = -1;
        for (LONG value : {0, 64, 128, 192, 255}) {
            ASSERT_EQ(amp->Set(c.property, value, VideoProcAmp_Flags_Manual), S_OK);
            // The picture moves, and a loaded machine drops frames, so each
            // value is judged on three frames: the last step (into the
            // clipping) moves the statistic by a few per cent only.
            double statistic = 0;
            for (int i = 0; i < 3; ++i) {
                const std::optional<LatestFrameSink::Frame> frame =
                    i == 0 ? sink->FreshFrame() : sink->NextAfter(sink->Count());
                ASSERT_TRUE(frame.has_value());
                const Picture pic =
                    FromRgb32(frame->data, vih.bmiHeader.biWidth, std::abs(vih.bmiHeader.biHeight),
                              vih.bmiHeader.biHeight > 0);
                ASSERT_TRUE(ReadBlockCode(pic).has_value()) << "controls never touch the code";
                statistic += MeasurePicture(pic).*c.statistic / 3;
            }
            EXPECT_GT(statistic, previous * 1.01 + 0.1) << c.name << " at " << value;
            previous = statistic;
        }
        amp->Set(c.property, 128, VideoProcAmp_Flags_Manual);
    }
}

TEST(TestCamera, QualityChangesTheJpegSizeAndTheCodeSurvivesTheLowest) {
    ResetCamera();
    Graph g;
    ComPtr<IBaseFilter> camera = NewCamera();
    auto sink = MakeCom<LatestFrameSink>(MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_MJPG));
    g.Add(camera.Get(), u"Camera");
    g.Add(sink.Get(), u"Sink");
    ComPtr<IPin> capture = PinNamed(camera.Get(), u"Capture");
    ASSERT_EQ(g.graph->ConnectDirect(capture.Get(), sink->Input(), nullptr), S_OK);
    ComPtr<IAMVideoCompression> compression;
    ASSERT_EQ(capture->QueryInterface(IAMVideoCompression::iid, compression.OutVoid()), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));

    size_t previous_size = SIZE_MAX;
    for (double quality : {1.0, 0.75, 0.3, 0.01}) {
        ASSERT_EQ(compression->put_Quality(quality), S_OK);
        const std::optional<LatestFrameSink::Frame> frame = sink->FreshFrame();
        ASSERT_TRUE(frame.has_value());
        EXPECT_LT(frame->data.size(), previous_size) << "quality " << quality;
        previous_size = frame->data.size();
        const Picture pic = DecodeJpeg(frame->data);
        const std::optional<uint32_t> code = ReadBlockCode(pic);
        ASSERT_TRUE(code.has_value()) << "quality " << quality;
        EXPECT_EQ(REFERENCE_TIME(*code) * kFrame25, frame->start);
    }
    ResetCamera();
}

TEST(TestCamera, FormatsInOrderAndAChosenFormatIsTheOneDelivered) {
    ResetCamera();
    ComPtr<IBaseFilter> camera = NewCamera();
    ComPtr<IPin> capture = PinNamed(camera.Get(), u"Capture");
    ComPtr<IPin> preview = PinNamed(camera.Get(), u"Preview");
    ASSERT_TRUE(capture && preview);
    EXPECT_EQ(PinCategory(capture.Get()), PIN_CATEGORY_CAPTURE);
    EXPECT_EQ(PinCategory(preview.Get()), PIN_CATEGORY_PREVIEW);
    ComPtr<IEnumPins> pins;
    camera->EnumPins(pins.ReleaseAndGetAddressOf());
    IPin* first = nullptr;
    ASSERT_EQ(pins->Next(1, &first, nullptr), S_OK);
    EXPECT_EQ(first, capture.Get()) << "the capture pin is the first pin";
    first->Release();

    struct Expected {
        GUID subtype;
        LONG width, height;
        REFERENCE_TIME period;
    };
    const Expected expected[] = {
        {MEDIASUBTYPE_MJPG, 720, 576, 400000},   {MEDIASUBTYPE_MJPG, 640, 480, 333333},
        {MEDIASUBTYPE_MJPG, 1280, 720, 400000},  {MEDIASUBTYPE_MJPG, 1920, 1080, 400000},
        {MEDIASUBTYPE_YUY2, 720, 576, 400000},   {MEDIASUBTYPE_YUY2, 640, 480, 333333},
        {MEDIASUBTYPE_MJPG, 1280, 720, 333333},  {MEDIASUBTYPE_MJPG, 1920, 1080, 333333},
        {MEDIASUBTYPE_YUY2, 1280, 720, 400000},  {MEDIASUBTYPE_YUY2, 1280, 720, 333333},
        {MEDIASUBTYPE_YUY2, 1920, 1080, 400000}, {MEDIASUBTYPE_YUY2, 1920, 1080, 333333},
        {MEDIASUBTYPE_MJPG, 3840, 2160, 333333}};
    const int formats = int(std::size(expected));
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(capture->EnumMediaTypes(types.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(capture->QueryInterface(IAMStreamConfig::iid, config.OutVoid()), S_OK);
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, formats);
    EXPECT_EQ(size, int(sizeof(VIDEO_STREAM_CONFIG_CAPS)));
    for (int i = 0; i < formats; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        ASSERT_EQ(types->Next(1, &mt, nullptr), S_OK);
        const MediaType type(*mt);
        DeleteMediaType(mt);
        EXPECT_EQ(type->subtype, expected[i].subtype) << i;
        EXPECT_EQ(type.VideoInfo()->bmiHeader.biWidth, expected[i].width) << i;
        EXPECT_EQ(type.VideoInfo()->bmiHeader.biHeight, expected[i].height) << i;
        EXPECT_EQ(type.VideoInfo()->AvgTimePerFrame, expected[i].period) << i;
        VIDEO_STREAM_CONFIG_CAPS caps;
        AM_MEDIA_TYPE* cap_type = nullptr;
        ASSERT_EQ(config->GetStreamCaps(i, &cap_type, reinterpret_cast<BYTE*>(&caps)), S_OK);
        EXPECT_TRUE(SameType(*cap_type, type.Get())) << i;
        DeleteMediaType(cap_type);
        EXPECT_EQ(caps.MaxOutputSizeWidth, expected[i].width);
        EXPECT_EQ(caps.MinFrameInterval, expected[i].period);
    }

    // Choose YUY2 640x480: the capture pin offers and delivers only that, and
    // the preview follows its size and rate.
    MediaType yuy2 = MediaType::Video(MEDIASUBTYPE_YUY2, 640, 480, 16, 333333);
    ASSERT_EQ(config->SetFormat(&yuy2.Get()), S_OK);
    MediaType bad = MediaType::Video(MEDIASUBTYPE_YUY2, 642, 480, 16, 333333);
    EXPECT_EQ(config->SetFormat(&bad.Get()), com::VFW_E_INVALIDMEDIATYPE);
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(config->GetFormat(&current), S_OK);
    EXPECT_TRUE(SameType(*current, yuy2.Get()));
    DeleteMediaType(current);

    Graph g;
    auto sink = MakeCom<LatestFrameSink>(MediaType::Partial(MEDIATYPE_Video));
    auto preview_sink = MakeCom<LatestFrameSink>(MediaType::Partial(MEDIATYPE_Video));
    g.Add(camera.Get(), u"Camera");
    g.Add(sink.Get(), u"Sink");
    g.Add(preview_sink.Get(), u"Preview sink");
    ASSERT_EQ(g.graph->ConnectDirect(capture.Get(), sink->Input(), nullptr), S_OK);
    ASSERT_EQ(g.graph->ConnectDirect(preview.Get(), preview_sink->Input(), nullptr), S_OK);
    EXPECT_TRUE(SameType(sink->Type().Get(), yuy2.Get()));
    EXPECT_EQ(preview_sink->Type()->subtype, MEDIASUBTYPE_RGB32);
    EXPECT_EQ(preview_sink->Type().VideoInfo()->bmiHeader.biWidth, 640);
    EXPECT_EQ(preview_sink->Type().VideoInfo()->AvgTimePerFrame, 333333);
    // Formats change only while stopped.
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    EXPECT_EQ(config->SetFormat(&yuy2.Get()), com::VFW_E_NOT_STOPPED);

    const std::optional<LatestFrameSink::Frame> frame = sink->FreshFrame();
    const std::optional<LatestFrameSink::Frame> shown = preview_sink->FreshFrame();
    ASSERT_TRUE(frame && shown);
    ASSERT_EQ(frame->data.size(), size_t(640 * 480 * 2));
    const std::optional<uint32_t> code = ReadBlockCode(FromYuy2(frame->data, 640, 480));
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(REFERENCE_TIME(*code) * 333333, frame->start);
    // The preview of a frame is the same picture as its capture.
    const std::optional<uint32_t> preview_code =
        ReadBlockCode(FromRgb32(shown->data, 640, 480, true));
    ASSERT_TRUE(preview_code.has_value());
    EXPECT_EQ(REFERENCE_TIME(*preview_code) * 333333, shown->start);
    ASSERT_EQ(g.control->Stop(), S_OK);
    EXPECT_EQ(config->SetFormat(nullptr), S_OK);  // Back to every format.
}

TEST(TestCamera, ListedAsAVideoInputDeviceWithPropertyPages) {
    RegisterVirtualDevices();
    RegisterVirtualDevices();  // Idempotent.
    const std::vector<com::Device> devices =
        com::DeviceRegistry::Instance().Enumerate(com::CLSID_VideoInputDeviceCategory);
    int found = 0;
    for (const com::Device& d : devices)
        if (d.description.friendly_name == "Test Pattern Camera") {
            ++found;
            ComPtr<IBaseFilter> filter;
            ASSERT_EQ(d.description.create(IBaseFilter::iid, filter.OutVoid()), S_OK);
            GUID clsid;
            filter->GetClassID(&clsid);
            EXPECT_EQ(clsid, CLSID_TestPatternCamera);
            ComPtr<ISpecifyPropertyPages> pages = filter.As<ISpecifyPropertyPages>();
            ASSERT_TRUE(pages);
            CAUUID ids;
            ASSERT_EQ(pages->GetPages(&ids), S_OK);
            ASSERT_EQ(ids.cElems, 2u);
            EXPECT_EQ(ids.pElems[0], CLSID_VideoProcAmpPropertyPage);
            EXPECT_EQ(ids.pElems[1], CLSID_CapturePropertyPage);
            com::CoTaskMemFree(ids.pElems);
        }
    EXPECT_EQ(found, 1);
    ComPtr<IBaseFilter> by_class;
    EXPECT_EQ(com::CoCreateInstance(CLSID_TestPatternCamera, nullptr, com::CLSCTX_INPROC_SERVER,
                                    IBaseFilter::iid, by_class.OutVoid()),
              S_OK);
}

}  // namespace
}  // namespace ronvix::media::test
