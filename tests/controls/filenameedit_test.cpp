// The file name edit: the file name of a text, quoting, setting FileName,
// the button's dialog answered by the scripted dialog service, ClickKey,
// read-only rules, Enter and Escape, dropping files and the layout.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest/QTest>
#include <string>
#include <vector>

#include "controls/filenameedit.h"
#include "framework/exceptions.h"
#include "platform/winui/dialogs.h"

using namespace ronvix;
using namespace ronvix::controls;

namespace {

win::FileDialogResult Chosen(const QString& name) {
    return win::FileDialogResult{{name}, 1};
}

// The capture file field as the main window configures it.
void MakeCaptureField(TFilenameEdit& e) {
    e.SetDialogKind(TFileDialogKind::dkSave);
    e.SetDefaultExt("avi");
    e.SetFilter("AVI file|*.avi|All files (*.*)|*.*");
    e.SetDialogTitle("Set Capture File");
    e.SetNumGlyphs(1);
    e.SetText("c:\\capture.avi");
}

void SendDrop(QWidget* target, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

}  // namespace

TEST(FileNameOfText, ScansLikeACommandLine) {
    struct Case {
        const char* text;
        const char* name;
    };
    const Case cases[] = {
        {"c:\\capture.avi", "c:\\capture.avi"},
        {"\"c:\\my files\\a.avi\"", "c:\\my files\\a.avi"},
        {"c:\\my files\\a.avi", "c:\\my"},
        {"    ", ""},
        {"", ""},
        {" \t\"\"\"\" x y", "x"},
        {"a\"b c\"d e", "ab cd"},
        {"\"unterminated run", "unterminated run"},
        {"\x01\x02name", "name"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileNameOfText(QString::fromLatin1(c.text)), QString::fromLatin1(c.name))
            << c.text;
    // Words longer than 256 characters are kept whole.
    const QString long_name = QString(300, QLatin1Char('x')) + QStringLiteral(".avi");
    EXPECT_EQ(FileNameOfText(long_name + QStringLiteral(" rest")), long_name);
}

TEST(FileNameOfText, AnExistingFileWithBlanksIsTakenWhole) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("my files.avi");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_EQ(FileNameOfText(path), path);
    EXPECT_EQ(FileNameOfText(dir.filePath("other files.avi")), dir.filePath("other"));
}

TEST(FileNameQuoting, AndPathParts) {
    EXPECT_EQ(QuotedFileName("c:\\My Videos\\a.avi"), "\"c:\\My Videos\\a.avi\"");
    EXPECT_EQ(QuotedFileName("\"c:\\My Videos\\a.avi"), "\"c:\\My Videos\\a.avi");
    EXPECT_EQ(QuotedFileName("c:\\capture.avi"), "c:\\capture.avi");
    EXPECT_EQ(ExtractFilePath("c:\\My Videos\\a.avi"), "c:\\My Videos\\");
    EXPECT_EQ(ExtractFileName("c:\\My Videos\\a.avi"), "a.avi");
    EXPECT_EQ(ExtractFilePath("c:a.avi"), "c:");
    EXPECT_EQ(ExtractFilePath("/tmp/x/a.avi"), "/tmp/x/");
    EXPECT_EQ(ExtractFileName("a.avi"), "a.avi");
}

TEST(FilenameEditFileName, InvalidNamesFailAndLeaveTheText) {
    TFilenameEdit e;
    e.SetText("c:\\capture.avi");
    for (QChar bad : QStringLiteral("<>[]|")) {
        const QString name = QStringLiteral("c:\\x") + bad + QStringLiteral("y.avi");
        try {
            e.SetFileName(name);
            ADD_FAILURE() << name.toStdString() << " accepted";
        } catch (const fw::Exception& ex) {
            EXPECT_EQ(ex.Message(), "Invalid file name - " + name);
        }
        EXPECT_EQ(e.Text(), "c:\\capture.avi");
    }
    // Double quotes in the value are quoting, not part of the name: a
    // quoted name (as the text stores it) is taken back as it is.
    e.SetFileName("\"c:\\My Videos\\b.avi\"");
    EXPECT_EQ(e.Text(), "\"c:\\My Videos\\b.avi\"");
    EXPECT_EQ(e.FileName(), "c:\\My Videos\\b.avi");
    EXPECT_THROW(e.SetFileName("\"\""), fw::Exception) << "quotes around nothing name nothing";
    e.SetText("c:\\capture.avi");

    e.SetFileName("c:\\My Videos\\a.avi");
    EXPECT_EQ(e.Text(), "\"c:\\My Videos\\a.avi\"");
    EXPECT_EQ(e.FileName(), "c:\\My Videos\\a.avi");
    EXPECT_EQ(e.property("FileName").toString(), "c:\\My Videos\\a.avi");
    e.SetFileName("");
    EXPECT_EQ(e.Text(), "");
}

TEST(FilenameEditDialog, AltDownOpensTheConfiguredSaveDialog) {
    win::ScriptedDialogs dialogs;
    TFilenameEdit e;
    MakeCaptureField(e);
    dialogs.QueueFileAnswer(Chosen("c:\\My Videos\\a.avi"));
    QTest::keyClick(e.Edit(), Qt::Key_Down, Qt::AltModifier);
    ASSERT_EQ(dialogs.file_requests.size(), 1u);
    const win::FileDialogRequest& r = dialogs.file_requests[0];
    EXPECT_EQ(r.kind, win::FileDialogKind::Save);
    EXPECT_EQ(r.title, "Set Capture File");
    EXPECT_EQ(r.filter, "AVI file|*.avi|All files (*.*)|*.*");
    EXPECT_EQ(r.default_ext, "avi");
    EXPECT_EQ(r.file_name, "c:\\capture.avi");
    EXPECT_EQ(e.Text(), "\"c:\\My Videos\\a.avi\"");
    EXPECT_EQ(e.FileName(), "c:\\My Videos\\a.avi");
    EXPECT_EQ(e.InitialDir(), "c:\\My Videos\\");
    EXPECT_TRUE(dialogs.unexpected.empty());

    // Plain Down is the edit's; without a button ClickKey does nothing.
    QTest::keyClick(e.Edit(), Qt::Key_Down);
    e.SetButtonWidth(0);
    QTest::keyClick(e.Edit(), Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(dialogs.file_requests.size(), 1u);
    // Another key can be chosen.
    e.SetButtonWidth(21);
    e.SetClickKey(QKeySequence(Qt::Key_F4));
    QTest::keyClick(e.Edit(), Qt::Key_F4);
    EXPECT_EQ(dialogs.file_requests.size(), 2u);
}

TEST(FilenameEditDialog, EventsInOrderAndHandlersMayChangeNameAndFlag) {
    win::ScriptedDialogs dialogs;
    TFilenameEdit e;
    e.SetText("c:\\capture.avi");
    std::vector<std::string> order;
    e.OnButtonClick = [&](QObject*) { order.push_back("button"); };
    e.OnBeforeDialog = [&](QObject*, QString& name, bool& action) {
        order.push_back("before " + name.toStdString());
        name = "c:\\other.avi";
        action = true;
    };
    e.OnAfterDialog = [&](QObject*, QString& name, bool& action) {
        order.push_back("after " + name.toStdString() + (action ? " yes" : " no"));
        // A handler may accept a cancelled dialog with its own name.
        name = "c:\\from handler.avi";
        action = true;
    };
    e.ButtonClick();  // cancelled: no answer queued
    ASSERT_EQ(dialogs.file_requests.size(), 1u);
    EXPECT_EQ(dialogs.file_requests[0].file_name, "c:\\other.avi");
    EXPECT_EQ(order, (std::vector<std::string>{"button", "before c:\\capture.avi",
                                               "after c:\\other.avi no"}));
    EXPECT_EQ(e.Text(), "\"c:\\from handler.avi\"");

    // Clearing the flag before the dialog stops it from opening.
    e.OnBeforeDialog = [](QObject*, QString&, bool& action) { action = false; };
    e.OnAfterDialog = nullptr;
    e.ButtonClick();
    EXPECT_EQ(dialogs.file_requests.size(), 1u);
}

TEST(FilenameEditDialog, PresetNameAndInitialFolder) {
    win::ScriptedDialogs dialogs;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TFilenameEdit e;
    // An existing folder becomes the initial folder.
    e.SetText(dir.filePath("take1.avi"));
    e.ButtonClick();
    ASSERT_EQ(dialogs.file_requests.size(), 1u);
    EXPECT_EQ(dialogs.file_requests[0].initial_dir, dir.path() + "/");
    EXPECT_EQ(dialogs.file_requests[0].file_name, dir.filePath("take1.avi"));
    // A missing folder leaves it; a name without a name part is no preset.
    e.SetText(dir.filePath("missing/"));
    e.ButtonClick();
    EXPECT_EQ(dialogs.file_requests[1].initial_dir, dir.path() + "/");
    EXPECT_EQ(dialogs.file_requests[1].file_name, "");
    // A confirmed name sets the text; blanks only then open without a preset.
    dialogs.QueueFileAnswer(Chosen("c:\\a.avi"));
    e.ButtonClick();
    EXPECT_EQ(e.Text(), "c:\\a.avi");
    e.SetText("   ");
    EXPECT_EQ(e.FileName(), "");
    e.ButtonClick();
    ASSERT_EQ(dialogs.file_requests.size(), 4u);
    EXPECT_EQ(dialogs.file_requests[3].file_name, "");
    EXPECT_EQ(e.Text(), "   ") << "a cancel leaves the text";
}

TEST(FilenameEditDialog, KindChangeCarriesEverySettingOver) {
    TFilenameEdit e;
    EXPECT_EQ(e.DialogKind(), TFileDialogKind::dkOpen);
    EXPECT_EQ(e.DialogTitle(), "Browse");
    EXPECT_EQ(e.Filter(), "All files (*.*)|*.*");
    EXPECT_EQ(e.DialogOptions(), TFilenameEdit::TOpenOptions(TFilenameEdit::ofHideReadOnly));
    e.SetDefaultExt("avi");
    e.SetFilter("AVI file|*.avi");
    e.SetFilterIndex(2);
    e.SetInitialDir("c:\\v\\");
    e.SetHistoryList({"a", "b"});
    e.SetDialogOptions(TFilenameEdit::ofOverwritePrompt | TFilenameEdit::ofPathMustExist);
    e.SetDialogTitle("T");
    e.SetFileEditStyle(TFilenameEdit::fsComboBox);
    e.Dialog().settings.files = QStringList{"x"};
    e.Dialog().settings.file_name = "x";
    const TOpenDialog* before = &e.Dialog();
    e.setProperty("DialogKind", QVariant::fromValue(TFileDialogKind::dkSavePicture));
    EXPECT_NE(&e.Dialog(), before) << "a new dialog object of the new kind";
    EXPECT_EQ(e.DialogKind(), TFileDialogKind::dkSavePicture);
    EXPECT_TRUE(e.Dialog().IsSave());
    const TFileDialogSettings& s = e.Dialog().settings;
    EXPECT_EQ(s.default_ext, "avi");
    EXPECT_EQ(s.filter, "AVI file|*.avi");
    EXPECT_EQ(s.filter_index, 2);
    EXPECT_EQ(s.initial_dir, "c:\\v\\");
    EXPECT_EQ(s.history_list, (QStringList{"a", "b"}));
    EXPECT_EQ(s.options, TFilenameEdit::ofOverwritePrompt | TFilenameEdit::ofPathMustExist);
    EXPECT_EQ(s.title, "T");
    EXPECT_EQ(s.edit_style, TFilenameEdit::fsComboBox);
    EXPECT_EQ(s.files, QStringList{"x"});
    EXPECT_EQ(s.file_name, "x");

    win::ScriptedDialogs dialogs;
    e.SetText("c:\\capture.avi");
    e.ButtonClick();
    ASSERT_EQ(dialogs.file_requests.size(), 1u);
    EXPECT_EQ(dialogs.file_requests[0].kind, win::FileDialogKind::Save);
    EXPECT_TRUE(dialogs.file_requests[0].overwrite_prompt);
    EXPECT_TRUE(dialogs.file_requests[0].path_must_exist);
    EXPECT_EQ(dialogs.file_requests[0].filter_index, 2);
}

TEST(FilenameEditInput, ReadOnlyDirectInputAndTheButton) {
    win::ScriptedDialogs dialogs;
    QWidget form;
    TFilenameEdit e(&form);
    e.SetText("c:\\a.avi");
    form.show();
    int clicks = 0;
    e.OnButtonClick = [&](QObject*) { ++clicks; };

    // A click is a press and a release over the button.
    QTest::mouseClick(e.Button(), Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(dialogs.file_requests.size(), 1u);
    EXPECT_EQ(form.focusWidget(), e.Edit()) << "pressing the button focuses the edit";
    QTest::mousePress(e.Button(), Qt::LeftButton);
    QTest::mouseRelease(e.Button(), Qt::LeftButton, {}, QPoint(-20, -20));
    EXPECT_EQ(clicks, 1) << "releasing elsewhere does nothing";

    // DirectInput off: no typing, but the button and ClickKey still work.
    e.SetDirectInput(false);
    QTest::keyClicks(e.Edit(), "zz");
    EXPECT_EQ(e.Text(), "c:\\a.avi");
    QTest::keyClick(e.Edit(), Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(dialogs.file_requests.size(), 2u);

    // ReadOnly: nothing at all.
    e.SetDirectInput(true);
    e.SetReadOnly(true);
    QTest::keyClicks(e.Edit(), "zz");
    QTest::keyClick(e.Edit(), Qt::Key_Down, Qt::AltModifier);
    e.ButtonClick();
    EXPECT_EQ(e.Text(), "c:\\a.avi");
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(dialogs.file_requests.size(), 2u);

    e.SetReadOnly(false);
    QTest::keyClicks(e.Edit(), "z");
    EXPECT_EQ(e.Text(), "c:\\a.aviz");
    e.setEnabled(false);
    EXPECT_FALSE(e.Button()->isEnabled());
}

TEST(FilenameEditInput, KeyboardEntrySelectsAllOnlyWithAutoSelectAndDirectInput) {
    TFilenameEdit e;
    e.SetText("c:\\capture.avi");
    auto enter = [&](Qt::FocusReason reason) {
        e.Edit()->deselect();
        QFocusEvent in(QEvent::FocusIn, reason);
        QApplication::sendEvent(e.Edit(), &in);
        return e.Edit()->selectedText();
    };
    EXPECT_EQ(enter(Qt::TabFocusReason), "c:\\capture.avi");
    EXPECT_EQ(enter(Qt::MouseFocusReason), "");
    e.SetAutoSelect(false);
    EXPECT_EQ(enter(Qt::TabFocusReason), "");
    e.SetAutoSelect(true);
    e.SetDirectInput(false);
    EXPECT_EQ(enter(Qt::BacktabFocusReason), "");
}

TEST(FilenameEditInput, EnterAndEscapeReachTheDialogsButtons) {
    QDialog dialog;
    TFilenameEdit e(&dialog);
    e.SetText("c:\\a.avi");
    QPushButton ok("OK", &dialog);
    ok.setDefault(true);
    int oks = 0;
    QObject::connect(&ok, &QPushButton::clicked, [&] { ++oks; });
    dialog.show();
    QTest::keyClick(e.Edit(), Qt::Key_Return);
    EXPECT_EQ(oks, 1);
    EXPECT_EQ(e.Text(), "c:\\a.avi");
    bool rejected = false;
    QObject::connect(&dialog, &QDialog::rejected, [&] { rejected = true; });
    QTest::keyClick(e.Edit(), Qt::Key_Escape);
    EXPECT_TRUE(rejected);
}

TEST(FilenameEditInput, DroppedFilesOnlyWhenAccepted) {
    TFilenameEdit e;
    e.SetText("c:\\a.avi");
    int drops = 0;
    e.OnDropFiles = [&](QObject*) { ++drops; };
    const QList<QUrl> urls{QUrl::fromLocalFile("/tmp/my take.avi"),
                           QUrl::fromLocalFile("/tmp/second.avi")};
    SendDrop(e.Edit(), urls);
    EXPECT_EQ(e.Text(), "c:\\a.avi");
    EXPECT_EQ(drops, 0);
    e.SetAcceptFiles(true);
    SendDrop(e.Edit(), urls);
    EXPECT_EQ(e.Text(), "\"/tmp/my take.avi\"");
    EXPECT_EQ(drops, 1);
    // Remote URLs are not files.
    SendDrop(e.Edit(), {QUrl("http://example.invalid/a.avi")});
    EXPECT_EQ(drops, 1);
}

TEST(FilenameEditLayout, ButtonInsideTheFrameAndMinimumHeight) {
    TFilenameEdit e;
    e.resize(274, 21);
    e.show();
    EXPECT_EQ(e.ButtonWidth(), 21) << "14-pixel glyph + 6 is below the 21-pixel minimum";
    EXPECT_EQ(e.Button()->geometry(), QRect(274 - 2 - 21, 2, 21, 17));
    EXPECT_FALSE(e.Button()->icon().isNull());
    QImage wide(60, 16, QImage::Format_RGB32);
    wide.fill(Qt::magenta);
    e.SetGlyph(QPixmap::fromImage(wide));
    EXPECT_EQ(e.GlyphKind(), TCustomComboEdit::gkCustom);
    EXPECT_EQ(e.ButtonWidth(), 66);
    e.SetNumGlyphs(2);
    EXPECT_EQ(e.ButtonWidth(), 36);
    EXPECT_EQ(e.Button()->geometry(), QRect(274 - 2 - 36, 2, 36, 17));
    e.SetButtonWidth(0);
    EXPECT_TRUE(e.Button()->isHidden());

    QFont big = e.font();
    big.setPixelSize(40);
    e.setFont(big);
    const int expected =
        std::min(QFontMetrics(QApplication::font()).height(), QFontMetrics(big).height()) + 5;
    EXPECT_EQ(e.MinHeight(), expected);
    e.resize(274, 2);
    EXPECT_GE(e.height(), expected);
}
