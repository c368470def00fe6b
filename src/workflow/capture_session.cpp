#include "workflow/capture_session.h"

#include <algorithm>
#include <exception>

#include "framework/exceptions.h"
#include "mediagraph/graph_util.h"
#include "workflow/capture_texts.h"

namespace ronvix::workflow {

using com::ComPtr;
using mediagraph::Supports;

namespace {

// The graph state that runs (State() of TFilterGraph).
constexpr int kRunning = 3;

// The files a capture's writer went on in: 1 until a size limit or a file
// system's refusal began a next one.
uint32_t FileCountOf(media::IFileWriterQueue* writer) {
    uint32_t files = 1;
    if (ComPtr<media::IFileWriterChain> chain;
        com::SUCCEEDED(writer->QueryInterface(media::IFileWriterChain::iid, chain.OutVoid())))
        chain->GetFileCount(&files);
    return files;
}

}  // namespace

CaptureSession::CaptureSession(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("CaptureSession"));
    m_media = mediagraph::CreateCaptureMedia(this);
    mediagraph::TFilterGraph* graph = m_media.CaptureGraph;
    graph->OnGraphErrorAbort = [this](QObject*, com::HRESULT result) { OnErrorAbort(result); };
    graph->OnGraphStreamControlStopped = [this](QObject*, media::IPin*, uint32_t) {
        OnStreamControlStopped();
    };
    graph->OnGraphDeviceLost = [this](QObject*, com::IUnknown*, bool removed) {
        OnDeviceLost(removed);
    };
    graph->OnGraphBufferingData = [this](QObject*, bool buffering) {
        if (on_buffering)
            on_buffering(buffering);
    };
}

CaptureSession::~CaptureSession() {
    m_levels = nullptr;
    m_meter = nullptr;
    m_writer = nullptr;
    m_mux = nullptr;
}

bool CaptureSession::Running() const {
    return Graph()->Active() && Graph()->State() == kRunning;
}

void CaptureSession::Rebuild() {
    Graph()->SetActive(false);
    Graph()->SetActive(true);
}

void CaptureSession::TakeLevels(media::IBaseFilter* meter) {
    m_levels = nullptr;
    if (meter)
        meter->QueryInterface(media::IAudioLevels::iid, m_levels.OutVoid());
}

void CaptureSession::ApplyFormats() {
    const auto apply = [this](mediagraph::TFilter* device, const com::GUID& major,
                              const std::optional<media::MediaType>& chosen, const char* what) {
        if (!chosen || !device->FilterGraph())
            return;
        ComPtr<media::IAMStreamConfig> config;
        if (auto source = device->Query<media::IBaseFilter>()) {
            Supports<media::ICaptureGraphBuilder2>(Graph())->FindInterface(
                &media::PIN_CATEGORY_CAPTURE, &major, source.Get(), media::IAMStreamConfig::iid,
                config.OutVoid());
        }
        media::MediaType format = *chosen;
        const com::HRESULT hr = config ? config->SetFormat(&format.Get()) : com::E_NOINTERFACE;
        if (com::FAILED(hr))
            throw fw::Exception(QStringLiteral("The %1 device does not take the chosen format: ")
                                    .arg(QLatin1String(what)) +
                                mediagraph::ResultText(hr));
    };
    apply(m_media.VideoSourceFilter, media::MEDIATYPE_Video, m_video_format, "video");
    apply(m_media.AudioSourceFilter, media::MEDIATYPE_Audio, m_audio_format, "audio");
}

void CaptureSession::BuildPreview(media::IBaseFilter* level_meter) {
    const mediagraph::CaptureMedia& m = m_media;
    if (!m.videowindow->FilterGraph())
        return;
    mediagraph::RenderCapturePreview(m.CaptureGraph, m.VideoSourceFilter, m.videowindow);
    mediagraph::RenderAudioMeter(m.CaptureGraph, m.AudioSourceFilter, level_meter);
    if (place_preview)
        place_preview(Supports<media::IVideoWindow>(m.videowindow).Get());
}

void CaptureSession::BuildCapture(const CaptureSettings& settings) {
    // A file that cannot be created is found out before the graph is
    // touched, so a running preview goes on, and the user learns what is
    // wrong with the name (the writer would only say that a file was not
    // found).
    if (const auto problem = CaptureFileProblem(settings.file_name))
        throw fw::Exception(*problem);
    const mediagraph::CaptureMedia& m = m_media;
    // Every start works on a freshly built graph holding every bound filter.
    Rebuild();
    m_file_name = settings.file_name;
    // The chosen audio device streams through a level meter, in a capture
    // and in a preview alike: a preview is where the level is checked
    // before a long capture.
    m_levels = nullptr;
    m_meter = nullptr;
    if (m.AudioSourceFilter->FilterGraph())
        m_meter = mediagraph::AddLevelMeter(m.CaptureGraph);
    ApplyFormats();

    m_writer = nullptr;
    m_final_bytes = 0;
    m_final_files = 1;
    m_last_statistics.reset();
    m_mux = mediagraph::AddCaptureFile(m.CaptureGraph, m_file_name, &m_writer);
    // A file that reaches the chosen size ends, and the capture goes on in
    // the next one.
    if (ComPtr<media::IFileWriterChain> chain;
        m_writer &&
        com::SUCCEEDED(m_writer->QueryInterface(media::IFileWriterChain::iid, chain.OutVoid())))
        chain->SetFileSizeLimit(settings.split_bytes);
    // A timed stop is decided where the streams are cut, in the file: the
    // file ends at exactly that stream time, and the mux tells the session
    // when it got there.
    m_stop_at_100ns = 0;
    if (settings.stop_after_100ns > 0) {
        if (const auto end = mediagraph::MuxEndTime(m_mux.Get())) {
            end->SetEndTime(settings.stop_after_100ns);
            m_stop_at_100ns = settings.stop_after_100ns;
        }
    }
    if (m.videowindow->FilterGraph()) {
        mediagraph::RenderCapturePreview(m.CaptureGraph, m.VideoSourceFilter, m.videowindow);
        if (place_preview)
            place_preview(Supports<media::IVideoWindow>(m.videowindow).Get());
    }
    // The video compression is decided here, from the source's current
    // format and the choice: an MJPG source is recorded as it comes.
    mediagraph::RenderCaptureStreams({m.CaptureGraph, m.VideoSourceFilter, m.AudioSourceFilter,
                                      m.SampleGrabber, m.sync, m_meter.Get(), settings.compression},
                                     m_mux.Get());
}

bool CaptureSession::VideoConnected() const {
    ComPtr<media::IBaseFilter> grabber;
    auto* link = static_cast<mediagraph::IFilterLink*>(m_media.SampleGrabber);
    if (!link || com::FAILED(link->QueryInterface(media::IBaseFilter::iid, grabber.OutVoid())) ||
        !grabber)
        return false;
    const mediagraph::TPinList pins(grabber.Get());
    for (int i = 0; i < pins.Count(); ++i) {
        media::PIN_DIRECTION dir{};
        pins.PinAt(i)->QueryDirection(&dir);
        ComPtr<media::IPin> peer;
        if (dir == media::PINDIR_INPUT &&
            pins.PinAt(i)->ConnectedTo(peer.ReleaseAndGetAddressOf()) == com::S_OK)
            return true;
    }
    return false;
}

void CaptureSession::RunCapture() {
    // The session shows a capture only once the graph really runs. A run
    // that fails (a device that cannot be opened) leaves no half-built graph
    // behind, and the preview comes back when it is on.
    bool running = false;
    std::exception_ptr failure;
    // The file starts empty when the graph runs: the first rate tick counts
    // its header too.
    const uint64_t started_ms = now_ms();
    try {
        running = Graph()->Play();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!running) {
        m_writer = nullptr;  // no reference of ours outlives the graph
        m_meter = nullptr;
        m_stop_at_100ns = 0;
        Graph()->SetActive(false);
        // When the preview fails as well (the same device cannot be
        // opened), the capture's failure already says why, and the user is
        // told once.
        if (m_preview) {
            try {
                StartPreview();
            } catch (...) {
                if (!failure)
                    throw;
            }
        }
        if (failure)
            std::rethrow_exception(failure);
        return;
    }
    m_capturing = true;
    m_rate_meter.Start(0, started_ms);
    TakeLevels(m_meter.Get());
    m_meter = nullptr;
    m_last_delivered = 0;
    m_delivered_at_ms = win::GetTickCount64();
    if (on_started)
        on_started(true);
}

void CaptureSession::StartCapture(const CaptureSettings& settings) {
    BuildCapture(settings);
    RunCapture();
}

void CaptureSession::StartPreview() {
    const mediagraph::CaptureMedia& m = m_media;
    Rebuild();
    ApplyFormats();
    m_levels = nullptr;
    ComPtr<media::IBaseFilter> meter;
    if (m.AudioSourceFilter->FilterGraph())
        meter = mediagraph::AddLevelMeter(m.CaptureGraph);
    BuildPreview(meter.Get());
    if (!meter) {
        Graph()->Play();
        if (on_started)
            on_started(false);
        return;
    }
    bool running = false;
    std::exception_ptr failure;
    try {
        running = Graph()->Play();
    } catch (...) {
        failure = std::current_exception();
    }
    if (running) {
        TakeLevels(meter.Get());
        if (on_started)
            on_started(false);
        return;
    }
    // The level check must not cost the picture: an audio device that
    // cannot be started (busy, gone) leaves the preview running without
    // it, and its failure is shown once.
    meter = nullptr;
    Rebuild();
    ApplyFormats();
    BuildPreview(nullptr);
    Graph()->Play();
    if (on_started)
        on_started(false);
    if (failure)
        std::rethrow_exception(failure);
}

void CaptureSession::Halt() {
    // Deactivated rather than only stopped: the renderer's window goes with
    // the graph, so a panel no graph draws in shows no stale picture.
    Graph()->Stop();
    Graph()->SetActive(false);
}

com::HRESULT CaptureSession::FinishCapture() {
    const bool capturing = m_capturing;
    const int64_t stop_at = m_stop_at_100ns;
    m_capturing = false;
    m_stop_at_100ns = 0;
    m_levels = nullptr;
    ComPtr<media::IFileWriterQueue> writer = std::move(m_writer);
    m_stopping = capturing;
    m_finish_failure = com::S_OK;
    // Stopping ends the devices' capture and lets what they captured reach
    // the file before it is finished, so the figures after it are final. A
    // failure then (its last sync, a disk that filled while its indexes were
    // written) is heard before the graph goes.
    // The stream time is read while the graph still runs (a stopped graph
    // is back at 0); a file with a timed stop ends exactly there, whenever
    // the graph got round to stopping after it.
    int64_t length = 0;
    if (capturing) {
        if (const auto running = Statistics())
            length = running->position_100ns;
        if (stop_at > 0)
            length = std::min(length, stop_at);
    }
    Graph()->Stop();
    if (capturing) {
        m_last_statistics = Statistics();
        if (m_last_statistics)
            m_last_statistics->position_100ns = length;
    }
    Graph()->DeliverQueuedEvents();
    m_stopping = false;
    const com::HRESULT finish_failure = m_finish_failure;
    // Deactivating lets the graph go; the file is complete once the last
    // reference to its writer goes too, and then holds every byte counted.
    Graph()->SetActive(false);
    if (writer) {
        uint64_t size = 0;
        if (com::SUCCEEDED(writer->GetFileSize(&size)))
            m_final_bytes = static_cast<int64_t>(size);
        m_final_files = FileCountOf(writer.Get());
        writer = nullptr;
    }
    if (on_capture_ended)
        on_capture_ended();
    return finish_failure;
}

void CaptureSession::Stop() {
    const com::HRESULT finish_failure = FinishCapture();
    if (com::FAILED(finish_failure) && on_report)
        on_report(QStringLiteral("The capture file could not be finished: ") +
                  mediagraph::ResultText(finish_failure));
    if (m_preview)
        StartPreview();
}

bool CaptureSession::EndCapture() {
    if (!m_capturing)
        return false;
    const bool preview = m_preview;
    m_preview = false;
    Stop();
    m_preview = preview;
    return true;
}

void CaptureSession::OnErrorAbort(com::HRESULT result) {
    // A capture the engine gave up on (a full disk, a lost device) must not
    // go on looking like a capture: it ends as "Stop" ends it, and the
    // reason is shown once. A preview alone that the engine gave up on (a
    // camera read error) stops rather than freezing on its last picture,
    // and is reported once too; the preview mode stays. A second abort of
    // the same session finds it ended and changes nothing. An abort while a
    // capture is being stopped is the file's finish failing: the stop
    // reports it, once.
    if (m_stopping) {
        if (com::SUCCEEDED(m_finish_failure))
            m_finish_failure = result;
        return;
    }
    if (!m_capturing) {
        if (!Running())
            return;
        Graph()->Stop();
        if (on_report)
            on_report(QStringLiteral("The preview has been stopped: ") +
                      mediagraph::ResultText(result));
        return;
    }
    Stop();
    if (on_report)
        on_report(mediagraph::ResultText(result));
}

void CaptureSession::OnStreamControlStopped() {
    // The file reached its timed stop: the capture ends as "Stop" ends it
    // (the preview comes back when it is on). An event of a capture already
    // stopped changes nothing.
    if (m_capturing && m_stop_at_100ns > 0)
        Stop();
}

void CaptureSession::OnDeviceLost(bool removed) {
    // A camera or sound card unplugged during a capture must not leave it
    // running with nothing recorded: the capture ends as "Stop" ends it,
    // which completes the file with what was captured, and the user is told
    // once. The graph reports a device that went away with `removed` false
    // (1 says a device came back, which needs nothing). Further events of
    // the same capture (its other device) find it stopped and change
    // nothing. The preview is not restarted: it would start on the device
    // that is gone.
    if (removed)
        return;
    if (!m_capturing) {
        // A preview alone stops too, rather than freezing on its last
        // picture; the preview mode stays, as after a lost capture.
        if (!Running())
            return;
        Graph()->Stop();
        if (on_report)
            on_report(QStringLiteral(
                "The capture device was disconnected. The preview has been stopped."));
        return;
    }
    EndCapture();
    if (on_report)
        on_report(
            QStringLiteral("The capture device was disconnected. The capture has been stopped."));
}

std::optional<CaptureStatistics> CaptureSession::Statistics() const {
    if (!Graph()->Active())
        return std::nullopt;
    CaptureStatistics s;
    auto builder = Supports<media::ICaptureGraphBuilder2>(Graph());
    // A capture without a video stream has no dropped-frame counter.
    ComPtr<media::IAMDroppedFrames> drops;
    if (auto source = m_media.VideoSourceFilter->Query<media::IBaseFilter>()) {
        builder->FindInterface(&media::PIN_CATEGORY_CAPTURE, &media::MEDIATYPE_Video, source.Get(),
                               media::IAMDroppedFrames::iid, drops.OutVoid());
    }
    if (drops) {
        s.frames_counted = true;
        com::LONG n = 0;
        if (com::SUCCEEDED(drops->GetNumDropped(&n)))
            s.dropped = n;
        n = 0;
        if (com::SUCCEEDED(drops->GetNumNotDropped(&n)))
            s.captured = n;
    }
    // The file's timeline tells which of the dropped it left out and the
    // empty places it inserted.
    if (const ComPtr<media::IMuxStreamCounts> timeline =
            m_mux ? mediagraph::VideoStreamCounts(m_mux.Get()) : nullptr) {
        media::MUX_STREAM_COUNTS v;
        if (com::SUCCEEDED(timeline->GetCounts(&v))) {
            s.left_out = v.left_out;
            s.inserted = v.inserted;
        }
    }
    auto seeking = Supports<media::IMediaSeeking>(Graph());
    media::LONGLONG position = 0;
    seeking->GetCurrentPosition(&position);
    s.position_100ns = position;
    return s;
}

std::optional<int64_t> CaptureSession::RateTick() {
    // The rate is what the capture file gained over the last second, every
    // byte of it (frames, sound, the file's own structure, bytes still
    // queued for the disk), so the remaining time is the time until the
    // disk is full. A preview alone writes nothing and has no figure.
    if (!m_writer)
        return std::nullopt;
    uint64_t size = 0;
    if (com::FAILED(m_writer->GetFileSize(&size)))
        return std::nullopt;
    const auto rate = m_rate_meter.Tick(static_cast<int64_t>(size), now_ms());
    if (rate)
        m_rate = *rate;
    return rate;
}

int64_t CaptureSession::FileBytes() const {
    uint64_t size = 0;
    if (m_writer && com::SUCCEEDED(m_writer->GetFileSize(&size)))
        return static_cast<int64_t>(size);
    return m_writer ? 0 : m_final_bytes;
}

uint32_t CaptureSession::FileCount() const {
    return m_writer ? FileCountOf(m_writer.Get()) : m_final_files;
}

uint64_t CaptureSession::QuietFor(int32_t captured, uint64_t now) {
    // A device that stops delivering without an error (a cable pulled on a
    // capture card, a stalled driver, blank tape) is shown, and the capture
    // goes on: analog cards go quiet on blank tape, and an unattended
    // capture must not end there. Only a device that is really gone ends it.
    if (captured != m_last_delivered) {
        m_last_delivered = captured;
        m_delivered_at_ms = now;
        return 0;
    }
    return now - m_delivered_at_ms;
}

}  // namespace ronvix::workflow
