#pragma once
// PlayoutSession: "Print to Tape" without its widgets. It owns the output
// graph and its components, builds the graph that plays an AVI file out to
// the chosen video output device (mediagraph/workflowgraphs.h), runs,
// pauses, resumes and ends it, ends it when the engine gives up on it or a
// device vanishes, and counts the bytes sent to the device for the rate.
// The play-out page and ronvix-capture both play through it.
//
// The session reports through the callbacks below, on the user interface
// thread. A start that fails throws after the session has ended.
//
// User interface thread only, except where a member says otherwise.

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "mediagraph/formdata.h"
#include "mediagraph/links.h"
#include "mediagraph/workflowgraphs.h"
#include "platform/win/kernel.h"
#include "workflow/rate_meter.h"

namespace ronvix::workflow {

// The play position as "hh:mm:ss": the position in whole milliseconds
// (100 ns units divided by 10000, truncated), split as a time of day, so
// the hours wrap at 24. A negative position counts back from midnight.
QString PlayTimeText(int64_t position_100ns);

class PlayoutSession : public QObject {
    Q_OBJECT
public:
    // The output graph and its components are made as children of the
    // session, under the names the settings and graph editors know.
    explicit PlayoutSession(QObject* parent = nullptr);
    ~PlayoutSession() override;

    const mediagraph::TapeMedia& Media() const { return m_media; }
    mediagraph::TFilterGraph* Graph() const { return m_media.OutGraph; }

    // The window that shows the output device's own video; null leaves
    // that output unconnected.
    mediagraph::IFilterLink* monitor = nullptr;
    // The file the output graph logs its building to; empty for none.
    QString log_file;

    // Called when a session that was opened has ended (by Stop, an abort,
    // a lost device or a start that failed).
    std::function<void()> on_ended;
    // Something the user must be told, once.
    std::function<void(const QString& message)> on_report;
    // The file has played to its end.
    std::function<void()> on_complete;
    // The graph's buffering state changed.
    std::function<void(bool buffering)> on_buffering;

    enum class Opened {
        Resumed,  // a paused session goes on
        Missing,  // no such file: nothing was built
        Ready,    // the file's graph is built; Run starts it
    };
    // Opens `file` for `device_name` (the output device's name, for the
    // user): a paused session resumes; otherwise the graph is built afresh.
    // A file that cannot play ends the session and throws why.
    Opened Open(const QString& file, const QString& device_name);
    // Runs what Open built; a run that fails ends the session and throws
    // "Playback could not start: " and why: the text of a device that says
    // which it is and the system's reason as it is, any other failure with
    // its code.
    void Run();
    void Pause();
    // The rate counts from now on (a resume, a pause, a new run).
    void RestartRate() { m_meter.Start(m_sent.Total(), now_ms()); }
    // Ends the session: the graph stopped and emptied.
    void Stop();
    // Ends a session that was opened as Stop does; false when none was.
    bool End();
    // Whether a file's graph was built and not yet ended.
    bool IsOpen() const { return m_built; }
    bool Paused() const;

    // The play position and the file's end, in 100 ns units.
    int64_t Position() const;
    int64_t StopPosition() const;
    // The bytes sent to the output device over the last second, as
    // kilobytes a second; 0 while paused. None when no time has passed.
    std::optional<int64_t> RateTick();
    // Any thread: the bytes and buffers sent to the output device since
    // the session was made.
    int64_t BytesSent() const { return m_sent.Total(); }
    int64_t BuffersSent() const { return m_buffers.Total(); }

    // The clock of the rate ticks, in milliseconds (monotonic); tests set
    // their own.
    uint64_t (*now_ms)() = &win::GetTickCount64;

private:
    void OnErrorAbort(com::HRESULT result);
    void OnDeviceLost(bool removed);

    mediagraph::TapeMedia m_media;
    // True from the Open that built the file's graph until Stop releases
    // it. Play on a paused graph resumes only a session that was built: a
    // graph paused while no file was found holds no file.
    bool m_built = false;
    // The bytes the grabber has sent to the output device (added on the
    // streaming thread) and their rate between two ticks.
    TByteCounter m_sent;
    TByteCounter m_buffers;
    TRateMeter m_meter;
};

}  // namespace ronvix::workflow
