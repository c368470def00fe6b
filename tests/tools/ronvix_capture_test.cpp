// ronvix-capture run as a separate program, as a script runs it: what it
// lists, a short capture of the test devices read back with ffprobe, that
// capture played to the tape deck (and to a sound output that cannot open),
// and the message and exit status of each way a command line can be wrong.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdlib>

#include "capture_tool.h"
#include "platform/media/container/avi_probe.h"
#include "platform/media/container/handmade_avi.h"

namespace ronvix::tools {
namespace {

TEST(RonvixCapture, HelpNamesEveryOptionAndExitStatus) {
    const ToolRun run = RunCapture({"--help"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    for (const char* option : {"--list", "--video", "--audio", "--seconds", "--out", "--unpaced",
                               "--compression", "--split", "ffv1", "uncompressed", "--play", "--to",
                               "--audio-out", "--help", "--version"})
        EXPECT_TRUE(run.out.contains(QLatin1String(option))) << option;
    for (const char* status : {"0  ", "1  ", "2  ", "3  ", "4  "})
        EXPECT_TRUE(run.out.contains(QLatin1String(status))) << status;
    const ToolRun version = RunCapture({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.startsWith(QLatin1String("ronvix-capture 0.")))
        << version.out.toStdString();
}

TEST(RonvixCapture, ListShowsEveryCategoryWithPositionAndMonikerName) {
    const ToolRun run = RunCapture({"--list"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    // Each category heading, then its virtual device at its position with
    // the moniker display name of that category on the next line.
    struct Expected {
        const char* heading;
        const char* device;
        const char* category;
    };
    for (const Expected& e : {Expected{"Video capture devices:", "Test Pattern Camera",
                                       "{860BB310-5D01-11D0-BD3B-00A0C911CE86}"},
                              Expected{"Audio capture devices:", "Test Tone Generator",
                                       "{33D9A762-90C8-11D0-BD43-00A0C911CE86}"},
                              Expected{"Video output devices:", "Virtual Tape Deck",
                                       "{CC7BFB41-F175-11D1-A392-00E0291F3959}"},
                              Expected{"Audio output devices:", "Silent Audio Output",
                                       "{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}"}}) {
        const qsizetype heading = run.out.indexOf(QLatin1String(e.heading));
        ASSERT_GE(heading, 0) << e.heading;
        const QRegularExpression entry(
            QStringLiteral("\\n  (\\d+)  %1\\n     @device:cm:%2\\\\%1\\n")
                .arg(QRegularExpression::escape(QLatin1String(e.device)),
                     QRegularExpression::escape(QLatin1String(e.category))));
        const QRegularExpressionMatch m = entry.match(run.out, heading);
        ASSERT_TRUE(m.hasMatch()) << e.device << "\n" << run.out.toStdString();
    }
}

// A capture of the test camera and the tone, then that file played to the
// tape deck with the silent output: the deck records the frames it was
// sent bit for bit, so its tape holds the capture's video packets.
TEST(RonvixCapture, CapturesTestDevicesAndPlaysTheFileToTheTapeDeck) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("two seconds.avi"));
    // The camera's current format is MJPG, recorded as it comes whatever
    // the compression chosen.
    const ToolRun run = RunCapture({"--video", "Test Pattern Camera", "--audio", "0", "--seconds",
                                    "2", "--out", file, "--compression", "ffv1"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString() << run.out.toStdString();
    const CaptureReport report = ParseCaptureReport(run.out);
    // The capture ends itself at two seconds of stream time, which may come
    // just before the second tick.
    EXPECT_GE(report.ticks, 1) << run.out.toStdString();
    EXPECT_LE(report.ticks, 2) << run.out.toStdString();
    // Two seconds at 25 fps, in a wide band for a loaded machine.
    EXPECT_GE(report.captured, 30) << run.out.toStdString();
    EXPECT_LE(report.captured, 55);

    const auto streams = media::test::ProbeStreams(file);
    ASSERT_TRUE(streams.has_value());
    ASSERT_EQ(streams->size(), 2u);
    EXPECT_EQ((*streams)[0].type, QStringLiteral("video"));
    EXPECT_EQ((*streams)[0].codec, QStringLiteral("mjpeg"));
    EXPECT_EQ((*streams)[0].width, 720);
    EXPECT_EQ((*streams)[0].height, 576);
    EXPECT_EQ((*streams)[1].type, QStringLiteral("audio"));
    EXPECT_EQ((*streams)[1].codec, QStringLiteral("pcm_s16le"));
    // Exactly two seconds of every stream: 50 places and 96,000 sound frames.
    EXPECT_EQ((*streams)[0].frames, 50);
    EXPECT_EQ((*streams)[1].frames, 96000);
    ExpectCountsMatchTheFile(report, file);
    // The bytes are the file's: the summary's are its size, and the
    // per-second rates never count more than it holds.
    EXPECT_EQ(SummaryBytes(run.out), QFileInfo(file).size()) << run.out.toStdString();
    EXPECT_LE(RatesKb(run.out), QFileInfo(file).size() / 1024 + report.ticks);
    const long video_packets = media::test::CountPackets(file, QStringLiteral("v:0"));

    const QString tape_dir = QString::fromLocal8Bit(qgetenv("RONVIX_TAPE_DIR"));
    ASSERT_FALSE(tape_dir.isEmpty());
    const QStringList before = QDir(tape_dir).entryList({QStringLiteral("*.avi")}, QDir::Files);
    const ToolRun play = RunCapture(
        {"--play", file, "--to", "Virtual Tape Deck", "--audio-out", "Silent Audio Output"});
    ASSERT_EQ(play.status, 0) << play.err.toStdString() << play.out.toStdString();
    EXPECT_FALSE(play.out.contains(QLatin1String("stopped before the end")))
        << play.out.toStdString();
    EXPECT_TRUE(play.out.contains(QStringLiteral("sent %1 frames").arg(video_packets)))
        << play.out.toStdString();
    QStringList tapes = QDir(tape_dir).entryList({QStringLiteral("*.avi")}, QDir::Files);
    for (const QString& old : before)
        tapes.removeAll(old);
    ASSERT_EQ(tapes.size(), 1);
    const auto source = media::test::PacketChecksums(file);
    const auto tape = media::test::PacketChecksums(tape_dir + QLatin1Char('/') + tapes[0]);
    ASSERT_TRUE(source && tape);
    std::vector<uint32_t> source_video, tape_video;
    for (const auto& p : *source)
        if (p.stream == 0 && p.size > 0)
            source_video.push_back(p.adler);
    for (const auto& p : *tape)
        if (p.stream == 0 && p.size > 0)
            tape_video.push_back(p.adler);
    EXPECT_EQ(tape_video, source_video);

    // The same play to the ALSA default device where none is configured
    // (as where no sound system runs): it fails saying which output and
    // why, and the deck keeps no tape of it.
    QFile no_devices(dir.filePath(QStringLiteral("asound.conf")));
    ASSERT_TRUE(no_devices.open(QIODevice::WriteOnly));
    no_devices.close();
    const QByteArray alsa_config = qgetenv("ALSA_CONFIG_PATH");
    qputenv("ALSA_CONFIG_PATH", no_devices.fileName().toLocal8Bit());
    const ToolRun silent = RunCapture(
        {"--play", file, "--to", "Virtual Tape Deck", "--audio-out", "Default ALSA Device"});
    if (alsa_config.isNull())
        qunsetenv("ALSA_CONFIG_PATH");
    else
        qputenv("ALSA_CONFIG_PATH", alsa_config);
    EXPECT_EQ(silent.status, 1) << silent.out.toStdString();
    EXPECT_TRUE(silent.err.contains(QLatin1String(
        "ronvix-capture: Playback could not start: The audio output \"Default ALSA Device\" "
        "could not be opened: No such file or directory.\n")))
        << silent.err.toStdString();
    tapes = QDir(tape_dir).entryList({QStringLiteral("*.avi")}, QDir::Files);
    for (const QString& old : before)
        tapes.removeAll(old);
    EXPECT_EQ(tapes.size(), 1) << tapes.join(' ').toStdString();
}

// Files of a few hundred bytes that declare pictures, audio and chunks they
// do not hold, played to the tape deck: one the engine refuses fails with
// status 1 at once; one that holds a frame plays it, ends and records it.
// Either way the tool's peak memory stays within 64 MiB of a play of a tiny
// valid file (measured without a sanitizer, which has its own overhead).
TEST(RonvixCapture, FilesThatDeclareMoreThanTheyHoldCostOnlyWhatTheyHold) {
    QTemporaryDir dir;
    const QString jpeg_path = dir.filePath(QStringLiteral("frame.jpg"));
    ASSERT_EQ(RunProgram(QStringLiteral("ffmpeg"),
                         {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48", "-frames:v",
                          "1", "-y", jpeg_path})
                  .status,
              0);
    QFile jpeg_file(jpeg_path);
    ASSERT_TRUE(jpeg_file.open(QIODevice::ReadOnly));
    const QByteArray frame = jpeg_file.readAll();
    ASSERT_FALSE(frame.isEmpty());

    const QString tape_dir = QString::fromLocal8Bit(qgetenv("RONVIX_TAPE_DIR"));
    ASSERT_FALSE(tape_dir.isEmpty());
    using media::test::HandmadeAvi;
    const HandmadeAvi::Pcm wide_pcm{64, 1'000'000, 16, QByteArray(64, '\0')};
    struct Case {
        const char* name;
        HandmadeAvi avi;
        int status;
    };
    const Case cases[] = {
        {"tiny and valid", {64, 48, {frame}}, 0},  // The measure for the others.
        {"one 16000x16000 frame", {16000, 16000, {"\xFF\xD8\xFF\xD9"}}, 1},
        {"a 32768x32768 stream", {32768, 32768, {}, {}, false}, 1},
        {"32768x32768 and 64 channels at 1 MHz", {32768, 32768, {}, wide_pcm, false}, 1},
        {"8000x8000, an index claiming 2 GiB", {8000, 8000, {frame}, {}, true, 0x7FFFFFFF}, 0},
        {"8192x8192 and 64 channels at 1 MHz",
         {8192, 8192, {frame}, wide_pcm, true, 0xFFFFFFF0},
         0},
    };
    long baseline_kb = -1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = dir.filePath(QStringLiteral("declares.avi"));
        {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            ASSERT_LT(f.write(c.avi.Bytes()), 4096);
        }
        const QStringList before = QDir(tape_dir).entryList(QDir::Files);
        const ToolRun run = RunCapture({"--play", file, "--to", "Virtual Tape Deck"});
        ASSERT_EQ(run.status, c.status) << run.err.toStdString() << run.out.toStdString();
        if (c.status == 0) {
            EXPECT_TRUE(run.out.contains(QLatin1String("sent 1 frames,"))) << run.out.toStdString();
            EXPECT_FALSE(run.out.contains(QLatin1String("stopped before the end")));
            QStringList tapes = QDir(tape_dir).entryList(QDir::Files);
            for (const QString& old : before)
                tapes.removeAll(old);
            ASSERT_EQ(tapes.size(), 1);
            const auto recorded = media::test::PacketChecksums(tape_dir + '/' + tapes[0]);
            ASSERT_TRUE(recorded);
            EXPECT_EQ(recorded->size(), 1u);
        } else {
            EXPECT_TRUE(run.err.contains(QLatin1String("holds no video stream")))
                << run.err.toStdString();
        }
        ASSERT_GT(run.peak_kb, 0);
        if (baseline_kb < 0)
            baseline_kb = run.peak_kb;
#if !defined(__SANITIZE_ADDRESS__)
        EXPECT_LE(run.peak_kb - baseline_kb, 64 * 1024)
            << "peak " << run.peak_kb << " KiB against " << baseline_kb << " KiB";
#endif
    }
}

// The formats a capture records are the ones chosen, by their number in
// --list or by their shape; a format the device does not offer is refused
// with the ones it does, and a compression that cannot apply is said.
TEST(RonvixCapture, FormatsChosenByNumberOrShapeAreRecordedAndOthersRefused) {
    const ToolRun list = RunCapture({"--list"});
    EXPECT_TRUE(list.out.contains("       format 7: MJPG 1920x1080 30 fps"))
        << list.out.toStdString();
    EXPECT_TRUE(list.out.contains("       format 3: 44100 Hz 16 bits 1 channels"));
    struct Case {
        QStringList args;
        int status;
        const char* codec;
        int width, height;
        const char* rate;
        int sample_rate, channels;
        const char* said;  // on stderr
    };
    const Case kCases[] = {
        {{"--video", "Test Pattern Camera", "--format", "1280x720@30:MJPG", "--audio", "0",
          "--audio-format", "44100:16:1"},
         0,
         "mjpeg",
         1280,
         720,
         "30/1",
         44100,
         1,
         ""},
        {{"--video", "0", "--format", "4", "--compression", "ffv1", "--audio", "0",
          "--audio-format", "7"},
         0,
         "ffv1",
         720,
         576,
         "25/1",
         22050,
         1,
         ""},
        {{"--video", "0", "--compression", "ffv1"},
         0,
         "mjpeg",
         720,
         576,
         "25/1",
         0,
         0,
         "--compression does not apply"},
        {{"--video", "0", "--format", "9999"}, 2, "", 0, 0, "", 0, 0, "offers no format \"9999\""},
        {{"--video", "0", "--format", "333x333"},
         2,
         "",
         0,
         0,
         "",
         0,
         0,
         "11: YUY2 1920x1080 30 fps"},
        {{"--audio", "0", "--audio-format", "96000"},
         2,
         "",
         0,
         0,
         "",
         0,
         0,
         "9: 11025 Hz 16 bits 1 channels"},
    };
    QTemporaryDir dir;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const QString file = dir.filePath(QStringLiteral("format.avi"));
        QFile::remove(file);
        const ToolRun run = RunCapture(c.args + QStringList{"--seconds", "1", "--out", file});
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String(c.said))) << run.err.toStdString();
        if (c.status != 0)
            continue;
        const auto streams = media::test::ProbeStreams(file);
        ASSERT_TRUE(streams.has_value());
        ASSERT_GE(streams->size(), 1u);
        EXPECT_EQ((*streams)[0].codec, c.codec);
        EXPECT_EQ((*streams)[0].width, c.width);
        EXPECT_EQ((*streams)[0].height, c.height);
        EXPECT_EQ((*streams)[0].frame_rate, c.rate);
        if (c.sample_rate) {
            ASSERT_EQ(streams->size(), 2u);
            EXPECT_EQ((*streams)[1].sample_rate, c.sample_rate);
            EXPECT_EQ((*streams)[1].channels, c.channels);
        }
    }
}

// A capture of sound alone counts the bytes of its file as any other.
TEST(RonvixCapture, AnAudioOnlyCaptureReportsItsFilesBytes) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("sound.avi"));
    const ToolRun run = RunCapture({"--audio", "0", "--seconds", "2", "--out", file});
    ASSERT_EQ(run.status, 0) << run.err.toStdString() << run.out.toStdString();
    EXPECT_EQ(ParseCaptureReport(run.out).captured, 0);
    EXPECT_GT(QFileInfo(file).size(), 2 * 48000 * 4 * 9 / 10) << "less than two seconds of sound";
    EXPECT_EQ(SummaryBytes(run.out), QFileInfo(file).size()) << run.out.toStdString();
}

TEST(RonvixCapture, BadArgumentsAreRefusedWithStatus2) {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("x.avi"));
    struct Case {
        QStringList args;
        const char* message;
    };
    const Case cases[] = {
        {{}, "nothing to do"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"stray"}, "unexpected argument \"stray\""},
        {{"--video"}, "--video needs a value"},
        {{"--video", "0", "--seconds", "0", "--out", out}, "--seconds needs a whole number"},
        {{"--video", "0", "--seconds", "2.5", "--out", out}, "--seconds needs a whole number"},
        {{"--video", "0", "--video", "0", "--out", out}, "--video given twice"},
        {{"--video", "0", "--seconds", "1"}, "needs --out FILE"},
        {{"--audio", "0", "--format", "1", "--out", out}, "--format needs --video"},
        {{"--video", "0", "--audio-format", "1", "--out", out}, "--audio-format needs --audio"},
        {{"--seconds", "1", "--out", out}, "needs --video or --audio"},
        {{"--audio", "0", "--unpaced", "--out", out}, "--unpaced needs --video"},
        {{"--video", "0", "--out", out, "--compression", "h264"},
         "--compression needs mjpeg, ffv1 or uncompressed"},
        {{"--audio", "0", "--out", out, "--compression", "ffv1"}, "--compression needs --video"},
        {{"--list", "--video", "0", "--out", out}, "do not go together"},
        {{"--play", out}, "--play needs --to"},
        {{"--to", "0"}, "need --play FILE"},
        {{"--list=yes"}, "--list takes no value"},
        {{"--help", "--list"}, "take no other option"},
    };
    for (const Case& c : cases) {
        const ToolRun run = RunCapture(c.args);
        EXPECT_EQ(run.status, 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String(c.message)))
            << c.args.join(' ').toStdString() << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String("--help"))) << run.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(out));
}

TEST(RonvixCapture, UnknownDevicesAreRefusedWithStatus3AndNoFileIsMade) {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("x.avi"));
    struct Case {
        QStringList args;
        const char* message;
    };
    const Case cases[] = {
        {{"--video", "No Such Camera", "--seconds", "1", "--out", out},
         "no video capture device named \"No Such Camera\""},
        {{"--video", "7", "--seconds", "1", "--out", out}, "no video capture device at position 7"},
        // A device of another category is not a capture device.
        {{"--audio", "Test Pattern Camera", "--seconds", "1", "--out", out},
         "no audio capture device named"},
    };
    for (const Case& c : cases) {
        const ToolRun run = RunCapture(c.args);
        EXPECT_EQ(run.status, 3) << c.args.join(' ').toStdString() << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String(c.message))) << run.err.toStdString();
    }
    // Devices are looked up before the output file is made.
    EXPECT_FALSE(QFile::exists(out));

    // Play needs an existing file to get as far as the devices.
    QFile(out).open(QIODevice::WriteOnly);
    const ToolRun capture_device = RunCapture({"--play", out, "--to", "Test Pattern Camera"});
    EXPECT_EQ(capture_device.status, 3);
    EXPECT_TRUE(capture_device.err.contains(QLatin1String("no video output device named")))
        << capture_device.err.toStdString();
    const ToolRun names_ignore_case =
        RunCapture({"--play", out, "--to", "virtual tape deck", "--audio-out", "No Speaker"});
    EXPECT_EQ(names_ignore_case.status, 3);
    EXPECT_TRUE(names_ignore_case.err.contains(QLatin1String("no audio output device named")))
        << names_ignore_case.err.toStdString();
}

TEST(RonvixCapture, FileProblemsAreRefusedWithStatus4AndBrokenInputWith1) {
    QTemporaryDir dir;
    // A folder path whose parent is a regular file cannot be written, also
    // by root.
    const QString plain = dir.filePath(QStringLiteral("plain"));
    QFile(plain).open(QIODevice::WriteOnly);
    const ToolRun unwritable =
        RunCapture({"--video", "0", "--seconds", "1", "--out", plain + QStringLiteral("/x.avi")});
    EXPECT_EQ(unwritable.status, 4);
    EXPECT_TRUE(unwritable.err.contains(QLatin1String("cannot write")))
        << unwritable.err.toStdString();

    const ToolRun folder = RunCapture({"--video", "0", "--seconds", "1", "--out", dir.path()});
    EXPECT_EQ(folder.status, 4);
    EXPECT_TRUE(folder.err.contains(QLatin1String("it is a folder"))) << folder.err.toStdString();

    const ToolRun missing =
        RunCapture({"--play", dir.filePath(QStringLiteral("none.avi")), "--to", "0"});
    EXPECT_EQ(missing.status, 4);
    EXPECT_TRUE(missing.err.contains(QLatin1String("no such file"))) << missing.err.toStdString();

    // A file that is no AVI reaches no device: a failure, not a silent play.
    QFile text(dir.filePath(QStringLiteral("text.avi")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a video\n");
    text.close();
    const ToolRun broken = RunCapture({"--play", text.fileName(), "--to", "0"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_TRUE(broken.err.contains(QLatin1String("holds no video stream")) &&
                broken.err.contains(QLatin1String("it is not an AVI file")))
        << broken.err.toStdString();

    // A file whose header counts frames that cannot be read (cut off where
    // its data begins) sends none: a failure, not "sent 0 frames" and 0.
    const QString whole = dir.filePath(QStringLiteral("whole.avi"));
    ASSERT_EQ(RunCapture({"--video", "0", "--audio", "0", "--seconds", "1", "--out", whole}).status,
              0);
    QFile source(whole);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QByteArray bytes = source.readAll();
    const qsizetype data = bytes.indexOf("movi");
    ASSERT_GT(data, 0);
    QFile cut(dir.filePath(QStringLiteral("cut.avi")));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(bytes.left(data + 4));
    cut.close();
    const ToolRun nothing_sent = RunCapture({"--play", cut.fileName(), "--to", "Virtual Tape Deck",
                                             "--audio-out", "Silent Audio Output"});
    EXPECT_EQ(nothing_sent.status, 1) << nothing_sent.out.toStdString();
    EXPECT_TRUE(nothing_sent.err.contains(QLatin1String("no frame of")))
        << nothing_sent.err.toStdString();
}

// A disk that fills up during the capture: the engine aborts, the tool says
// why and exits with 1 rather than reporting a capture that did not happen.
// The small disk is a tmpfs in a mount namespace of the tool's own.
TEST(RonvixCapture, AFullDiskEndsTheCaptureWithStatus1) {
    QTemporaryDir dir;
    const QString mount = dir.filePath(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(mount));
    const QString script = QStringLiteral(
                               "mount -t tmpfs -o size=300k none '%1' || exit 99; "
                               "exec '%2' --video 0 --audio 0 --seconds 20 --out '%1/full.avi'")
                               .arg(mount, ToolPath());
    const ToolRun run = RunProgram(QStringLiteral("unshare"), {"-rm", "sh", "-c", script});
    if (run.status == 99 || run.err.contains(QLatin1String("unshare failed")))
        GTEST_SKIP() << "no private mount namespace here: " << run.err.toStdString();
    EXPECT_EQ(run.status, 1) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QLatin1String("the capture stopped with an error")))
        << run.err.toStdString();
    // It stopped at the failure, long before the 20 seconds asked for, and
    // still printed what it had captured.
    EXPECT_TRUE(run.out.contains(QLatin1String("captured "))) << run.out.toStdString();
    EXPECT_FALSE(run.out.contains(QLatin1String("\n10 s: "))) << run.out.toStdString();
}

}  // namespace
}  // namespace ronvix::tools
