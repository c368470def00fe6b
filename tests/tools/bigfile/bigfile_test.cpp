// Captures of several gigabytes killed with SIGKILL (label bigfile, left
// out of the default run: ctest --test-dir build -L bigfile): past the
// first RIFF the file still opens with nearly every frame counted.

#include <gtest/gtest.h>

#include <sys/statvfs.h>

#include "tools/crash_run.h"

namespace ronvix::tools {
namespace {

TEST(BigCaptureKilled, GigabytesOfUnpacedCaptureSurviveAKill) {
    for (int64_t megabytes : {1536, 5120}) {
        SCOPED_TRACE(megabytes);
        QTemporaryDir dir;
        struct statvfs fs {};
        ASSERT_EQ(::statvfs(dir.path().toUtf8().constData(), &fs), 0);
        // The capture, and its repair beside it.
        if (uint64_t(fs.f_bavail) * fs.f_frsize < uint64_t(megabytes + 512) * 2 << 20)
            GTEST_SKIP() << "needs " << 2 * (megabytes + 512) << " MB free in "
                         << dir.path().toStdString();
        const QString file = dir.filePath(QStringLiteral("killed.avi"));
        const Killed k = KillCapture({"--video", "0", "--audio", "0", "--unpaced", "--out", file},
                                     file, megabytes << 20, 0);
        ExpectSurvives(k, file, 0.99, 0.999);
    }
}

}  // namespace
}  // namespace ronvix::tools
