#pragma once
// The sound server calls the audio backends make (libpulse, which
// PulseAudio and PipeWire's pipewire-pulse both serve), as a table of
// functions, so that tests can stand in for a server, its devices and the
// clocks of their streams.
//
// Every call returns 0 (or a count) or a negative errno value: -ECONNREFUSED
// or -ENOENT when no server answers, -ETIMEDOUT when one does not answer in
// time, -ENODEV when the device of a stream went (it is never moved to
// another), -ECONNRESET when the server went, -EIO otherwise. Handles are
// opaque to the callers; one handle is used by one thread at a time. A
// table is copied into each object that uses it.

#include <poll.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/com/hresult.h"

namespace ronvix::media {

struct PulsePort {
    std::string name;
    std::string description;
};

// A source or a sink as the server describes it.
struct PulseDevice {
    std::string name;         // Unique on the server, stable across runs.
    std::string description;  // What the user knows it by.
    bool monitor = false;     // A source that plays back what a sink plays.
    int rate = 0;             // The device's own format.
    int channels = 0;
    std::vector<PulsePort> ports;
};

struct PulseServer {
    std::vector<PulseDevice> sources;
    std::vector<PulseDevice> sinks;
};

// The state of a source's controls: its volume (0..1 of the nominal level,
// averaged over channels), whether it is muted, and its active port.
struct PulseSourceState {
    double level = 1.0;
    bool muted = false;
    std::string port;
};

struct PulseApi {
    // The server's devices; < 0 when no server answers.
    std::function<int(PulseServer* server)> list;

    // Capture: a record stream from `source` with the format (8, 16, 24 or
    // 32-bit integer samples), not started.
    std::function<int(const std::string& source, int bits, int channels, int rate, void** handle)>
        open_record;
    std::function<int(void* handle)> start;
    // Waits up to `timeout_ms` for data: > 0 ready, 0 time-out, < 0 error.
    std::function<int(void* handle, int timeout_ms)> wait;
    // Frames ready to read, or an error.
    std::function<long(void* handle)> avail;
    // Reads up to `frames` frames (a stretch the server skipped reads as
    // silence); the number read, or an error.
    std::function<long(void* handle, uint8_t* data, long frames)> read;
    // The server's latest timing of the stream: `*frames` is the number of
    // frames the source had captured (read, queued or still in the
    // device) `*age` (100 ns units) ago. 1 when this timing is new since
    // the last call, 0 when it is not, < 0 when there is none yet.
    std::function<int(void* handle, int64_t* frames, com::REFERENCE_TIME* age)> position;
    std::function<void(void* handle)> close;

    // Playback to `sink`, started at once.
    std::function<int(const std::string& sink, int bits, int channels, int rate, void** handle)>
        open_playback;
    // Waits up to `timeout_ms` for room: > 0 when there is, 0 on time-out.
    std::function<int(void* handle, int timeout_ms)> wait_writable;
    // Writes up to `frames` frames; the number written (0 when full).
    std::function<long(void* handle, const uint8_t* data, long frames)> write;
    // How long a frame written now waits before it is heard: what the
    // stream holds and the sink's latency (100 ns units); < 0 while the
    // server has not told it yet. May be left empty.
    std::function<int(void* handle, com::REFERENCE_TIME* delay)> playback_delay;
    std::function<void(void* handle)> close_playback;

    // A source's controls, by name.
    std::function<int(const std::string& source, PulseSourceState* state)> source_state;
    std::function<int(const std::string& source, double level)> set_level;
    std::function<int(const std::string& source, bool muted)> set_muted;
    std::function<int(const std::string& source, const std::string& port)> set_port;

    // Sources and sinks that come and go: a connection that the server
    // tells of them. Opening does not wait for the server (one that does
    // not answer is found out by the waits); < 0 when no connection can be
    // begun.
    std::function<int(void** handle)> open_watch;
    // Waits up to `timeout_ms` for the server, or for one of the caller's
    // own descriptors `fds` (an eventfd that a stop makes readable) to be
    // readable; their revents are set as poll sets them. 2: the server has
    // just taken the connection and tells it of changes from now on; 1: a
    // source or a sink came or went (a change of one that stays, its
    // volume or its state, is not news); 0: neither; < 0: no server answers
    // (any more), and the handle is good only for closing.
    std::function<int(void* handle, pollfd* fds, size_t count, int timeout_ms)> wait_watch;
    std::function<void(void* handle)> close_watch;
};

// The real library. Each call that needs a server connects to the one the
// user's session names (PULSE_SERVER, the client configuration, the
// runtime folder), never starts one, and gives up after two seconds.
PulseApi RealPulseApi();

}  // namespace ronvix::media
