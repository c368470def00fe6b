#include "platform/win/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/win/paths.h"

namespace ronvix::win {

namespace {

std::optional<std::string> MapOrFail(const char* name, bool for_writing = false) {
    if (!name || !*name) {
        SetLastError(com::ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    auto path = for_writing ? MapPathForWriting(name) : MapPath(name);
    if (!path)
        SetLastError(com::ERROR_PATH_NOT_FOUND);
    return path;
}

// The parent of `path` ("/a/b" -> "/a", "a" -> "."), or empty at the root.
std::string Parent(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return path == "." ? std::string() : std::string(".");
    if (slash == 0)
        return path == "/" ? std::string() : std::string("/");
    return path.substr(0, slash);
}

}  // namespace

bool FileExists(std::string_view name) {
    auto path = MapPath(name);
    if (!path || path->empty())
        return false;
    struct stat st {};
    return stat(path->c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FileExists(const QString& name) {
    return FileExists(std::string_view(name.toStdString()));
}

HANDLE CreateFileA(const char* name, DWORD access, DWORD, void*, DWORD disposition, DWORD, HANDLE) {
    bool creates =
        disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    auto path = MapOrFail(name, creates);
    if (!path)
        return INVALID_HANDLE_VALUE;
    int flags = O_CLOEXEC;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
        flags |= O_RDWR;
    else if (access & GENERIC_WRITE)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    switch (disposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_EXISTING:
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            flags |= O_TRUNC;
            break;
        default:
            SetLastError(com::ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
    }
    if ((flags & O_TRUNC) && (flags & O_ACCMODE) == O_RDONLY) {
        SetLastError(com::ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    int fd = open(path->c_str(), flags, 0666);
    if (fd < 0) {
        FailWithErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        SetLastError(com::ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(0);
    return fd;
}

BOOL WriteFile(HANDLE file, const void* data, DWORD bytes, DWORD* written, void*) {
    if (written)
        *written = 0;
    if (file < 0 || file > INT32_MAX) {
        SetLastError(com::ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const auto* p = static_cast<const uint8_t*>(data);
    DWORD done = 0;
    while (done < bytes) {
        ssize_t n = write(static_cast<int>(file), p + done, bytes - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (written)
                *written = done;
            return FailWithErrno(errno);
        }
        done += static_cast<DWORD>(n);
    }
    if (written)
        *written = done;
    return TRUE;
}

BOOL ReadFile(HANDLE file, void* data, DWORD bytes, DWORD* read_count, void*) {
    if (read_count)
        *read_count = 0;
    if (file < 0 || file > INT32_MAX) {
        SetLastError(com::ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ssize_t n = 0;
    do {
        n = read(static_cast<int>(file), data, bytes);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return FailWithErrno(errno);
    if (read_count)
        *read_count = static_cast<DWORD>(n);
    return TRUE;
}

BOOL DeleteFileA(const char* name) {
    auto path = MapOrFail(name);
    if (!path)
        return FALSE;
    struct stat st {};
    if (lstat(path->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastError(com::ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(path->c_str()) != 0)
        return FailWithErrno(errno);
    return TRUE;
}

BOOL GetDiskFreeSpaceExA(const char* folder, uint64_t* available_to_caller, uint64_t* total,
                         uint64_t* total_free) {
    std::optional<std::string> path = std::string(".");
    if (folder && *folder)
        path = MapOrFail(folder);
    if (!path)
        return FALSE;
    std::string probe = path->empty() ? std::string(".") : *path;
    struct statvfs vfs {};
    for (;;) {
        if (statvfs(probe.c_str(), &vfs) == 0)
            break;
        // A folder not made yet is measured where it will be made.
        if (errno != ENOENT && errno != ENOTDIR)
            return FailWithErrno(errno);
        probe = Parent(probe);
        if (probe.empty())
            return FailWithErrno(ENOENT);
    }
    if (available_to_caller)
        *available_to_caller = uint64_t{vfs.f_bavail} * vfs.f_frsize;
    if (total)
        *total = uint64_t{vfs.f_blocks} * vfs.f_frsize;
    if (total_free)
        *total_free = uint64_t{vfs.f_bfree} * vfs.f_frsize;
    return TRUE;
}

}  // namespace ronvix::win
