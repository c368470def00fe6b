#pragma once
// The data rates of the two pages, each from its own counts:
//
// - TByteCounter: the bytes a streaming thread hands over (the tape page's
//   grabber counts what it sends to the output device). Add is one relaxed
//   atomic addition: no lock, no allocation, nothing that can fail, so it
//   may run once per sample on a streaming thread. Total is read on the
//   user interface thread.
// - TRateMeter: kilobytes per second of a byte total that grows, over the
//   time between two readings. The capture page reads the capture file's
//   size (every byte the file has gained: frames, sound and the file's own
//   structure), the tape page the TByteCounter of its grabber. User
//   interface thread only.
//
// The two pages never share a count, so neither shows the other's figure
// and neither tick resets what the other reads.

#include <atomic>
#include <cstdint>
#include <optional>

namespace ronvix::workflow {

class TByteCounter {
public:
    // Streaming thread: `length` bytes were delivered. A length below 1
    // (which no grabber delivers) adds nothing.
    void Add(int32_t length) noexcept {
        if (length > 0)
            m_bytes.fetch_add(length, std::memory_order_relaxed);
    }
    // Every byte added since the counter was made. Any thread.
    int64_t Total() const noexcept { return m_bytes.load(std::memory_order_relaxed); }

private:
    std::atomic<int64_t> m_bytes{0};
};

class TRateMeter {
public:
    // Measures from `total_bytes` at `now_ms` (a monotonic clock in
    // milliseconds) on.
    void Start(int64_t total_bytes, uint64_t now_ms) noexcept {
        m_bytes = total_bytes;
        m_at_ms = now_ms;
        m_started = true;
    }
    bool Started() const noexcept { return m_started; }

    // The kilobytes (1024 bytes) a second the total gained since the last
    // reading (or the start), truncated; this reading becomes the last.
    // None before a start and when no time has passed since the last
    // reading (the figure would be meaningless); a total that went back (a
    // new file under the same meter) starts the measurement again from it.
    std::optional<int64_t> Tick(int64_t total_bytes, uint64_t now_ms) noexcept {
        if (!m_started || now_ms <= m_at_ms)
            return std::nullopt;
        if (total_bytes < m_bytes) {
            Start(total_bytes, now_ms);
            return std::nullopt;
        }
        const int64_t gained = total_bytes - m_bytes;
        const auto elapsed_ms = static_cast<int64_t>(now_ms - m_at_ms);
        Start(total_bytes, now_ms);
        return RateKb(gained, elapsed_ms);
    }

    // Kilobytes a second of `bytes` over `elapsed_ms` (> 0), truncated. Exact
    // up to 9 PB between two readings, far beyond what a second brings.
    static int64_t RateKb(int64_t bytes, int64_t elapsed_ms) noexcept {
        return bytes * 1000 / (elapsed_ms * 1024);
    }

private:
    int64_t m_bytes = 0;
    uint64_t m_at_ms = 0;
    bool m_started = false;
};

}  // namespace ronvix::workflow
