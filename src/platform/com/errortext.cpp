#include "platform/com/errortext.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace ronvix::com {

namespace {

struct Text {
    HRESULT code;
    const char* text;
};

constexpr Text kTexts[] = {
    {S_OK, "The operation succeeded."},
    {S_FALSE, "The operation succeeded with a partial or negative answer."},
    {E_FAIL, "The operation failed for an unspecified reason."},
    {E_POINTER, "A required pointer argument was null."},
    {E_NOINTERFACE, "The object does not support the requested interface."},
    {E_INVALIDARG, "An argument was not valid."},
    {E_OUTOFMEMORY, "There was not enough memory to complete the operation."},
    {E_ABORT, "The operation was aborted."},
    {E_NOTIMPL, "The operation is not implemented by this object."},
    {E_UNEXPECTED, "An unexpected failure occurred."},
    {E_ACCESSDENIED, "Access was denied."},
    {E_HANDLE, "The handle is not valid."},
    {CLASS_E_NOAGGREGATION, "This class cannot be created as part of an aggregate."},
    {CLASS_E_CLASSNOTAVAILABLE, "The class is not available."},
    {REGDB_E_CLASSNOTREG, "The class is not registered."},
    {MK_E_NOOBJECT, "The object named by the moniker could not be found."},
    {MK_E_SYNTAX, "The moniker's name could not be parsed."},
    {MK_E_UNAVAILABLE, "The operation is not available for this moniker."},
    {STG_E_INVALIDFUNCTION, "The stream does not support this function."},
    {STG_E_FILENOTFOUND, "The file could not be found."},
    {STG_E_ACCESSDENIED, "Access to the stream was denied."},
    {STG_E_INSUFFICIENTMEMORY, "There was not enough memory for the stream operation."},
    {STG_E_INVALIDPOINTER, "A stream function received a pointer that is not valid."},
    {STG_E_WRITEFAULT, "Writing to the stream failed."},
    {STG_E_READFAULT, "Reading from the stream failed or the stream ended early."},
    {STG_E_MEDIUMFULL, "There is no room left in the stream's medium."},
    {STG_E_INVALIDPARAMETER, "A stream function received a parameter that is not valid."},
    {STG_E_SEEKERROR, "The stream position could not be changed."},
    {STG_E_INVALIDHEADER, "The stream header is not valid."},
    {VFW_E_INVALIDMEDIATYPE, "The media type is not valid."},
    {VFW_E_INVALIDSUBTYPE, "The media subtype is not valid."},
    {VFW_E_NEED_OWNER, "The object must have an owner filter."},
    {VFW_E_ENUM_OUT_OF_SYNC, "The enumerator no longer matches the object's state."},
    {VFW_E_ALREADY_CONNECTED, "At least one of the pins is already connected."},
    {VFW_E_FILTER_ACTIVE, "The operation cannot be done while the filter is active."},
    {VFW_E_NO_TYPES, "The pin offers no media types."},
    {VFW_E_NO_ACCEPTABLE_TYPES, "The pins have no media type in common."},
    {VFW_E_INVALID_DIRECTION, "Two pins of the same direction cannot be connected."},
    {VFW_E_NOT_CONNECTED, "The operation needs a connected pin, and the pin is not connected."},
    {VFW_E_NO_ALLOCATOR, "No sample buffer allocator is available."},
    {VFW_E_RUNTIME_ERROR, "A run-time error occurred."},
    {VFW_E_BUFFER_NOTSET, "No buffer space has been set."},
    {VFW_E_BUFFER_OVERFLOW, "The buffer is too small."},
    {VFW_E_BADALIGN, "The alignment is not valid."},
    {VFW_E_ALREADY_COMMITTED, "The allocator cannot be changed while it is committed."},
    {VFW_E_BUFFERS_OUTSTANDING, "Buffers are still in use."},
    {VFW_E_NOT_COMMITTED, "The allocator is not committed, so no sample can be had from it."},
    {VFW_E_SIZENOTSET, "The buffer size has not been set."},
    {VFW_E_NO_CLOCK, "No reference clock is set."},
    {VFW_E_NO_SINK, "No event sink is set."},
    {VFW_E_NO_INTERFACE, "A required interface has not been implemented."},
    {VFW_E_NOT_FOUND, "The object or name was not found."},
    {VFW_E_CANNOT_CONNECT, "No combination of intermediate filters could connect the pins."},
    {VFW_E_CANNOT_RENDER, "No combination of filters could render the stream."},
    {VFW_E_CHANGING_FORMAT, "The format could not be changed dynamically."},
    {VFW_E_STATE_CHANGED, "The state changed while the operation was under way."},
    {VFW_E_NOT_STOPPED, "The operation needs the filter or graph to be stopped first."},
    {VFW_E_NOT_PAUSED, "The operation needs the filter or graph to be paused first."},
    {VFW_E_NOT_RUNNING, "The operation needs the filter or graph to be running."},
    {VFW_E_WRONG_STATE, "The operation cannot be done in the current state."},
    {VFW_E_START_TIME_AFTER_END, "The start time is after the end time."},
    {VFW_E_INVALID_RECT, "The rectangle is not valid."},
    {VFW_E_TYPE_NOT_ACCEPTED, "The pin does not accept this media type."},
    {VFW_E_SAMPLE_REJECTED, "The sample was rejected."},
    {VFW_E_SAMPLE_REJECTED_EOS, "The sample was rejected because the stream has ended."},
    {VFW_E_DUPLICATE_NAME, "A filter with this name is already in the graph."},
    {VFW_S_DUPLICATE_NAME, "The filter was added under a changed name because the name was taken."},
    {VFW_E_TIMEOUT, "The operation timed out."},
    {VFW_E_INVALID_FILE_FORMAT, "The file format is not valid."},
    {VFW_E_ENUM_OUT_OF_RANGE, "The enumeration index is out of range."},
    {VFW_E_CIRCULAR_GRAPH, "The connection would make the graph circular."},
    {VFW_E_NOT_ALLOWED_TO_SAVE, "Saving is not allowed in this state."},
    {VFW_E_TIME_ALREADY_PASSED, "The time has already passed."},
    {VFW_E_ALREADY_CANCELLED, "The request has already been cancelled."},
    {VFW_E_CORRUPT_GRAPH_FILE, "The saved graph is corrupt."},
    {VFW_E_ADVISE_ALREADY_SET, "An advise link is already set."},
    {VFW_S_STATE_INTERMEDIATE, "The state change has not finished yet."},
    {VFW_E_NO_ADVISE_SET, "No advise link is set."},
    {VFW_E_UNKNOWN_FILE_TYPE, "The file type is not recognised."},
    {VFW_E_CANNOT_LOAD_SOURCE_FILTER, "The source filter for this file could not be loaded."},
    {VFW_S_PARTIAL_RENDER, "Only some of the streams could be rendered."},
    {VFW_E_FILE_TOO_SHORT, "The file is shorter than its format says."},
    {VFW_E_INVALID_FILE_VERSION, "The file's version is not supported."},
    {VFW_S_SOME_DATA_IGNORED, "Some of the data was ignored."},
    {VFW_E_INVALID_CLSID, "The class identifier is not valid."},
    {VFW_E_BAD_KEY, "A registry key is missing or corrupt."},
    {VFW_S_NO_MORE_ITEMS, "There are no more items."},
    {VFW_E_SAMPLE_TIME_NOT_SET, "The sample has no time stamp."},
    {VFW_E_NO_TIME_FORMAT_SET, "No time format is set."},
    {VFW_E_NO_DECOMPRESSOR, "No decompressor was found for the stream."},
    {VFW_E_NO_AUDIO_HARDWARE, "No audio device is available."},
    {VFW_S_VIDEO_NOT_RENDERED, "The video stream could not be rendered."},
    {VFW_S_AUDIO_NOT_RENDERED, "The audio stream could not be rendered."},
    {VFW_E_UNSUPPORTED_AUDIO, "The audio format is not supported."},
    {VFW_E_UNSUPPORTED_VIDEO, "The video format is not supported."},
    {VFW_E_NOT_IN_GRAPH, "The filter is not in a graph."},
    {VFW_S_ESTIMATED, "The value is an estimate."},
    {VFW_E_NO_TIME_FORMAT, "The time format is not supported."},
    {VFW_E_READ_ONLY, "The object is read-only."},
    {VFW_E_BUFFER_UNDERFLOW, "The buffer does not hold enough data."},
    {VFW_E_UNSUPPORTED_STREAM, "The stream type is not supported."},
    {VFW_E_NO_TRANSPORT, "The pins do not support a common transport."},
    {VFW_S_STREAM_OFF, "The stream is switched off."},
    {VFW_S_CANT_CUE, "The graph paused, but a filter cannot deliver data while paused."},
    {VFW_E_NO_CAPTURE_HARDWARE, "No capture device is available."},
    {VFW_E_TIME_EXPIRED, "The time has expired."},
};

struct Win32Text {
    uint32_t code;
    const char* text;
};

constexpr Win32Text kWin32Texts[] = {
    {ERROR_FILE_NOT_FOUND, "The file was not found."},
    {ERROR_PATH_NOT_FOUND, "The folder of the path was not found."},
    {ERROR_ACCESS_DENIED, "Access to the file was denied."},
    {ERROR_INVALID_HANDLE, "The file handle is not valid."},
    {ERROR_NOT_ENOUGH_MEMORY, "There was not enough memory."},
    {ERROR_WRITE_PROTECT, "The medium is read-only."},
    {ERROR_SHARING_VIOLATION, "The file is in use."},
    {ERROR_HANDLE_DISK_FULL, "The disk is full."},
    {ERROR_FILE_EXISTS, "The file already exists."},
    {ERROR_INVALID_PARAMETER, "A parameter was not valid."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INVALID_NAME, "The file name is not valid."},
    {ERROR_DIR_NOT_EMPTY, "The folder is not empty."},
    {ERROR_ALREADY_EXISTS, "The file already exists."},
    {ERROR_FILENAME_EXCED_RANGE, "The file name is too long."},
    {ERROR_DIRECTORY, "The name is a folder, not a file."},
    {ERROR_FILE_TOO_LARGE, "The file size exceeds the limit allowed and cannot be saved."},
    {ERROR_IO_DEVICE, "The device reported an input/output error."},
};

// The texts ErrorWithText gave codes to, by code (index = code - base).
constexpr uint32_t kTextBase = 0x8004FD00u;
constexpr size_t kTextCodes = 256;
struct GivenTexts {
    std::mutex lock;
    std::vector<std::string> texts;  // Guarded by lock.
    size_t next = 0;                 // The code given next once all are used.
};
GivenTexts& Given() {
    static GivenTexts given;
    return given;
}

std::optional<std::string> GivenText(HRESULT hr) {
    const uint32_t code = static_cast<uint32_t>(hr);
    if (code < kTextBase || code >= kTextBase + kTextCodes)
        return std::nullopt;
    GivenTexts& g = Given();
    std::lock_guard guard(g.lock);
    const size_t index = code - kTextBase;
    if (index >= g.texts.size())
        return std::nullopt;
    return g.texts[index];
}

}  // namespace

HRESULT ErrorWithText(std::string text) {
    if (text.size() > 255) {
        size_t cut = 255;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;  // Not inside a UTF-8 character.
        text.resize(cut);
    }
    GivenTexts& g = Given();
    std::lock_guard guard(g.lock);
    const auto it = std::find(g.texts.begin(), g.texts.end(), text);
    size_t index = size_t(it - g.texts.begin());
    if (it == g.texts.end()) {
        if (g.texts.size() < kTextCodes) {
            g.texts.push_back(std::move(text));
        } else {
            index = g.next;
            g.texts[index] = std::move(text);
            g.next = (g.next + 1) % kTextCodes;
        }
    }
    return MakeHr(kTextBase + uint32_t(index));
}

bool HasGivenText(HRESULT hr) {
    return GivenText(hr).has_value();
}

std::string ErrorText(HRESULT hr) {
    if (std::optional<std::string> given = GivenText(hr))
        return *given;
    for (const auto& t : kTexts)
        if (t.code == hr)
            return t.text;
    if ((static_cast<uint32_t>(hr) & 0xFFFF0000u) == 0x80070000u) {
        uint32_t code = static_cast<uint32_t>(hr) & 0xFFFFu;
        for (const auto& t : kWin32Texts)
            if (t.code == code)
                return t.text;
        return "A system call failed.";
    }
    return SUCCEEDED(hr) ? "The operation succeeded." : "An unknown error occurred.";
}

DWORD AMGetErrorTextA(HRESULT hr, char* buffer, DWORD max_len) {
    if (!buffer || max_len == 0)
        return 0;
    std::string text = ErrorText(hr);
    size_t n = std::min<size_t>(text.size(), max_len - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}

}  // namespace ronvix::com
