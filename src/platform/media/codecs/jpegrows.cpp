#include "platform/media/codecs/jpegrows.h"

#include <algorithm>
#include <cstring>

#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/codecs/libjpegcompressor.h"

namespace ronvix::media {

namespace {

constexpr int kMcuLines = 8;   // 4:2:2: one MCU row is 8 lines
constexpr int kMcuWidth = 16;  // and 16 columns
constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kRst0 = 0xD0;
constexpr uint8_t kEoi = 0xD9;
constexpr uint8_t kSos = 0xDA;

}  // namespace

// The libjpeg compressor, coding into a vector the encoder keeps.
struct JpegRowEncoder::Codec : LibjpegCompressor {};

JpegRowEncoder::JpegRowEncoder() : m_codec(std::make_unique<Codec>()) {}

JpegRowEncoder::~JpegRowEncoder() = default;

size_t JpegRowEncoder::MaxSize(int width, int height) {
    const size_t whole = JpegEncoder::MaxSize(width, height);
    if (whole == 0)
        return 0;
    // Two bytes of marker and at most one byte of padding per MCU row.
    return whole + 3 * size_t((height + kMcuLines - 1) / kMcuLines) + 1024;
}

void JpegRowEncoder::Reset() {
    m_previous = Yuv422Image();
    m_header.clear();
    m_quality = 0;
}

bool JpegRowEncoder::CodeRows(const Yuv422Image& image, int quality, int row0, int row1,
                              int full_height) {
    Codec& c = *m_codec;
    jpeg_compress_struct& cinfo = c.cinfo;
    c.out = &m_scratch;
    m_scratch.clear();
    if (setjmp(c.jump)) {
        jpeg_abort_compress(&cinfo);
        return false;
    }
    const int first_line = row0 * kMcuLines;
    const int lines = std::min(full_height, row1 * kMcuLines) - first_line;
    c.StartRaw(image.width, lines, false, quality, true);

    // Eight lines of each plane per call; the last MCU row of a picture
    // whose height is not a multiple of 8 repeats its last line.
    JSAMPROW y_rows[kMcuLines], u_rows[kMcuLines], v_rows[kMcuLines];
    JSAMPARRAY planes[3] = {y_rows, u_rows, v_rows};
    const int cw = image.ChromaWidth();
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int i = 0; i < kMcuLines; ++i) {
            const int line = first_line + std::min(int(cinfo.next_scanline) + i, lines - 1);
            y_rows[i] = const_cast<JSAMPROW>(image.y.data() + size_t(line) * image.width);
            u_rows[i] = const_cast<JSAMPROW>(image.u.data() + size_t(line) * cw);
            v_rows[i] = const_cast<JSAMPROW>(image.v.data() + size_t(line) * cw);
        }
        if (jpeg_write_raw_data(&cinfo, planes, kMcuLines) == 0)
            break;
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

bool JpegRowEncoder::SplitScratch(std::vector<uint8_t>& data, std::vector<size_t>& offsets,
                                  bool header) {
    const uint8_t* b = m_scratch.data();
    const size_t n = m_scratch.size();
    // Markers up to and including the start of scan.
    size_t i = 2;
    for (;;) {
        if (i + 4 > n || b[i] != kMarker)
            return false;
        const uint8_t marker = b[i + 1];
        const size_t length = (size_t(b[i + 2]) << 8) | b[i + 3];
        i += 2 + length;
        if (marker == kSos)
            break;
    }
    if (header)
        m_header.assign(b, b + i);
    size_t start = i;
    while (i + 1 < n) {
        if (b[i] != kMarker) {
            ++i;
            continue;
        }
        const uint8_t next = b[i + 1];
        if (next == 0x00 || next == kMarker) {  // a stuffed byte, or fill
            i += next == 0x00 ? 2 : 1;
            continue;
        }
        data.insert(data.end(), b + start, b + i);
        offsets.push_back(data.size());
        if (next == kEoi)
            return true;
        if (next < kRst0 || next > kRst0 + 7)
            return false;
        i += 2;
        start = i;
    }
    return false;
}

size_t JpegRowEncoder::Encode(const Yuv422Image& image, int quality, std::span<uint8_t> dst) {
    m_rows_coded = 0;
    if (image.width <= 0 || image.height <= 0 || image.width % 2 != 0 ||
        dst.size() < MaxSize(image.width, image.height))
        return 0;
    quality = std::clamp(quality, 1, 100);
    const int rows = (image.height + kMcuLines - 1) / kMcuLines;
    const bool whole_mcus = image.width % kMcuWidth == 0 && image.height % kMcuLines == 0;
    const bool same = whole_mcus && !m_header.empty() && quality == m_quality &&
                      m_previous.width == image.width && m_previous.height == image.height &&
                      m_offsets.size() == size_t(rows) + 1;

    // Which MCU rows differ from the last frame.
    m_changed.assign(size_t(rows), 1);
    if (same) {
        const int cw = image.ChromaWidth();
        for (int r = 0; r < rows; ++r) {
            const size_t y0 = size_t(r) * kMcuLines;
            const size_t lines = kMcuLines;
            m_changed[size_t(r)] =
                std::memcmp(image.y.data() + y0 * image.width,
                            m_previous.y.data() + y0 * image.width, lines * image.width) != 0 ||
                std::memcmp(image.u.data() + y0 * cw, m_previous.u.data() + y0 * cw, lines * cw) !=
                    0 ||
                std::memcmp(image.v.data() + y0 * cw, m_previous.v.data() + y0 * cw, lines * cw) !=
                    0;
        }
    }

    // The new segments: kept ones copied, changed runs coded as strips.
    m_next_segments.clear();
    m_next_offsets.assign(1, 0);
    for (int r = 0; r < rows;) {
        if (!m_changed[size_t(r)]) {
            m_next_segments.insert(m_next_segments.end(), m_segments.begin() + m_offsets[r],
                                   m_segments.begin() + m_offsets[r + 1]);
            m_next_offsets.push_back(m_next_segments.size());
            ++r;
            continue;
        }
        int end = r;
        while (end < rows && m_changed[size_t(end)])
            ++end;
        const bool all = r == 0 && end == rows;
        if (!CodeRows(image, quality, r, end, image.height)) {
            Reset();
            return 0;
        }
        m_strip.clear();
        m_strip_offsets.assign(1, 0);
        if (!SplitScratch(m_strip, m_strip_offsets, all) ||
            m_strip_offsets.size() != size_t(end - r) + 1) {
            Reset();
            return 0;
        }
        m_next_segments.insert(m_next_segments.end(), m_strip.begin(), m_strip.end());
        const size_t base = m_next_offsets.back();
        for (size_t k = 1; k < m_strip_offsets.size(); ++k)
            m_next_offsets.push_back(base + m_strip_offsets[k]);
        m_rows_coded += end - r;
        r = end;
    }
    m_segments.swap(m_next_segments);
    m_offsets.swap(m_next_offsets);

    // Header, each row's segment with its restart marker, end of image.
    const size_t total = m_header.size() + m_segments.size() + 2 * size_t(rows);
    if (m_header.empty() || total > dst.size()) {
        Reset();
        return 0;
    }
    uint8_t* out = dst.data();
    std::memcpy(out, m_header.data(), m_header.size());
    out += m_header.size();
    for (int r = 0; r < rows; ++r) {
        const size_t length = m_offsets[r + 1] - m_offsets[r];
        std::memcpy(out, m_segments.data() + m_offsets[r], length);
        out += length;
        *out++ = kMarker;
        *out++ = r + 1 < rows ? uint8_t(kRst0 + r % 8) : kEoi;
    }

    // Remember the pixels of the rows that changed.
    if (!whole_mcus) {
        m_header.clear();  // coded whole next time too
    } else if (!same) {
        m_previous = image;
    } else {
        const int cw = image.ChromaWidth();
        for (int r = 0; r < rows; ++r) {
            if (!m_changed[size_t(r)])
                continue;
            const size_t y0 = size_t(r) * kMcuLines;
            std::memcpy(m_previous.y.data() + y0 * image.width, image.y.data() + y0 * image.width,
                        kMcuLines * size_t(image.width));
            std::memcpy(m_previous.u.data() + y0 * cw, image.u.data() + y0 * cw,
                        kMcuLines * size_t(cw));
            std::memcpy(m_previous.v.data() + y0 * cw, image.v.data() + y0 * cw,
                        kMcuLines * size_t(cw));
        }
    }
    m_quality = quality;
    return size_t(out - dst.data());
}

}  // namespace ronvix::media
