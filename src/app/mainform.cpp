#include "app/mainform.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QVBoxLayout>

#include "app/layout.h"
#include "framework/application.h"
#include "framework/bind.h"
#include "framework/strings.h"
#include "mediagraph/formdata.h"
#include "mediagraph/platform.h"
#include "platform/win/files.h"

namespace ronvix::app {

namespace {
constexpr int kClientWidth = 700;
constexpr int kClientHeight = 545;
constexpr int kStatusHeight = 19;
}  // namespace

QString TMainForm::CreditLine() {
    return QStringLiteral("Ronvix: video capture and print to tape");
}

template <class T>
void TMainForm::Bind(T*& member, const char* name) {
    member = qobject_cast<T*>(m_widgets.value(QString::fromUtf8(name)));
    Q_ASSERT_X(member, "TMainForm::Bind", name);
}

TMainForm::TMainForm(QWidget* parent) : fw::TForm(parent) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Ronvix"));
    // A single fixed border with system menu and minimise, no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(WindowFont());
    setFixedSize(kClientWidth, kClientHeight);
    CreateControls();
    CreateComponents();
    // The window's own handlers are set before loading ends: the settings
    // store takes them over then and calls them after its own work.
    BindShellHandlers();
    fw::LoadComponents(this);

    // Centred on the desktop.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - kClientWidth) / 2,
             area.y() + (area.height() - kClientHeight) / 2);
    }
    DoCreate();
}

TMainForm::~TMainForm() {
    DoDestroy();
}

void TMainForm::CreateControls() {
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, kClientHeight - kStatusHeight, kClientWidth, kStatusHeight);
    StatusPanel = new QLabel(CreditLine(), StatusBar1);
    StatusPanel->setObjectName(QStringLiteral("StatusPanel"));
    StatusPanel->setAlignment(Qt::AlignCenter);
    StatusPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    StatusBar1->addWidget(StatusPanel, 1);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(0, 0, kClientWidth, kClientHeight - kStatusHeight);
    PageControl1->setDocumentMode(false);
    PageControl1->tabBar()->setExpanding(false);
    struct Page {
        QWidget** member;
        const char* name;
        const char* caption;
    };
    const Page pages[] = {{&TabSheet1, "TabSheet1", "Capture"},
                          {&TabSheet3, "TabSheet3", "Print to Tape"},
                          {&TabSheet2, "TabSheet2", "Device settings"}};
    for (const Page& p : pages) {
        auto* sheet = new QWidget();
        sheet->setObjectName(QString::fromUtf8(p.name));
        PageControl1->addTab(sheet, QString::fromUtf8(p.caption));
        *p.member = sheet;
        m_widgets.insert(sheet->objectName(), sheet);
    }

    BuildLayout(MainFormControls(), m_widgets);

    Bind(GroupBox4, "GroupBox4");
    Bind(savedialog, "savedialog");
    Bind(CheckBox2, "CheckBox2");
    Bind(OverCheck, "OverCheck");
    Bind(GroupBox3, "GroupBox3");
    Bind(preview, "preview");
    Bind(StartButton, "StartButton");
    Bind(StopButton, "StopButton");
    Bind(Label10, "Label10");
    Bind(Time_info, "Time_info");
    Bind(Capture_info, "Capture_info");
    Bind(Dropped_info, "Dropped_info");
    Bind(FreeSpaceText, "FreeSpaceText");
    Bind(StaticText7, "StaticText7");
    Bind(StaticText6, "StaticText6");
    Bind(set_marker, "set_marker");
    Bind(Signal_info, "Signal_info");
    Bind(GroupBox6, "GroupBox6");
    Bind(Quality_slider, "Quality_slider");
    Bind(Quality_text, "Quality_text");
    Bind(Panel1, "Panel1");
    Bind(GroupBox11, "GroupBox11");
    Bind(InputLines, "InputLines");
    Bind(VolumeSlider, "VolumeSlider");
    Bind(StaticText8, "StaticText8");
    Bind(AudioMeter, "AudioMeter");
    Bind(GroupBox5, "GroupBox5");
    Bind(Brightness_slider, "Brightness_slider");
    Bind(Contrast_SLIDER, "Contrast_SLIDER");
    Bind(sharpness_slider, "sharpness_slider");
    Bind(saturation_slider, "saturation_slider");
    Bind(StaticText1, "StaticText1");
    Bind(StaticText2, "StaticText2");
    Bind(StaticText3, "StaticText3");
    Bind(StaticText4, "StaticText4");
    Bind(ABar, "ABar");
    Bind(Panel2, "Panel2");
    Bind(VideoWindow1, "VideoWindow1");
    Bind(GroupBox9, "GroupBox9");
    Bind(SourceFilename, "SourceFilename");
    Bind(GroupBox10, "GroupBox10");
    Bind(Start_print, "Start_print");
    Bind(Stop_print, "Stop_print");
    Bind(Button33, "Button33");
    Bind(StaticText5, "StaticText5");
    Bind(StaticText9, "StaticText9");
    Bind(DSTrackBar1, "DSTrackBar1");
    Bind(VideoCapFilters, "VideoCapFilters");
    Bind(Button1, "Button1");
    Bind(VideoFormats, "VideoFormats");
    Bind(AudioCapFilters, "AudioCapFilters");
    Bind(Button2, "Button2");
    Bind(AudioFormats, "AudioFormats");
    Bind(VideoOutFilters, "VideoOutFilters");
    Bind(Button333, "Button333");
    Bind(VideoOutFormats, "VideoOutFormats");
    Bind(AudioDestFilters, "AudioDestFilters");
    Bind(Button4, "Button4");
    Bind(AudioDestFormats, "AudioDestFormats");
    Bind(ComboBox1, "ComboBox1");
    Bind(StopAfterCheck, "StopAfterCheck");
    Bind(StopAfterTime, "StopAfterTime");
    Bind(Label23, "Label23");
    Bind(CompressionBox, "CompressionBox");
    Bind(GroupBox13, "GroupBox13");
    Bind(Label24, "Label24");
    Bind(SplitSize, "SplitSize");

    // Properties beyond the table.
    savedialog->SetDialogKind(controls::TFileDialogKind::dkSave);
    savedialog->SetDefaultExt(QStringLiteral("avi"));
    savedialog->SetFilter(QStringLiteral("AVI file|*.avi|All files (*.*)|*.*"));
    savedialog->SetDialogTitle(QStringLiteral("Set Capture File"));
    savedialog->SetNumGlyphs(1);
    SourceFilename->SetNumGlyphs(1);

    Quality_slider->SetIncrement(1);
    Quality_slider->SetValue(1);

    Signal_info->setWordWrap(true);
    QPalette warning = Signal_info->palette();
    warning.setColor(QPalette::WindowText, QColor(255, 0, 0));
    Signal_info->setPalette(warning);

    Panel1->setAutoFillBackground(true);
    QPalette black = Panel1->palette();
    black.setColor(QPalette::Window, Qt::black);
    Panel1->setPalette(black);

    ABar->setRange(0, 255);
    ABar->setValue(0);
    ABar->setTextVisible(false);

    DSTrackBar1->SetMax(1000);
    DSTrackBar1->setSingleStep(0);
    DSTrackBar1->setTickPosition(QSlider::NoTicks);

    ComboBox1->addItems({QStringLiteral("Realtime"), QStringLiteral("High"),
                         QStringLiteral("Normal"), QStringLiteral("Idle")});
    ComboBox1->setCurrentIndex(1);
    // A tape's usual length until the user sets another.
    StopAfterTime->SetSeconds(2 * 3600);
    // In the order of mediagraph::TVideoCompression; MJPEG (the quality
    // slider's) until the user chooses another.
    CompressionBox->addItems({QStringLiteral("MJPEG"), QStringLiteral("Lossless (FFV1)"),
                              QStringLiteral("Uncompressed")});
    CompressionBox->setCurrentIndex(0);
    for (const capture::SplitSizeChoice& c : capture::kSplitSizes)
        SplitSize->addItem(QString::fromUtf8(c.text));
    SplitSize->setCurrentIndex(0);

    PageControl1->setCurrentIndex(0);
    BuildTabOrder(this);
    DeliverFirstGeometry();
}

void TMainForm::DeliverFirstGeometry() {
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

void TMainForm::CreateComponents() {
    mediagraph::RegisterPlatformClasses();
    auto timer = [this](const char* name, int interval_ms, bool enabled) {
        auto* t = new fw::TTimer(this, QString::fromUtf8(name));
        t->SetEnabled(enabled);
        t->SetInterval(interval_ms);
        return t;
    };
    // The graphs, the filters with their stored monikers and graph bindings,
    // and the two grabbers with their stored media type.
    const mediagraph::MainFormMedia media = mediagraph::CreateMainFormMedia(this);
    CaptureGraph = media.CaptureGraph;
    VideoSourceFilter = media.VideoSourceFilter;
    AudioSourceFilter = media.AudioSourceFilter;
    sync = media.sync;
    videowindow = media.videowindow;
    VideoDestFilter = media.VideoDestFilter;
    OutGraph = media.OutGraph;
    AudioDestFilter = media.AudioDestFilter;
    Splitter = media.Splitter;
    SampleGrabber = media.SampleGrabber;
    OutGrabber = media.OutGrabber;
    DestSync = media.DestSync;
    VideoDestWindow = media.VideoDestWindow;

    Timer = timer("Timer", 1000, false);
    LevelTimer = timer("LevelTimer", 50, false);
    FormStorage1 = new settings::TFormStorage(this, QStringLiteral("FormStorage1"));
    FormStorage1->SetIniFileName(QStringLiteral("ZELK.ini"));
    FormStorage1->SetStoredProps(
        {"AudioCapFilters.ItemIndex", "VideoCapFilters.ItemIndex", "savedialog.FileName",
         "VideoFormats.ItemIndex", "AudioFormats.ItemIndex", "AudioDestFilters.ItemIndex",
         "VideoOutFilters.ItemIndex", "OverCheck.Checked", "SourceFilename.Text",
         "ComboBox1.ItemIndex", "StopAfterCheck.Checked", "StopAfterTime.Seconds",
         "CompressionBox.ItemIndex", "SplitSize.ItemIndex"});
    FormStorage1->OnSavePlacement = [this](QObject* sender) { FormStorage1SavePlacement(sender); };
    AppEvents1 = new controls::TAppEvents(this, QStringLiteral("AppEvents1"));
    AppEvents1->OnMinimize = [this](QObject*) { m_minimized = true; };
    AppEvents1->OnRestore = [this](QObject*) { m_minimized = false; };
    Timer2 = timer("Timer2", 1000, false);
    Timer3 = timer("Timer3", 1000, false);
    Timer4 = timer("Timer4", 1000, false);
    // Present in the form data without behaviour: a 100 ms timer whose tick
    // does nothing.
    Timer1 = timer("Timer1", 100, true);

    // The output page's video window and seek bar follow the output graph.
    VideoWindow1->VMROptions().SetMode(mediagraph::vmrWindowed);
    VideoWindow1->SetFilterGraph(OutGraph);
    VideoWindow1->Loaded();
    DSTrackBar1->SetTimerInterval(125);
    DSTrackBar1->SetFilterGraph(OutGraph);
}

}  // namespace ronvix::app
