#include "platform/media/filters/colourspace.h"

#include <algorithm>
#include <cstring>

namespace ronvix::media {

namespace {

inline uint8_t Clamp8(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// Fixed point with 16 fractional bits.
constexpr int kOne = 1 << 16;
constexpr int kHalf = 1 << 15;
inline int Fix(double x) {
    return static_cast<int>(x * kOne + (x < 0 ? -0.5 : 0.5));
}

// Full-range (JPEG) YCbCr to RGB.
inline void FullToRgb(int y, int cb, int cr, uint8_t* bgrx) {
    cb -= 128;
    cr -= 128;
    const int yy = y * kOne + kHalf;
    bgrx[0] = Clamp8((yy + Fix(1.772) * cb) >> 16);
    bgrx[1] = Clamp8((yy - Fix(0.344136) * cb - Fix(0.714136) * cr) >> 16);
    bgrx[2] = Clamp8((yy + Fix(1.402) * cr) >> 16);
    bgrx[3] = 0xFF;
}

// Studio-range (BT.601) YCbCr to RGB.
inline void StudioToRgb(int y, int cb, int cr, uint8_t* bgrx) {
    cb -= 128;
    cr -= 128;
    const int yy = Fix(255.0 / 219.0) * (y - 16) + kHalf;
    bgrx[0] = Clamp8((yy + Fix(1.772 * 255.0 / 224.0) * cb) >> 16);
    bgrx[1] = Clamp8(
        (yy - Fix(0.344136 * 255.0 / 224.0) * cb - Fix(0.714136 * 255.0 / 224.0) * cr) >> 16);
    bgrx[2] = Clamp8((yy + Fix(1.402 * 255.0 / 224.0) * cr) >> 16);
    bgrx[3] = 0xFF;
}

inline uint8_t StudioLuma(int r, int g, int b) {
    return Clamp8(
        16 +
        ((Fix(65.481 / 255) * r + Fix(128.553 / 255) * g + Fix(24.966 / 255) * b + kHalf) >> 16));
}
inline uint8_t StudioCb(int r, int g, int b) {
    return Clamp8(
        128 +
        ((-Fix(37.797 / 255) * r - Fix(74.203 / 255) * g + Fix(112.0 / 255) * b + kHalf) >> 16));
}
inline uint8_t StudioCr(int r, int g, int b) {
    return Clamp8(
        128 +
        ((Fix(112.0 / 255) * r - Fix(93.786 / 255) * g - Fix(18.214 / 255) * b + kHalf) >> 16));
}

// The source row that lands in destination row `row` of a top-down picture.
inline const uint8_t* SourceRow(const uint8_t* src, int stride, int height, int row,
                                bool bottom_up) {
    return src + static_cast<ptrdiff_t>(bottom_up ? height - 1 - row : row) * stride;
}
inline uint8_t* DestRow(uint8_t* dst, int stride, int height, int row, bool bottom_up) {
    return dst + static_cast<ptrdiff_t>(bottom_up ? height - 1 - row : row) * stride;
}

}  // namespace

void Yuv422Image::Resize(int w, int h) {
    width = std::max(0, w) & ~1;
    height = std::max(0, h);
    y.assign(static_cast<size_t>(width) * height, 0);
    u.assign(static_cast<size_t>(width / 2) * height, 128);
    v.assign(static_cast<size_t>(width / 2) * height, 128);
}

size_t Rgb32ImageSize(int width, int height) {
    return width > 0 && height > 0 ? static_cast<size_t>(Rgb32Stride(width)) * height : 0;
}
size_t Rgb24ImageSize(int width, int height) {
    return width > 0 && height > 0 ? static_cast<size_t>(Rgb24Stride(width)) * height : 0;
}
size_t Yuy2ImageSize(int width, int height) {
    return width > 0 && height > 0 ? static_cast<size_t>(Yuy2Stride(width & ~1)) * height : 0;
}

YuvColour RgbToYuvFull(int r, int g, int b) {
    YuvColour c;
    c.y = Clamp8((Fix(0.299) * r + Fix(0.587) * g + Fix(0.114) * b + kHalf) >> 16);
    c.u = Clamp8(128 + ((-Fix(0.168736) * r - Fix(0.331264) * g + Fix(0.5) * b + kHalf) >> 16));
    c.v = Clamp8(128 + ((Fix(0.5) * r - Fix(0.418688) * g - Fix(0.081312) * b + kHalf) >> 16));
    return c;
}

void Yuv422ToRgb32(const Yuv422Image& src, uint8_t* dst, bool bottom_up) {
    Yuv422RowsToRgb32(src, 0, src.height, dst, bottom_up);
}

void Yuv422RowsToRgb32(const Yuv422Image& src, int row0, int row1, uint8_t* dst, bool bottom_up) {
    const int w = src.width, h = src.height, cw = src.ChromaWidth();
    row0 = std::max(0, row0);
    row1 = std::min(h, row1);
    for (int row = row0; row < row1; ++row) {
        const uint8_t* y = src.y.data() + static_cast<size_t>(row) * w;
        const uint8_t* u = src.u.data() + static_cast<size_t>(row) * cw;
        const uint8_t* v = src.v.data() + static_cast<size_t>(row) * cw;
        uint8_t* out = DestRow(dst, Rgb32Stride(w), h, row, bottom_up);
        for (int x = 0; x < w; ++x)
            FullToRgb(y[x], u[x / 2], v[x / 2], out + 4 * x);
    }
}

void Yuv422ToYuy2(const Yuv422Image& src, uint8_t* dst) {
    const int w = src.width, h = src.height, cw = src.ChromaWidth();
    // Full range to studio range.
    uint8_t luma[256], chroma[256];
    for (int i = 0; i < 256; ++i) {
        luma[i] = Clamp8(16 + (i * 219 + 127) / 255);
        chroma[i] = Clamp8(128 + ((i - 128) * 224 + (i >= 128 ? 127 : -127)) / 255);
    }
    for (int row = 0; row < h; ++row) {
        const uint8_t* y = src.y.data() + static_cast<size_t>(row) * w;
        const uint8_t* u = src.u.data() + static_cast<size_t>(row) * cw;
        const uint8_t* v = src.v.data() + static_cast<size_t>(row) * cw;
        uint8_t* out = dst + static_cast<size_t>(row) * Yuy2Stride(w);
        for (int x = 0; x < cw; ++x) {
            out[4 * x + 0] = luma[y[2 * x]];
            out[4 * x + 1] = chroma[u[x]];
            out[4 * x + 2] = luma[y[2 * x + 1]];
            out[4 * x + 3] = chroma[v[x]];
        }
    }
}

void Yuy2ToRgb32(const uint8_t* src, int width, int height, uint8_t* dst, bool dst_bottom_up) {
    const int pairs = width / 2;
    for (int row = 0; row < height; ++row) {
        const uint8_t* in = src + static_cast<size_t>(row) * Yuy2Stride(width & ~1);
        uint8_t* out = DestRow(dst, Rgb32Stride(width), height, row, dst_bottom_up);
        for (int p = 0; p < pairs; ++p) {
            const uint8_t* q = in + 4 * p;
            StudioToRgb(q[0], q[1], q[3], out + 8 * p);
            StudioToRgb(q[2], q[1], q[3], out + 8 * p + 4);
        }
        if (width & 1)  // An odd last column repeats its neighbour.
            std::memcpy(out + 4 * (width - 1), out + 4 * (width - 2), 4);
    }
}

void Rgb24ToRgb32(const uint8_t* src, bool src_bottom_up, int width, int height, uint8_t* dst,
                  bool dst_bottom_up) {
    for (int row = 0; row < height; ++row) {
        const uint8_t* in = SourceRow(src, Rgb24Stride(width), height, row, src_bottom_up);
        uint8_t* out = DestRow(dst, Rgb32Stride(width), height, row, dst_bottom_up);
        for (int x = 0; x < width; ++x) {
            out[4 * x + 0] = in[3 * x + 0];
            out[4 * x + 1] = in[3 * x + 1];
            out[4 * x + 2] = in[3 * x + 2];
            out[4 * x + 3] = 0xFF;
        }
    }
}

void Rgb32ToRgb32(const uint8_t* src, bool src_bottom_up, int width, int height, uint8_t* dst,
                  bool dst_bottom_up) {
    for (int row = 0; row < height; ++row)
        std::memcpy(DestRow(dst, Rgb32Stride(width), height, row, dst_bottom_up),
                    SourceRow(src, Rgb32Stride(width), height, row, src_bottom_up),
                    static_cast<size_t>(Rgb32Stride(width)));
}

void Rgb32ToYuy2(const uint8_t* src, bool src_bottom_up, int width, int height, uint8_t* dst) {
    const int pairs = width / 2;
    for (int row = 0; row < height; ++row) {
        const uint8_t* in = SourceRow(src, Rgb32Stride(width), height, row, src_bottom_up);
        uint8_t* out = dst + static_cast<size_t>(row) * Yuy2Stride(width & ~1);
        for (int p = 0; p < pairs; ++p) {
            const uint8_t* a = in + 8 * p;
            const uint8_t* b = a + 4;
            const int r = (a[2] + b[2] + 1) / 2, g = (a[1] + b[1] + 1) / 2,
                      bl = (a[0] + b[0] + 1) / 2;
            out[4 * p + 0] = StudioLuma(a[2], a[1], a[0]);
            out[4 * p + 1] = StudioCb(r, g, bl);
            out[4 * p + 2] = StudioLuma(b[2], b[1], b[0]);
            out[4 * p + 3] = StudioCr(r, g, bl);
        }
    }
}

}  // namespace ronvix::media
