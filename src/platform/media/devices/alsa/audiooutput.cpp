// The audio outputs: one renderer base that presents at sample time, with
// a silent device and the ALSA devices behind it. See audiooutput.h.

#include "platform/media/devices/alsa/audiooutput.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>

#include "platform/com/devices.h"
#include "platform/com/errortext.h"
#include "platform/media/core/filter.h"
#include "platform/media/devices/pulse/pulsecapture.h"

namespace ronvix::media {

using namespace com;

namespace {

// How long one wait for room in the device buffer lasts before the stop is
// checked again.
constexpr int kDeviceWaitStepMs = 50;
// How often a sample waiting for its time reads the device's delay again.
constexpr REFERENCE_TIME kDelayRecheck = 100'000;

std::mutex g_api_lock;
// Guarded by g_api_lock.
AlsaPlaybackApi& ApiLocked() {
    static AlsaPlaybackApi api = RealAlsaPlaybackApi();
    return api;
}
AlsaPlaybackApi CurrentApi() {
    std::lock_guard guard(g_api_lock);
    return ApiLocked();
}

// The failure of an output whose device did not open with `err` (a negative
// errno value, or one of ALSA's own): it names the output and gives the
// system's reason, so whoever reports it says which device failed and why
// rather than what the bare code would suggest (ENOENT is no missing file).
HRESULT OpenError(const std::string& output, int err) {
    return ErrorWithText("The audio output \"" + output +
                         "\" could not be opened: " + snd_strerror(err < 0 ? err : -EIO) + ".");
}

const WAVEFORMATEX* PcmFormat(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype != MEDIATYPE_Audio || mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat ||
        mt.cbFormat < sizeof(WAVEFORMATEX))
        return nullptr;
    const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    const bool bits_ok = wfx->wBitsPerSample == 8 || wfx->wBitsPerSample == 16 ||
                         wfx->wBitsPerSample == 24 || wfx->wBitsPerSample == 32;
    if (wfx->wFormatTag != WAVE_FORMAT_PCM || !bits_ok || wfx->nChannels < 1 ||
        wfx->nChannels > 8 || wfx->nSamplesPerSec < 1000 || wfx->nSamplesPerSec > 384000 ||
        wfx->nBlockAlign != wfx->nChannels * wfx->wBitsPerSample / 8)
        return nullptr;
    return wfx;
}

class AudioInputPin final : public BaseInputPin {
public:
    explicit AudioInputPin(BaseFilter& filter) : BaseInputPin(filter, u"Audio Input pin") {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        return PcmFormat(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    std::vector<MediaType> OfferedTypes() override {
        std::vector<MediaType> types;
        types.push_back(MediaType::Pcm(48000, 16, 2));
        types.push_back(MediaType::Pcm(44100, 16, 2));
        return types;
    }
};

// A renderer of PCM at sample time. The device behind it (Open, Write,
// Close) is reached under m_device_lock, which a streaming thread holds
// while it writes and a stop takes to close: Write returns within one wait
// step of the stop, so closing never waits long.
class AudioOutput : public BaseFilter {
public:
    explicit AudioOutput(const GUID& clsid) : BaseFilter(clsid) {
        m_input = static_cast<AudioInputPin*>(AddPin(std::make_unique<AudioInputPin>(*this)));
    }

    HRESULT OnReceive(BaseInputPin& pin, IMediaSample* sample) override {
        const std::stop_token stop = pin.StopToken();
        REFERENCE_TIME start = 0, end = 0;
        const bool timed = SUCCEEDED(sample->GetTime(&start, &end));
        for (;;) {
            {
                // Paused: the sample is held until the graph runs.
                std::unique_lock guard(m_state_lock);
                m_state_cv.wait(guard, stop, [&] { return State() != State_Paused; });
            }
            if (stop.stop_requested() || State() == State_Stopped)
                return S_FALSE;
            if (timed) {
                // Written ahead by the device's delay, so that it is heard at
                // its time: at once while the sound runs on without a gap
                // (what is queued ends where it begins), the device's own
                // latency early after a gap or at the start. The delay is
                // read again as the wait goes on.
                if (ComPtr<IReferenceClock> clock = Clock()) {
                    for (;;) {
                        REFERENCE_TIME now = 0, ahead = 0;
                        {
                            std::lock_guard device(m_device_lock);
                            ahead = DeviceDelay();
                        }
                        const REFERENCE_TIME due = StartTime() + start - ahead;
                        if (FAILED(clock->GetTime(&now)) || now >= due || stop.stop_requested())
                            break;
                        clock->WaitUntil(std::min(due, now + kDelayRecheck), stop);
                    }
                }
                if (stop.stop_requested())
                    return S_FALSE;
            }
            // A pause that came while waiting for the time holds the sample too.
            if (State() != State_Paused)
                break;
        }
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const LONG length = sample->GetActualDataLength();
        if (!data || length <= 0)
            return S_OK;
        std::lock_guard device(m_device_lock);
        return Write(data, size_t(length), stop);
    }

protected:
    // Device side, under m_device_lock.
    virtual HRESULT Open(const WAVEFORMATEX& format) = 0;
    virtual HRESULT Write(const BYTE* data, size_t bytes, std::stop_token stop) = 0;
    virtual void Close() = 0;
    // How long a frame written now waits before it is heard (0: unknown).
    virtual REFERENCE_TIME DeviceDelay() { return 0; }

    HRESULT OnActivate() override {
        const MediaType mt = m_input->ConnectionType();
        const WAVEFORMATEX* wfx = PcmFormat(mt.Get());
        if (!wfx)
            return S_OK;  // Unconnected: nothing to open.
        std::lock_guard device(m_device_lock);
        return Open(*wfx);
    }
    void OnRun(REFERENCE_TIME) override { WakeStreaming(); }
    void OnStopRequest() override { WakeStreaming(); }
    void OnStopJoin() override {
        std::lock_guard device(m_device_lock);
        Close();
    }

private:
    void WakeStreaming() {
        // Taking the lock orders the state change before a waiter's check.
        { std::lock_guard guard(m_state_lock); }
        m_state_cv.notify_all();
    }

    AudioInputPin* m_input = nullptr;
    std::mutex m_state_lock;
    std::condition_variable_any m_state_cv;
    std::mutex m_device_lock;
};

class SilentAudioOutput final : public AudioOutput {
public:
    SilentAudioOutput() : AudioOutput(CLSID_SilentAudioOutput) {}

protected:
    HRESULT Open(const WAVEFORMATEX&) override { return S_OK; }
    HRESULT Write(const BYTE*, size_t, std::stop_token) override { return S_OK; }
    void Close() override {}
};

// `name` is what the user knows the output by, for its failures.
class AlsaOutput final : public AudioOutput {
public:
    AlsaOutput(const GUID& clsid, std::string device, std::string name)
        : AudioOutput(clsid), m_device(std::move(device)), m_name(std::move(name)) {}
    // Nothing else holds the filter now, so no write is in progress.
    ~AlsaOutput() override { Close(); }

protected:
    HRESULT Open(const WAVEFORMATEX& format) override {
        Close();
        m_api = CurrentApi();
        const int err = m_api.open(m_device, format.wBitsPerSample, format.nChannels,
                                   int(format.nSamplesPerSec), &m_handle);
        if (err < 0 || !m_handle) {
            m_handle = nullptr;
            return OpenError(m_name, err);
        }
        m_block_align = format.nBlockAlign;
        m_rate = int64_t(format.nSamplesPerSec);
        return S_OK;
    }
    HRESULT Write(const BYTE* data, size_t bytes, std::stop_token stop) override {
        if (!m_handle)
            return S_OK;
        long frames = long(bytes / m_block_align);
        while (frames > 0 && !stop.stop_requested()) {
            const long n = m_api.write(m_handle, data, frames);
            if (n == -EAGAIN) {
                m_api.wait(m_handle, kDeviceWaitStepMs);
                continue;
            }
            if (n < 0) {
                if (m_api.recover(m_handle, int(n)) < 0) {
                    NotifyEvent(EC_ERRORABORT, HResultFromErrno(int(-n)), 0);
                    return HResultFromErrno(int(-n));
                }
                continue;
            }
            data += size_t(n) * m_block_align;
            frames -= n;
        }
        return S_OK;
    }
    void Close() override {
        if (m_handle)
            m_api.close(m_handle);
        m_handle = nullptr;
    }
    REFERENCE_TIME DeviceDelay() override {
        long frames = 0;
        if (!m_handle || !m_api.delay || m_api.delay(m_handle, &frames) < 0 || frames <= 0 ||
            m_rate <= 0)
            return 0;
        return REFERENCE_TIME(frames) * 10'000'000 / m_rate;
    }

private:
    const std::string m_device;
    const std::string m_name;
    // Guarded by the base's device lock.
    AlsaPlaybackApi m_api;
    void* m_handle = nullptr;
    size_t m_block_align = 1;
    int64_t m_rate = 0;
};

// A sink of the sound server. The stream opens with the graph and plays
// what it is given as it is given (the server converts the format); Write
// waits for room in steps that check the stop.
class PulseOutput final : public AudioOutput {
public:
    PulseOutput(std::string sink, std::string name)
        : AudioOutput(CLSID_PulseOutput), m_sink(std::move(sink)), m_name(std::move(name)) {}
    ~PulseOutput() override { Close(); }

protected:
    HRESULT Open(const WAVEFORMATEX& format) override {
        Close();
        m_api = CurrentPulseApi();
        const int err = m_api.open_playback(m_sink, format.wBitsPerSample, format.nChannels,
                                            int(format.nSamplesPerSec), &m_handle);
        if (err < 0 || !m_handle) {
            m_handle = nullptr;
            return OpenError(m_name, err);
        }
        m_block_align = format.nBlockAlign;
        return S_OK;
    }
    HRESULT Write(const BYTE* data, size_t bytes, std::stop_token stop) override {
        if (!m_handle)
            return S_OK;
        long frames = long(bytes / m_block_align);
        while (frames > 0 && !stop.stop_requested()) {
            const long n = m_api.write(m_handle, data, frames);
            if (n < 0) {
                NotifyEvent(EC_ERRORABORT, HResultFromErrno(int(-n)), 0);
                return HResultFromErrno(int(-n));
            }
            if (n == 0) {
                if (const int waited = m_api.wait_writable(m_handle, kDeviceWaitStepMs);
                    waited < 0) {
                    NotifyEvent(EC_ERRORABORT, HResultFromErrno(-waited), 0);
                    return HResultFromErrno(-waited);
                }
                continue;
            }
            data += size_t(n) * m_block_align;
            frames -= n;
        }
        return S_OK;
    }
    void Close() override {
        if (m_handle)
            m_api.close_playback(m_handle);
        m_handle = nullptr;
    }
    REFERENCE_TIME DeviceDelay() override {
        REFERENCE_TIME delay = 0;
        if (!m_handle || !m_api.playback_delay || m_api.playback_delay(m_handle, &delay) < 0)
            return 0;
        return std::max<REFERENCE_TIME>(0, delay);
    }

private:
    const std::string m_sink;
    const std::string m_name;
    // Guarded by the base's device lock.
    PulseApi m_api;
    void* m_handle = nullptr;
    size_t m_block_align = 1;
};

// Whether the default device opens now (it is closed again at once).
bool DefaultDeviceOpens() {
    AlsaPlaybackApi api = CurrentApi();
    void* handle = nullptr;
    if (api.open("default", 16, 2, 48000, &handle) < 0 || !handle)
        return false;
    api.close(handle);
    return true;
}

}  // namespace

AlsaPlaybackApi RealAlsaPlaybackApi() {
    AlsaPlaybackApi api;
    api.cards = RealAlsaCardApi();
    api.open = [](const std::string& device, int bits, int channels, int rate, void** handle) {
        return OpenRealAlsaPlayback(device, bits, channels, rate, 200'000, handle);
    };
    api.wait = [](void* handle, int timeout_ms) {
        return snd_pcm_wait(static_cast<snd_pcm_t*>(handle), timeout_ms);
    };
    api.delay = [](void* handle, long* frames) {
        snd_pcm_sframes_t d = 0;
        const int err = snd_pcm_delay(static_cast<snd_pcm_t*>(handle), &d);
        *frames = long(d);
        return err;
    };
    api.write = [](void* handle, const uint8_t* data, long frames) -> long {
        return snd_pcm_writei(static_cast<snd_pcm_t*>(handle), data, snd_pcm_uframes_t(frames));
    };
    api.recover = [](void* handle, int error) {
        return snd_pcm_recover(static_cast<snd_pcm_t*>(handle), error, 1);
    };
    api.close = [](void* handle) {
        snd_pcm_drop(static_cast<snd_pcm_t*>(handle));
        snd_pcm_close(static_cast<snd_pcm_t*>(handle));
    };
    return api;
}

void SetAlsaPlaybackApi(AlsaPlaybackApi api) {
    std::lock_guard guard(g_api_lock);
    ApiLocked() = api.open ? std::move(api) : RealAlsaPlaybackApi();
}

HRESULT CreateSilentAudioOutput(REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    ComPtr<SilentAudioOutput> output = MakeCom<SilentAudioOutput>();
    return output->QueryInterface(riid, out);
}

HRESULT CreateAlsaDefaultOutput(REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    ComPtr<AlsaOutput> output =
        MakeCom<AlsaOutput>(CLSID_AlsaDefaultOutput, "default", kAlsaDefaultOutputName);
    return output->QueryInterface(riid, out);
}

HRESULT CreatePulseOutput(const std::string& sink, const std::string& name, REFIID riid,
                          void** out) {
    if (!out)
        return E_POINTER;
    ComPtr<PulseOutput> output = MakeCom<PulseOutput>(sink, name);
    return output->QueryInterface(riid, out);
}

HRESULT CreateAlsaCardOutput(const AlsaCard& card, REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (card.playback_device < 0)
        return MK_E_NOOBJECT;
    ComPtr<AlsaOutput> output = MakeCom<AlsaOutput>(
        CLSID_AlsaCardOutput, AlsaPcmName("plughw", card, card.playback_device), card.name);
    return output->QueryInterface(riid, out);
}

void RegisterAudioOutputs() {
    static std::once_flag once;
    std::call_once(once, [] {
        ClassRegistry& classes = ClassRegistry::Instance();
        // Render falls back on the silent output only when nothing else
        // renders audio; the ALSA output is chosen first when its device
        // was there.
        classes.Register({CLSID_SilentAudioOutput,
                          kSilentAudioOutputName,
                          CreateSilentAudioOutput,
                          MERIT_UNLIKELY,
                          {}});
        classes.Register({CLSID_AlsaDefaultOutput,
                          kAlsaDefaultOutputName,
                          CreateAlsaDefaultOutput,
                          DefaultDeviceOpens() ? MERIT_PREFERRED : MERIT_DO_NOT_USE,
                          {}});
        DeviceRegistry& devices = DeviceRegistry::Instance();
        devices.AddProvider(CLSID_AudioRendererCategory, ProviderKind::Backend, [] {
            // The default device leads the list whether or not it opens at
            // this moment: a list that changed with the state of the sound
            // system would move every device after it, and a position
            // chosen earlier would then name another device. A default
            // device that does not open fails the play-out that needs it,
            // with its error.
            std::vector<DeviceDescription> list;
            list.push_back({kAlsaDefaultOutputName, "alsa:default", CLSID_AlsaDefaultOutput,
                            CreateAlsaDefaultOutput});
            // With a sound server, the cards are its sinks.
            if (const std::optional<PulseServer> server = PulseDevices()) {
                std::vector<PulseDevice> sinks = server->sinks;
                std::sort(
                    sinks.begin(), sinks.end(),
                    [](const PulseDevice& a, const PulseDevice& b) { return a.name < b.name; });
                for (const PulseDevice& sink : sinks) {
                    const std::string shown =
                        sink.description.empty() ? sink.name : sink.description;
                    list.push_back({shown, "pulse:" + sink.name, CLSID_PulseOutput,
                                    [name = sink.name, shown](REFIID riid, void** out) {
                                        return CreatePulseOutput(name, shown, riid, out);
                                    }});
                }
                return list;
            }
            for (const AlsaCard& card : ListAlsaCards(CurrentApi().cards)) {
                if (card.playback_device < 0)
                    continue;
                list.push_back({card.name, "alsa:" + card.id, CLSID_AlsaCardOutput,
                                [card](REFIID riid, void** out) {
                                    return CreateAlsaCardOutput(card, riid, out);
                                }});
            }
            return list;
        });
        devices.AddProvider(CLSID_AudioRendererCategory, ProviderKind::Virtual, [] {
            return std::vector<DeviceDescription>{
                {kSilentAudioOutputName, {}, CLSID_SilentAudioOutput, CreateSilentAudioOutput}};
        });
    });
}

}  // namespace ronvix::media
