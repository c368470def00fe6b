#pragma once
// Message boxes and common file dialogs.
//
// Every message box and file dialog of the program goes through the one
// installed DialogService. The default service shows real Qt dialogs over
// the owner, or over the window in use when the owner is hidden or null; a
// file dialog's names are the program's (drive letters allowed) and are
// mapped to Linux paths as the file functions map them, and the files the
// user picks come back as Linux paths. Tests
// install a ScriptedDialogs that answers from a queue and records what was
// asked, so no test ever blocks on a modal dialog. UI thread only.

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "platform/win/window.h"

class QDialog;

namespace ronvix::win {

// Message box flags (the platform's values).
inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
inline constexpr UINT MB_YESNOCANCEL = 0x3;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_RETRYCANCEL = 0x5;
inline constexpr UINT MB_ICONERROR = 0x10;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONWARNING = 0x30;
inline constexpr UINT MB_ICONINFORMATION = 0x40;
inline constexpr UINT MB_TYPEMASK = 0xF;
inline constexpr UINT MB_ICONMASK = 0xF0;

// Message box results.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

enum class FileDialogKind { Open, Save };

// One file dialog request. `filter` is in the "Name|*.ext|Name|*.ext" form.
struct FileDialogRequest {
    FileDialogKind kind = FileDialogKind::Open;
    QString title;
    QString initial_dir;
    QString file_name;
    QString default_ext;
    QString filter;
    int filter_index = 1;  // 1-based
    bool multi_select = false;
    bool overwrite_prompt = false;
    bool file_must_exist = false;
    bool path_must_exist = false;
};

struct FileDialogResult {
    QStringList files;     // empty when the user cancelled
    int filter_index = 1;  // the filter chosen, 1-based
};

class DialogService {
public:
    virtual ~DialogService() = default;
    // Shows a modal message box; returns one of the ID* results.
    virtual int MessageBox(HWND owner, const QString& text, const QString& caption, UINT type) = 0;
    // Shows a modal file dialog; an empty `files` means cancelled.
    virtual FileDialogResult FileDialog(HWND owner, const FileDialogRequest& request) = 0;
    // Picks a folder; empty when cancelled.
    virtual QString FolderDialog(HWND owner, const QString& title, const QString& initial) = 0;
    // Runs a modal dialog the caller built (a property frame, for example)
    // and returns its QDialog result. The default runs it with exec().
    virtual int ExecDialog(QDialog& dialog);
};

// The installed service (the Qt one unless a test replaced it).
DialogService& Dialogs();
// Installs `service` (not owned) or, with null, the default Qt service again.
void SetDialogService(DialogService* service);

int MessageBox(HWND owner, const QString& text, const QString& caption, UINT type);
int ExecDialog(QDialog& dialog);

// Converts "Name|*.a;*.b|Name2|*.c" to Qt's "Name (*.a *.b);;Name2 (*.c)";
// "*.*" becomes "*", every file. The default service shows the labels as
// written, without the pattern list Qt would add.
QStringList FilterToQt(const QString& filter);

// A scripted service for tests. Answers come from queues in order; a
// question with no answer queued is recorded in `unexpected` and answered
// with IDCANCEL or a cancelled dialog, so a test sees it instead of hanging.
class ScriptedDialogs : public DialogService {
public:
    struct AskedBox {
        QString text;
        QString caption;
        UINT type = 0;
    };
    ScriptedDialogs();            // installs itself
    ~ScriptedDialogs() override;  // reinstalls the default service

    void QueueBoxAnswer(int id) { m_box_answers.push_back(id); }
    void QueueFileAnswer(FileDialogResult result) { m_file_answers.push_back(std::move(result)); }
    void QueueFolderAnswer(QString folder) { m_folder_answers.push_back(std::move(folder)); }
    // An answer to a dialog works its controls (sets values, clicks
    // buttons) and returns the dialog's result; it runs instead of exec().
    using DialogAnswer = std::function<int(QDialog&)>;
    void QueueDialogAnswer(DialogAnswer answer) { m_dialog_answers.push_back(std::move(answer)); }

    int MessageBox(HWND owner, const QString& text, const QString& caption, UINT type) override;
    FileDialogResult FileDialog(HWND owner, const FileDialogRequest& request) override;
    QString FolderDialog(HWND owner, const QString& title, const QString& initial) override;
    int ExecDialog(QDialog& dialog) override;

    std::vector<AskedBox> boxes;
    std::vector<QString> dialog_titles;
    std::vector<FileDialogRequest> file_requests;
    std::vector<QString> unexpected;

private:
    std::deque<int> m_box_answers;
    std::deque<FileDialogResult> m_file_answers;
    std::deque<QString> m_folder_answers;
    std::deque<DialogAnswer> m_dialog_answers;
};

}  // namespace ronvix::win
