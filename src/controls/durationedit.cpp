#include "controls/durationedit.h"

#include <algorithm>

#include "framework/application.h"

namespace ronvix::controls {

TDurationEdit::TDurationEdit(QWidget* parent) : QTimeEdit(parent) {
    setDisplayFormat(QStringLiteral("HH:mm:ss"));
    setTimeRange(QTime(0, 0, 0), QTime(23, 59, 59));
    setTime(QTime(0, 0, 0));
    setWrapping(false);
    connect(this, &QTimeEdit::timeChanged, this, [this](QTime) {
        if (OnChange)
            fw::SafeCall([&] { OnChange(this); });
    });
}

int TDurationEdit::Seconds() const {
    return QTime(0, 0, 0).secsTo(time());
}

void TDurationEdit::SetSeconds(int seconds) {
    setTime(QTime(0, 0, 0).addSecs(std::clamp(seconds, 0, kMaxSeconds)));
}

}  // namespace ronvix::controls
