// Handlers fire when the handlers expect them to: a combo box only on the
// user's pick, a check box also from code, and a throwing handler is
// reported without breaking the control.
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "framework/bind.h"
#include "framework/exceptions.h"
#include "platform/winui/dialogs.h"

using namespace ronvix;
using namespace ronvix::fw;

TEST(Bind, ComboFiresOnTheUsersPickOnlyNeverFromCode) {
    QComboBox combo;
    combo.addItems({"a", "b", "c"});
    int clicks = 0;
    QObject* sender = nullptr;
    BindClick(&combo, [&](QObject* s) {
        ++clicks;
        sender = s;
    });
    combo.setCurrentIndex(2);
    EXPECT_EQ(clicks, 0);
    combo.show();
    combo.setFocus();
    QTest::keyClick(&combo, Qt::Key_Up);  // the user moves the selection
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(sender, &combo);
    EXPECT_EQ(combo.currentIndex(), 1);
}

TEST(Bind, ComboDoubleClick) {
    QComboBox combo;
    combo.addItem("x");
    int dbl = 0;
    BindDblClick(&combo, [&](QObject*) { ++dbl; });
    combo.show();
    QTest::mouseDClick(&combo, Qt::LeftButton);
    EXPECT_EQ(dbl, 1);
    QTest::mouseDClick(&combo, Qt::RightButton);
    EXPECT_EQ(dbl, 1);
}

TEST(Bind, CheckBoxFiresFromTheUserAndFromCodeWhenTheStateChanges) {
    QCheckBox box;
    int clicks = 0;
    BindClick(&box, [&](QObject*) { ++clicks; });
    box.setChecked(true);
    EXPECT_EQ(clicks, 1);
    box.setChecked(true);  // no change, no click
    EXPECT_EQ(clicks, 1);
    box.show();
    QTest::mouseClick(&box, Qt::LeftButton);
    EXPECT_EQ(clicks, 2);
    EXPECT_FALSE(box.isChecked());
}

TEST(Bind, ButtonEditAndSliderEvents) {
    QPushButton button("Start");
    QLineEdit edit;
    QSlider slider(Qt::Horizontal);
    int clicks = 0, edits = 0, moves = 0;
    BindClick(&button, [&](QObject*) { ++clicks; });
    BindChange(&edit, [&](QObject*) { ++edits; });
    BindChange(&slider, [&](QObject*) { ++moves; });
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    button.setEnabled(false);
    QTest::mouseClick(&button, Qt::LeftButton);  // a disabled button does nothing
    EXPECT_EQ(clicks, 1);
    edit.setText("from code");
    EXPECT_EQ(edits, 1);
    slider.setValue(10);
    slider.setValue(10);
    EXPECT_EQ(moves, 1);
}

TEST(Bind, ContainerClick) {
    QGroupBox group("Filename");
    group.resize(100, 50);
    int clicks = 0;
    BindClick(static_cast<QWidget*>(&group), [&](QObject*) { ++clicks; });
    group.show();
    QTest::mouseClick(&group, Qt::LeftButton, {}, QPoint(50, 30));
    EXPECT_EQ(clicks, 1);
}

TEST(Bind, ThrowingHandlerIsReportedAndTheControlKeepsWorking) {
    win::ScriptedDialogs dialogs;
    dialogs.QueueBoxAnswer(win::IDOK);
    dialogs.QueueBoxAnswer(win::IDOK);
    QCheckBox box;
    int after = 0;
    BindClick(&box, [&](QObject*) {
        throw EListError(3);
        ++after;
    });
    box.setChecked(true);
    box.setChecked(false);
    EXPECT_EQ(after, 0);
    ASSERT_EQ(dialogs.boxes.size(), 2u);
    EXPECT_EQ(dialogs.boxes[0].text, "List index out of bounds (3).");
    EXPECT_FALSE(box.isChecked()) << "the state change itself is not rolled back";
}
