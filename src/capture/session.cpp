// The capture and preview session: the start that rebuilds the capture
// graph for a capture or a preview alone, the stop, the preview switch, and
// the end of a capture that the engine aborts or whose device vanishes.

#include "app/mainform.h"
#include "framework/application.h"
#include "mediagraph/dsutil.h"
#include "mediagraph/workflowgraphs.h"
#include "platform/media/types.h"
#include "platform/win/files.h"
#include "platform/winui/dialogs.h"
#include "platform/winui/widgets.h"

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
    CaptureCounters.Start(1, 1, 0);
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
    // Every start works on a freshly built graph holding every bound filter.
    CaptureGraph->SetActive(false);
    CaptureGraph->SetActive(true);
    m_capture.file_name = savedialog->FileName();

    if (from_button || !m_capture.preview) {
        m_capture.mux = mediagraph::AddCaptureFile(CaptureGraph, m_capture.file_name);
        mediagraph::RenderCapturePreview(CaptureGraph, VideoSourceFilter, videowindow);
        PlacePreview(*this);
        mediagraph::RenderCaptureStreams(
            {CaptureGraph, VideoSourceFilter, AudioSourceFilter, SampleGrabber, sync},
            m_capture.mux.Get());
        StopButton->setEnabled(true);
        for (QWidget* w :
             {static_cast<QWidget*>(StartButton), static_cast<QWidget*>(preview),
              static_cast<QWidget*>(AudioFormats), static_cast<QWidget*>(AudioCapFilters),
              static_cast<QWidget*>(VideoFormats), static_cast<QWidget*>(VideoCapFilters)})
            w->setEnabled(false);
        Timer->SetEnabled(true);
        m_capture.capturing = true;
        CaptureGraph->Play();
    } else {
        mediagraph::RenderCapturePreview(CaptureGraph, VideoSourceFilter, videowindow);
        PlacePreview(*this);
        CaptureGraph->Play();
    }
}

void TMainForm::StopButtonClick(QObject*) {
    Timer3->SetEnabled(false);
    Timer->SetEnabled(false);
    StopButton->setEnabled(false);
    StartButton->setEnabled(true);
    preview->setEnabled(true);
    m_capture.capturing = false;
    CaptureGraph->Stop();
    // Deactivating releases the file writer, which completes the file.
    CaptureGraph->SetActive(false);
    for (QWidget* w : {static_cast<QWidget*>(AudioFormats), static_cast<QWidget*>(AudioCapFilters),
                       static_cast<QWidget*>(VideoFormats), static_cast<QWidget*>(VideoCapFilters)})
        w->setEnabled(true);
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
    // reason is shown once. Aborts of a preview alone, or a second abort
    // event of the same capture, change nothing.
    if (!m_capture.capturing)
        return;
    StopButtonClick(StopButton);
    fw::ReportMessage(mediagraph::ResultText(result));
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
