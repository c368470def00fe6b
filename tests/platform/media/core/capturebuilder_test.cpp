// The capture graph builder: source pins by category, the Smart Tee that
// stands in for a missing preview pin, intermediate filters, FindInterface
// and the output file.

#include "platform/media/core/engine_harness.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media {
namespace {

using namespace com;
using namespace test;

ComPtr<ICaptureGraphBuilder2> MakeBuilder(IFilterGraph2* graph) {
    RegisterEngineClasses();
    ComPtr<ICaptureGraphBuilder2> builder;
    EXPECT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                               ICaptureGraphBuilder2::iid, builder.OutVoid()),
              S_OK);
    EXPECT_EQ(builder->SetFiltergraph(graph), S_OK);
    EXPECT_EQ(builder->SetFiltergraph(graph), E_UNEXPECTED);  // Only once.
    return builder;
}

ComPtr<IBaseFilter> Create(const GUID& clsid) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IBaseFilter::iid, filter.OutVoid()),
        S_OK);
    return filter;
}

ComPtr<IBaseFilter> PeerFilter(IPin* pin) {
    ComPtr<IPin> peer;
    if (FAILED(pin->ConnectedTo(peer.ReleaseAndGetAddressOf())))
        return nullptr;
    return PinFilter(peer.Get());
}

TEST(CaptureGraphBuilder, PreviewThroughASmartTeeThenCaptureFromItsCaptureOutput) {
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    auto builder = MakeBuilder(graph.Get());
    TestSource::Options camera_options;
    camera_options.types = {MediaType::Video(MEDIASUBTYPE_MJPG, 64, 32, 24)};
    camera_options.category = PIN_CATEGORY_CAPTURE;
    camera_options.pin_name = u"Capture";
    camera_options.live = true;
    auto camera = TestSource::Make(camera_options);
    auto window = TestSink::Make();
    auto grabber = Create(CLSID_SampleGrabber);
    MediaType mjpg = MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_MJPG, FORMAT_VideoInfo);
    grabber.As<ISampleGrabber>()->SetMediaType(&mjpg.Get());
    auto sync = Create(CLSID_Sync);
    auto mux = TestSink::Make();
    graph->AddFilter(camera->Filter(), u"Camera");
    graph->AddFilter(window->Filter(), u"videowindow");
    graph->AddFilter(grabber.Get(), u"SampleGrabber");
    graph->AddFilter(sync.Get(), u"sync");
    graph->AddFilter(mux->Filter(), u"Mux");

    // The order the capture start uses.
    EXPECT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, camera->Filter(), nullptr,
                                    window->Filter()),
              VFW_S_NOPREVIEWPIN);
    EXPECT_EQ(builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, camera->Filter(), grabber.Get(),
                                    sync.Get()),
              S_OK);
    EXPECT_EQ(builder->RenderStream(nullptr, nullptr, sync.Get(), nullptr, mux->Filter()), S_OK);

    ComPtr<IBaseFilter> tee = PeerFilter(camera->Output());
    ASSERT_TRUE(tee);
    GUID clsid{};
    tee->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_SmartTee);
    EXPECT_EQ(PeerFilter(PinNamed(tee.Get(), u"Preview").Get()), window->Filter());
    EXPECT_EQ(PeerFilter(PinNamed(tee.Get(), u"Capture").Get()), grabber);
    EXPECT_EQ(PeerFilter(PinNamed(grabber.Get(), u"Output").Get()), sync);
    EXPECT_EQ(PeerFilter(PinNamed(sync.Get(), u"Output 0").Get()), mux->Filter());

    // A second preview request finds nothing left to render.
    EXPECT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, camera->Filter(), nullptr,
                                    window->Filter()),
              VFW_E_ALREADY_CONNECTED);

    auto control = graph.As<IMediaControl>();
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_TRUE(mux->WaitForSamples(5));
    EXPECT_TRUE(window->WaitForSamples(1));
    control->Stop();
    for (const auto& s : mux->ReceivedSamples())
        EXPECT_TRUE(s.has_time);
    for (const auto& s : window->ReceivedSamples())
        EXPECT_FALSE(s.has_time);  // Shown at once.
}

TEST(CaptureGraphBuilder, CaptureWithoutPreviewUsesThePinItself) {
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    auto builder = MakeBuilder(graph.Get());
    TestSource::Options o;
    o.category = PIN_CATEGORY_CAPTURE;
    auto camera = TestSource::Make(o);
    auto sink = TestSink::Make();
    graph->AddFilter(camera->Filter(), u"Camera");
    graph->AddFilter(sink->Filter(), u"Sink");
    EXPECT_EQ(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, camera->Filter(),
                                    nullptr, sink->Filter()),
              VFW_E_NOT_FOUND);  // No audio capture pin.
    EXPECT_EQ(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera->Filter(),
                                    nullptr, sink->Filter()),
              S_OK);
    EXPECT_EQ(PeerFilter(camera->Output()), sink->Filter());
    EXPECT_EQ(FilterCount(graph.Get()), 2u);
}

// A filter with one input and two outputs of different types, listed audio
// first: an intermediate whose first output does not suit the sink.
class TwoStreams final : public BaseFilter {
public:
    class Out final : public BaseOutputPin {
    public:
        Out(BaseFilter& f, std::u16string name, MediaType type)
            : BaseOutputPin(f, std::move(name)), m_type(std::move(type)) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            return mt.subtype == m_type->subtype ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        std::vector<MediaType> OfferedTypes() override { return {m_type}; }

    private:
        MediaType m_type;
    };
    class In final : public BaseInputPin {
    public:
        using BaseInputPin::BaseInputPin;
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            return mt.majortype == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
    };
    TwoStreams() : BaseFilter(RONVIX_GUID("{5E1F0030-0000-4000-8000-0000000000D1}")) {
        AddPin(std::make_unique<In>(*this, u"Input"));
        AddPin(std::make_unique<Out>(*this, u"Stream 00", MediaType::Pcm(48000, 16, 2)));
        AddPin(std::make_unique<Out>(*this, u"Stream 01",
                                     MediaType::Video(MEDIASUBTYPE_MJPG, 64, 32, 24)));
    }
};

TEST(CaptureGraphBuilder, AnIntermediateFilterTriesItsOutputsInOrder) {
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    auto builder = MakeBuilder(graph.Get());
    TestSource::Options o;
    o.types = {MediaType::Partial(MEDIATYPE_Stream, MEDIASUBTYPE_Avi, FORMAT_None)};
    auto file = TestSource::Make(o);
    auto splitter = MakeCom<TwoStreams>();
    auto grabber = Create(CLSID_SampleGrabber);
    MediaType mjpg = MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_MJPG, FORMAT_VideoInfo);
    grabber.As<ISampleGrabber>()->SetMediaType(&mjpg.Get());
    graph->AddFilter(file->Filter(), u"clip.avi");
    graph->AddFilter(splitter.Get(), u"Splitter");
    graph->AddFilter(grabber.Get(), u"OutGrabber");
    EXPECT_EQ(
        builder->RenderStream(nullptr, nullptr, file->Filter(), splitter.Get(), grabber.Get()),
        S_OK);
    EXPECT_EQ(PeerFilter(file->Output()).Get(), static_cast<IBaseFilter*>(splitter.Get()));
    EXPECT_FALSE(PinIsConnected(PinNamed(splitter.Get(), u"Stream 00").Get()));
    EXPECT_EQ(PeerFilter(PinNamed(splitter.Get(), u"Stream 01").Get()), grabber);
}

TEST(CaptureGraphBuilder, FindInterfaceAsksTheMatchingPinsThenTheFilter) {
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    auto builder = MakeBuilder(graph.Get());
    TestSource::Options o;
    o.category = PIN_CATEGORY_CAPTURE;
    auto camera = TestSource::Make(o);
    graph->AddFilter(camera->Filter(), u"Camera");

    ComPtr<IKsPropertySet> props;
    ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera->Filter(),
                                     IKsPropertySet::iid, props.OutVoid()),
              S_OK);
    EXPECT_EQ(props.Get(), static_cast<IKsPropertySet*>(camera->Output()));
    // No pin of that category: the filter's own interfaces only.
    EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_PREVIEW, nullptr, camera->Filter(),
                                     IKsPropertySet::iid, props.OutVoid()),
              E_NOINTERFACE);
    ComPtr<IAMFilterMiscFlags> flags;
    EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_PREVIEW, nullptr, camera->Filter(),
                                     IAMFilterMiscFlags::iid, flags.OutVoid()),
              S_OK);
    EXPECT_EQ(builder->FindInterface(nullptr, nullptr, camera->Filter(), IAMDroppedFrames::iid,
                                     flags.OutVoid()),
              E_NOINTERFACE);
}

// Stand-ins for the multiplexer and the file writer.
class FakeMux final : public BaseFilter {
public:
    class Out final : public BaseOutputPin {
    public:
        Out(BaseFilter& f) : BaseOutputPin(f, u"AVI Out") {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            return mt.majortype == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        std::vector<MediaType> OfferedTypes() override {
            return {MediaType::Partial(MEDIATYPE_Stream, MEDIASUBTYPE_Avi, FORMAT_None)};
        }
    };
    FakeMux() : BaseFilter(CLSID_AviDest) { AddPin(std::make_unique<Out>(*this)); }
};

class FakeWriter final : public BaseFilter, public IFileSinkFilter {
public:
    class In final : public BaseInputPin {
    public:
        using BaseInputPin::BaseInputPin;
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            return mt.majortype == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
    };
    FakeWriter() : BaseFilter(CLSID_FileWriter) { AddPin(std::make_unique<In>(*this, u"in")); }
    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (out && riid == IFileSinkFilter::iid)
            return ReturnInterface<IFileSinkFilter>(this, out);
        return BaseFilter::QueryInterface(riid, out);
    }
    ULONG AddRef() override { return BaseFilter::AddRef(); }
    ULONG Release() override { return BaseFilter::Release(); }
    HRESULT SetFileName(LPCWSTR file, const AM_MEDIA_TYPE*) override {
        name = std::u16string(WideView(file));
        return S_OK;
    }
    HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE*) override {
        *file = CoTaskMemDup(name);
        return S_OK;
    }
    std::u16string name;
};

TEST(CaptureGraphBuilder, OutputFileNeedsTheMultiplexerAndTheWriter) {
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    auto builder = MakeBuilder(graph.Get());
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    EXPECT_EQ(builder->SetOutputFileName(&MEDIASUBTYPE_PCM, u"x.wav", mux.ReleaseAndGetAddressOf(),
                                         sink.ReleaseAndGetAddressOf()),
              E_INVALIDARG);
    {
        // Without a registered multiplexer the request fails and adds nothing.
        auto saved = ClassRegistry::Instance().Find(CLSID_AviDest);
        ClassRegistry::Instance().Unregister(CLSID_AviDest);
        EXPECT_EQ(
            builder->SetOutputFileName(&MEDIASUBTYPE_Avi, u"c:\\capture.avi",
                                       mux.ReleaseAndGetAddressOf(), sink.ReleaseAndGetAddressOf()),
            REGDB_E_CLASSNOTREG);
        EXPECT_EQ(mux, nullptr);
        EXPECT_EQ(sink, nullptr);
        EXPECT_EQ(FilterCount(graph.Get()), 0u);
        if (saved)
            ClassRegistry::Instance().Register(*saved);
    }
    ClassEntry mux_class{
        CLSID_AviDest,
        "AVI Mux",
        [](REFIID riid, void** out) {
            return static_cast<IBaseFilter*>(MakeCom<FakeMux>().Get())->QueryInterface(riid, out);
        },
        MERIT_DO_NOT_USE,
        {}};
    ClassEntry writer_class{CLSID_FileWriter,
                            "File writer",
                            [](REFIID riid, void** out) {
                                return static_cast<IBaseFilter*>(MakeCom<FakeWriter>().Get())
                                    ->QueryInterface(riid, out);
                            },
                            MERIT_DO_NOT_USE,
                            {}};
    ScopedClass mux_scope(mux_class), writer_scope(writer_class);
    ASSERT_EQ(
        builder->SetOutputFileName(&MEDIASUBTYPE_Avi, u"c:\\capture.avi",
                                   mux.ReleaseAndGetAddressOf(), sink.ReleaseAndGetAddressOf()),
        S_OK);
    ASSERT_TRUE(mux && sink);
    EXPECT_EQ(FilterCount(graph.Get()), 2u);
    EXPECT_EQ(static_cast<FakeWriter*>(sink.Get())->name, u"c:\\capture.avi");
    ComPtr<IBaseFilter> writer = sink.As<IBaseFilter>();
    EXPECT_EQ(PeerFilter(PinNamed(mux.Get(), u"AVI Out").Get()), writer);
}

}  // namespace
}  // namespace ronvix::media
