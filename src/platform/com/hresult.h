#pragma once
// HRESULT: the platform's 32-bit result code. Negative values are failures.
// Every interface method of the platform returns one; no exception ever
// crosses such a method.

#include <cerrno>
#include <cstdint>

namespace ronvix::com {

using HRESULT = int32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using DWORD = uint32_t;
using BOOL = int32_t;
// Some C headers define TRUE and FALSE as macros with the same values.
#ifndef TRUE
inline constexpr BOOL TRUE = 1;
#endif
#ifndef FALSE
inline constexpr BOOL FALSE = 0;
#endif
using LONG_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using REFERENCE_TIME = int64_t;  // 100 ns units

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

constexpr HRESULT MakeHr(uint32_t v) {
    return static_cast<HRESULT>(v);
}

// Generic results.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHr(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHr(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHr(0x80004003);
inline constexpr HRESULT E_ABORT = MakeHr(0x80004004);
inline constexpr HRESULT E_FAIL = MakeHr(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHr(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = MakeHr(0x80070005);
inline constexpr HRESULT E_HANDLE = MakeHr(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHr(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHr(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHr(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHr(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHr(0x80040154);
inline constexpr HRESULT MK_E_NOOBJECT = MakeHr(0x800401E5);
inline constexpr HRESULT MK_E_SYNTAX = MakeHr(0x800401E4);
inline constexpr HRESULT MK_E_UNAVAILABLE = MakeHr(0x800401E3);

// Structured storage (streams).
inline constexpr HRESULT STG_E_INVALIDFUNCTION = MakeHr(0x80030001);
inline constexpr HRESULT STG_E_FILENOTFOUND = MakeHr(0x80030002);
inline constexpr HRESULT STG_E_ACCESSDENIED = MakeHr(0x80030005);
inline constexpr HRESULT STG_E_INSUFFICIENTMEMORY = MakeHr(0x80030008);
inline constexpr HRESULT STG_E_INVALIDPOINTER = MakeHr(0x80030009);
inline constexpr HRESULT STG_E_WRITEFAULT = MakeHr(0x8003001D);
inline constexpr HRESULT STG_E_READFAULT = MakeHr(0x8003001E);
inline constexpr HRESULT STG_E_MEDIUMFULL = MakeHr(0x80030070);
inline constexpr HRESULT STG_E_INVALIDPARAMETER = MakeHr(0x80030057);
inline constexpr HRESULT STG_E_SEEKERROR = MakeHr(0x80030019);
inline constexpr HRESULT STG_E_INVALIDHEADER = MakeHr(0x800300FB);
inline constexpr HRESULT STG_S_CONVERTED = MakeHr(0x00030200);

// Media graph results.
inline constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MakeHr(0x80040200);
inline constexpr HRESULT VFW_E_INVALIDSUBTYPE = MakeHr(0x80040201);
inline constexpr HRESULT VFW_E_NEED_OWNER = MakeHr(0x80040202);
inline constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = MakeHr(0x80040203);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeHr(0x80040204);
inline constexpr HRESULT VFW_E_FILTER_ACTIVE = MakeHr(0x80040205);
inline constexpr HRESULT VFW_E_NO_TYPES = MakeHr(0x80040206);
inline constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeHr(0x80040207);
inline constexpr HRESULT VFW_E_INVALID_DIRECTION = MakeHr(0x80040208);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = MakeHr(0x80040209);
inline constexpr HRESULT VFW_E_NO_ALLOCATOR = MakeHr(0x8004020A);
inline constexpr HRESULT VFW_E_RUNTIME_ERROR = MakeHr(0x8004020B);
inline constexpr HRESULT VFW_E_BUFFER_NOTSET = MakeHr(0x8004020C);
inline constexpr HRESULT VFW_E_BUFFER_OVERFLOW = MakeHr(0x8004020D);
inline constexpr HRESULT VFW_E_BADALIGN = MakeHr(0x8004020E);
inline constexpr HRESULT VFW_E_ALREADY_COMMITTED = MakeHr(0x8004020F);
inline constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = MakeHr(0x80040210);
inline constexpr HRESULT VFW_E_NOT_COMMITTED = MakeHr(0x80040211);
inline constexpr HRESULT VFW_E_SIZENOTSET = MakeHr(0x80040212);
inline constexpr HRESULT VFW_E_NO_CLOCK = MakeHr(0x80040213);
inline constexpr HRESULT VFW_E_NO_SINK = MakeHr(0x80040214);
inline constexpr HRESULT VFW_E_NO_INTERFACE = MakeHr(0x80040215);
inline constexpr HRESULT VFW_E_NOT_FOUND = MakeHr(0x80040216);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeHr(0x80040217);
inline constexpr HRESULT VFW_E_CANNOT_RENDER = MakeHr(0x80040218);
inline constexpr HRESULT VFW_E_CHANGING_FORMAT = MakeHr(0x80040219);
inline constexpr HRESULT VFW_E_NO_COLOR_KEY_SET = MakeHr(0x8004021A);
inline constexpr HRESULT VFW_E_NOT_OVERLAY_CONNECTION = MakeHr(0x8004021B);
inline constexpr HRESULT VFW_E_NOT_SAMPLE_CONNECTION = MakeHr(0x8004021C);
inline constexpr HRESULT VFW_E_PALETTE_SET = MakeHr(0x8004021D);
inline constexpr HRESULT VFW_E_COLOR_KEY_SET = MakeHr(0x8004021E);
inline constexpr HRESULT VFW_E_NO_COLOR_KEY_FOUND = MakeHr(0x8004021F);
inline constexpr HRESULT VFW_E_NO_PALETTE_AVAILABLE = MakeHr(0x80040220);
inline constexpr HRESULT VFW_E_NO_DISPLAY_PALETTE = MakeHr(0x80040221);
inline constexpr HRESULT VFW_E_TOO_MANY_COLORS = MakeHr(0x80040222);
inline constexpr HRESULT VFW_E_STATE_CHANGED = MakeHr(0x80040223);
inline constexpr HRESULT VFW_E_NOT_STOPPED = MakeHr(0x80040224);
inline constexpr HRESULT VFW_E_NOT_PAUSED = MakeHr(0x80040225);
inline constexpr HRESULT VFW_E_NOT_RUNNING = MakeHr(0x80040226);
inline constexpr HRESULT VFW_E_WRONG_STATE = MakeHr(0x80040227);
inline constexpr HRESULT VFW_E_START_TIME_AFTER_END = MakeHr(0x80040228);
inline constexpr HRESULT VFW_E_INVALID_RECT = MakeHr(0x80040229);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeHr(0x8004022A);
inline constexpr HRESULT VFW_E_SAMPLE_REJECTED = MakeHr(0x8004022B);
inline constexpr HRESULT VFW_E_SAMPLE_REJECTED_EOS = MakeHr(0x8004022C);
inline constexpr HRESULT VFW_E_DUPLICATE_NAME = MakeHr(0x8004022D);
inline constexpr HRESULT VFW_S_DUPLICATE_NAME = MakeHr(0x0004022D);
inline constexpr HRESULT VFW_E_TIMEOUT = MakeHr(0x8004022E);
inline constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = MakeHr(0x8004022F);
inline constexpr HRESULT VFW_E_ENUM_OUT_OF_RANGE = MakeHr(0x80040230);
inline constexpr HRESULT VFW_E_CIRCULAR_GRAPH = MakeHr(0x80040231);
inline constexpr HRESULT VFW_E_NOT_ALLOWED_TO_SAVE = MakeHr(0x80040232);
inline constexpr HRESULT VFW_E_TIME_ALREADY_PASSED = MakeHr(0x80040233);
inline constexpr HRESULT VFW_E_ALREADY_CANCELLED = MakeHr(0x80040234);
inline constexpr HRESULT VFW_E_CORRUPT_GRAPH_FILE = MakeHr(0x80040235);
inline constexpr HRESULT VFW_E_ADVISE_ALREADY_SET = MakeHr(0x80040236);
inline constexpr HRESULT VFW_S_STATE_INTERMEDIATE = MakeHr(0x00040237);
inline constexpr HRESULT VFW_E_NO_MODEX_AVAILABLE = MakeHr(0x80040238);
inline constexpr HRESULT VFW_E_NO_ADVISE_SET = MakeHr(0x80040239);
inline constexpr HRESULT VFW_E_NO_FULLSCREEN = MakeHr(0x8004023A);
inline constexpr HRESULT VFW_E_IN_FULLSCREEN_MODE = MakeHr(0x8004023B);
inline constexpr HRESULT VFW_E_UNKNOWN_FILE_TYPE = MakeHr(0x80040240);
inline constexpr HRESULT VFW_E_CANNOT_LOAD_SOURCE_FILTER = MakeHr(0x80040241);
inline constexpr HRESULT VFW_S_PARTIAL_RENDER = MakeHr(0x00040242);
inline constexpr HRESULT VFW_E_FILE_TOO_SHORT = MakeHr(0x80040243);
inline constexpr HRESULT VFW_E_INVALID_FILE_VERSION = MakeHr(0x80040244);
inline constexpr HRESULT VFW_S_SOME_DATA_IGNORED = MakeHr(0x00040245);
inline constexpr HRESULT VFW_S_CONNECTIONS_DEFERRED = MakeHr(0x00040246);
inline constexpr HRESULT VFW_E_INVALID_CLSID = MakeHr(0x80040247);
inline constexpr HRESULT VFW_E_BAD_KEY = MakeHr(0x800403F2);
inline constexpr HRESULT VFW_S_NO_MORE_ITEMS = MakeHr(0x00040103);
inline constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = MakeHr(0x80040249);
inline constexpr HRESULT VFW_S_RESOURCE_NOT_NEEDED = MakeHr(0x00040250);
inline constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = MakeHr(0x80040251);
inline constexpr HRESULT VFW_E_NO_TIME_FORMAT_SET = MakeHr(0x80040252);
inline constexpr HRESULT VFW_E_MONO_AUDIO_HW = MakeHr(0x80040253);
inline constexpr HRESULT VFW_S_MEDIA_TYPE_IGNORED = MakeHr(0x00040254);
inline constexpr HRESULT VFW_E_NO_DECOMPRESSOR = MakeHr(0x80040255);
inline constexpr HRESULT VFW_E_NO_AUDIO_HARDWARE = MakeHr(0x80040256);
inline constexpr HRESULT VFW_S_VIDEO_NOT_RENDERED = MakeHr(0x00040257);
inline constexpr HRESULT VFW_S_AUDIO_NOT_RENDERED = MakeHr(0x00040258);
inline constexpr HRESULT VFW_E_RPZA = MakeHr(0x80040259);
inline constexpr HRESULT VFW_E_PROCESSOR_NOT_SUITABLE = MakeHr(0x8004025B);
inline constexpr HRESULT VFW_E_UNSUPPORTED_AUDIO = MakeHr(0x8004025C);
inline constexpr HRESULT VFW_E_UNSUPPORTED_VIDEO = MakeHr(0x8004025D);
inline constexpr HRESULT VFW_E_MPEG_NOT_CONSTRAINED = MakeHr(0x8004025E);
inline constexpr HRESULT VFW_E_NOT_IN_GRAPH = MakeHr(0x8004025F);
inline constexpr HRESULT VFW_S_ESTIMATED = MakeHr(0x00040260);
inline constexpr HRESULT VFW_E_NO_TIME_FORMAT = MakeHr(0x80040261);
inline constexpr HRESULT VFW_E_READ_ONLY = MakeHr(0x80040262);
inline constexpr HRESULT VFW_S_RESERVED = MakeHr(0x00040263);
inline constexpr HRESULT VFW_E_BUFFER_UNDERFLOW = MakeHr(0x80040264);
inline constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = MakeHr(0x80040265);
inline constexpr HRESULT VFW_E_NO_TRANSPORT = MakeHr(0x80040266);
inline constexpr HRESULT VFW_S_STREAM_OFF = MakeHr(0x00040267);
inline constexpr HRESULT VFW_S_CANT_CUE = MakeHr(0x00040268);
inline constexpr HRESULT VFW_E_BAD_VIDEOCD = MakeHr(0x80040269);
inline constexpr HRESULT VFW_E_OUT_OF_VIDEO_MEMORY = MakeHr(0x80040271);
inline constexpr HRESULT VFW_E_VP_NEGOTIATION_FAILED = MakeHr(0x80040272);
inline constexpr HRESULT VFW_E_DDRAW_CAPS_NOT_SUITABLE = MakeHr(0x80040273);
inline constexpr HRESULT VFW_E_NO_VP_HARDWARE = MakeHr(0x80040274);
inline constexpr HRESULT VFW_E_NO_CAPTURE_HARDWARE = MakeHr(0x80040275);
inline constexpr HRESULT VFW_E_DVD_OPERATION_INHIBITED = MakeHr(0x80040276);
inline constexpr HRESULT VFW_E_TIME_EXPIRED = MakeHr(0x8004027A);
inline constexpr HRESULT VFW_E_BAD_KEY_VALUE = MakeHr(0x800403F2);

// Win32 error codes wrapped as HRESULTs (facility 7).
constexpr HRESULT HRESULT_FROM_WIN32(uint32_t code) {
    return code == 0 ? S_OK : MakeHr((code & 0xFFFFu) | 0x80070000u);
}
inline constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr uint32_t ERROR_WRITE_PROTECT = 19;
inline constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
inline constexpr uint32_t ERROR_HANDLE_DISK_FULL = 39;
inline constexpr uint32_t ERROR_FILE_EXISTS = 80;
inline constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr uint32_t ERROR_DISK_FULL = 112;
inline constexpr uint32_t ERROR_INVALID_NAME = 123;
inline constexpr uint32_t ERROR_DIR_NOT_EMPTY = 145;
inline constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
inline constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr uint32_t ERROR_FILE_TOO_LARGE = 223;
inline constexpr uint32_t ERROR_DIRECTORY = 267;
inline constexpr uint32_t ERROR_IO_DEVICE = 1117;

// Maps an errno value to the Win32 code the platform would report for it.
constexpr uint32_t Win32ErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return 0;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case EROFS:
            return ERROR_WRITE_PROTECT;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EBUSY:
        case ETXTBSY:
            return ERROR_SHARING_VIOLATION;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EFBIG:
            return ERROR_FILE_TOO_LARGE;
        case EISDIR:
            return ERROR_DIRECTORY;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        default:
            return ERROR_IO_DEVICE;
    }
}
constexpr HRESULT HResultFromErrno(int err) {
    return HRESULT_FROM_WIN32(Win32ErrorFromErrno(err));
}

}  // namespace ronvix::com
