// sync and the Smart Tee through the single-filter harness.

#include "platform/media/core/engine_harness.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media {
namespace {

using namespace com;
using namespace test;

ComPtr<IBaseFilter> New(const GUID& clsid) {
    RegisterEngineClasses();
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IBaseFilter::iid, filter.OutVoid()),
        S_OK);
    return filter;
}

std::vector<std::u16string> PinNames(IBaseFilter* filter) {
    std::vector<std::u16string> names;
    for (ComPtr<IPin>& pin : FilterPins(filter))
        names.push_back(PinName(pin.Get()));
    return names;
}

TEST(Sync, EachConnectedInputGetsAnOutputAndANewFreeInput) {
    FilterHarness h(New(CLSID_Sync), u"sync");
    EXPECT_EQ(PinNames(h.Filter()), (std::vector<std::u16string>{u"Input 0"}));
    TestSource::Options video;
    video.types = {MediaType::Video(MEDIASUBTYPE_MJPG, 720, 576, 24, 400000)};
    TestSource::Options audio;
    audio.types = {MediaType::Pcm(48000, 16, 2)};
    TestSource* v = h.AddSource(video);
    TestSource* a = h.AddSource(audio);
    TestSink* v_out = h.AddSink();
    TestSink* a_out = h.AddSink();

    ASSERT_EQ(h.ConnectIn(v, u"Input 0"), S_OK);
    EXPECT_EQ(PinNames(h.Filter()),
              (std::vector<std::u16string>{u"Input 0", u"Output 0", u"Input 1"}));
    ASSERT_EQ(h.ConnectIn(a, u"Input 1"), S_OK);
    ASSERT_EQ(h.ConnectOut(u"Output 0", v_out), S_OK);
    ASSERT_EQ(h.ConnectOut(u"Output 1", a_out), S_OK);
    EXPECT_EQ(PinNames(h.Filter()).size(), 5u);

    // Types pass unchanged, format block included.
    AM_MEDIA_TYPE in{}, out{};
    PinNamed(h.Filter(), u"Input 0")->ConnectionMediaType(&in);
    PinNamed(h.Filter(), u"Output 0")->ConnectionMediaType(&out);
    EXPECT_TRUE(SameType(in, out));
    FreeMediaType(in);
    FreeMediaType(out);

    ASSERT_EQ(h.Control()->Run(), S_OK);
    EXPECT_EQ(v->Push({1, 1}, 0, 400000), S_OK);
    EXPECT_EQ(a->Push({2, 2, 2}, 0, 100000), S_OK);
    EXPECT_EQ(v->PushEndOfStream(), S_OK);
    ASSERT_EQ(v_out->Count(), 1u);
    ASSERT_EQ(a_out->Count(), 1u);
    EXPECT_EQ(v_out->ReceivedSamples()[0].data, (std::vector<uint8_t>{1, 1}));
    EXPECT_EQ(a_out->ReceivedSamples()[0].data, (std::vector<uint8_t>{2, 2, 2}));
    EXPECT_EQ(v_out->EndOfStreams(), 1);
    EXPECT_EQ(a_out->EndOfStreams(), 0);  // Each pair ends on its own.
    h.Teardown();
}

TEST(SmartTee, CaptureGetsEverySamplePreviewDropsWhileBusy) {
    FilterHarness h(New(CLSID_SmartTee), u"Smart Tee");
    TestSource::Options o;
    o.types = {MediaType::Video(MEDIASUBTYPE_MJPG, 64, 32, 24)};
    o.buffers = 4;
    TestSource* source = h.AddSource(o);
    TestSink* capture = h.AddSink();
    TestSink::Options slow;
    slow.block = true;
    TestSink* preview = h.AddSink(slow);
    ASSERT_EQ(h.ConnectIn(source, u"Input"), S_OK);
    ASSERT_EQ(h.ConnectOut(u"Capture", capture), S_OK);
    ASSERT_EQ(h.ConnectOut(u"Preview", preview), S_OK);
    EXPECT_EQ(PinCategory(PinNamed(h.Filter(), u"Capture").Get()), PIN_CATEGORY_CAPTURE);
    EXPECT_EQ(PinCategory(PinNamed(h.Filter(), u"Preview").Get()), PIN_CATEGORY_PREVIEW);
    ASSERT_EQ(h.Control()->Run(), S_OK);

    // The preview branch is stuck on its first frame; capture never waits.
    EXPECT_EQ(source->Push({0}, 0, 1), S_OK);
    ASSERT_TRUE(preview->WaitForBlocked());
    for (uint8_t i = 1; i < 20; ++i)
        EXPECT_EQ(source->Push({i}, i * 10, i * 10 + 1), S_OK);
    ASSERT_EQ(capture->Count(), 20u);
    for (size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(capture->ReceivedSamples()[i].data[0], i);
        EXPECT_TRUE(capture->ReceivedSamples()[i].has_time);
    }
    preview->Unblock();
    EXPECT_TRUE(preview->WaitForSamples(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_LE(preview->Count(), 2u);  // The one shown and at most one waiting.
    for (const auto& s : preview->ReceivedSamples())
        EXPECT_FALSE(s.has_time);
    h.Teardown();
}

TEST(SmartTee, StopsWhileThePreviewBranchIsBlocked) {
    FilterHarness h(New(CLSID_SmartTee), u"Smart Tee");
    TestSource::Options o;
    o.types = {MediaType::Video(MEDIASUBTYPE_MJPG, 64, 32, 24)};
    TestSource* source = h.AddSource(o);
    TestSink::Options slow;
    slow.block = true;
    TestSink* preview = h.AddSink(slow);
    ASSERT_EQ(h.ConnectIn(source, u"Input"), S_OK);
    ASSERT_EQ(h.ConnectOut(u"Preview", preview), S_OK);
    ASSERT_EQ(h.Control()->Run(), S_OK);
    EXPECT_EQ(source->Push({1}), S_OK);
    ASSERT_TRUE(preview->WaitForBlocked());
    // Only the tee stops: its preview thread is inside the blocked sink.
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(h.Filter()->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
    h.Teardown();
}

}  // namespace
}  // namespace ronvix::media
