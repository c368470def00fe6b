#pragma once
// Pacing for the live output pins of the virtual devices.
//
// A live source runs on the graph's clock: its streaming thread waits for
// the stream time of each frame or buffer, produces it then, and never
// blocks on its consumer. When no output buffer is free by the frame's
// deadline the frame is dropped and counted. Without a graph clock (a
// filter run on its own) the pacer uses the monotonic clock from the moment
// the filter ran.
//
// Threads: OnRun and Wake are called on the control thread; the waits on a
// streaming thread. Every wait ends at once when its stop token is
// requested, and re-checks the filter state when woken.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

#include "platform/media/filter.h"

namespace ronvix::media {

// Joins a streaming thread that may be inside a call downstream. A consumer
// that keeps a Receive blocked after the stop (one that is not being
// stopped itself) is flushed through `pin`, which wakes it, and the flush
// ends once the thread is gone. `done` is set by the thread as it ends.
void JoinDelivery(std::jthread& thread, const std::atomic<bool>& done, BaseOutputPin& pin);

class LivePacer {
public:
    explicit LivePacer(BaseFilter& filter) : m_filter(filter) {}

    // The filter started running (again): note the local start and wake
    // waiting threads.
    void OnRun();
    // Wakes every waiting thread so it re-checks the state (pause, stop).
    void Wake();

    // The current stream time.
    REFERENCE_TIME Now() const;
    // Waits while the filter is paused. False when stopped or stop requested.
    bool WaitRunning(std::stop_token stop);
    // Waits until the stream time reaches `time`. False when the filter
    // left Running or stop was requested meanwhile.
    bool WaitFor(REFERENCE_TIME time, std::stop_token stop);
    // True once after each OnRun for each caller slot (0..3): a streaming
    // thread re-anchors after a pause.
    bool TakeRestart(int slot);

    // Gets a free buffer of `pin`, waiting until stream time `deadline` at
    // most. S_OK with a sample; VFW_E_TIMEOUT when none became free in time;
    // another failure when the pin stopped or lost its connection.
    HRESULT BufferBefore(BaseOutputPin& pin, REFERENCE_TIME deadline, std::stop_token stop,
                         IMediaSample** sample);

private:
    REFERENCE_TIME ClockNow() const;

    BaseFilter& m_filter;
    std::atomic<REFERENCE_TIME> m_local_start{0};
    std::atomic<unsigned> m_restart{0};

    std::mutex m_lock;
    std::condition_variable_any m_wake;
    // Guarded by m_lock.
    uint64_t m_generation = 0;
};

}  // namespace ronvix::media
