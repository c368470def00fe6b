// Entry point: the application titled "Ronvix", the splash window first (so
// it is the application's main window), then the hidden main window, then
// the message loop, which starts by showing the splash.

#include <QIcon>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/main_window.h"
#include "app/shutdown.h"
#include "app/splash.h"
#include "framework/application.h"

namespace {

// Window placement, opacity, shape and stay-on-top need X11: ask for it
// whenever an X display is there (XWayland included), unless the user named
// a platform.
void ChoosePlatform() {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") != nullptr)
        setenv("QT_QPA_PLATFORM", "xcb", 1);
}

}  // namespace

int main(int argc, char** argv) {
    // "--version" alone answers without a display; any other command line is
    // the program's own (a last argument that is no file is ignored there).
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("ronvix %s\n", RONVIX_VERSION);
        return 0;
    }
    ChoosePlatform();
    ronvix::fw::TApplication app(argc, argv);
    app.SetTitle(QStringLiteral("Ronvix"));
    // Desktop shells match the windows to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(RONVIX_APP_ID));
    QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(RONVIX_APP_ID)));
    auto* splash = new ronvix::app::SplashWindow(app.arguments());
    auto* main_form = new ronvix::app::MainWindow();
    splash->SetMainForm(main_form);
    // A kill, a closed terminal or the end of the session closes the
    // window as the user would: the capture's file finished, the settings
    // written.
    ronvix::app::InstallShutdownRequests([main_form] { main_form->Close(); });
    const int rc = app.Run();
    // The main window goes first, as the application frees its forms.
    delete main_form;
    delete splash;
    return rc;
}
