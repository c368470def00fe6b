#include "platform/win/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/com/guid.h"
#include "platform/win/paths.h"
#include "platform/win/profile_document.h"

namespace ronvix::win {

namespace {

// Settings files are small; anything larger is refused rather than read
// into memory whole.
constexpr off_t kMaxProfileBytes = off_t{64} << 20;
// How long a write waits for another process's read-change-write.
constexpr std::chrono::milliseconds kLockTimeout{2000};

bool IsBareName(std::string_view file) {
    for (char c : file)
        if (IsPathDelimiter(c) || c == ':')
            return false;
    return true;
}

// What tells two versions of a file apart: every replace makes a new inode
// and every change in place moves the size or the time stamps.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    bool operator==(const FileIdentity& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

FileIdentity IdentityOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

// The errno that stands for "not a file that can be read or replaced".
int NotRegularError(const struct stat& st) {
    return S_ISDIR(st.st_mode) ? EISDIR : EACCES;
}

// Reads a whole regular file. The open never blocks, so a FIFO or a device
// under the name is refused at once instead of waiting for a writer.
// Nothing with errno set when it cannot be read; ENOENT means it does not
// exist.
std::optional<std::string> ReadRegularFile(const std::string& path, FileIdentity* identity) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOTDIR)
            errno = ENOENT;
        return std::nullopt;
    }
    auto fail = [fd](int err) -> std::optional<std::string> {
        close(fd);
        errno = err;
        return std::nullopt;
    };
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return fail(errno);
    if (!S_ISREG(st.st_mode))
        return fail(NotRegularError(st));
    if (st.st_size > kMaxProfileBytes)
        return fail(EFBIG);
    if (identity)
        *identity = IdentityOf(st);
    // Read straight into the text; a file that grows meanwhile is read on,
    // up to the limit.
    std::string text(static_cast<size_t>(st.st_size) + 1, '\0');
    size_t done = 0;
    for (;;) {
        if (done == text.size()) {
            if (text.size() > static_cast<size_t>(kMaxProfileBytes))
                return fail(EFBIG);
            text.resize(std::min(text.size() * 2, static_cast<size_t>(kMaxProfileBytes) + 1));
        }
        const ssize_t n = read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(errno);
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    text.resize(done);
    return text;
}

bool MakeFolders(const std::string& folder) {
    std::string partial;
    size_t pos = 0;
    while (pos <= folder.size()) {
        size_t slash = folder.find('/', pos);
        if (slash == std::string::npos)
            slash = folder.size();
        partial = folder.substr(0, slash);
        if (!partial.empty() && mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        pos = slash + 1;
    }
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

bool WriteAll(int fd, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// "<folder>/.<name><suffix>": the hidden companions of a file.
std::string Companion(const std::string& path, std::string_view suffix) {
    const size_t slash = path.rfind('/');
    const std::string folder = FolderOf(path);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return (folder == "/" ? "" : folder) + "/." + base + std::string(suffix);
}

// Whether the caller must not change the file: its mode grants write
// permission to nobody (which binds root as well; the kernel would let root
// write, and a rename ignores the mode altogether), or the kernel refuses
// the caller.
bool IsReadOnly(const std::string& path, const struct stat& st, int* err) {
    if ((st.st_mode & 0222) == 0) {
        *err = EACCES;
        return true;
    }
    if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        *err = errno;
        return true;
    }
    return false;
}

// Replaces `path` with `text`: the old file stays whole until the new one is
// complete on disk. The new file takes the old one's mode, and its owner and
// group where the caller may give them. errno tells why when it fails.
bool ReplaceFile(const std::string& path, const std::vector<std::string_view>& pieces,
                 const struct stat* old) {
    const std::string folder = FolderOf(path);
    std::string temp = Companion(path, ".XXXXXX");
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    if (old && fchown(fd, old->st_uid, old->st_gid) != 0)
        (void)!fchown(fd, static_cast<uid_t>(-1), old->st_gid);
    const mode_t mode = old ? (old->st_mode & 07777) : 0644;
    bool ok = fchmod(fd, mode) == 0;
    for (const std::string_view piece : pieces)
        ok = ok && WriteAll(fd, piece);
    ok = ok && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        errno = err;
        return false;
    }
    // The rename itself is durable only once the folder is synced.
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

// An exclusive flock on a lock file, shared by every process that edits
// the file beside it. The holder removes the lock file before letting go;
// a waiter that then gets the lock on the removed file sees that the name
// now stands for another file (or none) and tries again.
class CrossProcessLock {
public:
    CrossProcessLock() = default;
    CrossProcessLock(const CrossProcessLock&) = delete;
    CrossProcessLock& operator=(const CrossProcessLock&) = delete;
    ~CrossProcessLock() { Release(); }

    // 0 once held; ETIMEDOUT when another holder kept it past the time-out;
    // otherwise the errno of making the lock file. File systems without
    // flock count as held: the lock then only orders this process.
    int Acquire(std::string path, std::chrono::milliseconds timeout) {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            const int fd =
                open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
            if (fd < 0)
                return errno;
            struct stat held {};
            if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
                close(fd);
                return EACCES;
            }
            int result = 0;
            while ((result = flock(fd, LOCK_EX | LOCK_NB)) != 0 &&
                   (errno == EINTR || (errno == EWOULDBLOCK && Clock::now() < deadline)))
                if (errno == EWOULDBLOCK)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (result != 0) {
                const int err = errno;
                if (err == ENOLCK || err == EOPNOTSUPP || err == EINVAL) {
                    Hold(std::move(path), fd);
                    return 0;
                }
                close(fd);
                return err == EWOULDBLOCK ? ETIMEDOUT : err;
            }
            struct stat now {};
            if (stat(path.c_str(), &now) == 0 && now.st_dev == held.st_dev &&
                now.st_ino == held.st_ino) {
                Hold(std::move(path), fd);
                return 0;
            }
            close(fd);
            if (Clock::now() >= deadline)
                return ETIMEDOUT;
        }
    }

    void Release() {
        if (m_fd < 0)
            return;
        unlink(m_path.c_str());
        close(m_fd);
        m_fd = -1;
    }

private:
    void Hold(std::string path, int fd) {
        m_path = std::move(path);
        m_fd = fd;
    }

    std::string m_path;
    int m_fd = -1;
};

// The parsed text of the file read last, while the file stays the same.
class DocumentCache {
public:
    std::shared_ptr<const ProfileDocument> Find(const std::string& path,
                                                const FileIdentity& identity) {
        std::lock_guard lock(m_lock);
        return m_doc && m_path == path && m_identity == identity ? m_doc : nullptr;
    }
    void Store(std::string path, const FileIdentity& identity,
               std::shared_ptr<const ProfileDocument> doc) {
        std::lock_guard lock(m_lock);
        m_path = std::move(path);
        m_identity = identity;
        m_doc = std::move(doc);
    }
    void Clear() {
        std::lock_guard lock(m_lock);
        m_doc.reset();
    }

private:
    std::mutex m_lock;
    std::string m_path;
    FileIdentity m_identity;
    std::shared_ptr<const ProfileDocument> m_doc;
};

DocumentCache& Cache() {
    static DocumentCache cache;
    return cache;
}

bool ValidChange(const ProfileChange& c) {
    return ProfileDocument::ValidSection(c.section) &&
           (!c.key || (ProfileDocument::ValidKey(*c.key) &&
                       (!c.value || ProfileDocument::ValidValue(*c.value))));
}

bool Invalid() {
    SetLastError(com::ERROR_INVALID_PARAMETER);
    return false;
}

class FileProfile final : public ProfileService {
public:
    std::optional<std::string> Read(std::string_view file, std::string_view section,
                                    std::string_view key) override {
        auto doc = Load(file);
        return doc ? doc->Get(section, key) : std::nullopt;
    }

    std::vector<std::string> Sections(std::string_view file) override {
        auto doc = Load(file);
        return doc ? doc->SectionNames() : std::vector<std::string>{};
    }

    std::vector<std::string> Keys(std::string_view file, std::string_view section) override {
        auto doc = Load(file);
        return doc ? doc->KeyNames(section) : std::vector<std::string>{};
    }

    bool Write(std::string_view file, std::string_view section, std::string_view key,
               std::optional<std::string_view> value) override {
        if (!ProfileDocument::ValidSection(section) || !ProfileDocument::ValidKey(key) ||
            (value && !ProfileDocument::ValidValue(*value)))
            return Invalid();
        return Edit(file, [&](ProfileDocument& doc) {
            return value ? doc.Set(section, key, *value) : doc.DeleteKey(section, key);
        });
    }

    bool EraseSection(std::string_view file, std::string_view section) override {
        if (!ProfileDocument::ValidSection(section))
            return Invalid();
        return Edit(file, [&](ProfileDocument& doc) { return doc.EraseSection(section); });
    }

    bool Apply(std::string_view file, std::span<const ProfileChange> changes) override {
        for (const auto& c : changes)
            if (!ValidChange(c))
                return Invalid();
        return Edit(file, [&](ProfileDocument& doc) {
            bool changed = false;
            for (const auto& c : changes) {
                if (!c.key)
                    changed |= doc.EraseSection(c.section);
                else if (!c.value)
                    changed |= doc.DeleteKey(c.section, *c.key);
                else
                    changed |= doc.Set(c.section, *c.key, *c.value);
            }
            return changed;
        });
    }

private:
    std::shared_ptr<const ProfileDocument> Load(std::string_view file) {
        auto path = ProfilePath(file);
        if (!path)
            return nullptr;
        struct stat st {};
        if (stat(path->c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return nullptr;
        if (auto doc = Cache().Find(*path, IdentityOf(st)))
            return doc;
        FileIdentity identity;
        auto text = ReadRegularFile(*path, &identity);
        if (!text)
            return nullptr;
        auto doc = std::make_shared<const ProfileDocument>(std::move(*text));
        Cache().Store(*path, identity, doc);
        return doc;
    }

    // One read-change-write under both locks. `change` edits the document
    // and says whether it changed anything.
    template <class Change>
    bool Edit(std::string_view file, Change change) {
        std::lock_guard lock(m_write_lock);
        auto path = ProfilePath(file);
        if (!path || path->empty()) {
            SetLastError(com::ERROR_PATH_NOT_FOUND);
            return false;
        }
        if (IsBareName(file) && !MakeFolders(ProfileFolder()))
            return FailWithErrno(errno);
        // Replace the file a symbolic link points to, not the link.
        std::string target = *path;
        struct stat st {};
        if (lstat(path->c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            if (char* real = realpath(path->c_str(), nullptr)) {
                target = real;
                std::free(real);
            }
        }
        CrossProcessLock others;
        // Not being able to make the lock file matters only for a change:
        // removing what is not there still succeeds in a read-only folder.
        const int lock_error = others.Acquire(Companion(target, ".lock"), kLockTimeout);
        if (lock_error == ETIMEDOUT) {
            SetLastError(com::ERROR_SHARING_VIOLATION);
            return false;
        }
        const bool exists = stat(target.c_str(), &st) == 0;
        if (!exists && errno != ENOENT && errno != ENOTDIR)
            return FailWithErrno(errno);
        if (exists && !S_ISREG(st.st_mode))
            return FailWithErrno(NotRegularError(st));
        // The text kept from the last read serves while the file is that
        // one still; from here on the lock keeps other instances out.
        std::optional<ProfileDocument> doc;
        if (!exists) {
            doc.emplace();
        } else if (auto kept = Cache().Find(*path, IdentityOf(st))) {
            doc.emplace(*kept);
        } else {
            auto read = ReadRegularFile(target, nullptr);
            if (!read)
                return FailWithErrno(errno);
            doc.emplace(std::move(*read));
        }
        if (!change(*doc)) {
            SetLastError(0);
            return true;
        }
        if (lock_error != 0)
            return FailWithErrno(lock_error);
        if (int err = 0; exists && IsReadOnly(target, st, &err))
            return FailWithErrno(err);
        if (!ReplaceFile(target, doc->Pieces(), exists ? &st : nullptr))
            return FailWithErrno(errno);
        // The reads that follow find the new text; nobody else can have
        // replaced the file yet, as the lock is still held.
        struct stat now {};
        if (stat(path->c_str(), &now) == 0)
            Cache().Store(*path, IdentityOf(now),
                          std::make_shared<const ProfileDocument>(std::move(*doc)));
        SetLastError(0);
        return true;
    }

    std::mutex m_write_lock;
};

std::atomic<ProfileService*> g_service{nullptr};

// Copies a zero-separated list, ending in an extra zero; cut lists end in
// two zeros and count size - 2.
DWORD CopyList(const std::vector<std::string>& names, char* buffer, DWORD size) {
    if (size < 2) {
        if (size == 1)
            buffer[0] = '\0';
        return 0;
    }
    size_t used = 0;
    for (const auto& name : names) {
        if (used + name.size() + 1 > size - 1) {
            size_t room = size - 2 - used;
            std::memcpy(buffer + used, name.data(), room);
            buffer[size - 2] = '\0';
            buffer[size - 1] = '\0';
            return size - 2;
        }
        std::memcpy(buffer + used, name.data(), name.size());
        used += name.size();
        buffer[used++] = '\0';
    }
    buffer[used] = '\0';
    return static_cast<DWORD>(used);
}

std::optional<std::string> Env(const char* name) {
    const char* v = std::getenv(name);
    if (!v || !*v)
        return std::nullopt;
    return std::string(v);
}

}  // namespace

std::string ProfileFolder() {
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the base
    // directory rules say.
    auto config = Env("XDG_CONFIG_HOME");
    if (!config || config->front() != '/')
        config = Env("HOME").value_or("") + "/.config";
    return *config + "/ronvix";
}

std::optional<std::string> ProfilePath(std::string_view file) {
    if (file.empty())
        return std::nullopt;
    if (IsBareName(file))
        return ProfileFolder() + "/" + std::string(file);
    return MapPath(file);
}

bool ProfileService::Apply(std::string_view file, std::span<const ProfileChange> changes) {
    for (const auto& c : changes)
        if (!ValidChange(c))
            return Invalid();
    for (const auto& c : changes) {
        const bool ok =
            !c.key ? EraseSection(file, c.section)
                   : Write(file, c.section, *c.key,
                           c.value ? std::optional<std::string_view>(*c.value) : std::nullopt);
        if (!ok)
            return false;
    }
    return true;
}

ProfileService& FileProfileService() {
    static FileProfile service;
    return service;
}

ProfileService& CurrentProfileService() {
    ProfileService* s = g_service.load(std::memory_order_acquire);
    return s ? *s : FileProfileService();
}

ProfileService* SetProfileService(ProfileService* service) {
    ProfileService* previous = g_service.exchange(service, std::memory_order_acq_rel);
    return previous ? previous : &FileProfileService();
}

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* default_value,
                               char* buffer, DWORD size, const char* file) {
    if (!buffer || size == 0 || !file) {
        SetLastError(com::ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto& service = CurrentProfileService();
    if (!section)
        return CopyList(service.Sections(file), buffer, size);
    if (!key)
        return CopyList(service.Keys(file, section), buffer, size);
    std::string value;
    if (auto v = service.Read(file, section, key)) {
        value = std::move(*v);
    } else if (default_value) {
        value = default_value;
        while (!value.empty() && value.back() == ' ')
            value.pop_back();
    }
    size_t n = std::min<size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}

int GetPrivateProfileIntA(const char* section, const char* key, int default_value,
                          const char* file) {
    if (!section || !key || !file)
        return default_value;
    auto v = CurrentProfileService().Read(file, section, key);
    if (!v)
        return default_value;
    const char* p = v->c_str();
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '-' || *p == '+')
        negative = *p++ == '-';
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    // Accumulate in 64 bits and wrap to 32 like the platform's unsigned
    // result, without overflowing a signed type on long digit strings.
    uint32_t result = 0;
    for (;; ++p) {
        int digit = com::detail::HexValue(*p);
        if (digit < 0 || digit >= base)
            break;
        result = result * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
    }
    if (negative)
        result = 0u - result;
    return static_cast<int>(result);
}

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* file) {
    if (!section || !file) {
        // All null asks the platform to flush its cache: later reads read
        // the files again.
        if (!section && !key && !value && !file) {
            Cache().Clear();
            return TRUE;
        }
        SetLastError(com::ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto& service = CurrentProfileService();
    bool ok = !key ? service.EraseSection(file, section)
                   : service.Write(file, section, key,
                                   value ? std::optional<std::string_view>(value) : std::nullopt);
    return ok ? TRUE : FALSE;
}

}  // namespace ronvix::win
