// The Test Pattern Camera: a live video source with a capture pin (MJPG or
// YUY2) and a preview pin (RGB32) that show the same picture, paced on the
// graph clock.

#include <pthread.h>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/com/object.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/codecs/jpegrows.h"
#include "platform/media/codecs/videotransform.h"
#include "platform/media/devices/captureparts.h"
#include "platform/media/devices/devicecontrols.h"
#include "platform/media/devices/imperfections.h"
#include "platform/media/devices/livesource.h"
#include "platform/media/devices/propertypages.h"
#include "platform/media/devices/virtual/testpattern.h"
#include "platform/media/devices/virtual/virtualdevices.h"

namespace ronvix::media {

using namespace com;

namespace {

constexpr REFERENCE_TIME k25fps = 400'000;
constexpr REFERENCE_TIME k30fps = 333'333;
constexpr LONG kCaptureBuffers = 4;

const std::vector<CaptureFormat>& Formats() {
    static const std::vector<CaptureFormat> formats = {
        {MEDIASUBTYPE_MJPG, 720, 576, k25fps},
        {MEDIASUBTYPE_MJPG, 640, 480, k30fps},
        {MEDIASUBTYPE_MJPG, 1280, 720, k25fps},
        {MEDIASUBTYPE_MJPG, 1920, 1080, k25fps},
        {MEDIASUBTYPE_YUY2, 720, 576, k25fps},
        {MEDIASUBTYPE_YUY2, 640, 480, k30fps},
        // HD as today's cameras and grabbers offer it. Appended, so that a
        // format index stored by an earlier version names the same format.
        {MEDIASUBTYPE_MJPG, 1280, 720, k30fps},
        {MEDIASUBTYPE_MJPG, 1920, 1080, k30fps},
        {MEDIASUBTYPE_YUY2, 1280, 720, k25fps},
        {MEDIASUBTYPE_YUY2, 1280, 720, k30fps},
        {MEDIASUBTYPE_YUY2, 1920, 1080, k25fps},
        {MEDIASUBTYPE_YUY2, 1920, 1080, k30fps},
        // Ultra HD, as cameras and grabbers of today offer it compressed.
        {MEDIASUBTYPE_MJPG, 3840, 2160, k30fps},
    };
    return formats;
}

// The preview's RGB32 picture, kept from frame to frame: only the rows
// whose pixels changed are converted again, and the whole picture is then
// copied into the frame's buffer (pool buffers come back in any order, so
// none of them holds the last frame).
class Rgb32Rows {
public:
    void Convert(const Yuv422Image& picture, uint8_t* dst, bool bottom_up) {
        const size_t size = Rgb32ImageSize(picture.width, picture.height);
        if (m_last.width != picture.width || m_last.height != picture.height ||
            m_bottom_up != bottom_up || m_rgb.size() != size) {
            m_last = picture;
            m_bottom_up = bottom_up;
            m_rgb.resize(size);
            Yuv422ToRgb32(picture, m_rgb.data(), bottom_up);
        } else {
            const size_t w = size_t(picture.width), cw = size_t(picture.ChromaWidth());
            for (int row = 0; row < picture.height; ++row) {
                const size_t r = size_t(row);
                if (std::memcmp(&picture.y[r * w], &m_last.y[r * w], w) == 0 &&
                    std::memcmp(&picture.u[r * cw], &m_last.u[r * cw], cw) == 0 &&
                    std::memcmp(&picture.v[r * cw], &m_last.v[r * cw], cw) == 0)
                    continue;
                Yuv422RowsToRgb32(picture, row, row + 1, m_rgb.data(), bottom_up);
                std::memcpy(&m_last.y[r * w], &picture.y[r * w], w);
                std::memcpy(&m_last.u[r * cw], &picture.u[r * cw], cw);
                std::memcpy(&m_last.v[r * cw], &picture.v[r * cw], cw);
            }
        }
        std::memcpy(dst, m_rgb.data(), size);
    }

private:
    Yuv422Image m_last;
    bool m_bottom_up = false;
    std::vector<uint8_t> m_rgb;
};

class TestCamera;

enum class PinKind { Capture, Preview };

class CameraPin final : public BaseOutputPin {
public:
    CameraPin(TestCamera& camera, PinKind kind);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
    std::vector<MediaType> OfferedTypes() override;

    // Control thread, under the filter's control lock.
    void StartStreaming();
    // Control thread: no frame is made from now on (the capture of a
    // stopping graph ends); what was made is still delivered.
    void EndCapture();
    // Control thread, after EndCapture: waits until every frame made was
    // handed on, until `deadline` at most.
    bool WaitDelivered(std::chrono::steady_clock::time_point deadline);
    void RequestStop();
    // Outside the control lock. Frames still queued when the stream stops
    // were never delivered: they count as dropped.
    void JoinStreaming();

protected:
    HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES& props) override;
    HRESULT QueryPinInterface(REFIID riid, void** out) override;

private:
    // The capture thread: paces, draws and fills pool buffers; never waits
    // for the consumer, so a stalled consumer empties the pool and frames
    // are dropped (and counted) as they fall due.
    void Produce(std::stop_token stop, MediaType mt, Imperfections faults);
    void CountDropped(uint32_t index);

    TestCamera& m_camera;
    const PinKind m_kind;
    // The delivery thread is the one a blocking consumer holds.
    FrameDelivery m_delivery;
    std::jthread m_producer;
    std::atomic<bool> m_producer_done{true};
};

class ProcAmp final : public Delegating<IAMVideoProcAmp> {
public:
    using Delegating::Delegating;
    HRESULT GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def,
                     LONG* caps) override {
        if (!min || !max || !step || !def || !caps)
            return E_POINTER;
        if (!CameraControls::Supports(property))
            return E_PROP_ID_UNSUPPORTED;
        *min = CameraControls::kMin;
        *max = CameraControls::kMax;
        *step = CameraControls::kStep;
        *def = CameraControls::kDefault;
        *caps = VideoProcAmp_Flags_Manual;
        return S_OK;
    }
    // These properties have no automatic mode: the value applies whatever
    // the flags say.
    HRESULT Set(LONG property, LONG value, LONG) override {
        return CameraControls::Device()->SetProperty(property, value);
    }
    HRESULT Get(LONG property, LONG* value, LONG* flags) override {
        if (!value || !flags)
            return E_POINTER;
        const HRESULT hr = CameraControls::Device()->GetProperty(property, value);
        if (SUCCEEDED(hr))
            *flags = VideoProcAmp_Flags_Manual;
        return hr;
    }
};

class TestCamera final : public BaseFilter {
public:
    explicit TestCamera(const VirtualDeviceHooks& hooks)
        : BaseFilter(CLSID_TestPatternCamera),
          m_hooks(hooks),
          m_pacer(*this),
          m_drops(AsUnknown()),
          m_config(AsUnknown(), *this, Formats()),
          m_compression(AsUnknown(), u"Test Pattern Camera JPEG", 0.75,
                        {[](double q) { return CameraControls::Device()->SetQuality(q); },
                         [] { return CameraControls::Device()->Quality(); }}),
          m_procamp(AsUnknown()),
          m_pages(AsUnknown()),
          m_capture_end(AsUnknown(), {[this] { EndCapture(); },
                                      [this](auto deadline) { return WaitDelivered(deadline); }}) {
        m_capture =
            static_cast<CameraPin*>(AddPin(std::make_unique<CameraPin>(*this, PinKind::Capture)));
        m_preview =
            static_cast<CameraPin*>(AddPin(std::make_unique<CameraPin>(*this, PinKind::Preview)));
        m_config.Attach(*m_capture);
    }

    // Never changed after construction: any thread.
    const VirtualDeviceHooks& Hooks() const { return m_hooks; }
    LivePacer& Pacer() { return m_pacer; }
    DropCounter& Drops() { return m_drops; }
    FormatStreamConfig& Config() { return m_config; }
    JpegQualityCompression& Compression() { return m_compression; }
    CameraPin& Capture() { return *m_capture; }

    // The format the capture stream has or will have.
    MediaType CaptureFormat() const { return m_config.CurrentType(); }

protected:
    HRESULT QueryInterfaceExtra(REFIID riid, void** out) override {
        if (riid == IAMVideoProcAmp::iid)
            return ReturnInterface<IAMVideoProcAmp>(&m_procamp, out);
        if (riid == IAMDroppedFrames::iid)
            return ReturnInterface<IAMDroppedFrames>(&m_drops, out);
        if (riid == ISpecifyPropertyPages::iid)
            return ReturnInterface<ISpecifyPropertyPages>(&m_pages, out);
        if (riid == ILiveCaptureEnd::iid)
            return ReturnInterface<ILiveCaptureEnd>(&m_capture_end, out);
        return BaseFilter::QueryInterfaceExtra(riid, out);
    }

    HRESULT OnActivate() override {
        m_drops.Reset();
        m_capture->StartStreaming();
        m_preview->StartStreaming();
        return S_OK;
    }
    void OnRun(REFERENCE_TIME) override { m_pacer.OnRun(); }
    void OnPauseFromRunning() override { m_pacer.Wake(); }
    void OnStopRequest() override {
        m_capture->RequestStop();
        m_preview->RequestStop();
        m_pacer.Wake();
    }
    void OnStopJoin() override {
        m_capture->JoinStreaming();
        m_preview->JoinStreaming();
    }
    // A live source delivers nothing while paused.
    HRESULT StateResult(DWORD) override { return State() == State_Paused ? VFW_S_CANT_CUE : S_OK; }

private:
    IUnknown& AsUnknown() { return *static_cast<IBaseFilter*>(this); }
    void EndCapture() {
        m_capture->EndCapture();
        m_preview->EndCapture();
        m_pacer.Wake();
    }
    bool WaitDelivered(std::chrono::steady_clock::time_point deadline) {
        return m_capture->WaitDelivered(deadline);
    }

    const VirtualDeviceHooks m_hooks;
    LivePacer m_pacer;
    DropCounter m_drops;
    FormatStreamConfig m_config;
    JpegQualityCompression m_compression;
    ProcAmp m_procamp;
    CameraPages m_pages;
    LiveCaptureEnd m_capture_end;
    CameraPin* m_capture = nullptr;
    CameraPin* m_preview = nullptr;
};

CameraPin::CameraPin(TestCamera& camera, PinKind kind)
    : BaseOutputPin(camera, kind == PinKind::Capture ? u"Capture" : u"Preview",
                    kind == PinKind::Capture ? PIN_CATEGORY_CAPTURE : PIN_CATEGORY_PREVIEW),
      m_camera(camera),
      m_kind(kind),
      m_delivery(*this, kind == PinKind::Capture ? &camera.Drops() : nullptr) {}

HRESULT CameraPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
    if (m_kind == PinKind::Capture) {
        return m_camera.Config().Check(mt);
    }
    VideoGeometry g;
    if (mt.subtype != MEDIASUBTYPE_RGB32 || !ReadGeometry(mt, &g) || g.width % 2 ||
        g.width > 3840 || g.height > 2160 || g.time_per_frame < 0)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

std::vector<MediaType> CameraPin::OfferedTypes() {
    if (m_kind == PinKind::Capture) {
        return m_camera.Config().Offered();
    }
    VideoGeometry g;
    const MediaType capture = m_camera.CaptureFormat();
    ReadGeometry(capture.Get(), &g);
    return {MediaType::Video(MEDIASUBTYPE_RGB32, g.width, g.height, 32, g.time_per_frame)};
}

HRESULT CameraPin::DecideBufferSize(ALLOCATOR_PROPERTIES& props) {
    const MediaType mt = ConnectionType();
    VideoGeometry g;
    if (!ReadGeometry(mt.Get(), &g))
        return VFW_E_TYPE_NOT_ACCEPTED;
    size_t size = 0;
    if (mt->subtype == MEDIASUBTYPE_MJPG)
        size = JpegRowEncoder::MaxSize(g.width, g.height);
    else if (mt->subtype == MEDIASUBTYPE_YUY2)
        size = Yuy2ImageSize(g.width, g.height);
    else
        size = Rgb32ImageSize(g.width, g.height);
    props.cBuffers = std::max<LONG>(props.cBuffers, kCaptureBuffers);
    props.cbBuffer = std::max<LONG>(props.cbBuffer, static_cast<LONG>(size));
    return S_OK;
}

HRESULT CameraPin::QueryPinInterface(REFIID riid, void** out) {
    if (m_kind == PinKind::Capture) {
        if (riid == IAMStreamConfig::iid)
            return ReturnInterface<IAMStreamConfig>(&m_camera.Config(), out);
        if (riid == IAMVideoCompression::iid)
            return ReturnInterface<IAMVideoCompression>(&m_camera.Compression(), out);
        if (riid == IAMDroppedFrames::iid)
            return ReturnInterface<IAMDroppedFrames>(&m_camera.Drops(), out);
    }
    return BaseOutputPin::QueryPinInterface(riid, out);
}

void CameraPin::StartStreaming() {
    if (!IsConnected())
        return;
    // Named so that per-thread tools (top -H, the live capture benchmark)
    // tell the camera's picture making from its delivery down the graph.
    const bool capture = m_kind == PinKind::Capture;
    m_producer_done.store(false);
    m_producer = std::jthread([this, capture, mt = ConnectionType(),
                               faults = m_camera.Hooks().camera_faults](std::stop_token stop) {
        pthread_setname_np(pthread_self(), capture ? "rx-cam-capture" : "rx-cam-preview");
        Produce(stop, mt, faults);
        m_producer_done.store(true);
    });
    m_delivery.Start(capture ? "rx-cam-deliver" : "rx-prv-deliver");
}

void CameraPin::EndCapture() {
    m_producer.request_stop();
}

bool CameraPin::WaitDelivered(std::chrono::steady_clock::time_point deadline) {
    // The capture thread ends at once (its waits end with the stop request,
    // and a frame it was making is queued first), unless it waits for a
    // buffer the consumer holds: then the stop's decommit ends that wait.
    while (!m_producer_done.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return m_producer_done.load() && m_delivery.WaitDelivered(deadline);
}

void CameraPin::RequestStop() {
    m_producer.request_stop();
    m_delivery.RequestStop();
}

void CameraPin::JoinStreaming() {
    if (m_producer.joinable())
        m_producer.join();
    m_delivery.Join();
}

void CameraPin::CountDropped(uint32_t index) {
    if (m_kind == PinKind::Capture)
        m_camera.Drops().Dropped(index);
}

void CameraPin::Produce(std::stop_token stop, MediaType mt, Imperfections faults) {
    VideoGeometry g;
    if (!ReadGeometry(mt.Get(), &g))
        return;
    const REFERENCE_TIME nominal = g.time_per_frame > 0 ? g.time_per_frame : k25fps;
    const bool unpaced = m_kind == PinKind::Capture && m_camera.Hooks().unpaced;
    std::atomic<int64_t>* const cpu_ns = m_camera.Hooks().camera_cpu_ns.get();
    const int slot = m_kind == PinKind::Capture ? 0 : 1;
    LivePacer& pacer = m_camera.Pacer();
    CameraControls& controls = *CameraControls::Device();
    // The camera's own clock: frame n is captured at clock.FrameTime(n),
    // which is n nominal periods from the start for a perfect camera.
    const ImperfectClock clock(faults, 10'000'000.0 / double(nominal));
    const auto period = static_cast<REFERENCE_TIME>(std::llround(clock.TickLength()));
    // Frames differ in a few bands only: the painter copies what never
    // moves, the encoder and the preview conversion redo only changed rows.
    Yuv422Image picture;
    picture.Resize(g.width, g.height);
    TestPatternPainter painter;
    JpegRowEncoder encoder;
    Rgb32Rows preview;

    uint32_t index = 0;
    auto skip_to = [&](REFERENCE_TIME now) {
        // Frames whose time has wholly passed.
        const auto passed = static_cast<uint32_t>(std::max<REFERENCE_TIME>(
            0, (now - clock.FrameTime(index)) / std::max<REFERENCE_TIME>(period, 1)));
        const uint32_t first = index;
        index += passed;
        return std::pair{first, passed};
    };
    while (!stop.stop_requested()) {
        if (!pacer.WaitRunning(stop)) {
            if (stop.stop_requested() || m_camera.State() == State_Stopped)
                return;
            continue;
        }
        if (pacer.TakeRestart(slot)) {
            // Slots that passed while paused were never captured: skip them
            // without counting drops.
            skip_to(pacer.Now());
        }
        REFERENCE_TIME next = clock.FrameTime(index);  // The true time of frame `index`.
        if (!unpaced) {
            if (!pacer.WaitFor(next, stop))
                continue;
            // Slots this thread was too late for are frames the device lost.
            if (const auto [first, missed] = skip_to(pacer.Now()); missed > 0) {
                for (uint32_t i = 0; i < missed; ++i)
                    CountDropped(first + i);
                next = clock.FrameTime(index);
            }
        }
        if (clock.FrameLost(index)) {
            CountDropped(index++);
            continue;
        }
        if (unpaced) {
            // As fast as the consumer takes frames and no faster: the next
            // frame is made once the last one has been handed on, so a stop
            // finds at most the one frame in flight undelivered.
            if (!m_delivery.WaitIdle(stop))
                continue;
        }
        ComPtr<IMediaSample> sample;
        HRESULT hr = unpaced ? GetDeliveryBuffer(sample.ReleaseAndGetAddressOf(), 0)
                             : pacer.BufferBefore(*this, next + period, stop,
                                                  sample.ReleaseAndGetAddressOf());
        if (hr == VFW_E_TIMEOUT) {
            CountDropped(index);
        } else if (FAILED(hr)) {
            return;  // Stopping, or the connection went.
        } else {
            const int64_t cpu_start = cpu_ns ? ThreadCpuNs() : 0;
            // The picture belongs to the frame's true time, whatever its
            // stamp says: the whole-second border is the clapper that sync
            // checks look for.
            painter.Draw(picture, index, next, period, controls.Picture());
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            const std::span<uint8_t> buffer(data, static_cast<size_t>(sample->GetSize()));
            size_t length = 0;
            if (mt->subtype == MEDIASUBTYPE_MJPG) {
                length =
                    encoder.Encode(picture, JpegQualityFromFraction(controls.Quality()), buffer);
            } else if (mt->subtype == MEDIASUBTYPE_YUY2) {
                length = Yuy2ImageSize(g.width, g.height);
                if (length <= buffer.size())
                    Yuv422ToYuy2(picture, data);
            } else {
                length = Rgb32ImageSize(g.width, g.height);
                if (length <= buffer.size())
                    preview.Convert(picture, data, g.bottom_up);
            }
            if (cpu_ns)
                cpu_ns->fetch_add(ThreadCpuNs() - cpu_start, std::memory_order_relaxed);
            if (length == 0 || length > buffer.size()) {
                CountDropped(index);
            } else {
                sample->SetActualDataLength(static_cast<LONG>(length));
                REFERENCE_TIME start = std::max<REFERENCE_TIME>(0, clock.StampOf(index));
                REFERENCE_TIME end = start + period;
                sample->SetTime(&start, &end);
                LONGLONG media_start = index, media_end = LONGLONG(index) + 1;
                sample->SetMediaTime(&media_start, &media_end);
                sample->SetSyncPoint(TRUE);
                m_delivery.Push({std::move(sample), index, length});
            }
        }
        ++index;
    }
}

}  // namespace

HRESULT CreateTestCamera(REFIID riid, void** out) {
    return CreateTestCamera(VirtualDeviceHooks{}, riid, out);
}

HRESULT CreateTestCamera(const VirtualDeviceHooks& hooks, REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    ComPtr<TestCamera> camera = MakeCom<TestCamera>(hooks);
    return camera->QueryInterface(riid, out);
}

}  // namespace ronvix::media
