#pragma once
// The system calls the V4L2 backends make, behind one interface, so that the
// capture and output devices run against a scripted fake in the tests.
//
// Every call has the contract of the system call it stands for: -1 (or
// MAP_FAILED) with errno set on failure. Implementations are thread-safe:
// device filters call them from control and streaming threads at once.
//
// Which system is used: CurrentV4l2System() is the real Linux one until a
// test installs another with SetV4l2System. A device found by an
// enumeration keeps the system it was found on for its whole life, so
// swapping the system never changes a device under a running stream.

#include <poll.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace ronvix::media {

class V4l2System {
public:
    virtual ~V4l2System() = default;

    virtual int Open(const std::string& path, int flags) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual void* Mmap(size_t length, int prot, int flags, int fd, off_t offset) = 0;
    virtual int Munmap(void* address, size_t length) = 0;
    // The first descriptor is a device's; the others, when given, are the
    // caller's own (an eventfd that a stop makes readable) and must end the
    // wait when readable.
    virtual int Poll(pollfd* fds, nfds_t count, int timeout_ms) = 0;
    virtual ssize_t Read(int fd, void* buffer, size_t length) = 0;
    virtual ssize_t Write(int fd, const void* buffer, size_t length) = 0;

    // The video nodes present now ("/dev/video0", ...), in any order.
    virtual std::vector<std::string> VideoNodes() = 0;
    // A stable name for `node`: its /dev/v4l/by-id link when it has one,
    // else its /dev/v4l/by-path link, else empty.
    virtual std::string StableName(const std::string& node) = 0;
};

// A node opened on a system (read-write, non-blocking) for the life of the
// object; Get() is -1 with errno set when it did not open.
class V4l2Fd {
public:
    V4l2Fd(V4l2System& system, const std::string& path);
    ~V4l2Fd();
    V4l2Fd(const V4l2Fd&) = delete;
    V4l2Fd& operator=(const V4l2Fd&) = delete;
    int Get() const { return m_fd; }

private:
    V4l2System& m_system;
    const int m_fd;
};

// The system the V4L2 backends use now. Thread-safe.
std::shared_ptr<V4l2System> CurrentV4l2System();
// Installs `system` (null: the real one again) and returns the one it
// replaces. For tests; thread-safe. Devices already made keep theirs.
std::shared_ptr<V4l2System> SetV4l2System(std::shared_ptr<V4l2System> system);

}  // namespace ronvix::media
