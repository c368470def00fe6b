// Audio outputs and the Virtual Tape Deck on their own: the audio renderer
// category with and without a sound card, presentation at sample time, a
// device that never takes data, and the deck's recordings and monitor.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/com/devices.h"
#include "platform/com/errortext.h"
#include "platform/com/oleauto.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/container/playback_files.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/devices/alsa/audiooutput.h"
#include "platform/media/devices/virtual/tapedeck.h"
#include "platform/media/registration/engineclasses.h"

#include <turbojpeg.h>

namespace ronvix::media::test {
namespace {

using namespace com;

constexpr REFERENCE_TIME kSecond = 10'000'000;

std::vector<std::string> AudioRenderers() {
    std::vector<std::string> names;
    for (const Device& d : DeviceRegistry::Instance().Enumerate(CLSID_AudioRendererCategory))
        names.push_back(d.description.friendly_name);
    return names;
}

// A stand-in sound card: records what is written; can refuse to open or
// stay full. Given a clock, it plays at 48 kHz from its first write, after
// `latency` of its own, and notes when each write's first frame is heard.
struct FakeCard {
    std::mutex lock;
    std::vector<uint8_t> written;
    int opens = 0;
    bool present = true;
    bool full = false;
    int block_align = 4;
    IReferenceClock* clock = nullptr;
    REFERENCE_TIME latency = 0;
    std::vector<REFERENCE_TIME> heard;
    REFERENCE_TIME started = -1;

    // Frames a frame written at `now` waits behind: the unplayed ones and
    // the card's latency.
    long Delay(REFERENCE_TIME now) const {
        const long queued = long(written.size()) / block_align;
        const long played = started < 0 || now < started
                                ? 0
                                : std::min<long>(queued, long((now - started) * 48 / 10'000));
        return queued - played + long(latency * 48 / 10'000);
    }
    REFERENCE_TIME Now() const {
        REFERENCE_TIME now = 0;
        if (clock)
            clock->GetTime(&now);
        return now;
    }

    AlsaPlaybackApi Api() {
        AlsaPlaybackApi api;
        api.open = [this](const std::string&, int bits, int channels, int, void** handle) {
            std::lock_guard guard(lock);
            if (!present)
                return -ENOENT;
            ++opens;
            block_align = bits / 8 * channels;
            *handle = this;
            return 0;
        };
        api.wait = [](void*, int timeout_ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
            return 0;
        };
        api.write = [this](void*, const uint8_t* data, long frames) -> long {
            std::lock_guard guard(lock);
            if (full)
                return -EAGAIN;
            const REFERENCE_TIME now = Now();
            heard.push_back(now + REFERENCE_TIME(Delay(now)) * 10'000 / 48);
            if (started < 0)
                started = now + latency;
            written.insert(written.end(), data, data + frames * block_align);
            return frames;
        };
        api.delay = [this](void*, long* frames) {
            std::lock_guard guard(lock);
            *frames = clock ? Delay(Now()) : 0;
            return 0;
        };
        api.recover = [](void*, int error) { return error; };
        api.close = [](void*) {};
        return api;
    }
};

class AudioOutputs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RegisterEngineClasses();
        RegisterAudioOutputs();
    }
    void TearDown() override { SetAlsaPlaybackApi({}); }
};

TEST_F(AudioOutputs, TheDefaultDeviceLeadsWhetherOrNotItOpensAndTheSilentOutputIsLast) {
    // The list keeps its order whatever state the sound system is in: a
    // default device that does not open now is listed all the same, and
    // fails when a graph that uses it starts, saying which and why.
    FakeCard card;
    SetAlsaPlaybackApi(card.Api());
    const std::vector<std::string> names = AudioRenderers();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names.front(), kAlsaDefaultOutputName);
    EXPECT_EQ(names.back(), kSilentAudioOutputName);

    card.present = false;
    EXPECT_EQ(AudioRenderers(), names);
    ComPtr<IBaseFilter> output;
    ASSERT_EQ(CreateAlsaDefaultOutput(IBaseFilter::iid, output.OutVoid()), S_OK);
    FilterHarness h(std::move(output));
    TestSource* source = h.AddSource({.types = {MediaType::Pcm(48000, 16, 2)}});
    ASSERT_EQ(h.ConnectIn(source, u"Audio Input pin"), S_OK);
    const HRESULT absent = h.Control()->Run();
    EXPECT_TRUE(FAILED(absent));
    EXPECT_EQ(ErrorText(absent),
              "The audio output \"Default ALSA Device\" could not be opened: No such file or "
              "directory.");
    h.Teardown();
}

TEST_F(AudioOutputs, SamplesArePresentedAtTheirTimeAndHeldWhilePaused) {
    ComPtr<IBaseFilter> silent;
    ASSERT_EQ(CreateSilentAudioOutput(IBaseFilter::iid, silent.OutVoid()), S_OK);
    FilterHarness h(std::move(silent));
    TestSource* source = h.AddSource({.types = {MediaType::Pcm(48000, 16, 2)}});
    ASSERT_EQ(h.ConnectIn(source, u"Audio Input pin"), S_OK);
    ASSERT_EQ(h.Control()->Run(), S_OK);

    std::atomic<int> taken{0};
    std::jthread producer([&] {
        const std::vector<uint8_t> chunk(1920, 0x11);
        for (int i = 0; i < 2; ++i) {
            if (source->Push(chunk, (i + 1) * kSecond, (i + 1) * kSecond + 100000) == S_OK)
                ++taken;
        }
    });
    auto taken_reaches = [&](int n) {
        const bool ok = TestSink::Make()->WaitFor([&] { return taken.load() == n; });
        if (!ok)
            h.Control()->Stop();  // Lets the producer go before it is joined.
        return ok;
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(taken.load(), 0) << "consumed before its time";
    h.Step(kSecond);
    ASSERT_TRUE(taken_reaches(1));
    // Paused while the next sample waits for its time: it is held even
    // when the clock passes that time.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(h.Control()->Pause(), S_OK);
    h.Step(2 * kSecond);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(taken.load(), 1) << "consumed while paused";
    // Stream time goes on from where the pause froze it.
    ASSERT_EQ(h.Control()->Run(), S_OK);
    h.Step(kSecond);
    ASSERT_TRUE(taken_reaches(2));
    producer.join();

    // The end of the stream completes the graph.
    source->PushEndOfStream();
    LONG code = 0;
    ASSERT_EQ(ComPtr<IFilterGraph2>(h.Graph()).As<IMediaEvent>()->WaitForCompletion(5000, &code),
              S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    h.Teardown();
}

// A card 200 ms behind its writes: each 100 ms of sound is written ahead by
// what the card holds and its latency, so the first is heard at its time
// and the others follow it without a gap, at theirs.
TEST_F(AudioOutputs, SoundIsWrittenAheadByTheDeviceDelayAndHeardAtItsTime) {
    FakeCard card;
    card.latency = 2'000'000;
    SetAlsaPlaybackApi(card.Api());
    ComPtr<IBaseFilter> output;
    ASSERT_EQ(CreateAlsaDefaultOutput(IBaseFilter::iid, output.OutVoid()), S_OK);
    FilterHarness h(std::move(output));
    TestSource* source =
        h.AddSource({.types = {MediaType::Pcm(48000, 16, 2)}, .buffer_size = 4800 * 4});
    ASSERT_EQ(h.ConnectIn(source, u"Audio Input pin"), S_OK);
    card.clock = h.Clock();
    REFERENCE_TIME start = 0;
    h.Clock()->GetTime(&start);
    ASSERT_EQ(h.Control()->Run(), S_OK);
    constexpr int kChunks = 10;
    std::jthread producer([&] {
        const std::vector<uint8_t> chunk(4800 * 4, 0x11);
        for (int i = 0; i < kChunks; ++i)
            source->Push(chunk, kSecond + i * 1'000'000, kSecond + (i + 1) * 1'000'000);
    });
    for (int step = 0; step < 250; ++step) {
        {
            std::lock_guard guard(card.lock);
            if (card.heard.size() == kChunks)
                break;
        }
        h.Step(100'000);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    {
        std::lock_guard guard(card.lock);
        ASSERT_EQ(card.heard.size(), size_t(kChunks));
        for (int i = 0; i < kChunks; ++i)
            EXPECT_NEAR(double(card.heard[size_t(i)] - start), double(kSecond + i * 1'000'000),
                        200'000)
                << "chunk " << i;
    }
    h.Control()->Stop();
    producer.join();
    h.Teardown();
}

TEST_F(AudioOutputs, TheAlsaOutputWritesWhatArrivesAndAFullDeviceNeverHoldsUpAStop) {
    FakeCard card;
    SetAlsaPlaybackApi(card.Api());
    ComPtr<IBaseFilter> alsa;
    ASSERT_EQ(CreateAlsaDefaultOutput(IBaseFilter::iid, alsa.OutVoid()), S_OK);
    FilterHarness h(std::move(alsa));
    TestSource* source = h.AddSource({.types = {MediaType::Pcm(48000, 16, 2)}});
    ASSERT_EQ(h.ConnectIn(source, u"Audio Input pin"), S_OK);
    ASSERT_EQ(h.Control()->Run(), S_OK);
    EXPECT_EQ(card.opens, 1);
    std::vector<uint8_t> chunk(1920);
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = uint8_t(i * 7);
    ASSERT_EQ(source->Push(chunk), S_OK);  // Untimed: at once.
    {
        std::lock_guard guard(card.lock);
        EXPECT_EQ(card.written, chunk);
        card.full = true;
    }
    std::jthread producer([&] { source->Push(chunk); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(h.Control()->Stop(), S_OK);
    producer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    // A card that is gone fails the run with a text that names the output
    // and the system's reason, not the file its bare code would suggest.
    card.present = false;
    const HRESULT gone = h.Control()->Run();
    EXPECT_TRUE(FAILED(gone));
    EXPECT_EQ(ErrorText(gone),
              "The audio output \"Default ALSA Device\" could not be opened: No such file or "
              "directory.");
    h.Teardown();
}

class TapeDeckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RegisterEngineClasses();
        RegisterTapeDeck();
    }
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        qputenv("RONVIX_TAPE_DIR", m_dir.filePath("tapes").toUtf8());
        ASSERT_EQ(CreateTapeDeck(IBaseFilter::iid, m_deck.OutVoid()), S_OK);
    }
    void TearDown() override {
        qunsetenv("RONVIX_TAPE_DIR");
        // Whatever graph held the deck has let it go, recorder included.
        EXPECT_EQ(RefCount(m_deck.Get()), 1u);
    }

    static std::vector<uint8_t> Jpeg(int index) {
        std::vector<uint8_t> rgb(size_t(64) * 48 * 4);
        for (size_t i = 0; i < rgb.size(); ++i)
            rgb[i] = uint8_t(i * (index + 3));
        std::vector<uint8_t> out(JpegEncoder::MaxSize(64, 48));
        JpegEncoder encoder;
        out.resize(encoder.EncodeRgb32(rgb.data(), 64, 48, false, 80, out));
        return out;
    }
    QString LastRecording() {
        LPWSTR name = nullptr;
        m_deck.As<ITapeDeck>()->GetLastRecording(&name);
        const QString s = name ? QString::fromStdU16String(std::u16string(WideView(name))) : "";
        CoTaskMemFree(name);
        return s;
    }

    QTemporaryDir m_dir;
    ComPtr<IBaseFilter> m_deck;
};

TEST_F(TapeDeckTest, ListedInTheTransmitCategoryWithItsMonitorOfferedBeforeAnyInput) {
    bool listed = false;
    for (const Device& d : DeviceRegistry::Instance().Enumerate(CLSID_TransmitCategory))
        listed = listed || d.description.friendly_name == kTapeDeckName;
    EXPECT_TRUE(listed);
    ComPtr<IPin> monitor = PinNamed(m_deck.Get(), u"Monitor Out");
    ASSERT_TRUE(monitor);
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(monitor->EnumMediaTypes(types.ReleaseAndGetAddressOf()), S_OK);
    AM_MEDIA_TYPE* t = nullptr;
    ASSERT_EQ(types->Next(1, &t, nullptr), S_OK);
    MediaType mt(*t);
    DeleteMediaType(t);
    EXPECT_EQ(mt->subtype, MEDIASUBTYPE_RGB32);
    EXPECT_EQ(mt.VideoInfo()->bmiHeader.biWidth, 720);
    EXPECT_EQ(mt.VideoInfo()->bmiHeader.biHeight, 576);
    EXPECT_EQ(mt.VideoInfo()->AvgTimePerFrame, 400000);

    // The tape folder: the variable, else the C: drive's "Tape" folder.
    LPWSTR folder = nullptr;
    ASSERT_EQ(m_deck.As<ITapeDeck>()->GetTapeFolder(&folder), S_OK);
    EXPECT_EQ(QString::fromStdU16String(std::u16string(WideView(folder))), m_dir.filePath("tapes"));
    CoTaskMemFree(folder);
    qunsetenv("RONVIX_TAPE_DIR");
    qputenv("RONVIX_DRIVE_C", m_dir.path().toUtf8());
    ASSERT_EQ(m_deck.As<ITapeDeck>()->GetTapeFolder(&folder), S_OK);
    EXPECT_EQ(QString::fromStdU16String(std::u16string(WideView(folder))), m_dir.filePath("Tape"));
    CoTaskMemFree(folder);
    qunsetenv("RONVIX_DRIVE_C");
    LPWSTR none = nullptr;
    EXPECT_EQ(m_deck.As<ITapeDeck>()->GetLastRecording(&none), S_FALSE);
}

TEST_F(TapeDeckTest, EachRunRecordsWhatArrivedBitForBitAndTheMonitorShowsIt) {
    FilterHarness h(m_deck);
    TestSource* source =
        h.AddSource({.types = {MediaType::Video(MEDIASUBTYPE_MJPG, 64, 48, 24, 400000)},
                     .buffer_size = 1 << 16});
    TestSink* monitor = h.AddSink();
    ASSERT_EQ(h.ConnectIn(source, u"Video In"), S_OK);
    ASSERT_EQ(h.ConnectOut(u"Monitor Out", monitor), S_OK);

    QStringList tapes;
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(h.Control()->Run(), S_OK);
        // The last recording stays named until the new one holds a frame.
        EXPECT_EQ(LastRecording().toStdString(), run == 0 ? "" : tapes.back().toStdString());
        h.Step(20 * kSecond);  // Every frame is due: the deck takes each at once.
        std::vector<QByteArray> sent;
        // Times jump (as after a seek); the tape lays frames back to back.
        const REFERENCE_TIME times[] = {0, 400000, 8000000, 800000, 1200000};
        for (int i = 0; i < 5; ++i) {
            const std::vector<uint8_t> frame = Jpeg(run * 10 + i);
            sent.push_back(Md5Hex(frame));
            ASSERT_EQ(source->Push(frame, times[i], times[i] + 400000), S_OK);
        }
        const QString writing = LastRecording();
        EXPECT_TRUE(QFile::exists(writing) && !tapes.contains(writing)) << writing.toStdString();
        ASSERT_EQ(h.Control()->Stop(), S_OK);
        tapes << LastRecording();
        EXPECT_EQ(tapes.back().toStdString(), writing.toStdString());
        const auto tape = PacketDigests(tapes.back(), "v");
        ASSERT_TRUE(tape) << "ffmpeg cannot read the tape";
        EXPECT_EQ(*tape, sent);
    }
    EXPECT_NE(tapes[0], tapes[1]);
    // A run that received nothing leaves no file and names none; a deck
    // made afresh (as a device list binds one) names the last recording.
    ASSERT_EQ(h.Control()->Run(), S_OK);
    ASSERT_EQ(h.Control()->Stop(), S_OK);
    EXPECT_EQ(QDir(m_dir.filePath("tapes")).entryList(QDir::Files).size(), 2);
    EXPECT_EQ(LastRecording().toStdString(), tapes[1].toStdString());
    ComPtr<IBaseFilter> fresh;
    ASSERT_EQ(CreateTapeDeck(IBaseFilter::iid, fresh.OutVoid()), S_OK);
    LPWSTR named = nullptr;
    ASSERT_EQ(fresh.As<ITapeDeck>()->GetLastRecording(&named), S_OK);
    EXPECT_EQ(ToUtf8(WideView(named)), tapes[1].toStdString());
    CoTaskMemFree(named);
    EXPECT_EQ(monitor->Count(), 10u);
    const auto frames = monitor->ReceivedSamples();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front().data.size(), size_t(720) * 576 * 4);
}

TEST_F(TapeDeckTest, ADeckThatCannotCreateItsTapeRefusesToRun) {
    // A folder path under a regular file fails for root too.
    QFile blocker(m_dir.filePath("not-a-folder"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("RONVIX_TAPE_DIR", m_dir.filePath("not-a-folder/tapes").toUtf8());
    FilterHarness h(m_deck);
    TestSource* source =
        h.AddSource({.types = {MediaType::Video(MEDIASUBTYPE_MJPG, 64, 48, 24, 400000)}});
    ASSERT_EQ(h.ConnectIn(source, u"Video In"), S_OK);
    EXPECT_TRUE(FAILED(h.Control()->Run()));
    FILTER_STATE state = State_Running;
    m_deck->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
}

// With nothing on its monitor the deck is where a play-out ends: the graph
// completes once the deck ran to the end of its input, also when that end
// came while paused; with a monitor the end passes on to it instead.
TEST_F(TapeDeckTest, WithoutAMonitorTheDeckEndsThePlayOnceItRanToTheEnd) {
    for (const bool monitored : {false, true}) {
        SCOPED_TRACE(monitored ? "monitored" : "no monitor");
        FilterHarness h(m_deck);
        TestSource* source =
            h.AddSource({.types = {MediaType::Video(MEDIASUBTYPE_MJPG, 64, 48, 24, 400000)},
                         .buffer_size = 1 << 16});
        ASSERT_EQ(h.ConnectIn(source, u"Video In"), S_OK);
        TestSink* monitor = monitored ? h.AddSink() : nullptr;
        if (monitor) {
            ASSERT_EQ(h.ConnectOut(u"Monitor Out", monitor), S_OK);
        }
        ComPtr<IMediaEvent> events = ComPtr<IFilterGraph2>(h.Graph()).As<IMediaEvent>();
        LONG code = 0;

        // One frame, then the end, while running. The frame's picture is
        // dark top left and bottom right, bright elsewhere.
        std::vector<uint8_t> rgb(size_t(64) * 48 * 4);
        for (size_t i = 0; i < rgb.size(); ++i)
            rgb[i] = (i / 4 % 64 < 32) == (i / 4 / 64 < 24) ? 0 : 255;
        std::vector<uint8_t> frame(JpegEncoder::MaxSize(64, 48));
        frame.resize(JpegEncoder().EncodeRgb32(rgb.data(), 64, 48, false, 90, frame));
        ASSERT_EQ(h.Control()->Run(), S_OK);
        h.Step(kSecond);
        ASSERT_EQ(source->Push(frame, 0, 400000), S_OK);
        ASSERT_EQ(source->PushEndOfStream(), S_OK);
        ASSERT_EQ(events->WaitForCompletion(5000, &code), S_OK);
        EXPECT_EQ(code, EC_COMPLETE);
        if (monitor) {
            EXPECT_EQ(monitor->EndOfStreams(), 1);
            // Scaled to 720 x 576 in bottom-up rows: the picture's top is
            // the end of the buffer.
            const auto shown = monitor->ReceivedSamples();
            ASSERT_EQ(shown.size(), 1u);
            ASSERT_EQ(shown[0].data.size(), size_t(720) * 576 * 4);
            auto at = [&](int x, int y) { return shown[0].data[(size_t(575 - y) * 720 + x) * 4]; };
            EXPECT_LT(at(100, 75), 30);
            EXPECT_GT(at(600, 75), 225);
            EXPECT_GT(at(100, 500), 225);
            EXPECT_LT(at(600, 500), 30);
        }
        ASSERT_EQ(h.Control()->Stop(), S_OK);
        const auto tape = PacketDigests(LastRecording(), "v");
        ASSERT_TRUE(tape);
        EXPECT_EQ(*tape, std::vector<QByteArray>{Md5Hex(frame)});

        // The end while paused completes once the graph runs, not before.
        ASSERT_EQ(h.Control()->Pause(), S_OK);
        ASSERT_EQ(source->PushEndOfStream(), S_OK);
        EXPECT_EQ(events->WaitForCompletion(200, &code), E_ABORT);
        ASSERT_EQ(h.Control()->Run(), S_OK);
        ASSERT_EQ(events->WaitForCompletion(5000, &code), S_OK);
        EXPECT_EQ(code, EC_COMPLETE);
    }
}

// The peak resident memory of this process since `Reset`, in bytes.
struct PeakMemory {
    static long Field(const char* name) {
        QFile status("/proc/self/status");
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith(name))
                return line.mid(int(std::strlen(name))).trimmed().split(' ').first().toLong() *
                       1024;
        return -1;
    }
    PeakMemory() {
        QFile clear("/proc/self/clear_refs");  // "5" resets the peak to now.
        EXPECT_TRUE(clear.open(QIODevice::WriteOnly) && clear.write("5") == 1);
        clear.close();
        start = Field("VmRSS:");
    }
    long Growth() const { return Field("VmHWM:") - start; }
    long start = 0;
};

// A monitor frame takes what the monitor shows, not what a JPEG's header
// names: a frame whose header declares 8192 x 8192 over a few kilobytes of
// data is decoded at the scale the monitor needs (and shown), and one the
// decoder would have to hold whole (progressive) is not decoded at all.
TEST_F(TapeDeckTest, AMonitorFrameCostsWhatTheMonitorShowsNotWhatItsHeaderNames) {
    // Small JPEGs whose frame header is made to declare 8192 x 8192.
    auto declaring_8192 = [](int flags, uint8_t sof_marker) {
        std::vector<uint8_t> rgb(size_t(64) * 48 * 4, 0x40);
        tjhandle encoder = tjInitCompress();
        unsigned char* out = nullptr;
        unsigned long size = 0;
        EXPECT_EQ(tjCompress2(encoder, rgb.data(), 64, 0, 48, TJPF_BGRX, &out, &size, TJSAMP_420,
                              75, flags),
                  0);
        std::vector<uint8_t> jpeg(out, out + size);
        tjFree(out);
        tjDestroy(encoder);
        for (size_t at = 0; at + 9 < jpeg.size(); ++at) {
            if (jpeg[at] == 0xFF && jpeg[at + 1] == sof_marker) {
                for (size_t field : {at + 5, at + 7}) {
                    jpeg[field] = 0x20;  // 8192, big-endian.
                    jpeg[field + 1] = 0x00;
                }
                return jpeg;
            }
        }
        ADD_FAILURE() << "no frame header";
        return jpeg;
    };
    const std::vector<uint8_t> baseline = declaring_8192(0, 0xC0);
    const std::vector<uint8_t> progressive = declaring_8192(TJFLAG_PROGRESSIVE, 0xC2);

    MediaType declared = MediaType::Video(MEDIASUBTYPE_MJPG, 8192, 8192, 24, 400000);
    reinterpret_cast<VIDEOINFOHEADER*>(declared->pbFormat)->bmiHeader.biSizeImage = 1 << 16;
    FilterHarness h(m_deck);
    TestSource* source = h.AddSource({.types = {declared}, .buffer_size = 1 << 16});
    TestSink* monitor = h.AddSink();
    ASSERT_EQ(h.ConnectIn(source, u"Video In"), S_OK);
    ASSERT_EQ(h.ConnectOut(u"Monitor Out", monitor), S_OK);
    ASSERT_EQ(h.Control()->Run(), S_OK);
    h.Step(kSecond);
    const PeakMemory peak;
    ASSERT_EQ(source->Push(baseline, 0, 400000), S_OK);
    ASSERT_EQ(source->Push(progressive, 400000, 800000), S_OK);
    EXPECT_LT(peak.Growth(), 64L << 20);
    EXPECT_EQ(monitor->Count(), 1u);  // The baseline frame only.
    ASSERT_EQ(h.Control()->Stop(), S_OK);
    const auto tape = PacketDigests(LastRecording(), "v");
    ASSERT_TRUE(tape);
    EXPECT_EQ(*tape, (std::vector<QByteArray>{Md5Hex(baseline), Md5Hex(progressive)}));
}

}  // namespace
}  // namespace ronvix::media::test
