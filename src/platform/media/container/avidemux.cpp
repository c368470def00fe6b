// libavformat's AVI reader behind a custom I/O context. See avidemux.h.

#include "platform/media/container/avidemux.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace ronvix::media {

using namespace com;

namespace {

constexpr int kIoBufferBytes = 64 * 1024;
constexpr AVRational kUnits100ns{1, 10'000'000};
// The RIFF header, the list header and "hdrl": anything shorter cannot be AVI.
constexpr int64_t kMinimumFileBytes = 24;
// The most of a video stream's configuration record its type carries.
constexpr int kMaxRecordBytes = 1 << 20;

REFERENCE_TIME ToUnits(int64_t value, AVRational time_base) {
    if (value == AV_NOPTS_VALUE || time_base.num <= 0 || time_base.den <= 0)
        return 0;
    return av_rescale_q(value, time_base, kUnits100ns);
}

// Whether the stream's picture is larger than the engine takes. A picture
// with no size at all is not "too large": it has an empty type instead.
bool PictureTooLarge(const AVCodecParameters& par) {
    return par.width > kMaxPictureSide || std::abs(int64_t(par.height)) > kMaxPictureSide;
}

bool IsRgb(const AVCodecParameters& par) {
    return par.codec_id == AV_CODEC_ID_RAWVIDEO && (par.codec_tag == 0 || par.codec_tag == 3);
}

// One uncompressed RGB frame: rows padded to four bytes. 0 when the bit
// depth is not one we describe.
int64_t RgbFrameBytes(const AVCodecParameters& par) {
    const int bits = par.bits_per_coded_sample;
    if (bits != 24 && bits != 32)
        return 0;
    return ((int64_t(par.width) * bits / 8 + 3) & ~int64_t(3)) * std::abs(int64_t(par.height));
}

// What the headers say one packet of the stream takes: a frame of video
// (three bytes a pixel for a compressed one, a generous bound for JPEG), a
// quarter second of audio.
int64_t HeaderPacketEstimate(const AVCodecParameters& par, const MediaType& type) {
    if (const WAVEFORMATEX* wfx = type.WaveFormat())
        return std::max<int64_t>(wfx->nBlockAlign, wfx->nAvgBytesPerSec / 4);
    if (IsRgb(par))
        return RgbFrameBytes(par);
    return int64_t(par.width) * std::abs(int64_t(par.height)) * 3;
}

// The largest packet a stream delivers: what its index lists when it has
// one, else what its headers estimate, and never more than the file holds
// (a packet lies inside the file).
int64_t PacketBound(int64_t indexed, int64_t estimate, int64_t file_bytes) {
    const int64_t size = std::min(indexed > 0 ? indexed : estimate, file_bytes);
    return std::clamp(size, kMinPacketBytes, kMaxPacketBytes);
}

// The stream's video type; `packet_bytes` becomes the biSizeImage of a
// compressed picture (the largest frame the stream delivers).
MediaType VideoType(const AVStream& st, REFERENCE_TIME time_per_frame, int64_t packet_bytes) {
    const AVCodecParameters& par = *st.codecpar;
    if (par.width <= 0 || par.height <= 0 || PictureTooLarge(par))
        return {};
    VIDEOINFOHEADER vih{};
    vih.bmiHeader.biWidth = par.width;
    vih.bmiHeader.biHeight = par.height;
    vih.AvgTimePerFrame = time_per_frame;
    GUID subtype;
    if (IsRgb(par)) {
        const int64_t frame = RgbFrameBytes(par);
        if (frame <= 0)
            return {};
        const int bits = par.bits_per_coded_sample;
        subtype = bits == 24 ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_RGB32;
        vih.bmiHeader.biBitCount = static_cast<WORD>(bits);
        vih.bmiHeader.biSizeImage = static_cast<DWORD>(frame);  // At most 256 MiB.
    } else {
        if (par.codec_tag == 0)
            return {};
        subtype = SubtypeFromFourcc(par.codec_tag);
        vih.bmiHeader.biCompression = par.codec_tag;
        vih.bmiHeader.biBitCount =
            static_cast<WORD>(par.bits_per_coded_sample > 0 && par.bits_per_coded_sample <= 0xFFFF
                                  ? par.bits_per_coded_sample
                                  : 24);
        vih.bmiHeader.biSizeImage = static_cast<DWORD>(packet_bytes);
    }
    vih.rcSource = {0, 0, par.width, par.height};
    vih.rcTarget = vih.rcSource;
    MediaType mt;
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = subtype;
    mt->formattype = FORMAT_VideoInfo;
    mt->bFixedSizeSamples = vih.bmiHeader.biCompression == 0;
    mt->bTemporalCompression = 0;
    mt->lSampleSize = mt->bFixedSizeSamples ? vih.bmiHeader.biSizeImage : 0;
    // A compressed stream's configuration record (the bytes of its format
    // after the bitmap header: FFV1's, for one) follows the header, which
    // counts it, as in the file.
    if (vih.bmiHeader.biCompression != 0 && par.extradata && par.extradata_size > 0 &&
        par.extradata_size <= kMaxRecordBytes) {
        vih.bmiHeader.biSize = static_cast<DWORD>(sizeof(BITMAPINFOHEADER) + par.extradata_size);
        std::vector<uint8_t> block(sizeof vih + size_t(par.extradata_size));
        std::memcpy(block.data(), &vih, sizeof vih);
        std::memcpy(block.data() + sizeof vih, par.extradata, size_t(par.extradata_size));
        mt.SetFormat(block.data(), block.size());
        return mt;
    }
    mt.SetFormat(&vih, sizeof(vih));
    return mt;
}

MediaType AudioType(const AVStream& st) {
    const AVCodecParameters& par = *st.codecpar;
    const int channels = par.ch_layout.nb_channels;
    if (par.codec_tag == 0 || par.codec_tag > 0xFFFF || channels < 1 || channels > 64 ||
        par.sample_rate <= 0 || par.block_align < 0 || par.block_align > 0xFFFF)
        return {};
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = static_cast<WORD>(par.codec_tag);
    wfx.nChannels = static_cast<WORD>(channels);
    wfx.nSamplesPerSec = static_cast<DWORD>(par.sample_rate);
    wfx.wBitsPerSample = static_cast<WORD>(std::clamp(par.bits_per_coded_sample, 0, 0xFFFF));
    wfx.nBlockAlign = static_cast<WORD>(par.block_align);
    wfx.nAvgBytesPerSec = static_cast<DWORD>(std::clamp<int64_t>(par.bit_rate / 8, 0, UINT32_MAX));
    if (wfx.wFormatTag == WAVE_FORMAT_PCM) {
        const int64_t per_second = int64_t(wfx.nSamplesPerSec) * wfx.nBlockAlign;
        if (wfx.wBitsPerSample == 0 || wfx.nBlockAlign == 0 || per_second > int64_t(UINT32_MAX))
            return {};
        wfx.nAvgBytesPerSec = static_cast<DWORD>(per_second);
    }
    const int extra = par.extradata && par.extradata_size > 0
                          ? std::min(par.extradata_size, 0xFFFF - int(sizeof(wfx)))
                          : 0;
    wfx.cbSize = static_cast<WORD>(extra);
    std::vector<BYTE> format(sizeof(wfx) + size_t(extra));
    std::memcpy(format.data(), &wfx, sizeof(wfx));
    if (extra)
        std::memcpy(format.data() + sizeof(wfx), par.extradata, size_t(extra));
    MediaType mt;
    mt->majortype = MEDIATYPE_Audio;
    mt->subtype =
        wfx.wFormatTag == WAVE_FORMAT_PCM ? MEDIASUBTYPE_PCM : SubtypeFromFourcc(wfx.wFormatTag);
    mt->formattype = FORMAT_WaveFormatEx;
    mt->bFixedSizeSamples = wfx.wFormatTag == WAVE_FORMAT_PCM;
    mt->lSampleSize = wfx.nBlockAlign;
    mt.SetFormat(format.data(), format.size());
    return mt;
}

}  // namespace

// The I/O context and its position; libavformat calls back into it on the
// thread that calls Open, Next or Seek.
struct AviDemuxer::Io {
    ByteReader reader;
    int64_t position = 0;
    AVIOContext* avio = nullptr;

    ~Io() {
        if (avio) {
            av_freep(&avio->buffer);
            avio_context_free(&avio);
        }
    }

    static int Read(void* opaque, uint8_t* buffer, int size) {
        auto* io = static_cast<Io*>(opaque);
        const int64_t left = io->reader.length - io->position;
        if (left <= 0 || size <= 0)
            return AVERROR_EOF;
        const int64_t want = std::min<int64_t>(size, left);
        const int64_t got = io->reader.read(io->position, buffer, want);
        if (got < 0)
            return AVERROR(EIO);
        if (got == 0)
            return AVERROR_EOF;
        io->position += got;
        return static_cast<int>(got);
    }

    static int64_t Seek(void* opaque, int64_t offset, int whence) {
        auto* io = static_cast<Io*>(opaque);
        int64_t target = 0;
        switch (whence & ~AVSEEK_FORCE) {
            case AVSEEK_SIZE:
                return io->reader.length;
            case SEEK_SET:
                target = offset;
                break;
            case SEEK_CUR:
                target = io->position + offset;
                break;
            case SEEK_END:
                target = io->reader.length + offset;
                break;
            default:
                return AVERROR(EINVAL);
        }
        if (target < 0)
            return AVERROR(EINVAL);
        // Past the end is allowed (reads there report the end).
        io->position = target;
        return target;
    }
};

AviDemuxer::~AviDemuxer() {
    av_packet_free(&m_packet);
    if (m_ctx)
        avformat_close_input(&m_ctx);
}

HRESULT AviDemuxer::Open(ByteReader reader, std::unique_ptr<AviDemuxer>* out) {
    if (!out || !reader.read)
        return E_POINTER;
    out->reset();
    if (reader.length < kMinimumFileBytes)
        return VFW_E_FILE_TOO_SHORT;
    uint8_t magic[12] = {};
    if (reader.read(0, magic, sizeof(magic)) != int64_t(sizeof(magic)))
        return VFW_E_FILE_TOO_SHORT;
    if (std::memcmp(magic, "RIFF", 4) != 0 ||
        (std::memcmp(magic + 8, "AVI ", 4) != 0 && std::memcmp(magic + 8, "AVIX", 4) != 0))
        return VFW_E_INVALID_FILE_FORMAT;

    std::unique_ptr<AviDemuxer> demux(new AviDemuxer());
    demux->m_io = std::make_unique<Io>();
    demux->m_io->reader = std::move(reader);
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
    if (!buffer)
        return E_OUTOFMEMORY;
    demux->m_io->avio = avio_alloc_context(buffer, kIoBufferBytes, 0, demux->m_io.get(), &Io::Read,
                                           nullptr, &Io::Seek);
    if (!demux->m_io->avio) {
        av_free(buffer);
        return E_OUTOFMEMORY;
    }
    demux->m_ctx = avformat_alloc_context();
    demux->m_packet = av_packet_alloc();
    if (!demux->m_ctx || !demux->m_packet)
        return E_OUTOFMEMORY;
    demux->m_ctx->pb = demux->m_io->avio;
    demux->m_ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Nothing is printed: failures are results.
    av_log_set_level(AV_LOG_QUIET);
    const AVInputFormat* avi = av_find_input_format("avi");
    if (!avi)
        return E_FAIL;
    if (avformat_open_input(&demux->m_ctx, nullptr, avi, nullptr) < 0) {
        demux->m_ctx = nullptr;  // Freed by the failed open.
        return VFW_E_INVALID_FILE_FORMAT;
    }

    const int64_t file_bytes = demux->m_io->reader.length;
    bool any = false;
    for (unsigned i = 0; i < demux->m_ctx->nb_streams; ++i) {
        AVStream* st = demux->m_ctx->streams[i];
        const AVCodecParameters& par = *st->codecpar;
        DemuxStream s;
        s.duration = ToUnits(st->duration, st->time_base);
        int64_t indexed = 0;
        const int entries = avformat_index_get_entries_count(st);
        for (int e = 0; e < entries; ++e) {
            if (const AVIndexEntry* entry = avformat_index_get_entry(st, e))
                indexed = std::max<int64_t>(indexed, entry->size);
        }
        if (par.codec_type == AVMEDIA_TYPE_VIDEO) {
            // A picture larger than the engine takes refuses the file as a
            // whole: playing its other streams alone would hide the refusal.
            if (PictureTooLarge(par))
                return VFW_E_UNSUPPORTED_VIDEO;
            AVRational rate = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0
                                  ? st->avg_frame_rate
                                  : st->r_frame_rate;
            if (rate.num > 0 && rate.den > 0)
                s.time_per_frame = av_rescale(10'000'000, rate.den, rate.num);
            s.max_packet_bytes =
                PacketBound(indexed, HeaderPacketEstimate(par, MediaType()), file_bytes);
            s.type = VideoType(*st, s.time_per_frame, s.max_packet_bytes);
        } else if (par.codec_type == AVMEDIA_TYPE_AUDIO) {
            s.type = AudioType(*st);
            s.max_packet_bytes =
                PacketBound(indexed, HeaderPacketEstimate(par, s.type), file_bytes);
        } else {
            s.max_packet_bytes = PacketBound(indexed, 0, file_bytes);  // Its packets are skipped.
        }
        any = any || s.type->majortype != GUID_NULL;
        demux->m_duration = std::max(demux->m_duration, s.duration);
        demux->m_streams.push_back(std::move(s));
    }
    if (!any)
        return VFW_E_INVALID_FILE_FORMAT;
    if (demux->m_duration <= 0 && demux->m_ctx->duration > 0)
        demux->m_duration = ToUnits(demux->m_ctx->duration, AVRational{1, AV_TIME_BASE});
    demux->m_next_start.assign(demux->m_streams.size(), 0);
    *out = std::move(demux);
    return S_OK;
}

DemuxPacket::DemuxPacket() : holder(av_packet_alloc()) {}

DemuxPacket::~DemuxPacket() {
    av_packet_free(&holder);
}

HRESULT AviDemuxer::Next(DemuxPacket* packet) {
    if (!packet)
        return E_POINTER;
    if (!packet->holder)
        return E_OUTOFMEMORY;
    for (;;) {
        av_packet_unref(m_packet);
        const int err = av_read_frame(m_ctx, m_packet);
        if (err < 0)
            return S_FALSE;  // The end, or where reading stopped.
        const int index = m_packet->stream_index;
        if (index < 0 || size_t(index) >= m_streams.size() ||
            m_streams[size_t(index)].type->majortype == GUID_NULL)
            continue;
        const AVStream& st = *m_ctx->streams[index];
        REFERENCE_TIME start = m_next_start[size_t(index)];
        const int64_t pts = m_packet->pts != AV_NOPTS_VALUE ? m_packet->pts : m_packet->dts;
        if (pts != AV_NOPTS_VALUE)
            start = ToUnits(pts, st.time_base);
        REFERENCE_TIME duration = ToUnits(m_packet->duration, st.time_base);
        const DemuxStream& s = m_streams[size_t(index)];
        if (duration <= 0) {
            if (const WAVEFORMATEX* wfx = s.type.WaveFormat(); wfx && wfx->nAvgBytesPerSec > 0)
                duration = av_rescale(m_packet->size, 10'000'000, wfx->nAvgBytesPerSec);
            else
                duration = s.time_per_frame;
        }
        packet->stream = index;
        packet->sync = (m_packet->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_unref(packet->holder);
        av_packet_move_ref(packet->holder, m_packet);
        packet->data = {packet->holder->data, size_t(std::max(packet->holder->size, 0))};
        packet->start = start;
        packet->stop = start + std::max<REFERENCE_TIME>(duration, 0);
        m_next_start[size_t(index)] = packet->stop;
        return S_OK;
    }
}

HRESULT AviDemuxer::Seek(REFERENCE_TIME position) {
    position = std::max<REFERENCE_TIME>(position, 0);
    // In the time base of the stream that leads seeking, rounded down, so
    // the frame at or before the position is found (a position between two
    // frames never rounds up to the later one).
    const int index = av_find_default_stream_index(m_ctx);
    int64_t target = av_rescale_rnd(position, AV_TIME_BASE, 10'000'000, AV_ROUND_DOWN);
    if (index >= 0) {
        const AVRational tb = m_ctx->streams[index]->time_base;
        if (tb.num > 0 && tb.den > 0)
            target = av_rescale_rnd(position, tb.den, int64_t(tb.num) * 10'000'000, AV_ROUND_DOWN);
    }
    const int stream = index >= 0 ? index : -1;
    if (av_seek_frame(m_ctx, stream, target, AVSEEK_FLAG_BACKWARD) < 0 &&
        avformat_seek_file(m_ctx, stream, INT64_MIN, target, target, 0) < 0)
        return E_FAIL;
    // Packets without times after a seek continue from the seek position.
    std::fill(m_next_start.begin(), m_next_start.end(), position);
    return S_OK;
}

}  // namespace ronvix::media
