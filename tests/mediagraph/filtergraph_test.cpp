#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <string>
#include <vector>

#include "../platform/media/core/engine_harness.h"
#include "mediagraph/filtergraph.h"
#include "mediagraph/graph_util.h"
#include "mediagraph/unavailable_interfaces.h"
#include "mediagraph_test_util.h"
#include "platform/com/moniker.h"
#include "platform/com/rot.h"
#include "platform/winui/dialogs.h"

namespace ronvix::mediagraph {
namespace {

using com::ComPtr;
using media::IBaseFilter;

// A component side of both links that records what the graph tells it and
// puts a real sync filter into the graph.
class RecordingLink : public IFilterLink, public IControlLink {
public:
    explicit RecordingLink(QString name, TFilterGraph* graph = nullptr)
        : m_name(std::move(name)), m_graph(graph) {}
    HRESULT QueryInterface(com::REFIID, void** out) override {
        *out = nullptr;
        return com::E_NOINTERFACE;
    }
    com::ULONG AddRef() override { return 1; }
    com::ULONG Release() override { return 1; }

    ComPtr<IBaseFilter> LinkedFilter() override { return filter; }
    QString LinkedName() override { return m_name; }
    void LinkNotify(int operation, int param) override {
        log.push_back("link " + std::to_string(operation) + "/" + std::to_string(param));
        if (operation == BeforeAdd) {
            com::CoCreateInstance(media::CLSID_Sync, nullptr, com::CLSCTX_INPROC_SERVER,
                                  IBaseFilter::iid, filter.OutVoid());
            ++instances;
        }
        if (operation == AfterAdd && m_graph)
            in_graph_at_after_add = media::FilterName(filter.Get()) == m_name.toStdU16String();
        if (operation == BeforeRemove && m_graph)
            state_at_remove = m_graph->State();
        if (operation == AfterRemove)
            filter = nullptr;
    }
    void ForwardGraphEvent(LONG code, LONG_PTR p1, LONG_PTR p2) override {
        events.push_back({code, p1, p2});
    }
    void ForwardGraphState(int operation, int param) override {
        log.push_back("state " + std::to_string(operation) + "/" + std::to_string(param));
    }

    struct Event {
        LONG code;
        LONG_PTR p1;
        LONG_PTR p2;
    };
    std::vector<std::string> log;
    std::vector<Event> events;
    ComPtr<IBaseFilter> filter;
    int instances = 0;
    bool in_graph_at_after_add = false;
    int state_at_remove = -1;

private:
    QString m_name;
    TFilterGraph* m_graph;
};

class FilterGraphTest : public ::testing::Test {
protected:
    void SetUp() override { test::RegisterClasses(); }
    win::ScriptedDialogs dialogs;
};

size_t FiltersIn(TFilterGraph& graph) {
    auto builder = graph.Query<media::IGraphBuilder>();
    return builder ? media::test::FilterCount(builder.Get()) : 0;
}

TEST_F(FilterGraphTest, InactiveGraphRefusesEverythingQuietly) {
    TFilterGraph graph;
    RecordingLink control(QStringLiteral("c"));
    graph.AddControlLink(&control);
    EXPECT_FALSE(graph.Play());
    EXPECT_FALSE(graph.Pause());
    EXPECT_FALSE(graph.Stop());
    EXPECT_EQ(graph.State(), 0);
    graph.ClearFilters();
    EXPECT_TRUE(control.log.empty());
    EXPECT_FALSE(graph.Query<media::IGraphBuilder>());
    EXPECT_TRUE(graph.Query<com::IUnknown>());  // its own interface
}

TEST_F(FilterGraphTest, ActivationRunsItsSequenceOnceAndDeactivationReverses) {
    TFilterGraph graph;
    graph.SetMode(TFilterGraph::gmCapture);
    RecordingLink a(QStringLiteral("A"), &graph);
    RecordingLink b(QStringLiteral("B"), &graph);
    graph.AddFilterLink(&a);
    graph.AddFilterLink(&b);
    graph.AddControlLink(&a);
    int activations = 0;
    graph.OnActivate = [&](QObject*) {
        ++activations;
        a.log.push_back("OnActivate");
    };
    graph.SetActive(true);
    graph.SetActive(true);
    EXPECT_EQ(activations, 1);
    EXPECT_EQ(a.instances, 1);
    EXPECT_TRUE(a.in_graph_at_after_add);  // BeforeAdd made it; it was added before AfterAdd
    EXPECT_EQ(FiltersIn(graph), 2u);
    EXPECT_TRUE(graph.Query<media::ICaptureGraphBuilder2>());
    EXPECT_EQ(graph.State(), 1);
    EXPECT_EQ(a.log, (std::vector<std::string>{"link 0/0", "link 1/0", "OnActivate", "state 7/1"}));

    ComPtr<IBaseFilter> first = a.filter;
    a.log.clear();
    graph.SetActive(false);
    EXPECT_EQ(a.log, (std::vector<std::string>{"state 7/0", "link 2/0", "link 3/0"}));
    EXPECT_FALSE(a.filter);
    EXPECT_EQ(graph.State(), 0);
    graph.SetActive(true);
    EXPECT_EQ(a.instances, 2);
    EXPECT_NE(a.filter, first);  // a new instance each activation
    graph.SetActive(false);
    graph.RemoveFilterLink(&a);
    graph.RemoveFilterLink(&b);
    graph.RemoveControlLink(&a);
}

TEST_F(FilterGraphTest, ModeChangeOnAnActiveGraphPassesThroughInactive) {
    TFilterGraph graph;
    RecordingLink link(QStringLiteral("L"));
    graph.AddFilterLink(&link);
    graph.AddControlLink(&link);
    graph.SetMode(TFilterGraph::gmCapture);  // inactive: only stored
    EXPECT_TRUE(link.log.empty());
    graph.SetActive(true);
    EXPECT_TRUE(graph.Query<media::ICaptureGraphBuilder2>());
    link.log.clear();
    graph.SetMode(TFilterGraph::gmNormal);
    EXPECT_TRUE(graph.Active());
    EXPECT_EQ(link.log, (std::vector<std::string>{"state 7/0", "link 2/0", "link 3/0", "link 0/0",
                                                  "link 1/0", "state 7/1"}));
    EXPECT_FALSE(graph.Query<media::ICaptureGraphBuilder2>());
    EXPECT_EQ(FiltersIn(graph), 1u);
    graph.SetActive(false);
    graph.RemoveFilterLink(&link);
    graph.RemoveControlLink(&link);
}

TEST_F(FilterGraphTest, LinksAddedAndRemovedWhileActiveTouchTheGraphAtOnce) {
    TFilterGraph graph;
    graph.SetActive(true);
    RecordingLink link(QStringLiteral("Late"));
    graph.AddFilterLink(&link);
    EXPECT_EQ(FiltersIn(graph), 1u);
    EXPECT_EQ(link.log, (std::vector<std::string>{"link 0/0", "link 1/0"}));
    graph.RemoveFilterLink(&link);
    EXPECT_EQ(FiltersIn(graph), 0u);
    EXPECT_EQ(graph.FilterLinkCount(), 0);

    // A link never added still hears both removal notices, and its filter
    // leaves the graph.
    RecordingLink stranger(QStringLiteral("Stranger"));
    com::CoCreateInstance(media::CLSID_Sync, nullptr, 1, IBaseFilter::iid,
                          stranger.filter.OutVoid());
    graph.Query<media::IGraphBuilder>()->AddFilter(stranger.filter.Get(), u"Stranger");
    EXPECT_EQ(FiltersIn(graph), 1u);
    graph.RemoveFilterLink(&stranger);
    EXPECT_EQ(stranger.log, (std::vector<std::string>{"link 2/0", "link 3/0"}));
    EXPECT_EQ(FiltersIn(graph), 0u);
}

TEST_F(FilterGraphTest, DvdModeActivatesWithoutPlatformObjects) {
    TFilterGraph graph;
    graph.SetMode(TFilterGraph::gmDVD);
    RecordingLink link(QStringLiteral("L"));
    graph.AddFilterLink(&link);
    graph.SetActive(true);
    EXPECT_TRUE(graph.Active());
    EXPECT_FALSE(graph.Query<media::IGraphBuilder>());
    EXPECT_FALSE(graph.Query<IDvdInfo2>());
    EXPECT_FALSE(graph.Play());
    EXPECT_EQ(graph.State(), 0);
    graph.ClearFilters();
    graph.SetActive(false);
    EXPECT_EQ(link.log, (std::vector<std::string>{"link 0/0", "link 1/0", "link 2/0", "link 3/0"}));
    graph.RemoveFilterLink(&link);
}

TEST_F(FilterGraphTest, RunControlSendsNoticesAndReportsResults) {
    TFilterGraph graph;
    RecordingLink control(QStringLiteral("c"));
    graph.AddControlLink(&control);
    graph.SetActive(true);
    control.log.clear();
    EXPECT_TRUE(graph.Play());
    EXPECT_EQ(graph.State(), 3);
    EXPECT_TRUE(graph.Pause());
    EXPECT_EQ(graph.State(), 2);
    EXPECT_TRUE(graph.Stop());
    EXPECT_EQ(graph.State(), 1);
    EXPECT_EQ(control.log, (std::vector<std::string>{"state 0/0", "state 1/0", "state 2/0"}));
    graph.SetActive(false);
    graph.RemoveControlLink(&control);
}

TEST_F(FilterGraphTest, LinksTakeTheirFiltersOutOfAStoppedGraph) {
    // Deactivating a running graph must not pull filters out from under
    // streaming threads: the links find the graph stopped.
    TFilterGraph graph;
    RecordingLink link(QStringLiteral("sync"), &graph);
    graph.AddFilterLink(&link);
    for (bool pause_first : {false, true}) {
        graph.SetActive(true);
        ASSERT_TRUE(graph.Play());
        if (pause_first)
            graph.Pause();
        ASSERT_NE(graph.State(), 1);
        graph.SetActive(false);
        EXPECT_EQ(link.state_at_remove, 1);
    }
    graph.RemoveFilterLink(&link);
}

TEST_F(FilterGraphTest, PauseOfALiveSourceStillOnItsWayIsFalseWithoutError) {
    // A live source that cannot cue answers Pause with S_FALSE.
    TFilterGraph graph;
    graph.SetActive(true);
    media::test::TestSource::Options options;
    options.live = true;
    auto source = media::test::TestSource::Make(options);
    auto builder = graph.Query<media::IGraphBuilder>();
    builder->AddFilter(source->Filter(), u"Live");
    ComPtr<IBaseFilter> sink;
    com::CoCreateInstance(media::CLSID_SampleGrabber, nullptr, 1, IBaseFilter::iid, sink.OutVoid());
    builder->AddFilter(sink.Get(), u"Grabber");
    auto pins = media::FilterPins(sink.Get());
    ASSERT_EQ(builder->ConnectDirect(source->Output(), pins[0].Get(), nullptr), com::S_OK);
    auto control = graph.Query<media::IMediaControl>();
    const HRESULT direct = control->Pause();
    control->Stop();
    const bool result = graph.Pause();
    EXPECT_EQ(result, direct == com::S_OK);
    graph.Stop();
    graph.SetActive(false);
}

TEST_F(FilterGraphTest, ClearFiltersKeepsLinkFiltersDisconnected) {
    TFilterGraph graph;
    RecordingLink link(QStringLiteral("LinkSync"));
    graph.AddFilterLink(&link);
    graph.SetActive(true);
    auto builder = graph.Query<media::IGraphBuilder>();
    auto source = media::test::TestSource::Make();
    builder->AddFilter(source->Filter(), u"Source");
    auto sync_pins = media::FilterPins(link.filter.Get());
    ASSERT_EQ(builder->ConnectDirect(source->Output(), sync_pins[0].Get(), nullptr), com::S_OK);
    ASSERT_EQ(FiltersIn(graph), 2u);
    graph.ClearFilters();
    EXPECT_EQ(FiltersIn(graph), 1u);
    for (auto& pin : media::FilterPins(link.filter.Get()))
        EXPECT_FALSE(media::PinIsConnected(pin.Get()));
    EXPECT_FALSE(media::PinIsConnected(source->Output()));
    graph.SetActive(false);
    graph.RemoveFilterLink(&link);
}

TEST_F(FilterGraphTest, GraphEditPublishesOnlyWhileActive) {
    TFilterGraph graph;
    graph.SetGraphEdit(true);
    EXPECT_EQ(graph.RunningObjectCookie(), 0u);
    graph.SetActive(true);
    ASSERT_NE(graph.RunningObjectCookie(), 0u);
    auto builder = graph.Query<media::IGraphBuilder>();
    const QString name = PublishedGraphName(builder.Get());
    EXPECT_TRUE(name.startsWith(QStringLiteral("FilterGraph ")));
    EXPECT_TRUE(name.endsWith(QStringLiteral(" pid ") +
                              QString::number(win::GetCurrentProcessId(), 16).toUpper()));
    ComPtr<com::IRunningObjectTable> table;
    com::GetRunningObjectTable(0, table.ReleaseAndGetAddressOf());
    ComPtr<com::IMoniker> item;
    const std::u16string text = name.toStdU16String();
    com::CreateItemMoniker(u"!", text.c_str(), item.ReleaseAndGetAddressOf());
    EXPECT_EQ(table->IsRunning(item.Get()), com::S_OK);
    graph.SetActive(false);
    EXPECT_EQ(graph.RunningObjectCookie(), 0u);
    EXPECT_NE(table->IsRunning(item.Get()), com::S_OK);
    EXPECT_TRUE(graph.GraphEdit());
}

TEST_F(FilterGraphTest, LogFileFollowsActivationAndKeepsItsValueOnFailure) {
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("graph.log"));
    TFilterGraph graph;
    graph.SetLogFile(log);  // inactive: stored only
    EXPECT_FALSE(QFile::exists(log));
    graph.SetActive(true);
    EXPECT_TRUE(QFile::exists(log));
    RecordingLink link(QStringLiteral("Logged"));
    graph.AddFilterLink(&link);
    graph.SetLogFile(dir.filePath(QStringLiteral("missing/folder/x.log")));
    EXPECT_EQ(graph.LogFile(), log);
    graph.SetActive(false);
    graph.RemoveFilterLink(&link);
    QFile written(log);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_GT(written.size(), 0);
}

TEST_F(FilterGraphTest, EventsAreDecodedForTheirComponentEvents) {
    TFilterGraph graph;
    RecordingLink control(QStringLiteral("c"));
    graph.AddControlLink(&control);
    std::vector<bool> buffering;
    graph.OnGraphBufferingData = [&](QObject* sender, bool b) {
        EXPECT_EQ(sender, &graph);
        buffering.push_back(b);
    };
    graph.DispatchGraphEvent(EC_BUFFERING_DATA, 1, 0);
    graph.DispatchGraphEvent(EC_BUFFERING_DATA, 0, 0);
    graph.DispatchGraphEvent(EC_BUFFERING_DATA, 2, 0);
    EXPECT_EQ(buffering, (std::vector<bool>{true, false, false}));

    int w = 0, h = 0;
    graph.OnGraphVideoSizeChanged = [&](QObject*, uint16_t width, uint16_t height) {
        w = width;
        h = height;
    };
    graph.DispatchGraphEvent(EC_VIDEO_SIZE_CHANGED, (576 << 16) | 720, 0);
    EXPECT_EQ(w, 720);
    EXPECT_EQ(h, 576);

    std::vector<std::string> domains;
    graph.OnDVDDomainTitle = [&](QObject*) { domains.push_back("title"); };
    graph.OnDVDDomainStop = [&](QObject*) { domains.push_back("stop"); };
    graph.DispatchGraphEvent(EC_DVD_DOMAIN_CHANGE, 4, 0);
    graph.DispatchGraphEvent(EC_DVD_DOMAIN_CHANGE, 5, 0);
    graph.DispatchGraphEvent(EC_DVD_DOMAIN_CHANGE, 6, 0);
    EXPECT_EQ(domains, (std::vector<std::string>{"title", "stop"}));

    // 01:23:45, frame 17, 25 fps: units before tens, rate code in the top bits.
    const uint32_t packed =
        1u | 0u << 4 | 3u << 8 | 2u << 12 | 5u << 16 | 4u << 20 | 7u << 24 | 1u << 28 | 1u << 30;
    int t[5] = {};
    graph.OnDVDCurrentTime = [&](QObject*, int hh, int mm, int ss, int ff, int rate) {
        t[0] = hh, t[1] = mm, t[2] = ss, t[3] = ff, t[4] = rate;
    };
    graph.DispatchGraphEvent(EC_DVD_CURRENT_TIME, static_cast<LONG_PTR>(packed), 0);
    EXPECT_EQ((std::vector<int>(t, t + 5)), (std::vector<int>{1, 23, 45, 17, 25}));
    DVD_HMSF_TIMECODE hmsf;
    DVD_TIMECODE code;
    graph.OnDVDCurrentHMSFTime = [&](QObject*, DVD_HMSF_TIMECODE a, const DVD_TIMECODE& b) {
        hmsf = a;
        code = b;
    };
    const uint32_t thirty = (packed & ~(3u << 30)) | (3u << 30);
    graph.DispatchGraphEvent(EC_DVD_CURRENT_HMSF_TIME, 0x11223344, thirty);
    EXPECT_EQ(hmsf.bHours, 0x44);
    EXPECT_EQ(hmsf.bFrames, 0x11);
    EXPECT_EQ(code.Minutes1, 3);
    EXPECT_EQ(code.Minutes10, 2);
    EXPECT_EQ(code.FrameRateCode, 3);
    EXPECT_EQ(FrameRateOf(code), 30);

    // Pointer parameters are taken whole.
    const com::REFERENCE_TIME at = 0x123456789ALL;
    com::REFERENCE_TIME seen = 0;
    uint32_t segment = 0;
    graph.OnGraphEndOfSegment = [&](QObject*, com::REFERENCE_TIME time, uint32_t n) {
        seen = time;
        segment = n;
    };
    graph.DispatchGraphEvent(EC_END_OF_SEGMENT, reinterpret_cast<LONG_PTR>(&at), 3);
    EXPECT_EQ(seen, at);
    EXPECT_EQ(segment, 3u);
    bool played = false;
    graph.OnDVDKaraokeMode = [&](QObject*, bool p) { played = p; };
    graph.DispatchGraphEvent(EC_DVD_KARAOKE_MODE, 2, 0);
    EXPECT_TRUE(played);
    float rate = 0;
    graph.OnDVDPlaybackRateChange = [&](QObject*, float r) { rate = r; };
    graph.DispatchGraphEvent(EC_DVD_PLAYBACK_RATE_CHANGE, 25000, 0);
    EXPECT_FLOAT_EQ(rate, 2.5f);

    // Unknown codes reach OnDSEvent and the control links only.
    std::vector<LONG> ds;
    graph.OnDSEvent = [&](TFilterGraph*, LONG e, LONG_PTR, LONG_PTR) { ds.push_back(e); };
    control.events.clear();
    graph.DispatchGraphEvent(0x7777, 5, 6);
    ASSERT_EQ(control.events.size(), 1u);
    EXPECT_EQ(control.events[0].code, 0x7777);
    EXPECT_EQ(control.events[0].p2, 6);
    EXPECT_EQ(ds, (std::vector<LONG>{0x7777}));
    graph.RemoveControlLink(&control);
}

TEST_F(FilterGraphTest, QueuedEventsAreDrainedOnTheWindowThreadAndFailuresReported) {
    TFilterGraph graph;
    graph.SetActive(true);
    auto sink = graph.Query<media::IMediaEventSink>();
    ASSERT_TRUE(sink);
    std::vector<bool> seen;
    graph.OnGraphBufferingData = [&](QObject*, bool b) {
        seen.push_back(b);
        if (seen.size() == 1)
            throw fw::Exception(QStringLiteral("handler failed"));
    };
    sink->Notify(EC_BUFFERING_DATA, 1, 0);
    sink->Notify(EC_BUFFERING_DATA, 0, 0);
    EXPECT_TRUE(seen.empty());  // nothing runs until the message loop does
    test::DeliverPosted();
    // The failure was reported; the event after it waited for the next
    // message and came with it.
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("handler failed."));
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
    graph.SetActive(false);
    sink->Notify(EC_BUFFERING_DATA, 1, 0);  // no longer delivered
    test::DeliverPosted();
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(FilterGraphTest, AHandlerThatDeactivatesStopsTheDrainSafely) {
    TFilterGraph graph;
    graph.SetActive(true);
    auto sink = graph.Query<media::IMediaEventSink>();
    int calls = 0;
    graph.OnGraphErrorAbort = [&](QObject*, HRESULT) {
        ++calls;
        graph.SetActive(false);
    };
    sink->Notify(EC_ERRORABORT, com::E_FAIL, 0);
    sink->Notify(EC_ERRORABORT, com::E_FAIL, 0);
    test::DeliverPosted();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(graph.Active());
}

}  // namespace
}  // namespace ronvix::mediagraph
