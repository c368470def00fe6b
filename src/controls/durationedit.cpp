#include "controls/durationedit.h"

#include <QKeyEvent>
#include <QLineEdit>
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

void TDurationEdit::keyPressEvent(QKeyEvent* event) {
    const QString typed = event->text();
    const bool digit = typed.size() == 1 && typed.front().isDigit();
    // A section filled by its last digit moves on to the next by itself; the
    // separator typed after it is the one already passed, not another.
    if (m_just_moved_on && typed == QStringLiteral(":")) {
        m_just_moved_on = false;
        event->accept();
        return;
    }
    const QLineEdit* line = lineEdit();
    if (digit && line->hasSelectedText() && line->selectedText() == line->text()) {
        // The section editor would otherwise type into the hours and keep
        // the rest of the old time.
        setTime(QTime(0, 0, 0));
        setCurrentSection(QDateTimeEdit::HourSection);
        setSelectedSection(QDateTimeEdit::HourSection);
    }
    const Section before = currentSection();
    QTimeEdit::keyPressEvent(event);
    m_just_moved_on = digit && currentSection() != before;
}

}  // namespace ronvix::controls
