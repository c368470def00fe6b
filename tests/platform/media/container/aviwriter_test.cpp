// The capture container against readers that share none of its code:
// ffprobe (libavformat), MediaInfo and GStreamer's AVI demuxer, for a file
// of several RIFFs and many standard indexes, finished and as a crash would
// leave it at any checkpoint; and the repair of a file cut anywhere.

#include "platform/media/container/aviwriter.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <functional>

#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/container/avi_probe.h"
#include "platform/media/container/avirepair.h"

namespace ronvix::media::test {
namespace {

using namespace com;

// Every write in order; a barrier marks how far a crash after it could
// have reached (a prefix of the writes).
class RecordingSink final : public AviSink {
public:
    struct Write {
        uint64_t offset;
        std::vector<uint8_t> bytes;
    };
    HRESULT WriteAt(uint64_t offset, std::span<const std::span<const uint8_t>> parts) override {
        Write w{offset, {}};
        for (const auto& p : parts)
            w.bytes.insert(w.bytes.end(), p.begin(), p.end());
        writes.push_back(std::move(w));
        return S_OK;
    }
    HRESULT Barrier() override {
        barriers.push_back(writes.size());
        if (on_barrier)
            on_barrier();
        return S_OK;
    }
    // The file as it would be with the first `count` writes on the disk.
    QByteArray Prefix(size_t count) const {
        QByteArray file;
        for (size_t i = 0; i < count; ++i) {
            const Write& w = writes[i];
            const auto end = qsizetype(w.offset + w.bytes.size());
            if (file.size() < end)
                file.resize(end, '\0');
            std::memcpy(file.data() + w.offset, w.bytes.data(), w.bytes.size());
        }
        return file;
    }

    std::vector<Write> writes;
    std::vector<size_t> barriers;
    std::function<void()> on_barrier;
};

using Readers = OtherReaders;

Readers Read(const QString& path) {
    return ReadWithOtherReaders(path);
}

std::vector<uint8_t> Jpeg(uint32_t index) {
    std::vector<uint8_t> rgb(32 * 32 * 4, uint8_t(index * 13));
    std::vector<uint8_t> out(JpegEncoder::MaxSize(32, 32));
    JpegEncoder encoder;
    out.resize(encoder.EncodeRgb32(rgb.data(), 32, 32, false, 60, out));
    // The index after the end marker, where decoders do not look.
    const auto* p = reinterpret_cast<const uint8_t*>(&index);
    out.insert(out.end(), p, p + 4);
    return out;
}

// A small video + sound file crossing several RIFFs and standard indexes:
// 600 places (every tenth empty), 20 ms of sound per frame, a checkpoint
// every 25 places (and whenever a standard index fills).
struct Written {
    RecordingSink sink;
    std::vector<int64_t> places_at_barrier;  // The video places each barrier covers.
};

// Pictures among the first `places` places.
int64_t Pictures(int64_t places) {
    return places - (places + 1) / 10;
}

std::unique_ptr<Written> WriteFile() {
    auto w = std::make_unique<Written>();
    AviFileWriter::Options options;
    options.riff_limit = 256 << 10;
    options.index_capacity = 16;
    options.super_index_capacity = 64;
    AviFileWriter writer(w->sink, options);
    AviVideoFormat video;
    BITMAPINFOHEADER bih{};
    bih.biWidth = 32;
    bih.biHeight = 32;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biCompression = 0x47504A4D;  // MJPG
    const auto* b = reinterpret_cast<const uint8_t*>(&bih);
    video.strf.assign(b, b + sizeof bih);
    video.handler = 0x47504A4D;
    video.width = 32;
    video.height = 32;
    const int v = writer.AddVideo(video);
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = 1;
    wfx.nSamplesPerSec = 8000;
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = 2;
    wfx.nAvgBytesPerSec = 16000;
    AviAudioFormat audio;
    const auto* a = reinterpret_cast<const uint8_t*>(&wfx);
    audio.strf.assign(a, a + sizeof wfx);
    audio.block_align = 2;
    audio.bytes_per_second = 16000;
    audio.sample_rate = 8000;
    const int s = writer.AddAudio(audio);
    w->sink.on_barrier = [&] { w->places_at_barrier.push_back(writer.Chunks(v)); };
    EXPECT_EQ(writer.Begin(), S_OK);
    const std::vector<uint8_t> sound(640, 0);
    for (int64_t place = 0; place < 600; ++place) {
        const std::vector<uint8_t> frame =
            place % 10 == 9 ? std::vector<uint8_t>() : Jpeg(uint32_t(place));
        EXPECT_EQ(writer.Write(v, frame), S_OK);
        EXPECT_EQ(writer.Write(s, sound), S_OK);
        if (place % 25 == 24) {
            EXPECT_EQ(writer.Checkpoint(), S_OK);
        }
    }
    EXPECT_EQ(writer.Write(v, Jpeg(600)), S_OK);  // After the last checkpoint.
    EXPECT_EQ(writer.Finish(), S_OK);
    w->sink.on_barrier = nullptr;
    return w;
}

TEST(AviContainer, ReadersAgreeOnTheFinishedFileAndOnEveryCheckpointACrashLeaves) {
    const std::unique_ptr<Written> w = WriteFile();
    QTemporaryDir dir;
    const QString path = dir.filePath("container.avi");
    auto save = [&](size_t writes) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(w->sink.Prefix(writes));
    };

    // Finished: 601 places, 541 pictures, in several RIFFs.
    save(w->sink.writes.size());
    const Readers done = Read(path);
    EXPECT_EQ(done.header, 601);
    EXPECT_EQ(done.packets, 541);
    EXPECT_EQ(done.mediainfo, 601);
    EXPECT_EQ(done.gstreamer, 541);
    const auto packets = PacketChecksums(path);
    ASSERT_TRUE(packets);
    int64_t last = -1;
    for (const PacketChecksum& p : *packets)
        if (p.stream == 0) {
            EXPECT_GT(p.pts, last);
            EXPECT_NE(p.pts % 10, 9) << "an empty place came back as a picture";
            last = p.pts;
        }

    // A crash just before a barrier leaves what the barrier before it made
    // durable and the patches after it described: the header and MediaInfo
    // say exactly those places; the demuxers deliver at least their
    // pictures (they may read on into what lies past the indexes).
    const std::vector<size_t>& barriers = w->sink.barriers;
    ASSERT_EQ(barriers.size(), w->places_at_barrier.size());
    int checked = 0;
    for (size_t i = 2; i < barriers.size(); i += 7) {
        save(barriers[i]);
        const Readers r = Read(path);
        const int64_t places = w->places_at_barrier[i - 1];
        SCOPED_TRACE(places);
        EXPECT_EQ(r.header, places);
        EXPECT_EQ(r.mediainfo, places);
        EXPECT_GE(r.gstreamer, Pictures(places));
        EXPECT_LE(r.gstreamer, Pictures(w->places_at_barrier[i]));
        EXPECT_GE(r.packets, Pictures(places));
        ++checked;
    }
    EXPECT_GE(checked, 4);
}

TEST(AviContainer, ARepairRecoversEveryWholeChunkWhereverTheFileWasCut) {
    const std::unique_ptr<Written> w = WriteFile();
    const QByteArray whole = w->sink.Prefix(w->sink.writes.size());
    QTemporaryDir dir;
    const QString cut = dir.filePath("cut.avi"), fixed = dir.filePath("fixed.avi");
    for (double share : {0.3, 0.55, 0.81, 1.0}) {
        SCOPED_TRACE(share);
        QFile f(cut);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(whole.left(qsizetype(double(whole.size()) * share)));
        f.close();
        AviRepairReport report;
        ASSERT_EQ(RepairAvi(cut.toStdString(), fixed.toStdString(), &report), S_OK);
        const Readers r = Read(fixed);
        EXPECT_EQ(r.header, report.video_frames);
        EXPECT_EQ(r.mediainfo, report.video_frames);
        EXPECT_EQ(r.gstreamer, report.pictures);
        EXPECT_EQ(r.packets, report.pictures);
        // Every chunk that was whole: nearly all of the share of the file.
        EXPECT_GE(double(report.video_frames), 601 * share * 0.9);
        if (share == 1.0) {
            EXPECT_EQ(report.video_frames, 601);
            EXPECT_EQ(report.chunks_indexed_before, 601 + 600);
        }
        // In place: a cut file is replaced by its repair, never made worse.
        ASSERT_EQ(RepairAviInPlace(cut.toStdString(), &report), S_OK);
        EXPECT_TRUE(report.replaced);
        EXPECT_EQ(Read(cut).header, report.video_frames);
    }
    // A file another writer made (no OpenDML index until it is finished),
    // cut in the middle: its whole chunks come back.
    const QString other = dir.filePath("other.avi");
    ASSERT_TRUE(RunTool("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=25",
                                   "-f", "lavfi", "-i", "sine=frequency=1000:sample_rate=8000",
                                   "-t", "4", "-c:v", "mjpeg", "-c:a", "pcm_s16le", "-y", other}));
    QFile whole_other(other);
    ASSERT_TRUE(whole_other.open(QIODevice::ReadOnly));
    const QByteArray other_bytes = whole_other.readAll();
    whole_other.close();
    QFile cut_other(cut);
    ASSERT_TRUE(cut_other.open(QIODevice::WriteOnly | QIODevice::Truncate));
    cut_other.write(other_bytes.left(other_bytes.size() / 2));
    cut_other.close();
    AviRepairReport half;
    ASSERT_EQ(RepairAvi(cut.toStdString(), fixed.toStdString(), &half), S_OK);
    EXPECT_GE(half.video_frames, 40);
    EXPECT_LE(half.video_frames, 60);
    EXPECT_EQ(Read(fixed).header, half.video_frames);
    EXPECT_NEAR(half.audio_seconds, half.video_seconds, 0.2);

    QFile text(cut);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly | QIODevice::Truncate));
    text.write("not an AVI file at all");
    text.close();
    AviRepairReport report;
    EXPECT_EQ(RepairAvi(cut.toStdString(), fixed.toStdString(), &report),
              VFW_E_INVALID_FILE_FORMAT);
}

}  // namespace
}  // namespace ronvix::media::test
