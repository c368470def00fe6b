#pragma once
// TCaptureCounters: the byte total and the two sample counts that both sample
// grabbers feed (capture and tape output) and that both once-a-second rate
// ticks read and reset.
//
// Threads: AddBuffer is called on the platform's streaming threads (one per
// grabber, possibly two grabbers at once); Start, Take and Peek are called on
// the user interface thread only. AddBuffer takes no lock, allocates nothing
// and is wait-free: one atomic addition.
//
// Consistency: an addition and a read-and-reset never interleave. The three
// counters are kept as one 64-bit word (the number of buffers in the high
// bits, their bytes in the low bits) added to and exchanged in one atomic
// step, so a rate tick sees every buffer either wholly in this second or
// wholly in the next. The start values (byte total 1, divisor 1, multiplier
// 0, which keep the first tick after a start from dividing by zero) are
// offsets kept beside the word; only the user interface thread touches them.
//
// Limits: between two reads at most 2^24 - 1 buffers and 2^40 - 1 bytes
// (16 million buffers, 1 TiB) are counted exactly; a rate tick runs every
// second while a grabber streams, far inside both. A negative buffer length
// (which no grabber delivers) counts as 0 bytes.

#include <atomic>
#include <cstdint>
#include <optional>

namespace ronvix::capture {

class TCaptureCounters {
public:
    // The counters' values as the rate ticks use them.
    struct Values {
        int64_t bytes = 0;       // byte total
        int64_t divisor = 0;     // divisor sample count
        int64_t multiplier = 0;  // multiplier sample count
    };

    // Streaming thread: one buffer of `length` bytes was delivered.
    void AddBuffer(int32_t length) noexcept {
        const uint64_t bytes = length > 0 ? static_cast<uint64_t>(length) : 0;
        m_word.fetch_add((uint64_t{1} << kCountShift) + bytes, std::memory_order_relaxed);
    }

    // UI thread: set the counters to the given values (a capture start sets
    // 1, 1, 0; tape output's start sets 0, 0, 0).
    void Start(int64_t bytes, int64_t divisor, int64_t multiplier) noexcept {
        m_word.store(0, std::memory_order_relaxed);
        m_base = {bytes, divisor, multiplier};
    }

    // UI thread: read the counters and set all three to 0, in one step with
    // respect to AddBuffer.
    Values Take() noexcept {
        const Values v = Decode(m_word.exchange(0, std::memory_order_relaxed));
        m_base = {};
        return v;
    }

    // UI thread: read without resetting.
    Values Peek() const noexcept { return Decode(m_word.load(std::memory_order_relaxed)); }

    // The rate of a tick in kilobytes: ((bytes / divisor) / 1024) * multiplier,
    // in signed 64-bit arithmetic with truncating division; none when the
    // divisor is 0 (no buffer since the last tick).
    static std::optional<int64_t> Rate(const Values& v) noexcept {
        if (v.divisor == 0)
            return std::nullopt;
        return (v.bytes / v.divisor) / 1024 * v.multiplier;
    }

private:
    static constexpr int kCountShift = 40;
    static constexpr uint64_t kBytesMask = (uint64_t{1} << kCountShift) - 1;

    Values Decode(uint64_t word) const noexcept {
        const auto count = static_cast<int64_t>(word >> kCountShift);
        const auto bytes = static_cast<int64_t>(word & kBytesMask);
        return {m_base.bytes + bytes, m_base.divisor + count, m_base.multiplier + count};
    }

    std::atomic<uint64_t> m_word{0};
    Values m_base;  // UI thread only
};

}  // namespace ronvix::capture
