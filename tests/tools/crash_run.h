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
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/filters/avi_probe.h"
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
    std::vector<std::string> words{ToolPath().toStdString()};
    for (const QString& a : args)
        words.push_back(a.toStdString());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    Killed k;
    const auto start = std::chrono::steady_clock::now();
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return k;
    }
    posix_spawn_file_actions_destroy(&actions);
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
    QFile f(QString::fromStdString(out));
    if (!f.open(QIODevice::ReadOnly))
        return k;
    const QString report = QString::fromLocal8Bit(f.readAll());
    const QRegularExpression line(QStringLiteral("^(\\d+) s: captured (\\d+),"),
                                  QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(report); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(1).toDouble() <= k.seconds - 2)
            k.counted = m.captured(2).toLong();
    }
    return k;
}

struct FileReaders {
    long header = -1;          // The header's video frame count (ffprobe).
    long mediainfo = -1;       // MediaInfo's frame count.
    long gstreamer = -1;       // Pictures GStreamer's AVI demuxer delivers.
    bool seek_to_end = false;  // A picture decodes one second before the end.
    double duration = 0;
};

inline FileReaders ReadFile(const QString& path) {
    using media::test::RunTool;
    FileReaders r;
    if (const auto streams = media::test::ProbeStreams(path); streams && !streams->empty()) {
        r.header = (*streams)[0].frames;
        r.duration = (*streams)[0].duration_s;
    }
    if (const auto out = RunTool("mediainfo", {"--Inform=Video;%FrameCount%", path}))
        r.mediainfo = out->trimmed().toLong();
    if (const auto out =
            RunTool("gst-launch-1.0", {"-v", "filesrc", "location=" + path, "!", "avidemux",
                                       "name=d", "d.video_0", "!", "fakesink", "silent=false"}))
        r.gstreamer = long(out->count("chain   ******* (fakesink0:sink)"));
    const QString at = QString::number(std::max(0.0, r.duration - 1.0), 'f', 3);
    if (const auto out = RunTool("ffmpeg", {"-v", "error", "-ss", at, "-i", path, "-map", "0:v:0",
                                            "-frames:v", "1", "-f", "framecrc", "-"}))
        r.seek_to_end = out->contains("0,");
    return r;
}

// The file a killed capture left, as the readers see it and after a
// repair: at least `share` (before) and `repaired_share` of the counted
// frames.
inline void ExpectSurvives(const Killed& k, const QString& file, double share,
                           double repaired_share) {
    ASSERT_GT(k.counted, 0) << "no report before the kill";
    const FileReaders before = ReadFile(file);
    EXPECT_GE(double(before.header), share * double(k.counted));
    EXPECT_GE(double(before.mediainfo), share * double(k.counted));
    EXPECT_GE(double(before.gstreamer), share * double(k.counted));
    EXPECT_TRUE(before.seek_to_end) << "the index does not reach the end";
    const ToolRun repair = RunCapture({"--repair", file});
    ASSERT_EQ(repair.status, 0) << repair.err.toStdString();
    const FileReaders after = ReadFile(file);
    EXPECT_GE(double(after.header), repaired_share * double(k.counted)) << repair.out.toStdString();
    EXPECT_GE(double(after.gstreamer), repaired_share * double(k.counted));
    EXPECT_GE(after.header, before.header) << "a repair never makes a file worse";
}

}  // namespace ronvix::tools
