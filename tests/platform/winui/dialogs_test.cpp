// The dialog service seam and the window handle lookups of widgets.
#include <gtest/gtest.h>
#include <QWidget>

#include "platform/winui/dialogs.h"
#include "platform/winui/widgets.h"

using namespace ronvix::win;

TEST(Dialogs, ScriptedAnswersInOrderAndUnexpectedQuestionsAreRecorded) {
    {
        ScriptedDialogs d;
        d.QueueBoxAnswer(IDOK);
        FileDialogResult r;
        r.files << "/tmp/a.avi";
        d.QueueFileAnswer(r);
        EXPECT_EQ(MessageBox(nullptr, "File x exists. Overwrite?", "Warning", MB_OKCANCEL), IDOK);
        FileDialogRequest req;
        req.title = "Set Capture File";
        EXPECT_EQ(Dialogs().FileDialog(nullptr, req).files, QStringList{"/tmp/a.avi"});
        // Nothing queued: the test is told, instead of blocking on a real dialog.
        EXPECT_EQ(MessageBox(nullptr, "again", "Warning", MB_OKCANCEL), IDCANCEL);
        EXPECT_TRUE(Dialogs().FileDialog(nullptr, req).files.isEmpty());
        ASSERT_EQ(d.unexpected.size(), 2u);
        ASSERT_EQ(d.boxes.size(), 2u);
        EXPECT_EQ(d.boxes[0].caption, "Warning");
        EXPECT_EQ(d.file_requests.at(0).title, "Set Capture File");
    }
    // Gone out of scope: the real service is back.
    EXPECT_EQ(dynamic_cast<ScriptedDialogs*>(&Dialogs()), nullptr);
}

TEST(Dialogs, FilterConversion) {
    // "*.*" is every file, also one without an extension.
    EXPECT_EQ(FilterToQt("AVI file|*.avi|All files (*.*)|*.*"),
              (QStringList{"AVI file (*.avi)", "All files (*.*) (*)"}));
    EXPECT_EQ(FilterToQt("Media|*.avi; *.mjpeg"), QStringList{"Media (*.avi *.mjpeg)"});
    EXPECT_TRUE(FilterToQt("").isEmpty());
    EXPECT_TRUE(FilterToQt("dangling").isEmpty());
}

TEST(WindowHandles, FindWindowExByClassAndCaption) {
    QWidget owner;
    auto* a = new QWidget(&owner);
    auto* b = new QWidget(&owner);
    auto* c = new QWidget(&owner);
    a->setWindowTitle("one");
    b->setWindowTitle("ActiveMovie Window");
    c->setWindowTitle("ActiveMovie Window");
    HWND ho = WidgetHandle(&owner);
    WidgetHandle(a, "Other");
    HWND hb = WidgetHandle(b, "VideoRenderer");
    HWND hc = WidgetHandle(c, "VideoRenderer");
    EXPECT_EQ(FindWindowEx(ho, nullptr, "VideoRenderer", {}), hb);
    EXPECT_EQ(FindWindowEx(ho, hb, "videorenderer", {}), hc);
    EXPECT_EQ(FindWindowEx(ho, hc, "VideoRenderer", {}), nullptr);
    EXPECT_EQ(FindWindowEx(ho, nullptr, {}, "one"), WidgetHandle(a));
    EXPECT_EQ(HandleWidget(hb), b);
    delete b;
    EXPECT_EQ(HandleWidget(hb), nullptr);
    EXPECT_FALSE(IsWindow(hb));
    EXPECT_EQ(FindWindowEx(ho, nullptr, "VideoRenderer", {}), hc);
}
