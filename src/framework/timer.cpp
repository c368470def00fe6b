#include "framework/timer.h"

#include "framework/application.h"
#include "framework/exceptions.h"

namespace ronvix::fw {

TTimer::TTimer(QObject* owner, const QString& name) : TComponent(owner, name) {
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { SafeCall([this] { Tick(); }); });
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    Update();
}

void TTimer::SetInterval(int interval_ms) {
    if (interval_ms == m_interval_ms)
        return;
    m_interval_ms = interval_ms;
    Update();
}

void TTimer::Loaded() {
    TComponent::Loaded();
    Update();
}

void TTimer::Tick() {
    Fire(OnTimer, this);
}

void TTimer::Update() {
    m_timer.stop();
    if (IsLoading())
        return;
    if (!m_enabled || m_interval_ms <= 0)
        return;
    m_timer.setInterval(m_interval_ms);
    m_timer.start();
    if (!m_timer.isActive())
        throw EOutOfResources();
}

}  // namespace ronvix::fw
