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
    // The capture's file writer as the tick sees it, on a clock of the
    // test's own.
    class Writer : public com::ComObject<media::IFileWriterQueue> {
    public:
        com::HRESULT SetQueueLimits(uint64_t, uint64_t, uint64_t) override {
            return com::E_NOTIMPL;
        }
        com::HRESULT GetQueuedBytes(uint64_t*) override { return com::E_NOTIMPL; }
        com::HRESULT GetFileSize(uint64_t* bytes) override {
            *bytes = size;
            return com::S_OK;
        }
        com::HRESULT GetRoom(uint64_t*) override { return com::E_NOTIMPL; }
        com::HRESULT WriteParts(uint64_t, std::span<const std::span<const uint8_t>>) override {
            return com::E_NOTIMPL;
        }
        com::HRESULT Barrier() override { return com::E_NOTIMPL; }
        com::HRESULT SetDiskWrite(DiskWrite) override { return com::E_NOTIMPL; }
        uint64_t size = 0;
    };
    static uint64_t now_ms = 0;
    form->m_capture.now_ms = [] { return now_ms; };
    com::ComPtr<Writer> writer;
    writer.Attach(new Writer);
    form->m_capture.writer = writer.Get();
    form->m_capture.meter.Start(0, now_ms);
    writer->size = 980 * 1024;
    now_ms += 1000;
    form->Timer3Timer(form->Timer3);
    EXPECT_EQ(form->StaticText6->text(), capture::RateText(980));
    EXPECT_EQ(form->m_capture.rate, 980);
    // A late tick: the kilobytes a second, not a second's worth more.
    writer->size += 1500 * 1024;
    now_ms += 1500;
    form->Timer3Timer(form->Timer3);
    EXPECT_EQ(form->m_capture.rate, 1000);
    // A preview alone writes no file: the last capture's figures stay.
    form->m_capture.writer = nullptr;
    now_ms += 1000;
    form->Timer3Timer(form->Timer3);
    EXPECT_EQ(form->StaticText6->text(), capture::RateText(1000));
    EXPECT_EQ(form->m_capture.rate, 1000);
    form->m_capture.now_ms = &win::GetTickCount64;
    ExpectNoBox();
}

TEST_F(CaptureWindow, StatisticsTickShowsTheCaptureVolumesFreeSpaceAndTheDropColour) {
    // Nothing happens while the graph is inactive.
    form->Time_info->setText("idle");
    form->TimerTimer(form->Timer);
    EXPECT_EQ(form->Time_info->text(), "idle");

    ChooseDevices();
    form->savedialog->SetFileName("c:\\stats.avi");
    form->StartButton->click();
    Spin(800);
    // The field names a folder on another, 8 MB volume: the free space is
    // that volume's, whatever the program's own folder has.
    SmallVolume volume(scratch.filePath("eight"), 8);
    ASSERT_TRUE(volume.mounted) << errno;
    form->savedialog->SetFileName(scratch.filePath("eight") + "/later.avi");
    form->m_capture.rate = 512;
    form->m_capture.previous_dropped = -1;
    form->TimerTimer(form->Timer);
    EXPECT_EQ(form->FreeSpaceText->text(), QStringLiteral("8 \u041C"));
    EXPECT_EQ(form->StaticText7->text(), "00:00:16") << "8192 KB at 512 KB a second";
    EXPECT_EQ(form->Dropped_info->palette().color(QPalette::Window), QColor(255, 0, 0));
    form->TimerTimer(form->Timer);
    if (form->Dropped_info->text().toInt() == form->m_capture.previous_dropped) {
        EXPECT_EQ(form->Dropped_info->palette().color(QPalette::Window),
                  QApplication::palette().color(QPalette::Button));
    }
    // A rate of 0 leaves the remaining time as it was.
    form->m_capture.rate = 0;
    form->StaticText7->setText("kept");
    form->TimerTimer(form->Timer);
    EXPECT_EQ(form->StaticText7->text(), "kept");
    form->StopButton->click();
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
    form->savedialog->SetFileName("bare.avi");
    form->StartButton->click();
    ASSERT_TRUE(form->StopButton->isEnabled());
    form->TimerTimer(form->Timer);
    form->StopButton->click();
    const int megabytes = form->FreeSpaceText->text().section(' ', 0, 0).toInt();
    EXPECT_GT(megabytes, 32) << form->FreeSpaceText->text().toStdString();
    EXPECT_LE(megabytes, 64) << "not the volume the file is written to";
    EXPECT_TRUE(QFileInfo::exists(scratch.filePath("cwd/bare.avi")));
    ExpectNoBox();
}

TEST_F(CaptureWindow, EitherGraphsBufferingReportChangesTheFreeSpaceLabel) {
    EXPECT_EQ(form->Label10->text(), "Free space:");
    form->CaptureGraph->DispatchGraphEvent(media::EC_BUFFERING_DATA, 1, 0);
    EXPECT_EQ(form->Label10->text(), "Buff");
    form->OutGraph->DispatchGraphEvent(media::EC_BUFFERING_DATA, 0, 0);
    EXPECT_EQ(form->Label10->text(), "NOBuff");
}

TEST_F(CaptureWindow, DeviceListsActOnTheUsersPickOnlyAndAPickLoadsTheDevice) {
    form->PageControl1->setCurrentIndex(2);
    const int camera = form->VideoCapFilters->findText(media::kTestCameraName);
    ASSERT_GE(camera, 0);
    EXPECT_EQ(form->VideoCapFilters->currentIndex(), -1) << "nothing chosen at first start";
    EXPECT_FALSE(form->StartButton->isEnabled());
    form->VideoCapFilters->setCurrentIndex(camera);
    EXPECT_FALSE(form->CaptureGraph->Active()) << "setting the index from code chose a device";
    EXPECT_EQ(form->VideoFormats->count(), 0);
    emit form->VideoCapFilters->activated(camera);
    EXPECT_TRUE(form->CaptureGraph->Active()) << "a video device choice leaves the graph active";
    EXPECT_GT(form->VideoFormats->count(), 1);
    EXPECT_TRUE(form->StartButton->isEnabled());
    EXPECT_TRUE(form->Brightness_slider->isEnabled());
    EXPECT_EQ(form->StaticText1->text(), QString::number(form->Brightness_slider->Value() - 128));
    EXPECT_EQ(form->Quality_text->text(), capture::QualityText(form->Quality_slider->Value()));

    Pick(form->AudioCapFilters, media::kToneGeneratorName);
    EXPECT_EQ(form->InputLines->count(), 3);
    EXPECT_GT(form->AudioFormats->count(), 0);
    // The enabled line is selected and its level shown.
    ASSERT_GE(form->InputLines->currentIndex(), 0);
    EXPECT_EQ(form->StaticText8->text(), QString::number(form->VolumeSlider->Value()) + " %");
    ExpectNoBox();
}

TEST_F(CaptureWindow, AnAbortDuringAPreviewAloneStopsItAndIsReportedOnce) {
    ChooseDevices(true, false);
    form->preview->setChecked(true);
    ASSERT_EQ(form->CaptureGraph->State(), 3);
    dialogs.QueueBoxAnswer(win::IDOK);
    // A camera read error, as the engine reports it; a second report of
    // the same failure finds the preview already stopped.
    const auto read_error = com::HResultFromErrno(EIO);
    form->CaptureGraph->DispatchGraphEvent(media::EC_ERRORABORT, read_error, 0);
    form->CaptureGraph->DispatchGraphEvent(media::EC_ERRORABORT, read_error, 0);
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_TRUE(dialogs.boxes[0].text.contains("preview has been stopped"))
        << dialogs.boxes[0].text.toStdString();
    EXPECT_NE(form->CaptureGraph->State(), 3) << "a frozen preview goes on";
    EXPECT_TRUE(form->preview->isChecked()) << "the user's choice stays";
    EXPECT_TRUE(form->StartButton->isEnabled());
    EXPECT_TRUE(dialogs.unexpected.empty());
}

// The orders a user can produce, with the window's own answers checked:
// no error box, every capture file complete.
TEST_F(CaptureWindow, CallSiteReplay) {
    ChooseDevices();
    form->OverCheck->setChecked(true);
    // Idle: slider moves, a line choice.
    form->Contrast_SLIDER->SetValue(form->Contrast_SLIDER->Value() + 5);
    form->Quality_slider->SetValue(60);
    Pick(form->InputLines, "Line In");
    form->VolumeSlider->SetValue(70);
    form->VolumeSlider->OnChanged(form->VolumeSlider);
    EXPECT_EQ(form->StaticText8->text(), "70 %");

    // Preview, then the device chosen again while previewing.
    form->preview->setChecked(true);
    Spin(300);
    form->PageControl1->setCurrentIndex(2);
    Pick(form->VideoCapFilters, media::kTestCameraName);
    Pick(form->AudioCapFilters, media::kToneGeneratorName);
    Spin(300);
    EXPECT_EQ(form->CaptureGraph->State(), 3) << "a device choice ended the preview";
    form->PageControl1->setCurrentIndex(0);

    // Start while previewing; controls moved while capturing.
    form->savedialog->SetFileName("c:\\replay1.avi");
    form->StartButton->click();
    ASSERT_TRUE(form->StopButton->isEnabled());
    Spin(500);
    Pick(form->InputLines, "Microphone");
    form->saturation_slider->SetValue(form->saturation_slider->Value() + 3);
    form->Quality_slider->SetValue(40);
    QTest::mouseMove(form->Quality_slider, QPoint(10, 5));
    form->VolumeSlider->SetValue(30);
    form->VolumeSlider->OnChanged(form->VolumeSlider);
    form->ComboBox1Change(form->ComboBox1);
    Spin(500);
    EXPECT_EQ(form->CaptureGraph->State(), 3) << "a control ended the capture";
    EXPECT_TRUE(form->StopButton->isEnabled());
    form->StopButton->click();
    EXPECT_EQ(form->CaptureGraph->State(), 3) << "the preview comes back";

    // Preview off, capture again, and close while capturing.
    form->preview->setChecked(false);
    form->savedialog->SetFileName("c:\\replay2.avi");
    form->StartButton->click();
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
    form->Quality_slider->SetValue(30);
    form->Quality_text->setText("unchanged");
    const QPointF at(20, 10);
    QMouseEvent hover(QEvent::MouseMove, at, form->Quality_slider->mapToGlobal(at), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form->Quality_slider, &hover);
    EXPECT_EQ(form->Quality_text->text(), "unchanged");
    QMouseEvent drag(QEvent::MouseMove, at, form->Quality_slider->mapToGlobal(at), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->Quality_slider, &drag);
    EXPECT_EQ(form->Quality_text->text(), capture::QualityText(form->Quality_slider->Value()));
    ExpectNoBox();
}

TEST_F(CaptureWindow, ASliderWithTheKeyboardFocusDrawsAFocusMark) {
    ChooseDevices();
    form->activateWindow();
    QApplication::setActiveWindow(form.get());
    for (controls::TSlider* slider :
         {form->Brightness_slider, form->Contrast_SLIDER, form->sharpness_slider,
          form->saturation_slider, form->Quality_slider, form->VolumeSlider}) {
        SCOPED_TRACE(slider->objectName().toStdString());
        form->OverCheck->setFocus(Qt::TabFocusReason);
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
