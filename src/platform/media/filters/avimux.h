#pragma once
// The AVI Mux (CLSID_AviDest): interleaves video and audio streams into an
// AVI file written through libavformat.
//
// What a caller may rely on:
// - Pins: inputs "Input 01", "Input 02", ... (a free one is always there:
//   connecting the last free input adds the next) and the output "AVI Out"
//   (MEDIATYPE_Stream / MEDIASUBTYPE_Avi). Inputs take video with a VideoInfo
//   block whose compression the AVI format knows (MJPG and other four-
//   character codes, or uncompressed RGB) and PCM audio with a WaveFormatEx
//   block.
// - "AVI Out" needs a downstream pin that offers IStream (the File Writer's
//   input): libavformat's I/O context writes and seeks through it, so each
//   run of bytes lands at its file position, and the header patches at the
//   end are positioned writes like any other.
// - The file begins when the graph leaves Stopped (the header is written
//   then) and is finished, index and header sizes included, when the mux
//   stops, when every connected input reached end of stream, or when the mux
//   goes away; then the downstream stream is committed and the writer gets
//   end of stream. Past 1 GiB the file continues in OpenDML form.
// - Video frame rate: the stream's AvgTimePerFrame (25 fps without one).
//   Each frame is placed at its start time rounded to whole frames, counted
//   from the stream's first frame, so frames that a source dropped leave a
//   gap of empty frames and the file keeps real time. A frame that would
//   land on the place of the frame before it goes to the next place.
// - Audio is continuous: samples are written back to back, whatever their
//   time stamps say, and interleaved with the video by time. So the file's
//   audio runs on the sound card's clock; when a live source re-anchors its
//   audio stamps to the graph's clock (a sample marked as a discontinuity),
//   the video follows in whole frames: a place left empty when the audio got
//   a frame ahead, a frame left out when it fell a frame behind.
// - A failure of the file (the writer reports a write error) makes Receive
//   fail with that error; the writer has already raised EC_ERRORABORT.

#include "platform/com/classregistry.h"

namespace ronvix::media {

com::ClassEntry AviMuxClassEntry();

}  // namespace ronvix::media
