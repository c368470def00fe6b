#include "platform/media/core/filter.h"

#include <cstdlib>
#include <cstring>

#include "platform/media/core/enumerators.h"
#include "platform/media/core/sample.h"

namespace ronvix::media {

using namespace com;

void CopyName(std::u16string_view name, WCHAR* dst, size_t capacity) {
    const size_t n = std::min(name.size(), capacity - 1);
    std::copy_n(name.data(), n, dst);
    dst[n] = 0;
}

// ---------------------------------------------------------------- BasePin

BasePin::BasePin(BaseFilter& filter, PIN_DIRECTION dir, std::u16string name, const GUID& category)
    : m_filter(filter), m_dir(dir), m_name(std::move(name)), m_category(category) {}

BasePin::~BasePin() = default;

HRESULT BasePin::QueryInterface(REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IPin::iid) {
        *out = static_cast<IPin*>(this);
    } else if (riid == IKsPropertySet::iid) {
        *out = static_cast<IKsPropertySet*>(this);
    } else {
        return QueryPinInterface(riid, out);
    }
    AddRef();
    return S_OK;
}

ULONG BasePin::AddRef() {
    return m_filter.AddRef();
}
ULONG BasePin::Release() {
    return m_filter.Release();
}

HRESULT BasePin::QueryPinInterface(REFIID, void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
}

bool BasePin::IsConnected() const {
    std::lock_guard guard(m_pin_lock);
    return m_peer != nullptr;
}

ComPtr<IPin> BasePin::Peer() const {
    std::lock_guard guard(m_pin_lock);
    return m_peer;
}

MediaType BasePin::ConnectionType() const {
    std::lock_guard guard(m_pin_lock);
    return m_mt;
}

HRESULT BasePin::ConnectedTo(IPin** pin) {
    if (!pin)
        return E_POINTER;
    std::lock_guard guard(m_pin_lock);
    *pin = m_peer.Get();
    if (!*pin)
        return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

HRESULT BasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt)
        return E_POINTER;
    std::lock_guard guard(m_pin_lock);
    if (!m_peer) {
        *mt = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(mt, &m_mt.Get());
}

HRESULT BasePin::QueryPinInfo(PIN_INFO* info) {
    if (!info)
        return E_POINTER;
    info->pFilter = &m_filter;
    m_filter.AddRef();
    info->dir = m_dir;
    CopyName(m_name, info->achName, MAX_PIN_NAME);
    return S_OK;
}

HRESULT BasePin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir)
        return E_POINTER;
    *dir = m_dir;
    return S_OK;
}

HRESULT BasePin::QueryId(LPWSTR* id) {
    if (!id)
        return E_POINTER;
    *id = CoTaskMemDup(m_name);
    return *id ? S_OK : E_OUTOFMEMORY;
}

HRESULT BasePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt)
        return E_POINTER;
    return SUCCEEDED(CheckMediaType(*mt)) ? S_OK : S_FALSE;
}

HRESULT BasePin::EnumMediaTypes(IEnumMediaTypes** out) {
    if (!out)
        return E_POINTER;
    *out = new MediaTypeEnumerator(OfferedTypes());
    return S_OK;
}

HRESULT BasePin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}

HRESULT BasePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
    return S_OK;
}

HRESULT BasePin::Set(const GUID&, DWORD, void*, DWORD, void*, DWORD) {
    return E_NOTIMPL;
}

HRESULT BasePin::Get(const GUID& set, DWORD id, void*, DWORD, void* data, DWORD data_size,
                     DWORD* returned) {
    if (set != AMPROPSETID_Pin)
        return HRESULT_FROM_WIN32(1168);  // Set not supported.
    if (id != AMPROPERTY_PIN_CATEGORY)
        return HRESULT_FROM_WIN32(1168);
    if (!data)
        return E_POINTER;
    if (data_size < sizeof(GUID))
        return E_UNEXPECTED;
    std::memcpy(data, &m_category, sizeof(GUID));
    if (returned)
        *returned = sizeof(GUID);
    return S_OK;
}

HRESULT BasePin::QuerySupported(const GUID& set, DWORD id, DWORD* support) {
    if (set != AMPROPSETID_Pin || id != AMPROPERTY_PIN_CATEGORY)
        return HRESULT_FROM_WIN32(1168);
    if (support)
        *support = 1;  // Get only.
    return S_OK;
}

// ----------------------------------------------------------- BaseInputPin

BaseInputPin::BaseInputPin(BaseFilter& filter, std::u16string name)
    : BasePin(filter, PINDIR_INPUT, std::move(name)) {}

HRESULT BaseInputPin::QueryInterface(REFIID riid, void** out) {
    if (out && riid == IMemInputPin::iid) {
        *out = static_cast<IMemInputPin*>(this);
        AddRef();
        return S_OK;
    }
    return BasePin::QueryInterface(riid, out);
}

HRESULT BaseInputPin::Connect(IPin*, const AM_MEDIA_TYPE*) {
    // Connections are made from the output side.
    return E_UNEXPECTED;
}

HRESULT BaseInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (!connector || !mt)
        return E_POINTER;
    std::lock_guard control(m_filter.ControlLock());
    if (IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (m_filter.State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    PIN_DIRECTION dir = PINDIR_INPUT;
    connector->QueryDirection(&dir);
    if (dir != PINDIR_OUTPUT)
        return VFW_E_INVALID_DIRECTION;
    if (FAILED(CheckMediaType(*mt)))
        return VFW_E_TYPE_NOT_ACCEPTED;
    {
        std::lock_guard guard(m_pin_lock);
        m_peer = connector;
        m_mt = MediaType(*mt);
        m_eos = false;
        m_flushing = false;
    }
    m_filter.OnConnected(*this);
    return S_OK;
}

HRESULT BaseInputPin::Disconnect() {
    std::lock_guard control(m_filter.ControlLock());
    if (!IsConnected())
        return S_FALSE;
    if (m_filter.State() != State_Stopped) {
        bool already_ended = false;
        {
            std::lock_guard guard(m_pin_lock);
            already_ended = m_eos;
            m_eos = true;
            m_stop.request_stop();
        }
        if (!already_ended)
            m_filter.OnEndOfStream(*this);
    }
    {
        std::lock_guard guard(m_pin_lock);
        m_peer = nullptr;
        m_mt = MediaType();
        m_allocator = nullptr;
        m_eos = false;
        m_flushing = false;
    }
    m_filter.OnDisconnected(*this);
    return S_OK;
}

HRESULT BaseInputPin::EndOfStream() {
    {
        std::lock_guard guard(m_pin_lock);
        if (!m_peer || m_flushing || m_eos)
            return S_OK;
        m_eos = true;
    }
    m_filter.OnEndOfStream(*this);
    return S_OK;
}

HRESULT BaseInputPin::BeginFlush() {
    {
        std::lock_guard guard(m_pin_lock);
        m_flushing = true;
        m_stop.request_stop();
    }
    m_filter.OnBeginFlush(*this);
    return S_OK;
}

HRESULT BaseInputPin::EndFlush() {
    {
        std::lock_guard guard(m_pin_lock);
        m_flushing = false;
        m_eos = false;
        if (m_active)
            m_stop = std::stop_source();
    }
    m_filter.OnEndFlush(*this);
    return S_OK;
}

HRESULT BaseInputPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator)
        return E_POINTER;
    *allocator = nullptr;
    // The upstream pin makes its own pool.
    return VFW_E_NO_ALLOCATOR;
}

HRESULT BaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
    if (!allocator)
        return E_POINTER;
    std::lock_guard guard(m_pin_lock);
    m_allocator = allocator;
    return S_OK;
}

HRESULT BaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
    return E_NOTIMPL;
}

HRESULT BaseInputPin::Receive(IMediaSample* sample) {
    if (!sample)
        return E_POINTER;
    {
        std::lock_guard guard(m_pin_lock);
        if (!m_peer)
            return VFW_E_NOT_CONNECTED;
        if (!m_active)
            return VFW_E_WRONG_STATE;
        if (m_flushing)
            return S_FALSE;
        if (m_eos)
            return VFW_E_SAMPLE_REJECTED_EOS;
    }
    return m_filter.OnReceive(*this, sample);
}

HRESULT BaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
    if (!samples || !processed)
        return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    while (*processed < count) {
        hr = Receive(samples[*processed]);
        if (hr != S_OK)
            break;
        ++*processed;
    }
    return hr;
}

HRESULT BaseInputPin::ReceiveCanBlock() {
    return S_OK;
}

HRESULT BaseInputPin::SetActive(bool active) {
    std::lock_guard guard(m_pin_lock);
    m_active = active;
    if (active) {
        m_stop = std::stop_source();
        m_eos = false;
        m_flushing = false;
    } else {
        m_stop.request_stop();
    }
    return S_OK;
}

std::stop_token BaseInputPin::StopToken() const {
    std::lock_guard guard(m_pin_lock);
    return m_stop.get_token();
}

bool BaseInputPin::IsFlushing() const {
    std::lock_guard guard(m_pin_lock);
    return m_flushing;
}

bool BaseInputPin::ReachedEndOfStream() const {
    std::lock_guard guard(m_pin_lock);
    return m_eos;
}

// ---------------------------------------------------------- BaseOutputPin

BaseOutputPin::BaseOutputPin(BaseFilter& filter, std::u16string name, const GUID& category)
    : BasePin(filter, PINDIR_OUTPUT, std::move(name), category) {}

HRESULT BaseOutputPin::Connect(IPin* receive_pin, const AM_MEDIA_TYPE* mt) {
    if (!receive_pin)
        return E_POINTER;
    std::lock_guard control(m_filter.ControlLock());
    if (IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (m_filter.State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    PIN_DIRECTION dir = PINDIR_OUTPUT;
    receive_pin->QueryDirection(&dir);
    if (dir != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    if (mt && IsComplete(*mt))
        return AttemptConnection(receive_pin, *mt);

    // The receiving pin's preferences first, then ours.
    std::vector<MediaType> candidates;
    ComPtr<IEnumMediaTypes> types;
    if (SUCCEEDED(receive_pin->EnumMediaTypes(types.ReleaseAndGetAddressOf())) && types) {
        AM_MEDIA_TYPE* t = nullptr;
        while (types->Next(1, &t, nullptr) == S_OK) {
            candidates.emplace_back(*t);
            DeleteMediaType(t);
        }
    }
    for (MediaType& t : OfferedTypes())
        candidates.push_back(std::move(t));
    for (const MediaType& t : candidates) {
        if (!MatchesPartial(t.Get(), mt))
            continue;
        if (SUCCEEDED(AttemptConnection(receive_pin, t.Get())))
            return S_OK;
    }
    return mt ? VFW_E_TYPE_NOT_ACCEPTED : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT BaseOutputPin::AttemptConnection(IPin* receive_pin, const AM_MEDIA_TYPE& mt) {
    if (FAILED(CheckMediaType(mt)))
        return VFW_E_TYPE_NOT_ACCEPTED;
    ComPtr<IMemInputPin> input;
    if (FAILED(receive_pin->QueryInterface(IMemInputPin::iid, input.OutVoid())))
        return VFW_E_NO_TRANSPORT;
    {
        std::lock_guard guard(m_pin_lock);
        m_peer = receive_pin;
        m_mt = MediaType(mt);
    }
    HRESULT hr = receive_pin->ReceiveConnection(this, &mt);
    if (FAILED(hr)) {
        ClearConnection();
        return hr;
    }
    hr = DecideAllocator(input.Get());
    if (FAILED(hr)) {
        receive_pin->Disconnect();
        ClearConnection();
        return hr;
    }
    {
        std::lock_guard guard(m_pin_lock);
        m_input = input;
    }
    m_filter.OnConnected(*this);
    return S_OK;
}

HRESULT BaseOutputPin::DecideBufferSize(ALLOCATOR_PROPERTIES& props) {
    // A sensible default for a producing pin: a few buffers of one sample.
    const MediaType mt = ConnectionType();
    LONG size = static_cast<LONG>(mt->lSampleSize);
    if (const VIDEOINFOHEADER* vih = mt.VideoInfo())
        size = std::max<LONG>(size, static_cast<LONG>(vih->bmiHeader.biSizeImage));
    props.cBuffers = std::max<LONG>(props.cBuffers, 4);
    props.cbBuffer = std::max<LONG>(props.cbBuffer, std::max<LONG>(size, 4096));
    return S_OK;
}

HRESULT BaseOutputPin::DecideAllocator(IMemInputPin* input) {
    ALLOCATOR_PROPERTIES props{};
    input->GetAllocatorRequirements(&props);
    HRESULT hr = DecideBufferSize(props);
    if (FAILED(hr))
        return hr;
    if (hr == S_FALSE)
        return S_OK;  // Pass-through: no pool of our own.
    ComPtr<IMemAllocator> allocator;
    ALLOCATOR_PROPERTIES actual{};
    if (SUCCEEDED(input->GetAllocator(allocator.ReleaseAndGetAddressOf())) && allocator &&
        SUCCEEDED(allocator->SetProperties(&props, &actual)) &&
        SUCCEEDED(input->NotifyAllocator(allocator.Get(), FALSE))) {
    } else {
        allocator = MakeCom<MemAllocator>();
        hr = allocator->SetProperties(&props, &actual);
        if (FAILED(hr))
            return hr;
        hr = input->NotifyAllocator(allocator.Get(), FALSE);
        if (FAILED(hr))
            return hr;
    }
    std::lock_guard guard(m_pin_lock);
    m_allocator = allocator;
    return S_OK;
}

void BaseOutputPin::ClearConnection() {
    std::lock_guard guard(m_pin_lock);
    m_peer = nullptr;
    m_input = nullptr;
    m_allocator = nullptr;
    m_mt = MediaType();
}

HRESULT BaseOutputPin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
    return E_UNEXPECTED;
}

HRESULT BaseOutputPin::Disconnect() {
    std::lock_guard control(m_filter.ControlLock());
    ComPtr<IPin> peer;
    ComPtr<IMemAllocator> allocator;
    {
        std::lock_guard guard(m_pin_lock);
        if (!m_peer)
            return S_FALSE;
        peer = m_peer;
        allocator = m_allocator;
        m_input = nullptr;  // No new streaming call reaches the peer.
    }
    if (allocator)
        allocator->Decommit();  // Wakes a producer waiting for a buffer.
    if (m_filter.State() != State_Stopped) {
        // A call already in the peer may be blocked there: flushing wakes
        // it; then the peer ends its stream and goes on with its other pins.
        peer->BeginFlush();
        {
            std::unique_lock guard(m_pin_lock);
            m_calls_cv.wait(guard, [&] { return m_calls == 0; });
        }
        peer->EndFlush();
        peer->EndOfStream();
    }
    ClearConnection();
    m_filter.OnDisconnected(*this);
    return S_OK;
}

HRESULT BaseOutputPin::EndOfStream() {
    return E_UNEXPECTED;
}
HRESULT BaseOutputPin::BeginFlush() {
    return E_UNEXPECTED;
}
HRESULT BaseOutputPin::EndFlush() {
    return E_UNEXPECTED;
}

HRESULT BaseOutputPin::SetActive(bool active) {
    ComPtr<IMemAllocator> allocator;
    ComPtr<IPin> flush;
    {
        std::lock_guard guard(m_pin_lock);
        allocator = m_allocator;
        m_stopping = !active;
        if (!active && m_calls > 0)
            flush = m_peer;
    }
    if (flush) {
        flush->BeginFlush();
        std::lock_guard guard(m_pin_lock);
        m_flushed_peer = flush;
    }
    if (!allocator)
        return S_OK;
    return active ? allocator->Commit() : allocator->Decommit();
}

void BaseOutputPin::FinishStop() {
    ComPtr<IPin> flushed;
    {
        std::unique_lock guard(m_pin_lock);
        m_calls_cv.wait(guard, [&] { return m_calls == 0; });
        flushed = std::move(m_flushed_peer);
    }
    if (flushed)
        flushed->EndFlush();
}

HRESULT BaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, DWORD flags) {
    if (!sample)
        return E_POINTER;
    *sample = nullptr;
    ComPtr<IMemAllocator> allocator;
    {
        std::lock_guard guard(m_pin_lock);
        if (!m_input)
            return VFW_E_NOT_CONNECTED;
        allocator = m_allocator;
    }
    if (!allocator)
        return VFW_E_NO_ALLOCATOR;
    return allocator->GetBuffer(sample, nullptr, nullptr, flags);
}

template <class Call>
HRESULT BaseOutputPin::CallPeer(Call&& call) {
    ComPtr<IMemInputPin> input;
    {
        std::lock_guard guard(m_pin_lock);
        if (!m_input)
            return VFW_E_NOT_CONNECTED;
        if (m_stopping)
            return VFW_E_WRONG_STATE;
        input = m_input;
        ++m_calls;
    }
    HRESULT hr = call(input.Get());
    {
        std::lock_guard guard(m_pin_lock);
        --m_calls;
    }
    m_calls_cv.notify_all();
    return hr;
}

HRESULT BaseOutputPin::Deliver(IMediaSample* sample) {
    return CallPeer([&](IMemInputPin* input) { return input->Receive(sample); });
}

HRESULT BaseOutputPin::DeliverEndOfStream() {
    return CallPeer([&](IMemInputPin* input) {
        ComPtr<IPin> pin;
        input->QueryInterface(IPin::iid, pin.OutVoid());
        return pin ? pin->EndOfStream() : E_NOINTERFACE;
    });
}

HRESULT BaseOutputPin::DeliverBeginFlush() {
    return CallPeer([&](IMemInputPin* input) {
        ComPtr<IPin> pin;
        input->QueryInterface(IPin::iid, pin.OutVoid());
        return pin ? pin->BeginFlush() : E_NOINTERFACE;
    });
}

HRESULT BaseOutputPin::DeliverEndFlush() {
    return CallPeer([&](IMemInputPin* input) {
        ComPtr<IPin> pin;
        input->QueryInterface(IPin::iid, pin.OutVoid());
        return pin ? pin->EndFlush() : E_NOINTERFACE;
    });
}

HRESULT BaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return CallPeer([&](IMemInputPin* input) {
        ComPtr<IPin> pin;
        input->QueryInterface(IPin::iid, pin.OutVoid());
        return pin ? pin->NewSegment(start, stop, rate) : E_NOINTERFACE;
    });
}

// ------------------------------------------------------------- BaseFilter

BaseFilter::BaseFilter(const GUID& clsid) : m_clsid(clsid) {}

BaseFilter::~BaseFilter() = default;

HRESULT BaseFilter::GetClassID(GUID* clsid) {
    if (!clsid)
        return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

BasePin* BaseFilter::AddPin(std::unique_ptr<BasePin> pin) {
    std::lock_guard guard(m_pins_lock);
    m_pins.push_back(std::move(pin));
    return m_pins.back().get();
}

size_t BaseFilter::PinCount() const {
    std::lock_guard guard(m_pins_lock);
    return m_pins.size();
}

BasePin* BaseFilter::PinAt(size_t index) const {
    std::lock_guard guard(m_pins_lock);
    return index < m_pins.size() ? m_pins[index].get() : nullptr;
}

std::vector<BasePin*> BaseFilter::Pins() const {
    std::lock_guard guard(m_pins_lock);
    std::vector<BasePin*> pins;
    for (auto& pin : m_pins)
        pins.push_back(pin.get());
    return pins;
}

HRESULT BaseFilter::Stop() {
    {
        std::lock_guard guard(m_lock);
        if (State() == State_Stopped)
            return S_OK;
        m_state.store(State_Stopped, std::memory_order_release);
        for (BasePin* pin : Pins())
            pin->SetActive(false);
        OnStopRequest();
    }
    OnStopJoin();
    for (BasePin* pin : Pins())
        if (pin->Direction() == PINDIR_OUTPUT)
            static_cast<BaseOutputPin*>(pin)->FinishStop();
    for (BasePin* pin : Pins())
        if (pin->Direction() == PINDIR_OUTPUT)
            static_cast<BaseOutputPin*>(pin)->FinishStop();
    std::lock_guard guard(m_graph_lock);
    m_complete_pending = m_complete_sent = false;
    return S_OK;
}

HRESULT BaseFilter::Pause() {
    std::lock_guard guard(m_lock);
    const FILTER_STATE was = State();
    if (was == State_Stopped) {
        {
            std::lock_guard g(m_graph_lock);
            m_complete_pending = m_complete_sent = false;
        }
        HRESULT hr = S_OK;
        const std::vector<BasePin*> pins = Pins();
        for (BasePin* pin : pins) {
            if (!pin->IsConnected())
                continue;
            hr = pin->SetActive(true);
            if (FAILED(hr))
                break;
        }
        // Unconnected input pins go active too, so a later connection finds
        // them ready; they receive nothing until connected.
        if (SUCCEEDED(hr)) {
            for (BasePin* pin : pins)
                if (!pin->IsConnected() && pin->Direction() == PINDIR_INPUT)
                    pin->SetActive(true);
            m_state.store(State_Paused, std::memory_order_release);
            hr = OnActivate();
        }
        if (FAILED(hr)) {
            m_state.store(State_Stopped, std::memory_order_release);
            for (BasePin* pin : pins)
                pin->SetActive(false);
            return hr;
        }
    } else if (was == State_Running) {
        m_state.store(State_Paused, std::memory_order_release);
        OnPauseFromRunning();
    }
    return S_OK;
}

HRESULT BaseFilter::Run(REFERENCE_TIME start) {
    std::lock_guard guard(m_lock);
    if (State() == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
    }
    m_start.store(start);
    m_state.store(State_Running, std::memory_order_release);
    OnRun(start);
    MaybeSignalComplete();
    return S_OK;
}

HRESULT BaseFilter::GetState(DWORD timeout_ms, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    *state = State();
    return StateResult(timeout_ms);
}

HRESULT BaseFilter::SetSyncSource(IReferenceClock* clock) {
    std::lock_guard guard(m_clock_lock);
    m_clock = clock;
    return S_OK;
}

HRESULT BaseFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock)
        return E_POINTER;
    std::lock_guard guard(m_clock_lock);
    *clock = m_clock.Get();
    if (*clock)
        (*clock)->AddRef();
    return S_OK;
}

ComPtr<IReferenceClock> BaseFilter::Clock() const {
    std::lock_guard guard(m_clock_lock);
    return m_clock;
}

REFERENCE_TIME BaseFilter::StreamTime() const {
    if (State() == State_Stopped)
        return 0;
    ComPtr<IReferenceClock> clock = Clock();
    if (!clock)
        return 0;
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    return now - m_start.load();
}

HRESULT BaseFilter::EnumPins(IEnumPins** out) {
    if (!out)
        return E_POINTER;
    std::vector<ComPtr<IPin>> pins;
    for (BasePin* pin : Pins())
        pins.emplace_back(static_cast<IPin*>(pin));
    *out = new PinEnumerator(std::move(pins));
    return S_OK;
}

HRESULT BaseFilter::FindPin(LPCWSTR id, IPin** out) {
    if (!id || !out)
        return E_POINTER;
    *out = nullptr;
    for (BasePin* pin : Pins()) {
        if (pin->Name() == WideView(id)) {
            *out = pin;
            (*out)->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT BaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info)
        return E_POINTER;
    std::lock_guard guard(m_graph_lock);
    CopyName(m_name, info->achName, MAX_FILTER_NAME);
    info->pGraph = m_graph;
    if (m_graph)
        m_graph->AddRef();
    return S_OK;
}

HRESULT BaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    std::lock_guard guard(m_graph_lock);
    m_graph = graph;
    m_name = std::u16string(WideView(name));
    m_sink = nullptr;
    if (graph) {
        // Keep a weak pointer: the graph holds this filter, not the other way.
        ComPtr<IMediaEventSink> sink;
        if (SUCCEEDED(graph->QueryInterface(IMediaEventSink::iid, sink.OutVoid())))
            m_sink = sink.Get();
    }
    return S_OK;
}

HRESULT BaseFilter::QueryVendorInfo(LPWSTR*) {
    return E_NOTIMPL;
}

ULONG BaseFilter::GetMiscFlags() {
    bool inputs = false, outputs = false;
    for (BasePin* pin : Pins())
        (pin->Direction() == PINDIR_INPUT ? inputs : outputs) = true;
    if (inputs && !outputs)
        return AM_FILTER_MISC_FLAGS_IS_RENDERER;
    if (outputs && !inputs)
        return AM_FILTER_MISC_FLAGS_IS_SOURCE;
    return 0;
}

void BaseFilter::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
    // Held across the call so that JoinFilterGraph(null) waits for a
    // notification in progress; the graph's Notify only queues and posts.
    std::lock_guard guard(m_graph_lock);
    if (m_sink)
        m_sink->Notify(code, param1, param2);
}

HRESULT BaseFilter::OnReceive(BaseInputPin&, IMediaSample*) {
    return E_UNEXPECTED;
}

void BaseFilter::OnEndOfStream(BaseInputPin&) {
    std::vector<BaseOutputPin*> outputs;
    bool all_ended = true;
    for (BasePin* pin : Pins()) {
        if (pin->Direction() == PINDIR_OUTPUT) {
            outputs.push_back(static_cast<BaseOutputPin*>(pin));
        } else if (pin->IsConnected() && !static_cast<BaseInputPin*>(pin)->ReachedEndOfStream()) {
            all_ended = false;
        }
    }
    if (!outputs.empty()) {
        for (BaseOutputPin* out : outputs)
            out->DeliverEndOfStream();
        return;
    }
    if (!all_ended)
        return;
    {
        std::lock_guard guard(m_graph_lock);
        m_complete_pending = true;
    }
    MaybeSignalComplete();
}

void BaseFilter::MaybeSignalComplete() {
    bool send = false;
    {
        std::lock_guard guard(m_graph_lock);
        if (m_complete_pending && !m_complete_sent && State() == State_Running) {
            m_complete_sent = true;
            send = true;
        }
    }
    if (send)
        NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
}

void BaseFilter::OnBeginFlush(BaseInputPin&) {
    std::lock_guard guard(m_graph_lock);
    m_complete_pending = m_complete_sent = false;
}

void BaseFilter::OnEndFlush(BaseInputPin&) {}

void BaseFilter::OnNewSegment(BaseInputPin&, REFERENCE_TIME, REFERENCE_TIME, double) {}

}  // namespace ronvix::media
