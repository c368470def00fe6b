#include "platform/media/devices/virtual/testpattern.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace ronvix::media {

namespace {

constexpr REFERENCE_TIME kSecond = 10'000'000;

// 5 x 7 glyphs, one byte per row, bit 4 the leftmost column.
struct Glyph {
    char c;
    std::array<uint8_t, 7> rows;
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
};

constexpr int kGlyphScale = 3;
constexpr int kGlyphAdvance = 6 * kGlyphScale;
constexpr int kGlyphHeight = 7 * kGlyphScale;

inline uint8_t Clamp8(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// Fills the rectangle [x0, x1) x [y0, y1), clipped, with one colour. x0 and
// x1 are rounded to even columns so chroma pairs stay whole.
void Fill(Yuv422Image& img, int x0, int y0, int x1, int y1, YuvColour c) {
    x0 = std::max(0, x0 & ~1);
    x1 = std::min(img.width, (x1 + 1) & ~1);
    y0 = std::max(0, y0);
    y1 = std::min(img.height, y1);
    const int cw = img.ChromaWidth();
    for (int y = y0; y < y1; ++y) {
        std::memset(img.y.data() + size_t(y) * img.width + x0, c.y, size_t(std::max(0, x1 - x0)));
        for (int x = x0 / 2; x < x1 / 2; ++x) {
            img.u[size_t(y) * cw + x] = c.u;
            img.v[size_t(y) * cw + x] = c.v;
        }
    }
}

void DrawText(Yuv422Image& img, int x, int y, const char* text, YuvColour ink, YuvColour paper) {
    const int n = static_cast<int>(std::strlen(text));
    Fill(img, x - 6, y - 6, x + n * kGlyphAdvance + 6, y + kGlyphHeight + 6, paper);
    for (int i = 0; i < n; ++i, x += kGlyphAdvance) {
        const Glyph* g = nullptr;
        for (const Glyph& candidate : kGlyphs)
            if (candidate.c == text[i])
                g = &candidate;
        if (!g)
            continue;
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (g->rows[row] & (0x10 >> col))
                    for (int dy = 0; dy < kGlyphScale; ++dy) {
                        const int py = y + row * kGlyphScale + dy;
                        const int px = x + col * kGlyphScale;
                        if (py < 0 || py >= img.height || px < 0 || px + kGlyphScale > img.width)
                            continue;
                        std::memset(img.y.data() + size_t(py) * img.width + px, ink.y, kGlyphScale);
                    }
    }
}

// The parts of the picture that never move.
void DrawStill(Yuv422Image& img) {
    // Bars at 75 % amplitude, so a saturation above neutral still has room
    // in the RGB gamut before it clips.
    static const YuvColour bars[8] = {RgbToYuvFull(191, 191, 191), RgbToYuvFull(191, 191, 0),
                                      RgbToYuvFull(0, 191, 191),   RgbToYuvFull(0, 191, 0),
                                      RgbToYuvFull(191, 0, 191),   RgbToYuvFull(191, 0, 0),
                                      RgbToYuvFull(0, 0, 191),     RgbToYuvFull(0, 0, 0)};
    const int w = img.width, h = img.height;
    const int bars_bottom = h * 2 / 3;
    for (int i = 0; i < 8; ++i)
        Fill(img, w * i / 8, 0, w * (i + 1) / 8, bars_bottom, bars[i]);
    // Lower third: a grey ramp on the left, a fine grating on the right.
    Fill(img, 0, bars_bottom, w, h, YuvColour{128, 128, 128});
    const int half = w / 2;
    for (int y = bars_bottom; y < h; ++y) {
        uint8_t* row = img.y.data() + size_t(y) * w;
        for (int x = 0; x < half; ++x)
            row[x] = static_cast<uint8_t>(x * 255 / std::max(1, half - 1));
        for (int x = half; x < w; ++x)
            row[x] = (x & 1) ? 160 : 96;
    }
}

// The moving square crosses the bars from left to right.
void DrawSquare(Yuv422Image& img, uint32_t index) {
    const int w = img.width, h = img.height;
    const int bars_bottom = h * 2 / 3;
    const int side = std::max(8, h / 10) & ~1;
    const int travel = std::max(1, w - side);
    const int x = static_cast<int>((uint64_t(index) * 8) % uint64_t(travel));
    const int y = bars_bottom / 2 - side / 2;
    Fill(img, x, y, x + side, y + side, RgbToYuvFull(191, 96, 0));
    Fill(img, x + side / 4, y + side / 4, x + side - side / 4, y + side - side / 4,
         RgbToYuvFull(32, 32, 32));
}

// Sharpness, contrast and brightness on luma; saturation on chroma.
void ApplySettings(Yuv422Image& img, const PictureSettings& s) {
    const int w = img.width, h = img.height;
    if (s.sharpness != 128 && w >= 3 && h >= 3) {
        // Unsharp masking against a [1 2 1] blur: a weight of -1 gives the
        // blur itself, 0 the picture, up to 3 a strong sharpening. Weights
        // in 1/256.
        const int weight = s.sharpness < 128 ? (s.sharpness - 128) * 256 / 128
                                             : (s.sharpness - 128) * 3 * 256 / 127;
        std::vector<uint8_t> blurred(img.y.size());
        for (int y = 0; y < h; ++y) {
            const uint8_t* up = img.y.data() + size_t(std::max(0, y - 1)) * w;
            const uint8_t* mid = img.y.data() + size_t(y) * w;
            const uint8_t* down = img.y.data() + size_t(std::min(h - 1, y + 1)) * w;
            uint8_t* out = blurred.data() + size_t(y) * w;
            for (int x = 0; x < w; ++x) {
                const int l = std::max(0, x - 1), r = std::min(w - 1, x + 1);
                const int sum = up[l] + 2 * up[x] + up[r] + 2 * (mid[l] + 2 * mid[x] + mid[r]) +
                                down[l] + 2 * down[x] + down[r];
                out[x] = static_cast<uint8_t>((sum + 8) / 16);
            }
        }
        for (size_t i = 0; i < img.y.size(); ++i) {
            const int y = img.y[i];
            img.y[i] = Clamp8(y + ((weight * (y - blurred[i])) >> 8));
        }
    }
    if (s.contrast != 128 || s.brightness != 128) {
        uint8_t map[256];
        for (int i = 0; i < 256; ++i) {
            const int d = (i - 128) * s.contrast;
            const int scaled = d >= 0 ? (d + 64) / 128 : -((-d + 64) / 128);
            map[i] = Clamp8(scaled + 128 + (s.brightness - 128));
        }
        for (uint8_t& y : img.y)
            y = map[y];
    }
    if (s.saturation != 128) {
        uint8_t map[256];
        for (int i = 0; i < 256; ++i)
            map[i] = Clamp8((i - 128) * s.saturation / 128 + 128);
        for (uint8_t& c : img.u)
            c = map[c];
        for (uint8_t& c : img.v)
            c = map[c];
    }
}

}  // namespace

void BlockCodeRows(uint32_t index, uint16_t rows[kCodeRows]) {
    rows[0] = static_cast<uint16_t>(index >> 16);
    rows[1] = static_cast<uint16_t>(index & 0xFFFF);
    rows[2] = static_cast<uint16_t>(~(rows[0] ^ rows[1]));
}

bool HoldsWholeSecond(REFERENCE_TIME time, REFERENCE_TIME period) {
    if (time < 0 || period <= 0)
        return false;
    const REFERENCE_TIME next = (time + kSecond - 1) / kSecond * kSecond;
    return next < time + period;
}

namespace {

bool Neutral(const PictureSettings& s) {
    return s.brightness == 128 && s.contrast == 128 && s.saturation == 128 && s.sharpness == 128;
}

// What is drawn over the picture after the settings: timecode, frame
// number, border and block code.
void DrawMarks(Yuv422Image& img, uint32_t index, REFERENCE_TIME time, REFERENCE_TIME period);

}  // namespace

void DrawTestPattern(Yuv422Image& img, uint32_t index, REFERENCE_TIME time, REFERENCE_TIME period,
                     const PictureSettings& settings) {
    if (img.width <= 0 || img.height <= 0)
        return;
    DrawStill(img);
    DrawSquare(img, index);
    ApplySettings(img, settings);
    DrawMarks(img, index, time, period);
}

void TestPatternPainter::Draw(Yuv422Image& img, uint32_t index, REFERENCE_TIME time,
                              REFERENCE_TIME period, const PictureSettings& settings) {
    if (img.width <= 0 || img.height <= 0)
        return;
    if (!Neutral(settings)) {
        DrawTestPattern(img, index, time, period, settings);
        return;
    }
    if (m_still.width != img.width || m_still.height != img.height) {
        m_still.Resize(img.width, img.height);
        DrawStill(m_still);
    }
    // Same sizes: the copies reuse the picture's memory.
    img.y = m_still.y;
    img.u = m_still.u;
    img.v = m_still.v;
    DrawSquare(img, index);
    DrawMarks(img, index, time, period);
}

namespace {

void DrawMarks(Yuv422Image& img, uint32_t index, REFERENCE_TIME time, REFERENCE_TIME period) {
    if (img.width < kMinPatternWidth || img.height < kMinPatternHeight)
        return;

    const YuvColour white{255, 128, 128}, black{0, 128, 128};
    const int w = img.width, h = img.height;
    // Timecode (hours:minutes:seconds:frames) and frame number.
    const REFERENCE_TIME t = std::max<REFERENCE_TIME>(0, time);
    const long long seconds = t / kSecond;
    const long long frames = period > 0 ? (t % kSecond) / period : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld:%02lld", (seconds / 3600) % 100,
                  (seconds / 60) % 60, seconds % 60, frames);
    const int text_y = h - kBorderWidth - kGlyphHeight - 12;
    DrawText(img, kBorderWidth + 12, text_y, text, white, black);
    std::snprintf(text, sizeof text, "#%u", index);
    DrawText(img, w - kBorderWidth - 12 - 11 * kGlyphAdvance, text_y, text, white, black);

    const YuvColour ring = HoldsWholeSecond(time, period) ? white : black;
    Fill(img, 0, 0, w, kBorderWidth, ring);
    Fill(img, 0, h - kBorderWidth, w, h, ring);
    Fill(img, 0, 0, kBorderWidth, h, ring);
    Fill(img, w - kBorderWidth, 0, w, h, ring);

    uint16_t rows[kCodeRows];
    BlockCodeRows(index, rows);
    for (int r = 0; r < kCodeRows; ++r)
        for (int bit = 0; bit < kCodeColumns; ++bit) {
            const bool one = rows[r] & (0x8000 >> bit);
            const int x = kCodeLeft + bit * kCodeCell, y = kCodeTop + r * kCodeCell;
            Fill(img, x, y, x + kCodeCell, y + kCodeCell, one ? white : black);
        }
}

}  // namespace

}  // namespace ronvix::media
