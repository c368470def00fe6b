#pragma once
// Test infrastructure for engine filters, shared by every engine test
// executable (header only, so each test folder can include it):
// - ManualClock: a reference clock the test steps by hand.
// - TestSource: an output pin with chosen types; the test pushes samples on
//   its own thread, or a live thread produces numbered frames while running
//   (dropping, never blocking, when no buffer is free).
// - TestSink: an input pin that records what arrives; it can block in
//   Receive until released or stopped, to test back-pressure and stopping.
// - TestTransform: converts one video subtype to another, for intelligent
//   connection tests; ScopedClass registers a class for one test.
// - FilterHarness: one filter under test in a graph with sources and sinks
//   around it, a manual clock, and a teardown that checks references.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/com/classregistry.h"
#include "platform/com/object.h"
#include "platform/media/core/filter.h"
#include "platform/media/core/graph.h"
#include "platform/media/core/interfaces.h"
#include "platform/media/core/pinutil.h"

namespace ronvix::media::test {

using com::ComPtr;
using com::FAILED;
using com::HRESULT;
using com::MakeCom;
using com::SUCCEEDED;

// The current reference count of `p` (without changing it).
inline ULONG RefCount(com::IUnknown* p) {
    p->AddRef();
    return p->Release();
}

inline ComPtr<IPin> PinNamed(IBaseFilter* filter, std::u16string_view name) {
    for (ComPtr<IPin>& pin : FilterPins(filter))
        if (PinName(pin.Get()) == name)
            return pin;
    return nullptr;
}

// The first pin of `filter` in direction `dir`, or null.
inline ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION dir) {
    for (ComPtr<IPin>& pin : FilterPins(filter))
        if (PinDirection(pin.Get()) == dir)
            return pin;
    return nullptr;
}

inline size_t FilterCount(IFilterGraph* graph) {
    ComPtr<IEnumFilters> filters;
    graph->EnumFilters(filters.ReleaseAndGetAddressOf());
    size_t n = 0;
    IBaseFilter* f = nullptr;
    while (filters->Next(1, &f, nullptr) == com::S_OK) {
        ++n;
        f->Release();
    }
    return n;
}

class ManualClock final : public com::ComObject<IReferenceClock> {
public:
    HRESULT GetTime(REFERENCE_TIME* time) override {
        std::lock_guard guard(m_lock);
        *time = m_now;
        return com::S_OK;
    }
    HRESULT WaitUntil(REFERENCE_TIME time, std::stop_token stop) override {
        std::unique_lock guard(m_lock);
        const bool reached = m_cv.wait(guard, stop, [&] { return m_now >= time; });
        return reached ? com::S_OK : com::S_FALSE;
    }
    void Advance(REFERENCE_TIME delta_100ns) {
        {
            std::lock_guard guard(m_lock);
            m_now += delta_100ns;
        }
        m_cv.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable_any m_cv;
    REFERENCE_TIME m_now = 1'000'000;
};

inline bool TypeIn(const AM_MEDIA_TYPE& mt, const std::vector<MediaType>& types) {
    for (const MediaType& t : types)
        if (MatchesPartial(mt, &t.Get()))
            return true;
    return types.empty() && IsComplete(mt);
}

class TestSource final : public BaseFilter {
public:
    struct Options {
        std::vector<MediaType> types{MediaType::Video(MEDIASUBTYPE_RGB32, 32, 16, 32)};
        GUID category{};
        std::u16string pin_name = u"Output";
        LONG buffers = 3;
        LONG buffer_size = 4096;
        bool live = false;       // A thread produces frames while running.
        int interval_ms = 1;     // Between live frames.
        bool exclusive = false;  // Opens the one shared test device while not stopped.
        LONG frame_bytes = 4;    // Size of each live frame: its index, then filler.
    };

    class Pin final : public BaseOutputPin {
    public:
        Pin(TestSource& owner)
            : BaseOutputPin(owner, owner.m_options.pin_name, owner.m_options.category),
              m_owner(owner) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            for (const MediaType& t : m_owner.m_options.types)
                if (t->majortype == mt.majortype && t->subtype == mt.subtype &&
                    t->formattype == mt.formattype)
                    return com::S_OK;
            return com::VFW_E_TYPE_NOT_ACCEPTED;
        }
        std::vector<MediaType> OfferedTypes() override { return m_owner.m_options.types; }

    protected:
        HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES& props) override {
            props.cBuffers = m_owner.m_options.buffers;
            props.cbBuffer = m_owner.m_options.buffer_size;
            return com::S_OK;
        }

    private:
        TestSource& m_owner;
    };

    explicit TestSource(Options options)
        : BaseFilter(RONVIX_GUID("{5E1F0001-0000-4000-8000-00000000AA01}")),
          m_options(std::move(options)) {
        m_pin = static_cast<Pin*>(AddPin(std::make_unique<Pin>(*this)));
    }

    static ComPtr<TestSource> Make(Options options) {
        return MakeCom<TestSource>(std::move(options));
    }
    static ComPtr<TestSource> Make() { return Make(Options{}); }
    IBaseFilter* Filter() { return this; }
    Pin* Output() { return m_pin; }

    // Delivers one sample from the calling thread, which then acts as this
    // source's streaming thread. Blocks while the pool is empty.
    HRESULT Push(const std::vector<uint8_t>& data, REFERENCE_TIME start = -1,
                 REFERENCE_TIME stop = -1, DWORD flags = 0, bool discontinuity = false,
                 LONGLONG media_start = -1, LONGLONG media_stop = -1) {
        ComPtr<IMediaSample> sample;
        HRESULT hr = m_pin->GetDeliveryBuffer(sample.ReleaseAndGetAddressOf(), flags);
        if (FAILED(hr))
            return hr;
        BYTE* p = nullptr;
        sample->GetPointer(&p);
        std::memcpy(p, data.data(), data.size());
        sample->SetActualDataLength(static_cast<LONG>(data.size()));
        if (start >= 0)
            sample->SetTime(&start, stop >= 0 ? &stop : nullptr);
        sample->SetDiscontinuity(discontinuity);
        if (media_start >= 0)
            sample->SetMediaTime(&media_start, &media_stop);
        return m_pin->Deliver(sample.Get());
    }
    HRESULT PushEndOfStream() { return m_pin->DeliverEndOfStream(); }

    long Delivered() const { return m_delivered.load(); }
    long Dropped() const { return m_dropped.load(); }
    long Refused() const { return m_refused.load(); }

    // The one test device: open while an exclusive source is not stopped.
    static std::atomic<bool>& DeviceOpen() {
        static std::atomic<bool> open{false};
        return open;
    }

protected:
    HRESULT OnActivate() override {
        if (m_options.exclusive) {
            if (DeviceOpen().exchange(true))
                return com::E_ACCESSDENIED;  // Busy, as hardware is.
            m_device_open = true;
        }
        if (m_options.live && m_pin->IsConnected())
            m_thread = std::jthread([this](std::stop_token stop) { LiveLoop(stop); });
        return com::S_OK;
    }
    void OnStopRequest() override { m_thread.request_stop(); }
    void OnStopJoin() override {
        if (m_thread.joinable())
            m_thread.join();
        if (m_device_open)
            DeviceOpen().store(false);
        m_device_open = false;
    }

private:
    void LiveLoop(std::stop_token stop) {
        uint32_t index = 0;
        std::mutex lock;
        std::condition_variable_any cv;
        while (!stop.stop_requested()) {
            if (State() == State_Running) {
                ComPtr<IMediaSample> sample;
                if (FAILED(
                        m_pin->GetDeliveryBuffer(sample.ReleaseAndGetAddressOf(), AM_GBF_NOWAIT))) {
                    ++m_dropped;
                } else {
                    BYTE* p = nullptr;
                    sample->GetPointer(&p);
                    const LONG size =
                        std::clamp<LONG>(m_options.frame_bytes, sizeof index, sample->GetSize());
                    std::memset(p, 0x80, static_cast<size_t>(size));
                    std::memcpy(p, &index, sizeof index);
                    sample->SetActualDataLength(size);
                    REFERENCE_TIME start = StreamTime();
                    REFERENCE_TIME end = start + 10000;
                    sample->SetTime(&start, &end);
                    ++index;
                    if (m_pin->Deliver(sample.Get()) == com::S_OK)
                        ++m_delivered;
                    else
                        ++m_refused;
                }
            }
            std::unique_lock guard(lock);
            cv.wait_for(guard, stop, std::chrono::milliseconds(m_options.interval_ms),
                        [] { return false; });
        }
    }

    Options m_options;
    Pin* m_pin = nullptr;
    std::jthread m_thread;
    bool m_device_open = false;
    std::atomic<long> m_delivered{0}, m_dropped{0}, m_refused{0};
};

class TestSink final : public BaseFilter {
public:
    struct Options {
        std::vector<MediaType> accept;  // Partial types; empty accepts any.
        bool block = false;             // Receive waits until Unblock or a stop.
        std::u16string pin_name = u"Input";
        // Non-zero: the pin answers IVideoDrawSize with this size, as a
        // renderer showing the picture smaller does.
        LONG draw_width = 0, draw_height = 0;
        size_t keep = 0;  // The last `keep` samples are held, as a file's interleaving does.
    };
    struct Received {
        std::vector<uint8_t> data;
        bool has_time = false;
        REFERENCE_TIME start = 0;
        bool discontinuity = false;
        REFERENCE_TIME type_period = -1;  // The frame period of a type the sample carried.
        MediaType type;                   // That type (empty when it carried none).
    };

    class Pin final : public BaseInputPin, public IVideoDrawSize {
    public:
        Pin(TestSink& owner) : BaseInputPin(owner, owner.m_options.pin_name), m_owner(owner) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            return TypeIn(mt, m_owner.m_options.accept) ? com::S_OK : com::VFW_E_TYPE_NOT_ACCEPTED;
        }
        std::vector<MediaType> OfferedTypes() override { return {}; }
        HRESULT QueryInterface(REFIID riid, void** out) override {
            return BaseInputPin::QueryInterface(riid, out);
        }
        ULONG AddRef() override { return BaseInputPin::AddRef(); }
        ULONG Release() override { return BaseInputPin::Release(); }
        HRESULT GetDrawSize(LONG* width, LONG* height) override {
            *width = m_owner.m_options.draw_width;
            *height = m_owner.m_options.draw_height;
            return com::S_OK;
        }

    protected:
        HRESULT QueryPinInterface(REFIID riid, void** out) override {
            if (riid == IVideoDrawSize::iid && m_owner.m_options.draw_width > 0)
                return com::ReturnInterface<IVideoDrawSize>(this, out);
            return BaseInputPin::QueryPinInterface(riid, out);
        }

    private:
        TestSink& m_owner;
    };

    explicit TestSink(Options options)
        : BaseFilter(RONVIX_GUID("{5E1F0002-0000-4000-8000-00000000AA02}")),
          m_options(std::move(options)) {
        m_pin = static_cast<Pin*>(AddPin(std::make_unique<Pin>(*this)));
    }
    static ComPtr<TestSink> Make(Options options) { return MakeCom<TestSink>(std::move(options)); }
    static ComPtr<TestSink> Make() { return Make(Options{}); }
    IBaseFilter* Filter() { return this; }
    Pin* Input() { return m_pin; }

    HRESULT OnReceive(BaseInputPin& pin, IMediaSample* sample) override {
        if (m_options.block) {
            std::unique_lock guard(m_lock);
            ++m_blocked;
            m_cv.notify_all();
            const bool released = m_cv.wait(guard, pin.StopToken(), [&] { return m_unblocked; });
            --m_blocked;
            if (!released)
                return com::S_FALSE;
        }
        Received r;
        BYTE* p = nullptr;
        sample->GetPointer(&p);
        r.data.assign(p, p + sample->GetActualDataLength());
        REFERENCE_TIME start = 0, stop = 0;
        r.has_time = SUCCEEDED(sample->GetTime(&start, &stop));
        r.start = start;
        r.discontinuity = sample->IsDiscontinuity() == com::S_OK;
        AM_MEDIA_TYPE* type = nullptr;
        if (sample->GetMediaType(&type) == com::S_OK && type) {
            r.type = MediaType(*type);
            if (r.type.VideoInfo())
                r.type_period = r.type.VideoInfo()->AvgTimePerFrame;
            DeleteMediaType(type);
        }
        {
            std::lock_guard guard(m_lock);
            m_received.push_back(std::move(r));
            if (m_options.keep > 0) {
                m_kept.emplace_back(sample);
                if (m_kept.size() > m_options.keep)
                    m_kept.erase(m_kept.begin());
            }
        }
        m_cv.notify_all();
        return com::S_OK;
    }
    void OnEndOfStream(BaseInputPin& pin) override {
        {
            std::lock_guard guard(m_lock);
            ++m_eos;
        }
        m_cv.notify_all();
        BaseFilter::OnEndOfStream(pin);
    }
    void OnBeginFlush(BaseInputPin& pin) override {
        {
            std::lock_guard guard(m_lock);
            ++m_flushes;
        }
        BaseFilter::OnBeginFlush(pin);
    }

    void Unblock() {
        {
            std::lock_guard guard(m_lock);
            m_unblocked = true;
        }
        m_cv.notify_all();
    }
    // Polls `pred` (which may use the accessors below) until true or time-out.
    template <class Pred>
    bool WaitFor(Pred pred, int timeout_ms = 5000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    bool WaitForSamples(size_t n, int timeout_ms = 5000) {
        return WaitFor([&] { return Count() >= n; }, timeout_ms);
    }
    bool WaitForBlocked(int timeout_ms = 5000) {
        return WaitFor(
            [&] {
                std::lock_guard guard(m_lock);
                return m_blocked > 0;
            },
            timeout_ms);
    }
    std::vector<Received> ReceivedSamples() {
        std::lock_guard guard(m_lock);
        return m_received;
    }
    size_t Count() {
        std::lock_guard guard(m_lock);
        return m_received.size();
    }
    int EndOfStreams() {
        std::lock_guard guard(m_lock);
        return m_eos;
    }
    int Flushes() {
        std::lock_guard guard(m_lock);
        return m_flushes;
    }
    // The held samples' bytes as they are now; LetGo releases them.
    std::vector<std::vector<uint8_t>> KeptBytes() {
        std::lock_guard guard(m_lock);
        std::vector<std::vector<uint8_t>> bytes;
        for (const ComPtr<IMediaSample>& sample : m_kept) {
            BYTE* p = nullptr;
            sample->GetPointer(&p);
            bytes.emplace_back(p, p + sample->GetActualDataLength());
        }
        return bytes;
    }
    void LetGo() {
        std::lock_guard guard(m_lock);
        m_kept.clear();
    }

private:
    Options m_options;
    Pin* m_pin = nullptr;
    std::mutex m_lock;
    std::condition_variable_any m_cv;
    // Guarded by m_lock.
    std::vector<Received> m_received;
    std::vector<ComPtr<IMediaSample>> m_kept;
    int m_eos = 0;
    int m_flushes = 0;
    int m_blocked = 0;
    bool m_unblocked = false;
};

// Converts video of subtype `from` to subtype `to` (same VideoInfo block),
// copying each sample into its own pool.
class TestTransform final : public BaseFilter {
public:
    class In final : public BaseInputPin {
    public:
        In(TestTransform& owner) : BaseInputPin(owner, u"In"), m_owner(owner) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            return mt.majortype == MEDIATYPE_Video && mt.subtype == m_owner.m_from
                       ? com::S_OK
                       : com::VFW_E_TYPE_NOT_ACCEPTED;
        }

    private:
        TestTransform& m_owner;
    };
    class Out final : public BaseOutputPin {
    public:
        Out(TestTransform& owner) : BaseOutputPin(owner, u"Out"), m_owner(owner) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            return mt.majortype == MEDIATYPE_Video && mt.subtype == m_owner.m_to &&
                           m_owner.m_in->IsConnected()
                       ? com::S_OK
                       : com::VFW_E_TYPE_NOT_ACCEPTED;
        }
        std::vector<MediaType> OfferedTypes() override {
            if (!m_owner.m_in->IsConnected())
                return {};
            MediaType t = m_owner.m_in->ConnectionType();
            t->subtype = m_owner.m_to;
            return {t};
        }

    private:
        TestTransform& m_owner;
    };

    TestTransform(const GUID& clsid, const GUID& from, const GUID& to)
        : BaseFilter(clsid), m_from(from), m_to(to) {
        m_in = static_cast<In*>(AddPin(std::make_unique<In>(*this)));
        m_out = static_cast<Out*>(AddPin(std::make_unique<Out>(*this)));
    }
    HRESULT OnReceive(BaseInputPin&, IMediaSample* sample) override {
        ComPtr<IMediaSample> copy;
        HRESULT hr = m_out->GetDeliveryBuffer(copy.ReleaseAndGetAddressOf(), 0);
        if (FAILED(hr))
            return hr;
        BYTE *src = nullptr, *dst = nullptr;
        sample->GetPointer(&src);
        copy->GetPointer(&dst);
        const LONG n = std::min(sample->GetActualDataLength(), copy->GetSize());
        std::memcpy(dst, src, static_cast<size_t>(n));
        copy->SetActualDataLength(n);
        return m_out->Deliver(copy.Get());
    }

private:
    const GUID m_from, m_to;
    In* m_in = nullptr;
    Out* m_out = nullptr;
};

// Registers a class for the life of the object; an entry it replaced comes
// back afterwards.
class ScopedClass {
public:
    explicit ScopedClass(com::ClassEntry entry)
        : m_clsid(entry.clsid), m_previous(com::ClassRegistry::Instance().Find(entry.clsid)) {
        com::ClassRegistry::Instance().Register(std::move(entry));
    }
    ~ScopedClass() {
        com::ClassRegistry::Instance().Unregister(m_clsid);
        if (m_previous)
            com::ClassRegistry::Instance().Register(*m_previous);
    }
    ScopedClass(const ScopedClass&) = delete;
    ScopedClass& operator=(const ScopedClass&) = delete;

private:
    GUID m_clsid;
    std::optional<com::ClassEntry> m_previous;
};

inline com::ClassEntry TransformClass(const GUID& clsid, const GUID& from, const GUID& to,
                                      uint32_t merit = com::MERIT_NORMAL) {
    com::ClassEntry entry;
    entry.clsid = clsid;
    entry.friendly_name = "Test Transform " + clsid.ToString().substr(1, 8);
    entry.create = [clsid, from, to](REFIID riid, void** out) {
        auto filter = MakeCom<TestTransform>(clsid, from, to);
        return static_cast<IBaseFilter*>(filter.Get())->QueryInterface(riid, out);
    };
    entry.merit = merit;
    entry.categories = {CLSID_LegacyAmFilterCategory};
    return entry;
}

// A capture file in `graph` (a new graph when none is given): the capture
// graph builder's AVI Mux and File Writer writing `path`. Streams go in with
// builder->RenderStream(..., mux). Empty pointers when it failed.
struct CaptureFileGraph {
    ComPtr<IFilterGraph2> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IBaseFilter> mux;
};
inline CaptureFileGraph MakeCaptureFileGraph(const std::u16string& path,
                                             ComPtr<IFilterGraph2> graph = nullptr) {
    CaptureFileGraph g;
    g.graph = graph ? std::move(graph) : CreateFilterGraph();
    if (CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, com::CLSCTX_INPROC_SERVER,
                         ICaptureGraphBuilder2::iid, g.builder.OutVoid()) != com::S_OK ||
        g.builder->SetFiltergraph(g.graph.As<IGraphBuilder>().Get()) != com::S_OK ||
        g.builder->SetOutputFileName(&MEDIASUBTYPE_Avi, path.c_str(),
                                     g.mux.ReleaseAndGetAddressOf(), nullptr) != com::S_OK)
        return {};
    return g;
}

// One filter under test inside a graph, with sources and sinks around it.
class FilterHarness {
public:
    explicit FilterHarness(ComPtr<IBaseFilter> filter, const char16_t* name = u"Under test")
        : m_filter(std::move(filter)),
          m_graph(CreateFilterGraph()),
          m_clock(MakeCom<ManualClock>()) {
        m_control = m_graph.As<IMediaControl>();
        m_graph.As<IMediaFilter>()->SetSyncSource(m_clock.Get());
        EXPECT_EQ(m_graph->AddFilter(m_filter.Get(), name), com::S_OK);
    }
    ~FilterHarness() {
        if (m_graph)
            m_control->Stop();
    }

    IFilterGraph2* Graph() { return m_graph.Get(); }
    IMediaControl* Control() { return m_control.Get(); }
    IBaseFilter* Filter() { return m_filter.Get(); }
    ManualClock* Clock() { return m_clock.Get(); }
    void Step(REFERENCE_TIME delta_100ns) { m_clock->Advance(delta_100ns); }

    TestSource* AddSource(TestSource::Options options = {}) {
        m_sources.push_back(TestSource::Make(std::move(options)));
        EXPECT_TRUE(SUCCEEDED(m_graph->AddFilter(m_sources.back()->Filter(), u"Source")));
        return m_sources.back().Get();
    }
    TestSink* AddSink(TestSink::Options options = {}) {
        m_sinks.push_back(TestSink::Make(std::move(options)));
        EXPECT_TRUE(SUCCEEDED(m_graph->AddFilter(m_sinks.back()->Filter(), u"Sink")));
        return m_sinks.back().Get();
    }
    // Source output to the filter's input pin of that name.
    HRESULT ConnectIn(TestSource* source, std::u16string_view input) {
        ComPtr<IPin> in = PinNamed(m_filter.Get(), input);
        if (!in)
            return com::VFW_E_NOT_FOUND;
        return m_graph->ConnectDirect(source->Output(), in.Get(), nullptr);
    }
    // The filter's output pin of that name to a sink.
    HRESULT ConnectOut(std::u16string_view output, TestSink* sink) {
        ComPtr<IPin> out = PinNamed(m_filter.Get(), output);
        if (!out)
            return com::VFW_E_NOT_FOUND;
        return m_graph->ConnectDirect(out.Get(), sink->Input(), nullptr);
    }

    // Stops and releases the graph, then checks that nothing else holds the
    // filter, the sources or the sinks.
    void Teardown() {
        m_control->Stop();
        m_control = nullptr;
        m_graph = nullptr;
        EXPECT_EQ(RefCount(m_filter.Get()), 1u) << "the filter under test is still referenced";
        for (auto& s : m_sources)
            EXPECT_EQ(RefCount(s->Filter()), 1u);
        for (auto& s : m_sinks)
            EXPECT_EQ(RefCount(s->Filter()), 1u);
    }

private:
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IFilterGraph2> m_graph;
    ComPtr<IMediaControl> m_control;
    ComPtr<ManualClock> m_clock;
    std::vector<ComPtr<TestSource>> m_sources;
    std::vector<ComPtr<TestSink>> m_sinks;
};

}  // namespace ronvix::media::test
