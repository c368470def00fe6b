// The Sample Grabber through the single-filter harness: type matching,
// callbacks on the streaming thread, buffering by reference.

#include <thread>

#include "platform/media/core/engine_harness.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media {
namespace {

using namespace com;
using namespace test;

ComPtr<IBaseFilter> NewGrabber(const AM_MEDIA_TYPE* type) {
    RegisterEngineClasses();
    ComPtr<IBaseFilter> grabber;
    EXPECT_EQ(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IBaseFilter::iid,
                               grabber.OutVoid()),
              S_OK);
    if (type) {
        EXPECT_EQ(grabber.As<ISampleGrabber>()->SetMediaType(type), S_OK);
    }
    return grabber;
}

TestSource::Options Video(const GUID& subtype) {
    TestSource::Options o;
    o.types = {MediaType::Video(subtype, 64, 32, 32)};
    o.buffers = 2;
    return o;
}

struct Recorder final : ComObject<ISampleGrabberCB> {
    std::mutex lock;
    std::vector<std::thread::id> threads;
    std::vector<double> times;
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<IMediaSample*> samples;  // Identity only; not held.
    bool throw_once = false;

    HRESULT SampleCB(double time, IMediaSample* sample) override {
        std::lock_guard guard(lock);
        threads.push_back(std::this_thread::get_id());
        times.push_back(time);
        samples.push_back(sample);
        return S_OK;
    }
    HRESULT BufferCB(double time, BYTE* buffer, LONG length) override {
        {
            std::lock_guard guard(lock);
            threads.push_back(std::this_thread::get_id());
            times.push_back(time);
            buffers.emplace_back(buffer, buffer + length);
            if (!throw_once)
                return S_OK;
            throw_once = false;
        }
        throw std::runtime_error("handler failed");
    }
};

TEST(SampleGrabber, AcceptsOnlyItsTypeWithNullAsWildcard) {
    MediaType mjpg = MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_MJPG, FORMAT_VideoInfo);
    FilterHarness h(NewGrabber(&mjpg.Get()));
    TestSource* rgb = h.AddSource(Video(MEDIASUBTYPE_RGB32));
    ComPtr<IPin> input = PinNamed(h.Filter(), u"Input");
    MediaType rgb32 = MediaType::Video(MEDIASUBTYPE_RGB32, 64, 32, 32);
    EXPECT_EQ(h.Graph()->ConnectDirect(rgb->Output(), input.Get(), &rgb32.Get()),
              VFW_E_TYPE_NOT_ACCEPTED);
    // Intelligent connection may bridge a type through a registered codec;
    // with none that converts, the grabber's refusal stands.
    TestSource* odd = h.AddSource(Video(SubtypeFromFourcc(0x58545354)));  // "TSTX"
    EXPECT_EQ(h.Graph()->Connect(odd->Output(), input.Get()), VFW_E_CANNOT_CONNECT);
    EXPECT_FALSE(PinIsConnected(input.Get()));
    EXPECT_EQ(input->QueryAccept(&rgb32.Get()), S_FALSE);
    // The format block is not compared: any MJPG size goes.
    MediaType other_size = MediaType::Video(MEDIASUBTYPE_MJPG, 1920, 1080, 24);
    EXPECT_EQ(input->QueryAccept(&other_size.Get()), S_OK);
    // A null subtype takes every video subtype, but still only video.
    MediaType any_video = MediaType::Partial(MEDIATYPE_Video);
    ComPtr<ISampleGrabber> control;
    h.Filter()->QueryInterface(ISampleGrabber::iid, control.OutVoid());
    control->SetMediaType(&any_video.Get());
    EXPECT_EQ(input->QueryAccept(&rgb32.Get()), S_OK);
    MediaType pcm = MediaType::Pcm(48000, 16, 2);
    EXPECT_EQ(input->QueryAccept(&pcm.Get()), S_FALSE);
    EXPECT_EQ(h.ConnectIn(rgb, u"Input"), S_OK);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(control->GetConnectedMediaType(&connected), S_OK);
    EXPECT_EQ(connected.subtype, MEDIASUBTYPE_RGB32);
    FreeMediaType(connected);
    control = nullptr;
    input = nullptr;  // A pin reference is a reference on the filter.
    h.Teardown();
}

TEST(SampleGrabber, BufferCallbackRunsOnTheStreamingThreadAndSamplesPassUnchanged) {
    FilterHarness h(NewGrabber(nullptr));
    TestSource* source = h.AddSource(Video(MEDIASUBTYPE_MJPG));
    TestSink* sink = h.AddSink();
    ASSERT_EQ(h.ConnectIn(source, u"Input"), S_OK);
    ASSERT_EQ(h.ConnectOut(u"Output", sink), S_OK);
    auto recorder = MakeCom<Recorder>();
    recorder->throw_once = true;
    auto control = ComPtr<IBaseFilter>(h.Filter()).As<ISampleGrabber>();
    ASSERT_EQ(control->SetCallback(recorder.Get(), 1), S_OK);
    EXPECT_EQ(control->SetCallback(recorder.Get(), 2), E_INVALIDARG);
    ASSERT_EQ(h.Control()->Run(), S_OK);

    std::thread streaming([&] {
        EXPECT_EQ(source->Push({1, 2, 3}, 5'000'000, 5'400'000), S_OK);  // Handler throws.
        EXPECT_EQ(source->Push({4, 5}, 5'400'000, 5'800'000), S_OK);
    });
    const std::thread::id streaming_id = streaming.get_id();
    streaming.join();
    ASSERT_EQ(sink->Count(), 2u);
    EXPECT_EQ(sink->ReceivedSamples()[1].data, (std::vector<uint8_t>{4, 5}));
    EXPECT_EQ(sink->ReceivedSamples()[1].start, 5'400'000);
    ASSERT_EQ(recorder->buffers.size(), 2u);
    EXPECT_EQ(recorder->buffers[0], (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_DOUBLE_EQ(recorder->times[1], 0.54);
    for (auto id : recorder->threads)
        EXPECT_EQ(id, streaming_id);

    // Without a callback the stream flows untouched.
    control->SetCallback(nullptr, 1);
    EXPECT_EQ(source->Push({6}), S_OK);
    EXPECT_EQ(recorder->buffers.size(), 2u);
    EXPECT_EQ(sink->Count(), 3u);
    control = nullptr;
    h.Teardown();
    EXPECT_EQ(RefCount(recorder.Get()), 1u);  // The grabber let go of the callback.
}

TEST(SampleGrabber, BufferingKeepsTheSampleItselfNotACopy) {
    FilterHarness h(NewGrabber(nullptr));
    TestSource* source = h.AddSource(Video(MEDIASUBTYPE_MJPG));  // A pool of two buffers.
    TestSink* sink = h.AddSink();
    ASSERT_EQ(h.ConnectIn(source, u"Input"), S_OK);
    ASSERT_EQ(h.ConnectOut(u"Output", sink), S_OK);
    auto recorder = MakeCom<Recorder>();
    auto control = ComPtr<IBaseFilter>(h.Filter()).As<ISampleGrabber>();
    ASSERT_EQ(control->SetCallback(recorder.Get(), 0), S_OK);
    LONG size = 0;
    EXPECT_EQ(control->GetCurrentBuffer(&size, nullptr), E_INVALIDARG);  // Not buffering.
    ASSERT_EQ(control->SetBufferSamples(TRUE), S_OK);
    ASSERT_EQ(h.Control()->Run(), S_OK);
    ASSERT_EQ(source->Push({7, 8, 9, 10}), S_OK);

    ComPtr<IMediaSample> held;
    ASSERT_EQ(control->GetCurrentSample(held.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(recorder->samples.size(), 1u);
    EXPECT_EQ(held.Get(), recorder->samples[0]);  // The very sample that passed.
    held = nullptr;
    ASSERT_EQ(control->GetCurrentBuffer(&size, nullptr), S_OK);
    EXPECT_EQ(size, 4);
    std::vector<LONG> copy(1);
    LONG small = 2;
    EXPECT_EQ(control->GetCurrentBuffer(&small, copy.data()), E_OUTOFMEMORY);
    ASSERT_EQ(control->GetCurrentBuffer(&size, copy.data()), S_OK);
    EXPECT_EQ(std::memcmp(copy.data(), "\x07\x08\x09\x0A", 4), 0);

    // The held sample is one of the source's two buffers.
    ComPtr<IMediaSample> a, b;
    EXPECT_EQ(source->Output()->GetDeliveryBuffer(a.ReleaseAndGetAddressOf(), AM_GBF_NOWAIT), S_OK);
    EXPECT_EQ(source->Output()->GetDeliveryBuffer(b.ReleaseAndGetAddressOf(), AM_GBF_NOWAIT),
              VFW_E_TIMEOUT);
    control->SetBufferSamples(FALSE);
    EXPECT_EQ(source->Output()->GetDeliveryBuffer(b.ReleaseAndGetAddressOf(), AM_GBF_NOWAIT), S_OK);
    a = b = nullptr;
    control->SetCallback(nullptr, 0);
    control = nullptr;
    h.Teardown();
}

TEST(SampleGrabber, OneShotPassesOneSampleThenEndsTheStream) {
    FilterHarness h(NewGrabber(nullptr));
    TestSource* source = h.AddSource(Video(MEDIASUBTYPE_MJPG));
    TestSink* sink = h.AddSink();
    ASSERT_EQ(h.ConnectIn(source, u"Input"), S_OK);
    ASSERT_EQ(h.ConnectOut(u"Output", sink), S_OK);
    auto control = ComPtr<IBaseFilter>(h.Filter()).As<ISampleGrabber>();
    control->SetOneShot(TRUE);
    ASSERT_EQ(h.Control()->Run(), S_OK);
    EXPECT_EQ(source->Push({1}), S_OK);
    EXPECT_EQ(source->Push({2}), S_FALSE);
    EXPECT_EQ(sink->Count(), 1u);
    EXPECT_EQ(sink->EndOfStreams(), 1);
    control = nullptr;
    h.Teardown();
}

}  // namespace
}  // namespace ronvix::media
