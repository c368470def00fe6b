// Sound cards in the device categories: listed by card number before the
// virtual devices (and the silent output last), two cards of one name each
// bound to their own, a card without capture only among the outputs.

#include <gtest/gtest.h>

#include "fake_alsa.h"
#include "platform/com/devices.h"
#include "platform/com/moniker.h"
#include "platform/media/devices/alsa/alsacapture.h"
#include "platform/media/devices/pulse/fake_pulse.h"
#include "platform/media/devices/virtual/virtualdevices.h"

namespace ronvix::media::test {
namespace {

using namespace com;

class AlsaEnumerationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RegisterAlsaDevices();
        RegisterVirtualDevices();
        RegisterAudioOutputs();
    }
    void SetUp() override {
        // Listed out of order: the enumeration goes by card number.
        m_alsa.cards = {FakeCard{3, "NVidia", "HDA NVidia", -1, 3, {}, {}},
                        FakeCard{0, "Device", "USB Audio Device", 0, 0, {}, {}},
                        FakeCard{1, "Device_1", "USB Audio Device", 1, 0, {}, {}}};
        SetAlsaCaptureApi(m_alsa.CaptureApi());
        SetAlsaPlaybackApi(m_alsa.PlaybackApi());
    }
    void TearDown() override {
        SetAlsaCaptureApi({});
        SetAlsaPlaybackApi({});
    }

    static std::vector<Device> List(REFGUID category) {
        return DeviceRegistry::Instance().Enumerate(category);
    }
    static ComPtr<IBaseFilter> Bind(const Device& device) {
        ComPtr<IMoniker> moniker;
        EXPECT_EQ(CreateDeviceMoniker(device.display_name, moniker.ReleaseAndGetAddressOf()), S_OK);
        ComPtr<IBaseFilter> filter;
        if (moniker) {
            EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IBaseFilter::iid, filter.OutVoid()),
                      S_OK);
        }
        return filter;
    }
    std::vector<std::string> Opened() {
        std::lock_guard guard(m_alsa.lock);
        return std::exchange(m_alsa.opened, {});
    }

    NoSoundServer m_no_server;
    FakeAlsa m_alsa;
};

TEST_F(AlsaEnumerationTest, CaptureCardsComeFirstAndEachBindsToItsOwnCard) {
    const std::vector<Device> devices = List(CLSID_AudioInputDeviceCategory);
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].description.friendly_name, "USB Audio Device");
    EXPECT_EQ(devices[1].description.friendly_name, "USB Audio Device");
    EXPECT_EQ(devices[2].description.friendly_name, kToneGeneratorName);
    EXPECT_NE(devices[0].display_name, devices[1].display_name);
    EXPECT_EQ(devices[0].display_name,
              u"@device:pnp:alsa:Device\\" + ToUtf16(CLSID_AudioInputDeviceCategory.ToString()));

    // Each binds to its own card: the formats come from that card's PCM.
    for (size_t i = 0; i < 2; ++i) {
        ComPtr<IBaseFilter> filter = Bind(devices[i]);
        ASSERT_TRUE(filter);
        Opened();
        ComPtr<IEnumMediaTypes> types;
        ASSERT_EQ(
            PinNamed(filter.Get(), u"Capture")->EnumMediaTypes(types.ReleaseAndGetAddressOf()),
            S_OK);
        const std::vector<std::string> opened = Opened();
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0], i == 0 ? "hw:CARD=Device,DEV=0" : "hw:CARD=Device_1,DEV=1");
    }

    // A card that is gone no longer binds.
    m_alsa.cards.erase(m_alsa.cards.begin() + 2);
    ComPtr<IMoniker> moniker;
    ASSERT_EQ(CreateDeviceMoniker(devices[1].display_name, moniker.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IBaseFilter> gone;
    EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IBaseFilter::iid, gone.OutVoid()),
              MK_E_NOOBJECT);
}

TEST_F(AlsaEnumerationTest, OutputsFollowTheDefaultDeviceAndPrecedeTheSilentOne) {
    const std::vector<Device> devices = List(CLSID_AudioRendererCategory);
    std::vector<std::string> names;
    for (const Device& d : devices)
        names.push_back(d.description.friendly_name);
    const std::vector<std::string> expected = {kAlsaDefaultOutputName, "USB Audio Device",
                                               "USB Audio Device", "HDA NVidia",
                                               kSilentAudioOutputName};
    ASSERT_EQ(names, expected);

    // The HDMI card, which has no capture, plays through its own device.
    FilterHarness h(Bind(devices[3]));
    TestSource* source = h.AddSource({.types = {MediaType::Pcm(44100, 16, 2)}});
    ASSERT_EQ(h.ConnectIn(source, u"Audio Input pin"), S_OK);
    Opened();
    ASSERT_EQ(h.Control()->Pause(), S_OK);
    EXPECT_EQ(Opened(), std::vector<std::string>{"plughw:CARD=NVidia,DEV=3"});
    h.Teardown();
}

}  // namespace
}  // namespace ronvix::media::test
