// Entry point: the application titled "Ronvix", the splash window first (so
// it is the application's main window), then the hidden main window, then
// the message loop, which starts by showing the splash.

#include <QStyleFactory>
#include <cstdlib>

#include "app/mainform.h"
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
    ChoosePlatform();
    ronvix::fw::TApplication app(argc, argv);
    app.SetTitle(QStringLiteral("Ronvix"));
    auto* form1 = new ronvix::app::TForm1(app.arguments());
    auto* main_form = new ronvix::app::TMainForm();
    form1->SetMainForm(main_form);
    const int rc = app.Run();
    // The main window goes first, as the application frees its forms.
    delete main_form;
    delete form1;
    return rc;
}
