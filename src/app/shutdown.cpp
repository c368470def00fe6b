#include "app/shutdown.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <cerrno>

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include "framework/application.h"

namespace ronvix::app {

namespace {

// The pipe from the signal handler to the event loop. Written by the
// handler (async-signal-safe), read on the user interface thread.
int g_pipe[2] = {-1, -1};

extern "C" void OnShutdownSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

// The callback and the notifier, owned by the application object's life.
struct Requests {
    std::function<void()> close;
    QSocketNotifier* notifier = nullptr;
};

Requests& TheRequests() {
    static Requests requests;
    return requests;
}

void Close() {
    // A request that comes while the close is under way changes nothing.
    if (auto& close = TheRequests().close)
        fw::SafeCall([&] { close(); });
}

}  // namespace

void InstallShutdownRequests(std::function<void()> close) {
    Requests& r = TheRequests();
    r.close = std::move(close);
    if (r.notifier)
        return;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    r.notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(r.notifier, &QSocketNotifier::activated, [] {
        char bytes[16];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        Close();
    });
    struct sigaction action {};
    action.sa_handler = OnShutdownSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    // The desktop session ends: its manager asks for the data to be saved,
    // and the program then goes.
    if (auto* gui = qobject_cast<QGuiApplication*>(qApp))
        QObject::connect(gui, &QGuiApplication::commitDataRequest, gui,
                         [](QSessionManager&) { Close(); });
}

}  // namespace ronvix::app
