// The component framework: the top-level report, handler isolation, the
// exception texts, Format, forms' events and timers.
#include <QtTest/qtestspontaneevent.h>
#include <gtest/gtest.h>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QThread>

#include "framework/application.h"
#include "framework/component.h"
#include "framework/exceptions.h"
#include "framework/form.h"
#include "framework/format.h"
#include "framework/timer.h"
#include "platform/winui/dialogs.h"

using namespace ronvix;
using namespace ronvix::fw;

TEST(TopLevelReport, AppendsFullStopOnlyWhenMissing) {
    EXPECT_EQ(ReportText("Disk full"), "Disk full.");
    EXPECT_EQ(ReportText("Disk full."), "Disk full.");
    EXPECT_EQ(ReportText("Really?"), "Really?.");
    EXPECT_EQ(ReportText("List index out of bounds (3)"), "List index out of bounds (3).");
    EXPECT_EQ(ReportText(""), "");
}

TEST(TopLevelReport, HandlerExceptionShowsErrorBoxAndProgramGoesOn) {
    win::ScriptedDialogs dialogs;
    dialogs.QueueBoxAnswer(win::IDOK);
    int steps = 0;
    bool ok = SafeCall([&] {
        ++steps;
        throw EListError(7);
        ++steps;  // never reached: the handler stops where it threw
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(steps, 1);
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, "List index out of bounds (7).");
    EXPECT_EQ(dialogs.boxes[0].caption, "Ronvix");
    EXPECT_EQ(dialogs.boxes[0].type, win::MB_OK | win::MB_ICONERROR);
    EXPECT_TRUE(dialogs.unexpected.empty());
}

TEST(TopLevelReport, CaptionFollowsTitleAndForeignExceptionsAreReported) {
    win::ScriptedDialogs dialogs;
    dialogs.QueueBoxAnswer(win::IDOK);
    dialogs.QueueBoxAnswer(win::IDOK);
    SetApplicationTitle("Other");
    SafeCall([] { throw std::runtime_error("bad thing"); });
    SetApplicationTitle("Ronvix");
    SafeCall([] { throw 42; });
    ASSERT_EQ(dialogs.boxes.size(), 2u);
    EXPECT_EQ(dialogs.boxes[0].caption, "Other");
    EXPECT_EQ(dialogs.boxes[0].text, "bad thing.");
    EXPECT_EQ(dialogs.boxes[1].caption, "Ronvix");
    EXPECT_FALSE(dialogs.boxes[1].text.isEmpty());
}

TEST(TopLevelReport, ExceptionInQtEventDispatchIsCaughtByNotify) {
    win::ScriptedDialogs dialogs;
    dialogs.QueueBoxAnswer(win::IDOK);
    struct Thrower : QObject {
        bool event(QEvent* e) override {
            if (e->type() == QEvent::User)
                throw EIntfCastError();
            return QObject::event(e);
        }
    } thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, "Interface not supported.");
}

TEST(Exceptions, MessagesAreTheProgramsTexts) {
    EXPECT_EQ(EIntfCastError().Message(), "Interface not supported");
    EXPECT_EQ(EListError(-1).Message(), "List index out of bounds (-1)");
    EXPECT_EQ(EConvertError("TFilter", "TPinList").Message(),
              "Cannot assign a TFilter to a TPinList");
    EXPECT_EQ(EOutOfResources().Message(), "Not enough timers available");
    EXPECT_STREQ(EListError(12).what(), "List index out of bounds (12)");
}

TEST(Format, DirectivesAndMismatches) {
    EXPECT_EQ(Format("Value must be between %d and %d", 0, 100), "Value must be between 0 and 100");
    EXPECT_EQ(Format("%s: %d%%", QString("x"), -5), "x: -5%");
    EXPECT_EQ(Format("pid %x", 0x1a2bu), "pid 1a2b");
    // A pointer shows all 16 hexadecimal digits on this 64-bit platform.
    EXPECT_EQ(Format("%p", reinterpret_cast<const void*>(0xABCDEF)), "0000000000ABCDEF");
    // Missing or mismatched arguments keep the directive rather than reading garbage.
    EXPECT_EQ(Format("%d and %d", 1), "1 and %d");
    EXPECT_EQ(Format("%d", QString("text")), "%d");
    EXPECT_EQ(Format("trailing %"), "trailing %");
}

TEST(Component, NameOwnerTagAndLoaded) {
    QObject owner;
    auto* a = new TComponent(&owner, "First");
    auto* b = new TComponent(&owner, "Second");
    a->SetTag(100);
    EXPECT_EQ(a->Owner(), &owner);
    EXPECT_EQ(TagOf(a), 100);
    EXPECT_EQ(a->property("Tag").toInt(), 100);
    QObject widget_like;
    SetTag(&widget_like, 5);
    EXPECT_EQ(TagOf(&widget_like), 5);
    EXPECT_TRUE(a->IsLoading());
    LoadComponents(&owner);
    EXPECT_FALSE(a->IsLoading());
    EXPECT_FALSE(b->IsLoading());
    EXPECT_EQ(FindComponent(&owner, "Second"), b);
    EXPECT_EQ(FindComponent(&owner, "Missing"), nullptr);
}

TEST(Timer, RunsOnlyAfterLoadingWhileEnabledAndTicksAreReportedSafely) {
    QObject owner;
    auto* t = new TTimer(&owner, "Timer");
    t->SetInterval(5);
    int ticks = 0;
    t->OnTimer = [&](QObject* sender) {
        EXPECT_EQ(sender, t);
        ++ticks;
    };
    QCoreApplication::processEvents();
    QThread::msleep(20);
    QCoreApplication::processEvents();
    EXPECT_EQ(ticks, 0) << "a timer must not run before its form finished loading";
    t->Loaded();
    for (int i = 0; i < 200 && ticks == 0; ++i) {
        QThread::msleep(5);
        QCoreApplication::processEvents();
    }
    EXPECT_GT(ticks, 0);
    t->SetEnabled(false);
    int after = ticks;
    QThread::msleep(20);
    QCoreApplication::processEvents();
    EXPECT_EQ(ticks, after);
}

namespace {
class ProbeForm : public TForm {
public:
    ProbeForm() { DoCreate(); }
    ~ProbeForm() override { DoDestroy(); }
};
}  // namespace

TEST(Form, ShowCloseQueryCloseAndDestroyEvents) {
    std::vector<std::string> log;
    ProbeForm main_form;  // the first form is the application's main form
    {
        ProbeForm form;
        form.OnShow = [&](QObject*) { log.push_back("show"); };
        form.OnCloseQuery = [&](QObject*, bool& can) {
            log.push_back("closequery");
            can = log.size() > 2;  // refuse the first close
        };
        form.OnClose = [&](QObject*, TCloseAction& a) {
            log.push_back("close");
            EXPECT_EQ(a, TCloseAction::caHide);
        };
        form.OnDestroy = [&](QObject*) { log.push_back("destroy"); };
        form.Show();
        form.Close();
        EXPECT_TRUE(form.isVisible());
        form.Close();
        EXPECT_FALSE(form.isVisible());
    }
    std::vector<std::string> expected{"show", "closequery", "closequery", "close", "destroy"};
    EXPECT_EQ(log, expected);
}

TEST(Form, SpontaneousShowDoesNotFireOnShow) {
    ProbeForm form;
    int shows = 0;
    form.OnShow = [&](QObject*) { ++shows; };
    form.Show();
    EXPECT_EQ(shows, 1);
    // A restore from minimised reaches the form as a spontaneous show event.
    QShowEvent restore;
    QSpontaneKeyEvent::setSpontaneous(&restore);
    qApp->notify(&form, &restore);
    EXPECT_EQ(shows, 1);
}

TEST(Form, AlphaBlendValueDrivesWindowOpacity) {
    ProbeForm form;
    form.SetAlphaBlend(true);
    form.SetAlphaBlendValue(0);
    EXPECT_DOUBLE_EQ(form.windowOpacity(), 0.0);
    form.SetAlphaBlendValue(300);
    EXPECT_EQ(form.AlphaBlendValue(), 255);
    form.SetAlphaBlendValue(128);
    EXPECT_NEAR(form.windowOpacity(), 128 / 255.0, 0.01);
}

TEST(Form, ClosingTheMainFormEndsTheApplication) {
    ProbeForm main_form;
    ProbeForm other;
    auto* app = TApplication::Instance();
    ASSERT_EQ(app->MainForm(), &main_form);
    TCloseAction seen = TCloseAction::caNone;
    main_form.OnClose = [&](QObject*, TCloseAction& a) { seen = a; };
    other.Show();
    other.Close();
    EXPECT_FALSE(app->Terminated()) << "closing another form only hides it";
    main_form.Show();
    main_form.Close();
    EXPECT_EQ(seen, TCloseAction::caFree);
    EXPECT_TRUE(app->Terminated());
}
