// The real dialogs of the capture and tape pages: the Qt file dialogs of
// both file name fields, opened from the fields' folder buttons with names
// in the program's drive form, and the file "Start" then writes; and the
// property frames of the devices, placed at the main window, whose changes
// the page's controls then show.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSlider>

#include "capture_fixture.h"
#include "mediagraph/graph_util.h"
#include "platform/media/devices/alsa/audiooutput.h"
#include "platform/media/devices/virtual/tapedeck.h"
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
    form->capturePage->fileName->SetText(QStringLiteral("c:\\capture.avi"));
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
        form->capturePage->fileName->ButtonClick();
        ASSERT_TRUE(answer.Answered()) << "no file dialog opened";
    }
    EXPECT_EQ(form->capturePage->fileName->FileName(), DriveC("picked.avi"));
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
    form->tabs->setCurrentIndex(2);
    Pick(form->devicePage->audioOutputs, QString::fromUtf8(media::kSilentAudioOutputName));
    Pick(form->devicePage->videoOutputs, QString::fromUtf8(media::kTapeDeckName));
    form->tabs->setCurrentIndex(1);
    form->playoutPage->sourceFile->SetText(QStringLiteral("c:\\picked.avi"));
    {
        RealDialogs real(&dialogs);
        ModalAnswer<QFileDialog> answer([&](QFileDialog* dialog) {
            EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
            EXPECT_EQ(QDir(dialog->directory()).absolutePath(), drive);
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            EXPECT_TRUE(name && name->text() == "picked.avi");
            static_cast<QDialog*>(dialog)->accept();  // as the "Save"/"Open" button does
        });
        form->playoutPage->sourceFile->ButtonClick();
        ASSERT_TRUE(answer.Answered());
    }
    EXPECT_EQ(form->playoutPage->sourceFile->FileName(), DriveC("picked.avi"));
    form->playoutPage->playButton->click();
    EXPECT_EQ(form->playoutSession->Graph()->State(), 3) << "the picked file does not play";
    form->playoutPage->stopButton->click();
    ExpectNoBox();
}

TEST_F(CaptureWindow, DevicePropertyFramesOpenAtTheMainWindowsCorner) {
    ChooseDevices();
    form->tabs->setCurrentIndex(2);
    form->move(150, 120);
    for (QPushButton* button :
         {form->devicePage->videoProperties, form->devicePage->audioProperties}) {
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

// What the devices' own property pages change shows on the page once the
// frame has closed (Apply then Cancel, or OK), and nothing goes back: a
// device value the page can only show rounded stays as the device has it.
TEST_F(CaptureWindow, ThePagesControlsFollowTheDevicesPropertyPagesAndSendNothingBack) {
    ChooseDevices();
    // Other instances of the same devices: their state is the device's.
    com::ComPtr<media::IBaseFilter> camera, tone;
    ASSERT_EQ(media::CreateTestCamera(media::IBaseFilter::iid, camera.OutVoid()), com::S_OK);
    ASSERT_EQ(media::CreateToneGenerator(media::IBaseFilter::iid, tone.OutVoid()), com::S_OK);
    const auto amp = camera.As<media::IAMVideoProcAmp>();
    const auto compression =
        mediagraph::TPinList(camera.Get()).FirstPin().As<media::IAMVideoCompression>();
    com::ComPtr<media::IAMAudioInputMixer> microphone;
    {
        mediagraph::TPinList pins(tone.Get());
        for (int i = 0; i < pins.Count(); ++i) {
            media::PIN_INFO info{};
            pins.PinInfoAt(i, info);
            if (info.pFilter)
                info.pFilter->Release();
            if (QString::fromUtf16(info.achName) == "Microphone")
                microphone = pins.PinAt(i).As<media::IAMAudioInputMixer>();
        }
    }
    ASSERT_TRUE(amp && compression && microphone);
    com::LONG min = 0, max = 0, step = 0, def = 0, caps = 0;
    ASSERT_EQ(amp->GetRange(media::VideoProcAmp_Brightness, &min, &max, &step, &def, &caps),
              com::S_OK);
    amp->Set(media::VideoProcAmp_Brightness, min, media::VideoProcAmp_Flags_Manual);
    compression->put_Quality(0.555);
    microphone->put_MixLevel(0.333);
    form->tabs->setCurrentIndex(2);

    dialogs.QueueDialogAnswer([&](QDialog& frame) {
        auto* brightness = frame.findChild<QSlider*>(QStringLiteral("Brightness"));
        EXPECT_TRUE(brightness) << "no Brightness on the camera's pages";
        if (brightness)
            brightness->setValue(brightness->maximum());
        frame.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Apply)->click();
        return int(QDialog::Rejected);  // closed with Cancel after Apply
    });
    form->devicePage->videoProperties->click();
    EXPECT_EQ(form->capturePage->brightnessSlider->Value(), max);
    EXPECT_EQ(form->capturePage->brightnessField->text(), QString::number(max - 128));
    EXPECT_EQ(form->capturePage->qualitySlider->Value(), 56);
    EXPECT_EQ(form->capturePage->qualityField->text(), workflow::QualityText(56));

    dialogs.QueueDialogAnswer([&](QDialog& frame) {
        auto* line = frame.findChild<QCheckBox*>(QStringLiteral("Microphone"));
        EXPECT_TRUE(line) << "no Microphone on the tone generator's pages";
        if (line)
            line->setChecked(true);
        frame.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        return int(QDialog::Accepted);
    });
    form->devicePage->audioProperties->click();
    EXPECT_EQ(form->capturePage->inputLines->currentText(), "Microphone");
    EXPECT_EQ(form->capturePage->volumeSlider->Value(), 33);
    EXPECT_EQ(form->capturePage->volumeField->text(), "33 %");

    com::LONG brightness = 0, flags = 0;
    amp->Get(media::VideoProcAmp_Brightness, &brightness, &flags);
    EXPECT_EQ(brightness, max);
    double quality = 0, level = 0;
    compression->get_Quality(&quality);
    microphone->get_MixLevel(&level);
    EXPECT_EQ(quality, 0.555) << "the page's rounded quality reached the camera";
    EXPECT_EQ(level, 0.333) << "the page's rounded level reached the tone generator";
    ExpectNoBox();
}
