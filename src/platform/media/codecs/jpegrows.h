#pragma once
// JPEG coding of a picture sequence whose frames differ in a few bands
// only, as a test pattern's do (a moving element, a counter, a code block).
//
// Every frame is a complete baseline JPEG (4:2:2, standard Huffman tables)
// with a restart marker after each MCU row of 8 lines. A restart makes the
// entropy-coded segment of each MCU row independent of the others (the DC
// predictions start again, the bit stream is byte-aligned), so a row whose
// pixels have not changed since the last frame keeps its coded segment, and
// only the changed rows are transformed and coded again. The bytes are
// exactly those of coding the whole frame with the same restart interval.
//
// Pictures whose width is not a multiple of 16 or height not a multiple of
// 8 (a partial MCU) are coded whole every time, with the same result.
//
// One object per thread; failures are results (0 bytes), never exceptions.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/media/codecs/colourspace.h"

namespace ronvix::media {

class JpegRowEncoder {
public:
    JpegRowEncoder();
    ~JpegRowEncoder();
    JpegRowEncoder(const JpegRowEncoder&) = delete;
    JpegRowEncoder& operator=(const JpegRowEncoder&) = delete;

    // The largest frame the encoder writes for this size (JpegEncoder's
    // bound plus the restart markers).
    static size_t MaxSize(int width, int height);

    // Codes `image` at `quality` (1..100) into `dst`; returns the bytes
    // written, 0 when the frame could not be coded (bad size, `dst` smaller
    // than MaxSize, codec error).
    size_t Encode(const Yuv422Image& image, int quality, std::span<uint8_t> dst);

    // Forgets the previous frame: the next one is coded whole.
    void Reset();

    // MCU rows coded again by the last Encode (all of them for a frame
    // coded whole); for tests and measurements.
    int RowsCodedLast() const { return m_rows_coded; }

private:
    struct Codec;
    // Codes lines [row0 * 8, row1 * 8) of `image` as a picture of its own
    // into m_scratch; false on a codec error.
    bool CodeRows(const Yuv422Image& image, int quality, int row0, int row1, int full_height);
    // The segments of m_scratch's entropy-coded data, appended to `data`
    // with their offsets; also its header when `header` is set.
    bool SplitScratch(std::vector<uint8_t>& data, std::vector<size_t>& offsets, bool header);

    std::unique_ptr<Codec> m_codec;
    std::vector<uint8_t> m_scratch;
    // The last frame: its pixels, its header (SOI to the end of SOS) and
    // each MCU row's coded segment (without its marker).
    Yuv422Image m_previous;
    int m_quality = 0;
    std::vector<uint8_t> m_header;
    std::vector<uint8_t> m_segments, m_next_segments;
    std::vector<size_t> m_offsets, m_next_offsets;  // rows + 1 entries
    std::vector<uint8_t> m_strip;                   // segments of one strip
    std::vector<size_t> m_strip_offsets;
    std::vector<uint8_t> m_changed;
    int m_rows_coded = 0;
};

}  // namespace ronvix::media
