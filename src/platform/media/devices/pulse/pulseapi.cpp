// The sound server calls over the real libpulse. See pulseapi.h.
//
// Each connection owns its own main loop, run by the thread that uses it
// (never a thread of libpulse's own), in bounded steps: a wait for data,
// for room or for an answer ends in time whatever the server does.

#include "platform/media/devices/pulse/pulseapi.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace ronvix::media {

namespace {

using Clock = std::chrono::steady_clock;

// How long a connection, an answer or a stream's set-up may take.
constexpr auto kAnswerTime = std::chrono::seconds(2);
// How often a capture asks the server for the stream's timing (besides the
// updates libpulse asks for by itself).
constexpr auto kTimingInterval = std::chrono::milliseconds(100);

int ErrnoOf(int pa_error) {
    switch (pa_error) {
        case PA_ERR_CONNECTIONREFUSED:
            return -ECONNREFUSED;
        case PA_ERR_NOENTITY:
            return -ENOENT;
        case PA_ERR_TIMEOUT:
            return -ETIMEDOUT;
        case PA_ERR_CONNECTIONTERMINATED:
            return -ECONNRESET;
        case PA_ERR_KILLED:
            return -ENODEV;
        case PA_ERR_INVALID:
        case PA_ERR_NOTSUPPORTED:
            return -EINVAL;
        case PA_ERR_ACCESS:
        case PA_ERR_AUTHKEY:
            return -EACCES;
        case PA_ERR_BUSY:
            return -EBUSY;
        default:
            return -EIO;
    }
}

pa_sample_format_t SampleFormat(int bits) {
    switch (bits) {
        case 8:
            return PA_SAMPLE_U8;
        case 16:
            return PA_SAMPLE_S16LE;
        case 24:
            return PA_SAMPLE_S24LE;
        case 32:
            return PA_SAMPLE_S32LE;
        default:
            return PA_SAMPLE_INVALID;
    }
}

// A context on a main loop of its own.
class Connection {
public:
    ~Connection() {
        if (m_context) {
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        if (m_loop)
            pa_mainloop_free(m_loop);
    }

    // Connects; null with the error in `*err` when no server answers.
    static std::unique_ptr<Connection> Open(int* err) {
        std::unique_ptr<Connection> c = Start(err);
        if (!c)
            return nullptr;
        const bool ready = c->RunUntil(
            [&] {
                const pa_context_state_t s = pa_context_get_state(c->m_context);
                return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
            },
            Clock::now() + kAnswerTime);
        if (!ready) {
            *err = -ETIMEDOUT;
            return nullptr;
        }
        if (pa_context_get_state(c->m_context) != PA_CONTEXT_READY) {
            *err = c->Refused();
            return nullptr;
        }
        return c;
    }

    // Begins to connect without waiting for an answer; null with the error
    // in `*err` when not even that can be done.
    static std::unique_ptr<Connection> Start(int* err) {
        auto c = std::unique_ptr<Connection>(new Connection);
        c->m_loop = pa_mainloop_new();
        if (!c->m_loop) {
            *err = -ENOMEM;
            return nullptr;
        }
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Ronvix");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "io.github.ronvix.Ronvix");
        c->m_context =
            pa_context_new_with_proplist(pa_mainloop_get_api(c->m_loop), "Ronvix", props);
        pa_proplist_free(props);
        if (!c->m_context) {
            *err = -ENOMEM;
            return nullptr;
        }
        // Never a server of our own: without one the caller falls back.
        if (pa_context_connect(c->m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            *err = ErrnoOf(pa_context_errno(c->m_context));
            return nullptr;
        }
        return c;
    }

    pa_context* Context() const { return m_context; }
    pa_mainloop_api* LoopApi() const { return pa_mainloop_get_api(m_loop); }
    int Error() const { return ErrnoOf(pa_context_errno(m_context)); }
    // The error of a connection that did not become ready.
    int Refused() const {
        const int e = Error();
        return e == -EIO ? -ECONNREFUSED : e;
    }
    bool Good() const { return pa_context_get_state(m_context) == PA_CONTEXT_READY; }

    // One round of the loop: waits until `until` at most for something to
    // do, then does it. False when the loop failed.
    bool Step(Clock::time_point until) {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now());
        const int timeout_us = int(std::clamp<int64_t>(left.count(), 0, 1'000'000));
        if (pa_mainloop_prepare(m_loop, timeout_us) < 0 || pa_mainloop_poll(m_loop) < 0 ||
            pa_mainloop_dispatch(m_loop) < 0)
            return false;
        return true;
    }
    // Runs the loop until `done` holds; false when `until` came first or
    // the loop failed.
    template <class Done>
    bool RunUntil(Done done, Clock::time_point until) {
        while (!done()) {
            if (Clock::now() >= until || !Step(until))
                return false;
        }
        return true;
    }
    // Runs operation `o` to its end (and lets it go). False on time-out or
    // when it was cancelled.
    bool Finish(pa_operation* o) {
        if (!o)
            return false;
        const bool done =
            RunUntil([&] { return pa_operation_get_state(o) != PA_OPERATION_RUNNING || !Good(); },
                     Clock::now() + kAnswerTime);
        const bool ok = done && pa_operation_get_state(o) == PA_OPERATION_DONE;
        if (pa_operation_get_state(o) == PA_OPERATION_RUNNING)
            pa_operation_cancel(o);
        pa_operation_unref(o);
        return ok;
    }

private:
    Connection() = default;
    pa_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
};

std::vector<PulsePort> PortsOf(auto** ports, uint32_t count) {
    std::vector<PulsePort> list;
    for (uint32_t i = 0; ports && i < count; ++i)
        if (ports[i])
            list.push_back({ports[i]->name ? ports[i]->name : "",
                            ports[i]->description ? ports[i]->description : ""});
    return list;
}

int List(PulseServer* server) {
    int err = 0;
    std::unique_ptr<Connection> c = Connection::Open(&err);
    if (!c)
        return err;
    *server = {};
    auto source_cb = [](pa_context*, const pa_source_info* i, int eol, void* userdata) {
        if (eol || !i)
            return;
        static_cast<PulseServer*>(userdata)->sources.push_back(
            {i->name ? i->name : "", i->description ? i->description : "",
             i->monitor_of_sink != PA_INVALID_INDEX, int(i->sample_spec.rate),
             int(i->sample_spec.channels), PortsOf(i->ports, i->n_ports)});
    };
    auto sink_cb = [](pa_context*, const pa_sink_info* i, int eol, void* userdata) {
        if (eol || !i)
            return;
        static_cast<PulseServer*>(userdata)->sinks.push_back(
            {i->name ? i->name : "", i->description ? i->description : "", false,
             int(i->sample_spec.rate), int(i->sample_spec.channels),
             PortsOf(i->ports, i->n_ports)});
    };
    if (!c->Finish(pa_context_get_source_info_list(c->Context(), source_cb, server)) ||
        !c->Finish(pa_context_get_sink_info_list(c->Context(), sink_cb, server)))
        return c->Good() ? -ETIMEDOUT : c->Error();
    return 0;
}

// A stream on a connection of its own. One thread at a time.
class Stream {
public:
    ~Stream() {
        if (m_stream) {
            if (pa_stream_get_state(m_stream) == PA_STREAM_READY) {
                pa_stream_disconnect(m_stream);
                m_connection->RunUntil(
                    [&] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)); },
                    Clock::now() + std::chrono::milliseconds(500));
            }
            pa_stream_set_latency_update_callback(m_stream, nullptr, nullptr);
            pa_stream_unref(m_stream);
        }
    }

    static int Open(const std::string& device, bool record, int bits, int channels, int rate,
                    void** handle) {
        *handle = nullptr;
        const pa_sample_spec spec{SampleFormat(bits), uint32_t(rate), uint8_t(channels)};
        if (spec.format == PA_SAMPLE_INVALID || channels < 1 || channels > int(PA_CHANNELS_MAX) ||
            !pa_sample_spec_valid(&spec))
            return -EINVAL;
        int err = 0;
        auto s = std::unique_ptr<Stream>(new Stream);
        s->m_connection = Connection::Open(&err);
        if (!s->m_connection)
            return err;
        s->m_block = pa_frame_size(&spec);
        s->m_rate = rate;
        s->m_stream = pa_stream_new(s->m_connection->Context(), record ? "Capture" : "Playback",
                                    &spec, nullptr);
        if (!s->m_stream)
            return s->m_connection->Error();
        pa_stream_set_latency_update_callback(
            s->m_stream,
            [](pa_stream*, void* userdata) {
                auto* self = static_cast<Stream*>(userdata);
                self->m_timing_at = Clock::now();
                ++self->m_timings;
                self->m_timing_asked = false;
            },
            s.get());
        // Twenty milliseconds a fragment, as the engine's buffers. The
        // server's queue is as long as it allows: a source with a long
        // latency hands on its sound in bursts of up to that latency, and a
        // queue shorter than a burst would drop the oldest of it (a few
        // samples skipped, the sound patched).
        const uint32_t per_second = uint32_t(pa_bytes_per_second(&spec));
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.fragsize = uint32_t(s->m_block) * uint32_t(rate / 50);
        s->m_fragment = attr.fragsize;
        attr.tlength = per_second / 5;
        // Playing starts once a fragment is in, not a whole target length:
        // the renderer writes each sample ahead by the stream's delay, so
        // the first must not wait for 200 ms behind it.
        attr.prebuf = record ? uint32_t(-1) : attr.fragsize;
        attr.minreq = uint32_t(-1);
        const auto flags = pa_stream_flags_t(
            PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY |
            (record ? PA_STREAM_START_CORKED | PA_STREAM_DONT_MOVE : PA_STREAM_NOFLAGS));
        const int connected =
            record
                ? pa_stream_connect_record(s->m_stream, device.c_str(), &attr, flags)
                : pa_stream_connect_playback(s->m_stream, device.empty() ? nullptr : device.c_str(),
                                             &attr, flags, nullptr, nullptr);
        if (connected < 0)
            return s->m_connection->Error();
        if (!s->m_connection->RunUntil(
                [&] { return pa_stream_get_state(s->m_stream) != PA_STREAM_CREATING; },
                Clock::now() + kAnswerTime))
            return -ETIMEDOUT;
        if (pa_stream_get_state(s->m_stream) != PA_STREAM_READY) {
            const int e = s->m_connection->Error();
            // A device the server does not have.
            return e == -EIO || e == -ENOENT ? -ENODEV : e;
        }
        *handle = s.release();
        return 0;
    }

    int Start() {
        int ok = 0;
        auto ack = [](pa_stream*, int success, void* userdata) {
            *static_cast<int*>(userdata) = success;
        };
        if (m_connection->Finish(pa_stream_cork(m_stream, 0, ack, &ok)) && ok)
            return 0;
        const int e = Failure();
        return e ? e : -EIO;
    }

    // The error of a stream that cannot go on, or 0.
    int Failure() const {
        if (!m_connection->Good())
            return -ECONNRESET;
        const pa_stream_state_t state = pa_stream_get_state(m_stream);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            const int e = m_connection->Error();
            return e == -EIO ? -ENODEV : e;
        }
        return 0;
    }

    // Ready when a fragment (20 ms) is there, as a sound card wakes its
    // reader once a period was captured.
    int WaitReadable(int timeout_ms) {
        return Wait(timeout_ms, [&] { return Readable() >= m_fragment; });
    }
    int WaitWritable(int timeout_ms) {
        return Wait(timeout_ms, [&] {
            const size_t n = pa_stream_writable_size(m_stream);
            return n != size_t(-1) && n >= m_block;
        });
    }

    long Avail() {
        if (const int e = Failure())
            return e;
        return long(Readable() / m_block);
    }

    long Read(uint8_t* data, long frames) {
        if (const int e = Failure())
            return e;
        const size_t want = size_t(frames) * m_block;
        // Whole fragments move from the server's queue into our own, so
        // what a read does not take waits for the next one.
        while (m_pending.size() - m_taken < want) {
            const void* p = nullptr;
            size_t n = 0;
            if (pa_stream_peek(m_stream, &p, &n) < 0)
                return m_connection->Error();
            if (n == 0)
                break;
            Compact();
            if (p)
                m_pending.insert(m_pending.end(), static_cast<const uint8_t*>(p),
                                 static_cast<const uint8_t*>(p) + n);
            else
                m_pending.insert(m_pending.end(), n, 0);  // A hole: silence.
            pa_stream_drop(m_stream);
        }
        const size_t have = (m_pending.size() - m_taken) / m_block * m_block;
        const size_t bytes = std::min(want, have);
        std::memcpy(data, m_pending.data() + m_taken, bytes);
        m_taken += bytes;
        return long(bytes / m_block);
    }

    int Position(int64_t* frames, com::REFERENCE_TIME* age) {
        pa_usec_t usec = 0;
        if (m_timings == 0 || pa_stream_get_time(m_stream, &usec) < 0)
            return -ENODATA;
        *frames = int64_t(std::llround(double(usec) * m_rate / 1e6));
        *age = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - m_timing_at)
                   .count() /
               100;
        const bool fresh = m_timings != m_seen;
        m_seen = m_timings;
        return fresh ? 1 : 0;
    }

    int PlaybackDelay(com::REFERENCE_TIME* delay) {
        if (!m_connection->Step(Clock::now()))
            return -ECONNRESET;
        pa_usec_t usec = 0;
        int negative = 0;
        if (pa_stream_get_latency(m_stream, &usec, &negative) < 0)
            return -ENODATA;
        *delay = negative ? 0 : com::REFERENCE_TIME(usec) * 10;
        return 0;
    }

    long Write(const uint8_t* data, long frames) {
        if (const int e = Failure())
            return e;
        const size_t room = pa_stream_writable_size(m_stream);
        if (room == size_t(-1))
            return m_connection->Error();
        const size_t bytes = std::min(size_t(frames) * m_block, room / m_block * m_block);
        if (bytes && pa_stream_write(m_stream, data, bytes, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return m_connection->Error();
        return long(bytes / m_block);
    }

private:
    Stream() = default;

    size_t Readable() const {
        const size_t n = pa_stream_readable_size(m_stream);
        return (m_pending.size() - m_taken) + (n == size_t(-1) ? 0 : n);
    }
    void Compact() {
        m_pending.erase(m_pending.begin(), m_pending.begin() + ptrdiff_t(m_taken));
        m_taken = 0;
    }

    template <class Ready>
    int Wait(int timeout_ms, Ready ready) {
        const auto until = Clock::now() + std::chrono::milliseconds(timeout_ms);
        // What the server already sent (a timing, data) is taken in first.
        if (!m_connection->Step(Clock::now()))
            return -ECONNRESET;
        for (;;) {
            if (const int e = Failure())
                return e;
            if (ready())
                return 1;
            // The stream's timing, fresh every so often: what the clock
            // fit follows.
            const auto now = Clock::now();
            if (!m_timing_asked && now - m_asked_at >= kTimingInterval &&
                pa_stream_get_state(m_stream) == PA_STREAM_READY) {
                if (pa_operation* o = pa_stream_update_timing_info(m_stream, nullptr, nullptr)) {
                    pa_operation_unref(o);
                    m_timing_asked = true;
                    m_asked_at = now;
                }
            }
            if (now >= until)
                return 0;
            if (!m_connection->Step(std::min(until, now + kTimingInterval)))
                return -ECONNRESET;
        }
    }

    std::unique_ptr<Connection> m_connection;
    pa_stream* m_stream = nullptr;
    size_t m_block = 1;
    size_t m_fragment = 1;
    int m_rate = 0;
    std::vector<uint8_t> m_pending;  // Read from the server, not yet taken.
    size_t m_taken = 0;
    Clock::time_point m_timing_at{};
    Clock::time_point m_asked_at{};
    uint64_t m_timings = 0;
    uint64_t m_seen = 0;
    bool m_timing_asked = false;
};

// A connection that the server tells of the sources and sinks that come
// and go. One thread at a time.
class Watch {
public:
    static int Open(void** handle) {
        *handle = nullptr;
        int err = 0;
        auto w = std::unique_ptr<Watch>(new Watch);
        w->m_connection = Connection::Start(&err);
        if (!w->m_connection)
            return err;
        pa_context_set_subscribe_callback(
            w->m_connection->Context(),
            [](pa_context*, pa_subscription_event_type_t type, uint32_t, void* userdata) {
                // A device that stays (its volume, its state) is not news.
                if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE)
                    static_cast<Watch*>(userdata)->m_news = true;
            },
            w.get());
        *handle = w.release();
        return 0;
    }

    int Wait(pollfd* fds, size_t count, int timeout_ms) {
        // The caller's descriptors join the loop for this wait, so that one
        // poll waits for the server and for them.
        struct Caller {
            pollfd* fd;
            bool* woken;
        };
        bool woken = false;
        std::vector<Caller> callers;
        callers.reserve(count);
        std::vector<pa_io_event*> events;
        pa_mainloop_api* api = m_connection->LoopApi();
        for (size_t i = 0; i < count; ++i) {
            fds[i].revents = 0;
            callers.push_back({&fds[i], &woken});
            events.push_back(api->io_new(
                api, fds[i].fd, PA_IO_EVENT_INPUT,
                [](pa_mainloop_api*, pa_io_event*, int, pa_io_event_flags_t flags, void* userdata) {
                    auto* caller = static_cast<Caller*>(userdata);
                    caller->fd->revents = short((flags & PA_IO_EVENT_INPUT ? POLLIN : 0) |
                                                (flags & PA_IO_EVENT_HANGUP ? POLLHUP : 0) |
                                                (flags & PA_IO_EVENT_ERROR ? POLLERR : 0));
                    *caller->woken = true;
                },
                &callers.back()));
        }
        const int result = WaitForNews(woken, Clock::now() + std::chrono::milliseconds(timeout_ms));
        for (pa_io_event* e : events)
            if (e)
                api->io_free(e);
        return result;
    }

private:
    Watch() = default;

    int WaitForNews(const bool& woken, Clock::time_point until) {
        pa_context* context = m_connection->Context();
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state) || m_refused)
                return m_asked ? -ECONNRESET : m_connection->Refused();
            if (state == PA_CONTEXT_READY && !m_asked) {
                pa_operation* o = pa_context_subscribe(
                    context,
                    pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK),
                    [](pa_context*, int success, void* userdata) {
                        auto* self = static_cast<Watch*>(userdata);
                        (success ? self->m_taken : self->m_refused) = true;
                    },
                    this);
                if (!o)
                    return m_connection->Error();
                pa_operation_unref(o);
                m_asked = true;
            }
            if (m_taken) {
                m_taken = false;
                m_news = false;
                return 2;
            }
            if (m_news) {
                m_news = false;
                return 1;
            }
            if (woken || Clock::now() >= until)
                return 0;
            if (!m_connection->Step(until))
                return -ECONNRESET;
        }
    }

    std::unique_ptr<Connection> m_connection;
    bool m_asked = false;    // The subscription was sent.
    bool m_taken = false;    // The server took it; not yet reported.
    bool m_refused = false;  // The server refused it.
    bool m_news = false;     // A device came or went; not yet reported.
};

Stream* StreamOf(void* handle) {
    return static_cast<Stream*>(handle);
}

// Where a server's answer to a change lands: 1 when it was made.
void Ack(pa_context*, int success, void* userdata) {
    *static_cast<int*>(userdata) = success;
}

// A short connection for the controls of one source.
template <class Body>
int WithSource(const std::string& source, Body body) {
    int err = 0;
    std::unique_ptr<Connection> c = Connection::Open(&err);
    if (!c)
        return err;
    struct Found {
        bool any = false;
        pa_cvolume volume{};
        int mute = 0;
        std::string port;
    } found;
    auto cb = [](pa_context*, const pa_source_info* i, int eol, void* userdata) {
        if (eol || !i)
            return;
        auto* f = static_cast<Found*>(userdata);
        f->any = true;
        f->volume = i->volume;
        f->mute = i->mute;
        f->port = i->active_port && i->active_port->name ? i->active_port->name : "";
    };
    if (!c->Finish(pa_context_get_source_info_by_name(c->Context(), source.c_str(), cb, &found)))
        return c->Good() ? -ENODEV : c->Error();
    if (!found.any)
        return -ENODEV;
    return body(*c, found.volume, found.mute != 0, found.port);
}

}  // namespace

PulseApi RealPulseApi() {
    PulseApi api;
    api.list = List;
    api.open_record = [](const std::string& source, int bits, int channels, int rate,
                         void** handle) {
        return Stream::Open(source, true, bits, channels, rate, handle);
    };
    api.start = [](void* h) { return StreamOf(h)->Start(); };
    api.wait = [](void* h, int timeout_ms) { return StreamOf(h)->WaitReadable(timeout_ms); };
    api.avail = [](void* h) { return StreamOf(h)->Avail(); };
    api.read = [](void* h, uint8_t* data, long frames) { return StreamOf(h)->Read(data, frames); };
    api.position = [](void* h, int64_t* frames, com::REFERENCE_TIME* age) {
        return StreamOf(h)->Position(frames, age);
    };
    api.close = [](void* h) { delete StreamOf(h); };
    api.open_playback = [](const std::string& sink, int bits, int channels, int rate,
                           void** handle) {
        return Stream::Open(sink, false, bits, channels, rate, handle);
    };
    api.wait_writable = [](void* h, int timeout_ms) {
        return StreamOf(h)->WaitWritable(timeout_ms);
    };
    api.write = [](void* h, const uint8_t* data, long frames) {
        return StreamOf(h)->Write(data, frames);
    };
    api.playback_delay = [](void* h, com::REFERENCE_TIME* delay) {
        return StreamOf(h)->PlaybackDelay(delay);
    };
    api.close_playback = [](void* h) { delete StreamOf(h); };

    api.source_state = [](const std::string& source, PulseSourceState* state) {
        return WithSource(source, [&](Connection&, const pa_cvolume& volume, bool muted,
                                      const std::string& port) {
            state->level = std::clamp(double(pa_cvolume_avg(&volume)) / PA_VOLUME_NORM, 0.0, 1.0);
            state->muted = muted;
            state->port = port;
            return 0;
        });
    };
    api.set_level = [](const std::string& source, double level) {
        return WithSource(source, [&](Connection& c, const pa_cvolume& volume, bool,
                                      const std::string&) {
            pa_cvolume v;
            pa_cvolume_set(&v, volume.channels,
                           pa_volume_t(std::lround(std::clamp(level, 0.0, 1.0) * PA_VOLUME_NORM)));
            int ok = 0;
            return c.Finish(pa_context_set_source_volume_by_name(c.Context(), source.c_str(), &v,
                                                                 Ack, &ok)) &&
                           ok
                       ? 0
                       : -EIO;
        });
    };
    api.set_muted = [](const std::string& source, bool muted) {
        return WithSource(source, [&](Connection& c, const pa_cvolume&, bool, const std::string&) {
            int ok = 0;
            return c.Finish(pa_context_set_source_mute_by_name(c.Context(), source.c_str(),
                                                               muted ? 1 : 0, Ack, &ok)) &&
                           ok
                       ? 0
                       : -EIO;
        });
    };
    api.set_port = [](const std::string& source, const std::string& port) {
        return WithSource(source, [&](Connection& c, const pa_cvolume&, bool, const std::string&) {
            int ok = 0;
            return c.Finish(pa_context_set_source_port_by_name(c.Context(), source.c_str(),
                                                               port.c_str(), Ack, &ok)) &&
                           ok
                       ? 0
                       : -EIO;
        });
    };
    api.open_watch = Watch::Open;
    api.wait_watch = [](void* h, pollfd* fds, size_t count, int timeout_ms) {
        return static_cast<Watch*>(h)->Wait(fds, count, timeout_ms);
    };
    api.close_watch = [](void* h) { delete static_cast<Watch*>(h); };
    return api;
}

}  // namespace ronvix::media
