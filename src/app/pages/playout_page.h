#pragma once
// The "Print to Tape" page: the file to play, Play, Pause and Stop, the
// time, the rate, the seek bar and the output device's own picture, wired
// to the play-out session. UI thread only.

#include <QComboBox>
#include <QLabel>
#include <QObject>
#include <QPushButton>
#include <QTabWidget>
#include <functional>

#include "controls/filenameedit.h"
#include "framework/timer.h"
#include "mediagraph/seek_bar.h"
#include "mediagraph/videowindow.h"
#include "workflow/playout_session.h"

namespace ronvix::app::pages {

class PlayoutPage : public QObject {
    Q_OBJECT
public:
    // `window` owns the page's timers.
    PlayoutPage(QWidget* window, workflow::PlayoutSession& session);

    mediagraph::TVideoWindow* monitor = nullptr;
    controls::TFilenameEdit* sourceFile = nullptr;
    QPushButton* playButton = nullptr;
    QPushButton* stopButton = nullptr;
    QPushButton* pauseButton = nullptr;
    QLabel* timeField = nullptr;
    QLabel* rateField = nullptr;
    mediagraph::TDSTrackBar* seekBar = nullptr;
    // The window's tabs: the "Capture" tab is hidden while a play-out runs.
    QTabWidget* tabs = nullptr;
    QWidget* captureTab = nullptr;
    // The output device list, whose name the failures give.
    QComboBox* videoOutputs = nullptr;

    // The end of the missing-file flash; the rate once a second while a
    // session runs.
    fw::TTimer* flashTimer = nullptr;
    fw::TTimer* rateTimer = nullptr;

    // Before a play-out starts, the capture side lets go of the devices;
    // true when a capture was ended for it.
    std::function<bool()> release_capture;

    void Connect();

    void onPlayClicked();
    void onStopClicked();
    void onPauseClicked();
    void onFlashEnded();
    void onRateTick();
    // The time display, at every position change of the seek bar.
    void onSeekBarChanged();

private:
    void OnEnded();
    // "Play" once the capture side let go; throws when the play fails.
    void Play();
    // A play that failed shows no time or position, not the last file's.
    void ResetPosition();

    workflow::PlayoutSession& m_session;
};

}  // namespace ronvix::app::pages
