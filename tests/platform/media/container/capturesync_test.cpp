// Sound and picture in capture files written by the AVI Mux and the File
// Writer from devices with real faults, judged from the finished file by
// ffmpeg alone: at every whole second the burst must start within the white
// frame's period widened by half a frame on either side, and the file must
// hold exactly the frames counted.

#include <QTemporaryDir>

#include <thread>

#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/container/av_offsets.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/devices/imperfect_devices.h"
#include "platform/media/devices/virtual/virtualdevices.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media::test {
namespace {

using namespace com;

constexpr REFERENCE_TIME kMs = 10'000;

std::vector<uint8_t> PlainJpeg(uint8_t grey) {
    constexpr int kSize = 32;
    std::vector<uint8_t> rgb(size_t(kSize) * kSize * 4, grey);
    std::vector<uint8_t> out(JpegEncoder::MaxSize(kSize, kSize));
    JpegEncoder encoder;
    out.resize(encoder.EncodeRgb32(rgb.data(), kSize, kSize, false, 50, out));
    return out;
}

ComPtr<IMuxStreamCounts> CountsOf(IPin* source_output) {
    ComPtr<IPin> peer;
    source_output->ConnectedTo(peer.ReleaseAndGetAddressOf());
    return peer ? peer.As<IMuxStreamCounts>() : nullptr;
}

struct Captured {
    AvOffsets offsets;
    MUX_STREAM_COUNTS video;
    int64_t delivered = 0;    // Frames the camera delivered.
    int64_t left_out = 0;     // Frames the mux answered "left out".
    int64_t camera_lost = 0;  // Frames the camera lost.
};

// `setup`'s devices captured for `duration` into a file through the real
// mux and writer, then measured.
std::optional<Captured> Capture(const SimSetup& setup, REFERENCE_TIME duration) {
    RegisterEngineClasses();
    QTemporaryDir dir;
    const QString path = dir.filePath("sync.avi");
    const CaptureFileGraph file = MakeCaptureFileGraph(path.toStdU16String());
    if (!file.mux)
        return std::nullopt;
    const ComPtr<IFilterGraph2>& graph = file.graph;
    const ComPtr<IBaseFilter>& mux = file.mux;
    const ComPtr<ICaptureGraphBuilder2>& builder = file.builder;
    auto add = [&](const MediaType& type, LONG size) {
        TestSource::Options options;
        options.types = {type};
        options.buffer_size = size;
        ComPtr<TestSource> source = TestSource::Make(options);
        graph->AddFilter(source->Filter(), u"Source");
        builder->RenderStream(nullptr, nullptr, source->Filter(), nullptr, mux.Get());
        return source;
    };
    const REFERENCE_TIME period = 10'000'000 * setup.fps_den / setup.fps_num;
    ComPtr<TestSource> camera = add(MediaType::Video(MEDIASUBTYPE_MJPG, 32, 32, 24, period), 4096);
    ComPtr<TestSource> card =
        add(MediaType::Pcm(int(setup.sample_rate), 16, 1), LONG(setup.buffer_frames * 2));
    if (graph.As<IMediaControl>()->Run() != S_OK)
        return std::nullopt;

    const std::vector<uint8_t> white = PlainJpeg(255), black = PlainJpeg(0);
    SimSetup with_sound = setup;
    with_sound.samples = true;
    SimulatedDevices devices(with_sound);
    Captured run;
    HRESULT failure = S_OK;
    devices.Run(
        duration,
        [&](const SimFrame& f) {
            const HRESULT hr = camera->Push(f.white ? white : black, f.stamp, f.stamp + f.period, 0,
                                            false, f.number, f.number + 1);
            run.left_out += hr == S_SAMPLE_LEFT_OUT;
            if (FAILED(hr))
                failure = hr;
        },
        [&](const SimBuffer& b) {
            std::vector<uint8_t> bytes(b.samples.size() * 2);
            std::memcpy(bytes.data(), b.samples.data(), bytes.size());
            const HRESULT hr = card->Push(bytes, b.stamp, b.stamp + 1, 0, b.discontinuity,
                                          b.position, b.position + b.frames);
            if (FAILED(hr))
                failure = hr;
        });
    graph.As<IMediaControl>()->Stop();
    if (FAILED(failure))
        return std::nullopt;
    run.delivered = devices.frames_delivered;
    run.camera_lost = devices.lost_frames;
    if (ComPtr<IMuxStreamCounts> counts = CountsOf(camera->Output()))
        counts->GetCounts(&run.video);
    const auto offsets = MeasureAvOffsets(path);
    if (!offsets)
        return std::nullopt;
    run.offsets = *offsets;
    return run;
}

Imperfections Skew(double ppm, REFERENCE_TIME delay = 0) {
    Imperfections f;
    f.clock_ppm = ppm;
    f.start_delay = delay;
    return f;
}

TEST(CaptureSync, BurstsStartWithinTheirWhiteFramesWithImperfectDevices) {
    Imperfections stalls;
    stalls.stall_every = 60 * kSimSecond;
    stalls.stall_length = 300 * kMs;
    struct Case {
        const char* name;
        SimSetup setup;
        REFERENCE_TIME duration;
    };
    const Case cases[] = {
        {"camera +200 ppm, card -200 ppm, an hour",
         {Skew(200), 25, 1, Skew(-200)},
         3600 * kSimSecond},
        {"camera -200 ppm, card +200 ppm, an hour",
         {Skew(-200), 25, 1, Skew(200)},
         3600 * kSimSecond},
        {"camera 0.7 s after the card", {Skew(0, 700 * kMs)}, 30 * kSimSecond},
        {"card 0.7 s after the camera", {{}, 25, 1, Skew(0, 700 * kMs)}, 30 * kSimSecond},
        {"ten card stalls of 300 ms in ten minutes", {{}, 25, 1, stalls}, 600 * kSimSecond},
        {"a 29.97 fps camera", {{}, 30000, 1001, {}}, 600 * kSimSecond},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<Captured> run = Capture(c.setup, c.duration);
        ASSERT_TRUE(run);
        const AvOffsets& o = run->offsets;
        EXPECT_NEAR(o.frame_rate, double(c.setup.fps_num) / double(c.setup.fps_den), 1e-9);
        // The burst's start is read to a third of a millisecond (a cycle of
        // its tone); the window is widened by that much.
        const double slack = 0.00034 * o.frame_rate;
        EXPECT_TRUE(o.AllWithin(-0.5 - slack, 1.5 + slack))
            << "offsets from " << o.Lowest() << " to " << o.Highest();
        // Every second a pair, but for the first (the device that starts
        // late) and the bursts lost in the stalls.
        EXPECT_GE(double(o.offsets.size()), double(c.duration / kSimSecond) - 12);
        // A burst with no white frame near is only one before the camera
        // started.
        EXPECT_LE(o.lone_bursts, c.setup.camera.start_delay > 0 ? 1 : 0);
        // What the mux counted is what the file holds.
        EXPECT_EQ(o.frames, run->video.written);
        EXPECT_EQ(o.places, run->video.written + run->video.lost + run->video.inserted);
        EXPECT_EQ(run->video.left_out, run->left_out);
        EXPECT_EQ(run->video.written + run->video.left_out, run->delivered);
    }
}

// The built-in camera and tone generator made imperfect on purpose, in real
// time on the system clock: a camera 2000 ppm fast that starts 0.7 s late
// with jittery stamps and lost frames, a tone generator 2000 ppm slow that
// stalls for 300 ms every 5 s and loses buffers. The file keeps every burst
// with its white frame and holds exactly the frames the camera counted.
TEST(CaptureSync, BuiltInDevicesWithFaultsStayInSyncInRealTime) {
    RegisterEngineClasses();
    RegisterVirtualDevices();
    Imperfections camera_faults;
    camera_faults.clock_ppm = 2000;
    camera_faults.start_delay = 700 * kMs;
    camera_faults.jitter = 2 * kMs;
    camera_faults.lose_every = 97;
    Imperfections tone_faults;
    tone_faults.clock_ppm = -2000;
    tone_faults.stall_every = 5 * kSimSecond;
    tone_faults.stall_length = 300 * kMs;
    tone_faults.lose_every = 73;
    VirtualDeviceHooks hooks;
    hooks.camera_faults = camera_faults;
    hooks.tone_faults = tone_faults;

    QTemporaryDir dir;
    const QString path = dir.filePath("faults.avi");
    const CaptureFileGraph file = MakeCaptureFileGraph(path.toStdU16String());
    ASSERT_TRUE(file.mux);
    const ComPtr<IFilterGraph2>& graph = file.graph;
    const ComPtr<ICaptureGraphBuilder2>& builder = file.builder;
    const ComPtr<IBaseFilter>& mux = file.mux;
    ComPtr<IBaseFilter> camera, tone;
    ASSERT_EQ(CreateTestCamera(hooks, IBaseFilter::iid, camera.OutVoid()), S_OK);
    ASSERT_EQ(CreateToneGenerator(hooks, IBaseFilter::iid, tone.OutVoid()), S_OK);
    graph->AddFilter(camera.Get(), u"Camera");
    graph->AddFilter(tone.Get(), u"Tone");
    ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(), nullptr,
                                    mux.Get()),
              S_OK);
    ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, tone.Get(), nullptr,
                                    mux.Get()),
              S_OK);
    ComPtr<IAMDroppedFrames> drops;
    builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(),
                           IAMDroppedFrames::iid, drops.OutVoid());
    ASSERT_TRUE(drops);
    ComPtr<IMuxStreamCounts> counts = CountsOf(PinNamed(camera.Get(), u"Capture").Get());
    ASSERT_TRUE(counts);

    ASSERT_EQ(graph.As<IMediaControl>()->Run(), S_OK);
    std::this_thread::sleep_for(std::chrono::seconds(16));
    ASSERT_EQ(graph.As<IMediaControl>()->Stop(), S_OK);
    LONG captured = 0, dropped = 0;
    drops->GetNumNotDropped(&captured);
    drops->GetNumDropped(&dropped);
    MUX_STREAM_COUNTS video;
    counts->GetCounts(&video);

    const auto offsets = MeasureAvOffsets(path);
    ASSERT_TRUE(offsets);
    EXPECT_TRUE(offsets->AllWithin(-0.5 - 0.01, 1.5 + 0.01))
        << "offsets from " << offsets->Lowest() << " to " << offsets->Highest();
    // Sixteen seconds, less the camera's late start and bursts lost in
    // stalls or lost buffers.
    EXPECT_GE(offsets->offsets.size(), 10u);
    EXPECT_EQ(offsets->frames, captured);
    EXPECT_EQ(offsets->places, captured + dropped - video.left_out + video.inserted);
    EXPECT_GE(video.inserted, 17) << "the camera's late start";
    EXPECT_GE(dropped, 3) << "the camera's lost frames";
}

}  // namespace
}  // namespace ronvix::media::test
