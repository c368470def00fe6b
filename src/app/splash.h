#pragma once
// SplashWindow: the fading splash window, and the command line it reads.
//
// Created first, it is the application's main window: closing it ends the
// program. It fades in over 50 ticks of its 10 ms timer (alpha 0 to 250 by
// 5), pauses 2000 ms fully shown, then hides and shows the main window on
// the start page. "-nosplash" (any letter case, whole word) hands over on
// the first tick without the pause; a last argument naming an existing
// file selects "Print to Tape". The ticks do nothing until the splash is
// shown and has a main window to hand over to. UI thread only; the pause
// blocks it.

#include <QImage>
#include <QLabel>
#include <QStringList>
#include <functional>

#include "framework/form.h"
#include "framework/timer.h"

namespace ronvix::app {

class MainWindow;

class SplashWindow : public fw::TForm {
    Q_OBJECT
public:
    // `params` is the command line as ParamStr gives it: the program first,
    // then the arguments.
    explicit SplashWindow(QStringList params, QWidget* parent = nullptr);
    ~SplashWindow() override;

    // The window this splash hands over to.
    void SetMainForm(MainWindow* main_form) { m_main_form = main_form; }

    // The banner: 400 x 100, solid black background, the product name and a
    // credit line in large coloured letters.
    static QImage DrawBanner();

    QLabel* banner = nullptr;
    QLabel* versionLabel = nullptr;
    fw::TTimer* fadeTimer = nullptr;

    // Start-up state shared by the handlers.
    bool SkipSplash() const { return m_skip_splash; }
    int StartPage() const { return m_start_page; }

    // The pause before the hand-over; tests replace it to observe it.
    std::function<void(int ms)> SleepFor;

    void onCreate(QObject* sender);
    void onShow(QObject* sender);
    void onFadeTick(QObject* sender);

protected:
    void UpdateShape() override;

private:
    int ParamCount() const { return static_cast<int>(m_params.size()) - 1; }
    QString ParamStr(int i) const { return m_params.value(i); }

    QStringList m_params;
    QImage m_picture;
    MainWindow* m_main_form = nullptr;
    bool m_skip_splash = false;
    int m_start_page = 0;
};

}  // namespace ronvix::app
