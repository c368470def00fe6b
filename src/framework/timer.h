#pragma once
// TTimer: calls OnTimer every Interval milliseconds while Enabled and the
// interval is above zero. Ticks are delivered on the UI thread by the event
// loop; a tick handler that throws is reported and the timer goes on.

#include <QTimer>

#include "framework/component.h"
#include "framework/events.h"

namespace ronvix::fw {

class TTimer : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(int Interval READ Interval WRITE SetInterval)
public:
    explicit TTimer(QObject* owner = nullptr, const QString& name = {});

    bool Enabled() const { return m_enabled; }
    // Throws EOutOfResources ("Not enough timers available") when the event
    // loop cannot give a timer.
    void SetEnabled(bool enabled);
    int Interval() const { return m_interval_ms; }
    void SetInterval(int interval_ms);

    // Starts ticking when enabled: a timer made by form loading runs from
    // the end of loading.
    void Loaded() override;
    // Runs one tick now, as the event loop would.
    void Tick();

    TNotifyEvent OnTimer;

private:
    void Update();

    QTimer m_timer;
    bool m_enabled = true;
    int m_interval_ms = 1000;
};

}  // namespace ronvix::fw
