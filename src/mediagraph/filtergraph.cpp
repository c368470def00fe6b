#include "mediagraph/filtergraph.h"

#include <algorithm>

#include "framework/application.h"
#include "mediagraph/graph_util.h"
#include "mediagraph/unavailable_interfaces.h"
#include "platform/com/classregistry.h"
#include "platform/com/moniker.h"
#include "platform/com/rot.h"
#include "platform/win/files.h"
#include "platform/win/priority.h"

namespace ronvix::mediagraph {

using namespace media;
using com::ComPtr;

namespace {

constexpr LONG kNoNotify = 1;  // AM_MEDIAEVENT_NONOTIFY

// Calls `handler` when set, with the graph as sender.
template <class F, class... A>
void FireEvent(const F& handler, TFilterGraph* sender, A&&... args) {
    if (handler)
        handler(sender, std::forward<A>(args)...);
}

// The graph manager asked for its IFilterGraph2; empty when it cannot be made.
ComPtr<IGraphBuilder> CreateGraph() {
    ComPtr<IFilterGraph2> graph;
    com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IFilterGraph2::iid,
                          graph.OutVoid());
    return graph;
}

QString WideParam(LONG_PTR param) {
    const auto* text = reinterpret_cast<const com::WCHAR*>(param);
    return text ? QString::fromStdU16String(std::u16string(com::WideView(text))) : QString();
}

}  // namespace

// ---------------------------------------------------------------- publishing

QString PublishedGraphName(const com::IUnknown* graph) {
    const auto pointer = reinterpret_cast<quintptr>(graph);
    return QStringLiteral("FilterGraph %1 pid %2")
        .arg(QStringLiteral("%1")
                 .arg(pointer, int(sizeof(void*) * 2), 16, QLatin1Char('0'))
                 .toUpper())
        .arg(QString::number(win::GetCurrentProcessId(), 16).toUpper());
}

HRESULT PublishGraph(com::IUnknown* graph, uint32_t* cookie) {
    ComPtr<com::IRunningObjectTable> table;
    HRESULT hr = com::GetRunningObjectTable(0, table.ReleaseAndGetAddressOf());
    if (com::FAILED(hr))
        return hr;
    const std::u16string name = PublishedGraphName(graph).toStdU16String();
    ComPtr<com::IMoniker> moniker;
    hr = com::CreateItemMoniker(u"!", name.c_str(), moniker.ReleaseAndGetAddressOf());
    if (com::FAILED(hr))
        return hr;
    com::DWORD registered = 0;
    hr = table->Register(0, graph, moniker.Get(), &registered);
    if (com::SUCCEEDED(hr) && cookie)
        *cookie = registered;
    return hr;
}

void UnpublishGraph(uint32_t cookie) {
    ComPtr<com::IRunningObjectTable> table;
    if (com::SUCCEEDED(com::GetRunningObjectTable(0, table.ReleaseAndGetAddressOf())) && table)
        table->Revoke(cookie);
}

// --------------------------------------------------------------- lifecycle

TFilterGraph::TFilterGraph(QObject* owner, const QString& name) : fw::TComponent(owner, name) {
    m_window = std::make_unique<win::MessageWindow>(
        [this](win::HWND hwnd, win::UINT msg, win::WPARAM, win::LPARAM) -> win::LRESULT {
            if (msg == kGraphEventMessage) {
                DrainEvents();
                return 0;
            }
            (void)hwnd;
            return 0;
        },
        QStringLiteral("TFilterGraph"));
}

TFilterGraph::~TFilterGraph() {
    // Deactivation lets every link remove its filter before the owner frees
    // the components; nothing may escape a destructor.
    fw::SafeCall([this] { SetActive(false); });
    m_window.reset();
}

win::HWND TFilterGraph::NotificationWindow() const {
    return m_window ? m_window->Handle() : nullptr;
}

void TFilterGraph::Loaded() {
    fw::TComponent::Loaded();
    if (m_auto_create)
        SetActive(true);
}

HRESULT TFilterGraph::QueryInterface(com::REFIID riid, void** out) {
    if (!out)
        return com::E_POINTER;
    *out = nullptr;
    if (riid == com::IUnknown::iid) {
        *out = static_cast<com::IUnknown*>(this);
        return com::S_OK;
    }
    if (!m_active)
        return com::E_NOINTERFACE;
    HRESULT hr = com::E_NOINTERFACE;
    switch (m_mode) {
        case gmNormal:
            break;
        case gmCapture:
            if (m_capture_builder) {
                hr = m_capture_builder->QueryInterface(riid, out);
                if (com::SUCCEEDED(hr))
                    return hr;
            }
            break;
        case gmDVD:
            if (m_dvd_builder) {
                hr = m_dvd_builder->QueryInterface(riid, out);
                if (com::SUCCEEDED(hr))
                    return hr;
                hr = m_dvd_builder->GetDvdInterface(riid, out);
                if (com::SUCCEEDED(hr))
                    return hr;
            }
            break;
    }
    if (m_graph)
        hr = m_graph->QueryInterface(riid, out);
    return hr;
}

// ------------------------------------------------------ activation

void TFilterGraph::SetActive(bool active) {
    if (active == m_active)
        return;
    if (active)
        Activate();
    else
        Deactivate();
}

void TFilterGraph::Activate() {
    // The results of creating the objects are not checked here: a missing
    // object leaves its slot empty and every later use of it is skipped.
    constexpr com::DWORD kInprocServer = com::CLSCTX_INPROC_SERVER;
    switch (m_mode) {
        case gmNormal:
            m_graph = CreateGraph();
            break;
        case gmCapture:
            com::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, kInprocServer,
                                  ICaptureGraphBuilder2::iid, m_capture_builder.OutVoid());
            m_graph = CreateGraph();
            if (m_capture_builder)
                m_capture_builder->SetFiltergraph(m_graph.Get());
            break;
        case gmDVD:
            com::CoCreateInstance(CLSID_DvdGraphBuilder, nullptr, kInprocServer,
                                  IDvdGraphBuilder::iid, m_dvd_builder.OutVoid());
            if (m_dvd_builder)
                m_dvd_builder->GetFiltergraph(m_graph.ReleaseAndGetAddressOf());
            break;
    }
    m_active = true;

    if (ComPtr<IMediaEventEx> events = Query<IMediaEventEx>()) {
        m_events = events;
        m_events->SetNotifyFlags(0);
        m_events->SetNotifyWindow(reinterpret_cast<OAHWND>(NotificationWindow()),
                                  static_cast<LONG>(kGraphEventMessage),
                                  reinterpret_cast<LONG_PTR>(m_events.Get()));
    }
    SetGraphEdit(m_graph_edit);
    SetLogFile(m_log_file);

    const std::vector<IFilterLink*> links = m_filter_links;
    for (IFilterLink* link : links) {
        link->LinkNotify(BeforeAdd, 0);
        const std::u16string name = link->LinkedName().toStdU16String();
        ComPtr<IBaseFilter> filter = link->LinkedFilter();
        if (m_graph)
            m_graph->AddFilter(filter.Get(), name.c_str());
        link->LinkNotify(AfterAdd, 0);
    }
    fw::Fire(OnActivate, this);
    NotifyControls(ControlActive, 1);
}

void TFilterGraph::Deactivate() {
    NotifyControls(ControlActive, 0);
    // The filters leave a stopped graph. Removing a filter whose streaming
    // threads still run would disconnect its pins under those threads, and
    // the last reference to a filter (a renderer and its window among them)
    // could then be dropped on a streaming thread. Releasing the graph would
    // stop it anyway; this only does it before the links take their filters.
    if (m_graph) {
        ComPtr<IMediaControl> control;
        if (com::SUCCEEDED(m_graph->QueryInterface(IMediaControl::iid, control.OutVoid())))
            control->Stop();
    }
    const std::vector<IFilterLink*> links = m_filter_links;
    for (IFilterLink* link : links) {
        link->LinkNotify(BeforeRemove, 0);
        ComPtr<IBaseFilter> filter = link->LinkedFilter();
        if (m_graph)
            m_graph->RemoveFilter(filter.Get());
        link->LinkNotify(AfterRemove, 0);
    }
    if (m_events) {
        m_events->SetNotifyFlags(kNoNotify);
        m_events = nullptr;
    }
    if (m_rot_cookie != 0) {
        UnpublishGraph(m_rot_cookie);
        m_rot_cookie = 0;
    }
    if (m_graph)
        m_graph->SetLogFile(0);
    CloseLog();
    m_graph = nullptr;
    m_capture_builder = nullptr;
    m_dvd_builder = nullptr;
    m_active = false;
}

void TFilterGraph::SetMode(TGraphMode mode) {
    if (mode == m_mode)
        return;
    const bool was_active = m_active;
    SetActive(false);
    m_mode = mode;
    SetActive(was_active);
}

void TFilterGraph::SetGraphEdit(bool graph_edit) {
    if (!graph_edit) {
        if (m_rot_cookie != 0) {
            UnpublishGraph(m_rot_cookie);
            m_rot_cookie = 0;
        }
    } else if (m_rot_cookie == 0 && m_active && m_graph) {
        PublishGraph(m_graph.Get(), &m_rot_cookie);
    }
    m_graph_edit = graph_edit;
}

void TFilterGraph::CloseLog() {
    if (m_log_handle != win::INVALID_HANDLE_VALUE) {
        win::CloseHandle(m_log_handle);
        m_log_handle = win::INVALID_HANDLE_VALUE;
    }
}

void TFilterGraph::SetLogFile(const QString& name) {
    if (m_active) {
        if (m_graph)
            m_graph->SetLogFile(0);
        CloseLog();
        if (!name.isEmpty()) {
            const QByteArray file = name.toUtf8();
            const win::HANDLE handle =
                win::CreateFileA(file.constData(), win::GENERIC_READ | win::GENERIC_WRITE, 0,
                                 nullptr, win::CREATE_ALWAYS, win::FILE_ATTRIBUTE_NORMAL, 0);
            if (handle == win::INVALID_HANDLE_VALUE) {
                if (m_graph)
                    m_graph->SetLogFile(0);
                return;
            }
            m_log_handle = handle;
            if (m_graph)
                m_graph->SetLogFile(static_cast<uintptr_t>(handle));
        }
    }
    m_log_file = name;
}

// ---------------------------------------------------------------- links

void TFilterGraph::AddFilterLink(IFilterLink* link) {
    if (!link)
        return;
    m_filter_links.push_back(link);
    if (m_active) {
        link->LinkNotify(BeforeAdd, 0);
        const std::u16string name = link->LinkedName().toStdU16String();
        ComPtr<IBaseFilter> filter = link->LinkedFilter();
        if (m_graph)
            m_graph->AddFilter(filter.Get(), name.c_str());
        link->LinkNotify(AfterAdd, 0);
    }
}

void TFilterGraph::RemoveFilterLink(IFilterLink* link) {
    if (!link)
        return;
    auto it = std::find(m_filter_links.begin(), m_filter_links.end(), link);
    if (it != m_filter_links.end())
        m_filter_links.erase(it);
    if (m_active) {
        link->LinkNotify(BeforeRemove, 0);
        ComPtr<IBaseFilter> filter = link->LinkedFilter();
        if (m_graph)
            m_graph->RemoveFilter(filter.Get());
        link->LinkNotify(AfterRemove, 0);
    }
}

void TFilterGraph::AddControlLink(IControlLink* link) {
    if (link)
        m_control_links.push_back(link);
}

void TFilterGraph::RemoveControlLink(IControlLink* link) {
    auto it = std::find(m_control_links.begin(), m_control_links.end(), link);
    if (it != m_control_links.end())
        m_control_links.erase(it);
}

void TFilterGraph::NotifyControls(int operation, int param) {
    const std::vector<IControlLink*> links = m_control_links;
    for (IControlLink* link : links)
        link->ForwardGraphState(operation, param);
}

// ------------------------------------------------------------- run control

bool TFilterGraph::Play() {
    ComPtr<IMediaControl> control = Query<IMediaControl>();
    if (!control)
        return false;
    NotifyControls(ControlRun, 0);
    const HRESULT hr = control->Run();
    // The streaming threads just started inherited this thread's priority,
    // which may have been raised above the chosen class (the "Filename"
    // group click raises the interface thread): they take the class.
    win::SettleThreadPriorities();
    CheckResult(hr);
    return true;
}

bool TFilterGraph::Pause() {
    ComPtr<IMediaControl> control = Query<IMediaControl>();
    if (!control)
        return false;
    NotifyControls(ControlPause, 0);
    const HRESULT hr = control->Pause();
    win::SettleThreadPriorities();  // as in Play
    return CheckResult(hr) == com::S_OK;
}

bool TFilterGraph::Stop() {
    ComPtr<IMediaControl> control = Query<IMediaControl>();
    if (!control)
        return false;
    NotifyControls(ControlStop, 0);
    return CheckResult(control->Stop()) == com::S_OK;
}

int TFilterGraph::State() {
    ComPtr<IMediaControl> control = Query<IMediaControl>();
    if (!control)
        return 0;
    OAFilterState state = -1;
    control->GetState(0, &state);
    switch (state) {
        case State_Stopped:
            return 1;
        case State_Paused:
            return 2;
        case State_Running:
            return 3;
        default:
            return 0;
    }
}

void TFilterGraph::ClearFilters() {
    if (!m_graph)
        return;
    Stop();
    {
        TFilterList filters(m_graph.Get());
        for (int i = 0; i < filters.Count(); ++i) {
            TPinList pins(filters.FilterAt(i).Get());
            for (int p = 0; p < pins.Count(); ++p)
                CheckResult(pins.PinAt(p)->Disconnect());
        }
    }
    TFilterList filters(m_graph.Get());
    for (IFilterLink* link : m_filter_links) {
        ComPtr<IBaseFilter> linked = link->LinkedFilter();
        if (linked)
            filters.RemoveEntry(linked.Get());
    }
    for (int i = 0; i < filters.Count(); ++i)
        CheckResult(m_graph->RemoveFilter(filters.FilterAt(i).Get()));
}

// ------------------------------------------------------------------ events

void TFilterGraph::DrainEvents() {
    try {
        // A handler may deactivate the graph; the interface is kept alive
        // for this loop and draining stops once it is no longer the graph's.
        ComPtr<IMediaEventEx> events = m_events;
        LONG code = 0;
        LONG_PTR param1 = 0;
        LONG_PTR param2 = 0;
        while (events && events == m_events &&
               events->GetEvent(&code, &param1, &param2, 0) == com::S_OK) {
            DispatchGraphEvent(code, param1, param2);
            events->FreeEventParams(code, param1, param2);
        }
    } catch (...) {
        fw::ReportCurrentException();
    }
}

bool TFilterGraph::DvdLanguage(bool audio, com::ULONG stream, int* lcid, QString* lang) {
    ComPtr<IDvdInfo2> info = Query<IDvdInfo2>();
    if (!info)
        return false;
    LCID language = 0;
    CheckResult(audio ? info->GetAudioLanguage(stream, &language)
                      : info->GetSubpictureLanguage(stream, &language));
    *lcid = static_cast<int>(language);
    *lang = LocaleLanguageName(language);
    return true;
}

void TFilterGraph::DispatchGraphEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
    {
        const std::vector<IControlLink*> links = m_control_links;
        for (IControlLink* link : links)
            link->ForwardGraphEvent(code, param1, param2);
    }
    FireEvent(OnDSEvent, this, code, param1, param2);

    const auto p1 = static_cast<int32_t>(param1);
    const auto p2 = static_cast<int32_t>(param2);
    const auto u1 = static_cast<uint32_t>(param1);
    const auto u2 = static_cast<uint32_t>(param2);
    auto filter = [](LONG_PTR p) { return reinterpret_cast<IBaseFilter*>(p); };
    switch (code) {
        case EC_COMPLETE:
            FireEvent(OnGraphComplete, this, HRESULT(p1), filter(param2));
            break;
        case EC_USERABORT:
            FireEvent(OnGraphUserAbort, this);
            break;
        case EC_ERRORABORT:
            FireEvent(OnGraphErrorAbort, this, HRESULT(p1));
            break;
        case EC_STREAM_ERROR_STOPPED:
            FireEvent(OnGraphStreamErrorStopped, this, HRESULT(p1), u2);
            break;
        case EC_STREAM_ERROR_STILLPLAYING:
            FireEvent(OnGraphStreamErrorStillPlaying, this, HRESULT(p1), u2);
            break;
        case EC_ERROR_STILLPLAYING:
            FireEvent(OnGraphErrorStillPlaying, this, HRESULT(p1));
            break;
        case EC_PALETTE_CHANGED:
            FireEvent(OnGraphPaletteChanged, this);
            break;
        case EC_VIDEO_SIZE_CHANGED:
            FireEvent(OnGraphVideoSizeChanged, this, uint16_t(u1 & 0xFFFF), uint16_t(u1 >> 16));
            break;
        case EC_QUALITY_CHANGE:
            FireEvent(OnGraphQualityChange, this);
            break;
        case EC_CLOCK_CHANGED:
            FireEvent(OnGraphClockChanged, this);
            break;
        case EC_PAUSED:
            FireEvent(OnGraphPaused, this, HRESULT(p1));
            break;
        case EC_OPENING_FILE:
            FireEvent(OnGraphOpeningFile, this, param1 == 1);
            break;
        case EC_BUFFERING_DATA:
            FireEvent(OnGraphBufferingData, this, param1 == 1);
            break;
        case EC_FULLSCREEN_LOST:
            FireEvent(OnGraphFullscreenLost, this, filter(param2));
            break;
        case EC_OLE_EVENT:
            if (OnGraphOleEvent)
                OnGraphOleEvent(this, WideParam(param1), WideParam(param2));
            break;
        case EC_STREAM_CONTROL_STOPPED:
            FireEvent(OnGraphStreamControlStopped, this, reinterpret_cast<IPin*>(param1), u2);
            break;
        case EC_STREAM_CONTROL_STARTED:
            FireEvent(OnGraphStreamControlStarted, this, reinterpret_cast<IPin*>(param1), u2);
            break;
        case EC_END_OF_SEGMENT:
            if (OnGraphEndOfSegment) {
                const auto* time = reinterpret_cast<const com::REFERENCE_TIME*>(param1);
                OnGraphEndOfSegment(this, time ? *time : 0, u2);
            }
            break;
        case EC_DEVICE_LOST:
            FireEvent(OnGraphDeviceLost, this, reinterpret_cast<com::IUnknown*>(param1),
                      param2 == 1);
            break;
        case EC_STEP_COMPLETE:
            FireEvent(OnGraphStepComplete, this);
            break;
        case EC_TIMECODE_AVAILABLE:
            FireEvent(OnGraphTimeCodeAvailable, this, filter(param1), u2);
            break;
        case EC_EXTDEVICE_MODE_CHANGE:
            FireEvent(OnGraphEXTDeviceModeChange, this, u1, u2);
            break;
        case EC_GRAPH_CHANGED:
            FireEvent(OnGraphChanged, this);
            break;
        case EC_CLOCK_UNSET:
            FireEvent(OnGraphClockUnset, this);
            break;
        case EC_VMR_RENDERDEVICE_SET:
            FireEvent(OnGraphVMRRenderDevice, this, p1);
            break;
        case EC_DVD_DOMAIN_CHANGE: {
            const fw::TNotifyEvent* handlers[] = {
                &OnDVDDomainFirstPlay, &OnDVDDomainVideoManagerMenu, &OnDVDDomainVideoTitleSetMenu,
                &OnDVDDomainTitle, &OnDVDDomainStop};
            if (param1 >= 1 && param1 <= 5)
                FireEvent(*handlers[param1 - 1], this);
            break;
        }
        case EC_DVD_TITLE_CHANGE:
            FireEvent(OnDVDTitleChange, this, p1);
            break;
        case EC_DVD_CHAPTER_START:
            FireEvent(OnDVDChapterStart, this, p1);
            break;
        case EC_DVD_AUDIO_STREAM_CHANGE:
        case EC_DVD_SUBPICTURE_STREAM_CHANGE: {
            const bool audio = code == EC_DVD_AUDIO_STREAM_CHANGE;
            const TOnDVDStreamChange& handler =
                audio ? OnDVDAudioStreamChange : OnDVDSubpictureStreamChange;
            int lcid = 0;
            QString lang;
            if (handler && DvdLanguage(audio, u1, &lcid, &lang))
                handler(this, p1, lcid, lang);
            break;
        }
        case EC_DVD_ANGLE_CHANGE:
            FireEvent(OnDVDAngleChange, this, p1, p2);
            break;
        case EC_DVD_BUTTON_CHANGE:
            FireEvent(OnDVDButtonChange, this, p1, p2);
            break;
        case EC_DVD_VALID_UOPS_CHANGE:
            FireEvent(OnDVDValidUOPSChange, this, p1);
            break;
        case EC_DVD_STILL_ON:
            FireEvent(OnDVDStillOn, this, param1 == 1, p2);
            break;
        case EC_DVD_STILL_OFF:
            FireEvent(OnDVDStillOff, this);
            break;
        case EC_DVD_CURRENT_TIME:
            if (OnDVDCurrentTime) {
                const DVD_TIMECODE t = DecodeTimeCode(u1);
                OnDVDCurrentTime(this, t.Hours10 * 10 + t.Hours1, t.Minutes10 * 10 + t.Minutes1,
                                 t.Seconds10 * 10 + t.Seconds1, t.Frames10 * 10 + t.Frames1,
                                 FrameRateOf(t));
            }
            break;
        case EC_DVD_WARNING: {
            const fw::TNotifyEvent* handlers[] = {&OnDVDWarningInvalidDVD1_0Disc,
                                                  &OnDVDWarningFormatNotSupported,
                                                  &OnDVDWarningIllegalNavCommand,
                                                  &OnDVDWarningOpen,
                                                  &OnDVDWarningSeek,
                                                  &OnDVDWarningRead};
            if (param1 >= 1 && param1 <= 6)
                FireEvent(*handlers[param1 - 1], this);
            break;
        }
        case EC_DVD_CHAPTER_AUTOSTOP:
            FireEvent(OnDVDChapterAutoStop, this);
            break;
        case EC_DVD_NOFP_PGC:
            FireEvent(OnDVDNoFP_PGC, this);
            break;
        case EC_DVD_PLAYBACK_RATE_CHANGE:
            FireEvent(OnDVDPlaybackRateChange, this, static_cast<float>(p1 / 10000.0));
            break;
        case EC_DVD_PARENTAL_LEVEL_CHANGE:
            FireEvent(OnDVDParentalLevelChange, this, p1);
            break;
        case EC_DVD_PLAYBACK_STOPPED:
            FireEvent(OnDVDPlaybackStopped, this);
            break;
        case EC_DVD_ANGLES_AVAILABLE:
            FireEvent(OnDVDAnglesAvailable, this, param1 == 1);
            break;
        case EC_DVD_PLAYPERIOD_AUTOSTOP:
            FireEvent(OnDVDPlayPeriodAutoStop, this);
            break;
        case EC_DVD_BUTTON_AUTO_ACTIVATED:
            FireEvent(OnDVDButtonAutoActivated, this, u1);
            break;
        case EC_DVD_CMD_START:
            FireEvent(OnDVDCMDStart, this, u1);
            break;
        case EC_DVD_CMD_END:
            FireEvent(OnDVDCMDEnd, this, u1);
            break;
        case EC_DVD_DISC_EJECTED:
            FireEvent(OnDVDDiscEjected, this);
            break;
        case EC_DVD_DISC_INSERTED:
            FireEvent(OnDVDDiscInserted, this);
            break;
        case EC_DVD_CURRENT_HMSF_TIME:
            if (OnDVDCurrentHMSFTime) {
                DVD_HMSF_TIMECODE hmsf;
                hmsf.bHours = static_cast<uint8_t>(u1);
                hmsf.bMinutes = static_cast<uint8_t>(u1 >> 8);
                hmsf.bSeconds = static_cast<uint8_t>(u1 >> 16);
                hmsf.bFrames = static_cast<uint8_t>(u1 >> 24);
                const DVD_TIMECODE t = DecodeTimeCode(u2);
                OnDVDCurrentHMSFTime(this, hmsf, t);
            }
            break;
        case EC_DVD_KARAOKE_MODE:
            FireEvent(OnDVDKaraokeMode, this, param1 != 0);
            break;
        case EC_SNDDEV_IN_ERROR:
            FireEvent(OnGraphSNDDevInError, this, TSndDevErr(p1), u2);
            break;
        case EC_SNDDEV_OUT_ERROR:
            FireEvent(OnGraphSNDDevOutError, this, TSndDevErr(p1), u2);
            break;
        default:
            break;
    }
}

// -------------------------------------------------------------- decoding

DVD_TIMECODE DecodeTimeCode(uint32_t packed) {
    DVD_TIMECODE t;
    t.Hours1 = packed & 0xF;
    t.Hours10 = (packed >> 4) & 0xF;
    t.Minutes1 = (packed >> 8) & 0xF;
    t.Minutes10 = (packed >> 12) & 0xF;
    t.Seconds1 = (packed >> 16) & 0xF;
    t.Seconds10 = (packed >> 20) & 0xF;
    t.Frames1 = (packed >> 24) & 0xF;
    t.Frames10 = (packed >> 28) & 0x3;
    t.FrameRateCode = (packed >> 30) & 0x3;
    return t;
}

int FrameRateOf(const DVD_TIMECODE& code) {
    switch (code.FrameRateCode) {
        case 1:
            return 25;
        case 3:
            return 30;
        default:
            return 0;
    }
}

QString LocaleLanguageName(uint32_t lcid) {
    // Primary language identifiers (the low ten bits of a locale id) of the
    // languages DVDs commonly carry.
    struct Row {
        uint16_t primary;
        const char* name;
    };
    static constexpr Row kLanguages[] = {
        {0x01, "Arabic"},     {0x02, "Bulgarian"},  {0x04, "Chinese"},    {0x05, "Czech"},
        {0x06, "Danish"},     {0x07, "German"},     {0x08, "Greek"},      {0x09, "English"},
        {0x0A, "Spanish"},    {0x0B, "Finnish"},    {0x0C, "French"},     {0x0D, "Hebrew"},
        {0x0E, "Hungarian"},  {0x0F, "Icelandic"},  {0x10, "Italian"},    {0x11, "Japanese"},
        {0x12, "Korean"},     {0x13, "Dutch"},      {0x14, "Norwegian"},  {0x15, "Polish"},
        {0x16, "Portuguese"}, {0x18, "Romanian"},   {0x19, "Russian"},    {0x1A, "Croatian"},
        {0x1B, "Slovak"},     {0x1D, "Swedish"},    {0x1E, "Thai"},       {0x1F, "Turkish"},
        {0x22, "Ukrainian"},  {0x23, "Belarusian"}, {0x24, "Slovenian"},  {0x25, "Estonian"},
        {0x26, "Latvian"},    {0x27, "Lithuanian"}, {0x2A, "Vietnamese"}, {0x39, "Hindi"},
    };
    const uint16_t primary = lcid & 0x3FF;
    for (const Row& row : kLanguages)
        if (row.primary == primary)
            return QString::fromLatin1(row.name);
    return {};
}

}  // namespace ronvix::mediagraph
