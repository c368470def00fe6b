// An analog capture card on the scripted V4L2 system: the input and
// standard chosen on its pages reach the driver, are remembered per device,
// and are set again on the card after a restart (a new system, whose
// driver starts on its tuner in NTSC), before its formats are listed.

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

#include "capture_fixture.h"
#include "platform/media/devices/v4l2/fake_v4l2.h"
#include "platform/win/profile.h"

using namespace ronvix;
using namespace ronvix::testing;

namespace {

constexpr char kNode[] = "/dev/video0";
constexpr char kCard[] = "Fake TV Card";

media::test::FakeNode TvCard() {
    using media::test::FakeInput;
    media::test::FakeNode node;
    node.card = kCard;
    node.stable_name = "/dev/v4l/by-path/pci-0000:05:00.0-video-index0";
    node.formats = {media::test::FakeFormat{V4L2_PIX_FMT_YUYV,
                                            {{720, 480, {{1001, 30000}}}, {720, 576, {{1, 25}}}}}};
    node.fourcc = V4L2_PIX_FMT_YUYV;
    node.width = 720;
    node.height = 480;
    node.interval = {1001, 30000};
    node.field = V4L2_FIELD_INTERLACED;
    node.standards = {{"NTSC", V4L2_STD_NTSC_M}, {"PAL", V4L2_STD_PAL}};
    node.std = V4L2_STD_NTSC_M;
    node.inputs = {FakeInput{"Television", V4L2_INPUT_TYPE_TUNER, V4L2_STD_ALL, 0b01, 0},
                   FakeInput{"Composite1", V4L2_INPUT_TYPE_CAMERA, V4L2_STD_ALL, 0b10, 0},
                   FakeInput{"S-Video", V4L2_INPUT_TYPE_CAMERA, V4L2_STD_ALL, 0b10, 0}};
    node.audio_inputs = {"Tuner", "Line In"};
    node.controls = {{V4L2_CID_BRIGHTNESS, media::test::FakeControl{}},
                     {V4L2_CID_CONTRAST, media::test::FakeControl{}}};
    return node;
}

void PickIn(QDialog& d, const char* list, const char* item) {
    auto* combo = d.findChild<QComboBox*>(QString::fromLatin1(list));
    ASSERT_TRUE(combo) << list;
    Pick(combo, QString::fromLatin1(item));
}

class AnalogCardWindow : public CaptureWindow {
protected:
    AnalogCardWindow() { fake->AddNode(kNode, TvCard()); }

    media::test::ScopedFakeV4l2 fake;
};

TEST_F(AnalogCardWindow, TheInputAndStandardChosenOnThePagesComeBackAfterARestart) {
    form->tabs->setCurrentIndex(2);
    Pick(form->devicePage->videoDevices, QString::fromLatin1(kCard));
    ASSERT_TRUE(form->devicePage->videoFormats->itemText(0).contains("720X480"))
        << form->devicePage->videoFormats->itemText(0).toStdString();
    dialogs.QueueDialogAnswer([](QDialog& d) {
        PickIn(d, "Standard", "PAL_B");
        PickIn(d, "Video Input", "S-Video (S-Video)");
        d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        return d.result();
    });
    form->devicePage->onVideoPropertiesClicked();
    ASSERT_EQ(dialogs.dialog_titles.size(), 1u);
    const media::test::FakeLog chosen = {"S_STD 0x3", "S_INPUT 2", "S_AUDIO 1"};
    EXPECT_EQ(fake->Log(kNode), chosen);
    // Under keys of their own, beside the window's.
    const QString file = form->formStorage->IniFileName();
    const auto sections = win::CurrentProfileService().Sections(file.toStdString());
    EXPECT_EQ(std::count_if(sections.begin(), sections.end(),
                            [](const std::string& s) {
                                return s.rfind("Video device @device:pnp:/dev/v4l/by-path/", 0) ==
                                       0;
                            }),
              1);
    form->Close();
    form.reset();

    // The machine restarts: the driver is back on its tuner, in NTSC.
    media::test::ScopedFakeV4l2 rebooted;
    rebooted->AddNode(kNode, TvCard());
    Open();
    ASSERT_EQ(form->devicePage->videoDevices->currentText(), QString::fromLatin1(kCard));
    EXPECT_EQ(rebooted->Log(kNode), (media::test::FakeLog{"S_INPUT 2", "S_AUDIO 1", "S_STD 0x3"}));
    EXPECT_EQ(rebooted->State(kNode).input, 2u);
    EXPECT_TRUE(form->devicePage->videoFormats->itemText(0).contains("720X576"))
        << "the formats are listed in the standard set: "
        << form->devicePage->videoFormats->itemText(0).toStdString();
    ExpectNoBox();
}

TEST_F(AnalogCardWindow, ACameraWithoutInputsOrStandardsRemembersNothing) {
    fake->AddNode("/dev/video2", media::test::YuyvCamera("Plain Camera"));
    form.reset();
    Open();
    form->tabs->setCurrentIndex(2);
    Pick(form->devicePage->videoDevices, QStringLiteral("Plain Camera"));
    dialogs.QueueDialogAnswer([](QDialog& d) {
        d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        return d.result();
    });
    form->devicePage->onVideoPropertiesClicked();
    const auto sections =
        win::CurrentProfileService().Sections(form->formStorage->IniFileName().toStdString());
    for (const std::string& s : sections)
        EXPECT_EQ(s.rfind("Video device", 0), std::string::npos) << s;
    ExpectNoBox();
}

}  // namespace
