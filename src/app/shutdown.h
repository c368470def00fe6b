#pragma once
// Ending the program from outside: SIGTERM, SIGINT and SIGHUP (a kill, a
// Ctrl+C in the terminal it was started from, the terminal closing) and
// the end of the desktop session (the session manager asks the program to
// save its data) all close the main window as the user closing it does: a
// running capture is stopped and its file finished, the settings are
// written, and the program ends.
//
// Threads: installed on the user interface thread. The signal handler only
// writes a byte to a pipe; the close runs on the user interface thread when
// the event loop reads it.

#include <functional>

namespace ronvix::app {

// Calls `close` (on the user interface thread) at each of those requests.
// Installed once per process; a second call replaces the callback.
void InstallShutdownRequests(std::function<void()> close);

}  // namespace ronvix::app
