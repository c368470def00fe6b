#pragma once
// The application object and the top-level exception report.
//
// An exception that leaves a handler is shown in a message box captioned
// with the application title, with an error icon and an OK button; a full
// stop is appended when the text does not end with one. The failed handler
// stops where it threw, nothing is rolled back, and the program goes on.
// Every handler entry is wrapped in SafeCall, and TApplication::notify
// catches whatever still reaches a Qt event dispatch, so no exception ever
// crosses Qt.

#include <QApplication>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>

namespace ronvix::fw {

class TForm;

// The text the report shows for a message: the message with a full stop
// appended when it does not already end with one (an empty text stays empty).
QString ReportText(const QString& message);

// The application title (captions the report); "Ronvix" unless changed.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// Handles the exception being handled: TApplication::OnException when it is
// set, else the standard report. Call only inside a catch block. Never
// throws.
void ReportCurrentException() noexcept;
// The standard report for an exception (the message box), whatever
// OnException says.
void ShowException(const std::exception& error) noexcept;
// Shows the report for a message.
void ReportMessage(const QString& message) noexcept;
// The same box with the information icon, for what is not a failure: an
// action the program took on the user's behalf.
void ReportNotice(const QString& message) noexcept;

// Runs `f` as a handler entry: an exception is reported and swallowed.
// Returns false when `f` threw.
template <class F>
bool SafeCall(F&& f) noexcept {
    try {
        f();
        return true;
    } catch (...) {
        ReportCurrentException();
        return false;
    }
}

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    static TApplication* Instance();

    QString Title() const { return ApplicationTitle(); }
    void SetTitle(const QString& title) { SetApplicationTitle(title); }

    // The first form registered becomes the main form: closing it ends the
    // message loop.
    void RegisterForm(TForm* form);
    // Null once the main form is destroyed.
    TForm* MainForm() const;

    // The command line: ParamStr(0) is the program, ParamStr(1..ParamCount)
    // the arguments. Tests may replace it.
    int ParamCount() const { return static_cast<int>(m_params.size()) - 1; }
    QString ParamStr(int i) const {
        return i >= 0 && i < m_params.size() ? m_params[i] : QString();
    }
    void SetParams(QStringList params) { m_params = std::move(params); }

    // Shows the main form and runs the message loop until Terminate.
    int Run();
    void Terminate();
    bool Terminated() const { return m_terminated; }

    bool notify(QObject* receiver, QEvent* event) override;

    // Minimise and restore of the application as a whole: OnMinimize fires
    // when the last visible top-level window is minimised, OnRestore when one
    // of them leaves the minimised state again. Each runs inside SafeCall.
    std::function<void(QObject*)> OnMinimize;
    std::function<void(QObject*)> OnRestore;
    bool Minimized() const { return m_minimized; }

    // When set, an exception that reaches the top level is passed here
    // instead of being shown; a failure inside it is shown by the standard
    // report. Unknown exceptions arrive as Exception("Unknown error").
    std::function<void(QObject* sender, const std::exception& error)> OnException;

private:
    void UpdateMinimized();
    bool m_minimized = false;
    QPointer<QWidget> m_main_form_widget;
    TForm* m_main_form = nullptr;
    QStringList m_params;
    bool m_terminated = false;
};

}  // namespace ronvix::fw
