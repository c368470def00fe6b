#include "mediagraph/formdata.h"

#include "platform/com/moniker.h"
#include "platform/media/core/types.h"

namespace ronvix::mediagraph {

namespace {

const QString kGeneral = QStringLiteral("@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\");
const QString kSync = kGeneral + QStringLiteral("{B9F665CA-BB48-4632-B660-A8D12BE9BA59}");
const QString kVideoWindow = kGeneral + QStringLiteral("{11C012C1-5563-11D3-8D66-00AA00A01893}");
const QString kSplitter = kGeneral + QStringLiteral("{1B544C20-FD0B-11CE-8C63-00AA0044B51E}");
const QString kDefaultSound =
    QStringLiteral("@device:cm:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\Default DirectSound Device");

void AppendU32(QByteArray& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>(v >> (8 * i)));
}

}  // namespace

QByteArray StoredMonikerData(const QString& display_name) {
    if (display_name.isEmpty())
        return QByteArray(4, '\0');
    QByteArray block;
    const auto clsid = com::CLSID_CDeviceMoniker.ToBytes();
    block.append(reinterpret_cast<const char*>(clsid.data()), static_cast<qsizetype>(clsid.size()));
    const std::u16string name = display_name.toStdU16String();
    AppendU32(block, static_cast<uint32_t>((name.size() + 1) * 2));
    for (char16_t c : name) {
        block.append(static_cast<char>(c & 0xFF));
        block.append(static_cast<char>(c >> 8));
    }
    block.append(2, '\0');
    QByteArray data;
    AppendU32(data, static_cast<uint32_t>(block.size()));
    return data + block;
}

const std::vector<StoredFilter>& MainFormFilters() {
    static const std::vector<StoredFilter> filters = {
        {"VideoSourceFilter", "", QString()},
        {"AudioSourceFilter", "", QString()},
        {"sync", "CaptureGraph", kSync},
        {"videowindow", "CaptureGraph", kVideoWindow},
        {"VideoDestFilter", "OutGraph", kDefaultSound},
        {"AudioDestFilter", "OutGraph", kDefaultSound},
        {"DestSync", "", kSync},
        {"Splitter", "OutGraph", kSplitter},
        {"VideoDestWindow", "", kVideoWindow},
    };
    return filters;
}

QByteArray GrabberMediaTypeData() {
    TMediaType type(media::MEDIATYPE_Video);
    type.SetSubtype(media::MEDIASUBTYPE_MJPG);
    type.SetFormatType(media::FORMAT_VideoInfo);
    type.MediaRecord().bFixedSizeSamples = 0;
    type.MediaRecord().bTemporalCompression = 0;
    type.MediaRecord().lSampleSize = 1;
    return type.WriteData();
}

TFilterGraph* CreateStoredGraph(QObject* owner, const QString& name) {
    auto* graph = new TFilterGraph(owner, name);
    graph->SetMode(TFilterGraph::gmCapture);
    graph->SetGraphEdit(true);
    return graph;
}

TFilter* CreateStoredFilter(QObject* owner, const QString& name, TFilterGraph* graph) {
    for (const StoredFilter& stored : MainFormFilters()) {
        if (name != QLatin1String(stored.name))
            continue;
        auto* filter = new TFilter(owner, name);
        filter->BaseFilter().ReadData(StoredMonikerData(stored.display_name));
        filter->SetFilterGraph(graph);
        return filter;
    }
    return nullptr;
}

TSampleGrabber* CreateStoredGrabber(QObject* owner, const QString& name, TFilterGraph* graph) {
    auto* grabber = new TSampleGrabber(owner, name);
    grabber->MediaType().ReadData(GrabberMediaTypeData());
    grabber->SetFilterGraph(graph);
    return grabber;
}

namespace {

TFilter* CreateNamedFilter(QObject* owner, const char* name, TFilterGraph* graph) {
    return CreateStoredFilter(owner, QString::fromLatin1(name), graph);
}

}  // namespace

CaptureMedia CreateCaptureMedia(QObject* owner) {
    CaptureMedia m;
    m.CaptureGraph = CreateStoredGraph(owner, QStringLiteral("CaptureGraph"));
    m.VideoSourceFilter = CreateNamedFilter(owner, "VideoSourceFilter", nullptr);
    m.AudioSourceFilter = CreateNamedFilter(owner, "AudioSourceFilter", nullptr);
    m.sync = CreateNamedFilter(owner, "sync", m.CaptureGraph);
    m.videowindow = CreateNamedFilter(owner, "videowindow", m.CaptureGraph);
    m.SampleGrabber = CreateStoredGrabber(owner, QStringLiteral("SampleGrabber"), m.CaptureGraph);
    return m;
}

TapeMedia CreateTapeMedia(QObject* owner) {
    TapeMedia m;
    m.OutGraph = CreateStoredGraph(owner, QStringLiteral("OutGraph"));
    m.VideoDestFilter = CreateNamedFilter(owner, "VideoDestFilter", m.OutGraph);
    m.AudioDestFilter = CreateNamedFilter(owner, "AudioDestFilter", m.OutGraph);
    m.Splitter = CreateNamedFilter(owner, "Splitter", m.OutGraph);
    m.OutGrabber = CreateStoredGrabber(owner, QStringLiteral("OutGrabber"), m.OutGraph);
    m.DestSync = CreateNamedFilter(owner, "DestSync", nullptr);
    m.VideoDestWindow = CreateNamedFilter(owner, "VideoDestWindow", nullptr);
    return m;
}

MainFormMedia CreateMainFormMedia(QObject* owner) {
    return {CreateCaptureMedia(owner), CreateTapeMedia(owner)};
}

}  // namespace ronvix::mediagraph
