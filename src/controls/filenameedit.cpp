#include "controls/filenameedit.h"

#include <QResizeEvent>

#include "framework/application.h"
#include "framework/exceptions.h"
#include "framework/format.h"
#include "platform/winui/dialogs.h"
#include "platform/winui/widgets.h"

namespace ronvix::controls {

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

TFilenameEdit::TFilenameEdit(QWidget* parent)
    : QWidget(parent), m_edit(new QLineEdit(this)), m_button(new QToolButton(this)) {
    m_button->setText(QStringLiteral("…"));
    m_button->setFocusPolicy(Qt::NoFocus);
    setFocusProxy(m_edit);
    setFocusPolicy(Qt::StrongFocus);
    connect(m_edit, &QLineEdit::textChanged, this,
            [this] { fw::SafeCall([this] { fw::Fire(OnChange, this); }); });
    connect(m_button, &QToolButton::clicked, this,
            [this] { fw::SafeCall([this] { ButtonClick(); }); });
}

QString TFilenameEdit::FileName() const {
    // The existence check of a whole text as a file is the platform's and
    // comes with the full control; the scan is what names a file here.
    return FirstWordOf(Text());
}

void TFilenameEdit::SetFileName(const QString& name) {
    if (name.isEmpty()) {
        SetText(QString());
        return;
    }
    if (!ValidFileName(FirstWordOf(name)))
        throw fw::Exception(fw::Format(QStringLiteral("Invalid file name - %s"), name));
    SetText(QuotedFileName(name));
}

void TFilenameEdit::ButtonClick() {
    fw::Fire(OnButtonClick, this);
    win::FileDialogRequest req;
    req.kind = (m_kind == TFileDialogKind::dkSave || m_kind == TFileDialogKind::dkSavePicture)
                   ? win::FileDialogKind::Save
                   : win::FileDialogKind::Open;
    req.title = m_title;
    req.filter = m_filter;
    req.default_ext = m_default_ext;
    req.file_name = FileName();
    win::FileDialogResult r = win::Dialogs().FileDialog(win::WidgetHandle(this), req);
    if (!r.files.isEmpty())
        SetText(QuotedFileName(r.files.front()));
}

void TFilenameEdit::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    const int bw = 21;
    m_edit->setGeometry(0, 0, width(), height());
    m_button->setGeometry(width() - bw - 2, 2, bw, height() - 4);
    m_edit->setTextMargins(0, 0, bw + 2, 0);
}

}  // namespace ronvix::controls
