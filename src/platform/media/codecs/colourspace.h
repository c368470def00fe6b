#pragma once
// Pixel layouts of the engine's uncompressed video and the conversions
// between them.
//
// Layouts, as the platform's format blocks describe them:
// - RGB32: B, G, R, X bytes per pixel, rows of width * 4 bytes; bottom-up
//   when the bitmap height is positive, top-down when it is negative.
// - RGB24: B, G, R bytes per pixel, rows padded to a multiple of 4 bytes;
//   orientation as RGB32.
// - YUY2: Y0 U Y1 V per pixel pair, rows of width * 2 bytes, always
//   top-down, studio range (BT.601, luma 16..235, chroma 16..240).
// - Yuv422Image: the engine's own planar picture in the JPEG (full) range,
//   chroma at half horizontal resolution; what the test camera draws and
//   what the JPEG coder compresses without a colour conversion.
//
// - Studio-range YUV as capture devices deliver it (YuvLayout): YUY2 and
//   UYVY (packed 4:2:2), NV12 and I420 (4:2:0: a luma plane, then the
//   chroma at half the width and half the height, NV12's interleaved
//   Cb, Cr, I420's Cb plane then Cr plane). Rows packed, top-down; luma
//   16..235 and chroma 16..240 are the nominal range, as in BT.601.
// - YuvPlanes: a planar picture in the JPEG (full) range with 4:2:2 or
//   4:2:0 chroma, what the JPEG coder compresses as it is.
//
// Every function is pure and thread-safe; widths are even where YUY2 or
// Yuv422Image is involved (odd widths are rounded down to even pixels), and
// widths and heights are even for the 4:2:0 layouts.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/com/guid.h"

namespace ronvix::media {

struct Yuv422Image {
    int width = 0;           // even
    int height = 0;          // positive
    std::vector<uint8_t> y;  // width * height
    std::vector<uint8_t> u;  // (width / 2) * height, Cb
    std::vector<uint8_t> v;  // (width / 2) * height, Cr

    void Resize(int w, int h);
    int ChromaWidth() const { return width / 2; }
};

enum class YuvLayout { Yuy2, Uyvy, Nv12, I420 };

// The layout of a video subtype, or nothing for one that is not studio YUV.
std::optional<YuvLayout> YuvLayoutOf(const com::GUID& subtype);
// Whether the layout's chroma has half the picture's height.
inline bool IsYuv420(YuvLayout layout) {
    return layout == YuvLayout::Nv12 || layout == YuvLayout::I420;
}
// Whether the layout can carry a picture of this size (even widths; even
// heights too for 4:2:0) and how many bytes one packed frame takes (0 when
// it cannot).
bool YuvSizeUsable(YuvLayout layout, int width, int height);
size_t YuvImageSize(YuvLayout layout, int width, int height);

// A planar picture in the JPEG range; chroma of ChromaWidth() x
// ChromaHeight().
struct YuvPlanes {
    int width = 0;
    int height = 0;
    bool half_height = false;  // 4:2:0 chroma; otherwise 4:2:2.
    std::vector<uint8_t> y, u, v;

    void Resize(int w, int h, bool chroma_half_height);
    int ChromaWidth() const { return width / 2; }
    int ChromaHeight() const { return half_height ? height / 2 : height; }
};

// Studio range to the JPEG range, exactly: luma 16..235 to 0..255 and
// chroma 16..240 to 0..255 around 128. Full range has no code beyond
// white and black, so what a camera puts above studio white (up to 254)
// or below studio black saturates there: it is not cut at the studio
// limit before the scaling, and never wraps round. Chroma stays chroma
// (the picture never goes through RGB), so a bright highlight keeps its
// colour where an RGB detour would clip each channel on its own.
uint8_t StudioToFullLuma(uint8_t y);
uint8_t StudioToFullChroma(uint8_t c);
// The JPEG range back to studio range, rounded to nearest: luma 0..255 to
// 16..235, chroma 0..255 to 16..240 around 128. Every value the studio
// range holds comes back from StudioToFull* as it was.
uint8_t FullToStudioLuma(uint8_t y);
uint8_t FullToStudioChroma(uint8_t c);
// One row of full-range 4:2:2 planes (2 * `pairs` luma, `pairs` Cb and Cr
// samples) as a studio-range YUY2 row: what a JPEG decoded as its own
// samples becomes without a detour through RGB, so no colour outside RGB's
// gamut is clipped on the way.
void FullPlanesRowToYuy2(const uint8_t* y, const uint8_t* u, const uint8_t* v, size_t pairs,
                         uint8_t* dst);

// A frame of `layout` (width x height, packed as above) into `dst`, in the
// JPEG range, with the layout's own chroma sampling (4:2:2 or 4:2:0).
void StudioYuvToPlanes(const uint8_t* src, YuvLayout layout, int width, int height, YuvPlanes* dst);
// The same for picture lines [line0, line0 + lines) only: `lines` luma rows
// of `width` bytes into `y`, `y_stride` apart, and their chroma rows (as
// many for 4:2:2; half as many, from line0 / 2, for 4:2:0, where line0 is
// even) of width / 2 bytes into `u` and `v`, `chroma_stride` apart. What a
// coder that takes the picture a strip at a time converts while the strip
// is still in the cache. Does nothing for a range outside the picture.
void StudioYuvStripToPlanes(const uint8_t* src, YuvLayout layout, int width, int height, int line0,
                            int lines, uint8_t* y, size_t y_stride, uint8_t* u, uint8_t* v,
                            size_t chroma_stride);
// A frame of `layout` to RGB32 (the studio range expanded as above).
void StudioYuvToRgb32(const uint8_t* src, YuvLayout layout, int width, int height, uint8_t* dst,
                      bool dst_bottom_up);

// Every `step`-th pixel of every `step`-th row of studio-range YUV as
// full-range RGB32 of (width / step) x (height / step): a preview's picture
// made at the size it is shown, at the cost of the pixels kept. step >= 1.
void StudioYuvToRgb32Every(const uint8_t* src, YuvLayout layout, int width, int height, int step,
                           uint8_t* dst, bool dst_bottom_up);

// Row strides in bytes.
inline int Rgb32Stride(int width) {
    return width * 4;
}
inline int Rgb24Stride(int width) {
    return (width * 3 + 3) & ~3;
}
inline int Yuy2Stride(int width) {
    return width * 2;
}

// The image size of one frame, or 0 for an unsupported layout.
size_t Rgb32ImageSize(int width, int height);
size_t Rgb24ImageSize(int width, int height);
size_t Yuy2ImageSize(int width, int height);

// One colour, full-range.
struct YuvColour {
    uint8_t y = 0, u = 128, v = 128;
};
YuvColour RgbToYuvFull(int r, int g, int b);

// `bottom_up`: the first row of `dst` is the bottom row of the picture.
void Yuv422ToRgb32(const Yuv422Image& src, uint8_t* dst, bool bottom_up);
// Rows [row0, row1) of `src` (clipped to the picture) into their places in
// `dst`, a whole RGB32 picture of src's size; the other rows are untouched.
void Yuv422RowsToRgb32(const Yuv422Image& src, int row0, int row1, uint8_t* dst, bool bottom_up);
void Yuv422ToYuy2(const Yuv422Image& src, uint8_t* dst);

// Converts packed frames of `width` x `height` pixels to RGB32.
void Yuy2ToRgb32(const uint8_t* src, int width, int height, uint8_t* dst, bool dst_bottom_up);
void Rgb24ToRgb32(const uint8_t* src, bool src_bottom_up, int width, int height, uint8_t* dst,
                  bool dst_bottom_up);
// Copies RGB32, flipping when the orientations differ.
void Rgb32ToRgb32(const uint8_t* src, bool src_bottom_up, int width, int height, uint8_t* dst,
                  bool dst_bottom_up);
// Top-down BGRX rows to YUY2 (studio range).
void Rgb32ToYuy2(const uint8_t* src, bool src_bottom_up, int width, int height, uint8_t* dst);

// Bilinear resampling of packed top-down RGB32 pictures: a preview's picture
// made at the size it is drawn, in one pass over the decoded one. Each
// output pixel is the mix of the 2 x 2 source pixels around its centre
// (weights in 128ths), which leaves no source pixel out for ratios down to
// one half; further down it skips some. Keeps its tables between frames of
// the same sizes, so one object serves one thread.
class Rgb32Scaler {
public:
    // `src`: src_width x src_height, top-down rows of src_width * 4 bytes.
    // `dst`: dst_width x dst_height, rows of dst_width * 4 bytes, the
    // bottom row first when `dst_bottom_up`.
    void Scale(const uint8_t* src, int src_width, int src_height, uint8_t* dst, int dst_width,
               int dst_height, bool dst_bottom_up);
    // Whether a picture of src_width x src_height is for this scaler at
    // dst_width x dst_height: at most twice the output size each way (any
    // enlargement included); smaller ones are better averaged.
    static bool Suits(int src_width, int src_height, int dst_width, int dst_height) {
        return dst_width > 0 && dst_height > 0 && src_width <= 2 * dst_width &&
               src_height <= 2 * dst_height;
    }

    // Where output pixel `i` of `out` takes its two source pixels from:
    // `index` and `index + 1` (the last one repeated past the edge), the
    // second weighing `weight` / 128.
    struct Tap {
        int index = 0;
        int weight = 0;
    };
    static Tap TapFor(int i, int in, int out);

private:
    void Prepare(int src_width, int src_height, int dst_width, int dst_height);

    int m_src_width = 0, m_src_height = 0, m_dst_width = 0, m_dst_height = 0;
    std::vector<Tap> m_rows;
    // Per output column, the two source pixels' weights for each byte
    // (4 x (128 - w), 4 x w), as the vector code reads them.
    std::vector<int16_t> m_column_weights;
    std::vector<int> m_column_index;
    // One source row mixed from two, and a copy of its last pixel.
    std::vector<uint8_t> m_row;
};

}  // namespace ronvix::media
