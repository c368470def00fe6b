// A capture of the built-in camera and tone while four busy loops of a
// higher priority starve the machine: frames may drop, but each keeps its
// place, every marker pair that survives is in time, and the report adds up
// to what the file holds.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/media/container/av_offsets.h"
#include "tools/capture_tool.h"

namespace ronvix::tools {
namespace {

// Busy loops at a higher priority than the test's own processes (as root;
// at the same priority otherwise), stopped when this goes.
class BusyLoops {
public:
    explicit BusyLoops(int count) {
        const std::string nice = ::geteuid() == 0 ? "-10" : "0";
        for (int i = 0; i < count; ++i) {
            std::vector<std::string> words{"nice", "-n", nice, "sh", "-c", "while :; do :; done"};
            std::vector<char*> argv;
            for (std::string& w : words)
                argv.push_back(w.data());
            argv.push_back(nullptr);
            pid_t pid = -1;
            if (::posix_spawnp(&pid, "nice", nullptr, nullptr, argv.data(), environ) == 0)
                m_pids.push_back(pid);
        }
    }
    ~BusyLoops() {
        for (pid_t pid : m_pids)
            ::kill(pid, SIGKILL);
        for (pid_t pid : m_pids)
            ::waitpid(pid, nullptr, 0);
    }
    size_t Count() const { return m_pids.size(); }

private:
    std::vector<pid_t> m_pids;
};

TEST(CaptureUnderLoad, DroppedFramesKeepTheirPlacesAndMarkersStayInTime) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("loaded.avi"));
    ToolRun run;
    {
        BusyLoops loops(4);
        ASSERT_EQ(loops.Count(), 4u);
        run = RunCapture({"--video", "Test Pattern Camera", "--audio", "Test Tone Generator",
                          "--seconds", "30", "--out", file});
    }
    ASSERT_EQ(run.status, 0) << run.err.toStdString() << run.out.toStdString();
    const CaptureReport report = ParseCaptureReport(run.out);
    ASSERT_GE(report.captured, 0) << run.out.toStdString();
    ExpectCountsMatchTheFile(report, file);

    const auto offsets = media::test::MeasureAvOffsets(file);
    ASSERT_TRUE(offsets);
    EXPECT_TRUE(offsets->AllWithin(-0.5 - 0.01, 1.5 + 0.01))
        << "offsets from " << offsets->Lowest() << " to " << offsets->Highest();
    // Thirty seconds: pairs whose white frame or burst was lost are gone;
    // enough survive to measure.
    EXPECT_GE(offsets->offsets.size(), 10u);
    std::printf("captured %ld, dropped %ld, left out %ld, inserted %ld; %zu marker pairs\n",
                report.captured, report.dropped, report.left_out, report.inserted,
                offsets->offsets.size());
}

}  // namespace
}  // namespace ronvix::tools
