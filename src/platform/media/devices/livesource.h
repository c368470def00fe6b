#pragma once
// What the live sources share: pacing on the graph's clock (LivePacer), the
// timestamps of live audio (AudioStamps), and the audio capture device
// filter that the tone generator and the sound cards are built on
// (LiveAudioSource, with its input lines).
//
// LivePacer.
// A live source runs on the graph's clock: its streaming thread waits for
// the stream time of each frame or buffer, produces it then, and never
// blocks on its consumer. When no output buffer is free by the frame's
// deadline the frame is dropped and counted. Without a graph clock (a
// filter run on its own) the pacer uses the monotonic clock from the moment
// the filter ran.
//
// Threads: OnRun and Wake are called on the control thread; the waits on a
// streaming thread. Every wait ends at once when its stop token is
// requested, and re-checks the filter state when woken.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/core/filter.h"
#include "platform/media/devices/captureparts.h"

namespace ronvix::media {

// Joins a streaming thread that may be inside a call downstream. A consumer
// that keeps a Receive blocked after the stop (one that is not being
// stopped itself) is flushed through `pin`, which wakes it, and the flush
// ends once the thread is gone. `done` is set by the thread as it ends.
void JoinDelivery(std::jthread& thread, const std::atomic<bool>& done, BaseOutputPin& pin);

class LivePacer {
public:
    explicit LivePacer(BaseFilter& filter) : m_filter(filter) {}

    // The filter started running (again): note the local start and wake
    // waiting threads.
    void OnRun();
    // Wakes every waiting thread so it re-checks the state (pause, stop).
    void Wake();

    // The current stream time.
    REFERENCE_TIME Now() const;
    // Waits while the filter is paused. False when stopped, stop requested,
    // or `give_up` (when given) was set and the waiters woken: a capture a
    // stopping graph ends while it is paused has nothing more to hand on.
    bool WaitRunning(std::stop_token stop, const std::atomic<bool>* give_up = nullptr);
    // Waits until the stream time reaches `time`. False when the filter
    // left Running or stop was requested meanwhile.
    bool WaitFor(REFERENCE_TIME time, std::stop_token stop);
    // True once after each OnRun for each caller slot (0..3): a streaming
    // thread re-anchors after a pause.
    bool TakeRestart(int slot);

    // Gets a free buffer of `pin`, waiting until stream time `deadline` at
    // most. S_OK with a sample; VFW_E_TIMEOUT when none became free in time;
    // another failure when the pin stopped or lost its connection.
    HRESULT BufferBefore(BaseOutputPin& pin, REFERENCE_TIME deadline, std::stop_token stop,
                         IMediaSample** sample);

private:
    REFERENCE_TIME ClockNow() const;

    BaseFilter& m_filter;
    std::atomic<REFERENCE_TIME> m_local_start{0};
    std::atomic<unsigned> m_restart{0};

    std::mutex m_lock;
    std::condition_variable_any m_wake;
    // Guarded by m_lock.
    uint64_t m_generation = 0;
};

// Time stamps of a live audio stream from its count of frames, and the
// sound the device lost.
//
// A sound card's sample clock is its own crystal: it runs tens to hundreds
// of ppm (a cheap one, per cent) off the graph's clock. Each observation
// pairs the device's count of captured frames with the graph's stream time;
// a line fitted through the recent observations (an exponentially weighted
// least-squares fit over about twenty seconds) gives the stream time of any
// frame, so the stamps follow the card's real rate to within a millisecond
// or two and change smoothly, with no jumps for the mux to act on.
//
// Lost sound: when the count falls behind the fitted clock by more than
// kLossThreshold (a stall, an overrun the device recovered from, a driver
// hiccup), the frames that were not captured are counted as lost and the
// stream's positions skip them, so every later frame keeps its time: the
// mux fills the gap in the positions with silence of the same length.
// Positions are the device's frames plus what it lost. A count that runs
// ahead of the fitted clock by as much (which a working device does not
// do) starts the fit again from that observation.
//
// One streaming thread uses an instance; not thread-safe.
class AudioStamps {
public:
    // How far the count may fall behind the clock before the difference is
    // sound the device lost: two buffers, well above the granularity at
    // which a card's count advances.
    static constexpr REFERENCE_TIME kLossThreshold = 400'000;

    explicit AudioStamps(int64_t rate);

    struct Observation {
        int64_t lost = 0;         // Frames found lost at this observation.
        bool reanchored = false;  // The fit started again here.
    };
    // The device had captured `frames` frames since it started when the
    // graph's stream time was `now`. The first call anchors. A source that
    // knows it lost sound (an overrun) passes a smaller `threshold`, so that
    // a short loss is measured too.
    Observation Observe(int64_t frames, REFERENCE_TIME now,
                        REFERENCE_TIME threshold = kLossThreshold);
    bool Anchored() const { return m_weight > 0; }
    // The stream position of device frame `frame`.
    int64_t Position(int64_t frame) const { return frame + m_lost; }
    // The stamp of stream position `position` (the start of that frame).
    REFERENCE_TIME TimeOf(int64_t position) const;
    // Frames lost so far, and the fits started again.
    int64_t Lost() const { return m_lost; }
    int Reanchors() const { return m_reanchors; }
    // The fitted length of one frame, 100 ns units.
    double FrameLength() const;

private:
    void Reset(int64_t position, REFERENCE_TIME now);

    int64_t m_rate;
    double m_nominal;  // 100 ns units per frame at the nominal rate.
    int64_t m_lost = 0;
    int m_reanchors = 0;
    // The fit, in coordinates relative to the latest observation (m_ref_*)
    // so that sums stay small: weighted sums of dx, dy, dx^2, dx*dy.
    int64_t m_ref_position = 0;
    REFERENCE_TIME m_ref_time = 0;
    double m_weight = 0, m_sx = 0, m_sy = 0, m_sxx = 0, m_sxy = 0;
};

// The controls behind an audio capture device's input lines. One object
// per device, shared by every filter instance of it, so a new instance shows
// what the last one set; thread-safe. Lines are numbered from 0 in pin
// order; a number out of range fails with E_INVALIDARG.
class AudioInputLines {
public:
    virtual ~AudioInputLines() = default;
    virtual size_t Count() const = 0;
    virtual std::u16string Name(size_t line) const = 0;
    virtual HRESULT GetEnabled(size_t line, bool* enabled) = 0;
    // Where lines are exclusive, enabling one disables the others.
    virtual HRESULT SetEnabled(size_t line, bool enabled) = 0;
    // Level 0..1.
    virtual HRESULT GetLevel(size_t line, double* level) = 0;
    // E_INVALIDARG outside 0..1.
    virtual HRESULT SetLevel(size_t line, double level) = 0;
};

class LiveAudioCapturePin;

// An audio capture device filter.
//
// Pins: "Capture" (capture category) first, offering the device's PCM
// formats and IAMStreamConfig over them (until SetFormat chooses one, every
// format; then only that one) and IAMDroppedFrames (in 20 ms buffers); then
// one input pin per input line, named as the line, each answering
// IAMAudioInputMixer over the shared line controls. Input lines take no
// connection. The filter answers ISpecifyPropertyPages (the "Audio Mixer"
// page). Controls work whether or not the filter is in a graph.
//
// Streaming: leaving Stopped with the capture pin connected opens the
// device (a failure fails the state change) and starts one streaming
// thread, which runs the device's Stream until the filter stops; Stop
// joins it and then closes the device. A paused live source delivers
// nothing (GetState gives VFW_S_CANT_CUE). The filter answers
// ILiveCaptureEnd: when a stopping graph ends the capture, Stream sees
// CaptureEnding(), hands on what the device already captured and returns.
class LiveAudioSource : public BaseFilter {
public:
    // Buffers of 20 ms.
    static constexpr int kBuffersPerSecond = 50;
    static constexpr LONG kBuffers = 8;

    LiveAudioSource(const GUID& clsid, std::shared_ptr<AudioInputLines> lines);
    ~LiveAudioSource() override;

    // The formats the device offers, the default first. Control thread.
    virtual std::vector<MediaType> Formats() = 0;

    // The format chosen through IAMStreamConfig, if any. Any thread.
    std::optional<MediaType> Chosen() const;
    void Choose(std::optional<MediaType> mt);
    // The format the stream has (the connection's) or will have; nothing
    // when the device offers no format now.
    std::optional<MediaType> CurrentFormat();
    // S_OK when `mt` is one of Formats() (and the chosen one, once chosen).
    HRESULT CheckFormat(const AM_MEDIA_TYPE& mt);
    // Whether `format` is one of Formats().
    bool Offers(const WAVEFORMATEX& format);

    BaseOutputPin& CapturePin();
    AudioInputLines* Lines() const { return m_lines.get(); }

    // Frames in one buffer of `format`.
    static int64_t FramesPerBuffer(const WAVEFORMATEX& format);

protected:
    // Leaving Stopped with the capture pin connected; under the control lock.
    virtual HRESULT OpenDevice(const WAVEFORMATEX& format) {
        (void)format;
        return com::S_OK;
    }
    // The streaming thread's body: returns when `stop` is requested, the
    // filter stopped, or the stream ended.
    virtual void Stream(std::stop_token stop, const WAVEFORMATEX& format) = 0;
    // After the streaming thread was joined; outside the control lock.
    virtual void CloseDevice() {}

    LivePacer& Pacer() { return m_pacer; }
    DropCounter& Drops();
    // The graph is stopping: Stream delivers what was captured and returns.
    bool CaptureEnding() const { return m_ending.load(); }
    // Once CaptureEnding: the stream time the capture ended at. Sound the
    // device captured before it belongs in the file even when the device
    // hands it on later; sound after it does not.
    REFERENCE_TIME CaptureEndTime() const { return m_end_time.load(); }
    // Waits until the graph runs; false when it stopped, a stop was
    // requested or the capture was ended first (see LivePacer::WaitRunning).
    bool WaitRunningOrEnd(std::stop_token stop) { return m_pacer.WaitRunning(stop, &m_ending); }
    // A free buffer of at least `bytes` for buffer number `buffer`, never
    // waiting: null when none is free (the buffer counts as dropped and
    // `discontinuity` is set), and VFW_E_NOT_CONNECTED in `*hr` when the pin
    // has nobody to deliver to.
    com::ComPtr<IMediaSample> TakeBuffer(size_t bytes, uint32_t buffer, bool& discontinuity,
                                         HRESULT* hr);
    // Stamps `sample` with the `frames` read at `position` on `stamps`'
    // clock (one block each), clears `discontinuity` into it and delivers.
    HRESULT DeliverRead(IMediaSample* sample, const AudioStamps& stamps, int64_t position,
                        long frames, size_t block, bool& discontinuity);

    HRESULT QueryInterfaceExtra(REFIID riid, void** out) override;
    HRESULT OnActivate() override;
    void OnRun(REFERENCE_TIME) override { m_pacer.OnRun(); }
    void OnPauseFromRunning() override { m_pacer.Wake(); }
    void OnStopRequest() override;
    void OnStopJoin() override;
    HRESULT StateResult(DWORD) override;

private:
    friend class LiveAudioCapturePin;
    class Pages;
    class StreamConfig;

    LivePacer m_pacer;
    std::atomic<REFERENCE_TIME> m_end_time{0};  // stored before m_ending
    std::atomic<bool> m_ending{false};
    const std::shared_ptr<AudioInputLines> m_lines;
    std::unique_ptr<Pages> m_pages;
    std::unique_ptr<LiveCaptureEnd> m_capture_end;
    std::unique_ptr<StreamConfig> m_config;
    LiveAudioCapturePin* m_capture = nullptr;

    mutable std::mutex m_format_lock;
    // Guarded by m_format_lock.
    std::optional<MediaType> m_chosen;
};

}  // namespace ronvix::media
