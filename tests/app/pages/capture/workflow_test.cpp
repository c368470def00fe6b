// The capture workflow on the real engine: the virtual camera and tone
// generator chosen as a user chooses them, captures read back with ffprobe
// and ffmpeg, the statistics, the overwrite question, the preview, the
// picture, quality and input line controls, an engine abort and a restart.
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>

#include "app/shutdown.h"
#include "capture_fixture.h"
#include "framework/application.h"
#include "mediagraph/graph_util.h"
#include "mediagraph/workflowgraphs.h"
#include "platform/media/devices/devicecontrols.h"
#include "platform/win/kernel.h"

using namespace ronvix;
using namespace ronvix::testing;
using media::test::ProbePackets;
using media::test::ProbeStreams;

namespace {

bool Matches(const QString& text, const char* pattern) {
    return QRegularExpression(QString::fromUtf8(pattern)).match(text).hasMatch();
}

// Mean brightness of the picture's white bar, left of the block code rows.
double WhiteBar(const QImage& picture) {
    double sum = 0;
    for (int y = 200; y < 260; ++y)
        for (int x = 20; x < 60; ++x)
            sum += qGray(picture.pixel(x, y));
    return sum / (60.0 * 40.0);
}

double MeanVideoPacket(const QString& path) {
    const auto packets = ProbePackets(path);
    if (!packets)
        return 0;
    double sum = 0;
    int n = 0;
    for (const auto& p : *packets)
        if (p.stream == 0 && p.size > 0) {
            sum += p.size;
            ++n;
        }
    return n ? sum / n : 0;
}

}  // namespace

TEST_F(CaptureWindow, CaptureWritesAFileOtherPlayersReadAndShowsItsStatistics) {
    ChooseDevices();
    EXPECT_TRUE(form->capturePage->deviceHint->isHidden()) << "a device is chosen";
    form->capturePage->fileName->SetFileName("c:\\first.avi");
    const QString before_time = form->capturePage->elapsedField->text();
    form->capturePage->startButton->click();
    ASSERT_TRUE(form->capturePage->stopButton->isEnabled());
    EXPECT_FALSE(form->capturePage->startButton->isEnabled());
    EXPECT_FALSE(form->devicePage->videoDevices->isEnabled());
    // One rate tick over the whole three seconds: the test ticks.
    form->capturePage->rateTimer->SetEnabled(false);
    Spin(3000);
    form->capturePage->onRateTick();
    form->capturePage->onStatisticsTick();
    EXPECT_TRUE(Matches(form->capturePage->elapsedField->text(), "^00:00:0[2-4]$"))
        << form->capturePage->elapsedField->text().toStdString();
    EXPECT_NE(form->capturePage->elapsedField->text(), before_time);
    EXPECT_TRUE(Matches(form->capturePage->capturedField->text(), "^[1-9][0-9]+$"));
    EXPECT_TRUE(Matches(form->capturePage->droppedField->text(), "^[0-9]+$"));
    EXPECT_TRUE(Matches(form->capturePage->freeSpaceField->text(), "^[0-9]+ \u041C$"));
    EXPECT_TRUE(Matches(form->capturePage->rateField->text(), "^[1-9][0-9]* \u041A/sec$"))
        << form->capturePage->rateField->text().toStdString();
    EXPECT_TRUE(
        Matches(form->capturePage->remainingField->text(), "^[0-9]{2,}:[0-5][0-9]:[0-5][0-9]$"))
        << form->capturePage->remainingField->text().toStdString();
    const int captured = form->capturePage->capturedField->text().toInt();
    const int dropped = form->capturePage->droppedField->text().toInt();
    form->capturePage->stopButton->click();
    EXPECT_FALSE(form->captureSession->Graph()->Active());
    EXPECT_TRUE(form->capturePage->startButton->isEnabled());
    EXPECT_TRUE(form->devicePage->videoDevices->isEnabled());
    ExpectNoBox();

    const QString path = DriveC("first.avi");
    const auto streams = ProbeStreams(path);
    ASSERT_TRUE(streams);
    ASSERT_EQ(streams->size(), 2u);
    EXPECT_EQ((*streams)[0].codec, "mjpeg");
    EXPECT_EQ((*streams)[1].codec, "pcm_s16le");
    const std::vector<QImage> frames = Frames(path, scratch.filePath("first"));
    // Wide bands: the machine is shared, and the camera counts what it drops.
    EXPECT_GE(frames.size(), 20u) << "fewer than a quarter of three seconds of frames";
    EXPECT_GE(int(frames.size()) + dropped, 45) << "frames lost that the camera did not count";
    EXPECT_LE(frames.size(), 100u);
    EXPECT_GE(int(frames.size()), captured);
    std::optional<uint32_t> last;
    for (const QImage& frame : frames) {
        const auto code = BlockCode(frame);
        ASSERT_TRUE(code) << "a frame without its number";
        if (last) {
            EXPECT_GT(*code, *last) << "a frame repeated or out of order";
        }
        last = code;
    }
    const auto samples = Samples(path);
    EXPECT_GT(samples.size(), 48000u * 2) << "less than two seconds of sound";
    EXPECT_LT(samples.size(), 48000u * 5);
}

// Over a ten-second capture the data rate counts every byte the file
// gains, frames, sound and the file's own structure: the kilobytes the
// shown rates add up to over the seconds they cover are the finished
// file's size, and the remaining time is the free space at the rate shown.
TEST_F(CaptureWindow, TheRateCountsEveryByteOfTheFileAndTheRemainingTimeFollowsIt) {
    ChooseDevices();
    form->capturePage->fileName->SetFileName("c:\\counted.avi");
    // The page's clock, with the moments it was read: the start of the
    // measurement, then one reading a rate tick.
    static std::vector<uint64_t> readings;
    readings.clear();
    form->captureSession->now_ms = [] {
        readings.push_back(win::GetTickCount64());
        return readings.back();
    };
    form->capturePage->startButton->click();
    ASSERT_TRUE(form->capturePage->stopButton->isEnabled());
    ASSERT_EQ(readings.size(), 1u);
    // The test ticks, a second apart.
    form->capturePage->rateTimer->SetEnabled(false);
    form->capturePage->statisticsTimer->SetEnabled(false);
    double counted_kb = 0;
    auto tick = [&] {
        form->capturePage->onRateTick();
        const QString shown = form->capturePage->rateField->text();
        EXPECT_TRUE(Matches(shown, "^[0-9]+ \u041A/sec$")) << shown.toStdString();
        const size_t n = readings.size();
        counted_kb +=
            shown.section(u' ', 0, 0).toDouble() * double(readings[n - 1] - readings[n - 2]) / 1000;
    };
    for (int second = 1; second <= 10; ++second) {
        Spin(1000);
        tick();
    }
    // The last tick comes right after the file grew, so the file's size
    // then is its size at the stop but for the last moments and what
    // finishing it adds.
    auto size = [&] { return form->captureSession->FileBytes(); };
    const int64_t before = size();
    ASSERT_TRUE(SpinUntil([&] { return size() != before; }, 5000)) << "the file stopped growing";
    tick();
    form->capturePage->onStatisticsTick();
    const QString rate_text = form->capturePage->rateField->text();
    const QString remaining = form->capturePage->remainingField->text();
    struct statvfs volume {};
    ASSERT_EQ(statvfs(DriveC(QString()).toLocal8Bit().constData(), &volume), 0);
    form->capturePage->stopButton->click();
    form->captureSession->now_ms = &win::GetTickCount64;
    ExpectNoBox();

    const double file_bytes = double(QFileInfo(DriveC("counted.avi")).size());
    ASSERT_GT(file_bytes, 0);
    EXPECT_NEAR(counted_kb * 1024, file_bytes, 0.02 * file_bytes)
        << "the rates counted " << counted_kb << " KB of a file of " << file_bytes << " bytes";
    const double rate_kb = rate_text.section(u' ', 0, 0).toDouble();
    ASSERT_GT(rate_kb, 0);
    const QStringList hms = remaining.split(u':');
    ASSERT_EQ(hms.size(), 3) << remaining.toStdString();
    const double shown_s = hms[0].toDouble() * 3600 + hms[1].toDouble() * 60 + hms[2].toDouble();
    const double free_kb = double(volume.f_bavail) * double(volume.f_frsize) / 1024;
    EXPECT_NEAR(shown_s, free_kb / rate_kb, 0.01 * free_kb / rate_kb + 2)
        << remaining.toStdString() << " at " << rate_text.toStdString();
}

TEST_F(CaptureWindow, OverwriteIsAskedOnlyFromTheButtonAndCancelKeepsTheOldFile) {
    ChooseDevices();
    const QString path = DriveC("kept.avi");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    form->capturePage->fileName->SetFileName("c:\\kept.avi");
    dialogs.QueueBoxAnswer(win::IDCANCEL);
    form->capturePage->startButton->click();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, "File c:\\kept.avi already exists. Overwrite?");
    EXPECT_EQ(dialogs.boxes[0].caption, "Warning");
    EXPECT_EQ(dialogs.boxes[0].type & win::MB_TYPEMASK, win::MB_OKCANCEL);
    EXPECT_FALSE(form->capturePage->stopButton->isEnabled());
    Spin(300);
    QFile kept(path);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "old");
    kept.close();

    // "Overwrite" checked: no question, the file is replaced.
    form->capturePage->overwrite->setChecked(true);
    CaptureFor(1000);
    EXPECT_EQ(dialogs.boxes.size(), 1u);
    const auto streams = ProbeStreams(path);
    ASSERT_TRUE(streams);
    EXPECT_EQ(streams->size(), 2u);

    // Generated names: the folder stays, date and time in UTC.
    form->capturePage->generateNames->setChecked(true);
    win::SYSTEMTIME now;
    win::GetSystemTime(&now);
    CaptureFor(500);
    const QString name = form->capturePage->fileName->FileName();
    EXPECT_TRUE(Matches(
        name, R"(^c:\\[0-3][0-9]_[01][0-9]_20[0-9]{2}_[0-2][0-9]_[0-5][0-9]_[0-5][0-9]\.avi$)"))
        << name.toStdString();
    EXPECT_TRUE(name.contains(QStringLiteral("_%1_").arg(now.wYear))) << "not the UTC year";
    EXPECT_TRUE(QFile::exists(DriveC(name.mid(3))));
    EXPECT_TRUE(dialogs.unexpected.empty());
}

TEST_F(CaptureWindow, PreviewRunsAloneRestartsAfterStopAndEndsWhenUnchecked) {
    ChooseDevices();
    form->capturePage->fileName->SetFileName("c:\\preview.avi");
    form->capturePage->preview->setChecked(true);
    EXPECT_EQ(form->captureSession->Graph()->State(), 3) << "checking Preview starts it";
    EXPECT_FALSE(form->capturePage->stopButton->isEnabled());
    EXPECT_FALSE(QFile::exists(DriveC("preview.avi"))) << "a preview writes no file";
    Spin(500);
    // The preview is drawn inside Panel1.
    const QImage panel = form->capturePage->previewPanel->grab().toImage();
    EXPECT_NE(panel.pixel(1 + 24, 100), panel.pixel(1 + 48 * 6 + 24, 100))
        << "the preview shows no colour bars";

    CaptureFor(1000);
    EXPECT_EQ(form->captureSession->Graph()->State(), 3) << "Stop restarts the preview";
    EXPECT_TRUE(ProbeStreams(DriveC("preview.avi")));
    form->capturePage->preview->setChecked(false);
    EXPECT_NE(form->captureSession->Graph()->State(), 3);
    // No graph draws in the panel: it shows no stale picture.
    Spin(100);
    const QImage stopped = form->capturePage->previewPanel->grab().toImage();
    for (int x : {1 + 24, 1 + 48 * 6 + 24})
        EXPECT_EQ(stopped.pixel(x, 100), qRgb(0, 0, 0)) << x;
    ExpectNoBox();
}

TEST_F(CaptureWindow, PictureAndQualityControlsReachTheCamera) {
    ChooseDevices(true, false);
    form->capturePage->overwrite->setChecked(true);
    const int brightness = form->capturePage->brightnessSlider->Value();
    form->capturePage->qualitySlider->SetValue(20);
    EXPECT_EQ(form->capturePage->qualityField->text(), "2000 K/sec");
    form->capturePage->fileName->SetFileName("c:\\plain.avi");
    CaptureFor(1000);
    // While idle the graph is activated for the call and torn down again.
    form->capturePage->brightnessSlider->SetValue(form->capturePage->brightnessSlider->MaxValue());
    EXPECT_FALSE(form->captureSession->Graph()->Active());
    EXPECT_EQ(form->capturePage->brightnessField->text(),
              QString::number(form->capturePage->brightnessSlider->Value() - 128));
    form->capturePage->fileName->SetFileName("c:\\bright.avi");
    CaptureFor(1000);
    form->capturePage->brightnessSlider->SetValue(brightness);
    form->capturePage->qualitySlider->SetValue(95);
    form->capturePage->fileName->SetFileName("c:\\fine.avi");
    CaptureFor(1000);
    ExpectNoBox();

    const auto plain = Frames(DriveC("plain.avi"), scratch.filePath("plain"));
    const auto bright = Frames(DriveC("bright.avi"), scratch.filePath("bright"));
    ASSERT_FALSE(plain.empty());
    ASSERT_FALSE(bright.empty());
    EXPECT_GT(WhiteBar(bright.front()), WhiteBar(plain.front()) + 10)
        << "brightness did not reach the camera";
    EXPECT_GT(MeanVideoPacket(DriveC("fine.avi")), 1.3 * MeanVideoPacket(DriveC("plain.avi")))
        << "quality did not reach the compressor";
}

TEST_F(CaptureWindow, ChoosingAnInputLineWhileCapturingChangesTheRecordedToneAndKeepsCapturing) {
    ChooseDevices();
    Pick(form->capturePage->inputLines, "CD Audio");
    EXPECT_FALSE(form->captureSession->Graph()->Active());
    form->capturePage->fileName->SetFileName("c:\\lines.avi");
    form->capturePage->startButton->click();
    Spin(1500);
    Pick(form->capturePage->inputLines, "Microphone");
    EXPECT_TRUE(form->captureSession->Graph()->Active()) << "choosing a line ended the capture";
    EXPECT_EQ(form->captureSession->Graph()->State(), 3);
    EXPECT_TRUE(form->capturePage->stopButton->isEnabled());
    Spin(1500);
    form->capturePage->stopButton->click();
    ExpectNoBox();
    const auto samples = Samples(DriveC("lines.avi"));
    ASSERT_GT(samples.size(), 48000u * 2);
    // CD Audio is 2000 Hz, Microphone 440 Hz: 4000 and 880 sign changes a second.
    EXPECT_NEAR(Crossings(samples, 4800, 48000), 4000, 400);
    EXPECT_NEAR(Crossings(samples, samples.size() - 36000, samples.size() - 2400), 880, 100);
}

TEST_F(CaptureWindow, AnAudioOnlyCaptureRecordsSoundAndItsStatisticsRaiseNothing) {
    ChooseDevices(false, true);
    form->capturePage->fileName->SetFileName("c:\\sound.avi");
    form->capturePage->capturedField->setText("-");
    form->capturePage->startButton->click();
    ASSERT_TRUE(form->capturePage->stopButton->isEnabled());
    form->capturePage->rateTimer->SetEnabled(false);  // one rate tick over the two seconds
    Spin(2000);
    form->capturePage->onStatisticsTick();
    form->capturePage->onRateTick();
    EXPECT_EQ(form->capturePage->capturedField->text(), "-") << "no video stream, no frame counts";
    // The sound's bytes are counted: 48 kHz stereo is 187.5 KB a second,
    // and the file's header comes on top in the first seconds.
    const int rate = form->capturePage->rateField->text().section(u' ', 0, 0).toInt();
    EXPECT_GE(rate, 150) << form->capturePage->rateField->text().toStdString();
    EXPECT_LE(rate, 300) << form->capturePage->rateField->text().toStdString();
    EXPECT_TRUE(Matches(form->capturePage->elapsedField->text(), "^00:00:0[1-3]$"));
    EXPECT_TRUE(Matches(form->capturePage->freeSpaceField->text(), "^[0-9]+ \u041C$"));
    form->capturePage->stopButton->click();
    ExpectNoBox();
    const auto streams = ProbeStreams(DriveC("sound.avi"));
    ASSERT_TRUE(streams);
    ASSERT_EQ(streams->size(), 1u);
    EXPECT_EQ((*streams)[0].codec, "pcm_s16le");
    EXPECT_GT(Samples(DriveC("sound.avi")).size(), 48000u);
}

// Closed during a capture by the user, by a kill (SIGTERM) or by its
// terminal going (SIGHUP): the file is finished, the settings written, the
// window gone within five seconds, and the next start restores the setup.
TEST_F(CaptureWindow, ClosingDuringACaptureCompletesTheFileAndARestartRestoresTheSetup) {
    for (int way : {0, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(way);
        if (!form)
            Open();
        app::InstallShutdownRequests([this] { form->Close(); });
        ChooseDevices();
        form->tabs->setCurrentIndex(2);
        ASSERT_GT(form->devicePage->videoFormats->count(), 1);
        form->devicePage->videoFormats->setCurrentIndex(1);
        form->devicePage->audioFormats->setCurrentIndex(0);
        Pick(form->capturePriority, "Normal");
        // The test camera's current format is MJPG: it is recorded as it
        // comes whatever the compression chosen.
        Pick(form->capturePage->compressionChoice, "Lossless (FFV1)");
        form->capturePage->overwrite->setChecked(true);
        form->playoutPage->sourceFile->SetText("c:\\tape.avi");
        form->capturePage->fileName->SetFileName("c:\\closed.avi");
        form->capturePage->startButton->click();
        EXPECT_FALSE(form->capturePage->compressionChoice->isEnabled())
            << "the running capture's choice shows";
        EXPECT_FALSE(form->capturePage->splitChoice->isEnabled());
        Spin(1500);
        const auto asked = std::chrono::steady_clock::now();
        if (way == 0)
            form->Close();
        else
            ::raise(way);
        EXPECT_TRUE(SpinUntil([&] { return !form->isVisible(); }, 5000));
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5));
        const auto streams = ProbeStreams(DriveC("closed.avi"));
        ASSERT_TRUE(streams) << "the file is not complete";
        EXPECT_EQ(streams->size(), 2u);
        EXPECT_EQ(streams->front().codec, "mjpeg");
        EXPECT_GT(Frames(DriveC("closed.avi"), scratch.filePath("closed")).size(), 5u);
        EXPECT_TRUE(
            QFile::exists(QString::fromStdString(settings.Folder().string()) + "/ronvix/ZELK.ini"));
        const QString camera = form->devicePage->videoDevices->currentText();
        const QString tone = form->devicePage->audioDevices->currentText();
        app::InstallShutdownRequests(nullptr);
        form.reset();

        Priority().classes.clear();
        Open();
        EXPECT_EQ(form->devicePage->videoDevices->currentText(), camera);
        EXPECT_EQ(form->devicePage->audioDevices->currentText(), tone);
        EXPECT_EQ(form->devicePage->videoFormats->currentIndex(), 1);
        EXPECT_EQ(form->devicePage->audioFormats->currentIndex(), 0);
        EXPECT_EQ(form->capturePage->compressionChoice->currentText(), "Lossless (FFV1)");
        EXPECT_TRUE(form->capturePage->compressionChoice->isEnabled());
        EXPECT_TRUE(form->capturePage->splitChoice->isEnabled());
        EXPECT_GT(form->devicePage->videoFormats->count(), 1) << "the device was not chosen again";
        EXPECT_TRUE(form->capturePage->startButton->isEnabled());
        EXPECT_TRUE(form->capturePage->overwrite->isChecked());
        EXPECT_EQ(form->capturePage->fileName->FileName(), "c:\\closed.avi");
        EXPECT_EQ(form->playoutPage->sourceFile->Text(), "c:\\tape.avi");
        ASSERT_FALSE(Priority().classes.empty());
        EXPECT_EQ(Priority().classes.front().second, win::NORMAL_PRIORITY_CLASS);
        ExpectNoBox();
    }
}

// The formats chosen in the capture devices' lists are the ones recorded,
// the compression chosen applying to what the camera delivers raw, and
// they are chosen again after a restart.
TEST_F(CaptureWindow, TheFormatsChosenInTheListsAreTheFormatsRecorded) {
    struct Case {
        const char* video;  // words of the format's line
        const char* rate;
        const char* compression;
        const char* audio;
        const char* channels;
        const char* codec;
        int width, height;
        const char* frame_rate;
        int sample_rate, audio_channels;
    };
    const Case kCases[] = {
        {"MJPG 1920X1080", "30 fps", "MJPEG", "44100 Hertz", "1 Channel", "mjpeg", 1920, 1080,
         "30/1", 44100, 1},
        {"YUY2 720X576", "", "Lossless (FFV1)", "48000 Hertz", "2 Channels", "ffv1", 720, 576,
         "25/1", 48000, 2},
        {"YUY2 720X576", "", "Uncompressed", "22050 Hertz", "2 Channels", "rawvideo", 720, 576,
         "25/1", 22050, 2},
    };
    auto expect_recorded = [&](const Case& c, const QString& name) {
        const auto streams = ProbeStreams(DriveC(name));
        ASSERT_TRUE(streams);
        ASSERT_EQ(streams->size(), 2u);
        EXPECT_EQ((*streams)[0].codec, c.codec);
        EXPECT_EQ((*streams)[0].width, c.width);
        EXPECT_EQ((*streams)[0].height, c.height);
        EXPECT_EQ((*streams)[0].frame_rate, c.frame_rate);
        EXPECT_EQ((*streams)[1].sample_rate, c.sample_rate);
        EXPECT_EQ((*streams)[1].channels, c.audio_channels);
    };
    // A settings file of an earlier version keeps a list position alone:
    // it is the format chosen.
    ChooseDevices();
    form.reset();
    const QString ini = QString::fromStdString(settings.Folder().string()) + "/ronvix/ZELK.ini";
    auto edit = [&](const QString& from, const QString& to) {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(f.readAll());
        f.close();
        ASSERT_TRUE(text.contains(from)) << text.toStdString();
        text.replace(from, to);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.toUtf8());
    };
    edit("VideoFormats_ItemIndex=0", "VideoFormats_ItemIndex=7");
    Open();
    form->capturePage->fileName->SetFileName("c:\\earlier.avi");
    CaptureFor(800);
    expect_recorded({"", "", "", "", "", "mjpeg", 1920, 1080, "30/1", 48000, 2}, "earlier.avi");
    int n = 0;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.video + std::string(" ") + c.compression);
        form->tabs->setCurrentIndex(2);
        PickLine(form->devicePage->videoFormats, c.video, c.rate);
        PickLine(form->devicePage->audioFormats, c.audio, c.channels);
        Pick(form->capturePage->compressionChoice, c.compression);
        form->tabs->setCurrentIndex(0);
        const QString name = QStringLiteral("format%1.avi").arg(++n);
        form->capturePage->fileName->SetFileName("c:\\" + name);
        CaptureFor(800);
        expect_recorded(c, name);
    }
    // The last choices come back with the window, remembered for each
    // device by what they are: the stored list position no longer decides.
    form.reset();
    edit("VideoFormats_ItemIndex=4", "VideoFormats_ItemIndex=0");
    edit("AudioFormat=PCM 22050 16 2", "AudioFormat=PCM 22050 16 2");  // it is there
    Open();
    form->capturePage->fileName->SetFileName("c:\\restored.avi");
    CaptureFor(800);
    expect_recorded(kCases[std::size(kCases) - 1], "restored.avi");
    ExpectNoBox();
    // The device's Capture property tab shows the list's format and
    // chooses too: the list follows it, and so does the file.
    dialogs.QueueDialogAnswer([](QDialog& d) {
        auto* format = d.findChild<QComboBox*>(QStringLiteral("Format"));
        EXPECT_TRUE(format && format->isEnabled());
        if (!format)
            return int(QDialog::Rejected);
        EXPECT_TRUE(format->currentText().contains("YUY2 720x576"))
            << format->currentText().toStdString();
        const int hd = format->findText(QStringLiteral("Video/MJPG 1280x720 30.00 fps"));
        EXPECT_GE(hd, 0);
        format->setCurrentIndex(hd);
        emit format->activated(hd);
        d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        return int(QDialog::Accepted);
    });
    form->devicePage->videoProperties->click();
    EXPECT_TRUE(form->devicePage->videoFormats->currentText().contains("MJPG 1280X720"));
    EXPECT_TRUE(form->devicePage->videoFormats->currentText().contains("30 fps"));
    form->capturePage->fileName->SetFileName("c:\\tab.avi");
    CaptureFor(800);
    expect_recorded({"", "", "", "", "", "mjpeg", 1280, 720, "30/1", 22050, 2}, "tab.avi");
    ExpectNoBox();
    // A remembered format the device no longer offers leaves its current
    // one, and the user is told once.
    form.reset();
    edit("VideoFormat=MJPG 1280x720 30/1", "VideoFormat=YUY2 333x333 25/1");
    Open();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_TRUE(dialogs.boxes[0].text.contains("no longer offers"))
        << dialogs.boxes[0].text.toStdString();
    dialogs.boxes.clear();
    dialogs.unexpected.clear();
    form->capturePage->fileName->SetFileName("c:\\current.avi");
    CaptureFor(800);
    const auto current = ProbeStreams(DriveC("current.avi"));
    ASSERT_TRUE(current && !current->empty());
    EXPECT_EQ(current->front().codec, "mjpeg");
    EXPECT_EQ(current->front().width, 720);
    ExpectNoBox();
}

// The capture graph of the page (the one ronvix-capture builds too) with the
// test camera's 720x576 YUY2 format chosen on the device: a lossless capture
// decodes (ffmpeg) to exactly the pictures the camera drew, every frame, and
// so does an uncompressed one, which holds the frames as raw YUYV; with the
// camera's default MJPG the lossless choice records MJPG.
TEST_F(CaptureWindow, RawCameraFramesAreKeptSampleForSampleAndMjpgIsRecordedAsItComes) {
    using mediagraph::TVideoCompression;
    ChooseDevices(true, false);
    constexpr int kWidth = 720, kHeight = 576;
    constexpr media::REFERENCE_TIME kPeriod = 400000;  // 25 fps
    const size_t frame_bytes = media::Yuy2ImageSize(kWidth, kHeight);
    const struct {
        const char* name;
        TVideoCompression compression;
        bool yuy2;  // the camera's YUY2 format chosen, else its default MJPG
        const char* codec;
    } cases[] = {
        {"ffv1", TVideoCompression::Lossless, true, "ffv1"},
        {"raw", TVideoCompression::Uncompressed, true, "rawvideo"},
        {"mjpg", TVideoCompression::Lossless, false, "mjpeg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        form->captureSession->Graph()->SetActive(false);
        form->captureSession->Graph()->SetActive(true);
        if (c.yuy2) {
            auto config = mediagraph::Supports<media::IAMStreamConfig>(
                mediagraph::TPinList(form->captureSession->Media()
                                         .VideoSourceFilter->Query<media::IBaseFilter>()
                                         .Get())
                    .FirstPin()
                    .Get());
            media::MediaType yuy2 =
                media::MediaType::Video(media::MEDIASUBTYPE_YUY2, kWidth, kHeight, 16, kPeriod);
            ASSERT_EQ(config->SetFormat(&yuy2.Get()), com::S_OK);
        }
        const QString file = QStringLiteral("c:\\%1.avi").arg(QLatin1String(c.name));
        com::ComPtr<media::IBaseFilter> mux =
            mediagraph::AddCaptureFile(form->captureSession->Graph(), file);
        ASSERT_TRUE(mux);
        mediagraph::RenderCaptureStreams(
            {form->captureSession->Graph(), form->captureSession->Media().VideoSourceFilter,
             form->captureSession->Media().AudioSourceFilter,
             form->captureSession->Media().SampleGrabber, form->captureSession->Media().sync,
             nullptr, c.compression},
            mux.Get());
        ASSERT_TRUE(form->captureSession->Graph()->Play());
        Spin(2000);
        form->captureSession->Graph()->Stop();
        mux = nullptr;
        form->captureSession->Graph()->SetActive(false);

        const QString path = DriveC(QStringLiteral("%1.avi").arg(QLatin1String(c.name)));
        const auto streams = ProbeStreams(path);
        ASSERT_TRUE(streams);
        ASSERT_EQ(streams->size(), 1u);
        EXPECT_EQ((*streams)[0].codec, c.codec);
        if (!c.yuy2)
            continue;
        const auto packets = ProbePackets(path);
        ASSERT_TRUE(packets);
        const long coded = long(std::count_if(packets->begin(), packets->end(),
                                              [](const auto& p) { return p.size > 0; }));
        if (c.compression == TVideoCompression::Uncompressed) {
            const auto format = media::test::RunTool(
                "ffprobe",
                {"-v", "error", "-show_entries", "stream=pix_fmt", "-of", "csv=p=0", path});
            ASSERT_TRUE(format);
            EXPECT_EQ(format->trimmed(), "yuyv422");
            for (const auto& p : *packets)
                EXPECT_TRUE(p.size == 0 || size_t(p.size) == frame_bytes) << p.size;
        }
        const auto raw = media::test::RunTool(
            "ffmpeg", {"-v", "error", "-i", path, "-map", "0:v", "-fps_mode", "passthrough", "-f",
                       "rawvideo", "-pix_fmt", "yuyv422", "-"});
        ASSERT_TRUE(raw);
        ASSERT_EQ(size_t(raw->size()) % frame_bytes, 0u);
        const long decoded = long(size_t(raw->size()) / frame_bytes);
        EXPECT_GE(decoded, 25) << "less than a second of two";
        EXPECT_GE(decoded, coded) << "a frame of the file did not decode";
        // Each picture against the one the camera drew for the number it
        // carries, byte for byte.
        const media::PictureSettings settings = media::CameraControls::Device()->Picture();
        media::Yuv422Image picture;
        picture.Resize(kWidth, kHeight);
        std::vector<uint8_t> expected(frame_bytes);
        std::optional<uint32_t> last;
        for (long i = 0; i < decoded; ++i) {
            const auto* frame =
                reinterpret_cast<const uint8_t*>(raw->constData()) + i * frame_bytes;
            uint16_t rows[media::kCodeRows] = {};
            for (int r = 0; r < media::kCodeRows; ++r)
                for (int bit = 0; bit < media::kCodeColumns; ++bit) {
                    const int x = media::kCodeLeft + bit * media::kCodeCell + media::kCodeCell / 2;
                    const int y = media::kCodeTop + r * media::kCodeCell + media::kCodeCell / 2;
                    if (frame[(size_t(y) * kWidth + x) * 2] > 128)
                        rows[r] |= uint16_t(0x8000 >> bit);
                }
            ASSERT_EQ(rows[2], uint16_t(~(rows[0] ^ rows[1]))) << "frame " << i << " has no number";
            const uint32_t index = (uint32_t(rows[0]) << 16) | rows[1];
            if (last) {
                EXPECT_GE(index, *last) << "frame " << i << " out of order";
            }
            last = index;
            media::DrawTestPattern(picture, index, index * kPeriod, kPeriod, settings);
            media::Yuv422ToYuy2(picture, expected.data());
            ASSERT_EQ(std::memcmp(frame, expected.data(), frame_bytes), 0)
                << "frame " << i << " (camera frame " << index << ") differs from the camera's";
        }
    }
    ExpectNoBox();
}

// A disk that fills during the capture, or just as Stop finishes the file
// (what the devices still hold and the file's indexes need new space): the
// page stops, the user is told once, and the file opens with a header that
// other readers agree on.
TEST_F(CaptureWindow, AFullDiskStopsTheCaptureAndIsReportedOnce) {
    for (const bool at_stop : {false, true}) {
        SCOPED_TRACE(at_stop ? "at stop" : "while capturing");
        if (!form)
            Open();
        const QString mount_point = scratch.filePath(at_stop ? "small-stop" : "small");
        ASSERT_TRUE(QDir().mkpath(mount_point));
        ASSERT_EQ(mount("tmpfs", mount_point.toUtf8().constData(), "tmpfs", 0,
                        at_stop ? "size=8m" : "size=2m"),
                  0)
            << errno;
        struct Unmount {
            QByteArray path;
            ~Unmount() { umount2(path.constData(), MNT_DETACH); }
        } unmount{mount_point.toUtf8()};
        ChooseDevices();
        dialogs.boxes.clear();
        form->capturePage->fileName->SetFileName(mount_point + "/full.avi");
        form->capturePage->startButton->click();
        ASSERT_TRUE(form->capturePage->stopButton->isEnabled());
        if (at_stop) {
            // Five seconds: the file's legacy index then needs more than the
            // slack of its last page.
            Spin(5000);
            // Fill what is left, to the byte, and stop at once, before the
            // window can hear of a failed write: the failure comes while
            // Stop finishes the file.
            QFile filler(mount_point + "/filler");
            ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            for (const qsizetype size : {qsizetype(65536), qsizetype(4096), qsizetype(1)}) {
                const QByteArray block(size, 'x');
                while (filler.write(block) == size) {
                }
            }
            filler.close();
            form->capturePage->stopButton->click();
        }
        ASSERT_TRUE(SpinUntil([&] { return !dialogs.boxes.empty(); }, 20000))
            << "the engine's abort was not reported";
        Spin(1500);
        EXPECT_EQ(dialogs.boxes.size(), 1u) << "reported more than once";
        EXPECT_EQ(dialogs.boxes[0].caption, fw::ApplicationTitle());
        EXPECT_FALSE(dialogs.boxes[0].text.isEmpty());
        if (at_stop) {
            EXPECT_TRUE(dialogs.boxes[0].text.startsWith("The capture file could not be finished"))
                << dialogs.boxes[0].text.toStdString();
        }
        EXPECT_FALSE(form->capturePage->stopButton->isEnabled()) << "it still looks like a capture";
        EXPECT_TRUE(form->capturePage->startButton->isEnabled());
        EXPECT_FALSE(form->capturePage->statisticsTimer->Enabled());
        EXPECT_FALSE(form->captureSession->Graph()->Active());
        const QString file = mount_point + "/full.avi";
        EXPECT_GT(QFileInfo(file).size(), 1000000);
        const auto streams = ProbeStreams(file);
        ASSERT_TRUE(streams && !streams->empty());
        const auto mediainfo =
            media::test::RunTool("mediainfo", {"--Inform=Video;%FrameCount%", file});
        ASSERT_TRUE(mediainfo);
        EXPECT_EQ(mediainfo->trimmed().toLong(), (*streams)[0].frames);
        EXPECT_GT((*streams)[0].frames, 10);
        form.reset();
    }
}

TEST_F(CaptureWindow, AStartWhoseFileCannotBeCreatedSaysWhyAndLeavesThePageStopped) {
    const QString plain = scratch.filePath("plain.txt");
    {
        QFile file(plain);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QString read_only = scratch.filePath("read-only");
    ASSERT_TRUE(QDir().mkpath(read_only));
    ASSERT_EQ(mount("tmpfs", read_only.toUtf8().constData(), "tmpfs", MS_RDONLY, "size=1m"), 0)
        << errno;
    struct Unmount {
        QByteArray path;
        ~Unmount() { umount2(path.constData(), MNT_DETACH); }
    } unmount{read_only.toUtf8()};
    ChooseDevices();
    form->capturePage->preview->setChecked(true);
    ASSERT_EQ(form->captureSession->Graph()->State(), 3);
    const struct {
        QString name;
        QString mapped;
        const char* reason;
    } cases[] = {
        {"c:\\no folder\\x.avi", DriveC("no folder/x.avi"), "does not exist"},
        {plain + "/x.avi", plain + "/x.avi", "is a file, not a folder"},
        {read_only + "/x.avi", read_only + "/x.avi", "read-only"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        dialogs.boxes.clear();
        dialogs.QueueBoxAnswer(win::IDOK);
        form->capturePage->fileName->SetFileName(c.name);
        form->capturePage->startButton->click();
        ASSERT_EQ(dialogs.boxes.size(), 1u);
        EXPECT_TRUE(dialogs.boxes[0].text.contains("cannot be created") &&
                    dialogs.boxes[0].text.contains(c.reason))
            << dialogs.boxes[0].text.toStdString();
        EXPECT_FALSE(form->capturePage->stopButton->isEnabled()) << "it looks like a capture";
        EXPECT_TRUE(form->capturePage->startButton->isEnabled());
        EXPECT_TRUE(form->devicePage->videoDevices->isEnabled());
        EXPECT_FALSE(form->capturePage->statisticsTimer->Enabled()) << "statistics of no capture";
        EXPECT_EQ(form->captureSession->Graph()->State(), 3) << "the preview did not go on";
        EXPECT_FALSE(QFileInfo::exists(c.mapped));
    }
    EXPECT_TRUE(dialogs.unexpected.empty());
}

// "Stop capture after" 5 s: the file holds exactly five seconds of every
// stream (125 places at 25 frames a second, 240000 sound frames), the page
// ends the capture by itself as "Stop" does (the preview comes back), the
// remaining time never shows more than the timer leaves, and the settings
// are there after a restart (with the size after which a next file begins,
// which the capture's file writer gets).
TEST_F(CaptureWindow, ATimedStopEndsTheCaptureAtThatStreamTimeAsStopDoes) {
    ChooseDevices();
    form->tabs->setCurrentIndex(2);
    form->capturePage->stopAfterCheck->setChecked(true);
    form->capturePage->stopAfterTime->SetSeconds(5);
    form->capturePage->splitChoice->setCurrentIndex(3);
    ASSERT_EQ(form->capturePage->splitChoice->currentText(), QStringLiteral("1 GB"));
    form->tabs->setCurrentIndex(0);
    form->capturePage->preview->setChecked(true);
    form->capturePage->fileName->SetFileName("c:\\timed.avi");
    form->capturePage->startButton->click();
    ASSERT_TRUE(form->capturePage->stopButton->isEnabled());
    form->capturePage->statisticsTimer->SetEnabled(false);
    form->capturePage->rateTimer->SetEnabled(false);
    {
        com::ComPtr<media::IFileWriterChain> chain;
        ASSERT_TRUE(form->captureSession->FileWriter());
        form->captureSession->FileWriter()->QueryInterface(media::IFileWriterChain::iid,
                                                           chain.OutVoid());
        uint64_t limit = 0;
        ASSERT_TRUE(chain && com::SUCCEEDED(chain->GetFileSizeLimit(&limit)));
        EXPECT_EQ(limit, 1ull << 30);
    }
    Spin(1500);
    form->capturePage->onRateTick();
    form->capturePage->onStatisticsTick();
    const QStringList hms = form->capturePage->remainingField->text().split(u':');
    ASSERT_EQ(hms.size(), 3) << form->capturePage->remainingField->text().toStdString();
    const int shown = hms[0].toInt() * 3600 + hms[1].toInt() * 60 + hms[2].toInt();
    EXPECT_LE(shown, 4) << "more than the timer leaves";
    EXPECT_GE(shown, 2);
    // Nothing else ends it: no test tick, no click.
    ASSERT_TRUE(SpinUntil([&] { return !form->capturePage->stopButton->isEnabled(); }, 20000))
        << "the capture did not stop by itself";
    EXPECT_TRUE(form->capturePage->startButton->isEnabled());
    EXPECT_TRUE(form->devicePage->videoDevices->isEnabled());
    EXPECT_TRUE(form->devicePage->audioFormats->isEnabled());
    EXPECT_FALSE(form->capturePage->statisticsTimer->Enabled());
    EXPECT_FALSE(form->captureSession->Capturing());
    EXPECT_EQ(form->captureSession->Graph()->State(), 3) << "the preview did not come back";
    ExpectNoBox();
    form->capturePage->preview->setChecked(false);

    const QString path = DriveC("timed.avi");
    const auto streams = ProbeStreams(path);
    ASSERT_TRUE(streams);
    ASSERT_EQ(streams->size(), 2u);
    // Places (frames and the empty places of frames a loaded machine lost)
    // by the header; the pictures themselves in a wide band.
    EXPECT_NEAR((*streams)[0].frames, 125, 1);
    const long pictures = media::test::CountPackets(path, "v:0");
    EXPECT_GE(pictures, 75);
    EXPECT_LE(pictures, 125);
    // The figures left shown are the finished file's, not the last tick's.
    EXPECT_EQ(form->capturePage->elapsedField->text(), "00:00:05");
    EXPECT_EQ(form->capturePage->capturedField->text().toLong(), pictures);
    EXPECT_NEAR(double(Samples(path).size()), 5 * 48000.0, 48000.0 / 25);

    form.reset();
    Open();
    EXPECT_TRUE(form->capturePage->stopAfterCheck->isChecked());
    EXPECT_EQ(form->capturePage->stopAfterTime->Seconds(), 5);
    EXPECT_EQ(form->capturePage->splitChoice->currentIndex(), 3);
    ExpectNoBox();
}

// The level meter of the "Capture" page, in a preview (the level check
// before a capture opens the sound device) and in a capture: the tone at
// each volume reads within 1 dB of its level, a muted line reads nothing,
// and the meter feeds on the stream without taking anything from the file.
TEST_F(CaptureWindow, TheLevelMeterReadsTheToneAtEachVolumeAndNothingWhenMuted) {
    ChooseDevices();
    auto median_db = [&](int channel) {
        // The meter's own tick runs; a reading now and then, so the burst
        // that marks each whole second stays a minority of them.
        std::vector<double> reads;
        for (int i = 0; i < 15; ++i) {
            Spin(70);
            reads.push_back(form->capturePage->audioMeter->LevelDb(channel));
        }
        std::nth_element(reads.begin(), reads.begin() + 7, reads.end());
        return reads[7];
    };
    auto set_volume = [&](int percent) {
        form->capturePage->volumeSlider->SetValue(percent);
        form->capturePage->onVolumeChanged();
        Spin(300);
    };
    form->capturePage->preview->setChecked(true);
    ASSERT_EQ(form->captureSession->Graph()->State(), 3);
    ASSERT_TRUE(form->capturePage->levelTimer->Enabled());
    const double floor = controls::TLevelMeter::kFloorDb;
    const struct {
        int percent;
        double db;  // The generator's tone is 0.8 of full scale at level 1.
    } levels[] = {{100, 20 * std::log10(0.8)},
                  {50, 20 * std::log10(0.4)},
                  {10, 20 * std::log10(0.08)},
                  {0, floor}};
    for (const auto& l : levels) {
        SCOPED_TRACE(l.percent);
        set_volume(l.percent);
        ASSERT_EQ(form->capturePage->audioMeter->Channels(), 2);
        EXPECT_NEAR(median_db(0), l.db, 1.0);
        EXPECT_NEAR(median_db(1), l.db, 1.0);
        EXPECT_FALSE(form->capturePage->audioMeter->Clipping(0));
    }
    form->capturePage->preview->setChecked(false);
    EXPECT_TRUE(SpinUntil([&] { return form->capturePage->audioMeter->Channels() == 0; }, 2000))
        << "the meter shows a stream that stopped";

    set_volume(50);
    form->capturePage->fileName->SetFileName("c:\\metered.avi");
    form->capturePage->startButton->click();
    ASSERT_TRUE(form->capturePage->stopButton->isEnabled());
    Spin(1000);
    EXPECT_NEAR(median_db(0), 20 * std::log10(0.4), 1.0);
    Spin(1000);
    form->capturePage->stopButton->click();
    EXPECT_EQ(form->capturePage->audioMeter->Channels(), 0);
    ExpectNoBox();
    const auto streams = ProbeStreams(DriveC("metered.avi"));
    ASSERT_TRUE(streams);
    ASSERT_EQ(streams->size(), 2u);
    const auto samples = Samples(DriveC("metered.avi"));
    EXPECT_GT(samples.size(), 48000u * 2) << "the sound in the file fell short";
    // The file's sound is the tone at the level the meter read.
    int16_t peak = 0;
    for (size_t i = 57600; i < samples.size() && i < 81600; ++i)
        peak = std::max<int16_t>(peak, int16_t(std::abs(samples[i])));
    EXPECT_NEAR(20 * std::log10(peak / 32768.0), 20 * std::log10(0.4), 1.0);
}
