#include "platform/media/filters/colourspace.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "platform/media/types.h"

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

// Studio range to the JPEG range, one table per component kind.
struct RangeTables {
    std::array<uint8_t, 256> luma{}, chroma{};
    RangeTables() {
        for (int i = 0; i < 256; ++i) {
            luma[size_t(i)] = Clamp8(int(std::lround((i - 16) * 255.0 / 219.0)));
            chroma[size_t(i)] = Clamp8(128 + int(std::lround((i - 128) * 255.0 / 224.0)));
        }
    }
};
const RangeTables& Ranges() {
    static const RangeTables tables;
    return tables;
}

// Where the components of one frame of a layout are: the byte offsets of
// pixel (x, y)'s luma and of its chroma pair.
struct YuvReader {
    const uint8_t* src;
    YuvLayout layout;
    int width;
    int height;

    uint8_t Y(int x, int y) const {
        switch (layout) {
            case YuvLayout::Yuy2:
                return src[size_t(y) * size_t(width) * 2 + size_t(x) * 2];
            case YuvLayout::Uyvy:
                return src[size_t(y) * size_t(width) * 2 + size_t(x) * 2 + 1];
            default:
                return src[size_t(y) * size_t(width) + size_t(x)];
        }
    }
    // The chroma of the pair of pixels at column 2 * cx in chroma row cy
    // (a picture row for 4:2:2, a pair of rows for 4:2:0).
    void Chroma(int cx, int cy, uint8_t* cb, uint8_t* cr) const {
        const size_t w = size_t(width), luma = w * size_t(height);
        switch (layout) {
            case YuvLayout::Yuy2: {
                const uint8_t* p = src + size_t(cy) * w * 2 + size_t(cx) * 4;
                *cb = p[1];
                *cr = p[3];
                return;
            }
            case YuvLayout::Uyvy: {
                const uint8_t* p = src + size_t(cy) * w * 2 + size_t(cx) * 4;
                *cb = p[0];
                *cr = p[2];
                return;
            }
            case YuvLayout::Nv12: {
                const uint8_t* p = src + luma + size_t(cy) * w + size_t(cx) * 2;
                *cb = p[0];
                *cr = p[1];
                return;
            }
            case YuvLayout::I420: {
                const size_t cw = w / 2, plane = cw * size_t(height / 2);
                *cb = src[luma + size_t(cy) * cw + size_t(cx)];
                *cr = src[luma + plane + size_t(cy) * cw + size_t(cx)];
                return;
            }
        }
    }
};

}  // namespace

std::optional<YuvLayout> YuvLayoutOf(const com::GUID& subtype) {
    if (subtype == MEDIASUBTYPE_YUY2)
        return YuvLayout::Yuy2;
    if (subtype == MEDIASUBTYPE_UYVY)
        return YuvLayout::Uyvy;
    if (subtype == MEDIASUBTYPE_NV12)
        return YuvLayout::Nv12;
    if (subtype == MEDIASUBTYPE_I420)
        return YuvLayout::I420;
    return std::nullopt;
}

bool YuvSizeUsable(YuvLayout layout, int width, int height) {
    return width > 0 && height > 0 && width % 2 == 0 && (!IsYuv420(layout) || height % 2 == 0);
}

size_t YuvImageSize(YuvLayout layout, int width, int height) {
    if (!YuvSizeUsable(layout, width, height))
        return 0;
    const size_t pixels = size_t(width) * size_t(height);
    return IsYuv420(layout) ? pixels + pixels / 2 : pixels * 2;
}

void YuvPlanes::Resize(int w, int h, bool chroma_half_height) {
    width = std::max(0, w) & ~1;
    half_height = chroma_half_height;
    height = std::max(0, h) & (half_height ? ~1 : ~0);
    y.resize(size_t(width) * size_t(height));
    u.resize(size_t(ChromaWidth()) * size_t(ChromaHeight()));
    v.resize(u.size());
}

uint8_t StudioToFullLuma(uint8_t y) {
    return Ranges().luma[y];
}

uint8_t StudioToFullChroma(uint8_t c) {
    return Ranges().chroma[c];
}

namespace {

// The range tables' values by arithmetic the compiler turns into vector
// code: equal to lround((y - 16) * 255 / 219) and 128 + lround((c - 128) *
// 255 / 224), clamped, for every byte (the constants were searched for
// that; the planes test compares them with the tables).
inline uint8_t FullLuma(int y) {
    const int v = ((y - 16) * 2385 + 986) >> 11;
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}
inline uint8_t FullChroma(int c) {
    const int v = 128 + (((c - 128) * 4663 + 2023) >> 12);
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// One packed row (YUY2 when the luma comes first, else UYVY) into its
// planes' rows.
template <size_t kLumaAt>
void PackedRowToPlanes(const uint8_t* __restrict p, uint8_t* __restrict y, uint8_t* __restrict u,
                       uint8_t* __restrict v, size_t pairs) {
    constexpr size_t kChromaAt = 1 - kLumaAt;
    for (size_t cx = 0; cx < pairs; ++cx) {
        y[2 * cx] = FullLuma(p[4 * cx + kLumaAt]);
        y[2 * cx + 1] = FullLuma(p[4 * cx + kLumaAt + 2]);
        u[cx] = FullChroma(p[4 * cx + kChromaAt]);
        v[cx] = FullChroma(p[4 * cx + kChromaAt + 2]);
    }
}

void LumaToFull(const uint8_t* __restrict src, uint8_t* __restrict dst, size_t n) {
    for (size_t i = 0; i < n; ++i)
        dst[i] = FullLuma(src[i]);
}

}  // namespace

void StudioYuvToPlanes(const uint8_t* src, YuvLayout layout, int width, int height,
                       YuvPlanes* dst) {
    dst->Resize(width, height, IsYuv420(layout));
    if (!YuvSizeUsable(layout, width, height))
        return;
    const RangeTables& t = Ranges();
    const YuvReader in{src, layout, width, height};
    if (layout == YuvLayout::Yuy2 || layout == YuvLayout::Uyvy) {
        // One pass over the packed rows: each pixel pair's two lumas and
        // its chroma pair go to their planes together.
        const size_t cw = size_t(dst->ChromaWidth());
        for (int row = 0; row < dst->height; ++row) {
            const uint8_t* p = src + size_t(row) * size_t(width) * 2;
            uint8_t* y = dst->y.data() + size_t(row) * size_t(dst->width);
            uint8_t* u = dst->u.data() + size_t(row) * cw;
            uint8_t* v = dst->v.data() + size_t(row) * cw;
            if (layout == YuvLayout::Yuy2)
                PackedRowToPlanes<0>(p, y, u, v, cw);
            else
                PackedRowToPlanes<1>(p, y, u, v, cw);
        }
        return;
    }
    LumaToFull(src, dst->y.data(), dst->y.size());
    const int cw = dst->ChromaWidth(), ch = dst->ChromaHeight();
    for (int cy = 0; cy < ch; ++cy)
        for (int cx = 0; cx < cw; ++cx) {
            uint8_t cb = 128, cr = 128;
            in.Chroma(cx, cy, &cb, &cr);
            const size_t at = size_t(cy) * size_t(cw) + size_t(cx);
            dst->u[at] = t.chroma[cb];
            dst->v[at] = t.chroma[cr];
        }
}

void StudioYuvToRgb32(const uint8_t* src, YuvLayout layout, int width, int height, uint8_t* dst,
                      bool dst_bottom_up) {
    if (!YuvSizeUsable(layout, width, height))
        return;
    const YuvReader in{src, layout, width, height};
    const bool half = IsYuv420(layout);
    for (int row = 0; row < height; ++row) {
        uint8_t* out = DestRow(dst, Rgb32Stride(width), height, row, dst_bottom_up);
        const int cy = half ? row / 2 : row;
        for (int cx = 0; cx < width / 2; ++cx) {
            uint8_t cb = 128, cr = 128;
            in.Chroma(cx, cy, &cb, &cr);
            StudioToRgb(in.Y(2 * cx, row), cb, cr, out + 8 * cx);
            StudioToRgb(in.Y(2 * cx + 1, row), cb, cr, out + 8 * cx + 4);
        }
    }
}

void StudioYuvToRgb32Every(const uint8_t* src, YuvLayout layout, int width, int height, int step,
                           uint8_t* dst, bool dst_bottom_up) {
    if (!YuvSizeUsable(layout, width, height) || step < 1)
        return;
    const YuvReader in{src, layout, width, height};
    const bool half = IsYuv420(layout);
    const int out_width = width / step, out_height = height / step;
    for (int row = 0; row < out_height; ++row) {
        uint8_t* out = DestRow(dst, Rgb32Stride(out_width), out_height, row, dst_bottom_up);
        const int y = row * step;
        const int cy = half ? y / 2 : y;
        for (int col = 0; col < out_width; ++col) {
            const int x = col * step;
            uint8_t cb = 128, cr = 128;
            in.Chroma(x / 2, cy, &cb, &cr);
            StudioToRgb(in.Y(x, y), cb, cr, out + 4 * col);
        }
    }
}

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
