#pragma once
// TCustomComboEdit: a one-line edit with a push button embedded at its right
// end, a keyboard shortcut for the button (ClickKey) and read-only rules.
// TFileDirEdit: the file-dialog events and dropping files from the desktop.
//
// Contract:
// - ButtonClick runs for a click on the button (press and release over it),
//   for ClickKey (Alt+Down unless changed; only while the button is wider
//   than 0 pixels) and for calls from code. It does nothing while ReadOnly
//   is set; it still works while only DirectInput is off.
// - The edit refuses typing, paste and cut while ReadOnly is set or
//   DirectInput is off; disabling the control disables its button.
// - Enter and Escape go on to the form after the edit's own handling, so a
//   dialog's default and cancel buttons act on them.
// - Entering by keyboard selects all text exactly when AutoSelect and
//   DirectInput are both set.
// - OnChange fires on every text change, from the user or from code.
// Every handler that Qt's input reaches runs inside SafeCall. UI thread only.

#include <QKeySequence>
#include <QLineEdit>
#include <QPixmap>
#include <QToolButton>
#include <QWidget>
#include <functional>

#include "framework/events.h"

namespace ronvix::controls {

class TCustomComboEdit;

namespace detail {
// The edit part: passes its keys and keyboard focus changes to the owner
// before its own handling.
class ComboEditField : public QLineEdit {
public:
    explicit ComboEditField(TCustomComboEdit* owner);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    bool event(QEvent* e) override;

private:
    TCustomComboEdit* m_owner;
};

// The embedded push button: takes the edit's focus when pressed and paints
// a button-face line and a highlight line at its left edge so that it reads
// as part of the edit.
class ComboButton : public QToolButton {
public:
    explicit ComboButton(TCustomComboEdit* owner);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    TCustomComboEdit* m_owner;
};
}  // namespace detail

class TCustomComboEdit : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool AutoSelect READ AutoSelect WRITE SetAutoSelect)
    Q_PROPERTY(QString ButtonHint READ ButtonHint WRITE SetButtonHint)
    Q_PROPERTY(int ButtonWidth READ ButtonWidth WRITE SetButtonWidth)
    Q_PROPERTY(QKeySequence ClickKey READ ClickKey WRITE SetClickKey)
    Q_PROPERTY(bool DirectInput READ DirectInput WRITE SetDirectInput)
    Q_PROPERTY(QPixmap Glyph READ Glyph WRITE SetGlyph)
    Q_PROPERTY(TGlyphKind GlyphKind READ GlyphKind WRITE SetGlyphKind)
    Q_PROPERTY(int NumGlyphs READ NumGlyphs WRITE SetNumGlyphs)
    Q_PROPERTY(bool ReadOnly READ ReadOnly WRITE SetReadOnly)
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
public:
    enum TGlyphKind { gkCustom, gkDefault, gkDropDown, gkEllipsis };
    Q_ENUM(TGlyphKind)

    explicit TCustomComboEdit(QWidget* parent = nullptr);
    ~TCustomComboEdit() override;

    bool AutoSelect() const { return m_auto_select; }
    void SetAutoSelect(bool on) { m_auto_select = on; }
    QString ButtonHint() const;
    void SetButtonHint(const QString& hint);
    int ButtonWidth() const { return m_button_width; }
    // 0 hides the button (and switches ClickKey off).
    void SetButtonWidth(int width);
    QKeySequence ClickKey() const { return m_click_key; }
    void SetClickKey(const QKeySequence& key) { m_click_key = key; }
    bool DirectInput() const { return m_direct_input; }
    void SetDirectInput(bool on);
    // The custom picture: NumGlyphs pictures side by side (normal, then
    // disabled); its lower-left pixel is its transparent colour. Assigning
    // it switches GlyphKind to gkCustom (a null picture to gkDefault).
    QPixmap Glyph() const { return m_glyph; }
    void SetGlyph(const QPixmap& glyph);
    TGlyphKind GlyphKind() const { return m_glyph_kind; }
    void SetGlyphKind(TGlyphKind kind);
    int NumGlyphs() const { return m_num_glyphs; }
    void SetNumGlyphs(int n);
    bool ReadOnly() const { return m_read_only; }
    void SetReadOnly(bool on);
    QString Text() const { return m_edit->text(); }
    void SetText(const QString& text) { m_edit->setText(text); }
    int Tag() const { return m_tag; }
    void SetTag(int t) { m_tag = t; }

    QLineEdit* Edit() const { return m_edit; }
    QToolButton* Button() const { return m_button; }

    // Fires OnButtonClick; does nothing while ReadOnly is set. Subclasses
    // extend it (the file dialog) and call the base first.
    virtual void ButtonClick();

    // The smallest height that fits the text: the smaller of the system
    // font's and the control font's line height, plus four border heights,
    // plus 1.
    int MinHeight() const;

    fw::TNotifyEvent OnChange;
    fw::TNotifyEvent OnButtonClick;

protected:
    // The picture for gkDefault; subclasses supply their own.
    virtual QPixmap DefaultGlyph() const;
    // Rebuilds the button's picture and width; a subclass with its own
    // DefaultGlyph calls it at the end of its constructor.
    void UpdateButton();
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    friend class detail::ComboEditField;
    friend class detail::ComboButton;
    // Returns true when the key was the control's and is consumed.
    bool EditKeyPress(QKeyEvent* e);
    void EditFocusIn(QFocusEvent* e);
    void UpdateLayout();
    void UpdateEditReadOnly();

    detail::ComboEditField* m_edit;
    detail::ComboButton* m_button;
    bool m_auto_select = true;
    bool m_direct_input = true;
    bool m_read_only = false;
    int m_button_width = 21;
    QKeySequence m_click_key{Qt::ALT | Qt::Key_Down};
    QPixmap m_glyph;
    TGlyphKind m_glyph_kind = gkDefault;
    int m_num_glyphs = 1;
    int m_tag = 0;
};

// Name and action flag, both of which the handler may change.
using TExecOpenDialogEvent = std::function<void(QObject* sender, QString& name, bool& action)>;

class TFileDirEdit : public TCustomComboEdit {
    Q_OBJECT
    Q_PROPERTY(bool AcceptFiles READ AcceptFiles WRITE SetAcceptFiles)
public:
    explicit TFileDirEdit(QWidget* parent = nullptr);

    // Dropping local files onto the edit is accepted only while this is set.
    bool AcceptFiles() const { return m_accept_files; }
    void SetAcceptFiles(bool on) { m_accept_files = on; }

    TExecOpenDialogEvent OnBeforeDialog;
    TExecOpenDialogEvent OnAfterDialog;
    fw::TNotifyEvent OnDropFiles;

protected:
    // Takes a dropped name as the control's value.
    virtual void ReceptFileDir(const QString& name) = 0;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    bool m_accept_files = false;
};

}  // namespace ronvix::controls
