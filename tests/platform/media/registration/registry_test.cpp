// Every class the registry lists as a software filter goes through the same
// life: create, connect the pairs named below, Stopped -> Paused -> Running
// -> Stopped several times with frames flowing, destroy, and nothing may
// keep a reference afterwards. A filter without a named wiring is cycled
// unconnected; each new filter adds its pairs to the table.

#include <functional>
#include <map>

#include "platform/media/codecs/codecs.h"
#include "platform/media/container/avisplitter.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media {
namespace {

using namespace com;
using namespace test;

TestSource::Options LiveMjpg() {
    TestSource::Options o;
    o.types = {MediaType::Video(MEDIASUBTYPE_MJPG, 64, 32, 24, 400000)};
    o.live = true;
    return o;
}

TestSource::Options LiveYuy2() {
    TestSource::Options o;
    o.types = {MediaType::Video(MEDIASUBTYPE_YUY2, 64, 32, 16, 400000)};
    o.live = true;
    o.buffer_size = o.frame_bytes = 64 * 32 * 2;  // Whole frames.
    return o;
}

TestSink* SinkFor(FilterHarness& h, const GUID& subtype) {
    TestSink::Options o;
    o.accept = {MediaType::Partial(MEDIATYPE_Video, subtype)};
    return h.AddSink(o);
}

// The filter's first input from `source`, its first output to `sink`.
void Through(FilterHarness& h, IPin* source, TestSink* sink) {
    EXPECT_EQ(h.Graph()->ConnectDirect(source, FirstPin(h.Filter(), PINDIR_INPUT).Get(), nullptr),
              S_OK);
    EXPECT_EQ(
        h.Graph()->ConnectDirect(FirstPin(h.Filter(), PINDIR_OUTPUT).Get(), sink->Input(), nullptr),
        S_OK);
}

// The connections the filter catalogue gives each class, by class id. Each
// returns the sinks that must receive frames while running. The AVI Mux,
// File Writer, File Source and AVI Splitter need files and are run with real
// ones in their own tests; here they are cycled unconnected.
using Wiring = std::function<std::vector<TestSink*>(FilterHarness&)>;

const std::map<GUID, Wiring>& Wirings() {
    static const std::map<GUID, Wiring> table = {
        {CLSID_Sync,
         [](FilterHarness& h) -> std::vector<TestSink*> {
             TestSink* out = h.AddSink();
             EXPECT_EQ(h.ConnectIn(h.AddSource(LiveMjpg()), u"Input 0"), S_OK);
             EXPECT_EQ(h.ConnectOut(u"Output 0", out), S_OK);
             return {out};
         }},
        {CLSID_SampleGrabber,
         [](FilterHarness& h) -> std::vector<TestSink*> {
             TestSink* out = h.AddSink();
             EXPECT_EQ(h.ConnectIn(h.AddSource(LiveMjpg()), u"Input"), S_OK);
             EXPECT_EQ(h.ConnectOut(u"Output", out), S_OK);
             return {out};
         }},
        {CLSID_SmartTee,
         [](FilterHarness& h) -> std::vector<TestSink*> {
             TestSink* capture = h.AddSink();
             TestSink* preview = h.AddSink();
             EXPECT_EQ(h.ConnectIn(h.AddSource(LiveMjpg()), u"Input"), S_OK);
             EXPECT_EQ(h.ConnectOut(u"Capture", capture), S_OK);
             EXPECT_EQ(h.ConnectOut(u"Preview", preview), S_OK);
             return {capture, preview};
         }},
        {CLSID_Colour,  // YUY2 -> RGB32
         [](FilterHarness& h) -> std::vector<TestSink*> {
             TestSink* out = SinkFor(h, MEDIASUBTYPE_RGB32);
             Through(h, h.AddSource(LiveYuy2())->Output(), out);
             return {out};
         }},
        {CLSID_MjpegCompressor,  // YUY2 -> MJPG
         [](FilterHarness& h) -> std::vector<TestSink*> {
             TestSink* out = SinkFor(h, MEDIASUBTYPE_MJPG);
             Through(h, h.AddSource(LiveYuy2())->Output(), out);
             return {out};
         }},
        {CLSID_MjpegDecompressor,  // MJPG from the compressor -> RGB32
         [](FilterHarness& h) -> std::vector<TestSink*> {
             ComPtr<IBaseFilter> encoder;
             EXPECT_EQ(CoCreateInstance(CLSID_MjpegCompressor, nullptr, CLSCTX_INPROC_SERVER,
                                        IBaseFilter::iid, encoder.OutVoid()),
                       S_OK);
             h.Graph()->AddFilter(encoder.Get(), u"Encoder");
             EXPECT_EQ(
                 h.Graph()->ConnectDirect(h.AddSource(LiveYuy2())->Output(),
                                          FirstPin(encoder.Get(), PINDIR_INPUT).Get(), nullptr),
                 S_OK);
             TestSink* out = SinkFor(h, MEDIASUBTYPE_RGB32);
             Through(h, FirstPin(encoder.Get(), PINDIR_OUTPUT).Get(), out);
             return {out};
         }},
    };
    return table;
}

std::vector<ClassEntry> SoftwareFilters() {
    RegisterEngineClasses();
    RegisterCodecClasses();
    RegisterPlaybackClasses();
    return ClassRegistry::Instance().InCategory(CLSID_LegacyAmFilterCategory);
}

class EveryRegisteredFilter : public testing::TestWithParam<ClassEntry> {};

TEST_P(EveryRegisteredFilter, CyclesThroughItsStatesAndLeavesNothingBehind) {
    const ClassEntry& entry = GetParam();
    SoftwareFilters();  // Another test of this process may have unregistered some.
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreateInstance(entry.clsid, nullptr, CLSCTX_INPROC_SERVER, IBaseFilter::iid,
                               filter.OutVoid()),
              S_OK);
    GUID clsid{};
    ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, entry.clsid);
    EXPECT_FALSE(FilterPins(filter.Get()).empty());

    FilterHarness h(filter);
    filter = nullptr;
    std::vector<TestSink*> sinks;
    if (auto it = Wirings().find(entry.clsid); it != Wirings().end())
        sinks = it->second(h);

    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(SUCCEEDED(h.Control()->Pause()));
        FILTER_STATE state;
        h.Filter()->GetState(100, &state);
        EXPECT_EQ(state, State_Paused);
        ASSERT_EQ(h.Control()->Run(), S_OK);
        h.Filter()->GetState(100, &state);
        EXPECT_EQ(state, State_Running);
        for (TestSink* sink : sinks) {
            const size_t before = sink->Count();
            EXPECT_TRUE(sink->WaitForSamples(before + 2)) << "round " << round;
        }
        ASSERT_EQ(h.Control()->Stop(), S_OK);
        h.Filter()->GetState(0, &state);
        EXPECT_EQ(state, State_Stopped);
    }
    h.Teardown();
}

INSTANTIATE_TEST_SUITE_P(Registry, EveryRegisteredFilter, testing::ValuesIn(SoftwareFilters()),
                         [](const testing::TestParamInfo<ClassEntry>& info) {
                             std::string name;
                             for (char c : info.param.friendly_name)
                                 if (std::isalnum(static_cast<unsigned char>(c)))
                                     name += c;
                             return name;
                         });

TEST(Registry, RegisteringTwiceChangesNothing) {
    RegisterEngineClasses();
    const size_t count = ClassRegistry::Instance().All().size();
    RegisterEngineClasses();
    EXPECT_EQ(ClassRegistry::Instance().All().size(), count);
    for (const GUID& clsid : {CLSID_FilterGraph, CLSID_CaptureGraphBuilder2, CLSID_Sync,
                              CLSID_SmartTee, CLSID_SampleGrabber})
        EXPECT_TRUE(ClassRegistry::Instance().Find(clsid)) << clsid.ToString();
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IGraphBuilder::iid,
                               graph.OutVoid()),
              S_OK);
    ComPtr<IMediaEventEx> events;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IMediaEventEx::iid,
                               events.OutVoid()),
              S_OK);
}

}  // namespace
}  // namespace ronvix::media
