#include "platform/media/core/clock.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ronvix::media {

REFERENCE_TIME MonotonicNow100ns() {
    using namespace std::chrono;
    return duration_cast<duration<int64_t, std::ratio<1, 10000000>>>(
               steady_clock::now().time_since_epoch())
        .count();
}

HRESULT SystemClock::GetTime(REFERENCE_TIME* time) {
    if (!time)
        return com::E_POINTER;
    *time = MonotonicNow100ns();
    return com::S_OK;
}

HRESULT SystemClock::WaitUntil(REFERENCE_TIME time, std::stop_token stop) {
    using namespace std::chrono;
    const auto deadline = steady_clock::time_point(
        duration_cast<steady_clock::duration>(duration<int64_t, std::ratio<1, 10000000>>(time)));
    std::mutex lock;
    std::condition_variable_any wake;
    std::unique_lock guard(lock);
    // The predicate is never true: only the deadline or a stop ends the wait.
    wake.wait_until(guard, stop, deadline, [] { return false; });
    return stop.stop_requested() ? com::S_FALSE : com::S_OK;
}

}  // namespace ronvix::media
