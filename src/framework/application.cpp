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

namespace {
void ShowBox(const QString& message, win::UINT icon) noexcept {
    try {
        win::HWND owner = nullptr;
        if (auto* app = TApplication::Instance(); app && app->MainForm())
            owner = win::WidgetHandle(app->MainForm());
        win::MessageBox(owner, ReportText(message), ApplicationTitle(), win::MB_OK | icon);
    } catch (...) {
        // The report itself failed (no memory for a dialog): nothing is left
        // to tell the user with.
    }
}
}  // namespace

void ReportMessage(const QString& message) noexcept {
    ShowBox(message, win::MB_ICONERROR);
}

void ReportNotice(const QString& message) noexcept {
    ShowBox(message, win::MB_ICONINFORMATION);
}

void ShowException(const std::exception& error) noexcept {
    if (const auto* e = dynamic_cast<const Exception*>(&error))
        ReportMessage(e->Message());
    else
        ReportMessage(QString::fromUtf8(error.what()));
}

namespace {
void HandleException(const std::exception& error) noexcept {
    TApplication* app = TApplication::Instance();
    if (app && app->OnException) {
        try {
            const auto handler = app->OnException;  // it may replace itself
            handler(app, error);
            return;
        } catch (const std::exception& inner) {
            ShowException(inner);
            return;
        } catch (...) {
            ReportMessage(QStringLiteral("Unknown error"));
            return;
        }
    }
    ShowException(error);
}
}  // namespace

void ReportCurrentException() noexcept {
    try {
        throw;
    } catch (const std::exception& e) {
        HandleException(e);
    } catch (...) {
        HandleException(Exception(QStringLiteral("Unknown error")));
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
    bool result = true;
    try {
        result = QApplication::notify(receiver, event);
    } catch (...) {
        ReportCurrentException();
    }
    if (event->type() == QEvent::WindowStateChange && receiver->isWidgetType() &&
        static_cast<QWidget*>(receiver)->isWindow())
        UpdateMinimized();
    return result;
}

void TApplication::UpdateMinimized() {
    // The application counts as minimised while it shows windows and every
    // one of them is minimised.
    bool any_visible = false;
    bool any_normal = false;
    for (QWidget* w : topLevelWidgets()) {
        const Qt::WindowType type = w->windowType();
        if (!w->isVisible() || (type != Qt::Window && type != Qt::Dialog))
            continue;
        any_visible = true;
        if (!w->isMinimized())
            any_normal = true;
    }
    const bool minimized = any_visible && !any_normal;
    if (minimized == m_minimized)
        return;
    m_minimized = minimized;
    const auto handler = minimized ? OnMinimize : OnRestore;
    if (handler)
        SafeCall([&] { handler(this); });
}

}  // namespace ronvix::fw
