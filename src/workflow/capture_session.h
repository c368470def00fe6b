#pragma once
// CaptureSession: the capture side of the program without its widgets. It
// owns the capture graph and its components, builds a capture or a preview
// on them, runs it, rolls back a start that does not run, ends a capture on
// Stop, at its timed stop, when the engine gives up on it and when its
// device vanishes, and keeps the figures the statistics show. The capture
// page, ronvix-capture and the live benchmark all capture through it, so a
// file is made the same way whichever of them asks.
//
// The session reports through the callbacks below; each runs on the user
// interface thread, inside the call or graph event that caused it. A start
// that fails throws (fw::Exception or the engine's own error) after the
// rollback; the caller reports it once.
//
// User interface thread only.

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "mediagraph/formdata.h"
#include "mediagraph/workflowgraphs.h"
#include "platform/com/comptr.h"
#include "platform/media/core/interfaces.h"
#include "platform/media/core/types.h"
#include "platform/media/io/filewriter.h"
#include "platform/win/kernel.h"
#include "workflow/rate_meter.h"

namespace ronvix::workflow {

// What a capture records and how its file ends.
struct CaptureSettings {
    // The file, in the program's own naming (drive letters allowed).
    QString file_name;
    mediagraph::TVideoCompression compression = mediagraph::TVideoCompression::Mjpeg;
    // A file that reaches this size ends and the capture goes on in the
    // next one; 0: only a file system's refusal begins a next file.
    uint64_t split_bytes = 0;
    // The capture ends by itself at this stream time (100 ns); 0: never.
    int64_t stop_after_100ns = 0;
};

// The figures of a running capture at one moment.
struct CaptureStatistics {
    // The capture graph's stream time.
    int64_t position_100ns = 0;
    // Whether the video stream counts its frames (a capture without video
    // has no frame counts).
    bool frames_counted = false;
    // Frames in the file, and frames the device lost or the file left out.
    int32_t captured = 0;
    int32_t dropped = 0;
    // Of the dropped, those the file left out to keep time, and the empty
    // places it inserted for frames that never came.
    int64_t left_out = 0;
    int64_t inserted = 0;
};

class CaptureSession : public QObject {
    Q_OBJECT
public:
    // The capture graph and its components are made as children of the
    // session, under the names the settings and graph editors know.
    explicit CaptureSession(QObject* parent = nullptr);
    ~CaptureSession() override;

    const mediagraph::CaptureMedia& Media() const { return m_media; }
    mediagraph::TFilterGraph* Graph() const { return m_media.CaptureGraph; }

    // Where the preview is drawn: called with the renderer's window once a
    // graph with a preview is built (the page puts it into its panel). Without
    // one the renderer is left as the graph made it. A renderer not bound to
    // the graph takes no part at all (a capture without a window).
    std::function<void(media::IVideoWindow* window)> place_preview;

    // Called when a capture or a preview has started to run, and when a
    // capture has ended (by Stop, its timed stop, an abort or a lost
    // device), before the preview comes back.
    std::function<void(bool capture)> on_started;
    std::function<void()> on_capture_ended;
    // Something the user must be told, once (why a capture or a preview
    // ended, or why its file could not be finished).
    std::function<void(const QString& message)> on_report;
    // The graph's buffering state changed.
    std::function<void(bool buffering)> on_buffering;

    // Preview mode: a preview runs whenever no capture does. Setting it
    // does not start or stop anything (see StartPreview and Stop).
    bool PreviewOn() const { return m_preview; }
    void SetPreviewOn(bool on) { m_preview = on; }
    bool Capturing() const { return m_capturing; }
    // The graph exists and runs (a capture or a preview).
    bool Running() const;

    // A capture: the file is checked before the graph is touched (a running
    // preview goes on when it cannot be made), then the graph is built
    // afresh with the preview, the file and the streams, and run. A run that
    // fails leaves no half-built graph: the preview comes back when it is on
    // and the capture's failure is thrown.
    void StartCapture(const CaptureSettings& settings);
    // The two halves of StartCapture, for callers that check the built
    // graph before it runs (ronvix-capture); Build throws what the file
    // check finds, Run rolls back as StartCapture does.
    void BuildCapture(const CaptureSettings& settings);
    void RunCapture();
    // After BuildCapture: whether the file's writer was made, and whether
    // the video device's stream reached the capture path (a device that
    // offers nothing it takes leaves it unconnected).
    bool HasFile() const { return bool(m_mux); }
    bool VideoConnected() const;

    // The formats the capture devices are set to whenever a preview or a
    // capture is built, before their streams connect; none keeps a device's
    // current format. A device that refuses its format fails the start.
    void ChooseVideoFormat(std::optional<media::MediaType> format) {
        m_video_format = std::move(format);
    }
    void ChooseAudioFormat(std::optional<media::MediaType> format) {
        m_audio_format = std::move(format);
    }
    // Sets the chosen formats on the capture pins of the graph as it is
    // built now (a stopped graph): every preview and capture does, and so
    // does the device page before a device's property pages show them.
    void ApplyFormats();

    // A preview alone, on a graph built afresh. The audio device's level is
    // measured in a preview too; one that cannot start leaves the picture
    // running without it, and its failure is thrown.
    void StartPreview();
    // Stops whatever runs without ending a capture's bookkeeping, and lets
    // the graph go (its preview window with it): the preview switch's stop.
    void Halt();
    // Ends a capture (its file finished, a failure then reported), then
    // brings the preview back when it is on. Without a capture it stops the
    // graph and does the same.
    void Stop();
    // Ends a capture without bringing the preview back (another workflow
    // takes over). False when none ran.
    bool EndCapture();
    // Rebuilds the graph empty of runs: every bound filter in it, nothing
    // connected, not running. Device selection and the picture controls work
    // on the filters of such a graph.
    void Rebuild();

    // The statistics, read from the running graph; none while it is not
    // active.
    std::optional<CaptureStatistics> Statistics() const;
    // The file's growth over the last second as kilobytes a second; none
    // without a capture file, before time passed, or when its size cannot be
    // read (the last figure stays in Rate()).
    std::optional<int64_t> RateTick();
    int64_t Rate() const { return m_rate; }
    void SetRate(int64_t rate_kb) { m_rate = rate_kb; }
    // The statistics of the last capture as its end found them, once its
    // devices had stopped and what they captured had reached the file; its
    // position is the file's length (the stream time at the end, at most
    // the timed stop).
    const std::optional<CaptureStatistics>& LastStatistics() const { return m_last_statistics; }
    // The bytes the capture's files have gained; after its end, the bytes of
    // the finished files.
    int64_t FileBytes() const;
    // The files the capture went on in (1 before a size limit was reached).
    uint32_t FileCount() const;
    // The timed stop of the running capture; 0: none.
    int64_t StopAt() const { return m_stop_at_100ns; }
    // The file name of the last capture start.
    const QString& FileName() const { return m_file_name; }
    // How long the video device has delivered nothing, as the statistics
    // tick sees `captured` at `now_ms`; 0 while it delivers.
    uint64_t QuietFor(int32_t captured, uint64_t now_ms);
    // The file writer of the running capture (null without one).
    media::IFileWriterQueue* FileWriter() const { return m_writer.Get(); }
    // The running graph's audio level meter; null while no audio streams.
    media::IAudioLevels* Levels() const { return m_levels.Get(); }

    // The clock of the rate ticks, in milliseconds (monotonic); tests set
    // their own.
    uint64_t (*now_ms)() = &win::GetTickCount64;

private:
    void BuildPreview(media::IBaseFilter* level_meter);
    void TakeLevels(media::IBaseFilter* meter);
    void OnErrorAbort(com::HRESULT result);
    void OnDeviceLost(bool removed);
    void OnStreamControlStopped();
    // Ends the capture: the file finished, the failure of its finish
    // returned.
    com::HRESULT FinishCapture();

    mediagraph::CaptureMedia m_media;
    std::optional<media::MediaType> m_video_format;
    std::optional<media::MediaType> m_audio_format;
    bool m_preview = false;
    // A capture (not a preview alone) is running; an abort acts only while
    // it is set, so it is reported once.
    bool m_capturing = false;
    // A capture is being stopped: an abort then is its file's finish
    // failing, kept here and reported once by the stop.
    bool m_stopping = false;
    com::HRESULT m_finish_failure = com::S_OK;
    QString m_file_name;
    com::ComPtr<media::IBaseFilter> m_mux;
    com::ComPtr<media::IFileWriterQueue> m_writer;
    com::ComPtr<media::IBaseFilter> m_meter;
    com::ComPtr<media::IAudioLevels> m_levels;
    TRateMeter m_rate_meter;
    int64_t m_rate = 0;
    int64_t m_stop_at_100ns = 0;
    std::optional<CaptureStatistics> m_last_statistics;
    int64_t m_final_bytes = 0;
    uint32_t m_final_files = 1;
    int32_t m_last_delivered = 0;
    uint64_t m_delivered_at_ms = 0;
};

}  // namespace ronvix::workflow
