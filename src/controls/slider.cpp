#include "controls/slider.h"

#include <QKeyEvent>
#include <QPainter>
#include <cmath>

#include "framework/application.h"
#include "framework/exceptions.h"
#include "framework/format.h"

namespace ronvix::controls {

TCustomSlider::TCustomSlider(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    resize(150, 40);
}

void TCustomSlider::SetLimits(int lo, int hi) {
    if (lo >= hi)
        return;
    m_min = lo;
    m_max = hi;
    if (m_max - m_min < m_increment)
        m_increment = m_max - m_min;
    SetValue(m_value);
    update();
}

void TCustomSlider::SetMinValue(int v) {
    SetLimits(v, m_max);
}
void TCustomSlider::SetMaxValue(int v) {
    SetLimits(m_min, v);
}

void TCustomSlider::SetIncrement(int v) {
    if (v < 1 || v > m_max - m_min)
        throw fw::Exception(
            fw::Format(QStringLiteral("Value must be between %d and %d"), 1, m_max - m_min));
    m_increment = v;
    SetValue(m_value);
    update();
}

void TCustomSlider::SetValue(int v) {
    v = std::clamp(v, m_min, m_max);
    if (v == m_value)
        return;
    m_value = v;
    update();
    fw::Fire(OnChange, this);
}

void TCustomSlider::SetOptions(TSliderOptions o) {
    m_options = o;
    update();
}

void TCustomSlider::keyPressEvent(QKeyEvent* e) {
    if (e->modifiers() != Qt::NoModifier)
        return QWidget::keyPressEvent(e);
    auto step = [&](int dir) {
        // Steps are multiples of Increment counted from 0; halves round to even.
        double q = std::nearbyint(static_cast<double>(m_value) / m_increment);
        return static_cast<int>((q + dir) * m_increment);
    };
    int target = m_value;
    switch (e->key()) {
        case Qt::Key_Home:
            target = m_min;
            break;
        case Qt::Key_End:
            target = m_max;
            break;
        case Qt::Key_Right:
            target = step(+1);
            break;
        case Qt::Key_Left:
            target = step(-1);
            break;
        default:
            return QWidget::keyPressEvent(e);
    }
    fw::SafeCall([&] {
        SetValue(target);
        fw::Fire(OnChanged, this);
    });
    e->accept();
}

void TCustomSlider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int travel = std::max(0, width() - 12 - 9);
    const int span = std::max(1, m_max - m_min);
    const int thumb_x =
        6 + static_cast<int>(std::nearbyint(double(m_value - m_min) * travel / span));
    const int groove_y = 6 + 4;
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(6, groove_y, width() - 7, groove_y);
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(6, groove_y + 1, width() - 7, groove_y + 1);
    p.setBrush(isEnabled() ? palette().color(QPalette::Button)
                           : palette().color(QPalette::Midlight));
    p.setPen(palette().color(QPalette::Shadow));
    QPolygon thumb;
    thumb << QPoint(thumb_x, 6) << QPoint(thumb_x + 8, 6) << QPoint(thumb_x + 8, 18)
          << QPoint(thumb_x + 4, 22) << QPoint(thumb_x, 18);
    p.drawPolygon(thumb);
    if (hasFocus() && (m_options & soShowFocus)) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(2, 2, -3, -3));
    }
}

}  // namespace ronvix::controls
