#pragma once
// TFilenameEdit: a one-line edit for a file name with a button at its right
// end that opens the open or save file dialog (through the dialog service)
// and writes the chosen name back, quoted when it contains a blank.
// UI thread only.

#include <QLineEdit>
#include <QToolButton>
#include <QWidget>

#include "framework/events.h"

namespace ronvix::controls {

enum class TFileDialogKind { dkOpen, dkSave, dkOpenPicture, dkSavePicture };

class TFilenameEdit : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(QString FileName READ FileName WRITE SetFileName STORED false)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
public:
    explicit TFilenameEdit(QWidget* parent = nullptr);

    QString Text() const { return m_edit->text(); }
    void SetText(const QString& text) { m_edit->setText(text); }
    // The file name the text holds.
    QString FileName() const;
    // Throws "Invalid file name - %s" for a name with forbidden characters.
    void SetFileName(const QString& name);

    TFileDialogKind DialogKind() const { return m_kind; }
    void SetDialogKind(TFileDialogKind k) { m_kind = k; }
    QString DefaultExt() const { return m_default_ext; }
    void SetDefaultExt(const QString& e) { m_default_ext = e; }
    QString Filter() const { return m_filter; }
    void SetFilter(const QString& f) { m_filter = f; }
    QString DialogTitle() const { return m_title; }
    void SetDialogTitle(const QString& t) { m_title = t; }
    int NumGlyphs() const { return m_num_glyphs; }
    void SetNumGlyphs(int n) { m_num_glyphs = n; }
    int Tag() const { return m_tag; }
    void SetTag(int t) { m_tag = t; }

    QLineEdit* Edit() const { return m_edit; }
    QToolButton* Button() const { return m_button; }

    // Opens the dialog primed from the text.
    void ButtonClick();

    fw::TNotifyEvent OnChange;
    fw::TNotifyEvent OnButtonClick;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    QLineEdit* m_edit;
    QToolButton* m_button;
    TFileDialogKind m_kind = TFileDialogKind::dkOpen;
    QString m_default_ext;
    QString m_filter = QStringLiteral("All files (*.*)|*.*");
    QString m_title = QStringLiteral("Browse");
    int m_num_glyphs = 1;
    int m_tag = 0;
};

// The first word of a text scanned like a command line (quotes keep blanks).
QString FirstWordOf(const QString& text);
// A valid name is non-empty and has none of < > " [ ] |.
bool ValidFileName(const QString& name);
// Encloses a name with a blank in double quotes unless it starts with one.
QString QuotedFileName(const QString& name);

}  // namespace ronvix::controls
