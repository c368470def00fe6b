// The AVI Mux and the File Writer, built by the capture graph builder's
// SetOutputFileName and fed by test sources; every file is checked with
// ffprobe or ffmpeg.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <stop_token>
#include <thread>

extern "C" {
#include <libavutil/adler32.h>
}

#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/codecs/videotransform.h"
#include "platform/media/container/avi_probe.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/devices/virtual/picture_reader.h"
#include "platform/media/devices/virtual/virtualdevices.h"
#include "platform/media/io/filewriter.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media {
namespace {

using namespace com;
using namespace test;

constexpr REFERENCE_TIME kFrame = 400000;  // 25 fps.

std::vector<uint8_t> SmallJpeg(int width, int height) {
    std::vector<uint8_t> rgb(size_t(width) * height * 4);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = uint8_t(i * 7);
    std::vector<uint8_t> out(JpegEncoder::MaxSize(width, height));
    JpegEncoder encoder;
    out.resize(encoder.EncodeRgb32(rgb.data(), width, height, false, 75, out));
    return out;
}

// A frame: a real JPEG picture, then the frame number and padding after its
// end marker, where decoders do not look, so every frame's bytes differ.
std::vector<uint8_t> Frame(const std::vector<uint8_t>& jpeg, uint32_t index, size_t size = 0) {
    std::vector<uint8_t> frame = jpeg;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&index);
    frame.insert(frame.end(), p, p + sizeof index);
    if (frame.size() < size)
        frame.resize(size, uint8_t(index));
    return frame;
}

uint32_t Adler(const std::vector<uint8_t>& data) {
    return av_adler32_update(0, data.data(), data.size());
}

// A disk that holds writes back until opened, or until the writer stops.
class DiskGate {
public:
    IFileWriterQueue::DiskWrite Seam() {
        return
            [this](int fd, const uint8_t* data, size_t size, int64_t offset, std::stop_token stop) {
                {
                    std::unique_lock guard(m_lock);
                    m_cv.wait(guard, stop, [&] { return m_open; });
                }
                return ::pwrite(fd, data, size, offset) == ssize_t(size) ? 0 : EIO;
            };
    }
    void Open() {
        {
            std::lock_guard guard(m_lock);
            m_open = true;
        }
        m_cv.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable_any m_cv;
    bool m_open = false;
};

class CaptureFile : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterEngineClasses();
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath("capture.avi");
        m_graph = CreateFilterGraph();
        m_control = m_graph.As<IMediaControl>();
        m_events = m_graph.As<IMediaEventEx>();
        ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                   ICaptureGraphBuilder2::iid, m_builder.OutVoid()),
                  S_OK);
        ASSERT_EQ(m_builder->SetFiltergraph(m_graph.As<IGraphBuilder>().Get()), S_OK);
        const std::u16string name = m_path.toStdU16String();
        ASSERT_EQ(m_builder->SetOutputFileName(&MEDIASUBTYPE_Avi, name.c_str(),
                                               m_mux.ReleaseAndGetAddressOf(),
                                               m_sink.ReleaseAndGetAddressOf()),
                  S_OK);
        ASSERT_TRUE(m_mux && m_sink);
        m_sink.As(&m_queue);
        ASSERT_TRUE(m_queue);
    }
    void TearDown() override {
        if (m_control)
            m_control->Stop();
    }

    // A source connected to the mux's next free input by the builder.
    TestSource* AddSource(const MediaType& type, LONG buffer_size, LONG buffers = 4) {
        TestSource::Options options;
        options.types = {type};
        options.buffer_size = buffer_size;
        options.buffers = buffers;
        m_sources.push_back(TestSource::Make(options));
        TestSource* source = m_sources.back().Get();
        EXPECT_TRUE(SUCCEEDED(m_graph->AddFilter(source->Filter(), u"Source")));
        EXPECT_EQ(m_builder->RenderStream(nullptr, nullptr, source->Filter(), nullptr, m_mux.Get()),
                  S_OK);
        return source;
    }
    TestSource* AddVideo(LONG buffer_size = 64 * 1024) {
        return AddSource(MediaType::Video(MEDIASUBTYPE_MJPG, 64, 48, 24, kFrame), buffer_size);
    }

    // Waits for event `code` (skipping others); its first parameter.
    std::optional<LONG_PTR> WaitEvent(LONG code, int timeout_ms = 10000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < deadline) {
            LONG c = 0;
            LONG_PTR p1 = 0, p2 = 0;
            if (m_events->GetEvent(&c, &p1, &p2, 100) == S_OK && c == code)
                return p1;
        }
        return std::nullopt;
    }

    QTemporaryDir m_dir;
    QString m_path;
    ComPtr<IFilterGraph2> m_graph;
    ComPtr<IMediaControl> m_control;
    ComPtr<IMediaEventEx> m_events;
    ComPtr<ICaptureGraphBuilder2> m_builder;
    ComPtr<IBaseFilter> m_mux;
    ComPtr<IFileSinkFilter> m_sink;
    ComPtr<IFileWriterQueue> m_queue;
    std::vector<ComPtr<TestSource>> m_sources;
};

TEST_F(CaptureFile, VideoKeepsItsGapsAndAudioIsInterleavedAndContinuous) {
    TestSource* video = AddVideo();
    TestSource* audio = AddSource(MediaType::Pcm(48000, 16, 2), 3840);
    ASSERT_EQ(m_control->Run(), S_OK);
    EXPECT_TRUE(QFile::exists(m_path)) << "the file is created when the graph leaves Stopped";

    // 50 frames from the third place on (the video starts two frames after
    // the graph ran, so two empty places lead); the source dropped 5, 6 and
    // 20. Start times wander around their place by less than half a frame.
    const std::vector<uint8_t> jpeg = SmallJpeg(64, 48);
    std::map<uint32_t, uint32_t> place_of_checksum;
    size_t audio_bytes = 0;
    for (uint32_t i = 0; i < 50; ++i) {
        const bool dropped = i == 5 || i == 6 || i == 20;
        if (!dropped) {
            const std::vector<uint8_t> frame = Frame(jpeg, i);
            place_of_checksum[Adler(frame)] = i;
            const REFERENCE_TIME jitter = (i % 3 == 0 ? -1 : 1) * (kFrame / 3);
            const REFERENCE_TIME start = 2 * kFrame + i * kFrame + jitter;
            ASSERT_EQ(video->Push(frame, start, start + kFrame), S_OK);
        }
        // 20 ms blocks stamped 40 ms apart, the last ones 400 ms late: stamps
        // that jump without a discontinuity mark do not move the video.
        const std::vector<uint8_t> block(3840, uint8_t(i));
        const REFERENCE_TIME at = i * kFrame + (i > 40 ? 10 * kFrame : 0);
        ASSERT_EQ(audio->Push(block, at, at + kFrame), S_OK);
        audio_bytes += block.size();
    }
    ASSERT_EQ(m_control->Stop(), S_OK);

    const auto streams = ProbeStreams(m_path);
    ASSERT_TRUE(streams);
    ASSERT_EQ(streams->size(), 2u);
    EXPECT_EQ((*streams)[0].codec, "mjpeg");
    EXPECT_EQ((*streams)[0].width, 64);
    EXPECT_EQ((*streams)[0].height, 48);
    EXPECT_EQ((*streams)[0].frame_rate, "25/1");
    EXPECT_NEAR((*streams)[0].duration_s, 2.08, 0.05) << "the dropped frames keep their time";
    EXPECT_EQ((*streams)[1].codec, "pcm_s16le");
    EXPECT_EQ((*streams)[1].sample_rate, 48000);
    EXPECT_EQ((*streams)[1].channels, 2);
    EXPECT_EQ((*streams)[1].frames, 48000) << "audio is written back to back";

    const auto packets = PacketChecksums(m_path);
    ASSERT_TRUE(packets);
    std::vector<int64_t> video_places;
    size_t audio_read = 0;
    for (const PacketChecksum& p : *packets) {
        if (p.stream == 1) {
            audio_read += size_t(p.size);
            continue;
        }
        if (p.size == 0)
            continue;  // An empty frame stands for a dropped one.
        auto it = place_of_checksum.find(p.adler);
        ASSERT_NE(it, place_of_checksum.end()) << "a frame the source never sent";
        EXPECT_EQ(p.pts, int64_t(it->second) + 2) << "frame " << it->second << " moved";
        video_places.push_back(p.pts);
        place_of_checksum.erase(it);
    }
    EXPECT_TRUE(place_of_checksum.empty()) << place_of_checksum.size() << " frames missing";
    EXPECT_TRUE(std::is_sorted(video_places.begin(), video_places.end()));
    EXPECT_EQ(audio_read, audio_bytes);

    // In the file, audio chunks lie between the video chunks.
    const auto order = ProbePackets(m_path);
    ASSERT_TRUE(order);
    int switches = 0;
    for (size_t i = 1; i < order->size(); ++i)
        switches += (*order)[i].stream != (*order)[i - 1].stream;
    EXPECT_GT(switches, 20) << "the streams are not interleaved";
}

// The header's frame rate is the one the device delivers: named in the
// type (rates of video standards written exactly), carried on the first
// frame, or measured over the first second (frames the source lost do not
// lower it) and taken to the nearest standard rate. A first frame that
// tells interlacing and a display aspect has them in the file too.
TEST(CaptureFileRates, TheHeaderCarriesTheRateTheDeviceDelivers) {
    RegisterEngineClasses();
    struct Case {
        const char* name;
        REFERENCE_TIME type_period;   // 0: the type names none.
        REFERENCE_TIME first_period;  // A type on the first frame; 0: none.
        double true_fps;              // The frames' real rate.
        int lose_every;               // Frames the source loses (by number).
        const char* header;
        bool interlaced_wide = false;  // The first frame: interlaced, 16:9.
    };
    const Case cases[] = {
        {"named 29.97", 333'667, 0, 30000.0 / 1001, 0, "30000/1001"},
        {"named 25", 400'000, 0, 25, 0, "25/1"},
        {"none, delivers 29.97", 0, 0, 30000.0 / 1001, 0, "30000/1001"},
        {"none, delivers 25 losing frames", 0, 0, 25, 4, "25/1"},
        {"none, delivers 12.5", 0, 0, 12.5, 0, "25/2"},
        {"30 named, driver runs at 29.97", 333'333, 333'667, 30000.0 / 1001, 0, "30000/1001"},
        {"interlaced 16:9 at 25 on the first frame", 0, 400'000, 25, 0, "25/1", true},
    };
    const std::vector<uint8_t> jpeg = SmallJpeg(64, 48);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("rate.avi");
        const CaptureFileGraph file = MakeCaptureFileGraph(path.toStdU16String());
        ASSERT_TRUE(file.mux);
        const ComPtr<IFilterGraph2>& graph = file.graph;
        TestSource::Options options;
        options.types = {MediaType::Video(MEDIASUBTYPE_MJPG, 64, 48, 24, c.type_period)};
        options.buffer_size = 64 * 1024;
        ComPtr<TestSource> video = TestSource::Make(options);
        graph->AddFilter(video->Filter(), u"Source");
        ASSERT_EQ(
            file.builder->RenderStream(nullptr, nullptr, video->Filter(), nullptr, file.mux.Get()),
            S_OK);
        ASSERT_EQ(graph.As<IMediaControl>()->Run(), S_OK);
        const int frames = int(3 * c.true_fps);  // Three seconds.
        int pushed = 0;
        for (int n = 0; n < frames; ++n) {
            if (c.lose_every && n % c.lose_every == c.lose_every - 1)
                continue;
            const auto at = REFERENCE_TIME(std::llround(n * 1e7 / c.true_fps));
            if (n == 0 && c.first_period) {
                ComPtr<IMediaSample> sample;
                ASSERT_EQ(video->Output()->GetDeliveryBuffer(sample.ReleaseAndGetAddressOf(), 0),
                          S_OK);
                BYTE* p = nullptr;
                sample->GetPointer(&p);
                std::memcpy(p, jpeg.data(), jpeg.size());
                sample->SetActualDataLength(LONG(jpeg.size()));
                REFERENCE_TIME start = at, stop = at + 1;
                sample->SetTime(&start, &stop);
                LONGLONG m0 = 0, m1 = 1;
                sample->SetMediaTime(&m0, &m1);
                MediaType real = MediaType::Video(MEDIASUBTYPE_MJPG, 64, 48, 24, c.first_period);
                if (c.interlaced_wide) {
                    VIDEOINFOHEADER2 vih2{};
                    vih2.AvgTimePerFrame = c.first_period;
                    vih2.dwInterlaceFlags = AMINTERLACE_IsInterlaced | AMINTERLACE_Field1First;
                    vih2.dwPictAspectRatioX = 16;
                    vih2.dwPictAspectRatioY = 9;
                    vih2.bmiHeader = real.VideoInfo()->bmiHeader;
                    real =
                        MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_MJPG, FORMAT_VideoInfo2);
                    real.SetFormat(&vih2, sizeof vih2);
                }
                sample->SetMediaType(const_cast<AM_MEDIA_TYPE*>(&real.Get()));
                ASSERT_EQ(video->Output()->Deliver(sample.Get()), S_OK);
            } else {
                ASSERT_EQ(video->Push(jpeg, at, at + 1, 0, false, n, n + 1), S_OK);
            }
            ++pushed;
        }
        graph.As<IMediaControl>()->Stop();
        const auto streams = ProbeStreams(path);
        ASSERT_TRUE(streams && !streams->empty());
        EXPECT_EQ((*streams)[0].frame_rate, c.header);
        EXPECT_EQ(CountPackets(path, "v:0"), pushed);
        EXPECT_EQ((*streams)[0].frames, frames) << "lost frames keep their places";
        EXPECT_EQ((*streams)[0].display_aspect.toStdString(), c.interlaced_wide ? "16:9" : "4:3");
        const auto scan = RunTool("mediainfo", {"--Inform=Video;%ScanType%", path});
        ASSERT_TRUE(scan);
        EXPECT_EQ(scan->trimmed() == QLatin1String("Interlaced"), c.interlaced_wide);
    }
}

TEST_F(CaptureFile, EachRunTruncatesTheFileAndAnUnmappedDriveFailsTheRun) {
    TestSource* video = AddVideo();
    const std::vector<uint8_t> jpeg = SmallJpeg(64, 48);
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(m_control->Run(), S_OK);
        const int frames = run == 0 ? 40 : 7;
        for (int i = 0; i < frames; ++i)
            ASSERT_EQ(video->Push(Frame(jpeg, uint32_t(i)), i * kFrame, (i + 1) * kFrame), S_OK);
        ASSERT_EQ(m_control->Stop(), S_OK);
        EXPECT_EQ(CountPackets(m_path, "v:0"), frames) << "run " << run;
    }

    // The name is mapped when the file is made, and the failure reaches
    // whoever runs the graph.
    qunsetenv("RONVIX_DRIVE_Q");
    ASSERT_EQ(m_sink->SetFileName(u"q:\\capture.avi", nullptr), S_OK);
    EXPECT_EQ(m_control->Run(), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    OAFilterState state = State_Running;
    m_control->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
    LPWSTR name = nullptr;
    ASSERT_EQ(m_sink->GetCurFile(&name, nullptr), S_OK);
    EXPECT_EQ(std::u16string(WideView(name)), u"q:\\capture.avi");
    CoTaskMemFree(name);
}

// A disk that stops taking writes: the queue fills to its limit and the
// graph hears it is buffering; frames that find it full keep their places
// empty and are answered as left out, so the source counts them as dropped
// and never waits; when the disk takes writes again the graph hears so, and
// the file holds every frame that was taken.
TEST_F(CaptureFile, ASlowDiskDropsWhatDoesNotFitAndNeverHoldsTheSource) {
    DiskGate gate;
    ASSERT_EQ(m_queue->SetQueueLimits(512 << 10, 2 << 20, 4 << 20), S_OK);
    ASSERT_EQ(m_queue->SetDiskWrite(gate.Seam()), S_OK);
    TestSource* video = AddVideo();
    ASSERT_EQ(m_control->Run(), S_OK);

    const std::vector<uint8_t> jpeg = SmallJpeg(64, 48);
    constexpr int kFrames = 200;  // 6.4 MB: more than the queue may hold.
    int taken = 0, dropped = 0;
    for (int i = 0; i < kFrames; ++i) {
        const HRESULT hr =
            video->Push(Frame(jpeg, uint32_t(i), 32 << 10), i * kFrame, (i + 1) * kFrame);
        ASSERT_TRUE(hr == S_OK || hr == S_SAMPLE_LEFT_OUT) << i;
        (hr == S_OK ? taken : dropped)++;
    }
    EXPECT_EQ(WaitEvent(EC_BUFFERING_DATA), 1);
    EXPECT_GT(dropped, 0) << "the queue should have filled";
    EXPECT_GT(taken, 100) << "4 MiB holds over a hundred frames";

    gate.Open();
    EXPECT_EQ(WaitEvent(EC_BUFFERING_DATA), 0);
    ASSERT_EQ(m_control->Stop(), S_OK);
    EXPECT_EQ(CountPackets(m_path, "v:0"), taken);
    const auto streams = ProbeStreams(m_path);
    ASSERT_TRUE(streams && !streams->empty());
    EXPECT_EQ((*streams)[0].frames, kFrames) << "dropped frames keep their places";
}

TEST_F(CaptureFile, StopReturnsWhileTheProducerWaitsForTheDisk) {
    DiskGate gate;  // Never opened: only the stop lets writes through.
    ASSERT_EQ(m_queue->SetQueueLimits(512 << 10, 1 << 20, 2 << 20), S_OK);
    ASSERT_EQ(m_queue->SetDiskWrite(gate.Seam()), S_OK);
    TestSource* video = AddVideo();
    ASSERT_EQ(m_control->Run(), S_OK);
    const std::vector<uint8_t> jpeg = SmallJpeg(64, 48);
    std::atomic<int> pushed{0};
    std::thread producer([&] {
        for (int i = 0;; ++i) {
            if (video->Push(Frame(jpeg, uint32_t(i), 32 << 10), i * kFrame, (i + 1) * kFrame) !=
                S_OK)
                return;
            ++pushed;
        }
    });
    ASSERT_TRUE(WaitEvent(EC_BUFFERING_DATA));
    const auto before = std::chrono::steady_clock::now();
    ASSERT_EQ(m_control->Stop(), S_OK);
    producer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    // Everything the mux accepted is in the finished file.
    const long frames = CountPackets(m_path, "v:0");
    EXPECT_GE(frames, pushed.load() - 1);
    EXPECT_LE(frames, pushed.load() + 1);
}

// A disk that fills up, while capturing or only while the file is being
// finished (its legacy index needs new space): the error reaches the graph
// once, the producer learns it, and the file opens with a header and
// indexes that cover every frame up to the last checkpoint.
TEST(CaptureFileFullDisk, TheErrorIsReportedAndTheFileCoversTheLastCheckpoint) {
    RegisterEngineClasses();
    for (const bool while_finishing : {false, true}) {
        SCOPED_TRACE(while_finishing ? "while finishing" : "while capturing");
        QTemporaryDir dir;
        const QString path = dir.filePath("full.avi");
        const CaptureFileGraph file = MakeCaptureFileGraph(path.toStdU16String());
        ASSERT_TRUE(file.mux);
        ComPtr<IFileWriterQueue> writer;
        ComPtr<IPin> out = PinNamed(file.mux.Get(), u"AVI Out"), peer;
        out->ConnectedTo(peer.ReleaseAndGetAddressOf());
        ASSERT_EQ(peer->QueryInterface(IFileWriterQueue::iid, writer.OutVoid()), S_OK);
        std::atomic<int64_t> room{while_finishing ? int64_t(1) << 40 : int64_t(3) << 20};
        std::atomic<int64_t> size{0};
        ASSERT_EQ(writer->SetDiskWrite(
                      [&](int fd, const uint8_t* data, size_t n, int64_t offset, std::stop_token) {
                          const int64_t growth = std::max<int64_t>(0, offset + int64_t(n) - size);
                          if (growth > 0 && room.fetch_sub(growth) < growth)
                              return ENOSPC;
                          size = std::max<int64_t>(size, offset + int64_t(n));
                          return ::pwrite(fd, data, n, offset) == ssize_t(n) ? 0 : EIO;
                      }),
                  S_OK);
        TestSource::Options options;
        options.types = {MediaType::Video(MEDIASUBTYPE_MJPG, 64, 48, 24, kFrame)};
        options.buffer_size = 64 * 1024;
        ComPtr<TestSource> video = TestSource::Make(options);
        file.graph->AddFilter(video->Filter(), u"Source");
        ASSERT_EQ(
            file.builder->RenderStream(nullptr, nullptr, video->Filter(), nullptr, file.mux.Get()),
            S_OK);
        auto events = file.graph.As<IMediaEventEx>();
        ASSERT_EQ(file.graph.As<IMediaControl>()->Run(), S_OK);
        const std::vector<uint8_t> jpeg = SmallJpeg(64, 48);
        HRESULT last = S_OK;
        int accepted = 0;
        auto push = [&](int count) {
            for (int i = 0; i < count && SUCCEEDED(last); ++i) {
                last = video->Push(Frame(jpeg, uint32_t(accepted), 32 << 10), accepted * kFrame,
                                   (accepted + 1) * kFrame);
                accepted += last == S_OK;
            }
        };
        push(60);
        // A second later the next frame brings a checkpoint.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        push(1);
        const int checkpointed = accepted;
        int aborts = 0;
        auto drain = [&](int wait_ms) {
            LONG code = 0;
            LONG_PTR p1 = 0, p2 = 0;
            while (events->GetEvent(&code, &p1, &p2, wait_ms) == S_OK) {
                if (code == EC_ERRORABORT) {
                    ++aborts;
                    EXPECT_EQ(HRESULT(p1), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
                }
                events->FreeEventParams(code, p1, p2);
                if (aborts > 0)
                    wait_ms = 0;
            }
        };
        if (while_finishing) {
            push(20);
            room = 0;  // Nothing more fits: the finish needs new space.
        } else {
            push(200);  // 6.4 MB more: the disk fills on the way.
            drain(10000);
            push(100);
            EXPECT_EQ(last, HRESULT_FROM_WIN32(ERROR_DISK_FULL)) << "the producer learns it";
        }
        ASSERT_EQ(file.graph.As<IMediaControl>()->Stop(), S_OK);
        drain(0);
        EXPECT_EQ(aborts, 1);
        const auto streams = ProbeStreams(path);
        ASSERT_TRUE(streams && !streams->empty());
        EXPECT_GE((*streams)[0].frames, checkpointed);
        EXPECT_LE((*streams)[0].frames, accepted);
        const auto mediainfo = RunTool("mediainfo", {"--Inform=Video;%FrameCount%", path});
        ASSERT_TRUE(mediainfo);
        EXPECT_EQ(mediainfo->trimmed().toLong(), (*streams)[0].frames);
    }
}

// A disk slower than the capture (2 MB/s against 3.2 MB/s of frames, for
// six seconds): the queue holds what the disk writes in about three
// seconds, frames that find it full are dropped and keep their places, and
// Stop returns within five seconds with every frame that was taken in the
// file.
TEST_F(CaptureFile, ASlowDiskStopsWithinFiveSecondsWithEveryFrameTaken) {
    constexpr double kDiskBytesPerSecond = 2e6;
    ASSERT_EQ(m_queue->SetDiskWrite([&](int fd, const uint8_t* data, size_t n, int64_t offset,
                                        std::stop_token) {
        std::this_thread::sleep_for(std::chrono::duration<double>(double(n) / kDiskBytesPerSecond));
        return ::pwrite(fd, data, n, offset) == ssize_t(n) ? 0 : EIO;
    }),
              S_OK);
    TestSource* video = AddVideo(LONG(128 << 10));
    ASSERT_EQ(m_control->Run(), S_OK);
    const std::vector<uint8_t> jpeg = SmallJpeg(64, 48);
    constexpr int kFrames = 150;  // 25 a second for six seconds.
    int taken = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kFrames; ++i) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(40 * i));
        const HRESULT hr =
            video->Push(Frame(jpeg, uint32_t(i), 128 << 10), i * kFrame, (i + 1) * kFrame);
        ASSERT_TRUE(hr == S_OK || hr == S_SAMPLE_LEFT_OUT) << i;
        taken += hr == S_OK;
    }
    const auto stopping = std::chrono::steady_clock::now();
    ASSERT_EQ(m_control->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(5));
    EXPECT_LT(taken, kFrames) << "the disk could not have kept up";
    EXPECT_EQ(CountPackets(m_path, "v:0"), taken);
    const auto streams = ProbeStreams(m_path);
    ASSERT_TRUE(streams && !streams->empty());
    EXPECT_EQ((*streams)[0].frames, kFrames);
}

TEST_F(CaptureFile, ReleasingTheGraphWhileCapturingLeavesACompleteFile) {
    TestSource* video = AddVideo();
    ASSERT_EQ(m_control->Run(), S_OK);
    const std::vector<uint8_t> jpeg = SmallJpeg(64, 48);
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(video->Push(Frame(jpeg, uint32_t(i)), i * kFrame, (i + 1) * kFrame), S_OK);
    m_control = nullptr;
    m_events = nullptr;
    m_builder = nullptr;
    m_mux = nullptr;
    m_sink = nullptr;
    m_queue = nullptr;
    m_graph = nullptr;  // The last reference: the graph stops and finishes the file.

    const auto streams = ProbeStreams(m_path);
    ASSERT_TRUE(streams);
    ASSERT_EQ(streams->size(), 1u);
    EXPECT_EQ((*streams)[0].frames, 30) << "the header's frame count was not written";
    EXPECT_EQ(CountPackets(m_path, "v:0"), 30);
    EXPECT_EQ(RefCount(video->Filter()), 1u);
}

TEST_F(CaptureFile, PastOneGibibyteTheFileContinuesInOpenDmlFormWithEveryFrame) {
    constexpr size_t kFrameBytes = 1 << 20;
    constexpr int kFrames = 1100;  // 1.1 GiB
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(m_dir.path().toUtf8().constData(), &fs), 0);
    const uint64_t free_bytes = uint64_t(fs.f_bavail) * fs.f_frsize;
    if (free_bytes < uint64_t(kFrames + 200) * kFrameBytes)
        GTEST_SKIP() << "needs 1.3 GB free in " << m_dir.path().toStdString() << ", has "
                     << free_bytes;

    TestSource* video = AddVideo(LONG(kFrameBytes));
    ASSERT_EQ(m_control->Run(), S_OK);
    const std::vector<uint8_t> jpeg = SmallJpeg(64, 48);
    std::map<uint32_t, int> place_of_checksum;
    for (int i = 0; i < kFrames; ++i) {
        const std::vector<uint8_t> frame = Frame(jpeg, uint32_t(i), kFrameBytes);
        place_of_checksum[Adler(frame)] = i;
        // Paced by the disk, as a live source is by time: every frame fits.
        for (uint64_t room = 0; m_queue->GetRoom(&room) == S_OK && room < 2 * kFrameBytes;)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(video->Push(frame, i * kFrame, (i + 1) * kFrame), S_OK);
    }
    ASSERT_EQ(m_control->Stop(), S_OK);
    EXPECT_GT(QFileInfo(m_path).size(), int64_t(1) << 30);

    const auto packets = PacketChecksums(m_path);
    ASSERT_TRUE(packets);
    int64_t place = 0;
    for (const PacketChecksum& p : *packets) {
        auto it = place_of_checksum.find(p.adler);
        ASSERT_NE(it, place_of_checksum.end());
        EXPECT_EQ(it->second, place);
        EXPECT_EQ(p.pts, place);
        ++place;
    }
    EXPECT_EQ(place, kFrames);

    // The second RIFF list of an OpenDML file.
    QFile file(m_path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    ASSERT_TRUE(file.seek((int64_t(1) << 30) - (8 << 20)));
    const QByteArray tail = file.read(32 << 20);
    EXPECT_TRUE(tail.contains("AVIXLIST")) << "no OpenDML extension list after 1 GiB";
    QFile(m_path).remove();
}

// The camera's frame `index` as the file holds it, read back through ffmpeg
// (720x576 YUY2), or an empty picture.
Picture CameraFrameFromFile(const QString& path, long index) {
    const auto raw = RunTool("ffmpeg", {"-v", "error", "-i", path, "-map", "0:v:0", "-vf",
                                        QStringLiteral("select=eq(n\\,%1)").arg(index), "-frames:v",
                                        "1", "-f", "rawvideo", "-pix_fmt", "yuyv422", "-"});
    if (!raw || raw->size() != 720 * 576 * 2)
        return {};
    return FromYuy2(std::vector<uint8_t>(raw->begin(), raw->end()), 720, 576);
}

TEST_F(CaptureFile, AnUnpacedCameraCapturePastOneGibibyteOpensWithEveryFrame) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "drawing 1 GiB of pictures takes minutes under a sanitizer";
#endif
    constexpr int64_t kTarget = (int64_t(1) << 30) + (64 << 20);
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(m_dir.path().toUtf8().constData(), &fs), 0);
    if (uint64_t(fs.f_bavail) * fs.f_frsize < uint64_t(kTarget) + (256 << 20))
        GTEST_SKIP() << "needs 1.4 GB free in " << m_dir.path().toStdString();

    RegisterVirtualDevices();
    VirtualDeviceHooks hooks;
    hooks.unpaced = true;
    ComPtr<IBaseFilter> camera;
    ASSERT_EQ(CreateTestCamera(hooks, IBaseFilter::iid, camera.OutVoid()), S_OK);
    ASSERT_EQ(m_graph->AddFilter(camera.Get(), u"camera"), S_OK);
    // Uncompressed 720x576 frames: 810 KiB each, about 1,400 for the target.
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(m_builder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, camera.Get(),
                                       IAMStreamConfig::iid, config.OutVoid()),
              S_OK);
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    bool chosen = false;
    for (int i = 0; i < count && !chosen; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        std::vector<BYTE> caps(size_t(std::max(size, 1)));
        ASSERT_EQ(config->GetStreamCaps(i, &mt, caps.data()), S_OK);
        VideoGeometry g;
        if (mt->subtype == MEDIASUBTYPE_YUY2 && ReadGeometry(*mt, &g) && g.width == 720 &&
            g.height == 576)
            chosen = config->SetFormat(mt) == S_OK;
        DeleteMediaType(mt);
    }
    ASSERT_TRUE(chosen) << "the camera offers no 720x576 YUY2";
    // The unpaced camera outruns any disk; the queue may hold what it makes,
    // so that every frame reaches the file.
    ASSERT_EQ(m_queue->SetQueueLimits(64 << 20, 1ull << 30, 2ull << 30), S_OK);
    ASSERT_EQ(
        m_builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, camera.Get(), nullptr, m_mux.Get()),
        S_OK);

    ASSERT_EQ(m_control->Run(), S_OK);
    QDeadlineTimer deadline(180000);
    while (QFileInfo(m_path).size() < kTarget && !deadline.hasExpired())
        QThread::msleep(50);
    ASSERT_EQ(m_control->Stop(), S_OK);
    ASSERT_GE(QFileInfo(m_path).size(), kTarget) << "the capture did not reach 1 GiB in time";

    ComPtr<IAMDroppedFrames> drops;
    ASSERT_EQ(m_builder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, camera.Get(),
                                       IAMDroppedFrames::iid, drops.OutVoid()),
              S_OK);
    LONG delivered = 0;
    drops->GetNumNotDropped(&delivered);
    // An unpaced camera waits for buffers instead of dropping. The frames it
    // makes between the mux's stop and its own are refused and counted as
    // dropped; they come after the last delivered one, whose frame number
    // (checked below) shows that none was lost before it.
    // Every frame the camera delivered is in the file, in order, one packet
    // per frame slot.
    const auto packets = ProbePackets(m_path);
    ASSERT_TRUE(packets);
    ASSERT_EQ(long(packets->size()), long(delivered));
    for (size_t i = 0; i < packets->size(); ++i) {
        ASSERT_EQ((*packets)[i].pts, int64_t(i));
        ASSERT_EQ((*packets)[i].size, 720 * 576 * 2) << "packet " << i;
    }
    // The pictures carry their frame numbers: the first, one past 1 GiB and
    // the last.
    const long past = long((int64_t(1) << 30) / (720 * 576 * 2)) + 1;
    for (long index : {0L, past, long(delivered) - 1}) {
        const std::optional<uint32_t> code = ReadBlockCode(CameraFrameFromFile(m_path, index));
        ASSERT_TRUE(code.has_value()) << "frame " << index;
        EXPECT_EQ(long(*code), index);
    }
    QFile(m_path).remove();
}

TEST(AviMux, AddsAnInputForEachConnectionAndTakesWhatAviHolds) {
    RegisterEngineClasses();
    ComPtr<IBaseFilter> mux;
    ASSERT_EQ(CoCreateInstance(CLSID_AviDest, nullptr, CLSCTX_INPROC_SERVER, IBaseFilter::iid,
                               mux.OutVoid()),
              S_OK);
    FilterHarness harness(std::move(mux));
    mux = harness.Filter();
    ASSERT_TRUE(PinNamed(mux.Get(), u"AVI Out"));
    ASSERT_TRUE(PinNamed(mux.Get(), u"Input 01"));
    EXPECT_FALSE(PinNamed(mux.Get(), u"Input 02"));

    auto accepts = [&](const MediaType& type) {
        ComPtr<IPin> in = PinNamed(mux.Get(), u"Input 01");
        return in->QueryAccept(&type.Get()) == S_OK;
    };
    EXPECT_TRUE(accepts(MediaType::Video(MEDIASUBTYPE_MJPG, 720, 576, 24, kFrame)));
    EXPECT_TRUE(accepts(MediaType::Video(MEDIASUBTYPE_YUY2, 720, 576, 16, kFrame)));
    EXPECT_TRUE(accepts(MediaType::Video(MEDIASUBTYPE_RGB32, 320, 240, 32, kFrame)));
    EXPECT_TRUE(accepts(MediaType::Pcm(44100, 16, 1)));
    EXPECT_FALSE(accepts(MediaType::Video(MEDIASUBTYPE_MJPG, 0, 576, 24, kFrame)));
    EXPECT_FALSE(accepts(MediaType::Video(SubtypeFromFourcc(0x21585858), 64, 64, 24, kFrame)));
    MediaType odd = MediaType::Pcm(48000, 12, 2);
    EXPECT_FALSE(accepts(odd)) << "12-bit samples have no AVI form";
    MediaType float_audio = MediaType::Pcm(48000, 32, 2);
    reinterpret_cast<WAVEFORMATEX*>(float_audio->pbFormat)->wFormatTag = 3;
    EXPECT_FALSE(accepts(float_audio));

    TestSource::Options video;
    video.types = {MediaType::Video(MEDIASUBTYPE_MJPG, 64, 48, 24, kFrame)};
    TestSource* a = harness.AddSource(video);
    ASSERT_EQ(harness.ConnectIn(a, u"Input 01"), S_OK);
    ASSERT_TRUE(PinNamed(mux.Get(), u"Input 02"));
    TestSource::Options audio;
    audio.types = {MediaType::Pcm(48000, 16, 2)};
    TestSource* b = harness.AddSource(audio);
    ASSERT_EQ(harness.ConnectIn(b, u"Input 02"), S_OK);
    EXPECT_TRUE(PinNamed(mux.Get(), u"Input 03"));

    // Without a writer downstream the mux runs and drops what it gets.
    ASSERT_EQ(harness.Control()->Run(), S_OK);
    EXPECT_EQ(a->Push(SmallJpeg(64, 48), 0, kFrame), S_OK);
    mux = nullptr;
    harness.Teardown();
}

}  // namespace
}  // namespace ronvix::media
