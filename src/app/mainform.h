#pragma once
// TMainForm: the program's only working window, with its three pages
// "Capture", "Print to Tape" and "Device settings", and the non-visual
// components it owns for its whole life. The layout comes from the table in
// layout.cpp; the handlers' bodies live with their workflows (capture/,
// tape/). UI thread only.

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>

#include "capture/session.h"
#include "controls/appevents.h"
#include "controls/durationedit.h"
#include "controls/filenameedit.h"
#include "controls/levelmeter.h"
#include "controls/slider.h"
#include "framework/component.h"
#include "framework/form.h"
#include "framework/timer.h"
#include "mediagraph/seek_bar.h"
#include "mediagraph/filter.h"
#include "mediagraph/filtergraph.h"
#include "mediagraph/samplegrabber.h"
#include "mediagraph/videowindow.h"
#include "settings/formstorage.h"
#include "tape/session.h"

namespace ronvix::app {

class TMainForm : public fw::TForm {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Handlers of the window's own events and of the shell's controls.
    void FormShow(QObject* sender);
    void FormClose(QObject* sender, fw::TCloseAction& action);
    void ComboBox1Change(QObject* sender);
    void GroupBox4Click(QObject* sender);

    // A control of the layout by name (null for an unknown name).
    QWidget* Control(const QString& name) const { return m_widgets.value(name); }
    const QHash<QString, QWidget*>& Controls() const { return m_widgets; }

    // The status bar's credit line.
    static QString CreditLine();

    // Top level.
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QWidget* TabSheet2 = nullptr;

    // Page "Capture".
    QGroupBox* GroupBox4 = nullptr;
    controls::TFilenameEdit* savedialog = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* OverCheck = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QCheckBox* preview = nullptr;
    QPushButton* StartButton = nullptr;
    QPushButton* StopButton = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Time_info = nullptr;
    QLabel* Capture_info = nullptr;
    QLabel* Dropped_info = nullptr;
    QLabel* FreeSpaceText = nullptr;
    QLabel* StaticText7 = nullptr;
    QLabel* StaticText6 = nullptr;
    QPushButton* set_marker = nullptr;
    // Shown while the video device delivers no frames during a capture.
    QLabel* Signal_info = nullptr;
    QGroupBox* GroupBox6 = nullptr;
    controls::TSlider* Quality_slider = nullptr;
    QLabel* Quality_text = nullptr;
    QFrame* Panel1 = nullptr;
    QGroupBox* GroupBox11 = nullptr;
    QComboBox* InputLines = nullptr;
    controls::TSlider* VolumeSlider = nullptr;
    QLabel* StaticText8 = nullptr;
    // The peak level of each channel of the audio device while it streams
    // (a capture, or a preview with an audio device chosen).
    controls::TLevelMeter* AudioMeter = nullptr;
    QGroupBox* GroupBox5 = nullptr;
    controls::TSlider* Brightness_slider = nullptr;
    controls::TSlider* Contrast_SLIDER = nullptr;
    controls::TSlider* sharpness_slider = nullptr;
    controls::TSlider* saturation_slider = nullptr;
    QLabel* StaticText1 = nullptr;
    QLabel* StaticText2 = nullptr;
    QLabel* StaticText3 = nullptr;
    QLabel* StaticText4 = nullptr;
    QProgressBar* ABar = nullptr;

    // Page "Print to Tape".
    QFrame* Panel2 = nullptr;
    mediagraph::TVideoWindow* VideoWindow1 = nullptr;
    QGroupBox* GroupBox9 = nullptr;
    controls::TFilenameEdit* SourceFilename = nullptr;
    QGroupBox* GroupBox10 = nullptr;
    QPushButton* Start_print = nullptr;
    QPushButton* Stop_print = nullptr;
    QPushButton* Button33 = nullptr;
    QLabel* StaticText5 = nullptr;
    QLabel* StaticText9 = nullptr;
    mediagraph::TDSTrackBar* DSTrackBar1 = nullptr;

    // Page "Device settings".
    QComboBox* VideoCapFilters = nullptr;
    QPushButton* Button1 = nullptr;
    QComboBox* VideoFormats = nullptr;
    QComboBox* AudioCapFilters = nullptr;
    QPushButton* Button2 = nullptr;
    QComboBox* AudioFormats = nullptr;
    QComboBox* VideoOutFilters = nullptr;
    QPushButton* Button333 = nullptr;
    QComboBox* VideoOutFormats = nullptr;
    QComboBox* AudioDestFilters = nullptr;
    QPushButton* Button4 = nullptr;
    QComboBox* AudioDestFormats = nullptr;
    QComboBox* ComboBox1 = nullptr;
    // "Stop capture after": a capture ends by itself after that much stream
    // time (off by default).
    QCheckBox* StopAfterCheck = nullptr;
    controls::TDurationEdit* StopAfterTime = nullptr;
    // "Video compression": how a capture keeps the video of a source that
    // delivers raw YUV (CaptureCompression); MJPG sources are recorded as
    // they come.
    QLabel* Label23 = nullptr;
    QComboBox* CompressionBox = nullptr;
    // "Begin a new file after": a size after which a capture goes on in a
    // next file (see capture::kSplitSizes); a file system that refuses a
    // larger file starts one whatever the choice.
    QGroupBox* GroupBox13 = nullptr;
    QLabel* Label24 = nullptr;
    QComboBox* SplitSize = nullptr;

    // Non-visual components.
    mediagraph::TFilterGraph* CaptureGraph = nullptr;
    mediagraph::TFilter* VideoSourceFilter = nullptr;
    fw::TTimer* Timer = nullptr;
    // Feeds AudioMeter from the capture graph's level meter, 20 times a
    // second while the audio device streams.
    fw::TTimer* LevelTimer = nullptr;
    mediagraph::TFilter* AudioSourceFilter = nullptr;
    mediagraph::TFilter* sync = nullptr;
    mediagraph::TFilter* videowindow = nullptr;
    settings::TFormStorage* FormStorage1 = nullptr;
    controls::TAppEvents* AppEvents1 = nullptr;
    mediagraph::TFilter* VideoDestFilter = nullptr;
    mediagraph::TFilterGraph* OutGraph = nullptr;
    mediagraph::TFilter* AudioDestFilter = nullptr;
    mediagraph::TFilter* Splitter = nullptr;
    fw::TTimer* Timer2 = nullptr;
    mediagraph::TSampleGrabber* SampleGrabber = nullptr;
    fw::TTimer* Timer3 = nullptr;
    mediagraph::TSampleGrabber* OutGrabber = nullptr;
    fw::TTimer* Timer4 = nullptr;
    fw::TTimer* Timer1 = nullptr;
    mediagraph::TFilter* DestSync = nullptr;
    mediagraph::TFilter* VideoDestWindow = nullptr;

    // --- Capture workflow (bodies in capture/) ---

    // Creation and destruction of the window: the device lists, the
    // enumerator and the media type lists.
    void FormCreate(QObject* sender);
    void FormDestroy(QObject* sender);
    // Device selection ("Device settings") and the devices' property pages.
    void VideoCapFiltersClick(QObject* sender);
    void AudioCapFiltersClick(QObject* sender);
    void VideoOutFiltersClick(QObject* sender);
    void AudioDestFiltersClick(QObject* sender);
    void VideoCapFiltersDblClick(QObject* sender);
    void AudioCapFiltersDblClick(QObject* sender);
    void Button333Click(QObject* sender);
    // The stored devices chosen again by their stored monikers (before the
    // show sequence runs the selections), and the monikers of the chosen
    // devices stored beside the list positions when the settings are saved.
    void SelectStoredDevices();
    void FormStorage1SavePlacement(QObject* sender);
    // The capture and preview session. A start whose sender has tag 100 is
    // the "Start" button's; any other (or none) starts a preview alone when
    // the preview flag is set.
    void StartButtonClick(QObject* sender);
    void StopButtonClick(QObject* sender);
    void previewClick(QObject* sender);
    // The engine gave up on the running capture (a full disk, a lost device).
    void CaptureGraphGraphErrorAbort(QObject* sender, com::HRESULT result);
    // A capture device of the capture graph vanished (EC_DEVICE_LOST).
    void CaptureGraphGraphDeviceLost(QObject* sender, com::IUnknown* device, bool removed);
    // The capture file reached the timed stop (EC_STREAM_CONTROL_STOPPED
    // from its mux): the capture ends as "Stop" ends it.
    void CaptureGraphGraphStreamControlStopped(QObject* sender);
    // Statistics, on the user interface thread. The data rate and the
    // remaining time count the capture file's own growth (capture/counters.h).
    void Timer3Timer(QObject* sender);
    void TimerTimer(QObject* sender);
    void LevelTimerTimer(QObject* sender);
    // The meter's levels from now on (null: none), and the tick that shows
    // them.
    void StartLevels(media::IBaseFilter* meter);
    void CaptureGraphGraphBufferingData(QObject* sender, bool buffering);
    // Picture, compression and audio input controls.
    void Brightness_sliderChange(QObject* sender);
    void Quality_sliderChange(QObject* sender);
    void Quality_sliderMouseMove(QObject* sender, Qt::MouseButtons buttons,
                                 Qt::KeyboardModifiers modifiers);
    void InputLinesChange(QObject* sender);
    void VolumeSliderChange(QObject* sender);
    void SLiderChange(QObject* sender);

    // What the capture handlers keep between them (capture/session.h).
    capture::TCaptureSession m_capture;

    // --- Tape output workflow (bodies in tape/) ---

    // "Print to Tape": play the file named by SourceFilename out to the
    // chosen video output device, with pause, stop, seek, time and rate.
    void Start_printClick(QObject* sender);
    void Stop_printClick(QObject* sender);
    void Button33Click(QObject* sender);
    // The end of the missing-file flash.
    void Timer2Timer(QObject* sender);
    // The rate display, once a second while a session runs.
    void Timer4Timer(QObject* sender);
    // The time display, at every position change of the seek bar.
    void DSTrackBar1Change(QObject* sender);
    void DSTrackBar1KeyUp(QObject* sender, int& key, Qt::KeyboardModifiers shift);
    // Streaming thread: counts the bytes of one buffer sent to the output
    // device, into the tape page's own count.
    void OutGrabberBuffer(QObject* sender, double sample_time, void* buffer, int buffer_len);
    // The engine gave up on the play-out (a failing output), or one of its
    // devices vanished (EC_DEVICE_LOST): the play-out ends as "Stop" ends
    // it and the user is told once.
    void OutGraphGraphErrorAbort(QObject* sender, com::HRESULT result);
    void OutGraphGraphDeviceLost(QObject* sender, com::IUnknown* device, bool removed);
    // Ends a running play-out as "Stop" does; false when none ran. Choosing
    // an output device during a play-out uses it before the output graph
    // changes under the session.
    bool EndPlayout();

    // What the tape output handlers keep between them (tape/session.h).
    tape::TTapeSession m_tape;

private:
    void BindShellHandlers();
    void BindCaptureHandlers();
    void BindTapeHandlers();
    void CreateControls();
    void DeliverFirstGeometry();
    void CreateComponents();
    template <class T>
    void Bind(T*& member, const char* name);

    QHash<QString, QWidget*> m_widgets;
    // Whether the application is minimised, as its events last said.
    bool m_minimized = false;
    // The process handle the priority change opened; kept open for the
    // life of the window, as the platform's handle is.
    intptr_t m_process = 0;
};

}  // namespace ronvix::app
