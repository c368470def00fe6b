#pragma once
// File functions of the platform. Each maps its name first (paths.h); a name
// on an unmapped drive fails with ERROR_PATH_NOT_FOUND. Failures set the
// calling thread's last error (kernel.h) from errno.

#include <QString>
#include <cstdint>
#include <string_view>

#include "platform/win/kernel.h"

namespace ronvix::win {

// True only for an existing regular file (symbolic links are followed);
// false for folders, devices and anything missing.
bool FileExists(std::string_view name);
bool FileExists(const QString& name);
inline bool FileExists(const char* name) {
    return name && FileExists(std::string_view(name));
}

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

// Opens or creates a file and returns its file descriptor as the handle
// (close-on-exec), or INVALID_HANDLE_VALUE. `share_mode`, `security`,
// `flags` and `template_file` are accepted for the platform's signature:
// Linux has no share modes, so other openers are not excluded. The caller
// closes the handle with CloseHandle.
HANDLE CreateFileA(const char* name, DWORD access, DWORD share_mode, void* security,
                   DWORD disposition, DWORD flags, HANDLE template_file);

// Writes all `bytes` (retrying short writes). FALSE on failure.
BOOL WriteFile(HANDLE file, const void* data, DWORD bytes, DWORD* written, void* overlapped);
BOOL ReadFile(HANDLE file, void* data, DWORD bytes, DWORD* read, void* overlapped);

// Deletes a file (not a folder).
BOOL DeleteFileA(const char* name);

// Bytes available to the caller, the volume's size and its free bytes, for
// the volume holding `folder`. A folder that does not exist yet is measured
// at its nearest existing parent. Null `folder` means the current folder.
// Any of the out-pointers may be null.
BOOL GetDiskFreeSpaceExA(const char* folder, uint64_t* available_to_caller, uint64_t* total,
                         uint64_t* total_free);

}  // namespace ronvix::win
