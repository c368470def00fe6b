#include "platform/media/codecs/colourspace.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define RONVIX_AVX2_ROWS 1
#endif

#include "platform/media/core/types.h"

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

// Where the components of one frame of a layout are.
struct YuvReader {
    const uint8_t* src;
    YuvLayout layout;
    int width;
    int height;

    // Where picture row y's components lie: its luma every `luma_step`
    // bytes, the Cb and Cr of its pixel pairs every `chroma_step` bytes.
    struct Row {
        const uint8_t* luma;
        const uint8_t* cb;
        const uint8_t* cr;
        size_t luma_step, chroma_step;
    };
    Row RowAt(int y) const {
        const size_t w = size_t(width), luma = w * size_t(height);
        const size_t cy = size_t(IsYuv420(layout) ? y / 2 : y);
        switch (layout) {
            case YuvLayout::Yuy2: {
                const uint8_t* p = src + size_t(y) * w * 2;
                return {p, p + 1, p + 3, 2, 4};
            }
            case YuvLayout::Uyvy: {
                const uint8_t* p = src + size_t(y) * w * 2;
                return {p + 1, p, p + 2, 2, 4};
            }
            case YuvLayout::Nv12: {
                const uint8_t* c = src + luma + cy * w;
                return {src + size_t(y) * w, c, c + 1, 1, 2};
            }
            case YuvLayout::I420:
            default: {
                const size_t cw = w / 2, plane = cw * size_t(height / 2);
                return {src + size_t(y) * w, src + luma + cy * cw, src + luma + plane + cy * cw, 1,
                        1};
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
void PackedRowToPlanesScalar(const uint8_t* __restrict p, uint8_t* __restrict y,
                             uint8_t* __restrict u, uint8_t* __restrict v, size_t pairs) {
    constexpr size_t kChromaAt = 1 - kLumaAt;
    for (size_t cx = 0; cx < pairs; ++cx) {
        y[2 * cx] = FullLuma(p[4 * cx + kLumaAt]);
        y[2 * cx + 1] = FullLuma(p[4 * cx + kLumaAt + 2]);
        u[cx] = FullChroma(p[4 * cx + kChromaAt]);
        v[cx] = FullChroma(p[4 * cx + kChromaAt + 2]);
    }
}

#if defined(__SSE2__)
// The same scaling in 16-bit lanes, eight values to a register (SSE2 is
// part of every x86-64): x + round(x * f) for luma x = y - 16, f = 36/219,
// and for chroma x = c - 128, f = 31/224, the product from a signed high
// multiply by f * 2^16 of x with four (luma) or five (chroma) fraction bits
// kept. The pack to bytes saturates what lies beyond 0..255. Equal to
// FullLuma and FullChroma for every byte (the constants were searched for
// that; the planes test goes through this path with every value in every
// lane).
inline __m128i LumaLanes(__m128i y) {
    const __m128i t = _mm_sub_epi16(y, _mm_set1_epi16(16));
    const __m128i r = _mm_mulhi_epi16(_mm_slli_epi16(t, 4), _mm_set1_epi16(10773));
    return _mm_add_epi16(t, _mm_srai_epi16(_mm_add_epi16(r, _mm_set1_epi16(8)), 4));
}
inline __m128i ChromaLanes(__m128i c) {
    const __m128i d = _mm_sub_epi16(c, _mm_set1_epi16(128));
    const __m128i r = _mm_mulhi_epi16(_mm_slli_epi16(d, 5), _mm_set1_epi16(9070));
    return _mm_add_epi16(c, _mm_srai_epi16(_mm_add_epi16(r, _mm_set1_epi16(16)), 5));
}

// 32 pixels (64 packed bytes) a step; the rest of the row as above.
template <size_t kLumaAt>
void PackedRowToPlanes(const uint8_t* __restrict p, uint8_t* __restrict y, uint8_t* __restrict u,
                       uint8_t* __restrict v, size_t pairs) {
    const __m128i low = _mm_set1_epi16(0x00FF);
    size_t cx = 0;
    for (; cx + 16 <= pairs; cx += 16) {
        __m128i luma[4], chroma[4];
        for (int i = 0; i < 4; ++i) {
            const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * cx) + i);
            const __m128i even = _mm_and_si128(s, low), odd = _mm_srli_epi16(s, 8);
            luma[i] = LumaLanes(kLumaAt == 0 ? even : odd);
            chroma[i] = ChromaLanes(kLumaAt == 0 ? odd : even);
        }
        auto* y_out = reinterpret_cast<__m128i*>(y + 2 * cx);
        _mm_storeu_si128(y_out, _mm_packus_epi16(luma[0], luma[1]));
        _mm_storeu_si128(y_out + 1, _mm_packus_epi16(luma[2], luma[3]));
        // Cb, Cr, Cb, Cr, ... as bytes, then split.
        const __m128i c01 = _mm_packus_epi16(chroma[0], chroma[1]);
        const __m128i c23 = _mm_packus_epi16(chroma[2], chroma[3]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u + cx),
                         _mm_packus_epi16(_mm_and_si128(c01, low), _mm_and_si128(c23, low)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + cx),
                         _mm_packus_epi16(_mm_srli_epi16(c01, 8), _mm_srli_epi16(c23, 8)));
    }
    PackedRowToPlanesScalar<kLumaAt>(p + 4 * cx, y + 2 * cx, u + cx, v + cx, pairs - cx);
}
#else
template <size_t kLumaAt>
void PackedRowToPlanes(const uint8_t* __restrict p, uint8_t* __restrict y, uint8_t* __restrict u,
                       uint8_t* __restrict v, size_t pairs) {
    PackedRowToPlanesScalar<kLumaAt>(p, y, u, v, pairs);
}
#endif

// A plane's bytes (luma, or chroma when kChroma) into the JPEG range.
template <bool kChroma>
void PlaneToFull(const uint8_t* __restrict src, uint8_t* __restrict dst, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i lo = _mm_unpacklo_epi8(b, zero), hi = _mm_unpackhi_epi8(b, zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                         kChroma ? _mm_packus_epi16(ChromaLanes(lo), ChromaLanes(hi))
                                 : _mm_packus_epi16(LumaLanes(lo), LumaLanes(hi)));
    }
#endif
    for (; i < n; ++i)
        dst[i] = kChroma ? FullChroma(src[i]) : FullLuma(src[i]);
}

// One row of NV12's interleaved Cb, Cr pairs into the two chroma rows.
void Nv12ChromaRowToPlanes(const uint8_t* __restrict p, uint8_t* __restrict u,
                           uint8_t* __restrict v, size_t pairs) {
    size_t cx = 0;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi16(0x00FF);
    for (; cx + 16 <= pairs; cx += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * cx));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * cx) + 1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u + cx),
                         _mm_packus_epi16(ChromaLanes(_mm_and_si128(a, low)),
                                          ChromaLanes(_mm_and_si128(b, low))));
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(v + cx),
            _mm_packus_epi16(ChromaLanes(_mm_srli_epi16(a, 8)), ChromaLanes(_mm_srli_epi16(b, 8))));
    }
#endif
    for (; cx < pairs; ++cx) {
        u[cx] = FullChroma(p[2 * cx]);
        v[cx] = FullChroma(p[2 * cx + 1]);
    }
}

// Full range back to studio range: round(x * 219 / 255) + 16 for luma and
// round(x * 224 / 255) + 16 for chroma (the same as 128 + round((x - 128)
// * 224 / 255)), each as floor(t / 255) of t = the product plus the
// offset, which is ((t + 1) * 257) >> 16 for every t below 65 535; t stays
// below 61 216, so the vector code does it with one unsigned high multiply
// in 16-bit lanes.
inline unsigned DivideBy255(unsigned t) {
    return ((t + 1) * 257) >> 16;
}
inline uint8_t StudioLumaOf(unsigned y) {
    return uint8_t(16 + DivideBy255(y * 219 + 127));
}
inline uint8_t StudioChromaOf(unsigned c) {
    return uint8_t(DivideBy255(c * 224 + 4095));
}

#if defined(__SSE2__)
// Luma without its + 16 (added to the packed bytes), and chroma.
inline __m128i StudioLumaLanesLess16(__m128i y) {
    return _mm_mulhi_epu16(
        _mm_add_epi16(_mm_mullo_epi16(y, _mm_set1_epi16(219)), _mm_set1_epi16(128)),
        _mm_set1_epi16(257));
}
inline __m128i StudioChromaLanes(__m128i c) {
    return _mm_mulhi_epu16(
        _mm_add_epi16(_mm_mullo_epi16(c, _mm_set1_epi16(224)), _mm_set1_epi16(4096)),
        _mm_set1_epi16(257));
}
#endif

}  // namespace

uint8_t FullToStudioLuma(uint8_t y) {
    return StudioLumaOf(y);
}

uint8_t FullToStudioChroma(uint8_t c) {
    return StudioChromaOf(c);
}

namespace {

#if defined(RONVIX_AVX2_ROWS)
// 32 pixels a step with AVX2 where the processor has it (the packing is
// arithmetic-bound: twice the pixels per instruction); returns the pairs
// done, the rest is left to the caller.
#define RONVIX_AVX2 __attribute__((target("avx2")))
RONVIX_AVX2 inline __m256i StudioLumaLanesLess16(__m256i y) {
    return _mm256_mulhi_epu16(
        _mm256_add_epi16(_mm256_mullo_epi16(y, _mm256_set1_epi16(219)), _mm256_set1_epi16(128)),
        _mm256_set1_epi16(257));
}
RONVIX_AVX2 inline __m256i StudioChromaLanes(__m256i c) {
    return _mm256_mulhi_epu16(
        _mm256_add_epi16(_mm256_mullo_epi16(c, _mm256_set1_epi16(224)), _mm256_set1_epi16(4096)),
        _mm256_set1_epi16(257));
}
// 16 bytes as 16-bit lanes.
RONVIX_AVX2 inline __m256i Widen(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

RONVIX_AVX2 size_t FullPlanesRowToYuy2Avx2(const uint8_t* __restrict y, const uint8_t* __restrict u,
                                           const uint8_t* __restrict v, size_t pairs,
                                           uint8_t* __restrict dst) {
    size_t cx = 0;
    for (; cx + 16 <= pairs; cx += 16) {
        // Lanes hold Y0-7, Y16-23 | Y8-15, Y24-31 after the pack; the
        // permute puts the quarters in order.
        const __m256i l =
            _mm256_add_epi8(_mm256_permute4x64_epi64(
                                _mm256_packus_epi16(StudioLumaLanesLess16(Widen(y + 2 * cx)),
                                                    StudioLumaLanesLess16(Widen(y + 2 * cx + 16))),
                                _MM_SHUFFLE(3, 1, 2, 0)),
                            _mm256_set1_epi8(16));
        // Cb0-7, Cr0-7 | Cb8-15, Cr8-15, then Cb, Cr pairs within each lane.
        const __m256i c =
            _mm256_packus_epi16(StudioChromaLanes(Widen(u + cx)), StudioChromaLanes(Widen(v + cx)));
        const __m256i cbcr = _mm256_unpacklo_epi8(c, _mm256_srli_si256(c, 8));
        // Pixels 0-7 | 16-23, and 8-15 | 24-31.
        const __m256i lo = _mm256_unpacklo_epi8(l, cbcr), hi = _mm256_unpackhi_epi8(l, cbcr);
        auto* out = reinterpret_cast<__m256i*>(dst + 4 * cx);
        _mm256_storeu_si256(out, _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    return cx;
}
#undef RONVIX_AVX2

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

}  // namespace

void FullPlanesRowToYuy2(const uint8_t* __restrict y, const uint8_t* __restrict u,
                         const uint8_t* __restrict v, size_t pairs, uint8_t* __restrict dst) {
    size_t cx = 0;
#if defined(RONVIX_AVX2_ROWS)
    if (HasAvx2())
        cx = FullPlanesRowToYuy2Avx2(y, u, v, pairs, dst);
#endif
#if defined(__SSE2__)
    // 16 pixels a step: luma bytes interleaved with Cb, Cr pairs.
    const __m128i zero = _mm_setzero_si128();
    for (; cx + 8 <= pairs; cx += 8) {
        const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + 2 * cx));
        const __m128i cb = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + cx));
        const __m128i cr = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + cx));
        const __m128i l =
            _mm_add_epi8(_mm_packus_epi16(StudioLumaLanesLess16(_mm_unpacklo_epi8(luma, zero)),
                                          StudioLumaLanesLess16(_mm_unpackhi_epi8(luma, zero))),
                         _mm_set1_epi8(16));
        const __m128i c = _mm_packus_epi16(StudioChromaLanes(_mm_unpacklo_epi8(cb, zero)),
                                           StudioChromaLanes(_mm_unpacklo_epi8(cr, zero)));
        // c: Cb0..Cb7, Cr0..Cr7; interleaved to Cb0 Cr0 Cb1 Cr1 ...
        const __m128i pairs_cbcr = _mm_unpacklo_epi8(c, _mm_srli_si128(c, 8));
        auto* out = reinterpret_cast<__m128i*>(dst + 4 * cx);
        _mm_storeu_si128(out, _mm_unpacklo_epi8(l, pairs_cbcr));
        _mm_storeu_si128(out + 1, _mm_unpackhi_epi8(l, pairs_cbcr));
    }
#endif
    for (; cx < pairs; ++cx) {
        dst[4 * cx + 0] = StudioLumaOf(y[2 * cx]);
        dst[4 * cx + 1] = StudioChromaOf(u[cx]);
        dst[4 * cx + 2] = StudioLumaOf(y[2 * cx + 1]);
        dst[4 * cx + 3] = StudioChromaOf(v[cx]);
    }
}

void StudioYuvStripToPlanes(const uint8_t* src, YuvLayout layout, int width, int height, int line0,
                            int lines, uint8_t* y, size_t y_stride, uint8_t* u, uint8_t* v,
                            size_t chroma_stride) {
    if (!YuvSizeUsable(layout, width, height) || line0 < 0 || lines <= 0 || line0 + lines > height)
        return;
    const size_t w = size_t(width), cw = w / 2;
    if (layout == YuvLayout::Yuy2 || layout == YuvLayout::Uyvy) {
        // One pass over the packed rows: each pixel pair's two lumas and
        // its chroma pair go to their planes together.
        for (size_t i = 0; i < size_t(lines); ++i) {
            const uint8_t* p = src + (size_t(line0) + i) * w * 2;
            uint8_t *yr = y + i * y_stride, *ur = u + i * chroma_stride,
                    *vr = v + i * chroma_stride;
            if (layout == YuvLayout::Yuy2)
                PackedRowToPlanes<0>(p, yr, ur, vr, cw);
            else
                PackedRowToPlanes<1>(p, yr, ur, vr, cw);
        }
        return;
    }
    // 4:2:0: the luma plane, then the chroma after it (NV12's rows of
    // pairs, or I420's Cb plane and then its Cr plane).
    for (size_t i = 0; i < size_t(lines); ++i)
        PlaneToFull<false>(src + (size_t(line0) + i) * w, y + i * y_stride, w);
    const size_t luma = w * size_t(height), chroma_plane = cw * size_t(height / 2);
    const size_t cy0 = size_t(line0 / 2), chroma_rows = size_t((lines + 1) / 2);
    for (size_t cy = 0; cy < chroma_rows; ++cy) {
        uint8_t *ur = u + cy * chroma_stride, *vr = v + cy * chroma_stride;
        if (layout == YuvLayout::Nv12) {
            Nv12ChromaRowToPlanes(src + luma + (cy0 + cy) * w, ur, vr, cw);
        } else {
            PlaneToFull<true>(src + luma + (cy0 + cy) * cw, ur, cw);
            PlaneToFull<true>(src + luma + chroma_plane + (cy0 + cy) * cw, vr, cw);
        }
    }
}

void StudioYuvToPlanes(const uint8_t* src, YuvLayout layout, int width, int height,
                       YuvPlanes* dst) {
    dst->Resize(width, height, IsYuv420(layout));
    if (YuvSizeUsable(layout, width, height))
        StudioYuvStripToPlanes(src, layout, width, height, 0, height, dst->y.data(),
                               size_t(dst->width), dst->u.data(), dst->v.data(),
                               size_t(dst->ChromaWidth()));
}

void StudioYuvToRgb32(const uint8_t* src, YuvLayout layout, int width, int height, uint8_t* dst,
                      bool dst_bottom_up) {
    StudioYuvToRgb32Every(src, layout, width, height, 1, dst, dst_bottom_up);
}

void StudioYuvToRgb32Every(const uint8_t* src, YuvLayout layout, int width, int height, int step,
                           uint8_t* dst, bool dst_bottom_up) {
    if (!YuvSizeUsable(layout, width, height) || step < 1)
        return;
    const YuvReader in{src, layout, width, height};
    const int out_width = width / step, out_height = height / step;
    for (int row = 0; row < out_height; ++row) {
        uint8_t* out = DestRow(dst, Rgb32Stride(out_width), out_height, row, dst_bottom_up);
        const YuvReader::Row r = in.RowAt(row * step);
        for (int col = 0; col < out_width; ++col) {
            const size_t x = size_t(col * step), pair = (x / 2) * r.chroma_step;
            StudioToRgb(r.luma[x * r.luma_step], r.cb[pair], r.cr[pair], out + 4 * col);
        }
    }
}

Rgb32Scaler::Tap Rgb32Scaler::TapFor(int i, int in, int out) {
    // The centre of output pixel i lies at (i + 1/2) * in / out - 1/2 in
    // source pixels; in units of 1 / (2 * out) that is (2i + 1) * in - out.
    const int64_t span = 2 * int64_t(out);
    const int64_t at = (2 * int64_t(i) + 1) * in - out;
    Tap tap;
    if (at <= 0)
        return tap;  // Left of the first centre: the first pixel alone.
    tap.index = int(at / span);
    tap.weight = int(((at % span) * 128 + out) / span);
    if (tap.weight == 128) {
        ++tap.index;
        tap.weight = 0;
    }
    if (tap.index >= in - 1) {
        tap.index = in - 1;
        tap.weight = 0;
    }
    return tap;
}

void Rgb32Scaler::Prepare(int src_width, int src_height, int dst_width, int dst_height) {
    if (src_width == m_src_width && src_height == m_src_height && dst_width == m_dst_width &&
        dst_height == m_dst_height)
        return;
    m_src_width = src_width;
    m_src_height = src_height;
    m_dst_width = dst_width;
    m_dst_height = dst_height;
    m_rows.resize(size_t(dst_height));
    for (int j = 0; j < dst_height; ++j)
        m_rows[size_t(j)] = TapFor(j, src_height, dst_height);
    m_column_index.resize(size_t(dst_width));
    m_column_weights.resize(size_t(dst_width) * 8);
    for (int i = 0; i < dst_width; ++i) {
        const Tap tap = TapFor(i, src_width, dst_width);
        m_column_index[size_t(i)] = tap.index;
        int16_t* w = &m_column_weights[size_t(i) * 8];
        for (int k = 0; k < 4; ++k) {
            w[k] = int16_t(128 - tap.weight);
            w[4 + k] = int16_t(tap.weight);
        }
    }
    m_row.assign(size_t(src_width + 1) * 4, 0);
}

void Rgb32Scaler::Scale(const uint8_t* src, int src_width, int src_height, uint8_t* dst,
                        int dst_width, int dst_height, bool dst_bottom_up) {
    if (!src || !dst || src_width <= 0 || src_height <= 0 || dst_width <= 0 || dst_height <= 0)
        return;
    Prepare(src_width, src_height, dst_width, dst_height);
    const size_t src_stride = size_t(src_width) * 4;
    uint8_t* mixed = m_row.data();
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), half = _mm_set1_epi16(64);
#endif
    for (int j = 0; j < dst_height; ++j) {
        // The two source rows mixed into one...
        const Tap tap = m_rows[size_t(j)];
        const uint8_t* a = src + size_t(tap.index) * src_stride;
        const uint8_t* b = a + (tap.index + 1 < src_height ? src_stride : 0);
        size_t k = 0;
        if (tap.weight == 0) {
            std::memcpy(mixed, a, src_stride);
            k = src_stride;
        }
#if defined(__SSE2__)
        const __m128i wa = _mm_set1_epi16(int16_t(128 - tap.weight));
        const __m128i wb = _mm_set1_epi16(int16_t(tap.weight));
        auto mix = [&](__m128i x, __m128i y) {
            const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(x, wa), _mm_mullo_epi16(y, wb));
            return _mm_srli_epi16(_mm_add_epi16(sum, half), 7);
        };
        for (; k + 16 <= src_stride; k += 16) {
            const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
            const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
            const __m128i lo = mix(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero));
            const __m128i hi = mix(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(mixed + k), _mm_packus_epi16(lo, hi));
        }
#endif
        for (; k < src_stride; ++k)
            mixed[k] = uint8_t((a[k] * (128 - tap.weight) + b[k] * tap.weight + 64) >> 7);
        std::memcpy(mixed + src_stride, mixed + src_stride - 4, 4);

        // ...then each output pixel from two neighbours in that row.
        uint8_t* out = DestRow(dst, Rgb32Stride(dst_width), dst_height, j, dst_bottom_up);
        const int16_t* weights = m_column_weights.data();
        const int* index = m_column_index.data();
        int i = 0;
#if defined(__SSE2__)
        auto pixel = [&](int n) {
            const __m128i pair = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(mixed + size_t(index[n]) * 4)),
                zero);
            const __m128i w =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + size_t(n) * 8));
            const __m128i product = _mm_mullo_epi16(pair, w);
            return _mm_add_epi16(product, _mm_srli_si128(product, 8));
        };
        for (; i + 2 <= dst_width; i += 2) {
            const __m128i two = _mm_unpacklo_epi64(pixel(i), pixel(i + 1));
            const __m128i value = _mm_srli_epi16(_mm_add_epi16(two, half), 7);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + size_t(i) * 4),
                             _mm_packus_epi16(value, value));
        }
#endif
        for (; i < dst_width; ++i) {
            const uint8_t* p = mixed + size_t(index[i]) * 4;
            const int16_t* w = weights + size_t(i) * 8;
            for (int c = 0; c < 4; ++c)
                out[i * 4 + c] = uint8_t((p[c] * w[c] + p[4 + c] * w[4 + c] + 64) >> 7);
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
