#include "controls/comboedit.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QUrl>
#include <algorithm>

#include "controls/images.h"
#include "framework/application.h"

namespace ronvix::controls {
namespace {

constexpr int kDefaultButtonWidth = 21;
// The frame of the edit around the button, top, bottom and right.
constexpr int kFrame = 2;
// Space between the end of the text area and the button.
constexpr int kTextGap = 2;

bool IsKeyboardReason(Qt::FocusReason r) {
    return r == Qt::TabFocusReason || r == Qt::BacktabFocusReason || r == Qt::ShortcutFocusReason;
}

bool MatchesKey(const QKeyEvent* e, const QKeySequence& key) {
    if (key.isEmpty())
        return false;
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    return key[0] == QKeyCombination(mods, Qt::Key(e->key()));
}

// The first local file among dragged URLs, or empty.
QString FirstLocalFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls())
        return {};
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return {};
}

}  // namespace

namespace detail {

ComboEditField::ComboEditField(TCustomComboEdit* owner) : QLineEdit(owner), m_owner(owner) {}

void ComboEditField::keyPressEvent(QKeyEvent* e) {
    if (m_owner->EditKeyPress(e))
        return;
    const int key = e->key();
    QLineEdit::keyPressEvent(e);
    // Enter and Escape are never the edit's: they go on to the form so that
    // its default and cancel buttons act.
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape)
        e->ignore();
}

void ComboEditField::focusInEvent(QFocusEvent* e) {
    QLineEdit::focusInEvent(e);
    m_owner->EditFocusIn(e);
}

bool ComboEditField::event(QEvent* e) {
    // Claim ClickKey before the shortcut map sees it, so a window shortcut
    // on the same key cannot take it away from the button.
    if (e->type() == QEvent::ShortcutOverride) {
        auto* ke = static_cast<QKeyEvent*>(e);
        if (m_owner->ButtonWidth() > 0 && MatchesKey(ke, m_owner->ClickKey())) {
            e->accept();
            return true;
        }
    }
    return QLineEdit::event(e);
}

ComboButton::ComboButton(TCustomComboEdit* owner) : QToolButton(owner), m_owner(owner) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
}

void ComboButton::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        QLineEdit* edit = m_owner->Edit();
        if ((edit->focusPolicy() & Qt::TabFocus) && edit->isEnabled() && edit->isVisible())
            edit->setFocus(Qt::MouseFocusReason);
    }
    QToolButton::mousePressEvent(e);
}

void ComboButton::paintEvent(QPaintEvent* e) {
    QToolButton::paintEvent(e);
    QPainter p(this);
    if (m_owner->GlyphKind() == TCustomComboEdit::gkEllipsis) {
        // Three 2 x 2 dots, centred; they follow the press like a glyph.
        const int shift = isDown() ? 1 : 0;
        const int x = (width() - 10) / 2 + shift;
        const int y = (height() - 2) / 2 + shift;
        const QColor dot = isEnabled() ? QColor(Qt::black) : palette().color(QPalette::Mid);
        for (int i = 0; i < 3; ++i)
            p.fillRect(x + 4 * i, y, 2, 2, dot);
    } else if (m_owner->GlyphKind() == TCustomComboEdit::gkDropDown) {
        QStyleOption opt;
        opt.initFrom(this);
        opt.rect = rect().adjusted(3, 3, -3, -3).translated(isDown() ? 1 : 0, isDown() ? 1 : 0);
        style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &opt, &p, this);
    }
    p.setPen(palette().color(QPalette::Button));
    p.drawLine(0, 0, 0, height() - 1);
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(1, 0, 1, height() - 1);
}

}  // namespace detail

TCustomComboEdit::TCustomComboEdit(QWidget* parent)
    : QWidget(parent),
      m_edit(new detail::ComboEditField(this)),
      m_button(new detail::ComboButton(this)) {
    setFocusProxy(m_edit);
    setFocusPolicy(Qt::StrongFocus);
    connect(m_edit, &QLineEdit::textChanged, this,
            [this] { fw::SafeCall([this] { fw::Fire(OnChange, this); }); });
    connect(m_button, &QToolButton::clicked, this,
            [this] { fw::SafeCall([this] { ButtonClick(); }); });
    setMinimumHeight(MinHeight());
    resize(121, std::max(21, MinHeight()));
    UpdateButton();
}

TCustomComboEdit::~TCustomComboEdit() = default;

QString TCustomComboEdit::ButtonHint() const {
    return m_button->toolTip();
}

void TCustomComboEdit::SetButtonHint(const QString& hint) {
    m_button->setToolTip(hint);
}

void TCustomComboEdit::SetButtonWidth(int width) {
    m_button_width = std::max(0, width);
    UpdateLayout();
}

void TCustomComboEdit::SetDirectInput(bool on) {
    m_direct_input = on;
    UpdateEditReadOnly();
}

void TCustomComboEdit::SetReadOnly(bool on) {
    m_read_only = on;
    UpdateEditReadOnly();
}

void TCustomComboEdit::UpdateEditReadOnly() {
    // A read-only line edit refuses typing, paste and cut but still copies.
    m_edit->setReadOnly(m_read_only || !m_direct_input);
}

void TCustomComboEdit::SetGlyph(const QPixmap& glyph) {
    m_glyph = glyph;
    m_glyph_kind = glyph.isNull() ? gkDefault : gkCustom;
    UpdateButton();
}

void TCustomComboEdit::SetGlyphKind(TGlyphKind kind) {
    m_glyph_kind = kind;
    UpdateButton();
}

void TCustomComboEdit::SetNumGlyphs(int n) {
    m_num_glyphs = std::clamp(n, 1, 4);
    UpdateButton();
}

QPixmap TCustomComboEdit::DefaultGlyph() const {
    return {};
}

void TCustomComboEdit::UpdateButton() {
    QPixmap picture;
    if (m_glyph_kind == gkCustom)
        picture = m_glyph;
    else if (m_glyph_kind == gkDefault)
        picture = DefaultGlyph();
    if (m_glyph_kind == gkDropDown) {
        m_button_width = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        m_button->setIcon(QIcon());
    } else if (m_glyph_kind == gkEllipsis) {
        m_button->setIcon(QIcon());
    } else if (!picture.isNull()) {
        const QImage image = picture.toImage();
        const int width = image.width() / m_num_glyphs;
        QIcon icon;
        icon.addPixmap(
            Transparent(image.copy(0, 0, width, image.height()), TransparentColorOf(image)),
            QIcon::Normal);
        if (m_num_glyphs >= 2)
            icon.addPixmap(
                Transparent(image.copy(width, 0, width, image.height()), TransparentColorOf(image)),
                QIcon::Disabled);
        m_button->setIcon(icon);
        m_button->setIconSize(QSize(width, image.height()));
        m_button_width = std::max(width + 6, kDefaultButtonWidth);
    } else {
        m_button->setIcon(QIcon());
    }
    UpdateLayout();
}

void TCustomComboEdit::UpdateLayout() {
    const int w = width();
    const int h = height();
    m_edit->setGeometry(0, 0, w, h);
    if (m_button_width > 0) {
        // The button sits inside the edit's 2-pixel frame at its right end.
        m_button->setGeometry(w - kFrame - m_button_width, kFrame, m_button_width, h - 2 * kFrame);
        m_button->show();
        m_edit->setTextMargins(0, 0, m_button_width + kTextGap, 0);
    } else {
        m_button->hide();
        m_edit->setTextMargins(0, 0, 0, 0);
    }
}

int TCustomComboEdit::MinHeight() const {
    const int system = QFontMetrics(QApplication::font()).height();
    const int own = fontMetrics().height();
    constexpr int kBorder = 1;
    return std::min(system, own) + 4 * kBorder + 1;
}

void TCustomComboEdit::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    UpdateLayout();
}

void TCustomComboEdit::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::FontChange)
        setMinimumHeight(MinHeight());
}

void TCustomComboEdit::ButtonClick() {
    if (m_read_only)
        return;
    fw::Fire(OnButtonClick, this);
}

bool TCustomComboEdit::EditKeyPress(QKeyEvent* e) {
    if (m_button_width > 0 && MatchesKey(e, m_click_key)) {
        e->accept();
        fw::SafeCall([this] { ButtonClick(); });
        return true;
    }
    return false;
}

void TCustomComboEdit::EditFocusIn(QFocusEvent* e) {
    if (!IsKeyboardReason(e->reason()))
        return;
    if (m_auto_select && m_direct_input)
        m_edit->selectAll();
    else
        m_edit->deselect();
}

TFileDirEdit::TFileDirEdit(QWidget* parent) : TCustomComboEdit(parent) {
    Edit()->installEventFilter(this);
}

bool TFileDirEdit::eventFilter(QObject* watched, QEvent* e) {
    if (watched != Edit() || !m_accept_files)
        return TCustomComboEdit::eventFilter(watched, e);
    switch (e->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* de = static_cast<QDropEvent*>(e);
            if (FirstLocalFile(de->mimeData()).isEmpty())
                return false;
            de->acceptProposedAction();
            return true;
        }
        case QEvent::Drop: {
            auto* de = static_cast<QDropEvent*>(e);
            const QString name = FirstLocalFile(de->mimeData());
            if (name.isEmpty())
                return false;
            de->acceptProposedAction();
            fw::SafeCall([&] {
                ReceptFileDir(name);
                fw::Fire(OnDropFiles, this);
            });
            return true;
        }
        default:
            return TCustomComboEdit::eventFilter(watched, e);
    }
}

}  // namespace ronvix::controls
