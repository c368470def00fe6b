#include "platform/media/codecs/ffv1codec.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

namespace ronvix::media {

namespace {

// Slice counts the codec lays out on a grid of at least two rows, for
// pictures larger than a quarter of PAL as for smaller ones.
constexpr int kSliceCounts[] = {4, 6, 9, 12, 16, 20, 24};

void FreeCodec(AVCodecContext*& context, AVFrame*& frame, AVPacket*& packet) {
    // Freeing the context ends and joins the codec's threads.
    avcodec_free_context(&context);
    av_frame_free(&frame);
    av_packet_free(&packet);
}

// A context of `codec`, a frame and a packet; false, with none of them
// kept, when any cannot be had.
bool AllocateCodec(const AVCodec* codec, AVCodecContext*& context, AVFrame*& frame,
                   AVPacket*& packet) {
    if (!codec)
        return false;
    context = avcodec_alloc_context3(codec);
    frame = av_frame_alloc();
    packet = av_packet_alloc();
    if (context && frame && packet)
        return true;
    FreeCodec(context, frame, packet);
    return false;
}

// One packed or planar frame into the encoder's planes, samples unchanged.
void ToPlanes(const uint8_t* src, YuvLayout layout, int width, int height, AVFrame& f) {
    const int cw = width / 2;
    switch (layout) {
        case YuvLayout::Yuy2:
        case YuvLayout::Uyvy: {
            // Y0 U Y1 V, or U Y0 V Y1.
            const int ly = layout == YuvLayout::Yuy2 ? 0 : 1;
            const int lc = 1 - ly;
            for (int row = 0; row < height; ++row) {
                const uint8_t* s = src + size_t(row) * size_t(width) * 2;
                uint8_t* y = f.data[0] + ptrdiff_t(row) * f.linesize[0];
                uint8_t* u = f.data[1] + ptrdiff_t(row) * f.linesize[1];
                uint8_t* v = f.data[2] + ptrdiff_t(row) * f.linesize[2];
                for (int x = 0; x < cw; ++x) {
                    y[2 * x] = s[4 * x + ly];
                    u[x] = s[4 * x + lc];
                    y[2 * x + 1] = s[4 * x + ly + 2];
                    v[x] = s[4 * x + lc + 2];
                }
            }
            break;
        }
        case YuvLayout::Nv12:
        case YuvLayout::I420: {
            for (int row = 0; row < height; ++row)
                std::memcpy(f.data[0] + ptrdiff_t(row) * f.linesize[0],
                            src + size_t(row) * size_t(width), size_t(width));
            const uint8_t* chroma = src + size_t(width) * size_t(height);
            const int ch = height / 2;
            for (int row = 0; row < ch; ++row) {
                uint8_t* u = f.data[1] + ptrdiff_t(row) * f.linesize[1];
                uint8_t* v = f.data[2] + ptrdiff_t(row) * f.linesize[2];
                if (layout == YuvLayout::Nv12) {
                    const uint8_t* s = chroma + size_t(row) * size_t(width);
                    for (int x = 0; x < cw; ++x) {
                        u[x] = s[2 * x];
                        v[x] = s[2 * x + 1];
                    }
                } else {
                    const size_t plane = size_t(cw) * size_t(ch);
                    std::memcpy(u, chroma + size_t(row) * size_t(cw), size_t(cw));
                    std::memcpy(v, chroma + plane + size_t(row) * size_t(cw), size_t(cw));
                }
            }
            break;
        }
    }
}

}  // namespace

int Ffv1SliceCount(int threads) {
    for (int count : kSliceCounts)
        if (count >= threads)
            return count;
    return kSliceCounts[std::size(kSliceCounts) - 1];
}

int OnlineCores() {
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    return cores > 0 ? int(std::min<long>(cores, 64)) : 1;
}

// ------------------------------------------------------------- encoder

Ffv1Encoder::~Ffv1Encoder() {
    Close();
}

void Ffv1Encoder::Close() {
    FreeCodec(m_context, m_frame, m_packet);
}

bool Ffv1Encoder::Open(YuvLayout layout, int width, int height, int threads, int slices) {
    Close();
    if (!YuvSizeUsable(layout, width, height))
        return false;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FFV1);
    if (!AllocateCodec(codec, m_context, m_frame, m_packet))
        return false;
    const AVPixelFormat format = IsYuv420(layout) ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV422P;
    m_context->width = width;
    m_context->height = height;
    m_context->pix_fmt = format;
    m_context->time_base = AVRational{1, 25};
    m_context->level = 3;
    m_context->gop_size = 1;  // every frame a key frame
    m_context->slices = slices;
    m_context->thread_count = std::max(1, threads);
    m_context->thread_type = FF_THREAD_SLICE;
    // The range coder with its state table adapted to the stream.
    if (av_opt_set(m_context->priv_data, "coder", "range_tab", 0) < 0 ||
        avcodec_open2(m_context, codec, nullptr) < 0) {
        Close();
        return false;
    }
    m_frame->format = format;
    m_frame->width = width;
    m_frame->height = height;
    if (av_frame_get_buffer(m_frame, 0) < 0) {
        Close();
        return false;
    }
    m_layout = layout;
    m_width = width;
    m_height = height;
    return true;
}

std::span<const uint8_t> Ffv1Encoder::Extradata() const {
    if (!m_context || !m_context->extradata || m_context->extradata_size <= 0)
        return {};
    return {m_context->extradata, size_t(m_context->extradata_size)};
}

size_t Ffv1Encoder::Encode(const uint8_t* src, std::span<uint8_t> target) {
    if (!m_context || !src)
        return 0;
    // The codec let go of the previous frame's planes when it coded it, so
    // this keeps the same buffer.
    if (av_frame_make_writable(m_frame) < 0)
        return 0;
    ToPlanes(src, m_layout, m_width, m_height, *m_frame);
    m_frame->pts = m_frame->pts == AV_NOPTS_VALUE ? 0 : m_frame->pts + 1;
    if (avcodec_send_frame(m_context, m_frame) < 0)
        return 0;
    if (avcodec_receive_packet(m_context, m_packet) < 0)
        return 0;
    size_t written = 0;
    if (m_packet->size > 0 && size_t(m_packet->size) <= target.size()) {
        std::memcpy(target.data(), m_packet->data, size_t(m_packet->size));
        written = size_t(m_packet->size);
    }
    av_packet_unref(m_packet);
    return written;
}

size_t Ffv1Encoder::MaxSize(YuvLayout layout, int width, int height) {
    // A picture the coder cannot shrink (noise) comes out a little larger
    // than its samples: half as much again, and the slices' headers.
    const size_t raw = YuvImageSize(layout, width, height);
    return raw + raw / 2 + 65536;
}

// ------------------------------------------------------------- decoder

Ffv1Decoder::~Ffv1Decoder() {
    Close();
}

void Ffv1Decoder::Close() {
    FreeCodec(m_context, m_frame, m_packet);
}

bool Ffv1Decoder::Open(std::span<const uint8_t> extradata, int width, int height, int threads) {
    Close();
    if (width <= 0 || height <= 0 || width % 2 != 0)
        return false;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_FFV1);
    if (!AllocateCodec(codec, m_context, m_frame, m_packet))
        return false;
    if (!extradata.empty()) {
        // The codec reads past the end in steps: the copy is padded.
        auto* copy =
            static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!copy) {
            Close();
            return false;
        }
        std::memcpy(copy, extradata.data(), extradata.size());
        m_context->extradata = copy;  // freed with the context
        m_context->extradata_size = int(extradata.size());
    }
    m_context->width = width;
    m_context->height = height;
    m_context->thread_count = std::max(1, threads);
    m_context->thread_type = FF_THREAD_SLICE;  // a frame out for every frame in
    if (avcodec_open2(m_context, codec, nullptr) < 0) {
        Close();
        return false;
    }
    m_width = width;
    m_height = height;
    return true;
}

Ffv1Decoder::Result Ffv1Decoder::DecodeToYuy2(std::span<const uint8_t> coded, uint8_t* dst) {
    if (!m_context || !dst || coded.empty())
        return Result::Corrupt;
    m_padded.resize(coded.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    std::memcpy(m_padded.data(), coded.data(), coded.size());
    std::fill(m_padded.begin() + ptrdiff_t(coded.size()), m_padded.end(), uint8_t(0));
    av_packet_unref(m_packet);
    m_packet->data = m_padded.data();
    m_packet->size = int(coded.size());
    m_packet->flags = AV_PKT_FLAG_KEY;
    const int sent = avcodec_send_packet(m_context, m_packet);
    m_packet->data = nullptr;
    m_packet->size = 0;
    if (sent < 0)
        return Result::Corrupt;
    if (avcodec_receive_frame(m_context, m_frame) < 0)
        return Result::Corrupt;
    Result result = Result::Ok;
    const AVFrame& f = *m_frame;
    const auto format = AVPixelFormat(f.format);
    if (f.width != m_width || f.height != m_height ||
        (format != AV_PIX_FMT_YUV422P && format != AV_PIX_FMT_YUV420P &&
         format != AV_PIX_FMT_YUV444P && format != AV_PIX_FMT_GRAY8)) {
        result = Result::Unsupported;
    } else {
        const int cw = m_width / 2;
        for (int row = 0; row < m_height; ++row) {
            const uint8_t* y = f.data[0] + ptrdiff_t(row) * f.linesize[0];
            uint8_t* out = dst + size_t(row) * size_t(m_width) * 2;
            if (format == AV_PIX_FMT_GRAY8) {
                for (int x = 0; x < cw; ++x) {
                    out[4 * x] = y[2 * x];
                    out[4 * x + 1] = 128;
                    out[4 * x + 2] = y[2 * x + 1];
                    out[4 * x + 3] = 128;
                }
                continue;
            }
            const int crow = format == AV_PIX_FMT_YUV420P ? row / 2 : row;
            const int step = format == AV_PIX_FMT_YUV444P ? 2 : 1;
            const uint8_t* u = f.data[1] + ptrdiff_t(crow) * f.linesize[1];
            const uint8_t* v = f.data[2] + ptrdiff_t(crow) * f.linesize[2];
            for (int x = 0; x < cw; ++x) {
                out[4 * x] = y[2 * x];
                out[4 * x + 1] = u[step * x];
                out[4 * x + 2] = y[2 * x + 1];
                out[4 * x + 3] = v[step * x];
            }
        }
    }
    av_frame_unref(m_frame);
    return result;
}

}  // namespace ronvix::media
