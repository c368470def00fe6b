// The graph Open builds in the output graph (mediagraph/workflowgraphs.h),
// whose bound components are already in it under their names:
//
//   file source -> Splitter (video) -> OutGrabber (MJPG only) -> VideoDestFilter
//   VideoDestFilter (its own output) -> ... -> the monitor window
//   Splitter ("Stream 01") -> ... -> an audio renderer (AudioDestFilter is there)
//
// Connections that fail are not reported: that part of the graph stays
// unconnected and the session runs without it.

#include "workflow/playout_session.h"

#include <exception>

#include "framework/exceptions.h"
#include "mediagraph/graph_util.h"
#include "platform/com/errortext.h"
#include "platform/media/core/interfaces.h"
#include "platform/win/files.h"

namespace ronvix::workflow {

using com::ComPtr;
using mediagraph::Supports;

namespace {

// TFilterGraph::State() of a paused graph.
constexpr int kPaused = 2;

}  // namespace

QString PlayTimeText(int64_t position_100ns) {
    constexpr int64_t kDay_ms = 24 * 60 * 60 * 1000;
    int64_t ms = (position_100ns / 10000) % kDay_ms;
    if (ms < 0)
        ms += kDay_ms;
    const int64_t seconds = ms / 1000;
    return QString::asprintf("%.2d:%.2d:%.2d", static_cast<int>(seconds / 3600),
                             static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
}

PlayoutSession::PlayoutSession(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("PlayoutSession"));
    m_media = mediagraph::CreateTapeMedia(this);
    mediagraph::TFilterGraph* graph = m_media.OutGraph;
    graph->OnGraphErrorAbort = [this](QObject*, com::HRESULT result) { OnErrorAbort(result); };
    graph->OnGraphDeviceLost = [this](QObject*, com::IUnknown*, bool removed) {
        OnDeviceLost(removed);
    };
    graph->OnGraphBufferingData = [this](QObject*, bool buffering) {
        if (on_buffering)
            on_buffering(buffering);
    };
    graph->OnGraphComplete = [this](QObject*, com::HRESULT, media::IBaseFilter*) {
        if (on_complete)
            on_complete();
    };
    // Runs on the streaming thread: it only adds to the counters and cannot
    // throw.
    m_media.OutGrabber->OnBuffer = [this](QObject*, double, void*, int length) {
        m_sent.Add(length);
        m_buffers.Add(1);
    };
}

PlayoutSession::~PlayoutSession() = default;

bool PlayoutSession::Paused() const {
    return Graph()->Active() && Graph()->State() == kPaused;
}

PlayoutSession::Opened PlayoutSession::Open(const QString& file, const QString& device_name) {
    mediagraph::TFilterGraph* graph = Graph();
    if (graph->State() == kPaused) {
        if (m_built) {
            graph->Play();
            // The rate counts from the resume: the paused time sent nothing.
            RestartRate();
            return Opened::Resumed;
        }
        // Paused while no file was found: nothing to resume.
        graph->Stop();
    }
    if (!graph->Active())
        m_built = false;
    graph->SetActive(true);
    if (!log_file.isEmpty())
        graph->SetLogFile(log_file);
    // An active graph without a graph builder fails here, before the file
    // check.
    Supports<media::IGraphBuilder>(graph);
    if (!win::FileExists(file))
        return Opened::Missing;

    // The graph is built before anything shows a session: a file that
    // cannot play ends it and says why. Without a chosen device the run
    // itself reports what is missing.
    m_built = true;
    mediagraph::TTapeGraphResult built;
    try {
        built = mediagraph::BuildTapeGraph(
            {graph, m_media.VideoDestFilter, m_media.OutGrabber, m_media.Splitter, monitor}, file);
    } catch (...) {
        Stop();
        throw;
    }
    if (built.video != mediagraph::TTapeVideo::Connected &&
        built.video != mediagraph::TTapeVideo::NoDevice) {
        Stop();
        throw fw::Exception(QStringLiteral("%1 cannot be played: %2")
                                .arg(file, mediagraph::TapeVideoProblem(built, device_name)));
    }
    return Opened::Ready;
}

void PlayoutSession::Run() {
    // A run that fails (an output device that cannot be opened now, a
    // picture that reaches no window) leaves no session looking alive.
    RestartRate();
    const QString failed = QStringLiteral("Playback could not start: ");
    try {
        Graph()->Play();
    } catch (const mediagraph::EDirectShowException& error) {
        Stop();
        // A device that names itself and the system's reason ("The audio
        // output ... could not be opened: ...") is quoted as it is: its
        // code is the engine's own and tells the user nothing more.
        const com::HRESULT code = error.ResultCode();
        throw fw::Exception(
            failed + (com::HasGivenText(code) ? mediagraph::ResultText(code) : error.Message()));
    } catch (const std::exception& error) {
        Stop();
        throw fw::Exception(failed + QString::fromUtf8(error.what()));
    }
}

void PlayoutSession::Pause() {
    Graph()->Pause();
    // A pause sends nothing: the rate says so at once, not a second later.
    RestartRate();
}

void PlayoutSession::Stop() {
    Graph()->Stop();
    Graph()->SetActive(false);
    m_built = false;
    if (on_ended)
        on_ended();
}

bool PlayoutSession::End() {
    if (!m_built)
        return false;
    Stop();
    return true;
}

int64_t PlayoutSession::Position() const {
    const ComPtr<media::IMediaSeeking> seeking = Supports<media::IMediaSeeking>(Graph());
    media::LONGLONG position_100ns = 0;
    seeking->GetCurrentPosition(&position_100ns);
    return position_100ns;
}

int64_t PlayoutSession::StopPosition() const {
    const ComPtr<media::IMediaSeeking> seeking = Supports<media::IMediaSeeking>(Graph());
    media::LONGLONG stop_100ns = 0;
    seeking->GetStopPosition(&stop_100ns);
    return stop_100ns;
}

std::optional<int64_t> PlayoutSession::RateTick() {
    // The bytes sent to the device over the last second, whatever the
    // tick's own lateness: steady for a steady file. While paused nothing is
    // sent, and a frame that was already on its way when the pause came is
    // not shown as a rate; at the end of the file the figure falls to 0.
    const int64_t sent = m_sent.Total();
    const uint64_t now = now_ms();
    if (Paused()) {
        m_meter.Start(sent, now);
        return 0;
    }
    return m_meter.Tick(sent, now);
}

void PlayoutSession::OnErrorAbort(com::HRESULT result) {
    // A second abort of the same play-out finds it ended and changes nothing.
    if (!End())
        return;
    if (on_report)
        on_report(QStringLiteral("Playback has been stopped: ") + mediagraph::ResultText(result));
}

void PlayoutSession::OnDeviceLost(bool removed) {
    // `removed` true says a device came back: nothing to do.
    if (removed || !End())
        return;
    if (on_report)
        on_report(QStringLiteral("The output device was disconnected. Playback has been stopped."));
}

}  // namespace ronvix::workflow
