#pragma once
// The private-profile (INI) service: settings files of UTF-8 text read and
// written with the platform's rules (profile_document.h).
//
// A file named without a folder ("ZELK.ini") lives in
// $XDG_CONFIG_HOME/ronvix/ (default ~/.config/ronvix/), which a write
// creates; any other name is mapped like every file name (paths.h) and its
// folder must exist. Every write replaces the file atomically (a temporary
// file in the same folder, fsync, rename), so a crash or a full disk never
// leaves a half-written file: the old file stays as it was. A write that
// fails returns FALSE and sets the last error. Writes within this process
// are serialised.
//
// The functions go through a replaceable service, so higher layers can test
// against an in-memory fake.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/kernel.h"

namespace ronvix::win {

// The folder of settings files named without a folder.
std::string ProfileFolder();
// The path a settings file name stands for; nothing for an unmapped drive.
std::optional<std::string> ProfilePath(std::string_view file);

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
// and change nothing.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* file);

}  // namespace ronvix::win
