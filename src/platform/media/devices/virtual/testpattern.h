#pragma once
// The picture of the Test Pattern Camera: colour bars, a grey ramp and a
// fine grating, a moving square, the timecode and frame number, a border
// that turns white on the frame that holds a whole second, and the frame
// index as a block code.
//
// The block code survives every JPEG quality: its cells are uniform
// 16-pixel squares on the JPEG block grid (one whole 4:2:2 coding unit
// each), black for 0 and white for 1, and they are drawn after the picture
// controls so that no setting can blur or dim them. Three rows of 16 cells
// start at (16, 16): the high 16 bits of the index, the low 16 bits, and the
// complement of their exclusive or as a check.
//
// Drawing is a pure function of the frame index, its time and the settings,
// so two pins that draw the same index show the same picture.

#include <cstdint>

#include "platform/media/codecs/colourspace.h"
#include "platform/media/core/interfaces.h"
#include "platform/media/devices/devicecontrols.h"

namespace ronvix::media {

inline constexpr int kCodeCell = 16;
inline constexpr int kCodeLeft = 16;
inline constexpr int kCodeTop = 16;
inline constexpr int kCodeColumns = 16;
inline constexpr int kCodeRows = 3;
inline constexpr int kBorderWidth = 16;
// The smallest picture that holds the code and the text.
inline constexpr int kMinPatternWidth = 320;
inline constexpr int kMinPatternHeight = 120;

// The three code rows for a frame index.
void BlockCodeRows(uint32_t index, uint16_t rows[kCodeRows]);

// Whether the frame [time, time + period) holds a whole second of stream
// time.
bool HoldsWholeSecond(REFERENCE_TIME time_100ns, REFERENCE_TIME period_100ns);

// Draws frame `index` into `image` (sized by the caller, at least the
// minimum pattern size; smaller pictures get the bars only).
void DrawTestPattern(Yuv422Image& image, uint32_t index, REFERENCE_TIME time_100ns,
                     REFERENCE_TIME period_100ns, const PictureSettings& settings);

// Draws the pictures DrawTestPattern draws, byte for byte, for a sequence of
// frames of one size at a lower cost: while the settings are neutral (all
// 128) the parts that never move (bars, ramp, grating) are drawn once and
// copied; any other setting draws the whole picture. One per thread.
class TestPatternPainter {
public:
    void Draw(Yuv422Image& image, uint32_t index, REFERENCE_TIME time_100ns,
              REFERENCE_TIME period_100ns, const PictureSettings& settings);

private:
    Yuv422Image m_still;
};

}  // namespace ronvix::media
