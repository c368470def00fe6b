// Sound server capture devices. See pulsecapture.h.

#include "platform/media/devices/pulse/pulsecapture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/com/oleauto.h"
#include "platform/media/devices/livesource.h"

namespace ronvix::media {

using namespace com;

namespace {

// How long one wait for data lasts before the stop is checked again.
constexpr int kWaitStepMs = 50;
// How long an ending capture waits for the server to hand on the sound it
// captured before the end: a source's latency (two seconds at most for the
// sources a capture meets: the server's own default) and a margin.
constexpr auto kEndingDrain = std::chrono::milliseconds(2500);
// How long a listing of the server's devices is reused.
constexpr auto kListingLife = std::chrono::seconds(1);

constexpr int kRates[] = {48000, 44100, 32000, 22050, 16000, 11025, 8000};

using CurrentCalls = SwappableCalls<PulseApi>::Current;

SwappableCalls<PulseApi>& Table() {
    static SwappableCalls<PulseApi> table(RealPulseApi);
    return table;
}
CurrentCalls Calls() {
    return Table().Get();
}

// The input lines of a source: its ports, or its volume alone. Each call
// asks the server, so a change made elsewhere (the desktop's volume
// control) is seen. Thread-safe: the calls hold no state of their own.
class PulseInputLines final : public AudioInputLines {
public:
    PulseInputLines(PulseApi api, PulseDevice source)
        : m_api(std::move(api)), m_source(std::move(source)) {}

    size_t Count() const override { return std::max<size_t>(1, m_source.ports.size()); }
    std::u16string Name(size_t line) const override {
        if (m_source.ports.empty())
            return line == 0 ? u"Master Capture" : std::u16string();
        if (line >= m_source.ports.size())
            return {};
        const PulsePort& p = m_source.ports[line];
        return ToUtf16(p.description.empty() ? p.name : p.description);
    }
    HRESULT GetEnabled(size_t line, bool* enabled) override {
        if (!enabled)
            return E_POINTER;
        *enabled = false;
        if (line >= Count())
            return E_INVALIDARG;
        PulseSourceState state;
        if (const int err = m_api.source_state(m_source.name, &state); err < 0)
            return HResultFromErrno(-err);
        *enabled = !state.muted && (m_source.ports.empty() || state.port == PortOf(line));
        return S_OK;
    }
    HRESULT SetEnabled(size_t line, bool enabled) override {
        if (line >= Count())
            return E_INVALIDARG;
        PulseSourceState state;
        if (const int err = m_api.source_state(m_source.name, &state); err < 0)
            return HResultFromErrno(-err);
        const bool active = m_source.ports.empty() || state.port == PortOf(line);
        if (!enabled && !active)
            return S_OK;  // Another port is the source's: this one is off.
        if (enabled && !active)
            if (const int err = m_api.set_port(m_source.name, PortOf(line)); err < 0)
                return HResultFromErrno(-err);
        // Muting is the source's: a line turned on unmutes it, the active
        // line turned off mutes it.
        if (state.muted == enabled) {
            if (const int err = m_api.set_muted(m_source.name, !enabled); err < 0)
                return HResultFromErrno(-err);
        }
        return S_OK;
    }
    HRESULT GetLevel(size_t line, double* level) override {
        if (!level)
            return E_POINTER;
        *level = 0;
        if (line >= Count())
            return E_INVALIDARG;
        PulseSourceState state;
        if (const int err = m_api.source_state(m_source.name, &state); err < 0)
            return HResultFromErrno(-err);
        *level = state.level;
        return S_OK;
    }
    HRESULT SetLevel(size_t line, double level) override {
        if (line >= Count() || !(level >= 0.0 && level <= 1.0))
            return E_INVALIDARG;
        const int err = m_api.set_level(m_source.name, level);
        return err < 0 ? HResultFromErrno(-err) : S_OK;
    }

private:
    std::string PortOf(size_t line) const {
        return line < m_source.ports.size() ? m_source.ports[line].name : std::string();
    }

    const PulseApi m_api;
    const PulseDevice m_source;
};

// What every filter instance of one source shares: its lines.
class PulseSourceDevice {
public:
    PulseSourceDevice(PulseApi api, PulseDevice source)
        : m_api(std::move(api)),
          m_source(std::move(source)),
          m_lines(std::make_shared<PulseInputLines>(m_api, m_source)) {}

    static std::shared_ptr<PulseSourceDevice> For(const PulseDevice& source) {
        CurrentCalls calls = Calls();
        const std::string key = std::to_string(calls.generation) + "/" + source.name;
        static std::mutex lock;
        static std::map<std::string, std::weak_ptr<PulseSourceDevice>> devices;
        std::lock_guard guard(lock);
        std::erase_if(devices, [](const auto& entry) { return entry.second.expired(); });
        if (std::shared_ptr<PulseSourceDevice> device = devices[key].lock())
            return device;
        auto device = std::make_shared<PulseSourceDevice>(std::move(calls.api), source);
        devices[key] = device;
        return device;
    }

    const PulseApi& Api() const { return m_api; }
    const PulseDevice& Source() const { return m_source; }
    std::shared_ptr<AudioInputLines> Lines() const { return m_lines; }

    // The server converts any PCM: the source's own format leads.
    std::vector<MediaType> Formats() const {
        std::vector<MediaType> formats;
        auto add = [&](int rate, int bits, int channels) {
            const MediaType t = MediaType::Pcm(rate, bits, channels);
            for (const MediaType& f : formats)
                if (SameType(f.Get(), t.Get()))
                    return;
            formats.push_back(t);
        };
        const int rate = m_source.rate > 0 ? m_source.rate : 48000;
        const int channels = std::clamp(m_source.channels > 0 ? m_source.channels : 2, 1, 8);
        add(rate, 16, channels);
        for (int r : kRates)
            for (int c : {2, 1})
                add(r, 16, c);
        add(rate, 24, channels);
        add(rate, 32, channels);
        return formats;
    }

private:
    const PulseApi m_api;
    const PulseDevice m_source;
    const std::shared_ptr<AudioInputLines> m_lines;
};

// The source went, or the server did: as a sound card that was unplugged.
bool DeviceGone(int err) {
    return err == -ENODEV || err == -ECONNRESET || err == -ECONNREFUSED;
}

class PulseCapture final : public LiveAudioSource {
public:
    explicit PulseCapture(std::shared_ptr<PulseSourceDevice> device)
        : LiveAudioSource(CLSID_PulseCapture, device->Lines()),
          m_device(std::move(device)),
          m_api(m_device->Api()) {}
    ~PulseCapture() override { Stop(); }

    std::vector<MediaType> Formats() override { return m_device->Formats(); }

protected:
    HRESULT OpenDevice(const WAVEFORMATEX& format) override {
        CloseDevice();
        const int err = m_api.open_record(m_device->Source().name, format.wBitsPerSample,
                                          format.nChannels, int(format.nSamplesPerSec), &m_stream);
        if (err < 0 || !m_stream) {
            m_stream = nullptr;
            return HResultFromErrno(err < 0 ? -err : EIO);
        }
        return S_OK;
    }
    void CloseDevice() override {
        if (m_stream)
            m_api.close(m_stream);
        m_stream = nullptr;
    }
    void Stream(std::stop_token stop, const WAVEFORMATEX& format) override;

private:
    // Ends the stream for an error it cannot go on from.
    void Fail(int err) {
        CapturePin().DeliverEndOfStream();
        if (DeviceGone(err))
            NotifyEvent(
                EC_DEVICE_LOST,
                reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this))),
                0);
        else
            NotifyEvent(EC_ERRORABORT, HResultFromErrno(-err), 0);
    }

    const std::shared_ptr<PulseSourceDevice> m_device;
    const PulseApi m_api;
    // Set by OpenDevice before the streaming thread starts and cleared by
    // CloseDevice after it was joined; the thread uses it in between.
    void* m_stream = nullptr;
};

void PulseCapture::Stream(std::stop_token stop, const WAVEFORMATEX& format) {
    const int64_t per_buffer = FramesPerBuffer(format);
    const size_t block = format.nBlockAlign;
    std::vector<uint8_t> scratch(size_t(per_buffer) * block);
    AudioStamps stamps(format.nSamplesPerSec);
    int64_t captured = 0;  // Frames read since the stream started.
    uint32_t buffer = 0;   // Buffers read, for the drop counter.
    bool discontinuity = false;
    bool paused = false;
    // A timing the server sent that was not yet taken into the stamps: it
    // stays pending until a read can use it.
    bool timing_pending = false;
    // Once the capture ends: until when the server's late sound is waited
    // for.
    std::optional<std::chrono::steady_clock::time_point> drain_until;

    if (!WaitRunningOrEnd(stop))
        return;
    if (const int err = m_api.start(m_stream); err < 0) {
        Fail(err);
        return;
    }
    for (;;) {
        const bool ending = CaptureEnding();
        if (stop.stop_requested() || State() == State_Stopped)
            return;
        if (ending) {
            // The server hands sound on a source's latency after it was
            // captured (up to seconds for some sources): what the device
            // captured before the end is still read, up to the end.
            const auto now = std::chrono::steady_clock::now();
            if (!drain_until)
                drain_until = now + kEndingDrain;
            if (!stamps.Anchored() || paused ||
                stamps.TimeOf(stamps.Position(captured)) >= CaptureEndTime() || now >= *drain_until)
                return;
        }
        const int ready = m_api.wait(m_stream, kWaitStepMs);
        if (ready < 0) {
            if (!ending)
                Fail(ready);
            return;
        }
        if (ready == 0 && !ending)
            continue;
        // The server's timing, when a new one came: the frames the source
        // had captured then, against the graph's clock then.
        int64_t source_frames = 0;
        REFERENCE_TIME age = 0;
        const int timing = m_api.position(m_stream, &source_frames, &age);
        timing_pending = timing_pending || timing == 1;
        bool untimed = false;
        while (!stop.stop_requested()) {
            const long avail = m_api.avail(m_stream);
            if (avail < 0) {
                Fail(int(avail));
                return;
            }
            if (avail < (ending ? 1 : per_buffer))
                break;
            const bool running = State() == State_Running;
            if (running && paused) {
                // Running again: what the server holds was captured while
                // paused and is let go, so the run goes on from now.
                paused = false;
                for (long left = avail; left > 0;) {
                    const long n =
                        m_api.read(m_stream, scratch.data(), std::min(left, long(per_buffer)));
                    if (n <= 0)
                        break;
                    captured += n;
                    left -= n;
                }
                timing_pending = false;  // Measured before the letting go.
                continue;
            }
            paused = paused || !running;
            if (running && !timing_pending && !stamps.Anchored()) {
                // Nothing is stamped before the server's first timing of
                // the stream, which follows its start at once; the server
                // holds the sound meanwhile.
                untimed = true;
                break;
            }
            if (running && timing_pending && timing >= 0) {
                const AudioStamps::Observation seen =
                    stamps.Observe(source_frames, Pacer().Now() - age);
                if (seen.lost > 0)
                    Drops().Dropped(buffer, uint32_t((seen.lost + per_buffer - 1) / per_buffer));
                discontinuity = discontinuity || seen.lost > 0 || seen.reanchored;
                timing_pending = false;
            }
            ComPtr<IMediaSample> sample;
            BYTE* data = scratch.data();
            if (running) {
                HRESULT hr = S_OK;
                sample = TakeBuffer(scratch.size(), buffer, discontinuity, &hr);
                if (hr == VFW_E_NOT_CONNECTED)
                    return;
                if (sample)
                    sample->GetPointer(&data);
            }
            const long n = m_api.read(m_stream, data, std::min<long>(avail, long(per_buffer)));
            if (n < 0) {
                Fail(int(n));
                return;
            }
            const int64_t position = stamps.Position(captured);
            // An ending capture keeps the sound from before its end only.
            long kept = n;
            if (ending) {
                const REFERENCE_TIME before_end = CaptureEndTime() - stamps.TimeOf(position);
                kept = long(std::clamp<double>(std::ceil(double(before_end) / stamps.FrameLength()),
                                               0.0, double(n)));
            }
            if (sample && kept > 0 &&
                DeliverRead(sample.Get(), stamps, position, kept, block, discontinuity) ==
                    VFW_E_NOT_CONNECTED)
                return;
            captured += n;
            ++buffer;
            if (kept < n)
                return;
        }
        if (untimed)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

void SetPulseApi(PulseApi api) {
    const bool filled = bool(api.list);
    Table().Set(std::move(api), filled);
}

PulseApi CurrentPulseApi() {
    return Calls().api;
}

namespace {

// The last listing of the server's devices, shared by the lists of one
// moment.
struct Listing {
    uint64_t generation = ~uint64_t(0);
    std::chrono::steady_clock::time_point at;
    std::optional<PulseServer> server;
};
std::mutex g_listing_lock;
Listing g_listing;  // Guarded by g_listing_lock.

}  // namespace

std::optional<PulseServer> PulseDevices() {
    const CurrentCalls calls = Calls();
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard guard(g_listing_lock);
        if (g_listing.generation == calls.generation && now - g_listing.at < kListingLife)
            return g_listing.server;
    }
    std::optional<PulseServer> server;
    PulseServer found;
    if (calls.api.list && calls.api.list(&found) >= 0)
        server = std::move(found);
    std::lock_guard guard(g_listing_lock);
    g_listing = {calls.generation, now, server};
    return server;
}

void ForgetPulseDevices() {
    std::lock_guard guard(g_listing_lock);
    g_listing = {};
}

std::vector<PulseDevice> ListedSources(const PulseServer& server) {
    std::vector<PulseDevice> sources = server.sources;
    std::stable_sort(sources.begin(), sources.end(),
                     [](const PulseDevice& a, const PulseDevice& b) {
                         return a.monitor != b.monitor ? !a.monitor : a.name < b.name;
                     });
    return sources;
}

HRESULT CreatePulseCapture(const PulseDevice& source, REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    ComPtr<PulseCapture> filter = MakeCom<PulseCapture>(PulseSourceDevice::For(source));
    return static_cast<IBaseFilter*>(filter.Get())->QueryInterface(riid, out);
}

}  // namespace ronvix::media
