#include "platform/win/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/com/guid.h"
#include "platform/win/paths.h"
#include "platform/win/profile_document.h"

namespace ronvix::win {

namespace {

// Settings files are small; anything larger is refused rather than read
// into memory whole.
constexpr off_t kMaxProfileBytes = off_t{64} << 20;

bool IsBareName(std::string_view file) {
    for (char c : file)
        if (IsPathDelimiter(c) || c == ':')
            return false;
    return true;
}

// Reads the whole file. Nothing with errno set when it cannot be read;
// errno ENOENT means it does not exist.
std::optional<std::string> ReadFileText(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOTDIR)
            errno = ENOENT;
        return std::nullopt;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxProfileBytes) {
        int err = S_ISDIR(st.st_mode) ? EISDIR : (st.st_size > kMaxProfileBytes ? EFBIG : errno);
        close(fd);
        errno = err;
        return std::nullopt;
    }
    std::string text;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int err = errno;
            close(fd);
            errno = err;
            return std::nullopt;
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > static_cast<size_t>(kMaxProfileBytes)) {
            close(fd);
            errno = EFBIG;
            return std::nullopt;
        }
    }
    close(fd);
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

bool WriteAll(int fd, const std::string& text) {
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

// Replaces `path` with `text`: the old file stays whole until the new one is
// complete on disk. errno tells why when it fails.
bool ReplaceFile(const std::string& path, const std::string& text, mode_t mode) {
    size_t slash = path.rfind('/');
    std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = (folder == "/" ? "" : folder) + "/." + base + ".XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
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

private:
    static bool Invalid() {
        SetLastError(com::ERROR_INVALID_PARAMETER);
        return false;
    }

    std::optional<ProfileDocument> Load(std::string_view file) {
        auto path = ProfilePath(file);
        if (!path)
            return std::nullopt;
        auto text = ReadFileText(*path);
        if (!text)
            return std::nullopt;
        return ProfileDocument(*text);
    }

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
        mode_t mode = 0644;
        bool exists = stat(target.c_str(), &st) == 0;
        if (exists)
            mode = st.st_mode & 07777;
        auto text = ReadFileText(target);
        if (!text && errno != ENOENT)
            return FailWithErrno(errno);
        ProfileDocument doc(text ? *text : std::string());
        if (!change(doc))
            return true;
        if (!ReplaceFile(target, doc.Content(), mode))
            return FailWithErrno(errno);
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
        // All null asks the platform to flush its cache; nothing is cached here.
        if (!section && !key && !value && !file)
            return TRUE;
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
