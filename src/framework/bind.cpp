#include "framework/bind.h"

#include <QEvent>
#include <QMouseEvent>

#include "framework/application.h"

namespace ronvix::fw {
namespace {

// Calls a handler with its sender, inside SafeCall.
auto Caller(QObject* sender, TNotifyEvent handler) {
    return [sender, handler = std::move(handler)] { SafeCall([&] { Fire(handler, sender); }); };
}

// Watches one kind of mouse event on a widget.
class MouseFilter : public QObject {
public:
    MouseFilter(QWidget* target, QEvent::Type type, TNotifyEvent handler)
        : QObject(target), m_type(type), m_handler(std::move(handler)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == m_type) {
            auto* me = static_cast<QMouseEvent*>(event);
            if (me->button() == Qt::LeftButton)
                SafeCall([&] { Fire(m_handler, watched); });
        }
        return false;
    }

private:
    QEvent::Type m_type;
    TNotifyEvent m_handler;
};

}  // namespace

void BindClick(QComboBox* combo, TNotifyEvent handler) {
    QObject::connect(combo, &QComboBox::activated, combo, Caller(combo, std::move(handler)));
}

void BindDblClick(QComboBox* combo, TNotifyEvent handler) {
    combo->installEventFilter(
        new MouseFilter(combo, QEvent::MouseButtonDblClick, std::move(handler)));
}

void BindClick(QCheckBox* check, TNotifyEvent handler) {
    QObject::connect(check, &QCheckBox::toggled, check, Caller(check, std::move(handler)));
}

void BindClick(QAbstractButton* button, TNotifyEvent handler) {
    QObject::connect(button, &QAbstractButton::clicked, button, Caller(button, std::move(handler)));
}

void BindChange(QLineEdit* edit, TNotifyEvent handler) {
    QObject::connect(edit, &QLineEdit::textChanged, edit, Caller(edit, std::move(handler)));
}

void BindChange(QAbstractSlider* slider, TNotifyEvent handler) {
    QObject::connect(slider, &QAbstractSlider::valueChanged, slider,
                     Caller(slider, std::move(handler)));
}

void BindClick(QWidget* widget, TNotifyEvent handler) {
    widget->installEventFilter(
        new MouseFilter(widget, QEvent::MouseButtonRelease, std::move(handler)));
}

}  // namespace ronvix::fw
