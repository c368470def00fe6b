#pragma once
// TCaptureSession: what the capture workflow's handlers keep between calls
// (the preview flag, the name and multiplexer of the last capture, the
// statistics carried from tick to tick, the device enumerator and the two
// media type lists), and the text rules of the capture page as plain
// functions. The main window holds one for its whole life. UI thread only.

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "capture/counters.h"
#include "mediagraph/mediatype.h"
#include "mediagraph/device_enum.h"
#include "mediagraph/workflowgraphs.h"
#include "platform/com/comptr.h"
#include "platform/media/io/filewriter.h"
#include "platform/media/core/interfaces.h"
#include "platform/win/kernel.h"

namespace ronvix::capture {

struct TCaptureSession {
    // Preview mode is on: set from "Preview" and by choosing a video device.
    bool preview = false;
    // A capture (not a preview alone) is running: set by a capture start,
    // cleared by its stop. An engine abort acts only while it is set, so
    // the abort is reported once.
    bool capturing = false;
    // A capture is being stopped (its file finished); an engine abort then
    // is the finish's failure, kept here and reported once by the stop.
    bool stopping = false;
    com::HRESULT finish_failure = com::S_OK;
    // The output file name taken at the last start.
    QString file_name;
    // The multiplexer the builder made for the last capture; replaced at
    // each capture start, released with the session.
    com::ComPtr<media::IBaseFilter> mux;
    // The file writer of the running capture: its size is what the data
    // rate and the remaining time count. Set when a capture runs, released
    // by its stop (a preview alone writes nothing and has none).
    com::ComPtr<media::IFileWriterQueue> writer;
    // The level meter of the running graph's audio stream; null while no
    // audio device streams.
    com::ComPtr<media::IAudioLevels> levels;
    // The capture file's growth between two rate ticks.
    TRateMeter meter;
    // Kilobytes a second the capture file grew over the last rate tick's
    // second; the remaining time divides the free space by it.
    int64_t rate = 0;
    // The clock of the rate ticks, in milliseconds (monotonic).
    uint64_t (*now_ms)() = &win::GetTickCount64;
    // The running capture's timed stop, in stream time (100 ns); 0: none.
    int64_t stop_at_100ns = 0;
    // Dropped frames at the previous statistics tick.
    int32_t previous_dropped = 0;
    // The video device's delivered count as the statistics tick last saw
    // it change, and when (GetTickCount64, ms): a count that stands still
    // while the capture runs is a device that went quiet.
    int32_t last_delivered = 0;
    uint64_t delivered_at_ms = 0;
    // Made by the window's creation, freed by its destruction.
    std::unique_ptr<mediagraph::TSysDevEnum> devices;
    std::unique_ptr<mediagraph::TEnumMediaType> video_types;
    std::unique_ptr<mediagraph::TEnumMediaType> audio_types;
};

// The folder part of a file name: everything up to and including the last
// ":", "\" or "/"; empty when there is none.
QString FolderPart(const QString& name);

// The generated capture file name for `now` (UTC) in the folder of
// `current`: folder + "dd_mm_yyyy_hh_nn_ss.avi".
QString GeneratedFileName(const QString& current, const win::SYSTEMTIME& now);

// The folder whose volume holds the capture file: the folder part of
// `file_name` when it has one, else the current folder ("."), against which
// the file writer resolves a bare name.
QString CaptureFolder(const QString& file_name);

// "hh:mm:ss" of a stream position in 100 ns units, wrapped at 24 hours.
QString ElapsedText(int64_t position_100ns);

// Remaining recording time for `free_bytes` at `rate_kb` kilobytes per
// second, hours unwrapped; with `stop_in_s` (the seconds until a timed stop,
// negative read as 0) the lesser of the two. None when the rate is 0 and no
// stop is set.
std::optional<QString> RemainingText(uint64_t free_bytes, int64_t rate_kb,
                                     std::optional<int64_t> stop_in_s = std::nullopt);

// The compression the "Video compression" list's item `index` names: MJPEG
// (item 0, and any index the list does not have: a stored index from an
// edited settings file), Lossless (FFV1) or Uncompressed.
mediagraph::TVideoCompression CaptureCompression(int index);

// " М" figure of the free space in whole megabytes.
QString FreeSpaceText(uint64_t free_bytes);

// How long a video device may deliver nothing before the capture page
// says so.
inline constexpr uint64_t kNoSignalAfter_ms = 3000;

// The statistics line of a video device that has delivered nothing for
// `quiet_ms`: "No signal for N s".
QString NoSignalText(uint64_t quiet_ms);

// A data rate in kilobytes a second as the statistics show it: "N К/sec".
QString RateText(int64_t rate_kb);

// The data rate the quality slider's value implies: "(v*65+700)/10" + "0 K/sec".
QString QualityText(int value);

// Why the capture file `name` (a name of the program's, drive letters
// allowed) cannot be created, as a sentence for the user; none when it can.
// Finds out by creating the file as the file writer will (through the
// platform's file functions); a file made only to find out is deleted
// again, an existing file is neither truncated nor removed.
std::optional<QString> CaptureFileProblem(const QString& name);

// The sizes after which a capture may go on in a next file, in the order
// "Begin a new file after" lists them; the first is no size of the user's
// (only a file system's refusal begins a next file). Media sizes: a CD's
// megabytes are 2^20 bytes, a DVD's gigabytes 10^9.
struct SplitSizeChoice {
    const char* text;
    uint64_t bytes;
};
inline constexpr SplitSizeChoice kSplitSizes[] = {
    {"the file system's limit", 0}, {"650 MB (CD)", 650ull << 20},
    {"700 MB (CD)", 700ull << 20},  {"1 GB", 1ull << 30},
    {"2 GB", 2ull << 30},           {"4.7 GB (DVD)", 4'700'000'000ull},
};

}  // namespace ronvix::capture
