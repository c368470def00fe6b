#include "controls/filenameedit.h"

#include <QFileInfo>

#include "controls/images.h"
#include "framework/exceptions.h"
#include "framework/format.h"
#include "framework/strings.h"
#include "platform/win/files.h"
#include "platform/win/paths.h"
#include "platform/winui/dialogs.h"
#include "platform/winui/widgets.h"

namespace ronvix::controls {
namespace {

bool IsNameDelimiter(QChar c) {
    return c == QLatin1Char('\\') || c == QLatin1Char('/') || c == QLatin1Char(':');
}

qsizetype LastDelimiter(const QString& name) {
    for (qsizetype i = name.size() - 1; i >= 0; --i)
        if (IsNameDelimiter(name[i]))
            return i;
    return -1;
}

// True when `folder` (a name of the program's, drive letters allowed) names
// an existing folder.
bool FolderExists(const QString& folder) {
    if (folder.isEmpty())
        return false;
    const auto mapped = win::MapPath(fw::Utf8(folder));
    return mapped && QFileInfo(fw::FromUtf8(*mapped)).isDir();
}

}  // namespace

QString FirstWordOf(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    for (;;) {
        while (i < n && text[i].unicode() <= ' ')
            ++i;
        if (i + 1 < n && text[i] == QLatin1Char('"') && text[i + 1] == QLatin1Char('"')) {
            i += 2;
            continue;
        }
        break;
    }
    QString word;
    bool quoted = false;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            continue;
        }
        if (!quoted && c.unicode() <= ' ')
            break;
        word += c;
    }
    return word;
}

QString FileNameOfText(const QString& text) {
    if (!text.isEmpty() && win::FileExists(fw::Utf8(text)))
        return text;
    return FirstWordOf(text);
}

bool ValidFileName(const QString& name) {
    if (name.isEmpty())
        return false;
    for (QChar c : name)
        if (QStringLiteral("<>\"[]|").contains(c))
            return false;
    return true;
}

QString QuotedFileName(const QString& name) {
    if (name.contains(QLatin1Char(' ')) && !name.startsWith(QLatin1Char('"')))
        return QLatin1Char('"') + name + QLatin1Char('"');
    return name;
}

QString ExtractFilePath(const QString& name) {
    return name.left(LastDelimiter(name) + 1);
}

QString ExtractFileName(const QString& name) {
    return name.mid(LastDelimiter(name) + 1);
}

bool TOpenDialog::Execute(win::HWND owner) {
    using O = TFilenameEdit::TOpenOption;
    const TFileDialogSettings& s = settings;
    win::FileDialogRequest req;
    req.kind = IsSave() ? win::FileDialogKind::Save : win::FileDialogKind::Open;
    req.title = s.title;
    req.initial_dir = s.initial_dir;
    req.file_name = s.file_name;
    req.default_ext = s.default_ext;
    req.filter = s.filter;
    req.filter_index = s.filter_index;
    req.multi_select = s.options.testFlag(O::ofAllowMultiSelect);
    req.overwrite_prompt = s.options.testFlag(O::ofOverwritePrompt);
    req.file_must_exist = s.options.testFlag(O::ofFileMustExist);
    req.path_must_exist = s.options.testFlag(O::ofPathMustExist);
    // The dialog service never raises error boxes of its own about missing
    // drives or unreadable files, so there is no error mode to switch off.
    const win::FileDialogResult r = win::Dialogs().FileDialog(owner, req);
    if (r.files.isEmpty())
        return false;
    settings.files = r.files;
    settings.file_name = r.files.front();
    settings.filter_index = r.filter_index;
    return true;
}

TFilenameEdit::TFilenameEdit(QWidget* parent)
    : TFileDirEdit(parent), m_dialog(std::make_unique<TOpenDialog>(TFileDialogKind::dkOpen)) {
    m_dialog->settings.filter = QStringLiteral("All files (*.*)|*.*");
    m_dialog->settings.title = QStringLiteral("Browse");
    UpdateButton();
}

TFilenameEdit::~TFilenameEdit() = default;

QPixmap TFilenameEdit::DefaultGlyph() const {
    return QPixmap::fromImage(FolderGlyphImage());
}

QString TFilenameEdit::FileName() const {
    return FileNameOfText(Text());
}

void TFilenameEdit::SetFileName(const QString& name) {
    if (name.isEmpty()) {
        SetText(QString());
        return;
    }
    if (!ValidFileName(FileNameOfText(name)))
        throw fw::Exception(fw::Format(QStringLiteral("Invalid file name - %s"), name));
    SetText(QuotedFileName(name));
    m_dialog->settings.files.clear();
}

void TFilenameEdit::ReceptFileDir(const QString& name) {
    SetFileName(name);
}

void TFilenameEdit::ButtonClick() {
    if (ReadOnly())
        return;
    TFileDirEdit::ButtonClick();
    QString name = FileName();
    bool action = true;
    fw::Fire(OnBeforeDialog, this, name, action);
    if (!action)
        return;
    TFileDialogSettings& s = m_dialog->settings;
    // A name that cannot be a file name opens the dialog without a preset
    // rather than with whatever the last run left there.
    QString preset;
    if (ValidFileName(name)) {
        const QString folder = ExtractFilePath(name);
        if (FolderExists(folder))
            s.initial_dir = folder;
        const QString base = ExtractFileName(name);
        if (base.isEmpty() || !ValidFileName(base))
            name.clear();
        preset = name;
    }
    s.file_name = preset;
    bool confirmed = m_dialog->Execute(win::WidgetHandle(this));
    if (confirmed)
        name = s.file_name;
    if (Edit()->isVisible() && Edit()->isEnabled())
        Edit()->setFocus(Qt::OtherFocusReason);
    fw::Fire(OnAfterDialog, this, name, confirmed);
    if (confirmed) {
        SetText(QuotedFileName(name));
        s.initial_dir = ExtractFilePath(s.file_name);
    }
}

TFileDialogKind TFilenameEdit::DialogKind() const {
    return m_dialog->Kind();
}

void TFilenameEdit::SetDialogKind(TFileDialogKind kind) {
    if (kind == m_dialog->Kind())
        return;
    auto replacement = std::make_unique<TOpenDialog>(kind);
    replacement->settings = m_dialog->settings;
    m_dialog = std::move(replacement);
}

QString TFilenameEdit::DefaultExt() const {
    return m_dialog->settings.default_ext;
}
void TFilenameEdit::SetDefaultExt(const QString& ext) {
    m_dialog->settings.default_ext = ext;
}
TFilenameEdit::TFileEditStyle TFilenameEdit::FileEditStyle() const {
    return m_dialog->settings.edit_style;
}
void TFilenameEdit::SetFileEditStyle(TFileEditStyle style) {
    m_dialog->settings.edit_style = style;
}
QString TFilenameEdit::Filter() const {
    return m_dialog->settings.filter;
}
void TFilenameEdit::SetFilter(const QString& filter) {
    m_dialog->settings.filter = filter;
}
int TFilenameEdit::FilterIndex() const {
    return m_dialog->settings.filter_index;
}
void TFilenameEdit::SetFilterIndex(int index) {
    m_dialog->settings.filter_index = index;
}
QString TFilenameEdit::InitialDir() const {
    return m_dialog->settings.initial_dir;
}
void TFilenameEdit::SetInitialDir(const QString& dir) {
    m_dialog->settings.initial_dir = dir;
}
QStringList TFilenameEdit::HistoryList() const {
    return m_dialog->settings.history_list;
}
void TFilenameEdit::SetHistoryList(const QStringList& list) {
    m_dialog->settings.history_list = list;
}
TFilenameEdit::TOpenOptions TFilenameEdit::DialogOptions() const {
    return m_dialog->settings.options;
}
void TFilenameEdit::SetDialogOptions(TOpenOptions options) {
    m_dialog->settings.options = options;
}
QString TFilenameEdit::DialogTitle() const {
    return m_dialog->settings.title;
}
void TFilenameEdit::SetDialogTitle(const QString& title) {
    m_dialog->settings.title = title;
}

}  // namespace ronvix::controls
