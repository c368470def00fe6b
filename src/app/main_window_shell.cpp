// The main window's own handlers: creation, the show sequence, the capture
// priority, closing, and the "Filename" frames' click; the pages' wiring.

#include <algorithm>

#include "app/main_window.h"
#include "app/pages/stored_settings.h"
#include "framework/application.h"
#include "framework/bind.h"
#include "framework/strings.h"
#include "platform/win/files.h"
#include "platform/win/kernel.h"
#include "platform/win/priority.h"
#include "settings/values.h"

namespace ronvix::app {

namespace {
// The capture priority's items in order: "Realtime", "High", "Normal", "Idle".
constexpr win::DWORD kPriorityClasses[] = {win::REALTIME_PRIORITY_CLASS, win::HIGH_PRIORITY_CLASS,
                                           win::NORMAL_PRIORITY_CLASS, win::IDLE_PRIORITY_CLASS};
}  // namespace

void MainWindow::Connect() {
    OnCreate = [this](QObject*) { onCreate(); };
    OnShow = [this](QObject*) { onShow(); };
    OnClose = [this](QObject*, fw::TCloseAction&) { onClose(); };
    OnDestroy = [this](QObject*) { onDestroy(); };
    fw::BindClick(capturePriority, [this](QObject*) { onPriorityChosen(); });
    fw::BindClick(captureFileFrame, [this](QObject*) { onFileFrameClicked(); });
    fw::BindClick(playoutFileFrame, [this](QObject*) { onFileFrameClicked(); });
    formStorage->OnSavePlacement = [this](QObject*) { devicePage->SaveSelection(); };
    capturePage->Connect();
    playoutPage->Connect();
    devicePage->Connect();
    playoutPage->release_capture = [this] { return capturePage->ReleaseForPlayout(); };
    // Both graphs' buffering shows in the one field.
    playoutSession->on_buffering = captureSession->on_buffering;
}

void MainWindow::onCreate() {
    devicePage->FillLists();
}

void MainWindow::onShow() {
    // A stored priority that names no class of the list (letters, which
    // restore as index 0, or a number out of range) is taken as the designed
    // class, High, never as the strongest one.
    const pages::StoredSetting& priority = pages::StoredSettingOf("ComboBox1_ItemIndex");
    const auto stored = settings::ParseInteger(
        formStorage->ReadStrValue(pages::Key(priority), pages::Fallback(priority)).trimmed());
    if (!stored || *stored < 0 || *stored >= static_cast<qint64>(std::size(kPriorityClasses)))
        capturePriority->setCurrentIndex(1);
    // The capture priority applies before anything else of the sequence.
    onPriorityChosen();
    // A file named as the last argument is what the user wants to play out.
    auto* app = fw::TApplication::Instance();
    if (app && app->ParamCount() >= 1 &&
        win::FileExists(fw::Utf8(app->ParamStr(app->ParamCount()))))
        playoutPage->sourceFile->SetText(app->ParamStr(app->ParamCount()));
    // The stored devices are chosen again, and the stored format of each
    // capture device once its list has been refilled.
    devicePage->RestoreSelection();
    devicePage->WatchDevices();
}

void MainWindow::onPriorityChosen() {
    const int index = capturePriority->currentIndex();
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
    capturePriority->setCurrentIndex(found == std::end(kPriorityClasses)
                                         ? -1
                                         : static_cast<int>(found - std::begin(kPriorityClasses)));
}

void MainWindow::onFileFrameClicked() {
    // The user interface thread asks for more of the processor; a refusal
    // changes nothing. Only this thread is raised: the streaming threads a
    // run starts from it later take the chosen class (TFilterGraph settles
    // them).
    win::SetThreadPriority(win::GetCurrentThreadId(), 128);
}

void MainWindow::onClose() {
    // Both graphs stop and empty; a running capture's file is completed.
    playoutSession->Graph()->ClearFilters();
    captureSession->Graph()->ClearFilters();
    // Closing the splash window, the application's main window, ends the
    // message loop and so the program.
    auto* app = fw::TApplication::Instance();
    if (app && app->MainForm() && app->MainForm() != this)
        app->MainForm()->Close();
}

void MainWindow::onDestroy() {
    devicePage->Release();
    playoutSession->Graph()->ClearFilters();
    captureSession->Graph()->ClearFilters();
}

}  // namespace ronvix::app
