// The Test Tone Generator as a device: lines and formats, the enabled
// line's tone in the samples, device state shared by every instance, and
// the whole-second bursts against the camera's whole-second frames.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <thread>

#include "platform/com/devices.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/core/graph.h"
#include "platform/media/devices/devicecontrols.h"
#include "platform/media/devices/propertypages.h"
#include "platform/media/devices/virtual/picture_reader.h"
#include "platform/media/devices/virtual/testpattern.h"
#include "platform/media/devices/virtual/virtualdevices.h"

namespace ronvix::media::test {
namespace {

using namespace std::chrono_literals;
using com::S_OK;

ComPtr<IBaseFilter> NewTone() {
    ComPtr<IBaseFilter> tone;
    EXPECT_EQ(CreateToneGenerator(IBaseFilter::iid, tone.OutVoid()), S_OK);
    return tone;
}

ComPtr<IAMAudioInputMixer> Mixer(IBaseFilter* filter, std::u16string_view line) {
    ComPtr<IAMAudioInputMixer> mixer;
    ComPtr<IPin> pin = PinNamed(filter, line);
    if (pin)
        pin->QueryInterface(IAMAudioInputMixer::iid, mixer.OutVoid());
    return mixer;
}

void ResetTone() {
    ToneControls& c = *ToneControls::Device();
    for (size_t l = 0; l < kToneLines.size(); ++l)
        c.SetLevel(l, 0.5);
    c.SetEnabled(0, true);
}

// Mono samples of one received buffer.
std::vector<int16_t> Samples(const TestSink::Received& r, int channels) {
    std::vector<int16_t> out(r.data.size() / 2 / size_t(channels));
    for (size_t i = 0; i < out.size(); ++i)
        std::memcpy(&out[i], r.data.data() + i * 2 * size_t(channels), 2);
    return out;
}

// Power of `frequency` in `x` (Goertzel), normalised by length.
double PowerAt(const std::vector<double>& x, double frequency, double rate) {
    const double k = 2 * std::cos(2 * std::numbers::pi * frequency / rate);
    double s1 = 0, s2 = 0;
    for (double v : x) {
        const double s0 = v + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return (s1 * s1 + s2 * s2 - k * s1 * s2) / double(x.size() * x.size());
}

struct Capture {
    std::vector<double> quiet;  // Samples outside the whole-second bursts.
    double rms = 0;
};

// Captures ~0.6 s at 48000 Hz stereo and keeps the samples of 100..500 ms,
// away from the bursts at 0 and 1 s.
Capture CaptureTone(IBaseFilter* tone) {
    Capture c;
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<TestSink> sink = TestSink::Make({{MediaType::Partial(MEDIATYPE_Audio)}});
    graph->AddFilter(tone, u"Tone");
    graph->AddFilter(sink.Get(), u"Sink");
    EXPECT_EQ(graph->ConnectDirect(PinNamed(tone, u"Capture").Get(), sink->Input(), nullptr), S_OK);
    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    EXPECT_TRUE(SUCCEEDED(control->Run()));
    EXPECT_TRUE(sink->WaitForSamples(28));
    control->Stop();
    double sum2 = 0;
    for (const TestSink::Received& r : sink->ReceivedSamples()) {
        const std::vector<int16_t> s = Samples(r, 2);
        for (size_t i = 0; i < s.size(); ++i) {
            const REFERENCE_TIME t = r.start + REFERENCE_TIME(i) * 10'000'000 / 48000;
            if (t >= 1'000'000 && t < 5'000'000) {
                c.quiet.push_back(s[i]);
                sum2 += double(s[i]) * s[i];
            }
        }
    }
    graph->RemoveFilter(tone);
    c.rms = c.quiet.empty() ? 0 : std::sqrt(sum2 / double(c.quiet.size()));
    return c;
}

TEST(TestTone, PinsFormatsAndExclusiveLines) {
    ResetTone();
    ComPtr<IBaseFilter> tone = NewTone();
    const std::vector<ComPtr<IPin>> pins = FilterPins(tone.Get());
    ASSERT_EQ(pins.size(), 4u);
    EXPECT_EQ(PinName(pins[0].Get()), u"Capture");
    EXPECT_EQ(PinDirection(pins[0].Get()), PINDIR_OUTPUT);
    const char16_t* names[] = {u"Line In", u"Microphone", u"CD Audio"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(PinName(pins[size_t(i) + 1].Get()), names[i]);
        EXPECT_EQ(PinDirection(pins[size_t(i) + 1].Get()), PINDIR_INPUT);
    }
    // PCM 48000/16/2 first, then the other rates, stereo and mono.
    ComPtr<IEnumMediaTypes> types;
    pins[0]->EnumMediaTypes(types.ReleaseAndGetAddressOf());
    std::vector<std::pair<DWORD, WORD>> formats;
    AM_MEDIA_TYPE* mt = nullptr;
    while (types->Next(1, &mt, nullptr) == S_OK) {
        const MediaType t(*mt);
        DeleteMediaType(mt);
        ASSERT_TRUE(t.WaveFormat());
        EXPECT_EQ(t.WaveFormat()->wBitsPerSample, 16);
        formats.emplace_back(t.WaveFormat()->nSamplesPerSec, t.WaveFormat()->nChannels);
    }
    const std::vector<std::pair<DWORD, WORD>> expected = {
        {48000, 2}, {48000, 1}, {44100, 2}, {44100, 1}, {32000, 2},
        {32000, 1}, {22050, 2}, {22050, 1}, {11025, 2}, {11025, 1}};
    EXPECT_EQ(formats, expected);

    ComPtr<IAMAudioInputMixer> line = Mixer(tone.Get(), u"Line In");
    ComPtr<IAMAudioInputMixer> mic = Mixer(tone.Get(), u"Microphone");
    ComPtr<IAMAudioInputMixer> cd = Mixer(tone.Get(), u"CD Audio");
    ASSERT_TRUE(line && mic && cd);
    BOOL on = 0;
    line->get_Enable(&on);
    EXPECT_TRUE(on);
    ASSERT_EQ(mic->put_Enable(com::TRUE), S_OK);
    line->get_Enable(&on);
    EXPECT_FALSE(on) << "enabling one line disables the others";
    mic->get_Enable(&on);
    EXPECT_TRUE(on);
    ASSERT_EQ(mic->put_Enable(com::FALSE), S_OK);
    for (auto* m : {line.Get(), mic.Get(), cd.Get()}) {
        m->get_Enable(&on);
        EXPECT_FALSE(on);
    }
    EXPECT_EQ(cd->put_MixLevel(1.01), com::E_INVALIDARG);
    EXPECT_EQ(cd->put_MixLevel(-0.1), com::E_INVALIDARG);
    // An analogue line takes no connection.
    ComPtr<TestSource> source = TestSource::Make({{MediaType::Pcm(48000, 16, 2)}});
    EXPECT_TRUE(
        FAILED(pins[1]->ReceiveConnection(source->Output(), &MediaType::Pcm(48000, 16, 2).Get())));
    ResetTone();
}

TEST(TestTone, TheEnabledLinesToneIsInTheSamplesScaledByItsLevel) {
    ResetTone();
    ComPtr<IBaseFilter> tone = NewTone();
    const char16_t* names[] = {u"Line In", u"Microphone", u"CD Audio"};
    const char* labels[] = {"Line In", "Microphone", "CD Audio"};
    const double freqs[] = {1000, 440, 2000};
    for (int line = 0; line < 3; ++line) {
        ASSERT_EQ(Mixer(tone.Get(), names[line])->put_Enable(com::TRUE), S_OK);
        const Capture c = CaptureTone(tone.Get());
        ASSERT_GT(c.quiet.size(), 10000u);
        for (int other = 0; other < 3; ++other) {
            if (other == line)
                continue;
            EXPECT_GT(PowerAt(c.quiet, freqs[line], 48000),
                      100 * PowerAt(c.quiet, freqs[other], 48000))
                << labels[line] << " against " << freqs[other] << " Hz";
        }
        // Level 0.5 of 0.8 full scale: a sine of amplitude 0.4 * 32767.
        EXPECT_NEAR(c.rms, 0.4 * 32767 / std::sqrt(2.0), 300) << labels[line];
    }
    ASSERT_EQ(Mixer(tone.Get(), u"CD Audio")->put_MixLevel(0.25), S_OK);
    EXPECT_NEAR(CaptureTone(tone.Get()).rms, 0.2 * 32767 / std::sqrt(2.0), 200);
    ASSERT_EQ(Mixer(tone.Get(), u"CD Audio")->put_Enable(com::FALSE), S_OK);
    EXPECT_LT(CaptureTone(tone.Get()).rms, 1.0) << "no line enabled: silence between bursts";
    ResetTone();
}

TEST(TestTone, ANewInstanceShowsWhatTheLastOneSet) {
    ResetTone();
    {
        ComPtr<IBaseFilter> first = NewTone();
        ASSERT_EQ(Mixer(first.Get(), u"Microphone")->put_MixLevel(0.8), S_OK);
        ASSERT_EQ(Mixer(first.Get(), u"CD Audio")->put_Enable(com::TRUE), S_OK);
    }
    ComPtr<IBaseFilter> second = NewTone();
    double level = 0;
    ASSERT_EQ(Mixer(second.Get(), u"Microphone")->get_MixLevel(&level), S_OK);
    EXPECT_DOUBLE_EQ(level, 0.8);
    BOOL on = 0;
    Mixer(second.Get(), u"CD Audio")->get_Enable(&on);
    EXPECT_TRUE(on);
    Mixer(second.Get(), u"Line In")->get_Enable(&on);
    EXPECT_FALSE(on);
    ComPtr<ISpecifyPropertyPages> pages = second.As<ISpecifyPropertyPages>();
    ASSERT_TRUE(pages);
    CAUUID ids;
    ASSERT_EQ(pages->GetPages(&ids), S_OK);
    ASSERT_EQ(ids.cElems, 1u);
    EXPECT_EQ(ids.pElems[0], CLSID_AudioMixerPropertyPage);
    com::CoTaskMemFree(ids.pElems);
    ResetTone();
}

TEST(TestTone, BurstsFallWithinAFrameOfTheWhiteBorderedFrames) {
    ResetTone();
    for (size_t l = 0; l < kToneLines.size(); ++l)
        ToneControls::Device()->SetLevel(l, 0.3);  // Well below the burst.
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<IBaseFilter> camera, tone = NewTone();
    ASSERT_EQ(CreateTestCamera(IBaseFilter::iid, camera.OutVoid()), S_OK);
    ComPtr<TestSink> video = TestSink::Make({{MediaType::Partial(MEDIATYPE_Video)}});
    ComPtr<TestSink> audio = TestSink::Make({{MediaType::Partial(MEDIATYPE_Audio)}});
    for (auto [f, name] : {std::pair{camera.Get(), u"Camera"},
                           {tone.Get(), u"Tone"},
                           {video->Filter(), u"Video"},
                           {audio->Filter(), u"Audio"}})
        ASSERT_EQ(graph->AddFilter(f, name), S_OK);
    ASSERT_EQ(
        graph->ConnectDirect(PinNamed(camera.Get(), u"Capture").Get(), video->Input(), nullptr),
        S_OK);
    ASSERT_EQ(graph->ConnectDirect(PinNamed(tone.Get(), u"Capture").Get(), audio->Input(), nullptr),
              S_OK);
    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    std::this_thread::sleep_for(2300ms);
    control->Stop();

    std::vector<REFERENCE_TIME> borders;
    for (const TestSink::Received& f : video->ReceivedSamples())
        if (HasWhiteBorder(DecodeJpeg(f.data)))
            borders.push_back(f.start);
    std::vector<REFERENCE_TIME> bursts;
    bool loud = false;
    REFERENCE_TIME last_loud = -10'000'000;
    for (const TestSink::Received& r : audio->ReceivedSamples()) {
        const std::vector<int16_t> s = Samples(r, 2);
        for (size_t i = 0; i < s.size(); ++i) {
            const REFERENCE_TIME t = r.start + REFERENCE_TIME(i) * 10'000'000 / 48000;
            loud = std::abs(s[i]) > 0.6 * 32767;
            if (loud) {
                if (t - last_loud > 1'000'000)  // A new burst after 100 ms of tone.
                    bursts.push_back(t);
                last_loud = t;
            }
        }
    }
    ASSERT_GE(borders.size(), 2u);  // Seconds 0, 1 and perhaps 2.
    ASSERT_GE(bursts.size(), 2u);
    // Each burst onset is a burst sample at least 0.6 of full scale: within
    // a few samples of the burst's start.
    for (REFERENCE_TIME b : borders) {
        REFERENCE_TIME nearest = INT64_MAX;
        for (REFERENCE_TIME onset : bursts)
            nearest = std::min(nearest, std::abs(onset - b));
        EXPECT_LE(nearest, 400'000) << "border frame at " << b;
    }
    for (REFERENCE_TIME onset : bursts) {
        REFERENCE_TIME nearest = INT64_MAX;
        for (REFERENCE_TIME b : borders)
            nearest = std::min(nearest, std::abs(onset - b));
        // The last burst may belong to a frame that was not captured yet.
        if (onset < borders.back() + 400'000) {
            EXPECT_LE(nearest, 400'000) << "burst at " << onset;
        }
    }
    ResetTone();
}

TEST(TestTone, ListedAsAnAudioInputDevice) {
    RegisterVirtualDevices();
    int found = 0;
    for (const com::Device& d :
         com::DeviceRegistry::Instance().Enumerate(com::CLSID_AudioInputDeviceCategory))
        found += d.description.friendly_name == "Test Tone Generator" &&
                 d.description.clsid == CLSID_TestToneGenerator;
    EXPECT_EQ(found, 1);
}

}  // namespace
}  // namespace ronvix::media::test
