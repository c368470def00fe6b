// Captures killed with SIGKILL: the file they leave opens in readers that
// share none of the program's code with nearly every frame counted, its
// index reaches the end, and --repair recovers the rest; a real-time
// capture's repaired file keeps sound and picture together.

#include <gtest/gtest.h>

#include "crash_run.h"
#include "platform/media/container/av_offsets.h"

namespace ronvix::tools {
namespace {

TEST(CaptureKilled, HalfAGigabyteUnpacedCaptureSurvivesAKill) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("killed.avi"));
    const Killed k = KillCapture({"--video", "0", "--audio", "0", "--unpaced", "--out", file}, file,
                                 int64_t(500) << 20, 0);
    ExpectSurvives(k, file, 0.99, 0.999);
}

TEST(CaptureKilled, ARealTimeCaptureSurvivesAKillAndKeepsItsSync) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("killed.avi"));
    const Killed k = KillCapture({"--video", "0", "--audio", "0", "--out", file}, file, 0, 12.5);
    ExpectSurvives(k, file, 0.99, 0.999);
    const auto offsets = media::test::MeasureAvOffsets(file);
    ASSERT_TRUE(offsets);
    EXPECT_TRUE(offsets->AllWithin(-0.5 - 0.01, 1.5 + 0.01))
        << "offsets from " << offsets->Lowest() << " to " << offsets->Highest();
    EXPECT_GE(offsets->offsets.size(), 10u);
}

}  // namespace
}  // namespace ronvix::tools
