#pragma once
// ronvix-capture run as a separate program, as a script runs it, and what
// its capture report says against what the file holds.

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "platform/media/container/avi_probe.h"

namespace ronvix::tools {

struct ToolRun {
    int status = -1;  // exit status; -1 when it did not exit normally
    QString out;
    QString err;
    long peak_kb = -1;  // the program's peak resident memory (VmHWM), KiB
};

inline QString ToolPath() {
    return QString::fromLocal8Bit(qgetenv("RONVIX_BUILD_DIR")) + QStringLiteral("/ronvix-capture");
}

// Starts `program` (found on PATH) with `args`, its output going to the
// files `out` and `err`; -1 when it could not start.
inline pid_t SpawnProgram(const QString& program, const QStringList& args, const std::string& out,
                          const std::string& err) {
    std::vector<std::string> words{program.toStdString()};
    for (const QString& a : args)
        words.push_back(a.toStdString());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

inline QString ReadText(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

// `program` with `args` to its end; its output goes through files, so
// nothing it prints can stall it.
inline ToolRun RunProgram(const QString& program, const QStringList& args) {
    QTemporaryDir dir;
    const std::string out = dir.filePath(QStringLiteral("out")).toStdString();
    const std::string err = dir.filePath(QStringLiteral("err")).toStdString();
    ToolRun run;
    if (const pid_t pid = SpawnProgram(program, args, out, err); pid > 0) {
        int status = 0;
        struct rusage usage {};
        while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.peak_kb = usage.ru_maxrss;
    }
    run.out = ReadText(out);
    run.err = ReadText(err);
    return run;
}

inline ToolRun RunCapture(const QStringList& args) {
    return RunProgram(ToolPath(), args);
}

// The per-second lines and the summary of a capture.
struct CaptureReport {
    int ticks = 0;
    long captured = -1;
    long dropped = -1;
    long left_out = -1;
    long inserted = -1;
};

inline CaptureReport ParseCaptureReport(const QString& out) {
    CaptureReport r;
    const QRegularExpression tick(
        QStringLiteral(
            "^\\d+ s: captured \\d+, dropped \\d+, left out \\d+, inserted \\d+, \\d+ KB/s$"),
        QRegularExpression::MultilineOption);
    for (auto it = tick.globalMatch(out); it.hasNext(); it.next())
        ++r.ticks;
    const QRegularExpression summary(
        QStringLiteral("^captured (\\d+) frames, dropped (\\d+) \\((\\d+) left out to keep "
                       "time\\), (\\d+) empty places inserted, "),
        QRegularExpression::MultilineOption);
    if (const auto m = summary.match(out); m.hasMatch()) {
        r.captured = m.captured(1).toLong();
        r.dropped = m.captured(2).toLong();
        r.left_out = m.captured(3).toLong();
        r.inserted = m.captured(4).toLong();
    }
    return r;
}

// The bytes a capture's summary reports; -1 without a summary.
inline qint64 SummaryBytes(const QString& out) {
    const QRegularExpression summary(QStringLiteral("^captured .* (\\d+) bytes in "),
                                     QRegularExpression::MultilineOption);
    const auto m = summary.match(out);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

// The kilobytes of every per-second line's rate, added up.
inline qint64 RatesKb(const QString& out) {
    const QRegularExpression tick(QStringLiteral("^\\d+ s: .*, (\\d+) KB/s$"),
                                  QRegularExpression::MultilineOption);
    qint64 sum = 0;
    for (auto it = tick.globalMatch(out); it.hasNext();)
        sum += it.next().captured(1).toLongLong();
    return sum;
}

// What the file holds against what the tool counted: its video frames are
// the frames captured, and its video places (the header's count, empty
// places included) are the captured and dropped frames less those left out,
// plus the places inserted.
inline void ExpectCountsMatchTheFile(const CaptureReport& report, const QString& file) {
    const auto streams = media::test::ProbeStreams(file);
    ASSERT_TRUE(streams.has_value());
    ASSERT_FALSE(streams->empty());
    EXPECT_EQ(media::test::CountPackets(file, QStringLiteral("v:0")), report.captured);
    EXPECT_EQ((*streams)[0].frames,
              report.captured + report.dropped - report.left_out + report.inserted);
}

}  // namespace ronvix::tools
