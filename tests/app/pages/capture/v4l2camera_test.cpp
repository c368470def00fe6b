// The capture workflow with a V4L2 camera that only delivers YUYV, on the
// scripted V4L2 system: chosen on the device page, started and stopped as a
// user does, captured through the MJPEG Compressor into an AVI file; and the
// same camera unplugged in the middle of a capture.

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QPushButton>

#include <atomic>
#include <thread>

#include "app/pages/device_items.h"
#include "capture_fixture.h"
#include "framework/application.h"
#include "platform/com/moniker.h"
#include "platform/media/core/clock.h"
#include "platform/media/devices/alsa/audiooutput.h"
#include "platform/media/devices/v4l2/fake_v4l2.h"

using namespace ronvix;
using namespace ronvix::testing;
using media::test::ProbePackets;
using media::test::ProbeStreams;

namespace {

// Frames fed in two seconds are 60. ThreadSanitizer makes the conversion
// and encoding several times slower, so the graph keeps up with only a few
// of them (the rest are dropped and counted); only the count is relaxed.
#if defined(__SANITIZE_THREAD__)
constexpr long kMinPacketsPerSecond = 2;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr long kMinPacketsPerSecond = 2;
#else
constexpr long kMinPacketsPerSecond = 10;
#endif
#else
constexpr long kMinPacketsPerSecond = 10;
#endif

constexpr char kNode[] = "/dev/video0";
constexpr char kCard[] = "Fake YUYV Camera";

// Feeds the camera a frame every 1/30 s while its stream is on, as a driver
// does, with its sequence number and capture time; paused, it feeds nothing
// and reports no error, as a capture card does on blank tape.
class FrameFeeder {
public:
    explicit FrameFeeder(media::test::FakeV4l2System& fake)
        : m_thread([&fake, this](std::stop_token stop) {
              uint32_t sequence = 0;
              while (!stop.stop_requested()) {
                  if (!m_paused && fake.Streaming(kNode) && fake.PendingFrames(kNode) < 2)
                      fake.Feed(kNode, media::test::FakeFrame{
                                           media::test::YuyvFrame(320, 240, uint8_t(sequence)),
                                           sequence++, media::MonotonicNow100ns(), 0});
                  std::this_thread::sleep_for(std::chrono::milliseconds(33));
              }
          }) {}

    void Pause(bool paused) { m_paused = paused; }

private:
    std::atomic<bool> m_paused{false};
    std::jthread m_thread;
};

class V4l2CaptureWindow : public CaptureWindow {
protected:
    V4l2CaptureWindow() {
        media::test::FakeNode camera = media::test::YuyvCamera(kCard);
        camera.width = 320;
        camera.height = 240;
        fake->AddNode(kNode, camera);
    }

    void ChooseCamera(const QString& file) {
        form->tabs->setCurrentIndex(2);
        Pick(form->devicePage->videoDevices, QString::fromUtf8(kCard));
        form->tabs->setCurrentIndex(0);
        form->capturePage->fileName->SetFileName(file);
    }

    long VideoPackets(const QString& path) {
        const auto packets = ProbePackets(path);
        if (!packets)
            return -1;
        long n = 0;
        for (const auto& p : *packets)
            n += p.stream == 0 && p.size > 0;
        return n;
    }

    // Installed before the main window lists its devices.
    media::test::ScopedFakeV4l2 fake;
    FrameFeeder feeder{*fake};
};

TEST_F(V4l2CaptureWindow, AYuyvOnlyCameraIsCapturedAsMjpgThroughTheWholeUserPath) {
    ChooseCamera("c:\\yuyv.avi");
    ASSERT_TRUE(form->capturePage->startButton->isEnabled());
    form->capturePage->startButton->click();
    ASSERT_TRUE(form->capturePage->stopButton->isEnabled()) << "the capture did not start";
    Spin(2000);
    form->capturePage->onStatisticsTick();
    form->capturePage->stopButton->click();
    ExpectNoBox();
    EXPECT_FALSE(form->captureSession->Graph()->Active());

    const QString path = DriveC("yuyv.avi");
    const auto streams = ProbeStreams(path);
    ASSERT_TRUE(streams) << "ffprobe cannot read the file";
    ASSERT_EQ(streams->size(), 1u);
    EXPECT_EQ((*streams)[0].codec, "mjpeg");
    EXPECT_EQ((*streams)[0].width, 320);
    EXPECT_EQ((*streams)[0].height, 240);
    // About 60 frames; the band is wide, timing is not under test.
    EXPECT_GE(VideoPackets(path), 2 * kMinPacketsPerSecond);
    EXPECT_GT(form->capturePage->capturedField->text().toInt(), 0);
}

TEST_F(V4l2CaptureWindow, UnpluggingTheCameraStopsTheCaptureReportsItOnceAndKeepsTheFile) {
    ChooseCamera("c:\\unplugged.avi");
    form->capturePage->preview->setChecked(true);
    form->capturePage->onPreviewClicked();
    form->capturePage->startButton->click();
    ASSERT_TRUE(form->capturePage->stopButton->isEnabled());
    Spin(1500);
    dialogs.QueueBoxAnswer(win::IDOK);  // The user acknowledges the report.
    fake->Remove(kNode);
    ASSERT_TRUE(SpinUntil([&] { return !dialogs.boxes.empty(); }, 10000))
        << "the lost camera was not reported";
    Spin(1000);
    ASSERT_EQ(dialogs.boxes.size(), 1u) << "reported more than once";
    EXPECT_EQ(dialogs.boxes[0].caption, fw::ApplicationTitle());
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("disconnected")))
        << dialogs.boxes[0].text.toStdString();
    // As "Stop" leaves the page, without a preview of the camera that went;
    // and once the list has let the camera go, as before the first choice.
    ASSERT_TRUE(SpinUntil([&] { return !form->capturePage->deviceHint->isHidden(); }, 5000))
        << "the camera that went is still chosen";
    EXPECT_FALSE(form->capturePage->stopButton->isEnabled()) << "it still looks like a capture";
    EXPECT_FALSE(form->capturePage->startButton->isEnabled());
    EXPECT_EQ(form->devicePage->videoDevices->currentIndex(), -1);
    EXPECT_TRUE(form->devicePage->videoDevices->isEnabled());
    EXPECT_FALSE(form->capturePage->statisticsTimer->Enabled());
    EXPECT_FALSE(form->captureSession->Graph()->Active());
    EXPECT_TRUE(form->capturePage->preview->isChecked()) << "the user's choice stays";

    const QString path = DriveC("unplugged.avi");
    const auto streams = ProbeStreams(path);
    ASSERT_TRUE(streams) << "the file is not complete";
    ASSERT_EQ(streams->size(), 1u);
    EXPECT_EQ((*streams)[0].codec, "mjpeg");
    EXPECT_GE(VideoPackets(path), kMinPacketsPerSecond)
        << "the frames captured before the loss are kept";
    EXPECT_TRUE(dialogs.unexpected.empty()) << dialogs.unexpected.front().toStdString();
}

TEST_F(V4l2CaptureWindow, UnpluggingTheCameraDuringAPreviewStopsItAndReportsItOnce) {
    ChooseCamera("c:\\preview-only.avi");
    form->capturePage->preview->setChecked(true);
    form->capturePage->onPreviewClicked();
    ASSERT_TRUE(SpinUntil([&] { return form->captureSession->Graph()->State() == 3; }, 5000))
        << "the preview did not start";
    Spin(500);
    dialogs.QueueBoxAnswer(win::IDOK);
    fake->Remove(kNode);
    ASSERT_TRUE(SpinUntil([&] { return !dialogs.boxes.empty(); }, 10000))
        << "the lost camera was not reported";
    Spin(1000);
    ASSERT_EQ(dialogs.boxes.size(), 1u) << "reported more than once";
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("preview has been stopped")))
        << dialogs.boxes[0].text.toStdString();
    EXPECT_NE(form->captureSession->Graph()->State(), 3)
        << "the preview still runs on a vanished camera";
    ASSERT_TRUE(SpinUntil([&] { return !form->capturePage->deviceHint->isHidden(); }, 5000))
        << "the camera that went is still chosen";
    EXPECT_FALSE(form->capturePage->startButton->isEnabled());
    EXPECT_FALSE(form->capturePage->stopButton->isEnabled());
    EXPECT_FALSE(QFileInfo::exists(DriveC("preview-only.avi"))) << "a preview writes no file";
    EXPECT_TRUE(dialogs.unexpected.empty()) << dialogs.unexpected.front().toStdString();
}

TEST_F(V4l2CaptureWindow, PictureControlsTheCameraLacksAreDisabledAndTheStoredFormatIsKept) {
    media::test::FakeNode plain = media::test::YuyvCamera("Fake Plain Camera");
    plain.controls.erase(V4L2_CID_SHARPNESS);
    fake->AddNode("/dev/video2", plain);
    form.reset();
    Open();
    form->tabs->setCurrentIndex(2);
    Pick(form->devicePage->videoDevices, "Fake Plain Camera");
    ExpectNoBox();
    EXPECT_FALSE(form->capturePage->sharpnessSlider->isEnabled());
    EXPECT_TRUE(form->capturePage->sharpnessField->text().isEmpty());
    const std::pair<controls::TSlider*, QLabel*> working[] = {
        {form->capturePage->brightnessSlider, form->capturePage->brightnessField},
        {form->capturePage->contrastSlider, form->capturePage->contrastField},
        {form->capturePage->saturationSlider, form->capturePage->saturationField}};
    for (const auto& [slider, field] : working) {
        EXPECT_TRUE(slider->isEnabled()) << slider->objectName().toStdString();
        EXPECT_EQ(field->text(), QString::number(slider->Value() - 128));
    }
    ASSERT_GT(form->devicePage->videoFormats->count(), 1);
    form->devicePage->videoFormats->setCurrentIndex(1);

    // The next start chooses the camera again with the stored format.
    form->Close();
    form.reset();
    Open();
    EXPECT_EQ(form->devicePage->videoDevices->currentText(), "Fake Plain Camera");
    EXPECT_EQ(form->devicePage->videoFormats->currentIndex(), 1) << "the stored format was skipped";
    EXPECT_FALSE(form->capturePage->sharpnessSlider->isEnabled());
    ExpectNoBox();
    // A camera that has the control gets its slider back.
    form->tabs->setCurrentIndex(2);
    Pick(form->devicePage->videoDevices, QString::fromUtf8(kCard));
    EXPECT_TRUE(form->capturePage->sharpnessSlider->isEnabled());
    EXPECT_EQ(form->capturePage->sharpnessField->text(),
              QString::number(form->capturePage->sharpnessSlider->Value() - 128));
    ExpectNoBox();
}

TEST_F(V4l2CaptureWindow, FormatLinesOfOneSizeAtSeveralRatesNameTheRate) {
    ChooseCamera("c:\\rates.avi");
    QStringList lines;
    for (int i = 0; i < form->devicePage->videoFormats->count(); ++i)
        lines << form->devicePage->videoFormats->itemText(i);
    EXPECT_EQ(lines.size(), form->devicePage->VideoTypes().Count()) << "one line per format";
    EXPECT_EQ(QSet<QString>(lines.begin(), lines.end()).size(), lines.size())
        << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.filter(QStringLiteral(", 30 fps")).size() >= 2);
    EXPECT_TRUE(lines.filter(QStringLiteral(", 15 fps")).size() >= 2);
    // The test camera's own lines, which the list shows once it is chosen:
    // its SD formats come at one rate each and name none; its HD sizes come
    // at 25 and 30 fps and name theirs.
    form->tabs->setCurrentIndex(2);
    Pick(form->devicePage->videoDevices, QString::fromUtf8(media::kTestCameraName));
    ASSERT_TRUE(form->devicePage->videoFormats->itemText(0).contains("MJPG 720X576"))
        << form->devicePage->videoFormats->itemText(0).toStdString();
    for (int i = 0; i < form->devicePage->videoFormats->count(); ++i) {
        const QString line = form->devicePage->videoFormats->itemText(i);
        const bool hd = line.contains("X720") || line.contains("X1080");
        EXPECT_EQ(line.contains(" fps"), hd) << line.toStdString();
    }
    ExpectNoBox();
}

TEST_F(V4l2CaptureWindow, DeviceChoicesFollowTheDeviceWhereverItIsListed) {
    // A default sound output that cannot be opened at the moment.
    media::AlsaPlaybackApi busy;
    busy.open = [](const std::string&, int, int, int, void**) { return -EBUSY; };
    busy.wait = [](void*, int) { return 0; };
    busy.write = [](void*, const uint8_t*, long) -> long { return -EIO; };
    busy.recover = [](void*, int error) { return error; };
    busy.close = [](void*) {};
    media::SetAlsaPlaybackApi(busy);
    struct RealAlsa {
        ~RealAlsa() { media::SetAlsaPlaybackApi({}); }
    } real_alsa;
    media::test::FakeNode b = media::test::YuyvCamera("Camera B", "/dev/v4l/by-id/usb-B-index0");
    b.formats = {{V4L2_PIX_FMT_YUYV, {{320, 240, {{1, 30}}}}}};
    b.width = 320;
    b.height = 240;
    fake->AddNode("/dev/video4",
                  media::test::YuyvCamera("Camera A", "/dev/v4l/by-id/usb-A-index0"));
    fake->AddNode("/dev/video6", b);
    auto names = [this] {
        QStringList shown;
        for (int i = 0; i < form->devicePage->videoDevices->count(); ++i)
            shown << form->devicePage->videoDevices->itemText(i);
        return shown;
    };
    auto chosen = [this] {
        return QString::fromStdU16String(com::DisplayNameOf(
            form->captureSession->Media().VideoSourceFilter->BaseFilter().StoredMoniker().Get()));
    };
    form.reset();
    Open();
    EXPECT_EQ(form->devicePage->audioOutputs->itemText(0), media::kAlsaDefaultOutputName)
        << "the default output is left out while it cannot be opened";
    const QStringList listed = names();
    ASSERT_EQ(listed.indexOf("Camera A") + 1, listed.indexOf("Camera B"));

    // Camera A is taken by another program: picking B still chooses B.
    fake->SetOpenError("/dev/video4", EBUSY);
    form->tabs->setCurrentIndex(2);
    Pick(form->devicePage->videoDevices, "Camera B");
    EXPECT_TRUE(chosen().contains("usb-B")) << chosen().toStdString();
    EXPECT_EQ(form->devicePage->videoFormats->count(), form->devicePage->VideoTypes().Count());
    // A list made while A cannot be opened holds it in its place.
    form->Close();
    form.reset();
    Open();
    EXPECT_EQ(names(), listed) << "the list changed with the state of a device";
    EXPECT_EQ(form->devicePage->videoDevices->currentText(), "Camera B");
    form->Close();
    form.reset();

    // A camera plugged in ahead of both: the stored position now names
    // another device, the stored moniker still B.
    fake->SetOpenError("/dev/video4", 0);
    fake->AddNode("/dev/video2",
                  media::test::YuyvCamera("Camera C", "/dev/v4l/by-id/usb-C-index0"));
    Open();
    EXPECT_EQ(form->devicePage->videoDevices->currentText(), "Camera B");
    EXPECT_TRUE(chosen().contains("usb-B")) << chosen().toStdString();
    form->Close();
    form.reset();
    // B is unplugged: nothing is chosen, rather than the device in its place.
    fake->Remove("/dev/video6");
    Open();
    EXPECT_EQ(form->devicePage->videoDevices->currentIndex(), -1);
    ExpectNoBox();
}

// While the window is open, cameras plugged in and out show in the video
// list within two seconds; the choice stays on its device wherever the
// list puts it, goes with it while idle, and comes back with it.
TEST_F(V4l2CaptureWindow, TheVideoListFollowsCamerasThatComeAndGo) {
    constexpr int kNotice_ms = 2000;
    app::pages::DevicePage& page = *form->devicePage;
    QComboBox* list = page.videoDevices;
    auto listed = [&](const char* name) { return list->findText(name) >= 0; };
    auto chosen = [&] { return list->currentData(app::pages::kMonikerRole).toString(); };
    form->tabs->setCurrentIndex(2);
    Pick(list, QString::fromUtf8(media::kTestCameraName));
    const QString test_camera = chosen();

    // A camera plugged in goes before the virtual ones.
    fake->AddNode("/dev/video2",
                  media::test::YuyvCamera("Camera D", "/dev/v4l/by-id/usb-D-index0"));
    ASSERT_TRUE(SpinUntil([&] { return listed("Camera D"); }, kNotice_ms));
    EXPECT_EQ(chosen(), test_camera) << "the choice moved to another device";

    // One that is not chosen goes: the chosen one stays.
    Pick(list, QString::fromUtf8(kCard));
    const QString camera = chosen();
    fake->Remove("/dev/video2");
    ASSERT_TRUE(SpinUntil([&] { return !listed("Camera D"); }, kNotice_ms));
    EXPECT_EQ(chosen(), camera);
    EXPECT_TRUE(page.videoProperties->isEnabled());

    // The chosen one goes while nothing runs: nothing is chosen, and the
    // pages are as before the first choice.
    fake->Remove(kNode);
    ASSERT_TRUE(SpinUntil([&] { return !listed(kCard); }, kNotice_ms));
    EXPECT_EQ(list->currentIndex(), -1);
    EXPECT_FALSE(page.videoProperties->isEnabled());
    EXPECT_EQ(page.videoFormats->count(), 0);
    EXPECT_FALSE(form->capturePage->startButton->isEnabled());
    EXPECT_FALSE(form->capturePage->brightnessSlider->isEnabled());
    EXPECT_FALSE(form->capturePage->deviceHint->isHidden());

    // It comes back: chosen again, as the user chooses it.
    fake->AddNode(kNode, media::test::YuyvCamera(kCard));
    ASSERT_TRUE(SpinUntil([&] { return chosen() == camera; }, kNotice_ms));
    EXPECT_TRUE(page.videoProperties->isEnabled());
    EXPECT_GT(page.videoFormats->count(), 0);
    EXPECT_TRUE(form->capturePage->startButton->isEnabled());
    EXPECT_TRUE(form->capturePage->deviceHint->isHidden());
    ExpectNoBox();
}

TEST_F(V4l2CaptureWindow, ACameraThatGoesQuietIsShownAndTheCaptureGoesOn) {
    ChooseCamera("c:\\quiet.avi");
    form->capturePage->startButton->click();
    ASSERT_TRUE(form->capturePage->stopButton->isEnabled());
    ASSERT_TRUE(
        SpinUntil([&] { return form->capturePage->capturedField->text().toInt() > 0; }, 10000))
        << "no frame arrived";
    EXPECT_TRUE(form->capturePage->signalField->isHidden());

    // The camera sends nothing, and no error, for a few seconds; the
    // window's own statistics tick runs meanwhile.
    feeder.Pause(true);
    ASSERT_TRUE(SpinUntil([&] { return !form->capturePage->signalField->isHidden(); }, 10000))
        << "the quiet camera was not shown";
    EXPECT_TRUE(form->capturePage->signalField->text().startsWith("No signal for "))
        << form->capturePage->signalField->text().toStdString();
    EXPECT_TRUE(form->capturePage->stopButton->isEnabled()) << "the capture ended";
    EXPECT_EQ(form->captureSession->Graph()->State(), 3);

    // Frames again: the line goes, and the capture still runs.
    feeder.Pause(false);
    ASSERT_TRUE(SpinUntil([&] { return form->capturePage->signalField->isHidden(); }, 10000));
    EXPECT_TRUE(form->capturePage->stopButton->isEnabled());
    form->capturePage->stopButton->click();
    ExpectNoBox();
    EXPECT_GE(VideoPackets(DriveC("quiet.avi")), kMinPacketsPerSecond);
}

// What the user chose on a camera comes back with it: its format, set before
// the stream starts whatever place the driver's list gives it, and its
// picture settings, which a replugged camera has forgotten; "Default"
// forgets them here too, and a format the camera no longer offers leaves
// its current one with one message.
TEST_F(V4l2CaptureWindow, ACamerasFormatAndPictureSettingsComeBackWithIt) {
    constexpr char kHdNode[] = "/dev/video8";
    const auto camera = [](bool mjpg_first, bool with_mjpg, int32_t brightness) {
        media::test::FakeNode n = media::test::YuyvCamera("HD Camera", "/dev/v4l/by-id/usb-HD");
        const media::test::FakeFormat mjpg{V4L2_PIX_FMT_MJPEG, {{1920, 1080, {{1, 30}}}}};
        if (with_mjpg)
            n.formats.insert(mjpg_first ? n.formats.begin() : n.formats.end(), mjpg);
        n.controls[V4L2_CID_BRIGHTNESS].value = brightness;
        return n;  // now in 640x480 YUYV at 30 fps
    };
    const auto preview_format = [&] {
        const size_t logged = fake->Log(kHdNode).size();
        form->capturePage->preview->setChecked(true);
        form->capturePage->onPreviewClicked();
        EXPECT_TRUE(SpinUntil([&] { return fake->Streaming(kHdNode); }, 5000));
        const media::test::FakeLog log = fake->Log(kHdNode);
        const media::test::FakeLog run(log.begin() + ptrdiff_t(logged), log.end());
        const media::test::FakeNode n = fake->NodeState(kHdNode);
        form->capturePage->preview->setChecked(false);
        form->capturePage->onPreviewClicked();
        char text[64];
        std::snprintf(text, sizeof text, "%.4s %ux%u %.2f fps",
                      reinterpret_cast<const char*>(&n.fourcc), n.width, n.height,
                      double(n.interval.denominator) / n.interval.numerator);
        // What the stream was told until it started.
        std::string steps;
        for (const std::string& step : run) {
            steps += step.substr(0, step.find(' ')) + " ";
            if (step == "STREAMON")
                break;
        }
        return std::string(text) + " | " + steps;
    };
    fake->AddNode(kHdNode, camera(false, true, 128));
    form.reset();
    Open();
    form->tabs->setCurrentIndex(2);
    Pick(form->devicePage->videoDevices, "HD Camera");
    PickLine(form->devicePage->videoFormats, "MJPG 1920X1080", "");
    form->capturePage->brightnessSlider->SetValue(200);  // as a drag ends
    form->capturePage->brightnessSlider->OnChanged(form->capturePage->brightnessSlider);
    EXPECT_EQ(fake->ControlValue(kHdNode, V4L2_CID_BRIGHTNESS), 200);
    EXPECT_EQ(preview_format(), "MJPG 1920x1080 30.00 fps | S_FMT S_PARM STREAMON ");
    // A format chosen while the preview runs starts it again in that one.
    form->capturePage->preview->setChecked(true);
    form->capturePage->onPreviewClicked();
    PickLine(form->devicePage->videoFormats, "YUY2 320X240", "15 fps");
    EXPECT_TRUE(SpinUntil([&] { return fake->Streaming(kHdNode); }, 5000));
    EXPECT_EQ(fake->NodeState(kHdNode).width, 320u);
    const v4l2_fract interval = fake->NodeState(kHdNode).interval;
    EXPECT_NEAR(double(interval.denominator) / interval.numerator, 15.0, 0.01);
    PickLine(form->devicePage->videoFormats, "MJPG 1920X1080", "");
    form->capturePage->preview->setChecked(false);
    form->capturePage->onPreviewClicked();
    form->Close();

    // Replugged, at its defaults, its list in another order: both come back.
    fake->Remove(kHdNode);
    fake->AddNode(kHdNode, camera(true, true, 128));
    form.reset();
    Open();
    EXPECT_EQ(fake->ControlValue(kHdNode, V4L2_CID_BRIGHTNESS), 200);
    EXPECT_EQ(form->capturePage->brightnessSlider->Value(), 200);
    EXPECT_EQ(preview_format(), "MJPG 1920x1080 30.00 fps | S_FMT S_PARM STREAMON ");
    ExpectNoBox();

    // "Default" forgets the picture settings: a camera that starts at
    // another value keeps it.
    dialogs.QueueDialogAnswer([](QDialog& d) {
        auto* defaults = d.findChild<QPushButton*>(QStringLiteral("Default"));
        EXPECT_TRUE(defaults);
        if (defaults)
            defaults->click();
        d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        return int(QDialog::Accepted);
    });
    form->tabs->setCurrentIndex(2);
    form->devicePage->videoProperties->click();
    EXPECT_EQ(fake->ControlValue(kHdNode, V4L2_CID_BRIGHTNESS), 128);
    form->Close();
    fake->Remove(kHdNode);
    fake->AddNode(kHdNode, camera(false, false, 77));
    form.reset();
    Open();
    EXPECT_EQ(fake->ControlValue(kHdNode, V4L2_CID_BRIGHTNESS), 77);
    // Nor does it offer the MJPG format now: it keeps its own, said once.
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_TRUE(dialogs.boxes[0].text.contains("no longer offers"));
    dialogs.boxes.clear();
    EXPECT_EQ(preview_format(), "YUYV 640x480 30.00 fps | S_FMT S_PARM STREAMON ");
    dialogs.unexpected.clear();
}

}  // namespace
