#pragma once
// The command line of ronvix-capture: what to do and with which devices and
// files. Parsing checks the shape of the line only (which options go
// together, that numbers are numbers); whether devices and files exist is
// checked when the command runs.

#include <QString>
#include <QStringList>
#include <optional>

namespace ronvix::tools {

// Exit codes, as --help lists them.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,     // the graph could not be built or the engine aborted
    kExitUsage = 2,      // bad arguments
    kExitNoDevice = 3,   // a device name or position that is not listed
    kExitFileError = 4,  // a missing input file or an output that cannot be written
};

enum class Command { Help, Version, List, Capture, Play, Repair };

// How a capture keeps the video of a device that delivers raw YUV; MJPG
// devices are recorded as they come.
enum class VideoCompression { Mjpeg, Ffv1, Uncompressed };

struct Options {
    Command command = Command::Help;
    // Capture: device names or positions; empty when not given.
    QString video;
    QString audio;
    // Capture length in seconds; none runs until SIGINT or SIGTERM.
    std::optional<int> seconds;
    QString out;
    // Mebibytes after which a next file begins; none: only at a file
    // system's limit.
    std::optional<int> split_mb;
    bool unpaced = false;
    VideoCompression compression = VideoCompression::Mjpeg;
    bool compression_given = false;
    // The devices' formats: a position in the device's list (as --list
    // numbers them), or WxH[@RATE][:FOURCC] and RATE[:BITS[:CHANNELS]];
    // empty keeps a device's current format.
    QString video_format;
    QString audio_format;
    // Repair: the file to repair; `out`, when given, receives the repaired
    // copy instead of the file being replaced.
    QString repair;
    // Play.
    QString play;
    QString to;
    QString audio_out;
};

struct ParseResult {
    std::optional<Options> options;
    // Why the line was refused, when options is empty.
    QString error;
};

// `arguments` without the program name.
ParseResult ParseOptions(const QStringList& arguments);

// The --help text.
QString UsageText();

}  // namespace ronvix::tools
