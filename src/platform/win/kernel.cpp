#include "platform/win/kernel.h"

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

namespace ronvix::win {

namespace {

thread_local DWORD t_last_error = 0;

// Process handles live in a range no file descriptor reaches, so the two
// kinds never collide.
constexpr HANDLE kFirstProcessHandle = HANDLE{1} << 40;

struct ProcessHandles {
    std::mutex lock;
    // Guarded by lock.
    std::map<HANDLE, DWORD> pids;
    HANDLE next = kFirstProcessHandle;
};

ProcessHandles& Handles() {
    static ProcessHandles handles;
    return handles;
}

}  // namespace

DWORD GetLastError() {
    return t_last_error;
}

void SetLastError(DWORD code) {
    t_last_error = code;
}

BOOL FailWithErrno(int err) {
    SetLastError(com::Win32ErrorFromErrno(err));
    return FALSE;
}

void GetSystemTime(SYSTEMTIME* time) {
    if (!time)
        return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm utc{};
    gmtime_r(&now.tv_sec, &utc);
    time->wYear = static_cast<uint16_t>(utc.tm_year + 1900);
    time->wMonth = static_cast<uint16_t>(utc.tm_mon + 1);
    time->wDayOfWeek = static_cast<uint16_t>(utc.tm_wday);
    time->wDay = static_cast<uint16_t>(utc.tm_mday);
    time->wHour = static_cast<uint16_t>(utc.tm_hour);
    time->wMinute = static_cast<uint16_t>(utc.tm_min);
    time->wSecond = static_cast<uint16_t>(utc.tm_sec);
    time->wMilliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
}

uint64_t GetTickCount64() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void Sleep(DWORD ms) {
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    // sleep_for resumes after signals until the whole time has passed.
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(syscall(SYS_gettid));
}

std::string ProgramPath() {
    std::string path(256, '\0');
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0)
            return {};
        if (static_cast<size_t>(n) < path.size()) {
            path.resize(static_cast<size_t>(n));
            return path;
        }
        path.resize(path.size() * 2);
    }
}

DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) {
    if (module || !buffer || size == 0) {
        SetLastError(com::ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string path = ProgramPath();
    if (path.empty()) {
        FailWithErrno(errno);
        return 0;
    }
    if (path.size() >= size) {
        std::memcpy(buffer, path.data(), size - 1);
        buffer[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    SetLastError(0);
    return static_cast<DWORD>(path.size());
}

HANDLE OpenProcess(DWORD, BOOL, DWORD pid) {
    struct stat st {};
    std::string dir = "/proc/" + std::to_string(pid);
    if (pid == 0 || stat(dir.c_str(), &st) != 0) {
        SetLastError(com::ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto& h = Handles();
    std::lock_guard lock(h.lock);
    HANDLE handle = h.next++;
    h.pids[handle] = pid;
    return handle;
}

DWORD ProcessIdOfHandle(HANDLE process) {
    auto& h = Handles();
    std::lock_guard lock(h.lock);
    auto it = h.pids.find(process);
    return it == h.pids.end() ? 0 : it->second;
}

BOOL CloseHandle(HANDLE handle) {
    if (handle >= kFirstProcessHandle) {
        auto& h = Handles();
        std::lock_guard lock(h.lock);
        if (h.pids.erase(handle))
            return TRUE;
    } else if (handle >= 0 && handle <= INT32_MAX) {
        if (close(static_cast<int>(handle)) == 0)
            return TRUE;
        return FailWithErrno(errno);
    }
    SetLastError(com::ERROR_INVALID_HANDLE);
    return FALSE;
}

}  // namespace ronvix::win
