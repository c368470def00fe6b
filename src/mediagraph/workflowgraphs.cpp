#include "mediagraph/workflowgraphs.h"

#include <cstring>
#include <optional>
#include <string>

#include "mediagraph/graph_util.h"
#include "mediagraph/mediatype.h"
#include "platform/media/codecs/colourspace.h"
#include "platform/media/core/types.h"
#include "platform/media/plumbing/plumbing.h"

namespace ronvix::mediagraph {

using com::ComPtr;

namespace {

// What marks the splitter's audio pin: the file's second stream.
constexpr char kAudioPinMark[] = "stream 01";
// A pin name holds at most this many characters.
constexpr int kPinNameChars = 128;

// The filter a component stands for, or null while it has none: the
// capture graph builder then fails the call that gets it.
ComPtr<media::IBaseFilter> FilterOf(com::IUnknown* component) {
    ComPtr<media::IBaseFilter> filter;
    if (component)
        component->QueryInterface(media::IBaseFilter::iid, filter.OutVoid());
    return filter;
}

QString PinName(const media::PIN_INFO& info) {
    int length = 0;
    while (length < kPinNameChars && info.achName[length] != 0)
        ++length;
    return QString::fromUtf16(info.achName, length);
}

media::PIN_DIRECTION Direction(media::IPin* pin) {
    media::PIN_DIRECTION dir = media::PINDIR_INPUT;
    pin->QueryDirection(&dir);
    return dir;
}

// Whether an input pin of `filter` is connected.
bool InputConnected(media::IBaseFilter* filter) {
    const TPinList pins(filter);
    for (int i = 0; i < pins.Count(); ++i) {
        const ComPtr<media::IPin> pin = pins.PinAt(i);
        ComPtr<media::IPin> peer;
        if (Direction(pin.Get()) == media::PINDIR_INPUT &&
            pin->ConnectedTo(peer.ReleaseAndGetAddressOf()) == com::S_OK)
            return true;
    }
    return false;
}

// The compression a video type names: the bitmap code of its format block
// ("FMP4", "H264", "RGB"), else the subtype's name, else the four
// characters a subtype made from a code carries.
QString CompressionOf(const media::AM_MEDIA_TYPE& mt) {
    if (mt.formattype == media::FORMAT_VideoInfo && mt.pbFormat &&
        mt.cbFormat >= sizeof(media::VIDEOINFOHEADER)) {
        media::VIDEOINFOHEADER header;
        std::memcpy(&header, mt.pbFormat, sizeof header);
        const QString text = CompressionText(header.bmiHeader.biCompression);
        if (!text.trimmed().isEmpty())
            return text;
    }
    if (const char* name = SubtypeName(mt.subtype))
        return QString::fromLatin1(name);
    const QString code = CompressionText(mt.subtype.Data1);
    return code.trimmed().isEmpty() ? QStringLiteral("of an unknown kind") : code;
}

// The compression of the first type an output pin of `filter` offers for
// video; none when no output offers video.
std::optional<QString> VideoOutputCompression(media::IBaseFilter* filter) {
    const TPinList pins(filter);
    for (int i = 0; i < pins.Count(); ++i) {
        const ComPtr<media::IPin> pin = pins.PinAt(i);
        if (Direction(pin.Get()) != media::PINDIR_OUTPUT)
            continue;
        TEnumMediaType types;
        types.LoadFromPin(pin.Get());
        for (int t = 0; t < types.Count(); ++t)
            if (types.Item(t)->MediaRecord().majortype == media::MEDIATYPE_Video)
                return CompressionOf(types.Item(t)->MediaRecord());
    }
    return std::nullopt;
}

// The subtype of the video source's capture output as it stands (the
// format chosen on the device, else its default); GUID_NULL when the
// source does not say.
com::GUID CurrentCaptureSubtype(media::ICaptureGraphBuilder2* builder, media::IBaseFilter* source) {
    ComPtr<media::IAMStreamConfig> config;
    if (com::FAILED(builder->FindInterface(&media::PIN_CATEGORY_CAPTURE, &media::MEDIATYPE_Video,
                                           source, media::IAMStreamConfig::iid,
                                           config.OutVoid())) ||
        !config)
        return com::GUID_NULL;
    media::AM_MEDIA_TYPE* mt = nullptr;
    if (com::FAILED(config->GetFormat(&mt)) || !mt)
        return com::GUID_NULL;
    const com::GUID subtype =
        mt->majortype == media::MEDIATYPE_Video ? mt->subtype : com::GUID_NULL;
    media::DeleteMediaType(mt);
    return subtype;
}

}  // namespace

com::GUID CaptureVideoSubtype(TVideoCompression compression, const com::GUID& source_subtype) {
    if (!media::YuvLayoutOf(source_subtype))
        return media::MEDIASUBTYPE_MJPG;
    switch (compression) {
        case TVideoCompression::Mjpeg:
            break;
        case TVideoCompression::Lossless:
            return media::MEDIASUBTYPE_FFV1;
        case TVideoCompression::Uncompressed:
            return source_subtype;
    }
    return media::MEDIASUBTYPE_MJPG;
}

ComPtr<media::IBaseFilter> AddCaptureFile(TFilterGraph* graph, const QString& file,
                                          ComPtr<media::IFileWriterQueue>* writer) {
    auto builder = Supports<media::ICaptureGraphBuilder2>(graph);
    const std::u16string name = file.toStdU16String();
    ComPtr<media::IBaseFilter> mux;
    ComPtr<media::IFileSinkFilter> sink;
    builder->SetOutputFileName(&media::MEDIASUBTYPE_Avi, name.c_str(), mux.ReleaseAndGetAddressOf(),
                               sink.ReleaseAndGetAddressOf());
    if (writer) {
        *writer = nullptr;
        if (sink)
            sink->QueryInterface(media::IFileWriterQueue::iid, writer->OutVoid());
    }
    return mux;
}

void RenderCapturePreview(TFilterGraph* graph, TFilter* video_source, TFilter* renderer) {
    if (video_source->BaseFilter().BlockSize() == 0)
        return;
    auto builder = Supports<media::ICaptureGraphBuilder2>(graph);
    auto source = Supports<media::IBaseFilter>(video_source);
    auto sink = Supports<media::IBaseFilter>(renderer);
    builder->RenderStream(&media::PIN_CATEGORY_PREVIEW, nullptr, source.Get(), nullptr, sink.Get());
}

void RenderCaptureStreams(const TCaptureGraphParts& parts, media::IBaseFilter* mux) {
    auto builder = Supports<media::ICaptureGraphBuilder2>(parts.graph);
    if (parts.video_source->FilterGraph()) {
        auto source = Supports<media::IBaseFilter>(parts.video_source);
        auto grabber = Supports<media::IBaseFilter>(static_cast<IFilterLink*>(parts.grabber));
        auto through = Supports<media::IBaseFilter>(parts.sync);
        parts.grabber->MediaType().SetSubtype(CaptureVideoSubtype(
            parts.compression, CurrentCaptureSubtype(builder.Get(), source.Get())));
        parts.grabber->ApplyMediaType();
        builder->RenderStream(&media::PIN_CATEGORY_CAPTURE, nullptr, source.Get(), grabber.Get(),
                              through.Get());
        builder->RenderStream(nullptr, nullptr, through.Get(), nullptr, mux);
    }
    if (parts.audio_source->FilterGraph()) {
        auto source = Supports<media::IBaseFilter>(parts.audio_source);
        auto through = Supports<media::IBaseFilter>(parts.sync);
        builder->RenderStream(nullptr, nullptr, source.Get(), parts.level_meter, through.Get());
        builder->RenderStream(nullptr, nullptr, through.Get(), nullptr, mux);
    }
}

ComPtr<media::IBaseFilter> AddLevelMeter(TFilterGraph* graph) {
    ComPtr<media::IBaseFilter> meter;
    if (com::FAILED(media::CreateAudioLevelMeter(media::IBaseFilter::iid, meter.OutVoid())))
        return nullptr;
    auto builder = Supports<media::IGraphBuilder>(graph);
    if (com::FAILED(builder->AddFilter(meter.Get(), u"Audio Level Meter")))
        return nullptr;
    return meter;
}

void RenderAudioMeter(TFilterGraph* graph, TFilter* audio_source, media::IBaseFilter* meter) {
    if (!meter || !audio_source->FilterGraph())
        return;
    auto builder = Supports<media::ICaptureGraphBuilder2>(graph);
    auto source = Supports<media::IBaseFilter>(audio_source);
    builder->RenderStream(nullptr, nullptr, source.Get(), nullptr, meter);
}

TTapeGraphResult BuildTapeGraph(const TTapeGraphParts& parts, const QString& file) {
    const ComPtr<media::IGraphBuilder> graph = Supports<media::IGraphBuilder>(parts.graph);
    const std::u16string name = file.toStdU16String();
    ComPtr<media::IBaseFilter> source;
    graph->AddSourceFilter(name.c_str(), name.c_str(), source.ReleaseAndGetAddressOf());

    const ComPtr<media::ICaptureGraphBuilder2> builder =
        Supports<media::ICaptureGraphBuilder2>(parts.graph);
    const ComPtr<media::IBaseFilter> device = FilterOf(parts.device);
    const ComPtr<media::IBaseFilter> grabber = FilterOf(static_cast<IFilterLink*>(parts.grabber));
    const ComPtr<media::IBaseFilter> splitter = FilterOf(parts.splitter);
    // The device's own video output into the monitor, the file's video
    // through the splitter into the grabber, the grabber into the device.
    // Without a monitor the device's output stays unconnected (a call
    // without a sink would render it somewhere else).
    if (parts.monitor)
        builder->RenderStream(nullptr, nullptr, device.Get(), nullptr,
                              FilterOf(parts.monitor).Get());
    builder->RenderStream(nullptr, nullptr, source.Get(), splitter.Get(), grabber.Get());
    builder->RenderStream(nullptr, nullptr, grabber.Get(), nullptr, device.Get());

    ComPtr<media::IPin> audio;
    {
        const TPinList pins(splitter.Get());
        for (int i = 0; i < pins.Count(); ++i) {
            media::PIN_INFO info{};
            pins.PinInfoAt(i, info);
            if (info.pFilter)
                info.pFilter->Release();
            if (PinName(info).toLower().contains(QLatin1String(kAudioPinMark)))
                audio = pins.PinAt(i);
        }
    }
    if (audio)
        graph->Render(audio.Get());

    // What became of the video, for a caller that must say why nothing
    // plays; the checks follow the path from the file to the device.
    TTapeGraphResult result;
    if (!device)
        result.video = TTapeVideo::NoDevice;
    else if (InputConnected(device.Get()))
        result.video = TTapeVideo::Connected;
    else if (!splitter || !InputConnected(splitter.Get())) {
        result.video = TTapeVideo::NotReadable;
        // The splitter's own answer to the file says why.
        const TPinList out(source.Get()), in(splitter.Get());
        if (out.Count() > 0 && in.Count() > 0)
            result.refused =
                graph->ConnectDirect(out.FirstPin().Get(), in.FirstPin().Get(), nullptr);
    } else if (const std::optional<QString> video = VideoOutputCompression(splitter.Get()); !video)
        result.video = TTapeVideo::NoVideo;
    else if (!InputConnected(grabber.Get())) {
        result.video = TTapeVideo::NotMjpg;
        result.codec = *video;
    } else {
        result.video = TTapeVideo::DeviceRefused;
    }
    return result;
}

QString TapeVideoProblem(const TTapeGraphResult& result, const QString& device) {
    switch (result.video) {
        case TTapeVideo::Connected:
            return {};
        case TTapeVideo::NoDevice:
            return QStringLiteral("no video output device is chosen");
        case TTapeVideo::NotReadable:
            // The splitter refuses a readable file only for its picture size.
            if (result.refused == com::VFW_E_UNSUPPORTED_VIDEO)
                return QStringLiteral("its pictures are larger than %1 pixels a side")
                    .arg(media::kMaxPictureSide);
            return QStringLiteral("it is not an AVI file that can be read");
        case TTapeVideo::NoVideo:
            return QStringLiteral("it holds no video stream");
        case TTapeVideo::NotMjpg:
            return QStringLiteral(
                       "its video is %1, not MJPG, FFV1 or uncompressed video, which "
                       "alone can be played out")
                .arg(result.codec);
        case TTapeVideo::DeviceRefused:
            return QStringLiteral("%1 does not take its MJPG video").arg(device);
    }
    return {};
}

}  // namespace ronvix::mediagraph
