#pragma once
// Window handles and messages.
//
// HWND is an opaque handle that names a QObject: a widget, or a hidden
// message-only object (MessageWindow). Handles are never reused while the
// process lives, so a stale handle names nothing rather than a new window.
// Messages are posted as Qt events to the object's thread, so a message
// posted from a streaming thread is handled on the user interface thread.
// This target uses Qt Core only; widgets register through the same table.

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>

namespace ronvix::win {

struct HWND__;
using HWND = HWND__*;
using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_KEYUP = 0x0101;
inline constexpr UINT WM_CHAR = 0x0102;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

// The handle table. Thread-safe. A registered object is removed from the
// table automatically when it is destroyed.
HWND RegisterWindow(QObject* object, const QString& class_name = {});
// The handle of `object`, registering it when it has none yet.
HWND HandleOf(QObject* object);
// The object a handle names, or null when it is gone or never existed.
QObject* WindowObject(HWND hwnd);
QString WindowClassName(HWND hwnd);
bool IsWindow(HWND hwnd);

// The receiving side: an object that wants messages installs a procedure.
// Without one, posted messages to it are dropped (and PostMessage still
// succeeds, as for a window that ignores a message).
using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;
void SetWindowProc(HWND hwnd, WindowProc proc);

// Queues the message for the window's thread and returns at once. False when
// the handle names no window. Callable from any thread.
bool PostMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
// Calls the window procedure now when called on the window's thread;
// otherwise posts and waits for the result. 0 when the handle names nothing.
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

// A hidden message-only window: it exists to receive posted messages on the
// thread that created it. Lives and dies on that thread.
class MessageWindow : public QObject {
    Q_OBJECT
public:
    explicit MessageWindow(WindowProc proc, const QString& class_name = QStringLiteral("Message"),
                           QObject* parent = nullptr);
    ~MessageWindow() override;
    HWND Handle() const { return m_hwnd; }

private:
    HWND m_hwnd = nullptr;
};

// Timers that post WM_TIMER to a window. SetTimer returns the timer id (the
// requested one when hwnd is given) or 0 when no timer could be made.
// KillTimer stops it; false when no such timer exists. UI thread only.
using TIMERPROC = std::function<void(HWND, UINT, uintptr_t, uint32_t)>;
uintptr_t SetTimer(HWND hwnd, uintptr_t id, UINT elapse_ms, TIMERPROC proc = {});
bool KillTimer(HWND hwnd, uintptr_t id);

}  // namespace ronvix::win
