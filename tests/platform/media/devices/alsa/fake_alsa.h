#pragma once
// A scripted machine of sound cards behind the ALSA call tables: cards with
// their PCM devices, mixers whose element values live in the card (so every
// mixer opened on it sees them, as with hardware), and a capture PCM whose
// sample clock runs at a chosen ratio of the graph's clock.
//
// The capture PCM is driven by its waits: each wait moves the graph's
// manual clock on by one step and the card captures what that step holds
// at its own rate. Every captured frame carries its frame number on the
// card (32 bits, in the first 4 bytes of the frame), so a test can tell the
// true capture time of any sample it receives.
//
// Created on the test thread; the tables are called on the engine's
// threads, and every member they touch is guarded by `lock`.

#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/media/core/engine_harness.h"
#include "platform/media/devices/alsa/alsaapi.h"
#include "platform/media/devices/alsa/audiooutput.h"

namespace ronvix::media::test {

struct FakeElement {
    AlsaMixerElement info;
    long volume = 0;
    bool on = true;
    unsigned item = 0;
};

struct FakeCard {
    int number = 0;
    std::string id;
    std::string name;
    int capture_device = 0;   // -1: none
    int playback_device = 0;  // -1: none
    std::vector<FakeElement> elements;
    std::vector<int> more_captures;  // Capture devices after the first.
};

class FakeAlsa {
public:
    std::mutex lock;
    // Guarded by `lock` once the tables are in use. Set up cards and
    // elements before: the tables hand out pointers into them.
    std::vector<FakeCard> cards;
    std::vector<std::string> opened;  // Every PCM name opened (probe, capture, playback).

    // The capture PCM.
    ManualClock* clock = nullptr;   // Moved on by each wait.
    REFERENCE_TIME step = 100'000;  // 10 ms per wait.
    REFERENCE_TIME end = 0;         // Clock time after which waits idle (0: never).
    double ratio = 1.0;             // Card frames per graph-clock frame.
    // How long a frame takes from the converter to the readable buffer (a
    // USB FIFO): the delay call reports it, the avail call does not.
    REFERENCE_TIME delay = 0;
    int rate = 48000;
    int block = 4;
    bool present = true;  // False: every call fails with `loss_error`.
    int loss_error = -ENODEV;
    REFERENCE_TIME lose_at = 0;              // Clock time at which the card vanishes (0: never).
    REFERENCE_TIME overrun_at = 0;           // Clock time of one overrun (0: none).
    REFERENCE_TIME overrun_gap = 2'000'000;  // How long the reader was late then.
    int starts = 0, recovers = 0, waits_after_end = 0, calls_after_loss = 0;
    std::vector<int> accept_bits{16};
    std::vector<int> accept_channels{1, 2};
    std::vector<int> accept_rates{44100, 48000};
    bool probe_busy = false;
    bool open_busy = false;                               // The capture open fails with EBUSY.
    std::string holder;                                   // What the holder lookup names.
    int open_bits = 0, open_channels = 0, open_rate = 0;  // Of the last capture open.
    // Instead of frame numbers, 16-bit sound: a quiet tone with a loud 3 kHz
    // burst for 20 ms from each whole second of the true clock.
    bool clapper = false;

    AlsaCardApi CardApi() {
        AlsaCardApi api;
        api.next_card = [this](int* card) {
            std::lock_guard guard(lock);
            int next = -1;
            for (const FakeCard& c : cards)
                if (c.number > *card && (next < 0 || c.number < next))
                    next = c.number;
            *card = next;
            return 0;
        };
        api.open_control = [this](int number, void** ctl) {
            std::lock_guard guard(lock);
            for (FakeCard& c : cards)
                if (c.number == number) {
                    *ctl = &c;
                    return 0;
                }
            return -ENODEV;
        };
        api.card_info = [](void* ctl, std::string* id, std::string* name) {
            *id = static_cast<FakeCard*>(ctl)->id;
            *name = static_cast<FakeCard*>(ctl)->name;
            return 0;
        };
        api.next_pcm_device = [](void* ctl, int* device) {
            const auto* c = static_cast<FakeCard*>(ctl);
            std::vector<int> all = c->more_captures;
            all.push_back(c->capture_device);
            all.push_back(c->playback_device);
            int next = -1;
            for (int d : all)
                if (d > *device && (next < 0 || d < next))
                    next = d;
            *device = next;
            return 0;
        };
        api.pcm_info = [](void* ctl, int device, bool capture, std::string* name) {
            const auto* c = static_cast<FakeCard*>(ctl);
            const bool has = capture
                                 ? c->capture_device == device ||
                                       std::find(c->more_captures.begin(), c->more_captures.end(),
                                                 device) != c->more_captures.end()
                                 : c->playback_device == device;
            if (has && name)
                *name = "PCM " + std::to_string(device);
            return has ? 0 : -ENOENT;
        };
        api.close_control = [](void*) {};
        return api;
    }

    AlsaCaptureApi CaptureApi() {
        AlsaCaptureApi api;
        api.cards = CardApi();
        api.open_probe = [this](const std::string& pcm, void** probe) {
            std::lock_guard guard(lock);
            opened.push_back(pcm);
            if (probe_busy)
                return -EBUSY;
            *probe = this;
            return 0;
        };
        api.test_format = [this](void*, int bits, int channels, int rate) {
            std::lock_guard guard(lock);
            auto has = [](const std::vector<int>& v, int x) {
                return std::find(v.begin(), v.end(), x) != v.end();
            };
            return has(accept_bits, bits) && has(accept_channels, channels) &&
                           has(accept_rates, rate)
                       ? 0
                       : -EINVAL;
        };
        api.close_probe = [](void*) {};
        api.open = [this](const std::string& pcm, int bits, int channels, int rate, void** handle) {
            std::lock_guard guard(lock);
            opened.push_back(pcm);
            if (!present)
                return -ENODEV;
            if (open_busy)
                return -EBUSY;
            open_bits = bits;
            open_channels = channels;
            open_rate = rate;
            *handle = this;
            return 0;
        };
        api.start = [this](void*) {
            std::lock_guard guard(lock);
            if (Gone())
                return loss_error;
            if (!m_started_once)
                m_card_start = Now();
            m_started_once = true;
            ++starts;
            return 0;
        };
        api.wait = [this](void*, int) {
            std::unique_lock guard(lock);
            if (Gone())
                return loss_error;
            if (end && Now() >= end) {
                ++waits_after_end;
                guard.unlock();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return 0;
            }
            clock->Advance(step);
            if (overrun_at && Now() >= overrun_at && !m_overran) {
                // The reader was late: the card's buffer filled meanwhile.
                clock->Advance(overrun_gap);
                m_overran = m_in_overrun = true;
            }
            return Gone() ? loss_error : 1;
        };
        api.avail = [this](void*) -> long {
            std::lock_guard guard(lock);
            if (Gone())
                return loss_error;
            if (m_in_overrun)
                return -EPIPE;
            return long(Captured() - m_consumed);
        };
        api.delay = [this](void*, long* frames) {
            std::lock_guard guard(lock);
            if (Gone())
                return loss_error;
            if (m_in_overrun)
                return -EPIPE;
            *frames =
                long(Captured() - m_consumed) + long(double(delay) * double(rate) * ratio / 1e7);
            return 0;
        };
        api.read = [this](void*, uint8_t* data, long frames) -> long {
            std::lock_guard guard(lock);
            if (Gone())
                return loss_error;
            if (m_in_overrun)
                return -EPIPE;
            const long n = std::min<long>(frames, long(Captured() - m_consumed));
            if (n <= 0)
                return -EAGAIN;
            std::memset(data, 0, size_t(n) * size_t(block));
            for (long i = 0; i < n; ++i) {
                const auto frame = uint32_t(m_consumed + i);
                uint8_t* at = data + size_t(i) * size_t(block);
                if (!clapper) {
                    std::memcpy(at, &frame, sizeof frame);
                    continue;
                }
                const REFERENCE_TIME t = TrueTime(frame);
                const double phase = 2 * 3.141592653589793 * 3000.0 * double(frame) / rate;
                const double v = t % 10'000'000 < 200'000 ? 0.9 : 0.1;
                const auto sample = int16_t(std::lround(v * std::sin(phase) * 32767));
                for (int c = 0; c + 2 <= block; c += 2)
                    std::memcpy(at + c, &sample, sizeof sample);
            }
            m_consumed += n;
            return n;
        };
        api.recover = [this](void*, int error) {
            std::lock_guard guard(lock);
            ++recovers;
            if (error != -EPIPE)
                return error;
            // What the card captured while overrun is gone.
            m_in_overrun = false;
            m_consumed = Captured();
            return 0;
        };
        api.close = [](void*) {};

        api.open_mixer = [this](const std::string& control, void** mixer) {
            std::lock_guard guard(lock);
            for (FakeCard& c : cards)
                if (control == "hw:CARD=" + c.id) {
                    *mixer = &c;
                    return 0;
                }
            return -ENOENT;
        };
        api.elements = [](void* mixer) {
            std::vector<void*> list;
            for (FakeElement& e : static_cast<FakeCard*>(mixer)->elements)
                list.push_back(&e);
            return list;
        };
        api.element_info = [](void* e, AlsaMixerElement* info) {
            *info = static_cast<FakeElement*>(e)->info;
            return 0;
        };
        api.update = [](void*) { return 0; };
        api.get_volume = [this](void* e, long* v) { return Get(e, v, &FakeElement::volume); };
        api.set_volume = [this](void* e, long v) { return Set(e, v, &FakeElement::volume); };
        api.get_switch = [this](void* e, bool* v) { return Get(e, v, &FakeElement::on); };
        api.set_switch = [this](void* e, bool v) { return Set(e, v, &FakeElement::on); };
        api.get_item = [this](void* e, unsigned* v) { return Get(e, v, &FakeElement::item); };
        api.set_item = [this](void* e, unsigned v) { return Set(e, v, &FakeElement::item); };
        api.close_mixer = [](void*) {};
        api.holder = [this](int, int) {
            std::lock_guard guard(lock);
            return holder;
        };
        return api;
    }

    AlsaPlaybackApi PlaybackApi() {
        AlsaPlaybackApi api;
        api.cards = CardApi();
        api.open = [this](const std::string& device, int, int, int, void** handle) {
            std::lock_guard guard(lock);
            opened.push_back(device);
            *handle = this;
            return 0;
        };
        api.wait = [](void*, int) { return 1; };
        api.write = [](void*, const uint8_t*, long frames) -> long { return frames; };
        api.recover = [](void*, int error) { return error; };
        api.close = [](void*) {};
        return api;
    }

    // The stream time of card frame `frame` on the graph's clock (the card
    // starts at stream time 0: the clock only moves in waits).
    REFERENCE_TIME TrueTime(uint32_t frame) const {
        return REFERENCE_TIME(double(frame) * 1e7 / (double(rate) * ratio));
    }

    FakeElement& Element(size_t card, std::string_view name) {
        for (FakeElement& e : cards[card].elements)
            if (e.info.name == name)
                return e;
        throw std::out_of_range(std::string(name));
    }

private:
    REFERENCE_TIME Now() const {
        REFERENCE_TIME now = 0;
        clock->GetTime(&now);
        return now;
    }
    bool Gone() {
        if (lose_at && Now() >= lose_at)
            present = false;
        if (!present)
            ++calls_after_loss;
        return !present;
    }
    // The frames readable now: those that entered the device `delay` ago.
    int64_t Captured() const {
        return std::max<int64_t>(
            0, int64_t(double(Now() - m_card_start - delay) * double(rate) * ratio / 1e7));
    }
    template <class T, class V>
    int Get(void* e, V* out, T FakeElement::*member) {
        std::lock_guard guard(lock);
        *out = static_cast<FakeElement*>(e)->*member;
        return 0;
    }
    template <class T, class V>
    int Set(void* e, V value, T FakeElement::*member) {
        std::lock_guard guard(lock);
        static_cast<FakeElement*>(e)->*member = value;
        return 0;
    }

    // Guarded by `lock`.
    REFERENCE_TIME m_card_start = 0;
    bool m_started_once = false;
    int64_t m_consumed = 0;  // Frames read or lost since the start.
    bool m_overran = false, m_in_overrun = false;
};

inline AlsaMixerElement CaptureElement(std::string name, bool volume, bool on_switch,
                                       long max = 100, unsigned index = 0) {
    AlsaMixerElement e;
    e.name = std::move(name);
    e.index = index;
    e.capture_volume = volume;
    e.capture_switch = on_switch;
    e.volume_max = volume ? max : 0;
    return e;
}

inline AlsaMixerElement SourceElement(std::string name, std::vector<std::string> items) {
    AlsaMixerElement e;
    e.name = std::move(name);
    e.capture_source = true;
    e.items = std::move(items);
    return e;
}

}  // namespace ronvix::media::test
