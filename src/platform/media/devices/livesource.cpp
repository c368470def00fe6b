#include "platform/media/devices/livesource.h"

#include <chrono>

#include "platform/media/clock.h"

namespace ronvix::media {

using namespace com;

namespace {
// How often a thread waiting for a buffer looks again, 100 ns units.
constexpr REFERENCE_TIME kBufferPoll = 20'000;
// How long a stopping thread may take to come back from downstream before
// the consumer is flushed.
constexpr auto kDeliveryGrace = std::chrono::milliseconds(200);
}  // namespace

void JoinDelivery(std::jthread& thread, const std::atomic<bool>& done, BaseOutputPin& pin) {
    if (!thread.joinable())
        return;
    const auto until = std::chrono::steady_clock::now() + kDeliveryGrace;
    while (!done.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool flush = !done.load();
    if (flush)
        pin.DeliverBeginFlush();
    thread.join();
    if (flush)
        pin.DeliverEndFlush();
}

REFERENCE_TIME LivePacer::ClockNow() const {
    REFERENCE_TIME now = 0;
    if (ComPtr<IReferenceClock> clock = m_filter.Clock())
        clock->GetTime(&now);
    else
        now = MonotonicNow100ns();
    return now;
}

void LivePacer::OnRun() {
    m_local_start.store(MonotonicNow100ns());
    m_restart.store(0xF);
    Wake();
}

void LivePacer::Wake() {
    {
        std::lock_guard guard(m_lock);
        ++m_generation;
    }
    m_wake.notify_all();
}

REFERENCE_TIME LivePacer::Now() const {
    if (m_filter.Clock())
        return m_filter.StreamTime();
    return MonotonicNow100ns() - m_local_start.load();
}

bool LivePacer::TakeRestart(int slot) {
    const unsigned bit = 1u << slot;
    return m_restart.fetch_and(~bit) & bit;
}

bool LivePacer::WaitRunning(std::stop_token stop) {
    std::unique_lock guard(m_lock);
    m_wake.wait(guard, stop, [&] { return m_filter.State() != State_Paused; });
    return !stop.stop_requested() && m_filter.State() == State_Running;
}

bool LivePacer::WaitFor(REFERENCE_TIME time, std::stop_token stop) {
    std::unique_lock guard(m_lock);
    const uint64_t generation = m_generation;
    for (;;) {
        if (stop.stop_requested() || m_filter.State() != State_Running)
            return false;
        const REFERENCE_TIME left = time - Now();
        if (left <= 0)
            return true;
        // Bounded slices, so a clock that is replaced or a start time that
        // moves is noticed.
        const auto slice = std::chrono::microseconds(std::min<REFERENCE_TIME>(left, 200'000) / 10);
        if (m_wake.wait_for(guard, stop, slice, [&] { return m_generation != generation; }))
            return !stop.stop_requested() && m_filter.State() == State_Running;
    }
}

HRESULT LivePacer::BufferBefore(BaseOutputPin& pin, REFERENCE_TIME deadline, std::stop_token stop,
                                IMediaSample** sample) {
    for (;;) {
        HRESULT hr = pin.GetDeliveryBuffer(sample, AM_GBF_NOWAIT);
        if (hr != VFW_E_TIMEOUT)
            return hr;
        const REFERENCE_TIME now = Now();
        if (now >= deadline)
            return VFW_E_TIMEOUT;
        std::unique_lock guard(m_lock);
        const uint64_t generation = m_generation;
        const auto slice =
            std::chrono::microseconds(std::min<REFERENCE_TIME>(deadline - now, kBufferPoll) / 10);
        m_wake.wait_for(guard, stop, slice, [&] { return m_generation != generation; });
        if (stop.stop_requested())
            return VFW_E_NOT_COMMITTED;
    }
}

}  // namespace ronvix::media
