#pragma once
// An independent reader for the pictures the engine's video sources and
// codecs produce, for tests: decodes JPEG with its own codec handle, reads
// the test camera's block code, and measures what the picture controls
// change (mean luma, spread, chroma, high-frequency energy) and PSNR.
// Header only; any thread.

#include <turbojpeg.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

namespace ronvix::media::test {

// Top-down B, G, R, X pixels.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgrx;

    bool Empty() const { return width <= 0 || height <= 0; }
    const uint8_t* Pixel(int x, int y) const { return bgrx.data() + (size_t(y) * width + x) * 4; }
    double Luma(int x, int y) const {
        const uint8_t* p = Pixel(x, y);
        return 0.299 * p[2] + 0.587 * p[1] + 0.114 * p[0];
    }
};

inline Picture DecodeJpeg(const uint8_t* data, size_t size) {
    Picture pic;
    tjhandle h = tjInitDecompress();
    int w = 0, ht = 0, sub = 0, cs = 0;
    if (tjDecompressHeader3(h, data, static_cast<unsigned long>(size), &w, &ht, &sub, &cs) == 0 &&
        w > 0 && ht > 0) {
        pic.bgrx.resize(size_t(w) * ht * 4);
        if (tjDecompress2(h, data, static_cast<unsigned long>(size), pic.bgrx.data(), w, w * 4, ht,
                          TJPF_BGRX, 0) == 0) {
            pic.width = w;
            pic.height = ht;
        } else {
            pic.bgrx.clear();
        }
    }
    tjDestroy(h);
    return pic;
}
inline Picture DecodeJpeg(const std::vector<uint8_t>& data) {
    return DecodeJpeg(data.data(), data.size());
}

inline Picture FromRgb32(const std::vector<uint8_t>& data, int width, int height, bool bottom_up) {
    Picture pic;
    if (data.size() < size_t(width) * height * 4)
        return pic;
    pic.width = width;
    pic.height = height;
    pic.bgrx.resize(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        const int src = bottom_up ? height - 1 - y : y;
        std::copy_n(data.data() + size_t(src) * width * 4, size_t(width) * 4,
                    pic.bgrx.data() + size_t(y) * width * 4);
    }
    return pic;
}

// YUY2 (studio range) read with the textbook BT.601 equations.
inline Picture FromYuy2(const std::vector<uint8_t>& data, int width, int height) {
    Picture pic;
    if (data.size() < size_t(width) * height * 2)
        return pic;
    pic.width = width;
    pic.height = height;
    pic.bgrx.resize(size_t(width) * height * 4);
    auto clamp = [](double v) { return uint8_t(std::lround(std::min(255.0, std::max(0.0, v)))); };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* q = data.data() + size_t(y) * width * 2 + (x / 2) * 4;
            const double Y = 1.164 * ((x % 2 ? q[2] : q[0]) - 16.0);
            const double U = q[1] - 128.0, V = q[3] - 128.0;
            uint8_t* p = pic.bgrx.data() + (size_t(y) * width + x) * 4;
            p[0] = clamp(Y + 2.018 * U);
            p[1] = clamp(Y - 0.391 * U - 0.813 * V);
            p[2] = clamp(Y + 1.596 * V);
            p[3] = 255;
        }
    return pic;
}

// The block code: three rows of sixteen 16-pixel cells from (16, 16): high
// half, low half, complement of their exclusive or. Nothing when a cell
// is not clearly black or white or the check fails.
inline std::optional<uint32_t> ReadBlockCode(const Picture& pic) {
    if (pic.width < 16 * 18 || pic.height < 16 * 4)
        return std::nullopt;
    uint16_t rows[3] = {};
    for (int r = 0; r < 3; ++r)
        for (int bit = 0; bit < 16; ++bit) {
            double sum = 0;
            const int x0 = 16 + bit * 16 + 4, y0 = 16 + r * 16 + 4;
            for (int y = y0; y < y0 + 8; ++y)
                for (int x = x0; x < x0 + 8; ++x)
                    sum += pic.Luma(x, y);
            const double mean = sum / 64;
            if (mean > 80 && mean < 176)
                return std::nullopt;
            if (mean >= 176)
                rows[r] |= uint16_t(0x8000 >> bit);
        }
    if (uint16_t(~(rows[0] ^ rows[1])) != rows[2])
        return std::nullopt;
    return (uint32_t(rows[0]) << 16) | rows[1];
}

// Whether the 16-pixel ring around the picture is white (the whole-second
// mark) rather than black.
inline bool HasWhiteBorder(const Picture& pic) {
    double sum = 0;
    int n = 0;
    for (int x = 4; x < pic.width - 4; x += 3) {
        sum += pic.Luma(x, 6) + pic.Luma(x, pic.height - 7);
        n += 2;
    }
    return n && sum / n > 200;
}

// Statistics of the picture's content area (inside the border, below the
// block code, above the text line).
struct PictureStats {
    double mean_luma = 0;
    double luma_spread = 0;     // standard deviation
    double chroma = 0;          // mean distance of (Cb, Cr) from grey
    double high_frequency = 0;  // mean squared Laplacian of luma
};

inline PictureStats MeasurePicture(const Picture& pic) {
    PictureStats s;
    const int x0 = 24, x1 = pic.width - 24, y0 = 80, y1 = pic.height - 80;
    double sum = 0, sum2 = 0, chroma = 0, hf = 0;
    long n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = pic.Pixel(x, y);
            const double l = pic.Luma(x, y);
            sum += l;
            sum2 += l * l;
            const double cb = -0.168736 * p[2] - 0.331264 * p[1] + 0.5 * p[0];
            const double cr = 0.5 * p[2] - 0.418688 * p[1] - 0.081312 * p[0];
            chroma += std::sqrt(cb * cb + cr * cr);
            const double lap = 4 * l - pic.Luma(x - 1, y) - pic.Luma(x + 1, y) -
                               pic.Luma(x, y - 1) - pic.Luma(x, y + 1);
            hf += lap * lap;
            ++n;
        }
    if (!n)
        return s;
    s.mean_luma = sum / n;
    s.luma_spread = std::sqrt(std::max(0.0, sum2 / n - s.mean_luma * s.mean_luma));
    s.chroma = chroma / n;
    s.high_frequency = hf / n;
    return s;
}

// Peak signal-to-noise ratio over the colour channels, in dB (infinite for
// identical pictures, 0 for pictures of different sizes).
inline double Psnr(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height || a.Empty())
        return 0;
    double se = 0;
    for (size_t i = 0; i < a.bgrx.size(); ++i) {
        if (i % 4 == 3)
            continue;
        const double d = double(a.bgrx[i]) - double(b.bgrx[i]);
        se += d * d;
    }
    const double mse = se / (double(a.width) * a.height * 3);
    return mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace ronvix::media::test
