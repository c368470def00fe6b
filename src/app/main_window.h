#pragma once
// The program's only working window: the three pages "Capture", "Print to
// Tape" and "Device settings" in their tabs, the two workflow sessions they
// drive, the settings store and the status bar. The controls come from the
// layout table (layout.cpp), which also hands them to the pages; the window
// itself handles what belongs to no page: showing and closing, the capture
// priority and the settings. UI thread only.

#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QStatusBar>
#include <QTabWidget>

#include "app/pages/capture_page.h"
#include "app/pages/device_page.h"
#include "app/pages/playout_page.h"
#include "controls/appevents.h"
#include "framework/form.h"
#include "settings/formstorage.h"
#include "workflow/capture_session.h"
#include "workflow/playout_session.h"

namespace ronvix::app {

class MainWindow : public fw::TForm {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // A control of the layout by its name in the layout table (null for an
    // unknown name): for checks of the layout itself.
    QWidget* Control(const QString& name) const { return m_widgets.value(name); }
    const QHash<QString, QWidget*>& Controls() const { return m_widgets; }

    // The status bar's credit line.
    static QString CreditLine();

    QStatusBar* statusBar = nullptr;
    QLabel* statusPanel = nullptr;
    QTabWidget* tabs = nullptr;
    QWidget* captureTab = nullptr;
    QWidget* playoutTab = nullptr;
    QWidget* deviceTab = nullptr;
    // "Capture priority" on "Device settings": the process's scheduling
    // class, applied when chosen and when the window is shown.
    QComboBox* capturePriority = nullptr;
    // The "Filename" frames of the capture and play-out pages.
    QWidget* captureFileFrame = nullptr;
    QWidget* playoutFileFrame = nullptr;

    workflow::CaptureSession* captureSession = nullptr;
    workflow::PlayoutSession* playoutSession = nullptr;
    pages::CapturePage* capturePage = nullptr;
    pages::PlayoutPage* playoutPage = nullptr;
    pages::DevicePage* devicePage = nullptr;
    settings::TFormStorage* formStorage = nullptr;
    controls::TAppEvents* appEvents = nullptr;

    void onShow();
    void onClose();
    void onCreate();
    void onDestroy();
    void onPriorityChosen();
    // A click on a "Filename" frame raises the interface thread's priority.
    void onFileFrameClicked();

private:
    void CreateControls();
    void DeliverFirstGeometry();
    void CreateComponents();
    void Connect();

    QHash<QString, QWidget*> m_widgets;
    // Whether the application is minimised, as its events last said.
    bool m_minimized = false;
    // The process handle the priority change opened; kept open for the
    // life of the window, as the platform's handle is.
    intptr_t m_process = 0;
};

}  // namespace ronvix::app
