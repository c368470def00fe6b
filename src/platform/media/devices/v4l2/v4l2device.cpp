// V4L2 enumeration, formats and controls. See v4l2device.h.

#include "platform/media/devices/v4l2/v4l2device.h"

#include <fcntl.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>

#include "platform/com/devices.h"
#include "platform/media/codecs/codecs.h"
#include "platform/media/codecs/colourspace.h"

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
    if (const std::optional<YuvLayout> layout = YuvLayoutOf(subtype))
        return YuvSizeUsable(*layout, int(width), int(height));
    return true;
}

// The frame sizes a decoder of analog television gives at its current
// standard when the driver lists none (a card that scales to any size):
// the full frame and half of it, as the driver adjusts them.
std::vector<Size> AnalogSizes(V4l2System& system, int fd, uint32_t fourcc) {
    v4l2_std_id std = 0;
    if (system.Ioctl(fd, VIDIOC_G_STD, &std) != 0 || std == 0)
        return {};
    const uint32_t lines = Is525Lines(std) ? 480 : 576;
    std::vector<Size> sizes;
    for (const Size wanted : {Size{720, lines}, Size{360, lines / 2}}) {
        v4l2_format f{};
        f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        f.fmt.pix.width = wanted.width;
        f.fmt.pix.height = wanted.height;
        f.fmt.pix.pixelformat = fourcc;
        f.fmt.pix.field = V4L2_FIELD_ANY;
        if (system.Ioctl(fd, VIDIOC_TRY_FMT, &f) != 0 || f.fmt.pix.pixelformat != fourcc)
            continue;
        const Size got{f.fmt.pix.width, f.fmt.pix.height};
        if (std::none_of(sizes.begin(), sizes.end(), [&](const Size& s) {
                return s.width == got.width && s.height == got.height;
            }))
            sizes.push_back(got);
    }
    return sizes;
}

}  // namespace

GUID SubtypeOfFourcc(uint32_t fourcc) {
    switch (fourcc) {
        case V4L2_PIX_FMT_MJPEG:
        case V4L2_PIX_FMT_JPEG:
            return MEDIASUBTYPE_MJPG;
        case V4L2_PIX_FMT_YUYV:
            return MEDIASUBTYPE_YUY2;
        case V4L2_PIX_FMT_UYVY:
            return MEDIASUBTYPE_UYVY;
        case V4L2_PIX_FMT_NV12:
            return MEDIASUBTYPE_NV12;
        case V4L2_PIX_FMT_YUV420:
            return MEDIASUBTYPE_I420;
        default:
            return GUID_NULL;
    }
}

uint32_t FourccOfSubtype(const GUID& subtype) {
    if (subtype == MEDIASUBTYPE_MJPG)
        return V4L2_PIX_FMT_MJPEG;
    if (subtype == MEDIASUBTYPE_YUY2)
        return V4L2_PIX_FMT_YUYV;
    if (subtype == MEDIASUBTYPE_UYVY)
        return V4L2_PIX_FMT_UYVY;
    if (subtype == MEDIASUBTYPE_NV12)
        return V4L2_PIX_FMT_NV12;
    if (subtype == MEDIASUBTYPE_I420)
        return V4L2_PIX_FMT_YUV420;
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
            V4l2Fd fd(system, path);
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
        std::vector<Size> sizes = Sizes(system, fd, d.pixelformat);
        if (sizes.empty())
            sizes = AnalogSizes(system, fd, d.pixelformat);
        for (const Size& s : sizes) {
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
