// The shell's handlers: the capture priority (through a recording priority
// service, never the test process's own scheduling), the "Filename" group
// click, and closing the main window ending the program.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <cerrno>
#include <mutex>
#include <vector>

#include "app/main_window.h"
#include "app/splash.h"
#include "framework/application.h"
#include "platform/win/kernel.h"
#include "platform/win/priority.h"
#include "platform/winui/dialogs.h"
#include "support/sandbox.h"

using namespace ronvix;
using ronvix::app::MainWindow;

namespace {

class RecordingPriority : public win::PriorityService {
public:
    bool SetProcessClass(win::DWORD pid, win::DWORD priority_class) override {
        std::lock_guard g(lock);
        classes.push_back({pid, priority_class});
        return !refuse;
    }
    win::DWORD ProcessClass(win::DWORD) override { return 0; }
    bool SetThreadLevel(win::DWORD tid, int level) override {
        std::lock_guard g(lock);
        threads.push_back({tid, static_cast<win::DWORD>(level)});
        return !refuse;
    }
    std::mutex lock;
    std::vector<std::pair<win::DWORD, win::DWORD>> classes;
    std::vector<std::pair<win::DWORD, win::DWORD>> threads;
    bool refuse = false;
};

}  // namespace

TEST(Shell, ShowAppliesTheChosenPriorityFirstAndEveryPickChangesIt) {
    RecordingPriority fake;
    win::ScopedPriorityService scope(&fake);
    MainWindow form;
    form.Show();
    ASSERT_EQ(fake.classes.size(), 1u);
    EXPECT_EQ(fake.classes[0].first, win::GetCurrentProcessId());
    EXPECT_EQ(fake.classes[0].second, win::HIGH_PRIORITY_CLASS) << "\"High\" is the stored default";

    // The user picks "Idle", then "Realtime" (refused: nothing is shown).
    fake.refuse = true;
    form.capturePriority->setFocus();
    QTest::keyClick(form.capturePriority, Qt::Key_End);
    QTest::keyClick(form.capturePriority, Qt::Key_Home);
    ASSERT_EQ(fake.classes.size(), 3u);
    EXPECT_EQ(fake.classes[1].second, win::IDLE_PRIORITY_CLASS);
    EXPECT_EQ(fake.classes[2].second, win::REALTIME_PRIORITY_CLASS);

    // Setting the index from code is no pick; no selection changes nothing.
    form.capturePriority->setCurrentIndex(2);
    EXPECT_EQ(fake.classes.size(), 3u);
    form.capturePriority->setCurrentIndex(-1);
    form.onPriorityChosen();
    EXPECT_EQ(fake.classes.size(), 3u);
    form.capturePriority->setCurrentIndex(2);
    form.onPriorityChosen();
    EXPECT_EQ(fake.classes.back().second, win::NORMAL_PRIORITY_CLASS);
}

TEST(Shell, FilenameGroupClickRaisesTheInterfaceThread) {
    RecordingPriority fake;
    win::ScopedPriorityService scope(&fake);
    MainWindow form;
    form.Show();
    QTest::mouseClick(form.captureFileFrame, Qt::LeftButton, {}, QPoint(150, 5));
    form.tabs->setCurrentIndex(1);
    QTest::mouseClick(form.playoutFileFrame, Qt::LeftButton, {}, QPoint(150, 90));
    ASSERT_EQ(fake.threads.size(), 2u);
    EXPECT_EQ(fake.threads[0].first, win::GetCurrentThreadId());
    EXPECT_EQ(fake.threads[0].second, 128u);
}

namespace {

// A user without a nice limit: nice only goes up, so after "Idle" every
// other class is refused (and "High" and "Realtime" from the start).
class OneWayNice : public win::PriorityService {
public:
    bool SetProcessClass(win::DWORD, win::DWORD wanted) override {
        std::lock_guard g(lock);
        if (Nice(wanted) < Nice(in_force))
            return false;
        in_force = wanted;
        return true;
    }
    win::DWORD ProcessClass(win::DWORD) override {
        std::lock_guard g(lock);
        return in_force;
    }
    bool SetThreadLevel(win::DWORD, int) override { return false; }
    static int Nice(win::DWORD c) {
        return c == win::REALTIME_PRIORITY_CLASS ? -21
               : c == win::HIGH_PRIORITY_CLASS   ? -10
               : c == win::IDLE_PRIORITY_CLASS   ? 19
                                                 : 0;
    }
    std::mutex lock;
    win::DWORD in_force = win::NORMAL_PRIORITY_CLASS;
};

void Choose(QComboBox* combo, const QString& item) {
    const int index = combo->findText(item);
    ASSERT_GE(index, 0);
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

}  // namespace

TEST(Shell, APriorityTheSystemRefusesShowsAndStoresTheClassInForce) {
    OneWayNice fake;
    win::ScopedPriorityService scope(&fake);
    ronvix::testing::ScopedSettingsFolder settings;
    win::ScriptedDialogs dialogs;
    auto form = std::make_unique<MainWindow>();
    form->Show();
    EXPECT_EQ(form->capturePriority->currentText(), "Normal") << "\"High\" is refused at the start";
    Choose(form->capturePriority, "Idle");
    EXPECT_EQ(form->capturePriority->currentText(), "Idle");
    for (const char* refused : {"Normal", "High", "Realtime"}) {
        Choose(form->capturePriority, refused);
        EXPECT_EQ(form->capturePriority->currentText(), "Idle")
            << refused << " is shown but not in force";
    }
    form->Close();
    form.reset();
    QFile ini(QString::fromStdString(settings.Folder().string()) + "/ronvix/ZELK.ini");
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().contains("ComboBox1_ItemIndex=3")) << "not the class in force saved";
    form = std::make_unique<MainWindow>();
    form->Show();
    EXPECT_EQ(form->capturePriority->currentText(), "Idle");
    EXPECT_TRUE(dialogs.boxes.empty());
}

// The real scheduling, in a child process (this test program run again for
// this test alone), so the test process keeps its own.
TEST(Shell, TheFilenameClickRaisesOnlyTheInterfaceThreadNotTheStreamingThreadsStartedAfter) {
    if (!qEnvironmentVariableIsSet("RONVIX_PRIORITY_CHILD")) {
        const pid_t probe = fork();
        if (probe == 0)
            _exit(setpriority(PRIO_PROCESS, 0, -1) == 0 ? 0 : 1);
        int status = 1;
        waitpid(probe, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            GTEST_SKIP() << "raising a thread needs CAP_SYS_NICE or a nice limit (CI runs as root)";
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("RONVIX_PRIORITY_CHILD", "1");
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(
            QCoreApplication::applicationFilePath(),
            {"--gtest_filter=Shell."
             "TheFilenameClickRaisesOnlyTheInterfaceThreadNotTheStreamingThreadsStartedAfter"});
        ASSERT_TRUE(child.waitForFinished(120000));
        EXPECT_EQ(child.exitCode(), 0) << child.readAll().toStdString();
        return;
    }
    win::ScopedPriorityService real(&win::SystemPriorityService());
    ronvix::testing::ScopedSettingsFolder settings;
    win::ScriptedDialogs dialogs;
    MainWindow form;
    form.Show();
    Choose(form.capturePriority, "Normal");
    QTest::mouseClick(form.captureFileFrame, Qt::LeftButton, {}, QPoint(150, 5));
    const pid_t ui = static_cast<pid_t>(syscall(SYS_gettid));
    ASSERT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(ui)), -15);
    // Streaming threads start from the raised thread.
    auto threads = [] {
        return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    };
    const QStringList before = threads();
    form.tabs->setCurrentIndex(2);
    Choose(form.devicePage->videoDevices, "Test Pattern Camera");
    form.capturePage->preview->setChecked(true);
    ASSERT_EQ(form.captureSession->Graph()->State(), 3);
    int started = 0;
    for (const QString& task : threads()) {
        const pid_t tid = task.toInt();
        if (tid == ui)
            continue;
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
        if (errno != 0)
            continue;  // ended meanwhile
        started += !before.contains(task);
        EXPECT_EQ(nice, 0) << "thread " << tid << " runs above the chosen class";
    }
    EXPECT_GT(started, 0) << "no streaming thread was started";
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(ui)), -15) << "the raise was lost";
    EXPECT_EQ(form.capturePriority->currentText(), "Normal");
    // A new class keeps the raise above it.
    Choose(form.capturePriority, "Idle");
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(ui)), 4);
    form.capturePage->preview->setChecked(false);
}

TEST(Shell, ClosingTheMainWindowClosesTheSplashAndEndsTheProgram) {
    RecordingPriority fake;
    win::ScopedPriorityService scope(&fake);
    app::SplashWindow splash({"ronvix", "-nosplash"});
    MainWindow form;
    splash.SetMainForm(&form);
    auto* application = fw::TApplication::Instance();
    ASSERT_EQ(application->MainForm(), &splash);
    splash.show();
    splash.onFadeTick(splash.fadeTimer);
    ASSERT_TRUE(form.isVisible());
    form.close();
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(application->Terminated());
}

TEST(Shell, FirstVisitToPrintToTapeWithAnActiveOutputGraphShowsNoError) {
    RecordingPriority fake;
    win::ScopedPriorityService scope(&fake);
    ronvix::testing::ScopedSettingsFolder settings;
    win::ScriptedDialogs dialogs;
    MainWindow form;
    form.Show();
    // A chosen output device leaves the output graph active with the video
    // window's renderer in it, unconnected, before the page was ever shown.
    form.playoutSession->Graph()->SetActive(true);
    form.tabs->setCurrentIndex(1);
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.playoutPage->monitor->isVisible());
    EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text.toStdString();
    form.playoutSession->Graph()->SetActive(false);
}
