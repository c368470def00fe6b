#pragma once
// A capture killed with SIGKILL at a chosen size or time, and what readers
// that share none of the program's code make of the file it left: the
// header's frame count (ffprobe), MediaInfo's, the pictures GStreamer's AVI
// demuxer delivers, and a seek to the last second.

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/container/avi_probe.h"
#include "tools/capture_tool.h"

namespace ronvix::tools {

struct Killed {
    long counted = -1;   // Frames captured two seconds before the kill.
    double seconds = 0;  // How long the capture ran.
};

// Starts ronvix-capture with `args` writing `file`, kills it once the file
// has `bytes` bytes or `seconds` passed (whichever is given), and reads
// its per-second report up to two seconds before the kill.
inline Killed KillCapture(const QStringList& args, const QString& file, int64_t bytes,
                          double seconds) {
    QTemporaryDir dir;
    const std::string out = dir.filePath(QStringLiteral("out")).toStdString();
    Killed k;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = SpawnProgram(ToolPath(), args, out, "/dev/null");
    if (pid < 0)
        return k;
    const QByteArray path = QFile::encodeName(file);
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        struct stat st {};
        const bool big = bytes > 0 && ::stat(path.constData(), &st) == 0 && st.st_size >= bytes;
        k.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (big || (seconds > 0 && k.seconds >= seconds) || k.seconds > 600)
            break;
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    const QString report = ReadText(out);
    const QRegularExpression line(QStringLiteral("^(\\d+) s: captured (\\d+),"),
                                  QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(report); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(1).toDouble() <= k.seconds - 2)
            k.counted = m.captured(2).toLong();
    }
    return k;
}

// The file a killed capture left, as the readers see it and after a
// repair: at least `share` (before) and `repaired_share` of the counted
// frames.
inline void ExpectSurvives(const Killed& k, const QString& file, double share,
                           double repaired_share) {
    ASSERT_GT(k.counted, 0) << "no report before the kill";
    const media::test::OtherReaders before = media::test::ReadWithOtherReaders(file);
    EXPECT_GE(double(before.header), share * double(k.counted));
    EXPECT_GE(double(before.mediainfo), share * double(k.counted));
    EXPECT_GE(double(before.gstreamer), share * double(k.counted));
    EXPECT_TRUE(before.seek_to_end) << "the index does not reach the end";
    const ToolRun repair = RunCapture({"--repair", file});
    ASSERT_EQ(repair.status, 0) << repair.err.toStdString();
    const media::test::OtherReaders after = media::test::ReadWithOtherReaders(file);
    EXPECT_GE(double(after.header), repaired_share * double(k.counted)) << repair.out.toStdString();
    EXPECT_GE(double(after.gstreamer), repaired_share * double(k.counted));
    EXPECT_GE(after.header, before.header) << "a repair never makes a file worse";
}

}  // namespace ronvix::tools
