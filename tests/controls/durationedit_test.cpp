// The duration field as a user types into it.
#include <gtest/gtest.h>
#include <QLineEdit>
#include <QTest>

#include "controls/durationedit.h"

using ronvix::controls::TDurationEdit;

namespace {

struct Typing {
    const char* what;
    int before;        // seconds shown first
    bool select_all;   // Ctrl+A first
    const char* keys;  // typed
    int after;         // seconds shown then
};

}  // namespace

TEST(DurationEdit, TypingAfterSelectAllReplacesTheWholeTimeAndSectionsStillEdit) {
    const Typing kCases[] = {
        {"a whole time", 7200, true, "00:00:05", 5},
        {"digits alone", 7200, true, "000130", 90},
        {"short sections", 7200, true, "1:2:3", 3723},
        {"a time that runs out early", 5400, true, "00:10", 600},
        {"one section chosen", 7200, false, "03", 3 * 3600},
    };
    for (const Typing& t : kCases) {
        SCOPED_TRACE(t.what);
        TDurationEdit edit;
        edit.SetSeconds(t.before);
        edit.show();
        edit.setFocus();
        // Ctrl+A selects the whole text; else the hours are chosen, as
        // tabbing into the field chooses them.
        if (t.select_all)
            QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
        else
            edit.setSelectedSection(QDateTimeEdit::HourSection);
        QTest::keyClicks(&edit, QString::fromLatin1(t.keys));
        // Enter commits what was typed.
        QTest::keyClick(&edit, Qt::Key_Return);
        EXPECT_EQ(edit.Seconds(), t.after) << edit.text().toStdString();
    }
    TDurationEdit edit;
    edit.SetSeconds(-5);
    EXPECT_EQ(edit.Seconds(), 0);
    edit.SetSeconds(90000);
    EXPECT_EQ(edit.Seconds(), TDurationEdit::kMaxSeconds);
}
