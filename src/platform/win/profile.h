#pragma once
// The private-profile (INI) service: settings files of UTF-8 text read and
// written with the platform's rules (profile_document.h).
//
// A file named without a folder ("ZELK.ini") lives in
// $XDG_CONFIG_HOME/ronvix/ (default ~/.config/ronvix/), which a write
// creates; any other name is mapped like every file name (paths.h) and its
// folder must exist.
//
// Reading: only a regular file is read (a FIFO, a device or a link to one
// reads as a missing file, at once); it is opened without blocking and read
// whole, up to 64 MiB. The parsed text is kept while the file stays the
// same (device, inode, size and both time stamps), so the reads of one
// window's restore cost one read of the file however many keys they ask.
//
// Writing: each write (and each batch, Apply) is one read-change-write of
// the file under a lock that holds across processes: flock on the lock file
// ".<name>.lock" beside the file, waited for at most 2 s (then the write
// fails with ERROR_SHARING_VIOLATION and changes nothing), removed by its
// holder when done. Under the lock the file is read again unless it is
// still the one whose text was kept. The file is replaced atomically (a temporary file in
// the same folder, fsync, rename, folder fsync), keeping its mode and, where
// allowed, its owner and group, so a crash or a full disk never leaves a
// half-written file. A change that leaves the file's text as it is writes
// nothing. A file whose mode grants nobody write permission is read-only for
// every caller, root included: a write that would change it fails with
// ERROR_ACCESS_DENIED. A name that is not a regular file (a folder, a FIFO)
// is never replaced. A write that fails returns FALSE, sets the last error
// and leaves the file as it was.
//
// The functions go through a replaceable service, so higher layers can test
// against an in-memory fake.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/kernel.h"

namespace ronvix::win {

// The folder of settings files named without a folder.
std::string ProfileFolder();
// The path a settings file name stands for; nothing for an unmapped drive.
std::optional<std::string> ProfilePath(std::string_view file);

// One change of a batch: a value (key and value), the deletion of a key
// (key, no value) or the erasure of a section (no key).
struct ProfileChange {
    std::string section;
    std::optional<std::string> key;
    std::optional<std::string> value;
};

// The seam. Implementations must be thread-safe. Failures set the last error.
class ProfileService {
public:
    virtual ~ProfileService() = default;
    // The value (blanks and one pair of quotes stripped); nothing when the
    // file, section or key is missing.
    virtual std::optional<std::string> Read(std::string_view file, std::string_view section,
                                            std::string_view key) = 0;
    virtual std::vector<std::string> Sections(std::string_view file) = 0;
    virtual std::vector<std::string> Keys(std::string_view file, std::string_view section) = 0;
    // Writes `value`, or deletes the key when it is nothing.
    virtual bool Write(std::string_view file, std::string_view section, std::string_view key,
                       std::optional<std::string_view> value) = 0;
    virtual bool EraseSection(std::string_view file, std::string_view section) = 0;
    // Applies the changes in order as one edit of the file. When one of them
    // names or holds a text that could not be read back (see
    // WritePrivateProfileStringA), nothing is written and the last error is
    // ERROR_INVALID_PARAMETER. This default applies them one by one.
    virtual bool Apply(std::string_view file, std::span<const ProfileChange> changes);
};

// The service that works on real files.
ProfileService& FileProfileService();
ProfileService& CurrentProfileService();
// Replaces the service (not owned) and returns the previous one; null
// restores the file service.
ProfileService* SetProfileService(ProfileService* service);

// The platform functions.
//
// GetPrivateProfileStringA copies the value (or `default_value` without its
// trailing blanks, or "" for a null default) into `buffer`, cut to size - 1
// characters, and returns the characters copied. A null `section` lists the
// section names and a null `key` the section's key names, each followed by a
// zero and the list by one more; a list that does not fit is cut, ends in
// two zeros and returns size - 2.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* default_value,
                               char* buffer, DWORD size, const char* file);
// The value as an integer: leading blanks, an optional sign, then decimal
// digits (or "0x" and hexadecimal digits), up to the first other character;
// 0 when no digit follows; `default_value` when the key is missing.
int GetPrivateProfileIntA(const char* section, const char* key, int default_value,
                          const char* file);
// Writes `value` under `key`; a null `value` deletes the key, a null `key`
// erases the whole section. Deleting what is not there succeeds and creates
// no file. Names and values that could not be read back as written (line
// breaks, "=" in a key, "]" in a section) fail with ERROR_INVALID_PARAMETER
// and change nothing. All four null drops the texts kept from earlier reads,
// so the next read reads the file again.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* file);

}  // namespace ronvix::win
