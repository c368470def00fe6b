#pragma once
// TFilterGraph: a component that owns one platform media graph and the
// objects that build it. Setting Active creates them (and adds the filters
// of the bound components); clearing it releases them. It drives the graph
// (Play, Pause, Stop), fires one component event per graph event on the
// user interface thread, and can publish the active graph for an external
// graph editor.
//
// Asking the component for an interface (QueryInterface) answers its own
// interfaces first and then, while active, hands the request to the
// platform objects: in capture mode the capture graph builder, then the
// graph. While inactive, or when a platform object could not be made, such
// requests fail cleanly.
//
// Thread: created, used and destroyed on the user interface thread. The
// platform posts its event message to a hidden window of this component, so
// events are always drained on that thread; an exception raised while
// draining is reported and never leaves the message handler.

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

#include "framework/component.h"
#include "framework/events.h"
#include "mediagraph/graphevents.h"
#include "mediagraph/links.h"
#include "platform/win/kernel.h"
#include "platform/win/window.h"

namespace ronvix::mediagraph {

struct IDvdGraphBuilder;

class TFilterGraph : public fw::TComponent, public com::IUnknown {
    Q_OBJECT
    Q_PROPERTY(QString LogFile READ LogFile WRITE SetLogFile)
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(bool AutoCreate READ AutoCreate WRITE SetAutoCreate)
    Q_PROPERTY(TGraphMode Mode READ Mode WRITE SetMode)
    Q_PROPERTY(bool GraphEdit READ GraphEdit WRITE SetGraphEdit)
public:
    enum TGraphMode { gmNormal = 0, gmCapture = 1, gmDVD = 2 };
    Q_ENUM(TGraphMode)

    // The message the platform posts to the notification window.
    static constexpr win::UINT kGraphEventMessage = win::WM_APP + 1;

    explicit TFilterGraph(QObject* owner = nullptr, const QString& name = {});
    ~TFilterGraph() override;

    // IUnknown: the query delegation above. References are not counted: the
    // owner decides the component's life.
    HRESULT QueryInterface(com::REFIID riid, void** out) override;
    com::ULONG AddRef() override { return 1; }
    com::ULONG Release() override { return 1; }
    // QueryInterface for I; empty when nothing answers.
    template <class I>
    com::ComPtr<I> Query() {
        com::ComPtr<I> out;
        QueryInterface(I::iid, out.OutVoid());
        return out;
    }

    bool Active() const { return m_active; }
    // Activation and deactivation; writing the current value does nothing.
    void SetActive(bool active);
    bool AutoCreate() const { return m_auto_create; }
    void SetAutoCreate(bool auto_create) { m_auto_create = auto_create; }
    TGraphMode Mode() const { return m_mode; }
    // On an active graph: deactivate, store, activate again.
    void SetMode(TGraphMode mode);
    bool GraphEdit() const { return m_graph_edit; }
    void SetGraphEdit(bool graph_edit);
    QString LogFile() const { return m_log_file; }
    // While active: the log goes to `name` from now on (none for empty). A
    // file that cannot be created leaves logging off and LogFile unchanged.
    void SetLogFile(const QString& name);

    void Loaded() override;

    // Run control through the graph's IMediaControl; false (0 for State)
    // when there is none, for instance while inactive. A failed platform
    // result throws EDirectShowException.
    bool Play();
    // True only for S_OK: S_FALSE (still on its way) gives false.
    bool Pause();
    bool Stop();
    // 1 stopped, 2 paused, 3 running, 0 otherwise.
    int State();
    // Stops the graph, breaks every connection and removes every filter that
    // no link supplies. Nothing while there is no graph.
    void ClearFilters();

    void AddFilterLink(IFilterLink* link);
    void RemoveFilterLink(IFilterLink* link);
    void AddControlLink(IControlLink* link);
    void RemoveControlLink(IControlLink* link);
    int FilterLinkCount() const { return static_cast<int>(m_filter_links.size()); }
    int ControlLinkCount() const { return static_cast<int>(m_control_links.size()); }

    // Forwards one event to the control links and OnDSEvent, then fires the
    // component event its code names.
    virtual void DispatchGraphEvent(LONG code, LONG_PTR param1, LONG_PTR param2);

    // The hidden window that receives the graph's event message.
    win::HWND NotificationWindow() const;
    // Non-zero while the active graph is published.
    uint32_t RunningObjectCookie() const { return m_rot_cookie; }

    // Published events, in their stored order.
    fw::TNotifyEvent OnActivate;
    TOnDSEvent OnDSEvent;
    TOnGraphBufferingData OnGraphBufferingData;
    fw::TNotifyEvent OnGraphClockChanged;
    TOnGraphComplete OnGraphComplete;
    TOnGraphDeviceLost OnGraphDeviceLost;
    TOnGraphEndOfSegment OnGraphEndOfSegment;
    TOnDSResult OnGraphErrorStillPlaying;
    TOnDSResult OnGraphErrorAbort;
    TOnGraphFullscreenLost OnGraphFullscreenLost;
    fw::TNotifyEvent OnGraphChanged;
    TOnGraphOleEvent OnGraphOleEvent;
    TOnGraphOpeningFile OnGraphOpeningFile;
    fw::TNotifyEvent OnGraphPaletteChanged;
    TOnDSResult OnGraphPaused;
    fw::TNotifyEvent OnGraphQualityChange;
    TOnGraphSNDDevError OnGraphSNDDevInError;
    TOnGraphSNDDevError OnGraphSNDDevOutError;
    fw::TNotifyEvent OnGraphStepComplete;
    TOnGraphStreamControl OnGraphStreamControlStarted;
    TOnGraphStreamControl OnGraphStreamControlStopped;
    TOnGraphStreamError OnGraphStreamErrorStillPlaying;
    TOnGraphStreamError OnGraphStreamErrorStopped;
    fw::TNotifyEvent OnGraphUserAbort;
    TOnGraphVideoSizeChanged OnGraphVideoSizeChanged;
    TOnGraphTimeCodeAvailable OnGraphTimeCodeAvailable;
    TOnGraphEXTDeviceModeChange OnGraphEXTDeviceModeChange;
    fw::TNotifyEvent OnGraphClockUnset;
    TOnGraphVMRRenderDevice OnGraphVMRRenderDevice;
    TOnDVDAudioStreamChange OnDVDAudioStreamChange;
    TOnDVDCurrentTime OnDVDCurrentTime;
    TOnDVDTitleChange OnDVDTitleChange;
    TOnDVDChapterStart OnDVDChapterStart;
    TOnDVDChange OnDVDAngleChange;
    TOnDVDValidUOPSChange OnDVDValidUOPSChange;
    TOnDVDChange OnDVDButtonChange;
    fw::TNotifyEvent OnDVDChapterAutoStop;
    TOnDVDStillOn OnDVDStillOn;
    fw::TNotifyEvent OnDVDStillOff;
    TOnDVDSubpictureStreamChange OnDVDSubpictureStreamChange;
    fw::TNotifyEvent OnDVDNoFP_PGC;
    TOnDVDPlaybackRateChange OnDVDPlaybackRateChange;
    TOnDVDParentalLevelChange OnDVDParentalLevelChange;
    fw::TNotifyEvent OnDVDPlaybackStopped;
    TOnDVDAnglesAvailable OnDVDAnglesAvailable;
    fw::TNotifyEvent OnDVDPlayPeriodAutoStop;
    TOnDVDButtonAutoActivated OnDVDButtonAutoActivated;
    TOnDVDCMD OnDVDCMDStart;
    TOnDVDCMD OnDVDCMDEnd;
    fw::TNotifyEvent OnDVDDiscEjected;
    fw::TNotifyEvent OnDVDDiscInserted;
    TOnDVDCurrentHMSFTime OnDVDCurrentHMSFTime;
    TOnDVDKaraokeMode OnDVDKaraokeMode;
    fw::TNotifyEvent OnDVDDomainFirstPlay;
    fw::TNotifyEvent OnDVDDomainVideoManagerMenu;
    fw::TNotifyEvent OnDVDDomainVideoTitleSetMenu;
    fw::TNotifyEvent OnDVDDomainTitle;
    fw::TNotifyEvent OnDVDDomainStop;
    fw::TNotifyEvent OnDVDWarningInvalidDVD1_0Disc;
    fw::TNotifyEvent OnDVDWarningFormatNotSupported;
    fw::TNotifyEvent OnDVDWarningIllegalNavCommand;
    fw::TNotifyEvent OnDVDWarningOpen;
    fw::TNotifyEvent OnDVDWarningSeek;
    fw::TNotifyEvent OnDVDWarningRead;

    // Delivers the events the graph queued so far to the handlers now, on
    // the calling (user interface) thread, so that a stop that finished a
    // file hears at once whether finishing it failed.
    void DeliverQueuedEvents() { DrainEvents(); }

private:
    void Activate();
    void Deactivate();
    void NotifyControls(int operation, int param);
    void DrainEvents();
    void CloseLog();
    // The DVD language lookup for the two stream-change events.
    bool DvdLanguage(bool audio, com::ULONG stream, int* lcid, QString* lang);

    bool m_active = false;
    bool m_auto_create = false;
    std::unique_ptr<win::MessageWindow> m_window;
    TGraphMode m_mode = gmNormal;
    std::vector<IFilterLink*> m_filter_links;
    std::vector<IControlLink*> m_control_links;
    com::ComPtr<media::IGraphBuilder> m_graph;
    com::ComPtr<media::ICaptureGraphBuilder2> m_capture_builder;
    com::ComPtr<IDvdGraphBuilder> m_dvd_builder;
    com::ComPtr<media::IMediaEventEx> m_events;
    bool m_graph_edit = false;
    uint32_t m_rot_cookie = 0;
    QString m_log_file;
    win::HANDLE m_log_handle = win::INVALID_HANDLE_VALUE;
};

// Registers `graph` in the running object table under the item name
// "FilterGraph <pointer> pid <process id>" (both in upper-case hexadecimal)
// and returns the table's result; the cookie is written on success.
HRESULT PublishGraph(com::IUnknown* graph, uint32_t* cookie);
// The item name PublishGraph uses for `graph`.
QString PublishedGraphName(const com::IUnknown* graph);
void UnpublishGraph(uint32_t cookie);

}  // namespace ronvix::mediagraph
