#include "app/main_window.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QVBoxLayout>

#include "app/layout.h"
#include "app/pages/stored_settings.h"
#include "framework/application.h"
#include "framework/bind.h"
#include "framework/component.h"
#include "framework/strings.h"
#include "mediagraph/platform.h"
#include "platform/win/files.h"
#include "workflow/capture_texts.h"

namespace ronvix::app {

namespace {
constexpr int kClientWidth = 700;
constexpr int kClientHeight = 545;
constexpr int kStatusHeight = 19;
}  // namespace

QString MainWindow::CreditLine() {
    return QStringLiteral("Ronvix: video capture and print to tape");
}

MainWindow::MainWindow(QWidget* parent) : fw::TForm(parent) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Ronvix"));
    // A single fixed border with system menu and minimise, no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(WindowFont());
    setFixedSize(kClientWidth, kClientHeight);
    CreateComponents();
    CreateControls();
    // The window's own handlers are set before loading ends: the settings
    // store takes them over then and calls them after its own work.
    Connect();
    fw::LoadComponents(captureSession);
    fw::LoadComponents(playoutSession);
    fw::LoadComponents(this);

    // Centred on the desktop.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - kClientWidth) / 2,
             area.y() + (area.height() - kClientHeight) / 2);
    }
    DoCreate();
}

MainWindow::~MainWindow() {
    DoDestroy();
}

void MainWindow::CreateControls() {
    statusBar = new QStatusBar(this);
    statusBar->setObjectName(QStringLiteral("StatusBar1"));
    statusBar->setSizeGripEnabled(false);
    statusBar->setGeometry(0, kClientHeight - kStatusHeight, kClientWidth, kStatusHeight);
    statusPanel = new QLabel(CreditLine(), statusBar);
    statusPanel->setObjectName(QStringLiteral("StatusPanel"));
    statusPanel->setAlignment(Qt::AlignCenter);
    statusPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    statusBar->addWidget(statusPanel, 1);

    tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("PageControl1"));
    tabs->setGeometry(0, 0, kClientWidth, kClientHeight - kStatusHeight);
    tabs->setDocumentMode(false);
    tabs->tabBar()->setExpanding(false);
    for (const PageSpec& p : MainFormPages()) {
        auto* sheet = new QWidget();
        sheet->setObjectName(QString::fromUtf8(p.name));
        tabs->addTab(sheet, QString::fromUtf8(p.caption));
        m_widgets.insert(sheet->objectName(), sheet);
    }

    BuildLayout(MainFormControls(), m_widgets);
    BindControls(m_widgets, *this);

    // Properties beyond the table.
    capturePriority->addItems({QStringLiteral("Realtime"), QStringLiteral("High"),
                               QStringLiteral("Normal"), QStringLiteral("Idle")});
    capturePriority->setCurrentIndex(1);
    // A tape's usual length until the user sets another.
    capturePage->stopAfterTime->SetSeconds(2 * 3600);
    // In the order of mediagraph::TVideoCompression; MJPEG (the quality
    // slider's) until the user chooses another.
    capturePage->compressionChoice->addItems({QStringLiteral("MJPEG"),
                                              QStringLiteral("Lossless (FFV1)"),
                                              QStringLiteral("Uncompressed")});
    capturePage->compressionChoice->setCurrentIndex(0);
    for (const workflow::SplitSizeChoice& c : workflow::kSplitSizes)
        capturePage->splitChoice->addItem(QString::fromUtf8(c.text));
    capturePage->splitChoice->setCurrentIndex(0);

    tabs->setCurrentIndex(0);
    BuildTabOrder(this);
    DeliverFirstGeometry();
}

void MainWindow::DeliverFirstGeometry() {
    // Qt holds a hidden widget's first move and resize events until it is
    // first shown. The controls of a page not yet visited would receive them
    // on the user's first visit, when a graph may be active and a video
    // window's renderer unconnected, which reports an error for a resize
    // nobody made. Every control gets its designed geometry now instead.
    for (QWidget* w : findChildren<QWidget*>()) {
        if (w->testAttribute(Qt::WA_PendingMoveEvent)) {
            w->setAttribute(Qt::WA_PendingMoveEvent, false);
            QMoveEvent moved(w->pos(), w->pos());
            QCoreApplication::sendEvent(w, &moved);
        }
        if (w->testAttribute(Qt::WA_PendingResizeEvent)) {
            w->setAttribute(Qt::WA_PendingResizeEvent, false);
            QResizeEvent resized(w->size(), QSize());
            QCoreApplication::sendEvent(w, &resized);
        }
    }
}

void MainWindow::CreateComponents() {
    mediagraph::RegisterPlatformClasses();
    // The graphs and their components, with their stored monikers, graph
    // bindings and media types, belong to the sessions.
    captureSession = new workflow::CaptureSession(this);
    playoutSession = new workflow::PlayoutSession(this);
    formStorage = new settings::TFormStorage(this, QStringLiteral("FormStorage1"));
    formStorage->SetIniFileName(QString::fromLatin1(pages::kSettingsFile));
    formStorage->SetIniSection(QString::fromLatin1(pages::kWindowSection));
    formStorage->SetStoredProps(pages::StoredControlProperties());
    appEvents = new controls::TAppEvents(this, QStringLiteral("AppEvents1"));
    appEvents->OnMinimize = [this](QObject*) { m_minimized = true; };
    appEvents->OnRestore = [this](QObject*) { m_minimized = false; };
    capturePage = new pages::CapturePage(this, *captureSession);
    playoutPage = new pages::PlayoutPage(this, *playoutSession);
    devicePage =
        new pages::DevicePage(this, *captureSession, *playoutSession, *capturePage, *formStorage);
}

}  // namespace ronvix::app
