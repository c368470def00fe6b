#include "platform/winui/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>
#include <algorithm>

#include "platform/win/paths.h"

namespace ronvix::win {
namespace {

// The window a dialog opens over. A dialog belongs over the window the user
// works in: an owner that is not shown (the splash after it handed over, or
// no owner at all) would centre the dialog on the screen, away from
// everything, so the active window, or else the first shown top-level
// window, takes its place.
QWidget* OwnerWidget(HWND owner) {
    auto* widget = qobject_cast<QWidget*>(WindowObject(owner));
    if (widget && widget->window()->isVisible())
        return widget;
    if (QWidget* active = QApplication::activeWindow(); active && active->isVisible())
        return active;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->windowType() == Qt::Window)
            return top;
    return widget;
}

// Where a file dialog opens: a Linux folder and a file name in it. The
// request holds the program's names ("c:\capture.avi"), which the dialog
// cannot know: they are mapped as every file operation maps them, so the
// dialog opens in the drive's folder with the file's own name, and what the
// user picks comes back as a Linux path. The preset file's folder wins over
// the initial folder when it exists.
struct DialogPlace {
    QString folder;
    QString name;
};

DialogPlace PlaceOf(const FileDialogRequest& r) {
    DialogPlace place;
    if (!r.initial_dir.isEmpty()) {
        const auto mapped = MapPath(r.initial_dir.toStdString());
        if (mapped && QFileInfo(QString::fromStdString(*mapped)).isDir())
            place.folder = QString::fromStdString(*mapped);
    }
    if (r.file_name.isEmpty())
        return place;
    // A save dialog may name a file on drive C: before its folder was ever
    // made; it is made now, as writing there would make it.
    const std::string name = r.file_name.toStdString();
    const auto mapped = r.kind == FileDialogKind::Save ? MapPathForWriting(name) : MapPath(name);
    if (!mapped) {
        // An unmapped drive: only the name part means anything here.
        const qsizetype cut =
            std::max({r.file_name.lastIndexOf(u'\\'), r.file_name.lastIndexOf(u'/'),
                      r.file_name.lastIndexOf(u':')});
        place.name = r.file_name.mid(cut + 1);
        return place;
    }
    const QFileInfo file(QString::fromStdString(*mapped));
    if (file.absoluteDir().exists())
        place.folder = file.absolutePath();
    place.name = file.fileName();
    return place;
}

class QtDialogs : public DialogService {
public:
    int MessageBox(HWND owner, const QString& text, const QString& caption, UINT type) override {
        QMessageBox box(OwnerWidget(owner));
        box.setWindowTitle(caption);
        box.setText(text);
        switch (type & MB_ICONMASK) {
            case MB_ICONERROR:
                box.setIcon(QMessageBox::Critical);
                break;
            case MB_ICONQUESTION:
                box.setIcon(QMessageBox::Question);
                break;
            case MB_ICONWARNING:
                box.setIcon(QMessageBox::Warning);
                break;
            case MB_ICONINFORMATION:
                box.setIcon(QMessageBox::Information);
                break;
            default:
                break;
        }
        struct Btn {
            QMessageBox::StandardButton button;
            int id;
        };
        std::vector<Btn> buttons;
        switch (type & MB_TYPEMASK) {
            case MB_OKCANCEL:
                buttons = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
                break;
            case MB_ABORTRETRYIGNORE:
                buttons = {{QMessageBox::Abort, IDABORT},
                           {QMessageBox::Retry, IDRETRY},
                           {QMessageBox::Ignore, IDIGNORE}};
                break;
            case MB_YESNOCANCEL:
                buttons = {{QMessageBox::Yes, IDYES},
                           {QMessageBox::No, IDNO},
                           {QMessageBox::Cancel, IDCANCEL}};
                break;
            case MB_YESNO:
                buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
                break;
            case MB_RETRYCANCEL:
                buttons = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
                break;
            default:
                buttons = {{QMessageBox::Ok, IDOK}};
                break;
        }
        QMessageBox::StandardButtons set;
        for (const auto& b : buttons)
            set |= b.button;
        box.setStandardButtons(set);
        box.setDefaultButton(buttons.front().button);
        const int shown = box.exec();
        for (const auto& b : buttons)
            if (shown == b.button)
                return b.id;
        // Closed through the title bar: the platform answers Cancel where
        // there is one, otherwise the only button.
        for (const auto& b : buttons)
            if (b.id == IDCANCEL)
                return IDCANCEL;
        return buttons.front().id;
    }

    FileDialogResult FileDialog(HWND owner, const FileDialogRequest& r) override {
        const DialogPlace place = PlaceOf(r);
        QFileDialog dialog(OwnerWidget(owner), r.title, place.folder);
        // The filter's own labels are shown as they are written ("All
        // files (*.*)"), not followed by a second list of the patterns.
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setAcceptMode(r.kind == FileDialogKind::Save ? QFileDialog::AcceptSave
                                                            : QFileDialog::AcceptOpen);
        if (r.kind == FileDialogKind::Open)
            dialog.setFileMode(r.multi_select ? QFileDialog::ExistingFiles
                                              : (r.file_must_exist ? QFileDialog::ExistingFile
                                                                   : QFileDialog::AnyFile));
        if (!r.overwrite_prompt)
            dialog.setOption(QFileDialog::DontConfirmOverwrite);
        QStringList filters = FilterToQt(r.filter);
        if (!filters.isEmpty()) {
            dialog.setNameFilters(filters);
            if (r.filter_index >= 1 && r.filter_index <= filters.size())
                dialog.selectNameFilter(filters[r.filter_index - 1]);
        }
        if (!r.default_ext.isEmpty())
            dialog.setDefaultSuffix(r.default_ext);
        if (!place.name.isEmpty())
            dialog.selectFile(place.name);
        FileDialogResult result;
        if (dialog.exec() == QDialog::Accepted) {
            result.files = dialog.selectedFiles();
            result.filter_index =
                static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
            if (result.filter_index < 1)
                result.filter_index = r.filter_index;
        } else {
            result.filter_index = r.filter_index;
        }
        return result;
    }

    QString FolderDialog(HWND owner, const QString& title, const QString& initial) override {
        return QFileDialog::getExistingDirectory(OwnerWidget(owner), title, initial);
    }
};

QtDialogs& DefaultDialogs() {
    static QtDialogs dialogs;
    return dialogs;
}

DialogService* g_service = nullptr;  // UI thread only

}  // namespace

DialogService& Dialogs() {
    return g_service ? *g_service : DefaultDialogs();
}

void SetDialogService(DialogService* service) {
    g_service = service;
}

int MessageBox(HWND owner, const QString& text, const QString& caption, UINT type) {
    return Dialogs().MessageBox(owner, text, caption, type);
}

int DialogService::ExecDialog(QDialog& dialog) {
    return dialog.exec();
}

int ExecDialog(QDialog& dialog) {
    return Dialogs().ExecDialog(dialog);
}

QStringList FilterToQt(const QString& filter) {
    QStringList out;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            // "*.*" means every file on the platform the filters were
            // written for, also one without an extension; Qt's "*.*" wants
            // a dot in the name.
            const QString p = pattern.trimmed();
            patterns << (p == QLatin1String("*.*") ? QStringLiteral("*") : p);
        }
        out << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
    }
    return out;
}

ScriptedDialogs::ScriptedDialogs() {
    SetDialogService(this);
}
ScriptedDialogs::~ScriptedDialogs() {
    if (&Dialogs() == this)
        SetDialogService(nullptr);
}

int ScriptedDialogs::MessageBox(HWND, const QString& text, const QString& caption, UINT type) {
    boxes.push_back({text, caption, type});
    if (m_box_answers.empty()) {
        unexpected.push_back(QStringLiteral("message box: ") + text);
        return IDCANCEL;
    }
    int id = m_box_answers.front();
    m_box_answers.pop_front();
    return id;
}

FileDialogResult ScriptedDialogs::FileDialog(HWND, const FileDialogRequest& request) {
    file_requests.push_back(request);
    if (m_file_answers.empty()) {
        unexpected.push_back(QStringLiteral("file dialog: ") + request.title);
        return FileDialogResult{{}, request.filter_index};
    }
    FileDialogResult r = m_file_answers.front();
    m_file_answers.pop_front();
    return r;
}

QString ScriptedDialogs::FolderDialog(HWND, const QString& title, const QString&) {
    if (m_folder_answers.empty()) {
        unexpected.push_back(QStringLiteral("folder dialog: ") + title);
        return {};
    }
    QString f = m_folder_answers.front();
    m_folder_answers.pop_front();
    return f;
}

int ScriptedDialogs::ExecDialog(QDialog& dialog) {
    dialog_titles.push_back(dialog.windowTitle());
    if (m_dialog_answers.empty()) {
        unexpected.push_back(QStringLiteral("dialog: ") + dialog.windowTitle());
        dialog.reject();
        return QDialog::Rejected;
    }
    DialogAnswer answer = std::move(m_dialog_answers.front());
    m_dialog_answers.pop_front();
    return answer(dialog);
}

}  // namespace ronvix::win
