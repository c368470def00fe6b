// The real V4L2 system: the Linux system calls, /dev and /dev/v4l.

#include "platform/media/devices/v4l2/v4l2system.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <mutex>

namespace ronvix::media {

namespace {

class LinuxV4l2System final : public V4l2System {
public:
    int Open(const std::string& path, int flags) override {
        return ::open(path.c_str(), flags | O_CLOEXEC);
    }
    int Close(int fd) override { return ::close(fd); }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        // A signal may interrupt a driver call; it is repeated, as the V4L2
        // documentation asks.
        int r = 0;
        do {
            r = ::ioctl(fd, request, arg);
        } while (r == -1 && errno == EINTR);
        return r;
    }
    void* Mmap(size_t length, int prot, int flags, int fd, off_t offset) override {
        return ::mmap(nullptr, length, prot, flags, fd, offset);
    }
    int Munmap(void* address, size_t length) override { return ::munmap(address, length); }
    int Poll(pollfd* fds, nfds_t count, int timeout_ms) override {
        return ::poll(fds, count, timeout_ms);
    }
    ssize_t Read(int fd, void* buffer, size_t length) override {
        return ::read(fd, buffer, length);
    }
    ssize_t Write(int fd, const void* buffer, size_t length) override {
        return ::write(fd, buffer, length);
    }

    std::vector<std::string> VideoNodes() override {
        std::vector<std::string> nodes;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("video", 0) == 0 && name.size() > 5 &&
                name.find_first_not_of("0123456789", 5) == std::string::npos)
                nodes.push_back(entry.path().string());
        }
        return nodes;
    }

    std::string StableName(const std::string& node) override {
        std::error_code ec;
        const auto target = std::filesystem::canonical(node, ec);
        if (ec)
            return {};
        for (const char* folder : {"/dev/v4l/by-id", "/dev/v4l/by-path"}) {
            std::vector<std::string> names;
            for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
                std::error_code link_ec;
                if (std::filesystem::canonical(entry.path(), link_ec) == target && !link_ec)
                    names.push_back(entry.path().string());
            }
            // Several links may name one node; the first by name is stable.
            if (!names.empty())
                return *std::min_element(names.begin(), names.end());
        }
        return {};
    }
};

std::mutex g_lock;
// Guarded by g_lock. Null: the real system.
std::shared_ptr<V4l2System> g_system;

std::shared_ptr<V4l2System> RealSystem() {
    static const std::shared_ptr<V4l2System> real = std::make_shared<LinuxV4l2System>();
    return real;
}

}  // namespace

V4l2Fd::V4l2Fd(V4l2System& system, const std::string& path)
    : m_system(system), m_fd(system.Open(path, O_RDWR | O_NONBLOCK)) {}

V4l2Fd::~V4l2Fd() {
    if (m_fd >= 0) {
        const int saved = errno;
        m_system.Close(m_fd);
        errno = saved;
    }
}

std::shared_ptr<V4l2System> CurrentV4l2System() {
    std::lock_guard guard(g_lock);
    return g_system ? g_system : RealSystem();
}

std::shared_ptr<V4l2System> SetV4l2System(std::shared_ptr<V4l2System> system) {
    std::lock_guard guard(g_lock);
    std::shared_ptr<V4l2System> was = g_system ? g_system : RealSystem();
    g_system = std::move(system);
    return was;
}

}  // namespace ronvix::media
