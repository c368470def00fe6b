// The "Print to Tape" session: play an AVI file out to the chosen video
// output device with play, pause, stop, seek, a time display and a rate.
//
// The graph "Play" builds in OutGraph (mediagraph/workflowgraphs.h), whose
// bound components are already in it under their names:
//
//   file source -> Splitter (video) -> OutGrabber (MJPG only) -> VideoDestFilter
//   VideoDestFilter (its own output) -> ... -> VideoWindow1
//   Splitter ("Stream 01") -> ... -> an audio renderer (AudioDestFilter is there)
//
// Connections that fail are not reported: that part of the graph stays
// unconnected and the session runs without it. Failures of the run control
// reach the user through the application's exception report.

#include <QApplication>
#include <QPalette>
#include <QSignalBlocker>
#include <exception>
#include <string>

#include "app/mainform.h"
#include "framework/application.h"
#include "framework/exceptions.h"
#include "mediagraph/graph_util.h"
#include "mediagraph/workflowgraphs.h"
#include "platform/media/core/interfaces.h"
#include "platform/win/files.h"
#include "tape/session.h"

namespace ronvix::tape {

QString PlayTimeText(int64_t position_100ns) {
    constexpr int64_t kDay_ms = 24 * 60 * 60 * 1000;
    int64_t ms = (position_100ns / 10000) % kDay_ms;
    if (ms < 0)
        ms += kDay_ms;
    const int64_t seconds = ms / 1000;
    return QString::asprintf("%.2d:%.2d:%.2d", static_cast<int>(seconds / 3600),
                             static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
}

}  // namespace ronvix::tape

namespace ronvix::app {

namespace {

using com::ComPtr;
using mediagraph::Supports;

// The file the output graph logs its building to, on the mapped C: drive.
constexpr char kGraphLogFile[] = "c:\\graphlogfile.log";
// The background of a file name field; the edit inside takes it too, so the
// text area shows the colour.
void SetFieldColor(controls::TFilenameEdit* field, const QColor& color) {
    for (QWidget* widget : {static_cast<QWidget*>(field), static_cast<QWidget*>(field->Edit())}) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Base, color);
        widget->setPalette(palette);
    }
}

}  // namespace

void TMainForm::Start_printClick(QObject* /*sender*/) {
    // The capture side stops first; whatever fails there never keeps the
    // tape output from starting. When Stop throws, "Preview" stays ticked.
    // Unticking runs the box's own handler here rather than through its
    // binding, so that a failure in it is swallowed too, not reported. A
    // capture in progress ends as "Stop" ends it (its file finished, the
    // "Capture" page restored) rather than being left looking alive with
    // its graph stopped; the user is told why once.
    const bool capture_ended = m_capture.capturing;
    try {
        if (m_capture.capturing) {
            const bool preview_on = m_capture.preview;
            m_capture.preview = false;  // no preview restart: the preview ends below
            StopButtonClick(StopButton);
            m_capture.preview = preview_on;
        }
        CaptureGraph->Stop();
        if (preview->isChecked()) {
            {
                const QSignalBlocker quiet(preview);
                preview->setChecked(false);
            }
            previewClick(preview);
        }
    } catch (const std::exception&) {
    }
    if (capture_ended)
        fw::ReportMessage(QStringLiteral("The capture was stopped to play the file."));

    Start_print->setEnabled(false);
    Button33->setEnabled(true);

    if (OutGraph->State() == 2) {
        if (m_tape.built) {
            OutGraph->Play();
            // The rate counts from the resume: the paused time sent nothing.
            m_tape.meter.Start(m_tape.sent.Total(), m_tape.now_ms());
            return;
        }
        // Paused during the missing-file flash: nothing to resume.
        OutGraph->Stop();
    }

    if (!OutGraph->Active())
        m_tape.built = false;
    OutGraph->SetActive(true);
    OutGraph->SetLogFile(QString::fromLatin1(kGraphLogFile));
    // An active graph without a graph builder fails here, before the file
    // check.
    Supports<media::IGraphBuilder>(OutGraph);

    const QString file = SourceFilename->Text();
    if (!win::FileExists(file)) {
        SetFieldColor(SourceFilename, QColor(255, 0, 0));
        Timer2->SetEnabled(true);
        return;
    }

    // The graph is built before the page shows a session: a file that
    // cannot play leaves the page stopped and says why, once. Without a
    // chosen device the run itself reports what is missing.
    m_tape.built = true;
    mediagraph::TTapeGraphResult built;
    try {
        built = mediagraph::BuildTapeGraph(
            {OutGraph, VideoDestFilter, OutGrabber, Splitter, VideoWindow1}, file);
    } catch (...) {
        Stop_printClick(Stop_print);
        throw;
    }
    if (built.video != mediagraph::TTapeVideo::Connected &&
        built.video != mediagraph::TTapeVideo::NoDevice) {
        Stop_printClick(Stop_print);
        throw fw::Exception(
            QStringLiteral("%1 cannot be played: %2")
                .arg(file, mediagraph::TapeVideoProblem(built, VideoOutFilters->currentText())));
    }

    Timer4->SetEnabled(true);
    SourceFilename->setEnabled(false);
    Stop_print->setEnabled(true);
    Button33->setEnabled(true);
    Start_print->setEnabled(false);
    DSTrackBar1->setEnabled(true);
    PageControl1->setTabVisible(PageControl1->indexOf(TabSheet1), false);

    // The bar's range until its first tick replaces it with its own steps:
    // the stop position's low 32 bits, which the bar refuses when negative.
    const ComPtr<media::IMediaSeeking> seeking = Supports<media::IMediaSeeking>(OutGraph);
    media::LONGLONG stop_100ns = 0;
    seeking->GetStopPosition(&stop_100ns);
    DSTrackBar1->SetMax(static_cast<int32_t>(static_cast<uint32_t>(stop_100ns)));

    // A run that fails (an output device that cannot be opened now, a
    // picture that reaches no window) leaves no session looking alive: the
    // page returns to idle as after "Stop", and the reason is shown once.
    m_tape.meter.Start(m_tape.sent.Total(), m_tape.now_ms());
    try {
        OutGraph->Play();
    } catch (const std::exception& error) {
        Stop_printClick(Stop_print);
        throw fw::Exception(QStringLiteral("Playback could not start: ") +
                            QString::fromUtf8(error.what()));
    }
}

void TMainForm::Stop_printClick(QObject* /*sender*/) {
    OutGraph->Stop();
    Timer4->SetEnabled(false);
    OutGraph->SetActive(false);
    m_tape.built = false;
    Stop_print->setEnabled(false);
    Button33->setEnabled(false);
    Start_print->setEnabled(true);
    DSTrackBar1->setEnabled(false);
    PageControl1->setTabVisible(PageControl1->indexOf(TabSheet1), true);
    SourceFilename->setEnabled(true);
}

bool TMainForm::EndPlayout() {
    if (!m_tape.built)
        return false;
    Stop_printClick(Stop_print);
    return true;
}

void TMainForm::OutGraphGraphErrorAbort(QObject* /*sender*/, com::HRESULT result) {
    // A second abort of the same play-out finds it ended and changes nothing.
    if (!EndPlayout())
        return;
    fw::ReportMessage(QStringLiteral("Playback has been stopped: ") +
                      mediagraph::ResultText(result));
}

void TMainForm::OutGraphGraphDeviceLost(QObject* /*sender*/, com::IUnknown* /*device*/,
                                        bool removed) {
    // `removed` true says a device came back: nothing to do.
    if (removed || !EndPlayout())
        return;
    fw::ReportMessage(
        QStringLiteral("The output device was disconnected. Playback has been stopped."));
}

void TMainForm::Button33Click(QObject* /*sender*/) {
    OutGraph->Pause();
    Start_print->setEnabled(true);
    Button33->setEnabled(false);
    // A pause sends nothing: the rate says so at once, not a second later.
    m_tape.meter.Start(m_tape.sent.Total(), m_tape.now_ms());
    StaticText9->setText(capture::RateText(0));
}

void TMainForm::Timer2Timer(QObject* /*sender*/) {
    Timer2->SetEnabled(false);
    SetFieldColor(SourceFilename, QApplication::palette().color(QPalette::Base));
    Button33->setEnabled(false);
    Stop_print->setEnabled(false);
    Start_print->setEnabled(true);
}

void TMainForm::Timer4Timer(QObject* /*sender*/) {
    // The bytes sent to the device over the last second, whatever the
    // tick's own lateness: steady for a steady file. While paused nothing is
    // sent, and a frame that was already on its way when the pause came is
    // not shown as a rate; at the end of the file the figure falls to 0.
    const int64_t sent = m_tape.sent.Total();
    const uint64_t now = m_tape.now_ms();
    if (OutGraph->Active() && OutGraph->State() == 2) {
        m_tape.meter.Start(sent, now);
        StaticText9->setText(capture::RateText(0));
    } else if (const auto rate = m_tape.meter.Tick(sent, now)) {
        StaticText9->setText(capture::RateText(*rate));
    }
    QCoreApplication::processEvents();
}

void TMainForm::DSTrackBar1Change(QObject* /*sender*/) {
    const ComPtr<media::IMediaSeeking> seeking = Supports<media::IMediaSeeking>(OutGraph);
    media::LONGLONG position_100ns = 0;
    seeking->GetCurrentPosition(&position_100ns);
    StaticText5->setText(tape::PlayTimeText(position_100ns));
}

void TMainForm::DSTrackBar1KeyUp(QObject* /*sender*/, int& /*key*/,
                                 Qt::KeyboardModifiers /*shift*/) {
    // Keys move the thumb but never seek; the next tick puts it back.
}

void TMainForm::OutGrabberBuffer(QObject* /*sender*/, double /*sample_time*/, void* /*buffer*/,
                                 int buffer_len) {
    m_tape.sent.Add(buffer_len);
}

}  // namespace ronvix::app
