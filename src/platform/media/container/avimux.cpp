// The AVI Mux: every sample goes where the capture timeline places it, and
// the container (aviwriter.h) puts it in the file through the downstream
// pin's write queue (the File Writer's) or its IStream. See avimux.h.

#include "platform/media/container/avimux.h"
#include "platform/media/core/filterentry.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/com/object.h"
#include "platform/com/objidl.h"
#include "platform/media/container/aviwriter.h"
#include "platform/media/container/timeline.h"
#include "platform/media/core/filter.h"
#include "platform/media/io/filewriter.h"

namespace ronvix::media {

using namespace com;

namespace {

constexpr REFERENCE_TIME kUnitsPerSecond = 10'000'000;
// How often the file's indexes, sizes and counts are brought up to date.
constexpr auto kCheckpointEvery = std::chrono::seconds(1);
// A video stream that names no rate waits (copied) for a second of its
// frames to measure it; at most this many bytes wait.
constexpr size_t kMaxHeldBytes = 64u << 20;
constexpr REFERENCE_TIME kRateMeasureSpan = kUnitsPerSecond;

// A frame rate as a fraction of whole numbers.
struct Rate {
    int64_t num = 25;
    int64_t den = 1;
};

// The frame rates of cameras, capture cards and video standards.
constexpr Rate kStandardRates[] = {{24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {50, 1},
                                   {60000, 1001}, {60, 1}, {15, 1}, {10, 1},       {5, 1}};

// The rate of a frame period in 100 ns units: a standard rate when the
// period is one rounded to 100 ns (333667 is 30000/1001 frames a second),
// else the exact fraction.
Rate RateOfPeriod(REFERENCE_TIME period) {
    for (const Rate& r : kStandardRates) {
        const double exact = double(kUnitsPerSecond) * double(r.den) / double(r.num);
        if (std::fabs(double(period) - exact) <= 1.0)
            return r;
    }
    int num = 1, den = 1;
    av_reduce(&num, &den, kUnitsPerSecond, std::max<REFERENCE_TIME>(period, 1), INT_MAX);
    return {num, den};
}

// The standard rate nearest to a measured one, when within 3 per cent of
// it; otherwise the measured rate to a thousandth of a frame.
Rate NearestStandardRate(double fps) {
    const Rate* best = nullptr;
    double best_ratio = 1.03;
    for (const Rate& r : kStandardRates) {
        const double standard = double(r.num) / double(r.den);
        const double ratio = std::max(fps, standard) / std::min(fps, standard);
        if (ratio < best_ratio) {
            best_ratio = ratio;
            best = &r;
        }
    }
    if (best)
        return *best;
    int num = 1, den = 1;
    av_reduce(&num, &den, std::llround(std::max(fps, 0.001) * 1000), 1000, INT_MAX);
    return {num, den};
}

bool IsRgb(const BITMAPINFOHEADER& bih) {
    return (bih.biCompression == 0 || bih.biCompression == 3) &&
           (bih.biBitCount == 16 || bih.biBitCount == 24 || bih.biBitCount == 32);
}

// The codec of a VideoInfo stream, as the AVI format knows it, and its
// four-character code.
AVCodecID VideoCodec(const AM_MEDIA_TYPE& mt, const VIDEOINFOHEADER& vih, uint32_t* tag) {
    *tag = 0;
    if (IsRgb(vih.bmiHeader))
        return AV_CODEC_ID_RAWVIDEO;
    uint32_t fourcc = vih.bmiHeader.biCompression;
    if (fourcc == 0 && mt.subtype.Data2 == 0 && mt.subtype.Data3 == 0x10)
        fourcc = mt.subtype.Data1;  // A four-character-code subtype.
    if (fourcc == 0)
        return AV_CODEC_ID_NONE;
    const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
    *tag = fourcc;
    return av_codec_get_id(tags, fourcc);
}

AVCodecID PcmCodec(int bits) {
    switch (bits) {
        case 8:
            return AV_CODEC_ID_PCM_U8;
        case 16:
            return AV_CODEC_ID_PCM_S16LE;
        case 24:
            return AV_CODEC_ID_PCM_S24LE;
        case 32:
            return AV_CODEC_ID_PCM_S32LE;
        default:
            return AV_CODEC_ID_NONE;
    }
}

const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo || !mt.pbFormat ||
        mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

const VIDEOINFOHEADER2* VideoInfo2Of(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo2 || !mt.pbFormat ||
        mt.cbFormat < sizeof(VIDEOINFOHEADER2))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
}

const WAVEFORMATEX* WaveFormatOf(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype != MEDIATYPE_Audio || mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat ||
        mt.cbFormat < sizeof(WAVEFORMATEX))
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}

class AviMux;

// A copy of a frame and its times, kept while its stream's rate is measured.
struct HeldSample {
    std::vector<uint8_t> data;
    std::optional<REFERENCE_TIME> stamp;
    std::optional<int64_t> number;
    bool sync_point = false;
};

// The container's bytes into the downstream pin: through the File Writer's
// queue when it has one (gathered blocks, barriers, room), else through
// IStream's positioned writes.
class MuxSink final : public AviSink {
public:
    MuxSink(ComPtr<IStream> stream, ComPtr<IFileWriterQueue> queue)
        : m_stream(std::move(stream)), m_queue(std::move(queue)) {}

    HRESULT WriteAt(uint64_t offset, std::span<const std::span<const uint8_t>> parts) override {
        if (m_queue)
            return m_queue->WriteParts(offset, parts);
        HRESULT hr = m_stream->Seek(static_cast<int64_t>(offset), STREAM_SEEK_SET, nullptr);
        for (const auto& p : parts) {
            if (FAILED(hr) || p.empty())
                continue;
            ULONG written = 0;
            hr = m_stream->Write(p.data(), static_cast<ULONG>(p.size()), &written);
        }
        return hr;
    }
    HRESULT Barrier() override { return m_queue ? m_queue->Barrier() : S_OK; }
    // Bytes a frame may take now without filling the queue.
    uint64_t Room() const {
        uint64_t room = UINT64_MAX;
        if (m_queue)
            m_queue->GetRoom(&room);
        return room;
    }
    HRESULT Commit() { return m_stream->Commit(0); }

private:
    const ComPtr<IStream> m_stream;
    const ComPtr<IFileWriterQueue> m_queue;
};

class MuxInputPin final : public BaseInputPin {
public:
    MuxInputPin(BaseFilter& filter, std::u16string name)
        : BaseInputPin(filter, std::move(name)), m_counts(*this) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        if (const VIDEOINFOHEADER* vih = VideoInfoOf(mt)) {
            uint32_t tag = 0;
            const bool sized = vih->bmiHeader.biWidth > 0 && vih->bmiHeader.biHeight != 0;
            return sized && VideoCodec(mt, *vih, &tag) != AV_CODEC_ID_NONE
                       ? S_OK
                       : VFW_E_TYPE_NOT_ACCEPTED;
        }
        if (const WAVEFORMATEX* wfx = WaveFormatOf(mt)) {
            const bool ok = wfx->wFormatTag == WAVE_FORMAT_PCM && wfx->nChannels >= 1 &&
                            wfx->nChannels <= 8 && wfx->nSamplesPerSec > 0 &&
                            PcmCodec(wfx->wBitsPerSample) != AV_CODEC_ID_NONE &&
                            wfx->nBlockAlign == wfx->nChannels * wfx->wBitsPerSample / 8;
            return ok ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        return VFW_E_TYPE_NOT_ACCEPTED;
    }

    // The stream this pin feeds in the file being written. Guarded by the
    // mux's file lock.
    struct Stream {
        int index = -1;  // In the file; -1: not in the current file.
        int line = -1;   // In the timeline.
        bool video = false;
        std::optional<Rate> rate;  // Video: unknown until named or measured.
        bool first_seen = false;   // Video: its first frame came.
        int64_t next_place = 0;    // Video: the next place without a chunk.
        bool all_key = true;       // Video: every frame stands alone (MJPG, raw).
        int block_align = 1;       // Audio.
        uint8_t silence = 0;       // Audio: the byte of a silent sample.
        bool ended = false;
        std::vector<HeldSample> held;  // Video frames waiting for a rate.
    } stream;

    // What the mux made of this stream, for IMuxStreamCounts. Any thread.
    void PublishCounts(const MUX_STREAM_COUNTS& counts) {
        std::lock_guard guard(m_counts_lock);
        m_published = counts;
    }

protected:
    HRESULT QueryPinInterface(REFIID riid, void** out) override {
        if (riid == IMuxStreamCounts::iid) {
            *out = static_cast<IMuxStreamCounts*>(&m_counts);
            AddRef();
            return S_OK;
        }
        return BaseInputPin::QueryPinInterface(riid, out);
    }

private:
    class Counts final : public IMuxStreamCounts {
    public:
        explicit Counts(MuxInputPin& pin) : m_pin(pin) {}
        HRESULT QueryInterface(REFIID riid, void** out) override {
            return static_cast<IPin&>(m_pin).QueryInterface(riid, out);
        }
        ULONG AddRef() override { return m_pin.AddRef(); }
        ULONG Release() override { return m_pin.Release(); }
        HRESULT GetCounts(MUX_STREAM_COUNTS* counts) override {
            if (!counts)
                return E_POINTER;
            std::lock_guard guard(m_pin.m_counts_lock);
            *counts = m_pin.m_published;
            return S_OK;
        }

    private:
        MuxInputPin& m_pin;
    };

    Counts m_counts;
    std::mutex m_counts_lock;
    // Guarded by m_counts_lock.
    MUX_STREAM_COUNTS m_published;
};

class AviOutputPin final : public BaseOutputPin {
public:
    explicit AviOutputPin(BaseFilter& filter) : BaseOutputPin(filter, u"AVI Out") {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        return mt.majortype == MEDIATYPE_Stream &&
                       (mt.subtype == MEDIASUBTYPE_Avi || mt.subtype == GUID_NULL)
                   ? S_OK
                   : VFW_E_TYPE_NOT_ACCEPTED;
    }
    std::vector<MediaType> OfferedTypes() override {
        MediaType t;
        t->majortype = MEDIATYPE_Stream;
        t->subtype = MEDIASUBTYPE_Avi;
        t->formattype = FORMAT_None;
        t->bFixedSizeSamples = 0;
        t->lSampleSize = 1;
        std::vector<MediaType> types;
        types.push_back(std::move(t));
        return types;
    }

protected:
    // Bytes go through the peer's IStream, not through samples of a pool.
    HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES&) override { return S_FALSE; }
};

class AviMux final : public BaseFilter, public IMuxEndTime {
public:
    AviMux() : BaseFilter(CLSID_AviDest) {
        m_out = static_cast<AviOutputPin*>(AddPin(std::make_unique<AviOutputPin>(*this)));
        AddInput();
    }
    ~AviMux() override {
        std::lock_guard guard(m_file_lock);
        Finish();
    }

    void OnConnected(BasePin& pin) override {
        if (pin.Direction() != PINDIR_INPUT)
            return;
        for (BasePin* p : Pins())
            if (p->Direction() == PINDIR_INPUT && !p->IsConnected())
                return;
        AddInput();
    }

    HRESULT QueryInterface(REFIID riid, void** out) override {
        return BaseFilter::QueryInterface(riid, out);
    }
    ULONG AddRef() override { return BaseFilter::AddRef(); }
    ULONG Release() override { return BaseFilter::Release(); }

    // IMuxEndTime.
    HRESULT SetEndTime(REFERENCE_TIME end_100ns) override {
        if (end_100ns < 0)
            return E_INVALIDARG;
        m_end_time.store(end_100ns);
        return S_OK;
    }
    HRESULT GetEndTime(REFERENCE_TIME* end_100ns) override {
        if (!end_100ns)
            return E_POINTER;
        *end_100ns = m_end_time.load();
        return S_OK;
    }

    HRESULT OnReceive(BaseInputPin& pin, IMediaSample* sample) override;

    void OnEndOfStream(BaseInputPin& pin) override {
        bool finished = false;
        {
            std::lock_guard guard(m_file_lock);
            auto& in = static_cast<MuxInputPin&>(pin);
            in.stream.ended = true;
            if (m_file && AllStreamsEnded()) {
                Finish();
                finished = true;
            }
        }
        ReportAbort();
        if (finished)
            m_out->DeliverEndOfStream();
    }
    void OnBeginFlush(BaseInputPin&) override {}
    void OnEndFlush(BaseInputPin&) override {}

protected:
    HRESULT QueryInterfaceExtra(REFIID riid, void** out) override {
        if (riid == IMuxEndTime::iid)
            return ReturnInterface<IMuxEndTime>(this, out);
        return BaseFilter::QueryInterfaceExtra(riid, out);
    }
    HRESULT OnActivate() override {
        std::lock_guard guard(m_file_lock);
        const HRESULT hr = Open();
        if (FAILED(hr))
            Finish();
        return hr;
    }
    void OnStopJoin() override {
        // Receive calls still in progress finish first (they hold the lock);
        // new ones are refused by the inactive pins.
        {
            std::lock_guard guard(m_file_lock);
            Finish();
        }
        ReportAbort();
    }

private:
    void AddInput() {
        const int n = ++m_inputs;
        char name[24];
        std::snprintf(name, sizeof name, "Input %02d", n);
        AddPin(std::make_unique<MuxInputPin>(*this, ToUtf16(name)));
    }
    std::vector<MuxInputPin*> Inputs() const {
        std::vector<MuxInputPin*> inputs;
        for (BasePin* p : Pins())
            if (p->Direction() == PINDIR_INPUT)
                inputs.push_back(static_cast<MuxInputPin*>(p));
        return inputs;
    }
    bool AllStreamsEnded() const {
        for (MuxInputPin* in : Inputs())
            if (in->stream.index >= 0 && !in->stream.ended)
                return false;
        return true;
    }

    HRESULT Open();
    HRESULT AddStream(MuxInputPin& pin);
    HRESULT ReceiveVideo(MuxInputPin& pin, IMediaSample* sample, const BYTE* data, LONG length);
    HRESULT ReceiveAudio(MuxInputPin& pin, IMediaSample* sample, const BYTE* data, LONG length);
    // Places one video frame and writes it; S_SAMPLE_LEFT_OUT when the
    // timeline left it out or the disk's queue had no room for it.
    HRESULT PlaceFrame(MuxInputPin& pin, const uint8_t* data, size_t length,
                       std::optional<REFERENCE_TIME> stamp, std::optional<int64_t> number, bool key,
                       bool allow_left_out);
    // Empty chunks for the places of `s` before `place`.
    HRESULT FillPlaces(MuxInputPin::Stream& s, int64_t place);
    // A rate for a video stream that names none, from the frames it held:
    // once they span a second, or with `force` from what there is.
    void MeasureRate(MuxInputPin& pin, bool force);
    void SetRate(MuxInputPin::Stream& s, Rate rate);
    // The rate, interlacing and display aspect a source told on its first
    // frame, into the file's header (before the stream's first chunk).
    void TakeDisplayProperties(MuxInputPin::Stream& s, const VIDEOINFOHEADER2& vih2);
    HRESULT WriteSilence(MuxInputPin::Stream& s, int64_t frames);
    HRESULT WriteSilence(int stream, int64_t frames);
    // One chunk into the file. When the file system refuses to grow the
    // file (or the owner's size is reached), the file ends at a checkpoint
    // and the capture goes on in the next file of the series.
    HRESULT WriteChunk(int stream, std::span<const uint8_t> data, bool key);
    HRESULT ContinueInNextFile();
    // Lets the writer drop what a cut can no longer need.
    void ReleaseKept();
    // An EC_ERRORABORT the writer left to the mux (a file-size limit the
    // capture could not continue past). Without the file lock.
    void ReportAbort() {
        HRESULT hr = S_OK;
        {
            std::lock_guard guard(m_file_lock);
            std::swap(hr, m_abort);
        }
        if (FAILED(hr))
            NotifyEvent(EC_ERRORABORT, hr, 0);
    }
    // The file's indexes and counts, once a second of writing.
    void MaybeCheckpoint();
    HRESULT Track(HRESULT hr) {
        if (FAILED(hr) && SUCCEEDED(m_error))
            m_error = hr;
        return hr;
    }
    void Publish(MuxInputPin& pin) { pin.PublishCounts(m_timeline.Counts(pin.stream.line)); }
    // Empty places to the end for the video streams that fell short of it.
    void FillToEnd();
    void Finish();

    AviOutputPin* m_out = nullptr;
    int m_inputs = 0;  // Control thread only.

    // Held while the file is opened, written or finished: by Receive on
    // streaming threads and by state changes on the control thread. Held
    // across calls into the writer, which waits for room only when its queue
    // is twice over its limit; the writer's stop ends that wait.
    std::mutex m_file_lock;
    // Guarded by m_file_lock (and each input's `stream`).
    std::unique_ptr<MuxSink> m_sink;
    std::unique_ptr<AviFileWriter> m_file;
    // The writer's continuation into a next file, when it offers one, and
    // the chunks of the current file a cut may need again (in file order).
    struct TailChunk {
        int stream = 0;
        uint64_t offset = 0;  // Of the chunk's header.
        uint32_t size = 0;
        bool key = true;
        int64_t at = 0;  // The stream's position: video place or sound frame.
    };
    ComPtr<IFileWriterChain> m_chain;
    std::deque<TailChunk> m_tail;
    bool m_continuing = false;
    HRESULT m_abort = S_OK;  // See ReportAbort.
    HRESULT m_error = S_OK;  // The file failed; Receive reports it.
    CaptureTimeline m_timeline;
    size_t m_held_bytes = 0;
    std::chrono::steady_clock::time_point m_last_checkpoint;
    // The file reached the end its owner set: told once a run.
    bool m_end_told = false;

    // The end set through IMuxEndTime; taken by each run's Open.
    std::atomic<REFERENCE_TIME> m_end_time{0};
};

HRESULT AviMux::Open() {
    m_error = S_OK;
    m_timeline = CaptureTimeline();
    m_timeline.SetEnd(m_end_time.load());
    m_end_told = false;
    m_held_bytes = 0;
    for (MuxInputPin* in : Inputs()) {
        in->stream = MuxInputPin::Stream{};
        in->PublishCounts({});
    }
    ComPtr<IPin> peer = m_out->Peer();
    if (!peer)
        return S_OK;  // Nowhere to write: the inputs' samples are dropped.
    bool any = false;
    for (MuxInputPin* in : Inputs())
        any = any || in->IsConnected();
    if (!any)
        return S_OK;
    ComPtr<IStream> stream;
    if (FAILED(peer->QueryInterface(IStream::iid, stream.OutVoid())))
        return VFW_E_NO_TRANSPORT;
    ComPtr<IFileWriterQueue> queue;
    peer->QueryInterface(IFileWriterQueue::iid, queue.OutVoid());
    m_sink = std::make_unique<MuxSink>(std::move(stream), std::move(queue));
    m_file = std::make_unique<AviFileWriter>(*m_sink);
    m_chain = nullptr;
    m_tail.clear();
    m_abort = S_OK;
    if (SUCCEEDED(peer->QueryInterface(IFileWriterChain::iid, m_chain.OutVoid())))
        m_chain->KeepFrom(0);
    for (MuxInputPin* in : Inputs()) {
        if (!in->IsConnected())
            continue;
        const HRESULT hr = AddStream(*in);
        if (FAILED(hr))
            return hr;
    }
    // The header goes out at once: the file is a valid (empty) AVI from
    // the first moment.
    m_last_checkpoint = std::chrono::steady_clock::now();
    return Track(m_file->Begin());
}

HRESULT AviMux::AddStream(MuxInputPin& pin) {
    const MediaType mt = pin.ConnectionType();
    MuxInputPin::Stream& s = pin.stream;
    if (const VIDEOINFOHEADER* vih = VideoInfoOf(mt.Get())) {
        uint32_t tag = 0;
        const AVCodecID codec = VideoCodec(mt.Get(), *vih, &tag);
        s.all_key = codec == AV_CODEC_ID_MJPEG || codec == AV_CODEC_ID_RAWVIDEO;
        AviVideoFormat format;
        const auto* bih = reinterpret_cast<const uint8_t*>(&vih->bmiHeader);
        // The picture's header and what follows it in the type (a palette).
        format.strf.assign(bih, bih + sizeof(BITMAPINFOHEADER));
        if (mt->cbFormat > sizeof(VIDEOINFOHEADER))
            format.strf.insert(format.strf.end(), mt->pbFormat + sizeof(VIDEOINFOHEADER),
                               mt->pbFormat + mt->cbFormat);
        format.handler = tag;
        format.compressed = !IsRgb(vih->bmiHeader);
        format.width = vih->bmiHeader.biWidth;
        format.height = vih->bmiHeader.biHeight;
        s.video = true;
        if (vih->AvgTimePerFrame > 0)
            s.rate = RateOfPeriod(vih->AvgTimePerFrame);
        const Rate r = s.rate.value_or(Rate{});
        format.rate_num = r.num;
        format.rate_den = r.den;
        s.index = m_file->AddVideo(std::move(format));
        s.line = m_timeline.AddVideo(r.num, r.den);
        return S_OK;
    }
    const WAVEFORMATEX* wfx = WaveFormatOf(mt.Get());
    if (!wfx)
        return VFW_E_TYPE_NOT_ACCEPTED;
    AviAudioFormat format;
    WAVEFORMATEX header = *wfx;
    header.cbSize = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
    format.strf.assign(bytes, bytes + sizeof(WAVEFORMATEX));
    format.block_align = wfx->nBlockAlign;
    format.bytes_per_second = wfx->nSamplesPerSec * wfx->nBlockAlign;
    format.sample_rate = wfx->nSamplesPerSec;
    s.video = false;
    s.block_align = wfx->nBlockAlign;
    s.silence = wfx->wBitsPerSample == 8 ? 0x80 : 0;  // 8-bit PCM is unsigned.
    s.index = m_file->AddAudio(std::move(format));
    s.line = m_timeline.AddAudio(wfx->nSamplesPerSec);
    return S_OK;
}

HRESULT AviMux::OnReceive(BaseInputPin& pin, IMediaSample* sample) {
    HRESULT hr = S_OK;
    bool end_reached = false;
    {
        std::lock_guard guard(m_file_lock);
        auto& in = static_cast<MuxInputPin&>(pin);
        if (!m_file || in.stream.index < 0)
            return S_OK;  // Not part of a file: nothing to write.
        if (FAILED(m_error))
            return m_error;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const LONG length = sample->GetActualDataLength();
        if (!data || length <= 0)
            return S_OK;
        hr = in.stream.video ? ReceiveVideo(in, sample, data, length)
                             : ReceiveAudio(in, sample, data, length);
        if (!m_end_told && m_timeline.EndReached()) {
            // The file is complete up to its end: made durable at once, so
            // what the owner's stop finishes is already on the disk.
            m_end_told = true;
            end_reached = true;
            FillToEnd();
            Track(m_file->Checkpoint());
            m_last_checkpoint = std::chrono::steady_clock::now();
        } else {
            MaybeCheckpoint();
        }
        if (SUCCEEDED(hr) && FAILED(m_error))
            hr = m_error;
    }
    // Outside the file lock: the graph's queue takes the event and returns.
    if (end_reached)
        NotifyEvent(EC_STREAM_CONTROL_STOPPED, 0, 0);
    ReportAbort();
    return hr;
}

void AviMux::FillToEnd() {
    // A video stream whose last frames never came ends on empty places, so
    // every stream of the file lasts to the end.
    for (MuxInputPin* in : Inputs()) {
        MuxInputPin::Stream& s = in->stream;
        if (s.index >= 0 && s.video && s.rate && s.first_seen) {
            // Frames that come later (a camera far behind the sound) are
            // past the end: the file is complete at the end.
            m_timeline.CloseAtEnd(s.line);
            if (SUCCEEDED(FillPlaces(s, m_timeline.EndPlace(s.line))))
                Publish(*in);
        }
    }
}

void AviMux::SetRate(MuxInputPin::Stream& s, Rate rate) {
    s.rate = rate;
    m_timeline.SetVideoRate(s.line, rate.num, rate.den);
    m_file->SetVideoRate(s.index, rate.num, rate.den);
}

void AviMux::TakeDisplayProperties(MuxInputPin::Stream& s, const VIDEOINFOHEADER2& vih2) {
    if (vih2.AvgTimePerFrame > 0)
        SetRate(s, RateOfPeriod(vih2.AvgTimePerFrame));
    AviVideoProperties p;
    p.interlaced = (vih2.dwInterlaceFlags & AMINTERLACE_IsInterlaced) != 0;
    p.top_first = (vih2.dwInterlaceFlags & AMINTERLACE_Field1First) != 0;
    // An aspect that does not fit the field is reduced until it does.
    uint64_t ax = vih2.dwPictAspectRatioX, ay = vih2.dwPictAspectRatioY;
    if (ax && ay) {
        const uint64_t common = std::gcd(ax, ay);
        ax /= common;
        ay /= common;
        if (ax <= UINT16_MAX && ay <= UINT16_MAX) {
            p.aspect_x = uint16_t(ax);
            p.aspect_y = uint16_t(ay);
        }
    }
    if (p.interlaced && s.rate)
        p.refresh_hz = uint32_t((2 * s.rate->num + s.rate->den / 2) / s.rate->den);
    m_file->SetVideoProperties(s.index, p);
}

HRESULT AviMux::ReceiveVideo(MuxInputPin& pin, IMediaSample* sample, const BYTE* data,
                             LONG length) {
    MuxInputPin::Stream& s = pin.stream;
    if (!s.first_seen) {
        s.first_seen = true;
        // A source may bring the rate its device really runs at on its
        // first frame; no frame of the stream is in the file yet.
        AM_MEDIA_TYPE* type = nullptr;
        if (sample->GetMediaType(&type) == S_OK && type) {
            if (const VIDEOINFOHEADER* vih = VideoInfoOf(*type); vih && vih->AvgTimePerFrame > 0)
                SetRate(s, RateOfPeriod(vih->AvgTimePerFrame));
            if (const VIDEOINFOHEADER2* vih2 = VideoInfo2Of(*type))
                TakeDisplayProperties(s, *vih2);
            DeleteMediaType(type);
        }
    }
    REFERENCE_TIME start = 0, stop = 0;
    std::optional<REFERENCE_TIME> stamp;
    if (SUCCEEDED(sample->GetTime(&start, &stop)))
        stamp = start;
    std::optional<int64_t> number;
    LONGLONG media_start = 0, media_stop = 0;
    if (sample->GetMediaTime(&media_start, &media_stop) == S_OK)
        number = media_start;
    const bool key = sample->IsSyncPoint() == S_OK;
    if (!s.rate) {
        // No rate yet: the frame waits (copied, so the source gets its
        // buffer back) until a second of them tells the rate.
        s.held.push_back({std::vector<uint8_t>(data, data + length), stamp, number, key});
        m_held_bytes += size_t(length);
        MeasureRate(pin, m_held_bytes > kMaxHeldBytes);
        return S_OK;
    }
    return PlaceFrame(pin, data, size_t(length), stamp, number, key, true);
}

HRESULT AviMux::FillPlaces(MuxInputPin::Stream& s, int64_t place) {
    for (; s.next_place < place; ++s.next_place) {
        const HRESULT hr = WriteChunk(s.index, {}, false);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT AviMux::PlaceFrame(MuxInputPin& pin, const uint8_t* data, size_t length,
                           std::optional<REFERENCE_TIME> stamp, std::optional<int64_t> number,
                           bool key, bool allow_left_out) {
    MuxInputPin::Stream& s = pin.stream;
    const CaptureTimeline::VideoPlace place =
        m_timeline.PlaceVideo(s.line, stamp, number, allow_left_out);
    if (place.left_out) {
        Publish(pin);
        return S_SAMPLE_LEFT_OUT;
    }
    if (place.past_end) {
        const HRESULT hr = FillPlaces(s, m_timeline.EndPlace(s.line));
        Publish(pin);
        return FAILED(hr) ? hr : S_SAMPLE_PAST_END;
    }
    HRESULT hr = FillPlaces(s, place.place);
    if (FAILED(hr))
        return hr;
    if (allow_left_out && m_sink->Room() < length + 64) {
        // The disk is behind and its queue is full: the frame's place stays
        // empty, the source counts it as dropped, and nothing waits.
        m_timeline.DropPlaced(s.line);
        Publish(pin);
        hr = FillPlaces(s, place.place + 1);
        return FAILED(hr) ? hr : S_SAMPLE_LEFT_OUT;
    }
    Publish(pin);
    hr = WriteChunk(s.index, {data, length}, key || s.all_key);
    if (SUCCEEDED(hr))
        s.next_place = place.place + 1;
    return hr;
}

HRESULT AviMux::ReceiveAudio(MuxInputPin& pin, IMediaSample* sample, const BYTE* data,
                             LONG length) {
    MuxInputPin::Stream& s = pin.stream;
    const int64_t frames = length / s.block_align;
    if (frames <= 0)
        return S_OK;
    REFERENCE_TIME start = 0, stop = 0;
    std::optional<REFERENCE_TIME> stamp;
    if (SUCCEEDED(sample->GetTime(&start, &stop)))
        stamp = start;
    std::optional<int64_t> position;
    LONGLONG media_start = 0, media_stop = 0;
    if (sample->GetMediaTime(&media_start, &media_stop) == S_OK)
        position = media_start;
    const CaptureTimeline::AudioPlace place =
        m_timeline.PlaceAudio(s.line, frames, stamp, position, sample->IsDiscontinuity() == S_OK);
    Publish(pin);
    if (place.silence > 0) {
        const HRESULT hr = WriteSilence(s, place.silence);
        if (FAILED(hr))
            return hr;
    }
    const int64_t written = place.frames;
    if (written <= 0)
        return frames - place.skip > 0 ? S_SAMPLE_PAST_END : S_OK;
    return WriteChunk(s.index, {data + place.skip * s.block_align, size_t(written * s.block_align)},
                      true);
}

HRESULT AviMux::WriteSilence(MuxInputPin::Stream& s, int64_t frames) {
    return WriteSilence(s.index, frames);
}

HRESULT AviMux::WriteSilence(int stream, int64_t frames) {
    int block_align = 1;
    uint8_t silence = 0;
    for (MuxInputPin* in : Inputs())
        if (in->stream.index == stream) {
            block_align = in->stream.block_align;
            silence = in->stream.silence;
        }
    const int64_t rate = std::max<int64_t>(1, m_file->UnitRate(stream).first);
    // In chunks of at most a second, so a long gap needs no large buffer.
    const int64_t chunk = std::min<int64_t>(frames, rate);
    const std::vector<uint8_t> zeros(size_t(std::max<int64_t>(chunk, 0) * block_align), silence);
    for (int64_t done = 0; done < frames; done += chunk) {
        const int64_t n = std::min(chunk, frames - done);
        const HRESULT hr = WriteChunk(stream, {zeros.data(), size_t(n * block_align)}, true);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT AviMux::WriteChunk(int stream, std::span<const uint8_t> data, bool key) {
    const int64_t at = m_file->Position(stream);
    HRESULT hr = m_file->Write(stream, data, key);
    if (SUCCEEDED(hr)) {
        if (m_chain)
            m_tail.push_back({stream, m_file->LastChunkOffset(), uint32_t(data.size()), key, at});
        return hr;
    }
    if (!m_chain || m_continuing || !IsFileSizeLimit(hr))
        return Track(hr);
    hr = ContinueInNextFile();
    if (FAILED(hr)) {
        // The writer left this failure to the capture, which cannot go on.
        if (IsFileSizeLimit(hr) && SUCCEEDED(m_error))
            m_abort = hr;
        return Track(hr);
    }
    return WriteChunk(stream, data, key);
}

HRESULT AviMux::ContinueInNextFile() {
    m_continuing = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{m_continuing};
    // Everything queued is on the disk or refused: the file ends at the
    // latest checkpoint the disk holds, and is cut there.
    const HRESULT refused = m_chain->Drain();
    if (FAILED(refused) && !IsFileSizeLimit(refused))
        return refused;  // The disk failed otherwise too: no next file helps.
    uint64_t written = 0;
    m_chain->GetWrittenEnd(&written);
    const AviFileWriter::Cut cut = m_file->EndAt(written);
    // A file that could hold no chunk at all: a next one would not either.
    if (std::none_of(cut.positions.begin(), cut.positions.end(), [](int64_t p) { return p > 0; }))
        return HResultFromErrno(EFBIG);
    std::vector<IFileWriterChain::KeptBlock> kept;
    HRESULT hr = m_chain->NextFile(cut.length, &kept);
    if (FAILED(hr))
        return hr;
    std::unique_ptr<AviFileWriter> previous = std::move(m_file);
    m_file = previous->Successor(*m_sink);
    hr = m_file->Begin();
    if (FAILED(hr))
        return hr;
    m_last_checkpoint = std::chrono::steady_clock::now();

    // Where each stream begins in the next file: the pictures where the
    // cut file's end, the sound at that same instant (a little of it then
    // ends the cut file too, when the sound had run ahead).
    std::vector<int64_t> starts = cut.positions;
    std::vector<const MuxInputPin::Stream*> streams(starts.size(), nullptr);
    for (MuxInputPin* in : Inputs())
        if (in->stream.index >= 0 && size_t(in->stream.index) < streams.size())
            streams[size_t(in->stream.index)] = &in->stream;
    std::optional<size_t> video;
    for (size_t i = 0; i < streams.size() && !video; ++i)
        if (streams[i] && streams[i]->video)
            video = i;
    if (video) {
        const auto [num, den] = previous->UnitRate(int(*video));
        for (size_t i = 0; i < streams.size(); ++i) {
            if (!streams[i] || streams[i]->video)
                continue;
            const int64_t rate = previous->UnitRate(int(i)).first;
            // Sample frames at place `starts[video]`, to the nearest.
            starts[i] = av_rescale_rnd(starts[*video], den * rate, num, AV_ROUND_NEAR_INF);
        }
    }
    std::unordered_map<uint64_t, const std::vector<uint8_t>*> blocks;
    // The first block at an offset is the chunk written there (the cut's
    // legacy index may have been written over it since).
    for (const IFileWriterChain::KeptBlock& b : kept)
        blocks.emplace(b.offset, &b.data);
    std::deque<TailChunk> tail = std::move(m_tail);
    m_tail.clear();
    std::vector<int64_t> next(starts);  // The next position each stream needs.
    for (const TailChunk& c : tail) {
        if (size_t(c.stream) >= next.size() || !streams[size_t(c.stream)])
            continue;
        const bool is_video = streams[size_t(c.stream)]->video;
        const int block_align = is_video ? 1 : std::max(streams[size_t(c.stream)]->block_align, 1);
        const int64_t units = is_video ? 1 : int64_t(c.size) / block_align;
        int64_t& want = next[size_t(c.stream)];
        if (c.at + units <= want)
            continue;  // Before the stream's start, or already written.
        // History that does not reach back to the start (the sound ran far
        // behind the pictures): silence or empty places keep the instant.
        if (c.at > want) {
            hr = is_video ? [&] {
                for (int64_t p = want; p < c.at; ++p)
                    if (HRESULT e = WriteChunk(c.stream, {}, false); FAILED(e))
                        return e;
                return S_OK;
            }()
                          : WriteSilence(c.stream, c.at - want);
            if (FAILED(hr))
                return hr;
            want = c.at;
        }
        const auto found = blocks.find(c.offset);
        const std::vector<uint8_t>* block = found == blocks.end() ? nullptr : found->second;
        const int64_t skip = want - c.at;
        if (!block || block->size() < 8 + size_t(c.size)) {
            // Not kept: its time is kept, empty.
            hr = is_video ? WriteChunk(c.stream, {}, false) : WriteSilence(c.stream, units - skip);
        } else {
            const std::span<const uint8_t> data(block->data() + 8, c.size);
            hr = WriteChunk(c.stream, data.subspan(size_t(skip * block_align)), c.key);
        }
        if (FAILED(hr))
            return hr;
        want = c.at + units;
    }
    // The next file is valid with all of it at once.
    m_last_checkpoint = std::chrono::steady_clock::now();
    hr = m_file->Checkpoint();
    ReleaseKept();
    return hr;
}

void AviMux::ReleaseKept() {
    if (!m_chain || !m_file)
        return;
    uint64_t written = 0;
    m_chain->GetWrittenEnd(&written);
    const uint64_t from = m_file->ReleaseCheckpoints(written);
    m_chain->KeepFrom(from);
    while (!m_tail.empty() && m_tail.front().offset < from)
        m_tail.pop_front();
}

void AviMux::MaybeCheckpoint() {
    const auto now = std::chrono::steady_clock::now();
    if (!m_file || now - m_last_checkpoint < kCheckpointEvery)
        return;
    // A file that may continue in a next one is checkpointed where the
    // sound has caught up with the pictures (a cut there splits both at
    // one instant), unless that keeps it waiting a second more.
    if (m_chain && !m_file->SoundCoversPicture() && now - m_last_checkpoint < 2 * kCheckpointEvery)
        return;
    m_last_checkpoint = now;
    Track(m_file->Checkpoint());
    ReleaseKept();
}

void AviMux::MeasureRate(MuxInputPin& pin, bool force) {
    MuxInputPin::Stream& s = pin.stream;
    if (s.rate)
        return;
    // The median time between frames that follow each other, so frames
    // the device dropped in the first second do not lower the rate.
    std::vector<double> periods;
    for (size_t i = 1; i < s.held.size(); ++i) {
        const HeldSample& a = s.held[i - 1];
        const HeldSample& b = s.held[i];
        if (!a.stamp || !b.stamp || *b.stamp <= *a.stamp)
            continue;
        const int64_t steps = a.number && b.number ? *b.number - *a.number : 1;
        if (steps >= 1 && steps <= 8)
            periods.push_back(double(*b.stamp - *a.stamp) / double(steps));
    }
    const bool spans = s.held.size() >= 2 && s.held.front().stamp && s.held.back().stamp &&
                       *s.held.back().stamp - *s.held.front().stamp >= kRateMeasureSpan;
    if (!spans && !force)
        return;
    Rate rate;  // 25 frames a second when nothing could be measured.
    if (!periods.empty()) {
        std::nth_element(periods.begin(), periods.begin() + ptrdiff_t(periods.size() / 2),
                         periods.end());
        rate = NearestStandardRate(double(kUnitsPerSecond) / periods[periods.size() / 2]);
    }
    SetRate(s, rate);
    // The frames that waited are placed now; none is left out (its source
    // counted it as delivered long ago): a correction waits for the next.
    std::vector<HeldSample> held = std::move(s.held);
    s.held.clear();
    for (const HeldSample& h : held) {
        m_held_bytes -= std::min(m_held_bytes, h.data.size());
        if (FAILED(PlaceFrame(pin, h.data.data(), h.data.size(), h.stamp, h.number, h.sync_point,
                              false)))
            break;
    }
}

void AviMux::Finish() {
    if (m_file) {
        // Frames still waiting for a rate go in with what was measured.
        for (MuxInputPin* in : Inputs())
            if (in->stream.index >= 0 && in->stream.video && !in->stream.rate)
                MeasureRate(*in, true);
        if (m_end_told)
            FillToEnd();
        // The last of the file may still be on its way to the disk: when
        // the disk refused it, it goes into a next file like the rest.
        if (m_chain && SUCCEEDED(m_error) && IsFileSizeLimit(m_chain->Drain())) {
            if (const HRESULT hr = ContinueInNextFile(); FAILED(hr)) {
                if (IsFileSizeLimit(hr))
                    m_abort = hr;
                Track(hr);
            }
        }
        // The writer reports a failure of the disk itself (once, as
        // EC_ERRORABORT); what the file's finish found is the mux's to
        // report when the writer had not.
        Track(m_file->Finish());
        m_file.reset();
    }
    m_chain = nullptr;
    m_tail.clear();
    for (MuxInputPin* in : Inputs()) {
        in->stream.index = -1;
        in->stream.held.clear();
    }
    if (std::unique_ptr<MuxSink> sink = std::move(m_sink))
        sink->Commit();
}

}  // namespace

ClassEntry AviMuxClassEntry() {
    return FilterClassEntry<AviMux>(CLSID_AviDest, "AVI Mux", MERIT_DO_NOT_USE);
}

}  // namespace ronvix::media
