// The AVI Mux: libavformat's AVI writer behind a custom I/O context whose
// writes and seeks go through the downstream pin's IStream. See avimux.h.

#include "platform/media/filters/avimux.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <climits>
#include <cmath>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/object.h"
#include "platform/com/objidl.h"
#include "platform/media/filter.h"
#include "platform/media/filters/timeline.h"

namespace ronvix::media {

using namespace com;

namespace {

// libavformat's writes reach the writer in runs of this size (and at every
// seek), so each block the writer queues is large.
constexpr int kIoBufferBytes = 1 << 20;
constexpr REFERENCE_TIME kUnitsPerSecond = 10'000'000;
// How far one stream may run ahead of another before libavformat writes
// what it holds without waiting for the other (a stream that stalls).
constexpr int64_t kMaxInterleaveDelay_us = 2'000'000;
// The header waits for each video stream's first frame (which may bring
// the rate the device really runs at) and, for a stream that names no
// rate, for a second of its frames to measure it; at most this much
// stream time or this many bytes are held meanwhile.
constexpr REFERENCE_TIME kMaxHeaderWait = 5 * kUnitsPerSecond;
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

// The codec libavformat should record for a VideoInfo stream, and the tag.
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

const WAVEFORMATEX* WaveFormatOf(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype != MEDIATYPE_Audio || mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat ||
        mt.cbFormat < sizeof(WAVEFORMATEX))
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}

class AviMux;

// A copy of a sample's data and times, kept while the file's header waits.
struct HeldSample {
    std::vector<uint8_t> data;
    std::optional<REFERENCE_TIME> stamp;
    std::optional<int64_t> number;
    bool sync_point = false;
};

// A packet placed before the header was written, written after it.
struct PendingPacket {
    int stream = 0;
    int64_t pts = 0;
    int64_t duration = 1;
    bool key = false;
    std::vector<uint8_t> data;
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
        bool placed = false;       // Video: a packet of it was written.
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

class AviMux final : public BaseFilter {
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

    HRESULT OnReceive(BaseInputPin& pin, IMediaSample* sample) override;

    void OnEndOfStream(BaseInputPin& pin) override {
        bool finished = false;
        {
            std::lock_guard guard(m_file_lock);
            auto& in = static_cast<MuxInputPin&>(pin);
            in.stream.ended = true;
            if (m_ctx && AllStreamsEnded()) {
                Finish();
                finished = true;
            } else if (m_ctx && m_pending) {
                WriteHeaderWhenReady(false);
            }
        }
        if (finished)
            m_out->DeliverEndOfStream();
    }
    void OnBeginFlush(BaseInputPin&) override {}
    void OnEndFlush(BaseInputPin&) override {}

protected:
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
        std::lock_guard guard(m_file_lock);
        Finish();
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
    // timeline left it out.
    HRESULT PlaceFrame(MuxInputPin& pin, const uint8_t* data, size_t length,
                       std::optional<REFERENCE_TIME> stamp, std::optional<int64_t> number, bool key,
                       bool allow_left_out);
    // A rate for a video stream that names none, from the frames it held:
    // once they span a second, or with `force` from what there is.
    void MeasureRate(MuxInputPin& pin, bool force);
    // Writes the header once every video stream has its rate and its first
    // frame (or with `force` now), then what waited for it.
    void WriteHeaderWhenReady(bool force);
    // A packet of `stream`, written now or kept until the header is out.
    HRESULT WritePacket(int stream, const uint8_t* data, size_t length, int64_t pts,
                        int64_t duration, bool key);
    HRESULT WriteSilence(MuxInputPin::Stream& s, int64_t position, int64_t frames);
    void Publish(MuxInputPin& pin) { pin.PublishCounts(m_timeline.Counts(pin.stream.line)); }
    void Finish();
    HRESULT IoFailure(int averror) const {
        if (FAILED(m_io_error))
            return m_io_error;
        return averror == AVERROR(ENOMEM) ? E_OUTOFMEMORY : E_FAIL;
    }

    static int WritePacket(void* opaque,
#if LIBAVFORMAT_VERSION_MAJOR >= 61
                           const uint8_t* buf,
#else
                           uint8_t* buf,
#endif
                           int size);
    static int64_t SeekPacket(void* opaque, int64_t offset, int whence);

    AviOutputPin* m_out = nullptr;
    int m_inputs = 0;  // Control thread only.

    // Held while the file is opened, written or finished: by Receive on
    // streaming threads and by state changes on the control thread. Held
    // across calls into the writer, which may wait for room in its queue;
    // the writer's stop ends that wait.
    std::mutex m_file_lock;
    // Guarded by m_file_lock (and each input's `stream`).
    AVFormatContext* m_ctx = nullptr;
    AVPacket* m_packet = nullptr;
    ComPtr<IStream> m_stream;
    HRESULT m_io_error = S_OK;
    HRESULT m_error = S_OK;  // The file failed; Receive reports it.
    CaptureTimeline m_timeline;
    bool m_pending = false;  // The header is not written yet.
    bool m_header_written = false;
    std::vector<PendingPacket> m_pending_packets;
    size_t m_held_bytes = 0;
    std::optional<REFERENCE_TIME> m_first_stamp, m_last_stamp;  // Of any stream, while pending.
};

int AviMux::WritePacket(void* opaque,
#if LIBAVFORMAT_VERSION_MAJOR >= 61
                        const uint8_t* buf,
#else
                        uint8_t* buf,
#endif
                        int size) {
    auto* self = static_cast<AviMux*>(opaque);
    ULONG written = 0;
    const HRESULT hr = self->m_stream->Write(buf, static_cast<ULONG>(size), &written);
    if (FAILED(hr)) {
        self->m_io_error = hr;
        return AVERROR(EIO);
    }
    return size;
}

int64_t AviMux::SeekPacket(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<AviMux*>(opaque);
    if (whence & AVSEEK_SIZE) {
        STATSTG stat;
        if (FAILED(self->m_stream->Stat(&stat, STATFLAG_NONAME)))
            return AVERROR(ENOSYS);
        return static_cast<int64_t>(stat.cbSize);
    }
    DWORD origin = STREAM_SEEK_SET;
    switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET:
            origin = STREAM_SEEK_SET;
            break;
        case SEEK_CUR:
            origin = STREAM_SEEK_CUR;
            break;
        case SEEK_END:
            origin = STREAM_SEEK_END;
            break;
        default:
            return AVERROR(EINVAL);
    }
    uint64_t position = 0;
    const HRESULT hr = self->m_stream->Seek(offset, origin, &position);
    if (FAILED(hr)) {
        self->m_io_error = hr;
        return AVERROR(EIO);
    }
    return static_cast<int64_t>(position);
}

HRESULT AviMux::Open() {
    m_io_error = S_OK;
    m_error = S_OK;
    m_timeline = CaptureTimeline();
    m_pending = false;
    m_pending_packets.clear();
    m_held_bytes = 0;
    m_first_stamp.reset();
    m_last_stamp.reset();
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
    if (FAILED(peer->QueryInterface(IStream::iid, m_stream.OutVoid())))
        return VFW_E_NO_TRANSPORT;

    if (avformat_alloc_output_context2(&m_ctx, nullptr, "avi", nullptr) < 0 || !m_ctx)
        return E_OUTOFMEMORY;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
    if (!buffer)
        return E_OUTOFMEMORY;
    m_ctx->pb =
        avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr, WritePacket, SeekPacket);
    if (!m_ctx->pb) {
        av_free(buffer);
        return E_OUTOFMEMORY;
    }
    // Seekable output: the header is patched at the end and OpenDML
    // indexes are reserved up front.
    m_ctx->pb->seekable = AVIO_SEEKABLE_NORMAL;
    m_ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
    m_ctx->flush_packets = 0;
    m_ctx->max_interleave_delta = kMaxInterleaveDelay_us;
    m_packet = av_packet_alloc();
    if (!m_packet)
        return E_OUTOFMEMORY;

    for (MuxInputPin* in : Inputs()) {
        if (!in->IsConnected())
            continue;
        const HRESULT hr = AddStream(*in);
        if (FAILED(hr))
            return hr;
    }
    m_pending = true;
    return S_OK;
}

HRESULT AviMux::AddStream(MuxInputPin& pin) {
    const MediaType mt = pin.ConnectionType();
    AVStream* st = avformat_new_stream(m_ctx, nullptr);
    if (!st)
        return E_OUTOFMEMORY;
    AVCodecParameters* par = st->codecpar;
    MuxInputPin::Stream& s = pin.stream;
    s.index = st->index;
    if (const VIDEOINFOHEADER* vih = VideoInfoOf(mt.Get())) {
        uint32_t tag = 0;
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = VideoCodec(mt.Get(), *vih, &tag);
        par->codec_tag = tag;
        par->width = vih->bmiHeader.biWidth;
        par->height = std::abs(vih->bmiHeader.biHeight);
        par->bits_per_coded_sample = vih->bmiHeader.biBitCount;
        if (par->codec_id == AV_CODEC_ID_RAWVIDEO)
            par->format = vih->bmiHeader.biBitCount == 32   ? AV_PIX_FMT_BGRA
                          : vih->bmiHeader.biBitCount == 24 ? AV_PIX_FMT_BGR24
                                                            : AV_PIX_FMT_RGB555LE;
        s.video = true;
        if (vih->AvgTimePerFrame > 0)
            s.rate = RateOfPeriod(vih->AvgTimePerFrame);
        const Rate r = s.rate.value_or(Rate{});
        s.line = m_timeline.AddVideo(r.num, r.den);
        return S_OK;
    }
    const WAVEFORMATEX* wfx = WaveFormatOf(mt.Get());
    if (!wfx)
        return VFW_E_TYPE_NOT_ACCEPTED;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = PcmCodec(wfx->wBitsPerSample);
    par->codec_tag = WAVE_FORMAT_PCM;
    par->sample_rate = static_cast<int>(wfx->nSamplesPerSec);
    av_channel_layout_default(&par->ch_layout, wfx->nChannels);
    par->bits_per_coded_sample = wfx->wBitsPerSample;
    par->block_align = wfx->nBlockAlign;
    par->bit_rate = int64_t(wfx->nSamplesPerSec) * wfx->nBlockAlign * 8;
    s.video = false;
    s.block_align = wfx->nBlockAlign;
    s.silence = wfx->wBitsPerSample == 8 ? 0x80 : 0;  // 8-bit PCM is unsigned.
    st->time_base = {1, static_cast<int>(wfx->nSamplesPerSec)};
    s.line = m_timeline.AddAudio(wfx->nSamplesPerSec);
    return S_OK;
}

HRESULT AviMux::OnReceive(BaseInputPin& pin, IMediaSample* sample) {
    std::lock_guard guard(m_file_lock);
    auto& in = static_cast<MuxInputPin&>(pin);
    if (!m_ctx || in.stream.index < 0)
        return S_OK;  // Not part of a file: nothing to write.
    if (FAILED(m_error))
        return m_error;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const LONG length = sample->GetActualDataLength();
    if (!data || length <= 0)
        return S_OK;
    if (m_pending) {
        REFERENCE_TIME start = 0, stop = 0;
        if (SUCCEEDED(sample->GetTime(&start, &stop))) {
            m_first_stamp = std::min(m_first_stamp.value_or(start), start);
            m_last_stamp = std::max(m_last_stamp.value_or(start), start);
        }
    }
    HRESULT hr = in.stream.video ? ReceiveVideo(in, sample, data, length)
                                 : ReceiveAudio(in, sample, data, length);
    if (SUCCEEDED(hr) && m_pending)
        WriteHeaderWhenReady(false);
    if (SUCCEEDED(hr) && FAILED(m_error))
        hr = m_error;
    return hr;
}

HRESULT AviMux::ReceiveVideo(MuxInputPin& pin, IMediaSample* sample, const BYTE* data,
                             LONG length) {
    MuxInputPin::Stream& s = pin.stream;
    if (!s.first_seen) {
        s.first_seen = true;
        // A source may bring the rate its device really runs at on its
        // first frame; the header has not been written yet.
        AM_MEDIA_TYPE* type = nullptr;
        if (sample->GetMediaType(&type) == S_OK && type) {
            if (const VIDEOINFOHEADER* vih = VideoInfoOf(*type);
                vih && vih->AvgTimePerFrame > 0 && m_pending) {
                s.rate = RateOfPeriod(vih->AvgTimePerFrame);
                m_timeline.SetVideoRate(s.line, s.rate->num, s.rate->den);
            }
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

HRESULT AviMux::PlaceFrame(MuxInputPin& pin, const uint8_t* data, size_t length,
                           std::optional<REFERENCE_TIME> stamp, std::optional<int64_t> number,
                           bool key, bool allow_left_out) {
    MuxInputPin::Stream& s = pin.stream;
    const CaptureTimeline::VideoPlace place =
        m_timeline.PlaceVideo(s.line, stamp, number, allow_left_out);
    Publish(pin);
    if (place.left_out)
        return S_SAMPLE_LEFT_OUT;
    const AVCodecID codec = m_ctx->streams[s.index]->codecpar->codec_id;
    key = key || codec == AV_CODEC_ID_MJPEG || codec == AV_CODEC_ID_RAWVIDEO;
    if (!s.placed && place.place > 0) {
        // Empty places before a late first frame: the writer fills the
        // places between two packets, so one empty packet opens the stream.
        const HRESULT hr = WritePacket(s.index, nullptr, 0, 0, 1, true);
        if (FAILED(hr))
            return hr;
    }
    s.placed = true;
    return WritePacket(s.index, data, length, place.place, 1, key);
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
        const HRESULT hr = WriteSilence(s, place.position - place.silence, place.silence);
        if (FAILED(hr))
            return hr;
    }
    const int64_t written = frames - place.skip;
    if (written <= 0)
        return S_OK;
    return WritePacket(s.index, data + place.skip * s.block_align, size_t(written * s.block_align),
                       place.position, written, true);
}

HRESULT AviMux::WriteSilence(MuxInputPin::Stream& s, int64_t position, int64_t frames) {
    const int64_t rate = m_ctx->streams[s.index]->codecpar->sample_rate;
    // In packets of at most a second, so a long gap needs no large buffer.
    const int64_t chunk = std::min<int64_t>(frames, std::max<int64_t>(rate, 1));
    const std::vector<uint8_t> zeros(size_t(chunk * s.block_align), s.silence);
    for (int64_t done = 0; done < frames; done += chunk) {
        const int64_t n = std::min(chunk, frames - done);
        const HRESULT hr =
            WritePacket(s.index, zeros.data(), size_t(n * s.block_align), position + done, n, true);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT AviMux::WritePacket(int stream, const uint8_t* data, size_t length, int64_t pts,
                            int64_t duration, bool key) {
    if (m_pending) {
        m_pending_packets.push_back(
            {stream, pts, duration, key,
             data ? std::vector<uint8_t>(data, data + length) : std::vector<uint8_t>()});
        m_held_bytes += length;
        return S_OK;
    }
    // The packet does not own the buffer; libavformat copies what it keeps
    // for interleaving. Times are in the stream's own units (frames, audio
    // sample frames), which are its time base.
    m_packet->data = const_cast<uint8_t*>(data);
    m_packet->size = static_cast<int>(length);
    m_packet->stream_index = stream;
    m_packet->pts = m_packet->dts = pts;
    m_packet->duration = duration;
    m_packet->flags = key ? AV_PKT_FLAG_KEY : 0;
    int ret = av_interleaved_write_frame(m_ctx, m_packet);
    av_packet_unref(m_packet);
    if (ret >= 0 && m_ctx->pb->error < 0)
        ret = m_ctx->pb->error;  // A write that failed inside the I/O context.
    if (ret < 0) {
        m_error = IoFailure(ret);
        return m_error;
    }
    return S_OK;
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
    s.rate = rate;
    m_timeline.SetVideoRate(s.line, rate.num, rate.den);
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

void AviMux::WriteHeaderWhenReady(bool force) {
    if (!m_pending)
        return;
    const bool waited_enough =
        force || m_held_bytes > kMaxHeldBytes ||
        (m_first_stamp && m_last_stamp && *m_last_stamp - *m_first_stamp > kMaxHeaderWait);
    for (MuxInputPin* in : Inputs()) {
        MuxInputPin::Stream& s = in->stream;
        if (s.index < 0 || !s.video)
            continue;
        if (waited_enough) {
            MeasureRate(*in, true);
        } else if (!s.ended && (!s.rate || !s.first_seen)) {
            return;  // Waits for this stream's first frame or its rate.
        }
    }
    // Every video stream's rate is known: the file's time bases.
    for (MuxInputPin* in : Inputs()) {
        MuxInputPin::Stream& s = in->stream;
        if (s.index < 0 || !s.video)
            continue;
        const Rate r = s.rate.value_or(Rate{});
        AVStream* st = m_ctx->streams[s.index];
        st->time_base = {int(r.den), int(r.num)};
        st->avg_frame_rate = {int(r.num), int(r.den)};
        st->r_frame_rate = st->avg_frame_rate;
    }
    m_pending = false;
    const int ret = avformat_write_header(m_ctx, nullptr);
    if (ret < 0) {
        m_error = IoFailure(ret);
        m_pending_packets.clear();
        return;
    }
    m_header_written = true;
    std::vector<PendingPacket> packets = std::move(m_pending_packets);
    m_pending_packets.clear();
    m_held_bytes = 0;
    for (const PendingPacket& p : packets)
        if (FAILED(WritePacket(p.stream, p.data.empty() ? nullptr : p.data.data(), p.data.size(),
                               p.pts, p.duration, p.key)))
            break;
}

void AviMux::Finish() {
    if (m_ctx) {
        if (m_pending && SUCCEEDED(m_error))
            WriteHeaderWhenReady(true);
        if (m_header_written && SUCCEEDED(m_error))
            av_write_trailer(m_ctx);  // Index and header sizes.
        m_header_written = false;
        m_pending = false;
        m_pending_packets.clear();
        if (m_ctx->pb) {
            avio_flush(m_ctx->pb);
            av_freep(&m_ctx->pb->buffer);
            avio_context_free(&m_ctx->pb);
        }
        avformat_free_context(m_ctx);
        m_ctx = nullptr;
    }
    av_packet_free(&m_packet);
    for (MuxInputPin* in : Inputs()) {
        in->stream.index = -1;
        in->stream.held.clear();
    }
    if (ComPtr<IStream> stream = std::move(m_stream))
        stream->Commit(0);
}

}  // namespace

ClassEntry AviMuxClassEntry() {
    ClassEntry entry;
    entry.clsid = CLSID_AviDest;
    entry.friendly_name = "AVI Mux";
    entry.create = [](REFIID riid, void** out) {
        auto filter = MakeCom<AviMux>();
        return static_cast<IBaseFilter*>(filter.Get())->QueryInterface(riid, out);
    };
    entry.merit = MERIT_DO_NOT_USE;
    entry.categories = {CLSID_LegacyAmFilterCategory};
    return entry;
}

}  // namespace ronvix::media
