// The main window against its designed layout. The expected values are
// typed here from the design tables, independently of the product's own
// layout table, so a slip in either shows up.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>

#include "app/main_window.h"
#include "framework/application.h"
#include "framework/component.h"
#include "support/sandbox.h"

using namespace ronvix;
using ronvix::app::MainWindow;

namespace {

struct Expect {
    const char* name;
    const char* parent;
    const char* text;
    int x, y, w, h;
    int tab;  // -1: takes no focus
    bool enabled;
};

// clang-format off
const Expect kExpected[] = {
    {"GroupBox4", "TabSheet1", "Filename", 1, 0, 297, 73, 2, true},
    {"savedialog", "GroupBox4", "c:\\capture.avi", 11, 18, 274, 21, 0, true},
    {"CheckBox2", "GroupBox4", "Generate filenames", 11, 48, 118, 17, 1, true},
    {"OverCheck", "GroupBox4", "Overwrite", 144, 48, 97, 17, 2, true},
    {"GroupBox3", "TabSheet1", "Process control", 1, 82, 297, 159, 0, true},
    {"preview", "GroupBox3", "Preview", 8, 18, 65, 17, 0, false},
    {"StartButton", "GroupBox3", "Start", 7, 41, 85, 25, 2, false},
    {"StopButton", "GroupBox3", "Stop", 7, 73, 85, 25, 4, false},
    {"Label2", "GroupBox3", "Elapsed time:", 113, 16, 63, 13, -1, true},
    {"Label6", "GroupBox3", "Captured:", 130, 40, 46, 13, -1, true},
    {"Label7", "GroupBox3", "Dropped:", 132, 63, 44, 13, -1, true},
    {"Label10", "GroupBox3", "Free space:", 120, 87, 56, 13, -1, true},
    {"Label20", "GroupBox3", "Remaining time:", 101, 111, 75, 13, -1, true},
    {"Label19", "GroupBox3", "Average data rate:", 88, 135, 88, 13, -1, true},
    {"Signal_info", "GroupBox3", "", 8, 106, 78, 28, -1, true},
    {"Time_info", "GroupBox3", "", 180, 14, 110, 17, 6, true},
    {"Capture_info", "GroupBox3", "", 180, 38, 110, 17, 5, true},
    {"Dropped_info", "GroupBox3", "", 180, 61, 110, 17, 3, true},
    {"FreeSpaceText", "GroupBox3", "", 180, 85, 110, 17, 1, true},
    {"StaticText7", "GroupBox3", "", 180, 109, 110, 17, 9, true},
    {"StaticText6", "GroupBox3", "", 180, 133, 110, 17, 8, true},
    {"GroupBox6", "TabSheet1", "Average data rate", 1, 241, 297, 54, 4, true},
    {"Quality_slider", "GroupBox6", "", 2, 15, 215, 30, 1, false},
    {"Quality_text", "GroupBox6", "", 216, 21, 73, 17, 0, true},
    {"Panel1", "TabSheet1", "", 304, 5, 387, 291, 1, true},
    {"GroupBox11", "TabSheet1", "Audio settings", 2, 298, 688, 65, 6, true},
    {"Label9", "GroupBox11", "Input Line", 7, 28, 47, 13, -1, true},
    {"InputLines", "GroupBox11", "", 64, 25, 153, 21, 0, true},
    {"VolumeSlider", "GroupBox11", "", 224, 22, 381, 31, 1, true},
    {"StaticText8", "GroupBox11", "", 613, 27, 55, 17, 2, true},
    {"AudioMeter", "GroupBox11", "", 7, 50, 210, 10, -1, true},
    {"GroupBox5", "TabSheet1", "Video Settings", 2, 367, 689, 129, 3, true},
    {"Label11", "GroupBox5", "Brightness", 13, 25, 49, 13, -1, true},
    {"Brightness_slider", "GroupBox5", "", 69, 17, 535, 28, 0, false},
    {"StaticText1", "GroupBox5", "", 613, 23, 55, 17, 4, true},
    {"Label12", "GroupBox5", "Contrast", 23, 50, 39, 13, -1, true},
    {"Contrast_SLIDER", "GroupBox5", "", 69, 42, 535, 28, 1, false},
    {"StaticText2", "GroupBox5", "", 613, 48, 55, 17, 5, true},
    {"Label13", "GroupBox5", "Shrapness", 12, 76, 50, 13, -1, true},
    {"sharpness_slider", "GroupBox5", "", 69, 68, 535, 28, 3, false},
    {"StaticText3", "GroupBox5", "", 613, 74, 55, 17, 6, true},
    {"Label14", "GroupBox5", "Saturation", 14, 101, 48, 13, -1, true},
    {"saturation_slider", "GroupBox5", "", 69, 93, 535, 28, 2, false},
    {"StaticText4", "GroupBox5", "", 613, 99, 55, 17, 7, true},
    {"Panel2", "TabSheet3", "", 151, 21, 387, 291, 0, true},
    {"VideoWindow1", "Panel2", "", 1, 1, 385, 289, -1, true},
    {"GroupBox9", "TabSheet3", "Filename", 9, 330, 302, 111, 1, true},
    {"SourceFilename", "GroupBox9", "c:\\capture.avi", 8, 47, 281, 21, 0, true},
    {"GroupBox10", "TabSheet3", "Process control", 315, 329, 367, 112, 2, true},
    {"Start_print", "GroupBox10", "Play", 17, 23, 85, 25, 0, true},
    {"Stop_print", "GroupBox10", "Stop", 139, 23, 85, 25, 1, false},
    {"Button33", "GroupBox10", "Pause", 260, 23, 85, 25, 2, false},
    {"Label18", "GroupBox10", "Time:", 122, 63, 26, 13, -1, true},
    {"StaticText5", "GroupBox10", "", 154, 61, 121, 17, 3, true},
    {"Label21", "GroupBox10", "Average data rate:", 58, 87, 88, 13, -1, true},
    {"StaticText9", "GroupBox10", "", 154, 86, 121, 17, 4, true},
    {"DSTrackBar1", "TabSheet3", "", 1, 459, 689, 25, 3, false},
    {"GroupBox2", "TabSheet2", "Video capture settings", 1, 5, 689, 84, 0, true},
    {"Label1", "GroupBox2", "Device", 43, 24, 34, 13, -1, true},
    {"VideoCapFilters", "GroupBox2", "", 88, 20, 489, 21, 1, true},
    {"Button1", "GroupBox2", "Properties", 584, 16, 89, 25, 2, false},
    {"Label3", "GroupBox2", "Select Format", 12, 52, 65, 13, -1, true},
    {"VideoFormats", "GroupBox2", "", 88, 48, 585, 21, 0, true},
    {"GroupBox1", "TabSheet2", "Audio capture settings", 1, 92, 689, 85, 1, true},
    {"Label5", "GroupBox1", "Device", 43, 23, 34, 13, -1, true},
    {"AudioCapFilters", "GroupBox1", "", 88, 19, 489, 21, 1, true},
    {"Button2", "GroupBox1", "Properties", 584, 16, 89, 25, 2, false},
    {"Label4", "GroupBox1", "Select Format", 12, 52, 65, 13, -1, true},
    {"AudioFormats", "GroupBox1", "", 88, 48, 585, 21, 0, true},
    {"GroupBox7", "TabSheet2", "Video output settings", 1, 181, 689, 84, 2, true},
    {"Label8", "GroupBox7", "Device", 43, 24, 34, 13, -1, true},
    {"VideoOutFilters", "GroupBox7", "", 88, 20, 489, 21, 1, true},
    {"Button333", "GroupBox7", "Properties", 584, 16, 89, 25, 2, false},
    {"Label15", "GroupBox7", "Select Format", 12, 52, 65, 13, -1, true},
    {"VideoOutFormats", "GroupBox7", "", 88, 48, 585, 21, 0, true},
    {"GroupBox8", "TabSheet2", "Audio output settings", 1, 268, 689, 85, 3, true},
    {"Label17", "GroupBox8", "Device", 43, 23, 34, 13, -1, true},
    {"AudioDestFilters", "GroupBox8", "", 88, 19, 489, 21, 1, true},
    {"Button4", "GroupBox8", "Properties", 584, 16, 89, 25, 2, false},
    {"Label16", "GroupBox8", "Select Format", 12, 52, 65, 13, -1, true},
    {"AudioDestFormats", "GroupBox8", "", 88, 48, 585, 21, 0, true},
    {"GroupBox12", "TabSheet2", "Preferences", 1, 356, 689, 61, 4, true},
    {"Label22", "GroupBox12", "Capture priority", 8, 25, 70, 13, -1, true},
    {"ComboBox1", "GroupBox12", "", 88, 22, 97, 21, 0, true},
    {"StopAfterCheck", "GroupBox12", "Stop capture after", 212, 24, 116, 17, 1, true},
    {"StopAfterTime", "GroupBox12", "", 330, 22, 70, 21, 2, true},
    {"Label23", "GroupBox12", "Video compression", 414, 25, 88, 13, -1, true},
    {"CompressionBox", "GroupBox12", "", 506, 22, 108, 21, 3, true},
    {"GroupBox13", "TabSheet2", "Capture files", 1, 420, 689, 50, 5, true},
    {"Label24", "GroupBox13", "Begin a new file after", 8, 24, 108, 13, -1, true},
    {"SplitSize", "GroupBox13", "", 120, 20, 130, 21, 0, true},
};
// clang-format on

QString TextOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* f = qobject_cast<controls::TFilenameEdit*>(w))
        return f->Text();
    return {};
}

class MainFormLayout : public ::testing::Test {
protected:
    ronvix::testing::ScopedSettingsFolder settings;
    MainWindow form;
};

}  // namespace

TEST_F(MainFormLayout, EveryControlHasItsParentGeometryTextTabOrderAndState) {
    for (const Expect& e : kExpected) {
        SCOPED_TRACE(e.name);
        QWidget* w = form.Control(QString::fromUtf8(e.name));
        ASSERT_NE(w, nullptr);
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), QString::fromUtf8(e.parent));
        EXPECT_EQ(w->geometry(), QRect(e.x, e.y, e.w, e.h));
        EXPECT_EQ(TextOf(w), QString::fromUtf8(e.text));
        EXPECT_EQ(w->isEnabled() || !w->parentWidget()->isEnabled(), e.enabled);
        EXPECT_EQ(w->property("TabOrder").toInt(), e.tab);
        if (e.tab == -1) {
            EXPECT_EQ(w->focusPolicy(), Qt::NoFocus);
        }
        if (auto* c = qobject_cast<QCheckBox*>(w)) {
            EXPECT_FALSE(c->isChecked());
        }
        if (auto* c = qobject_cast<QComboBox*>(w)) {
            EXPECT_FALSE(c->isEditable());
        }
    }
    // Nothing in the window that the design does not name, bar the pages,
    // the status bar and the hidden extras.
    const QSet<QString> extras{"TabSheet1", "TabSheet2", "TabSheet3", "ABar", "set_marker"};
    EXPECT_EQ(form.Controls().size(), qsizetype(std::size(kExpected)) + extras.size());
}

TEST_F(MainFormLayout, WindowPagesAndStatusBar) {
    EXPECT_EQ(form.windowTitle(), "Ronvix");
    EXPECT_EQ(form.size(), QSize(700, 545));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "the window cannot be resized";
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form.statusBar->geometry(), QRect(0, 526, 700, 19));
    EXPECT_EQ(form.statusPanel->text(), MainWindow::CreditLine());
    EXPECT_TRUE(form.statusPanel->text().contains("Ronvix"));
    EXPECT_EQ(form.tabs->geometry(), QRect(0, 0, 700, 526));
    ASSERT_EQ(form.tabs->count(), 3);
    EXPECT_EQ(form.tabs->tabText(0), "Capture");
    EXPECT_EQ(form.tabs->widget(0)->objectName(), "TabSheet1");
    EXPECT_EQ(form.tabs->tabText(1), "Print to Tape");
    EXPECT_EQ(form.tabs->widget(1)->objectName(), "TabSheet3");
    EXPECT_EQ(form.tabs->tabText(2), "Device settings");
    EXPECT_EQ(form.tabs->widget(2)->objectName(), "TabSheet2");
    EXPECT_EQ(form.tabs->currentIndex(), 0);
}

TEST_F(MainFormLayout, EveryControlLiesInsideItsPageWhenShown) {
    form.show();
    for (int page = 0; page < form.tabs->count(); ++page) {
        form.tabs->setCurrentIndex(page);
        for (const Expect& e : kExpected) {
            QWidget* w = form.Control(QString::fromUtf8(e.name));
            if (!w->isVisible())
                continue;  // on another page
            SCOPED_TRACE(e.name);
            QWidget* p = w->parentWidget();
            EXPECT_TRUE(p->rect().contains(w->geometry()))
                << "parent " << p->width() << "x" << p->height();
        }
    }
    // The page area holds the lowest group box of "Capture" (bottom at 496).
    EXPECT_GE(form.captureTab->height(), 496);
    EXPECT_GE(form.captureTab->width(), 691);
}

// Each group box's drawn frame, its line and its title, crosses none of the
// controls it holds, though the layout places them from 14 pixels down:
// the box drawn without its children is one plain colour wherever a child
// lies.
TEST_F(MainFormLayout, NoGroupFrameLineOrTitleCrossesAControlItHolds) {
    form.show();
    for (int page = 0; page < form.tabs->count(); ++page) {
        form.tabs->setCurrentIndex(page);
        for (QGroupBox* box : form.tabs->widget(page)->findChildren<QGroupBox*>()) {
            QImage drawn(box->size(), QImage::Format_RGB32);
            box->render(&drawn, QPoint(), QRegion(), QWidget::DrawWindowBackground);
            for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (child->isHidden())
                    continue;
                const QRect r = child->geometry();
                const QRgb plain = drawn.pixel(r.center());
                int crossed = 0;
                for (int y = r.top(); y <= r.bottom(); ++y)
                    for (int x = r.left(); x <= r.right(); ++x)
                        crossed += drawn.pixel(x, y) != plain;
                EXPECT_EQ(crossed, 0) << box->objectName().toStdString() << " crosses "
                                      << child->objectName().toStdString();
            }
        }
    }
}

TEST_F(MainFormLayout, InitialStatesBeforeAnyDeviceIsChosen) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             form.capturePage->startButton, form.capturePage->preview,
             form.capturePage->brightnessSlider, form.capturePage->contrastSlider,
             form.capturePage->sharpnessSlider, form.capturePage->saturationSlider,
             form.capturePage->qualitySlider, form.devicePage->videoProperties,
             form.devicePage->audioProperties, form.devicePage->videoOutputProperties,
             form.devicePage->audioOutputProperties})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(form.capturePage->volumeSlider->isEnabled());
    EXPECT_EQ(fw::TagOf(form.capturePage->startButton), 100);
    EXPECT_EQ(fw::TagOf(form.playoutPage->playButton), 100);
    EXPECT_EQ(fw::TagOf(form.capturePage->brightnessSlider), 1);
    EXPECT_EQ(fw::TagOf(form.capturePage->contrastSlider), 2);
    EXPECT_EQ(fw::TagOf(form.capturePage->sharpnessSlider), 5);
    EXPECT_EQ(fw::TagOf(form.capturePage->saturationSlider), 4);
    EXPECT_EQ(form.capturePage->qualitySlider->Increment(), 1);
    EXPECT_EQ(form.capturePage->qualitySlider->Value(), 1);
    EXPECT_EQ(form.capturePage->brightnessSlider->MaxValue(), 100);
    EXPECT_EQ(form.capturePage->brightnessSlider->Increment(), 10);
    EXPECT_EQ(form.capturePage->brightnessSlider->Options(),
              controls::TCustomSlider::soSmooth | controls::TCustomSlider::soShowFocus);
    EXPECT_EQ(form.capturePriority->count(), 4);
    EXPECT_EQ(form.capturePriority->itemText(0), "Realtime");
    EXPECT_EQ(form.capturePriority->itemText(3), "Idle");
    EXPECT_EQ(form.capturePriority->currentIndex(), 1);
    EXPECT_EQ(form.capturePage->compressionChoice->count(), 3);
    EXPECT_EQ(form.capturePage->compressionChoice->itemText(0), "MJPEG");
    EXPECT_EQ(form.capturePage->compressionChoice->itemText(1), "Lossless (FFV1)");
    EXPECT_EQ(form.capturePage->compressionChoice->itemText(2), "Uncompressed");
    EXPECT_EQ(form.capturePage->compressionChoice->currentIndex(), 0);
    EXPECT_EQ(form.devicePage->videoDevices->currentIndex(), -1);
    EXPECT_EQ(form.capturePage->fileName->DialogKind(), controls::TFileDialogKind::dkSave);
    EXPECT_EQ(form.capturePage->fileName->DefaultExt(), "avi");
    EXPECT_EQ(form.capturePage->fileName->Filter(), "AVI file|*.avi|All files (*.*)|*.*");
    EXPECT_EQ(form.capturePage->fileName->DialogTitle(), "Set Capture File");
    EXPECT_EQ(form.playoutPage->sourceFile->DialogKind(), controls::TFileDialogKind::dkOpen);
    EXPECT_EQ(form.playoutPage->sourceFile->DialogTitle(), "Browse");
    EXPECT_EQ(form.playoutPage->seekBar->maximum(), 1000);
    EXPECT_FALSE(qobject_cast<QPushButton*>(form.Control("set_marker"))->isVisibleTo(&form));
    EXPECT_EQ(qobject_cast<QProgressBar*>(form.Control("ABar"))->geometry(),
              QRect(64, 560, 577, 17));
    EXPECT_EQ(qobject_cast<QProgressBar*>(form.Control("ABar"))->maximum(), 255);
    EXPECT_EQ(form.capturePage->previewPanel->palette().color(QPalette::Window), QColor(Qt::black));
    // Where to choose a device, inside the preview panel.
    EXPECT_EQ(form.capturePage->deviceHint->text(),
              "Choose a video or audio capture device on the Device settings page.");
    EXPECT_EQ(form.capturePage->deviceHint->parentWidget(), form.capturePage->previewPanel);
    EXPECT_TRUE(form.capturePage->deviceHint->isVisibleTo(form.capturePage->previewPanel));
}

TEST_F(MainFormLayout, KeyboardFocusFollowsTheTabOrders) {
    // "Capture": GroupBox3 (0) first, then GroupBox4 (2) after Panel1 (1);
    // inside GroupBox4: savedialog, CheckBox2, OverCheck.
    QWidget* w = form.capturePage->fileName->Edit();
    std::vector<QString> after;
    for (int i = 0; i < 3; ++i) {
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
        after.push_back(w->objectName());
    }
    EXPECT_EQ(after, (std::vector<QString>{"CheckBox2", "OverCheck", "Brightness_slider"}));
    // "Device settings": VideoFormats (0) before VideoCapFilters (1) and
    // Button1 (2), then the next group's AudioFormats.
    QWidget* v = form.devicePage->videoFormats;
    std::vector<QString> chain;
    for (int i = 0; i < 3; ++i) {
        v = v->nextInFocusChain();
        while (v->focusPolicy() == Qt::NoFocus)
            v = v->nextInFocusChain();
        chain.push_back(v->objectName());
    }
    EXPECT_EQ(chain, (std::vector<QString>{"VideoCapFilters", "Button1", "AudioFormats"}));
}

TEST_F(MainFormLayout, FontsResolveToTheMappedFamiliesAndEveryTextFits) {
    EXPECT_EQ(QFontInfo(form.font()).family(), "Liberation Sans");
    EXPECT_EQ(form.font().pixelSize(), 11);
    EXPECT_EQ(QFontInfo(form.capturePage->elapsedField->font()).family(), "Liberation Mono");
    EXPECT_EQ(QFontInfo(form.capturePage->qualityField->font()).family(), "Liberation Sans");
    for (const Expect& e : kExpected) {
        QWidget* w = form.Control(QString::fromUtf8(e.name));
        const QString text = TextOf(w);
        if (text.isEmpty() || qobject_cast<controls::TFilenameEdit*>(w))
            continue;
        SCOPED_TRACE(e.name);
        const QFontMetrics fm(w->font());
        int needed = fm.horizontalAdvance(text);
        if (auto* c = qobject_cast<QCheckBox*>(w)) {
            QStyleOptionButton opt;
            opt.initFrom(c);
            needed += c->style()->pixelMetric(QStyle::PM_IndicatorWidth, &opt, c) +
                      c->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &opt, c);
        } else if (qobject_cast<QGroupBox*>(w)) {
            needed += 16;  // the title's indent and the frame
        } else if (qobject_cast<QAbstractButton*>(w)) {
            needed += 8;
        }
        EXPECT_LE(needed, w->width()) << text.toStdString();
        EXPECT_LE(fm.height(), std::max(w->height(), 13)) << text.toStdString();
    }
    // The added lists show each of their items whole beside the arrow.
    for (QComboBox* c : {form.capturePage->compressionChoice}) {
        QStyleOptionComboBox opt;
        opt.initFrom(c);
        const QRect field =
            c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c);
        for (int i = 0; i < c->count(); ++i)
            EXPECT_LE(QFontMetrics(c->font()).horizontalAdvance(c->itemText(i)), field.width())
                << c->itemText(i).toStdString();
    }
}

TEST_F(MainFormLayout, NonVisualComponentsExistBoundToTheirGraphs) {
    for (const char* n :
         {"CaptureGraph", "VideoSourceFilter", "Timer", "AudioSourceFilter", "sync", "videowindow",
          "FormStorage1", "AppEvents1", "VideoDestFilter", "OutGraph", "AudioDestFilter",
          "Splitter", "Timer2", "SampleGrabber", "Timer3", "OutGrabber", "Timer4"})
        EXPECT_NE(form.findChild<QObject*>(QString::fromUtf8(n)), nullptr) << n;
    for (fw::TTimer* t : {form.capturePage->statisticsTimer, form.playoutPage->flashTimer,
                          form.capturePage->rateTimer, form.playoutPage->rateTimer}) {
        EXPECT_FALSE(t->Enabled());
        EXPECT_EQ(t->Interval(), 1000);
    }
    for (mediagraph::TFilterGraph* g :
         {form.captureSession->Graph(), form.playoutSession->Graph()}) {
        EXPECT_EQ(g->Mode(), mediagraph::TFilterGraph::gmCapture);
        EXPECT_TRUE(g->GraphEdit());
    }
    // Devices are bound when the user chooses them; the fixed filters are bound from the start.
    EXPECT_EQ(form.captureSession->Media().VideoSourceFilter->FilterGraph(), nullptr);
    EXPECT_EQ(form.captureSession->Media().AudioSourceFilter->FilterGraph(), nullptr);
    EXPECT_EQ(form.captureSession->Media().sync->FilterGraph(), form.captureSession->Graph());
    EXPECT_EQ(form.captureSession->Media().videowindow->FilterGraph(),
              form.captureSession->Graph());
    EXPECT_EQ(form.captureSession->Media().SampleGrabber->FilterGraph(),
              form.captureSession->Graph());
    EXPECT_EQ(form.playoutSession->Media().VideoDestFilter->FilterGraph(),
              form.playoutSession->Graph());
    EXPECT_EQ(form.playoutSession->Media().AudioDestFilter->FilterGraph(),
              form.playoutSession->Graph());
    EXPECT_EQ(form.playoutSession->Media().Splitter->FilterGraph(), form.playoutSession->Graph());
    EXPECT_EQ(form.playoutSession->Media().OutGrabber->FilterGraph(), form.playoutSession->Graph());
    EXPECT_EQ(form.playoutSession->Media().DestSync->FilterGraph(), nullptr);
    EXPECT_EQ(form.playoutSession->Media().VideoDestWindow->FilterGraph(), nullptr);
    EXPECT_EQ(form.playoutPage->monitor->FilterGraph(), form.playoutSession->Graph());
    EXPECT_EQ(form.playoutPage->seekBar->FilterGraph(), form.playoutSession->Graph());
    EXPECT_EQ(form.playoutPage->seekBar->TimerInterval(), 125u);
}
