#pragma once
// TCustomSlider / TSlider: a value between two integer limits shown as a
// thumb on a groove (the ruler), both drawn from small pictures.
//
// Contract:
// - Value always lies within MinValue..MaxValue; assigning it (from code or
//   the user) clamps and fires OnChange only when the stored value changed.
// - OnChanged fires once at the end of each user adjustment: after every
//   handled key (also when the value stayed), at the release of a drag and
//   at the release of a press on the ruler. Code assignments never fire it.
// - Limits are applied as a pair; a pair whose lower limit is not below its
//   upper one is ignored (except while loading). The only reported failure
//   is an increment outside 1..range ("Value must be between %d and %d").
// - Positions use exact integer arithmetic with halves rounded to the even
//   neighbour, so the same value always lands on the same pixel.
// Handlers run inside SafeCall when Qt delivers the input. UI thread only.

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "framework/events.h"

namespace ronvix::controls {

// nearest(num / den) with halves going to the even neighbour; den != 0.
int64_t RoundHalfEven(int64_t num, int64_t den);

class TCustomSlider : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int MinValue READ MinValue WRITE SetMinValue)
    Q_PROPERTY(int MaxValue READ MaxValue WRITE SetMaxValue)
    Q_PROPERTY(int Increment READ Increment WRITE SetIncrement)
    Q_PROPERTY(TSliderOrientation Orientation READ Orientation WRITE SetOrientation)
    Q_PROPERTY(TSliderOptions Options READ Options WRITE SetOptions)
    Q_PROPERTY(int EdgeSize READ EdgeSize WRITE SetEdgeSize)
    Q_PROPERTY(int NumThumbStates READ NumThumbStates WRITE SetNumThumbStates)
    Q_PROPERTY(TBevelStyle BevelStyle READ BevelStyle WRITE SetBevelStyle)
    Q_PROPERTY(QPixmap ImageHThumb READ ImageHThumb WRITE SetImageHThumb)
    Q_PROPERTY(QPixmap ImageHRuler READ ImageHRuler WRITE SetImageHRuler)
    Q_PROPERTY(QPixmap ImageVThumb READ ImageVThumb WRITE SetImageVThumb)
    Q_PROPERTY(QPixmap ImageVRuler READ ImageVRuler WRITE SetImageVRuler)
    Q_PROPERTY(int UserImages READ UserImages)
    Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
    Q_PROPERTY(QColor Color READ Color WRITE SetColor)
    Q_PROPERTY(int Value READ Value WRITE SetValue)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
public:
    enum TSliderOption {
        soShowFocus = 1,
        soShowPoints = 2,
        soSmooth = 4,
        soRulerOpaque = 8,
        soThumbOpaque = 16
    };
    Q_DECLARE_FLAGS(TSliderOptions, TSliderOption)
    Q_FLAG(TSliderOptions)
    enum TSliderOrientation { soHorizontal, soVertical };
    Q_ENUM(TSliderOrientation)
    enum TBevelStyle { bvNone, bvLowered, bvRaised, bvSpace };
    Q_ENUM(TBevelStyle)
    // Bits of UserImages, in the order of the image properties.
    enum TSliderImage { siHThumb = 0, siHRuler = 1, siVThumb = 2, siVRuler = 3 };

    explicit TCustomSlider(QWidget* parent = nullptr);
    ~TCustomSlider() override;

    // Loading from stored data: between BeginLoading and Loaded the limit,
    // increment, orientation and image rules are relaxed so that properties
    // can arrive in any order.
    void BeginLoading() { m_loading = true; }
    void Loaded();
    bool IsLoading() const { return m_loading; }

    int MinValue() const { return m_min; }
    void SetMinValue(int v);
    int MaxValue() const { return m_max; }
    void SetMaxValue(int v);
    int Increment() const { return m_increment; }
    // Throws "Value must be between 1 and <range>" outside 1..range.
    void SetIncrement(int v);
    int Value() const { return m_value; }
    // Clamps into the limits; fires OnChange when the stored value changed.
    void SetValue(int v);
    TSliderOptions Options() const { return m_options; }
    void SetOptions(TSliderOptions o);
    TSliderOrientation Orientation() const { return m_orientation; }
    // Rebuilds the layout; outside loading, swaps width and height.
    void SetOrientation(TSliderOrientation o);
    int EdgeSize() const { return m_edge; }
    // Accepted only when twice the size is below the ruler picture's length.
    void SetEdgeSize(int v);
    int NumThumbStates() const { return m_thumb_states; }
    // 1 or 2; other values are ignored.
    void SetNumThumbStates(int v);
    TBevelStyle BevelStyle() const { return m_bevel; }
    void SetBevelStyle(TBevelStyle b);

    // The pictures in use. Assigning a null pixmap brings the built-in one
    // back (and, outside loading, switches the matching opaque option off).
    QPixmap ImageHThumb() const { return QPixmap::fromImage(m_images[siHThumb]); }
    QPixmap ImageHRuler() const { return QPixmap::fromImage(m_images[siHRuler]); }
    QPixmap ImageVThumb() const { return QPixmap::fromImage(m_images[siVThumb]); }
    QPixmap ImageVRuler() const { return QPixmap::fromImage(m_images[siVRuler]); }
    void SetImageHThumb(const QPixmap& p) { SetImage(siHThumb, p); }
    void SetImageHRuler(const QPixmap& p) { SetImage(siHRuler, p); }
    void SetImageVThumb(const QPixmap& p) { SetImage(siVThumb, p); }
    void SetImageVRuler(const QPixmap& p) { SetImage(siVRuler, p); }
    // Bit n set when image n was replaced by the user.
    int UserImages() const { return m_user_images; }

    bool TabStop() const { return focusPolicy() & Qt::TabFocus; }
    void SetTabStop(bool on) { setFocusPolicy(on ? Qt::StrongFocus : Qt::ClickFocus); }
    bool ParentColor() const { return m_parent_color; }
    void SetParentColor(bool on);
    QColor Color() const { return palette().color(backgroundRole()); }
    // Sets the background colour and switches ParentColor off.
    void SetColor(const QColor& c);
    int Tag() const { return m_tag; }
    void SetTag(int t) { m_tag = t; }

    fw::TNotifyEvent OnChange;
    fw::TNotifyEvent OnChanged;
    // Replaces the default tick marks when assigned; PointsRect() is the
    // area to draw in and PointsPainter() the painter to draw with.
    fw::TNotifyEvent OnDrawPoints;

    // Run-time layout, in widget coordinates.
    // A resize of a hidden widget reaches resizeEvent only when it is shown,
    // so every reader brings the layout up to the current size first.
    QRect WorkingArea() const {
        EnsureLayout();
        return m_work;
    }
    QRect ThumbRect() const {
        EnsureLayout();
        return m_thumb;
    }
    QRect RulerRect() const {
        EnsureLayout();
        return QRect(m_ruler_origin, m_ruler.size());
    }
    QRect PointsRect() const {
        EnsureLayout();
        return m_points;
    }
    const QImage& RulerBitmap() const {
        EnsureLayout();
        return m_ruler;
    }
    // Pixels the thumb can move: ruler length minus thumb length (>= 0).
    int Travel() const;
    // Thumb offset of a value, counted from the working area's start along
    // the axis (from its bottom for a vertical slider); never below 6.
    int OffsetOfValue(int v) const;
    // The value a thumb offset stands for, clamped into the limits.
    int ValueOfOffset(int offset) const;
    // Default tick marks: position along the axis (widget coordinates) and
    // whether the mark is a long one (the two limits).
    struct Point {
        int pos = 0;
        bool is_long = false;
    };
    std::vector<Point> DefaultPoints() const;
    // Valid only inside OnDrawPoints.
    class QPainter* PointsPainter() const {
        return m_points_painter;
    }

    bool Dragging() const { return m_dragging; }
    bool Tracking() const { return m_tracking; }
    bool TrackTimerActive() const { return m_track_timer.isActive(); }
    // One tick of the 400 ms repeat while a press on the ruler is held.
    void TrackingTick();

protected:
    void SetLimits(int lo, int hi);
    void SetImage(TSliderImage which, const QPixmap& p);
    void UpdateLayout();
    // Moves the thumb to an along-axis offset (step 3 of a drag).
    void MoveThumbTo(int offset);
    // Sets the value one increment step up (+1) or down (-1), counted from 0.
    void Step(int direction);

    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    bool Horizontal() const { return m_orientation == soHorizontal; }
    const QImage& ThumbImage() const { return m_images[Horizontal() ? siHThumb : siVThumb]; }
    const QImage& RulerImage() const { return m_images[Horizontal() ? siHRuler : siVRuler]; }
    int ThumbLength() const;
    QRect ThumbRectAt(int offset) const;
    // Along-axis offset of a point, counted as OffsetOfValue counts.
    int OffsetOfPoint(QPoint p) const;
    // +1 when `p` lies beyond the thumb's far end, -1 before its near end.
    int SideOfThumb(QPoint p) const;
    void BuildRuler();
    void EnsureLayout() const {
        if (m_layout_size != size())
            const_cast<TCustomSlider*>(this)->UpdateLayout();
    }
    void EndTracking();

    int m_min = 0;
    int m_max = 100;
    int m_increment = 10;
    int m_value = 0;
    int m_tag = 0;
    int m_edge = 2;
    int m_thumb_states = 2;
    int m_user_images = 0;
    bool m_loading = false;
    bool m_parent_color = true;
    TSliderOptions m_options = TSliderOptions(soShowFocus | soShowPoints | soSmooth);
    TSliderOrientation m_orientation = soHorizontal;
    TBevelStyle m_bevel = bvNone;
    QImage m_images[4];

    // Layout, rebuilt by UpdateLayout for m_layout_size.
    QSize m_layout_size;
    QRect m_work;
    QRect m_thumb;
    QPoint m_ruler_origin;
    QImage m_ruler;
    QRect m_points;
    int m_thumb_across = 0;

    // Input state.
    bool m_dragging = false;
    bool m_thumb_pressed = false;
    int m_hit_offset = 0;  // pointer offset inside the thumb along the axis
    bool m_tracking = false;
    int m_track_direction = 0;
    QPoint m_last_pos;
    QTimer m_track_timer;
    QPainter* m_points_painter = nullptr;
};

class TSlider : public TCustomSlider {
    Q_OBJECT
public:
    using TCustomSlider::TCustomSlider;
};

}  // namespace ronvix::controls

Q_DECLARE_OPERATORS_FOR_FLAGS(ronvix::controls::TCustomSlider::TSliderOptions)
