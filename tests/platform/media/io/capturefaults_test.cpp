// Captures that meet real faults: a disk that fills (a small tmpfs mount)
// and a process killed in the middle of a capture. What ffmpeg and ffprobe
// read back from the files is the measure.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/container/playback_files.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/io/filewriter.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media::test {
namespace {

using namespace com;

constexpr REFERENCE_TIME kFrame = 400000;  // 25 fps.
constexpr int kWidth = 720, kHeight = 576;

// A large frame: noise does not compress, so each is a few hundred KB.
std::vector<uint8_t> NoiseJpeg() {
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 4);
    uint32_t x = 12345;
    for (uint8_t& b : rgb) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 24);
    }
    std::vector<uint8_t> out(JpegEncoder::MaxSize(kWidth, kHeight));
    JpegEncoder encoder;
    out.resize(encoder.EncodeRgb32(rgb.data(), kWidth, kHeight, false, 90, out));
    return out;
}

// A capture graph: one MJPG source into the AVI mux and the file writer.
struct CaptureGraph {
    explicit CaptureGraph(const QString& path, LONG frame_bytes) {
        RegisterEngineClasses();
        graph = CreateFilterGraph();
        ComPtr<ICaptureGraphBuilder2> builder;
        EXPECT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                   ICaptureGraphBuilder2::iid, builder.OutVoid()),
                  S_OK);
        builder->SetFiltergraph(graph.As<IGraphBuilder>().Get());
        const std::u16string name = path.toStdU16String();
        ComPtr<IBaseFilter> mux;
        ComPtr<IFileSinkFilter> sink;
        EXPECT_EQ(
            builder->SetOutputFileName(&MEDIASUBTYPE_Avi, name.c_str(),
                                       mux.ReleaseAndGetAddressOf(), sink.ReleaseAndGetAddressOf()),
            S_OK);
        source = TestSource::Make(
            {.types = {MediaType::Video(MEDIASUBTYPE_MJPG, kWidth, kHeight, 24, kFrame)},
             .buffers = 4,
             .buffer_size = frame_bytes});
        graph->AddFilter(source->Filter(), u"Source");
        EXPECT_EQ(builder->RenderStream(nullptr, nullptr, source->Filter(), nullptr, mux.Get()),
                  S_OK);
    }
    ~CaptureGraph() {
        if (graph)
            graph.As<IMediaControl>()->Stop();
    }
    // The first parameter of the first event `code` queued so far.
    std::optional<LONG_PTR> Event(LONG code) {
        LONG c = 0;
        LONG_PTR p1 = 0, p2 = 0;
        while (graph.As<IMediaEvent>()->GetEvent(&c, &p1, &p2, 0) == S_OK)
            if (c == code)
                return p1;
        return std::nullopt;
    }

    ComPtr<IFilterGraph2> graph;
    ComPtr<TestSource> source;
};

TEST(CaptureFaults, AFullDiskAbortsTheCaptureAndLeavesEveryFrameWrittenBeforeIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString mount_point = dir.filePath("small");
    ASSERT_TRUE(QDir().mkpath(mount_point));
    if (::mount("tmpfs", mount_point.toUtf8().constData(), "tmpfs", 0, "size=6m") != 0) {
        ASSERT_NE(geteuid(), 0u) << "root could not mount a tmpfs: " << std::strerror(errno);
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    }
    struct Unmount {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{mount_point.toUtf8()};

    const QString path = mount_point + "/capture.avi";
    const std::vector<uint8_t> frame = NoiseJpeg();
    ASSERT_GT(frame.size(), 100'000u);
    std::optional<LONG_PTR> abort;
    int accepted = 0;
    {
        CaptureGraph capture(path, LONG(frame.size()) + 4096);
        ASSERT_EQ(capture.graph.As<IMediaControl>()->Run(), S_OK);
        // Four times what the disk holds; the producer learns of the failure
        // from the mux's next write.
        for (int i = 0; i < 100 && !abort; ++i) {
            const HRESULT hr = capture.source->Push(frame, i * kFrame, (i + 1) * kFrame);
            if (hr != S_OK)
                break;
            ++accepted;
            abort = capture.Event(EC_ERRORABORT);
        }
        for (int i = 0; i < 50 && !abort; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            abort = capture.Event(EC_ERRORABORT);
        }
        ASSERT_TRUE(abort) << "a full disk must abort the capture";
        EXPECT_EQ(HRESULT(*abort), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
        ASSERT_EQ(capture.graph.As<IMediaControl>()->Stop(), S_OK);
    }

    // ffprobe opens the file; it holds every whole frame the disk had room
    // for (the chunk cut by the failure may be partial).
    const auto streams = ProbeStreams(path);
    ASSERT_TRUE(streams) << "ffprobe cannot open the file left by a full disk";
    const auto packets = PacketDigests(path, "v");
    ASSERT_TRUE(packets);
    const qint64 size = QFileInfo(path).size();
    const long room_for = long((size - 64 * 1024) / qint64(frame.size() + 8)) - 1;
    EXPECT_GE(long(packets->size()), room_for) << "file of " << size << " bytes";
    EXPECT_LE(long(packets->size()), accepted);
    const QByteArray digest = Md5Hex(frame);
    for (size_t i = 0; i + 1 < packets->size(); ++i)
        EXPECT_EQ((*packets)[i], digest) << "frame " << i;
    std::printf("[ measure ] full disk: %ld of %d accepted frames readable in %lld bytes\n",
                long(packets->size()), accepted, static_cast<long long>(size));
}

TEST(CaptureFaults, AKilledCaptureLeavesAFileWithAllButTheLastTwoSecondsRecoverable) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("killed.avi");
    const std::vector<uint8_t> frame = NoiseJpeg();
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);

    // The child captures at the real pace and reports each frame the mux
    // took; it never ends by itself.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipe_fds[0]);
        CaptureGraph capture(path, LONG(frame.size()) + 4096);
        if (capture.graph.As<IMediaControl>()->Run() != S_OK)
            ::_exit(2);
        const auto started = std::chrono::steady_clock::now();
        for (int32_t i = 0;; ++i) {
            std::this_thread::sleep_until(started + std::chrono::milliseconds(40) * i);
            if (capture.source->Push(frame, i * kFrame, (i + 1) * kFrame) != S_OK)
                ::_exit(3);
            const int32_t taken = i + 1;
            if (::write(pipe_fds[1], &taken, sizeof taken) != sizeof taken)
                ::_exit(4);
        }
    }
    ::close(pipe_fds[1]);
    // Let it run for about five seconds, then kill it without warning.
    int32_t taken = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
        int32_t n = 0;
        if (::read(pipe_fds[0], &n, sizeof n) != sizeof n)
            break;
        taken = n;
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    int32_t n = 0;
    while (::read(pipe_fds[0], &n, sizeof n) == sizeof n)
        taken = n;
    ::close(pipe_fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the capture ended by itself: " << status;
    ASSERT_GT(taken, 75) << "the child captured too little to measure";

    const auto packets = PacketDigests(path, "v");
    ASSERT_TRUE(packets) << "ffmpeg recovers nothing from a killed capture";
    const long recovered = long(packets->size());
    std::printf("[ measure ] killed capture: %ld of %d frames recovered, %.2f s lost\n", recovered,
                taken, (taken - recovered) * 0.04);
    EXPECT_GE(recovered, taken - 50) << "more than the last two seconds were lost";
    EXPECT_LE(recovered, taken + 1);
}

}  // namespace
}  // namespace ronvix::media::test
