// The graph manager: filters and names, connections (direct and through
// registered transforms), states, events and the build log.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/media/core/engine_harness.h"
#include "platform/media/registration/engineclasses.h"
#include "platform/win/window.h"

namespace ronvix::media {
namespace {

using namespace com;
using namespace test;

constexpr GUID kTransformA = RONVIX_GUID("{5E1F0010-0000-4000-8000-0000000000A1}");
constexpr GUID kTransformB = RONVIX_GUID("{5E1F0011-0000-4000-8000-0000000000B1}");
// Four-character codes that no real filter of the registry handles.
const GUID kSubX = SubtypeFromFourcc(0x58545354);  // "TSTX"
const GUID kSubY = SubtypeFromFourcc(0x59545354);  // "TSTY"
const GUID kSubZ = SubtypeFromFourcc(0x5A545354);  // "TSTZ"

struct Rig {
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<TestSource> source;
    ComPtr<TestSink> sink;
    Rig(const GUID& from, const GUID& to) {
        TestSource::Options so;
        so.types = {MediaType::Video(from, 16, 8, 32)};
        source = TestSource::Make(so);
        TestSink::Options si;
        si.accept = {MediaType::Partial(MEDIATYPE_Video, to)};
        sink = TestSink::Make(si);
        graph->AddFilter(source->Filter(), u"Source");
        graph->AddFilter(sink->Filter(), u"Sink");
    }
};

TEST(FilterGraph, AddAndRemoveCheckTheirArgumentsAndKeepNamesUnique) {
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    EXPECT_EQ(graph->AddFilter(nullptr, u"x"), E_POINTER);
    EXPECT_EQ(graph->RemoveFilter(nullptr), E_POINTER);

    auto a = TestSink::Make(), b = TestSink::Make(), c = TestSink::Make();
    EXPECT_EQ(graph->AddFilter(a->Filter(), u"Renderer"), S_OK);
    EXPECT_EQ(graph->AddFilter(b->Filter(), u"Renderer"), VFW_S_DUPLICATE_NAME);
    EXPECT_EQ(graph->AddFilter(c->Filter(), u"Renderer"), VFW_S_DUPLICATE_NAME);
    EXPECT_NE(graph->AddFilter(a->Filter(), u"Again"), S_OK);  // Already in the graph.
    EXPECT_EQ(FilterName(b->Filter()), u"Renderer 0001");
    EXPECT_EQ(FilterName(c->Filter()), u"Renderer 0002");

    ComPtr<IBaseFilter> found;
    EXPECT_EQ(graph->FindFilterByName(u"Renderer 0001", found.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(found.Get(), b->Filter());
    EXPECT_EQ(graph->FindFilterByName(u"none", found.ReleaseAndGetAddressOf()), VFW_E_NOT_FOUND);

    // The filter knows its graph until it is removed; then the graph lets go.
    FILTER_INFO info;
    ASSERT_EQ(b->QueryFilterInfo(&info), S_OK);
    EXPECT_NE(info.pGraph, nullptr);
    info.pGraph->Release();
    found = nullptr;
    EXPECT_EQ(graph->RemoveFilter(b->Filter()), S_OK);
    EXPECT_EQ(graph->RemoveFilter(b->Filter()), VFW_E_NOT_FOUND);
    ASSERT_EQ(b->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
    EXPECT_EQ(RefCount(b->Filter()), 1u);
    EXPECT_EQ(FilterCount(graph.Get()), 2u);
}

TEST(FilterGraph, PinReferencesKeepTheirFilterAlive) {
    ComPtr<IPin> pin;
    {
        auto sink = TestSink::Make();
        pin = sink->Input();
    }
    // The filter lives on through its pin.
    PIN_INFO info;
    ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(std::u16string(info.achName), u"Input");
    EXPECT_EQ(RefCount(info.pFilter), 2u);  // The pin and the info record.
    info.pFilter->Release();
}

TEST(FilterGraph, ConnectInsertsARegisteredTransform) {
    ScopedClass transform(TransformClass(kTransformA, kSubX, kSubY));
    Rig rig(kSubX, kSubY);
    ASSERT_EQ(rig.graph->ConnectDirect(rig.source->Output(), rig.sink->Input(), nullptr),
              VFW_E_NO_ACCEPTABLE_TYPES);
    ASSERT_EQ(rig.graph->Connect(rig.source->Output(), rig.sink->Input()), S_OK);
    EXPECT_EQ(FilterCount(rig.graph.Get()), 3u);
    ComPtr<IPin> peer;
    ASSERT_EQ(rig.sink->Input()->ConnectedTo(peer.ReleaseAndGetAddressOf()), S_OK);
    GUID clsid{};
    PinFilter(peer.Get())->GetClassID(&clsid);
    EXPECT_EQ(clsid, kTransformA);

    // And samples really pass through it.
    auto control = rig.graph.As<IMediaControl>();
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(rig.source->Push({1, 2, 3}), S_OK);
    ASSERT_TRUE(rig.sink->WaitForSamples(1));
    EXPECT_EQ(rig.sink->ReceivedSamples()[0].data, (std::vector<uint8_t>{1, 2, 3}));
    control->Stop();
}

TEST(FilterGraph, ConnectBuildsAChainOfTwoTransforms) {
    ScopedClass first(TransformClass(kTransformA, kSubX, kSubY));
    ScopedClass second(TransformClass(kTransformB, kSubY, kSubZ));
    Rig rig(kSubX, kSubZ);
    ASSERT_EQ(rig.graph->Connect(rig.source->Output(), rig.sink->Input()), S_OK);
    EXPECT_EQ(FilterCount(rig.graph.Get()), 4u);
    auto control = rig.graph.As<IMediaControl>();
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(rig.source->Push({9}), S_OK);
    EXPECT_TRUE(rig.sink->WaitForSamples(1));
    control->Stop();
}

TEST(FilterGraph, FailedConnectLeavesTheGraphAsItWas) {
    // A transform that gets half-way (it takes the source's type) must be
    // taken out again when it cannot reach the sink.
    ScopedClass dead_end(TransformClass(kTransformA, kSubX, kSubY));
    Rig rig(kSubX, kSubZ);
    EXPECT_EQ(rig.graph->Connect(rig.source->Output(), rig.sink->Input()), VFW_E_CANNOT_CONNECT);
    EXPECT_EQ(FilterCount(rig.graph.Get()), 2u);
    EXPECT_FALSE(rig.source->Output()->IsConnected());
    EXPECT_FALSE(rig.sink->Input()->IsConnected());

    MediaType wrong = MediaType::Video(kSubX, 16, 8, 32);
    EXPECT_EQ(rig.graph->ConnectDirect(rig.source->Output(), rig.sink->Input(), &wrong.Get()),
              VFW_E_TYPE_NOT_ACCEPTED);
    // Wrong directions and pins outside the graph are refused outright.
    EXPECT_EQ(rig.graph->ConnectDirect(rig.sink->Input(), rig.source->Output(), nullptr),
              VFW_E_INVALID_DIRECTION);
    auto stranger = TestSink::Make();
    EXPECT_EQ(rig.graph->Connect(rig.source->Output(), stranger->Input()), VFW_E_NOT_IN_GRAPH);
}

TEST(FilterGraph, ConnectionsCannotChangeWhileAFilterRuns) {
    Rig rig(kSubX, kSubX);
    auto control = rig.graph.As<IMediaControl>();
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(rig.graph->ConnectDirect(rig.source->Output(), rig.sink->Input(), nullptr),
              VFW_E_NOT_STOPPED);
    control->Stop();
    EXPECT_EQ(rig.graph->ConnectDirect(rig.source->Output(), rig.sink->Input(), nullptr), S_OK);
    EXPECT_EQ(rig.graph->ConnectDirect(rig.source->Output(), rig.sink->Input(), nullptr),
              VFW_E_ALREADY_CONNECTED);
}

TEST(FilterGraph, RenderPrefersARendererAlreadyInTheGraph) {
    ScopedClass transform(TransformClass(kTransformA, kSubX, kSubY));
    Rig rig(kSubX, kSubY);
    // Through a transform into the sink that is already there; nothing else
    // registered is made.
    EXPECT_EQ(rig.graph->Render(rig.source->Output()), S_OK);
    EXPECT_TRUE(rig.sink->Input()->IsConnected());
    EXPECT_EQ(FilterCount(rig.graph.Get()), 3u);
    EXPECT_EQ(rig.graph->Render(rig.source->Output()), VFW_E_ALREADY_CONNECTED);

    Rig lonely(kSubZ, kSubY);
    EXPECT_EQ(lonely.graph->Render(lonely.source->Output()), VFW_E_CANNOT_RENDER);
    EXPECT_EQ(FilterCount(lonely.graph.Get()), 2u);
}

TEST(FilterGraph, StatesAndTheLiveStreamPosition) {
    Rig rig(kSubX, kSubX);
    ASSERT_EQ(rig.graph->ConnectDirect(rig.source->Output(), rig.sink->Input(), nullptr), S_OK);
    auto clock = MakeCom<ManualClock>();
    auto filter = rig.graph.As<IMediaFilter>();
    ASSERT_EQ(filter->SetSyncSource(clock.Get()), S_OK);
    auto control = rig.graph.As<IMediaControl>();
    auto seeking = rig.graph.As<IMediaSeeking>();
    OAFilterState state = -1;
    EXPECT_EQ(control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    LONGLONG position = -1, duration = 0;
    EXPECT_EQ(seeking->GetDuration(&duration), E_NOTIMPL);  // Live: no duration.

    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(control->GetState(100, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    FILTER_STATE fs;
    rig.sink->GetState(0, &fs);
    EXPECT_EQ(fs, State_Running);
    clock->Advance(20'000'000);
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_EQ(position, 20'000'000);

    // Pausing freezes stream time; running again goes on from there.
    auto events = rig.graph.As<IMediaEventEx>();
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);  // Run raised none.
    ASSERT_EQ(control->Pause(), S_OK);
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_PAUSED);
    EXPECT_EQ(p1, S_OK);
    clock->Advance(50'000'000);
    seeking->GetCurrentPosition(&position);
    EXPECT_EQ(position, 20'000'000);
    ASSERT_EQ(control->Run(), S_OK);
    clock->Advance(10'000'000);
    seeking->GetCurrentPosition(&position);
    EXPECT_EQ(position, 30'000'000);
    EXPECT_EQ(rig.sink->StreamTime(), 30'000'000);

    EXPECT_EQ(control->Stop(), S_OK);
    rig.sink->GetState(0, &fs);
    EXPECT_EQ(fs, State_Stopped);
    seeking->GetCurrentPosition(&position);
    EXPECT_EQ(position, 0);
    // The clock can only change while stopped.
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(filter->SetSyncSource(nullptr), VFW_E_NOT_STOPPED);
    control->Stop();
}

// A filter still busy with a state change, as a renderer waiting for its
// first frame is.
class SlowToPause final : public BaseFilter {
public:
    SlowToPause() : BaseFilter(RONVIX_GUID("{5E1F0020-0000-4000-8000-0000000000C1}")) {}
    std::atomic<bool> ready{false};

protected:
    HRESULT StateResult(DWORD timeout_ms) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!ready && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return ready ? S_OK : VFW_S_STATE_INTERMEDIATE;
    }
};

TEST(FilterGraph, GetStateReportsAnUnfinishedChangeAndWaitsForIt) {
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    auto slow = MakeCom<SlowToPause>();
    graph->AddFilter(slow.Get(), u"Slow");
    auto control = graph.As<IMediaControl>();
    control->Pause();
    OAFilterState state = -1;
    EXPECT_EQ(control->GetState(0, &state), VFW_S_STATE_INTERMEDIATE);
    EXPECT_EQ(state, State_Paused);
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        slow->ready = true;
    });
    EXPECT_EQ(control->GetState(5000, &state), S_OK);
    later.join();
    control->Stop();
}

// Receives the graph's notification on the thread that made it.
struct NotifyWindow {
    std::vector<Qt::HANDLE> threads;
    std::vector<LONG> codes;
    IMediaEventEx* events = nullptr;
    win::MessageWindow window{[this](win::HWND, win::UINT msg, win::WPARAM, win::LPARAM) {
        if (msg != 0x8001)
            return win::LRESULT(0);
        threads.push_back(QThread::currentThreadId());
        LONG code;
        LONG_PTR p1, p2;
        while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
            codes.push_back(code);
            events->FreeEventParams(code, p1, p2);
        }
        return win::LRESULT(0);
    }};
};

void SpinUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
    QDeadlineTimer deadline(timeout_ms);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

TEST(FilterGraph, EventsReachTheNotifyWindowThreadInOrderUntilSwitchedOff) {
    Rig rig(kSubX, kSubX);
    ASSERT_EQ(rig.graph->ConnectDirect(rig.source->Output(), rig.sink->Input(), nullptr), S_OK);
    auto events = rig.graph.As<IMediaEventEx>();
    NotifyWindow notify;
    notify.events = events.Get();
    ASSERT_EQ(events->SetNotifyFlags(0), S_OK);
    ASSERT_EQ(events->SetNotifyWindow(reinterpret_cast<OAHWND>(notify.window.Handle()), 0x8001,
                                      reinterpret_cast<LONG_PTR>(events.Get())),
              S_OK);
    auto sink = rig.graph.As<IMediaEventSink>();
    // A lost device's event names the filter and keeps it alive until freed.
    IUnknown* lost = rig.sink->Filter();
    const ULONG refs = RefCount(lost);
    // Raised from a streaming thread, as filters do.
    std::thread streaming([&] {
        for (LONG code : {EC_BUFFERING_DATA, EC_PAUSED, EC_DEVICE_LOST})
            sink->Notify(code, code == EC_DEVICE_LOST ? reinterpret_cast<LONG_PTR>(lost) : 1, 0);
    });
    streaming.join();
    SpinUntil([&] { return notify.codes.size() >= 3; });
    EXPECT_EQ(notify.codes, (std::vector<LONG>{EC_BUFFERING_DATA, EC_PAUSED, EC_DEVICE_LOST}));
    EXPECT_EQ(RefCount(lost), refs) << "FreeEventParams gives the reference back";
    for (Qt::HANDLE t : notify.threads)
        EXPECT_EQ(t, QThread::currentThreadId());

    // The graph's EC_COMPLETE comes when its one renderer finished.
    auto control = rig.graph.As<IMediaControl>();
    ASSERT_EQ(control->Run(), S_OK);
    rig.source->PushEndOfStream();
    SpinUntil([&] { return notify.codes.size() >= 4; });
    ASSERT_EQ(notify.codes.size(), 4u);
    EXPECT_EQ(notify.codes.back(), EC_COMPLETE);
    control->Stop();

    // Switched off: queued events go, with what they held, and new ones
    // neither queue nor post.
    sink->Notify(EC_PAUSED, 0, 0);
    sink->Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(lost), 0);
    EXPECT_EQ(RefCount(lost), refs + 1);
    ASSERT_EQ(events->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY), S_OK);
    EXPECT_EQ(RefCount(lost), refs);
    sink->Notify(EC_PAUSED, 0, 0);
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(notify.codes.size(), 4u);
    LONG code;
    LONG_PTR p1, p2;
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    EXPECT_EQ(events->SetNotifyFlags(7), E_INVALIDARG);
}

TEST(FilterGraph, LogFileRecordsEveryBuildingStep) {
    char path[] = "/tmp/ronvix-graphlog-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    {
        ScopedClass transform(TransformClass(kTransformA, kSubX, kSubY));
        Rig rig(kSubX, kSubY);
        // The graph keeps its own descriptor: the caller may close theirs.
        ASSERT_EQ(rig.graph->SetLogFile(static_cast<uintptr_t>(fd)), S_OK);
        ::close(fd);
        auto extra = TestSink::Make();
        rig.graph->AddFilter(extra->Filter(), u"Extra");
        rig.graph->Connect(rig.source->Output(), rig.sink->Input());
        rig.graph->RemoveFilter(extra->Filter());
        rig.graph->SetLogFile(0);
        rig.graph->AddFilter(TestSink::Make()->Filter(), u"After the log");
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::remove(path);
    const std::string log = text.str();
    EXPECT_NE(log.find("AddFilter \"Extra\""), std::string::npos) << log;
    EXPECT_NE(log.find("Source:Output -> Sink:Input"), std::string::npos) << log;
    EXPECT_NE(log.find("Video/TSTY"), std::string::npos) << log;  // The types are named.
    EXPECT_NE(log.find("RemoveFilter \"Extra\""), std::string::npos) << log;
    EXPECT_EQ(log.find("After the log"), std::string::npos) << log;
}

}  // namespace
}  // namespace ronvix::media
