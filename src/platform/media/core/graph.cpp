#include "platform/media/core/graph.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/com/classregistry.h"
#include "platform/com/object.h"
#include "platform/media/core/clock.h"
#include "platform/media/core/enumerators.h"
#include "platform/media/core/pinutil.h"
#include "platform/win/window.h"

namespace ronvix::media {

using namespace com;

namespace {

constexpr int kMaxTransformChain = 3;  // Filters Connect may insert in a row.
constexpr int kMaxRenderDepth = 4;
// How long Stop lets live sources hand on what they captured before it.
constexpr auto kCaptureDrainBudget = std::chrono::milliseconds(3000);

std::string HrText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

bool IsRenderer(IBaseFilter* filter) {
    ComPtr<IAMFilterMiscFlags> flags;
    if (FAILED(filter->QueryInterface(IAMFilterMiscFlags::iid, flags.OutVoid())))
        return false;
    return (flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER) != 0;
}

class FilterGraph final : public ComObject<IFilterGraph2, IMediaControl, IMediaEventEx,
                                           IMediaSeeking, IMediaFilter, IMediaEventSink> {
public:
    FilterGraph() : m_clock(MakeCom<SystemClock>()) {}
    ~FilterGraph() override;

    // IFilterGraph
    HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
    HRESULT RemoveFilter(IBaseFilter* filter) override;
    HRESULT EnumFilters(IEnumFilters** out) override;
    HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** out) override;
    HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override;
    HRESULT Reconnect(IPin* pin) override { return ReconnectEx(pin, nullptr); }
    HRESULT Disconnect(IPin* pin) override;
    HRESULT SetDefaultSyncSource() override;
    // IGraphBuilder
    HRESULT Connect(IPin* out, IPin* in) override;
    HRESULT Render(IPin* out) override;
    HRESULT RenderFile(LPCWSTR file, LPCWSTR play_list) override;
    HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR filter_name, IBaseFilter** out) override;
    HRESULT SetLogFile(uintptr_t file) override;
    HRESULT Abort() override { return S_OK; }
    HRESULT ShouldOperationContinue() override { return S_OK; }
    // IFilterGraph2
    HRESULT AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* ctx, LPCWSTR name,
                                      IBaseFilter** out) override;
    HRESULT ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mt) override;
    HRESULT RenderEx(IPin* out, DWORD flags, DWORD* context) override;
    // IMediaControl and IMediaFilter
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(LONG timeout_ms, OAFilterState* state) override;
    HRESULT StopWhenReady() override;
    HRESULT GetClassID(GUID* clsid) override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD timeout_ms, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;
    // IMediaEventEx
    HRESULT GetEventHandle(OAEVENT* handle) override;
    HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeout_ms) override;
    HRESULT WaitForCompletion(LONG timeout_ms, LONG* code) override;
    HRESULT CancelDefaultHandling(LONG code) override;
    HRESULT RestoreDefaultHandling(LONG code) override;
    HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) override;
    HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) override;
    HRESULT SetNotifyFlags(LONG no_notify_flags) override;
    HRESULT GetNotifyFlags(LONG* no_notify_flags) override;
    // IMediaEventSink
    HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override;
    // IMediaSeeking
    HRESULT GetCapabilities(DWORD* caps) override;
    HRESULT CheckCapabilities(DWORD* caps) override;
    HRESULT IsFormatSupported(const GUID* format) override;
    HRESULT QueryPreferredFormat(GUID* format) override;
    HRESULT GetTimeFormat(GUID* format) override;
    HRESULT IsUsingTimeFormat(const GUID* format) override;
    HRESULT SetTimeFormat(const GUID* format) override;
    HRESULT GetDuration(LONGLONG* duration) override;
    HRESULT GetStopPosition(LONGLONG* stop) override;
    HRESULT GetCurrentPosition(LONGLONG* current) override;
    HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* target_format, LONGLONG source,
                              const GUID* source_format) override;
    HRESULT SetPositions(LONGLONG* current, DWORD current_flags, LONGLONG* stop,
                         DWORD stop_flags) override;
    HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
    HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    HRESULT SetRate(double rate) override;
    HRESULT GetRate(double* rate) override;
    HRESULT GetPreroll(LONGLONG* preroll) override;

private:
    struct Entry {
        ComPtr<IBaseFilter> filter;
        std::u16string name;
    };
    struct Event {
        LONG code;
        LONG_PTR param1;
        LONG_PTR param2;
    };

    bool Contains(IBaseFilter* filter) const;
    bool PinInGraph(IPin* pin) const;
    std::u16string UniqueName(std::u16string name) const;
    std::vector<ComPtr<IBaseFilter>> DownstreamFirst() const;
    void DisconnectAll(IBaseFilter* filter);
    HRESULT ConnectThroughTransforms(IPin* out, IPin* in, int depth);
    HRESULT RenderPin(IPin* out, int depth, bool existing_renderers_only);
    std::vector<ClassEntry> Candidates() const;
    ComPtr<IBaseFilter> CreateAndAdd(const ClassEntry& entry);
    REFERENCE_TIME Now() const;
    ComPtr<IMediaSeeking> SeekingSource() const;
    REFERENCE_TIME StreamTimeLocked() const;
    HRESULT PauseFilters();
    // Stop's first step: the live sources end their capture and hand on
    // what they hold.
    void EndLiveCapture();
    void Log(const std::string& line);
    void Queue(LONG code, LONG_PTR param1, LONG_PTR param2);
    // Frees the parameters of every queued event and empties the queue.
    void DropEvents();
    // Events whose first parameter is an object the queue holds a reference
    // on until FreeEventParams.
    static bool HoldsUnknown(LONG code) { return code == EC_DEVICE_LOST; }

    mutable std::recursive_mutex m_lock;
    // Guarded by m_lock.
    std::vector<Entry> m_filters;
    ComPtr<IReferenceClock> m_clock;
    FILTER_STATE m_state = State_Stopped;
    REFERENCE_TIME m_start = 0;               // Clock time at stream time zero.
    REFERENCE_TIME m_paused_stream_time = 0;  // Stream time frozen while paused.
    REFERENCE_TIME m_segment_start = 0;       // Media position at stream time zero.
    int m_log_fd = -1;

    std::mutex m_event_lock;
    std::condition_variable m_event_cv;
    // Guarded by m_event_lock.
    std::deque<Event> m_events;
    win::HWND m_notify_window = nullptr;
    LONG m_notify_message = 0;
    LONG_PTR m_notify_instance = 0;
    LONG m_notify_flags = 0;
    bool m_running_for_events = false;
    size_t m_renderers = 0;
    std::set<LONG_PTR> m_completed;
    bool m_default_complete = true;
};

FilterGraph::~FilterGraph() {
    std::lock_guard guard(m_lock);
    Stop();
    for (Entry& e : m_filters)
        DisconnectAll(e.filter.Get());
    for (Entry& e : m_filters)
        e.filter->JoinFilterGraph(nullptr, nullptr);
    m_filters.clear();
    DropEvents();
    if (m_log_fd >= 0)
        ::close(m_log_fd);
}

void FilterGraph::Log(const std::string& line) {
    std::lock_guard guard(m_lock);
    if (m_log_fd < 0)
        return;
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(m_log_fd, text.data() + done, text.size() - done);
        if (n <= 0)
            break;  // The log is best effort; a full disk must not fail building.
        done += static_cast<size_t>(n);
    }
}

HRESULT FilterGraph::SetLogFile(uintptr_t file) {
    std::lock_guard guard(m_lock);
    if (m_log_fd >= 0)
        ::close(m_log_fd);
    m_log_fd = -1;
    if (file == 0)
        return S_OK;
    m_log_fd = ::dup(static_cast<int>(file));
    if (m_log_fd < 0)
        return HResultFromErrno(errno);
    Log("Log started");
    return S_OK;
}

bool FilterGraph::Contains(IBaseFilter* filter) const {
    std::lock_guard guard(m_lock);
    return std::any_of(m_filters.begin(), m_filters.end(),
                       [&](const Entry& e) { return e.filter.Get() == filter; });
}

bool FilterGraph::PinInGraph(IPin* pin) const {
    ComPtr<IBaseFilter> filter = PinFilter(pin);
    return filter && Contains(filter.Get());
}

std::u16string FilterGraph::UniqueName(std::u16string name) const {
    auto taken = [&](const std::u16string& n) {
        return std::any_of(m_filters.begin(), m_filters.end(),
                           [&](const Entry& e) { return e.name == n; });
    };
    if (name.size() > MAX_FILTER_NAME - 6)
        name.resize(MAX_FILTER_NAME - 6);
    if (!taken(name))
        return name;
    for (int i = 1; i < 10000; ++i) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, " %04d", i);
        std::u16string candidate = name + ToUtf16(suffix);
        if (!taken(candidate))
            return candidate;
    }
    return name;
}

HRESULT FilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
    if (!filter)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    if (Contains(filter))
        return E_INVALIDARG;
    std::u16string wanted(WideView(name));
    if (wanted.empty()) {
        GUID clsid{};
        filter->GetClassID(&clsid);
        auto entry = ClassRegistry::Instance().Find(clsid);
        wanted = entry ? ToUtf16(entry->friendly_name) : u"Filter";
    }
    const std::u16string unique = UniqueName(wanted);
    HRESULT hr = filter->JoinFilterGraph(this, unique.c_str());
    if (SUCCEEDED(hr)) {
        filter->SetSyncSource(m_clock.Get());
        m_filters.push_back({ComPtr<IBaseFilter>(filter), unique});
        if (unique != wanted)
            hr = VFW_S_DUPLICATE_NAME;
    }
    GUID clsid{};
    filter->GetClassID(&clsid);
    Log("AddFilter \"" + ToUtf8(unique) + "\" " + clsid.ToString() + ": " + HrText(hr));
    return hr;
}

void FilterGraph::DisconnectAll(IBaseFilter* filter) {
    for (ComPtr<IPin>& pin : FilterPins(filter)) {
        ComPtr<IPin> peer;
        if (SUCCEEDED(pin->ConnectedTo(peer.ReleaseAndGetAddressOf())) && peer) {
            // Upstream side first: a running producer is flushed and the
            // consumer sees end of stream on that pin.
            if (PinDirection(pin.Get()) == PINDIR_INPUT) {
                peer->Disconnect();
                pin->Disconnect();
            } else {
                pin->Disconnect();
                peer->Disconnect();
            }
        }
    }
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter* filter) {
    if (!filter)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    auto it = std::find_if(m_filters.begin(), m_filters.end(),
                           [&](const Entry& e) { return e.filter.Get() == filter; });
    if (it == m_filters.end())
        return VFW_E_NOT_FOUND;
    ComPtr<IBaseFilter> keep = it->filter;
    const std::u16string name = it->name;
    // Its own threads end first, so nothing of it streams while its
    // neighbours are disconnected from it.
    keep->Stop();
    DisconnectAll(keep.Get());
    // A pin of another filter may still point at it when only the removed
    // filter's side was disconnected before: let go of it too, so nothing
    // in the graph keeps streaming into (or holding) the removed filter.
    for (Entry& e : m_filters) {
        if (e.filter == keep)
            continue;
        for (ComPtr<IPin>& pin : FilterPins(e.filter.Get())) {
            ComPtr<IPin> peer;
            if (SUCCEEDED(pin->ConnectedTo(peer.ReleaseAndGetAddressOf())) && peer &&
                PinFilter(peer.Get()) == keep)
                pin->Disconnect();
        }
    }
    keep->JoinFilterGraph(nullptr, nullptr);
    m_filters.erase(std::find_if(m_filters.begin(), m_filters.end(),
                                 [&](const Entry& e) { return e.filter == keep; }));
    Log("RemoveFilter \"" + ToUtf8(name) + "\": " + HrText(S_OK));
    return S_OK;
}

HRESULT FilterGraph::EnumFilters(IEnumFilters** out) {
    if (!out)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    std::vector<ComPtr<IBaseFilter>> filters;
    for (Entry& e : m_filters)
        filters.push_back(e.filter);
    *out = new FilterEnumerator(std::move(filters));
    return S_OK;
}

HRESULT FilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter** out) {
    if (!name || !out)
        return E_POINTER;
    *out = nullptr;
    std::lock_guard guard(m_lock);
    for (Entry& e : m_filters) {
        if (e.name == WideView(name)) {
            *out = e.filter.Get();
            (*out)->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FilterGraph::ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) {
    if (!out || !in)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    if (!PinInGraph(out) || !PinInGraph(in))
        return VFW_E_NOT_IN_GRAPH;
    if (PinDirection(out) != PINDIR_OUTPUT || PinDirection(in) != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    const HRESULT hr = out->Connect(in, mt);
    std::string type = mt ? " " + DescribeMediaType(*mt) : "";
    if (SUCCEEDED(hr)) {
        AM_MEDIA_TYPE connected{};
        if (SUCCEEDED(out->ConnectionMediaType(&connected))) {
            type = " " + DescribeMediaType(connected);
            FreeMediaType(connected);
        }
    }
    Log("Connect " + PinLabel(out) + " -> " + PinLabel(in) + type + ": " + HrText(hr));
    return hr;
}

HRESULT FilterGraph::Disconnect(IPin* pin) {
    if (!pin)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    return pin->Disconnect();
}

HRESULT FilterGraph::ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mt) {
    if (!pin)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    ComPtr<IPin> peer;
    if (FAILED(pin->ConnectedTo(peer.ReleaseAndGetAddressOf())) || !peer)
        return VFW_E_NOT_CONNECTED;
    IPin* out = PinDirection(pin) == PINDIR_OUTPUT ? pin : peer.Get();
    IPin* in = out == pin ? peer.Get() : pin;
    MediaType old;
    out->ConnectionMediaType(&old.Get());
    out->Disconnect();
    in->Disconnect();
    HRESULT hr = ConnectDirect(out, in, mt ? mt : &old.Get());
    if (FAILED(hr) && mt)
        ConnectDirect(out, in, &old.Get());
    return hr;
}

HRESULT FilterGraph::SetDefaultSyncSource() {
    return SetSyncSource(MakeCom<SystemClock>().Get());
}

std::vector<ClassEntry> FilterGraph::Candidates() const {
    std::vector<ClassEntry> all = ClassRegistry::Instance().All();
    std::erase_if(all, [](const ClassEntry& e) { return e.merit <= MERIT_DO_NOT_USE; });
    std::stable_sort(all.begin(), all.end(),
                     [](const ClassEntry& a, const ClassEntry& b) { return a.merit > b.merit; });
    return all;
}

ComPtr<IBaseFilter> FilterGraph::CreateAndAdd(const ClassEntry& entry) {
    ComPtr<IBaseFilter> filter;
    if (!entry.create || FAILED(entry.create(IBaseFilter::iid, filter.OutVoid())) || !filter)
        return nullptr;
    if (FAILED(AddFilter(filter.Get(), ToUtf16(entry.friendly_name).c_str())))
        return nullptr;
    return filter;
}

HRESULT FilterGraph::Connect(IPin* out, IPin* in) {
    if (!out || !in)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    if (!PinInGraph(out) || !PinInGraph(in))
        return VFW_E_NOT_IN_GRAPH;
    HRESULT hr = ConnectDirect(out, in, nullptr);
    if (SUCCEEDED(hr))
        return hr;
    if (hr == VFW_E_ALREADY_CONNECTED || hr == VFW_E_NOT_STOPPED || hr == VFW_E_INVALID_DIRECTION)
        return hr;
    // The shortest chain that bridges the types, by merit within a length:
    // a converter of high merit whose output another one can take must not
    // put itself before one that bridges alone (YUV to RGB and on to the
    // MJPEG Compressor, where the compressor takes the YUV itself).
    for (int length = 1; length <= kMaxTransformChain; ++length)
        if (SUCCEEDED(hr = ConnectThroughTransforms(out, in, length)))
            break;
    Log("Connect (intelligent) " + PinLabel(out) + " -> " + PinLabel(in) + ": " + HrText(hr));
    return hr;
}

HRESULT FilterGraph::ConnectThroughTransforms(IPin* out, IPin* in, int depth) {
    if (depth <= 0)
        return VFW_E_CANNOT_CONNECT;
    for (const ClassEntry& entry : Candidates()) {
        ComPtr<IBaseFilter> transform = CreateAndAdd(entry);
        if (!transform)
            continue;
        bool done = false;
        for (ComPtr<IPin>& t_in : FilterPins(transform.Get())) {
            if (PinDirection(t_in.Get()) != PINDIR_INPUT || PinIsConnected(t_in.Get()))
                continue;
            if (FAILED(ConnectDirect(out, t_in.Get(), nullptr)))
                continue;
            // Its outputs exist now (some filters add them on connection).
            for (ComPtr<IPin>& t_out : FilterPins(transform.Get())) {
                if (PinDirection(t_out.Get()) != PINDIR_OUTPUT || PinIsConnected(t_out.Get()))
                    continue;
                if (SUCCEEDED(ConnectDirect(t_out.Get(), in, nullptr)) ||
                    SUCCEEDED(ConnectThroughTransforms(t_out.Get(), in, depth - 1))) {
                    done = true;
                    break;
                }
            }
            break;
        }
        if (done)
            return S_OK;
        RemoveFilter(transform.Get());  // Breaks its connections too.
    }
    return VFW_E_CANNOT_CONNECT;
}

HRESULT FilterGraph::Render(IPin* out) {
    if (!out)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    if (!PinInGraph(out))
        return VFW_E_NOT_IN_GRAPH;
    if (PinDirection(out) != PINDIR_OUTPUT)
        return VFW_E_INVALID_DIRECTION;
    if (PinIsConnected(out))
        return VFW_E_ALREADY_CONNECTED;
    const HRESULT hr = RenderPin(out, kMaxRenderDepth, false);
    Log("Render " + PinLabel(out) + ": " + HrText(hr));
    return hr;
}

HRESULT FilterGraph::RenderEx(IPin* out, DWORD flags, DWORD*) {
    if (!out)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    if (!(flags & 1))
        return Render(out);  // AM_RENDEREX_RENDERTOEXISTINGRENDERERS
    if (PinIsConnected(out))
        return VFW_E_ALREADY_CONNECTED;
    return RenderPin(out, kMaxRenderDepth, true);
}

HRESULT FilterGraph::RenderPin(IPin* out, int depth, bool existing_renderers_only) {
    if (depth <= 0)
        return VFW_E_CANNOT_RENDER;
    ComPtr<IBaseFilter> own = PinFilter(out);
    // 1. Renderers already in the graph: directly, then through transforms.
    std::vector<ComPtr<IBaseFilter>> renderers;
    for (Entry& e : m_filters)
        if (e.filter != own && IsRenderer(e.filter.Get()))
            renderers.push_back(e.filter);
    for (int pass = 0; pass < 2; ++pass) {
        for (ComPtr<IBaseFilter>& r : renderers) {
            for (ComPtr<IPin>& in : FilterPins(r.Get())) {
                if (PinDirection(in.Get()) != PINDIR_INPUT || PinIsConnected(in.Get()))
                    continue;
                const HRESULT hr = pass == 0 ? ConnectDirect(out, in.Get(), nullptr)
                                             : ConnectThroughTransforms(out, in.Get(), 2);
                if (SUCCEEDED(hr))
                    return S_OK;
            }
        }
    }
    if (existing_renderers_only)
        return VFW_E_CANNOT_RENDER;
    // 2. Registered filters by merit: a renderer ends the stream, any other
    // filter must have at least one of its outputs rendered in turn.
    for (const ClassEntry& entry : Candidates()) {
        ComPtr<IBaseFilter> filter = CreateAndAdd(entry);
        if (!filter)
            continue;
        bool connected = false;
        for (ComPtr<IPin>& in : FilterPins(filter.Get())) {
            if (PinDirection(in.Get()) != PINDIR_INPUT || PinIsConnected(in.Get()))
                continue;
            connected = SUCCEEDED(ConnectDirect(out, in.Get(), nullptr));
            if (connected)
                break;
        }
        if (connected) {
            bool any_output = false, rendered = false, partial = false;
            for (ComPtr<IPin>& next : FilterPins(filter.Get())) {
                if (PinDirection(next.Get()) != PINDIR_OUTPUT || PinIsConnected(next.Get()))
                    continue;
                any_output = true;
                if (SUCCEEDED(RenderPin(next.Get(), depth - 1, false)))
                    rendered = true;
                else
                    partial = true;
            }
            if (!any_output || rendered)
                return partial ? VFW_S_PARTIAL_RENDER : S_OK;
        }
        RemoveFilter(filter.Get());
    }
    return VFW_E_CANNOT_RENDER;
}

HRESULT FilterGraph::AddSourceFilter(LPCWSTR file, LPCWSTR filter_name, IBaseFilter** out) {
    if (!file || !out)
        return E_POINTER;
    *out = nullptr;
    std::lock_guard guard(m_lock);
    ComPtr<IBaseFilter> source;
    HRESULT hr = CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER,
                                  IBaseFilter::iid, source.OutVoid());
    if (SUCCEEDED(hr)) {
        ComPtr<IFileSourceFilter> loader = source.As<IFileSourceFilter>();
        hr = loader ? loader->Load(file, nullptr) : E_NOINTERFACE;
    }
    if (SUCCEEDED(hr))
        hr = AddFilter(source.Get(), filter_name ? filter_name : file);
    Log("AddSourceFilter \"" + ToUtf8(WideView(file)) + "\": " + HrText(hr));
    if (FAILED(hr))
        return hr;
    *out = source.Detach();
    return hr;
}

HRESULT FilterGraph::RenderFile(LPCWSTR file, LPCWSTR) {
    std::lock_guard guard(m_lock);
    ComPtr<IBaseFilter> source;
    HRESULT hr = AddSourceFilter(file, nullptr, source.ReleaseAndGetAddressOf());
    if (FAILED(hr))
        return hr;
    bool any = false, all = true;
    for (ComPtr<IPin>& pin : FilterPins(source.Get())) {
        if (PinDirection(pin.Get()) != PINDIR_OUTPUT)
            continue;
        const bool ok = SUCCEEDED(Render(pin.Get()));
        any = any || ok;
        all = all && ok;
    }
    return !any ? VFW_E_CANNOT_RENDER : all ? S_OK : VFW_S_PARTIAL_RENDER;
}

HRESULT FilterGraph::AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* ctx, LPCWSTR name,
                                               IBaseFilter** out) {
    if (!moniker || !out)
        return E_POINTER;
    *out = nullptr;
    ComPtr<IBaseFilter> filter;
    HRESULT hr = moniker->BindToObject(ctx, nullptr, IBaseFilter::iid, filter.OutVoid());
    if (FAILED(hr))
        return hr;
    hr = AddFilter(filter.Get(), name);
    if (FAILED(hr))
        return hr;
    *out = filter.Detach();
    return hr;
}

// ------------------------------------------------------------------ states

REFERENCE_TIME FilterGraph::Now() const {
    REFERENCE_TIME now = 0;
    if (m_clock)
        m_clock->GetTime(&now);
    else
        now = MonotonicNow100ns();
    return now;
}

std::vector<ComPtr<IBaseFilter>> FilterGraph::DownstreamFirst() const {
    // Depth-first over output connections, each filter after everything
    // downstream of it: renderers change state before their sources.
    std::vector<ComPtr<IBaseFilter>> order;
    std::set<IBaseFilter*> seen;
    auto visit = [&](auto& self, IBaseFilter* filter) -> void {
        if (!seen.insert(filter).second)
            return;
        for (ComPtr<IPin>& pin : FilterPins(filter)) {
            if (PinDirection(pin.Get()) != PINDIR_OUTPUT)
                continue;
            ComPtr<IPin> peer;
            if (FAILED(pin->ConnectedTo(peer.ReleaseAndGetAddressOf())) || !peer)
                continue;
            ComPtr<IBaseFilter> next = PinFilter(peer.Get());
            if (next && Contains(next.Get()))
                self(self, next.Get());
        }
        order.emplace_back(filter);
    };
    for (const Entry& e : m_filters)
        visit(visit, e.filter.Get());
    return order;
}

HRESULT FilterGraph::Pause() {
    std::lock_guard guard(m_lock);
    const HRESULT hr = PauseFilters();
    // An asked-for pause is reported once every filter took it; the pause
    // that Run passes through on its way is not.
    if (hr == S_OK)
        Queue(EC_PAUSED, S_OK, 0);
    return hr;
}

HRESULT FilterGraph::PauseFilters() {
    std::lock_guard guard(m_lock);
    HRESULT result = S_OK;
    if (m_state == State_Running)
        m_paused_stream_time = Now() - m_start;
    if (m_state == State_Stopped)
        m_paused_stream_time = 0;
    {
        std::lock_guard events(m_event_lock);
        m_running_for_events = false;
    }
    for (ComPtr<IBaseFilter>& f : DownstreamFirst()) {
        const HRESULT hr = f->Pause();
        if (FAILED(hr)) {
            Log("Pause failed: " + HrText(hr));
            Stop();
            return hr;
        }
        if (hr == S_FALSE)
            result = S_FALSE;
    }
    m_state = State_Paused;
    return result;
}

HRESULT FilterGraph::Run() {
    std::lock_guard guard(m_lock);
    if (m_state == State_Running)
        return S_OK;
    HRESULT result = S_OK;
    if (m_state == State_Stopped) {
        result = PauseFilters();
        if (FAILED(result))
            return result;
    }
    // Stream time goes on from where the pause froze it.
    return Run(Now() - m_paused_stream_time) == S_OK ? result : S_FALSE;
}

HRESULT FilterGraph::Run(REFERENCE_TIME start) {
    std::lock_guard guard(m_lock);
    if (m_state == State_Stopped) {
        HRESULT hr = PauseFilters();
        if (FAILED(hr))
            return hr;
    }
    m_start = start;
    size_t renderers = 0;
    for (Entry& e : m_filters) {
        if (!IsRenderer(e.filter.Get()))
            continue;
        for (ComPtr<IPin>& pin : FilterPins(e.filter.Get())) {
            if (PinDirection(pin.Get()) == PINDIR_INPUT && PinIsConnected(pin.Get())) {
                ++renderers;
                break;
            }
        }
    }
    {
        std::lock_guard events(m_event_lock);
        m_renderers = renderers;
        m_completed.clear();
        m_running_for_events = true;
    }
    HRESULT result = S_OK;
    for (ComPtr<IBaseFilter>& f : DownstreamFirst()) {
        const HRESULT hr = f->Run(start);
        if (FAILED(hr)) {
            Log("Run failed: " + HrText(hr));
            Stop();
            return hr;
        }
        if (hr == S_FALSE)
            result = S_FALSE;
    }
    m_state = State_Running;
    return result;
}

HRESULT FilterGraph::Stop() {
    std::lock_guard guard(m_lock);
    {
        std::lock_guard events(m_event_lock);
        m_running_for_events = false;
        m_completed.clear();
    }
    if (m_state != State_Stopped && SeekingSource()) {
        // A file graph keeps its place; a live graph's stream time ends.
        LONGLONG position = 0;
        if (SUCCEEDED(GetCurrentPosition(&position)))
            m_segment_start = position;
    }
    if (m_state != State_Stopped)
        EndLiveCapture();
    for (ComPtr<IBaseFilter>& f : DownstreamFirst())
        f->Stop();
    m_state = State_Stopped;
    m_paused_stream_time = 0;
    return S_OK;
}

void FilterGraph::EndLiveCapture() {
    // Every live source stops capturing at the same moment, then what each
    // captured before it reaches the filters below, which still run. A
    // source whose consumer does not take its frames within the budget has
    // the rest counted as dropped when it stops.
    std::vector<ComPtr<ILiveCaptureEnd>> sources;
    for (Entry& e : m_filters)
        if (ComPtr<ILiveCaptureEnd> source = e.filter.As<ILiveCaptureEnd>())
            sources.push_back(std::move(source));
    for (ComPtr<ILiveCaptureEnd>& source : sources)
        source->EndCapture();
    const auto deadline = std::chrono::steady_clock::now() + kCaptureDrainBudget;
    for (ComPtr<ILiveCaptureEnd>& source : sources) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        source->WaitDelivered(static_cast<DWORD>(std::max<int64_t>(0, left.count())));
    }
}

HRESULT FilterGraph::StopWhenReady() {
    return Stop();
}

HRESULT FilterGraph::GetState(LONG timeout_ms, OAFilterState* state) {
    FILTER_STATE s = State_Stopped;
    const HRESULT hr = GetState(static_cast<DWORD>(timeout_ms), &s);
    if (state)
        *state = s;
    return hr;
}

HRESULT FilterGraph::GetState(DWORD timeout_ms, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    *state = m_state;
    using clock = std::chrono::steady_clock;
    const bool infinite = timeout_ms == 0xFFFFFFFFu;
    const auto deadline = clock::now() + std::chrono::milliseconds(infinite ? 0 : timeout_ms);
    bool intermediate = false, cant_cue = false;
    for (Entry& e : m_filters) {
        DWORD left = 0;
        if (infinite) {
            left = 0xFFFFFFFFu;
        } else {
            const auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
            left = ms.count() > 0 ? static_cast<DWORD>(ms.count()) : 0;
        }
        FILTER_STATE fs = State_Stopped;
        const HRESULT hr = e.filter->GetState(left, &fs);
        if (hr == VFW_S_STATE_INTERMEDIATE)
            intermediate = true;
        if (hr == VFW_S_CANT_CUE)
            cant_cue = true;
    }
    if (intermediate)
        return VFW_S_STATE_INTERMEDIATE;
    if (cant_cue && m_state == State_Paused)
        return VFW_S_CANT_CUE;
    return S_OK;
}

HRESULT FilterGraph::GetClassID(GUID* clsid) {
    if (!clsid)
        return E_POINTER;
    *clsid = CLSID_FilterGraph;
    return S_OK;
}

HRESULT FilterGraph::SetSyncSource(IReferenceClock* clock) {
    std::lock_guard guard(m_lock);
    if (m_state != State_Stopped)
        return VFW_E_NOT_STOPPED;
    m_clock = clock;
    for (Entry& e : m_filters)
        e.filter->SetSyncSource(clock);
    return S_OK;
}

HRESULT FilterGraph::GetSyncSource(IReferenceClock** clock) {
    if (!clock)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    *clock = m_clock.Get();
    if (*clock)
        (*clock)->AddRef();
    return S_OK;
}

// ------------------------------------------------------------------ events

HRESULT FilterGraph::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
    if (code == EC_COMPLETE) {
        std::unique_lock guard(m_event_lock);
        if (m_default_complete) {
            // One EC_COMPLETE for the graph, once every renderer finished.
            if (!m_running_for_events)
                return S_OK;
            m_completed.insert(param2);
            if (m_completed.size() < m_renderers)
                return S_OK;
            m_running_for_events = false;
            param2 = 0;
        }
    }
    Queue(code, param1, param2);
    return S_OK;
}

void FilterGraph::Queue(LONG code, LONG_PTR param1, LONG_PTR param2) {
    win::HWND window = nullptr;
    LONG message = 0;
    LONG_PTR instance = 0;
    {
        std::lock_guard guard(m_event_lock);
        if (m_notify_flags & AM_MEDIAEVENT_NONOTIFY)
            return;
        // The event keeps the object it names alive until it is freed.
        if (HoldsUnknown(code) && param1)
            reinterpret_cast<IUnknown*>(param1)->AddRef();
        m_events.push_back({code, param1, param2});
        window = m_notify_window;
        message = m_notify_message;
        instance = m_notify_instance;
    }
    m_event_cv.notify_all();
    // Posting never waits for the window's thread.
    if (window)
        win::PostMessage(window, static_cast<win::UINT>(message), 0, instance);
}

HRESULT FilterGraph::GetEventHandle(OAEVENT* handle) {
    if (!handle)
        return E_POINTER;
    *handle = 0;
    return E_NOTIMPL;
}

HRESULT FilterGraph::GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeout_ms) {
    if (!code || !param1 || !param2)
        return E_POINTER;
    std::unique_lock guard(m_event_lock);
    auto ready = [&] { return !m_events.empty(); };
    if (timeout_ms < 0)
        m_event_cv.wait(guard, ready);
    else if (!m_event_cv.wait_for(guard, std::chrono::milliseconds(timeout_ms), ready)) {
        *code = 0;
        *param1 = *param2 = 0;
        return E_ABORT;
    }
    const Event e = m_events.front();
    m_events.pop_front();
    *code = e.code;
    *param1 = e.param1;
    *param2 = e.param2;
    return S_OK;
}

HRESULT FilterGraph::WaitForCompletion(LONG timeout_ms, LONG* code) {
    if (!code)
        return E_POINTER;
    *code = 0;
    std::unique_lock guard(m_event_lock);
    auto done = [&] {
        return std::any_of(m_events.begin(), m_events.end(), [](const Event& e) {
            return e.code == EC_COMPLETE || e.code == EC_ERRORABORT || e.code == EC_USERABORT;
        });
    };
    if (timeout_ms < 0)
        m_event_cv.wait(guard, done);
    else if (!m_event_cv.wait_for(guard, std::chrono::milliseconds(timeout_ms), done))
        return E_ABORT;
    for (auto it = m_events.begin(); it != m_events.end(); ++it) {
        if (it->code == EC_COMPLETE || it->code == EC_ERRORABORT || it->code == EC_USERABORT) {
            *code = it->code;
            m_events.erase(it);
            break;
        }
    }
    return S_OK;
}

HRESULT FilterGraph::CancelDefaultHandling(LONG code) {
    std::lock_guard guard(m_event_lock);
    if (code != EC_COMPLETE)
        return S_FALSE;
    m_default_complete = false;
    return S_OK;
}

HRESULT FilterGraph::RestoreDefaultHandling(LONG code) {
    std::lock_guard guard(m_event_lock);
    if (code != EC_COMPLETE)
        return S_FALSE;
    m_default_complete = true;
    return S_OK;
}

HRESULT FilterGraph::FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR) {
    if (HoldsUnknown(code) && param1)
        reinterpret_cast<IUnknown*>(param1)->Release();
    return S_OK;
}

void FilterGraph::DropEvents() {
    std::deque<Event> events;
    {
        std::lock_guard guard(m_event_lock);
        events.swap(m_events);
    }
    for (const Event& e : events)
        FreeEventParams(e.code, e.param1, e.param2);
}

HRESULT FilterGraph::SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) {
    std::lock_guard guard(m_event_lock);
    m_notify_window = reinterpret_cast<win::HWND>(window);
    m_notify_message = message;
    m_notify_instance = instance;
    return S_OK;
}

HRESULT FilterGraph::SetNotifyFlags(LONG no_notify_flags) {
    if (no_notify_flags != 0 && no_notify_flags != AM_MEDIAEVENT_NONOTIFY)
        return E_INVALIDARG;
    {
        std::lock_guard guard(m_event_lock);
        m_notify_flags = no_notify_flags;
    }
    if (no_notify_flags)
        DropEvents();
    return S_OK;
}

HRESULT FilterGraph::GetNotifyFlags(LONG* no_notify_flags) {
    if (!no_notify_flags)
        return E_POINTER;
    std::lock_guard guard(m_event_lock);
    *no_notify_flags = m_notify_flags;
    return S_OK;
}

// ----------------------------------------------------------------- seeking

ComPtr<IMediaSeeking> FilterGraph::SeekingSource() const {
    // The first filter that can seek, asked once (through the filter or its
    // first seekable output pin), so a source is never seeked per pin.
    for (const Entry& e : m_filters) {
        ComPtr<IMediaSeeking> seeking = e.filter.As<IMediaSeeking>();
        if (!seeking) {
            for (ComPtr<IPin>& pin : FilterPins(e.filter.Get())) {
                if (PinDirection(pin.Get()) != PINDIR_OUTPUT)
                    continue;
                seeking = pin.As<IMediaSeeking>();
                if (seeking)
                    break;
            }
        }
        DWORD caps = 0;
        if (seeking && SUCCEEDED(seeking->GetCapabilities(&caps)) &&
            (caps & AM_SEEKING_CanSeekAbsolute))
            return seeking;
    }
    return nullptr;
}

REFERENCE_TIME FilterGraph::StreamTimeLocked() const {
    switch (m_state) {
        case State_Running:
            return std::max<REFERENCE_TIME>(0, Now() - m_start);
        case State_Paused:
            return m_paused_stream_time;
        default:
            return 0;
    }
}

HRESULT FilterGraph::GetCapabilities(DWORD* caps) {
    if (!caps)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    if (ComPtr<IMediaSeeking> s = SeekingSource())
        return s->GetCapabilities(caps);
    *caps = AM_SEEKING_CanGetCurrentPos;
    return S_OK;
}

HRESULT FilterGraph::CheckCapabilities(DWORD* caps) {
    if (!caps)
        return E_POINTER;
    DWORD have = 0;
    GetCapabilities(&have);
    const DWORD wanted = *caps;
    *caps &= have;
    return *caps == wanted ? S_OK : (*caps ? S_FALSE : E_FAIL);
}

HRESULT FilterGraph::IsFormatSupported(const GUID* format) {
    if (!format)
        return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT FilterGraph::QueryPreferredFormat(GUID* format) {
    return GetTimeFormat(format);
}

HRESULT FilterGraph::GetTimeFormat(GUID* format) {
    if (!format)
        return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT FilterGraph::IsUsingTimeFormat(const GUID* format) {
    return IsFormatSupported(format);
}

HRESULT FilterGraph::SetTimeFormat(const GUID* format) {
    if (!format)
        return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT FilterGraph::GetDuration(LONGLONG* duration) {
    if (!duration)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    if (ComPtr<IMediaSeeking> s = SeekingSource())
        return s->GetDuration(duration);
    *duration = 0;
    return E_NOTIMPL;  // A live graph has no duration.
}

HRESULT FilterGraph::GetStopPosition(LONGLONG* stop) {
    if (!stop)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    if (ComPtr<IMediaSeeking> s = SeekingSource())
        return s->GetStopPosition(stop);
    *stop = 0;
    return E_NOTIMPL;
}

HRESULT FilterGraph::GetCurrentPosition(LONGLONG* current) {
    if (!current)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    ComPtr<IMediaSeeking> s = SeekingSource();
    if (!s) {
        // A live graph: the position is the running stream time.
        *current = StreamTimeLocked();
        return S_OK;
    }
    LONGLONG position = m_segment_start + StreamTimeLocked();
    LONGLONG stop = 0;
    if (SUCCEEDED(s->GetStopPosition(&stop)) && stop > 0)
        position = std::min(position, stop);
    *current = position;
    return S_OK;
}

HRESULT FilterGraph::ConvertTimeFormat(LONGLONG* target, const GUID* target_format, LONGLONG source,
                                       const GUID* source_format) {
    if (!target)
        return E_POINTER;
    const bool target_ok = !target_format || *target_format == TIME_FORMAT_MEDIA_TIME;
    const bool source_ok = !source_format || *source_format == TIME_FORMAT_MEDIA_TIME;
    if (!target_ok || !source_ok)
        return E_INVALIDARG;
    *target = source;
    return S_OK;
}

HRESULT FilterGraph::SetPositions(LONGLONG* current, DWORD current_flags, LONGLONG* stop,
                                  DWORD stop_flags) {
    std::lock_guard guard(m_lock);
    ComPtr<IMediaSeeking> s = SeekingSource();
    if (!s)
        return E_NOTIMPL;
    const DWORD how = current_flags & AM_SEEKING_PositioningBitsMask;
    LONGLONG target = 0;
    if (how != AM_SEEKING_NoPositioning) {
        if (!current)
            return E_POINTER;
        LONGLONG now = 0;
        GetCurrentPosition(&now);
        target = how == AM_SEEKING_RelativePositioning ? now + *current : *current;
        target = std::max<LONGLONG>(target, 0);
    }
    if (how != AM_SEEKING_NoPositioning) {
        // The renderers reach the end of the new segment again: a graph that
        // had completed completes once more (a seek after the end plays on).
        // Armed before the source seeks, since its new segment may reach
        // every renderer's end before SetPositions returns.
        std::lock_guard events(m_event_lock);
        m_completed.clear();
        m_running_for_events = m_state == State_Running;
    }
    LONGLONG new_current = target;
    const HRESULT hr = s->SetPositions(
        how != AM_SEEKING_NoPositioning ? &new_current : nullptr,
        how != AM_SEEKING_NoPositioning
            ? (current_flags & ~AM_SEEKING_PositioningBitsMask) | AM_SEEKING_AbsolutePositioning
            : AM_SEEKING_NoPositioning,
        stop, stop_flags);
    if (FAILED(hr) || how == AM_SEEKING_NoPositioning)
        return hr;
    // The new segment starts at stream time zero: rebase the stream time so
    // playback goes on from the new position at once.
    m_segment_start = target;
    if (m_state == State_Running) {
        const REFERENCE_TIME start = Now();
        m_start = start;
        for (ComPtr<IBaseFilter>& f : DownstreamFirst())
            f->Run(start);
    } else {
        m_paused_stream_time = 0;
    }
    if (current)
        *current = target;
    return hr;
}

HRESULT FilterGraph::GetPositions(LONGLONG* current, LONGLONG* stop) {
    if (current) {
        HRESULT hr = GetCurrentPosition(current);
        if (FAILED(hr))
            return hr;
    }
    if (stop)
        return GetStopPosition(stop);
    return S_OK;
}

HRESULT FilterGraph::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    std::lock_guard guard(m_lock);
    if (ComPtr<IMediaSeeking> s = SeekingSource())
        return s->GetAvailable(earliest, latest);
    if (earliest)
        *earliest = 0;
    if (latest)
        *latest = StreamTimeLocked();
    return S_OK;
}

HRESULT FilterGraph::SetRate(double rate) {
    return rate == 1.0 ? S_OK : E_NOTIMPL;
}

HRESULT FilterGraph::GetRate(double* rate) {
    if (!rate)
        return E_POINTER;
    *rate = 1.0;
    return S_OK;
}

HRESULT FilterGraph::GetPreroll(LONGLONG* preroll) {
    if (!preroll)
        return E_POINTER;
    *preroll = 0;
    return S_OK;
}

}  // namespace

ComPtr<IFilterGraph2> CreateFilterGraph() {
    return ComPtr<IFilterGraph2>::Adopt(new FilterGraph());
}

HRESULT CreateFilterGraphInstance(REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    return graph->QueryInterface(riid, out);
}

}  // namespace ronvix::media
