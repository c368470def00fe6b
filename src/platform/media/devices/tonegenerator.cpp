// The Test Tone Generator: a live audio source whose "Capture" pin delivers
// the tone of the enabled input line, scaled by that line's mix level, with
// a 20 ms burst at each whole second of stream time.

#include <cmath>
#include <cstring>
#include <numbers>
#include <thread>

#include "platform/com/object.h"
#include "platform/media/devices/devicecontrols.h"
#include "platform/media/devices/livesource.h"
#include "platform/media/devices/propertypages.h"
#include "platform/media/devices/virtualdevices.h"

namespace ronvix::media {

using namespace com;

namespace {

constexpr REFERENCE_TIME kSecond = 10'000'000;
constexpr REFERENCE_TIME kBurstLength = 200'000;  // 20 ms
constexpr double kBurstHz = 3000.0;
constexpr double kBurstAmplitude = 0.9;
constexpr double kToneAmplitude = 0.8;  // Full scale times this at level 1.
constexpr int kBuffersPerSecond = 50;   // 20 ms buffers.
constexpr LONG kAudioBuffers = 8;

constexpr int kRates[] = {48000, 44100, 32000, 22050, 11025};

std::vector<MediaType> PcmTypes() {
    std::vector<MediaType> types;
    for (int rate : kRates)
        for (int channels : {2, 1})
            types.push_back(MediaType::Pcm(rate, 16, channels));
    return types;
}

bool IsOurPcm(const AM_MEDIA_TYPE& mt, WAVEFORMATEX* out) {
    if (mt.majortype != MEDIATYPE_Audio || mt.subtype != MEDIASUBTYPE_PCM ||
        mt.formattype != FORMAT_WaveFormatEx || mt.cbFormat < sizeof(WAVEFORMATEX) || !mt.pbFormat)
        return false;
    WAVEFORMATEX wfx;
    std::memcpy(&wfx, mt.pbFormat, sizeof wfx);
    bool rate_ok = false;
    for (int rate : kRates)
        rate_ok |= wfx.nSamplesPerSec == DWORD(rate);
    if (!rate_ok || wfx.wFormatTag != WAVE_FORMAT_PCM || wfx.wBitsPerSample != 16 ||
        (wfx.nChannels != 1 && wfx.nChannels != 2) || wfx.nBlockAlign != wfx.nChannels * 2)
        return false;
    if (out)
        *out = wfx;
    return true;
}

template <class I>
class Delegating : public I {
public:
    explicit Delegating(IUnknown& owner) : m_owner(owner) {}
    HRESULT QueryInterface(REFIID riid, void** out) override {
        return m_owner.QueryInterface(riid, out);
    }
    ULONG AddRef() override { return m_owner.AddRef(); }
    ULONG Release() override { return m_owner.Release(); }

protected:
    IUnknown& m_owner;
};

class ToneGenerator;

class LineMixer final : public Delegating<IAMAudioInputMixer> {
public:
    LineMixer(IUnknown& owner, size_t line) : Delegating(owner), m_line(line) {}

    HRESULT put_Enable(BOOL enable) override {
        return ToneControls::Device()->SetEnabled(m_line, enable != 0);
    }
    HRESULT get_Enable(BOOL* enable) override {
        if (!enable)
            return E_POINTER;
        *enable = ToneControls::Device()->Get(m_line).enabled ? 1 : 0;
        return S_OK;
    }
    HRESULT put_Mono(BOOL) override { return E_NOTIMPL; }
    HRESULT get_Mono(BOOL*) override { return E_NOTIMPL; }
    HRESULT put_MixLevel(double level) override {
        return ToneControls::Device()->SetLevel(m_line, level);
    }
    HRESULT get_MixLevel(double* level) override {
        if (!level)
            return E_POINTER;
        *level = ToneControls::Device()->Get(m_line).level;
        return S_OK;
    }
    HRESULT put_Pan(double) override { return E_NOTIMPL; }
    HRESULT get_Pan(double*) override { return E_NOTIMPL; }
    HRESULT put_Loudness(BOOL) override { return E_NOTIMPL; }
    HRESULT get_Loudness(BOOL*) override { return E_NOTIMPL; }
    HRESULT put_Treble(double) override { return E_NOTIMPL; }
    HRESULT get_Treble(double*) override { return E_NOTIMPL; }
    HRESULT get_TrebleRange(double*) override { return E_NOTIMPL; }
    HRESULT put_Bass(double) override { return E_NOTIMPL; }
    HRESULT get_Bass(double*) override { return E_NOTIMPL; }
    HRESULT get_BassRange(double*) override { return E_NOTIMPL; }

private:
    const size_t m_line;
};

// An analogue input line: it takes no connection, it is a control point.
class LinePin final : public BaseInputPin {
public:
    LinePin(BaseFilter& filter, size_t line)
        : BaseInputPin(filter, std::u16string(kToneLines[line].name)),
          m_mixer(*static_cast<IPin*>(this), line) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE&) override { return VFW_E_TYPE_NOT_ACCEPTED; }

protected:
    HRESULT QueryPinInterface(REFIID riid, void** out) override {
        if (riid == IAMAudioInputMixer::iid)
            return ReturnInterface<IAMAudioInputMixer>(&m_mixer, out);
        return BaseInputPin::QueryPinInterface(riid, out);
    }

private:
    LineMixer m_mixer;
};

class ToneCapturePin;

class AudioStreamConfig final : public Delegating<IAMStreamConfig> {
public:
    AudioStreamConfig(IUnknown& owner, ToneGenerator& filter)
        : Delegating(owner), m_filter(filter) {}
    HRESULT SetFormat(AM_MEDIA_TYPE* mt) override;
    HRESULT GetFormat(AM_MEDIA_TYPE** mt) override;
    HRESULT GetNumberOfCapabilities(int* count, int* size) override {
        if (!count || !size)
            return E_POINTER;
        *count = static_cast<int>(std::size(kRates) * 2);
        *size = sizeof(AUDIO_STREAM_CONFIG_CAPS);
        return S_OK;
    }
    HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override {
        if (!mt || !caps)
            return E_POINTER;
        *mt = nullptr;
        const std::vector<MediaType> types = PcmTypes();
        if (index < 0 || index >= static_cast<int>(types.size()))
            return S_FALSE;
        *mt = CreateMediaType(&types[size_t(index)].Get());
        if (!*mt)
            return E_OUTOFMEMORY;
        const WAVEFORMATEX* wfx = types[size_t(index)].WaveFormat();
        AUDIO_STREAM_CONFIG_CAPS c{};
        c.guid = MEDIATYPE_Audio;
        c.MinimumChannels = c.MaximumChannels = wfx->nChannels;
        c.ChannelsGranularity = 1;
        c.MinimumBitsPerSample = c.MaximumBitsPerSample = 16;
        c.BitsPerSampleGranularity = 16;
        c.MinimumSampleFrequency = c.MaximumSampleFrequency = wfx->nSamplesPerSec;
        c.SampleFrequencyGranularity = 1;
        std::memcpy(caps, &c, sizeof c);
        return S_OK;
    }

private:
    ToneGenerator& m_filter;
};

class ToneCapturePin final : public BaseOutputPin {
public:
    ToneCapturePin(ToneGenerator& filter);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
    std::vector<MediaType> OfferedTypes() override;

    void StartStreaming();
    void RequestStop() { m_thread.request_stop(); }
    void JoinStreaming() { JoinDelivery(m_thread, m_done, *this); }
    LONG Dropped() const { return m_dropped.load(); }

protected:
    HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES& props) override {
        WAVEFORMATEX wfx;
        if (!IsOurPcm(ConnectionType().Get(), &wfx))
            return VFW_E_TYPE_NOT_ACCEPTED;
        props.cBuffers = std::max<LONG>(props.cBuffers, kAudioBuffers);
        props.cbBuffer = std::max<LONG>(
            props.cbBuffer,
            static_cast<LONG>(wfx.nSamplesPerSec / kBuffersPerSecond + 1) * wfx.nBlockAlign);
        return S_OK;
    }
    HRESULT QueryPinInterface(REFIID riid, void** out) override;

private:
    void Stream(std::stop_token stop, WAVEFORMATEX wfx);

    ToneGenerator& m_owner;
    std::jthread m_thread;
    std::atomic<bool> m_done{false};
    std::atomic<LONG> m_dropped{0};
};

class TonePages final : public Delegating<ISpecifyPropertyPages> {
public:
    using Delegating::Delegating;
    HRESULT GetPages(CAUUID* pages) override {
        static constexpr GUID ids[] = {CLSID_AudioMixerPropertyPage};
        return FillPages(pages, ids, 1);
    }
};

class ToneGenerator final : public BaseFilter {
public:
    ToneGenerator()
        : BaseFilter(CLSID_TestToneGenerator),
          m_pacer(*this),
          m_config(*static_cast<IBaseFilter*>(this), *this),
          m_pages(*static_cast<IBaseFilter*>(this)) {
        m_capture = static_cast<ToneCapturePin*>(AddPin(std::make_unique<ToneCapturePin>(*this)));
        for (size_t line = 0; line < kToneLines.size(); ++line)
            AddPin(std::make_unique<LinePin>(*this, line));
    }

    LivePacer& Pacer() { return m_pacer; }
    AudioStreamConfig& Config() { return m_config; }
    ToneCapturePin& Capture() { return *m_capture; }

    std::optional<MediaType> Chosen() const {
        std::lock_guard guard(m_format_lock);
        return m_chosen;
    }
    void Choose(std::optional<MediaType> mt) {
        std::lock_guard guard(m_format_lock);
        m_chosen = std::move(mt);
    }
    MediaType CurrentFormat() const {
        if (m_capture->IsConnected())
            return m_capture->ConnectionType();
        if (std::optional<MediaType> chosen = Chosen())
            return *chosen;
        return PcmTypes().front();
    }

protected:
    HRESULT QueryInterfaceExtra(REFIID riid, void** out) override {
        if (riid == ISpecifyPropertyPages::iid)
            return ReturnInterface<ISpecifyPropertyPages>(&m_pages, out);
        return BaseFilter::QueryInterfaceExtra(riid, out);
    }
    HRESULT OnActivate() override {
        m_capture->StartStreaming();
        return S_OK;
    }
    void OnRun(REFERENCE_TIME) override { m_pacer.OnRun(); }
    void OnPauseFromRunning() override { m_pacer.Wake(); }
    void OnStopRequest() override {
        m_capture->RequestStop();
        m_pacer.Wake();
    }
    void OnStopJoin() override { m_capture->JoinStreaming(); }
    HRESULT StateResult(DWORD) override { return State() == State_Paused ? VFW_S_CANT_CUE : S_OK; }

private:
    LivePacer m_pacer;
    AudioStreamConfig m_config;
    TonePages m_pages;
    ToneCapturePin* m_capture = nullptr;

    mutable std::mutex m_format_lock;
    // Guarded by m_format_lock.
    std::optional<MediaType> m_chosen;
};

ToneCapturePin::ToneCapturePin(ToneGenerator& filter)
    : BaseOutputPin(filter, u"Capture", PIN_CATEGORY_CAPTURE), m_owner(filter) {}

HRESULT ToneCapturePin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
    if (!IsOurPcm(mt, nullptr))
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (std::optional<MediaType> chosen = m_owner.Chosen())
        return SameType(chosen->Get(), mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

std::vector<MediaType> ToneCapturePin::OfferedTypes() {
    if (std::optional<MediaType> chosen = m_owner.Chosen())
        return {*chosen};
    return PcmTypes();
}

HRESULT ToneCapturePin::QueryPinInterface(REFIID riid, void** out) {
    if (riid == IAMStreamConfig::iid)
        return ReturnInterface<IAMStreamConfig>(&m_owner.Config(), out);
    return BaseOutputPin::QueryPinInterface(riid, out);
}

void ToneCapturePin::StartStreaming() {
    WAVEFORMATEX wfx;
    m_dropped.store(0);
    if (!IsConnected() || !IsOurPcm(ConnectionType().Get(), &wfx))
        return;
    m_done.store(false);
    m_thread = std::jthread([this, wfx](std::stop_token stop) {
        Stream(stop, wfx);
        m_done.store(true);
    });
}

void ToneCapturePin::Stream(std::stop_token stop, WAVEFORMATEX wfx) {
    const int64_t rate = wfx.nSamplesPerSec;
    const int channels = wfx.nChannels;
    const int64_t frames_per_buffer = std::max<int64_t>(1, rate / kBuffersPerSecond);
    LivePacer& pacer = m_owner.Pacer();
    ToneControls& controls = *ToneControls::Device();
    auto frame_time = [rate](int64_t frames) { return frames * kSecond / rate; };

    int64_t position = 0;       // Audio frames since the stream started.
    REFERENCE_TIME anchor = 0;  // Stream time of frame 0.
    bool anchored = false;
    while (!stop.stop_requested()) {
        if (!pacer.WaitRunning(stop)) {
            if (stop.stop_requested() || m_owner.State() == State_Stopped)
                return;
            continue;
        }
        if (pacer.TakeRestart(0) || !anchored) {
            // Samples are stamped from their count, anchored to the stream
            // time of the first one; after a pause the count goes on from
            // the time capture resumed.
            const REFERENCE_TIME now = std::max<REFERENCE_TIME>(0, pacer.Now());
            if (!anchored || now > anchor + frame_time(position)) {
                anchor = anchored ? now - frame_time(position) : now;
                anchored = true;
            }
        }
        const REFERENCE_TIME start = anchor + frame_time(position);
        const REFERENCE_TIME end = anchor + frame_time(position + frames_per_buffer);
        // A buffer is complete once its last sample was captured.
        if (!pacer.WaitFor(end, stop))
            continue;
        ComPtr<IMediaSample> sample;
        const HRESULT hr =
            pacer.BufferBefore(*this, end + (end - start), stop, sample.ReleaseAndGetAddressOf());
        if (hr == VFW_E_TIMEOUT) {
            m_dropped.fetch_add(1);
        } else if (FAILED(hr)) {
            return;
        } else {
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            const size_t bytes = size_t(frames_per_buffer) * wfx.nBlockAlign;
            if (bytes > size_t(sample->GetSize()))
                return;
            auto* out = reinterpret_cast<int16_t*>(data);
            const ToneControls::Lines lines = controls.Snapshot();
            for (int64_t i = 0; i < frames_per_buffer; ++i) {
                const int64_t n = position + i;
                const REFERENCE_TIME t = anchor + frame_time(n);
                const double seconds = double(n) / double(rate);
                double value = 0.0;
                if (t >= 0 && t % kSecond < kBurstLength) {
                    value = kBurstAmplitude * std::sin(2 * std::numbers::pi * kBurstHz * seconds);
                } else {
                    for (size_t l = 0; l < lines.size(); ++l)
                        if (lines[l].enabled)
                            value += kToneAmplitude * lines[l].level *
                                     std::sin(2 * std::numbers::pi * kToneLines[l].frequency_hz *
                                              seconds);
                }
                const auto s =
                    static_cast<int16_t>(std::lround(std::clamp(value, -1.0, 1.0) * 32767));
                for (int c = 0; c < channels; ++c)
                    std::memcpy(out + i * channels + c, &s, sizeof s);
            }
            sample->SetActualDataLength(static_cast<LONG>(bytes));
            REFERENCE_TIME s = start, e = end;
            sample->SetTime(&s, &e);
            LONGLONG ms = position, me = position + frames_per_buffer;
            sample->SetMediaTime(&ms, &me);
            sample->SetSyncPoint(TRUE);
            if (Deliver(sample.Get()) == VFW_E_NOT_CONNECTED)
                return;
        }
        position += frames_per_buffer;
    }
}

HRESULT AudioStreamConfig::SetFormat(AM_MEDIA_TYPE* mt) {
    std::lock_guard control(m_filter.ControlLock());
    if (m_filter.State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (!mt) {
        m_filter.Choose(std::nullopt);
        return S_OK;
    }
    WAVEFORMATEX wfx;
    if (!IsOurPcm(*mt, &wfx))
        return VFW_E_INVALIDMEDIATYPE;
    const MediaType type = MediaType::Pcm(int(wfx.nSamplesPerSec), 16, wfx.nChannels);
    ToneCapturePin& pin = m_filter.Capture();
    if (!pin.IsConnected()) {
        m_filter.Choose(type);
        return S_OK;
    }
    ComPtr<IPin> peer = pin.Peer();
    if (!peer || peer->QueryAccept(&type.Get()) != S_OK)
        return VFW_E_INVALIDMEDIATYPE;
    const std::optional<MediaType> was = m_filter.Chosen();
    m_filter.Choose(type);
    FILTER_INFO info;
    m_filter.QueryFilterInfo(&info);
    ComPtr<IFilterGraph> graph;
    graph.Attach(info.pGraph);
    ComPtr<IFilterGraph2> graph2 = graph ? graph.As<IFilterGraph2>() : nullptr;
    HRESULT hr = E_UNEXPECTED;
    if (graph2) {
        hr = graph2->ReconnectEx(&pin, &type.Get());
    } else {
        pin.Disconnect();
        peer->Disconnect();
        hr = pin.Connect(peer.Get(), &type.Get());
    }
    if (FAILED(hr))
        m_filter.Choose(was);
    return hr;
}

HRESULT AudioStreamConfig::GetFormat(AM_MEDIA_TYPE** mt) {
    if (!mt)
        return E_POINTER;
    *mt = CreateMediaType(&m_filter.CurrentFormat().Get());
    return *mt ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

HRESULT CreateToneGenerator(REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    ComPtr<ToneGenerator> filter = MakeCom<ToneGenerator>();
    return filter->QueryInterface(riid, out);
}

}  // namespace ronvix::media
