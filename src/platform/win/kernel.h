#pragma once
// Kernel services: time, sleeping, process and thread identity, the
// program's own path, the calling thread's last error and handles.
//
// Handles are pointer-sized. A file handle is the file descriptor itself (see
// files.h); a process handle comes from OpenProcess and names a process by
// its id. CloseHandle closes either kind.

#include <cstdint>
#include <string>

#include "platform/com/hresult.h"

namespace ronvix::win {

using com::BOOL;
using com::DWORD;
using HANDLE = intptr_t;
using HMODULE = void*;
inline constexpr HANDLE INVALID_HANDLE_VALUE = -1;
#ifndef TRUE
using com::TRUE;
#endif
#ifndef FALSE
using com::FALSE;
#endif

// --- Last error (per thread, like the platform's) --------------------------------
DWORD GetLastError();
void SetLastError(DWORD code);
// Sets the last error from an errno value and returns FALSE, for failing calls.
BOOL FailWithErrno(int err);

// --- Time ------------------------------------------------------------------------
struct SYSTEMTIME {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;      // 1..12
    uint16_t wDayOfWeek = 0;  // 0 = Sunday
    uint16_t wDay = 0;        // 1..31
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};
// The current date and time in coordinated universal time.
void GetSystemTime(SYSTEMTIME* time);
// Milliseconds since an unspecified start, monotonic.
uint64_t GetTickCount64();
// Blocks the calling thread for at least `ms` milliseconds (interrupted
// sleeps resume). 0 yields.
void Sleep(DWORD ms);

// --- Identity ----------------------------------------------------------------------
DWORD GetCurrentProcessId();
// The kernel's id of the calling thread (what /proc/self/task lists).
DWORD GetCurrentThreadId();

// The full path of the running program (/proc/self/exe). `module` must be
// null (the program itself). Copies at most size - 1 characters and a zero;
// returns the characters copied, or `size` with ERROR_INSUFFICIENT_BUFFER
// when the path was cut; 0 on failure.
inline constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);
std::string ProgramPath();

// --- Processes ---------------------------------------------------------------------
inline constexpr DWORD PROCESS_QUERY_INFORMATION = 0x0400;
inline constexpr DWORD PROCESS_SET_INFORMATION = 0x0200;
inline constexpr DWORD PROCESS_ALL_ACCESS = 0x1FFFFF;
// A handle on process `pid`, or 0 with ERROR_INVALID_PARAMETER when no such
// process exists. `inherit` is accepted for the platform's signature (handles
// here are not inherited by child programs).
HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD pid);
// The process id a process handle names; 0 when it is not one.
DWORD ProcessIdOfHandle(HANDLE process);
// Closes a process handle or a file descriptor. FALSE with
// ERROR_INVALID_HANDLE for anything else.
BOOL CloseHandle(HANDLE handle);

}  // namespace ronvix::win
