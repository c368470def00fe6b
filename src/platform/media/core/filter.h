#pragma once
// Base classes for filters and pins (the implementers' side of the engine).
//
// Threads and locks:
// - Control calls (state changes, connections, enumeration) come from the
//   user interface thread and take the filter's control lock, which is
//   recursive so that a filter may connect to itself and a control call may
//   make nested calls on its own pins.
// - Streaming calls (Receive, EndOfStream, flushing, NewSegment) come from
//   streaming threads. They never take a filter's control lock; each pin
//   guards its own connection with a small pin lock that is never held
//   across a call into another object.
// - Stopping is two-step everywhere: under the control lock set the pins
//   inactive (which requests their stop tokens and decommits allocators, so
//   every waiter wakes), then join threads outside the lock (OnStopJoin).
//
// Lifetime: a pin's reference count is its filter's, so a pin reference
// keeps the filter alive. Pins are owned by their filter and are never
// removed while the filter lives. A connection holds a reference on the
// peer pin; a filter holds a weak pointer to its graph.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/com/object.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::media {

class BaseFilter;

class BasePin : public IPin, public IKsPropertySet {
public:
    BasePin(BaseFilter& filter, PIN_DIRECTION dir, std::u16string name,
            const GUID& category = com::GUID_NULL);
    BasePin(const BasePin&) = delete;
    BasePin& operator=(const BasePin&) = delete;
    virtual ~BasePin();

    HRESULT QueryInterface(REFIID riid, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT ConnectedTo(IPin** pin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* dir) override;
    HRESULT QueryId(LPWSTR* id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* mt) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** out) override;
    HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    HRESULT Set(const GUID& set, DWORD id, void* instance, DWORD instance_size, void* data,
                DWORD data_size) override;
    HRESULT Get(const GUID& set, DWORD id, void* instance, DWORD instance_size, void* data,
                DWORD data_size, DWORD* returned) override;
    HRESULT QuerySupported(const GUID& set, DWORD id, DWORD* support) override;

    // Whether the pin accepts `mt`: S_OK or a failure (usually
    // VFW_E_TYPE_NOT_ACCEPTED). Called on the control thread.
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) = 0;
    // The types the pin proposes, in order of preference.
    virtual std::vector<MediaType> OfferedTypes() { return {}; }

    const std::u16string& Name() const { return m_name; }
    PIN_DIRECTION Direction() const { return m_dir; }
    const GUID& Category() const { return m_category; }
    BaseFilter& Filter() const { return m_filter; }
    bool IsConnected() const;
    com::ComPtr<IPin> Peer() const;
    MediaType ConnectionType() const;

    // Called by the filter under its control lock when it leaves or enters
    // Stopped.
    virtual HRESULT SetActive(bool active) = 0;

protected:
    // Further interfaces a pin answers (device controls on capture pins).
    virtual HRESULT QueryPinInterface(REFIID riid, void** out);

    BaseFilter& m_filter;
    const PIN_DIRECTION m_dir;
    const std::u16string m_name;
    const GUID m_category;

    mutable std::mutex m_pin_lock;
    // Guarded by m_pin_lock.
    com::ComPtr<IPin> m_peer;
    MediaType m_mt;
};

class BaseInputPin : public BasePin, public IMemInputPin {
public:
    BaseInputPin(BaseFilter& filter, std::u16string name);

    HRESULT QueryInterface(REFIID riid, void** out) override;
    ULONG AddRef() override { return BasePin::AddRef(); }
    ULONG Release() override { return BasePin::Release(); }

    HRESULT Connect(IPin* receive_pin, const AM_MEDIA_TYPE* mt) override;
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    // On a running filter the pin first ends its stream (the filter sees end
    // of stream on it) and then lets go of the peer.
    HRESULT Disconnect() override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    HRESULT GetAllocator(IMemAllocator** allocator) override;
    HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL read_only) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
    HRESULT ReceiveCanBlock() override;

    HRESULT SetActive(bool active) override;

    // Requested when the pin flushes, stops or disconnects: every blocking
    // wait of a Receive on this pin waits with it. Thread-safe.
    std::stop_token StopToken() const;
    bool IsFlushing() const;
    bool ReachedEndOfStream() const;

private:
    // Guarded by m_pin_lock.
    bool m_active = false;
    bool m_flushing = false;
    bool m_eos = false;
    std::stop_source m_stop;
    com::ComPtr<IMemAllocator> m_allocator;
};

class BaseOutputPin : public BasePin {
public:
    BaseOutputPin(BaseFilter& filter, std::u16string name, const GUID& category = com::GUID_NULL);

    HRESULT Connect(IPin* receive_pin, const AM_MEDIA_TYPE* mt) override;
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    // On a running filter the peer is flushed, waited for, and told end of
    // stream before the connection goes.
    HRESULT Disconnect() override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    // Going inactive while a streaming call of this pin is inside the peer
    // (blocked there, say) flushes the peer so that the call returns and the
    // thread making it can be joined; FinishStop ends that flush after the
    // join. New streaming calls fail with VFW_E_WRONG_STATE from then on.
    HRESULT SetActive(bool active) override;
    void FinishStop();

    // Streaming side; callable from any thread. Without a connection they
    // fail with VFW_E_NOT_CONNECTED and do nothing.
    HRESULT GetDeliveryBuffer(IMediaSample** sample, DWORD flags);
    HRESULT Deliver(IMediaSample* sample);
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();
    HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

protected:
    // Fills the buffer count and size the pin needs. S_FALSE: the pin
    // passes on samples it receives and needs no allocator of its own.
    virtual HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES& props);

private:
    HRESULT AttemptConnection(IPin* receive_pin, const AM_MEDIA_TYPE& mt);
    HRESULT DecideAllocator(IMemInputPin* input);
    void ClearConnection();
    template <class Call>
    HRESULT CallPeer(Call&& call);

    std::condition_variable m_calls_cv;
    // Guarded by m_pin_lock.
    com::ComPtr<IMemInputPin> m_input;
    com::ComPtr<IMemAllocator> m_allocator;
    int m_calls = 0;  // Streaming calls into the peer in progress.
    bool m_stopping = false;
    com::ComPtr<IPin> m_flushed_peer;  // Flushed by SetActive(false), until FinishStop.
};

class BaseFilter : public com::ComObject<IBaseFilter, IAMFilterMiscFlags> {
public:
    explicit BaseFilter(const GUID& clsid);
    ~BaseFilter() override;

    HRESULT GetClassID(GUID* clsid) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD timeout_ms, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;
    HRESULT EnumPins(IEnumPins** out) override;
    HRESULT FindPin(LPCWSTR id, IPin** out) override;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT QueryVendorInfo(LPWSTR* info) override;
    ULONG GetMiscFlags() override;

    // The streaming state; readable from any thread.
    FILTER_STATE State() const { return m_state.load(std::memory_order_acquire); }
    std::recursive_mutex& ControlLock() { return m_lock; }

    // Pins in order. Any thread: pins are only ever added, and a pin
    // pointer stays valid for the filter's life.
    size_t PinCount() const;
    BasePin* PinAt(size_t index) const;
    std::vector<BasePin*> Pins() const;

    // Stream time = clock time - the start time given to Run. 0 without a
    // clock or while stopped. Any thread.
    REFERENCE_TIME StreamTime() const;
    REFERENCE_TIME StartTime() const { return m_start.load(); }
    com::ComPtr<IReferenceClock> Clock() const;

    // Raises a graph event; nothing when the filter is in no graph. Any
    // thread. A streaming thread never waits for the graph's user.
    void NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2);

    // Hooks called by the base input pins, on streaming threads.
    virtual HRESULT OnReceive(BaseInputPin& pin, IMediaSample* sample);
    // Default: a renderer (no output pins) raises EC_COMPLETE once every
    // connected input ended while running; other filters pass the end of
    // stream to all their connected outputs.
    virtual void OnEndOfStream(BaseInputPin& pin);
    virtual void OnBeginFlush(BaseInputPin& pin);
    virtual void OnEndFlush(BaseInputPin& pin);
    virtual void OnNewSegment(BaseInputPin& pin, REFERENCE_TIME start, REFERENCE_TIME stop,
                              double rate);
    // Connection hooks, on the control thread under the control lock.
    virtual void OnConnected(BasePin& pin) { (void)pin; }
    virtual void OnDisconnected(BasePin& pin) { (void)pin; }

protected:
    BasePin* AddPin(std::unique_ptr<BasePin> pin);

    // Leaving Stopped, under the control lock, after the pins went active:
    // open devices, start threads. A failure puts the filter back in Stopped.
    virtual HRESULT OnActivate() { return com::S_OK; }
    // Step one of stopping, under the control lock after the pins went
    // inactive: set flags and wake waiters; never wait here.
    virtual void OnStopRequest() {}
    // Step two, outside the lock: join threads, close devices.
    virtual void OnStopJoin() {}
    virtual void OnRun(REFERENCE_TIME start) { (void)start; }
    virtual void OnPauseFromRunning() {}
    // What GetState returns while paused: S_OK, or VFW_S_CANT_CUE for a
    // live source, VFW_S_STATE_INTERMEDIATE while a change is unfinished.
    virtual HRESULT StateResult(DWORD timeout_ms) {
        (void)timeout_ms;
        return com::S_OK;
    }

private:
    void MaybeSignalComplete();

    const GUID m_clsid;
    mutable std::recursive_mutex m_lock;
    std::atomic<FILTER_STATE> m_state{State_Stopped};
    std::atomic<REFERENCE_TIME> m_start{0};

    mutable std::mutex m_pins_lock;
    // Guarded by m_pins_lock (a leaf lock, also taken on streaming threads).
    std::vector<std::unique_ptr<BasePin>> m_pins;

    mutable std::mutex m_clock_lock;
    // Guarded by m_clock_lock.
    com::ComPtr<IReferenceClock> m_clock;

    mutable std::mutex m_graph_lock;
    // Guarded by m_graph_lock. Weak: the graph removes itself before it goes.
    IFilterGraph* m_graph = nullptr;
    IMediaEventSink* m_sink = nullptr;
    std::u16string m_name;
    bool m_complete_pending = false;  // All inputs ended while not running.
    bool m_complete_sent = false;
};

// Copies a wide string into a fixed platform buffer, truncating.
void CopyName(std::u16string_view name, WCHAR* dst, size_t capacity);

}  // namespace ronvix::media
