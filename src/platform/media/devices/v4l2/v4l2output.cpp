// A V4L2 video output (a loopback device, an output card) as a transmit
// device: "Video In" takes MJPG or YUY2 frames and writes them to the node
// at their sample time; "Monitor Out" shows what it sends. See
// v4l2device.h.
//
// The node is opened and given the input's format when the graph leaves
// Stopped. A device that takes MJPG gets the frames as they come; one that
// wants raw frames gets YUYV, decoded from MJPG here. Frames are written
// with write() on the input's streaming thread; a full device is waited for
// with poll() in slices that notice a stop.

#include <fcntl.h>
#include <linux/videodev2.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/media/codecs/colourspace.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/codecs/videotransform.h"
#include "platform/media/devices/monitorout.h"
#include "platform/media/devices/v4l2/v4l2device.h"

namespace ronvix::media {

using namespace com;

namespace {

constexpr int kPollSliceMs = 50;

bool AcceptedInput(const AM_MEDIA_TYPE& mt, VideoGeometry* g) {
    if (mt.subtype != MEDIASUBTYPE_MJPG && mt.subtype != MEDIASUBTYPE_YUY2)
        return false;
    if (!ReadGeometry(mt, g) || g->width <= 0 || g->height <= 0 || g->width > 16384 ||
        g->height > 16384)
        return false;
    return mt.subtype != MEDIASUBTYPE_YUY2 || g->width % 2 == 0;
}

class VideoInPin final : public BaseInputPin {
public:
    explicit VideoInPin(BaseFilter& device) : BaseInputPin(device, u"Video In") {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        VideoGeometry g;
        return AcceptedInput(mt, &g) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
};

class V4l2Output final : public BaseFilter {
public:
    V4l2Output(std::shared_ptr<V4l2System> system, V4l2Node node)
        : BaseFilter(CLSID_V4l2Output),
          m_system(std::move(system)),
          m_node(std::move(node)),
          m_gate(*this) {
        m_in = static_cast<VideoInPin*>(AddPin(std::make_unique<VideoInPin>(*this)));
        m_monitor = static_cast<MonitorOutPin*>(AddPin(std::make_unique<MonitorOutPin>(*this)));
        m_feed = std::make_unique<MonitorFeed>(*m_monitor);
    }
    ~V4l2Output() override { CloseDevice(); }

    HRESULT OnReceive(BaseInputPin& pin, IMediaSample* sample) override;
    void OnEndOfStream(BaseInputPin&) override { m_monitor->DeliverEndOfStream(); }
    void OnBeginFlush(BaseInputPin& pin) override {
        BaseFilter::OnBeginFlush(pin);
        m_gate.Wake();
        m_monitor->DeliverBeginFlush();
    }
    void OnEndFlush(BaseInputPin&) override { m_monitor->DeliverEndFlush(); }
    void OnNewSegment(BaseInputPin&, REFERENCE_TIME start, REFERENCE_TIME stop,
                      double rate) override {
        m_monitor->DeliverNewSegment(start, stop, rate);
    }

protected:
    HRESULT OnActivate() override;
    void OnRun(REFERENCE_TIME) override { m_gate.Wake(); }
    void OnPauseFromRunning() override { m_gate.Wake(); }
    void OnStopRequest() override { m_gate.Wake(); }
    // The input's streaming thread is upstream's; it has left Receive (the
    // pin went inactive) before the node closes.
    void OnStopJoin() override { CloseDevice(); }

private:
    enum class Written { Ok, Stopped, Failed };
    HRESULT OpenDevice(const MediaType& mt);
    void CloseDevice();
    Written WriteFrame(const uint8_t* data, size_t length, std::stop_token stop);
    void Fail(int error);

    const std::shared_ptr<V4l2System> m_system;
    const V4l2Node m_node;
    VideoInPin* m_in = nullptr;
    MonitorOutPin* m_monitor = nullptr;
    PresentationGate m_gate;

    // Set under the control lock while stopped; read by the streaming
    // thread while the filter runs.
    int m_fd = -1;
    bool m_decode = false;  // MJPG in, YUYV to the device.
    bool m_jpeg_in = false;
    int m_width = 0;
    int m_height = 0;
    size_t m_raw_size = 0;
    std::atomic<bool> m_ended{false};

    // Streaming thread only.
    std::unique_ptr<MonitorFeed> m_feed;
    JpegDecoder m_decoder;
    std::vector<uint8_t> m_rgb;
    std::vector<uint8_t> m_raw;
};

HRESULT V4l2Output::OnActivate() {
    m_ended.store(false);
    if (!m_in->IsConnected())
        return S_OK;
    const HRESULT hr = OpenDevice(m_in->ConnectionType());
    if (FAILED(hr))
        CloseDevice();
    return hr;
}

HRESULT V4l2Output::OpenDevice(const MediaType& mt) {
    VideoGeometry g;
    if (!AcceptedInput(mt.Get(), &g))
        return VFW_E_TYPE_NOT_ACCEPTED;
    m_fd = m_system->Open(m_node.path, O_RDWR | O_NONBLOCK);
    if (m_fd < 0)
        return HResultFromErrno(errno);
    m_jpeg_in = mt->subtype == MEDIASUBTYPE_MJPG;
    auto try_format = [&](uint32_t fourcc, v4l2_format* f) {
        *f = v4l2_format{};
        f->type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
        f->fmt.pix.width = uint32_t(g.width);
        f->fmt.pix.height = uint32_t(g.height);
        f->fmt.pix.pixelformat = fourcc;
        f->fmt.pix.field = V4L2_FIELD_NONE;
        // A JPEG frame gets as much room as a raw one, which any sane
        // JPEG of the picture fits.
        f->fmt.pix.bytesperline = fourcc == V4L2_PIX_FMT_YUYV ? uint32_t(g.width) * 2 : 0;
        f->fmt.pix.sizeimage = uint32_t(Yuy2ImageSize(g.width, g.height));
        return m_system->Ioctl(m_fd, VIDIOC_S_FMT, f) == 0 && f->fmt.pix.pixelformat == fourcc &&
               f->fmt.pix.width == uint32_t(g.width) && f->fmt.pix.height == uint32_t(g.height);
    };
    v4l2_format format{};
    // MJPG goes out as it is where the device takes it; otherwise decoded.
    m_decode = false;
    if (m_jpeg_in && try_format(V4L2_PIX_FMT_MJPEG, &format)) {
        m_decode = false;
    } else if (try_format(V4L2_PIX_FMT_YUYV, &format)) {
        m_decode = m_jpeg_in;
    } else {
        return errno ? HResultFromErrno(errno) : VFW_E_TYPE_NOT_ACCEPTED;
    }
    m_width = g.width;
    m_height = g.height;
    m_raw_size = Yuy2ImageSize(g.width, g.height);
    return S_OK;
}

void V4l2Output::CloseDevice() {
    if (m_fd < 0)
        return;
    m_system->Close(m_fd);
    m_fd = -1;
}

void V4l2Output::Fail(int error) {
    if (m_ended.exchange(true))
        return;
    if (error == ENODEV)
        NotifyEvent(
            EC_DEVICE_LOST,
            reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this))), 0);
    else
        NotifyEvent(EC_ERRORABORT, HResultFromErrno(error), 0);
}

V4l2Output::Written V4l2Output::WriteFrame(const uint8_t* data, size_t length,
                                           std::stop_token stop) {
    // With read/write I/O each write() is one frame: a device that takes
    // less than the whole frame has cut it, and the rest is not sent as the
    // start of another. A full device (EAGAIN) is waited for.
    for (;;) {
        if (stop.stop_requested())
            return Written::Stopped;
        const ssize_t n = m_system->Write(m_fd, data, length);
        if (n >= 0)
            return Written::Ok;
        if (errno != EAGAIN && errno != EINTR)
            return Fail(errno), Written::Failed;
        pollfd p{m_fd, POLLOUT, 0};
        const int ready = m_system->Poll(&p, 1, kPollSliceMs);
        if (ready < 0 && errno != EINTR)
            return Fail(errno), Written::Failed;
        if (ready > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
            return Fail(ENODEV), Written::Failed;
    }
}

HRESULT V4l2Output::OnReceive(BaseInputPin& pin, IMediaSample* sample) {
    if (m_ended.load())
        return S_FALSE;  // The device is gone: the stream ends here.
    if (!m_gate.WaitUntilDue(pin, sample))
        return S_FALSE;
    BYTE* src = nullptr;
    sample->GetPointer(&src);
    const LONG length = sample->GetActualDataLength();
    if (!src || length <= 0)
        return S_OK;  // An empty frame (a dropped frame's place): nothing to send.
    const std::stop_token stop = pin.StopToken();
    Written written = Written::Ok;
    if (!m_jpeg_in) {
        if (size_t(length) < m_raw_size)
            return S_OK;
        written = WriteFrame(src, m_raw_size, stop);
        // The monitor shows it too; YUY2 rows are top-down.
        if (m_monitor->IsConnected()) {
            m_rgb.resize(Rgb32ImageSize(m_width, m_height));
            Yuy2ToRgb32(src, m_width, m_height, m_rgb.data(), false);
            m_feed->ShowRgb32(m_rgb.data(), m_width, m_height, sample);
        }
    } else if (m_decode) {
        m_rgb.resize(Rgb32ImageSize(m_width, m_height));
        if (!m_decoder.DecodeRgb32({src, size_t(length)}, m_width, m_height, false, m_rgb.data()))
            return S_OK;  // A frame that does not decode is not sent.
        m_raw.resize(m_raw_size);
        Rgb32ToYuy2(m_rgb.data(), false, m_width, m_height, m_raw.data());
        written = WriteFrame(m_raw.data(), m_raw.size(), stop);
        m_feed->ShowRgb32(m_rgb.data(), m_width, m_height, sample);
    } else {
        written = WriteFrame(src, size_t(length), stop);
        m_feed->ShowJpeg(sample, m_width, m_height);
    }
    if (written == Written::Failed) {
        m_monitor->DeliverEndOfStream();
        return S_FALSE;
    }
    return S_OK;
}

}  // namespace

HRESULT CreateV4l2Output(const std::shared_ptr<V4l2System>& system, const V4l2Node& node,
                         REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    auto device = MakeCom<V4l2Output>(system, node);
    return device->QueryInterface(riid, out);
}

}  // namespace ronvix::media
