#pragma once
// Answering a real modal Qt dialog from a test: the dialog runs its own
// event loop, in which a polling timer finds it and runs the answer. A
// dialog that is not answered within the time-out is rejected, so a test
// that waits for the wrong dialog fails instead of hanging.

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <functional>

namespace ronvix::testing {

template <class T>
class ModalAnswer {
public:
    // Watches from now on for a modal dialog of type T and runs `answer`
    // on the first one; the answer closes it (accept, reject, a button).
    explicit ModalAnswer(std::function<void(T*)> answer, int timeout_ms = 20000)
        : m_answer(std::move(answer)) {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this, timeout_ms] {
            m_waited_ms += 20;
            auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
            if (dialog) {
                m_timer.stop();
                m_answered = true;
                m_answer(dialog);
                return;
            }
            if (m_waited_ms >= timeout_ms) {
                m_timer.stop();
                if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                    other->reject();
            }
        });
        m_timer.start();
    }
    bool Answered() const { return m_answered; }

private:
    std::function<void(T*)> m_answer;
    QTimer m_timer;
    int m_waited_ms = 0;
    bool m_answered = false;
};

}  // namespace ronvix::testing
