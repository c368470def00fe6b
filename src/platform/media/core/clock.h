#pragma once
// The graph's reference clock: the system's monotonic clock in 100 ns units.
// It never changes for the life of a graph, so no clock-changed event exists.

#include "platform/com/object.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::media {

class SystemClock final : public com::ComObject<IReferenceClock> {
public:
    // Thread-safe: any thread may read the time or wait.
    HRESULT GetTime(REFERENCE_TIME* time) override;
    HRESULT WaitUntil(REFERENCE_TIME time, std::stop_token stop) override;
};

// The current time of the monotonic clock, 100 ns units.
REFERENCE_TIME MonotonicNow100ns();

}  // namespace ronvix::media
