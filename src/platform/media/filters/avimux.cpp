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

#include <climits>
#include <cmath>
#include <mutex>
#include <string>

#include "platform/com/object.h"
#include "platform/com/objidl.h"
#include "platform/media/filter.h"

namespace ronvix::media {

using namespace com;

namespace {

// libavformat's writes reach the writer in runs of this size (and at every
// seek), so each block the writer queues is large.
constexpr int kIoBufferBytes = 1 << 20;
constexpr REFERENCE_TIME kDefaultTimePerFrame = 400000;  // 25 fps.
constexpr REFERENCE_TIME kUnitsPerSecond = 10'000'000;
// How far one stream may run ahead of another before libavformat writes
// what it holds without waiting for the other (a stream that stalls).
constexpr int64_t kMaxInterleaveDelay_us = 2'000'000;

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

class MuxInputPin final : public BaseInputPin {
public:
    MuxInputPin(BaseFilter& filter, std::u16string name) : BaseInputPin(filter, std::move(name)) {}

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
        int index = -1;  // -1: not in the current file.
        bool video = false;
        AVRational time_base{1, 1};  // Of `next`, before libavformat's own.
        REFERENCE_TIME time_per_frame = kDefaultTimePerFrame;
        int block_align = 1;
        bool started = false;
        int64_t first = 0;  // Video: the frame place of the first frame.
        int64_t next = 0;   // Video: the next free place; audio: samples so far.
        bool ended = false;
        REFERENCE_TIME first_time = 0;  // Audio: the start time of its first sample.
        int64_t shift_seen = 0;         // Video: the sync shift at its last frame.
    } stream;
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
    // Audio is written back to back, so the file's audio runs on the sound
    // card's clock. When a live source re-anchors its stamps to the graph's
    // clock (a sample marked as a discontinuity), the video follows the
    // audio in whole frames: one place is left empty (the frame before shows
    // twice) when the audio got a frame ahead, one frame is left out when it
    // fell a frame behind. Stamps without such a mark are not acted on.
    void TrackAudioDrift(MuxInputPin::Stream& s, IMediaSample* sample);
    // True when this video frame is the one left out to follow the audio.
    bool FollowAudio(MuxInputPin::Stream& s);
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
    // Guarded by m_file_lock: the audio stream the video follows (-1: none
    // yet) and the video's shift from its own stamps, in whole frames.
    int m_sync_audio = -1;
    int64_t m_video_shift = 0;
    bool m_header_written = false;
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
    for (MuxInputPin* in : Inputs())
        in->stream = MuxInputPin::Stream{};
    m_sync_audio = -1;
    m_video_shift = 0;
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
    const int ret = avformat_write_header(m_ctx, nullptr);
    if (ret < 0)
        return IoFailure(ret);
    m_header_written = true;
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
        s.time_per_frame = vih->AvgTimePerFrame > 0 ? vih->AvgTimePerFrame : kDefaultTimePerFrame;
        int num = 1, den = 1;
        av_reduce(&num, &den, s.time_per_frame, kUnitsPerSecond, INT_MAX);
        s.time_base = {num, den};
        st->time_base = s.time_base;
        st->avg_frame_rate = {den, num};
        st->r_frame_rate = st->avg_frame_rate;
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
    s.time_base = {1, static_cast<int>(wfx->nSamplesPerSec)};
    st->time_base = s.time_base;
    return S_OK;
}

HRESULT AviMux::OnReceive(BaseInputPin& pin, IMediaSample* sample) {
    std::lock_guard guard(m_file_lock);
    MuxInputPin::Stream& s = static_cast<MuxInputPin&>(pin).stream;
    if (!m_ctx || s.index < 0)
        return S_OK;  // Not part of a file: nothing to write.
    if (FAILED(m_error))
        return m_error;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const LONG length = sample->GetActualDataLength();
    if (!data || length <= 0)
        return S_OK;

    int64_t pts = 0, duration = 1;
    if (s.video) {
        REFERENCE_TIME start = 0, stop = 0;
        const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
        // The frame's place in whole frames: a frame that a source dropped
        // leaves its place empty, so the file keeps real time.
        const int64_t place =
            timed ? static_cast<int64_t>(std::llround(double(start) / double(s.time_per_frame)))
                  : s.next;
        if (!s.started) {
            s.first = timed ? place : 0;
            s.started = true;
            s.shift_seen = m_video_shift;
        }
        if (FollowAudio(s))
            return S_OK;
        pts = std::max(place + m_video_shift - (timed ? s.first : 0), s.next);
        s.next = pts + 1;
    } else {
        const int64_t samples = length / s.block_align;
        if (samples <= 0)
            return S_OK;
        TrackAudioDrift(s, sample);
        pts = s.next;
        duration = samples;
        s.next += samples;
    }
    AVStream* st = m_ctx->streams[s.index];
    m_packet->data = data;
    m_packet->size = static_cast<int>(s.video ? length : (length / s.block_align) * s.block_align);
    m_packet->stream_index = s.index;
    m_packet->pts = m_packet->dts = av_rescale_q(pts, s.time_base, st->time_base);
    m_packet->duration = av_rescale_q(duration, s.time_base, st->time_base);
    const bool key = !s.video || st->codecpar->codec_id == AV_CODEC_ID_MJPEG ||
                     st->codecpar->codec_id == AV_CODEC_ID_RAWVIDEO ||
                     sample->IsSyncPoint() == S_OK;
    m_packet->flags = key ? AV_PKT_FLAG_KEY : 0;
    // The packet does not own the sample's buffer; libavformat copies what
    // it keeps for interleaving.
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

void AviMux::TrackAudioDrift(MuxInputPin::Stream& s, IMediaSample* sample) {
    REFERENCE_TIME start = 0, stop = 0;
    if (FAILED(sample->GetTime(&start, &stop)))
        return;
    if (m_sync_audio < 0)
        m_sync_audio = s.index;
    if (s.index != m_sync_audio)
        return;  // The video follows one audio stream.
    if (s.next == 0) {
        s.first_time = start;
        return;
    }
    if (sample->IsDiscontinuity() != S_OK)
        return;
    // How far the audio written so far runs ahead of the graph's clock.
    const REFERENCE_TIME written = s.next * 10'000'000 / std::max(1, s.time_base.den);
    const REFERENCE_TIME drift = written - (start - s.first_time);
    REFERENCE_TIME frame = kDefaultTimePerFrame;
    for (MuxInputPin* in : Inputs())
        if (in->stream.index >= 0 && in->stream.video) {
            frame = std::max<REFERENCE_TIME>(1, in->stream.time_per_frame);
            break;
        }
    while (drift - m_video_shift * frame >= frame)
        ++m_video_shift;
    while (drift - m_video_shift * frame <= -frame)
        --m_video_shift;
}

bool AviMux::FollowAudio(MuxInputPin::Stream& s) {
    if (s.shift_seen > m_video_shift) {
        --s.shift_seen;  // The audio fell behind: this frame is left out.
        return true;
    }
    s.shift_seen = m_video_shift;
    return false;
}

void AviMux::Finish() {
    if (m_ctx) {
        if (m_header_written && SUCCEEDED(m_error))
            av_write_trailer(m_ctx);  // Index and header sizes.
        m_header_written = false;
        if (m_ctx->pb) {
            avio_flush(m_ctx->pb);
            av_freep(&m_ctx->pb->buffer);
            avio_context_free(&m_ctx->pb);
        }
        avformat_free_context(m_ctx);
        m_ctx = nullptr;
    }
    av_packet_free(&m_packet);
    for (MuxInputPin* in : Inputs())
        in->stream.index = -1;
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
