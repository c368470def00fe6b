#pragma once
// The graphs the two workflows build, as functions of the components that
// take part, so the main window and the headless capture tool connect the
// same filters in the same order.
//
// Connections that fail are not reported by these functions: that part of
// the graph stays unconnected and the graph runs without it, as the
// workflows have always done. A component that answers no filter (no
// device chosen, graph inactive) raises EIntfCastError.
//
// User interface thread only; the graphs must be active in capture mode.

#include <QString>

#include "mediagraph/filter.h"
#include "mediagraph/filtergraph.h"
#include "mediagraph/samplegrabber.h"
#include "platform/media/io/filewriter.h"

namespace ronvix::mediagraph {

// How a capture file keeps the video of a source that delivers raw YUV
// (YUY2, UYVY, NV12, I420). A source that delivers MJPG is recorded as it
// comes whatever the choice; one that delivers anything else is compressed
// to MJPG.
enum class TVideoCompression {
    Mjpeg,         // the MJPEG Compressor, at the quality set on it
    Lossless,      // the FFV1 Compressor: every sample kept
    Uncompressed,  // the frames as the source delivers them
};

// The subtype the capture path's grabber takes (and the file records) for
// a source whose current output is `source_subtype` (GUID_NULL: unknown).
com::GUID CaptureVideoSubtype(TVideoCompression compression, const com::GUID& source_subtype);

// The capture side: the sources bound to `graph` take part, an unbound
// source (null FilterGraph) is left out.
struct TCaptureGraphParts {
    TFilterGraph* graph = nullptr;
    TFilter* video_source = nullptr;
    TFilter* audio_source = nullptr;
    TSampleGrabber* grabber = nullptr;
    TFilter* sync = nullptr;
    // The audio stream passes through it on its way to sync when given
    // (AddLevelMeter).
    media::IBaseFilter* level_meter = nullptr;
    TVideoCompression compression = TVideoCompression::Mjpeg;
};

// A new Audio Level Meter in `graph`; null when it cannot be made or added.
com::ComPtr<media::IBaseFilter> AddLevelMeter(TFilterGraph* graph);

// The audio source into `meter` alone (a preview's level check), when the
// source is bound to the graph.
void RenderAudioMeter(TFilterGraph* graph, TFilter* audio_source, media::IBaseFilter* meter);

// The AVI mux and its file writer for `file`; returns the mux (null when
// the builder could not make them). `writer`, when given, receives the file
// writer's size report (IFileWriterQueue::GetFileSize: every byte the file
// has gained), or null when the writer offers none.
com::ComPtr<media::IBaseFilter> AddCaptureFile(
    TFilterGraph* graph, const QString& file,
    com::ComPtr<media::IFileWriterQueue>* writer = nullptr);

// The video source's preview into `renderer`, when the source holds a
// device moniker. Comes before the capture streams: a source without a
// preview pin gets a Smart Tee here, whose capture output the capture
// stream then continues from.
void RenderCapturePreview(TFilterGraph* graph, TFilter* video_source, TFilter* renderer);

// Video source -> [compressor] -> grabber -> sync -> mux, audio source ->
// [meter] -> sync -> mux. The grabber is set first to take what the
// compression choice makes of the source's current output
// (CaptureVideoSubtype); connect then inserts the compressor that makes it.
void RenderCaptureStreams(const TCaptureGraphParts& parts, media::IBaseFilter* mux);

// The tape output side.
struct TTapeGraphParts {
    TFilterGraph* graph = nullptr;
    // The video output device.
    TFilter* device = nullptr;
    TSampleGrabber* grabber = nullptr;
    TFilter* splitter = nullptr;
    // The window that shows the device's own video output; null leaves that
    // output unconnected.
    IFilterLink* monitor = nullptr;
};

// Whether the file's video reached the output device, and when it did not,
// the first thing that stood in its way.
enum class TTapeVideo {
    Connected,      // splitter -> grabber -> device
    NoDevice,       // no output device is chosen: nothing could take the video
    NotReadable,    // the splitter could not read the file (not an AVI)
    NoVideo,        // the file holds no video stream
    NotMjpg,        // its video is none the grabber takes, directly (MJPG) or
                    // through a decoder or compressor (FFV1, uncompressed)
    DeviceRefused,  // the device (even through a converter) does not take it
};

struct TTapeGraphResult {
    TTapeVideo video = TTapeVideo::Connected;
    // The compression of the file's video (its four characters, or a type
    // name) when it is NotMjpg.
    QString codec;
    // What refused the file when it is NotReadable.
    com::HRESULT refused = com::S_OK;
};

// file source -> splitter (video) -> [decoder, compressor] -> grabber (MJPG)
// -> device, the device's own
// output into the monitor, and the splitter's audio stream (the last pin
// whose name holds "stream 01") rendered, which prefers an audio renderer
// already in the graph. A file without audio plays without it. The result
// says whether the video reached the device.
TTapeGraphResult BuildTapeGraph(const TTapeGraphParts& parts, const QString& file);

// Why a file whose graph gave `result` plays nothing on `device` (its
// name), as a clause for the user: "it is not an AVI file", "its video is
// FMP4, not MJPG, FFV1 or uncompressed video, ...", ... Empty when the
// video reached the device.
QString TapeVideoProblem(const TTapeGraphResult& result, const QString& device);

}  // namespace ronvix::mediagraph
