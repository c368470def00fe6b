// A V4L2 camera or capture card as a live source: one "Capture" pin fed by
// memory-mapped streaming. See v4l2device.h.
//
// Threads: the filter is made and controlled on the control (user
// interface) thread. While it is out of Stopped, a capture thread waits on
// the node with poll(), dequeues each filled driver buffer, copies it into a
// free pool sample (never waiting for one: a frame with no free sample is
// dropped and counted) and gives the buffer back to the driver; a delivery
// thread hands the samples downstream, so a consumer that blocks holds that
// thread only. Stopping requests both threads to stop, joins them, and only
// then stops the driver's stream, unmaps the buffers and closes the node.

#include <fcntl.h>
#include <linux/videodev2.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <thread>

#include "platform/media/codecs/codecs.h"
#include "platform/media/codecs/colourspace.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/codecs/videotransform.h"
#include "platform/media/core/clock.h"
#include "platform/media/core/sample.h"
#include "platform/media/devices/captureparts.h"
#include "platform/media/devices/devicecontrols.h"
#include "platform/media/devices/livesource.h"
#include "platform/media/devices/propertypages.h"
#include "platform/media/devices/v4l2/v4l2device.h"
#include "platform/media/devices/v4l2/v4l2interfaces.h"

namespace ronvix::media {

using namespace com;

namespace {

// Driver buffers asked for; the pool downstream has as many samples. Up
// to kLendable of the driver's buffers may be out downstream at once (see
// DriverBuffers), so the driver always has the others to fill.
constexpr uint32_t kDriverBuffers = 6;
constexpr uint32_t kLendable = 2;
constexpr LONG kPoolBuffers = 4;
// How long one poll() waits for a frame before it is asked again. A stop
// wakes it at once through the filter's wake descriptor.
constexpr int kPollTimeoutMs = 100;
constexpr REFERENCE_TIME kDefaultPeriod = 333'333;

class V4l2Camera;

// The pages of a V4L2 camera: the picture amplifier, and each of the camera
// controls, the video decoder and the crossbar where the device has them,
// then the capture pin's.
class V4l2Pages final : public Delegating<ISpecifyPropertyPages> {
public:
    V4l2Pages(IUnknown& owner, bool camera, bool decoder, bool crossbar) : Delegating(owner) {
        m_ids.push_back(CLSID_VideoProcAmpPropertyPage);
        if (camera)
            m_ids.push_back(CLSID_CameraControlPropertyPage);
        if (decoder)
            m_ids.push_back(CLSID_VideoDecoderPropertyPage);
        if (crossbar)
            m_ids.push_back(CLSID_CrossbarPropertyPage);
        m_ids.push_back(CLSID_CapturePropertyPage);
    }
    HRESULT GetPages(CAUUID* pages) override {
        return FillPages(pages, m_ids.data(), ULONG(m_ids.size()));
    }

private:
    std::vector<GUID> m_ids;
};

// How a driver's buffer holds an uncompressed frame, and its copy into a
// sample: planes packed to the engine's layout (no row padding), and the
// two fields of a sequential frame (all of one field's lines, then the
// other's) woven line by line.
struct RawFrame {
    YuvLayout layout = YuvLayout::Yuy2;
    int width = 0;
    int height = 0;
    size_t stride = 0;          // Bytes per luma (or packed) row in the buffer.
    bool sequential = false;    // V4L2_FIELD_SEQ_TB or _BT.
    bool bottom_first = false;  // Sequential: the bottom field's lines come first.

    struct Plane {
        size_t offset;  // In the buffer.
        size_t stride;  // Of the buffer's rows.
        size_t row;     // Bytes of one row, packed.
        int rows;
    };
    std::vector<Plane> Planes() const {
        const size_t w = size_t(width), s = stride;
        const int h = height;
        switch (layout) {
            case YuvLayout::Yuy2:
            case YuvLayout::Uyvy:
                return {{0, s, w * 2, h}};
            case YuvLayout::Nv12:
                return {{0, s, w, h}, {s * size_t(h), s, w, h / 2}};
            case YuvLayout::I420:
                return {{0, s, w, h},
                        {s * size_t(h), s / 2, w / 2, h / 2},
                        {s * size_t(h) + (s / 2) * size_t(h / 2), s / 2, w / 2, h / 2}};
        }
        return {};
    }
    // The bytes a driver must have filled for a whole frame.
    size_t Needed() const {
        const Plane last = Planes().back();
        return last.offset + last.stride * size_t(last.rows - 1) + last.row;
    }
    // The buffer row that holds frame row `row` of a plane of `rows` rows.
    size_t SourceRow(int row, int rows) const {
        if (!sequential)
            return size_t(row);
        const int first = (rows + 1) / 2;  // Lines of the field stored first.
        const bool in_first = (row % 2 == 0) != bottom_first;
        return size_t(in_first ? row / 2 : first + row / 2);
    }
    void Copy(const uint8_t* src, uint8_t* dst) const {
        for (const Plane& p : Planes()) {
            for (int row = 0; row < p.rows; ++row)
                std::memcpy(dst + p.row * size_t(row),
                            src + p.offset + p.stride * SourceRow(row, p.rows), p.row);
            dst += p.row * size_t(p.rows);
        }
    }
    // Whether the buffer already holds the frame as the engine lays it out
    // (rows without padding, lines in order), so it can go as it is.
    bool Tight() const {
        const bool packed = layout == YuvLayout::Yuy2 || layout == YuvLayout::Uyvy;
        return !sequential && stride == size_t(width) * (packed ? 2 : 1);
    }
};

struct Mapping {
    void* address = nullptr;
    size_t length = 0;
};

// The driver's buffers of one streaming session. A frame may go downstream
// in the buffer the driver filled instead of a copy ("lent"): the buffer
// goes back to the driver when the frame's last holder lets it go, on that
// holder's thread. At most kLendable are out at once (past that, frames
// are copied into the pool as before), so a consumer that holds frames
// (a file's interleaving, a paused preview) never takes every buffer from
// the driver. A buffer still out when the session closes keeps its mapping
// until it comes back, as the kernel keeps its memory until then.
class DriverBuffers {
public:
    DriverBuffers(std::shared_ptr<V4l2System> system, int fd)
        : m_system(std::move(system)), m_fd(fd) {}

    void Add(Mapping mapping) {
        std::lock_guard guard(m_lock);
        m_mappings.push_back(mapping);
        m_lent.push_back(false);
    }
    size_t Count() const {
        std::lock_guard guard(m_lock);
        return m_mappings.size();
    }
    Mapping At(uint32_t index) const {
        std::lock_guard guard(m_lock);
        return index < m_mappings.size() ? m_mappings[index] : Mapping{};
    }
    bool TryLend(uint32_t index) {
        std::lock_guard guard(m_lock);
        if (!m_open || index >= m_lent.size() || m_lent[index] || m_lent_count >= kLendable)
            return false;
        m_lent[index] = true;
        ++m_lent_count;
        return true;
    }
    void Return(uint32_t index) {
        std::lock_guard guard(m_lock);
        m_lent[index] = false;
        --m_lent_count;
        if (m_open) {
            // A failure here (the device went) is the capture thread's to
            // find: its next wait or dequeue fails the same way.
            v4l2_buffer buffer{};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            buffer.index = index;
            m_system->Ioctl(m_fd, VIDIOC_QBUF, &buffer);
        } else {
            m_system->Munmap(m_mappings[index].address, m_mappings[index].length);
        }
    }
    // The session ends (the stream is off): every buffer not out is
    // unmapped now, the others when they come back. Whether none was out,
    // so the driver may be told to free them.
    bool Close() {
        std::lock_guard guard(m_lock);
        m_open = false;
        for (size_t i = 0; i < m_mappings.size(); ++i)
            if (!m_lent[i])
                m_system->Munmap(m_mappings[i].address, m_mappings[i].length);
        return m_lent_count == 0;
    }

private:
    const std::shared_ptr<V4l2System> m_system;
    const int m_fd;
    mutable std::mutex m_lock;
    // Guarded by m_lock.
    std::vector<Mapping> m_mappings;
    std::vector<bool> m_lent;
    uint32_t m_lent_count = 0;
    bool m_open = true;
};

class V4l2CapturePin final : public BaseOutputPin {
public:
    explicit V4l2CapturePin(V4l2Camera& camera);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
    std::vector<MediaType> OfferedTypes() override;

protected:
    HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES& props) override;
    HRESULT QueryPinInterface(REFIID riid, void** out) override;

private:
    V4l2Camera& m_camera;
};

class V4l2Camera final : public BaseFilter {
public:
    V4l2Camera(std::shared_ptr<V4l2System> system, V4l2Node node,
               std::shared_ptr<V4l2Controls> controls, std::vector<CaptureFormat> formats)
        : BaseFilter(CLSID_V4l2Capture),
          m_system(std::move(system)),
          m_node(std::move(node)),
          m_controls(std::move(controls)),
          m_analog(m_controls->AnalogSide()),
          m_has_camera(m_controls->HasCameraControls()),
          m_drops(AsUnknown()),
          m_config(AsUnknown(), *this, std::move(formats)),
          m_compression(AsUnknown(), u"V4L2 JPEG quality", kDefaultJpegQuality,
                        {[this](double q) { return SetQuality(q); },
                         [this] { return m_controls->Quality(); }}),
          m_procamp(AsUnknown(), m_controls),
          m_camera_control(AsUnknown(), m_controls),
          m_names(AsUnknown(), m_controls),
          m_decoder(AsUnknown(), m_controls),
          m_crossbar(AsUnknown(), m_controls),
          m_details(AsUnknown(), m_controls),
          m_pages(AsUnknown(), m_has_camera, m_analog.HasDecoder(), m_analog.HasCrossbar()),
          m_capture_end(AsUnknown(), {[this] { EndCapture(); },
                                      [this](auto deadline) { return WaitDelivered(deadline); }}) {
        m_pin = static_cast<V4l2CapturePin*>(AddPin(std::make_unique<V4l2CapturePin>(*this)));
        m_delivery = std::make_unique<FrameDelivery>(*m_pin, &m_drops);
        m_config.Attach(*m_pin);
    }
    // A filter let go without being stopped still stops its threads before
    // the node they read closes.
    ~V4l2Camera() override {
        OnStopRequest();
        if (m_capture.joinable())
            m_capture.join();
        m_delivery->Join();
        CloseDevice();
        CloseWake();
    }

    DropCounter& Drops() { return m_drops; }
    FormatStreamConfig& Config() { return m_config; }
    JpegQualityCompression& Compression() { return m_compression; }

protected:
    HRESULT QueryInterfaceExtra(REFIID riid, void** out) override {
        if (riid == IAMVideoProcAmp::iid)
            return ReturnInterface<IAMVideoProcAmp>(&m_procamp, out);
        if (riid == IAMCameraControl::iid && m_has_camera)
            return ReturnInterface<IAMCameraControl>(&m_camera_control, out);
        if (riid == IDeviceControlNames::iid)
            return ReturnInterface<IDeviceControlNames>(&m_names, out);
        if (riid == IAMAnalogVideoDecoder::iid && m_analog.HasDecoder())
            return ReturnInterface<IAMAnalogVideoDecoder>(&m_decoder, out);
        if (riid == IAMCrossbar::iid && m_analog.HasCrossbar())
            return ReturnInterface<IAMCrossbar>(&m_crossbar, out);
        if (riid == IAnalogVideoDetails::iid && (m_analog.HasDecoder() || m_analog.HasCrossbar()))
            return ReturnInterface<IAnalogVideoDetails>(&m_details, out);
        if (riid == IAMDroppedFrames::iid)
            return ReturnInterface<IAMDroppedFrames>(&m_drops, out);
        if (riid == ISpecifyPropertyPages::iid)
            return ReturnInterface<ISpecifyPropertyPages>(&m_pages, out);
        if (riid == ILiveCaptureEnd::iid)
            return ReturnInterface<ILiveCaptureEnd>(&m_capture_end, out);
        return BaseFilter::QueryInterfaceExtra(riid, out);
    }

    HRESULT OnActivate() override;
    void OnRun(REFERENCE_TIME) override {
        m_local_start.store(MonotonicNow100ns());
        m_restart.store(true);
    }
    void OnPauseFromRunning() override { m_restart.store(true); }
    void OnStopRequest() override {
        m_capture.request_stop();
        m_delivery->RequestStop();
        Wake();
    }
    void OnStopJoin() override;
    HRESULT StateResult(DWORD) override { return State() == State_Paused ? VFW_S_CANT_CUE : S_OK; }

private:
    using Frame = FrameDelivery::Frame;
    enum class Outcome { Continue, Ended };

    IUnknown& AsUnknown() { return *static_cast<IBaseFilter*>(this); }

    HRESULT OpenDevice(const MediaType& mt);
    void CloseDevice();
    void CloseWake() {
        if (m_wake >= 0)
            ::close(m_wake);
        m_wake = -1;
    }
    // Makes the capture thread's poll return at once.
    void Wake() {
        if (m_wake >= 0) {
            const uint64_t one = 1;
            // A full counter is already a pending wake-up.
            [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
        }
    }
    // A stopping graph ends the capture: the capture thread takes the
    // frames the driver already filled and ends; they are delivered.
    void EndCapture() {
        m_ending.store(true);
        Wake();
    }
    bool WaitDelivered(std::chrono::steady_clock::time_point deadline) {
        if (m_capture.joinable())
            m_capture.join();
        return m_delivery->WaitDelivered(deadline);
    }
    HRESULT SetQuality(double quality);
    // Sends the quality to the MJPEG Compressor that encodes this camera's
    // frames, when the device has no JPEG control of its own.
    void ApplyQuality();

    void Capture(std::stop_token stop);
    Outcome Dequeue();
    // Delivers the frame in `buffer`; true when it went in the driver's
    // buffer itself, which then goes back to the driver once let go.
    bool Take(const v4l2_buffer& buffer);
    void EndStream(bool lost, int error);

    const std::shared_ptr<V4l2System> m_system;
    const V4l2Node m_node;
    const std::shared_ptr<V4l2Controls> m_controls;
    // What the device has, read when the filter was made.
    const V4l2AnalogSide m_analog;
    const bool m_has_camera;
    DropCounter m_drops;
    FormatStreamConfig m_config;
    JpegQualityCompression m_compression;
    V4l2ProcAmp m_procamp;
    V4l2CameraControl m_camera_control;
    V4l2ControlNames m_names;
    V4l2Decoder m_decoder;
    V4l2Crossbar m_crossbar;
    V4l2AnalogDetails m_details;
    V4l2Pages m_pages;
    LiveCaptureEnd m_capture_end;
    V4l2CapturePin* m_pin = nullptr;
    // The delivery thread, which a blocking consumer holds; made once the
    // pin exists.
    std::unique_ptr<FrameDelivery> m_delivery;

    // Set while out of Stopped, under the control lock; read by the capture
    // thread, which they outlive (it is joined before they change).
    int m_fd = -1;
    // An eventfd the capture thread polls beside the node; a stop makes it
    // readable, which ends the thread's wait at once.
    int m_wake = -1;
    std::shared_ptr<DriverBuffers> m_driver;  // while the device is open
    bool m_streaming = false;
    int m_width = 0;
    int m_height = 0;
    // An uncompressed stream's frames as the driver lays them out; nothing
    // for a compressed one (whose frames go as the driver filled them).
    std::optional<RawFrame> m_raw;
    REFERENCE_TIME m_period = kDefaultPeriod;
    // What the file must know that the connection's type cannot say, carried
    // by the first frame as its type: the frame period the driver really
    // runs at, when it differs from the connection's (a VideoInfo type), or,
    // for an interlaced or analog picture, a VideoInfo2 type with that
    // period, the interlacing and the display aspect.
    std::optional<MediaType> m_first_type;

    // Capture thread only.
    bool m_have_sequence = false;
    uint32_t m_last_sequence = 0;

    std::atomic<REFERENCE_TIME> m_local_start{0};
    // The graph ran (again): the next frame starts a new sequence run, and
    // frames captured before the run are not delivered.
    std::atomic<bool> m_restart{false};
    std::atomic<bool> m_ended{false};
    std::atomic<bool> m_ending{false};

    std::jthread m_capture;
};

V4l2CapturePin::V4l2CapturePin(V4l2Camera& camera)
    : BaseOutputPin(camera, u"Capture", PIN_CATEGORY_CAPTURE), m_camera(camera) {}

HRESULT V4l2CapturePin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
    return m_camera.Config().Check(mt);
}

std::vector<MediaType> V4l2CapturePin::OfferedTypes() {
    return m_camera.Config().Offered();
}

HRESULT V4l2CapturePin::DecideBufferSize(ALLOCATOR_PROPERTIES& props) {
    const MediaType mt = ConnectionType();
    VideoGeometry g;
    if (!ReadGeometry(mt.Get(), &g))
        return VFW_E_TYPE_NOT_ACCEPTED;
    // A camera's JPEG frame is not bound by our encoder's limit; a raw
    // frame's size is a bound for any sane one.
    size_t size = Yuy2ImageSize(g.width, g.height);
    if (mt->subtype == MEDIASUBTYPE_MJPG)
        size = std::max(size, JpegEncoder::MaxSize(g.width, g.height));
    props.cBuffers = std::max<LONG>(props.cBuffers, kPoolBuffers);
    props.cbBuffer = std::max<LONG>(props.cbBuffer, static_cast<LONG>(size));
    return S_OK;
}

HRESULT V4l2CapturePin::QueryPinInterface(REFIID riid, void** out) {
    if (riid == IAMStreamConfig::iid)
        return ReturnInterface<IAMStreamConfig>(&m_camera.Config(), out);
    if (riid == IAMVideoCompression::iid)
        return ReturnInterface<IAMVideoCompression>(&m_camera.Compression(), out);
    if (riid == IAMDroppedFrames::iid)
        return ReturnInterface<IAMDroppedFrames>(&m_camera.Drops(), out);
    return BaseOutputPin::QueryPinInterface(riid, out);
}

HRESULT V4l2Camera::OnActivate() {
    m_drops.Reset();
    m_ended.store(false);
    m_ending.store(false);
    m_restart.store(true);  // Not running yet.
    m_have_sequence = false;
    if (!m_pin->IsConnected())
        return S_OK;
    const HRESULT hr = OpenDevice(m_pin->ConnectionType());
    if (FAILED(hr)) {
        CloseDevice();
        return hr;
    }
    ApplyQuality();
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wake < 0) {
        const HRESULT error = HResultFromErrno(errno);
        CloseDevice();
        return error;
    }
    m_capture = std::jthread([this](std::stop_token stop) { Capture(stop); });
    m_delivery->Start("rx-v4l2-deliver");
    return S_OK;
}

void V4l2Camera::OnStopJoin() {
    if (m_capture.joinable())
        m_capture.join();
    // Frames still queued when the stream stopped were never delivered.
    m_delivery->Join();
    CloseDevice();
    CloseWake();
}

HRESULT V4l2Camera::OpenDevice(const MediaType& mt) {
    VideoGeometry g;
    if (!ReadGeometry(mt.Get(), &g))
        return VFW_E_TYPE_NOT_ACCEPTED;
    m_fd = m_system->Open(m_node.path, O_RDWR | O_NONBLOCK);
    if (m_fd < 0)
        return HResultFromErrno(errno);
    // The input and standard chosen this session come first: the standard
    // decides the frame the format below can have.
    m_controls->ApplyChoices(m_fd);
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = uint32_t(g.width);
    format.fmt.pix.height = uint32_t(g.height);
    format.fmt.pix.pixelformat = FourccOfSubtype(mt->subtype);
    // A television decoder is asked for both fields in each frame (some
    // would otherwise deliver one field per buffer); a camera takes what
    // its driver does. Either way the answer is read back below.
    format.fmt.pix.field = m_analog.HasDecoder() ? V4L2_FIELD_INTERLACED : V4L2_FIELD_ANY;
    if (m_system->Ioctl(m_fd, VIDIOC_S_FMT, &format) != 0)
        return HResultFromErrno(errno);
    // The driver may adjust what it cannot do; a different frame is not the
    // type the pin agreed on.
    if (format.fmt.pix.width != uint32_t(g.width) || format.fmt.pix.height != uint32_t(g.height) ||
        format.fmt.pix.pixelformat != FourccOfSubtype(mt->subtype))
        return VFW_E_TYPE_NOT_ACCEPTED;
    m_width = g.width;
    m_height = g.height;

    // How the frame's fields lie. A driver that puts one field in each
    // buffer (alternate) gives half pictures that no file type here takes.
    uint64_t std = 0;
    const bool has_std =
        m_analog.HasDecoder() && m_system->Ioctl(m_fd, VIDIOC_G_STD, &std) == 0 && std != 0;
    const bool bottom_first_system = has_std ? Is525Lines(std) : m_height == 480 || m_height == 486;
    bool interlaced = true, top_first = true, sequential = false;
    switch (format.fmt.pix.field) {
        case V4L2_FIELD_INTERLACED:
            top_first = !bottom_first_system;  // The order the standard has.
            break;
        case V4L2_FIELD_INTERLACED_TB:
            break;
        case V4L2_FIELD_INTERLACED_BT:
            top_first = false;
            break;
        case V4L2_FIELD_SEQ_TB:
            sequential = true;
            break;
        case V4L2_FIELD_SEQ_BT:
            sequential = true;
            top_first = false;
            break;
        case V4L2_FIELD_ALTERNATE:
            return VFW_E_TYPE_NOT_ACCEPTED;
        default:  // None, any, or a single field: a progressive picture.
            interlaced = false;
            break;
    }

    m_raw.reset();
    if (const std::optional<YuvLayout> layout = YuvLayoutOf(mt->subtype)) {
        RawFrame raw;
        raw.layout = *layout;
        raw.width = m_width;
        raw.height = m_height;
        const size_t packed = IsYuv420(*layout) ? size_t(m_width) : size_t(m_width) * 2;
        raw.stride = std::max<size_t>(format.fmt.pix.bytesperline, packed);
        raw.sequential = sequential;
        raw.bottom_first = !top_first;
        m_raw = raw;
    }

    m_period = g.time_per_frame > 0 ? g.time_per_frame : kDefaultPeriod;
    REFERENCE_TIME actual_period = g.time_per_frame;
    if (g.time_per_frame > 0) {
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe = {uint32_t(g.time_per_frame), 10'000'000};
        // Not every driver sets a rate; frames then come at its own.
        m_system->Ioctl(m_fd, VIDIOC_S_PARM, &parm);
    }
    // The rate the driver really runs at, which the file's header must
    // carry: a driver may round the request, or ignore it. A driver that
    // names none leaves the connection's (the file measures it then).
    v4l2_streamparm actual{};
    actual.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (m_system->Ioctl(m_fd, VIDIOC_G_PARM, &actual) == 0) {
        const v4l2_fract f = actual.parm.capture.timeperframe;
        if (f.numerator > 0 && f.denominator > 0) {
            actual_period = REFERENCE_TIME(
                std::llround(double(f.numerator) * 10'000'000.0 / double(f.denominator)));
            m_period = actual_period;
        }
    }
    m_first_type.reset();
    const VIDEOINFOHEADER& vih = *mt.VideoInfo();
    if (interlaced || has_std) {
        // An analog television frame fills a 4:3 screen whatever its pixel
        // count; a camera's pixels are square.
        VIDEOINFOHEADER2 vih2;
        vih2.rcSource = vih.rcSource;
        vih2.rcTarget = vih.rcTarget;
        vih2.dwBitRate = vih.dwBitRate;
        vih2.AvgTimePerFrame = actual_period;
        vih2.bmiHeader = vih.bmiHeader;
        if (interlaced)
            vih2.dwInterlaceFlags = AMINTERLACE_IsInterlaced | AMINTERLACE_FieldPatBothRegular |
                                    AMINTERLACE_DisplayModeBobOrWeave |
                                    (top_first ? AMINTERLACE_Field1First : 0);
        const DWORD common = DWORD(std::gcd(m_width, m_height));
        vih2.dwPictAspectRatioX = has_std ? 4 : DWORD(m_width) / common;
        vih2.dwPictAspectRatioY = has_std ? 3 : DWORD(m_height) / common;
        MediaType type = MediaType::Partial(MEDIATYPE_Video, mt->subtype, FORMAT_VideoInfo2);
        type.SetFormat(&vih2, sizeof vih2);
        type->bFixedSizeSamples = mt->bFixedSizeSamples;
        type->lSampleSize = mt->lSampleSize;
        m_first_type = std::move(type);
    } else if (actual_period != g.time_per_frame) {
        MediaType type = mt;
        VIDEOINFOHEADER changed = vih;
        changed.AvgTimePerFrame = actual_period;
        type.SetFormat(&changed, sizeof changed);
        m_first_type = std::move(type);
    }

    v4l2_requestbuffers request{};
    request.count = kDriverBuffers;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (m_system->Ioctl(m_fd, VIDIOC_REQBUFS, &request) != 0)
        return HResultFromErrno(errno);
    if (request.count < 2)
        return E_OUTOFMEMORY;
    m_driver = std::make_shared<DriverBuffers>(m_system, m_fd);
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (m_system->Ioctl(m_fd, VIDIOC_QUERYBUF, &buffer) != 0)
            return HResultFromErrno(errno);
        void* address = m_system->Mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd,
                                       off_t(buffer.m.offset));
        if (address == MAP_FAILED)
            return HResultFromErrno(errno);
        m_driver->Add({address, buffer.length});
        if (m_system->Ioctl(m_fd, VIDIOC_QBUF, &buffer) != 0)
            return HResultFromErrno(errno);
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (m_system->Ioctl(m_fd, VIDIOC_STREAMON, &type) != 0)
        return HResultFromErrno(errno);
    m_streaming = true;
    return S_OK;
}

void V4l2Camera::CloseDevice() {
    if (m_fd < 0)
        return;
    // A vanished device fails these calls; what it held goes all the same.
    if (m_streaming) {
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        m_system->Ioctl(m_fd, VIDIOC_STREAMOFF, &type);
        m_streaming = false;
    }
    // Buffers still lent downstream are freed by the driver when the
    // descriptor closes and their mappings go.
    if (m_driver && m_driver->Close() && m_driver->Count() > 0) {
        v4l2_requestbuffers release{};
        release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        release.memory = V4L2_MEMORY_MMAP;
        m_system->Ioctl(m_fd, VIDIOC_REQBUFS, &release);
    }
    m_driver.reset();
    m_system->Close(m_fd);
    m_fd = -1;
}

HRESULT V4l2Camera::SetQuality(double quality) {
    const HRESULT hr = m_controls->SetQuality(quality);
    if (SUCCEEDED(hr))
        ApplyQuality();
    return hr;
}

void V4l2Camera::ApplyQuality() {
    if (m_controls->HasJpegQuality())
        return;
    const double quality = m_controls->Quality();
    // Downstream through at most a few filters (a Smart Tee, a grabber)
    // to the compressors that encode these frames.
    std::vector<ComPtr<IPin>> outputs{ComPtr<IPin>(static_cast<IPin*>(m_pin))};
    for (int depth = 0; depth < 8 && !outputs.empty(); ++depth) {
        std::vector<ComPtr<IPin>> next;
        for (const ComPtr<IPin>& out : outputs) {
            ComPtr<IPin> peer;
            if (FAILED(out->ConnectedTo(peer.ReleaseAndGetAddressOf())) || !peer)
                continue;
            PIN_INFO info{};
            if (FAILED(peer->QueryPinInfo(&info)) || !info.pFilter)
                continue;
            ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Adopt(info.pFilter);
            GUID clsid{};
            filter->GetClassID(&clsid);
            if (clsid == CLSID_MjpegCompressor) {
                if (auto compression = filter.As<IAMVideoCompression>())
                    compression->put_Quality(quality);
                continue;
            }
            ComPtr<IEnumPins> pins;
            if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf())) || !pins)
                continue;
            ComPtr<IPin> pin;
            while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
                PIN_DIRECTION dir = PINDIR_INPUT;
                if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == PINDIR_OUTPUT)
                    next.push_back(pin);
            }
        }
        outputs = std::move(next);
    }
}

void V4l2Camera::Capture(std::stop_token stop) {
    pthread_setname_np(pthread_self(), "rx-v4l2-capture");
    while (!stop.stop_requested()) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake, POLLIN, 0}};
        const pollfd& p = fds[0];
        const bool ending = m_ending.load();
        const int ready = m_system->Poll(fds, ending ? 1 : 2, ending ? 0 : kPollTimeoutMs);
        if (!ending && (fds[1].revents & POLLIN))
            continue;  // Woken: look at the stop and the end again.
        if (ending && ready == 0)
            return;  // Every frame the driver filled was taken.
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            EndStream(errno == ENODEV, errno);
            return;
        }
        if (ready == 0)
            continue;  // No frame yet: nothing lost, look again.
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            EndStream(true, ENODEV);
            return;
        }
        if ((p.revents & POLLIN) && Dequeue() == Outcome::Ended)
            return;
    }
}

V4l2Camera::Outcome V4l2Camera::Dequeue() {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (m_system->Ioctl(m_fd, VIDIOC_DQBUF, &buffer) != 0) {
        const int error = errno;
        // EAGAIN: poll woke for a buffer another caller took or the driver
        // withdrew. EIO: the driver reports a transient fault (lost
        // signal); the next buffer may be fine.
        if (error == EAGAIN || error == EINTR || error == EIO)
            return Outcome::Continue;
        EndStream(error == ENODEV, error);
        return Outcome::Ended;
    }
    if (buffer.index < m_driver->Count() && Take(buffer))
        return Outcome::Continue;  // Lent: back to the driver when let go.
    if (m_system->Ioctl(m_fd, VIDIOC_QBUF, &buffer) != 0) {
        const int error = errno;
        EndStream(error == ENODEV, error);
        return Outcome::Ended;
    }
    return Outcome::Continue;
}

bool V4l2Camera::Take(const v4l2_buffer& buffer) {
    const FILTER_STATE state = State();
    if (state == State_Paused) {
        m_restart.store(true);  // Not captured, not counted.
        return false;
    }
    if (state == State_Stopped) {
        // Stopping: a frame of the run that ends now is lost, unless the
        // run had already paused.
        if (!m_restart.load())
            m_drops.Dropped(buffer.sequence);
        return false;
    }
    const bool restart = m_restart.exchange(false);
    const uint32_t sequence = buffer.sequence;
    // Numbers the driver skipped are frames it lost (no buffer was queued
    // in time). A run after a pause starts a new count.
    if (m_have_sequence && !restart && sequence > m_last_sequence + 1)
        m_drops.Dropped(m_last_sequence + 1, sequence - m_last_sequence - 1);
    m_last_sequence = sequence;
    m_have_sequence = true;
    if (buffer.flags & V4L2_BUF_FLAG_ERROR) {
        m_drops.Dropped(sequence);
        return false;
    }

    // The driver's time of the frame on the monotonic clock, which is the
    // graph's clock; a driver without one gets the time it was dequeued.
    REFERENCE_TIME captured = MonotonicNow100ns();
    if ((buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC)
        captured = REFERENCE_TIME(buffer.timestamp.tv_sec) * 10'000'000 +
                   REFERENCE_TIME(buffer.timestamp.tv_usec) * 10;
    const REFERENCE_TIME start = captured - (Clock() ? StartTime() : m_local_start.load());
    if (start < 0)
        return false;  // Captured before the graph ran.

    const Mapping mapping = m_driver->At(buffer.index);
    // Only what the driver filled counts: a frame it cut short (bytesused
    // below a whole picture) would otherwise go out with the lines of an
    // older frame, so it is dropped.
    const size_t filled = std::min<size_t>(buffer.bytesused, mapping.length);
    const size_t length = m_raw ? YuvImageSize(m_raw->layout, m_raw->width, m_raw->height) : filled;
    if (length == 0 || (m_raw && filled < m_raw->Needed())) {
        m_drops.Dropped(sequence);
        return false;
    }

    // The frame goes in the driver's buffer when it lies there as the
    // engine lays it out and the driver keeps enough buffers to fill;
    // otherwise it is copied into a sample of the pool.
    auto* src = static_cast<uint8_t*>(mapping.address);
    ComPtr<IMediaSample> sample;
    const bool lent = (!m_raw || m_raw->Tight()) && m_driver->TryLend(buffer.index);
    if (lent) {
        sample =
            MediaSample::Over(src, LONG(mapping.length), LONG(length),
                              [driver = m_driver, index = buffer.index] { driver->Return(index); });
        if (!sample) {
            m_drops.Dropped(sequence);
            return true;  // Given back already.
        }
    } else {
        const HRESULT hr = m_pin->GetDeliveryBuffer(sample.ReleaseAndGetAddressOf(), AM_GBF_NOWAIT);
        // No free sample (the consumer holds them all), one too small, or
        // the pool already decommitted by a stop: the driver captured the
        // frame and it is lost, so it counts.
        if (FAILED(hr) || size_t(sample->GetSize()) < length) {
            m_drops.Dropped(sequence);
            return false;
        }
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (m_raw)
            m_raw->Copy(src, data);
        else
            std::memcpy(data, src, length);
        sample->SetActualDataLength(static_cast<LONG>(length));
    }
    REFERENCE_TIME end = start + m_period;
    REFERENCE_TIME begin = start;
    sample->SetTime(&begin, &end);
    LONGLONG media_start = sequence, media_end = LONGLONG(sequence) + 1;
    sample->SetMediaTime(&media_start, &media_end);
    sample->SetSyncPoint(TRUE);
    if (m_first_type) {
        // Once, for the file's header: see m_first_type.
        sample->SetMediaType(&m_first_type->Get());
        m_first_type.reset();
    }
    m_delivery->Push(Frame{std::move(sample), sequence, length, false});
    return lent;
}

void V4l2Camera::EndStream(bool lost, int error) {
    if (m_ended.exchange(true))
        return;
    m_delivery->Push(Frame{nullptr, 0, 0, true});
    // The graph's user learns why the stream ended: the device went, or it
    // failed in a way the stream cannot go on from.
    if (lost)
        NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(&AsUnknown()), 0);
    else
        NotifyEvent(EC_ERRORABORT, HResultFromErrno(error), 0);
}

}  // namespace

HRESULT CreateV4l2Capture(const std::shared_ptr<V4l2System>& system, const V4l2Node& node,
                          REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    std::vector<CaptureFormat> formats;
    {
        const int fd = system->Open(node.path, O_RDWR | O_NONBLOCK);
        if (fd < 0)
            return errno == ENOENT || errno == ENODEV || errno == ENXIO ? MK_E_NOOBJECT
                                                                        : HResultFromErrno(errno);
        formats = ReadCaptureFormats(*system, fd);
        system->Close(fd);
    }
    auto camera =
        MakeCom<V4l2Camera>(system, node, V4l2Controls::For(system, node), std::move(formats));
    return camera->QueryInterface(riid, out);
}

}  // namespace ronvix::media
