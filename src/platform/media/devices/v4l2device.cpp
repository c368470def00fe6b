// V4L2 enumeration, formats and controls. See v4l2device.h.

#include "platform/media/devices/v4l2device.h"

#include <fcntl.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>

#include "platform/com/devices.h"
#include "platform/media/devices/devicecontrols.h"
#include "platform/media/filters/codecs.h"

namespace ronvix::media {

using namespace com;

namespace {

// The node number of "/dev/videoN", for sorting; nodes without one last.
long NodeNumber(const std::string& path) {
    const size_t digits = path.find_last_not_of("0123456789");
    if (digits == std::string::npos || digits + 1 >= path.size())
        return LONG_MAX;
    return std::strtol(path.c_str() + digits + 1, nullptr, 10);
}

// Closes a node when the scope ends.
class NodeFd {
public:
    NodeFd(V4l2System& system, const std::string& path)
        : m_system(system), m_fd(system.Open(path, O_RDWR | O_NONBLOCK)) {}
    ~NodeFd() {
        if (m_fd >= 0)
            m_system.Close(m_fd);
    }
    NodeFd(const NodeFd&) = delete;
    NodeFd& operator=(const NodeFd&) = delete;
    int Get() const { return m_fd; }

private:
    V4l2System& m_system;
    const int m_fd;
};

std::string CardName(const v4l2_capability& cap) {
    const auto* card = reinterpret_cast<const char*>(cap.card);
    return std::string(card, strnlen(card, sizeof cap.card));
}

REFERENCE_TIME PeriodOf(const v4l2_fract& f) {
    if (f.numerator == 0 || f.denominator == 0)
        return 0;
    return REFERENCE_TIME(uint64_t(f.numerator) * 10'000'000 / f.denominator);
}

// The intervals of one size: every discrete one, or the fastest of a range.
std::vector<REFERENCE_TIME> Intervals(V4l2System& system, int fd, uint32_t fourcc, uint32_t width,
                                      uint32_t height) {
    std::vector<REFERENCE_TIME> periods;
    for (uint32_t i = 0; i < 64; ++i) {
        v4l2_frmivalenum e{};
        e.index = i;
        e.pixel_format = fourcc;
        e.width = width;
        e.height = height;
        if (system.Ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &e) != 0)
            break;
        if (e.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            if (const REFERENCE_TIME p = PeriodOf(e.discrete); p > 0)
                periods.push_back(p);
        } else {
            if (const REFERENCE_TIME p = PeriodOf(e.stepwise.min); p > 0)
                periods.push_back(p);
            break;
        }
    }
    return periods;
}

struct Size {
    uint32_t width;
    uint32_t height;
};

// The sizes of one pixel format: every discrete one, or the largest and
// smallest of a range.
std::vector<Size> Sizes(V4l2System& system, int fd, uint32_t fourcc) {
    std::vector<Size> sizes;
    for (uint32_t i = 0; i < 256; ++i) {
        v4l2_frmsizeenum e{};
        e.index = i;
        e.pixel_format = fourcc;
        if (system.Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &e) != 0)
            break;
        if (e.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            sizes.push_back({e.discrete.width, e.discrete.height});
        } else {
            sizes.push_back({e.stepwise.max_width, e.stepwise.max_height});
            if (e.stepwise.min_width != e.stepwise.max_width ||
                e.stepwise.min_height != e.stepwise.max_height)
                sizes.push_back({e.stepwise.min_width, e.stepwise.min_height});
            break;
        }
    }
    return sizes;
}

// A size the engine's video types can describe.
bool Usable(const GUID& subtype, uint32_t width, uint32_t height) {
    if (width == 0 || height == 0 || width > 16384 || height > 16384)
        return false;
    return subtype != MEDIASUBTYPE_YUY2 || width % 2 == 0;
}

// The platform's picture amplifier properties and the V4L2 controls that
// carry them (and their automatic-mode control, 0 when none).
struct ControlMap {
    LONG property;
    uint32_t id;
    uint32_t auto_id;
};
constexpr ControlMap kControls[] = {
    {VideoProcAmp_Brightness, V4L2_CID_BRIGHTNESS, 0},
    {VideoProcAmp_Contrast, V4L2_CID_CONTRAST, 0},
    {VideoProcAmp_Hue, V4L2_CID_HUE, V4L2_CID_HUE_AUTO},
    {VideoProcAmp_Saturation, V4L2_CID_SATURATION, 0},
    {VideoProcAmp_Sharpness, V4L2_CID_SHARPNESS, 0},
    {VideoProcAmp_Gamma, V4L2_CID_GAMMA, 0},
    {VideoProcAmp_WhiteBalance, V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE},
    {VideoProcAmp_BacklightCompensation, V4L2_CID_BACKLIGHT_COMPENSATION, 0},
    {VideoProcAmp_Gain, V4L2_CID_GAIN, V4L2_CID_AUTOGAIN},
};

const ControlMap* FindControl(LONG property) {
    for (const ControlMap& c : kControls)
        if (c.property == property)
            return &c;
    return nullptr;
}

// The control's description; false when the device lacks it.
bool QueryControl(V4l2System& system, int fd, uint32_t id, v4l2_queryctrl* q) {
    *q = v4l2_queryctrl{};
    q->id = id;
    return system.Ioctl(fd, VIDIOC_QUERYCTRL, q) == 0 && !(q->flags & V4L2_CTRL_FLAG_DISABLED);
}

HRESULT LastError() {
    return HResultFromErrno(errno ? errno : EIO);
}

}  // namespace

GUID SubtypeOfFourcc(uint32_t fourcc) {
    switch (fourcc) {
        case V4L2_PIX_FMT_MJPEG:
        case V4L2_PIX_FMT_JPEG:
            return MEDIASUBTYPE_MJPG;
        case V4L2_PIX_FMT_YUYV:
            return MEDIASUBTYPE_YUY2;
        default:
            return GUID_NULL;
    }
}

uint32_t FourccOfSubtype(const GUID& subtype) {
    if (subtype == MEDIASUBTYPE_MJPG)
        return V4L2_PIX_FMT_MJPEG;
    if (subtype == MEDIASUBTYPE_YUY2)
        return V4L2_PIX_FMT_YUYV;
    return 0;
}

void V4l2NodeMemory::Remember(const V4l2Node& node) {
    std::lock_guard guard(m_lock);
    m_nodes[node.path] = node;
}

std::optional<V4l2Node> V4l2NodeMemory::Recall(const std::string& path,
                                               const std::string& identity) const {
    std::lock_guard guard(m_lock);
    const auto it = m_nodes.find(path);
    if (it == m_nodes.end() || it->second.identity != identity)
        return std::nullopt;
    return it->second;
}

std::vector<V4l2Node> FindV4l2Nodes(V4l2System& system, V4l2Direction direction,
                                    V4l2NodeMemory* memory) {
    std::vector<std::string> paths = system.VideoNodes();
    std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
        const long na = NodeNumber(a), nb = NodeNumber(b);
        return na != nb ? na < nb : a < b;
    });
    std::vector<V4l2Node> nodes;
    for (const std::string& path : paths) {
        std::string identity = system.StableName(path);
        if (identity.empty())
            identity = path;
        std::optional<V4l2Node> node;
        {
            NodeFd fd(system, path);
            v4l2_capability cap{};
            if (fd.Get() >= 0 && system.Ioctl(fd.Get(), VIDIOC_QUERYCAP, &cap) == 0) {
                // A node's own capabilities, not those of the whole device
                // (a camera's metadata node shares the camera's).
                const uint32_t caps =
                    (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
                node = V4l2Node{path, identity, CardName(cap), caps};
                if (memory)
                    memory->Remember(*node);
            } else if (memory) {
                // Present but not answering now: listed as it was.
                node = memory->Recall(path, identity);
            }
        }
        if (!node)
            continue;
        const uint32_t caps = node->caps;
        const bool wanted = direction == V4l2Direction::Capture
                                ? (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING)
                                : (caps & V4L2_CAP_VIDEO_OUTPUT) && (caps & V4L2_CAP_READWRITE);
        if (wanted)
            nodes.push_back(std::move(*node));
    }
    return nodes;
}

std::vector<CaptureFormat> ReadCaptureFormats(V4l2System& system, int fd) {
    std::vector<CaptureFormat> formats;
    for (uint32_t i = 0; i < 64; ++i) {
        v4l2_fmtdesc d{};
        d.index = i;
        d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (system.Ioctl(fd, VIDIOC_ENUM_FMT, &d) != 0)
            break;
        const GUID subtype = SubtypeOfFourcc(d.pixelformat);
        if (subtype == GUID_NULL)
            continue;  // Not a format the engine carries.
        for (const Size& s : Sizes(system, fd, d.pixelformat)) {
            if (!Usable(subtype, s.width, s.height))
                continue;
            std::vector<REFERENCE_TIME> periods =
                Intervals(system, fd, d.pixelformat, s.width, s.height);
            if (periods.empty())
                periods.push_back(0);  // The driver names no rate.
            for (REFERENCE_TIME p : periods) {
                const CaptureFormat f{subtype, int(s.width), int(s.height), p};
                if (std::find(formats.begin(), formats.end(), f) == formats.end())
                    formats.push_back(f);
            }
        }
    }

    // The device's current format leads.
    v4l2_format current{};
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (system.Ioctl(fd, VIDIOC_G_FMT, &current) != 0)
        return formats;
    const GUID subtype = SubtypeOfFourcc(current.fmt.pix.pixelformat);
    if (subtype == GUID_NULL || !Usable(subtype, current.fmt.pix.width, current.fmt.pix.height))
        return formats;
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    REFERENCE_TIME period = 0;
    if (system.Ioctl(fd, VIDIOC_G_PARM, &parm) == 0)
        period = PeriodOf(parm.parm.capture.timeperframe);
    CaptureFormat first{subtype, int(current.fmt.pix.width), int(current.fmt.pix.height), period};
    auto same_size = [&](const CaptureFormat& f) {
        return f.subtype == first.subtype && f.width == first.width && f.height == first.height;
    };
    auto it = std::find(formats.begin(), formats.end(), first);
    if (it == formats.end())
        it = std::find_if(formats.begin(), formats.end(), same_size);
    if (it != formats.end()) {
        first = *it;
        formats.erase(it);
    }
    formats.insert(formats.begin(), first);
    return formats;
}

std::shared_ptr<V4l2Controls> V4l2Controls::For(const std::shared_ptr<V4l2System>& system,
                                                const V4l2Node& node) {
    static std::mutex lock;
    // Guarded by `lock`. A handle keeps its system alive, so a system's
    // address names one system for the life of the process.
    static std::map<std::pair<V4l2System*, std::string>, std::shared_ptr<V4l2Controls>> handles;
    std::lock_guard guard(lock);
    auto& handle = handles[{system.get(), node.identity}];
    if (!handle)
        handle = std::make_shared<V4l2Controls>(system, node.path);
    else
        handle->SetPath(node.path);
    return handle;
}

V4l2Controls::V4l2Controls(std::shared_ptr<V4l2System> system, std::string path)
    : m_system(std::move(system)), m_path(std::move(path)), m_quality(kDefaultJpegQuality) {}

void V4l2Controls::SetPath(const std::string& path) {
    std::lock_guard guard(m_lock);
    m_path = path;
}

std::string V4l2Controls::Path() const {
    std::lock_guard guard(m_lock);
    return m_path;
}

int V4l2Controls::OpenControl() const {
    return m_system->Open(Path(), O_RDWR | O_NONBLOCK);
}

HRESULT V4l2Controls::GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def,
                               LONG* caps) {
    if (!min || !max || !step || !def || !caps)
        return E_POINTER;
    const ControlMap* c = FindControl(property);
    if (!c)
        return E_PROP_ID_UNSUPPORTED;
    NodeFd fd(*m_system, Path());
    if (fd.Get() < 0)
        return LastError();
    v4l2_queryctrl q;
    if (!QueryControl(*m_system, fd.Get(), c->id, &q))
        return E_PROP_ID_UNSUPPORTED;
    v4l2_queryctrl automatic;
    const bool has_auto = c->auto_id && QueryControl(*m_system, fd.Get(), c->auto_id, &automatic);
    *min = q.minimum;
    *max = q.maximum;
    *step = std::max<LONG>(q.step, 1);
    *def = q.default_value;
    *caps = VideoProcAmp_Flags_Manual | (has_auto ? VideoProcAmp_Flags_Auto : 0);
    return S_OK;
}

HRESULT V4l2Controls::Set(LONG property, LONG value, LONG flags) {
    const ControlMap* c = FindControl(property);
    if (!c)
        return E_PROP_ID_UNSUPPORTED;
    NodeFd fd(*m_system, Path());
    if (fd.Get() < 0)
        return LastError();
    v4l2_queryctrl q;
    if (!QueryControl(*m_system, fd.Get(), c->id, &q))
        return E_PROP_ID_UNSUPPORTED;
    v4l2_queryctrl automatic;
    const bool has_auto = c->auto_id && QueryControl(*m_system, fd.Get(), c->auto_id, &automatic);
    if (has_auto) {
        v4l2_control mode{c->auto_id, (flags & VideoProcAmp_Flags_Auto) ? 1 : 0};
        if (m_system->Ioctl(fd.Get(), VIDIOC_S_CTRL, &mode) != 0)
            return LastError();
        if (mode.value)
            return S_OK;  // The driver chooses the value now.
    }
    if (value < q.minimum || value > q.maximum)
        return E_INVALIDARG;
    v4l2_control ctrl{c->id, value};
    return m_system->Ioctl(fd.Get(), VIDIOC_S_CTRL, &ctrl) == 0 ? S_OK : LastError();
}

HRESULT V4l2Controls::Get(LONG property, LONG* value, LONG* flags) {
    if (!value || !flags)
        return E_POINTER;
    const ControlMap* c = FindControl(property);
    if (!c)
        return E_PROP_ID_UNSUPPORTED;
    NodeFd fd(*m_system, Path());
    if (fd.Get() < 0)
        return LastError();
    v4l2_queryctrl q;
    if (!QueryControl(*m_system, fd.Get(), c->id, &q))
        return E_PROP_ID_UNSUPPORTED;
    v4l2_control ctrl{c->id, 0};
    if (m_system->Ioctl(fd.Get(), VIDIOC_G_CTRL, &ctrl) != 0)
        return LastError();
    *value = ctrl.value;
    *flags = VideoProcAmp_Flags_Manual;
    v4l2_queryctrl automatic;
    if (c->auto_id && QueryControl(*m_system, fd.Get(), c->auto_id, &automatic)) {
        v4l2_control mode{c->auto_id, 0};
        if (m_system->Ioctl(fd.Get(), VIDIOC_G_CTRL, &mode) == 0 && mode.value)
            *flags = VideoProcAmp_Flags_Auto;
    }
    return S_OK;
}

bool V4l2Controls::HasJpegQuality() {
    NodeFd fd(*m_system, Path());
    v4l2_queryctrl q;
    return fd.Get() >= 0 &&
           QueryControl(*m_system, fd.Get(), V4L2_CID_JPEG_COMPRESSION_QUALITY, &q) &&
           q.maximum > q.minimum;
}

HRESULT V4l2Controls::SetQuality(double quality) {
    if (!(quality >= 0.0 && quality <= 1.0))
        return E_INVALIDARG;
    NodeFd fd(*m_system, Path());
    v4l2_queryctrl q;
    if (fd.Get() >= 0 && QueryControl(*m_system, fd.Get(), V4L2_CID_JPEG_COMPRESSION_QUALITY, &q) &&
        q.maximum > q.minimum) {
        const int64_t step = std::max<int64_t>(q.step, 1);
        const int64_t span = int64_t(q.maximum) - q.minimum;
        const int64_t steps = std::llround(quality * double(span) / double(step));
        v4l2_control ctrl{
            V4L2_CID_JPEG_COMPRESSION_QUALITY,
            static_cast<int32_t>(std::min<int64_t>(q.minimum + steps * step, q.maximum))};
        if (m_system->Ioctl(fd.Get(), VIDIOC_S_CTRL, &ctrl) != 0)
            return LastError();
    }
    // Kept in any case: it is what an MJPEG Compressor behind a device
    // without its own JPEG control encodes with.
    std::lock_guard guard(m_lock);
    m_quality = quality;
    return S_OK;
}

double V4l2Controls::Quality() {
    NodeFd fd(*m_system, Path());
    v4l2_queryctrl q;
    if (fd.Get() >= 0 && QueryControl(*m_system, fd.Get(), V4L2_CID_JPEG_COMPRESSION_QUALITY, &q) &&
        q.maximum > q.minimum) {
        v4l2_control ctrl{V4L2_CID_JPEG_COMPRESSION_QUALITY, 0};
        if (m_system->Ioctl(fd.Get(), VIDIOC_G_CTRL, &ctrl) == 0)
            return std::clamp(double(ctrl.value - q.minimum) / double(q.maximum - q.minimum), 0.0,
                              1.0);
    }
    std::lock_guard guard(m_lock);
    return m_quality;
}

namespace {

// The node memory of `system`, made on first use and kept while the system
// lives (a memory whose system is gone is dropped when its place is asked
// for again).
std::shared_ptr<V4l2NodeMemory> MemoryOf(const std::shared_ptr<V4l2System>& system) {
    struct Entry {
        std::weak_ptr<V4l2System> system;
        std::shared_ptr<V4l2NodeMemory> memory;
    };
    static std::mutex lock;
    static std::map<const V4l2System*, Entry> memories;  // guarded by lock
    std::lock_guard guard(lock);
    std::erase_if(memories, [](const auto& e) { return e.second.system.expired(); });
    Entry& entry = memories[system.get()];
    if (!entry.memory) {
        entry.system = system;
        entry.memory = std::make_shared<V4l2NodeMemory>();
    }
    return entry.memory;
}

}  // namespace

void RegisterV4l2Devices() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Each enumeration looks at /dev afresh, on the system installed
        // then; the devices it finds keep that system. What was learned of
        // a system's nodes lasts as long as the system does.
        auto provider = [](V4l2Direction direction) {
            return [direction] {
                const std::shared_ptr<V4l2System> system = CurrentV4l2System();
                std::vector<DeviceDescription> devices;
                for (const V4l2Node& node :
                     FindV4l2Nodes(*system, direction, MemoryOf(system).get())) {
                    const bool capture = direction == V4l2Direction::Capture;
                    devices.push_back(DeviceDescription{
                        node.card, node.identity, capture ? CLSID_V4l2Capture : CLSID_V4l2Output,
                        [system, node, capture](REFIID riid, void** out) {
                            return capture ? CreateV4l2Capture(system, node, riid, out)
                                           : CreateV4l2Output(system, node, riid, out);
                        }});
                }
                return devices;
            };
        };
        DeviceRegistry& registry = DeviceRegistry::Instance();
        registry.AddProvider(CLSID_VideoInputDeviceCategory, ProviderKind::Backend,
                             provider(V4l2Direction::Capture));
        registry.AddProvider(CLSID_TransmitCategory, ProviderKind::Backend,
                             provider(V4l2Direction::Output));
    });
}

}  // namespace ronvix::media
