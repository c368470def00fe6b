// Changing a graph while it runs, the way the application does it: filters
// stopped, disconnected and removed while their neighbours stream, a running
// graph released and its device opened again at once, and stopping while a
// downstream Receive is blocked.

#include <chrono>

#include "platform/media/core/engine_harness.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media {
namespace {

using namespace com;
using namespace test;
using std::chrono::steady_clock;

TestSource::Options Live(const GUID& subtype = MEDIASUBTYPE_MJPG, bool exclusive = false) {
    TestSource::Options o;
    o.types = {MediaType::Video(subtype, 64, 32, 24)};
    o.live = true;
    o.exclusive = exclusive;
    return o;
}

ComPtr<IBaseFilter> Create(const GUID& clsid) {
    RegisterEngineClasses();
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IBaseFilter::iid, filter.OutVoid()),
        S_OK);
    return filter;
}

// camera -> grabber -> sync(0) -> video sink; microphone -> sync(1) -> audio sink.
struct CaptureShape {
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    ComPtr<TestSource> camera = TestSource::Make(Live());
    ComPtr<TestSource> microphone = TestSource::Make([] {
        TestSource::Options o;
        o.types = {MediaType::Pcm(48000, 16, 2)};
        o.live = true;
        return o;
    }());
    ComPtr<IBaseFilter> grabber = Create(CLSID_SampleGrabber);
    ComPtr<IBaseFilter> sync = Create(CLSID_Sync);
    ComPtr<TestSink> video = TestSink::Make();
    ComPtr<TestSink> audio = TestSink::Make();

    CaptureShape() {
        graph->AddFilter(camera->Filter(), u"Camera");
        graph->AddFilter(microphone->Filter(), u"Microphone");
        graph->AddFilter(grabber.Get(), u"SampleGrabber");
        graph->AddFilter(sync.Get(), u"sync");
        graph->AddFilter(video->Filter(), u"Video");
        graph->AddFilter(audio->Filter(), u"Audio");
        EXPECT_EQ(graph->Connect(camera->Output(), PinNamed(grabber.Get(), u"Input").Get()), S_OK);
        EXPECT_EQ(graph->Connect(PinNamed(grabber.Get(), u"Output").Get(),
                                 PinNamed(sync.Get(), u"Input 0").Get()),
                  S_OK);
        EXPECT_EQ(graph->Connect(PinNamed(sync.Get(), u"Output 0").Get(), video->Input()), S_OK);
        EXPECT_EQ(graph->Connect(microphone->Output(), PinNamed(sync.Get(), u"Input 1").Get()),
                  S_OK);
        EXPECT_EQ(graph->Connect(PinNamed(sync.Get(), u"Output 1").Get(), audio->Input()), S_OK);
    }
};

TEST(RunningGraph, AFilterStoppedAndRemovedWhileItsNeighboursStream) {
    CaptureShape g;
    ASSERT_EQ(g.control->Run(), S_OK);
    ASSERT_TRUE(g.video->WaitForSamples(3));
    ASSERT_TRUE(g.audio->WaitForSamples(3));

    // What the grabber component does when it leaves its graph.
    ASSERT_EQ(g.grabber->Stop(), S_OK);
    for (ComPtr<IPin>& pin : FilterPins(g.grabber.Get()))
        EXPECT_EQ(pin->Disconnect(), S_OK);
    ASSERT_EQ(g.graph->RemoveFilter(g.grabber.Get()), S_OK);

    // The video branch ended cleanly; the audio branch goes on.
    EXPECT_TRUE(g.video->WaitFor([&] { return g.video->EndOfStreams() == 1; }));
    const size_t audio_before = g.audio->Count();
    EXPECT_TRUE(g.audio->WaitForSamples(audio_before + 5));
    FILTER_STATE state;
    g.camera->GetState(0, &state);
    EXPECT_EQ(state, State_Running);
    EXPECT_FALSE(g.camera->Output()->IsConnected());

    ASSERT_EQ(g.control->Stop(), S_OK);
    EXPECT_EQ(RefCount(g.grabber.Get()), 1u);
}

TEST(RunningGraph, DisconnectingARunningPinEndsThatStreamOnly) {
    CaptureShape g;
    ASSERT_EQ(g.control->Run(), S_OK);
    ASSERT_TRUE(g.audio->WaitForSamples(2));

    // Output side: the consumer is flushed and sees end of stream.
    ComPtr<IPin> microphone_out = g.microphone->Output();
    EXPECT_EQ(microphone_out->Disconnect(), S_OK);
    EXPECT_EQ(microphone_out->Disconnect(), S_FALSE);
    EXPECT_TRUE(g.audio->WaitFor([&] { return g.audio->EndOfStreams() == 1; }));
    EXPECT_GE(g.audio->Flushes(), 1);

    // Input side, while samples arrive: nothing more reaches it, and the
    // producer keeps running.
    ASSERT_TRUE(g.video->WaitForSamples(2));
    EXPECT_EQ(g.video->Input()->Disconnect(), S_OK);
    EXPECT_EQ(g.video->EndOfStreams(), 1);
    const size_t received = g.video->Count();
    const long delivered = g.camera->Delivered();
    EXPECT_TRUE(g.video->WaitFor([&] { return g.camera->Delivered() > delivered + 5; }));
    EXPECT_EQ(g.video->Count(), received);

    ASSERT_EQ(g.control->Stop(), S_OK);
}

TEST(RunningGraph, ReleasingARunningGraphClosesTheDeviceBeforeItReturns) {
    for (int round = 0; round < 3; ++round) {
        auto first = TestSource::Make(Live(MEDIASUBTYPE_MJPG, true));
        {
            ComPtr<IFilterGraph2> graph = CreateFilterGraph();
            auto sink = TestSink::Make();
            graph->AddFilter(first->Filter(), u"Camera");
            graph->AddFilter(sink->Filter(), u"Sink");
            ASSERT_EQ(graph->Connect(first->Output(), sink->Input()), S_OK);
            ASSERT_EQ(graph.As<IMediaControl>()->Run(), S_OK);
            ASSERT_TRUE(sink->WaitForSamples(2));
            EXPECT_TRUE(TestSource::DeviceOpen().load());
        }  // Last reference to the running graph.
        EXPECT_FALSE(TestSource::DeviceOpen().load());

        // A new instance of the same device opens it at once.
        auto second = TestSource::Make(Live(MEDIASUBTYPE_MJPG, true));
        ComPtr<IFilterGraph2> graph = CreateFilterGraph();
        auto sink = TestSink::Make();
        graph->AddFilter(second->Filter(), u"Camera");
        graph->AddFilter(sink->Filter(), u"Sink");
        ASSERT_EQ(graph->Connect(second->Output(), sink->Input()), S_OK);
        ASSERT_EQ(graph.As<IMediaControl>()->Run(), S_OK);
        EXPECT_TRUE(sink->WaitForSamples(2));
        // While it is open a third instance cannot have it.
        auto third = TestSource::Make(Live(MEDIASUBTYPE_MJPG, true));
        EXPECT_EQ(third->Pause(), E_ACCESSDENIED);
        FILTER_STATE state;
        third->GetState(0, &state);
        EXPECT_EQ(state, State_Stopped);
        graph.As<IMediaControl>()->Stop();
        EXPECT_EQ(RefCount(first->Filter()), 1u);
    }
}

TEST(RunningGraph, StopReturnsWhileADownstreamReceiveIsBlocked) {
    // Once through the whole graph, once stopping only the source whose
    // thread is inside the blocked sink.
    for (bool whole_graph : {true, false}) {
        ComPtr<IFilterGraph2> graph = CreateFilterGraph();
        auto control = graph.As<IMediaControl>();
        TestSource::Options o = Live();
        o.live = false;
        auto source = TestSource::Make(o);
        TestSink::Options so;
        so.block = true;
        auto sink = TestSink::Make(so);
        graph->AddFilter(source->Filter(), u"Source");
        graph->AddFilter(sink->Filter(), u"Sink");
        ASSERT_EQ(graph->Connect(source->Output(), sink->Input()), S_OK);
        ASSERT_EQ(control->Run(), S_OK);
        HRESULT pushed = E_FAIL;
        std::thread streaming([&] { pushed = source->Push({1, 2, 3, 4}); });
        ASSERT_TRUE(sink->WaitForBlocked());

        const auto begin = steady_clock::now();
        if (whole_graph) {
            EXPECT_EQ(control->Stop(), S_OK);
        } else {
            EXPECT_EQ(source->Stop(), S_OK);
        }
        streaming.join();
        EXPECT_LT(steady_clock::now() - begin, std::chrono::seconds(5));
        EXPECT_EQ(pushed, S_FALSE);  // Flushed, not received.
        EXPECT_EQ(sink->Count(), 0u);
        control->Stop();
    }
}

TEST(RunningGraph, BackPressureHoldsAProducerUntilTheConsumerLetsGo) {
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    TestSource::Options o;
    o.types = {MediaType::Video(MEDIASUBTYPE_RGB32, 8, 8, 32)};
    o.buffers = 2;
    auto source = TestSource::Make(o);
    TestSink::Options so;
    so.block = true;
    auto sink = TestSink::Make(so);
    graph->AddFilter(source->Filter(), u"Source");
    graph->AddFilter(sink->Filter(), u"Sink");
    ASSERT_EQ(graph->Connect(source->Output(), sink->Input()), S_OK);
    auto control = graph.As<IMediaControl>();
    ASSERT_EQ(control->Run(), S_OK);

    std::atomic<int> pushed{0};
    std::thread producer([&] {
        for (int i = 0; i < 6; ++i)
            if (source->Push({static_cast<uint8_t>(i)}) == S_OK)
                ++pushed;
    });
    ASSERT_TRUE(sink->WaitForBlocked());
    EXPECT_EQ(pushed.load(), 0);
    // A live producer is told at once instead of waiting.
    ComPtr<IMediaSample> spare, none;
    EXPECT_EQ(source->Output()->GetDeliveryBuffer(spare.ReleaseAndGetAddressOf(), AM_GBF_NOWAIT),
              S_OK);
    EXPECT_EQ(source->Output()->GetDeliveryBuffer(none.ReleaseAndGetAddressOf(), AM_GBF_NOWAIT),
              VFW_E_TIMEOUT);
    EXPECT_EQ(none, nullptr);
    spare = nullptr;
    sink->Unblock();
    producer.join();
    EXPECT_EQ(pushed.load(), 6);
    ASSERT_EQ(sink->Count(), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(sink->ReceivedSamples()[i].data[0], i);
    control->Stop();
}

}  // namespace
}  // namespace ronvix::media
