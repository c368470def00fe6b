#include "app/pages/playout_page.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPalette>
#include <QSignalBlocker>

#include "framework/application.h"
#include "framework/bind.h"
#include "workflow/capture_texts.h"

namespace ronvix::app::pages {

namespace {

// The file the output graph logs its building to, on the mapped C: drive.
constexpr char kGraphLogFile[] = "c:\\graphlogfile.log";

// The seek bar's range before a play sets it.
constexpr int kSeekBarSteps = 1000;

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

PlayoutPage::PlayoutPage(QWidget* window, workflow::PlayoutSession& session)
    : QObject(window), m_session(session) {
    auto timer = [window](const char* name) {
        auto* t = new fw::TTimer(window, QString::fromUtf8(name));
        t->SetEnabled(false);
        t->SetInterval(1000);
        return t;
    };
    flashTimer = timer("Timer2");
    rateTimer = timer("Timer4");
}

void PlayoutPage::Connect() {
    sourceFile->SetNumGlyphs(1);
    seekBar->SetMax(kSeekBarSteps);
    seekBar->setSingleStep(0);
    seekBar->setTickPosition(QSlider::NoTicks);
    // The page's video window and seek bar follow the output graph.
    monitor->VMROptions().SetMode(mediagraph::vmrWindowed);
    monitor->SetFilterGraph(m_session.Graph());
    monitor->Loaded();
    seekBar->SetTimerInterval(125);
    seekBar->SetFilterGraph(m_session.Graph());
    m_session.monitor = monitor;
    m_session.log_file = QString::fromLatin1(kGraphLogFile);

    fw::BindClick(playButton, [this](QObject*) { onPlayClicked(); });
    fw::BindClick(stopButton, [this](QObject*) { onStopClicked(); });
    fw::BindClick(pauseButton, [this](QObject*) { onPauseClicked(); });
    // Keys move the thumb but never seek; the next tick puts it back.
    fw::BindChange(seekBar, [this](QObject*) { onSeekBarChanged(); });
    flashTimer->OnTimer = [this](QObject*) { fw::SafeCall([&] { onFlashEnded(); }); };
    rateTimer->OnTimer = [this](QObject*) { fw::SafeCall([&] { onRateTick(); }); };
    m_session.on_ended = [this] { OnEnded(); };
    m_session.on_report = [](const QString& message) { fw::ReportMessage(message); };
}

void PlayoutPage::onPlayClicked() {
    // The capture side stops first; the user is told once when a capture
    // ended for it.
    if (release_capture && release_capture())
        fw::ReportNotice(QStringLiteral("The capture was stopped to play the file."));
    try {
        Play();
    } catch (...) {
        ResetPosition();
        throw;
    }
}

void PlayoutPage::Play() {
    playButton->setEnabled(false);
    pauseButton->setEnabled(true);
    switch (m_session.Open(sourceFile->Text(), videoOutputs->currentText())) {
        case workflow::PlayoutSession::Opened::Resumed:
            return;
        case workflow::PlayoutSession::Opened::Missing:
            SetFieldColor(sourceFile, QColor(255, 0, 0));
            flashTimer->SetEnabled(true);
            return;
        case workflow::PlayoutSession::Opened::Ready:
            break;
    }
    rateTimer->SetEnabled(true);
    sourceFile->setEnabled(false);
    stopButton->setEnabled(true);
    pauseButton->setEnabled(true);
    playButton->setEnabled(false);
    seekBar->setEnabled(true);
    tabs->setTabVisible(tabs->indexOf(captureTab), false);
    // The bar's range until its first tick replaces it with its own steps:
    // the stop position's low 32 bits, which the bar refuses when negative.
    seekBar->SetMax(static_cast<int32_t>(static_cast<uint32_t>(m_session.StopPosition())));
    m_session.Run();
}

void PlayoutPage::ResetPosition() {
    // As before any play: no time, the thumb at the start of the range the
    // page begins with. The bar is quiet meanwhile: with no file played
    // there is no position for the time display to read.
    const QSignalBlocker quiet(seekBar);
    seekBar->SetMax(kSeekBarSteps);
    seekBar->SetPosition(0);
    timeField->clear();
}

void PlayoutPage::onStopClicked() {
    m_session.Stop();
}

void PlayoutPage::OnEnded() {
    rateTimer->SetEnabled(false);
    stopButton->setEnabled(false);
    pauseButton->setEnabled(false);
    playButton->setEnabled(true);
    seekBar->setEnabled(false);
    tabs->setTabVisible(tabs->indexOf(captureTab), true);
    sourceFile->setEnabled(true);
}

void PlayoutPage::onPauseClicked() {
    m_session.Pause();
    playButton->setEnabled(true);
    pauseButton->setEnabled(false);
    rateField->setText(workflow::RateText(0));
}

void PlayoutPage::onFlashEnded() {
    flashTimer->SetEnabled(false);
    SetFieldColor(sourceFile, QApplication::palette().color(QPalette::Base));
    pauseButton->setEnabled(false);
    stopButton->setEnabled(false);
    playButton->setEnabled(true);
}

void PlayoutPage::onRateTick() {
    if (const auto rate = m_session.RateTick())
        rateField->setText(workflow::RateText(*rate));
    QCoreApplication::processEvents();
}

void PlayoutPage::onSeekBarChanged() {
    timeField->setText(workflow::PlayTimeText(m_session.Position()));
}

}  // namespace ronvix::app::pages
