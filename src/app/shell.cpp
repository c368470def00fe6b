// The main window's shell handlers: the show sequence, the capture priority,
// closing, and the "Filename" group click.

#include <algorithm>

#include "app/mainform.h"
#include "framework/application.h"
#include "framework/bind.h"
#include "framework/strings.h"
#include "platform/win/files.h"
#include "platform/win/kernel.h"
#include "platform/win/priority.h"
#include "settings/values.h"

namespace ronvix::app {

namespace {
// ComboBox1's items in order: "Realtime", "High", "Normal", "Idle".
constexpr win::DWORD kPriorityClasses[] = {win::REALTIME_PRIORITY_CLASS, win::HIGH_PRIORITY_CLASS,
                                           win::NORMAL_PRIORITY_CLASS, win::IDLE_PRIORITY_CLASS};
}  // namespace

void TMainForm::BindShellHandlers() {
    OnShow = [this](QObject* sender) { FormShow(sender); };
    OnClose = [this](QObject* sender, fw::TCloseAction& action) { FormClose(sender, action); };
    OnDestroy = [this](QObject* sender) { FormDestroy(sender); };
    fw::BindClick(ComboBox1, [this](QObject* sender) { ComboBox1Change(sender); });
    fw::BindClick(static_cast<QWidget*>(GroupBox4),
                  [this](QObject* sender) { GroupBox4Click(sender); });
    fw::BindClick(static_cast<QWidget*>(GroupBox9),
                  [this](QObject* sender) { GroupBox4Click(sender); });
    BindCaptureHandlers();
    BindTapeHandlers();
}

void TMainForm::FormShow(QObject*) {
    // A stored priority that names no class of the list (letters, which
    // restore as index 0, or a number out of range) is taken as the designed
    // class, High, never as the strongest one.
    const auto stored = settings::ParseInteger(
        FormStorage1->ReadStrValue(QStringLiteral("ComboBox1_ItemIndex"), QStringLiteral("1"))
            .trimmed());
    if (!stored || *stored < 0 || *stored >= static_cast<qint64>(std::size(kPriorityClasses)))
        ComboBox1->setCurrentIndex(1);
    // The capture priority applies before anything else of the sequence.
    ComboBox1Change(ComboBox1);
    // A file named as the last argument is what the user wants to play out.
    auto* app = fw::TApplication::Instance();
    if (app && app->ParamCount() >= 1 &&
        win::FileExists(fw::Utf8(app->ParamStr(app->ParamCount()))))
        SourceFilename->SetText(app->ParamStr(app->ParamCount()));
    // The stored devices are chosen again, and the stored format of each
    // capture device once its list has been refilled.
    SelectStoredDevices();
    if (VideoCapFilters->currentIndex() >= 0) {
        VideoCapFiltersClick(VideoCapFilters);
        VideoFormats->setCurrentIndex(
            FormStorage1->ReadIntValue(QStringLiteral("videoformats_itemindex"), -1));
    }
    if (AudioCapFilters->currentIndex() >= 0) {
        AudioCapFiltersClick(AudioCapFilters);
        AudioFormats->setCurrentIndex(
            FormStorage1->ReadIntValue(QStringLiteral("audioformats_itemindex"), -1));
    }
    AudioDestFiltersClick(AudioDestFilters);
    VideoOutFiltersClick(VideoOutFilters);
}

void TMainForm::ComboBox1Change(QObject*) {
    const int index = ComboBox1->currentIndex();
    if (index < 0 || index >= static_cast<int>(std::size(kPriorityClasses)))
        return;
    if (m_process == 0)
        m_process = win::OpenProcess(win::PROCESS_ALL_ACCESS, 1, win::GetCurrentProcessId());
    // A refused class leaves the process as it was; the list then shows
    // the class in force, so that it never claims one the process is not
    // in, and that is what the settings keep. (Without a nice limit Linux
    // lets nice only go up: after "Idle" the other choices are refused.)
    // A class the list does not hold shows no choice; one that cannot be
    // read leaves the list as it is.
    if (win::SetPriorityClass(m_process, kPriorityClasses[index]))
        return;
    const win::DWORD in_force = win::GetPriorityClass(m_process);
    if (in_force == 0)
        return;
    const auto* found =
        std::find(std::begin(kPriorityClasses), std::end(kPriorityClasses), in_force);
    ComboBox1->setCurrentIndex(found == std::end(kPriorityClasses)
                                   ? -1
                                   : static_cast<int>(found - std::begin(kPriorityClasses)));
}

void TMainForm::GroupBox4Click(QObject*) {
    // The user interface thread asks for more of the processor; a refusal
    // changes nothing. Only this thread is raised: the streaming threads a
    // run starts from it later take the chosen class (TFilterGraph settles
    // them).
    win::SetThreadPriority(win::GetCurrentThreadId(), 128);
}

void TMainForm::FormClose(QObject*, fw::TCloseAction&) {
    // Both graphs stop and empty; a running capture's file is completed.
    OutGraph->ClearFilters();
    CaptureGraph->ClearFilters();
    // Closing the splash window, the application's main window, ends the
    // message loop and so the program.
    auto* app = fw::TApplication::Instance();
    if (app && app->MainForm() && app->MainForm() != this)
        app->MainForm()->Close();
}

void TMainForm::FormDestroy(QObject*) {
    m_capture.devices.reset();
    m_capture.video_types.reset();
    m_capture.audio_types.reset();
    OutGraph->ClearFilters();
    CaptureGraph->ClearFilters();
}

}  // namespace ronvix::app
