#include "controls/groupframe.h"

#include <qdrawutil.h>
#include <QPainter>
#include <QStyle>

namespace ronvix::controls {
namespace {
// Space between the frame's left edge and the title, and around the title.
constexpr int kTitleIndent = 6;
constexpr int kTitlePadding = 2;
}  // namespace

TGroupFrame::TGroupFrame(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

QRect TGroupFrame::TitleRect() const {
    if (title().isEmpty())
        return {};
    const QFontMetrics metrics = fontMetrics();
    return {kTitleIndent, 0, metrics.horizontalAdvance(title()) + 2 * kTitlePadding,
            metrics.height()};
}

QRect TGroupFrame::FrameRect() const {
    const int top = title().isEmpty() ? 0 : fontMetrics().height() / 2;
    return rect().adjusted(0, top, 0, 0);
}

void TGroupFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect title = TitleRect();
    painter.save();
    // The line stops short of the title, which stands in the gap.
    painter.setClipRegion(QRegion(rect()) - QRegion(title));
    qDrawShadeRect(&painter, FrameRect(), palette(), true, 1, 0);
    painter.restore();
    if (!title.isEmpty())
        style()->drawItemText(&painter, title, Qt::AlignCenter | Qt::TextShowMnemonic, palette(),
                              isEnabled(), this->title(), QPalette::WindowText);
}

}  // namespace ronvix::controls
