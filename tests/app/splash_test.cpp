// The splash window: its banner and shape, the fade over 50 ticks, the
// pause, the hand-over to the main window and the command-line rules.
#include <gtest/gtest.h>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>

#include "app/main_window.h"
#include "app/splash.h"
#include "framework/application.h"
#include "platform/com/devices.h"
#include "support/modal.h"
#include "support/sandbox.h"

using namespace ronvix;
using ronvix::app::MainWindow;
using ronvix::app::SplashWindow;

namespace {

struct Startup {
    ronvix::testing::ScopedSettingsFolder settings;  // no settings saved by an earlier test
    explicit Startup(QStringList args) {
        args.prepend("ronvix");
        fw::TApplication::Instance()->SetParams(args);
        splash = std::make_unique<SplashWindow>(args);
        main_form = std::make_unique<MainWindow>();
        splash->SetMainForm(main_form.get());
        splash->SleepFor = [this](int ms) {
            sleeps.push_back(ms);
            alpha_at_sleep = splash->AlphaBlendValue();
            visible_at_sleep = splash->isVisible();
        };
    }
    ~Startup() {
        main_form.reset();
        splash.reset();
    }
    // Runs ticks until the splash hands over (or `limit` ticks); returns how many ran.
    int TickUntilHandOver(int limit = 100) {
        int ticks = 0;
        while (ticks < limit && splash->fadeTimer->Enabled()) {
            splash->onFadeTick(splash->fadeTimer);
            ++ticks;
            opacities.push_back(splash->windowOpacity());
        }
        return ticks;
    }
    std::unique_ptr<SplashWindow> splash;
    std::unique_ptr<MainWindow> main_form;
    std::vector<int> sleeps;
    std::vector<double> opacities;
    int alpha_at_sleep = -1;
    bool visible_at_sleep = false;
};

}  // namespace

TEST(Splash, BannerIsFourHundredByHundredOnBlackWithLettering) {
    QImage banner = SplashWindow::DrawBanner();
    EXPECT_EQ(banner.size(), QSize(400, 100));
    EXPECT_EQ(QColor(banner.pixel(2, 2)), QColor(Qt::black));
    int lit = 0;
    for (int y = 0; y < banner.height(); ++y)
        for (int x = 0; x < banner.width(); ++x)
            if ((banner.pixel(x, y) & 0xFFFFFF) != 0)
                ++lit;
    EXPECT_GT(lit, 2000) << "the product name must be drawn in large letters";
    EXPECT_LT(lit, 400 * 100 / 2) << "the background must stay mostly black";
}

TEST(Splash, CreationSizesTheWindowStartsInvisibleAndShapesAwayTheBackground) {
    Startup s({});
    EXPECT_EQ(s.splash->size(), QSize(400, 100));
    EXPECT_TRUE(s.splash->AlphaBlend());
    EXPECT_EQ(s.splash->AlphaBlendValue(), 0);
    EXPECT_DOUBLE_EQ(s.splash->windowOpacity(), 0.0);
    EXPECT_TRUE(s.splash->TransparentColor());
    EXPECT_EQ(s.splash->TransparentColorValue(), QColor(Qt::black));
    EXPECT_TRUE(s.splash->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(s.splash->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(s.splash->versionLabel->text(), "ver.0.805beta");
    EXPECT_EQ(s.splash->versionLabel->geometry(), QRect(296, 3, 77, 16));
    EXPECT_EQ(s.splash->fadeTimer->Interval(), 10);
    EXPECT_TRUE(s.splash->fadeTimer->Enabled());

    const QRegion shape = s.splash->mask();
    ASSERT_FALSE(shape.isEmpty());
    EXPECT_FALSE(shape.contains(QPoint(2, 2))) << "the background colour is see-through";
    EXPECT_TRUE(QRect(0, 0, 400, 100).contains(shape.boundingRect()));
    // Every pixel of the lettering shows, and none of the background.
    const QImage banner = SplashWindow::DrawBanner();
    for (int y = 20; y < 100; y += 3)
        for (int x = 0; x < 290; x += 3)
            EXPECT_EQ(shape.contains(QPoint(x, y)), (banner.pixel(x, y) & 0xFFFFFF) != 0)
                << x << "," << y;
}

TEST(Splash, FadesInOverFiftyTicksPausesThenShowsTheMainWindowOnCapture) {
    Startup s({});
    s.splash->show();
    EXPECT_FALSE(s.main_form->isVisible()) << "showing the splash hides the main window";
    const int ticks = s.TickUntilHandOver();
    EXPECT_EQ(ticks, 50);
    ASSERT_EQ(s.opacities.size(), 50u);
    for (int i = 0; i < 49; ++i)
        EXPECT_NEAR(s.opacities[i], 5.0 * (i + 1) / 255.0, 1e-3) << "tick " << i + 1;
    EXPECT_EQ(s.sleeps, std::vector<int>{2000});
    EXPECT_EQ(s.alpha_at_sleep, 250);
    EXPECT_TRUE(s.visible_at_sleep) << "the pause shows the splash fully faded in";
    EXPECT_FALSE(s.splash->isVisible());
    EXPECT_TRUE(s.main_form->isVisible());
    EXPECT_EQ(s.main_form->tabs->currentIndex(), 0);
    EXPECT_FALSE(s.splash->fadeTimer->Enabled()) << "the timer stays off after the hand-over";
}

TEST(Splash, NoSplashInAnyCaseHandsOverOnTheFirstTickWithoutPause) {
    for (const char* word : {"-nosplash", "-NOSPLASH", "-NoSplash"}) {
        SCOPED_TRACE(word);
        Startup s({"first", word, "last"});
        s.splash->show();
        EXPECT_TRUE(s.splash->SkipSplash());
        EXPECT_EQ(s.TickUntilHandOver(), 1);
        EXPECT_EQ(s.splash->AlphaBlendValue(), 5);
        EXPECT_TRUE(s.sleeps.empty());
        EXPECT_TRUE(s.main_form->isVisible());
        EXPECT_EQ(s.main_form->tabs->currentIndex(), 0);
    }
}

TEST(Splash, NoSplashMustMatchAsAWholeWord) {
    for (const char* word : {"--nosplash", "-nosplashx", "nosplash", "x-nosplash", "-no splash"}) {
        SCOPED_TRACE(word);
        Startup s({word});
        EXPECT_FALSE(s.splash->SkipSplash());
        s.splash->show();
        EXPECT_EQ(s.TickUntilHandOver(), 50);
    }
}

TEST(Splash, ExistingFileAsLastArgumentOpensPrintToTapeWithTheName) {
    QTemporaryDir dir;
    const QString file = dir.filePath("tape source.avi");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("RIFF");
    }
    Startup s({"-nosplash", file});
    s.splash->show();
    s.TickUntilHandOver();
    EXPECT_EQ(s.splash->StartPage(), 1);
    EXPECT_EQ(s.main_form->tabs->currentIndex(), 1);
    EXPECT_EQ(s.main_form->playoutPage->sourceFile->Text(), file);
}

TEST(Splash, FoldersMissingFilesAndEarlierFilesLeaveTheCapturePage) {
    QTemporaryDir dir;
    const QString file = dir.filePath("a.avi");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QStringList cases[] = {
        {"-nosplash", dir.path()},                   // a folder
        {"-nosplash", dir.filePath("missing.avi")},  // no such file
        {file, "-nosplash"},                         // the file is not the last argument
    };
    for (const QStringList& args : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        Startup s(args);
        s.splash->show();
        s.TickUntilHandOver();
        EXPECT_EQ(s.splash->StartPage(), 0);
        EXPECT_EQ(s.main_form->tabs->currentIndex(), 0);
        EXPECT_EQ(s.main_form->playoutPage->sourceFile->Text(), "c:\\capture.avi");
    }
}

// Start-up as the entry point runs it, with a message box shown while the
// main window is being built (as a device list that fails to enumerate
// shows one): the box runs its own event loop, in which the splash's timer
// ticks before there is a main window to hand over to.
TEST(Splash, ABoxWhileTheMainWindowIsBuiltStillLeadsToTheMainWindowAndLaterBoxesOpenOverIt) {
    for (const QStringList& args : {QStringList{"ronvix"}, QStringList{"ronvix", "-nosplash"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        ronvix::testing::ScopedSettingsFolder settings;
        fw::TApplication::Instance()->SetParams(args);
        auto splash = std::make_unique<SplashWindow>(args);
        ASSERT_EQ(fw::TApplication::Instance()->MainForm(), splash.get());
        splash->SleepFor = [](int) {};
        bool reported = false;
        auto& devices = com::DeviceRegistry::Instance();
        const auto provider = devices.AddProvider(
            com::CLSID_VideoInputDeviceCategory, com::ProviderKind::Virtual, [&reported] {
                if (!reported) {
                    reported = true;
                    fw::ReportMessage(QStringLiteral("The devices could not be listed"));
                }
                return std::vector<com::DeviceDescription>();
            });
        {
            // The user reads the box for a while: long enough for the whole
            // fade, and for far more than the one tick "-nosplash" needs.
            ronvix::testing::ModalAnswer<QMessageBox> answer([&](QMessageBox* box) {
                QDeadlineTimer reading(1500);
                while (!reading.hasExpired() && splash->fadeTimer->Enabled())
                    QApplication::processEvents(QEventLoop::AllEvents, 20);
                box->accept();
            });
            auto main_form = std::make_unique<MainWindow>();
            devices.RemoveProvider(provider);
            EXPECT_TRUE(answer.Answered()) << "no box while the window was built";
            splash->SetMainForm(main_form.get());
            splash->Show();  // as the message loop starts
            QDeadlineTimer deadline(10000);
            while (!main_form->isVisible() && !deadline.hasExpired())
                QApplication::processEvents(QEventLoop::AllEvents, 20);
            EXPECT_TRUE(main_form->isVisible()) << "the program runs without a window";
            EXPECT_FALSE(splash->isVisible());

            // A box after start-up opens over the main window, not over the
            // hidden splash that is the application's main form.
            QWidget* over = nullptr;
            ronvix::testing::ModalAnswer<QMessageBox> later([&](QMessageBox* box) {
                over = box->parentWidget();
                box->accept();
            });
            fw::ReportMessage(QStringLiteral("Later"));
            EXPECT_EQ(over, main_form.get());
            main_form.reset();
        }
        splash.reset();
    }
}
