// Start to a shown main window with "-nosplash": the program's own start
// (the same objects main.cpp makes, in the same order) with a watch on the
// main window that notes its first paint, which comes when the window is
// first exposed with its content. Prints the time from the moment the
// script started the process (RONVIX_BENCH_T0_NS, CLOCK_REALTIME in ns; the
// process's start time from /proc when not given) to that paint, and the
// part of it before main() (loading and relocating the libraries).
//
//   RONVIX_BENCH_T0_NS=$(date +%s%N) ronvix_bench_startup -nosplash

#include <QEvent>
#include <QTimer>

#include <time.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/main_window.h"
#include "app/splash.h"
#include "framework/application.h"

namespace {

int64_t RealtimeNs() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The process's start in CLOCK_REALTIME ns, from its start time in clock
// ticks after boot (10 ms resolution).
int64_t ProcessStartNs() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    const double ticks = std::stod(field);
    timespec boot{};
    clock_gettime(CLOCK_BOOTTIME, &boot);
    const int64_t since_boot_ns = int64_t(boot.tv_sec) * 1'000'000'000 + boot.tv_nsec;
    const int64_t started_after_boot_ns = int64_t(ticks / double(sysconf(_SC_CLK_TCK)) * 1e9);
    return RealtimeNs() - (since_boot_ns - started_after_boot_ns);
}

class FirstPaint : public QObject {
public:
    int64_t at_ns = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (at_ns == 0 && event->type() == QEvent::Paint) {
            at_ns = RealtimeNs();
            // After this paint has been done.
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int64_t main_ns = RealtimeNs();
    const char* t0_text = std::getenv("RONVIX_BENCH_T0_NS");
    const int64_t t0 = t0_text ? std::atoll(t0_text) : ProcessStartNs();
    // As main.cpp: X11 whenever a display is there, unless a platform is named.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") != nullptr)
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    ronvix::fw::TApplication app(argc, argv);
    app.SetTitle(QStringLiteral("Ronvix"));
    auto* splash = new ronvix::app::SplashWindow(app.arguments());
    auto* main_form = new ronvix::app::MainWindow();
    FirstPaint watch;
    main_form->installEventFilter(&watch);
    splash->SetMainForm(main_form);
    app.Run();
    delete main_form;
    delete splash;
    if (watch.at_ns == 0) {
        std::fprintf(stderr, "the main window was never painted\n");
        return 1;
    }
    std::printf("start to shown main window: %.1f ms (before main: %.1f ms), platform %s\n",
                double(watch.at_ns - t0) / 1e6, double(main_ns - t0) / 1e6,
                qgetenv("QT_QPA_PLATFORM").constData());
    return 0;
}
