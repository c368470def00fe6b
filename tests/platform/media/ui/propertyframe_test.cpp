// Property frames of the virtual devices, answered by the scripted dialog
// service: the pages the devices list, values shown from the device, and
// changes that reach the device on Apply or OK but not on Cancel.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>

#include "platform/com/comptr.h"
#include "platform/media/devices/devicecontrols.h"
#include "platform/media/devices/propertypages.h"
#include "platform/media/devices/virtual/virtualdevices.h"
#include "platform/media/ui/propertyframe.h"
#include "platform/winui/dialogs.h"

namespace ronvix::media {
namespace {

using com::ComPtr;
using com::S_OK;

QPushButton* Button(QDialog& d, QDialogButtonBox::StandardButton which) {
    auto* box = d.findChild<QDialogButtonBox*>();
    return box ? box->button(which) : nullptr;
}

LONG Property(LONG property) {
    LONG value = -1;
    CameraControls::Device()->GetProperty(property, &value);
    return value;
}

// Shows the frame of `filter` with the pages it lists.
HRESULT ShowPages(IBaseFilter* filter, const char16_t* caption) {
    ComPtr<ISpecifyPropertyPages> specify;
    EXPECT_EQ(filter->QueryInterface(ISpecifyPropertyPages::iid, specify.OutVoid()), S_OK);
    CAUUID pages;
    EXPECT_EQ(specify->GetPages(&pages), S_OK);
    com::IUnknown* object = filter;
    const HRESULT hr = OleCreatePropertyFrame(nullptr, 0, 0, caption, 1, &object, pages.cElems,
                                              pages.pElems, 0, 0, nullptr);
    com::CoTaskMemFree(pages.pElems);
    return hr;
}

TEST(PropertyFrame, CameraChangesReachTheDeviceOnApplyAndOkButNotOnCancel) {
    for (LONG p : {VideoProcAmp_Brightness, VideoProcAmp_Contrast})
        CameraControls::Device()->SetProperty(p, 128);
    CameraControls::Device()->SetQuality(0.75);
    win::ScriptedDialogs dialogs;
    ComPtr<IBaseFilter> camera;
    ASSERT_EQ(CreateTestCamera(IBaseFilter::iid, camera.OutVoid()), S_OK);

    dialogs.QueueDialogAnswer([](QDialog& d) {
        auto* tabs = d.findChild<QTabWidget*>(QStringLiteral("Pages"));
        EXPECT_TRUE(tabs);
        if (!tabs)
            return int(QDialog::Rejected);
        EXPECT_EQ(tabs->count(), 2);
        EXPECT_EQ(tabs->tabText(0), QStringLiteral("Video Proc Amp"));
        EXPECT_EQ(tabs->tabText(1), QStringLiteral("Capture"));
        auto* brightness = d.findChild<QSlider*>(QStringLiteral("Brightness"));
        auto* contrast = d.findChild<QSlider*>(QStringLiteral("Contrast"));
        EXPECT_TRUE(brightness && contrast);
        EXPECT_EQ(brightness->value(), 128);
        EXPECT_EQ(brightness->maximum(), 255);
        EXPECT_FALSE(Button(d, QDialogButtonBox::Apply)->isEnabled());
        brightness->setValue(200);
        EXPECT_EQ(d.findChild<QLabel*>(QStringLiteral("BrightnessValue"))->text(),
                  QStringLiteral("200"));
        EXPECT_EQ(Property(VideoProcAmp_Brightness), 128) << "nothing happens before Apply";
        EXPECT_TRUE(Button(d, QDialogButtonBox::Apply)->isEnabled());
        Button(d, QDialogButtonBox::Apply)->click();
        EXPECT_EQ(Property(VideoProcAmp_Brightness), 200);
        EXPECT_FALSE(Button(d, QDialogButtonBox::Apply)->isEnabled());
        contrast->setValue(10);
        Button(d, QDialogButtonBox::Cancel)->click();
        return d.result();
    });
    EXPECT_EQ(ShowPages(camera.Get(), u"VideoSourceFilter"), S_OK);
    ASSERT_EQ(dialogs.dialog_titles.size(), 1u);
    EXPECT_EQ(dialogs.dialog_titles[0], QStringLiteral("VideoSourceFilter"));
    EXPECT_EQ(Property(VideoProcAmp_Brightness), 200);
    EXPECT_EQ(Property(VideoProcAmp_Contrast), 128) << "cancelled, never applied";

    dialogs.QueueDialogAnswer([](QDialog& d) {
        auto* quality = d.findChild<QSlider*>(QStringLiteral("Quality"));
        EXPECT_TRUE(quality);
        if (!quality)
            return int(QDialog::Rejected);
        EXPECT_EQ(quality->value(), 75);
        EXPECT_EQ(d.findChild<QComboBox*>(QStringLiteral("Format"))->currentText().left(19),
                  QStringLiteral("Video/MJPG 720x576 "));
        quality->setValue(30);
        d.findChild<QSlider*>(QStringLiteral("Brightness"))->setValue(128);
        Button(d, QDialogButtonBox::Ok)->click();
        return d.result();
    });
    EXPECT_EQ(ShowPages(camera.Get(), u"VideoSourceFilter"), S_OK);
    EXPECT_DOUBLE_EQ(CameraControls::Device()->Quality(), 0.3);
    EXPECT_EQ(Property(VideoProcAmp_Brightness), 128);
    EXPECT_TRUE(dialogs.unexpected.empty());
    CameraControls::Device()->SetQuality(0.75);
}

TEST(PropertyFrame, AudioMixerPageSetsTheEnabledLineAndLevels) {
    ToneControls& tone_state = *ToneControls::Device();
    tone_state.SetEnabled(0, true);
    for (size_t l = 0; l < kToneLines.size(); ++l)
        tone_state.SetLevel(l, 0.5);
    win::ScriptedDialogs dialogs;
    ComPtr<IBaseFilter> tone;
    ASSERT_EQ(CreateToneGenerator(IBaseFilter::iid, tone.OutVoid()), S_OK);
    dialogs.QueueDialogAnswer([](QDialog& d) {
        auto* tabs = d.findChild<QTabWidget*>(QStringLiteral("Pages"));
        EXPECT_EQ(tabs->tabText(0), QStringLiteral("Audio Mixer"));
        auto* line_in = d.findChild<QCheckBox*>(QStringLiteral("Line In"));
        auto* mic = d.findChild<QCheckBox*>(QStringLiteral("Microphone"));
        auto* mic_level = d.findChild<QSlider*>(QStringLiteral("Microphone Level"));
        EXPECT_TRUE(line_in && mic && mic_level);
        if (!line_in || !mic || !mic_level)
            return int(QDialog::Rejected);
        EXPECT_TRUE(line_in->isChecked());
        EXPECT_FALSE(mic->isChecked());
        EXPECT_EQ(mic_level->value(), 50);
        mic->setChecked(true);
        EXPECT_TRUE(line_in->isChecked()) << "nothing reaches the device before Apply";
        Button(d, QDialogButtonBox::Apply)->click();
        EXPECT_TRUE(mic->isChecked());
        EXPECT_FALSE(line_in->isChecked())
            << "the page shows that the device's lines are exclusive";
        mic_level->setValue(80);
        Button(d, QDialogButtonBox::Ok)->click();
        return d.result();
    });
    EXPECT_EQ(ShowPages(tone.Get(), u"AudioSourceFilter"), S_OK);
    EXPECT_FALSE(tone_state.Get(0).enabled);
    EXPECT_TRUE(tone_state.Get(1).enabled);
    EXPECT_DOUBLE_EQ(tone_state.Get(1).level, 0.8);
    EXPECT_DOUBLE_EQ(tone_state.Get(0).level, 0.5);
    tone_state.SetEnabled(0, true);
    tone_state.SetLevel(1, 0.5);
}

TEST(PropertyFrame, NothingIsShownWithoutAPageThatApplies) {
    win::ScriptedDialogs dialogs;
    ComPtr<IBaseFilter> tone;
    ASSERT_EQ(CreateToneGenerator(IBaseFilter::iid, tone.OutVoid()), S_OK);
    com::IUnknown* object = tone.Get();
    // The tone generator has no picture controls; an unknown page is left out.
    const GUID pages[] = {CLSID_VideoProcAmpPropertyPage,
                          RONVIX_GUID("{00000000-1111-2222-3333-444444444444}")};
    EXPECT_EQ(OleCreatePropertyFrame(nullptr, 0, 0, u"x", 1, &object, 2, pages, 0, 0, nullptr),
              com::E_INVALIDARG);
    EXPECT_EQ(OleCreatePropertyFrame(nullptr, 0, 0, u"x", 1, nullptr, 2, pages, 0, 0, nullptr),
              com::E_POINTER);
    EXPECT_TRUE(dialogs.dialog_titles.empty());
    EXPECT_TRUE(dialogs.unexpected.empty());
}

}  // namespace
}  // namespace ronvix::media
