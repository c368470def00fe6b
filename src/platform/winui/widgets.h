#pragma once
// Window handles of widgets: lookup by class name and caption among the
// children of a window (or among top-level windows), as the platform's
// FindWindowEx does. UI thread only.

#include <QString>
#include <QWidget>

#include "platform/win/window.h"

namespace ronvix::win {

// The handle of a widget, registering it under `class_name` when given.
HWND WidgetHandle(QWidget* widget, const QString& class_name = {});
QWidget* HandleWidget(HWND hwnd);

// Searches the direct children of `parent` (top-level widgets when null),
// after `after` when given, for a registered widget whose class name and
// caption (window title) match; an empty class or caption matches any.
HWND FindWindowEx(HWND parent, HWND after, const QString& class_name, const QString& caption);

}  // namespace ronvix::win
