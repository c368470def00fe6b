// Application events: dispatch newest first with Chained, the "handled"
// events, the exception fallback, settings applied to the application, and
// the Qt sources (window state, input, tooltips, settings changes).
#include <gtest/gtest.h>
#include <QApplication>
#include <QHelpEvent>
#include <QLineEdit>
#include <QStyle>
#include <QToolTip>
#include <QtTest/QTest>
#include <memory>
#include <string>
#include <vector>

#include "controls/appevents.h"
#include "framework/application.h"
#include "framework/exceptions.h"
#include "platform/winui/dialogs.h"

using namespace ronvix;
using namespace ronvix::controls;

namespace {

fw::TApplication& App() {
    return *fw::TApplication::Instance();
}

// Keeps the application's own handlers of a test apart from the next test.
struct AppHandlers {
    AppHandlers() {
        App().OnMinimize = nullptr;
        App().OnRestore = nullptr;
        App().OnException = nullptr;
    }
    ~AppHandlers() {
        App().OnMinimize = nullptr;
        App().OnRestore = nullptr;
        App().OnException = nullptr;
    }
};

}  // namespace

TEST(AppEventsDispatch, NewestFirstThenTheApplicationsOwnHandler) {
    AppHandlers guard;
    std::vector<std::string> calls;
    App().OnMinimize = [&](QObject*) { calls.push_back("app"); };
    {
        TAppEvents older;
        TAppEvents newer;
        ASSERT_EQ(TAppEventList::Instance()->Instances(),
                  (std::vector<TAppEvents*>{&older, &newer}));
        older.OnMinimize = [&](QObject*) { calls.push_back("older"); };
        newer.OnMinimize = [&](QObject*) { calls.push_back("newer"); };

        // The real source: the application's only window is minimised.
        QWidget window;
        window.show();
        window.setWindowState(Qt::WindowMinimized);
        EXPECT_TRUE(App().Minimized());
        EXPECT_EQ(calls, (std::vector<std::string>{"newer", "older", "app"}));

        calls.clear();
        newer.SetChained(false);
        TAppEventList::Instance()->Minimize();
        EXPECT_EQ(calls, (std::vector<std::string>{"newer"}));

        // An unchained instance without a handler still ends the visit.
        calls.clear();
        newer.OnMinimize = nullptr;
        TAppEventList::Instance()->Minimize();
        EXPECT_TRUE(calls.empty());

        int restores = 0;
        older.OnRestore = [&](QObject*) { ++restores; };
        newer.SetChained(true);
        window.setWindowState(Qt::WindowNoState);
        EXPECT_FALSE(App().Minimized());
        EXPECT_EQ(restores, 1);
        window.setWindowState(Qt::WindowMaximized);
        EXPECT_EQ(restores, 1) << "only leaving the minimised state is a restore";
    }
    // With the last instance gone the application has its own handler back.
    EXPECT_EQ(TAppEventList::Instance(), nullptr);
    calls.clear();
    ASSERT_TRUE(App().OnMinimize);
    App().OnMinimize(&App());
    EXPECT_EQ(calls, (std::vector<std::string>{"app"}));
}

TEST(AppEventsDispatch, HandledStopsTheChainAndInputCanBeEaten) {
    TAppEvents older;
    TAppEvents newer;
    std::vector<std::string> calls;
    older.OnMessage = [&](QObject*, QEvent*, bool&) { calls.push_back("older"); };
    newer.OnMessage = [&](QObject*, QEvent* e, bool& handled) {
        calls.push_back("newer");
        auto* key = e->type() == QEvent::KeyPress ? static_cast<QKeyEvent*>(e) : nullptr;
        handled = key && key->key() == Qt::Key_X;
    };
    QWidget form;
    QLineEdit edit(&form);
    form.show();
    QTest::keyPress(&edit, Qt::Key_X);
    EXPECT_EQ(calls, (std::vector<std::string>{"newer"})) << "handled: the older is not asked";
    EXPECT_EQ(edit.text(), "") << "a handled message never reaches the control";
    calls.clear();
    QTest::keyPress(&edit, Qt::Key_Y);
    EXPECT_EQ(calls, (std::vector<std::string>{"newer", "older"}));
    EXPECT_EQ(edit.text(), "y");
    // A key or click the control ignores travels on to its parent: still
    // one message.
    calls.clear();
    QTest::keyPress(&edit, Qt::Key_F5);
    EXPECT_EQ(calls, (std::vector<std::string>{"newer", "older"}));
    int presses = 0;
    newer.OnMessage = [&](QObject*, QEvent* e, bool&) {
        presses += e->type() == QEvent::MouseButtonPress;
    };
    QWidget plain(&form);
    plain.resize(10, 10);
    plain.show();
    QTest::mousePress(&plain, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&plain, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(presses, 1);

    // Shortcuts come after the message handlers, for key presses only.
    older.OnMessage = newer.OnMessage = nullptr;
    int shortcuts = 0;
    older.OnShortCut = [&](QKeyEvent* key, bool& handled) {
        ++shortcuts;
        handled = key->key() == Qt::Key_Z;
    };
    QTest::keyClick(&edit, Qt::Key_Z);
    QTest::keyClick(&edit, Qt::Key_A);
    EXPECT_EQ(edit.text(), "ya");
    EXPECT_EQ(shortcuts, 2);

    // Actions and help have no Qt source here; their entries follow the
    // same rules.
    int updates = 0;
    newer.OnActionUpdate = [&](QAction*, bool& handled) {
        ++updates;
        handled = true;
    };
    older.OnActionUpdate = [&](QAction*, bool&) { ++updates; };
    EXPECT_TRUE(TAppEventList::Instance()->ActionUpdate(nullptr));
    EXPECT_EQ(updates, 1);
    EXPECT_FALSE(TAppEventList::Instance()->ActionExecute(nullptr));

    bool call_help = true;
    EXPECT_FALSE(TAppEventList::Instance()->Help(1, 0, call_help)) << "no handler: false";
    older.OnHelp = [](uint16_t, intptr_t, bool&) { return false; };
    newer.OnHelp = [](uint16_t, intptr_t, bool& call) {
        call = false;
        return true;
    };
    EXPECT_FALSE(TAppEventList::Instance()->Help(1, 0, call_help)) << "the last one called wins";
    EXPECT_FALSE(call_help);
}

TEST(AppEventsDispatch, ExceptionsReachHandlersOrTheStandardReport) {
    AppHandlers guard;
    win::ScriptedDialogs dialogs;
    dialogs.QueueBoxAnswer(win::IDOK);
    dialogs.QueueBoxAnswer(win::IDOK);
    dialogs.QueueBoxAnswer(win::IDOK);
    TAppEvents older;
    TAppEvents newer;

    fw::SafeCall([] { throw fw::Exception("Nobody listens"); });
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, "Nobody listens.");

    QStringList seen;
    older.OnException = [&](QObject* sender, const std::exception& e) {
        EXPECT_EQ(sender, &App());
        seen << QString::fromUtf8(e.what());
    };
    fw::SafeCall([] { throw std::runtime_error("disk gone"); });
    EXPECT_EQ(seen, QStringList{"disk gone"});
    EXPECT_EQ(dialogs.boxes.size(), 1u) << "a handler took it";

    // The only handler is behind an unchained instance: nobody is called.
    newer.SetChained(false);
    fw::SafeCall([] { throw fw::Exception("Behind the wall"); });
    ASSERT_EQ(dialogs.boxes.size(), 2u);
    EXPECT_EQ(dialogs.boxes[1].text, "Behind the wall.");

    // A handler that fails is reported with its own failure.
    newer.OnException = [](QObject*, const std::exception&) {
        throw fw::Exception("Handler broke");
    };
    fw::SafeCall([] { throw fw::Exception("First"); });
    ASSERT_EQ(dialogs.boxes.size(), 3u);
    EXPECT_EQ(dialogs.boxes[2].text, "Handler broke.");
    EXPECT_TRUE(dialogs.unexpected.empty())
        << (dialogs.unexpected.empty() ? std::string() : dialogs.unexpected[0].toStdString());
}

TEST(AppEventsSettings, AppliedAtTheEndOfLoadingAndAtOnceAfterwards) {
    QApplication::setStartDragDistance(17);
    auto events = std::make_unique<TAppEvents>();
    EXPECT_TRUE(events->IsLoading());
    events->SetMouseDragImmediate(false);
    EXPECT_EQ(QApplication::startDragDistance(), 17) << "nothing applied while loading";
    EXPECT_EQ(events->MouseDragThreshold(), 5) << "while loading the property is its own";
    events->Loaded();
    EXPECT_EQ(QApplication::startDragDistance(), 5);
    EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 500);
    EXPECT_EQ(events->HintPause(), 500);
    EXPECT_EQ(events->HintHidePause(), 2500);
    EXPECT_FALSE(events->MouseDragImmediate());

    events->SetMouseDragThreshold(9);
    EXPECT_EQ(QApplication::startDragDistance(), 9);
    events->SetHintPause(120);
    EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 120);
    events->SetHintColor(QColor(1, 2, 3));
    EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase), QColor(1, 2, 3));
    events->SetBiDiMode(TAppEvents::bdRightToLeftNoAlign);
    EXPECT_EQ(QGuiApplication::layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(events->BiDiMode(), TAppEvents::bdRightToLeftNoAlign);
    events->SetBiDiMode(TAppEvents::bdLeftToRight);
    EXPECT_EQ(QGuiApplication::layoutDirection(), Qt::LeftToRight);

    // Reading returns the application's value, whoever set it.
    QApplication::setStartDragDistance(11);
    EXPECT_EQ(events->MouseDragThreshold(), 11);
    TAppEvents other;
    other.Loaded();
    EXPECT_EQ(events->MouseDragThreshold(), 5);
    EXPECT_EQ(events->HintPause(), 500);
}

TEST(AppEventsSources, TooltipsFollowShowHintAndOnShowHint) {
    TAppEvents events;
    events.Loaded();
    QWidget w;
    w.setToolTip("Start capturing");
    w.resize(50, 20);
    w.show();
    auto ask = [&] {
        QToolTip::hideText();  // hides after a short delay
        ASSERT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 5000));
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), w.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&w, &help);
    };
    std::vector<int> timeouts;
    events.OnShowHint = [&](QString& hint, bool& can_show, THintInfo& info) {
        EXPECT_EQ(info.control, &w);
        timeouts.push_back(info.hide_timeout_ms);
        if (hint == "Start capturing")
            hint = "Start capturing now";
        can_show = w.property("hide").toBool() == false;
    };
    ask();
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), "Start capturing now");
    EXPECT_EQ(timeouts, (std::vector<int>{2500}));

    w.setProperty("hide", true);
    ask();
    EXPECT_FALSE(QToolTip::isVisible());

    w.setProperty("hide", false);
    events.SetShowHint(false);
    ask();
    EXPECT_FALSE(QToolTip::isVisible());
    EXPECT_EQ(timeouts.size(), 2u) << "hints off: OnShowHint is not even asked";
    events.SetShowHint(true);
    QToolTip::hideText();
}

TEST(AppEventsSources, SettingsChangesReachEveryInstanceAndFailuresAreReported) {
    win::ScriptedDialogs dialogs;
    dialogs.QueueBoxAnswer(win::IDOK);
    TAppEvents a;
    TAppEvents b;
    QStringList sections;
    a.OnSettingsChanged = [&](QObject* sender, const QString& section) {
        EXPECT_EQ(sender, &a);
        sections << section;
    };
    b.OnSettingsChanged = [](QObject*, const QString&) { throw fw::Exception("Cannot adapt"); };
    const QFont before = QApplication::font();
    QFont changed = before;
    changed.setPixelSize(before.pixelSize() > 0 ? before.pixelSize() + 1 : 15);
    QApplication::setFont(changed);
    QApplication::setFont(before);
    EXPECT_TRUE(sections.contains("Font"));
    ASSERT_GE(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, "Cannot adapt.");
}

TEST(AppEventsSources, FocusChangesAreActiveControlChanges) {
    TAppEvents events;
    int control_changes = 0;
    events.OnActiveControlChange = [&](QObject*) { ++control_changes; };
    QWidget form;
    QLineEdit first(&form);
    QLineEdit second(&form);
    form.show();
    QApplication::setActiveWindow(&form);
    if (QApplication::activeWindow() != &form)
        GTEST_SKIP() << "this platform plugin cannot activate windows";
    first.setFocus();
    const int after_first = control_changes;
    second.setFocus();
    EXPECT_EQ(control_changes, after_first + 1);
}
