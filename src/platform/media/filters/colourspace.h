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
// Every function is pure and thread-safe; widths are even where YUY2 or
// Yuv422Image is involved (odd widths are rounded down to even pixels).

#include <cstddef>
#include <cstdint>
#include <vector>

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

}  // namespace ronvix::media
