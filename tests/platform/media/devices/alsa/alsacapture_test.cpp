// A sound card's capture stream against a scripted card: the formats it
// offers and takes, timestamps that follow the graph's clock when the
// card's clock runs fast or slow, overruns, and a card that vanishes.

#include <gtest/gtest.h>

#include <cstdlib>

#include <QTemporaryDir>

#include <thread>

#include "fake_alsa.h"
#include "platform/com/errortext.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/container/av_offsets.h"
#include "platform/media/devices/alsa/alsacapture.h"
#include "platform/media/devices/imperfections.h"
#include "platform/media/devices/livesource.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media::test {
namespace {

using namespace com;
using namespace std::chrono_literals;

constexpr REFERENCE_TIME kSecond = 10'000'000;
constexpr REFERENCE_TIME kBuffer = 200'000;  // 20 ms at 48000 Hz.
// How far a stamp may be from the true capture time: the fit starts from
// the nominal rate for its first half second.
constexpr REFERENCE_TIME kStampError = 30'000;

const AlsaCard kCard{0, "Tone", "Fake Card", 0, -1};

class AlsaCaptureTest : public ::testing::Test {
protected:
    void SetUp() override { NewMachine(); }
    void TearDown() override { SetAlsaCaptureApi({}); }

    // A fresh card; filters made through the previous one must be gone.
    void NewMachine() {
        m_machine = std::make_unique<FakeAlsa>();
        m_machine->cards = {FakeCard{0, "Tone", "Fake Card", 0, -1, {}}};
        SetAlsaCaptureApi(m_machine->CaptureApi());
    }
    ComPtr<IBaseFilter> NewCapture() {
        ComPtr<IBaseFilter> filter;
        EXPECT_EQ(CreateAlsaCapture(kCard, IBaseFilter::iid, filter.OutVoid()), S_OK);
        return filter;
    }

    std::unique_ptr<FakeAlsa> m_machine;
    FakeAlsa& m_alsa() { return *m_machine; }
};

// Each received sample's stamp beside the true capture time of its first
// frame (the card wrote its frame number into each frame).
struct Stamp {
    REFERENCE_TIME start;
    REFERENCE_TIME truth;
    bool discontinuity = false;
};

std::vector<Stamp> Stamps(TestSink* sink, const FakeAlsa& alsa) {
    std::vector<Stamp> stamps;
    for (const TestSink::Received& r : sink->ReceivedSamples()) {
        uint32_t frame = 0;
        if (r.data.size() < sizeof frame || !r.has_time)
            continue;
        std::memcpy(&frame, r.data.data(), sizeof frame);
        stamps.push_back({r.start, alsa.TrueTime(frame), r.discontinuity});
    }
    return stamps;
}

// Stamps that do not follow on from the previous sample (to within a
// tenth of a millisecond): lost sound, or a fit started again.
int Jumps(const std::vector<Stamp>& stamps) {
    int jumps = 0;
    for (size_t i = 1; i < stamps.size(); ++i)
        jumps += std::llabs(stamps[i].start - (stamps[i - 1].start + kBuffer)) > 1000;
    return jumps;
}

REFERENCE_TIME WorstError(const std::vector<Stamp>& stamps) {
    REFERENCE_TIME worst = 0;
    for (const Stamp& s : stamps)
        worst = std::max<REFERENCE_TIME>(worst, std::llabs(s.start - s.truth));
    return worst;
}

TEST_F(AlsaCaptureTest, OffersTheFormatsTheCardTakesAndOpensTheChosenOne) {
    m_alsa().accept_bits = {16, 24};
    m_alsa().accept_channels = {1, 2};
    m_alsa().accept_rates = {44100, 48000};
    ComPtr<IBaseFilter> filter = NewCapture();
    ComPtr<IPin> capture = PinNamed(filter.Get(), u"Capture");
    ASSERT_TRUE(capture);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(capture->QueryInterface(IAMStreamConfig::iid, config.OutVoid()), S_OK);
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    std::vector<std::tuple<int, int, int>> formats;
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        AUDIO_STREAM_CONFIG_CAPS caps;
        ASSERT_EQ(config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
        const MediaType t(*mt);
        DeleteMediaType(mt);
        EXPECT_EQ(caps.MinimumSampleFrequency, t.WaveFormat()->nSamplesPerSec);
        formats.emplace_back(t.WaveFormat()->wBitsPerSample, t.WaveFormat()->nSamplesPerSec,
                             t.WaveFormat()->nChannels);
    }
    const std::vector<std::tuple<int, int, int>> expected = {
        {16, 48000, 2}, {16, 48000, 1}, {16, 44100, 2}, {16, 44100, 1},
        {24, 48000, 2}, {24, 48000, 1}, {24, 44100, 2}, {24, 44100, 1}};
    EXPECT_EQ(formats, expected);
    EXPECT_EQ(m_alsa().opened.front(), "hw:CARD=Tone,DEV=0");

    MediaType wanted = MediaType::Pcm(22050, 16, 2);
    EXPECT_EQ(config->SetFormat(&wanted.Get()), VFW_E_INVALIDMEDIATYPE);
    wanted = MediaType::Pcm(44100, 24, 1);
    ASSERT_EQ(config->SetFormat(&wanted.Get()), S_OK);
    config = nullptr;
    capture = nullptr;
    FilterHarness h(std::move(filter));
    TestSink* sink = h.AddSink();
    ASSERT_EQ(h.ConnectOut(u"Capture", sink), S_OK);
    m_alsa().clock = h.Clock();
    ASSERT_EQ(h.Control()->Pause(), S_OK);
    EXPECT_EQ(m_alsa().open_bits, 24);
    EXPECT_EQ(m_alsa().open_channels, 1);
    EXPECT_EQ(m_alsa().open_rate, 44100);
    EXPECT_EQ(m_alsa().starts, 0) << "capture starts when the graph runs";
    h.Teardown();
}

TEST_F(AlsaCaptureTest, ABusyCardStillMakesAGraphWhoseStartNamesWhatHoldsIt) {
    m_alsa().probe_busy = true;
    m_alsa().open_busy = true;
    m_alsa().holder = "pulseaudio (process 812)";
    ComPtr<IBaseFilter> filter = NewCapture();
    ComPtr<IAMStreamConfig> config;
    PinNamed(filter.Get(), u"Capture")->QueryInterface(IAMStreamConfig::iid, config.OutVoid());
    int count = -1, size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    EXPECT_EQ(count, 2) << "the usual formats, until the card's own can be read";
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(config->GetFormat(&mt), S_OK);
    EXPECT_TRUE(SameType(*mt, MediaType::Pcm(48000, 16, 2).Get()));
    DeleteMediaType(mt);
    config = nullptr;
    {
        FilterHarness h(filter);
        TestSink* sink = h.AddSink();
        ASSERT_EQ(h.ConnectOut(u"Capture", sink), S_OK);
        m_alsa().clock = h.Clock();
        const HRESULT hr = h.Control()->Pause();
        ASSERT_TRUE(FAILED(hr));
        EXPECT_EQ(ErrorText(hr),
                  "The sound device \"Fake Card\" is in use by pulseaudio (process 812). Close "
                  "it, or capture through the desktop's sound server.");
    }
    // Free again: the card's own formats.
    m_alsa().probe_busy = false;
    m_alsa().open_busy = false;
    PinNamed(filter.Get(), u"Capture")->QueryInterface(IAMStreamConfig::iid, config.OutVoid());
    config->GetNumberOfCapabilities(&count, &size);
    EXPECT_EQ(count, 4);
}

// A simulated minute of capture with the card's clock at `ratio` of the
// graph's.
std::vector<Stamp> CaptureMinute(FakeAlsa& alsa, ComPtr<IBaseFilter> filter, double ratio) {
    alsa.ratio = ratio;
    FilterHarness h(std::move(filter));
    TestSink* sink = h.AddSink();
    EXPECT_EQ(h.ConnectOut(u"Capture", sink), S_OK);
    alsa.clock = h.Clock();
    REFERENCE_TIME start = 0;
    h.Clock()->GetTime(&start);
    alsa.end = start + 60 * kSecond;
    EXPECT_EQ(h.Control()->Run(), S_OK);
    EXPECT_TRUE(sink->WaitFor(
        [&] {
            std::lock_guard guard(alsa.lock);
            return alsa.waits_after_end > 0;
        },
        60'000));
    h.Control()->Stop();
    std::vector<Stamp> stamps = Stamps(sink, alsa);
    h.Teardown();
    return stamps;
}

TEST_F(AlsaCaptureTest, StampsFollowTheGraphClockWhenTheCardClockDrifts) {
    for (double ratio : {1.005, 0.995}) {
        SCOPED_TRACE(ratio);
        const std::vector<Stamp> stamps = CaptureMinute(m_alsa(), NewCapture(), ratio);
        ASSERT_GT(stamps.size(), 2900u);
        // 0.5 % of a minute is 300 ms: the stamps follow the card's rate
        // smoothly, with no step for the mux to act on and nothing lost.
        EXPECT_LE(WorstError(stamps), kStampError);
        for (size_t i = 1; i < stamps.size(); ++i) {
            EXPECT_LE(std::llabs(stamps[i].start - stamps[i - 1].start - kBuffer),
                      kBuffer * 6 / 1000 + 1000)
                << "sample " << i;
            EXPECT_FALSE(stamps[i].discontinuity) << "sample " << i;
        }
        NewMachine();
    }
}

// A card half a per cent fast or slow, or one whose frames reach the
// readable buffer 200 ms after they entered it (which only its delay
// tells), captured for a simulated minute beside a camera on the graph's
// clock into a file through the real mux: at every second the card's burst
// starts within the camera's white frame, as ffmpeg reads the file.
TEST_F(AlsaCaptureTest, ACardOffItsRateOrLateThroughItsDeviceStaysWithThePictureInTheFile) {
    RegisterEngineClasses();
    std::vector<uint8_t> white(JpegEncoder::MaxSize(32, 32)), black(white.size());
    {
        JpegEncoder encoder;
        const std::vector<uint8_t> w(32 * 32 * 4, 255), b(32 * 32 * 4, 0);
        white.resize(encoder.EncodeRgb32(w.data(), 32, 32, false, 50, white));
        black.resize(encoder.EncodeRgb32(b.data(), 32, 32, false, 50, black));
    }
    for (const auto& [ratio, delay] :
         {std::pair{1.005, REFERENCE_TIME(0)}, std::pair{0.995, REFERENCE_TIME(0)},
          std::pair{1.0, REFERENCE_TIME(2'000'000)}}) {
        SCOPED_TRACE(ratio);
        SCOPED_TRACE(delay);
        NewMachine();
        m_alsa().clapper = true;
        m_alsa().ratio = ratio;
        m_alsa().delay = delay;
        QTemporaryDir dir;
        const QString path = dir.filePath("card.avi");
        FilterHarness h(NewCapture());
        TestSource::Options options;
        options.types = {MediaType::Video(MEDIASUBTYPE_MJPG, 32, 32, 24, 400'000)};
        options.buffer_size = 4096;
        TestSource* camera = h.AddSource(options);
        CaptureFileGraph file = MakeCaptureFileGraph(path.toStdU16String(), h.Graph());
        ASSERT_TRUE(file.mux);
        ComPtr<ICaptureGraphBuilder2>& builder = file.builder;
        ComPtr<IBaseFilter>& mux = file.mux;
        ASSERT_EQ(builder->RenderStream(nullptr, nullptr, camera->Filter(), nullptr, mux.Get()),
                  S_OK);
        ASSERT_EQ(builder->RenderStream(nullptr, nullptr, h.Filter(), nullptr, mux.Get()), S_OK);
        m_alsa().clock = h.Clock();
        REFERENCE_TIME start = 0;
        h.Clock()->GetTime(&start);
        m_alsa().end = start + 60 * kSecond;
        ASSERT_EQ(h.Control()->Run(), S_OK);
        // The camera delivers each frame once the card has moved the clock
        // past it.
        std::jthread frames([&](std::stop_token stop) {
            const ImperfectClock clock({}, 25);
            for (int64_t n = 0; n < 1500; ++n) {
                const REFERENCE_TIME t = clock.FrameTime(n);
                if (h.Clock()->WaitUntil(start + t, stop) != S_OK)
                    return;
                const bool holds_second = (t + kSecond - 1) / kSecond * kSecond < t + 400'000;
                camera->Push(holds_second ? white : black, t, t + 400'000, 0, false, n, n + 1);
            }
        });
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        for (;;) {
            {
                std::lock_guard guard(m_alsa().lock);
                if (m_alsa().waits_after_end > 0)
                    break;
            }
            ASSERT_LT(std::chrono::steady_clock::now(), deadline);
            std::this_thread::sleep_for(5ms);
        }
        frames.request_stop();
        frames.join();
        h.Control()->Stop();
        const auto offsets = MeasureAvOffsets(path);
        ASSERT_TRUE(offsets);
        EXPECT_TRUE(offsets->AllWithin(-0.5 - 0.01, 1.5 + 0.01))
            << "offsets from " << offsets->Lowest() << " to " << offsets->Highest();
        EXPECT_GE(offsets->offsets.size(), 58u);
        file = {};
        h.Teardown();
    }
}

TEST_F(AlsaCaptureTest, ACardOnTheGraphClockIsNeverReanchored) {
    const std::vector<Stamp> stamps = CaptureMinute(m_alsa(), NewCapture(), 1.0);
    ASSERT_GT(stamps.size(), 2900u);
    EXPECT_EQ(Jumps(stamps), 0);
    EXPECT_LE(WorstError(stamps), 1000);
}

TEST_F(AlsaCaptureTest, AnOverrunIsRecoveredCountedAndTheStampsCatchUp) {
    FilterHarness h(NewCapture());
    TestSink* sink = h.AddSink();
    ASSERT_EQ(h.ConnectOut(u"Capture", sink), S_OK);
    m_alsa().clock = h.Clock();
    REFERENCE_TIME start = 0;
    h.Clock()->GetTime(&start);
    m_alsa().overrun_at = start + 2 * kSecond;
    m_alsa().end = start + 5 * kSecond;
    ASSERT_EQ(h.Control()->Run(), S_OK);
    ASSERT_TRUE(sink->WaitFor([&] {
        std::lock_guard guard(m_alsa().lock);
        return m_alsa().waits_after_end > 0;
    }));
    EXPECT_EQ(m_alsa().recovers, 1);
    EXPECT_EQ(m_alsa().starts, 2) << "the stream restarts after the recovery";
    ComPtr<IAMDroppedFrames> drops;
    ASSERT_EQ(
        PinNamed(h.Filter(), u"Capture")->QueryInterface(IAMDroppedFrames::iid, drops.OutVoid()),
        S_OK);
    LONG dropped = 0, delivered = 0;
    drops->GetNumDropped(&dropped);
    drops->GetNumNotDropped(&delivered);
    drops = nullptr;
    // The card's half second of buffer plus the gap: whole 20 ms buffers.
    EXPECT_GE(dropped, 1);
    h.Control()->Stop();

    const std::vector<Stamp> stamps = Stamps(sink, m_alsa());
    EXPECT_EQ(LONG(stamps.size()), delivered);
    ASSERT_FALSE(stamps.empty());
    EXPECT_GT(stamps.back().truth, 4 * kSecond) << "capture went on after the overrun";
    // The positions skip the lost sound, so every stamp keeps its time.
    EXPECT_LE(WorstError(stamps), kStampError);
    EXPECT_EQ(Jumps(stamps), 1) << "the lost time is one step forward";
    int marked = 0;
    for (const Stamp& s : stamps)
        marked += s.discontinuity;
    EXPECT_EQ(marked, 1) << "the sample after the loss says so";
    h.Teardown();
}

TEST_F(AlsaCaptureTest, WhatACardCapturesWhilePausedIsLetGoAndTheStampsGoOnFromThePause) {
    FilterHarness h(NewCapture());
    TestSink* sink = h.AddSink();
    ASSERT_EQ(h.ConnectOut(u"Capture", sink), S_OK);
    m_alsa().clock = h.Clock();
    REFERENCE_TIME start = 0;
    h.Clock()->GetTime(&start);
    // The card runs until `until` on the graph's clock, then waits idle
    // (the clock stands still, so the graph pauses and runs at known times).
    auto run_card_until = [&](REFERENCE_TIME until) {
        {
            std::lock_guard guard(m_alsa().lock);
            m_alsa().end = start + until;
            m_alsa().waits_after_end = 0;
        }
        return sink->WaitFor([&] {
            std::lock_guard guard(m_alsa().lock);
            return m_alsa().waits_after_end > 0;
        });
    };
    // The card stops at one second before the graph runs, so it cannot run
    // past it before the test pauses the graph.
    m_alsa().end = start + kSecond;
    ASSERT_EQ(h.Control()->Run(), S_OK);
    ASSERT_TRUE(run_card_until(kSecond));
    ASSERT_EQ(h.Control()->Pause(), S_OK);
    const size_t before_pause = sink->Count();
    ASSERT_TRUE(run_card_until(3 * kSecond));  // Two seconds captured while paused.
    EXPECT_EQ(sink->Count(), before_pause);
    ASSERT_EQ(h.Control()->Run(), S_OK);
    ASSERT_TRUE(run_card_until(5 * kSecond));
    h.Control()->Stop();

    const std::vector<Stamp> stamps = Stamps(sink, m_alsa());
    size_t after = 0;
    for (const Stamp& s : stamps) {
        // Reads take whole periods, so the part of a period the card filled
        // before the graph ran again comes at the head of the first sample.
        ASSERT_TRUE(s.truth < kSecond || s.truth >= 3 * kSecond - kBuffer)
            << "a sample captured while paused was delivered";
        // Stream time stood still while paused: two seconds behind the card.
        const REFERENCE_TIME expected = s.truth < kSecond ? s.truth : s.truth - 2 * kSecond;
        EXPECT_LE(std::llabs(s.start - expected), kStampError);
        after += s.truth >= 3 * kSecond;
    }
    EXPECT_GT(after, 90u);
    h.Teardown();
}

TEST_F(AlsaCaptureTest, AVanishedCardEndsTheStreamAndIsReportedOnce) {
    for (int error : {-ENODEV, -EBADFD}) {
        SCOPED_TRACE(error);
        NewMachine();
        m_alsa().loss_error = error;
        FilterHarness h(NewCapture());
        TestSink* sink = h.AddSink();
        ASSERT_EQ(h.ConnectOut(u"Capture", sink), S_OK);
        m_alsa().clock = h.Clock();
        REFERENCE_TIME start = 0;
        h.Clock()->GetTime(&start);
        m_alsa().lose_at = start + kSecond;
        ComPtr<IMediaEvent> events = ComPtr<IFilterGraph2>(h.Graph()).As<IMediaEvent>();
        ASSERT_EQ(h.Control()->Run(), S_OK);

        // The first report, then any repeat within a further 300 ms.
        int lost = 0;
        LONG code = 0;
        LONG_PTR p1 = 0, p2 = 0;
        while (events->GetEvent(&code, &p1, &p2, lost ? 300 : 5000) == S_OK) {
            if (code == EC_DEVICE_LOST) {
                ++lost;
                ComPtr<IUnknown> identity;
                h.Filter()->QueryInterface(IUnknown::iid, identity.OutVoid());
                EXPECT_EQ(p1, reinterpret_cast<LONG_PTR>(identity.Get()));
                EXPECT_EQ(p2, 0);
            }
            events->FreeEventParams(code, p1, p2);
        }
        EXPECT_EQ(lost, 1);
        EXPECT_EQ(sink->EndOfStreams(), 1);
        int calls = 0;
        {
            std::lock_guard guard(m_alsa().lock);
            calls = m_alsa().calls_after_loss;
        }
        std::this_thread::sleep_for(100ms);
        {
            std::lock_guard guard(m_alsa().lock);
            EXPECT_EQ(m_alsa().calls_after_loss, calls) << "the streaming thread ended";
        }
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(h.Control()->Stop(), S_OK);
        EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
        EXPECT_EQ(h.Control()->Run(), HResultFromErrno(ENODEV)) << "the card is gone";
        events = nullptr;
        h.Teardown();
    }
}

TEST_F(AlsaCaptureTest, StopReturnsWhileTheCardIsSilent) {
    FilterHarness h(NewCapture());
    TestSink* sink = h.AddSink();
    ASSERT_EQ(h.ConnectOut(u"Capture", sink), S_OK);
    m_alsa().clock = h.Clock();
    REFERENCE_TIME start = 0;
    h.Clock()->GetTime(&start);
    m_alsa().end = start;  // Every wait times out.
    ASSERT_EQ(h.Control()->Run(), S_OK);
    ASSERT_TRUE(sink->WaitFor([&] {
        std::lock_guard guard(m_alsa().lock);
        return m_alsa().waits_after_end > 3;
    }));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(h.Control()->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_EQ(sink->Count(), 0u);
    h.Teardown();
}

}  // namespace
}  // namespace ronvix::media::test
