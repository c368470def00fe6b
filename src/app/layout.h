#pragma once
// The main window's layout as data: every control with its kind, parent,
// text, geometry (pixels relative to the parent), tab order among its
// siblings and initial state. BuildLayout creates the widgets from it.
// Kept apart from the code so that the window reads as a table.

#include <QHash>
#include <QString>
#include <QWidget>
#include <span>

namespace ronvix::app {

enum class ControlKind {
    GroupBox,
    CheckBox,
    Button,
    Label,
    StatField,   // read-only statistics text: Courier New, sunken, centred
    ValueField,  // read-only value text: the window's font, sunken, centred
    ComboBox,    // drop-down list
    Slider,
    FilenameEdit,
    Panel,
    VideoWindow,
    TrackBar,
    ProgressBar,
    DurationEdit,  // hh:mm:ss
    LevelMeter,    // peak meter, one bar per channel
};

inline constexpr int kNoTab = -1;

struct ControlSpec {
    const char* name;
    ControlKind kind;
    const char* parent;  // a page ("TabSheet1") or another control
    const char* text;
    int left, top, width, height;
    int tab_order;  // kNoTab for controls that take no focus
    bool enabled = true;
    bool visible = true;
    int tag = 0;
};

// Every visual control of the three pages, parents before children.
std::span<const ControlSpec> MainFormControls();

// The window's pages, in tab order.
struct PageSpec {
    const char* name;
    const char* caption;
};
std::span<const PageSpec> MainFormPages();

class MainWindow;
// Hands the controls in `widgets` to the members of the window and its pages
// that the code reaches them by: the one place where the layout's names
// meet the code's.
void BindControls(const QHash<QString, QWidget*>& widgets, MainWindow& window);

// Creates the controls of `specs` under the named parents found in
// `widgets` (pages are expected there already) and adds each new control
// under its name. Applies geometry, text, enabled, visible, tag and builds
// the keyboard focus chain from the tab orders.
void BuildLayout(std::span<const ControlSpec> specs, QHash<QString, QWidget*>& widgets);

// Builds the focus chain: within each parent, children in tab order, each
// container's children right after it. `root` is the first widget to chain.
void BuildTabOrder(QWidget* root);

// The window font: "MS Sans Serif" at an 11-pixel height, which this
// platform serves with Liberation Sans.
QFont WindowFont();
// The statistics font: "Courier New" at an 11-pixel height (Liberation Mono).
QFont StatisticsFont();

}  // namespace ronvix::app
