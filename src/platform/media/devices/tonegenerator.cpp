// The Test Tone Generator: a live audio source whose "Capture" pin delivers
// the tone of the enabled input line, scaled by that line's mix level, with
// a 20 ms burst at each whole second of stream time.

#include <cmath>
#include <cstring>
#include <numbers>

#include "platform/com/object.h"
#include "platform/media/devices/devicecontrols.h"
#include "platform/media/devices/livesource.h"
#include "platform/media/devices/virtualdevices.h"

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
    ToneGenerator() : LiveAudioSource(CLSID_TestToneGenerator, Lines()) {}
    ~ToneGenerator() override { Stop(); }

    std::vector<MediaType> Formats() override { return PcmTypes(); }

protected:
    void Stream(std::stop_token stop, const WAVEFORMATEX& wfx) override;

private:
    static std::shared_ptr<AudioInputLines> Lines() {
        static const std::shared_ptr<AudioInputLines> lines = std::make_shared<ToneLines>();
        return lines;
    }
};

void ToneGenerator::Stream(std::stop_token stop, const WAVEFORMATEX& wfx) {
    const int64_t rate = wfx.nSamplesPerSec;
    const int channels = wfx.nChannels;
    const int64_t frames_per_buffer = FramesPerBuffer(wfx);
    LivePacer& pacer = Pacer();
    BaseOutputPin& pin = CapturePin();
    ToneControls& controls = *ToneControls::Device();
    auto frame_time = [rate](int64_t frames) { return frames * kSecond / rate; };

    int64_t position = 0;       // Audio frames since the stream started.
    REFERENCE_TIME anchor = 0;  // Stream time of frame 0.
    bool anchored = false;
    while (!stop.stop_requested()) {
        if (!pacer.WaitRunning(stop)) {
            if (stop.stop_requested() || State() == State_Stopped)
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
            pacer.BufferBefore(pin, end + (end - start), stop, sample.ReleaseAndGetAddressOf());
        if (hr == VFW_E_TIMEOUT) {
            Drops().Dropped(uint32_t(position / frames_per_buffer));
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
            if (pin.Deliver(sample.Get()) == VFW_E_NOT_CONNECTED)
                return;
            Drops().Delivered(bytes);
        }
        position += frames_per_buffer;
    }
}

}  // namespace

HRESULT CreateToneGenerator(REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    ComPtr<ToneGenerator> filter = MakeCom<ToneGenerator>();
    return static_cast<IBaseFilter*>(filter.Get())->QueryInterface(riid, out);
}

}  // namespace ronvix::media
