#include "framework/application.h"

#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

#include "framework/exceptions.h"
#include "framework/form.h"
#include "platform/winui/dialogs.h"
#include "platform/winui/widgets.h"

namespace ronvix::fw {
namespace {
QString g_title = QStringLiteral("Ronvix");  // UI thread only
TApplication* g_app = nullptr;
}  // namespace

QString ReportText(const QString& message) {
    if (message.isEmpty() || message.endsWith(QLatin1Char('.')))
        return message;
    return message + QLatin1Char('.');
}

QString ApplicationTitle() {
    return g_title;
}
void SetApplicationTitle(const QString& title) {
    g_title = title;
}

void ReportMessage(const QString& message) noexcept {
    try {
        win::HWND owner = nullptr;
        if (auto* app = TApplication::Instance(); app && app->MainForm())
            owner = win::WidgetHandle(app->MainForm());
        win::MessageBox(owner, ReportText(message), ApplicationTitle(),
                        win::MB_OK | win::MB_ICONERROR);
    } catch (...) {
        // The report itself failed (no memory for a dialog): nothing is left
        // to tell the user with.
    }
}

void ReportCurrentException() noexcept {
    try {
        throw;
    } catch (const Exception& e) {
        ReportMessage(e.Message());
    } catch (const std::exception& e) {
        ReportMessage(QString::fromUtf8(e.what()));
    } catch (...) {
        ReportMessage(QStringLiteral("Unknown error"));
    }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    g_app = this;
    // One look on every desktop: the layout's pixel positions were checked
    // against this style's metrics.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        setStyle(fusion);
    m_params = arguments();
}

TApplication::~TApplication() {
    if (g_app == this)
        g_app = nullptr;
}

TApplication* TApplication::Instance() {
    return g_app;
}

void TApplication::RegisterForm(TForm* form) {
    if (!m_main_form_widget) {
        m_main_form = form;
        m_main_form_widget = form;
    }
}

TForm* TApplication::MainForm() const {
    return m_main_form_widget ? m_main_form : nullptr;
}

int TApplication::Run() {
    if (TForm* form = MainForm())
        SafeCall([&] { form->Show(); });
    if (m_terminated)
        return 0;
    return exec();
}

void TApplication::Terminate() {
    m_terminated = true;
    quit();
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportCurrentException();
        return true;
    }
}

}  // namespace ronvix::fw
