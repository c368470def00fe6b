#pragma once
// Repairing an AVI file that was cut short: a crash, a power loss, a full
// disk or an unfinished copy leaves the chunks on the disk but sizes and
// indexes that do not cover them (a file of an older build had none until
// it was finished). The repair reads the stream headers, walks every chunk
// that is whole, and writes a new file around them with the capture
// container's own writer: sizes, OpenDML indexes and the legacy index.
//
// What a caller may rely on:
// - The input is only read. The output is a new file; RepairAviInPlace
//   writes it beside the input and puts it in the input's place only when
//   it holds at least as many chunks as the input's own indexes name, so a
//   repair never makes a file worse.
// - Chunks are taken in file order from every RIFF ('AVI ' and 'AVIX'), up
//   to the first one that is cut or does not belong to a stream; an index,
//   a padding chunk or a list inside 'movi' is passed over.
// - Errors: VFW_E_INVALID_FILE_FORMAT for a file that is not an AVI with
//   streams; file errors as HRESULTs from errno.

#include <string>

#include "platform/media/core/types.h"

namespace ronvix::media {

struct AviRepairReport {
    int64_t video_frames = 0;  // Places, empty ones included.
    int64_t pictures = 0;      // Non-empty video chunks.
    int64_t audio_chunks = 0;
    double video_seconds = 0;
    double audio_seconds = 0;
    int64_t chunks_indexed_before = 0;  // What the input's indexes named.
    bool replaced = false;              // In place: the input was replaced.
};

// Writes the repaired copy of `input` to `output` (replaced if present).
HRESULT RepairAvi(const std::string& input, const std::string& output, AviRepairReport* report);

// Repairs `path` through a temporary file beside it; replaces it only when
// the repair holds at least what its indexes name.
HRESULT RepairAviInPlace(const std::string& path, AviRepairReport* report);

}  // namespace ronvix::media
