#pragma once
// TCustomSlider / TSlider: a value between two integer limits shown as a
// thumb on a groove. OnChange fires on every change of Value (from code or
// the user); OnChanged when a user adjustment ends. UI thread only.

#include <QWidget>

#include "framework/events.h"

namespace ronvix::controls {

class TCustomSlider : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int MinValue READ MinValue WRITE SetMinValue)
    Q_PROPERTY(int MaxValue READ MaxValue WRITE SetMaxValue)
    Q_PROPERTY(int Increment READ Increment WRITE SetIncrement)
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

    explicit TCustomSlider(QWidget* parent = nullptr);

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
    int Tag() const { return m_tag; }
    void SetTag(int t) { m_tag = t; }

    fw::TNotifyEvent OnChange;
    fw::TNotifyEvent OnChanged;

protected:
    void SetLimits(int lo, int hi);
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    int m_min = 0;
    int m_max = 100;
    int m_increment = 10;
    int m_value = 0;
    int m_tag = 0;
    TSliderOptions m_options = TSliderOptions(soShowFocus | soShowPoints | soSmooth);
};

class TSlider : public TCustomSlider {
    Q_OBJECT
public:
    using TCustomSlider::TCustomSlider;
};

}  // namespace ronvix::controls

Q_DECLARE_OPERATORS_FOR_FLAGS(ronvix::controls::TCustomSlider::TSliderOptions)
