#include "platform/media/devices/imperfections.h"

#include <cmath>

namespace ronvix::media {

namespace {

constexpr double kSecond = 10'000'000.0;

// A well-mixed 64-bit hash, so each frame's jitter is fixed by its number.
uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

ImperfectClock::ImperfectClock(const Imperfections& faults, double ticks_per_second)
    : m_faults(faults),
      m_tick(kSecond / (std::max(ticks_per_second, 1e-9) * (1.0 + faults.clock_ppm * 1e-6))) {}

bool ImperfectClock::InStall(REFERENCE_TIME t) const {
    const REFERENCE_TIME every = m_faults.stall_every, length = m_faults.stall_length;
    if (every <= 0 || length <= 0 || length >= every || t < every)
        return false;
    return t % every < length;
}

double ImperfectClock::OnTime(REFERENCE_TIME t) const {
    const REFERENCE_TIME every = m_faults.stall_every, length = m_faults.stall_length;
    if (every <= 0 || length <= 0 || length >= every || t < every)
        return double(t);
    // Stalls start at every, 2 every, ...; the last may still be running.
    const int64_t begun = t / every;
    const REFERENCE_TIME in_last = std::min(length, t - begun * every);
    return double(t) - double((begun - 1) * length + in_last);
}

REFERENCE_TIME ImperfectClock::FrameTime(int64_t n) const {
    return m_faults.start_delay + REFERENCE_TIME(std::llround(double(n) * m_tick));
}

REFERENCE_TIME ImperfectClock::SampleTime(int64_t n) const {
    const double base = double(m_faults.start_delay) + double(n) * m_tick;
    const double every = double(m_faults.stall_every), length = double(m_faults.stall_length);
    double t = base;
    // Stall j (j >= 1) starts at on-time j every - (j - 1) length; each one
    // that started before this sample's on-time moves it later.
    if (every > 0 && length > 0 && length < every && base >= every)
        t += length * std::floor((base - length) / (every - length));
    return REFERENCE_TIME(std::llround(t));
}

int64_t ImperfectClock::SamplesAt(REFERENCE_TIME t) const {
    const double on = OnTime(t) - double(m_faults.start_delay);
    if (on <= 0)
        return 0;
    // Frame n is captured once its time has passed: at SampleTime(n + 1).
    return int64_t(std::floor(on / m_tick));
}

bool ImperfectClock::FrameLost(int64_t n) const {
    if (m_faults.lose_every > 0 && (n + 1) % m_faults.lose_every == 0)
        return true;
    return InStall(FrameTime(n));
}

REFERENCE_TIME ImperfectClock::StampOf(int64_t n) const {
    const REFERENCE_TIME t = FrameTime(n);
    if (m_faults.jitter <= 0)
        return t;
    // Uniform in [-jitter, +jitter].
    const double u = double(Mix(uint64_t(n)) >> 11) / double(uint64_t{1} << 53);
    return t + REFERENCE_TIME(std::llround((2 * u - 1) * double(m_faults.jitter)));
}

bool ImperfectClock::BufferLost(int64_t n) const {
    return m_faults.lose_every > 0 && (n + 1) % m_faults.lose_every == 0;
}

}  // namespace ronvix::media
