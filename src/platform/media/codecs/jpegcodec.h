#pragma once
// JPEG coding through libjpeg-turbo for the MJPEG filters and the test
// camera. Each object owns one codec handle and is used by one thread at a
// time (a streaming thread keeps its own). Failures are results, never
// exceptions; nothing is printed.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "platform/media/codecs/colourspace.h"
#include "platform/media/core/filter.h"

namespace ronvix::media {

struct LibjpegCompressor;
struct LibjpegDecompressor;

// The JPEG quality for an engine quality fraction: round(q * 100) clamped
// to 1..100, so every fraction down to 0.01 (and below) still encodes.
int JpegQualityFromFraction(double quality);

// IAMVideoCompression::GetInfo of a JPEG quality control: version "1.0",
// `description`, one key frame per frame, no P frames, `default_quality`,
// and the quality capability. Any out-pointer may be null; a text is cut to
// the caller's capacity and its full length reported.
HRESULT JpegCompressionInfo(std::u16string_view description, double default_quality, LPWSTR version,
                            int* version_len, LPWSTR description_out, int* description_len,
                            LONG* def_key_frame_rate, LONG* def_p_frames_per_key,
                            double* def_quality, LONG* capabilities);

class JpegEncoder {
public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // The largest JPEG a frame of this size can produce (4:2:2 sampling);
    // a destination at least this big never overflows.
    static size_t MaxSize(int width, int height);

    // Each returns the bytes written to `dst`, or 0 when the frame could not
    // be encoded (bad size, destination smaller than MaxSize, codec error).
    size_t EncodeYuv422(const Yuv422Image& image, int quality, std::span<uint8_t> dst);
    // The planes as they are (4:2:2 or 4:2:0 sampling as they have it).
    size_t EncodeYuvPlanes(const YuvPlanes& image, int quality, std::span<uint8_t> dst);
    // A studio-range frame of `layout` as a device packs it: the range is
    // expanded one MCU row at a time into strips the coder reads while they
    // are still in the cache, so the frame is read once and no full-size
    // planes are written. The same JPEG as EncodeYuvPlanes of
    // StudioYuvToPlanes. `src` holds YuvImageSize(layout, width, height).
    size_t EncodeStudioYuv(const uint8_t* src, YuvLayout layout, int width, int height, int quality,
                           std::span<uint8_t> dst);
    size_t EncodeRgb32(const uint8_t* pixels, int width, int height, bool bottom_up, int quality,
                       std::span<uint8_t> dst);
    size_t EncodeRgb24(const uint8_t* pixels, int width, int height, bool bottom_up, int quality,
                       std::span<uint8_t> dst);

private:
    size_t EncodePacked(const uint8_t* pixels, int width, int height, int stride, int format,
                        bool bottom_up, int quality, std::span<uint8_t> dst);
    void* m_handle = nullptr;
    // The strip coder and its strips, made on first use.
    std::unique_ptr<LibjpegCompressor> m_strips;
    std::vector<uint8_t> m_strip_y, m_strip_u, m_strip_v;
};

class JpegDecoder {
public:
    JpegDecoder();
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    // Reads the frame size; false when `jpeg` is not a JPEG stream it can
    // decode.
    bool ReadSize(std::span<const uint8_t> jpeg, int* width, int* height);
    // Decodes into RGB32 rows of exactly `width` x `height`; false when the
    // stream is corrupt or its size differs. `dst` holds Rgb32ImageSize.
    bool DecodeRgb32(std::span<const uint8_t> jpeg, int width, int height, bool bottom_up,
                     uint8_t* dst);
    // The smallest scale of the decoder's DCT (1/8, 1/4, 1/2, else 1) at
    // which a `width` x `height` picture still covers `min_width` x
    // `min_height`, as an eighths numerator (1, 2, 4 or 8).
    static int ScaleEighthsCovering(int width, int height, int min_width, int min_height);
    // A picture's side at `eighths`/8 of its size, as the decoder makes it.
    static int ScaledSide(int side, int eighths) { return (side * eighths + 7) / 8; }
    // Decodes a `width` x `height` stream at `eighths`/8 of its size (the
    // scale applied inside the inverse DCT, so the decoder does the work of
    // the smaller picture) into RGB32 rows of ScaledSide of each side;
    // false as DecodeRgb32. `dst` holds Rgb32ImageSize of the scaled size.
    bool DecodeRgb32Scaled(std::span<const uint8_t> jpeg, int width, int height, int eighths,
                           bool bottom_up, uint8_t* dst);
    // Decodes into studio-range YUY2 rows of (width & ~1) pixels (an odd
    // last column left out); false as DecodeRgb32. A 4:2:2 stream (what
    // cameras make, and the MJPEG Compressor from packed YUV and RGB) is
    // decoded as its own samples, a strip at a time, and packed while the
    // strip is still in the cache:
    // no colour conversion and no RGB detour that would clip what lies
    // outside RGB's gamut. Other samplings go through RGB32.
    // `dst` holds Yuy2ImageSize(width & ~1, height).
    bool DecodeYuy2(std::span<const uint8_t> jpeg, int width, int height, uint8_t* dst);

private:
    // 1: decoded; 0: failed; -1: not a 4:2:2 YCbCr stream.
    int DecodeYuy2Raw(std::span<const uint8_t> jpeg, int width, int height, uint8_t* dst);

    void* m_handle = nullptr;
    // The strip decoder, its strips, and the RGB32 picture of the other
    // samplings, made on first use.
    std::unique_ptr<LibjpegDecompressor> m_strips;
    std::vector<uint8_t> m_strip_y, m_strip_u, m_strip_v, m_rgb;
};

}  // namespace ronvix::media
