#include "platform/winui/widgets.h"

#include <QApplication>

namespace ronvix::win {

HWND WidgetHandle(QWidget* widget, const QString& class_name) {
    return RegisterWindow(widget, class_name);
}

QWidget* HandleWidget(HWND hwnd) {
    return qobject_cast<QWidget*>(WindowObject(hwnd));
}

HWND FindWindowEx(HWND parent, HWND after, const QString& class_name, const QString& caption) {
    QList<QWidget*> candidates;
    if (parent) {
        QWidget* p = HandleWidget(parent);
        if (!p)
            return nullptr;
        candidates = p->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    } else {
        candidates = QApplication::topLevelWidgets();
    }
    bool passed = after == nullptr;
    for (QWidget* w : candidates) {
        HWND h = HandleOf(w);
        if (!passed) {
            passed = h == after;
            continue;
        }
        if (!class_name.isEmpty() &&
            WindowClassName(h).compare(class_name, Qt::CaseInsensitive) != 0)
            continue;
        if (!caption.isEmpty() && w->windowTitle() != caption)
            continue;
        return h;
    }
    return nullptr;
}

}  // namespace ronvix::win
