// The slider: limits and increment rules, value clamping and the change
// events, keyboard stepping counted from 0, layout with round-half-to-even,
// dragging, ruler tracking and painting.
#include <gtest/gtest.h>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QtTest/QTest>
#include <vector>

#include "controls/images.h"
#include "controls/slider.h"
#include "framework/exceptions.h"

using namespace ronvix;
using namespace ronvix::controls;

namespace {

// Counts OnChange and OnChanged and records every value OnChange saw.
struct Recorder {
    std::vector<int> values;
    int changed = 0;
    void Attach(TSlider& s) {
        s.OnChange = [this, &s](QObject* sender) {
            EXPECT_EQ(sender, &s);
            values.push_back(s.Value());
        };
        s.OnChanged = [this](QObject*) { ++changed; };
    }
    void Clear() {
        values.clear();
        changed = 0;
    }
};

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)),
                  type == QEvent::MouseMove ? Qt::NoButton : button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

QPoint Centre(const QRect& r) {
    return QPoint(r.left() + r.width() / 2, r.top() + r.height() / 2);
}

}  // namespace

TEST(SliderRounding, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(RoundHalfEven(1, 2), 0);
    EXPECT_EQ(RoundHalfEven(3, 2), 2);
    EXPECT_EQ(RoundHalfEven(5, 2), 2);
    EXPECT_EQ(RoundHalfEven(-1, 2), 0);
    EXPECT_EQ(RoundHalfEven(-3, 2), -2);
    EXPECT_EQ(RoundHalfEven(-5, 3), -2);
    EXPECT_EQ(RoundHalfEven(7, 3), 2);
    EXPECT_EQ(RoundHalfEven(8, -3), -3);
}

TEST(SliderKeyboard, StepsAreMultiplesOfTheIncrementCountedFromZero) {
    TSlider s(nullptr);
    s.show();
    Recorder rec;
    rec.Attach(s);
    struct Case {
        int from;
        Qt::Key key;
        int expected;
    };
    const Case cases[] = {
        {7, Qt::Key_Right, 20},    {7, Qt::Key_Left, 0},    {5, Qt::Key_Right, 10},
        {5, Qt::Key_Left, 0},      {15, Qt::Key_Right, 30}, {15, Qt::Key_Left, 10},
        {100, Qt::Key_Right, 100}, {40, Qt::Key_Home, 0},   {40, Qt::Key_End, 100},
    };
    for (const Case& c : cases) {
        s.SetValue(c.from);
        rec.Clear();
        QTest::keyClick(&s, c.key);
        EXPECT_EQ(s.Value(), c.expected) << "from " << c.from << " key " << c.key;
        EXPECT_EQ(rec.changed, 1) << "OnChanged fires after every handled key";
        EXPECT_EQ(rec.values.size(), c.from == c.expected ? 0u : 1u);
    }
}

TEST(SliderKeyboard, NegativeRangeSequenceAndModifiers) {
    TSlider s(nullptr);
    s.show();
    s.SetMinValue(-20);
    s.SetMaxValue(20);
    s.SetIncrement(15);
    s.SetValue(0);
    Recorder rec;
    rec.Attach(s);
    std::vector<int> seen;
    for (Qt::Key k :
         {Qt::Key_Right, Qt::Key_Right, Qt::Key_Left, Qt::Key_Left, Qt::Key_Left, Qt::Key_Left}) {
        QTest::keyClick(&s, k);
        seen.push_back(s.Value());
    }
    EXPECT_EQ(seen, (std::vector<int>{15, 20, 0, -15, -20, -20}));
    EXPECT_EQ(rec.changed, 6);
    EXPECT_EQ(rec.values, (std::vector<int>{15, 20, 0, -15, -20}));

    // With a modifier held the key is not the slider's.
    rec.Clear();
    QTest::keyClick(&s, Qt::Key_Right, Qt::ControlModifier);
    QTest::keyClick(&s, Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(s.Value(), -20);
    EXPECT_EQ(rec.changed, 0);

    // Up and Down belong to vertical sliders only.
    QTest::keyClick(&s, Qt::Key_Up);
    EXPECT_EQ(s.Value(), -20);
    s.SetOrientation(TCustomSlider::soVertical);
    QTest::keyClick(&s, Qt::Key_Up);
    EXPECT_EQ(s.Value(), 0) << "-20 / 15 rounds to -1, one step up is 0";
    QTest::keyClick(&s, Qt::Key_Right);
    EXPECT_EQ(s.Value(), 0);
}

TEST(SliderLimits, PairsAreCheckedAndIncrementFollowsTheRange) {
    TSlider s(nullptr);
    Recorder rec;
    rec.Attach(s);
    s.SetMinValue(150);
    EXPECT_EQ(s.MinValue(), 0);
    EXPECT_EQ(s.MaxValue(), 100);
    s.SetMaxValue(300);
    s.SetMinValue(150);
    EXPECT_EQ(s.MinValue(), 150);
    EXPECT_EQ(s.MaxValue(), 300);
    EXPECT_EQ(s.Value(), 150) << "the value is clamped into the new limits";
    EXPECT_EQ(rec.values, (std::vector<int>{150}));

    s.SetMaxValue(150);  // empty range: ignored
    EXPECT_EQ(s.MaxValue(), 300);
    s.SetMaxValue(154);
    EXPECT_EQ(s.Increment(), 4) << "a range below the increment lowers it";
    s.SetMaxValue(400);
    EXPECT_EQ(s.Increment(), 4) << "a wider range leaves it";
}

TEST(SliderLimits, IncrementOutsideOneToRangeFails) {
    TSlider s(nullptr);
    s.SetValue(37);
    for (int bad : {0, -5, 101}) {
        try {
            s.SetIncrement(bad);
            ADD_FAILURE() << bad << " accepted";
        } catch (const fw::Exception& e) {
            EXPECT_EQ(e.Message(), "Value must be between 1 and 100");
        }
    }
    EXPECT_EQ(s.Increment(), 10);
    s.SetIncrement(100);
    EXPECT_EQ(s.Increment(), 100);
    EXPECT_EQ(s.Value(), 37);
}

TEST(SliderValue, ClampsAndFiresOnlyOnRealChanges) {
    TSlider s(nullptr);
    Recorder rec;
    rec.Attach(s);
    s.SetValue(0);
    EXPECT_TRUE(rec.values.empty());
    s.SetValue(-50);
    EXPECT_EQ(s.Value(), 0);
    EXPECT_TRUE(rec.values.empty()) << "clamped onto the old value: nothing changed";
    s.SetValue(500);
    EXPECT_EQ(s.Value(), 100);
    s.SetValue(100);
    s.setProperty("Value", 60);
    EXPECT_EQ(rec.values, (std::vector<int>{100, 60}));
    EXPECT_EQ(rec.changed, 0) << "code never fires OnChanged";
}

TEST(SliderLoading, RelaxedRulesAndNoDivisionByZeroAfterwards) {
    TSlider s(nullptr);
    s.BeginLoading();
    s.SetMinValue(150);  // accepted while loading, even above MaxValue
    s.SetIncrement(0);
    s.SetOrientation(TCustomSlider::soVertical);
    EXPECT_EQ(s.MinValue(), 150);
    EXPECT_EQ(s.Increment(), 0);
    EXPECT_EQ(s.size(), QSize(150, 40)) << "loading does not swap the size";
    s.SetMaxValue(160);
    s.Loaded();
    s.show();
    // A zero increment from stored data must not take the program down.
    QTest::keyClick(&s, Qt::Key_Up);
    EXPECT_EQ(s.Value(), 151);
    EXPECT_NO_THROW(s.DefaultPoints());

    TSlider t(nullptr);
    t.SetOrientation(TCustomSlider::soVertical);
    EXPECT_EQ(t.size(), QSize(40, 150)) << "outside loading the size turns with the slider";
}

TEST(SliderLayout, DefaultGeometryAndRoundingOfTheThumb) {
    TSlider s(nullptr);
    ASSERT_EQ(s.size(), QSize(150, 40));
    EXPECT_EQ(s.RulerRect(), QRect(6, 10, 138, 8)) << "the thinner ruler centred on the thumb";
    EXPECT_EQ(s.ThumbRect(), QRect(6, 6, 9, 17));
    EXPECT_EQ(s.Travel(), 129);
    EXPECT_EQ(s.PointsRect().top(), 6 + 17 + 1);
    // 50 * 129 / 100 = 64.5 goes to 64; 30 * 129 / 100 = 38.7 goes to 39.
    EXPECT_EQ(s.OffsetOfValue(50), 70);
    EXPECT_EQ(s.OffsetOfValue(30), 45);
    EXPECT_EQ(s.OffsetOfValue(100), 135);
    s.SetValue(50);
    EXPECT_EQ(s.ThumbRect().left(), 70);
    // Smooth: every value has its own pixel and comes back from it.
    for (int v = 0; v <= 100; ++v)
        ASSERT_EQ(s.ValueOfOffset(s.OffsetOfValue(v)), v) << v;
    // Without smoothing the value of a pixel snaps to the increment grid.
    s.SetOptions(TCustomSlider::soShowPoints);
    EXPECT_EQ(s.ValueOfOffset(s.OffsetOfValue(37)), 40);
    EXPECT_EQ(s.ValueOfOffset(s.OffsetOfValue(25)), 20);
    EXPECT_EQ(s.ValueOfOffset(-100), 0);
    EXPECT_EQ(s.ValueOfOffset(1000), 100);

    s.SetBevelStyle(TCustomSlider::bvLowered);
    EXPECT_EQ(s.RulerRect(), QRect(7, 11, 136, 8));

    TSlider v(nullptr);
    v.SetOrientation(TCustomSlider::soVertical);
    EXPECT_EQ(v.RulerRect(), QRect(11, 6, 8, 138));
    EXPECT_EQ(v.ThumbRect(), QRect(6, 150 - 6 - 9, 19, 9)) << "the lower limit is at the bottom";
    v.SetValue(100);
    EXPECT_EQ(v.ThumbRect().top(), 6);
}

TEST(SliderLayout, RulerKeepsItsEndsWhenStretched) {
    TSlider s(nullptr);
    // A ruler picture whose columns are all different, so any misplaced
    // column shows; the lower-left pixel (column 0) is its transparent colour.
    QImage ruler(10, 8, QImage::Format_RGB32);
    for (int x = 0; x < 10; ++x)
        for (int y = 0; y < 8; ++y)
            ruler.setPixel(x, y, qRgb(20 * x, 255 - 20 * x, 7 * x));
    s.SetImageHRuler(QPixmap::fromImage(ruler));
    EXPECT_EQ(s.UserImages(), 1 << TCustomSlider::siHRuler);
    s.resize(12 + 30, 40);
    const QImage& built = s.RulerBitmap();
    ASSERT_EQ(built.size(), QSize(30, 8));
    auto column = [](int x) { return qRgb(20 * x, 255 - 20 * x, 7 * x); };
    for (int x = 0; x < 30; ++x) {
        int source = 2 + (x - 2) % 6;
        if (x < 2)
            source = x;
        else if (x >= 28)
            source = x - 20;
        EXPECT_EQ(built.pixel(x, 3) & 0xFFFFFF, column(source) & 0xFFFFFF) << "column " << x;
    }
    s.SetEdgeSize(5);  // 2 * 5 is not below the picture's length
    EXPECT_EQ(s.EdgeSize(), 2);
    s.SetEdgeSize(4);
    EXPECT_EQ(s.EdgeSize(), 4);
    EXPECT_EQ(s.RulerBitmap().pixel(29, 3) & 0xFFFFFF, column(9) & 0xFFFFFF);
    EXPECT_EQ(s.RulerBitmap().pixel(26, 3) & 0xFFFFFF, column(6) & 0xFFFFFF);
}

TEST(SliderLayout, TickMarksStayApartAndEndAtTheUpperLimit) {
    TSlider s(nullptr);
    s.SetMaxValue(1000);
    s.SetIncrement(1);
    const auto points = s.DefaultPoints();
    ASSERT_GE(points.size(), 3u);
    EXPECT_TRUE(points.front().is_long);
    EXPECT_TRUE(points.back().is_long);
    EXPECT_EQ(points.front().pos, s.OffsetOfValue(0) + 4);
    EXPECT_EQ(points.back().pos, s.OffsetOfValue(1000) + 4);
    for (size_t i = 1; i + 1 < points.size(); ++i) {
        EXPECT_FALSE(points[i].is_long);
        EXPECT_GE(points[i].pos - points[i - 1].pos, 4) << i;
    }
    // Not more sparse than needed: 1000 values over 129 pixels need a step
    // of 32 values (31 would put two marks 3.999 pixels apart).
    EXPECT_EQ(points.size(), 33u);
}

TEST(SliderMouse, SmoothDragYieldsEveryValueAndOneOnChanged) {
    TSlider s(nullptr);
    s.show();
    Recorder rec;
    rec.Attach(s);
    const QPoint start = Centre(s.ThumbRect());
    SendMouse(&s, QEvent::MouseButtonPress, start);
    EXPECT_TRUE(s.Dragging());
    EXPECT_EQ(s.focusWidget(), &s) << "a press takes the focus";
    for (int x = start.x(); x <= start.x() + 140; ++x)
        SendMouse(&s, QEvent::MouseMove, QPoint(x, start.y() + 30));  // off the ruler is fine
    EXPECT_EQ(rec.changed, 0);
    SendMouse(&s, QEvent::MouseButtonRelease, QPoint(start.x() + 140, start.y()));
    EXPECT_EQ(rec.changed, 1);
    EXPECT_FALSE(s.Dragging());
    std::vector<int> every(100);
    for (int i = 0; i < 100; ++i)
        every[i] = i + 1;
    EXPECT_EQ(rec.values, every);
    EXPECT_EQ(s.Value(), 100);

    // A grid drag lands on multiples of the increment only.
    s.SetOptions({});
    rec.Clear();
    const QPoint top = Centre(s.ThumbRect());
    SendMouse(&s, QEvent::MouseButtonPress, top);
    for (int x = top.x(); x >= top.x() - 140; --x)
        SendMouse(&s, QEvent::MouseMove, QPoint(x, top.y()));
    SendMouse(&s, QEvent::MouseButtonRelease, QPoint(0, 0));
    EXPECT_EQ(rec.values, (std::vector<int>{90, 80, 70, 60, 50, 40, 30, 20, 10, 0}));
    EXPECT_EQ(rec.changed, 1);

    // Releasing a drag that changed nothing still ends an adjustment.
    rec.Clear();
    SendMouse(&s, QEvent::MouseButtonPress, Centre(s.ThumbRect()));
    SendMouse(&s, QEvent::MouseButtonRelease, Centre(s.ThumbRect()));
    EXPECT_TRUE(rec.values.empty());
    EXPECT_EQ(rec.changed, 1);
}

TEST(SliderMouse, PressOnTheRulerStepsAndRepeatsWhileOnTheSameSide) {
    TSlider s(nullptr);
    s.show();
    Recorder rec;
    rec.Attach(s);
    const QRect ruler = s.RulerRect();
    const QPoint right(ruler.right() - 2, ruler.bottom() + 3);  // within the 3-pixel slop
    SendMouse(&s, QEvent::MouseButtonPress, right);
    EXPECT_TRUE(s.Tracking());
    EXPECT_TRUE(s.TrackTimerActive());
    EXPECT_EQ(s.Value(), 10);
    s.TrackingTick();
    s.TrackingTick();
    EXPECT_EQ(s.Value(), 30);
    // The pointer moves to the other side: the repeat stops stepping.
    SendMouse(&s, QEvent::MouseMove, QPoint(ruler.left(), ruler.top()));
    s.TrackingTick();
    EXPECT_EQ(s.Value(), 30);
    EXPECT_EQ(rec.changed, 0);
    SendMouse(&s, QEvent::MouseButtonRelease, QPoint(ruler.left(), ruler.top()));
    EXPECT_EQ(rec.changed, 1);
    EXPECT_FALSE(s.TrackTimerActive());
    EXPECT_EQ(rec.values, (std::vector<int>{10, 20, 30}));

    // Before the thumb the step goes down; outside the slop nothing happens.
    SendMouse(&s, QEvent::MouseButtonPress, QPoint(ruler.left() + 1, ruler.top() - 3));
    EXPECT_EQ(s.Value(), 20);
    SendMouse(&s, QEvent::MouseButtonRelease, QPoint(ruler.left() + 1, ruler.top()));
    SendMouse(&s, QEvent::MouseButtonPress, QPoint(ruler.left() + 1, ruler.top() - 4));
    EXPECT_FALSE(s.Tracking());
    SendMouse(&s, QEvent::MouseButtonRelease, QPoint(ruler.left() + 1, ruler.top() - 4));
    EXPECT_EQ(s.Value(), 20);
    EXPECT_EQ(rec.changed, 2);

    // Right button and double clicks do nothing.
    SendMouse(&s, QEvent::MouseButtonPress, right, Qt::RightButton);
    SendMouse(&s, QEvent::MouseButtonDblClick, right);
    EXPECT_EQ(s.Value(), 20);
}

TEST(SliderMouse, HandCursorOverTheThumbOnly) {
    QWidget form;
    TSlider s(&form);
    form.show();
    SendMouse(&s, QEvent::MouseMove, Centre(s.ThumbRect()));
    EXPECT_EQ(s.cursor().shape(), Qt::BitmapCursor);
    SendMouse(&s, QEvent::MouseMove, QPoint(140, 35));
    EXPECT_FALSE(s.testAttribute(Qt::WA_SetCursor));
}

TEST(SliderImages, BuiltInSizesTransparentColourAndReplacement) {
    struct Image {
        QImage image;
        QSize size;
    };
    const Image images[] = {{SliderHThumbImage(), {18, 17}},
                            {SliderHRulerImage(), {10, 8}},
                            {SliderVThumbImage(), {38, 9}},
                            {SliderVRulerImage(), {8, 10}},
                            {FolderGlyphImage(), {14, 12}}};
    for (const Image& i : images) {
        EXPECT_EQ(i.image.size(), i.size);
        EXPECT_EQ(TransparentColorOf(i.image), QColor(255, 0, 255));
    }
    TSlider s(nullptr);
    s.SetOptions(TCustomSlider::soThumbOpaque | TCustomSlider::soRulerOpaque);
    QImage thumb(20, 10, QImage::Format_RGB32);
    thumb.fill(Qt::green);
    s.SetImageHThumb(QPixmap::fromImage(thumb));
    EXPECT_EQ(s.ThumbRect().size(), QSize(10, 10)) << "two states side by side";
    s.SetNumThumbStates(1);
    EXPECT_EQ(s.ThumbRect().size(), QSize(20, 10));
    s.SetNumThumbStates(3);
    EXPECT_EQ(s.NumThumbStates(), 1);
    EXPECT_EQ(s.UserImages(), 1);
    s.SetImageHThumb(QPixmap());
    EXPECT_EQ(s.UserImages(), 0);
    EXPECT_EQ(s.ImageHThumb().size(), QSize(18, 17));
    EXPECT_EQ(s.Options(), TCustomSlider::TSliderOptions(TCustomSlider::soRulerOpaque))
        << "the thumb is masked again";
}

TEST(SliderPainting, MaskedThumbAndDisabledPicture) {
    TSlider s(nullptr);
    s.SetColor(QColor(10, 20, 30));
    s.SetValue(50);
    s.show();
    const QRect t = s.ThumbRect();
    QImage normal = s.grab().toImage();
    EXPECT_EQ(QColor(normal.pixel(t.left() + 3, t.top() + 4)), QColor(192, 192, 192));
    // The transparent corner of the pointed end shows the background.
    EXPECT_EQ(QColor(normal.pixel(t.left(), t.bottom())), QColor(10, 20, 30));
    EXPECT_EQ(QColor(normal.pixel(1, 1)), QColor(10, 20, 30));
    // Disabled: the dithered second picture.
    s.setEnabled(false);
    QImage disabled = s.grab().toImage();
    const QColor a(disabled.pixel(t.left() + 3, t.top() + 4));
    const QColor b(disabled.pixel(t.left() + 4, t.top() + 4));
    EXPECT_NE(a, b);
    EXPECT_TRUE(a == QColor(Qt::white) || b == QColor(Qt::white));
    // A replaced tick drawing is called with a painter on the tick area.
    s.setEnabled(true);
    int calls = 0;
    s.OnDrawPoints = [&](QObject*) {
        ++calls;
        ASSERT_NE(s.PointsPainter(), nullptr);
        s.PointsPainter()->fillRect(s.PointsRect(), Qt::red);
    };
    QImage custom = s.grab().toImage();
    EXPECT_GE(calls, 1);
    EXPECT_EQ(QColor(custom.pixel(Centre(s.PointsRect()))), QColor(Qt::red));
}

TEST(SliderRobustness, NoTravelAndExtremeLimits) {
    // Narrower than the thumb's travel needs: every value sits at the start
    // and a drag changes nothing, without dividing by zero.
    TSlider tiny(nullptr);
    tiny.resize(20, 40);
    tiny.show();
    EXPECT_EQ(tiny.Travel(), 0);
    EXPECT_EQ(tiny.OffsetOfValue(100), 6);
    EXPECT_EQ(tiny.ValueOfOffset(50), 0);
    SendMouse(&tiny, QEvent::MouseButtonPress, Centre(tiny.ThumbRect()));
    SendMouse(&tiny, QEvent::MouseMove, QPoint(19, 10));
    SendMouse(&tiny, QEvent::MouseButtonRelease, QPoint(19, 10));
    EXPECT_EQ(tiny.Value(), 0);
    EXPECT_EQ(tiny.DefaultPoints().size(), 2u);

    // Limits near the ends of the integer range: positions and steps must
    // not overflow on the way.
    TSlider wide(nullptr);
    wide.show();
    wide.SetMaxValue(2000000000);
    wide.SetMinValue(-2000000000);
    wide.SetIncrement(1500000000);
    wide.SetValue(2000000000);
    EXPECT_EQ(wide.ThumbRect().left(), 6 + wide.Travel());
    QTest::keyClick(&wide, Qt::Key_Right);
    EXPECT_EQ(wide.Value(), 2000000000);
    QTest::keyClick(&wide, Qt::Key_Left);
    EXPECT_EQ(wide.Value(), 0) << "2e9 / 1.5e9 rounds to 1; one step down is 0";
    EXPECT_EQ(wide.ValueOfOffset(6 + wide.Travel()), 2000000000);
    EXPECT_EQ(wide.ValueOfOffset(6), -2000000000);
    try {
        wide.SetIncrement(0);
        ADD_FAILURE();
    } catch (const fw::Exception& e) {
        EXPECT_EQ(e.Message(), "Value must be between 1 and 4000000000");
    }
}
