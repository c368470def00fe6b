#pragma once
// The capture workflow's text rules as plain functions (file names, the
// statistics' figures, the reason a capture file cannot be made) and the
// sizes after which a capture goes on in a next file. Any thread; nothing
// here touches a graph or a widget.

#include <QString>
#include <cstdint>
#include <optional>

#include "mediagraph/workflowgraphs.h"
#include "platform/win/kernel.h"

namespace ronvix::workflow {

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

// The bytes of the choice at `index` of kSplitSizes; 0 (no size of the
// user's) for the first and for an index the list does not have (a stored
// index from an edited settings file).
uint64_t SplitSizeBytes(int index);

}  // namespace ronvix::workflow
