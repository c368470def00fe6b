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
// - The header is written once every video stream's frame rate is known
//   and its first frame came (at most five seconds of stream time or
//   64 MiB are held meanwhile). The rate is the device's: its type's frame
//   period, or the period a source puts on its first frame (the rate the
//   driver really runs at); a stream that names none is measured over its
//   first second and written as the nearest standard rate. Rates of video
//   standards are written exactly (30000/1001, not 29.97).
// - Where each sample goes is the capture timeline's (timeline.h): one
//   timeline for every stream from stream time 0, audio as the master
//   clock (continuous, with silence of the same length where the device
//   lost sound), video placed against it (empty places where frames were
//   lost or the camera fell behind, a frame left out where it ran ahead).
//   A frame left out is answered with S_SAMPLE_LEFT_OUT, so its source
//   counts it as dropped: what a source counts as delivered is in the file.
//   Each input pin answers IMuxStreamCounts with what the timeline made of
//   its stream.
// - IMuxEndTime on the filter sets an end in file time: every stream is
//   cut there (the timeline's end), EC_STREAM_CONTROL_STOPPED is raised once
//   the streams reached it, and later samples are answered with
//   S_SAMPLE_PAST_END. The file is checkpointed at that moment.
// - A failure of the file (the writer reports a write error) makes Receive
//   fail with that error; the writer has already raised EC_ERRORABORT.

#include "platform/com/classregistry.h"

namespace ronvix::media {

com::ClassEntry AviMuxClassEntry();

}  // namespace ronvix::media
