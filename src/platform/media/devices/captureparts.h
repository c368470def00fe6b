#pragma once
// Pieces every video capture device is built from: the test camera and the
// V4L2 cameras answer the same device interfaces the same way.
//
// - Delegating<I>: an interface whose identity and reference count are its
//   owner's (a control living inside a filter).
// - DropCounter: IAMDroppedFrames with real counts. Thread-safe.
// - CaptureFormat and FormatStreamConfig: the formats a capture pin offers,
//   IAMStreamConfig over them, and the format chosen with SetFormat.
// - JpegQualityCompression: IAMVideoCompression as a JPEG quality control.
// - FrameDelivery: the queue between a camera's capture thread and the
//   thread that hands its frames downstream, with the frame counting that
//   goes with it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/core/filter.h"

namespace ronvix::media {

template <class I>
class Delegating : public I {
public:
    explicit Delegating(com::IUnknown& owner) : m_owner(owner) {}
    HRESULT QueryInterface(REFIID riid, void** out) override {
        return m_owner.QueryInterface(riid, out);
    }
    ULONG AddRef() override { return m_owner.AddRef(); }
    ULONG Release() override { return m_owner.Release(); }

protected:
    com::IUnknown& m_owner;
};

// The test camera's property pages: its picture amplifier and its capture
// pin (a V4L2 camera lists the pages of what its device has).
class CameraPages final : public Delegating<ISpecifyPropertyPages> {
public:
    using Delegating::Delegating;
    HRESULT GetPages(CAUUID* pages) override;
};

// Frame counts of a capture stream since it last started. Thread-safe.
class DropCounter final : public Delegating<IAMDroppedFrames> {
public:
    using Delegating::Delegating;

    void Reset();
    // `count` frames from frame number `first` on were lost.
    void Dropped(uint32_t first, uint32_t count = 1);
    void Delivered(size_t bytes);

    HRESULT GetNumDropped(LONG* dropped) override;
    HRESULT GetNumNotDropped(LONG* not_dropped) override;
    // The frame numbers of the most recent drops, oldest first.
    HRESULT GetDroppedInfo(LONG size, LONG* array, LONG* copied) override;
    HRESULT GetAverageFrameSize(LONG* average) override;

private:
    std::mutex m_lock;
    // Guarded by m_lock.
    LONG m_dropped = 0;
    LONG m_delivered = 0;
    uint64_t m_bytes = 0;
    std::deque<LONG> m_history;
};

// One format of a capture pin: a VideoInfo type of this subtype, size and
// frame period (bottom-up bitmap height, as the engine's types have it).
struct CaptureFormat {
    GUID subtype;
    int width = 0;
    int height = 0;
    REFERENCE_TIME period = 0;

    bool operator==(const CaptureFormat&) const = default;
};

// The media type of `f`; MJPG types carry the JPEG size bound as image size
// and a bit rate from it.
MediaType CaptureMediaType(const CaptureFormat& f);
// Bits per pixel of an uncompressed subtype's frames (12 for 4:2:0 YUV).
int BitsPerPixel(const GUID& subtype);
// The format of `formats` that `mt` names (size and subtype; a period of 0
// in `mt` matches any), or nothing.
std::optional<CaptureFormat> FindCaptureFormat(const std::vector<CaptureFormat>& formats,
                                               const AM_MEDIA_TYPE& mt);

// IAMStreamConfig over a fixed list of formats. The first format is the
// default. Until SetFormat chooses one the pin offers every format;
// afterwards only the chosen one, and a connected pin is reconnected with
// it through its graph (or directly to its peer outside a graph).
// Control thread; the chosen format may be read from any thread.
class FormatStreamConfig final : public Delegating<IAMStreamConfig> {
public:
    FormatStreamConfig(com::IUnknown& owner, BaseFilter& filter, std::vector<CaptureFormat> formats)
        : Delegating(owner), m_filter(filter), m_formats(std::move(formats)) {}
    // The pin the formats are for; set once by the filter's constructor.
    void Attach(BaseOutputPin& pin) { m_pin = &pin; }

    const std::vector<CaptureFormat>& Formats() const { return m_formats; }
    std::optional<CaptureFormat> Chosen() const;
    // The format the stream has (the connection's) or will have.
    MediaType CurrentType() const;
    // For the pin's CheckMediaType and OfferedTypes.
    HRESULT Check(const AM_MEDIA_TYPE& mt) const;
    std::vector<MediaType> Offered() const;

    HRESULT SetFormat(AM_MEDIA_TYPE* mt) override;
    HRESULT GetFormat(AM_MEDIA_TYPE** mt) override;
    HRESULT GetNumberOfCapabilities(int* count, int* size) override;
    HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;

private:
    void Choose(std::optional<CaptureFormat> f);

    BaseFilter& m_filter;
    BaseOutputPin* m_pin = nullptr;
    const std::vector<CaptureFormat> m_formats;

    mutable std::mutex m_lock;
    // Guarded by m_lock.
    std::optional<CaptureFormat> m_chosen;
};

// IAMVideoCompression of a capture pin whose only compression setting is a
// JPEG quality (0..1): every frame a key frame, no P frames. The quality is
// read and written through the device's control.
class JpegQualityCompression final : public Delegating<IAMVideoCompression> {
public:
    struct Control {
        std::function<HRESULT(double)> set;  // E_INVALIDARG outside 0..1
        std::function<double()> get;
    };
    JpegQualityCompression(com::IUnknown& owner, std::u16string description, double default_quality,
                           Control control)
        : Delegating(owner),
          m_description(std::move(description)),
          m_default(default_quality),
          m_control(std::move(control)) {}

    HRESULT put_KeyFrameRate(LONG) override { return com::E_NOTIMPL; }
    HRESULT get_KeyFrameRate(LONG* rate) override;
    HRESULT put_PFramesPerKeyFrame(LONG) override { return com::E_NOTIMPL; }
    HRESULT get_PFramesPerKeyFrame(LONG* frames) override;
    HRESULT put_Quality(double quality) override;
    HRESULT get_Quality(double* quality) override;
    HRESULT put_WindowSize(uint64_t) override { return com::E_NOTIMPL; }
    HRESULT get_WindowSize(uint64_t* size) override;
    HRESULT GetInfo(LPWSTR version, int* version_len, LPWSTR description, int* description_len,
                    LONG* def_key_frame_rate, LONG* def_p_frames_per_key, double* def_quality,
                    LONG* capabilities) override;
    HRESULT OverrideKeyFrame(LONG) override { return com::E_NOTIMPL; }
    HRESULT OverrideFrameSize(LONG, LONG) override { return com::E_NOTIMPL; }

private:
    const std::u16string m_description;
    const double m_default;
    const Control m_control;
};

// ILiveCaptureEnd of a live source filter, over two calls of its own:
// `end` stops capturing without waiting; `wait` waits until what was
// captured was handed on, until the deadline at most, and says whether it
// was.
class LiveCaptureEnd final : public Delegating<ILiveCaptureEnd> {
public:
    struct Calls {
        std::function<void()> end;
        std::function<bool(std::chrono::steady_clock::time_point)> wait;
    };
    LiveCaptureEnd(com::IUnknown& owner, Calls calls)
        : Delegating(owner), m_calls(std::move(calls)) {}

    HRESULT EndCapture() override;
    HRESULT WaitDelivered(DWORD timeout_ms) override;

private:
    const Calls m_calls;
};

// A table of device calls that tests may swap, with a generation that
// changes at every swap, so state made through earlier calls (a listing, a
// device's shared state) is never reused. Thread-safe.
template <class Api>
class SwappableCalls {
public:
    struct Current {
        Api api;
        uint64_t generation = 0;
    };

    explicit SwappableCalls(Api (*real)()) : m_real(real), m_current{real(), 0} {}

    Current Get() const {
        std::lock_guard guard(m_lock);
        return m_current;
    }
    // `api` when it is filled in, the real calls otherwise.
    void Set(Api api, bool filled) {
        std::lock_guard guard(m_lock);
        m_current.api = filled ? std::move(api) : m_real();
        ++m_current.generation;
    }

private:
    Api (*const m_real)();
    mutable std::mutex m_lock;
    Current m_current;  // Guarded by m_lock.
};

// The hand-over between a camera's capture thread and its delivery thread,
// so that a consumer that blocks holds the delivery thread only and the
// capture thread never waits for it.
//
// Counting (when a DropCounter is given; a preview pin counts nothing): a
// frame the consumer took (S_OK) is delivered; any other answer (refused
// while stopping or flushing, or S_SAMPLE_LEFT_OUT from a mux that left it
// out) makes it dropped, and so does a frame still queued when the stream
// stops; a frame the consumer took after the end of its file
// (S_SAMPLE_PAST_END) counts as neither, as a capture that has ended. So the counter's delivered
// frames are the frames that reached the consumer's output.
//
// Threads: Start, RequestStop, WaitDelivered and Join on the control thread;
// Push and WaitIdle on the capture thread; the delivery thread is its own.
class FrameDelivery {
public:
    struct Frame {
        com::ComPtr<IMediaSample> sample;
        uint32_t number = 0;  // The frame's number, for the dropped history.
        size_t length = 0;
        bool end = false;  // The stream ended here: end of stream is sent.
    };

    FrameDelivery(BaseOutputPin& pin, DropCounter* counter) : m_pin(pin), m_counter(counter) {}
    ~FrameDelivery() { Join(); }

    // Starts the delivery thread, named `name` for per-thread tools.
    void Start(const char* name);
    // Capture thread: queues a frame for delivery.
    void Push(Frame frame);
    // Capture thread: waits until nothing is queued or being delivered.
    // False when `stop` was requested first.
    bool WaitIdle(std::stop_token stop);
    // Control thread, while the consumer still runs: waits until everything
    // queued so far was handed on, until `deadline` at most. True when done.
    bool WaitDelivered(std::chrono::steady_clock::time_point deadline);
    void RequestStop();
    // Joins the delivery thread (flushing a consumer that holds it) and
    // counts what is still queued as dropped.
    void Join();

private:
    void Run(std::stop_token stop);
    void CountDropped(uint32_t number);

    BaseOutputPin& m_pin;
    DropCounter* const m_counter;

    std::mutex m_lock;
    std::condition_variable_any m_cv;
    // Guarded by m_lock.
    std::deque<Frame> m_queue;
    bool m_delivering = false;  // The delivery thread holds a frame.

    std::jthread m_thread;
    std::atomic<bool> m_done{false};
};

}  // namespace ronvix::media
