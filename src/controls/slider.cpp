#include "controls/slider.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "controls/images.h"
#include "framework/application.h"
#include "framework/exceptions.h"
#include "framework/format.h"

namespace ronvix::controls {
namespace {

// Space between the working area's edges and the ruler and thumb.
constexpr int kMargin = 6;
// How far beyond the ruler, across the axis, a press still counts as on it.
constexpr int kRulerSlop = 3;
constexpr int kRepeatMs = 400;
// Tick marks: lengths and the smallest distance between two marks.
constexpr int kLongPoint = 5;
constexpr int kShortPoint = 3;
constexpr int kPointSpacing = 4;

QImage BuiltInImage(TCustomSlider::TSliderImage which) {
    switch (which) {
        case TCustomSlider::siHThumb:
            return SliderHThumbImage();
        case TCustomSlider::siHRuler:
            return SliderHRulerImage();
        case TCustomSlider::siVThumb:
            return SliderVThumbImage();
        case TCustomSlider::siVRuler:
            return SliderVRulerImage();
    }
    return {};
}

int ClampToInt(int64_t v, int lo, int hi) {
    return static_cast<int>(std::max<int64_t>(lo, std::min<int64_t>(hi, v)));
}

}  // namespace

int64_t RoundHalfEven(int64_t num, int64_t den) {
    if (den < 0) {
        num = -num;
        den = -den;
    }
    int64_t q = num / den;
    int64_t r = num % den;
    if (r < 0) {  // floor division
        q -= 1;
        r += den;
    }
    if (2 * r > den || (2 * r == den && q % 2 != 0))
        q += 1;
    return q;
}

TCustomSlider::TCustomSlider(QWidget* parent) : QWidget(parent) {
    for (int i = 0; i < 4; ++i)
        m_images[i] = BuiltInImage(static_cast<TSliderImage>(i));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);  // the hand cursor follows the pointer over the thumb
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_track_timer.setInterval(kRepeatMs);
    connect(&m_track_timer, &QTimer::timeout, this,
            [this] { fw::SafeCall([this] { TrackingTick(); }); });
    resize(150, 40);
    UpdateLayout();
}

TCustomSlider::~TCustomSlider() = default;

void TCustomSlider::Loaded() {
    m_loading = false;
    UpdateLayout();
    SetValue(m_value);
}

void TCustomSlider::SetLimits(int lo, int hi) {
    if (lo >= hi && !m_loading)
        return;
    m_min = lo;
    m_max = hi;
    const int64_t range = int64_t{hi} - lo;
    if (!m_loading && range < m_increment)
        m_increment = static_cast<int>(range);
    update();
    SetValue(m_value);
}

void TCustomSlider::SetMinValue(int v) {
    SetLimits(v, m_max);
}

void TCustomSlider::SetMaxValue(int v) {
    SetLimits(m_min, v);
}

void TCustomSlider::SetIncrement(int v) {
    const int64_t range = int64_t{m_max} - m_min;
    if (!m_loading && (v < 1 || v > range))
        throw fw::Exception(
            fw::Format(QStringLiteral("Value must be between %d and %d"), 1, range));
    m_increment = v;
    SetValue(m_value);
    update();
}

void TCustomSlider::SetValue(int v) {
    // While loading the limits may be crossed; the lower one wins then.
    v = std::max(std::min(v, m_max), m_min);
    const int previous = m_value;
    m_value = v;
    const QRect old_thumb = m_thumb;
    m_thumb = ThumbRectAt(OffsetOfValue(v));
    if (old_thumb != m_thumb) {
        update(old_thumb);
        update(m_thumb);
    }
    if (previous != v)
        fw::Fire(OnChange, this);
}

void TCustomSlider::SetOptions(TSliderOptions o) {
    m_options = o;
    UpdateLayout();
}

void TCustomSlider::SetOrientation(TSliderOrientation o) {
    if (o == m_orientation)
        return;
    m_orientation = o;
    if (!m_loading)
        resize(height(), width());
    UpdateLayout();
}

void TCustomSlider::SetEdgeSize(int v) {
    const int length = Horizontal() ? RulerImage().width() : RulerImage().height();
    if (v < 0 || 2 * v >= length)
        return;
    m_edge = v;
    UpdateLayout();
}

void TCustomSlider::SetNumThumbStates(int v) {
    if (v < 1 || v > 2)
        return;
    m_thumb_states = v;
    UpdateLayout();
}

void TCustomSlider::SetBevelStyle(TBevelStyle b) {
    m_bevel = b;
    UpdateLayout();
}

void TCustomSlider::SetImage(TSliderImage which, const QPixmap& p) {
    if (p.isNull()) {
        m_images[which] = BuiltInImage(which);
        m_user_images &= ~(1 << which);
        if (!m_loading) {
            const bool ruler = which == siHRuler || which == siVRuler;
            m_options &= ~TSliderOptions(ruler ? soRulerOpaque : soThumbOpaque);
        }
    } else {
        m_images[which] = p.toImage();
        m_user_images |= 1 << which;
    }
    UpdateLayout();
}

void TCustomSlider::SetParentColor(bool on) {
    m_parent_color = on;
    if (on)
        setPalette(QPalette());
    update();
}

void TCustomSlider::SetColor(const QColor& c) {
    QPalette pal = palette();
    pal.setColor(backgroundRole(), c);
    setPalette(pal);
    m_parent_color = false;
    update();
}

// ---- Layout ---------------------------------------------------------------

int TCustomSlider::ThumbLength() const {
    const QImage& image = ThumbImage();
    return Horizontal() ? image.width() / m_thumb_states : image.height();
}

int TCustomSlider::Travel() const {
    EnsureLayout();
    const int ruler_length = Horizontal() ? m_ruler.width() : m_ruler.height();
    return std::max(0, ruler_length - ThumbLength());
}

int TCustomSlider::OffsetOfValue(int v) const {
    const int64_t range = int64_t{m_max} - m_min;
    const int travel = Travel();
    if (range <= 0 || travel <= 0)
        return kMargin;
    const int64_t moved = RoundHalfEven((int64_t{v} - m_min) * travel, range);
    return kMargin + ClampToInt(moved, 0, travel);
}

int TCustomSlider::ValueOfOffset(int offset) const {
    const int64_t range = int64_t{m_max} - m_min;
    const int travel = Travel();
    if (range <= 0 || travel <= 0)
        return m_min;
    int64_t x = RoundHalfEven(int64_t{offset - kMargin} * range, travel);
    if (!(m_options & soSmooth) && m_increment > 0)
        x = RoundHalfEven(x, m_increment) * m_increment;
    x = std::max<int64_t>(x, 0) + m_min;
    return static_cast<int>(std::min<int64_t>(x, m_max));
}

QRect TCustomSlider::ThumbRectAt(int offset) const {
    const QImage& image = ThumbImage();
    const int picture_width = image.width() / m_thumb_states;
    const int length = ThumbLength();
    if (Horizontal())
        return QRect(m_work.left() + offset, m_thumb_across, picture_width, image.height());
    const int top = m_work.top() + m_work.height() - offset - length;
    return QRect(m_thumb_across, top, picture_width, length);
}

int TCustomSlider::OffsetOfPoint(QPoint p) const {
    if (Horizontal())
        return p.x() - m_work.left();
    return m_work.top() + m_work.height() - p.y();
}

int TCustomSlider::SideOfThumb(QPoint p) const {
    if (Horizontal()) {
        if (p.x() > m_thumb.right())
            return +1;
        return p.x() < m_thumb.left() ? -1 : 0;
    }
    if (p.y() < m_thumb.top())
        return +1;
    return p.y() > m_thumb.bottom() ? -1 : 0;
}

void TCustomSlider::BuildRuler() {
    const QImage& image = RulerImage();
    const bool horizontal = Horizontal();
    const int along = horizontal ? m_work.width() : m_work.height();
    const int length = std::max(0, along - 2 * kMargin);
    const int image_length = horizontal ? image.width() : image.height();
    const int thickness = horizontal ? image.height() : image.width();
    if (length == 0 || image_length == 0 || thickness == 0) {
        m_ruler = QImage();
        return;
    }
    m_ruler = QImage(horizontal ? length : thickness, horizontal ? thickness : length,
                     QImage::Format_ARGB32);
    m_ruler.fill(TransparentColorOf(image));
    QPainter p(&m_ruler);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    auto copy = [&](int to, int from, int count) {
        if (count <= 0)
            return;
        if (horizontal)
            p.drawImage(QPoint(to, 0), image, QRect(from, 0, count, thickness));
        else
            p.drawImage(QPoint(0, to), image, QRect(0, from, thickness, count));
    };
    const int edge = std::min(m_edge, image_length / 2);
    const int middle = image_length - 2 * edge;
    copy(0, 0, std::min(edge, length));
    for (int pos = edge; middle > 0 && pos < length - edge; pos += middle)
        copy(pos, edge, std::min(middle, length - edge - pos));
    if (length >= edge)
        copy(length - edge, image_length - edge, edge);
}

void TCustomSlider::UpdateLayout() {
    m_layout_size = size();
    m_work = rect();
    if (m_bevel != bvNone)
        m_work.adjust(1, 1, -1, -1);
    BuildRuler();
    const QImage& thumb = ThumbImage();
    const bool horizontal = Horizontal();
    const int thumb_thickness = horizontal ? thumb.height() : thumb.width() / m_thumb_states;
    const int ruler_thickness = horizontal ? RulerImage().height() : RulerImage().width();
    const int thick = std::max(thumb_thickness, ruler_thickness);
    const int across_start = (horizontal ? m_work.top() : m_work.left()) + kMargin;
    const int ruler_across = across_start + (thick - ruler_thickness) / 2;
    m_thumb_across = across_start + (thick - thumb_thickness) / 2;
    const int ruler_length = horizontal ? m_ruler.width() : m_ruler.height();
    if (horizontal) {
        m_ruler_origin = QPoint(m_work.left() + kMargin, ruler_across);
        const int top = across_start + thick + 1;
        m_points = QRect(m_ruler_origin.x(), top, ruler_length,
                         std::max(0, m_work.top() + m_work.height() - top));
    } else {
        m_ruler_origin = QPoint(ruler_across, m_work.top() + kMargin);
        const int left = across_start + thick + 1;
        m_points = QRect(left, m_ruler_origin.y(),
                         std::max(0, m_work.left() + m_work.width() - left), ruler_length);
    }
    m_thumb = ThumbRectAt(OffsetOfValue(m_value));
    update();
}

std::vector<TCustomSlider::Point> TCustomSlider::DefaultPoints() const {
    EnsureLayout();
    std::vector<Point> points;
    auto centre = [this](int v) {
        const QRect r = ThumbRectAt(OffsetOfValue(v));
        return Horizontal() ? r.left() + ThumbLength() / 2 : r.top() + ThumbLength() / 2;
    };
    points.push_back({centre(m_min), true});
    const int64_t range = int64_t{m_max} - m_min;
    const int travel = Travel();
    if (range <= 0)
        return points;
    if (travel > 0) {
        const int64_t increment = std::max(1, m_increment);
        // The smallest multiple of the increment that keeps marks apart.
        const int64_t per_step = increment * travel;
        const int64_t multiple =
            std::max<int64_t>(1, (kPointSpacing * range + per_step - 1) / per_step);
        const int64_t step = multiple * increment;
        for (int64_t v = int64_t{m_min} + step; v < m_max; v += step)
            points.push_back({centre(static_cast<int>(v)), false});
    }
    points.push_back({centre(m_max), true});
    return points;
}

void TCustomSlider::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    UpdateLayout();
}

// ---- Input ------------------------------------------------------------------

void TCustomSlider::Step(int direction) {
    const int increment = std::max(1, m_increment);
    const int64_t target = (RoundHalfEven(m_value, increment) + direction) * increment;
    const int clamped = ClampToInt(target, m_min, m_max);
    if (clamped != m_value)
        SetValue(clamped);
}

void TCustomSlider::keyPressEvent(QKeyEvent* e) {
    EnsureLayout();
    if ((e->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return QWidget::keyPressEvent(e);
    const bool horizontal = Horizontal();
    const int key = e->key();
    const Qt::Key up = horizontal ? Qt::Key_Right : Qt::Key_Up;
    const Qt::Key down = horizontal ? Qt::Key_Left : Qt::Key_Down;
    if (key != Qt::Key_Home && key != Qt::Key_End && key != up && key != down)
        return QWidget::keyPressEvent(e);
    e->accept();
    fw::SafeCall([&] {
        if (key == Qt::Key_Home) {
            if (m_value != m_min)
                SetValue(m_min);
        } else if (key == Qt::Key_End) {
            if (m_value != m_max)
                SetValue(m_max);
        } else {
            Step(key == up ? +1 : -1);
        }
        fw::Fire(OnChanged, this);
    });
}

void TCustomSlider::mousePressEvent(QMouseEvent* e) {
    EnsureLayout();
    if (e->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(e);
    e->accept();
    fw::SafeCall([&] {
        if (focusPolicy() & Qt::ClickFocus)
            setFocus(Qt::MouseFocusReason);
        const QPoint pos = e->position().toPoint();
        m_last_pos = pos;
        if (m_thumb.contains(pos)) {
            m_dragging = true;
            m_thumb_pressed = true;
            m_hit_offset = OffsetOfPoint(pos) - OffsetOfValue(m_value);
            update(m_thumb);
            return;
        }
        QRect ruler = RulerRect();
        ruler.adjust(Horizontal() ? 0 : -kRulerSlop, Horizontal() ? -kRulerSlop : 0,
                     Horizontal() ? 0 : kRulerSlop, Horizontal() ? kRulerSlop : 0);
        if (!ruler.contains(pos))
            return;
        m_tracking = true;
        m_track_direction = SideOfThumb(pos);
        m_track_timer.start();
        if (m_track_direction != 0)
            Step(m_track_direction);
    });
}

void TCustomSlider::mouseMoveEvent(QMouseEvent* e) {
    EnsureLayout();
    const QPoint pos = e->position().toPoint();
    m_last_pos = pos;
    if (m_thumb.contains(pos) || m_dragging)
        setCursor(HandCursor());
    else
        unsetCursor();
    if (m_dragging)
        fw::SafeCall([&] { MoveThumbTo(OffsetOfPoint(pos) - m_hit_offset); });
}

void TCustomSlider::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(e);
    e->accept();
    if (m_dragging) {
        m_dragging = false;
        m_thumb_pressed = false;
        repaint();
        fw::SafeCall([this] { fw::Fire(OnChanged, this); });
    } else if (m_tracking) {
        EndTracking();
        fw::SafeCall([this] { fw::Fire(OnChanged, this); });
    }
}

void TCustomSlider::mouseDoubleClickEvent(QMouseEvent* e) {
    // A double click neither starts a drag nor steps.
    e->accept();
}

void TCustomSlider::EndTracking() {
    m_tracking = false;
    m_track_direction = 0;
    m_track_timer.stop();
}

void TCustomSlider::TrackingTick() {
    if (!m_tracking || m_track_direction == 0)
        return;
    if (SideOfThumb(m_last_pos) == m_track_direction)
        Step(m_track_direction);
}

void TCustomSlider::MoveThumbTo(int offset) {
    offset = std::clamp(offset, kMargin, kMargin + Travel());
    const int v = ValueOfOffset(offset);
    const QRect old_thumb = m_thumb;
    m_thumb = ThumbRectAt(OffsetOfValue(v));
    update(old_thumb);
    update(m_thumb);
    if (m_dragging)
        SetValue(v);
}

void TCustomSlider::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::EnabledChange) {
        if (!isEnabled()) {
            // Input state cannot survive disabling: the release would never come.
            m_dragging = m_thumb_pressed = false;
            EndTracking();
        }
        update(m_thumb);
    } else if (e->type() == QEvent::PaletteChange) {
        update();
    }
}

void TCustomSlider::focusInEvent(QFocusEvent* e) {
    QWidget::focusInEvent(e);
    if (m_options & soShowFocus)
        update();
}

void TCustomSlider::focusOutEvent(QFocusEvent* e) {
    QWidget::focusOutEvent(e);
    if (m_options & soShowFocus)
        update();
}

// ---- Painting ---------------------------------------------------------------

void TCustomSlider::paintEvent(QPaintEvent*) {
    EnsureLayout();
    // Everything is drawn into an off-screen picture first and copied in one
    // operation, so no half-drawn state ever reaches the screen.
    QPixmap buffer(size());
    if (buffer.isNull())
        return;
    {
        QPainter p(&buffer);
        p.fillRect(rect(), Color());
        if (m_bevel != bvNone) {
            const QColor shadow = palette().color(QPalette::Dark);
            const QColor light = palette().color(QPalette::Light);
            const bool lowered = m_bevel == bvLowered;
            const QRect r = rect();
            p.setPen(lowered ? shadow : light);
            p.drawLine(r.topLeft(), r.topRight());
            p.drawLine(r.topLeft(), r.bottomLeft());
            p.setPen(lowered ? light : shadow);
            p.drawLine(r.bottomLeft(), r.bottomRight());
            p.drawLine(r.topRight(), r.bottomRight());
        }
        if (!m_ruler.isNull()) {
            if (m_options & soRulerOpaque)
                p.drawImage(m_ruler_origin, m_ruler);
            else
                p.drawPixmap(m_ruler_origin,
                             Transparent(m_ruler, TransparentColorOf(RulerImage())));
        }
        if ((m_options & soShowFocus) && hasFocus()) {
            p.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
            p.setBrush(Qt::NoBrush);
            p.drawRect(m_work.adjusted(2, 2, -3, -3));
        }
        if (m_options & soShowPoints) {
            if (OnDrawPoints) {
                m_points_painter = &p;
                fw::SafeCall([this] { OnDrawPoints(this); });
                m_points_painter = nullptr;
            } else {
                p.setPen(palette().color(QPalette::WindowText));
                for (const Point& pt : DefaultPoints()) {
                    const int len = (pt.is_long ? kLongPoint : kShortPoint) - 1;
                    if (Horizontal())
                        p.drawLine(pt.pos, m_points.top(), pt.pos, m_points.top() + len);
                    else
                        p.drawLine(m_points.left(), pt.pos, m_points.left() + len, pt.pos);
                }
            }
        }
        const QImage& thumb = ThumbImage();
        const int picture_width = thumb.width() / m_thumb_states;
        const int picture = m_thumb_states == 2 && (m_thumb_pressed || !isEnabled()) ? 1 : 0;
        const QRect source(picture * picture_width, 0, picture_width, thumb.height());
        if (m_options & soThumbOpaque)
            p.drawImage(m_thumb.topLeft(), thumb, source);
        else
            p.drawPixmap(m_thumb.topLeft(),
                         Transparent(thumb.copy(source), TransparentColorOf(thumb)));
    }
    QPainter(this).drawPixmap(0, 0, buffer);
}

}  // namespace ronvix::controls
