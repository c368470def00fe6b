// The Test Tone Generator: a live audio source whose "Capture" pin delivers
// the tone of the enabled input line, scaled by that line's mix level, with
// a 20 ms burst at each whole second of stream time.

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>

#include "platform/com/object.h"
#include "platform/media/devices/devicecontrols.h"
#include "platform/media/devices/imperfections.h"
#include "platform/media/devices/livesource.h"
#include "platform/media/devices/virtual/virtualdevices.h"

namespace ronvix::media {

using namespace com;

namespace {

constexpr REFERENCE_TIME kSecond = 10'000'000;
constexpr REFERENCE_TIME kBurstLength = 200'000;  // 20 ms
constexpr double kBurstHz = 3000.0;
constexpr double kBurstAmplitude = 0.9;
constexpr double kToneAmplitude = 0.8;  // Full scale times this at level 1.

constexpr int kRates[] = {48000, 44100, 32000, 22050, 11025};

std::vector<MediaType> PcmTypes() {
    std::vector<MediaType> types;
    for (int rate : kRates)
        for (int channels : {2, 1})
            types.push_back(MediaType::Pcm(rate, 16, channels));
    return types;
}

// The tone generator's lines, over the device's ToneControls.
class ToneLines final : public AudioInputLines {
public:
    size_t Count() const override { return kToneLines.size(); }
    std::u16string Name(size_t line) const override {
        return line < kToneLines.size() ? std::u16string(kToneLines[line].name) : u"";
    }
    HRESULT GetEnabled(size_t line, bool* enabled) override {
        if (line >= kToneLines.size())
            return E_INVALIDARG;
        *enabled = ToneControls::Device()->Get(line).enabled;
        return S_OK;
    }
    HRESULT SetEnabled(size_t line, bool enabled) override {
        return ToneControls::Device()->SetEnabled(line, enabled);
    }
    HRESULT GetLevel(size_t line, double* level) override {
        if (line >= kToneLines.size())
            return E_INVALIDARG;
        *level = ToneControls::Device()->Get(line).level;
        return S_OK;
    }
    HRESULT SetLevel(size_t line, double level) override {
        return ToneControls::Device()->SetLevel(line, level);
    }
};

class ToneGenerator final : public LiveAudioSource {
public:
    explicit ToneGenerator(const VirtualDeviceHooks& hooks)
        : LiveAudioSource(CLSID_TestToneGenerator, Lines()), m_hooks(hooks) {}
    ~ToneGenerator() override { Stop(); }

    std::vector<MediaType> Formats() override { return PcmTypes(); }

protected:
    void Stream(std::stop_token stop, const WAVEFORMATEX& wfx) override;

private:
    static std::shared_ptr<AudioInputLines> Lines() {
        static const std::shared_ptr<AudioInputLines> lines = std::make_shared<ToneLines>();
        return lines;
    }

    // Never changed after construction: the streaming thread reads it.
    const VirtualDeviceHooks m_hooks;
};

void ToneGenerator::Stream(std::stop_token stop, const WAVEFORMATEX& wfx) {
    const int64_t rate = wfx.nSamplesPerSec;
    const int channels = wfx.nChannels;
    const int64_t frames_per_buffer = FramesPerBuffer(wfx);
    LivePacer& pacer = Pacer();
    BaseOutputPin& pin = CapturePin();
    ToneControls& controls = *ToneControls::Device();
    // The generator's own sample clock, perfect unless a test made it not.
    const ImperfectClock clock(m_hooks.tone_faults, double(rate));
    std::atomic<int64_t>* const cpu_ns = m_hooks.tone_cpu_ns.get();
    AudioStamps stamps(rate);

    int64_t device = 0;  // Frames the device captured and handed on or lost.
    int64_t buffer = 0;  // Buffers so far, for the drop counter.
    bool discontinuity = false;
    while (!stop.stop_requested() && !CaptureEnding()) {
        if (!WaitRunningOrEnd(stop)) {
            if (stop.stop_requested() || State() == State_Stopped)
                return;
            continue;
        }
        if (pacer.TakeRestart(0) && stamps.Anchored()) {
            // After a pause the count goes on from the time capture
            // resumed: what the device captured meanwhile was let go.
            const int64_t now_frames = clock.SamplesAt(pacer.Now());
            device = std::max(device, now_frames / frames_per_buffer * frames_per_buffer);
            stamps = AudioStamps(rate);
            discontinuity = true;
        }
        // A buffer is complete once its last frame was captured.
        if (!pacer.WaitFor(clock.SampleTime(device + frames_per_buffer), stop))
            continue;
        if (CaptureEnding())
            return;
        const REFERENCE_TIME now = pacer.Now();
        const AudioStamps::Observation seen = stamps.Observe(clock.SamplesAt(now), now);
        if (seen.lost > 0) {
            Drops().Dropped(uint32_t(buffer),
                            uint32_t((seen.lost + frames_per_buffer - 1) / frames_per_buffer));
            discontinuity = true;
        }
        discontinuity = discontinuity || seen.reanchored;
        const int64_t position = stamps.Position(device);
        const REFERENCE_TIME start = stamps.TimeOf(position);
        const REFERENCE_TIME end = stamps.TimeOf(position + frames_per_buffer);
        ComPtr<IMediaSample> sample;
        const HRESULT hr = clock.BufferLost(buffer)
                               ? VFW_E_TIMEOUT
                               : pacer.BufferBefore(pin, now + (end - start), stop,
                                                    sample.ReleaseAndGetAddressOf());
        if (hr == VFW_E_TIMEOUT) {
            // Lost: the positions go on, so the mux fills the gap.
            Drops().Dropped(uint32_t(buffer));
            discontinuity = true;
        } else if (FAILED(hr)) {
            return;
        } else {
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            const size_t bytes = size_t(frames_per_buffer) * wfx.nBlockAlign;
            if (bytes > size_t(sample->GetSize()))
                return;
            const int64_t cpu_start = cpu_ns ? ThreadCpuNs() : 0;
            auto* out = reinterpret_cast<int16_t*>(data);
            const ToneControls::Lines lines = controls.Snapshot();
            for (int64_t i = 0; i < frames_per_buffer; ++i) {
                const int64_t n = device + i;
                // The burst marks whole seconds of the graph's clock, where
                // the frame truly falls, whatever the device's clock says.
                const REFERENCE_TIME t = clock.SampleTime(n);
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
                const auto v =
                    static_cast<int16_t>(std::lround(std::clamp(value, -1.0, 1.0) * 32767));
                for (int c = 0; c < channels; ++c)
                    std::memcpy(out + i * channels + c, &v, sizeof v);
            }
            if (cpu_ns)
                cpu_ns->fetch_add(ThreadCpuNs() - cpu_start, std::memory_order_relaxed);
            sample->SetActualDataLength(static_cast<LONG>(bytes));
            REFERENCE_TIME s = start, e = end;
            sample->SetTime(&s, &e);
            LONGLONG ms = position, me = position + frames_per_buffer;
            sample->SetMediaTime(&ms, &me);
            sample->SetSyncPoint(TRUE);
            sample->SetDiscontinuity(discontinuity);
            discontinuity = false;
            if (pin.Deliver(sample.Get()) == VFW_E_NOT_CONNECTED)
                return;
            Drops().Delivered(bytes);
        }
        device += frames_per_buffer;
        ++buffer;
    }
}

}  // namespace

HRESULT CreateToneGenerator(REFIID riid, void** out) {
    return CreateToneGenerator(VirtualDeviceHooks{}, riid, out);
}

HRESULT CreateToneGenerator(const VirtualDeviceHooks& hooks, REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    ComPtr<ToneGenerator> filter = MakeCom<ToneGenerator>(hooks);
    return static_cast<IBaseFilter*>(filter.Get())->QueryInterface(riid, out);
}

}  // namespace ronvix::media
