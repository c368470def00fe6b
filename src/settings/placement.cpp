#include "settings/placement.h"

#include <QGuiApplication>
#include <QMetaEnum>
#include <QScreen>
#include <QVariant>
#include <algorithm>

#include "settings/propinfo.h"

namespace ronvix::settings {

namespace {

// Where the positions that do not move the window are kept.
constexpr const char* kMinPositionProperty = "_ronvix_min_position";
constexpr const char* kMaxPositionProperty = "_ronvix_max_position";
constexpr const char* kFlagsProperty = "_ronvix_placement_flags";

constexpr const char* kPositionNames[] = {
    "poDesigned",     "poDefault",       "poDefaultPosOnly", "poDefaultSizeOnly",
    "poScreenCenter", "poDesktopCenter", "poMainFormCenter", "poOwnerFormCenter"};

QPoint KeptPoint(const QWidget* w, const char* name) {
    const QVariant v = w->property(name);
    return v.isValid() ? v.toPoint() : QPoint(-1, -1);
}

// A record's rectangle in global coordinates, computed in 64 bits and cut
// to what a window can have.
QRect GlobalRect(const TRectL& r, QPoint origin) {
    auto cut = [](qint64 v) {
        return static_cast<int>(std::clamp<qint64>(v, -kMaxWindowExtent, kMaxWindowExtent));
    };
    return QRect(cut(qint64{r.left} + origin.x()), cut(qint64{r.top} + origin.y()),
                 cut(qint64{r.right} - r.left), cut(qint64{r.bottom} - r.top));
}

}  // namespace

static_assert(kMaxWindowExtent == QWIDGETSIZE_MAX);

TScreenMetrics PrimaryScreenMetrics() {
    TScreenMetrics m;
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        m.size = s->geometry().size();
        m.pixels_per_inch = qRound(s->logicalDotsPerInch());
        m.work_area = s->availableGeometry();
    }
    for (QScreen* s : QGuiApplication::screens())
        m.screens.push_back(s->geometry());
    return m;
}

QMargins FrameMargins(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return {client.left() - frame.left(), client.top() - frame.top(),
            frame.right() - client.right(), frame.bottom() - client.bottom()};
}

int ShowCmdForState(Qt::WindowStates state) {
    if (state & Qt::WindowMinimized)
        return SW_SHOWMINIMIZED;
    if (state & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return SW_SHOWMAXIMIZED;
    return SW_SHOWNORMAL;
}

std::optional<Qt::WindowStates> StateForShowCmd(int show_cmd, int flags) {
    switch (show_cmd) {
        case SW_SHOWNORMAL:
        case SW_SHOWNOACTIVATE:
        case SW_RESTORE:
            return Qt::WindowStates(Qt::WindowNoState);
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
            if (flags & WPF_RESTORETOMAXIMIZED)
                return Qt::WindowMinimized | Qt::WindowMaximized;
            return Qt::WindowStates(Qt::WindowMinimized);
        case SW_SHOWMAXIMIZED:
            return Qt::WindowStates(Qt::WindowMaximized);
        default:
            return std::nullopt;
    }
}

std::optional<TWindowState> StoredWindowState(int show_cmd) {
    switch (show_cmd) {
        case SW_SHOWNORMAL:
        case SW_SHOW:
        case SW_RESTORE:
            return TWindowState::wsNormal;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
            return TWindowState::wsMinimized;
        case SW_SHOWMAXIMIZED:
            return TWindowState::wsMaximized;
        default:
            return std::nullopt;
    }
}

TWindowPlacement GetWindowPlacement(const QWidget* window, QPoint workspace_origin) {
    TWindowPlacement p;
    const Qt::WindowStates state = window->windowState();
    p.show_cmd = ShowCmdForState(state);
    p.flags = window->property(kFlagsProperty).toInt() & WPF_SETMINPOSITION;
    if ((state & Qt::WindowMinimized) && (state & Qt::WindowMaximized))
        p.flags |= WPF_RESTORETOMAXIMIZED;
    p.min_position = KeptPoint(window, kMinPositionProperty);
    p.max_position = KeptPoint(window, kMaxPositionProperty);

    const QMargins frame = FrameMargins(window);
    QRect outer;
    if (state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) {
        if (state & (Qt::WindowMaximized | Qt::WindowFullScreen))
            p.max_position = window->pos() - workspace_origin;
        QRect normal = window->normalGeometry();
        if (!normal.isValid())
            normal = window->geometry();
        outer = normal.marginsAdded(frame);
    } else {
        outer = QRect(window->pos(), window->frameGeometry().size());
    }
    outer.translate(-workspace_origin);
    p.normal_position = {outer.left(), outer.top(), outer.left() + outer.width(),
                         outer.top() + outer.height()};
    return p;
}

void SetWindowPlacement(QWidget* window, const TWindowPlacement& p, QPoint workspace_origin) {
    window->setProperty(kFlagsProperty, p.flags);
    window->setProperty(kMinPositionProperty, p.min_position);
    window->setProperty(kMaxPositionProperty, p.max_position);

    const Qt::WindowStates current = window->windowState();
    const Qt::WindowStates shape = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
    std::optional<Qt::WindowStates> target = StateForShowCmd(p.show_cmd, p.flags);

    // Qt sets the normal geometry of a window only while it is normal, so a
    // minimized or maximized window passes through the normal state.
    if (current & shape)
        window->setWindowState(current & ~shape);
    const QMargins frame = FrameMargins(window);
    const QRect outer = GlobalRect(p.normal_position, workspace_origin);
    window->move(outer.topLeft());
    const QSize client = outer.marginsRemoved(frame).size();
    if (client.isValid() && client != window->size())
        window->resize(client);
    const Qt::WindowStates final_state = target ? (current & ~shape) | *target : current;
    if (final_state != window->windowState())
        window->setWindowState(final_state);

    if (p.show_cmd == SW_HIDE) {
        if (window->isVisible())
            window->hide();
    } else if (!window->isVisible()) {
        window->show();
        // A window gets its frame when shown; the rectangle is the frame's,
        // so the client is fitted again once the frame is known.
        if (const QMargins shown = FrameMargins(window); shown != frame && !(final_state & shape)) {
            const QSize fitted = outer.marginsRemoved(shown).size();
            if (fitted.isValid())
                window->resize(fitted);
            window->move(outer.topLeft());
        }
    }
}

TFormBorderStyle BorderStyleOf(const QWidget* window) {
    const Qt::WindowFlags flags = window->windowFlags();
    if (flags & Qt::FramelessWindowHint)
        return TFormBorderStyle::bsNone;
    const bool fixed = window->minimumSize() == window->maximumSize();
    const Qt::WindowType type = window->windowType();
    if (type == Qt::Tool)
        return fixed ? TFormBorderStyle::bsToolWindow : TFormBorderStyle::bsSizeToolWin;
    if (!fixed)
        return TFormBorderStyle::bsSizeable;
    return type == Qt::Dialog ? TFormBorderStyle::bsDialog : TFormBorderStyle::bsSingle;
}

QPoint MaximizedPositionFor(TFormBorderStyle style, QMargins frame) {
    if (style == TFormBorderStyle::bsNone)
        return {0, 0};
    return {-frame.left(), -frame.bottom()};
}

TPosition FormPosition(const QWidget* form) {
    const QString name = form->property("Position").toString();
    for (int i = 0; i < static_cast<int>(std::size(kPositionNames)); ++i)
        if (SameText(name, QLatin1String(kPositionNames[i])))
            return static_cast<TPosition>(i);
    return TPosition::poDesigned;
}

void SetFormPosition(QWidget* form, TPosition position) {
    form->setProperty("Position", QString::fromLatin1(kPositionNames[static_cast<int>(position)]));
}

}  // namespace ronvix::settings
