// The Audio Level Meter: measures the peak of each channel of the PCM
// samples that pass through it and hands them on unchanged. See plumbing.h
// and IAudioLevels.

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "platform/com/object.h"
#include "platform/media/plumbing/passthrough.h"
#include "platform/media/plumbing/plumbing.h"

namespace ronvix::media {

using namespace com;

namespace {

// Peaks are kept as fractions of full scale in this many steps, so that an
// atomic integer maximum can hold them.
constexpr uint32_t kScale = 1u << 30;

bool IsPcm(const AM_MEDIA_TYPE& mt, WAVEFORMATEX* out) {
    if (mt.majortype != MEDIATYPE_Audio || mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat ||
        mt.cbFormat < sizeof(WAVEFORMATEX))
        return false;
    WAVEFORMATEX wfx;
    std::memcpy(&wfx, mt.pbFormat, sizeof wfx);
    const int bits = wfx.wBitsPerSample;
    const bool ok = wfx.wFormatTag == WAVE_FORMAT_PCM && wfx.nChannels >= 1 &&
                    (bits == 8 || bits == 16 || bits == 24 || bits == 32) &&
                    wfx.nBlockAlign == wfx.nChannels * bits / 8;
    if (ok && out)
        *out = wfx;
    return ok;
}

class MeterInputPin final : public BaseInputPin {
public:
    using BaseInputPin::BaseInputPin;
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        return IsPcm(mt, nullptr) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
};

class AudioLevelMeter final : public BaseFilter, public IAudioLevels {
public:
    AudioLevelMeter() : BaseFilter(CLSID_AudioLevelMeter) {
        m_in = static_cast<MeterInputPin*>(AddPin(std::make_unique<MeterInputPin>(*this, u"In")));
        m_out = static_cast<PassThroughOutputPin*>(
            AddPin(std::make_unique<PassThroughOutputPin>(*this, u"Out", m_in)));
    }

    HRESULT QueryInterface(REFIID riid, void** out) override {
        return BaseFilter::QueryInterface(riid, out);
    }
    ULONG AddRef() override { return BaseFilter::AddRef(); }
    ULONG Release() override { return BaseFilter::Release(); }

    HRESULT GetChannels(LONG* channels) override {
        if (!channels)
            return E_POINTER;
        *channels = m_channels.load();
        return S_OK;
    }
    HRESULT TakePeaks(LONG count, double* peaks) override {
        if (count < 0)
            return E_INVALIDARG;
        if (count > 0 && !peaks)
            return E_POINTER;
        for (LONG c = 0; c < count; ++c)
            peaks[c] = c < kMaxChannels ? double(m_peaks[size_t(c)].exchange(0)) / kScale : 0.0;
        return S_OK;
    }

    void OnConnected(BasePin& pin) override {
        if (&pin == m_in)
            TakeFormat();
    }
    void OnDisconnected(BasePin& pin) override {
        if (&pin == m_in)
            m_channels.store(0);
    }

    HRESULT OnReceive(BaseInputPin&, IMediaSample* sample) override {
        Measure(sample);
        if (!m_out->IsConnected())
            return S_OK;  // A sink: the samples end here.
        const HRESULT hr = m_out->Deliver(sample);
        return hr == VFW_E_NOT_CONNECTED ? S_OK : hr;
    }
    void OnEndOfStream(BaseInputPin&) override {
        if (m_out->IsConnected())
            m_out->DeliverEndOfStream();
    }
    void OnBeginFlush(BaseInputPin&) override {
        if (m_out->IsConnected())
            m_out->DeliverBeginFlush();
    }
    void OnEndFlush(BaseInputPin&) override {
        if (m_out->IsConnected())
            m_out->DeliverEndFlush();
    }
    void OnNewSegment(BaseInputPin&, REFERENCE_TIME start, REFERENCE_TIME stop,
                      double rate) override {
        if (m_out->IsConnected())
            m_out->DeliverNewSegment(start, stop, rate);
    }

protected:
    HRESULT OnActivate() override {
        TakeFormat();
        return S_OK;
    }
    HRESULT QueryInterfaceExtra(REFIID riid, void** out) override {
        if (riid == IAudioLevels::iid)
            return ReturnInterface<IAudioLevels>(this, out);
        return BaseFilter::QueryInterfaceExtra(riid, out);
    }

private:
    // The input's format, for the streaming thread.
    void TakeFormat() {
        WAVEFORMATEX wfx{};
        if (m_in->IsConnected() && IsPcm(m_in->ConnectionType().Get(), &wfx)) {
            m_bits.store(wfx.wBitsPerSample);
            m_channels.store(std::min<LONG>(wfx.nChannels, kMaxChannels));
            m_stride.store(wfx.nChannels);
        }
    }

    // The sample's peak per channel, merged into the kept peaks. Reads the
    // sample only; allocates nothing.
    void Measure(IMediaSample* sample) {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const LONG length = sample->GetActualDataLength();
        const int bits = m_bits.load();
        const int stride = m_stride.load();
        const LONG channels = m_channels.load();
        if (!data || length <= 0 || channels <= 0 || stride <= 0)
            return;
        const int bytes = bits / 8;
        const size_t frames = size_t(length) / size_t(bytes * stride);
        std::array<uint32_t, kMaxChannels> peak{};
        for (size_t f = 0; f < frames; ++f) {
            const BYTE* frame = data + f * size_t(bytes * stride);
            for (LONG c = 0; c < channels; ++c) {
                const BYTE* p = frame + c * bytes;
                // The magnitude as a fraction of full scale, in kScale steps.
                uint32_t magnitude = 0;
                switch (bits) {
                    case 8:
                        magnitude = uint32_t(std::abs(int(p[0]) - 128)) << 23;
                        break;
                    case 16: {
                        int16_t v;
                        std::memcpy(&v, p, 2);
                        magnitude = uint32_t(std::abs(int32_t(v))) << 15;
                        break;
                    }
                    case 24: {
                        const int32_t v = int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 |
                                                  uint32_t(p[2]) << 24) >>
                                          8;
                        magnitude = uint32_t(std::abs(v)) << 7;
                        break;
                    }
                    default: {
                        int32_t v;
                        std::memcpy(&v, p, 4);
                        magnitude =
                            uint32_t(std::min<int64_t>(std::llabs(int64_t(v)) >> 1, kScale));
                        break;
                    }
                }
                peak[size_t(c)] = std::max(peak[size_t(c)], std::min(magnitude, kScale));
            }
        }
        for (LONG c = 0; c < channels; ++c) {
            std::atomic<uint32_t>& kept = m_peaks[size_t(c)];
            uint32_t old = kept.load(std::memory_order_relaxed);
            while (peak[size_t(c)] > old &&
                   !kept.compare_exchange_weak(old, peak[size_t(c)], std::memory_order_relaxed)) {
            }
        }
    }

    MeterInputPin* m_in = nullptr;
    PassThroughOutputPin* m_out = nullptr;
    // The connected format: set on the control thread when the input
    // connects, read by the streaming thread.
    std::atomic<int> m_bits{16};
    std::atomic<int> m_stride{0};
    std::atomic<LONG> m_channels{0};
    std::array<std::atomic<uint32_t>, kMaxChannels> m_peaks{};
};

}  // namespace

HRESULT CreateAudioLevelMeter(REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    auto filter = MakeCom<AudioLevelMeter>();
    return static_cast<IBaseFilter*>(filter.Get())->QueryInterface(riid, out);
}

}  // namespace ronvix::media
