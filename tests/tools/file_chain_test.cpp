// A capture that outgrows what a file may hold goes on in numbered files:
// each one a complete AVI in sync, and together holding every frame the
// capture counted, with no frame lost or repeated at a seam.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include "capture_tool.h"
#include "platform/media/container/av_offsets.h"
#include "platform/media/container/avi_probe.h"
#include "platform/media/io/filewriter.h"

namespace ronvix::tools {
namespace {

// The files of a capture that ran into a limit of `limit` bytes a file.
void ExpectNumberedFilesThatAddUp(const ToolRun& run, const QString& file, qint64 limit) {
    ASSERT_EQ(run.status, 0) << run.err.toStdString() << run.out.toStdString();
    const CaptureReport report = ParseCaptureReport(run.out);

    QStringList files;
    for (uint32_t n = 1;; ++n) {
        const QString name =
            QString::fromStdU16String(media::ChainFileName(file.toStdU16String(), n));
        if (!QFileInfo::exists(name))
            break;
        files << name;
    }
    ASSERT_GE(files.size(), 3) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("the capture went on in %1 files: %2")
                                     .arg(files.size())
                                     .arg(files.join(QStringLiteral(", ")))))
        << run.out.toStdString();

    long packets = 0, places = 0;
    qint64 bytes = 0;
    std::vector<int64_t> white;  // Places of the second marks, over all files.
    for (const QString& f : files) {
        SCOPED_TRACE(f.toStdString());
        const qint64 size = QFileInfo(f).size();
        EXPECT_LE(size, limit);
        bytes += size;
        const auto offsets = media::test::MeasureAvOffsets(f);
        ASSERT_TRUE(offsets);
        // Each file starts its sound at its first picture's instant.
        EXPECT_TRUE(offsets->AllWithin(-0.5 - 0.01, 1.5 + 0.01))
            << "offsets from " << offsets->Lowest() << " to " << offsets->Highest();
        // The capture's own end may cut a mark in two, and a frame the
        // camera lost on a loaded machine takes its mark with it.
        if (f != files.last() && report.dropped == 0) {
            EXPECT_GE(offsets->offsets.size(), 1u);
            EXPECT_EQ(offsets->lone_bursts + offsets->lone_whites, 0) << run.out.toStdString();
        }
        for (int64_t w : offsets->white)
            white.push_back(places + w);
        // Other readers take every file whole.
        const media::test::OtherReaders r = media::test::ReadWithOtherReaders(f);
        EXPECT_EQ(r.mediainfo, r.header);
        EXPECT_EQ(r.gstreamer, r.packets);
        EXPECT_TRUE(r.seek_to_end);
        packets += r.packets;
        places += r.header;
    }
    EXPECT_EQ(packets, report.captured) << run.out.toStdString();
    EXPECT_EQ(places, report.captured + report.dropped - report.left_out + report.inserted);
    EXPECT_EQ(SummaryBytes(run.out), bytes);
    // The marks lie a second apart across every seam: no place was lost or
    // written twice where one file ends and the next begins.
    // Each mark stays on its place even when frames were lost around it.
    ASSERT_GE(white.size(), 8u);
    for (size_t i = 1; i < white.size(); ++i)
        EXPECT_EQ((white[i] - white[i - 1]) % 25, 0)
            << "between marks " << i - 1 << " and " << i << "\n"
            << run.out.toStdString();
    if (report.dropped == 0) {
        EXPECT_EQ(white.back() - white.front(), 25 * int64_t(white.size() - 1));
    }
}

// Both ways a file ends: the file system refuses it (a process's file-size
// limit, SIGXFSZ ignored, so the write fails with EFBIG as on FAT), and the
// size the user chose.
TEST(CaptureContinues, PastAFileSizeLimitInNumberedFilesThatAddUp) {
    QTemporaryDir dir;
    const QString refused = dir.filePath(QStringLiteral("tape one.avi"));
    ExpectNumberedFilesThatAddUp(
        RunProgram(
            QStringLiteral("bash"),
            {"-c", QStringLiteral("ulimit -f 3072 && trap '' XFSZ && exec \"$0\" \"$@\""),
             ToolPath(), "--video", "0", "--audio", "0", "--seconds", "11", "--out", refused}),
        refused, 3 << 20);
    const QString split = dir.filePath(QStringLiteral("tape two"));
    ExpectNumberedFilesThatAddUp(RunCapture({"--video", "0", "--audio", "0", "--seconds", "11",
                                             "--split", "3", "--out", split}),
                                 split, 3 << 20);
}

TEST(CaptureContinues, NextFilesAreNamedAfterTheFirst) {
    struct Case {
        const char16_t* first;
        uint32_t number;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"/tapes/capture.avi", 1, u"/tapes/capture.avi"},
        {u"/tapes/capture.avi", 2, u"/tapes/capture_002.avi"},
        {u"/tapes/capture.avi", 1000, u"/tapes/capture_1000.avi"},
        {u"/tapes/v1.2/capture", 3, u"/tapes/v1.2/capture_003"},  // A dot in a folder.
        {u"/tapes/.avi", 2, u"/tapes/.avi_002"},                  // A hidden name.
        {u"C:\\tapes.old\\tape.one.avi", 2, u"C:\\tapes.old\\tape.one_002.avi"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(media::ChainFileName(c.first, c.number), std::u16string(c.expected))
            << QString::fromStdU16String(c.first).toStdString() << " " << c.number;
}

}  // namespace
}  // namespace ronvix::tools
