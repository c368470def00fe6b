#pragma once
// A scripted V4L2 system for the device tests: nodes with capabilities,
// formats, sizes, intervals and controls (integer, boolean and menu); a
// capture stream whose frames the test feeds (with their sequence numbers
// and driver times), laid out with the node's row padding and field order;
// an analog side (inputs, audio inputs, standards, a detected standard);
// scripted EAGAIN answers; removal of a node in the middle of a stream; an
// output node that records what is written to it; and a replay of recorded
// frames (MJPG or raw) at the node's own rate, as a camera delivers them.
//
// Threads: made and scripted on the test's thread; the device filters call
// it from their control and streaming threads. All state is guarded by
// m_lock; Poll waits on m_cv, which every feed and removal signals.

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/media/core/clock.h"
#include "platform/media/devices/v4l2/v4l2system.h"
#include "platform/media/devices/virtual/virtualdevices.h"

namespace ronvix::media::test {

struct FakeSize {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<v4l2_fract> intervals;  // empty: the driver names none
};

struct FakeFormat {
    uint32_t fourcc = 0;
    std::vector<FakeSize> sizes;
};

struct FakeControl {
    int32_t minimum = 0;
    int32_t maximum = 255;
    int32_t step = 1;
    int32_t default_value = 128;
    int32_t value = 128;
    uint32_t type = V4L2_CTRL_TYPE_INTEGER;
    // A menu's item names by index; an index missing here is not an item.
    std::map<int32_t, std::string> menu;
};

struct FakeInput {
    std::string name;
    uint32_t type = V4L2_INPUT_TYPE_CAMERA;
    v4l2_std_id std = 0;
    uint32_t audioset = 0;
    uint32_t status = 0;
};

struct FakeFrame {
    std::vector<uint8_t> data;
    uint32_t sequence = 0;
    REFERENCE_TIME time_100ns = 0;  // monotonic clock
    uint32_t flags = 0;             // V4L2_BUF_FLAG_ERROR, ...
};

struct FakeNode {
    std::string card = "USB Camera";
    uint32_t caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::string stable_name;  // "/dev/v4l/by-id/..." or empty
    std::vector<FakeFormat> formats;
    // The current format (VIDIOC_G_FMT) and interval (VIDIOC_G_PARM).
    uint32_t fourcc = V4L2_PIX_FMT_YUYV;
    uint32_t width = 640;
    uint32_t height = 480;
    v4l2_fract interval{1, 30};
    bool fixed_rate = false;  // The driver keeps its interval whatever is asked.
    std::map<uint32_t, FakeControl> controls;
    // Output nodes: the pixel formats S_FMT on the output type keeps.
    std::vector<uint32_t> output_formats;
    // Bytes of padding after each row of the buffer (bytesperline).
    uint32_t row_padding = 0;
    // The field order S_FMT answers: V4L2_FIELD_NONE for a camera; a
    // television decoder answers what it was asked when it can.
    uint32_t field = V4L2_FIELD_NONE;
    bool field_as_asked = false;
    // The analog side: no inputs means the driver answers none of its
    // ioctls (a camera whose driver lacks them).
    std::vector<FakeInput> inputs;
    std::vector<std::string> audio_inputs;
    std::vector<std::pair<std::string, v4l2_std_id>> standards;
    uint32_t input = 0;
    uint32_t audio_input = 0;
    v4l2_std_id std = 0;
    v4l2_std_id detected = 0;  // QUERYSTD's answer (0: no signal).
};

// What the device was told, in order ("S_INPUT 1", "S_STD 0x...", ...).
using FakeLog = std::vector<std::string>;

class FakeV4l2System final : public V4l2System {
public:
    // --- Scripting (test thread) ---
    void AddNode(const std::string& path, FakeNode node) {
        std::lock_guard guard(m_lock);
        m_nodes[path] = Node{std::move(node)};
    }
    // The node vanishes: it can no longer be opened, and every call on an
    // open descriptor of it fails with ENODEV (poll reports POLLERR|POLLHUP).
    void Remove(const std::string& path) {
        {
            std::lock_guard guard(m_lock);
            m_nodes[path].present = false;
        }
        m_cv.notify_all();
    }
    void Feed(const std::string& path, FakeFrame frame) {
        {
            std::lock_guard guard(m_lock);
            m_nodes[path].pending.push_back(std::move(frame));
        }
        m_cv.notify_all();
    }
    // Opening `path` fails with `error` (EBUSY: another program has a
    // device that takes one opener) until it is set back to 0; the node
    // stays present.
    void SetOpenError(const std::string& path, int error) {
        std::lock_guard guard(m_lock);
        m_nodes[path].open_error = error;
    }
    // From the next STREAMON on, `path` delivers `frames` over and over, one
    // each of its intervals, stamped with the times they became ready (the
    // first one interval after STREAMON). A frame whose time comes while the
    // consumer holds every buffer is lost, as with a driver: the sequence
    // skips it. Frames fed with Feed come first.
    void Replay(const std::string& path, std::vector<std::vector<uint8_t>> frames) {
        std::lock_guard guard(m_lock);
        m_nodes[path].replay =
            std::make_shared<const std::vector<std::vector<uint8_t>>>(std::move(frames));
    }
    // CPU time the replay spent copying frames into buffers (the part a
    // device's DMA does), on whichever threads dequeued them.
    int64_t ReplayCopyNs() {
        std::lock_guard guard(m_lock);
        return m_replay_copy_ns;
    }
    // The next `count` VIDIOC_DQBUF (or write) calls on `path` fail with
    // EAGAIN even though poll reported the device ready.
    void ScriptEagain(const std::string& path, int count) {
        std::lock_guard guard(m_lock);
        m_nodes[path].eagain = count;
    }

    // --- Inspection ---
    FakeNode NodeState(const std::string& path) {
        std::lock_guard guard(m_lock);
        return m_nodes[path].node;
    }
    int32_t ControlValue(const std::string& path, uint32_t id) {
        std::lock_guard guard(m_lock);
        return m_nodes[path].node.controls[id].value;
    }
    bool Streaming(const std::string& path) {
        std::lock_guard guard(m_lock);
        return m_nodes[path].streaming;
    }
    size_t PendingFrames(const std::string& path) {
        std::lock_guard guard(m_lock);
        return m_nodes[path].pending.size();
    }
    int OpenDescriptors() {
        std::lock_guard guard(m_lock);
        return int(m_fds.size());
    }
    int Mapped() {
        std::lock_guard guard(m_lock);
        return m_mapped;
    }
    int Polls(const std::string& path) {
        std::lock_guard guard(m_lock);
        return m_nodes[path].polls;
    }
    std::vector<std::vector<uint8_t>> Written(const std::string& path) {
        std::lock_guard guard(m_lock);
        return m_nodes[path].written;
    }
    uint32_t OutputFourcc(const std::string& path) {
        std::lock_guard guard(m_lock);
        return m_nodes[path].out_fourcc;
    }
    FakeLog Log(const std::string& path) {
        std::lock_guard guard(m_lock);
        return m_nodes[path].log;
    }
    FakeNode State(const std::string& path) {
        std::lock_guard guard(m_lock);
        return m_nodes[path].node;
    }
    // Changes the node as the driver would by itself (a signal appears).
    template <class Change>
    void Modify(const std::string& path, Change change) {
        std::lock_guard guard(m_lock);
        change(m_nodes[path].node);
    }

    // --- V4l2System ---
    int Open(const std::string& path, int) override {
        std::lock_guard guard(m_lock);
        auto it = m_nodes.find(path);
        if (it == m_nodes.end() || !it->second.present)
            return errno = ENOENT, -1;
        if (it->second.open_error)
            return errno = it->second.open_error, -1;
        const int fd = m_next_fd++;
        m_fds[fd] = path;
        return fd;
    }
    int Close(int fd) override {
        std::lock_guard guard(m_lock);
        return m_fds.erase(fd) ? 0 : (errno = EBADF, -1);
    }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        std::lock_guard guard(m_lock);
        Node* n = NodeOf(fd);
        if (!n)
            return -1;
        return Call(*n, request, arg);
    }
    void* Mmap(size_t length, int, int, int fd, off_t offset) override {
        std::lock_guard guard(m_lock);
        Node* n = NodeOf(fd);
        const size_t index = size_t(offset) / kOffsetStep;
        if (!n || index >= n->buffers.size() || n->buffers[index].size() < length)
            return errno = EINVAL, MAP_FAILED;
        ++m_mapped;
        return n->buffers[index].data();
    }
    int Munmap(void*, size_t) override {
        std::lock_guard guard(m_lock);
        --m_mapped;
        return 0;
    }
    // Waits on the scripted node; the caller's own descriptors after the
    // first are real ones (a stop's eventfd), looked at every few
    // milliseconds while waiting.
    int Poll(pollfd* fds, nfds_t count, int timeout_ms) override {
        std::unique_lock guard(m_lock);
        if (count < 1)
            return errno = EINVAL, -1;
        pollfd& p = fds[0];
        for (nfds_t i = 0; i < count; ++i)
            fds[i].revents = 0;
        auto fd = m_fds.find(p.fd);
        if (fd == m_fds.end())
            return p.revents = POLLNVAL, 1;
        Node* n = &m_nodes[fd->second];
        ++n->polls;
        auto ready = [&] {
            return !n->present ||
                   (n->streaming && !n->queued.empty() &&
                    (!n->pending.empty() || ReplayDue(*n, std::chrono::steady_clock::now()))) ||
                   (p.events & POLLOUT);
        };
        auto own_ready = [&] { return count > 1 && ::poll(fds + 1, count - 1, 0) > 0; };
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!ready() && !own_ready() && std::chrono::steady_clock::now() < until) {
            if (n->replay && n->streaming && !n->queued.empty() && count > 1) {
                // A replaying device is ready at its next frame's time: the
                // wait for it is one wait on the caller's own descriptors
                // (a stop still ends it), as a driver's poll sleeps until a
                // frame, not a wake every few milliseconds.
                const auto wake = std::min(until, ReplayTime(*n, n->replay_next));
                guard.unlock();
                const auto ms = std::chrono::ceil<std::chrono::milliseconds>(
                                    wake - std::chrono::steady_clock::now())
                                    .count();
                ::poll(fds + 1, count - 1, int(std::max<int64_t>(0, ms)));
                guard.lock();
                continue;
            }
            auto wake = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
            if (n->replay && n->streaming)
                wake = std::min(wake, ReplayTime(*n, n->replay_next));
            m_cv.wait_until(guard, wake);
        }
        int n_ready = 0;
        for (nfds_t i = 1; i < count; ++i)
            n_ready += fds[i].revents != 0;
        if (!n->present)
            p.revents = POLLERR | POLLHUP;
        else if (ready())
            p.revents = (p.events & POLLOUT) ? POLLOUT : POLLIN;
        return n_ready + (p.revents != 0);
    }
    ssize_t Read(int, void*, size_t) override { return errno = EINVAL, -1; }
    ssize_t Write(int fd, const void* buffer, size_t length) override {
        std::lock_guard guard(m_lock);
        Node* n = NodeOf(fd);
        if (!n)
            return -1;
        if (n->eagain > 0) {
            --n->eagain;
            return errno = EAGAIN, -1;
        }
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        n->written.emplace_back(bytes, bytes + length);
        return ssize_t(length);
    }
    std::vector<std::string> VideoNodes() override {
        std::lock_guard guard(m_lock);
        std::vector<std::string> paths;
        for (const auto& [path, n] : m_nodes)
            if (n.present)
                paths.push_back(path);
        // Directory order is no order: the backend must sort.
        std::reverse(paths.begin(), paths.end());
        return paths;
    }
    std::string StableName(const std::string& path) override {
        std::lock_guard guard(m_lock);
        auto it = m_nodes.find(path);
        return it == m_nodes.end() ? std::string() : it->second.node.stable_name;
    }

private:
    static constexpr size_t kOffsetStep = 0x100000;

    struct Node {
        FakeNode node;
        bool present = true;
        bool streaming = false;
        std::vector<std::vector<uint8_t>> buffers;
        std::vector<std::vector<std::vector<uint8_t>>> retired;
        std::deque<uint32_t> queued;  // buffer indices the driver holds
        std::deque<FakeFrame> pending;
        std::shared_ptr<const std::vector<std::vector<uint8_t>>> replay;
        std::chrono::steady_clock::time_point replay_start;
        uint32_t replay_next = 0;  // the sequence number of the next frame
        int eagain = 0;
        int open_error = 0;
        int polls = 0;
        uint32_t out_fourcc = 0;
        std::vector<std::vector<uint8_t>> written;
        FakeLog log;
    };

    // Guarded by m_lock. Null with errno set when `fd` is not open or its
    // node is gone.
    Node* NodeOf(int fd) {
        auto it = m_fds.find(fd);
        if (it == m_fds.end())
            return errno = EBADF, nullptr;
        Node& n = m_nodes[it->second];
        if (!n.present)
            return errno = ENODEV, nullptr;
        return &n;
    }

    static std::chrono::steady_clock::time_point ReplayTime(const Node& n, uint32_t sequence) {
        const auto period =
            std::chrono::nanoseconds(int64_t(n.node.interval.numerator) * 1'000'000'000 /
                                     std::max<uint32_t>(1, n.node.interval.denominator));
        return n.replay_start + period * (int64_t(sequence) + 1);
    }
    static bool ReplayDue(const Node& n, std::chrono::steady_clock::time_point now) {
        return n.replay && !n.replay->empty() && n.streaming && now >= ReplayTime(n, n.replay_next);
    }

    static bool Planar(uint32_t fourcc) {
        return fourcc == V4L2_PIX_FMT_NV12 || fourcc == V4L2_PIX_FMT_YUV420;
    }
    static bool Raw(uint32_t fourcc) {
        return Planar(fourcc) || fourcc == V4L2_PIX_FMT_YUYV || fourcc == V4L2_PIX_FMT_UYVY;
    }
    static uint32_t BytesPerLine(const FakeNode& node) {
        if (!Raw(node.fourcc))
            return 0;
        return node.width * (Planar(node.fourcc) ? 1 : 2) + node.row_padding;
    }
    static size_t ImageSize(const FakeNode& node) {
        if (!Raw(node.fourcc))
            return size_t(node.width) * node.height * 2 + 4096;
        const size_t rows = Planar(node.fourcc) ? node.height + node.height / 2 : node.height;
        return size_t(BytesPerLine(node)) * rows;
    }

    const FakeFormat* FindFormat(const FakeNode& node, uint32_t fourcc) {
        for (const FakeFormat& f : node.formats)
            if (f.fourcc == fourcc)
                return &f;
        return nullptr;
    }

    // Guarded by m_lock.
    int Call(Node& n, unsigned long request, void* arg) {
        FakeNode& node = n.node;
        switch (request) {
            case VIDIOC_QUERYCAP: {
                auto* cap = static_cast<v4l2_capability*>(arg);
                *cap = v4l2_capability{};
                std::snprintf(reinterpret_cast<char*>(cap->card), sizeof cap->card, "%s",
                              node.card.c_str());
                cap->capabilities = node.caps | V4L2_CAP_DEVICE_CAPS | V4L2_CAP_VIDEO_CAPTURE |
                                    V4L2_CAP_META_CAPTURE;
                cap->device_caps = node.caps;
                return 0;
            }
            case VIDIOC_ENUM_FMT: {
                auto* d = static_cast<v4l2_fmtdesc*>(arg);
                if (d->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || d->index >= node.formats.size())
                    return errno = EINVAL, -1;
                d->pixelformat = node.formats[d->index].fourcc;
                return 0;
            }
            case VIDIOC_ENUM_FRAMESIZES: {
                auto* e = static_cast<v4l2_frmsizeenum*>(arg);
                const FakeFormat* f = FindFormat(node, e->pixel_format);
                if (!f || e->index >= f->sizes.size())
                    return errno = EINVAL, -1;
                e->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                e->discrete = {f->sizes[e->index].width, f->sizes[e->index].height};
                return 0;
            }
            case VIDIOC_ENUM_FRAMEINTERVALS: {
                auto* e = static_cast<v4l2_frmivalenum*>(arg);
                const FakeFormat* f = FindFormat(node, e->pixel_format);
                if (!f)
                    return errno = EINVAL, -1;
                for (const FakeSize& s : f->sizes)
                    if (s.width == e->width && s.height == e->height) {
                        if (e->index >= s.intervals.size())
                            return errno = EINVAL, -1;
                        e->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                        e->discrete = s.intervals[e->index];
                        return 0;
                    }
                return errno = EINVAL, -1;
            }
            case VIDIOC_G_FMT: {
                auto* f = static_cast<v4l2_format*>(arg);
                if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
                    return errno = EINVAL, -1;
                f->fmt.pix.width = node.width;
                f->fmt.pix.height = node.height;
                f->fmt.pix.pixelformat = node.fourcc;
                f->fmt.pix.bytesperline = BytesPerLine(node);
                f->fmt.pix.sizeimage = uint32_t(ImageSize(node));
                f->fmt.pix.field = node.field;
                return 0;
            }
            case VIDIOC_TRY_FMT: {
                // A scaler: any size up to the first listed one.
                auto* f = static_cast<v4l2_format*>(arg);
                if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE ||
                    !FindFormat(node, f->fmt.pix.pixelformat))
                    return errno = EINVAL, -1;
                return 0;
            }
            case VIDIOC_S_FMT: {
                auto* f = static_cast<v4l2_format*>(arg);
                if (n.streaming)
                    return errno = EBUSY, -1;
                if (f->type == V4L2_BUF_TYPE_VIDEO_OUTPUT) {
                    if (node.output_formats.empty())
                        return errno = EINVAL, -1;
                    // As drivers do: a format it cannot take becomes one it can.
                    if (std::find(node.output_formats.begin(), node.output_formats.end(),
                                  f->fmt.pix.pixelformat) == node.output_formats.end())
                        f->fmt.pix.pixelformat = node.output_formats.front();
                    n.out_fourcc = f->fmt.pix.pixelformat;
                    return 0;
                }
                if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
                    return errno = EINVAL, -1;
                const FakeFormat* format = FindFormat(node, f->fmt.pix.pixelformat);
                if (!format)
                    format = &node.formats.front();
                node.fourcc = format->fourcc;
                if (format->sizes.empty()) {
                    // A scaler that lists no sizes takes any.
                    node.width = f->fmt.pix.width;
                    node.height = f->fmt.pix.height;
                } else {
                    const FakeSize* size = &format->sizes.front();
                    for (const FakeSize& s : format->sizes)
                        if (s.width == f->fmt.pix.width && s.height == f->fmt.pix.height)
                            size = &s;
                    node.width = size->width;
                    node.height = size->height;
                }
                if (node.field_as_asked && f->fmt.pix.field != V4L2_FIELD_ANY)
                    node.field = f->fmt.pix.field;
                n.log.push_back("S_FMT");
                return Call(n, VIDIOC_G_FMT, arg);
            }
            case VIDIOC_G_PARM:
            case VIDIOC_S_PARM: {
                auto* p = static_cast<v4l2_streamparm*>(arg);
                if (p->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
                    return errno = EINVAL, -1;
                if (request == VIDIOC_S_PARM) {
                    const v4l2_fract asked = p->parm.capture.timeperframe;
                    n.log.push_back("S_PARM " + std::to_string(asked.numerator) + "/" +
                                    std::to_string(asked.denominator));
                    if (!node.fixed_rate)
                        node.interval = asked;
                }
                p->parm.capture.timeperframe = node.interval;
                return 0;
            }
            case VIDIOC_REQBUFS: {
                auto* r = static_cast<v4l2_requestbuffers*>(arg);
                if (n.streaming)
                    return errno = EBUSY, -1;
                // Buffers still mapped (a frame held downstream after its
                // session closed) keep their memory, as the kernel's do.
                if (m_mapped > 0)
                    n.retired.push_back(std::move(n.buffers));
                n.buffers.assign(r->count, std::vector<uint8_t>(ImageSize(node)));
                n.queued.clear();
                return 0;
            }
            case VIDIOC_QUERYBUF: {
                auto* b = static_cast<v4l2_buffer*>(arg);
                if (b->index >= n.buffers.size())
                    return errno = EINVAL, -1;
                b->length = uint32_t(n.buffers[b->index].size());
                b->m.offset = uint32_t(b->index * kOffsetStep);
                return 0;
            }
            case VIDIOC_QBUF: {
                auto* b = static_cast<v4l2_buffer*>(arg);
                if (b->index >= n.buffers.size() ||
                    std::find(n.queued.begin(), n.queued.end(), b->index) != n.queued.end())
                    return errno = EINVAL, -1;
                n.queued.push_back(b->index);
                m_cv.notify_all();
                return 0;
            }
            case VIDIOC_DQBUF: {
                auto* b = static_cast<v4l2_buffer*>(arg);
                if (n.eagain > 0) {
                    --n.eagain;
                    return errno = EAGAIN, -1;
                }
                const auto now = std::chrono::steady_clock::now();
                if (!n.streaming || n.queued.empty() || (n.pending.empty() && !ReplayDue(n, now)))
                    return errno = EAGAIN, -1;
                FakeFrame frame;
                const std::vector<uint8_t>* data = &frame.data;
                if (!n.pending.empty()) {
                    frame = std::move(n.pending.front());
                    n.pending.pop_front();
                } else {
                    // The driver's free buffers hold the newest frames
                    // whose time has come; older ones had none to go to.
                    while (now >= ReplayTime(n, n.replay_next + uint32_t(n.queued.size())))
                        ++n.replay_next;
                    frame.sequence = n.replay_next;
                    frame.time_100ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                           ReplayTime(n, n.replay_next).time_since_epoch())
                                           .count() /
                                       100;
                    data = &(*n.replay)[n.replay_next % n.replay->size()];
                    ++n.replay_next;
                }
                const uint32_t index = n.queued.front();
                n.queued.pop_front();
                std::vector<uint8_t>& buffer = n.buffers[index];
                const size_t length = std::min(buffer.size(), data->size());
                const int64_t copy_start = n.replay ? ThreadCpuNs() : 0;
                std::memcpy(buffer.data(), data->data(), length);
                if (n.replay)
                    m_replay_copy_ns += ThreadCpuNs() - copy_start;
                b->index = index;
                b->bytesused = uint32_t(length);
                b->sequence = frame.sequence;
                b->flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | frame.flags;
                b->timestamp.tv_sec = frame.time_100ns / 10'000'000;
                b->timestamp.tv_usec = (frame.time_100ns % 10'000'000) / 10;
                return 0;
            }
            case VIDIOC_STREAMON:
                n.log.push_back("STREAMON");
                n.streaming = true;
                n.replay_start = std::chrono::steady_clock::now();
                n.replay_next = 0;
                m_cv.notify_all();
                return 0;
            case VIDIOC_STREAMOFF:
                n.streaming = false;
                n.queued.clear();
                return 0;
            case VIDIOC_QUERYCTRL: {
                auto* q = static_cast<v4l2_queryctrl*>(arg);
                auto it = node.controls.find(q->id);
                if (it == node.controls.end())
                    return errno = EINVAL, -1;
                q->minimum = it->second.minimum;
                q->maximum = it->second.maximum;
                q->step = it->second.step;
                q->default_value = it->second.default_value;
                q->type = it->second.type;
                q->flags = 0;
                return 0;
            }
            case VIDIOC_QUERYMENU: {
                auto* m = static_cast<v4l2_querymenu*>(arg);
                auto it = node.controls.find(m->id);
                if (it == node.controls.end() || !it->second.menu.count(int32_t(m->index)))
                    return errno = EINVAL, -1;
                std::snprintf(reinterpret_cast<char*>(m->name), sizeof m->name, "%s",
                              it->second.menu.at(int32_t(m->index)).c_str());
                return 0;
            }
            case VIDIOC_ENUMINPUT: {
                auto* in = static_cast<v4l2_input*>(arg);
                if (in->index >= node.inputs.size())
                    return errno = EINVAL, -1;
                const FakeInput& f = node.inputs[in->index];
                std::snprintf(reinterpret_cast<char*>(in->name), sizeof in->name, "%s",
                              f.name.c_str());
                in->type = f.type;
                in->std = f.std;
                in->audioset = f.audioset;
                in->status = f.status;
                return 0;
            }
            case VIDIOC_G_INPUT:
            case VIDIOC_S_INPUT: {
                auto* index = static_cast<int*>(arg);
                if (node.inputs.empty())
                    return errno = ENOTTY, -1;
                if (request == VIDIOC_G_INPUT) {
                    *index = int(node.input);
                    return 0;
                }
                if (*index < 0 || size_t(*index) >= node.inputs.size())
                    return errno = EINVAL, -1;
                if (n.streaming)
                    return errno = EBUSY, -1;
                node.input = uint32_t(*index);
                n.log.push_back("S_INPUT " + std::to_string(*index));
                return 0;
            }
            case VIDIOC_ENUMAUDIO:
            case VIDIOC_G_AUDIO:
            case VIDIOC_S_AUDIO: {
                auto* a = static_cast<v4l2_audio*>(arg);
                if (request == VIDIOC_G_AUDIO)
                    a->index = node.audio_input;
                if (a->index >= node.audio_inputs.size())
                    return errno = EINVAL, -1;
                std::snprintf(reinterpret_cast<char*>(a->name), sizeof a->name, "%s",
                              node.audio_inputs[a->index].c_str());
                if (request == VIDIOC_S_AUDIO) {
                    node.audio_input = a->index;
                    n.log.push_back("S_AUDIO " + std::to_string(a->index));
                }
                return 0;
            }
            case VIDIOC_ENUMSTD: {
                auto* e = static_cast<v4l2_standard*>(arg);
                if (e->index >= node.standards.size())
                    return errno = EINVAL, -1;
                e->id = node.standards[e->index].second;
                std::snprintf(reinterpret_cast<char*>(e->name), sizeof e->name, "%s",
                              node.standards[e->index].first.c_str());
                return 0;
            }
            case VIDIOC_G_STD:
            case VIDIOC_S_STD:
            case VIDIOC_QUERYSTD: {
                auto* id = static_cast<v4l2_std_id*>(arg);
                if (node.standards.empty())
                    return errno = ENODATA, -1;
                if (request == VIDIOC_G_STD) {
                    *id = node.std;
                    return 0;
                }
                if (request == VIDIOC_QUERYSTD) {
                    *id = node.detected;
                    return 0;
                }
                v4l2_std_id known = 0;
                for (const auto& s : node.standards)
                    known |= s.second;
                if (!(*id & known))
                    return errno = EINVAL, -1;
                if (n.streaming)
                    return errno = EBUSY, -1;
                // As drivers do: the first standard entry the bits touch.
                for (const auto& s : node.standards)
                    if (*id & s.second) {
                        node.std = s.second;
                        break;
                    }
                char text[32];
                std::snprintf(text, sizeof text, "S_STD 0x%llx", (unsigned long long)*id);
                n.log.push_back(text);
                // The standard decides the frame: 480 or 576 lines.
                node.height = (node.std & V4L2_STD_525_60) ? 480 : 576;
                return 0;
            }
            case VIDIOC_G_CTRL:
            case VIDIOC_S_CTRL: {
                auto* c = static_cast<v4l2_control*>(arg);
                auto it = node.controls.find(c->id);
                if (it == node.controls.end())
                    return errno = EINVAL, -1;
                if (request == VIDIOC_S_CTRL)
                    it->second.value = std::clamp(c->value, it->second.minimum, it->second.maximum);
                c->value = it->second.value;
                return 0;
            }
            default:
                return errno = ENOTTY, -1;
        }
    }

    std::mutex m_lock;
    std::condition_variable m_cv;
    // Guarded by m_lock.
    std::map<std::string, Node> m_nodes;
    std::map<int, std::string> m_fds;
    int m_next_fd = 100;
    int m_mapped = 0;
    int64_t m_replay_copy_ns = 0;
};

// Installs a fake system for the life of the object.
class ScopedFakeV4l2 {
public:
    ScopedFakeV4l2() : m_fake(std::make_shared<FakeV4l2System>()) {
        m_previous = SetV4l2System(m_fake);
    }
    ~ScopedFakeV4l2() { SetV4l2System(m_previous); }
    FakeV4l2System& operator*() { return *m_fake; }
    FakeV4l2System* operator->() { return m_fake.get(); }
    std::shared_ptr<FakeV4l2System> Get() { return m_fake; }

private:
    std::shared_ptr<FakeV4l2System> m_fake;
    std::shared_ptr<V4l2System> m_previous;
};

// A YUYV-only camera: 640x480 and 320x240 at 30 and 15 fps, current
// 640x480 at 30 fps.
inline FakeNode YuyvCamera(std::string card = "USB Camera", std::string stable_name = {}) {
    FakeNode node;
    node.card = std::move(card);
    node.stable_name = std::move(stable_name);
    node.formats = {FakeFormat{
        V4L2_PIX_FMT_YUYV,
        {FakeSize{640, 480, {{1, 30}, {1, 15}}}, FakeSize{320, 240, {{1, 30}, {1, 15}}}}}};
    node.controls = {{V4L2_CID_BRIGHTNESS, FakeControl{0, 255, 1, 128, 128}},
                     {V4L2_CID_CONTRAST, FakeControl{0, 255, 1, 128, 128}},
                     {V4L2_CID_SATURATION, FakeControl{0, 255, 1, 128, 128}},
                     {V4L2_CID_SHARPNESS, FakeControl{0, 255, 1, 128, 128}}};
    return node;
}

// The frames of a recording: for MJPG each JPEG of a file of JPEGs one
// after another (as `ffmpeg -f mjpeg` writes them), cut at each start-of-
// image marker that follows an end-of-image marker; for a raw format
// (YUYV, UYVY, NV12, YUV420) each whole frame of `width` x `height`. Empty
// when the file cannot be read or holds no whole frame.
inline std::vector<std::vector<uint8_t>> RecordedFrames(const std::string& file, uint32_t fourcc,
                                                        uint32_t width, uint32_t height) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<std::vector<uint8_t>> frames;
    if (fourcc == V4L2_PIX_FMT_MJPEG) {
        size_t start = 0;
        for (size_t i = 2; i + 3 < bytes.size(); ++i)
            if (bytes[i - 2] == 0xFF && bytes[i - 1] == 0xD9 && bytes[i] == 0xFF &&
                bytes[i + 1] == 0xD8 && bytes[i + 2] == 0xFF) {
                frames.emplace_back(bytes.begin() + std::ptrdiff_t(start),
                                    bytes.begin() + std::ptrdiff_t(i));
                start = i;
            }
        if (bytes.size() >= start + 4 && bytes[start] == 0xFF && bytes[start + 1] == 0xD8)
            frames.emplace_back(bytes.begin() + std::ptrdiff_t(start), bytes.end());
        return frames;
    }
    const bool planar = fourcc == V4L2_PIX_FMT_NV12 || fourcc == V4L2_PIX_FMT_YUV420;
    const size_t size = planar ? size_t(width) * height * 3 / 2 : size_t(width) * height * 2;
    for (size_t at = 0; size > 0 && at + size <= bytes.size(); at += size)
        frames.emplace_back(bytes.begin() + std::ptrdiff_t(at),
                            bytes.begin() + std::ptrdiff_t(at + size));
    return frames;
}

// A frame of a uniform YUYV picture whose luma is `luma`.
inline std::vector<uint8_t> YuyvFrame(uint32_t width, uint32_t height, uint8_t luma) {
    std::vector<uint8_t> data(size_t(width) * height * 2);
    for (size_t i = 0; i < data.size(); i += 2) {
        data[i] = luma;
        data[i + 1] = 128;
    }
    return data;
}

}  // namespace ronvix::media::test
