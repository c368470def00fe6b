// The pages of a V4L2 camera and of an analog capture card, against the
// scripted V4L2 fake and answered by the scripted dialog service: every
// control with its automatic mode and named values, the standard and the
// inputs, each reaching the driver on Apply.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>

#include "platform/com/devices.h"
#include "platform/media/devices/v4l2/fake_v4l2.h"
#include "platform/media/devices/v4l2/v4l2device.h"
#include "platform/media/ui/propertyframe.h"
#include "platform/winui/dialogs.h"

namespace ronvix::media::test {
namespace {

using com::ComPtr;
using com::S_OK;

constexpr char kNode[] = "/dev/video0";

QPushButton* Button(QDialog& d, QDialogButtonBox::StandardButton which) {
    auto* box = d.findChild<QDialogButtonBox*>();
    return box ? box->button(which) : nullptr;
}

QStringList Tabs(QDialog& d) {
    QStringList titles;
    if (auto* tabs = d.findChild<QTabWidget*>(QStringLiteral("Pages")))
        for (int i = 0; i < tabs->count(); ++i)
            titles << tabs->tabText(i);
    return titles;
}

QStringList Items(QComboBox* list) {
    QStringList items;
    for (int i = 0; list && i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

// Picks `text` in `list` as a user does (the activation is what marks it).
void Pick(QComboBox* list, const QString& text) {
    ASSERT_TRUE(list);
    const int index = list->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    list->setCurrentIndex(index);
    emit list->activated(index);
}

HRESULT ShowDevicePages(ScopedFakeV4l2& fake, FakeNode node) {
    fake->AddNode(kNode, std::move(node));
    RegisterV4l2Devices();
    RegisterDevicePropertyPages();
    const auto devices = com::DeviceRegistry::Instance().Enumerate(CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(devices.size(), 1u);
    if (devices.empty())
        return com::E_FAIL;
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(devices[0].description.create(IBaseFilter::iid, filter.OutVoid()), S_OK);
    ComPtr<ISpecifyPropertyPages> specify = filter.As<ISpecifyPropertyPages>();
    CAUUID pages;
    EXPECT_EQ(specify->GetPages(&pages), S_OK);
    com::IUnknown* object = filter.Get();
    const HRESULT hr = OleCreatePropertyFrame(nullptr, 0, 0, u"VideoSourceFilter", 1, &object,
                                              pages.cElems, pages.pElems, 0, 0, nullptr);
    com::CoTaskMemFree(pages.pElems);
    return hr;
}

FakeNode Webcam() {
    FakeNode node = YuyvCamera("HD Webcam");
    FakeControl power{
        0, 2, 1, 1, 1, V4L2_CTRL_TYPE_MENU, {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}}};
    FakeControl exposure_auto{
        0, 3, 1, 3, 3, V4L2_CTRL_TYPE_MENU, {{1, "Manual Mode"}, {3, "Aperture Priority Mode"}}};
    node.controls = {
        {V4L2_CID_BRIGHTNESS, FakeControl{-64, 64, 1, 0, 0}},
        {V4L2_CID_CONTRAST, FakeControl{0, 100, 1, 50, 50}},
        {V4L2_CID_HUE, FakeControl{-180, 180, 1, 0, 0}},
        {V4L2_CID_GAMMA, FakeControl{100, 500, 1, 300, 300}},
        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, FakeControl{2800, 6500, 10, 4600, 4600}},
        {V4L2_CID_AUTO_WHITE_BALANCE, FakeControl{0, 1, 1, 1, 1, V4L2_CTRL_TYPE_BOOLEAN, {}}},
        {V4L2_CID_POWER_LINE_FREQUENCY, power},
        {V4L2_CID_EXPOSURE_AUTO, exposure_auto},
        {V4L2_CID_EXPOSURE_ABSOLUTE, FakeControl{3, 2047, 1, 250, 250}},
        {V4L2_CID_ZOOM_ABSOLUTE, FakeControl{100, 500, 1, 100, 100}},
    };
    return node;
}

TEST(DevicePages, ACameraShowsEveryControlItHasWithItsAutomaticModeAndNamedValues) {
    ScopedFakeV4l2 fake;
    win::ScriptedDialogs dialogs;
    dialogs.QueueDialogAnswer([&](QDialog& d) {
        EXPECT_EQ(Tabs(d),
                  (QStringList{QStringLiteral("Video Proc Amp"), QStringLiteral("Camera Control"),
                               QStringLiteral("Capture")}));
        for (const char* name :
             {"Brightness", "Contrast", "Hue", "Gamma", "White Balance", "Exposure", "Zoom"})
            EXPECT_TRUE(d.findChild<QSlider*>(QString::fromLatin1(name))) << name;
        EXPECT_FALSE(d.findChild<QSlider*>(QStringLiteral("Saturation"))) << "not on this camera";
        auto* brightness = d.findChild<QSlider*>(QStringLiteral("Brightness"));
        EXPECT_EQ(brightness->minimum(), -64);
        EXPECT_EQ(brightness->maximum(), 64);

        auto* power = d.findChild<QComboBox*>(QStringLiteral("PowerLine Frequency"));
        EXPECT_EQ(Items(power), (QStringList{QStringLiteral("Disabled"), QStringLiteral("50 Hz"),
                                             QStringLiteral("60 Hz")}));
        EXPECT_EQ(power->currentText(), QStringLiteral("50 Hz"));
        auto* white_auto = d.findChild<QCheckBox*>(QStringLiteral("White Balance Auto"));
        auto* white = d.findChild<QSlider*>(QStringLiteral("White Balance"));
        EXPECT_TRUE(white_auto->isChecked());
        EXPECT_FALSE(white->isEnabled()) << "the driver sets it while automatic";
        EXPECT_FALSE(d.findChild<QCheckBox*>(QStringLiteral("Brightness Auto")));

        Pick(power, QStringLiteral("60 Hz"));
        white_auto->setChecked(false);
        EXPECT_TRUE(white->isEnabled());
        white->setValue(5200);
        auto* exposure_auto = d.findChild<QCheckBox*>(QStringLiteral("Exposure Auto"));
        EXPECT_TRUE(exposure_auto->isChecked());
        exposure_auto->setChecked(false);
        d.findChild<QSlider*>(QStringLiteral("Exposure"))->setValue(600);
        brightness->setValue(20);
        Button(d, QDialogButtonBox::Apply)->click();
        EXPECT_EQ(fake->ControlValue(kNode, V4L2_CID_POWER_LINE_FREQUENCY), 2);
        EXPECT_EQ(fake->ControlValue(kNode, V4L2_CID_AUTO_WHITE_BALANCE), 0);
        EXPECT_EQ(fake->ControlValue(kNode, V4L2_CID_WHITE_BALANCE_TEMPERATURE), 5200);
        EXPECT_EQ(fake->ControlValue(kNode, V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_MANUAL);
        EXPECT_EQ(fake->ControlValue(kNode, V4L2_CID_EXPOSURE_ABSOLUTE), 600);
        EXPECT_EQ(fake->ControlValue(kNode, V4L2_CID_BRIGHTNESS), 20);

        // "Default" puts every value of the page back to the device's.
        const auto defaults = d.findChildren<QPushButton*>(QStringLiteral("Default"));
        EXPECT_EQ(defaults.size(), 2);
        for (QPushButton* b : defaults)
            b->click();
        EXPECT_EQ(brightness->value(), 0);
        exposure_auto->setChecked(true);
        Button(d, QDialogButtonBox::Ok)->click();
        return d.result();
    });
    EXPECT_EQ(ShowDevicePages(fake, Webcam()), S_OK);
    EXPECT_EQ(dialogs.dialog_titles.size(), 1u);
    EXPECT_EQ(fake->ControlValue(kNode, V4L2_CID_BRIGHTNESS), 0);
    EXPECT_EQ(fake->ControlValue(kNode, V4L2_CID_POWER_LINE_FREQUENCY), 1);
    EXPECT_EQ(fake->ControlValue(kNode, V4L2_CID_ZOOM_ABSOLUTE), 100);
    EXPECT_EQ(fake->ControlValue(kNode, V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_APERTURE_PRIORITY);
    EXPECT_TRUE(dialogs.unexpected.empty());
}

FakeNode TvCard() {
    FakeNode node;
    node.card = "BT878 video";
    node.formats = {FakeFormat{V4L2_PIX_FMT_YUYV, {FakeSize{720, 576, {}}}}};
    node.fourcc = V4L2_PIX_FMT_YUYV;
    node.width = 720;
    node.height = 480;
    node.standards = {{"PAL", V4L2_STD_PAL}, {"NTSC", V4L2_STD_NTSC_M}};
    node.std = V4L2_STD_NTSC_M;
    node.inputs = {FakeInput{"Television", V4L2_INPUT_TYPE_TUNER, V4L2_STD_ALL, 0b01, 0},
                   FakeInput{"Composite1", V4L2_INPUT_TYPE_CAMERA, V4L2_STD_ALL, 0b10, 0},
                   FakeInput{"S-Video", V4L2_INPUT_TYPE_CAMERA, V4L2_STD_ALL, 0b10, 0}};
    node.audio_inputs = {"Tuner", "Line In"};
    node.detected = V4L2_STD_NTSC_M;
    node.controls = {{V4L2_CID_BRIGHTNESS, FakeControl{0, 255, 1, 128, 128}},
                     {V4L2_CID_HUE, FakeControl{0, 255, 1, 128, 128}}};
    return node;
}

TEST(DevicePages, ACaptureCardSetsItsStandardAndItsInputWithTheSoundThatGoesWithIt) {
    ScopedFakeV4l2 fake;
    win::ScriptedDialogs dialogs;
    dialogs.QueueDialogAnswer([&](QDialog& d) {
        EXPECT_EQ(Tabs(d),
                  (QStringList{QStringLiteral("Video Proc Amp"), QStringLiteral("Video Decoder"),
                               QStringLiteral("Crossbar"), QStringLiteral("Capture")}));
        auto* standard = d.findChild<QComboBox*>(QStringLiteral("Standard"));
        EXPECT_EQ(Items(standard), (QStringList{QStringLiteral("NTSC_M"), QStringLiteral("PAL_B"),
                                                QStringLiteral("PAL_D"), QStringLiteral("PAL_G"),
                                                QStringLiteral("PAL_H"), QStringLiteral("PAL_I")}));
        EXPECT_EQ(standard->currentText(), QStringLiteral("NTSC_M"));
        EXPECT_EQ(d.findChild<QLabel*>(QStringLiteral("Detected"))->text(),
                  QStringLiteral("NTSC_M"));
        EXPECT_EQ(d.findChild<QLabel*>(QStringLiteral("Lines"))->text(), QStringLiteral("525"));

        auto* video = d.findChild<QComboBox*>(QStringLiteral("Video Input"));
        auto* audio = d.findChild<QComboBox*>(QStringLiteral("Audio Input"));
        EXPECT_EQ(Items(video), (QStringList{QStringLiteral("Television (Tuner)"),
                                             QStringLiteral("Composite1 (Composite)"),
                                             QStringLiteral("S-Video (S-Video)")}));
        EXPECT_EQ(Items(audio),
                  (QStringList{QStringLiteral("Tuner (Tuner)"), QStringLiteral("Line In (Line)")}));
        EXPECT_EQ(video->currentText(), QStringLiteral("Television (Tuner)"));
        EXPECT_EQ(audio->currentText(), QStringLiteral("Tuner (Tuner)"));

        Pick(standard, QStringLiteral("PAL_B"));
        Pick(video, QStringLiteral("S-Video (S-Video)"));
        EXPECT_EQ(audio->currentText(), QStringLiteral("Line In (Line)"))
            << "the sound the card pairs with S-Video";
        EXPECT_TRUE(fake->Log(kNode).empty()) << "nothing before Apply";
        Button(d, QDialogButtonBox::Apply)->click();
        EXPECT_EQ(fake->Log(kNode), (FakeLog{"S_STD 0x3", "S_INPUT 2", "S_AUDIO 1"}));
        EXPECT_EQ(d.findChild<QLabel*>(QStringLiteral("Lines"))->text(), QStringLiteral("625"));

        // A sound other than the paired one, chosen after the picture.
        Pick(video, QStringLiteral("Television (Tuner)"));
        Pick(audio, QStringLiteral("Line In (Line)"));
        Button(d, QDialogButtonBox::Ok)->click();
        return d.result();
    });
    EXPECT_EQ(ShowDevicePages(fake, TvCard()), S_OK);
    EXPECT_EQ(dialogs.dialog_titles.size(), 1u);
    EXPECT_EQ(fake->Log(kNode), (FakeLog{"S_STD 0x3", "S_INPUT 2", "S_AUDIO 1", "S_INPUT 0",
                                         "S_AUDIO 0", "S_AUDIO 1"}));
    EXPECT_EQ(fake->State(kNode).input, 0u);
    EXPECT_EQ(fake->State(kNode).audio_input, 1u);
    EXPECT_TRUE(dialogs.unexpected.empty());
}

}  // namespace
}  // namespace ronvix::media::test
