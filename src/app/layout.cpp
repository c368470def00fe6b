#include "app/layout.h"

#include "app/main_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <vector>

#include "controls/durationedit.h"
#include "controls/filenameedit.h"
#include "controls/groupframe.h"
#include "controls/levelmeter.h"
#include "controls/slider.h"
#include "framework/component.h"
#include "mediagraph/seek_bar.h"
#include "mediagraph/videowindow.h"

namespace ronvix::app {
namespace {

using K = ControlKind;

// clang-format off
const ControlSpec kControls[] = {
    // Page "Capture".
    {"GroupBox4", K::GroupBox, "TabSheet1", "Filename", 1, 0, 297, 73, 2},
    {"savedialog", K::FilenameEdit, "GroupBox4", "c:\\capture.avi", 11, 18, 274, 21, 0},
    {"CheckBox2", K::CheckBox, "GroupBox4", "Generate filenames", 11, 48, 118, 17, 1},
    {"OverCheck", K::CheckBox, "GroupBox4", "Overwrite", 144, 48, 97, 17, 2},
    {"GroupBox3", K::GroupBox, "TabSheet1", "Process control", 1, 82, 297, 159, 0},
    {"preview", K::CheckBox, "GroupBox3", "Preview", 8, 18, 65, 17, 0, false},
    {"StartButton", K::Button, "GroupBox3", "Start", 7, 41, 85, 25, 2, false, true, 100},
    {"StopButton", K::Button, "GroupBox3", "Stop", 7, 73, 85, 25, 4, false},
    {"Label2", K::Label, "GroupBox3", "Elapsed time:", 113, 16, 63, 13, kNoTab},
    {"Label6", K::Label, "GroupBox3", "Captured:", 130, 40, 46, 13, kNoTab},
    {"Label7", K::Label, "GroupBox3", "Dropped:", 132, 63, 44, 13, kNoTab},
    {"Label10", K::Label, "GroupBox3", "Free space:", 120, 87, 56, 13, kNoTab},
    {"Label20", K::Label, "GroupBox3", "Remaining time:", 101, 111, 75, 13, kNoTab},
    {"Label19", K::Label, "GroupBox3", "Average data rate:", 88, 135, 88, 13, kNoTab},
    {"Time_info", K::StatField, "GroupBox3", "", 180, 14, 110, 17, 6},
    {"Capture_info", K::StatField, "GroupBox3", "", 180, 38, 110, 17, 5},
    {"Dropped_info", K::StatField, "GroupBox3", "", 180, 61, 110, 17, 3},
    {"FreeSpaceText", K::StatField, "GroupBox3", "", 180, 85, 110, 17, 1},
    {"StaticText7", K::StatField, "GroupBox3", "", 180, 109, 110, 17, 9},
    {"StaticText6", K::StatField, "GroupBox3", "", 180, 133, 110, 17, 8},
    {"set_marker", K::Button, "GroupBox3", "Set marker", -1, 153, 85, 25, 7, true, false},
    {"Signal_info", K::Label, "GroupBox3", "", 8, 106, 78, 28, kNoTab, true, false},
    {"GroupBox6", K::GroupBox, "TabSheet1", "Average data rate", 1, 241, 297, 54, 4},
    {"Quality_slider", K::Slider, "GroupBox6", "", 2, 15, 215, 30, 1, false},
    {"Quality_text", K::ValueField, "GroupBox6", "", 216, 21, 73, 17, 0},
    {"Panel1", K::Panel, "TabSheet1", "", 304, 5, 387, 291, 1},
    {"GroupBox11", K::GroupBox, "TabSheet1", "Audio settings", 2, 298, 688, 65, 6},
    {"Label9", K::Label, "GroupBox11", "Input Line", 7, 28, 47, 13, kNoTab},
    {"InputLines", K::ComboBox, "GroupBox11", "", 64, 25, 153, 21, 0},
    {"VolumeSlider", K::Slider, "GroupBox11", "", 224, 22, 381, 31, 1},
    {"StaticText8", K::ValueField, "GroupBox11", "", 613, 27, 55, 17, 2},
    // Added below the input line, where the group has room.
    {"AudioMeter", K::LevelMeter, "GroupBox11", "", 7, 50, 210, 10, kNoTab},
    {"GroupBox5", K::GroupBox, "TabSheet1", "Video Settings", 2, 367, 689, 129, 3},
    {"Label11", K::Label, "GroupBox5", "Brightness", 13, 25, 49, 13, kNoTab},
    {"Brightness_slider", K::Slider, "GroupBox5", "", 69, 17, 535, 28, 0, false, true, 1},
    {"StaticText1", K::ValueField, "GroupBox5", "", 613, 23, 55, 17, 4},
    {"Label12", K::Label, "GroupBox5", "Contrast", 23, 50, 39, 13, kNoTab},
    {"Contrast_SLIDER", K::Slider, "GroupBox5", "", 69, 42, 535, 28, 1, false, true, 2},
    {"StaticText2", K::ValueField, "GroupBox5", "", 613, 48, 55, 17, 5},
    {"Label13", K::Label, "GroupBox5", "Shrapness", 12, 76, 50, 13, kNoTab},
    {"sharpness_slider", K::Slider, "GroupBox5", "", 69, 68, 535, 28, 3, false, true, 5},
    {"StaticText3", K::ValueField, "GroupBox5", "", 613, 74, 55, 17, 6},
    {"Label14", K::Label, "GroupBox5", "Saturation", 14, 101, 48, 13, kNoTab},
    {"saturation_slider", K::Slider, "GroupBox5", "", 69, 93, 535, 28, 2, false, true, 4},
    {"StaticText4", K::ValueField, "GroupBox5", "", 613, 99, 55, 17, 7},
    {"ABar", K::ProgressBar, "TabSheet1", "", 64, 560, 577, 17, 5},

    // Page "Print to Tape".
    {"Panel2", K::Panel, "TabSheet3", "", 151, 21, 387, 291, 0},
    {"VideoWindow1", K::VideoWindow, "Panel2", "", 1, 1, 385, 289, kNoTab},
    {"GroupBox9", K::GroupBox, "TabSheet3", "Filename", 9, 330, 302, 111, 1},
    {"SourceFilename", K::FilenameEdit, "GroupBox9", "c:\\capture.avi", 8, 47, 281, 21, 0},
    {"GroupBox10", K::GroupBox, "TabSheet3", "Process control", 315, 329, 367, 112, 2},
    {"Start_print", K::Button, "GroupBox10", "Play", 17, 23, 85, 25, 0, true, true, 100},
    {"Stop_print", K::Button, "GroupBox10", "Stop", 139, 23, 85, 25, 1, false},
    {"Button33", K::Button, "GroupBox10", "Pause", 260, 23, 85, 25, 2, false},
    {"Label18", K::Label, "GroupBox10", "Time:", 122, 63, 26, 13, kNoTab},
    {"StaticText5", K::StatField, "GroupBox10", "", 154, 61, 121, 17, 3},
    {"Label21", K::Label, "GroupBox10", "Average data rate:", 58, 87, 88, 13, kNoTab},
    {"StaticText9", K::StatField, "GroupBox10", "", 154, 86, 121, 17, 4},
    {"DSTrackBar1", K::TrackBar, "TabSheet3", "", 1, 459, 689, 25, 3, false},

    // Page "Device settings".
    {"GroupBox2", K::GroupBox, "TabSheet2", "Video capture settings", 1, 5, 689, 84, 0},
    {"Label1", K::Label, "GroupBox2", "Device", 43, 24, 34, 13, kNoTab},
    {"VideoCapFilters", K::ComboBox, "GroupBox2", "", 88, 20, 489, 21, 1},
    {"Button1", K::Button, "GroupBox2", "Properties", 584, 16, 89, 25, 2, false},
    {"Label3", K::Label, "GroupBox2", "Select Format", 12, 52, 65, 13, kNoTab},
    {"VideoFormats", K::ComboBox, "GroupBox2", "", 88, 48, 585, 21, 0},
    {"GroupBox1", K::GroupBox, "TabSheet2", "Audio capture settings", 1, 92, 689, 85, 1},
    {"Label5", K::Label, "GroupBox1", "Device", 43, 23, 34, 13, kNoTab},
    {"AudioCapFilters", K::ComboBox, "GroupBox1", "", 88, 19, 489, 21, 1},
    {"Button2", K::Button, "GroupBox1", "Properties", 584, 16, 89, 25, 2, false},
    {"Label4", K::Label, "GroupBox1", "Select Format", 12, 52, 65, 13, kNoTab},
    {"AudioFormats", K::ComboBox, "GroupBox1", "", 88, 48, 585, 21, 0},
    {"GroupBox7", K::GroupBox, "TabSheet2", "Video output settings", 1, 181, 689, 84, 2},
    {"Label8", K::Label, "GroupBox7", "Device", 43, 24, 34, 13, kNoTab},
    {"VideoOutFilters", K::ComboBox, "GroupBox7", "", 88, 20, 489, 21, 1},
    {"Button333", K::Button, "GroupBox7", "Properties", 584, 16, 89, 25, 2, false},
    {"Label15", K::Label, "GroupBox7", "Select Format", 12, 52, 65, 13, kNoTab},
    {"VideoOutFormats", K::ComboBox, "GroupBox7", "", 88, 48, 585, 21, 0},
    {"GroupBox8", K::GroupBox, "TabSheet2", "Audio output settings", 1, 268, 689, 85, 3},
    {"Label17", K::Label, "GroupBox8", "Device", 43, 23, 34, 13, kNoTab},
    {"AudioDestFilters", K::ComboBox, "GroupBox8", "", 88, 19, 489, 21, 1},
    {"Button4", K::Button, "GroupBox8", "Properties", 584, 16, 89, 25, 2, false},
    {"Label16", K::Label, "GroupBox8", "Select Format", 12, 52, 65, 13, kNoTab},
    {"AudioDestFormats", K::ComboBox, "GroupBox8", "", 88, 48, 585, 21, 0},
    {"GroupBox12", K::GroupBox, "TabSheet2", "Preferences", 1, 356, 689, 61, 4},
    {"Label22", K::Label, "GroupBox12", "Capture priority", 8, 25, 70, 13, kNoTab},
    {"ComboBox1", K::ComboBox, "GroupBox12", "", 88, 22, 97, 21, 0},
    // Added beside the original controls, where the group has room.
    {"StopAfterCheck", K::CheckBox, "GroupBox12", "Stop capture after", 212, 24, 116, 17, 1},
    {"StopAfterTime", K::DurationEdit, "GroupBox12", "", 330, 22, 70, 21, 2},
    {"Label23", K::Label, "GroupBox12", "Video compression", 414, 25, 88, 13, kNoTab},
    {"CompressionBox", K::ComboBox, "GroupBox12", "", 506, 22, 108, 21, 3},
    // Added below the original groups, where the page has room.
    {"GroupBox13", K::GroupBox, "TabSheet2", "Capture files", 1, 420, 689, 50, 5},
    {"Label24", K::Label, "GroupBox13", "Begin a new file after", 8, 24, 108, 13, kNoTab},
    {"SplitSize", K::ComboBox, "GroupBox13", "", 120, 20, 130, 21, 0},
};
// clang-format on

QWidget* Create(const ControlSpec& s, QWidget* parent) {
    const QString text = QString::fromUtf8(s.text);
    switch (s.kind) {
        case K::GroupBox:
            return new controls::TGroupFrame(text, parent);
        case K::CheckBox:
            return new QCheckBox(text, parent);
        case K::Button:
            return new QPushButton(text, parent);
        case K::Label: {
            auto* l = new QLabel(text, parent);
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return l;
        }
        case K::StatField:
        case K::ValueField: {
            auto* l = new QLabel(text, parent);
            l->setAlignment(Qt::AlignCenter);
            l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            l->setLineWidth(1);
            if (s.kind == K::StatField)
                l->setFont(StatisticsFont());
            return l;
        }
        case K::ComboBox: {
            auto* c = new QComboBox(parent);
            c->setEditable(false);
            return c;
        }
        case K::Slider: {
            auto* sl = new controls::TSlider(parent);
            // A slider with the keyboard focus shows it, as every other
            // control of the window does: the arrow keys move that slider.
            sl->SetOptions(controls::TCustomSlider::soSmooth |
                           controls::TCustomSlider::soShowFocus);
            return sl;
        }
        case K::FilenameEdit: {
            auto* e = new controls::TFilenameEdit(parent);
            e->SetText(text);
            return e;
        }
        case K::Panel: {
            auto* f = new QFrame(parent);
            f->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            f->setLineWidth(1);
            return f;
        }
        case K::VideoWindow: {
            auto* w = new mediagraph::TVideoWindow(parent);
            w->setAutoFillBackground(true);
            QPalette p = w->palette();
            p.setColor(QPalette::Window, Qt::black);
            w->setPalette(p);
            return w;
        }
        case K::TrackBar: {
            auto* t = new mediagraph::TDSTrackBar(parent);
            t->setOrientation(Qt::Horizontal);
            return t;
        }
        case K::ProgressBar: {
            // An 8-bit level, empty, without a percentage.
            auto* bar = new QProgressBar(parent);
            bar->setRange(0, 255);
            bar->setValue(0);
            bar->setTextVisible(false);
            return bar;
        }
        case K::DurationEdit:
            return new controls::TDurationEdit(parent);
        case K::LevelMeter:
            return new controls::TLevelMeter(parent);
    }
    return nullptr;
}

}  // namespace

std::span<const ControlSpec> MainFormControls() {
    return kControls;
}

QFont WindowFont() {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(11);
    // Liberation Sans runs about 7 % wider than the bitmap face the boxes
    // were sized for; a slight horizontal condensing keeps every caption
    // inside its designed box without moving any control.
    f.setStretch(92);
    return f;
}

QFont StatisticsFont() {
    QFont f(QStringLiteral("Liberation Mono"));
    f.setPixelSize(11);
    return f;
}

void BuildLayout(std::span<const ControlSpec> specs, QHash<QString, QWidget*>& widgets) {
    for (const ControlSpec& s : specs) {
        QWidget* parent = widgets.value(QString::fromUtf8(s.parent));
        Q_ASSERT_X(parent, "BuildLayout", s.parent);
        QWidget* w = Create(s, parent);
        w->setObjectName(QString::fromUtf8(s.name));
        w->setGeometry(s.left, s.top, s.width, s.height);
        w->setEnabled(s.enabled);
        if (!s.visible)
            w->setVisible(false);
        fw::SetTag(w, s.tag);
        w->setProperty("TabOrder", s.tab_order);
        if (s.tab_order == kNoTab)
            w->setFocusPolicy(Qt::NoFocus);
        widgets.insert(w->objectName(), w);
    }
}

namespace {
bool InTabOrder(const QWidget* w) {
    const QVariant order = w->property("TabOrder");
    return order.isValid() && order.toInt() != kNoTab;
}

// Depth first: the laid-out children of `parent` in tab order (others, such
// as pages, in creation order), each followed by what lies inside it.
void CollectFocusOrder(QWidget* parent, std::vector<QWidget*>& out) {
    std::vector<QWidget*> kids;
    for (QObject* o : parent->children())
        if (auto* w = qobject_cast<QWidget*>(o))
            kids.push_back(w);
    std::stable_sort(kids.begin(), kids.end(), [](QWidget* a, QWidget* b) {
        const int ka = InTabOrder(a) ? a->property("TabOrder").toInt() : -1;
        const int kb = InTabOrder(b) ? b->property("TabOrder").toInt() : -1;
        return ka < kb;
    });
    for (QWidget* w : kids) {
        if (InTabOrder(w))
            out.push_back(w);
        CollectFocusOrder(w, out);
    }
}
}  // namespace

void BuildTabOrder(QWidget* root) {
    std::vector<QWidget*> order;
    CollectFocusOrder(root, order);
    // Containers (group boxes, panels) do not take the focus themselves; the
    // chain runs through the controls inside them in the same order.
    std::vector<QWidget*> chain;
    for (QWidget* w : order)
        if (w->focusPolicy() != Qt::NoFocus)
            chain.push_back(w);
    for (size_t i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

std::span<const PageSpec> MainFormPages() {
    static const PageSpec pages[] = {
        {"TabSheet1", "Capture"}, {"TabSheet3", "Print to Tape"}, {"TabSheet2", "Device settings"}};
    return pages;
}

namespace {

// `member` becomes the control named `name`, of the member's own type.
template <class T>
void Bind(const QHash<QString, QWidget*>& widgets, T*& member, const char* name) {
    member = qobject_cast<T*>(widgets.value(QString::fromUtf8(name)));
    Q_ASSERT_X(member, "BindControls", name);
}

}  // namespace

void BindControls(const QHash<QString, QWidget*>& w, MainWindow& window) {
    window.captureTab = w.value(QStringLiteral("TabSheet1"));
    window.playoutTab = w.value(QStringLiteral("TabSheet3"));
    window.deviceTab = w.value(QStringLiteral("TabSheet2"));
    Bind(w, window.capturePriority, "ComboBox1");
    Bind(w, window.captureFileFrame, "GroupBox4");
    Bind(w, window.playoutFileFrame, "GroupBox9");

    pages::CapturePage& c = *window.capturePage;
    Bind(w, c.fileName, "savedialog");
    Bind(w, c.generateNames, "CheckBox2");
    Bind(w, c.overwrite, "OverCheck");
    Bind(w, c.preview, "preview");
    Bind(w, c.startButton, "StartButton");
    Bind(w, c.stopButton, "StopButton");
    Bind(w, c.bufferingField, "Label10");
    Bind(w, c.elapsedField, "Time_info");
    Bind(w, c.capturedField, "Capture_info");
    Bind(w, c.droppedField, "Dropped_info");
    Bind(w, c.freeSpaceField, "FreeSpaceText");
    Bind(w, c.remainingField, "StaticText7");
    Bind(w, c.rateField, "StaticText6");
    Bind(w, c.signalField, "Signal_info");
    Bind(w, c.qualitySlider, "Quality_slider");
    Bind(w, c.qualityField, "Quality_text");
    Bind(w, c.previewPanel, "Panel1");
    Bind(w, c.inputLines, "InputLines");
    Bind(w, c.volumeSlider, "VolumeSlider");
    Bind(w, c.volumeField, "StaticText8");
    Bind(w, c.audioMeter, "AudioMeter");
    Bind(w, c.brightnessSlider, "Brightness_slider");
    Bind(w, c.contrastSlider, "Contrast_SLIDER");
    Bind(w, c.sharpnessSlider, "sharpness_slider");
    Bind(w, c.saturationSlider, "saturation_slider");
    Bind(w, c.brightnessField, "StaticText1");
    Bind(w, c.contrastField, "StaticText2");
    Bind(w, c.sharpnessField, "StaticText3");
    Bind(w, c.saturationField, "StaticText4");
    Bind(w, c.compressionChoice, "CompressionBox");
    Bind(w, c.splitChoice, "SplitSize");
    Bind(w, c.stopAfterCheck, "StopAfterCheck");
    Bind(w, c.stopAfterTime, "StopAfterTime");
    Bind(w, c.videoDevices, "VideoCapFilters");
    Bind(w, c.videoFormats, "VideoFormats");
    Bind(w, c.audioDevices, "AudioCapFilters");
    Bind(w, c.audioFormats, "AudioFormats");

    pages::PlayoutPage& p = *window.playoutPage;
    Bind(w, p.monitor, "VideoWindow1");
    Bind(w, p.sourceFile, "SourceFilename");
    Bind(w, p.playButton, "Start_print");
    Bind(w, p.stopButton, "Stop_print");
    Bind(w, p.pauseButton, "Button33");
    Bind(w, p.timeField, "StaticText5");
    Bind(w, p.rateField, "StaticText9");
    Bind(w, p.seekBar, "DSTrackBar1");
    Bind(w, p.videoOutputs, "VideoOutFilters");
    p.tabs = window.tabs;
    p.captureTab = window.captureTab;

    pages::DevicePage& d = *window.devicePage;
    Bind(w, d.videoDevices, "VideoCapFilters");
    Bind(w, d.videoProperties, "Button1");
    Bind(w, d.videoFormats, "VideoFormats");
    Bind(w, d.audioDevices, "AudioCapFilters");
    Bind(w, d.audioProperties, "Button2");
    Bind(w, d.audioFormats, "AudioFormats");
    Bind(w, d.videoOutputs, "VideoOutFilters");
    Bind(w, d.videoOutputProperties, "Button333");
    Bind(w, d.audioOutputs, "AudioDestFilters");
    Bind(w, d.audioOutputProperties, "Button4");
    Bind(w, d.audioOutputFormats, "AudioDestFormats");
}

}  // namespace ronvix::app
