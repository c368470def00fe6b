#include "platform/media/devices/livesource.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <pthread.h>

#include "platform/media/core/clock.h"
#include "platform/media/devices/propertypages.h"

namespace ronvix::media {

using namespace com;

namespace {
// How often a thread waiting for a buffer looks again, 100 ns units.
constexpr REFERENCE_TIME kBufferPoll = 20'000;
// How long a stopping thread may take to come back from downstream before
// the consumer is flushed.
constexpr auto kDeliveryGrace = std::chrono::milliseconds(200);
constexpr REFERENCE_TIME kSecond = 10'000'000;

// The PCM format of `mt`, when it is a well-formed integer PCM type.
std::optional<WAVEFORMATEX> PcmOf(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype != MEDIATYPE_Audio || mt.subtype != MEDIASUBTYPE_PCM ||
        mt.formattype != FORMAT_WaveFormatEx || mt.cbFormat < sizeof(WAVEFORMATEX) || !mt.pbFormat)
        return std::nullopt;
    WAVEFORMATEX wfx;
    std::memcpy(&wfx, mt.pbFormat, sizeof wfx);
    if (wfx.wFormatTag != WAVE_FORMAT_PCM || wfx.nChannels == 0 || wfx.wBitsPerSample % 8 != 0 ||
        wfx.nBlockAlign != wfx.nChannels * wfx.wBitsPerSample / 8)
        return std::nullopt;
    return wfx;
}

bool SamePcm(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.nSamplesPerSec == b.nSamplesPerSec && a.nChannels == b.nChannels &&
           a.wBitsPerSample == b.wBitsPerSample;
}

}  // namespace

void JoinDelivery(std::jthread& thread, const std::atomic<bool>& done, BaseOutputPin& pin) {
    if (!thread.joinable())
        return;
    const auto until = std::chrono::steady_clock::now() + kDeliveryGrace;
    while (!done.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool flush = !done.load();
    if (flush)
        pin.DeliverBeginFlush();
    thread.join();
    if (flush)
        pin.DeliverEndFlush();
}

REFERENCE_TIME LivePacer::ClockNow() const {
    REFERENCE_TIME now = 0;
    if (ComPtr<IReferenceClock> clock = m_filter.Clock())
        clock->GetTime(&now);
    else
        now = MonotonicNow100ns();
    return now;
}

void LivePacer::OnRun() {
    m_local_start.store(MonotonicNow100ns());
    m_restart.store(0xF);
    Wake();
}

void LivePacer::Wake() {
    {
        std::lock_guard guard(m_lock);
        ++m_generation;
    }
    m_wake.notify_all();
}

REFERENCE_TIME LivePacer::Now() const {
    if (m_filter.Clock())
        return m_filter.StreamTime();
    return MonotonicNow100ns() - m_local_start.load();
}

bool LivePacer::TakeRestart(int slot) {
    const unsigned bit = 1u << slot;
    return m_restart.fetch_and(~bit) & bit;
}

bool LivePacer::WaitRunning(std::stop_token stop, const std::atomic<bool>* give_up) {
    std::unique_lock guard(m_lock);
    m_wake.wait(guard, stop,
                [&] { return m_filter.State() != State_Paused || (give_up && give_up->load()); });
    return !stop.stop_requested() && m_filter.State() == State_Running &&
           !(give_up && give_up->load());
}

bool LivePacer::WaitFor(REFERENCE_TIME time, std::stop_token stop) {
    std::unique_lock guard(m_lock);
    const uint64_t generation = m_generation;
    for (;;) {
        if (stop.stop_requested() || m_filter.State() != State_Running)
            return false;
        const REFERENCE_TIME left = time - Now();
        if (left <= 0)
            return true;
        // Bounded slices, so a clock that is replaced or a start time that
        // moves is noticed.
        const auto slice = std::chrono::microseconds(std::min<REFERENCE_TIME>(left, 200'000) / 10);
        if (m_wake.wait_for(guard, stop, slice, [&] { return m_generation != generation; }))
            return !stop.stop_requested() && m_filter.State() == State_Running;
    }
}

HRESULT LivePacer::BufferBefore(BaseOutputPin& pin, REFERENCE_TIME deadline, std::stop_token stop,
                                IMediaSample** sample) {
    for (;;) {
        HRESULT hr = pin.GetDeliveryBuffer(sample, AM_GBF_NOWAIT);
        if (hr != VFW_E_TIMEOUT)
            return hr;
        const REFERENCE_TIME now = Now();
        if (now >= deadline)
            return VFW_E_TIMEOUT;
        std::unique_lock guard(m_lock);
        const uint64_t generation = m_generation;
        const auto slice =
            std::chrono::microseconds(std::min<REFERENCE_TIME>(deadline - now, kBufferPoll) / 10);
        m_wake.wait_for(guard, stop, slice, [&] { return m_generation != generation; });
        if (stop.stop_requested())
            return VFW_E_NOT_COMMITTED;
    }
}

// ------------------------------------------------------------ AudioStamps

namespace {
// The fit forgets an observation over this much stream time.
constexpr double kFitMemory = 20.0 * double(kSecond);
// The nominal rate counts as much as observations spanning this long.
constexpr double kFitSpan = 0.5 * double(kSecond);
// Slopes further than this from the nominal rate are taken as nominal
// rate +- this (no working card is that far off).
constexpr double kMaxSkew = 0.02;
}  // namespace

AudioStamps::AudioStamps(int64_t rate)
    : m_rate(rate > 0 ? rate : 1), m_nominal(double(kSecond) / double(m_rate)) {}

void AudioStamps::Reset(int64_t position, REFERENCE_TIME now) {
    m_ref_position = position;
    m_ref_time = now;
    m_weight = 1;
    m_sx = m_sy = m_sxx = m_sxy = 0;
}

double AudioStamps::FrameLength() const {
    if (m_weight <= 0)
        return m_nominal;
    // The least-squares slope, with the nominal rate as a prior worth half
    // a second of observations: the stamps start from the nominal rate and
    // move to the card's own smoothly as observations come in.
    const double spread = m_weight * m_sxx - m_sx * m_sx;  // Weight^2 times the variance of x.
    const double span = kFitSpan / m_nominal;
    const double prior = m_weight * m_weight * span * span / 12;
    const double slope = (m_weight * m_sxy - m_sx * m_sy + m_nominal * prior) / (spread + prior);
    return std::clamp(slope, m_nominal * (1 - kMaxSkew), m_nominal * (1 + kMaxSkew));
}

REFERENCE_TIME AudioStamps::TimeOf(int64_t position) const {
    if (m_weight <= 0)
        return REFERENCE_TIME(double(position) * m_nominal);
    // The line through the weighted mean with the fitted slope.
    const double mx = m_sx / m_weight, my = m_sy / m_weight;
    const double dx = double(position - m_ref_position);
    return m_ref_time + REFERENCE_TIME(std::llround(my + (dx - mx) * FrameLength()));
}

AudioStamps::Observation AudioStamps::Observe(int64_t frames, REFERENCE_TIME now,
                                              REFERENCE_TIME threshold) {
    Observation result;
    if (m_weight <= 0) {
        Reset(Position(frames), now);
        return result;
    }
    const REFERENCE_TIME late = now - TimeOf(Position(frames));
    if (late > threshold) {
        result.lost = std::llround(double(late) / FrameLength());
        m_lost += result.lost;
    } else if (late < -kLossThreshold) {
        Reset(Position(frames), now);
        ++m_reanchors;
        result.reanchored = true;
        return result;
    }
    // Move the sums to the new observation's coordinates, let the old ones
    // fade, and add the new one at the origin.
    const double a = double(Position(frames) - m_ref_position), b = double(now - m_ref_time);
    m_sxy = m_sxy - a * m_sy - b * m_sx + a * b * m_weight;
    m_sxx = m_sxx - 2 * a * m_sx + a * a * m_weight;
    m_sx -= a * m_weight;
    m_sy -= b * m_weight;
    const double fade = std::exp(-std::max(0.0, b) / kFitMemory);
    m_weight = m_weight * fade + 1;
    m_sx *= fade;
    m_sy *= fade;
    m_sxx *= fade;
    m_sxy *= fade;
    m_ref_position = Position(frames);
    m_ref_time = now;
    return result;
}

// -------------------------------------------------------- LiveAudioSource

namespace {

// The IAMAudioInputMixer of one input line: enable and mix level through
// the device's shared line controls; the tone controls it lacks are not
// implemented.
class LineMixer final : public Delegating<IAMAudioInputMixer> {
public:
    LineMixer(IUnknown& owner, std::shared_ptr<AudioInputLines> lines, size_t line)
        : Delegating(owner), m_lines(std::move(lines)), m_line(line) {}

    HRESULT put_Enable(BOOL enable) override { return m_lines->SetEnabled(m_line, enable != 0); }
    HRESULT get_Enable(BOOL* enable) override {
        if (!enable)
            return E_POINTER;
        bool on = false;
        const HRESULT hr = m_lines->GetEnabled(m_line, &on);
        *enable = on ? 1 : 0;
        return hr;
    }
    HRESULT put_Mono(BOOL) override { return E_NOTIMPL; }
    HRESULT get_Mono(BOOL*) override { return E_NOTIMPL; }
    HRESULT put_MixLevel(double level) override { return m_lines->SetLevel(m_line, level); }
    HRESULT get_MixLevel(double* level) override {
        if (!level)
            return E_POINTER;
        *level = 0;
        return m_lines->GetLevel(m_line, level);
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
    const std::shared_ptr<AudioInputLines> m_lines;
    const size_t m_line;
};

// An analogue input line: it takes no connection, it is a control point.
class LinePin final : public BaseInputPin {
public:
    LinePin(BaseFilter& filter, std::shared_ptr<AudioInputLines> lines, size_t line)
        : BaseInputPin(filter, lines->Name(line)),
          m_mixer(*static_cast<IPin*>(this), std::move(lines), line) {}

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

}  // namespace

ComPtr<IMediaSample> LiveAudioSource::TakeBuffer(size_t bytes, uint32_t buffer, bool& discontinuity,
                                                 HRESULT* hr) {
    ComPtr<IMediaSample> sample;
    *hr = CapturePin().GetDeliveryBuffer(sample.ReleaseAndGetAddressOf(), AM_GBF_NOWAIT);
    if (*hr == VFW_E_NOT_CONNECTED)
        return nullptr;
    if (SUCCEEDED(*hr) && sample && size_t(sample->GetSize()) >= bytes)
        return sample;
    Drops().Dropped(buffer);
    discontinuity = true;
    return nullptr;
}

HRESULT LiveAudioSource::DeliverRead(IMediaSample* sample, const AudioStamps& stamps,
                                     int64_t position, long frames, size_t block,
                                     bool& discontinuity) {
    sample->SetActualDataLength(static_cast<LONG>(size_t(frames) * block));
    REFERENCE_TIME start = stamps.TimeOf(position);
    REFERENCE_TIME end = stamps.TimeOf(position + frames);
    sample->SetTime(&start, &end);
    LONGLONG media_start = position, media_end = position + frames;
    sample->SetMediaTime(&media_start, &media_end);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(discontinuity);
    discontinuity = false;
    const HRESULT hr = CapturePin().Deliver(sample);
    if (hr != VFW_E_NOT_CONNECTED)
        Drops().Delivered(size_t(frames) * block);
    return hr;
}

class LiveAudioSource::Pages final : public Delegating<ISpecifyPropertyPages> {
public:
    using Delegating::Delegating;
    HRESULT GetPages(CAUUID* pages) override {
        static constexpr GUID ids[] = {CLSID_AudioMixerPropertyPage};
        return FillPages(pages, ids, 1);
    }
};

class LiveAudioSource::StreamConfig final : public Delegating<IAMStreamConfig> {
public:
    StreamConfig(IUnknown& owner, LiveAudioSource& filter) : Delegating(owner), m_filter(filter) {}

    HRESULT SetFormat(AM_MEDIA_TYPE* mt) override;
    HRESULT GetFormat(AM_MEDIA_TYPE** mt) override {
        if (!mt)
            return E_POINTER;
        *mt = nullptr;
        const std::optional<MediaType> current = m_filter.CurrentFormat();
        if (!current)
            return VFW_E_NO_TYPES;  // The device offers none now (busy, say).
        *mt = CreateMediaType(&current->Get());
        return *mt ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT GetNumberOfCapabilities(int* count, int* size) override {
        if (!count || !size)
            return E_POINTER;
        *count = static_cast<int>(m_filter.Formats().size());
        *size = sizeof(AUDIO_STREAM_CONFIG_CAPS);
        return S_OK;
    }
    HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override {
        if (!mt || !caps)
            return E_POINTER;
        *mt = nullptr;
        const std::vector<MediaType> types = m_filter.Formats();
        if (index < 0 || index >= static_cast<int>(types.size()))
            return S_FALSE;
        const MediaType& type = types[size_t(index)];
        const std::optional<WAVEFORMATEX> wfx = PcmOf(type.Get());
        if (!wfx)
            return E_UNEXPECTED;
        *mt = CreateMediaType(&type.Get());
        if (!*mt)
            return E_OUTOFMEMORY;
        AUDIO_STREAM_CONFIG_CAPS c{};
        c.guid = MEDIATYPE_Audio;
        c.MinimumChannels = c.MaximumChannels = wfx->nChannels;
        c.ChannelsGranularity = 1;
        c.MinimumBitsPerSample = c.MaximumBitsPerSample = wfx->wBitsPerSample;
        c.BitsPerSampleGranularity = wfx->wBitsPerSample;
        c.MinimumSampleFrequency = c.MaximumSampleFrequency = wfx->nSamplesPerSec;
        c.SampleFrequencyGranularity = 1;
        std::memcpy(caps, &c, sizeof c);
        return S_OK;
    }

private:
    LiveAudioSource& m_filter;
};

class LiveAudioCapturePin final : public BaseOutputPin {
public:
    explicit LiveAudioCapturePin(LiveAudioSource& filter)
        : BaseOutputPin(filter, u"Capture", PIN_CATEGORY_CAPTURE),
          m_owner(filter),
          m_drops(*static_cast<IPin*>(this)) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override { return m_owner.CheckFormat(mt); }
    std::vector<MediaType> OfferedTypes() override {
        if (std::optional<MediaType> chosen = m_owner.Chosen())
            return {*chosen};
        return m_owner.Formats();
    }

    // The connection's format, or nothing when unconnected.
    std::optional<WAVEFORMATEX> StreamFormat() const {
        if (!IsConnected())
            return std::nullopt;
        return PcmOf(ConnectionType().Get());
    }
    void StartStreaming(const WAVEFORMATEX& format) {
        m_drops.Reset();
        m_done.store(false);
        m_thread = std::jthread([this, format](std::stop_token stop) {
            // Named so that per-thread tools show the sound apart.
            pthread_setname_np(pthread_self(), "rx-audio-input");
            m_owner.Stream(stop, format);
            {
                std::lock_guard guard(m_done_lock);
                m_done.store(true);
            }
            m_done_cv.notify_all();
        });
    }
    // True once the streaming thread ended (or none runs), waiting until
    // `deadline` at most.
    bool WaitStreamEnded(std::chrono::steady_clock::time_point deadline) {
        if (!m_thread.joinable())
            return true;
        std::unique_lock guard(m_done_lock);
        return m_done_cv.wait_until(guard, deadline, [&] { return m_done.load(); });
    }
    void RequestStop() { m_thread.request_stop(); }
    void JoinStreaming() { JoinDelivery(m_thread, m_done, *this); }
    DropCounter& Drops() { return m_drops; }

protected:
    HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES& props) override {
        const std::optional<WAVEFORMATEX> wfx = PcmOf(ConnectionType().Get());
        if (!wfx)
            return VFW_E_TYPE_NOT_ACCEPTED;
        props.cBuffers = std::max<LONG>(props.cBuffers, LiveAudioSource::kBuffers);
        props.cbBuffer = std::max<LONG>(
            props.cbBuffer,
            static_cast<LONG>(LiveAudioSource::FramesPerBuffer(*wfx) * wfx->nBlockAlign));
        return S_OK;
    }
    HRESULT QueryPinInterface(REFIID riid, void** out) override {
        if (riid == IAMStreamConfig::iid)
            return ReturnInterface<IAMStreamConfig>(m_owner.m_config.get(), out);
        if (riid == IAMDroppedFrames::iid)
            return ReturnInterface<IAMDroppedFrames>(&m_drops, out);
        return BaseOutputPin::QueryPinInterface(riid, out);
    }

private:
    LiveAudioSource& m_owner;
    DropCounter m_drops;
    std::jthread m_thread;
    std::mutex m_done_lock;
    std::condition_variable m_done_cv;
    std::atomic<bool> m_done{false};
};

LiveAudioSource::LiveAudioSource(const GUID& clsid, std::shared_ptr<AudioInputLines> lines)
    : BaseFilter(clsid),
      m_pacer(*this),
      m_lines(std::move(lines)),
      m_pages(std::make_unique<Pages>(*static_cast<IBaseFilter*>(this))),
      m_capture_end(std::make_unique<LiveCaptureEnd>(
          *static_cast<IBaseFilter*>(this),
          LiveCaptureEnd::Calls{[this] {
                                    m_end_time.store(m_pacer.Now());
                                    m_ending.store(true);
                                    m_pacer.Wake();
                                },
                                [this](std::chrono::steady_clock::time_point deadline) {
                                    return m_capture->WaitStreamEnded(deadline);
                                }})),
      m_config(std::make_unique<StreamConfig>(*static_cast<IBaseFilter*>(this), *this)) {
    m_capture =
        static_cast<LiveAudioCapturePin*>(AddPin(std::make_unique<LiveAudioCapturePin>(*this)));
    if (m_lines)
        for (size_t line = 0; line < m_lines->Count(); ++line)
            AddPin(std::make_unique<LinePin>(*this, m_lines, line));
}

LiveAudioSource::~LiveAudioSource() = default;

int64_t LiveAudioSource::FramesPerBuffer(const WAVEFORMATEX& format) {
    return std::max<int64_t>(1, int64_t(format.nSamplesPerSec) / kBuffersPerSecond);
}

std::optional<MediaType> LiveAudioSource::Chosen() const {
    std::lock_guard guard(m_format_lock);
    return m_chosen;
}

void LiveAudioSource::Choose(std::optional<MediaType> mt) {
    std::lock_guard guard(m_format_lock);
    m_chosen = std::move(mt);
}

std::optional<MediaType> LiveAudioSource::CurrentFormat() {
    if (m_capture->IsConnected())
        return m_capture->ConnectionType();
    if (std::optional<MediaType> chosen = Chosen())
        return chosen;
    std::vector<MediaType> formats = Formats();
    if (formats.empty())
        return std::nullopt;
    return std::move(formats.front());
}

HRESULT LiveAudioSource::CheckFormat(const AM_MEDIA_TYPE& mt) {
    const std::optional<WAVEFORMATEX> wfx = PcmOf(mt);
    if (!wfx)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (std::optional<MediaType> chosen = Chosen())
        return SamePcm(*PcmOf(chosen->Get()), *wfx) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    return Offers(*wfx) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

bool LiveAudioSource::Offers(const WAVEFORMATEX& format) {
    for (const MediaType& t : Formats())
        if (std::optional<WAVEFORMATEX> offered = PcmOf(t.Get());
            offered && SamePcm(*offered, format))
            return true;
    return false;
}

BaseOutputPin& LiveAudioSource::CapturePin() {
    return *m_capture;
}

DropCounter& LiveAudioSource::Drops() {
    return m_capture->Drops();
}

HRESULT LiveAudioSource::QueryInterfaceExtra(REFIID riid, void** out) {
    if (riid == ISpecifyPropertyPages::iid)
        return ReturnInterface<ISpecifyPropertyPages>(m_pages.get(), out);
    if (riid == ILiveCaptureEnd::iid)
        return ReturnInterface<ILiveCaptureEnd>(m_capture_end.get(), out);
    return BaseFilter::QueryInterfaceExtra(riid, out);
}

HRESULT LiveAudioSource::OnActivate() {
    m_ending.store(false);
    const std::optional<WAVEFORMATEX> format = m_capture->StreamFormat();
    if (!format)
        return S_OK;  // Unconnected: nothing to open.
    const HRESULT hr = OpenDevice(*format);
    if (FAILED(hr))
        return hr;
    m_capture->StartStreaming(*format);
    return S_OK;
}

void LiveAudioSource::OnStopRequest() {
    m_capture->RequestStop();
    m_pacer.Wake();
}

void LiveAudioSource::OnStopJoin() {
    m_capture->JoinStreaming();
    CloseDevice();
}

HRESULT LiveAudioSource::StateResult(DWORD) {
    return State() == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

HRESULT LiveAudioSource::StreamConfig::SetFormat(AM_MEDIA_TYPE* mt) {
    std::lock_guard control(m_filter.ControlLock());
    if (m_filter.State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (!mt) {
        m_filter.Choose(std::nullopt);
        return S_OK;
    }
    const std::optional<WAVEFORMATEX> wfx = PcmOf(*mt);
    if (!wfx)
        return VFW_E_INVALIDMEDIATYPE;
    // Checked against the device's formats, not against an earlier choice.
    if (!m_filter.Offers(*wfx))
        return VFW_E_INVALIDMEDIATYPE;
    const std::optional<MediaType> was = m_filter.Chosen();
    const MediaType type =
        MediaType::Pcm(int(wfx->nSamplesPerSec), wfx->wBitsPerSample, wfx->nChannels);
    BaseOutputPin& pin = m_filter.CapturePin();
    if (!pin.IsConnected()) {
        m_filter.Choose(type);
        return S_OK;
    }
    ComPtr<IPin> peer = pin.Peer();
    if (!peer || peer->QueryAccept(&type.Get()) != S_OK)
        return VFW_E_INVALIDMEDIATYPE;
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

}  // namespace ronvix::media
