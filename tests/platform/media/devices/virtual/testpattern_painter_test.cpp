// The camera's painter draws what DrawTestPattern draws, byte for byte, as
// frames, settings and sizes change: the still parts it keeps never leak a
// stale picture into a frame.

#include <gtest/gtest.h>

#include "platform/media/devices/virtual/testpattern.h"

namespace ronvix::media {
namespace {

constexpr REFERENCE_TIME kPeriod = 400'000;

void ExpectSame(const Yuv422Image& a, const Yuv422Image& b, uint32_t index) {
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.height, b.height);
    EXPECT_TRUE(a.y == b.y && a.u == b.u && a.v == b.v) << "frame " << index;
}

TEST(TestPatternPainter, DrawsTheSamePicturesAsTheFullDrawing) {
    TestPatternPainter painter;
    Yuv422Image painted, drawn;
    struct Step {
        int width, height;
        PictureSettings settings;
    };
    PictureSettings bright;
    bright.brightness = 200;
    bright.sharpness = 30;
    const Step steps[] = {{720, 576, {}}, {720, 576, bright}, {720, 576, {}},
                          {640, 480, {}}, {330, 122, {}},     {100, 60, {}}};
    uint32_t index = 20;
    for (const Step& step : steps) {
        painted.Resize(step.width, step.height);
        drawn.Resize(step.width, step.height);
        // Across a whole second, so the border turns white and back.
        for (int n = 0; n < 8; ++n, ++index) {
            const REFERENCE_TIME time = REFERENCE_TIME(index) * kPeriod;
            painter.Draw(painted, index, time, kPeriod, step.settings);
            DrawTestPattern(drawn, index, time, kPeriod, step.settings);
            ExpectSame(painted, drawn, index);
        }
    }
}

}  // namespace
}  // namespace ronvix::media
