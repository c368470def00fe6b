#include "platform/win/window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace ronvix::win {
namespace {

// The answer a synchronous sender waits for on another thread.
struct Reply {
    std::mutex lock;
    std::condition_variable finished;
    // Guarded by lock.
    bool done = false;
    LRESULT result = 0;

    void Set(LRESULT r) {
        std::lock_guard g(lock);
        result = r;
    }
    void Finish() {
        {
            std::lock_guard g(lock);
            done = true;
        }
        finished.notify_all();
    }
    LRESULT Wait() {
        std::unique_lock g(lock);
        finished.wait(g, [this] { return done; });
        return result;
    }
};

// A posted window message travelling as a Qt event.
class MessageEvent : public QEvent {
public:
    static QEvent::Type EventType() {
        static const int type = QEvent::registerEventType();
        return static_cast<QEvent::Type>(type);
    }
    MessageEvent(HWND hwnd, UINT msg, WPARAM w, LPARAM l, std::shared_ptr<Reply> reply = {})
        : QEvent(EventType()),
          m_hwnd(hwnd),
          m_msg(msg),
          m_wparam(w),
          m_lparam(l),
          m_reply(std::move(reply)) {}
    ~MessageEvent() override {
        // A synchronous sender waits for this: release it even when the
        // event is discarded because its receiver died.
        if (m_reply)
            m_reply->Finish();
    }
    HWND m_hwnd;
    UINT m_msg;
    WPARAM m_wparam;
    LPARAM m_lparam;
    std::shared_ptr<Reply> m_reply;
};

struct Entry {
    QPointer<QObject> object;
    QString class_name;
    WindowProc proc;
    QObject* receiver = nullptr;  // the dispatcher living next to the object
};

// Delivers MessageEvents to the procedure registered for a handle. One per
// registered object, a child of it, so it lives on the object's thread.
class Dispatcher : public QObject {
public:
    using QObject::QObject;
    bool event(QEvent* e) override;
};

class Table {
public:
    static Table& Get() {
        static Table t;
        return t;
    }
    std::mutex lock;
    // Guarded by lock.
    std::map<uintptr_t, Entry> entries;
    std::map<QObject*, uintptr_t> by_object;
    uintptr_t next = 0x10000;
};

Entry* FindLocked(Table& t, HWND hwnd) {
    auto it = t.entries.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == t.entries.end() || it->second.object.isNull())
        return nullptr;
    return &it->second;
}

void Forget(QObject* object) {
    Table& t = Table::Get();
    std::lock_guard g(t.lock);
    auto it = t.by_object.find(object);
    if (it == t.by_object.end())
        return;
    t.entries.erase(it->second);
    t.by_object.erase(it);
}

bool Dispatcher::event(QEvent* e) {
    if (e->type() != MessageEvent::EventType())
        return QObject::event(e);
    auto* m = static_cast<MessageEvent*>(e);
    WindowProc proc;
    {
        Table& t = Table::Get();
        std::lock_guard g(t.lock);
        if (Entry* entry = FindLocked(t, m->m_hwnd))
            proc = entry->proc;
    }
    LRESULT r = 0;
    if (proc)
        r = proc(m->m_hwnd, m->m_msg, m->m_wparam, m->m_lparam);
    if (m->m_reply)
        m->m_reply->Set(r);
    return true;
}

}  // namespace

HWND RegisterWindow(QObject* object, const QString& class_name) {
    if (!object)
        return nullptr;
    Table& t = Table::Get();
    std::lock_guard g(t.lock);
    auto found = t.by_object.find(object);
    if (found != t.by_object.end()) {
        if (!class_name.isEmpty())
            t.entries[found->second].class_name = class_name;
        return reinterpret_cast<HWND>(found->second);
    }
    uintptr_t id = t.next;
    t.next += 4;
    Entry e;
    e.object = object;
    e.class_name = class_name;
    auto* dispatcher = new Dispatcher(object);
    dispatcher->setObjectName(QStringLiteral("ronvix_message_dispatcher"));
    e.receiver = dispatcher;
    t.entries.emplace(id, std::move(e));
    t.by_object.emplace(object, id);
    QObject::connect(
        object, &QObject::destroyed, dispatcher, [object] { Forget(object); },
        Qt::DirectConnection);
    return reinterpret_cast<HWND>(id);
}

HWND HandleOf(QObject* object) {
    return RegisterWindow(object);
}

QObject* WindowObject(HWND hwnd) {
    Table& t = Table::Get();
    std::lock_guard g(t.lock);
    Entry* e = FindLocked(t, hwnd);
    return e ? e->object.data() : nullptr;
}

QString WindowClassName(HWND hwnd) {
    Table& t = Table::Get();
    std::lock_guard g(t.lock);
    Entry* e = FindLocked(t, hwnd);
    return e ? e->class_name : QString();
}

bool IsWindow(HWND hwnd) {
    return WindowObject(hwnd) != nullptr;
}

void SetWindowProc(HWND hwnd, WindowProc proc) {
    Table& t = Table::Get();
    std::lock_guard g(t.lock);
    if (Entry* e = FindLocked(t, hwnd))
        e->proc = std::move(proc);
}

bool PostMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    Table& t = Table::Get();
    std::lock_guard g(t.lock);
    Entry* e = FindLocked(t, hwnd);
    if (!e)
        return false;
    // postEvent is thread-safe; the receiver is deleted only on its own
    // thread after the object's destroyed signal removed it from the table,
    // which needs this lock, so it is alive here.
    QCoreApplication::postEvent(e->receiver, new MessageEvent(hwnd, msg, wparam, lparam));
    return true;
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    WindowProc proc;
    std::shared_ptr<Reply> reply;
    {
        Table& t = Table::Get();
        std::lock_guard g(t.lock);
        Entry* e = FindLocked(t, hwnd);
        if (!e)
            return 0;
        if (e->object->thread() == QThread::currentThread()) {
            proc = e->proc;
        } else {
            // Another thread owns the window: post, then wait outside the
            // lock. The event releases the semaphore even when discarded.
            reply = std::make_shared<Reply>();
            QCoreApplication::postEvent(e->receiver,
                                        new MessageEvent(hwnd, msg, wparam, lparam, reply));
        }
    }
    if (reply)
        return reply->Wait();
    return proc ? proc(hwnd, msg, wparam, lparam) : 0;
}

MessageWindow::MessageWindow(WindowProc proc, const QString& class_name, QObject* parent)
    : QObject(parent) {
    m_hwnd = RegisterWindow(this, class_name);
    SetWindowProc(m_hwnd, std::move(proc));
}

MessageWindow::~MessageWindow() {
    Forget(this);
}

namespace {
struct TimerKey {
    HWND hwnd;
    uintptr_t id;
    auto operator<=>(const TimerKey&) const = default;
};
std::map<TimerKey, QTimer*>& Timers() {
    static std::map<TimerKey, QTimer*> timers;  // UI thread only
    return timers;
}
uintptr_t g_next_anonymous_timer = 1;  // UI thread only
}  // namespace

uintptr_t SetTimer(HWND hwnd, uintptr_t id, UINT elapse_ms, TIMERPROC proc) {
    QObject* owner = nullptr;
    if (hwnd) {
        owner = WindowObject(hwnd);
        if (!owner)
            return 0;
    } else {
        id = g_next_anonymous_timer++;
    }
    TimerKey key{hwnd, id};
    auto& timers = Timers();
    QTimer* timer = nullptr;
    if (auto it = timers.find(key); it != timers.end()) {
        timer = it->second;
        timer->disconnect();
    } else {
        timer = new QTimer(owner);
        timers[key] = timer;
        if (owner)
            QObject::connect(owner, &QObject::destroyed, [key] { Timers().erase(key); });
    }
    timer->setInterval(static_cast<int>(elapse_ms));
    QObject::connect(timer, &QTimer::timeout, [hwnd, id, proc] {
        if (proc)
            proc(hwnd, WM_TIMER, id, 0);
        else if (hwnd)
            SendMessage(hwnd, WM_TIMER, id, 0);
    });
    timer->start();
    return id;
}

bool KillTimer(HWND hwnd, uintptr_t id) {
    auto& timers = Timers();
    auto it = timers.find(TimerKey{hwnd, id});
    if (it == timers.end())
        return false;
    QTimer* timer = it->second;
    timers.erase(it);
    timer->stop();
    timer->deleteLater();
    return true;
}

}  // namespace ronvix::win
