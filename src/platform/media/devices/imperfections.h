#pragma once
// What real capture devices get wrong, for the built-in virtual devices to
// do on purpose: a crystal that runs fast or slow, a late start, jittery
// time stamps, stalls and lost buffers. Tests and benchmarks set these to
// prove that the capture file keeps sound and picture together with devices
// that are not perfect; a user never sees them (every value is off by
// default, and the window has no control for them).
//
// ImperfectClock turns the settings into when each tick (a video frame or
// an audio sample frame) of a device is captured, on the graph's clock. The
// virtual devices and the tests' simulated devices share it, so both mean
// the same by "200 ppm fast".

#include <cstdint>

#include "platform/media/core/types.h"

namespace ronvix::media {

struct Imperfections {
    // The device's crystal against the graph's clock: +100 makes 100 ppm
    // more ticks per second than the nominal rate.
    double clock_ppm = 0;
    // The first tick is captured this long after the run starts.
    REFERENCE_TIME start_delay = 0;
    // Video: each frame's time stamp is off by up to this much either way
    // (a deterministic pseudo-random amount per frame); the picture still
    // belongs to the frame's true time.
    REFERENCE_TIME jitter = 0;
    // Every `stall_every` of stream time the device captures nothing for
    // `stall_length` (a device hiccup). A camera loses the frames that fall
    // in it; a sound card's sample counter stands still, so the sound of
    // that time is lost. Needs stall_every > stall_length.
    REFERENCE_TIME stall_every = 0;
    REFERENCE_TIME stall_length = 0;
    // Every n-th frame or buffer is lost as if no free buffer was there (the
    // source counts it as dropped). 0: none.
    int lose_every = 0;

    bool operator==(const Imperfections&) const = default;
};

// When each tick of an imperfect device is captured. Immutable; any thread.
class ImperfectClock {
public:
    // `ticks_per_second`: the device's nominal rate (frames per second, or
    // the sample rate).
    ImperfectClock(const Imperfections& faults, double ticks_per_second);

    // Video: the stream time at which frame `n` is captured (its true time).
    REFERENCE_TIME FrameTime(int64_t n) const;
    // Audio: the stream time at which sample frame `n` is captured; stalls
    // before it move it later, since the counter stands still in them.
    REFERENCE_TIME SampleTime(int64_t n) const;
    // Audio: the sample frames captured by stream time `t` (frames 0 ..
    // result-1, each whole once the next one's time came), the card's
    // counter.
    int64_t SamplesAt(REFERENCE_TIME t) const;
    // The length of one tick on the device's clock, 100 ns units.
    double TickLength() const { return m_tick; }
    // Video: whether frame `n` falls in a stall or is one of the lost ones.
    bool FrameLost(int64_t n) const;
    // Video: frame `n`'s time stamp, its true time plus its jitter.
    REFERENCE_TIME StampOf(int64_t n) const;
    // Audio: whether buffer `n` is one of the lost ones.
    bool BufferLost(int64_t n) const;

    const Imperfections& Faults() const { return m_faults; }

private:
    // Stream time minus the time spent in stalls before it.
    double OnTime(REFERENCE_TIME t) const;
    bool InStall(REFERENCE_TIME t) const;

    const Imperfections m_faults;
    const double m_tick;  // 100 ns units per tick.
};

}  // namespace ronvix::media
