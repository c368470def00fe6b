// Sound card capture devices. See alsacapture.h.

#include "platform/media/devices/alsa/alsacapture.h"

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/com/devices.h"
#include "platform/com/errortext.h"
#include "platform/media/devices/alsa/alsamixer.h"
#include "platform/media/devices/livesource.h"
#include "platform/media/devices/pulse/pulsecapture.h"

namespace ronvix::media {

using namespace com;

namespace {

// How long one wait for data lasts before the stop is checked again.
constexpr int kWaitStepMs = 50;

// The formats probed, in the order they are offered.
constexpr int kBits[] = {16, 24, 32, 8};
constexpr int kRates[] = {48000, 44100, 96000, 88200, 32000, 22050, 16000, 11025, 8000};
constexpr int kChannels[] = {2, 1, 3, 4, 5, 6, 7, 8};

using CurrentCalls = SwappableCalls<AlsaCaptureApi>::Current;

SwappableCalls<AlsaCaptureApi>& Table() {
    static SwappableCalls<AlsaCaptureApi> table(RealAlsaCaptureApi);
    return table;
}
CurrentCalls Calls() {
    return Table().Get();
}

// What every filter instance of one capture device of a card shares: its
// input lines (the card's mixer) and the formats its PCM takes.
// Thread-safe.
class AlsaCaptureDevice {
public:
    AlsaCaptureDevice(AlsaCaptureApi api, AlsaCard card, int device)
        : m_api(std::move(api)),
          m_card(std::move(card)),
          m_device(device),
          m_lines(std::make_shared<AlsaInputLines>(m_api, m_card.id)) {}

    // The shared state of `card`'s capture device `device` through the
    // current calls; made when no instance holds one.
    static std::shared_ptr<AlsaCaptureDevice> For(const AlsaCard& card, int device) {
        CurrentCalls calls = Calls();
        const std::string key =
            std::to_string(calls.generation) + "/" + card.id + "/" + std::to_string(device);
        static std::mutex lock;
        static std::map<std::string, std::weak_ptr<AlsaCaptureDevice>> devices;
        std::lock_guard guard(lock);
        std::erase_if(devices, [](const auto& entry) { return entry.second.expired(); });
        if (std::shared_ptr<AlsaCaptureDevice> found = devices[key].lock())
            return found;
        auto made = std::make_shared<AlsaCaptureDevice>(std::move(calls.api), card, device);
        devices[key] = made;
        return made;
    }

    const AlsaCaptureApi& Api() const { return m_api; }
    std::string PcmName() const { return AlsaPcmName("hw", m_card, m_device); }
    std::shared_ptr<AudioInputLines> Lines() const { return m_lines; }

    // Probed when first asked; a probe that fails is tried again at the
    // next call. A device another program holds offers the usual format
    // meanwhile, so that a graph can be built and its start fails with
    // what holds the device (OpenError) rather than leaving the sound out.
    std::vector<MediaType> Formats() {
        std::lock_guard guard(m_lock);
        if (m_formats)
            return *m_formats;
        void* probe = nullptr;
        const int err = m_api.open_probe(PcmName(), &probe);
        if (err == -EBUSY)
            return {MediaType::Pcm(48000, 16, 2), MediaType::Pcm(44100, 16, 2)};
        if (err < 0 || !probe)
            return {};
        std::vector<MediaType> formats;
        for (int bits : kBits)
            for (int rate : kRates)
                for (int channels : kChannels)
                    if (m_api.test_format(probe, bits, channels, rate) == 0)
                        formats.push_back(MediaType::Pcm(rate, bits, channels));
        m_api.close_probe(probe);
        m_formats = formats;
        return formats;
    }

    // The failure of an open that returned `err`: one that names what holds
    // the device when it is in use.
    HRESULT OpenError(int err) const {
        if (err != -EBUSY)
            return HResultFromErrno(err < 0 ? -err : EIO);
        const std::string holder =
            m_api.holder ? m_api.holder(m_card.number, m_device) : std::string();
        return ErrorWithText("The sound device \"" + m_card.name + "\" is in use by " +
                             (holder.empty() ? std::string("another program") : holder) +
                             ". Close it, or capture through the desktop's sound server.");
    }

private:
    const AlsaCaptureApi m_api;
    const AlsaCard m_card;
    const int m_device;
    const std::shared_ptr<AudioInputLines> m_lines;

    std::mutex m_lock;
    // Guarded by m_lock.
    std::optional<std::vector<MediaType>> m_formats;
};

bool DeviceGone(int err) {
    return err == -ENODEV || err == -EBADFD;
}

class AlsaCapture final : public LiveAudioSource {
public:
    explicit AlsaCapture(std::shared_ptr<AlsaCaptureDevice> device)
        : LiveAudioSource(CLSID_AlsaCapture, device->Lines()),
          m_device(std::move(device)),
          m_api(m_device->Api()) {}
    // Stopping joins the streaming thread and closes the device.
    ~AlsaCapture() override { Stop(); }

    std::vector<MediaType> Formats() override { return m_device->Formats(); }

protected:
    HRESULT OpenDevice(const WAVEFORMATEX& format) override {
        CloseDevice();
        const int err = m_api.open(m_device->PcmName(), format.wBitsPerSample, format.nChannels,
                                   int(format.nSamplesPerSec), &m_pcm);
        if (err < 0 || !m_pcm) {
            m_pcm = nullptr;
            return m_device->OpenError(err);
        }
        return S_OK;
    }
    void CloseDevice() override {
        if (m_pcm)
            m_api.close(m_pcm);
        m_pcm = nullptr;
    }
    void Stream(std::stop_token stop, const WAVEFORMATEX& format) override;

private:
    // Handles a failed call: true when the stream goes on (nothing ready
    // yet, or an overrun or suspend recovered and the device restarted),
    // false when it ended (and the graph was told).
    bool Recover(int err);
    // Ends the stream for an error that cannot be recovered.
    bool Fail(int err);

    const std::shared_ptr<AlsaCaptureDevice> m_device;
    const AlsaCaptureApi m_api;
    // Set by OpenDevice before the streaming thread starts and cleared by
    // CloseDevice after it was joined; the thread uses it in between.
    void* m_pcm = nullptr;
    // Streaming thread only: an overrun was recovered since the last
    // observation of the device's count.
    bool m_overrun = false;
};

bool AlsaCapture::Fail(int err) {
    CapturePin().DeliverEndOfStream();
    if (DeviceGone(err))
        NotifyEvent(
            EC_DEVICE_LOST,
            reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this))), 0);
    else
        NotifyEvent(EC_ERRORABORT, HResultFromErrno(-err), 0);
    return false;
}

bool AlsaCapture::Recover(int err) {
    if (err == -EAGAIN)
        return true;
    if (DeviceGone(err))
        return Fail(err);
    if (const int recovered = m_api.recover(m_pcm, err); recovered < 0)
        return Fail(recovered);
    // What the device captured while it was overrun is lost; the next
    // observation of its count measures how much.
    m_overrun = true;
    if (const int started = m_api.start(m_pcm); started < 0)
        return Fail(started);
    return true;
}

void AlsaCapture::Stream(std::stop_token stop, const WAVEFORMATEX& format) {
    const int64_t per_buffer = FramesPerBuffer(format);
    const size_t block = format.nBlockAlign;
    const size_t bytes = size_t(per_buffer) * block;
    std::vector<uint8_t> scratch(bytes);
    AudioStamps stamps(format.nSamplesPerSec);
    int64_t captured = 0;  // Frames read since the device started.
    uint32_t buffer = 0;   // Buffers read, for the drop counter.
    // The next sample delivered follows lost sound or a new fit: it says
    // so, for the consumers that care.
    bool discontinuity = false;
    bool paused = false;  // Samples were let go since the graph paused.
    m_overrun = false;

    // Nothing is captured before the graph first runs.
    if (!WaitRunningOrEnd(stop))
        return;
    if (const int err = m_api.start(m_pcm); err < 0) {
        Fail(err);
        return;
    }
    for (;;) {
        // A stopping graph ends the capture: what the device holds now is
        // read and handed on first, down to a part-filled buffer.
        const bool ending = CaptureEnding();
        if (stop.stop_requested() || State() == State_Stopped)
            return;
        if (!ending) {
            const int ready = m_api.wait(m_pcm, kWaitStepMs);
            if (ready == 0)
                continue;
            if (ready < 0) {
                if (!Recover(ready))
                    return;
                continue;
            }
        }
        // The first count after a wake-up is fresh (the device just reached
        // its wake-up point), so that is when the clocks are compared.
        bool observed = false;
        while (!stop.stop_requested()) {
            const long avail = m_api.avail(m_pcm);
            if (avail < 0) {
                if (!Recover(int(avail)))
                    return;
                break;
            }
            if (avail < (ending ? 1 : per_buffer))
                break;
            const bool running = State() == State_Running;
            if (running && paused) {
                // Running again: what the card holds was captured while
                // paused and is let go, so the run goes on from now.
                paused = false;
                for (long left = avail; left > 0;) {
                    const long n =
                        m_api.read(m_pcm, scratch.data(), std::min(left, long(per_buffer)));
                    if (n <= 0)
                        break;
                    captured += n;
                    left -= n;
                }
                continue;
            }
            paused = paused || !running;
            if (running && !observed) {
                // The frames the device had taken in by now: those read,
                // those ready, and those still on their way through it, so
                // each is stamped when it entered the device. Right after
                // an overrun a loss of any length is measured.
                long in_device = avail;
                if (long d = 0; m_api.delay && m_api.delay(m_pcm, &d) >= 0 && d > avail)
                    in_device = d;
                const AudioStamps::Observation seen = stamps.Observe(
                    captured + in_device, Pacer().Now(),
                    m_overrun ? AudioStamps::kLossThreshold / 8 : AudioStamps::kLossThreshold);
                m_overrun = false;
                if (seen.lost > 0)
                    Drops().Dropped(buffer, uint32_t((seen.lost + per_buffer - 1) / per_buffer));
                discontinuity = discontinuity || seen.lost > 0 || seen.reanchored;
                observed = true;
            }
            // A paused graph's samples are read and let go; a running one
            // that has no free buffer loses this one (a live source never
            // waits for its consumer).
            ComPtr<IMediaSample> sample;
            BYTE* data = scratch.data();
            if (running) {
                HRESULT hr = S_OK;
                sample = TakeBuffer(bytes, buffer, discontinuity, &hr);
                if (hr == VFW_E_NOT_CONNECTED)
                    return;  // Disconnected while running: nobody to deliver to.
                if (sample)
                    sample->GetPointer(&data);
            }
            const long n = m_api.read(m_pcm, data, std::min<long>(avail, long(per_buffer)));
            if (n < 0) {
                if (!Recover(int(n)))
                    return;
                break;
            }
            if (sample && n > 0 &&
                DeliverRead(sample.Get(), stamps, stamps.Position(captured), n, block,
                            discontinuity) == VFW_E_NOT_CONNECTED)
                return;
            captured += n;
            ++buffer;
        }
        if (ending)
            return;
    }
}

}  // namespace

void SetAlsaCaptureApi(AlsaCaptureApi api) {
    const bool filled = bool(api.open);
    Table().Set(std::move(api), filled);
}

HRESULT CreateAlsaCapture(const AlsaCard& card, REFIID riid, void** out) {
    return CreateAlsaCapture(card, card.capture_device, riid, out);
}

HRESULT CreateAlsaCapture(const AlsaCard& card, int device, REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (device < 0)
        return MK_E_NOOBJECT;
    ComPtr<AlsaCapture> filter = MakeCom<AlsaCapture>(AlsaCaptureDevice::For(card, device));
    return static_cast<IBaseFilter*>(filter.Get())->QueryInterface(riid, out);
}

std::vector<DeviceDescription> AudioCaptureDevices() {
    std::vector<DeviceDescription> list;
    // A sound server owns the cards when it runs: they are reached through it.
    if (const std::optional<PulseServer> server = PulseDevices()) {
        for (const PulseDevice& source : ListedSources(*server))
            list.push_back({source.description.empty() ? source.name : source.description,
                            "pulse:" + source.name, CLSID_PulseCapture,
                            [source](REFIID riid, void** out) {
                                return CreatePulseCapture(source, riid, out);
                            }});
        return list;
    }
    for (const AlsaCard& card : ListAlsaCards(Calls().api.cards)) {
        for (const AlsaCard::Pcm& pcm : card.captures) {
            // A card's first capture device is the card, as it always was
            // listed; a second one (an other input converter, a digital
            // input) names itself after the card.
            const bool first = pcm.device == card.capture_device;
            list.push_back(
                {first ? card.name
                       : card.name + ": " +
                             (pcm.name.empty() ? "device " + std::to_string(pcm.device) : pcm.name),
                 first ? "alsa:" + card.id : "alsa:" + card.id + "," + std::to_string(pcm.device),
                 CLSID_AlsaCapture, [card, device = pcm.device](REFIID riid, void** out) {
                     return CreateAlsaCapture(card, device, riid, out);
                 }});
        }
    }
    return list;
}

std::vector<int> SoundCardNumbers() {
    const AlsaCardApi cards = Calls().api.cards;
    std::vector<int> numbers;
    int number = -1;
    // ALSA has at most 32 cards; the bound keeps a table that never ends
    // from hanging the walk.
    while (cards.next_card && numbers.size() < 256 && cards.next_card(&number) >= 0 && number >= 0)
        numbers.push_back(number);
    return numbers;
}

void RegisterAlsaDevices() {
    static std::once_flag once;
    std::call_once(once, [] {
        DeviceRegistry::Instance().AddProvider(CLSID_AudioInputDeviceCategory,
                                               ProviderKind::Backend, AudioCaptureDevices);
    });
}

}  // namespace ronvix::media
