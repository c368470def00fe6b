// The real dialogs of the capture and tape pages: the Qt file dialogs of
// both file name fields, opened from the fields' folder buttons with names
// in the program's drive form, and the file "Start" then writes; and the
// property frames of the devices, placed at the main window.
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>

#include "capture_fixture.h"
#include "platform/media/devices/audiooutput.h"
#include "platform/media/devices/tapedeck.h"
#include "support/modal.h"

using namespace ronvix;
using namespace ronvix::testing;

namespace {

// The real dialog service for one scope; the fixture's scripted one after.
class RealDialogs {
public:
    explicit RealDialogs(win::DialogService* scripted) : m_scripted(scripted) {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        win::SetDialogService(nullptr);
    }
    ~RealDialogs() { win::SetDialogService(m_scripted); }

private:
    win::DialogService* m_scripted;
};

// Whether the dialog's file list shows `name`.
bool Lists(QFileDialog* dialog, const QString& name) {
    auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
    if (!view)
        return false;
    const QAbstractItemModel* model = view->model();
    for (int row = 0; row < model->rowCount(view->rootIndex()); ++row)
        if (model->index(row, 0, view->rootIndex()).data().toString() == name)
            return true;
    return false;
}

QStringList ShownFilters(QFileDialog* dialog) {
    QStringList shown;
    if (auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
        for (int i = 0; i < combo->count(); ++i)
            shown << combo->itemText(i);
    return shown;
}

}  // namespace

TEST_F(CaptureWindow, TheFileDialogsOpenInTheMappedFolderAndStartWritesThePickedFile) {
    const QString drive = QDir(DriveC(QString())).absolutePath();
    {
        QFile notes(DriveC("notes"));  // a file without an extension
        ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    }
    ChooseDevices();
    form->savedialog->SetText(QStringLiteral("c:\\capture.avi"));
    {
        RealDialogs real(&dialogs);
        ModalAnswer<QFileDialog> answer([&](QFileDialog* dialog) {
            EXPECT_EQ(dialog->windowTitle(), "Set Capture File");
            EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
            EXPECT_EQ(QDir(dialog->directory()).absolutePath(), drive);
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            EXPECT_TRUE(name && name->text() == "capture.avi") << "not the mapped file name";
            EXPECT_EQ(ShownFilters(dialog), (QStringList{"AVI file", "All files (*.*)"}));
            dialog->selectNameFilter(dialog->nameFilters().value(1));
            EXPECT_TRUE(SpinUntil([&] { return Lists(dialog, "notes"); }, 10000))
                << "\"All files\" hides a file without an extension";
            dialog->selectNameFilter(dialog->nameFilters().value(0));
            if (name)
                name->setText(QStringLiteral("picked"));
            static_cast<QDialog*>(dialog)->accept();  // as the "Save"/"Open" button does
        });
        form->savedialog->ButtonClick();
        ASSERT_TRUE(answer.Answered()) << "no file dialog opened";
    }
    EXPECT_EQ(form->savedialog->FileName(), DriveC("picked.avi"));
    CaptureFor(1000);
    ExpectNoBox();
    const auto streams = media::test::ProbeStreams(DriveC("picked.avi"));
    ASSERT_TRUE(streams) << "Start did not write the file picked";
    EXPECT_EQ(streams->size(), 2u);
    for (const QString& stray :
         {QStringLiteral("/c:\\capture.avi"), QStringLiteral("c:\\picked.avi"),
          QDir::root().filePath(QStringLiteral("c:\\picked.avi"))})
        EXPECT_FALSE(QFileInfo::exists(stray)) << stray.toStdString();

    // The tape page's field opens the same way and plays what it picks.
    form->PageControl1->setCurrentIndex(2);
    Pick(form->AudioDestFilters, QString::fromUtf8(media::kSilentAudioOutputName));
    Pick(form->VideoOutFilters, QString::fromUtf8(media::kTapeDeckName));
    form->PageControl1->setCurrentIndex(1);
    form->SourceFilename->SetText(QStringLiteral("c:\\picked.avi"));
    {
        RealDialogs real(&dialogs);
        ModalAnswer<QFileDialog> answer([&](QFileDialog* dialog) {
            EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
            EXPECT_EQ(QDir(dialog->directory()).absolutePath(), drive);
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            EXPECT_TRUE(name && name->text() == "picked.avi");
            static_cast<QDialog*>(dialog)->accept();  // as the "Save"/"Open" button does
        });
        form->SourceFilename->ButtonClick();
        ASSERT_TRUE(answer.Answered());
    }
    EXPECT_EQ(form->SourceFilename->FileName(), DriveC("picked.avi"));
    form->Start_print->click();
    EXPECT_EQ(form->OutGraph->State(), 3) << "the picked file does not play";
    form->Stop_print->click();
    ExpectNoBox();
}

TEST_F(CaptureWindow, DevicePropertyFramesOpenAtTheMainWindowsCorner) {
    ChooseDevices();
    form->PageControl1->setCurrentIndex(2);
    form->move(150, 120);
    for (QPushButton* button : {form->Button1, form->Button2}) {
        QPoint at;
        QWidget* parent = nullptr;
        dialogs.QueueDialogAnswer([&](QDialog& frame) {
            at = frame.pos();
            parent = frame.parentWidget();
            return int(QDialog::Rejected);
        });
        button->click();
        EXPECT_EQ(parent, form.get());
        EXPECT_EQ(at, form->mapToGlobal(QPoint(0, 0))) << button->objectName().toStdString();
    }
    ExpectNoBox();
}
