#pragma once
// File playback: the AVI Splitter, which reads what the File Source
// (io/filesource.h) gives it, and the registration of both.
//
// What a caller may rely on:
// - AVI Splitter (CLSID_AviSplitter): its input ("Input") connects only to
//   a pin that answers IAsyncReader, and only when the file's headers can be
//   read: a zero-length or truncated header gives VFW_E_FILE_TOO_SHORT, a
//   picture wider or taller than kMaxPictureSide VFW_E_UNSUPPORTED_VIDEO,
//   anything else that is not a readable AVI file VFW_E_INVALID_FILE_FORMAT.
//   On connection it adds the output pins "Stream 00", "Stream 01", ... in
//   the file's order, each offering the stream's type from the headers.
// - A splitter whose input refused the last file it was offered, and that
//   is still without one, fails to leave Stopped with that same result, so
//   a graph built around an unplayable file reports why instead of running
//   with nothing to play. Leaving the graph forgets the refusal.
// - Buffers are sized from what the file can hold: each output pin's pool
//   holds the largest packet of its stream as the index lists it (or as
//   the headers estimate it without an index), never more than the file's
//   length, whatever the headers claim. A packet larger than that is
//   corrupt and is left out.
//   Pins stay for the filter's life (pins are never removed): a later
//   connection to a file with fewer streams leaves the extra pins offering
//   nothing.
// - The splitter's output pins answer IMediaSeeking (absolute positions in
//   100 ns units): duration, current position, stop position and
//   SetPositions. Seeking moves the one reader of the file (whichever pin is
//   asked), flushes every output, starts a new segment at the new position
//   and delivers from there, sample times counted from the segment start.
// - While the graph is out of Stopped one streaming thread reads the file
//   in its order and delivers each packet to its pin, blocking while the
//   pin's peer does (a renderer waiting for a sample's time): AVI files are
//   interleaved by time, so file order is presentation order. At the stop
//   position or the end of the file every output gets end of stream. A file
//   that is corrupt past its headers plays what is readable and then ends.
// - Stopping wakes and joins the thread; a paused graph keeps its place.

#include "platform/com/classregistry.h"
#include "platform/media/core/interfaces.h"
#include "platform/media/io/filesource.h"

namespace ronvix::media {

inline constexpr GUID CLSID_AviSplitter = RONVIX_GUID("{1B544C20-FD0B-11CE-8C63-00AA0044B51E}");

com::ClassEntry AviSplitterClassEntry();

// A new instance for callers that need no class registry.
HRESULT CreateAviSplitter(REFIID riid, void** out);

// Registers the File Source (never inserted by graph building) and the AVI
// Splitter (general filter category, normal merit, so Connect and Render
// insert it after a file source). Idempotent and thread-safe.
void RegisterPlaybackClasses();

}  // namespace ronvix::media
