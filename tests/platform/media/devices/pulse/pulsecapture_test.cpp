// The sound server backend against a scripted server: its sources and sinks
// in the device lists (and the sound cards when no server answers), the
// capture stream's stamps following the source's clock from the server's
// timing, a stretch the server lost, a source that vanishes, and the
// source's ports and volume as input lines.

#include <gtest/gtest.h>

#include "platform/com/devices.h"
#include "platform/com/errortext.h"
#include "platform/media/devices/alsa/alsacapture.h"
#include "platform/media/devices/alsa/audiooutput.h"
#include "platform/media/devices/alsa/fake_alsa.h"
#include "platform/media/devices/pulse/fake_pulse.h"
#include "platform/media/devices/virtual/virtualdevices.h"

namespace ronvix::media::test {
namespace {

using namespace com;
using namespace std::chrono_literals;

constexpr REFERENCE_TIME kSecond = 10'000'000;
constexpr REFERENCE_TIME kBuffer = 200'000;  // 20 ms
constexpr REFERENCE_TIME kStampError = 30'000;

std::u16string Moniker(const char* identity, const GUID& category) {
    return u"@device:pnp:" + ToUtf16(identity) + u"\\" + ToUtf16(category.ToString());
}

std::vector<std::string> Names(const std::vector<Device>& devices) {
    std::vector<std::string> names;
    for (const Device& d : devices)
        names.push_back(d.description.friendly_name);
    return names;
}

class PulseTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RegisterAlsaDevices();
        RegisterVirtualDevices();
        RegisterAudioOutputs();
    }
    void SetUp() override {
        m_pulse.server.sources = {
            Source("alsa_input.usb-MacroSilicon_USB_Video-02.analog-stereo",
                   "USB Video Analog Stereo"),
            Source("alsa_output.pci-0000_00_1f.3.analog-stereo.monitor",
                   "Monitor of Built-in Audio Analog Stereo", true),
            Source("alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo",
                   false, {{"analog-input-mic", "Microphone"}, {"analog-input-linein", "Line In"}}),
        };
        m_pulse.server.sinks = {
            Source("alsa_output.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo")};
        m_pulse.states["alsa_input.pci-0000_00_1f.3.analog-stereo"] = {0.5, false,
                                                                       "analog-input-mic"};
        SetPulseApi(m_pulse.Api());
        // Sound cards that the server owns: not listed while it runs.
        m_alsa.cards = {FakeCard{0, "Intel", "HDA Intel PCH", 0, 0, {}, {2}}};
        SetAlsaCaptureApi(m_alsa.CaptureApi());
        SetAlsaPlaybackApi(m_alsa.PlaybackApi());
    }
    void TearDown() override {
        SetPulseApi({});
        SetAlsaCaptureApi({});
        SetAlsaPlaybackApi({});
    }
    ComPtr<IBaseFilter> NewCapture(size_t source) {
        ComPtr<IBaseFilter> filter;
        EXPECT_EQ(CreatePulseCapture(m_pulse.server.sources.at(source), IBaseFilter::iid,
                                     filter.OutVoid()),
                  S_OK);
        return filter;
    }

    FakePulse m_pulse;
    FakeAlsa m_alsa;
};

TEST_F(PulseTest, TheServersSourcesAndSinksAreListedByDescriptionAndWithoutItTheCards) {
    DeviceRegistry& registry = DeviceRegistry::Instance();
    const std::vector<Device> inputs = registry.Enumerate(CLSID_AudioInputDeviceCategory);
    EXPECT_EQ(Names(inputs), (std::vector<std::string>{
                                 "Built-in Audio Analog Stereo", "USB Video Analog Stereo",
                                 "Monitor of Built-in Audio Analog Stereo", kToneGeneratorName}));
    EXPECT_EQ(inputs[0].display_name, Moniker("pulse:alsa_input.pci-0000_00_1f.3.analog-stereo",
                                              CLSID_AudioInputDeviceCategory));
    const std::vector<Device> outputs = registry.Enumerate(CLSID_AudioRendererCategory);
    EXPECT_EQ(Names(outputs),
              (std::vector<std::string>{kAlsaDefaultOutputName, "Built-in Audio Analog Stereo",
                                        kSilentAudioOutputName}));

    // A moniker binds to its own source: the stream opens on it.
    auto found = registry.Find(inputs[1].display_name);
    ASSERT_TRUE(found);
    ComPtr<IBaseFilter> usb;
    ASSERT_EQ(found->description.create(IBaseFilter::iid, usb.OutVoid()), S_OK);
    {
        FilterHarness h(usb);
        TestSink* sink = h.AddSink();
        ASSERT_EQ(h.ConnectOut(u"Capture", sink), S_OK);
        m_pulse.clock = h.Clock();
        ASSERT_EQ(h.Control()->Pause(), S_OK);
        EXPECT_EQ(m_pulse.opened, std::vector<std::string>{
                                      "alsa_input.usb-MacroSilicon_USB_Video-02.analog-stereo"});
        EXPECT_EQ(m_pulse.open_rate, 48000);
        EXPECT_EQ(m_pulse.open_bits, 16);
    }
    // A sink whose stream the server refuses fails its start naming the
    // sink as listed and the reason.
    m_pulse.playback_error = -ECONNREFUSED;
    ComPtr<IBaseFilter> speakers;
    ASSERT_EQ(outputs[1].description.create(IBaseFilter::iid, speakers.OutVoid()), S_OK);
    {
        FilterHarness h(speakers);
        TestSource* source = h.AddSource({.types = {MediaType::Pcm(48000, 16, 2)}});
        ASSERT_EQ(h.ConnectIn(source, u"Audio Input pin"), S_OK);
        const HRESULT refused = h.Control()->Pause();
        EXPECT_TRUE(FAILED(refused));
        EXPECT_EQ(ErrorText(refused),
                  "The audio output \"Built-in Audio Analog Stereo\" could not be opened: "
                  "Connection refused.");
    }

    // The same machine without a server: every capture device of the card.
    NoSoundServer no_server;
    EXPECT_EQ(
        Names(registry.Enumerate(CLSID_AudioInputDeviceCategory)),
        (std::vector<std::string>{"HDA Intel PCH", "HDA Intel PCH: PCM 2", kToneGeneratorName}));
    const std::vector<Device> cards = registry.Enumerate(CLSID_AudioInputDeviceCategory);
    EXPECT_EQ(cards[0].display_name, Moniker("alsa:Intel", CLSID_AudioInputDeviceCategory));
    EXPECT_EQ(cards[1].display_name, Moniker("alsa:Intel,2", CLSID_AudioInputDeviceCategory));
    EXPECT_EQ(Names(registry.Enumerate(CLSID_AudioRendererCategory)),
              (std::vector<std::string>{kAlsaDefaultOutputName, "HDA Intel PCH",
                                        kSilentAudioOutputName}));
    ComPtr<IBaseFilter> second;
    ASSERT_EQ(cards[1].description.create(IBaseFilter::iid, second.OutVoid()), S_OK);
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(PinNamed(second.Get(), u"Capture")->EnumMediaTypes(types.ReleaseAndGetAddressOf()),
              S_OK);
    EXPECT_EQ(m_alsa.opened.back(), "hw:CARD=Intel,DEV=2");
}

// Each received sample's stamp beside the true capture time of its first
// frame.
struct Stamp {
    REFERENCE_TIME start;
    REFERENCE_TIME truth;
    bool discontinuity;
};

std::vector<Stamp> Stamps(TestSink* sink, const FakePulse& pulse) {
    std::vector<Stamp> stamps;
    for (const TestSink::Received& r : sink->ReceivedSamples()) {
        uint32_t frame = 0;
        if (r.data.size() < sizeof frame || !r.has_time)
            continue;
        std::memcpy(&frame, r.data.data(), sizeof frame);
        stamps.push_back({r.start, pulse.TrueTime(frame), r.discontinuity});
    }
    return stamps;
}

// Runs the capture until the scripted source ends at `seconds`.
std::vector<Stamp> Capture(FakePulse& pulse, ComPtr<IBaseFilter> filter, int seconds,
                           LONG* dropped = nullptr) {
    FilterHarness h(std::move(filter));
    TestSink* sink = h.AddSink();
    EXPECT_EQ(h.ConnectOut(u"Capture", sink), S_OK);
    pulse.clock = h.Clock();
    REFERENCE_TIME start = 0;
    h.Clock()->GetTime(&start);
    pulse.end = start + seconds * kSecond;
    if (pulse.drop_at)
        pulse.drop_at += start;
    EXPECT_EQ(h.Control()->Run(), S_OK);
    EXPECT_TRUE(sink->WaitFor(
        [&] {
            std::lock_guard guard(pulse.lock);
            return pulse.waits_after_end > 0;
        },
        60'000));
    h.Control()->Stop();
    if (dropped)
        PinNamed(h.Filter(), u"Capture").As<IAMDroppedFrames>()->GetNumDropped(dropped);
    std::vector<Stamp> stamps = Stamps(sink, pulse);
    h.Teardown();
    return stamps;
}

TEST_F(PulseTest, StampsFollowTheSourceClockFromTheServersTiming) {
    m_pulse.ratio = 1.005;
    const std::vector<Stamp> stamps = Capture(m_pulse, NewCapture(0), 60);
    ASSERT_GT(stamps.size(), 2900u);
    for (size_t i = 0; i < stamps.size(); ++i) {
        EXPECT_LE(std::llabs(stamps[i].start - stamps[i].truth), kStampError) << "sample " << i;
        EXPECT_FALSE(i > 0 && stamps[i].discontinuity) << "sample " << i;
        if (i > 0) {
            EXPECT_LE(std::llabs(stamps[i].start - stamps[i - 1].start - kBuffer),
                      kBuffer * 6 / 1000 + 1000)
                << "sample " << i;
        }
    }
}

TEST_F(PulseTest, ASecondTheServerLostIsSkippedInTheStampsAndCounted) {
    m_pulse.drop_at = 2 * kSecond;
    m_pulse.drop_gap = kSecond;
    LONG dropped = 0;
    const std::vector<Stamp> stamps = Capture(m_pulse, NewCapture(0), 5, &dropped);
    ASSERT_FALSE(stamps.empty());
    EXPECT_GT(stamps.back().truth, 4 * kSecond);
    int marked = 0, jumps = 0;
    for (size_t i = 0; i < stamps.size(); ++i) {
        EXPECT_LE(std::llabs(stamps[i].start - stamps[i].truth), kStampError) << "sample " << i;
        marked += stamps[i].discontinuity;
        jumps += i > 0 && stamps[i].start - stamps[i - 1].start > 2 * kBuffer;
    }
    EXPECT_EQ(jumps, 1) << "the lost second is one step forward";
    EXPECT_EQ(marked, 1) << "the sample after it says so";
    EXPECT_GE(dropped, 45) << "a second of 20 ms buffers";
}

TEST_F(PulseTest, AVanishedSourceEndsTheStreamAndIsReportedOnce) {
    FilterHarness h(NewCapture(1));
    TestSink* sink = h.AddSink();
    ASSERT_EQ(h.ConnectOut(u"Capture", sink), S_OK);
    m_pulse.clock = h.Clock();
    REFERENCE_TIME start = 0;
    h.Clock()->GetTime(&start);
    m_pulse.lose_at = start + kSecond;
    ComPtr<IMediaEvent> events = ComPtr<IFilterGraph2>(h.Graph()).As<IMediaEvent>();
    ASSERT_EQ(h.Control()->Run(), S_OK);
    int lost = 0;
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, lost ? 300 : 5000) == S_OK) {
        lost += code == EC_DEVICE_LOST;
        events->FreeEventParams(code, p1, p2);
    }
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(sink->EndOfStreams(), 1);
    EXPECT_GT(sink->Count(), 40u) << "the second before it was delivered";
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(h.Control()->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    events = nullptr;
    h.Teardown();
}

TEST_F(PulseTest, ASourcesPortsAreItsExclusiveLinesAndItsVolumeTheirLevel) {
    ComPtr<IBaseFilter> builtin = NewCapture(2);
    std::vector<ComPtr<IAMAudioInputMixer>> lines;
    std::vector<std::u16string> names;
    for (ComPtr<IPin>& pin : FilterPins(builtin.Get()))
        if (PinDirection(pin.Get()) == PINDIR_INPUT) {
            names.push_back(PinName(pin.Get()));
            lines.push_back(pin.As<IAMAudioInputMixer>());
        }
    ASSERT_EQ(names, (std::vector<std::u16string>{u"Microphone", u"Line In"}));
    BOOL on = FALSE;
    ASSERT_EQ(lines[0]->get_Enable(&on), S_OK);
    EXPECT_TRUE(on);
    ASSERT_EQ(lines[1]->get_Enable(&on), S_OK);
    EXPECT_FALSE(on);
    double level = 0;
    ASSERT_EQ(lines[1]->get_MixLevel(&level), S_OK);
    EXPECT_DOUBLE_EQ(level, 0.5);

    const std::string name = "alsa_input.pci-0000_00_1f.3.analog-stereo";
    ASSERT_EQ(lines[1]->put_Enable(TRUE), S_OK);
    ASSERT_EQ(lines[1]->put_MixLevel(0.25), S_OK);
    ASSERT_EQ(lines[0]->put_Enable(FALSE), S_OK) << "off already: another port is the source's";
    ASSERT_EQ(lines[1]->put_Enable(FALSE), S_OK);
    EXPECT_EQ(m_pulse.changes,
              (std::vector<std::string>{"port " + name + " analog-input-linein",
                                        "level " + name + " 0.25", "mute " + name}));
    EXPECT_EQ(lines[1]->put_MixLevel(1.5), E_INVALIDARG);

    // A source without ports has one line, its volume.
    ComPtr<IBaseFilter> monitor = NewCapture(1);
    std::vector<std::u16string> monitor_lines;
    for (ComPtr<IPin>& pin : FilterPins(monitor.Get()))
        if (PinDirection(pin.Get()) == PINDIR_INPUT)
            monitor_lines.push_back(PinName(pin.Get()));
    EXPECT_EQ(monitor_lines, std::vector<std::u16string>{u"Master Capture"});
}

}  // namespace
}  // namespace ronvix::media::test
