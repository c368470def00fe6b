// The capture and preview session: the start that rebuilds the capture
// graph for a capture or a preview alone, the stop, the preview switch, and
// the end of a capture that the engine aborts or whose device vanishes.

#include <QFileInfo>
#include <exception>

#include "app/mainform.h"
#include "framework/application.h"
#include "framework/exceptions.h"
#include "framework/strings.h"
#include "mediagraph/graph_util.h"
#include "mediagraph/workflowgraphs.h"
#include "platform/media/core/types.h"
#include "platform/win/files.h"
#include "platform/win/paths.h"
#include "platform/winui/dialogs.h"
#include "platform/winui/widgets.h"

namespace ronvix::capture {

namespace {

// What stands in the way of a file that cannot be created: the first
// missing or non-folder part of its folder, an unmapped drive, or the
// system's reason.
QString CreateProblem(const QString& name, win::DWORD error) {
    const std::string utf8 = fw::Utf8(name);
    const auto mapped = win::MapPath(utf8);
    if (!mapped)
        return QStringLiteral("drive %1: is not mapped to a folder (set RONVIX_DRIVE_%2)")
            .arg(name.left(1).toUpper(), name.left(1).toUpper());
    if (error == com::ERROR_FILE_NOT_FOUND || error == com::ERROR_PATH_NOT_FOUND) {
        // Walk up from the file's folder to the first part that exists.
        QString missing = QFileInfo(fw::FromUtf8(*mapped)).absolutePath();
        for (QString up = missing; !up.isEmpty();) {
            const QFileInfo part(up);
            if (part.exists()) {
                if (!part.isDir())
                    return QStringLiteral("%1 is a file, not a folder").arg(up);
                return QStringLiteral("the folder %1 does not exist").arg(missing);
            }
            missing = up;
            const QString parent = part.absolutePath();
            if (parent == up)
                break;
            up = parent;
        }
        return QStringLiteral("its folder does not exist");
    }
    switch (error) {
        case com::ERROR_ACCESS_DENIED:
            return QStringLiteral("access is denied");
        case com::ERROR_WRITE_PROTECT:
            return QStringLiteral("the disk is read-only");
        case com::ERROR_DISK_FULL:
        case com::ERROR_HANDLE_DISK_FULL:
            return QStringLiteral("the disk is full");
        case com::ERROR_FILENAME_EXCED_RANGE:
            return QStringLiteral("the name is too long");
        case com::ERROR_DIRECTORY:
            return QStringLiteral("that name is a folder");
        default: {
            QString reason = mediagraph::ResultText(com::HRESULT_FROM_WIN32(error));
            if (reason.endsWith(u'.'))
                reason.chop(1);
            return reason;
        }
    }
}

}  // namespace

std::optional<QString> CaptureFileProblem(const QString& name) {
    if (name.trimmed().isEmpty())
        return QStringLiteral("No capture file is named.");
    const std::string utf8 = fw::Utf8(name);
    const bool existed = win::FileExists(utf8);
    const win::HANDLE file =
        win::CreateFileA(utf8.c_str(), win::GENERIC_WRITE, win::FILE_SHARE_READ, nullptr,
                         win::OPEN_ALWAYS, win::FILE_ATTRIBUTE_NORMAL, 0);
    if (file == win::INVALID_HANDLE_VALUE) {
        const win::DWORD error = win::GetLastError();
        return QStringLiteral("The capture file %1 cannot be created: %2.")
            .arg(name, CreateProblem(name, error));
    }
    win::CloseHandle(file);
    if (!existed)
        win::DeleteFileA(utf8.c_str());
    return std::nullopt;
}

}  // namespace ronvix::capture

namespace ronvix::app {

using mediagraph::Supports;

namespace {

constexpr int kStartButtonTag = 100;

// The preview fills the inside of Panel1's one-pixel bevel.
void PlacePreview(TMainForm& form) {
    auto window = Supports<media::IVideoWindow>(form.videowindow);
    window->put_WindowStyle(0);
    window->put_Owner(
        reinterpret_cast<media::OAHWND>(win::WidgetHandle(form.Panel1, QStringLiteral("TPanel"))));
    window->put_Left(1);
    window->put_Top(1);
    window->put_Width(384);
    window->put_Height(288);
}

}  // namespace

void TMainForm::StartButtonClick(QObject* sender) {
    // A start that does not get a graph running leaves the rate tick as it
    // found it.
    const bool rate_was_on = Timer3->Enabled();
    Timer3->SetEnabled(true);
    const bool from_button = sender && fw::TagOf(sender) == kStartButtonTag;
    if (CheckBox2->isChecked()) {
        win::SYSTEMTIME now;
        win::GetSystemTime(&now);
        savedialog->SetFileName(capture::GeneratedFileName(savedialog->FileName(), now));
    }
    if (from_button && win::FileExists(savedialog->FileName()) && !OverCheck->isChecked()) {
        const QString text = QStringLiteral("File ") + savedialog->FileName() +
                             QStringLiteral(" already exists. Overwrite?");
        if (win::MessageBox(win::WidgetHandle(this), text, QStringLiteral("Warning"),
                            win::MB_OKCANCEL) != win::IDOK)
            return;
    }
    const bool capture = from_button || !m_capture.preview;
    // A file that cannot be created is found out before the graph is
    // touched, so a running preview goes on, and the user learns what is
    // wrong with the name (the writer would only say that a file was not
    // found).
    if (capture) {
        if (const auto problem = capture::CaptureFileProblem(savedialog->FileName())) {
            Timer3->SetEnabled(rate_was_on);
            throw fw::Exception(*problem);
        }
    }
    // Every start works on a freshly built graph holding every bound filter.
    CaptureGraph->SetActive(false);
    CaptureGraph->SetActive(true);
    m_capture.file_name = savedialog->FileName();
    // The chosen audio device streams through a level meter, in a capture
    // and in a preview alike: a preview is where the level is checked
    // before a long capture.
    m_capture.levels = nullptr;
    AudioMeter->Reset();
    com::ComPtr<media::IBaseFilter> meter;
    if (AudioSourceFilter->FilterGraph())
        meter = mediagraph::AddLevelMeter(CaptureGraph);

    if (capture) {
        com::ComPtr<media::IFileWriterQueue> writer;
        m_capture.mux = mediagraph::AddCaptureFile(CaptureGraph, m_capture.file_name, &writer);
        // A file that reaches the chosen size ends, and the capture goes on
        // in the next one; a stored choice out of range is taken as none.
        if (com::ComPtr<media::IFileWriterChain> chain;
            writer &&
            com::SUCCEEDED(writer->QueryInterface(media::IFileWriterChain::iid, chain.OutVoid()))) {
            const int split = SplitSize->currentIndex();
            chain->SetFileSizeLimit(split > 0 && split < int(std::size(capture::kSplitSizes))
                                        ? capture::kSplitSizes[split].bytes
                                        : 0);
        }
        // A timed stop is decided where the streams are cut, in the file:
        // the file ends at exactly that stream time, and the mux tells the
        // window when it got there.
        int64_t stop_at_100ns = 0;
        if (StopAfterCheck->isChecked() && StopAfterTime->Seconds() > 0)
            stop_at_100ns = int64_t(StopAfterTime->Seconds()) * 10'000'000;
        if (stop_at_100ns > 0) {
            if (const auto end = mediagraph::MuxEndTime(m_capture.mux.Get()))
                end->SetEndTime(stop_at_100ns);
            else
                stop_at_100ns = 0;
        }
        mediagraph::RenderCapturePreview(CaptureGraph, VideoSourceFilter, videowindow);
        PlacePreview(*this);
        // The video compression is decided here, from the source's current
        // format and the choice: an MJPG source is recorded as it comes.
        mediagraph::RenderCaptureStreams(
            {CaptureGraph, VideoSourceFilter, AudioSourceFilter, SampleGrabber, sync, meter.Get(),
             capture::CaptureCompression(CompressionBox->currentIndex())},
            m_capture.mux.Get());
        // The page shows a capture only once the graph really runs. A run
        // that fails (a device that cannot be opened) leaves no half-built
        // graph behind: the page stays stopped, the failure is shown once,
        // and the preview comes back when it was on.
        bool running = false;
        std::exception_ptr failure;
        // The file starts empty when the graph runs: the first rate tick
        // counts its header too.
        const uint64_t started_ms = m_capture.now_ms();
        try {
            running = CaptureGraph->Play();
        } catch (...) {
            failure = std::current_exception();
        }
        if (!running) {
            writer = nullptr;  // no reference of ours outlives the graph
            meter = nullptr;
            CaptureGraph->SetActive(false);
            Timer3->SetEnabled(rate_was_on);
            // The preview comes back; when it fails as well (the same device
            // cannot be opened), the capture's failure below already says
            // why, and the user is told once.
            if (m_capture.preview) {
                try {
                    StartButtonClick(nullptr);
                } catch (...) {
                    if (!failure)
                        throw;
                }
            }
            if (failure)
                std::rethrow_exception(failure);  // reported once, by the handler's entry
            return;
        }
        StopButton->setEnabled(true);
        for (QWidget* w :
             {static_cast<QWidget*>(StartButton), static_cast<QWidget*>(preview),
              static_cast<QWidget*>(AudioFormats), static_cast<QWidget*>(AudioCapFilters),
              static_cast<QWidget*>(VideoFormats), static_cast<QWidget*>(VideoCapFilters),
              static_cast<QWidget*>(CompressionBox), static_cast<QWidget*>(SplitSize)})
            w->setEnabled(false);
        Timer->SetEnabled(true);
        m_capture.capturing = true;
        m_capture.writer = std::move(writer);
        m_capture.meter.Start(0, started_ms);
        m_capture.stop_at_100ns = stop_at_100ns;
        StartLevels(meter.Get());
        m_capture.last_delivered = 0;
        m_capture.delivered_at_ms = win::GetTickCount64();
        Signal_info->hide();
    } else {
        auto build_preview = [&](media::IBaseFilter* level_meter) {
            mediagraph::RenderCapturePreview(CaptureGraph, VideoSourceFilter, videowindow);
            mediagraph::RenderAudioMeter(CaptureGraph, AudioSourceFilter, level_meter);
            PlacePreview(*this);
        };
        build_preview(meter.Get());
        if (!meter) {
            CaptureGraph->Play();
            return;
        }
        bool running = false;
        std::exception_ptr failure;
        try {
            running = CaptureGraph->Play();
        } catch (...) {
            failure = std::current_exception();
        }
        if (running) {
            StartLevels(meter.Get());
            return;
        }
        // The level check must not cost the picture: an audio device that
        // cannot be started (busy, gone) leaves the preview running without
        // it, and its failure is shown once.
        meter = nullptr;
        CaptureGraph->SetActive(false);
        CaptureGraph->SetActive(true);
        build_preview(nullptr);
        CaptureGraph->Play();
        if (failure)
            std::rethrow_exception(failure);
    }
}

void TMainForm::StopButtonClick(QObject*) {
    Timer3->SetEnabled(false);
    Timer->SetEnabled(false);
    StopButton->setEnabled(false);
    StartButton->setEnabled(true);
    preview->setEnabled(true);
    const bool capturing = m_capture.capturing;
    m_capture.capturing = false;
    m_capture.stop_at_100ns = 0;
    m_capture.levels = nullptr;
    LevelTimer->SetEnabled(false);
    AudioMeter->Reset();
    m_capture.writer = nullptr;
    m_capture.stopping = capturing;
    m_capture.finish_failure = com::S_OK;
    // Stopping finishes the file; a failure then (its last sync, a disk that
    // filled while its indexes were written) is heard before the graph goes.
    CaptureGraph->Stop();
    CaptureGraph->DeliverQueuedEvents();
    m_capture.stopping = false;
    const com::HRESULT finish_failure = m_capture.finish_failure;
    // Deactivating releases the file writer, which completes the file.
    CaptureGraph->SetActive(false);
    for (QWidget* w : {static_cast<QWidget*>(AudioFormats), static_cast<QWidget*>(AudioCapFilters),
                       static_cast<QWidget*>(VideoFormats), static_cast<QWidget*>(VideoCapFilters),
                       static_cast<QWidget*>(CompressionBox), static_cast<QWidget*>(SplitSize)})
        w->setEnabled(true);
    if (com::FAILED(finish_failure))
        fw::ReportMessage(QStringLiteral("The capture file could not be finished: ") +
                          mediagraph::ResultText(finish_failure));
    if (m_capture.preview)
        StartButtonClick(nullptr);
}

void TMainForm::previewClick(QObject*) {
    m_capture.preview = preview->isChecked();
    CaptureGraph->Stop();
    if (m_capture.preview)
        StartButtonClick(nullptr);
}

void TMainForm::CaptureGraphGraphErrorAbort(QObject*, com::HRESULT result) {
    // A capture the engine gave up on (a full disk, a lost device) must not
    // go on looking like a capture: it ends as "Stop" ends it, and the
    // reason is shown once. A preview alone that the engine gave up on (a
    // camera read error) stops rather than freezing on its last picture,
    // and is reported once too; the "Preview" choice stays. A second abort
    // of the same session finds it ended and changes nothing. An abort while
    // a capture is being stopped is the file's finish failing: the stop
    // reports it, once.
    if (m_capture.stopping) {
        if (com::SUCCEEDED(m_capture.finish_failure))
            m_capture.finish_failure = result;
        return;
    }
    if (!m_capture.capturing) {
        if (!CaptureGraph->Active() || CaptureGraph->State() != 3)
            return;
        CaptureGraph->Stop();
        fw::ReportMessage(QStringLiteral("The preview has been stopped: ") +
                          mediagraph::ResultText(result));
        return;
    }
    StopButtonClick(StopButton);
    fw::ReportMessage(mediagraph::ResultText(result));
}

void TMainForm::StartLevels(media::IBaseFilter* meter) {
    m_capture.levels = nullptr;
    if (meter)
        meter->QueryInterface(media::IAudioLevels::iid, m_capture.levels.OutVoid());
    LevelTimer->SetEnabled(bool(m_capture.levels));
}

void TMainForm::CaptureGraphGraphStreamControlStopped(QObject*) {
    // The file reached its timed stop: the capture ends as "Stop" ends it
    // (the preview comes back when it is on). An event of a capture already
    // stopped changes nothing.
    if (m_capture.capturing && m_capture.stop_at_100ns > 0)
        StopButtonClick(StopButton);
}

void TMainForm::CaptureGraphGraphDeviceLost(QObject*, com::IUnknown*, bool removed) {
    // A camera or sound card unplugged during a capture must not leave the
    // page saying "capturing" with nothing recorded: the capture ends as
    // "Stop" ends it, which completes the file with what was captured, and
    // the user is told once. The graph reports a device that went away with
    // `removed` false (the event's second parameter is 0; 1 says a device
    // came back, which needs nothing). Further events of the same capture
    // (its other device) find it stopped and change nothing. The preview is
    // not restarted: it would start on the device that is gone.
    if (removed)
        return;
    if (!m_capture.capturing) {
        // A preview alone stops too, rather than freezing on its last
        // picture; the "Preview" choice stays, as after a lost capture.
        if (!CaptureGraph->Active() || CaptureGraph->State() != 3)
            return;
        CaptureGraph->Stop();
        fw::ReportMessage(
            QStringLiteral("The capture device was disconnected. The preview has been stopped."));
        return;
    }
    const bool preview = m_capture.preview;
    m_capture.preview = false;
    StopButtonClick(StopButton);
    m_capture.preview = preview;
    fw::ReportMessage(
        QStringLiteral("The capture device was disconnected. The capture has been stopped."));
}

}  // namespace ronvix::app
