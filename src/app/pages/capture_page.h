#pragma once
// The "Capture" page: the file name, Start, Stop and Preview, the
// statistics, the preview panel, and the picture, compression and audio
// input controls, wired to the capture session. The page shows what the
// session runs; the session decides it. UI thread only.

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QObject>
#include <QPushButton>
#include <functional>

#include "app/pages/control_memory.h"
#include "controls/durationedit.h"
#include "controls/filenameedit.h"
#include "controls/levelmeter.h"
#include "controls/slider.h"
#include "framework/timer.h"
#include "mediagraph/device_enum.h"
#include "mediagraph/graph_util.h"
#include "workflow/capture_session.h"

namespace ronvix::app::pages {

class CapturePage : public QObject {
    Q_OBJECT
public:
    // `window` is the top-level window: it owns the page's timers and is
    // the owner of its questions.
    CapturePage(QWidget* window, workflow::CaptureSession& session);

    // The page's controls, set from the layout before Connect.
    controls::TFilenameEdit* fileName = nullptr;
    QCheckBox* generateNames = nullptr;
    QCheckBox* overwrite = nullptr;
    QCheckBox* preview = nullptr;
    QPushButton* startButton = nullptr;
    QPushButton* stopButton = nullptr;
    QLabel* bufferingField = nullptr;
    QLabel* elapsedField = nullptr;
    QLabel* capturedField = nullptr;
    QLabel* droppedField = nullptr;
    QLabel* freeSpaceField = nullptr;
    QLabel* remainingField = nullptr;
    QLabel* rateField = nullptr;
    // Shown while the video device delivers no frames during a capture.
    QLabel* signalField = nullptr;
    controls::TSlider* qualitySlider = nullptr;
    QLabel* qualityField = nullptr;
    QFrame* previewPanel = nullptr;
    // Inside the preview panel until a capture device is chosen: where to
    // choose one.
    QLabel* deviceHint = nullptr;
    QComboBox* inputLines = nullptr;
    controls::TSlider* volumeSlider = nullptr;
    QLabel* volumeField = nullptr;
    // The peak level of each channel of the audio device while it streams
    // (a capture, or a preview with an audio device chosen).
    controls::TLevelMeter* audioMeter = nullptr;
    controls::TSlider* brightnessSlider = nullptr;
    controls::TSlider* contrastSlider = nullptr;
    controls::TSlider* sharpnessSlider = nullptr;
    controls::TSlider* saturationSlider = nullptr;
    QLabel* brightnessField = nullptr;
    QLabel* contrastField = nullptr;
    QLabel* sharpnessField = nullptr;
    QLabel* saturationField = nullptr;
    // Set on "Device settings": how a capture keeps its video, when its file
    // goes on in a next one, and when it ends by itself. The capture page
    // reads them at Start and keeps them unchanged while a capture runs.
    QComboBox* compressionChoice = nullptr;
    QComboBox* splitChoice = nullptr;
    QCheckBox* stopAfterCheck = nullptr;
    controls::TDurationEdit* stopAfterTime = nullptr;
    // The device lists that a running capture keeps as they are.
    QComboBox* videoDevices = nullptr;
    QComboBox* videoFormats = nullptr;
    QComboBox* audioDevices = nullptr;
    QComboBox* audioFormats = nullptr;

    // The statistics once a second during a capture; the file's growth once
    // a second from any start; the audio level 20 times a second while the
    // audio device streams.
    fw::TTimer* statisticsTimer = nullptr;
    fw::TTimer* rateTimer = nullptr;
    fw::TTimer* levelTimer = nullptr;

    // Sets the controls' own properties and connects their handlers.
    void Connect();

    // A start: the "Start" button's (`from_button`) captures, any other
    // starts a preview alone when the preview is on.
    void Start(bool from_button);
    void onStartClicked() { Start(true); }
    void onStopClicked();
    void onPreviewClicked();
    // Ticks: the file's growth, the statistics, the audio level.
    void onRateTick();
    // Elapsed time, captured and dropped as `stats` has them.
    void ShowFrameFigures(const workflow::CaptureStatistics& stats);
    void onStatisticsTick();
    void onLevelTick();
    // Picture, compression and audio input controls.
    void onPictureChanged(QObject* slider);
    // Told, when the user's adjustment of picture sliders ended, what the
    // properties it set were before it (the device page remembers them).
    std::function<void(const DeviceControls& before)> on_controls_set;
    void onQualityChanged();
    void onInputLineChanged();
    void onVolumeChanged();
    void onVolumeMoved();

    // A capture device was chosen on "Device settings": the page can start,
    // and a preview that is ticked runs on the device (`video`: the video
    // device; a ticked preview then turns the preview mode on).
    void DeviceChosen(bool video);
    // The chosen video (`video`) or audio capture device went while no
    // capture ran, and its list chooses nothing now: its controls are
    // emptied and disabled, and with no capture device left the page is as
    // before the first choice (no start, the panel says where to choose
    // one). The graph is not touched.
    void DeviceGone(bool video);
    // Before the play-out takes over: a capture ends as "Stop" ends it and
    // the preview is unticked; whatever fails there is swallowed. True when
    // a capture ended.
    bool ReleaseForPlayout();

    // The picture sliders and the quality as the video device has them now,
    // nothing sent back; the input line and level the audio device has.
    void ShowVideoDeviceValues();
    void ShowAudioDeviceValues();
    // The quality of the video device's capture pin, nothing sent back.
    void ShowQuality(media::IPin* capture_pin);
    // Loads the picture sliders' ranges and values from the chosen video
    // device (`enable`: the sliders are enabled first); a property it lacks
    // is a disabled slider with an empty field. Leaves the graph active.
    void LoadPictureControls(bool enable);
    // Fills the input lines of the chosen audio device.
    void LoadInputLines(mediagraph::TPinList& inputs);

    // Dropped frames at the previous statistics tick: a figure that moved
    // since is shown in red.
    int32_t previousDropped = 0;

    // The device enumerator the audio input controls find their device
    // with; the device page owns it.
    void SetDeviceEnum(mediagraph::TSysDevEnum* devices) { m_devices = devices; }

private:
    void OnCaptureStarted(bool capture);
    void OnCaptureEnded();
    void PlacePreview(media::IVideoWindow* window);
    void StartLevels();
    void SetCaptureLocks(bool enabled);

    QWidget* m_window;
    workflow::CaptureSession& m_session;
    mediagraph::TSysDevEnum* m_devices = nullptr;
    // The picture properties an adjustment in progress set, as they were
    // before it.
    DeviceControls m_adjusting;
};

}  // namespace ronvix::app::pages
