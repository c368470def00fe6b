#pragma once
// A camera and a sound card with the faults of real ones (imperfections.h),
// simulated without threads or waiting: they produce their frames and
// buffers in the order real devices would deliver them, with the stamps and
// positions our sources give them (the camera: its frame number and the
// time of capture plus jitter; the sound card: AudioStamps over its count),
// so an hour of capture takes a moment. The camera marks each frame that
// holds a whole second of the true clock, the sound card plays a burst
// there: the clapper a sync check looks for.

#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <vector>

#include "platform/media/core/types.h"
#include "platform/media/devices/imperfections.h"
#include "platform/media/devices/livesource.h"

namespace ronvix::media::test {

inline constexpr REFERENCE_TIME kSimSecond = 10'000'000;
inline constexpr REFERENCE_TIME kSimBurst = 200'000;  // 20 ms.

struct SimSetup {
    Imperfections camera;
    int64_t fps_num = 25, fps_den = 1;
    Imperfections card;
    int64_t sample_rate = 8000;
    int64_t buffer_frames = 160;  // 20 ms at 8000 Hz.
    bool samples = false;         // Make the sound (mono 16-bit).
};

struct SimFrame {
    int64_t number = 0;
    REFERENCE_TIME true_time = 0;  // When the camera captured it.
    REFERENCE_TIME period = 0;     // The camera's own frame length.
    REFERENCE_TIME stamp = 0;
    bool white = false;  // It holds a whole second.
};

struct SimBuffer {
    int64_t device = 0;    // The card's number of its first frame.
    int64_t position = 0;  // Of its first frame, the source's count.
    int64_t frames = 0;
    REFERENCE_TIME stamp = 0;
    bool discontinuity = false;
    std::vector<int16_t> samples;  // When the setup asks for them.
};

class SimulatedDevices {
public:
    explicit SimulatedDevices(SimSetup setup)
        : m_setup(setup),
          m_camera(setup.camera, double(setup.fps_num) / double(setup.fps_den)),
          m_card(setup.card, double(setup.sample_rate)),
          m_stamps(setup.sample_rate) {}

    // Delivers everything captured until stream time `until`, in time order.
    // Frames and buffers the devices lost are not delivered; `lost_frames`
    // and `lost_buffers` count them.
    void Run(REFERENCE_TIME until, const std::function<void(const SimFrame&)>& video,
             const std::function<void(const SimBuffer&)>& audio) {
        for (;;) {
            const REFERENCE_TIME frame_at = video ? m_camera.FrameTime(m_frame) : until;
            const REFERENCE_TIME buffer_at =
                audio ? m_card.SampleTime(m_device + m_setup.buffer_frames) : until;
            if (std::min(frame_at, buffer_at) >= until)
                return;
            if (frame_at <= buffer_at)
                NextFrame(video);
            else
                NextBuffer(buffer_at, audio);
        }
    }

    int64_t lost_frames = 0;
    int64_t lost_white = 0;  // Lost frames that held a whole second.
    int64_t lost_buffers = 0;
    int64_t frames_delivered = 0;
    int64_t buffers_delivered = 0;
    // Audio frames the card's count skipped in stalls (found by the stamps).
    int64_t LostSound() const { return m_stamps.Lost(); }
    const ImperfectClock& Camera() const { return m_camera; }
    const ImperfectClock& Card() const { return m_card; }

private:
    void NextFrame(const std::function<void(const SimFrame&)>& video) {
        const int64_t n = m_frame++;
        SimFrame f;
        f.number = n;
        f.true_time = m_camera.FrameTime(n);
        f.period = REFERENCE_TIME(std::llround(m_camera.TickLength()));
        f.stamp = std::max<REFERENCE_TIME>(0, m_camera.StampOf(n));
        const REFERENCE_TIME next_second = (f.true_time + kSimSecond - 1) / kSimSecond * kSimSecond;
        f.white = next_second < f.true_time + f.period;
        if (m_camera.FrameLost(n)) {
            ++lost_frames;
            lost_white += f.white;
            return;
        }
        ++frames_delivered;
        video(f);
    }

    void NextBuffer(REFERENCE_TIME now, const std::function<void(const SimBuffer&)>& audio) {
        const int64_t n = m_setup.buffer_frames;
        const AudioStamps::Observation seen = m_stamps.Observe(m_card.SamplesAt(now), now);
        bool discontinuity = m_discontinuity || seen.lost > 0 || seen.reanchored;
        SimBuffer b;
        b.device = m_device;
        b.position = m_stamps.Position(m_device);
        b.frames = n;
        b.stamp = m_stamps.TimeOf(b.position);
        const int64_t first = m_device;
        m_device += n;
        if (m_card.BufferLost(m_buffer++)) {
            ++lost_buffers;
            m_discontinuity = true;
            return;
        }
        b.discontinuity = discontinuity;
        m_discontinuity = false;
        if (m_setup.samples) {
            b.samples.resize(size_t(n));
            for (int64_t i = 0; i < n; ++i) {
                const REFERENCE_TIME t = m_card.SampleTime(first + i);
                const double phase =
                    2 * std::numbers::pi * 3000.0 * double(first + i) / double(m_setup.sample_rate);
                const double v = t >= 0 && t % kSimSecond < kSimBurst ? 0.9 * std::sin(phase)
                                                                      : 0.1 * std::sin(phase / 7);
                b.samples[size_t(i)] = int16_t(std::lround(v * 32767));
            }
        }
        ++buffers_delivered;
        audio(b);
    }

    const SimSetup m_setup;
    const ImperfectClock m_camera;
    const ImperfectClock m_card;
    AudioStamps m_stamps;
    int64_t m_frame = 0;
    int64_t m_device = 0;  // Card frames handed on or lost.
    int64_t m_buffer = 0;
    bool m_discontinuity = false;
};

}  // namespace ronvix::media::test
