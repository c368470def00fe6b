// The capture handlers one at a time (statistics ticks, free space of the
// capture file's own volume, the buffering label, the event semantics of
// the device lists) and a replay of the orders in which a user drives them.
#include <sys/mount.h>
#include <QTest>

#include "capture_fixture.h"
#include "platform/com/object.h"
#include "platform/media/core/interfaces.h"

using namespace ronvix;
using namespace ronvix::testing;

namespace {

// A tmpfs of `megabytes` for one scope (tests run as root).
struct SmallVolume {
    SmallVolume(const QString& path, int megabytes) : path(path.toUtf8()) {
        QDir().mkpath(path);
        const QByteArray size = "size=" + QByteArray::number(megabytes) + "m";
        mounted = mount("tmpfs", this->path.constData(), "tmpfs", 0, size.constData()) == 0;
    }
    ~SmallVolume() {
        if (mounted)
            umount2(path.constData(), MNT_DETACH);
    }
    QByteArray path;
    bool mounted = false;
};

}  // namespace

TEST_F(CaptureWindow, RateTickShowsWhatTheFileGainedInTheLastSecondAndNothingForAPreview) {
    // A real capture, its ticks on a clock of the test's own.
    static uint64_t now_ms = 0;
    form->captureSession->now_ms = [] { return now_ms; };
    ChooseDevices();
    form->capturePage->fileName->SetFileName("c:\\rate.avi");
    form->capturePage->startButton->click();
    ASSERT_TRUE(form->capturePage->stopButton->isEnabled());
    form->capturePage->rateTimer->SetEnabled(false);
    Spin(600);
    const int64_t size = form->captureSession->FileBytes();
    now_ms += 1000;
    form->capturePage->onRateTick();
    const int64_t first = form->captureSession->Rate();
    EXPECT_GE(first, size / 1024);
    EXPECT_LE(first, form->captureSession->FileBytes() / 1024);
    EXPECT_EQ(form->capturePage->rateField->text(), workflow::RateText(first));
    // A late tick: the kilobytes a second, not a second's worth more.
    Spin(600);
    const int64_t gained = form->captureSession->FileBytes() - size;
    now_ms += 2000;
    form->capturePage->onRateTick();
    EXPECT_NEAR(double(form->captureSession->Rate()), double(gained) / 2048, double(gained) / 4096)
        << "the file's own growth over the two seconds";
    const QString shown = form->capturePage->rateField->text();
    // A preview alone writes no file: the last capture's figures stay.
    form->capturePage->stopButton->click();
    form->capturePage->preview->click();
    now_ms += 1000;
    form->capturePage->onRateTick();
    EXPECT_EQ(form->capturePage->rateField->text(), shown);
    form->capturePage->preview->click();
    form->captureSession->now_ms = &win::GetTickCount64;
    ExpectNoBox();
}

TEST_F(CaptureWindow, StatisticsTickShowsTheCaptureVolumesFreeSpaceAndTheDropColour) {
    // Nothing happens while the graph is inactive.
    form->capturePage->elapsedField->setText("idle");
    form->capturePage->onStatisticsTick();
    EXPECT_EQ(form->capturePage->elapsedField->text(), "idle");

    ChooseDevices();
    form->capturePage->fileName->SetFileName("c:\\stats.avi");
    form->capturePage->startButton->click();
    Spin(800);
    // The field names a folder on another, 8 MB volume: the free space is
    // that volume's, whatever the program's own folder has.
    SmallVolume volume(scratch.filePath("eight"), 8);
    ASSERT_TRUE(volume.mounted) << errno;
    form->capturePage->fileName->SetFileName(scratch.filePath("eight") + "/later.avi");
    form->captureSession->SetRate(512);
    form->capturePage->previousDropped = -1;
    form->capturePage->onStatisticsTick();
    EXPECT_EQ(form->capturePage->freeSpaceField->text(), QStringLiteral("8 \u041C"));
    EXPECT_EQ(form->capturePage->remainingField->text(), "00:00:16")
        << "8192 KB at 512 KB a second";
    EXPECT_EQ(form->capturePage->droppedField->palette().color(QPalette::Window),
              QColor(255, 0, 0));
    form->capturePage->onStatisticsTick();
    if (form->capturePage->droppedField->text().toInt() == form->capturePage->previousDropped) {
        EXPECT_EQ(form->capturePage->droppedField->palette().color(QPalette::Window),
                  QApplication::palette().color(QPalette::Button));
    }
    // A rate of 0 leaves the remaining time as it was.
    form->captureSession->SetRate(0);
    form->capturePage->remainingField->setText("kept");
    form->capturePage->onStatisticsTick();
    EXPECT_EQ(form->capturePage->remainingField->text(), "kept");
    form->capturePage->stopButton->click();
    ExpectNoBox();
}

TEST_F(CaptureWindow, ABareFileNamesFreeSpaceIsThatOfTheFolderItIsWrittenIn) {
    // The program runs in a folder on a 64 MB volume; the file is named
    // without a folder, so it is written there.
    SmallVolume volume(scratch.filePath("cwd"), 64);
    ASSERT_TRUE(volume.mounted) << errno;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(scratch.filePath("cwd")));
    struct Back {
        QString folder;
        ~Back() { QDir::setCurrent(folder); }
    } back{previous};
    ChooseDevices(false, true);
    form->capturePage->fileName->SetFileName("bare.avi");
    form->capturePage->startButton->click();
    ASSERT_TRUE(form->capturePage->stopButton->isEnabled());
    form->capturePage->onStatisticsTick();
    form->capturePage->stopButton->click();
    const int megabytes = form->capturePage->freeSpaceField->text().section(' ', 0, 0).toInt();
    EXPECT_GT(megabytes, 32) << form->capturePage->freeSpaceField->text().toStdString();
    EXPECT_LE(megabytes, 64) << "not the volume the file is written to";
    EXPECT_TRUE(QFileInfo::exists(scratch.filePath("cwd/bare.avi")));
    ExpectNoBox();
}

TEST_F(CaptureWindow, EitherGraphsBufferingReportChangesTheFreeSpaceLabel) {
    EXPECT_EQ(form->capturePage->bufferingField->text(), "Free space:");
    form->captureSession->Graph()->DispatchGraphEvent(media::EC_BUFFERING_DATA, 1, 0);
    EXPECT_EQ(form->capturePage->bufferingField->text(), "Buff");
    form->playoutSession->Graph()->DispatchGraphEvent(media::EC_BUFFERING_DATA, 0, 0);
    EXPECT_EQ(form->capturePage->bufferingField->text(), "NOBuff");
}

TEST_F(CaptureWindow, DeviceListsActOnTheUsersPickOnlyAndAPickLoadsTheDevice) {
    form->tabs->setCurrentIndex(2);
    const int camera = form->devicePage->videoDevices->findText(media::kTestCameraName);
    ASSERT_GE(camera, 0);
    EXPECT_EQ(form->devicePage->videoDevices->currentIndex(), -1)
        << "nothing chosen at first start";
    EXPECT_FALSE(form->capturePage->startButton->isEnabled());
    form->devicePage->videoDevices->setCurrentIndex(camera);
    EXPECT_FALSE(form->captureSession->Graph()->Active())
        << "setting the index from code chose a device";
    EXPECT_EQ(form->devicePage->videoFormats->count(), 0);
    emit form->devicePage->videoDevices->activated(camera);
    EXPECT_TRUE(form->captureSession->Graph()->Active())
        << "a video device choice leaves the graph active";
    EXPECT_GT(form->devicePage->videoFormats->count(), 1);
    EXPECT_TRUE(form->capturePage->startButton->isEnabled());
    EXPECT_TRUE(form->capturePage->brightnessSlider->isEnabled());
    EXPECT_EQ(form->capturePage->brightnessField->text(),
              QString::number(form->capturePage->brightnessSlider->Value() - 128));
    EXPECT_EQ(form->capturePage->qualityField->text(),
              workflow::QualityText(form->capturePage->qualitySlider->Value()));

    Pick(form->devicePage->audioDevices, media::kToneGeneratorName);
    EXPECT_EQ(form->capturePage->inputLines->count(), 3);
    EXPECT_GT(form->devicePage->audioFormats->count(), 0);
    // The enabled line is selected and its level shown.
    ASSERT_GE(form->capturePage->inputLines->currentIndex(), 0);
    EXPECT_EQ(form->capturePage->volumeField->text(),
              QString::number(form->capturePage->volumeSlider->Value()) + " %");
    ExpectNoBox();
}

TEST_F(CaptureWindow, AnAbortDuringAPreviewAloneStopsItAndIsReportedOnce) {
    ChooseDevices(true, false);
    form->capturePage->preview->setChecked(true);
    ASSERT_EQ(form->captureSession->Graph()->State(), 3);
    dialogs.QueueBoxAnswer(win::IDOK);
    // A camera read error, as the engine reports it; a second report of
    // the same failure finds the preview already stopped.
    const auto read_error = com::HResultFromErrno(EIO);
    form->captureSession->Graph()->DispatchGraphEvent(media::EC_ERRORABORT, read_error, 0);
    form->captureSession->Graph()->DispatchGraphEvent(media::EC_ERRORABORT, read_error, 0);
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_TRUE(dialogs.boxes[0].text.contains("preview has been stopped"))
        << dialogs.boxes[0].text.toStdString();
    EXPECT_NE(form->captureSession->Graph()->State(), 3) << "a frozen preview goes on";
    EXPECT_TRUE(form->capturePage->preview->isChecked()) << "the user's choice stays";
    EXPECT_TRUE(form->capturePage->startButton->isEnabled());
    EXPECT_TRUE(dialogs.unexpected.empty());
}

// The orders a user can produce, with the window's own answers checked:
// no error box, every capture file complete.
TEST_F(CaptureWindow, CallSiteReplay) {
    ChooseDevices();
    form->capturePage->overwrite->setChecked(true);
    // Idle: slider moves, a line choice.
    form->capturePage->contrastSlider->SetValue(form->capturePage->contrastSlider->Value() + 5);
    form->capturePage->qualitySlider->SetValue(60);
    Pick(form->capturePage->inputLines, "Line In");
    form->capturePage->volumeSlider->SetValue(70);
    form->capturePage->volumeSlider->OnChanged(form->capturePage->volumeSlider);
    EXPECT_EQ(form->capturePage->volumeField->text(), "70 %");

    // Preview, then the device chosen again while previewing.
    form->capturePage->preview->setChecked(true);
    Spin(300);
    form->tabs->setCurrentIndex(2);
    Pick(form->devicePage->videoDevices, media::kTestCameraName);
    Pick(form->devicePage->audioDevices, media::kToneGeneratorName);
    Spin(300);
    EXPECT_EQ(form->captureSession->Graph()->State(), 3) << "a device choice ended the preview";
    form->tabs->setCurrentIndex(0);

    // Start while previewing; controls moved while capturing.
    form->capturePage->fileName->SetFileName("c:\\replay1.avi");
    form->capturePage->startButton->click();
    ASSERT_TRUE(form->capturePage->stopButton->isEnabled());
    Spin(500);
    Pick(form->capturePage->inputLines, "Microphone");
    form->capturePage->saturationSlider->SetValue(form->capturePage->saturationSlider->Value() + 3);
    form->capturePage->qualitySlider->SetValue(40);
    QTest::mouseMove(form->capturePage->qualitySlider, QPoint(10, 5));
    form->capturePage->volumeSlider->SetValue(30);
    form->capturePage->volumeSlider->OnChanged(form->capturePage->volumeSlider);
    form->onPriorityChosen();
    Spin(500);
    EXPECT_EQ(form->captureSession->Graph()->State(), 3) << "a control ended the capture";
    EXPECT_TRUE(form->capturePage->stopButton->isEnabled());
    form->capturePage->stopButton->click();
    EXPECT_EQ(form->captureSession->Graph()->State(), 3) << "the preview comes back";

    // Preview off, capture again, and close while capturing.
    form->capturePage->preview->setChecked(false);
    form->capturePage->fileName->SetFileName("c:\\replay2.avi");
    form->capturePage->startButton->click();
    Spin(800);
    form->Close();
    ExpectNoBox();
    for (const char* name : {"replay1.avi", "replay2.avi"}) {
        const auto streams = media::test::ProbeStreams(DriveC(name));
        ASSERT_TRUE(streams) << name;
        EXPECT_EQ(streams->size(), 2u) << name;
    }
}

TEST_F(CaptureWindow, QualityFollowsAMouseDragButNotAMereMove) {
    ChooseDevices(true, false);
    form->capturePage->qualitySlider->SetValue(30);
    form->capturePage->qualityField->setText("unchanged");
    const QPointF at(20, 10);
    QMouseEvent hover(QEvent::MouseMove, at, form->capturePage->qualitySlider->mapToGlobal(at),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form->capturePage->qualitySlider, &hover);
    EXPECT_EQ(form->capturePage->qualityField->text(), "unchanged");
    QMouseEvent drag(QEvent::MouseMove, at, form->capturePage->qualitySlider->mapToGlobal(at),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->capturePage->qualitySlider, &drag);
    EXPECT_EQ(form->capturePage->qualityField->text(),
              workflow::QualityText(form->capturePage->qualitySlider->Value()));
    ExpectNoBox();
}

TEST_F(CaptureWindow, ASliderWithTheKeyboardFocusDrawsAFocusMark) {
    ChooseDevices();
    form->activateWindow();
    QApplication::setActiveWindow(form.get());
    for (controls::TSlider* slider :
         {form->capturePage->brightnessSlider, form->capturePage->contrastSlider,
          form->capturePage->sharpnessSlider, form->capturePage->saturationSlider,
          form->capturePage->qualitySlider, form->capturePage->volumeSlider}) {
        SCOPED_TRACE(slider->objectName().toStdString());
        form->capturePage->overwrite->setFocus(Qt::TabFocusReason);
        const QImage without = slider->grab().toImage();
        slider->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(slider->hasFocus());
        const QImage with = slider->grab().toImage();
        // The mark runs along the working area, two pixels inside it.
        const QRect mark = slider->WorkingArea().adjusted(2, 2, -3, -3);
        int marked = 0;
        for (int x = mark.left(); x <= mark.right(); ++x)
            marked += with.pixel(x, mark.top()) != without.pixel(x, mark.top());
        EXPECT_GT(marked, mark.width() / 4) << "no focus mark along the top";
    }
}
