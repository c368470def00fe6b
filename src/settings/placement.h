#pragma once
// The platform's window placement record on Qt windows, and the pure rules
// the form storage applies to it.
//
// The record (flags, show command, minimized and maximized positions, normal
// rectangle) maps onto a top-level QWidget as follows:
//
// - Normal rectangle: the window's frame rectangle in its normal state
//   (QWidget::pos() is the frame's top-left; the size includes the frame
//   margins). While the window is minimized or maximized it is the normal
//   geometry Qt keeps, widened by the frame margins. Coordinates are
//   workspace coordinates as on the platform: relative to the top-left of
//   the primary screen's work area (QScreen::availableGeometry), so a panel
//   at the top or left of the desktop does not push a restored window
//   further each run.
// - Show command: 2 (SW_SHOWMINIMIZED) when the window state holds
//   Qt::WindowMinimized, 3 (SW_SHOWMAXIMIZED) for maximized or full screen,
//   1 (SW_SHOWNORMAL) otherwise. A hidden window reports its state as well.
//   Applying: 0 hides the window; 1, 4 and 9 show it normal; 5 and 8 show it
//   in its current state; 2, 6 and 7 minimized; 3 maximized. Every command
//   but 0 shows a hidden window.
// - Flags: WPF_RESTORETOMAXIMIZED is reported while a window minimized from
//   maximized (state Minimized|Maximized) and, when applied with a minimized
//   show command, minimizes it so that it restores to maximized.
//   WPF_SETMINPOSITION is kept and reported back only.
// - Minimized and maximized positions: X11 window managers place icons and
//   maximized windows themselves, so both positions are kept with the window
//   (and reported back by GetWindowPlacement) but do not move it. A window
//   that is maximized now reports its actual frame position as the
//   maximized position. Positions never set are (-1, -1), as the platform
//   reports them.
//
// UI thread only.

#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <array>
#include <optional>

#include "settings/values.h"

namespace ronvix::settings {

// Show commands.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOWMINIMIZED = 2;
inline constexpr int SW_SHOWMAXIMIZED = 3;
inline constexpr int SW_SHOWNOACTIVATE = 4;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_MINIMIZE = 6;
inline constexpr int SW_SHOWMINNOACTIVE = 7;
inline constexpr int SW_SHOWNA = 8;
inline constexpr int SW_RESTORE = 9;

// Placement flags.
inline constexpr int WPF_SETMINPOSITION = 1;
inline constexpr int WPF_RESTORETOMAXIMIZED = 2;
inline constexpr int WPF_ASYNCWINDOWPLACEMENT = 4;

struct TWindowPlacement {
    int flags = 0;
    int show_cmd = SW_SHOWNORMAL;
    QPoint min_position{-1, -1};
    QPoint max_position{-1, -1};
    TRectL normal_position;
    bool operator==(const TWindowPlacement&) const = default;
};

// The screen as the storage sees it: pixel size of the primary screen, its
// logical pixels per inch, its work area (the workspace origin), and the
// geometry of every screen in global coordinates (none listed: the work
// area is the only screen).
struct TScreenMetrics {
    QSize size;
    int pixels_per_inch = 96;
    QRect work_area;
    QList<QRect> screens;
};
TScreenMetrics PrimaryScreenMetrics();

TWindowPlacement GetWindowPlacement(const QWidget* window, QPoint workspace_origin);
// Applies the record. Coordinates and extents beyond kMaxWindowExtent are
// cut to it, so no record overflows the window's geometry.
void SetWindowPlacement(QWidget* window, const TWindowPlacement& placement,
                        QPoint workspace_origin);

// The show command that reports a window state.
int ShowCmdForState(Qt::WindowStates state);
// The window state a show command applies: nothing for commands that keep
// the current state (0, 5, 8) or are unknown.
std::optional<Qt::WindowStates> StateForShowCmd(int show_cmd, int flags);

// The settings file's view of a show command: 1, 5 and 9 normal; 2, 6 and 7
// minimized; 3 maximized; nothing otherwise.
enum class TWindowState { wsNormal, wsMinimized, wsMaximized };
std::optional<TWindowState> StoredWindowState(int show_cmd);

// How a form is bordered, derived from its window flags and size limits:
// frameless is bsNone; a fixed size is bsSingle, bsDialog (Qt::Dialog) or
// bsToolWindow (Qt::Tool); otherwise bsSizeable or bsSizeToolWin.
enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
TFormBorderStyle BorderStyleOf(const QWidget* window);
inline bool IsSizeable(TFormBorderStyle s) {
    return s == TFormBorderStyle::bsSizeable || s == TFormBorderStyle::bsSizeToolWin;
}
// The maximized position that puts a border style's frame just off the
// screen: minus the frame's side width and minus its bottom height (the
// platform's border, sizing-frame or dialog-frame size, here the frame the
// window manager draws), or (0, 0) without a border.
QPoint MaximizedPositionFor(TFormBorderStyle style, QMargins frame);
// The frame margins a window has now (zero before the window manager has
// framed it, and always on the offscreen platform).
QMargins FrameMargins(const QWidget* window);

// The position rule of a form, kept as the dynamic property "Position" (the
// rule's name, such as "poDesktopCenter"). Forms without it are poDesigned.
enum class TPosition {
    poDesigned,
    poDefault,
    poDefaultPosOnly,
    poDefaultSizeOnly,
    poScreenCenter,
    poDesktopCenter,
    poMainFormCenter,
    poOwnerFormCenter
};
TPosition FormPosition(const QWidget* form);
// Changes the rule only; the window does not move.
void SetFormPosition(QWidget* form, TPosition position);

}  // namespace ronvix::settings
