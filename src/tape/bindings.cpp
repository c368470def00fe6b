// Binds the tape output workflow's handlers to the main window's controls
// and components.

#include <QEvent>
#include <QKeyEvent>

#include "app/mainform.h"
#include "framework/application.h"
#include "framework/bind.h"

namespace ronvix::app {

namespace {

// Calls the handler for every key released on the watched control.
class KeyUpFilter : public QObject {
public:
    using Handler = std::function<void(QObject* sender, int& key, Qt::KeyboardModifiers shift)>;
    KeyUpFilter(QObject* control, Handler handler)
        : QObject(control), m_handler(std::move(handler)) {
        control->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyRelease) {
            auto* key_event = static_cast<QKeyEvent*>(event);
            int key = key_event->key();
            fw::SafeCall([&] { m_handler(watched, key, key_event->modifiers()); });
        }
        return false;
    }

private:
    Handler m_handler;
};

}  // namespace

void TMainForm::BindTapeHandlers() {
    fw::BindClick(Start_print, [this](QObject* sender) { Start_printClick(sender); });
    fw::BindClick(Stop_print, [this](QObject* sender) { Stop_printClick(sender); });
    fw::BindClick(Button33, [this](QObject* sender) { Button33Click(sender); });
    fw::BindChange(DSTrackBar1, [this](QObject* sender) { DSTrackBar1Change(sender); });
    new KeyUpFilter(DSTrackBar1, [this](QObject* sender, int& key, Qt::KeyboardModifiers shift) {
        DSTrackBar1KeyUp(sender, key, shift);
    });
    OutGraph->OnGraphErrorAbort = [this](QObject* sender, com::HRESULT result) {
        fw::SafeCall([&] { OutGraphGraphErrorAbort(sender, result); });
    };
    OutGraph->OnGraphDeviceLost = [this](QObject* sender, com::IUnknown* device, bool removed) {
        fw::SafeCall([&] { OutGraphGraphDeviceLost(sender, device, removed); });
    };
    Timer2->OnTimer = [this](QObject* sender) { fw::SafeCall([&] { Timer2Timer(sender); }); };
    Timer4->OnTimer = [this](QObject* sender) { fw::SafeCall([&] { Timer4Timer(sender); }); };
    // Runs on the streaming thread: no SafeCall (it would show a message box
    // there); the handler only adds to the counters and cannot throw, and
    // the grabber reports anything that escapes on the interface thread.
    OutGrabber->OnBuffer = [this](QObject* sender, double sample_time, void* buffer,
                                  int buffer_len) {
        OutGrabberBuffer(sender, sample_time, buffer, buffer_len);
    };
}

}  // namespace ronvix::app
