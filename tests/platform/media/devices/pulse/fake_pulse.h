#pragma once
// A scripted sound server behind the PulseApi table: its sources and sinks,
// each source's volume, mute and port, and a record stream whose source
// clock runs at a chosen ratio of the graph's clock.
//
// The record stream is driven by its waits, as FakeAlsa's capture is: each
// wait moves the graph's manual clock on by one step and the source
// captures what that step holds at its own rate. Every frame read carries
// its frame number on the source (32 bits, in its first 4 bytes), so a test
// can tell the true capture time of any sample. The server's timing of the
// stream is fresh after every wait. A stretch the server loses (it could
// not take the source's data) is never counted by the server: its count
// falls behind the clock, and the frames after it keep their true numbers.
//
// NoSoundServer() answers as a machine where no server runs.
//
// Made on the test thread; the table is called on the engine's threads and
// every member it touches is guarded by `lock`.

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/media/core/engine_harness.h"
#include "platform/media/devices/pulse/pulseapi.h"
#include "platform/media/devices/pulse/pulsecapture.h"

namespace ronvix::media::test {

class FakePulse {
public:
    std::mutex lock;
    // Guarded by `lock` once the table is in use.
    PulseServer server;
    std::map<std::string, PulseSourceState> states;  // By source name.
    std::vector<std::string> opened;                 // Sources and sinks streams opened on.
    std::vector<std::string> changes;  // "level <source> 0.25", "mute ...", "port ..."

    // The record stream.
    ManualClock* clock = nullptr;
    REFERENCE_TIME step = 100'000;  // 10 ms per wait.
    REFERENCE_TIME end = 0;         // Clock time after which waits idle (0: never).
    double ratio = 1.0;             // Source frames per graph-clock frame.
    int rate = 48000;
    int block = 4;
    REFERENCE_TIME lose_at = 0;  // Clock time at which the source vanishes (0: never).
    int loss_error = -ENODEV;
    REFERENCE_TIME drop_at = 0;           // Clock time of one lost stretch (0: none).
    REFERENCE_TIME drop_gap = 1'000'000;  // Its length.
    int waits_after_end = 0;
    int open_bits = 0, open_channels = 0, open_rate = 0;
    int playback_error = 0;  // What opening a sink's stream returns (0: it opens).

    PulseApi Api() {
        PulseApi api;
        api.list = [this](PulseServer* out) {
            std::lock_guard guard(lock);
            *out = server;
            return 0;
        };
        api.open_record = [this](const std::string& source, int bits, int channels, int r,
                                 void** handle) {
            std::lock_guard guard(lock);
            opened.push_back(source);
            bool known = false;
            for (const PulseDevice& s : server.sources)
                known = known || s.name == source;
            if (!known)
                return -ENODEV;
            open_bits = bits;
            open_channels = channels;
            open_rate = r;
            *handle = this;
            return 0;
        };
        api.start = [this](void*) {
            std::lock_guard guard(lock);
            m_start = Now();
            m_started = true;
            return 0;
        };
        api.wait = [this](void*, int) {
            std::unique_lock guard(lock);
            if (Gone())
                return loss_error;
            if (end && Now() >= end) {
                ++waits_after_end;
                guard.unlock();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return 0;
            }
            clock->Advance(step);
            m_fresh = true;
            return Gone() ? loss_error : 1;
        };
        api.avail = [this](void*) -> long {
            std::lock_guard guard(lock);
            if (Gone())
                return loss_error;
            return long(Counted() - m_consumed);
        };
        api.read = [this](void*, uint8_t* data, long frames) -> long {
            std::lock_guard guard(lock);
            if (Gone())
                return loss_error;
            const long n = std::min<long>(frames, long(Counted() - m_consumed));
            std::memset(data, 0, size_t(std::max(0L, n)) * size_t(block));
            for (long i = 0; i < n; ++i) {
                const int64_t index = m_consumed + i;
                const auto frame = uint32_t(index + (index >= DropIndex() ? Dropped() : 0));
                std::memcpy(data + size_t(i) * size_t(block), &frame, sizeof frame);
            }
            m_consumed += std::max(0L, n);
            return std::max(0L, n);
        };
        api.position = [this](void*, int64_t* frames, REFERENCE_TIME* age) {
            std::lock_guard guard(lock);
            if (!m_started)
                return -ENODATA;
            *frames = Counted();
            *age = 0;
            const bool fresh = m_fresh;
            m_fresh = false;
            return fresh ? 1 : 0;
        };
        api.close = [](void*) {};
        api.open_playback = [this](const std::string& sink, int, int, int, void** handle) {
            std::lock_guard guard(lock);
            if (playback_error < 0)
                return playback_error;
            opened.push_back(sink);
            *handle = this;
            return 0;
        };
        api.wait_writable = [](void*, int) { return 1; };
        api.write = [](void*, const uint8_t*, long frames) -> long { return frames; };
        api.close_playback = [](void*) {};
        api.source_state = [this](const std::string& source, PulseSourceState* state) {
            std::lock_guard guard(lock);
            *state = states[source];
            return 0;
        };
        api.set_level = [this](const std::string& source, double level) {
            std::lock_guard guard(lock);
            states[source].level = level;
            changes.push_back("level " + source + " " + std::to_string(level).substr(0, 4));
            return 0;
        };
        api.set_muted = [this](const std::string& source, bool muted) {
            std::lock_guard guard(lock);
            states[source].muted = muted;
            changes.push_back(std::string(muted ? "mute " : "unmute ") + source);
            return 0;
        };
        api.set_port = [this](const std::string& source, const std::string& port) {
            std::lock_guard guard(lock);
            states[source].port = port;
            changes.push_back("port " + source + " " + port);
            return 0;
        };
        return api;
    }

    // The stream time of source frame `frame` on the graph's clock (the
    // source starts with the stream, at stream time 0: the clock only moves
    // in waits).
    REFERENCE_TIME TrueTime(uint32_t frame) const {
        return REFERENCE_TIME(double(frame) * 1e7 / (double(rate) * ratio));
    }

private:
    REFERENCE_TIME Now() const {
        REFERENCE_TIME now = 0;
        clock->GetTime(&now);
        return now;
    }
    bool Gone() const { return lose_at && Now() >= lose_at; }
    // Frames the source produced since the start.
    int64_t Produced() const {
        return int64_t(double(Now() - m_start) * double(rate) * ratio / 1e7);
    }
    int64_t DropIndex() const {
        return drop_at ? int64_t(double(drop_at - m_start) * rate * ratio / 1e7) : INT64_MAX;
    }
    int64_t Dropped() const { return int64_t(double(drop_gap) * rate * ratio / 1e7); }
    // Frames the server counted: what the source produced, less the stretch
    // it lost once the stretch is over.
    int64_t Counted() const {
        const int64_t produced = Produced();
        if (produced <= DropIndex())
            return produced;
        return std::max(DropIndex(), produced - Dropped());
    }

    // Guarded by `lock`.
    REFERENCE_TIME m_start = 0;
    bool m_started = false;
    bool m_fresh = false;
    int64_t m_consumed = 0;
};

// A machine without a sound server, for the life of the object.
struct NoSoundServer {
    NoSoundServer() {
        PulseApi api;
        api.list = [](PulseServer*) { return -ECONNREFUSED; };
        SetPulseApi(api);
    }
    ~NoSoundServer() { SetPulseApi({}); }
};

inline PulseDevice Source(std::string name, std::string description, bool monitor = false,
                          std::vector<PulsePort> ports = {}) {
    return {std::move(name), std::move(description), monitor, 48000, 2, std::move(ports)};
}

}  // namespace ronvix::media::test
