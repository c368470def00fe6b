#pragma once
// DeviceWatch: tells its owner when capture or output devices may have come
// or gone, so that the lists the owner shows can follow them.
//
// What a caller may rely on:
// - While the object lives, a thread of its own watches, in one poll: the
//   system's device events (udev, subsystems "video4linux" and "sound",
//   when a udev daemon runs), the sound server's word on its sources and
//   sinks (pulseapi.h), and a stop. Every second it also lists the V4L2
//   nodes and the sound cards of the current systems (v4l2system.h, the
//   ALSA calls) and compares them with the last listing: that covers a
//   machine without udev events (a container) and systems a test installs.
// - A server that comes, goes, or first takes the watch's connection
//   counts as a change: its devices may have changed while nobody listened.
//   Without a server the watch asks again every second.
// - Changes are coalesced: `changed` is called once, 200 ms after the
//   first change it reports, however many followed; then the listing of
//   the server's devices is not reused (PulseDevices asks again).
// - `changed` runs on the watch's thread. It must return quickly and never
//   wait for another thread (hand the news to the user interface thread
//   with a queued call); an exception it throws is swallowed.
// - Destruction wakes the thread, joins it, and releases what it held: no
//   call of `changed` runs or begins once the destructor has returned.
//
// Made and destroyed on one thread (any).

#include <functional>
#include <thread>

namespace ronvix::media {

class DeviceWatch {
public:
    explicit DeviceWatch(std::function<void()> changed);
    ~DeviceWatch();
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

private:
    const std::function<void()> m_changed;
    // An eventfd that the destructor makes readable; -1 when none could be
    // made (the watch then watches nothing).
    int m_stop_fd = -1;
    std::jthread m_thread;
};

}  // namespace ronvix::media
