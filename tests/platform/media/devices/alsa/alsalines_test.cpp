// A sound card's input lines against scripted mixers: a card that chooses
// its capture source with an enumeration (exclusive lines) and one with a
// switch and a volume per input; the lines belong to the card.

#include <gtest/gtest.h>

#include "fake_alsa.h"
#include "platform/media/devices/alsa/alsacapture.h"

namespace ronvix::media::test {
namespace {

using namespace com;

class AlsaLinesTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeCard source{0, "Hda", "Built-in Audio", 0, 0, {}};
        source.elements = {
            {CaptureElement("Master", false, false)},
            {SourceElement("Input Source", {"Mic", "Line", "Internal Mic"})},
            {CaptureElement("Capture", true, true, 63)},
            {CaptureElement("Mic", true, false, 100)},
            {CaptureElement("Digital", true, false, 120)},
        };
        FakeCard usb{1, "Usb", "USB Audio", 0, -1, {}};
        usb.elements = {
            {CaptureElement("Mic", true, true, 16)},
            {CaptureElement("Mic", true, true, 16, 1)},
            {CaptureElement("Capture", false, true)},
        };
        m_alsa.cards = {source, usb};
        SetAlsaCaptureApi(m_alsa.CaptureApi());
    }
    void TearDown() override { SetAlsaCaptureApi({}); }

    static ComPtr<IBaseFilter> Open(int card, const char* id) {
        ComPtr<IBaseFilter> filter;
        EXPECT_EQ(
            CreateAlsaCapture(AlsaCard{card, id, id, 0, -1}, IBaseFilter::iid, filter.OutVoid()),
            S_OK);
        return filter;
    }
    static ComPtr<IAMAudioInputMixer> Line(IBaseFilter* filter, std::u16string_view name) {
        ComPtr<IAMAudioInputMixer> mixer;
        if (ComPtr<IPin> pin = PinNamed(filter, name))
            pin->QueryInterface(IAMAudioInputMixer::iid, mixer.OutVoid());
        return mixer;
    }
    static bool Enabled(IAMAudioInputMixer* line) {
        BOOL on = 0;
        EXPECT_EQ(line->get_Enable(&on), S_OK);
        return on != 0;
    }
    static double Level(IAMAudioInputMixer* line) {
        double level = -1;
        EXPECT_EQ(line->get_MixLevel(&level), S_OK);
        return level;
    }

    FakeAlsa m_alsa;
};

TEST_F(AlsaLinesTest, AnEnumeratedSourceGivesExclusiveLines) {
    ComPtr<IBaseFilter> filter = Open(0, "Hda");
    std::vector<std::u16string> names;
    for (const ComPtr<IPin>& pin : FilterPins(filter.Get()))
        names.push_back(PinName(pin.Get()));
    const std::vector<std::u16string> expected = {u"Capture", u"Mic", u"Line", u"Internal Mic",
                                                  u"Digital"};
    EXPECT_EQ(names, expected) << "the capture pin, then the source's items, then other elements";

    ComPtr<IAMAudioInputMixer> mic = Line(filter.Get(), u"Mic");
    ComPtr<IAMAudioInputMixer> line = Line(filter.Get(), u"Line");
    ComPtr<IAMAudioInputMixer> internal = Line(filter.Get(), u"Internal Mic");
    ComPtr<IAMAudioInputMixer> digital = Line(filter.Get(), u"Digital");
    ASSERT_TRUE(mic && line && internal && digital);
    EXPECT_TRUE(Enabled(mic.Get()));
    EXPECT_FALSE(Enabled(line.Get()));

    m_alsa.Element(0, "Capture").on = false;
    ASSERT_EQ(line->put_Enable(TRUE), S_OK);
    EXPECT_EQ(m_alsa.Element(0, "Input Source").item, 1u);
    EXPECT_TRUE(m_alsa.Element(0, "Capture").on) << "enabling a line unmutes the converter";
    EXPECT_FALSE(Enabled(mic.Get()));
    EXPECT_TRUE(Enabled(line.Get()));
    EXPECT_FALSE(Enabled(internal.Get()));
    EXPECT_TRUE(Enabled(digital.Get())) << "an element outside the enumeration is its own line";
    // Disabling a line that is not selected leaves the selected one alone;
    // disabling the selected one mutes the converter.
    ASSERT_EQ(mic->put_Enable(FALSE), S_OK);
    EXPECT_TRUE(Enabled(line.Get()));
    ASSERT_EQ(line->put_Enable(FALSE), S_OK);
    EXPECT_FALSE(Enabled(line.Get()));
    EXPECT_FALSE(m_alsa.Element(0, "Capture").on);
    EXPECT_EQ(digital->put_Enable(FALSE), E_NOTIMPL) << "a line without a switch is always on";
    ASSERT_EQ(line->put_Enable(TRUE), S_OK);

    // "Mic" has a volume of its own; "Line" uses the converter's gain.
    ASSERT_EQ(mic->put_MixLevel(0.25), S_OK);
    EXPECT_EQ(m_alsa.Element(0, "Mic").volume, 25);
    ASSERT_EQ(line->put_MixLevel(0.5), S_OK);
    EXPECT_EQ(m_alsa.Element(0, "Capture").volume, 32);  // 0.5 of 0..63, rounded
    EXPECT_NEAR(Level(internal.Get()), 32.0 / 63.0, 1e-9);
    EXPECT_EQ(line->put_MixLevel(1.5), E_INVALIDARG);
    EXPECT_EQ(line->put_MixLevel(-0.01), E_INVALIDARG);
    EXPECT_EQ(m_alsa.Element(0, "Capture").volume, 32);
}

TEST_F(AlsaLinesTest, SwitchesAndVolumesPerInput) {
    ComPtr<IBaseFilter> filter = Open(1, "Usb");
    ComPtr<IAMAudioInputMixer> mic = Line(filter.Get(), u"Mic");
    ComPtr<IAMAudioInputMixer> mic1 = Line(filter.Get(), u"Mic 1");
    ComPtr<IAMAudioInputMixer> capture = Line(filter.Get(), u"Master Capture");
    ASSERT_TRUE(mic && mic1 && capture);

    // Switches are not exclusive here: each line is its own.
    ASSERT_EQ(mic->put_Enable(FALSE), S_OK);
    EXPECT_FALSE(m_alsa.Element(1, "Mic").on);
    EXPECT_FALSE(Enabled(mic.Get()));
    EXPECT_TRUE(Enabled(mic1.Get()));
    ASSERT_EQ(mic->put_Enable(TRUE), S_OK);
    EXPECT_TRUE(Enabled(mic.Get()));
    EXPECT_TRUE(Enabled(mic1.Get()));

    // A switch without a volume: full level, and no level to set.
    EXPECT_EQ(Level(capture.Get()), 1.0);
    EXPECT_EQ(capture->put_MixLevel(0.5), E_NOTIMPL);
    ASSERT_EQ(capture->put_Enable(FALSE), S_OK);
    EXPECT_FALSE(Enabled(capture.Get()));

    ASSERT_EQ(mic1->put_MixLevel(0.75), S_OK);
    EXPECT_EQ(m_alsa.cards[1].elements[1].volume, 12);
    EXPECT_EQ(m_alsa.cards[1].elements[0].volume, 0) << "index 1 is a separate element";
}

TEST_F(AlsaLinesTest, LinesBelongToTheCard) {
    {
        ComPtr<IBaseFilter> first = Open(0, "Hda");
        ASSERT_EQ(Line(first.Get(), u"Internal Mic")->put_Enable(TRUE), S_OK);
        ASSERT_EQ(Line(first.Get(), u"Digital")->put_MixLevel(0.5), S_OK);
    }
    ComPtr<IBaseFilter> second = Open(0, "Hda");
    EXPECT_TRUE(Enabled(Line(second.Get(), u"Internal Mic").Get()));
    EXPECT_NEAR(Level(Line(second.Get(), u"Digital").Get()), 0.5, 1e-9);
    // A change made by another program's mixer is seen.
    m_alsa.Element(0, "Digital").volume = 120;
    EXPECT_EQ(Level(Line(second.Get(), u"Digital").Get()), 1.0);
    // Another card's lines are its own.
    ComPtr<IBaseFilter> other = Open(1, "Usb");
    EXPECT_FALSE(PinNamed(other.Get(), u"Internal Mic"));

    ComPtr<ISpecifyPropertyPages> pages;
    EXPECT_EQ(second->QueryInterface(ISpecifyPropertyPages::iid, pages.OutVoid()), S_OK);
}

TEST_F(AlsaLinesTest, ACardWithoutAMixerHasOnlyItsCapturePin) {
    ComPtr<IBaseFilter> filter = Open(5, "NoMixer");
    EXPECT_EQ(FilterPins(filter.Get()).size(), 1u);
}

}  // namespace
}  // namespace ronvix::media::test
