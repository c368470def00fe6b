// The device watch: udev, the sound server and a listing every second, in
// one poll on one thread. See devicewatch.h.

#include "platform/media/devices/watch/devicewatch.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/media/devices/alsa/alsacapture.h"
#include "platform/media/devices/pulse/pulsecapture.h"
#include "platform/media/devices/v4l2/v4l2system.h"

namespace ronvix::media {

namespace {

using Clock = std::chrono::steady_clock;

// How often the nodes and cards are listed, and a missing server asked.
constexpr auto kLookInterval = std::chrono::seconds(1);
// How long the changes after a first one are gathered into one call: a
// camera brings several nodes, a sound card a card, its controls and PCMs,
// and the sound server a sink with its monitor source.
constexpr auto kCoalesce = std::chrono::milliseconds(200);
// The events taken in at one wake-up at most, so a flood of them cannot
// keep the stop from being seen.
constexpr int kEventsPerWake = 64;

// The system's device events for V4L2 nodes and sound cards.
class UdevMonitor {
public:
    UdevMonitor() {
        // Without a udev daemon (a container) the monitor hears nothing:
        // the listing every second stands in for it.
        if (::access("/run/udev/control", F_OK) != 0)
            return;
        m_udev = udev_new();
        if (m_udev)
            m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
        if (!m_monitor ||
            udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "video4linux", nullptr) <
                0 ||
            udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "sound", nullptr) < 0 ||
            udev_monitor_enable_receiving(m_monitor) < 0)
            Close();
    }
    ~UdevMonitor() { Close(); }
    UdevMonitor(const UdevMonitor&) = delete;
    UdevMonitor& operator=(const UdevMonitor&) = delete;

    // The descriptor that is readable when events wait; -1 without one.
    int Fd() const { return m_monitor ? udev_monitor_get_fd(m_monitor) : -1; }
    // Takes in the events that wait; true when there was one.
    bool Drain() {
        bool any = false;
        for (int i = 0; m_monitor && i < kEventsPerWake; ++i) {
            udev_device* device = udev_monitor_receive_device(m_monitor);
            if (!device)
                break;
            udev_device_unref(device);
            any = true;
        }
        return any;
    }
    void Close() {
        if (m_monitor)
            udev_monitor_unref(m_monitor);
        if (m_udev)
            udev_unref(m_udev);
        m_monitor = nullptr;
        m_udev = nullptr;
    }

private:
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
};

// The sound server's word on its sources and sinks, through the calls
// current when the connection was begun.
class ServerWatch {
public:
    ServerWatch() = default;
    ~ServerWatch() { Close(); }
    ServerWatch(const ServerWatch&) = delete;
    ServerWatch& operator=(const ServerWatch&) = delete;

    void Open() {
        m_api = CurrentPulseApi();
        void* handle = nullptr;
        if (m_api.open_watch && m_api.wait_watch && m_api.close_watch &&
            m_api.open_watch(&handle) >= 0)
            m_handle = handle;
    }
    bool IsOpen() const { return m_handle != nullptr; }
    // As wait_watch; true in `*news` for a change, which includes a server
    // that goes after it had taken the connection (the handle is closed).
    void Wait(pollfd* fds, nfds_t count, int timeout_ms, bool* news) {
        const int r = m_api.wait_watch(m_handle, fds, count, timeout_ms);
        if (r == 2)
            m_answered = true;
        if (r < 0) {
            *news = m_answered;
            Close();
        } else {
            *news = r > 0;
        }
    }
    void Close() {
        if (m_handle)
            m_api.close_watch(m_handle);
        m_handle = nullptr;
        m_answered = false;
    }

private:
    PulseApi m_api;
    void* m_handle = nullptr;
    bool m_answered = false;
};

// The nodes and cards present, as a listing compares them.
struct Present {
    std::vector<std::string> nodes;
    std::vector<int> cards;
    bool operator==(const Present&) const = default;
};

Present Look() {
    Present present;
    present.nodes = CurrentV4l2System()->VideoNodes();
    std::sort(present.nodes.begin(), present.nodes.end());
    present.cards = SoundCardNumbers();
    return present;
}

int MillisecondsUntil(Clock::time_point at) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(at - Clock::now()).count();
    return int(std::clamp<int64_t>(left, 0, 60'000));
}

// The watch's thread: returns when `stop_fd` is readable.
void Watch(int stop_fd, const std::function<void()>& changed, Present present) {
    UdevMonitor udev;
    ServerWatch server;
    server.Open();
    Clock::time_point next_look = Clock::now() + kLookInterval;
    // When the coalesced call is made; never while no change waits for it.
    constexpr Clock::time_point kNever = Clock::time_point::max();
    Clock::time_point due = kNever;
    for (;;) {
        const int timeout_ms = MillisecondsUntil(std::min(next_look, due));
        pollfd fds[2] = {{stop_fd, POLLIN, 0}, {udev.Fd(), POLLIN, 0}};
        const nfds_t count = fds[1].fd >= 0 ? 2 : 1;
        bool news = false;
        if (server.IsOpen())
            server.Wait(fds, count, timeout_ms, &news);
        else if (::poll(fds, count, timeout_ms) < 0 && errno != EINTR)
            return;  // Nothing can be waited for: the watch ends.
        if (fds[0].revents)
            return;
        if (count > 1 && fds[1].revents) {
            news |= udev.Drain();
            if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL))
                udev.Close();
        }
        if (Clock::now() >= next_look) {
            Present now = Look();
            if (now != present) {
                present = std::move(now);
                news = true;
            }
            if (!server.IsOpen())
                server.Open();
            next_look = Clock::now() + kLookInterval;
        }
        if (news && due == kNever)
            due = Clock::now() + kCoalesce;
        if (Clock::now() >= due) {
            due = kNever;
            ForgetPulseDevices();
            try {
                changed();
            } catch (...) {
                // The owner's to report; the watch goes on.
            }
        }
    }
}

}  // namespace

DeviceWatch::DeviceWatch(std::function<void()> changed) : m_changed(std::move(changed)) {
    m_stop_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stop_fd < 0)
        return;
    try {
        // What is present now is what the owner has just listed: a node
        // that comes before the thread first runs is a change too.
        m_thread = std::jthread([this, present = Look()]() mutable {
            Watch(m_stop_fd, m_changed, std::move(present));
        });
    } catch (...) {
        ::close(m_stop_fd);
        throw;
    }
}

DeviceWatch::~DeviceWatch() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        // An eventfd write fails only when its count would overflow.
        [[maybe_unused]] const ssize_t written = ::write(m_stop_fd, &one, sizeof one);
        m_thread.join();
    }
    if (m_stop_fd >= 0)
        ::close(m_stop_fd);
}

}  // namespace ronvix::media
