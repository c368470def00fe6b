// The sound server backend against a real PulseAudio daemon, started by the
// test in a private runtime folder (it runs as root in CI, which the daemon
// allows outside its system mode with a warning): its devices in the lists
// by description, and ten seconds captured from a source fed with a known
// signal beside the Test Pattern Camera into an AVI file that ffmpeg reads
// back: the tone is there, and the sound keeps a constant offset to the
// picture although the feeder's clock runs 1.5 % fast.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <numbers>
#include <thread>

#include "platform/com/devices.h"
#include "platform/media/container/av_offsets.h"
#include "platform/media/core/clock.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/devices/alsa/alsacapture.h"
#include "platform/media/devices/alsa/audiooutput.h"
#include "platform/media/devices/pulse/pulsecapture.h"
#include "platform/media/devices/virtual/virtualdevices.h"
#include "platform/media/devices/watch/devicewatch.h"
#include "platform/media/registration/engineclasses.h"

extern char** environ;

namespace ronvix::media::test {
namespace {

using namespace com;
using namespace std::chrono_literals;

constexpr int kRate = 48000;

// A PulseAudio daemon of the test's own: its runtime folder, socket and
// configuration are in a temporary folder, and this process talks to it
// alone (PULSE_SERVER). A null sink "Tone Output" and a FIFO source
// "Line In Card" fed by the test.
class PrivateDaemon {
public:
    PrivateDaemon() {
        const std::string dir = m_dir.path().toStdString();
        m_fifo = dir + "/line.fifo";
        ::mkdir((dir + "/home").c_str(), 0700);
        std::vector<std::string> args = {
            "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
            "--system=no", "--realtime=no", "--high-priority=no", "--disable-shm=yes",
            "--log-target=stderr", "--log-level=error", "-L",
            "module-native-protocol-unix socket=" + dir + "/native auth-anonymous=1", "-L",
            "module-null-sink sink_name=tone_out rate=48000 channels=2 "
            "sink_properties=\"device.description='Tone Output'\"",
            "-L",
            "module-pipe-source source_name=line_in file=" + m_fifo +
                " format=s16le rate=48000 channels=2 "
                "source_properties=\"device.description='Line In Card'\"",
            // A source that hands its sound on late: seconds of latency.
            "-L", "module-sine-source source_name=sine rate=48000 frequency=1000"};
        std::vector<std::string> env = {"HOME=" + dir + "/home", "XDG_RUNTIME_DIR=" + dir,
                                        "PULSE_RUNTIME_PATH=" + dir + "/runtime",
                                        "PULSE_STATE_PATH=" + dir + "/state"};
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("PULSE_", 0) != 0 && v.rfind("HOME=", 0) != 0 &&
                v.rfind("XDG_RUNTIME_DIR=", 0) != 0)
                env.push_back(v);
        }
        std::vector<char*> argv, envp;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&m_pid, "pulseaudio", &actions, nullptr, argv.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        // This process and the libpulse it loads talk to this daemon only.
        qputenv("PULSE_SERVER", QByteArray::fromStdString("unix:" + dir + "/native"));
        SetPulseApi({});
    }
    ~PrivateDaemon() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            for (int i = 0; i < 500 && ::waitpid(m_pid, &status, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(10ms);
            if (::waitpid(m_pid, &status, WNOHANG) == 0) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
            }
        }
        qunsetenv("PULSE_SERVER");
        SetPulseApi({});
    }

    // Whether the daemon answers (waiting for it to start, ten seconds at
    // most).
    bool Ready() {
        if (m_pid <= 0)
            return false;
        PulseApi api = RealPulseApi();
        for (int i = 0; i < 200; ++i) {
            PulseServer server;
            if (api.list(&server) == 0 && !server.sources.empty())
                return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    const std::string& Fifo() const { return m_fifo; }
    // The daemon goes, as a server that crashed or was restarted.
    void Kill() {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

private:
    QTemporaryDir m_dir;
    std::string m_fifo;
    pid_t m_pid = -1;
};

// Writes the test signal into the daemon's FIFO source from the graph's
// start on, into an empty pipe, paced by this process's monotonic clock
// (the server's pipe source reads at its own nominal pace, so a feeder
// running fast would only fill the pipe; a card's own rate is the fakes'
// business): a quiet 1 kHz tone (in the signal's own samples)
// with a loud 3 kHz burst for 20 ms from each whole second of the graph's
// stream time, which the Test Pattern Camera's white frames mark too. A
// burst written at monotonic time T belongs at file time T - `start`.
class Feeder {
public:
    Feeder(const std::string& fifo, REFERENCE_TIME start)
        : m_fd(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)),
          m_start(start),
          m_thread([this](std::stop_token stop) { Run(stop); }) {}
    ~Feeder() {
        m_thread.request_stop();
        m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool Open() const { return m_fd >= 0; }

private:
    void Run(std::stop_token stop) {
        const REFERENCE_TIME t0 = MonotonicNow100ns();
        int64_t written = 0;
        std::vector<int16_t> chunk;
        while (!stop.stop_requested()) {
            const REFERENCE_TIME now = MonotonicNow100ns();
            const auto due = int64_t(double(now - t0) * kRate / 1e7);
            chunk.clear();
            for (int64_t k = written; k < due; ++k) {
                const REFERENCE_TIME at = t0 + REFERENCE_TIME(double(k) * 1e7 / kRate);
                const bool burst = at >= m_start && (at - m_start) % 10'000'000 < 200'000;
                const double phase = 2 * std::numbers::pi * double(k) / kRate;
                const double v =
                    burst ? 0.9 * std::sin(3 * 1000 * phase) : 0.2 * std::sin(1000 * phase);
                const auto s = int16_t(std::lround(v * 32767));
                chunk.push_back(s);
                chunk.push_back(s);
            }
            // A full pipe (nobody records yet) loses what does not fit; the
            // signal keeps its clock.
            if (!chunk.empty() && m_fd >= 0) [[maybe_unused]]
                const ssize_t n = ::write(m_fd, chunk.data(), chunk.size() * sizeof(int16_t));
            written = due;
            std::this_thread::sleep_for(5ms);
        }
    }

    const int m_fd;
    const REFERENCE_TIME m_start;
    std::jthread m_thread;
};

class PulseDaemonTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RegisterEngineClasses();
        RegisterAlsaDevices();
        RegisterVirtualDevices();
        RegisterAudioOutputs();
    }
    void SetUp() override {
        ASSERT_TRUE(m_daemon.Ready()) << "the private PulseAudio daemon did not start (the "
                                         "test needs the pulseaudio package: make test-deps)";
    }

    PrivateDaemon m_daemon;
};

std::vector<std::string> Names(const GUID& category) {
    std::vector<std::string> names;
    for (const Device& d : DeviceRegistry::Instance().Enumerate(category))
        names.push_back(d.description.friendly_name);
    return names;
}

// The Test Pattern Camera and the server's source `source` into a capture
// file at `path`, ready to run.
struct CameraBesideSource {
    CaptureFileGraph file;
    ComPtr<IBaseFilter> camera, card;
};
void BuildCameraBeside(std::u16string_view source, const QString& path, CameraBesideSource* out) {
    out->file = MakeCaptureFileGraph(path.toStdU16String());
    ASSERT_TRUE(out->file.mux);
    ASSERT_EQ(CreateTestCamera(IBaseFilter::iid, out->camera.OutVoid()), S_OK);
    const auto device =
        DeviceRegistry::Instance().Find(u"@device:pnp:pulse:" + std::u16string(source) + u"\\" +
                                        ToUtf16(CLSID_AudioInputDeviceCategory.ToString()));
    ASSERT_TRUE(device);
    ASSERT_EQ(device->description.create(IBaseFilter::iid, out->card.OutVoid()), S_OK);
    for (const auto& [filter, name] :
         {std::pair{out->camera.Get(), u"Camera"}, std::pair{out->card.Get(), u"Card"}}) {
        ASSERT_EQ(out->file.graph->AddFilter(filter, name), S_OK);
        ASSERT_EQ(
            out->file.builder->RenderStream(nullptr, nullptr, filter, nullptr, out->file.mux.Get()),
            S_OK);
    }
}

TEST_F(PulseDaemonTest, TheDaemonsSourcesAndSinksAreListedByTheirDescriptions) {
    EXPECT_EQ(Names(CLSID_AudioInputDeviceCategory),
              (std::vector<std::string>{"Line In Card", "Sine source at 1000 Hz",
                                        "Monitor of Tone Output", kToneGeneratorName}));
    EXPECT_EQ(
        Names(CLSID_AudioRendererCategory),
        (std::vector<std::string>{kAlsaDefaultOutputName, "Tone Output", kSilentAudioOutputName}));
}

TEST_F(PulseDaemonTest, TenSecondsOfAToneBesideTheCameraKeepTheToneAtItsTime) {
    QTemporaryDir dir;
    const QString path = dir.filePath("tone.avi");
    CameraBesideSource graph;
    ASSERT_NO_FATAL_FAILURE(BuildCameraBeside(u"line_in", path, &graph));
    CaptureFileGraph& file = graph.file;
    ComPtr<IBaseFilter>& camera = graph.camera;
    ComPtr<IBaseFilter>& card = graph.card;
    auto control = file.graph.As<IMediaControl>();
    ASSERT_EQ(control->Run(), S_OK);
    // The graph's start on the monotonic clock its reference clock keeps.
    LONGLONG position = 0;
    ASSERT_EQ(file.graph.As<IMediaSeeking>()->GetCurrentPosition(&position), S_OK);
    Feeder feeder(m_daemon.Fifo(), MonotonicNow100ns() - position);
    ASSERT_TRUE(feeder.Open());
    std::this_thread::sleep_for(10s);
    const auto before = std::chrono::steady_clock::now();
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    LONG dropped = -1;
    PinNamed(card.Get(), u"Capture").As<IAMDroppedFrames>()->GetNumDropped(&dropped);
    control = nullptr;
    file = {};
    camera = nullptr;
    card = nullptr;

    // The tone, as ffmpeg reads it: 1 kHz in the file's samples (two sign
    // changes a period) between the bursts.
    const auto sound = RunTool("ffmpeg", {"-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1",
                                          "-f", "s16le", "-acodec", "pcm_s16le", "-"});
    ASSERT_TRUE(sound) << "ffmpeg cannot read the sound";
    const auto* samples = reinterpret_cast<const int16_t*>(sound->constData());
    const size_t count = size_t(sound->size()) / 2;
    ASSERT_GT(count, size_t(8 * kRate)) << "less than eight seconds of sound";
    // A quarter of a second without a burst, from the third second on.
    size_t from = 2 * kRate;
    auto loudest = [&](size_t a, size_t b) {
        int peak = 0;
        for (size_t i = a; i < b && i < count; ++i)
            peak = std::max(peak, std::abs(int(samples[i])));
        return peak;
    };
    while (from + kRate / 4 < count && loudest(from, from + kRate / 4) > 16000)
        from += kRate / 20;
    const size_t to = from + kRate / 4;
    ASSERT_LT(to, count);
    int crossings = 0;
    for (size_t i = from + 1; i < to; ++i)
        crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    EXPECT_NEAR(crossings * 4.0, 2000.0, 40.0) << "not the 1 kHz tone";
    EXPECT_NEAR(loudest(from, to), 0.2 * 32767, 0.05 * 32767);

    // Each burst against the white frame of its second: from half a frame
    // early (the camera marks a second on the frame that holds it) to a
    // frame and a half late (the feeder writes every 5 ms, the source hands
    // on 20 ms fragments), at every second. A sound stamped at its nominal
    // rate would drift 15 ms a second; one placed by what the server held
    // at the start would be off by all of it.
    const auto offsets = MeasureAvOffsets(path);
    ASSERT_TRUE(offsets);
    const double period = 1.0 / offsets->frame_rate;
    int measured = 0;
    for (double burst : offsets->bursts_s) {
        double nearest = 1e9;
        for (int64_t white : offsets->white)
            if (std::fabs(burst - double(white) * period) < std::fabs(nearest))
                nearest = burst - double(white) * period;
        if (std::fabs(nearest) >= 0.5)
            continue;  // a second whose white frame the file does not hold
        ++measured;
        EXPECT_GE(nearest, -0.5 * period) << "burst at " << burst << " s";
        EXPECT_LE(nearest, 1.5 * period) << "burst at " << burst << " s";
    }
    EXPECT_GE(measured, 7) << offsets->bursts_s.size() << " bursts, " << offsets->white.size()
                           << " white frames";
    EXPECT_EQ(dropped, 0);
}

// A source whose sound reaches the client a long latency after it was
// captured (the sine source's is up to two seconds): the file holds its
// sound from the graph's start to the stop, gapless, as long as the
// pictures, nothing counted as lost.
TEST_F(PulseDaemonTest, ALateSourcesSoundReachesTheFileUpToTheStop) {
    QTemporaryDir dir;
    const QString path = dir.filePath("sine.avi");
    CameraBesideSource graph;
    ASSERT_NO_FATAL_FAILURE(BuildCameraBeside(u"sine", path, &graph));
    CaptureFileGraph& file = graph.file;
    ComPtr<IBaseFilter>& camera = graph.camera;
    ComPtr<IBaseFilter>& card = graph.card;
    auto control = file.graph.As<IMediaControl>();
    ASSERT_EQ(control->Run(), S_OK);
    std::this_thread::sleep_for(5s);
    ASSERT_EQ(control->Stop(), S_OK);
    LONG dropped = -1;
    PinNamed(card.Get(), u"Capture").As<IAMDroppedFrames>()->GetNumDropped(&dropped);
    EXPECT_EQ(dropped, 0);
    control = nullptr;
    file = {};
    camera = nullptr;
    card = nullptr;

    const auto streams = ProbeStreams(path);
    ASSERT_TRUE(streams && streams->size() == 2u);
    const auto sound = RunTool("ffmpeg", {"-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1",
                                          "-f", "s16le", "-acodec", "pcm_s16le", "-"});
    ASSERT_TRUE(sound);
    const auto* samples = reinterpret_cast<const int16_t*>(sound->constData());
    const size_t count = size_t(sound->size()) / 2;
    const double pictures_s = double((*streams)[0].frames) / 25.0;
    // The pictures end with the frame the stop fell in, the sound at the
    // stop: within a frame period, and the camera's stamping under load.
    EXPECT_NEAR(double(count) / kRate, pictures_s, 1.5 / 25) << "sound and pictures end apart";
    EXPECT_GT(pictures_s, 4.5);
    // The tone unbroken: its sign changes upwards every 48 samples (1 kHz at
    // 48 kHz), so a sample skipped or doubled anywhere shows.
    int broken = 0, last_rise = -1;
    for (size_t i = 1; i < count; ++i)
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (last_rise >= 0 && std::abs(int(i) - last_rise - 48) > 1)
                ++broken;
            last_rise = int(i);
        }
    EXPECT_EQ(broken, 0) << "the tone is patched";
    // The tone in every 5 ms of it: nothing silent was put in its place.
    for (size_t at = 0; at + kRate / 200 <= count; at += kRate / 200) {
        int peak = 0;
        for (size_t i = at; i < at + kRate / 200; ++i)
            peak = std::max(peak, std::abs(int(samples[i])));
        ASSERT_GT(peak, 1000) << "silence at " << double(at) / kRate << " s";
    }
}

// Sound played to the "Tone Output" sink through its output filter, as
// Print to Tape plays a file's sound, comes back on the sink's monitor.
TEST_F(PulseDaemonTest, SoundPlayedToASinkComesBackOnItsMonitor) {
    ComPtr<IBaseFilter> output, monitor;
    const std::u16string renderers = ToUtf16(CLSID_AudioRendererCategory.ToString());
    const std::u16string inputs = ToUtf16(CLSID_AudioInputDeviceCategory.ToString());
    const auto sink = DeviceRegistry::Instance().Find(u"@device:pnp:pulse:tone_out\\" + renderers);
    const auto back =
        DeviceRegistry::Instance().Find(u"@device:pnp:pulse:tone_out.monitor\\" + inputs);
    ASSERT_TRUE(sink && back);
    ASSERT_EQ(sink->description.create(IBaseFilter::iid, output.OutVoid()), S_OK);
    ASSERT_EQ(back->description.create(IBaseFilter::iid, monitor.OutVoid()), S_OK);

    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<TestSource> source = TestSource::Make({.types = {MediaType::Pcm(kRate, 16, 2)}});
    ComPtr<TestSink> heard = TestSink::Make({{MediaType::Partial(MEDIATYPE_Audio)}});
    graph->AddFilter(source->Filter(), u"Source");
    graph->AddFilter(output.Get(), u"Output");
    graph->AddFilter(monitor.Get(), u"Monitor");
    graph->AddFilter(heard->Filter(), u"Heard");
    ASSERT_EQ(graph->ConnectDirect(source->Output(),
                                   PinNamed(output.Get(), u"Audio Input pin").Get(), nullptr),
              S_OK);
    const MediaType stereo = MediaType::Pcm(kRate, 16, 2);
    ASSERT_EQ(graph->ConnectDirect(PinNamed(monitor.Get(), u"Capture").Get(), heard->Input(),
                                   &stereo.Get()),
              S_OK);
    ASSERT_EQ(graph.As<IMediaControl>()->Run(), S_OK);
    // Two seconds of a 1 kHz tone, untimed: played as fast as the sink takes it.
    for (int chunk = 0; chunk < 100; ++chunk) {
        std::vector<uint8_t> data(size_t(kRate / 50) * 4);
        for (int i = 0; i < kRate / 50; ++i) {
            const int k = chunk * (kRate / 50) + i;
            const auto v = int16_t(
                std::lround(10000 * std::sin(2 * std::numbers::pi * 1000.0 * double(k) / kRate)));
            std::memcpy(&data[size_t(i) * 4], &v, 2);
            std::memcpy(&data[size_t(i) * 4 + 2], &v, 2);
        }
        ASSERT_EQ(source->Push(data), S_OK);
    }
    std::this_thread::sleep_for(500ms);
    graph.As<IMediaControl>()->Stop();
    std::vector<int16_t> samples;
    for (const TestSink::Received& r : heard->ReceivedSamples())
        for (size_t i = 0; i + 4 <= r.data.size(); i += 4)
            samples.push_back(int16_t(uint16_t(r.data[i] | (r.data[i + 1] << 8))));
    // A second of the tone somewhere in what came back.
    size_t best = 0;
    for (size_t from = 0; from + kRate / 4 <= samples.size(); from += kRate / 10) {
        int crossings = 0, peak = 0;
        for (size_t i = from + 1; i < from + kRate / 4; ++i) {
            crossings += (samples[i - 1] < 0) != (samples[i] < 0);
            peak = std::max(peak, std::abs(int(samples[i])));
        }
        if (std::abs(crossings * 4 - 2000) <= 40 && peak > 9000 && peak < 11000)
            ++best;
    }
    EXPECT_GE(best, 5u) << "the tone did not come back (" << samples.size() << " samples)";
    graph->RemoveFilter(source->Filter());
    graph->RemoveFilter(output.Get());
    graph->RemoveFilter(monitor.Get());
    graph->RemoveFilter(heard->Filter());
}

// A sink loaded on the server, and unloaded again, is news to the device
// watch within two seconds each time, and the server is asked again for
// its devices after the news.
TEST_F(PulseDaemonTest, TheDeviceWatchHearsOfASinkThatComesAndGoes) {
    std::mutex lock;
    std::condition_variable told;
    int calls = 0;  // Guarded by `lock`.
    DeviceWatch watch([&] {
        {
            std::lock_guard guard(lock);
            ++calls;
        }
        told.notify_all();
    });
    auto news_after = [&](int seen, std::chrono::seconds within) {
        std::unique_lock guard(lock);
        return told.wait_for(guard, within, [&] { return calls > seen; }) ? calls : -1;
    };
    auto has_sink = [](const std::string& name) {
        const auto server = PulseDevices();
        return server && std::any_of(server->sinks.begin(), server->sinks.end(),
                                     [&](const PulseDevice& d) { return d.name == name; });
    };
    // The server's first answer is news too: nobody listened before it.
    int seen = news_after(0, 10s);
    ASSERT_GT(seen, 0) << "the watch was never answered";
    ASSERT_FALSE(has_sink("hot_plug"));

    const auto module = RunTool("pactl", {"load-module", "module-null-sink", "sink_name=hot_plug"});
    ASSERT_TRUE(module) << "pactl could not load a sink";
    seen = news_after(seen, 2s);
    ASSERT_GT(seen, 0) << "the new sink was not heard of";
    EXPECT_TRUE(has_sink("hot_plug"));

    ASSERT_TRUE(RunTool("pactl", {"unload-module", QString::fromUtf8(module->trimmed())}));
    ASSERT_GT(news_after(seen, 2s), 0) << "the sink that went was not heard of";
    EXPECT_FALSE(has_sink("hot_plug"));
}

// A server that goes in the middle of a capture ends the stream like a
// card that was unplugged: once, and Stop returns.
TEST_F(PulseDaemonTest, AServerThatGoesEndsTheCaptureAsALostDevice) {
    ComPtr<IBaseFilter> card;
    const auto found =
        DeviceRegistry::Instance().Find(u"@device:pnp:pulse:tone_out.monitor\\" +
                                        ToUtf16(CLSID_AudioInputDeviceCategory.ToString()));
    ASSERT_TRUE(found);
    ASSERT_EQ(found->description.create(IBaseFilter::iid, card.OutVoid()), S_OK);
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<TestSink> sink = TestSink::Make({{MediaType::Partial(MEDIATYPE_Audio)}});
    graph->AddFilter(card.Get(), u"Card");
    graph->AddFilter(sink->Filter(), u"Sink");
    ASSERT_EQ(graph->ConnectDirect(PinNamed(card.Get(), u"Capture").Get(), sink->Input(), nullptr),
              S_OK);
    ComPtr<IMediaEvent> events = graph.As<IMediaEvent>();
    ASSERT_EQ(graph.As<IMediaControl>()->Run(), S_OK);
    ASSERT_TRUE(sink->WaitForSamples(10));
    m_daemon.Kill();
    int lost = 0;
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, lost ? 300 : 5000) == S_OK) {
        lost += code == EC_DEVICE_LOST;
        events->FreeEventParams(code, p1, p2);
    }
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(sink->EndOfStreams(), 1);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(graph.As<IMediaControl>()->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    events = nullptr;
    graph->RemoveFilter(card.Get());
    graph->RemoveFilter(sink->Filter());
}

}  // namespace
}  // namespace ronvix::media::test
