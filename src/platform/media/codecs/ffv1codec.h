#pragma once
// FFV1 coding of capture frames through libavcodec: the encoder the FFV1
// Compressor uses and the decoder of the FFV1 Decompressor.
//
// The encoder takes packed or planar YUV as a capture device delivers it
// (YuvLayout) and codes it losslessly as 4:2:2 (YUY2, UYVY) or 4:2:0 (NV12,
// I420) planes, the samples as they come (no range change, no RGB step):
// FFV1 version 3, range coder, every frame a key frame, the picture cut
// into slices that the codec's own threads code at once. One object codes
// a whole stream: the codec context, its threads and the frame buffer are
// made by Open and reused for every frame until Close.
//
// The decoder gives back packed YUY2 of the coded size: 4:2:2 exactly as
// coded, 4:2:0 with each chroma row used for the two picture rows it
// covers.
//
// Neither class is thread-safe; the codec's threads are joined by Close
// (and by the destructor).

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/media/codecs/colourspace.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace ronvix::media {

// The slices a picture is cut into for `threads` coding threads: at least
// four, and a count the codec can lay out on a grid.
int Ffv1SliceCount(int threads);

// Online processor cores (at least 1).
int OnlineCores();

class Ffv1Encoder {
public:
    Ffv1Encoder() = default;
    Ffv1Encoder(const Ffv1Encoder&) = delete;
    Ffv1Encoder& operator=(const Ffv1Encoder&) = delete;
    ~Ffv1Encoder();

    // Opens the codec for frames of `layout` at this size; `threads` coding
    // threads (1: none of its own), `slices` from Ffv1SliceCount. False when
    // the size does not suit the layout or the codec refuses; the object is
    // then closed.
    bool Open(YuvLayout layout, int width, int height, int threads, int slices);
    void Close();
    bool IsOpen() const { return m_context != nullptr; }

    // The stream's configuration record (empty while closed): it goes after
    // the bitmap header of the stream's format.
    std::span<const uint8_t> Extradata() const;

    // Codes one frame of the open layout and size (YuvImageSize bytes at
    // `src`) into `target`; returns the bytes written, 0 when coding failed
    // or the frame does not fit.
    size_t Encode(const uint8_t* src, std::span<uint8_t> target);

    // A bound on one coded frame of `width` x `height` in `layout`.
    static size_t MaxSize(YuvLayout layout, int width, int height);

private:
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    YuvLayout m_layout = YuvLayout::Yuy2;
    int m_width = 0;
    int m_height = 0;
};

class Ffv1Decoder {
public:
    enum class Result {
        Ok,
        Corrupt,      // the frame does not decode
        Unsupported,  // it decodes to samples this decoder cannot give as YUY2
    };

    Ffv1Decoder() = default;
    Ffv1Decoder(const Ffv1Decoder&) = delete;
    Ffv1Decoder& operator=(const Ffv1Decoder&) = delete;
    ~Ffv1Decoder();

    // Opens the codec for a stream of `width` x `height` (width even) with
    // its configuration record (empty for a stream that has none).
    bool Open(std::span<const uint8_t> extradata, int width, int height, int threads);
    void Close();
    bool IsOpen() const { return m_context != nullptr; }

    // Decodes one coded frame into YUY2 at `dst` (Yuy2ImageSize bytes of the
    // open size). Only 8-bit 4:2:2, 4:2:0, 4:4:4 and grey pictures of the
    // open size are given back. Throws std::bad_alloc when the padded copy
    // of the frame finds no memory.
    Result DecodeToYuy2(std::span<const uint8_t> coded, uint8_t* dst);

private:
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    std::vector<uint8_t> m_padded;  // the coded frame with the codec's padding
    int m_width = 0;
    int m_height = 0;
};

}  // namespace ronvix::media
