#pragma once
// TDurationEdit: a length of time as hours, minutes and seconds
// ("hh:mm:ss", 00:00:00 to 23:59:59), edited section by section.
//
// Contract:
// - Seconds is the value in whole seconds, a published property the
//   settings store keeps; setting it from code clamps it to the range and
//   fires OnChange when it changes, as a change by the user does.
// - Typing a digit while the whole text is selected (Ctrl+A, a double
//   click) starts a new time: every section from zero, the digit the
//   hours' first, the following keys section by section as usual. A
//   separator typed after a section that filled up and moved on is taken
//   as that move, so "00:00:05" types as written.
// UI thread only.

#include <QTimeEdit>

#include "framework/events.h"

namespace ronvix::controls {

class TDurationEdit : public QTimeEdit {
    Q_OBJECT
    Q_PROPERTY(int Seconds READ Seconds WRITE SetSeconds)

public:
    static constexpr int kMaxSeconds = 24 * 3600 - 1;

    explicit TDurationEdit(QWidget* parent = nullptr);

    int Seconds() const;
    void SetSeconds(int seconds);

    fw::TNotifyEvent OnChange;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The last digit filled a section and the editor moved on to the next.
    bool m_just_moved_on = false;
};

}  // namespace ronvix::controls
