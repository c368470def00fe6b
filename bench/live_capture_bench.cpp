// Live capture of the Test Pattern Camera (720x576 MJPG, 25 fps) and the
// Test Tone Generator with preview, through the capture page's own session
// (workflow/capture_session.h): preview into the "videowindow" renderer at
// the page's 384x288, camera -> Sample Grabber -> sync -> AVI Mux -> File
// Writer, tone -> level meter -> sync -> mux. Runs for N seconds (default 60) and prints:
//
// - the process's CPU time per captured frame and as a share of one core
//   (getrusage, from Run to the end; graph building is not counted);
// - the part of it the camera spent making pictures (drawing and JPEG
//   encoding, which a real camera does in hardware) and the tone generator
//   making its sound (a sound card's converter), read from their threads'
//   own CPU clocks, and the path's CPU (the process minus those parts);
// - dropped frames (the camera's IAMDroppedFrames) and frames captured;
// - peak resident memory (VmHWM);
// - with a recording of JPEGs, the same run's floors: the library's own
//   decode of the same frames at the preview's scale, and bare code doing
//   for 10 s what else the path does outside the program (painting a
//   picture of the preview's size 30 times a second, writing the same
//   bytes in the same blocks with a sync a second, being woken by timers
//   50 and 30 times a second), and the program's own part above them.
//
//   ronvix_bench_live [seconds] [file.avi] [mjpg|yuyv recording WxH]
//
// With a recording, the camera is a V4L2 device (the scripted fake of the
// device tests) that replays the recording's frames at 30 fps, as an HD
// camera or grabber delivers them: MJPG frames (a file of JPEGs) or raw
// YUYV frames, which the capture compresses to MJPG. The device's own part
// (copying each frame into its buffer, which a real device's DMA does) is
// shown apart, as the built-in camera's picture making is. The preview's
// paints are counted against the frames captured.
//
// With RONVIX_BENCH_COMPRESSION=ffv1 (or uncompressed) the capture keeps
// raw video that way instead of compressing it to MJPG; without a
// recording, the built-in camera then delivers its 720x576 YUY2 format.
//
// The window needs a Qt platform: QT_QPA_PLATFORM=offscreen when none is
// set (the script says which one it ran with).

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
#include <sys/resource.h>
#include <turbojpeg.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "mediagraph/device_enum.h"
#include "mediagraph/formdata.h"
#include "mediagraph/graph_util.h"
#include "mediagraph/platform.h"
#include "mediagraph/workflowgraphs.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/core/types.h"
#include "platform/media/devices/v4l2/fake_v4l2.h"
#include "platform/media/devices/v4l2/v4l2device.h"
#include "platform/media/devices/virtual/virtualdevices.h"
#include "workflow/capture_session.h"

namespace {

using namespace ronvix;
using com::ComPtr;

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long PeakResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// CPU seconds of every thread of the process, summed by thread name.
std::map<std::string, double> ThreadCpuByName() {
    std::map<std::string, double> by_name;
    const double tick = double(sysconf(_SC_CLK_TCK));
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream stat(task.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const size_t open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14)
                utime = std::stod(field);
            if (i == 15)
                stime = std::stod(field);
        }
        by_name[text.substr(open + 1, close - open - 1)] += (utime + stime) / tick;
    }
    return by_name;
}

bool Choose(mediagraph::TSysDevEnum& devices, const com::GUID& category, const char* name,
            mediagraph::TFilter* filter, mediagraph::TFilterGraph* graph) {
    devices.SelectCategory(category);
    for (int i = 0; i < devices.DeviceCount(); ++i) {
        if (devices.DeviceInfo(i).Name() == QLatin1String(name)) {
            filter->BaseFilter().AssignMoniker(devices.DeviceMoniker(i).Get());
            filter->SetFilterGraph(graph);
            return true;
        }
    }
    return false;
}

// Counts the paints of every widget (the only ones here are the preview's).
class PaintCounter final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
    long paints = 0;
};

constexpr char kReplayCamera[] = "HD Replay Camera";

// CPU milliseconds a frame for tjDecompress2 alone to decode `jpegs` at the
// smallest DCT scale covering `width` x `height` (as the preview does):
// back to back for about two seconds, or `paced` at 30 frames a second for
// three, as a camera delivers them (the caches and the core's state are
// then what they are between frames, not what a loop leaves).
double LibraryPreviewDecodeMs(const std::vector<std::vector<uint8_t>>& jpegs, int width, int height,
                              bool paced) {
    tjhandle handle = tjInitDecompress();
    int w = 0, h = 0, subsamp = 0, colourspace = 0;
    if (!handle || tjDecompressHeader3(handle, jpegs[0].data(), jpegs[0].size(), &w, &h, &subsamp,
                                       &colourspace) != 0) {
        if (handle)
            tjDestroy(handle);
        return 0;
    }
    const int eighths = media::JpegDecoder::ScaleEighthsCovering(w, h, width, height);
    const int sw = media::JpegDecoder::ScaledSide(w, eighths);
    const int sh = media::JpegDecoder::ScaledSide(h, eighths);
    std::vector<uint8_t> out(size_t(sw) * sh * 4);
    auto thread_ms = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
    };
    auto decode = [&](const std::vector<uint8_t>& jpeg) {
        tjDecompress2(handle, jpeg.data(), jpeg.size(), out.data(), sw, sw * 4, sh, TJPF_BGRA,
                      TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE);
    };
    double used = 0;
    long decoded = 0;
    if (paced) {
        auto due = std::chrono::steady_clock::now();
        for (; decoded < 90; ++decoded) {
            due += std::chrono::microseconds(33'333);
            std::this_thread::sleep_until(due);
            const double start = thread_ms();
            decode(jpegs[size_t(decoded) % jpegs.size()]);
            used += thread_ms() - start;
        }
    } else {
        const double start = thread_ms();
        while (thread_ms() - start < 2000)
            for (const auto& jpeg : jpegs) {
                decode(jpeg);
                ++decoded;
            }
        used = thread_ms() - start;
    }
    tjDestroy(handle);
    return used / double(decoded);
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// What the capture path pays outside itself, each measured on its own by a
// bare piece of code doing the same for `seconds`, as a share of one core:
// the same run's floors for the parts that are not the program's work.

// A bare widget of the preview's 384x288 drawing a 384x216 picture with
// black bars 30 times a second, on this application's main thread.
double BarePaintShare(QApplication& app, int seconds) {
    class Bare final : public QWidget {
    public:
        Bare() : m_picture(384, 216, QImage::Format_RGB32) {
            setAttribute(Qt::WA_OpaquePaintEvent);
            resize(384, 288);
            m_picture.fill(Qt::gray);
        }
        void Next() {
            m_picture.setPixel(m_frame % 384, 0, uint(m_frame));
            ++m_frame;
            update();
        }

    protected:
        void paintEvent(QPaintEvent*) override {
            QPainter painter(this);
            painter.fillRect(0, 0, 384, 36, Qt::black);
            painter.fillRect(0, 252, 384, 36, Qt::black);
            painter.drawImage(0, 36, m_picture);
        }

    private:
        QImage m_picture;
        int m_frame = 0;
    };
    Bare widget;
    widget.show();
    QTimer frames;
    QObject::connect(&frames, &QTimer::timeout, &widget, &Bare::Next);
    frames.start(33);
    double start = 0;
    QTimer::singleShot(1000, &app, [&] { start = ThreadCpuSeconds(); });
    QTimer::singleShot((seconds + 1) * 1000, &app, &QCoreApplication::quit);
    app.exec();
    return (ThreadCpuSeconds() - start) / seconds * 100;
}

// A bare thread writing `bytes_per_second` to `path` as the capture does:
// 30 video blocks and 50 audio blocks (of `audio_block` bytes) a second,
// each written when it is due, and a data sync once a second.
double BareWriteShare(const std::string& path, double bytes_per_second, size_t audio_block,
                      int seconds) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return -1;
    const double video_bytes = std::max(0.0, bytes_per_second - 50.0 * double(audio_block)) / 30;
    const std::vector<uint8_t> video(size_t(video_bytes), 0x5A), audio(audio_block, 0x11);
    const double start = ThreadCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    off_t at = 0;
    int video_due = 0, audio_due = 0, synced = 0;
    auto write_block = [&](const std::vector<uint8_t>& block) {
        if (::pwrite(fd, block.data(), block.size(), at) == ssize_t(block.size()))
            at += off_t(block.size());
    };
    while (video_due < 30 * seconds) {
        const auto video_at = t0 + std::chrono::microseconds(int64_t(video_due) * 33'333);
        const auto audio_at = t0 + std::chrono::milliseconds(int64_t(audio_due) * 20);
        const bool video_first = video_at <= audio_at;
        std::this_thread::sleep_until(video_first ? video_at : audio_at);
        if (video_first) {
            write_block(video);
            ++video_due;
        } else {
            write_block(audio);
            ++audio_due;
        }
        if (std::chrono::steady_clock::now() - t0 >= std::chrono::seconds(synced + 1)) {
            ::fdatasync(fd);
            ++synced;
        }
    }
    const double used = ThreadCpuSeconds() - start;
    ::close(fd);
    ::unlink(path.c_str());
    return used / seconds * 100;
}

// Bare threads woken by their timers as the capture's are: one 50 times a
// second (the audio buffers), each wake handing work to a waiting thread
// (as a buffer goes to the mux and the writer), and one 30 times a second
// (the frames).
double BareWakeShare(int seconds) {
    std::mutex lock;
    std::condition_variable cv;
    int queued = 0;
    bool done = false;
    double consumer_used = 0;
    std::thread consumer([&] {
        const double start = ThreadCpuSeconds();
        std::unique_lock guard(lock);
        while (!done) {
            cv.wait(guard, [&] { return queued > 0 || done; });
            queued = 0;
        }
        consumer_used = ThreadCpuSeconds() - start;
    });
    auto ticker = [&](int per_second, double* used) {
        const double start = ThreadCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 1; i <= per_second * seconds; ++i) {
            std::this_thread::sleep_until(
                t0 + std::chrono::microseconds(int64_t(i) * 1'000'000 / per_second));
            {
                std::lock_guard guard(lock);
                ++queued;
            }
            cv.notify_one();
        }
        *used = ThreadCpuSeconds() - start;
    };
    double audio_used = 0, video_used = 0;
    std::thread audio(ticker, 50, &audio_used), video(ticker, 30, &video_used);
    audio.join();
    video.join();
    {
        std::lock_guard guard(lock);
        done = true;
    }
    cv.notify_one();
    consumer.join();
    return (audio_used + video_used + consumer_used) / seconds * 100;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const QString file =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("/tmp/ronvix_bench_live.avi");
    media::VirtualDeviceHooks hooks;
    hooks.camera_cpu_ns = std::make_shared<std::atomic<int64_t>>(0);
    hooks.tone_cpu_ns = std::make_shared<std::atomic<int64_t>>(0);
    mediagraph::RegisterPlatformClasses(hooks);

    // An HD camera replaying a recording, when one is given.
    std::shared_ptr<media::test::FakeV4l2System> replay;
    std::vector<std::vector<uint8_t>> jpegs;  // An MJPG recording's frames.
    const char* camera_name = media::kTestCameraName;
    if (argc > 5) {
        const std::string kind = argv[3];
        unsigned width = 0, height = 0;
        std::sscanf(argv[5], "%ux%u", &width, &height);
        const uint32_t fourcc = kind == "yuyv" ? V4L2_PIX_FMT_YUYV : V4L2_PIX_FMT_MJPEG;
        auto frames = media::test::RecordedFrames(argv[4], fourcc, width, height);
        if (fourcc == V4L2_PIX_FMT_MJPEG)
            jpegs = frames;
        if (frames.empty() || width == 0 || height == 0) {
            std::fprintf(stderr, "no frames in %s\n", argv[4]);
            return 1;
        }
        std::printf("replaying %zu %s frames of %ux%u at 30 fps\n", frames.size(), kind.c_str(),
                    width, height);
        replay = std::make_shared<media::test::FakeV4l2System>();
        media::test::FakeNode node;
        node.card = kReplayCamera;
        node.formats = {media::test::FakeFormat{fourcc, {{width, height, {{1, 30}}}}}};
        node.fourcc = fourcc;
        node.width = width;
        node.height = height;
        node.interval = {1, 30};
        replay->AddNode("/dev/video0", node);
        replay->Replay("/dev/video0", std::move(frames));
        media::SetV4l2System(replay);
        media::RegisterV4l2Devices();
        camera_name = kReplayCamera;
    }

    QObject owner;
    workflow::CaptureSession session(&owner);
    const mediagraph::CaptureMedia& m = session.Media();
    mediagraph::TSysDevEnum devices(media::CLSID_VideoInputDeviceCategory);
    if (!Choose(devices, media::CLSID_VideoInputDeviceCategory, camera_name, m.VideoSourceFilter,
                m.CaptureGraph) ||
        !Choose(devices, media::CLSID_AudioInputDeviceCategory, media::kToneGeneratorName,
                m.AudioSourceFilter, m.CaptureGraph)) {
        std::fprintf(stderr, "the test devices are not listed\n");
        return 1;
    }
    std::atomic<long> frames{0};
    m.SampleGrabber->OnBuffer = [&](QObject*, double, void*, int) { ++frames; };

    const QByteArray kept = qgetenv("RONVIX_BENCH_COMPRESSION");
    workflow::CaptureSettings settings;
    settings.file_name = file;
    settings.compression = kept == "ffv1"           ? mediagraph::TVideoCompression::Lossless
                           : kept == "uncompressed" ? mediagraph::TVideoCompression::Uncompressed
                                                    : mediagraph::TVideoCompression::Mjpeg;
    if (settings.compression != mediagraph::TVideoCompression::Mjpeg && !replay)
        session.ChooseVideoFormat(
            media::MediaType::Video(media::MEDIASUBTYPE_YUY2, 720, 576, 16, 400000));
    // The capture page's preview size.
    session.place_preview = [](media::IVideoWindow* window) {
        window->put_Width(384);
        window->put_Height(288);
    };
    try {
        session.BuildCapture(settings);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "the capture could not be built: %s\n", e.what());
        return 1;
    }
    const QString kept_as =
        mediagraph::CompressionText(m.SampleGrabber->MediaType().MediaRecord().subtype.Data1);
    std::printf("video kept as %s\n", kept_as.toLatin1().constData());
    if (!session.HasFile() || !session.VideoConnected()) {
        std::fprintf(stderr, "the capture graph could not be built\n");
        return 1;
    }

    PaintCounter painted;
    app.installEventFilter(&painted);
    auto source_ns = [&] { return replay ? replay->ReplayCopyNs() : hooks.camera_cpu_ns->load(); };
    const std::map<std::string, double> threads_start = ThreadCpuByName();
    const double cpu_start = ProcessCpuSeconds();
    const int64_t source_start = source_ns();
    const int64_t tone_start = hooks.tone_cpu_ns->load();
    session.RunCapture();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const long dropped = session.Statistics().value_or(workflow::CaptureStatistics{}).dropped;
    const long captured = frames.load();
    const double cpu = ProcessCpuSeconds() - cpu_start;
    const double picture = double(source_ns() - source_start) / 1e9;
    const double tone = double(hooks.tone_cpu_ns->load() - tone_start) / 1e9;
    // The devices' own work, which hardware does: the pictures (or the
    // replaying device's copies) and the tone generator's sound.
    const double source = picture + tone;
    const long paints = painted.paints;
    const std::map<std::string, double> threads_end = ThreadCpuByName();
    session.Stop();

    const double per_frame_ms = captured > 0 ? cpu / double(captured) * 1e3 : 0;
    const double path_ms = captured > 0 ? (cpu - source) / double(captured) * 1e3 : 0;
    std::printf("live capture with preview, %d s, platform %s\n", seconds,
                qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("frames captured:          %ld\n", captured);
    std::printf("frames dropped:           %ld\n", long(dropped));
    std::printf("preview paints:           %ld = %.1f %% of the frames captured\n", paints,
                captured > 0 ? 100.0 * double(paints) / double(captured) : 0);
    std::printf("process CPU:              %.2f s = %.2f ms/frame = %.1f %% of one core\n", cpu,
                per_frame_ms, cpu / seconds * 100);
    std::printf(replay ? "  device copying frames:  %.2f s = %.2f ms/frame = %.1f %% of one core\n"
                       : "  camera making pictures: %.2f s = %.2f ms/frame = %.1f %% of one core\n",
                picture, captured > 0 ? picture / double(captured) * 1e3 : 0,
                picture / seconds * 100);
    std::printf("  tone making sound:      %.2f s = %.2f ms/frame = %.1f %% of one core\n", tone,
                captured > 0 ? tone / double(captured) * 1e3 : 0, tone / seconds * 100);
    std::printf("  capture path (rest):    %.2f s = %.2f ms/frame = %.1f %% of one core\n",
                cpu - source, path_ms, (cpu - source) / seconds * 100);
    std::printf("peak memory (VmHWM):      %ld kB\n", PeakResidentKb());
    // Clock-tick resolution (10 ms): a breakdown, not a measurement. The
    // main thread paints the preview; the camera's "rx-cam-*" threads make
    // pictures (capture, preview) and deliver them down the graph; the
    // other unnamed threads are the tone generator's and the graph's.
    std::printf("CPU by thread over the run (threads that ended are left out):\n");
    for (const auto& [name, seconds_end] : threads_end) {
        const auto before = threads_start.find(name);
        const double used = seconds_end - (before != threads_start.end() ? before->second : 0);
        std::printf("  %-18s %6.2f s = %5.1f %% of one core\n", name.c_str(), used,
                    used / seconds * 100);
    }
    if (!jpegs.empty() && captured > 0) {
        // The floor in the same run: the library's own decode of the same
        // frames at the preview's DCT scale, called directly on this thread.
        const double looped = LibraryPreviewDecodeMs(jpegs, 384, 216, false);
        const double ms = LibraryPreviewDecodeMs(jpegs, 384, 216, true);
        const double share = ms * double(captured) / seconds / 10;
        std::printf(
            "library's preview decode alone (tjDecompress2, same frames): %.2f ms/frame "
            "back to back; %.2f ms/frame at 30 fps = %.1f %% of one core at the "
            "captured rate\n",
            looped, ms, share);
        std::printf("  capture path without it: %.1f %% of one core\n",
                    (cpu - source) / seconds * 100 - share);
        // The floors of what else the path pays outside itself, on this
        // machine, in this run.
        constexpr int kFloorSeconds = 10;
        const double written = double(QFileInfo(file).size()) / seconds;
        const double paint = BarePaintShare(app, kFloorSeconds);
        const double write =
            BareWriteShare(file.toStdString() + ".floor", written, 3528, kFloorSeconds);
        const double wake = BareWakeShare(kFloorSeconds);
        std::printf("floors outside the program, bare code doing the same for %d s:\n",
                    kFloorSeconds);
        std::printf("  painting a 384x216 picture 30 times a second: %.1f %% of one core\n", paint);
        std::printf(
            "  writing the same %.2f MB/s in the same blocks, synced each second: "
            "%.1f %% of one core\n",
            written / 1e6, write);
        std::printf("  timer wake-ups, 50 and 30 a second, handing over: %.1f %% of one core\n",
                    wake);
        std::printf(
            "  with the library's paced decode: %.1f %% of one core; the program's "
            "own part above them: %.1f %%\n",
            share + paint + write + wake,
            (cpu - source) / seconds * 100 - (share + paint + write + wake));
    }
    return dropped == 0 ? 0 : 2;
}
