// The shell's handlers: the capture priority (through a recording priority
// service, never the test process's own scheduling), the "Filename" group
// click, and closing the main window ending the program.
#include <gtest/gtest.h>
#include <QTest>
#include <mutex>
#include <vector>

#include "app/mainform.h"
#include "app/splash.h"
#include "framework/application.h"
#include "platform/win/kernel.h"
#include "platform/win/priority.h"
#include "platform/winui/dialogs.h"
#include "support/sandbox.h"

using namespace ronvix;
using ronvix::app::TMainForm;

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
    TMainForm form;
    form.Show();
    ASSERT_EQ(fake.classes.size(), 1u);
    EXPECT_EQ(fake.classes[0].first, win::GetCurrentProcessId());
    EXPECT_EQ(fake.classes[0].second, win::HIGH_PRIORITY_CLASS) << "\"High\" is the stored default";

    // The user picks "Idle", then "Realtime" (refused: nothing is shown).
    fake.refuse = true;
    form.ComboBox1->setFocus();
    QTest::keyClick(form.ComboBox1, Qt::Key_End);
    QTest::keyClick(form.ComboBox1, Qt::Key_Home);
    ASSERT_EQ(fake.classes.size(), 3u);
    EXPECT_EQ(fake.classes[1].second, win::IDLE_PRIORITY_CLASS);
    EXPECT_EQ(fake.classes[2].second, win::REALTIME_PRIORITY_CLASS);

    // Setting the index from code is no pick; no selection changes nothing.
    form.ComboBox1->setCurrentIndex(2);
    EXPECT_EQ(fake.classes.size(), 3u);
    form.ComboBox1->setCurrentIndex(-1);
    form.ComboBox1Change(form.ComboBox1);
    EXPECT_EQ(fake.classes.size(), 3u);
    form.ComboBox1->setCurrentIndex(2);
    form.ComboBox1Change(form.ComboBox1);
    EXPECT_EQ(fake.classes.back().second, win::NORMAL_PRIORITY_CLASS);
}

TEST(Shell, FilenameGroupClickRaisesTheInterfaceThread) {
    RecordingPriority fake;
    win::ScopedPriorityService scope(&fake);
    TMainForm form;
    form.Show();
    QTest::mouseClick(form.GroupBox4, Qt::LeftButton, {}, QPoint(150, 5));
    form.PageControl1->setCurrentIndex(1);
    QTest::mouseClick(form.GroupBox9, Qt::LeftButton, {}, QPoint(150, 90));
    ASSERT_EQ(fake.threads.size(), 2u);
    EXPECT_EQ(fake.threads[0].first, win::GetCurrentThreadId());
    EXPECT_EQ(fake.threads[0].second, 128u);
}

TEST(Shell, ClosingTheMainWindowClosesTheSplashAndEndsTheProgram) {
    RecordingPriority fake;
    win::ScopedPriorityService scope(&fake);
    app::TForm1 splash({"ronvix", "-nosplash"});
    TMainForm form;
    splash.SetMainForm(&form);
    auto* application = fw::TApplication::Instance();
    ASSERT_EQ(application->MainForm(), &splash);
    splash.show();
    splash.Timer1Timer(splash.Timer1);
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
    TMainForm form;
    form.Show();
    // A chosen output device leaves the output graph active with the video
    // window's renderer in it, unconnected, before the page was ever shown.
    form.OutGraph->SetActive(true);
    form.PageControl1->setCurrentIndex(1);
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.VideoWindow1->isVisible());
    EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text.toStdString();
    form.OutGraph->SetActive(false);
}
