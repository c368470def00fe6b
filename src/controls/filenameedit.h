#pragma once
// TFilenameEdit: a one-line edit for a file name with a button at its right
// end that opens the open or save file dialog (through the dialog service,
// so tests answer it) primed from the text, and writes the chosen name back,
// in double quotes when it contains a blank.
//
// Contract:
// - FileName (read) is the text when a file of exactly that name exists,
//   else the first word of the text scanned like a command line.
// - FileName (write) with an empty name empties the text; a name whose file
//   name contains < > " [ ] | (or is empty) fails with "Invalid file name -
//   %s" and leaves the text as it was.
// - The dialog settings live in a dialog object the control owns; changing
//   DialogKind replaces that object and carries every setting over.
// UI thread only.

#include <QStringList>
#include <memory>

#include "controls/comboedit.h"
#include "platform/win/window.h"

namespace ronvix::controls {

class TOpenDialog;

class TFilenameEdit : public TFileDirEdit {
    Q_OBJECT
    Q_PROPERTY(TFileDialogKind DialogKind READ DialogKind WRITE SetDialogKind)
    Q_PROPERTY(QString DefaultExt READ DefaultExt WRITE SetDefaultExt)
    Q_PROPERTY(TFileEditStyle FileEditStyle READ FileEditStyle WRITE SetFileEditStyle)
    Q_PROPERTY(QString FileName READ FileName WRITE SetFileName STORED false)
    Q_PROPERTY(QString Filter READ Filter WRITE SetFilter)
    Q_PROPERTY(int FilterIndex READ FilterIndex WRITE SetFilterIndex)
    Q_PROPERTY(QString InitialDir READ InitialDir WRITE SetInitialDir)
    Q_PROPERTY(QStringList HistoryList READ HistoryList WRITE SetHistoryList)
    Q_PROPERTY(TOpenOptions DialogOptions READ DialogOptions WRITE SetDialogOptions)
    Q_PROPERTY(QString DialogTitle READ DialogTitle WRITE SetDialogTitle)
public:
    enum class TFileDialogKind { dkOpen, dkSave, dkOpenPicture, dkSavePicture };
    Q_ENUM(TFileDialogKind)
    enum TFileEditStyle { fsEdit, fsComboBox };
    Q_ENUM(TFileEditStyle)
    enum TOpenOption {
        ofReadOnly = 1 << 0,
        ofOverwritePrompt = 1 << 1,
        ofHideReadOnly = 1 << 2,
        ofNoChangeDir = 1 << 3,
        ofShowHelp = 1 << 4,
        ofNoValidate = 1 << 5,
        ofAllowMultiSelect = 1 << 6,
        ofExtensionDifferent = 1 << 7,
        ofPathMustExist = 1 << 8,
        ofFileMustExist = 1 << 9,
        ofCreatePrompt = 1 << 10,
        ofShareAware = 1 << 11,
        ofNoReadOnlyReturn = 1 << 12,
        ofNoTestFileCreate = 1 << 13,
        ofNoNetworkButton = 1 << 14,
        ofNoLongNames = 1 << 15,
        ofOldStyleDialog = 1 << 16,
        ofNoDereferenceLinks = 1 << 17,
        ofEnableIncludeNotify = 1 << 18,
        ofEnableSizing = 1 << 19
    };
    Q_DECLARE_FLAGS(TOpenOptions, TOpenOption)
    Q_FLAG(TOpenOptions)

    explicit TFilenameEdit(QWidget* parent = nullptr);
    ~TFilenameEdit() override;

    QString FileName() const;
    // Throws "Invalid file name - %s"; see the contract above.
    void SetFileName(const QString& name);

    TFileDialogKind DialogKind() const;
    void SetDialogKind(TFileDialogKind kind);
    QString DefaultExt() const;
    void SetDefaultExt(const QString& ext);
    TFileEditStyle FileEditStyle() const;
    void SetFileEditStyle(TFileEditStyle style);
    QString Filter() const;
    void SetFilter(const QString& filter);
    int FilterIndex() const;
    void SetFilterIndex(int index);
    QString InitialDir() const;
    void SetInitialDir(const QString& dir);
    QStringList HistoryList() const;
    void SetHistoryList(const QStringList& list);
    TOpenOptions DialogOptions() const;
    void SetDialogOptions(TOpenOptions options);
    QString DialogTitle() const;
    void SetDialogTitle(const QString& title);

    // The dialog object (owned; replaced when DialogKind changes).
    TOpenDialog& Dialog() const { return *m_dialog; }

    // Fires OnButtonClick, then OnBeforeDialog, runs the dialog primed from
    // the text, fires OnAfterDialog and writes the confirmed name back.
    void ButtonClick() override;

protected:
    QPixmap DefaultGlyph() const override;
    void ReceptFileDir(const QString& name) override;

private:
    std::unique_ptr<TOpenDialog> m_dialog;
};

using TFileDialogKind = TFilenameEdit::TFileDialogKind;

// The settings of a file dialog, as the control keeps them between runs.
struct TFileDialogSettings {
    QString default_ext;
    TFilenameEdit::TFileEditStyle edit_style = TFilenameEdit::fsEdit;
    QString file_name;
    QString filter;
    int filter_index = 1;
    QString initial_dir;
    QStringList history_list;
    QStringList files;  // the names selected in the last run
    TFilenameEdit::TOpenOptions options = TFilenameEdit::ofHideReadOnly;
    QString title;
};

// An open or save dialog of one kind, run through the dialog service.
class TOpenDialog {
public:
    explicit TOpenDialog(TFileDialogKind kind) : m_kind(kind) {}
    TFileDialogKind Kind() const { return m_kind; }
    bool IsSave() const {
        return m_kind == TFileDialogKind::dkSave || m_kind == TFileDialogKind::dkSavePicture;
    }
    // Runs the dialog modally. On confirmation the chosen names become
    // `files`, the first of them `file_name`, and returns true; a cancel
    // leaves every setting as it was.
    bool Execute(win::HWND owner);

    TFileDialogSettings settings;

private:
    TFileDialogKind m_kind;
};

// The first word of a text scanned like a command line: leading blanks,
// control characters and pairs of double quotes are skipped; a double quote
// starts a run that keeps blanks up to the next one; quotes are dropped.
// Words of any length are kept whole.
QString FirstWordOf(const QString& text);
// The file name a text holds: the whole text when such a file exists,
// else its first word.
QString FileNameOfText(const QString& text);
// A valid name is non-empty and has none of < > " [ ] |.
bool ValidFileName(const QString& name);
// Encloses a name with a blank in double quotes unless it starts with one.
QString QuotedFileName(const QString& name);
// The folder part of a name, up to and including its last "\", "/" or ":";
// and the name part after it.
QString ExtractFilePath(const QString& name);
QString ExtractFileName(const QString& name);

}  // namespace ronvix::controls

Q_DECLARE_OPERATORS_FOR_FLAGS(ronvix::controls::TFilenameEdit::TOpenOptions)
