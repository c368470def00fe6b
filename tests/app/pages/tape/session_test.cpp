// "Print to Tape" through the main window's buttons: a file captured by the
// engine from the test camera and tone is played out to the Virtual Tape
// Deck (audio to the Silent Audio Output), and the deck's recording is
// compared with the file packet for packet, as ffmpeg reads both. Timers of
// the window are ticked by calling their handlers; the seek bar's own timer
// and the graph's events run in the event loop while the tests wait.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "app/main_window.h"
#include "mediagraph/graph_util.h"
#include "mediagraph/platform.h"
#include "platform/com/oleauto.h"
#include "platform/media/codecs/codecs.h"
#include "platform/media/container/avi_probe.h"
#include "platform/media/container/handmade_avi.h"
#include "platform/media/container/playback_files.h"
#include "platform/media/core/graph.h"
#include "platform/media/core/interfaces.h"
#include "platform/media/core/types.h"
#include "platform/media/devices/alsa/audiooutput.h"
#include "platform/media/devices/v4l2/fake_v4l2.h"
#include "platform/media/devices/virtual/testpattern.h"
#include "platform/media/devices/virtual/virtualdevices.h"
#include "platform/winui/dialogs.h"
#include "support/sandbox.h"

namespace ronvix::app {
namespace {

using com::ComPtr;
using media::LONGLONG;

constexpr LONGLONG kSecond_100ns = 10'000'000;
const QString kRateUnit = QStringLiteral(" \u041A/sec");

void Spin(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Spins until `done` holds or `ms` pass; returns whether it holds.
template <class F>
bool SpinUntil(F done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// `ms` of live capture from the test camera and the tone generator
// into an AVI file, through the engine's capture graph builder. With
// `compressor` the camera delivers its 720x576 YUY2 frames through a filter
// of that class (GUID_NULL: as they come); without it, its MJPG.
bool MakeCapture(const QString& path, int ms, bool video, bool audio,
                 std::optional<com::GUID> compressor = std::nullopt) {
    ComPtr<media::IFilterGraph2> graph = media::CreateFilterGraph();
    ComPtr<media::ICaptureGraphBuilder2> builder;
    if (com::CoCreateInstance(media::CLSID_CaptureGraphBuilder2, nullptr, com::CLSCTX_INPROC_SERVER,
                              media::ICaptureGraphBuilder2::iid, builder.OutVoid()) != com::S_OK)
        return false;
    builder->SetFiltergraph(graph.As<media::IGraphBuilder>().Get());
    ComPtr<media::IBaseFilter> camera, tone;
    if (video) {
        media::CreateTestCamera(media::IBaseFilter::iid, camera.OutVoid());
        graph->AddFilter(camera.Get(), u"camera");
    }
    if (audio) {
        media::CreateToneGenerator(media::IBaseFilter::iid, tone.OutVoid());
        graph->AddFilter(tone.Get(), u"tone");
    }
    const std::u16string file = path.toStdU16String();
    ComPtr<media::IBaseFilter> mux;
    ComPtr<media::IFileSinkFilter> sink;
    if (builder->SetOutputFileName(&media::MEDIASUBTYPE_Avi, file.c_str(),
                                   mux.ReleaseAndGetAddressOf(),
                                   sink.ReleaseAndGetAddressOf()) != com::S_OK)
        return false;
    ComPtr<media::IBaseFilter> through;
    if (video && compressor) {
        ComPtr<media::IAMStreamConfig> config;
        builder->FindInterface(&media::PIN_CATEGORY_CAPTURE, nullptr, camera.Get(),
                               media::IAMStreamConfig::iid, config.OutVoid());
        media::MediaType yuy2 =
            media::MediaType::Video(media::MEDIASUBTYPE_YUY2, 720, 576, 16, 400000);
        if (!config || config->SetFormat(&yuy2.Get()) != com::S_OK)
            return false;
        if (*compressor != com::GUID_NULL &&
            (com::CoCreateInstance(*compressor, nullptr, com::CLSCTX_INPROC_SERVER,
                                   media::IBaseFilter::iid, through.OutVoid()) != com::S_OK ||
             graph->AddFilter(through.Get(), u"compressor") != com::S_OK))
            return false;
    }
    if (video && builder->RenderStream(&media::PIN_CATEGORY_CAPTURE, nullptr, camera.Get(),
                                       through.Get(), mux.Get()) != com::S_OK)
        return false;
    if (audio && builder->RenderStream(&media::PIN_CATEGORY_CAPTURE, nullptr, tone.Get(), nullptr,
                                       mux.Get()) != com::S_OK)
        return false;
    ComPtr<media::IMediaControl> control = graph.As<media::IMediaControl>();
    if (com::FAILED(control->Run()))
        return false;
    Spin(ms);
    return control->Stop() == com::S_OK;
}

// The frame number each video frame of `path` carries (the camera's block
// code), in file order, as ffmpeg decodes them.
std::vector<uint32_t> BlockCodes(const QString& path) {
    using namespace media;
    constexpr int kWidth = kCodeLeft + kCodeColumns * kCodeCell;
    constexpr int kHeight = kCodeTop + kCodeRows * kCodeCell;
    const auto out = test::RunTool(
        "ffmpeg", {"-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode", "passthrough", "-vf",
                   QStringLiteral("crop=%1:%2:0:0").arg(kWidth).arg(kHeight), "-f", "rawvideo",
                   "-pix_fmt", "gray", "-"});
    std::vector<uint32_t> codes;
    if (!out)
        return codes;
    for (qsizetype at = 0; at + kWidth * kHeight <= out->size(); at += kWidth * kHeight) {
        uint16_t rows[kCodeRows] = {};
        for (int r = 0; r < kCodeRows; ++r)
            for (int bit = 0; bit < kCodeColumns; ++bit) {
                const int x = kCodeLeft + bit * kCodeCell + kCodeCell / 2;
                const int y = kCodeTop + r * kCodeCell + kCodeCell / 2;
                if (uint8_t(out->at(at + y * kWidth + x)) > 128)
                    rows[r] |= uint16_t(0x8000 >> bit);
            }
        codes.push_back(rows[2] == uint16_t(~(rows[0] ^ rows[1]))
                            ? (uint32_t(rows[0]) << 16) | rows[1]
                            : UINT32_MAX);
    }
    return codes;
}

// The user picks the item named `name` of a device list.
void Pick(QComboBox* combo, const QString& name) {
    const int index = combo->findText(name);
    ASSERT_GE(index, 0) << name.toStdString();
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// The start time of each video packet of the file (100 ns units), in
// order, as ffprobe reads them.
std::vector<LONGLONG> PacketTimes(const QString& path) {
    const auto out =
        media::test::RunTool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                         "packet=pts_time", "-of", "csv=p=0", path});
    std::vector<LONGLONG> times;
    if (!out)
        return times;
    for (const QByteArray& line : out->split('\n')) {
        bool ok = false;
        const double seconds = line.trimmed().toDouble(&ok);
        if (ok)
            times.push_back(std::llround(seconds * double(kSecond_100ns)));
    }
    return times;
}

std::optional<int64_t> RateOf(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^(\\d+)") +
                                            QRegularExpression::escape(kRateUnit) + "$");
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toLongLong();
}

enum class Row { Idle, Playing, Paused };

class PrintToTape : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        mediagraph::RegisterPlatformClasses();
        s_dir = new QTemporaryDir();
        s_capture = s_dir->filePath("capture.avi");
        if (MakeCapture(s_capture, 3000, true, true))
            s_digests = media::test::PacketDigests(s_capture, "v").value_or(s_digests);
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }

    void SetUp() override {
        ASSERT_GE(s_digests.size(), 40u) << "the capture could not be made or read back";
        ASSERT_TRUE(m_tape_dir.isValid());
        m_previous_tape_dir = qgetenv("RONVIX_TAPE_DIR");
        qputenv("RONVIX_TAPE_DIR", m_tape_dir.path().toUtf8());
        m_form = std::make_unique<MainWindow>();
        m_form->Show();
        m_form->tabs->setCurrentWidget(m_form->playoutTab);
        // The user's picks on "Device settings": the audio output (which
        // leaves OutGraph inactive), then the deck (which leaves it active).
        Pick(m_form->devicePage->audioOutputs, "Silent Audio Output");
        Pick(m_form->devicePage->videoOutputs, "Virtual Tape Deck");
        ASSERT_TRUE(m_form->playoutSession->Graph()->Active());
        m_form->playoutSession->Graph()->OnGraphComplete =
            [this](QObject*, com::HRESULT, media::IBaseFilter*) { m_completed = true; };
        m_form->playoutPage->sourceFile->SetText(s_capture);
    }
    void TearDown() override {
        m_form.reset();
        qputenv("RONVIX_TAPE_DIR", m_previous_tape_dir);
    }

    // Pumps the event loop until the graph reports the end of the file.
    bool WaitForCompletion(int timeout_ms = 30000) {
        QDeadlineTimer deadline(timeout_ms);
        while (!m_completed && !deadline.hasExpired())
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return m_completed;
    }

    ComPtr<media::IMediaSeeking> Seeking() {
        return m_form->playoutSession->Graph()->Query<media::IMediaSeeking>();
    }
    LONGLONG Position() {
        LONGLONG position = -1;
        if (ComPtr<media::IMediaSeeking> seeking = Seeking())
            seeking->GetCurrentPosition(&position);
        return position;
    }
    // The source filter the session added for the file, or null.
    ComPtr<media::IBaseFilter> SourceFilter(const QString& file) {
        ComPtr<media::IBaseFilter> source;
        if (ComPtr<media::IGraphBuilder> graph =
                m_form->playoutSession->Graph()->Query<media::IGraphBuilder>())
            graph->FindFilterByName(file.toStdU16String().c_str(), source.ReleaseAndGetAddressOf());
        return source;
    }

    // The one recording the deck made, as packet digests.
    std::vector<QByteArray> TapeDigests() {
        const QStringList files = QDir(m_tape_dir.path()).entryList(QDir::Files);
        EXPECT_EQ(files.size(), 1)
            << "one session, one recording: " << files.join(' ').toStdString();
        if (files.isEmpty())
            return {};
        return media::test::PacketDigests(QDir(m_tape_dir.path()).filePath(files.first()), "v")
            .value_or(std::vector<QByteArray>());
    }

    // The "Last recording" the deck's "Tape" page shows, opened as the
    // user opens it from "Device settings".
    QString TapePageRecording() {
        QString shown = QStringLiteral("(no page)");
        m_dialogs.QueueDialogAnswer([&shown](QDialog& d) {
            if (auto* last = d.findChild<QLabel*>(QStringLiteral("Last recording")))
                shown = last->text();
            return int(QDialog::Accepted);
        });
        m_form->devicePage->videoOutputProperties->click();
        return shown;
    }

    // The controls as the session's state table gives them for `row`.
    void ExpectRow(Row row) {
        MainWindow& f = *m_form;
        const bool idle = row == Row::Idle;
        EXPECT_EQ(f.playoutPage->playButton->isEnabled(), row != Row::Playing) << "Play";
        EXPECT_EQ(f.playoutPage->pauseButton->isEnabled(), row == Row::Playing) << "Pause";
        EXPECT_EQ(f.playoutPage->stopButton->isEnabled(), !idle) << "Stop";
        EXPECT_EQ(f.playoutPage->sourceFile->isEnabled(), idle) << "SourceFilename";
        EXPECT_EQ(f.playoutPage->seekBar->isEnabled(), !idle) << "seek bar";
        EXPECT_EQ(f.tabs->isTabVisible(f.tabs->indexOf(f.captureTab)), idle) << "Capture tab";
        EXPECT_EQ(f.playoutPage->rateTimer->Enabled(), !idle) << "Timer4";
    }

    static inline QTemporaryDir* s_dir = nullptr;
    static inline QString s_capture;
    static inline std::vector<QByteArray> s_digests;

    testing::ScopedSettingsFolder m_settings;
    QTemporaryDir m_tape_dir;
    QByteArray m_previous_tape_dir;
    win::ScriptedDialogs m_dialogs;
    std::unique_ptr<MainWindow> m_form;
    bool m_completed = false;
};

TEST_F(PrintToTape, PlayPutsEveryFrameOnTapeInOrderWithTimeRateRangeAndLog) {
    ExpectRow(Row::Idle);
    m_form->playoutPage->playButton->click();
    {
        SCOPED_TRACE("playing");
        ExpectRow(Row::Playing);
    }
    EXPECT_EQ(m_form->playoutSession->Graph()->State(), 3);

    // The bar's range first holds the stop position's low 32 bits; its own
    // first tick replaces it with steps of 125 ms.
    LONGLONG stop = 0, duration = 0;
    ASSERT_EQ(Seeking()->GetStopPosition(&stop), com::S_OK);
    ASSERT_EQ(Seeking()->GetDuration(&duration), com::S_OK);
    EXPECT_GT(duration, 2 * kSecond_100ns);
    EXPECT_EQ(m_form->playoutPage->seekBar->maximum(),
              static_cast<int32_t>(static_cast<uint32_t>(stop)));
    m_form->playoutPage->seekBar->TimerTick();
    EXPECT_EQ(m_form->playoutPage->seekBar->maximum(), int(duration / 10000 / 125));

    // The seek bar's ticks drive the time display; the rate tick shows what
    // the grabber counted in the second.
    Spin(1500);
    const QString shown = m_form->playoutPage->timeField->text();
    EXPECT_TRUE(shown == "00:00:01" || shown == "00:00:02") << shown.toStdString();
    m_form->playoutPage->rateTimer->Tick();
    const std::optional<int64_t> rate = RateOf(m_form->playoutPage->rateField->text());
    ASSERT_TRUE(rate) << m_form->playoutPage->rateField->text().toStdString();
    EXPECT_GT(*rate, 0);

    ASSERT_TRUE(WaitForCompletion());
    {
        SCOPED_TRACE("the end of the file changes nothing");
        ExpectRow(Row::Playing);
    }
    m_form->playoutPage->stopButton->click();
    {
        SCOPED_TRACE("stopped");
        ExpectRow(Row::Idle);
    }
    EXPECT_FALSE(m_form->playoutSession->Graph()->Active());
    EXPECT_EQ(TapeDigests(), s_digests);

    // The graph log sits on the mapped C: drive and names the connections.
    QFile log(QDir(qEnvironmentVariable("RONVIX_DRIVE_C")).filePath("graphlogfile.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    for (const char* name : {"Splitter", "OutGrabber", "VideoDestFilter", "VideoWindow1"})
        EXPECT_TRUE(text.contains(QLatin1String(name))) << name << " missing from\n"
                                                        << text.toStdString();
    EXPECT_TRUE(text.contains(QLatin1String("Connect")));
    EXPECT_TRUE(m_dialogs.unexpected.empty()) << m_dialogs.unexpected.front().toStdString();
}

TEST_F(PrintToTape, PauseHoldsPositionAndZeroRateAndPlayResumesTheSameRecording) {
    m_form->playoutPage->playButton->click();
    const ComPtr<media::IBaseFilter> source = SourceFilter(s_capture);
    ASSERT_TRUE(source);
    Spin(800);
    m_form->playoutPage->rateTimer->Tick();
    ASSERT_TRUE(RateOf(m_form->playoutPage->rateField->text()));

    m_form->playoutPage->pauseButton->click();
    {
        SCOPED_TRACE("paused");
        ExpectRow(Row::Paused);
    }
    EXPECT_EQ(m_form->playoutSession->Graph()->State(), 2);
    // Nothing is sent while paused, and the rate says so at once; a frame
    // already on its way when the pause came does not show as a rate.
    EXPECT_EQ(m_form->playoutPage->rateField->text(), "0" + kRateUnit);
    Spin(300);
    m_form->playoutPage->rateTimer->Tick();
    const LONGLONG held = Position();
    Spin(600);
    m_form->playoutPage->rateTimer->Tick();
    EXPECT_EQ(m_form->playoutPage->rateField->text(), "0" + kRateUnit);
    EXPECT_EQ(Position(), held);
    m_form->playoutPage->onSeekBarChanged();
    EXPECT_EQ(m_form->playoutPage->timeField->text(), workflow::PlayTimeText(held));

    m_form->playoutPage->playButton->click();
    {
        SCOPED_TRACE("resumed");
        ExpectRow(Row::Playing);
    }
    EXPECT_EQ(m_form->playoutSession->Graph()->State(), 3);
    EXPECT_EQ(SourceFilter(s_capture).Get(), source.Get()) << "resumed without a rebuild";
    ASSERT_TRUE(WaitForCompletion());
    m_form->playoutPage->stopButton->click();
    EXPECT_EQ(TapeDigests(), s_digests) << "a pause continues the same recording";
    EXPECT_TRUE(m_dialogs.unexpected.empty());
}

// The rate is the bytes sent to the device a second: the rates shown, each
// times the time it covers, add up to the file's video bytes once the file
// has played (whatever the machine's load made of each second). The
// capture page's rate tick, which a preview ended by "Play" leaves
// running, neither resets the tape page's count nor takes its figure.
TEST_F(PrintToTape, TheRatesAddUpToTheFilesVideoBytesAndStayOnTheirPage) {
    const auto packets = media::test::ProbePackets(s_capture);
    ASSERT_TRUE(packets);
    int64_t video_bytes = 0;
    for (const auto& p : *packets)
        if (p.stream == 0)
            video_bytes += p.size;
    ASSERT_GT(video_bytes, 0);

    m_form->tabs->setCurrentWidget(m_form->deviceTab);
    Pick(m_form->devicePage->videoDevices, "Test Pattern Camera");
    m_form->capturePage->preview->setChecked(true);
    ASSERT_EQ(m_form->captureSession->Graph()->State(), 3);
    const QString capture_rate = m_form->capturePage->rateField->text();
    m_form->tabs->setCurrentWidget(m_form->playoutTab);
    // The page's clock, with the moments it was read: the start of the
    // measurement in "Play", then one reading a tick.
    static std::vector<uint64_t> readings;
    readings.clear();
    m_form->playoutSession->now_ms = [] {
        readings.push_back(win::GetTickCount64());
        return readings.back();
    };
    m_form->playoutPage->playButton->click();
    ASSERT_EQ(m_form->playoutSession->Graph()->State(), 3);
    ASSERT_TRUE(m_form->capturePage->rateTimer->Enabled()) << "the case this test is about";
    ASSERT_EQ(readings.size(), 1u);
    // The test ticks both, half a second apart, the capture page's between.
    m_form->capturePage->rateTimer->SetEnabled(false);
    m_form->playoutPage->rateTimer->SetEnabled(false);
    double counted_kb = 0;
    auto tick = [&] {
        Spin(250);
        m_form->capturePage->onRateTick();
        Spin(250);
        m_form->playoutPage->rateTimer->Tick();
        const std::optional<int64_t> rate = RateOf(m_form->playoutPage->rateField->text());
        EXPECT_TRUE(rate) << m_form->playoutPage->rateField->text().toStdString();
        const size_t n = readings.size();
        counted_kb += double(rate.value_or(0)) * double(readings[n - 1] - readings[n - 2]) / 1000;
    };
    while (!m_completed && readings.size() < 200)
        tick();
    ASSERT_TRUE(m_completed) << "the file did not play to its end";
    tick();  // what was sent up to the end
    tick();
    EXPECT_EQ(m_form->playoutPage->rateField->text(), "0" + kRateUnit)
        << "the end of the file sends nothing";
    EXPECT_NEAR(counted_kb * 1024, double(video_bytes), 0.01 * double(video_bytes))
        << "the rates counted " << counted_kb << " KB of " << video_bytes << " bytes sent";

    m_form->playoutPage->stopButton->click();
    m_form->capturePage->onRateTick();
    EXPECT_EQ(m_form->capturePage->rateField->text(), capture_rate)
        << "the tape's figure on the capture page";
    m_form->playoutSession->now_ms = &win::GetTickCount64;
    EXPECT_TRUE(m_dialogs.boxes.empty());
    EXPECT_TRUE(m_dialogs.unexpected.empty());
}

// Files the chosen device cannot be sent: the user is told once what is
// wrong, the page stays stopped and the deck records nothing; a playable
// file plays afterwards.
TEST_F(PrintToTape, AFileWithoutPlayableVideoIsReportedOnceAndThePageStaysStopped) {
    const QString mpeg4 = s_dir->filePath("mpeg4.avi");
    ASSERT_TRUE(media::test::RunTool("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                                "testsrc=duration=1:size=320x240:rate=25", "-c:v",
                                                "mpeg4", "-vtag", "XVID", mpeg4}));
    const QString text = s_dir->filePath("notes.avi");
    {
        QFile file(text);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }
    const QString sound_only = s_dir->filePath("sound only.avi");
    ASSERT_TRUE(MakeCapture(sound_only, 1000, false, true));
    const struct {
        QString file;
        const char* reason;
    } cases[] = {
        {mpeg4, "its video is XVID, not MJPG"},
        {text, "it is not an AVI file"},
        {sound_only, "it holds no video stream"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        m_dialogs.boxes.clear();
        m_dialogs.QueueBoxAnswer(win::IDOK);
        m_form->playoutPage->sourceFile->SetText(c.file);
        m_form->playoutPage->playButton->click();
        ASSERT_EQ(m_dialogs.boxes.size(), 1u);
        EXPECT_EQ(m_dialogs.boxes[0].caption, "Ronvix");
        EXPECT_TRUE(m_dialogs.boxes[0].text.startsWith(c.file + " cannot be played: ") &&
                    m_dialogs.boxes[0].text.contains(QLatin1String(c.reason)))
            << m_dialogs.boxes[0].text.toStdString();
        ExpectRow(Row::Idle);
        EXPECT_FALSE(m_form->playoutSession->Graph()->Active());
    }
    EXPECT_TRUE(QDir(m_tape_dir.path()).entryList(QDir::Files).isEmpty())
        << "the deck recorded a play that did not happen";

    m_form->playoutPage->sourceFile->SetText(s_capture);
    m_form->playoutPage->playButton->click();
    EXPECT_EQ(m_form->playoutSession->Graph()->State(), 3);
    m_form->playoutPage->stopButton->click();
    EXPECT_EQ(m_dialogs.boxes.size(), 1u);
    EXPECT_TRUE(m_dialogs.unexpected.empty()) << m_dialogs.unexpected.front().toStdString();
}

TEST_F(PrintToTape, DraggingTheThumbToTheMiddleSeeksThere) {
    m_form->playoutPage->playButton->click();
    Spin(600);
    mediagraph::TDSTrackBar* bar = m_form->playoutPage->seekBar;
    bar->TimerTick();
    ASSERT_GT(bar->maximum(), 10);

    // The user holds the thumb, moves it to the middle and lets go there.
    const QPoint centre = bar->rect().center();
    QTest::mousePress(bar, Qt::LeftButton, {}, centre);
    EXPECT_TRUE(bar->Dragging());
    bar->setValue(bar->maximum() / 2);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, centre);
    EXPECT_FALSE(bar->Dragging());

    LONGLONG stop = 0;
    ASSERT_EQ(Seeking()->GetStopPosition(&stop), com::S_OK);
    const LONGLONG target = stop * bar->value() / bar->maximum();
    const LONGLONG now = Position();
    EXPECT_GE(now, target);
    EXPECT_LT(now, target + kSecond_100ns / 2);
    m_form->playoutPage->onSeekBarChanged();
    EXPECT_EQ(m_form->playoutPage->timeField->text(), workflow::PlayTimeText(now));

    ASSERT_TRUE(WaitForCompletion());
    m_form->playoutPage->stopButton->click();

    // The tape: the frames played before the seek, then the file from the
    // frame at the middle to its end.
    const std::vector<QByteArray> tape = TapeDigests();
    const std::vector<QByteArray>& source = s_digests;
    size_t before = 0;
    while (before < tape.size() && before < source.size() && tape[before] == source[before])
        ++before;
    EXPECT_GE(before, 3u) << "frames played before the seek";
    ASSERT_LT(before, tape.size()) << "nothing was recorded after the seek";
    const auto resumed = std::find(source.begin(), source.end(), tape[before]);
    ASSERT_NE(resumed, source.end()) << "a frame on tape that the file does not hold";
    // The file's frames carry their times (a frame the camera dropped left
    // a gap): the seek lands on the frame shown at the target time.
    const std::vector<LONGLONG> times = PacketTimes(s_capture);
    ASSERT_EQ(times.size(), source.size());
    const auto shown = std::upper_bound(times.begin(), times.end(), target) - times.begin() - 1;
    EXPECT_NEAR(double(resumed - source.begin()), double(shown), 1.0)
        << "target " << target << " resumed at the frame of time "
        << times[size_t(resumed - source.begin())];
    EXPECT_EQ(std::vector<QByteArray>(tape.begin() + ptrdiff_t(before), tape.end()),
              std::vector<QByteArray>(resumed, source.end()));
    EXPECT_TRUE(m_dialogs.unexpected.empty());
}

TEST_F(PrintToTape, MissingFileFlashesRedForASecondThenPlaysOnceItExists) {
    const QString name = QStringLiteral("c:\\later.avi");
    const QString mapped = QDir(qEnvironmentVariable("RONVIX_DRIVE_C")).filePath("later.avi");
    QFile::remove(mapped);
    m_form->playoutPage->sourceFile->SetText(name);
    const QColor window = QApplication::palette().color(QPalette::Base);

    m_form->playoutPage->playButton->click();
    EXPECT_EQ(m_form->playoutPage->sourceFile->Edit()->palette().color(QPalette::Base),
              QColor(255, 0, 0));
    EXPECT_TRUE(m_form->playoutPage->flashTimer->Enabled());
    EXPECT_FALSE(m_form->playoutPage->playButton->isEnabled());
    EXPECT_TRUE(m_form->playoutPage->pauseButton->isEnabled());
    EXPECT_FALSE(m_form->playoutPage->stopButton->isEnabled());
    EXPECT_TRUE(m_form->playoutPage->sourceFile->isEnabled());
    EXPECT_FALSE(m_form->playoutPage->rateTimer->Enabled());
    EXPECT_TRUE(m_form->playoutSession->Graph()->Active())
        << "the graph stays active for the next try";

    // The user presses "Pause" while the field is red: the graph pauses
    // with nothing in it.
    m_form->playoutPage->pauseButton->click();
    EXPECT_EQ(m_form->playoutSession->Graph()->State(), 2);

    m_form->playoutPage->flashTimer->Tick();
    EXPECT_EQ(m_form->playoutPage->sourceFile->Edit()->palette().color(QPalette::Base), window);
    EXPECT_FALSE(m_form->playoutPage->flashTimer->Enabled());
    {
        SCOPED_TRACE("after the flash");
        ExpectRow(Row::Idle);
    }
    EXPECT_TRUE(m_dialogs.boxes.empty()) << "a missing file shows no message";

    // Once the file exists, "Play" builds the session in the graph that
    // stayed active, rather than resuming the empty paused graph.
    ASSERT_TRUE(QFile::copy(s_capture, mapped));
    m_form->playoutPage->playButton->click();
    EXPECT_TRUE(m_dialogs.unexpected.empty()) << m_dialogs.unexpected.front().toStdString();
    EXPECT_EQ(m_form->playoutSession->Graph()->State(), 3);
    EXPECT_TRUE(SourceFilter(name));
    ExpectRow(Row::Playing);
    ASSERT_TRUE(WaitForCompletion());
    m_form->playoutPage->stopButton->click();
    EXPECT_EQ(TapeDigests(), s_digests);
}

TEST_F(PrintToTape, AFileWithoutASecondStreamPlaysWithoutAudio) {
    const QString video_only = s_dir->filePath("video_only.avi");
    ASSERT_TRUE(MakeCapture(video_only, 2000, true, false));
    const auto digests = media::test::PacketDigests(video_only, "v");
    ASSERT_TRUE(digests && digests->size() >= 25u);
    m_form->playoutPage->sourceFile->SetText(video_only);

    m_form->playoutPage->playButton->click();
    EXPECT_EQ(m_form->playoutSession->Graph()->State(), 3);
    const ComPtr<media::IBaseFilter> audio =
        m_form->playoutSession->Media().AudioDestFilter->Query<media::IBaseFilter>();
    ASSERT_TRUE(audio);
    const mediagraph::TPinList pins(audio.Get());
    ASSERT_GE(pins.Count(), 1);
    ComPtr<media::IPin> peer;
    EXPECT_EQ(pins.PinAt(0)->ConnectedTo(peer.ReleaseAndGetAddressOf()), com::VFW_E_NOT_CONNECTED);
    ASSERT_TRUE(WaitForCompletion());
    m_form->playoutPage->stopButton->click();
    EXPECT_EQ(TapeDigests(), *digests);
    EXPECT_TRUE(m_dialogs.boxes.empty());
}

// A lossless capture and an uncompressed one play out like an MJPG one:
// every frame of the file reaches the deck, in order (the deck records the
// MJPG the compressor makes of each decoded picture).
TEST_F(PrintToTape, LosslessAndUncompressedCapturesReachTheDeckFrameForFrame) {
    const struct {
        const char* name;
        com::GUID compressor;
        const char* codec;
    } cases[] = {
        {"ffv1.avi", media::CLSID_Ffv1Compressor, "ffv1"},
        {"raw.avi", com::GUID_NULL, "rawvideo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = s_dir->filePath(c.name);
        ASSERT_TRUE(MakeCapture(file, 2000, true, true, c.compressor));
        const auto streams = media::test::ProbeStreams(file);
        ASSERT_TRUE(streams && !streams->empty());
        EXPECT_EQ(streams->front().codec, c.codec);
        const std::vector<uint32_t> codes = BlockCodes(file);
        ASSERT_GE(codes.size(), 25u);

        for (const QString& old : QDir(m_tape_dir.path()).entryList(QDir::Files))
            QFile::remove(QDir(m_tape_dir.path()).filePath(old));
        m_completed = false;
        m_form->playoutPage->sourceFile->SetText(file);
        m_form->playoutPage->playButton->click();
        EXPECT_EQ(m_form->playoutSession->Graph()->State(), 3);
        ASSERT_TRUE(WaitForCompletion());
        m_form->playoutPage->stopButton->click();
        const QStringList tapes = QDir(m_tape_dir.path()).entryList(QDir::Files);
        ASSERT_EQ(tapes.size(), 1);
        EXPECT_EQ(BlockCodes(QDir(m_tape_dir.path()).filePath(tapes.first())), codes);
    }
    EXPECT_TRUE(m_dialogs.boxes.empty());
    EXPECT_TRUE(m_dialogs.unexpected.empty()) << m_dialogs.unexpected.front().toStdString();
}

TEST_F(PrintToTape, PlayEndsARunningPreviewFirst) {
    Pick(m_form->devicePage->videoDevices, "Test Pattern Camera");
    m_form->capturePage->preview->setChecked(true);
    ASSERT_EQ(m_form->captureSession->Graph()->State(), 3) << "the preview runs";

    m_form->playoutPage->playButton->click();
    EXPECT_FALSE(m_form->capturePage->preview->isChecked());
    EXPECT_NE(m_form->captureSession->Graph()->State(), 3);
    EXPECT_EQ(m_form->playoutSession->Graph()->State(), 3);
    ExpectRow(Row::Playing);
    m_form->playoutPage->stopButton->click();
    ExpectRow(Row::Idle);
    EXPECT_TRUE(m_dialogs.unexpected.empty()) << m_dialogs.unexpected.front().toStdString();
}

TEST_F(PrintToTape, WithNothingForTheVideoWindowTheRunReportsItUnconnected) {
    // No output device (the stored one names nothing here) and a file
    // without video: nothing reaches the video window's renderer, and
    // running the graph fails with the renderer's own report.
    const QString sound_only = s_dir->filePath("sound_only.avi");
    ASSERT_TRUE(MakeCapture(sound_only, 1000, false, true));
    m_form.reset();
    const testing::ScopedSettingsFolder no_picks;
    m_form = std::make_unique<MainWindow>();
    m_form->Show();
    m_form->tabs->setCurrentWidget(m_form->playoutTab);
    m_form->playoutPage->sourceFile->SetText(sound_only);
    m_dialogs.QueueBoxAnswer(win::IDOK);

    m_form->playoutPage->playButton->click();
    ASSERT_EQ(m_dialogs.boxes.size(), 1u);
    EXPECT_EQ(m_dialogs.boxes[0].caption, "Ronvix");
    EXPECT_EQ(m_dialogs.boxes[0].text,
              "Playback could not start: " + mediagraph::ResultText(com::VFW_E_NOT_CONNECTED) +
                  " ($80040209).");
    EXPECT_TRUE(m_dialogs.unexpected.empty());

    // A run that failed leaves no session on the page.
    ExpectRow(Row::Idle);
    EXPECT_FALSE(m_form->playoutSession->Graph()->Active());
    EXPECT_EQ(m_dialogs.boxes.size(), 1u);
}

TEST_F(PrintToTape, PlayDuringACaptureEndsItAsStopDoesAndSaysSoOnce) {
    m_form->tabs->setCurrentWidget(m_form->deviceTab);
    Pick(m_form->devicePage->videoDevices, "Test Pattern Camera");
    Pick(m_form->devicePage->audioDevices, "Test Tone Generator");
    m_form->capturePage->fileName->SetFileName("c:\\during.avi");
    m_form->capturePage->overwrite->setChecked(true);
    m_form->capturePage->startButton->click();
    ASSERT_TRUE(m_form->capturePage->stopButton->isEnabled()) << "the capture did not start";
    Spin(1000);

    m_form->tabs->setCurrentWidget(m_form->playoutTab);
    m_dialogs.QueueBoxAnswer(win::IDOK);
    m_form->playoutPage->playButton->click();
    ASSERT_EQ(m_dialogs.boxes.size(), 1u);
    EXPECT_TRUE(m_dialogs.boxes[0].text.contains("capture was stopped"))
        << m_dialogs.boxes[0].text.toStdString();
    // The "Capture" page as "Stop" leaves it, and the file finished.
    EXPECT_FALSE(m_form->capturePage->stopButton->isEnabled()) << "the page still claims a capture";
    EXPECT_TRUE(m_form->capturePage->startButton->isEnabled());
    EXPECT_TRUE(m_form->devicePage->videoDevices->isEnabled());
    EXPECT_FALSE(m_form->capturePage->statisticsTimer->Enabled());
    EXPECT_FALSE(m_form->captureSession->Graph()->Active());
    const auto streams = media::test::ProbeStreams(
        QDir(qEnvironmentVariable("RONVIX_DRIVE_C")).filePath("during.avi"));
    ASSERT_TRUE(streams) << "the capture file is not complete";
    EXPECT_EQ(streams->size(), 2u);
    EXPECT_EQ(m_form->playoutSession->Graph()->State(), 3);
    ExpectRow(Row::Playing);
    m_form->playoutPage->stopButton->click();
    EXPECT_EQ(m_dialogs.boxes.size(), 1u);
    EXPECT_TRUE(m_dialogs.unexpected.empty());
}

TEST_F(PrintToTape, ChoosingAnOutputDeviceDuringPlaybackEndsItAndSaysWhy) {
    for (QComboBox* list : {m_form->devicePage->audioOutputs, m_form->devicePage->videoOutputs}) {
        SCOPED_TRACE(list->objectName().toStdString());
        m_dialogs.boxes.clear();
        m_form->playoutPage->playButton->click();
        ASSERT_EQ(m_form->playoutSession->Graph()->State(), 3);
        m_form->tabs->setCurrentWidget(m_form->deviceTab);
        m_dialogs.QueueBoxAnswer(win::IDOK);
        Pick(list, list->currentText());
        ASSERT_EQ(m_dialogs.boxes.size(), 1u);
        EXPECT_TRUE(m_dialogs.boxes[0].text.contains("stopped to change the output device"))
            << m_dialogs.boxes[0].text.toStdString();
        EXPECT_EQ(m_dialogs.boxes[0].type & 0xF0u, win::MB_ICONINFORMATION) << "not a failure";
        ExpectRow(Row::Idle);
        EXPECT_NE(m_form->playoutSession->Graph()->State(), 3);
        m_form->tabs->setCurrentWidget(m_form->playoutTab);
    }
    // Chosen while nothing plays: nothing to say.
    m_dialogs.boxes.clear();
    Pick(m_form->devicePage->audioOutputs, "Silent Audio Output");
    EXPECT_TRUE(m_dialogs.boxes.empty());
    EXPECT_TRUE(m_dialogs.unexpected.empty());
}

// A play whose sound output cannot be opened (no sound system runs) fails
// once, saying which output and why, after a play that recorded: the deck
// keeps the one recording and goes on naming it, and the page shows no
// time or position, as before any play.
TEST_F(PrintToTape, ADefaultSoundOutputThatCannotBeOpenedFailsThePlayOnceAndLeavesItIdle) {
    pages::PlayoutPage& page = *m_form->playoutPage;
    const QString no_time = page.timeField->text();
    const int no_position = page.seekBar->value(), no_range = page.seekBar->maximum();
    page.playButton->click();
    ASSERT_EQ(m_form->playoutSession->Graph()->State(), 3);
    Spin(1500);
    page.stopButton->click();
    ASSERT_NE(page.timeField->text(), no_time) << "the play showed no time";
    ASSERT_NE(page.seekBar->value(), no_position) << "the play moved no thumb";
    const QStringList tapes = QDir(m_tape_dir.path()).entryList(QDir::Files);
    ASSERT_EQ(tapes.size(), 1);
    const QString tape = QDir(m_tape_dir.path()).filePath(tapes[0]);
    m_form->tabs->setCurrentWidget(m_form->deviceTab);
    EXPECT_EQ(TapePageRecording().toStdString(), tape.toStdString()) << "named after Stop";

    media::AlsaPlaybackApi absent;
    absent.open = [](const std::string&, int, int, int, void**) { return -ENOENT; };
    absent.wait = [](void*, int) { return 0; };
    absent.write = [](void*, const uint8_t*, long) -> long { return -EIO; };
    absent.recover = [](void*, int error) { return error; };
    absent.close = [](void*) {};
    media::SetAlsaPlaybackApi(absent);
    struct RealAlsa {
        ~RealAlsa() { media::SetAlsaPlaybackApi({}); }
    } real_alsa;
    Pick(m_form->devicePage->audioOutputs, media::kAlsaDefaultOutputName);
    Pick(m_form->devicePage->videoOutputs, "Virtual Tape Deck");
    m_form->tabs->setCurrentWidget(m_form->playoutTab);
    m_dialogs.QueueBoxAnswer(win::IDOK);
    page.playButton->click();
    ASSERT_EQ(m_dialogs.boxes.size(), 1u);
    EXPECT_EQ(m_dialogs.boxes[0].text.toStdString(),
              "Playback could not start: The audio output \"Default ALSA Device\" could not be "
              "opened: No such file or directory.");
    ExpectRow(Row::Idle);
    EXPECT_EQ(page.timeField->text().toStdString(), no_time.toStdString());
    EXPECT_EQ(page.seekBar->value(), no_position);
    EXPECT_EQ(page.seekBar->maximum(), no_range);
    EXPECT_EQ(QDir(m_tape_dir.path()).entryList(QDir::Files).join(' ').toStdString(),
              tapes.join(' ').toStdString())
        << "the failed play left a tape";
    m_form->tabs->setCurrentWidget(m_form->deviceTab);
    EXPECT_EQ(TapePageRecording().toStdString(), tape.toStdString())
        << "the failed play replaced the last recording";
    EXPECT_TRUE(m_dialogs.unexpected.empty());
}

// A V4L2 output device (a loopback node on the scripted V4L2 system),
// listed before the window is made.
// Files the splitter refuses (a picture over 8192 pixels, no AVI at all):
// "Play" says why once, as any play that cannot start, and the page stays
// idle instead of running with nothing to play.
TEST_F(PrintToTape, AFileTheSplitterRefusesIsReportedOnceAndThePageStaysIdle) {
    const struct {
        const char* name;
        QByteArray bytes;
        const char* reason;
    } cases[] = {
        {"huge.avi", media::test::HandmadeAvi{16000, 16000, {"\xFF\xD8\xFF\xD9"}}.Bytes(),
         "its pictures are larger than 8192 pixels a side"},
        {"text.avi", QByteArray("this is a text file, not a movie\n").repeated(20),
         "it is not an AVI file that can be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = s_dir->filePath(QString::fromLatin1(c.name));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.bytes);
        file.close();
        m_form->playoutPage->sourceFile->SetText(path);
        m_dialogs.boxes.clear();
        m_dialogs.QueueBoxAnswer(win::IDOK);

        m_form->playoutPage->playButton->click();
        ASSERT_EQ(m_dialogs.boxes.size(), 1u);
        EXPECT_EQ(m_dialogs.boxes[0].text.toStdString(),
                  (path + " cannot be played: " + c.reason + ".").toStdString());
        ExpectRow(Row::Idle);
        EXPECT_FALSE(m_form->playoutSession->Graph()->Active());
        EXPECT_TRUE(QDir(m_tape_dir.path()).entryList(QDir::Files).isEmpty());
    }
    EXPECT_TRUE(m_dialogs.unexpected.empty());
}

class PrintToV4l2 : public PrintToTape {
protected:
    PrintToV4l2() {
        media::test::FakeNode loopback;
        loopback.card = "Loopback Out";
        loopback.caps = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_READWRITE;
        loopback.output_formats = {V4L2_PIX_FMT_YUYV};
        m_fake->AddNode(kOutputNode, loopback);
    }
    static constexpr char kOutputNode[] = "/dev/video9";
    media::test::ScopedFakeV4l2 m_fake;
};

TEST_F(PrintToV4l2, ALostOrFailingOutputEndsThePlayoutAndIsReportedOnce) {
    Pick(m_form->devicePage->videoOutputs, "Loopback Out");
    // The engine gives up on the play-out.
    m_form->playoutPage->playButton->click();
    ASSERT_EQ(m_form->playoutSession->Graph()->State(), 3);
    m_dialogs.QueueBoxAnswer(win::IDOK);
    m_form->playoutSession->Graph()->DispatchGraphEvent(media::EC_ERRORABORT, com::E_FAIL, 0);
    m_form->playoutSession->Graph()->DispatchGraphEvent(media::EC_ERRORABORT, com::E_FAIL, 0);
    ASSERT_EQ(m_dialogs.boxes.size(), 1u) << "not reported, or reported twice";
    EXPECT_TRUE(m_dialogs.boxes[0].text.contains("Playback has been stopped"));
    ExpectRow(Row::Idle);

    // The output is unplugged while it plays.
    m_dialogs.boxes.clear();
    m_form->playoutPage->playButton->click();
    ASSERT_EQ(m_form->playoutSession->Graph()->State(), 3);
    Spin(500);
    m_dialogs.QueueBoxAnswer(win::IDOK);
    m_fake->Remove(kOutputNode);
    ASSERT_TRUE(SpinUntil([&] { return !m_dialogs.boxes.empty(); }, 10000))
        << "the lost output was not reported";
    Spin(500);
    ASSERT_EQ(m_dialogs.boxes.size(), 1u);
    EXPECT_TRUE(m_dialogs.boxes[0].text.contains("disconnected"))
        << m_dialogs.boxes[0].text.toStdString();
    ExpectRow(Row::Idle);
    EXPECT_FALSE(m_form->playoutSession->Graph()->Active());
    EXPECT_TRUE(m_dialogs.unexpected.empty()) << m_dialogs.unexpected.front().toStdString();
}

}  // namespace
}  // namespace ronvix::app
