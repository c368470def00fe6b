// Checks on the machine's real sound cards: the first card with a capture
// device (or, where a sound server owns the cards, the server's first
// input) is listed first among the audio capture devices and captures two
// seconds of samples at its first format. Skipped where no card captures.

#include <gtest/gtest.h>

#include <iostream>
#include <thread>

#include "platform/com/devices.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/devices/alsa/alsacapture.h"
#include "platform/media/devices/pulse/pulsecapture.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media::test {
namespace {

using namespace std::chrono_literals;
using com::ComPtr;
using com::S_OK;

TEST(AlsaHardware, TheFirstCaptureCardIsListedAndCapturesTwoSeconds) {
    std::vector<AlsaCard> cards = ListAlsaCards(RealAlsaCaptureApi().cards);
    std::erase_if(cards, [](const AlsaCard& c) { return c.capture_device < 0; });
    if (cards.empty())
        GTEST_SKIP() << "no sound card with a capture device on this machine";
    RegisterEngineClasses();
    RegisterAlsaDevices();

    const auto devices = com::DeviceRegistry::Instance().Enumerate(CLSID_AudioInputDeviceCategory);
    ASSERT_FALSE(devices.empty());
    // A desktop's sound server owns the cards: its first input is listed
    // first and captured through it; without one, the first card.
    if (const std::optional<PulseServer> server = PulseDevices()) {
        const std::vector<PulseDevice> sources = ListedSources(*server);
        ASSERT_FALSE(sources.empty());
        EXPECT_EQ(devices[0].description.friendly_name, sources[0].description);
        std::cout << "capturing through the sound server from " << sources[0].name << "\n";
    } else {
        EXPECT_EQ(devices[0].description.friendly_name, cards[0].name);
        std::cout << "capturing from " << AlsaPcmName("hw", cards[0], cards[0].capture_device)
                  << " (" << cards[0].name << ")\n";
    }
    ComPtr<IBaseFilter> card;
    ASSERT_EQ(devices[0].description.create(IBaseFilter::iid, card.OutVoid()), S_OK);
    for (ComPtr<IPin>& pin : FilterPins(card.Get())) {
        if (PinDirection(pin.Get()) != PINDIR_INPUT)
            continue;
        ComPtr<IAMAudioInputMixer> line;
        EXPECT_EQ(pin->QueryInterface(IAMAudioInputMixer::iid, line.OutVoid()), S_OK);
        BOOL on = 0;
        double level = 0;
        if (line) {
            line->get_Enable(&on);
            line->get_MixLevel(&level);
        }
        std::cout << "input line \"" << PinLabel(pin.Get()) << "\": " << (on ? "on" : "off")
                  << ", level " << level << "\n";
    }

    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<TestSink> sink = TestSink::Make({{MediaType::Partial(MEDIATYPE_Audio)}});
    ASSERT_EQ(graph->AddFilter(card.Get(), u"Card"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink.Get(), u"Sink"), S_OK);
    ASSERT_EQ(graph->ConnectDirect(PinNamed(card.Get(), u"Capture").Get(), sink->Input(), nullptr),
              S_OK)
        << "the card offers no format it opens";
    AM_MEDIA_TYPE mt{};
    sink->Input()->ConnectionMediaType(&mt);
    const WAVEFORMATEX wfx = *reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    FreeMediaType(mt);
    auto control = graph.As<IMediaControl>();
    ASSERT_TRUE(com::SUCCEEDED(control->Run())) << "the card did not open (busy?)";
    std::this_thread::sleep_for(2s);
    ASSERT_EQ(control->Stop(), S_OK);

    size_t bytes = 0;
    for (const TestSink::Received& r : sink->ReceivedSamples())
        bytes += r.data.size();
    const double seconds = double(bytes) / wfx.nBlockAlign / wfx.nSamplesPerSec;
    LONG dropped = 0;
    PinNamed(card.Get(), u"Capture").As<IAMDroppedFrames>()->GetNumDropped(&dropped);
    std::cout << seconds << " s captured at " << wfx.nSamplesPerSec << " Hz, " << wfx.wBitsPerSample
              << " bits, " << wfx.nChannels << " channels; " << dropped << " buffers dropped\n";
    // A wide band: the samples arrive, at about the card's rate.
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 3.0);
    graph->RemoveFilter(card.Get());
    graph->RemoveFilter(sink.Get());
}

}  // namespace
}  // namespace ronvix::media::test
