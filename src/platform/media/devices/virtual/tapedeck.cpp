// The Virtual Tape Deck. See tapedeck.h.
//
// Recording goes through an AVI Mux and a File Writer that the deck owns
// and drives itself: a hidden output pin (not among the deck's pins) feeds
// the mux, and the deck moves both through their states with its own runs.

#include "platform/media/devices/virtual/tapedeck.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>

#include "platform/com/devices.h"
#include "platform/com/oleauto.h"
#include "platform/media/codecs/colourspace.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/container/avimux.h"
#include "platform/media/core/filter.h"
#include "platform/media/devices/monitorout.h"
#include "platform/media/devices/propertypages.h"
#include "platform/media/io/filewriter.h"
#include "platform/win/paths.h"

namespace ronvix::media {

using namespace com;

namespace {

const VIDEOINFOHEADER* MjpgInfo(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype != MEDIATYPE_Video || mt.subtype != MEDIASUBTYPE_MJPG ||
        mt.formattype != FORMAT_VideoInfo || !mt.pbFormat || mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    if (!PictureSizeAllowed(vih->bmiHeader.biWidth, vih->bmiHeader.biHeight))
        return nullptr;
    return vih;
}

std::string TapeFolder() {
    if (const char* dir = std::getenv("RONVIX_TAPE_DIR"); dir && *dir)
        return dir;
    return win::MapPathForWriting("c:\\Tape").value_or(std::string());
}

// The last recording of each tape folder, kept for the process rather than
// by a deck: the deck a device list binds is made afresh each time its graph
// is built, and the one that shows its property page after a play-out is
// not the one that recorded.
std::mutex g_recordings_lock;
std::map<std::string, std::string>& RecordingsLocked() {
    static std::map<std::string, std::string> recordings;
    return recordings;
}
void SetLastRecording(const std::string& folder, const std::string& file) {
    std::lock_guard guard(g_recordings_lock);
    RecordingsLocked()[folder] = file;
}
std::string LastRecordingIn(const std::string& folder) {
    std::lock_guard guard(g_recordings_lock);
    const auto& recordings = RecordingsLocked();
    const auto it = recordings.find(folder);
    return it == recordings.end() ? std::string() : it->second;
}

// A name in `folder` that no file has yet.
std::string NewTapeName(const std::string& folder) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &utc);
    for (int n = 1;; ++n) {
        const std::string path = folder + "/tape-" + stamp + "-" + std::to_string(n) + ".avi";
        std::error_code ec;
        if (!std::filesystem::exists(path, ec))
            return path;
    }
}

class TapeDeck;

class VideoInPin final : public BaseInputPin {
public:
    explicit VideoInPin(BaseFilter& deck) : BaseInputPin(deck, u"Video In") {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        return MjpgInfo(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
};

// Feeds the recording mux. Not among the deck's pins: nothing outside the
// deck sees or connects it.
class RecordPin final : public BaseOutputPin {
public:
    explicit RecordPin(BaseFilter& deck) : BaseOutputPin(deck, u"Record") {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        return MjpgInfo(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

protected:
    // Each buffer holds one received frame: the type's biSizeImage when it
    // names one, which is the largest frame the source delivers (a file's
    // splitter sets it from what the file holds, so a file whose header
    // names a huge picture costs only what the file holds), else the
    // encoder's bound for the picture; with room for headers either way,
    // and at most the largest packet a splitter delivers.
    HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES& props) override {
        const MediaType mt = ConnectionType();
        const VIDEOINFOHEADER* vih = MjpgInfo(mt.Get());
        if (!vih)
            return VFW_E_TYPE_NOT_ACCEPTED;
        const int64_t frame = vih->bmiHeader.biSizeImage > 0
                                  ? int64_t(vih->bmiHeader.biSizeImage)
                                  : int64_t(JpegEncoder::MaxSize(
                                        vih->bmiHeader.biWidth, std::abs(vih->bmiHeader.biHeight)));
        const int64_t size = std::min<int64_t>(frame + kHeaderRoom, kMaxFrameBytes);
        props.cBuffers = std::max<LONG>(
            props.cBuffers, static_cast<LONG>(std::clamp<int64_t>(kPoolBudget / size, 2, 4)));
        props.cbBuffer = std::max<LONG>(props.cbBuffer, static_cast<LONG>(size));
        return S_OK;
    }

private:
    static constexpr int64_t kHeaderRoom = 1 << 16;
    static constexpr int64_t kMaxFrameBytes = (int64_t(64) << 20) + kHeaderRoom;
    static constexpr int64_t kPoolBudget = int64_t(64) << 20;
};

class TapeDeck final : public BaseFilter, public ITapeDeck, public ISpecifyPropertyPages {
public:
    TapeDeck() : BaseFilter(CLSID_VirtualTapeDeck), m_record(*this), m_gate(*this) {
        m_in = static_cast<VideoInPin*>(AddPin(std::make_unique<VideoInPin>(*this)));
        m_monitor = static_cast<MonitorOutPin*>(AddPin(std::make_unique<MonitorOutPin>(*this)));
        m_feed = std::make_unique<MonitorFeed>(*m_monitor);
    }
    ~TapeDeck() override { DropRecorder(); }

    ULONG AddRef() override { return BaseFilter::AddRef(); }
    ULONG Release() override { return BaseFilter::Release(); }
    HRESULT QueryInterface(REFIID riid, void** out) override {
        return BaseFilter::QueryInterface(riid, out);
    }

    HRESULT GetTapeFolder(LPWSTR* folder) override {
        if (!folder)
            return E_POINTER;
        *folder = CoTaskMemDup(ToUtf16(TapeFolder()));
        return *folder ? S_OK : E_OUTOFMEMORY;
    }
    // The "Tape" page shows where the deck records and its last recording.
    HRESULT GetPages(CAUUID* pages) override {
        static constexpr GUID ids[] = {CLSID_TapePropertyPage};
        return FillPages(pages, ids, 1);
    }
    HRESULT GetLastRecording(LPWSTR* file) override {
        if (!file)
            return E_POINTER;
        *file = nullptr;
        const std::string last = LastRecordingIn(TapeFolder());
        if (last.empty())
            return S_FALSE;
        *file = CoTaskMemDup(ToUtf16(last));
        return *file ? S_OK : E_OUTOFMEMORY;
    }

    // The recorder follows the input's type: made when "Video In" connects
    // (the deck is stopped then, as connecting needs), dropped when it
    // disconnects.
    void OnConnected(BasePin& pin) override {
        if (&pin == m_in)
            MakeRecorder(m_in->ConnectionType());
    }
    void OnDisconnected(BasePin& pin) override {
        if (&pin == m_in)
            DropRecorder();
    }

    // With nothing on "Monitor Out" the deck is where the stream ends, as
    // a renderer is: the graph waits for it, and it reports the end of the
    // stream itself once it ran to it. With a monitor the end passes on.
    ULONG GetMiscFlags() override {
        return m_monitor->IsConnected() ? 0 : AM_FILTER_MISC_FLAGS_IS_RENDERER;
    }

    HRESULT OnReceive(BaseInputPin& pin, IMediaSample* sample) override;
    void OnEndOfStream(BaseInputPin&) override {
        if (m_monitor->IsConnected()) {
            m_monitor->DeliverEndOfStream();
            return;
        }
        {
            std::lock_guard guard(m_end_lock);
            m_ended = true;
        }
        MaybeComplete();
    }
    void OnBeginFlush(BaseInputPin& pin) override {
        BaseFilter::OnBeginFlush(pin);
        {
            std::lock_guard guard(m_end_lock);
            m_ended = m_complete_sent = false;
        }
        m_monitor->DeliverBeginFlush();
    }
    void OnEndFlush(BaseInputPin&) override { m_monitor->DeliverEndFlush(); }
    void OnNewSegment(BaseInputPin&, REFERENCE_TIME start, REFERENCE_TIME stop,
                      double rate) override {
        m_monitor->DeliverNewSegment(start, stop, rate);
    }

protected:
    HRESULT QueryInterfaceExtra(REFIID riid, void** out) override {
        if (riid == ITapeDeck::iid)
            return ReturnInterface<ITapeDeck>(this, out);
        if (riid == ISpecifyPropertyPages::iid)
            return ReturnInterface<ISpecifyPropertyPages>(this, out);
        return BaseFilter::QueryInterfaceExtra(riid, out);
    }

    HRESULT OnActivate() override {
        {
            std::lock_guard guard(m_end_lock);
            m_ended = m_complete_sent = false;
        }
        return StartRecording();
    }
    void OnRun(REFERENCE_TIME) override {
        m_gate.Wake();
        MaybeComplete();  // An end that came while paused.
    }
    void OnStopRequest() override { m_gate.Wake(); }
    void OnStopJoin() override { FinishRecording(); }

private:
    // EC_COMPLETE once per run, when the stream ended and the deck runs.
    void MaybeComplete() {
        {
            std::lock_guard guard(m_end_lock);
            if (!m_ended || m_complete_sent || State() != State_Running)
                return;
            m_complete_sent = true;
        }
        NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    }

    void MakeRecorder(const MediaType& type);
    void DropRecorder();
    HRESULT StartRecording();
    void FinishRecording();
    void Record(IMediaSample* sample);

    VideoInPin* m_in = nullptr;
    MonitorOutPin* m_monitor = nullptr;
    RecordPin m_record;

    // Holds each received frame until it is due.
    PresentationGate m_gate;

    // The recorder. Made and dropped under the control lock while stopped;
    // used by the streaming thread under m_record_lock, which stopping takes
    // to finish the file after the last frame went in.
    std::mutex m_record_lock;
    ComPtr<IBaseFilter> m_mux;
    ComPtr<IBaseFilter> m_writer;
    bool m_recording = false;       // Guarded by m_record_lock.
    int64_t m_frames_recorded = 0;  // Guarded by m_record_lock.
    REFERENCE_TIME m_time_per_frame = kMonitorTimePerFrame;
    // The run's tape folder and file; guarded by m_record_lock.
    std::string m_folder;
    std::string m_path;

    // The end of the stream without a monitor; guarded by m_end_lock.
    std::mutex m_end_lock;
    bool m_ended = false;
    bool m_complete_sent = false;

    // Streaming thread only.
    std::unique_ptr<MonitorFeed> m_feed;
};

void TapeDeck::MakeRecorder(const MediaType& type) {
    DropRecorder();
    ComPtr<IBaseFilter> mux, writer;
    if (FAILED(AviMuxClassEntry().create(IBaseFilter::iid, mux.OutVoid())) ||
        FAILED(FileWriterClassEntry().create(IBaseFilter::iid, writer.OutVoid())))
        return;
    ComPtr<IPin> mux_in, mux_out, writer_in;
    mux->FindPin(u"Input 01", mux_in.ReleaseAndGetAddressOf());
    mux->FindPin(u"AVI Out", mux_out.ReleaseAndGetAddressOf());
    ComPtr<IEnumPins> pins;
    writer->EnumPins(pins.ReleaseAndGetAddressOf());
    if (pins)
        pins->Next(1, writer_in.ReleaseAndGetAddressOf(), nullptr);
    if (!mux_in || !mux_out || !writer_in || FAILED(m_record.Connect(mux_in.Get(), &type.Get())) ||
        FAILED(mux_out->Connect(writer_in.Get(), nullptr)))
        return;
    if (const VIDEOINFOHEADER* vih = MjpgInfo(type.Get()))
        m_time_per_frame = vih->AvgTimePerFrame > 0 ? vih->AvgTimePerFrame : kMonitorTimePerFrame;
    m_mux = mux;
    m_writer = writer;
}

void TapeDeck::DropRecorder() {
    if (m_record.IsConnected())
        m_record.Disconnect();
    if (m_mux) {
        ComPtr<IPin> out;
        if (SUCCEEDED(m_mux->FindPin(u"AVI Out", out.ReleaseAndGetAddressOf())) && out) {
            ComPtr<IPin> peer;
            out->ConnectedTo(peer.ReleaseAndGetAddressOf());
            out->Disconnect();
            if (peer)
                peer->Disconnect();
        }
    }
    ComPtr<IPin> mux_in;
    if (m_mux && SUCCEEDED(m_mux->FindPin(u"Input 01", mux_in.ReleaseAndGetAddressOf())) && mux_in)
        mux_in->Disconnect();
    m_mux = nullptr;
    m_writer = nullptr;
}

HRESULT TapeDeck::StartRecording() {
    if (!m_mux || !m_writer)
        return S_OK;  // Nothing connected: nothing to record.
    const std::string folder = TapeFolder();
    if (folder.empty())
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string path = NewTapeName(folder);
    const std::u16string wide = ToUtf16(path);
    HRESULT hr = m_writer.As<IFileSinkFilter>()->SetFileName(wide.c_str(), nullptr);
    // Failures inside the recorder reach the deck's graph.
    FILTER_INFO info{};
    QueryFilterInfo(&info);
    ComPtr<IFilterGraph> graph = ComPtr<IFilterGraph>::Adopt(info.pGraph);
    m_writer->JoinFilterGraph(graph.Get(), u"Tape Writer");
    m_mux->JoinFilterGraph(graph.Get(), u"Tape Mux");
    if (SUCCEEDED(hr))
        hr = m_writer->Run(0);
    if (SUCCEEDED(hr))
        hr = m_mux->Run(0);
    if (SUCCEEDED(hr))
        hr = m_record.SetActive(true);
    if (FAILED(hr)) {
        m_record.SetActive(false);
        m_record.FinishStop();
        m_mux->Stop();
        m_writer->Stop();
        // The name was free: whatever is there now the writer made for a
        // run that records nothing.
        std::filesystem::remove(path, ec);
        return hr;
    }
    // The file is made now, so that a deck that cannot write fails its
    // start; it becomes the last recording with its first frame, and goes
    // again if the run ends before one came.
    std::lock_guard guard(m_record_lock);
    m_folder = folder;
    m_path = path;
    m_recording = true;
    m_frames_recorded = 0;
    return S_OK;
}

void TapeDeck::FinishRecording() {
    int64_t frames = 0;
    std::string path;
    {
        // After this no frame goes to the mux: the file ends with the last
        // frame that went in.
        std::lock_guard guard(m_record_lock);
        if (!m_recording)
            return;
        m_recording = false;
        frames = m_frames_recorded;
        path = m_path;
    }
    m_record.SetActive(false);
    m_record.FinishStop();
    // As in a capture graph: the writer first (it keeps the file open for
    // the mux's closing writes), then the mux, which finishes the file.
    m_writer->Stop();
    m_mux->Stop();
    m_writer->JoinFilterGraph(nullptr, nullptr);
    m_mux->JoinFilterGraph(nullptr, nullptr);
    // A run that received nothing (a play-out whose start failed after the
    // deck's, or stopped before its first frame) recorded nothing: it
    // leaves no empty tape behind, and the last recording stays the last.
    if (frames == 0) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
}

HRESULT TapeDeck::OnReceive(BaseInputPin& pin, IMediaSample* sample) {
    if (!m_gate.WaitUntilDue(pin, sample))
        return S_FALSE;
    Record(sample);
    const MediaType mt = pin.ConnectionType();
    if (const VIDEOINFOHEADER* vih = MjpgInfo(mt.Get()))
        m_feed->ShowJpeg(sample, vih->bmiHeader.biWidth, std::abs(vih->bmiHeader.biHeight));
    return S_OK;
}

void TapeDeck::Record(IMediaSample* sample) {
    std::lock_guard guard(m_record_lock);
    if (!m_recording)
        return;
    BYTE* src = nullptr;
    sample->GetPointer(&src);
    // An empty frame (a dropped frame's place in the source) is recorded as
    // one too, so the tape keeps the source's frames one for one.
    const LONG length = std::max<LONG>(sample->GetActualDataLength(), 0);
    if (!src)
        return;
    ComPtr<IMediaSample> copy;
    if (FAILED(m_record.GetDeliveryBuffer(copy.ReleaseAndGetAddressOf(), 0)) || !copy)
        return;
    BYTE* dst = nullptr;
    copy->GetPointer(&dst);
    if (!dst || length > copy->GetSize())
        return;
    std::memcpy(dst, src, size_t(length));
    copy->SetActualDataLength(length);
    // Back to back on the tape, whatever jumps the source's times made.
    REFERENCE_TIME start = m_frames_recorded * m_time_per_frame;
    REFERENCE_TIME end = start + m_time_per_frame;
    copy->SetTime(&start, &end);
    copy->SetSyncPoint(TRUE);
    if (m_record.Deliver(copy.Get()) != S_OK)
        return;
    // The recording now holds a frame: from here on it is the one the
    // deck names (a map entry set under a lock no one holds for longer).
    if (m_frames_recorded++ == 0)
        SetLastRecording(m_folder, m_path);
}

}  // namespace

HRESULT CreateTapeDeck(REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    ComPtr<TapeDeck> deck = MakeCom<TapeDeck>();
    return deck->QueryInterface(riid, out);
}

void RegisterTapeDeck() {
    static std::once_flag once;
    std::call_once(once, [] {
        ClassRegistry::Instance().Register(
            {CLSID_VirtualTapeDeck, kTapeDeckName, CreateTapeDeck, MERIT_DO_NOT_USE, {}});
        DeviceRegistry::Instance().AddProvider(CLSID_TransmitCategory, ProviderKind::Virtual, [] {
            return std::vector<DeviceDescription>{
                {kTapeDeckName, {}, CLSID_VirtualTapeDeck, CreateTapeDeck}};
        });
    });
}

}  // namespace ronvix::media
