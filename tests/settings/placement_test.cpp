// The placement record on Qt windows and the pure rules around it, and one
// round trip through the real main window.
#include <gtest/gtest.h>

#include "platform/win/priority.h"

#include "app/main_window.h"
#include "platform/winui/dialogs.h"
#include "settings/placement.h"
#include "settings_test_util.h"

namespace ronvix::settings {
namespace {

TEST(PlacementRules, PositionWords) {
    auto w = PositionWords(QStringLiteral(" 1, 2,,3   -4 ,9"));
    EXPECT_EQ(w[0], 1);
    EXPECT_EQ(w[1], 2);
    EXPECT_EQ(w[2], 3);
    EXPECT_EQ(w[3], -4);
    w = PositionWords(QStringLiteral("5,x"));
    EXPECT_EQ(w[0], 5);
    EXPECT_FALSE(w[1]);
    EXPECT_FALSE(w[2]);
    EXPECT_FALSE(w[3]);
    EXPECT_EQ(ScreenSizeSuffix(QSize(1280, 1024)), QStringLiteral("(1280x1024)"));
}

TEST(WindowPlacement, AppliesAndReportsTheRecord) {
    const QPoint origin(0, 30);
    QWidget window;
    TWindowPlacement p;
    p.show_cmd = SW_HIDE;
    p.normal_position = {10, 20, 310, 220};
    p.min_position = {-32000, -32000};
    p.max_position = {-4, -4};
    SetWindowPlacement(&window, p, origin);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.pos(), QPoint(10, 50));
    EXPECT_EQ(window.size(), QSize(300, 200));
    TWindowPlacement back = GetWindowPlacement(&window, origin);
    EXPECT_EQ(back.normal_position, p.normal_position);
    EXPECT_EQ(back.min_position, p.min_position);
    EXPECT_EQ(back.max_position, p.max_position);
    EXPECT_EQ(back.show_cmd, SW_SHOWNORMAL);

    // Shown normal, the frame is part of the rectangle.
    p.show_cmd = SW_SHOWNORMAL;
    SetWindowPlacement(&window, p, origin);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.pos(), QPoint(10, 50));
    EXPECT_EQ(window.frameGeometry().size(), QSize(300, 200));
    const TWindowPlacement normal = GetWindowPlacement(&window, origin);
    EXPECT_EQ(normal.normal_position, p.normal_position);

    // Maximized: the normal rectangle survives.
    p.show_cmd = SW_SHOWMAXIMIZED;
    SetWindowPlacement(&window, p, origin);
    EXPECT_TRUE(window.isMaximized());
    back = GetWindowPlacement(&window, origin);
    EXPECT_EQ(back.show_cmd, SW_SHOWMAXIMIZED);
    EXPECT_EQ(back.normal_position, p.normal_position);

    // Minimized from maximized restores to maximized.
    p.show_cmd = SW_SHOWMINIMIZED;
    p.flags = WPF_RESTORETOMAXIMIZED;
    SetWindowPlacement(&window, p, origin);
    EXPECT_TRUE(window.isMinimized());
    back = GetWindowPlacement(&window, origin);
    EXPECT_EQ(back.show_cmd, SW_SHOWMINIMIZED);
    EXPECT_EQ(back.flags & WPF_RESTORETOMAXIMIZED, WPF_RESTORETOMAXIMIZED);

    p.show_cmd = SW_RESTORE;
    p.flags = 0;
    SetWindowPlacement(&window, p, origin);
    EXPECT_EQ(window.windowState(), Qt::WindowNoState);
    EXPECT_EQ(GetWindowPlacement(&window, origin).normal_position, p.normal_position);
}

// The ten stored properties of the real main window through a real file,
// with its own settings store and the devices it really lists.
TEST(MainWindowSettings, TenPropertiesRoundTrip) {
    testing::ConfigHome home;
    win::ScriptedDialogs dialogs;
    // Showing the window applies the stored priority: never to this process.
    class InertPriority : public win::PriorityService {
    public:
        bool SetProcessClass(win::DWORD, win::DWORD) override { return true; }
        win::DWORD ProcessClass(win::DWORD) override { return 0; }
        bool SetThreadLevel(win::DWORD, int) override { return true; }
    } inert;
    win::ScopedPriorityService scope(&inert);

    int camera = -1, tone = -1, silent = -1, deck = -1;
    {
        app::MainWindow form;
        form.show();
        camera = form.devicePage->videoDevices->findText(QStringLiteral("Test Pattern Camera"));
        tone = form.devicePage->audioDevices->findText(QStringLiteral("Test Tone Generator"));
        silent = form.devicePage->audioOutputs->findText(QStringLiteral("Silent Audio Output"));
        deck = form.devicePage->videoOutputs->findText(QStringLiteral("Virtual Tape Deck"));
        ASSERT_GE(camera, 0);
        ASSERT_GE(tone, 0);
        ASSERT_GE(silent, 0);
        ASSERT_GE(deck, 0);
        // The user's picks: a device refills its format list.
        form.devicePage->videoDevices->setCurrentIndex(camera);
        form.devicePage->onVideoDeviceChosen();
        form.devicePage->audioDevices->setCurrentIndex(tone);
        form.devicePage->onAudioDeviceChosen();
        ASSERT_GT(form.devicePage->videoFormats->count(), 3);
        ASSERT_GT(form.devicePage->audioFormats->count(), 2);
        form.devicePage->videoFormats->setCurrentIndex(3);
        form.devicePage->audioFormats->setCurrentIndex(2);
        form.devicePage->audioOutputs->setCurrentIndex(silent);
        form.devicePage->videoOutputs->setCurrentIndex(deck);
        form.capturePage->fileName->SetText(QStringLiteral("\"/tmp/new capture.avi\""));
        form.capturePage->overwrite->setChecked(true);
        form.playoutPage->sourceFile->SetText(QStringLiteral("\"/tmp/tape in.avi\""));
        form.capturePriority->setCurrentIndex(3);
        form.close();
    }
    const QByteArray file = home.Bytes();
    const std::pair<const char*, QString> keys[] = {
        {"AudioCapFilters_ItemIndex", QString::number(tone)},
        {"VideoCapFilters_ItemIndex", QString::number(camera)},
        {"savedialog_FileName", QStringLiteral("/tmp/new capture.avi")},
        {"VideoFormats_ItemIndex", QStringLiteral("3")},
        {"AudioFormats_ItemIndex", QStringLiteral("2")},
        {"AudioDestFilters_ItemIndex", QString::number(silent)},
        {"VideoOutFilters_ItemIndex", QString::number(deck)},
        {"OverCheck_Checked", QStringLiteral("True")},
        {"SourceFilename_Text", QStringLiteral("\"\"/tmp/tape in.avi\"\"")},
        {"ComboBox1_ItemIndex", QStringLiteral("3")},
    };
    for (const auto& [key, value] : keys)
        EXPECT_EQ(testing::RawValue(file, QString::fromLatin1(key)), value) << key;
    EXPECT_TRUE(file.startsWith("[TMainForm]"));

    // The next start: the store restores, the show sequence reselects the
    // devices and sets the format lists from the stored indices.
    app::MainWindow form;
    form.show();
    EXPECT_EQ(form.devicePage->audioDevices->currentIndex(), tone);
    EXPECT_EQ(form.devicePage->videoDevices->currentIndex(), camera);
    EXPECT_EQ(form.capturePage->fileName->FileName(), QStringLiteral("/tmp/new capture.avi"));
    EXPECT_EQ(form.devicePage->videoFormats->currentIndex(), 3);
    EXPECT_EQ(form.devicePage->audioFormats->currentIndex(), 2);
    EXPECT_EQ(form.devicePage->audioOutputs->currentIndex(), silent);
    EXPECT_EQ(form.devicePage->videoOutputs->currentIndex(), deck);
    EXPECT_TRUE(form.capturePage->overwrite->isChecked());
    EXPECT_EQ(form.playoutPage->sourceFile->Text(), QStringLiteral("\"/tmp/tape in.avi\""));
    EXPECT_EQ(form.capturePriority->currentIndex(), 3);
    for (const auto& box : dialogs.boxes)
        ADD_FAILURE() << "unexpected message: " << box.text.toStdString();
}

// A stored priority that names no class of the list (letters restore as
// index 0, "Realtime") starts the window at the designed class, High.
TEST(MainWindowSettings, APriorityThatNamesNoClassIsHigh) {
    testing::ConfigHome home;
    win::ScriptedDialogs dialogs;
    class Recording : public win::PriorityService {
    public:
        bool SetProcessClass(win::DWORD, win::DWORD priority_class) override {
            applied = priority_class;
            return true;
        }
        win::DWORD ProcessClass(win::DWORD) override { return applied; }
        bool SetThreadLevel(win::DWORD, int) override { return true; }
        win::DWORD applied = 0;
    } fake;
    win::ScopedPriorityService scope(&fake);
    const std::pair<const char*, win::DWORD> cases[] = {
        {"junk", win::HIGH_PRIORITY_CLASS},  {"", win::HIGH_PRIORITY_CLASS},
        {"7", win::HIGH_PRIORITY_CLASS},     {"-1", win::HIGH_PRIORITY_CLASS},
        {"0", win::REALTIME_PRIORITY_CLASS}, {"3", win::IDLE_PRIORITY_CLASS},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        home.Write(QByteArray("[TMainForm]\nComboBox1_ItemIndex=") + text + "\n");
        fake.applied = 0;
        app::MainWindow form;
        form.show();
        EXPECT_EQ(fake.applied, expected);
        EXPECT_EQ(form.capturePriority->currentIndex(),
                  expected == win::HIGH_PRIORITY_CLASS ? 1 : std::atoi(text));
    }
}

}  // namespace
}  // namespace ronvix::settings
