// File Source and AVI Splitter: files made by ffmpeg are read back packet
// for packet, bad files fail or end cleanly, and seeking a running graph
// continues from the new place.

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdlib>

#include "platform/com/oleauto.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/container/avisplitter.h"
#include "platform/media/container/handmade_avi.h"
#include "platform/media/container/playback_files.h"
#include "platform/media/container/playback_path.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/core/sample.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media::test {
namespace {

using namespace com;

constexpr REFERENCE_TIME kSecond = 10'000'000;

class Playback : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RegisterEngineClasses();
        RegisterPlaybackClasses();
    }
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_clip = m_dir.filePath("clip.avi");
        ASSERT_TRUE(MakeAvi(m_clip, 2.0)) << "ffmpeg could not make the test file";
    }

    // A graph with the file's source and a splitter connected to it; the
    // result of that connection.
    HRESULT Open(const QString& path) {
        m_graph = CreateFilterGraph();
        m_graph.As<IMediaFilter>()->SetSyncSource(nullptr);
        const std::u16string name = ToUtf16(path.toStdString());
        HRESULT hr =
            m_graph->AddSourceFilter(name.c_str(), u"Source", m_source.ReleaseAndGetAddressOf());
        if (FAILED(hr))
            return hr;
        EXPECT_EQ(CreateAviSplitter(IBaseFilter::iid, m_splitter.OutVoid()), S_OK);
        EXPECT_EQ(m_graph->AddFilter(m_splitter.Get(), u"Splitter"), S_OK);
        return m_graph->ConnectDirect(PinNamed(m_source.Get(), u"Output").Get(),
                                      PinNamed(m_splitter.Get(), u"Input").Get(), nullptr);
    }
    TestSink* Sink(std::u16string_view output, TestSink::Options options = {}) {
        m_sinks.push_back(TestSink::Make(std::move(options)));
        EXPECT_TRUE(SUCCEEDED(m_graph->AddFilter(m_sinks.back()->Filter(), u"Sink")));
        EXPECT_EQ(m_graph->ConnectDirect(PinNamed(m_splitter.Get(), output).Get(),
                                         m_sinks.back()->Input(), nullptr),
                  S_OK);
        return m_sinks.back().Get();
    }
    LONG WaitForCompletion(LONG timeout_ms = 20000) {
        LONG code = 0;
        m_graph.As<IMediaEvent>()->WaitForCompletion(timeout_ms, &code);
        return code;
    }
    void TearDown() override {
        if (m_graph)
            m_graph.As<IMediaControl>()->Stop();
        m_graph = nullptr;
        if (m_splitter) {
            EXPECT_EQ(RefCount(m_splitter.Get()), 1u) << "the splitter is still referenced";
        }
    }

    QTemporaryDir m_dir;
    QString m_clip;
    ComPtr<IFilterGraph2> m_graph;
    ComPtr<IBaseFilter> m_source;
    ComPtr<IBaseFilter> m_splitter;
    std::vector<ComPtr<TestSink>> m_sinks;
};

TEST_F(Playback, FileSourceMapsDriveNamesReadsByPositionAndRefusesWhatIsNoFile) {
    qputenv("RONVIX_DRIVE_C", m_dir.path().toUtf8());
    ComPtr<IBaseFilter> source;
    ASSERT_EQ(CreateFileSource(IBaseFilter::iid, source.OutVoid()), S_OK);
    ComPtr<IFileSourceFilter> loader = source.As<IFileSourceFilter>();
    ASSERT_TRUE(loader);
    EXPECT_EQ(loader->Load(u"c:\\missing.avi", nullptr), VFW_E_NOT_FOUND);
    EXPECT_EQ(loader->Load(u"q:\\clip.avi", nullptr), VFW_E_NOT_FOUND);  // Unmapped drive.
    EXPECT_EQ(loader->Load(ToUtf16(m_dir.path().toStdString()).c_str(), nullptr),
              VFW_E_NOT_FOUND);  // A folder.
    ASSERT_EQ(loader->Load(u"c:\\clip.avi", nullptr), S_OK);
    EXPECT_EQ(loader->Load(u"c:\\clip.avi", nullptr), E_UNEXPECTED);

    LPWSTR name = nullptr;
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(loader->GetCurFile(&name, &mt), S_OK);
    EXPECT_EQ(WideView(name), u"c:\\clip.avi");
    EXPECT_EQ(mt.majortype, MEDIATYPE_Stream);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_Avi);
    CoTaskMemFree(name);
    FreeMediaType(mt);

    ComPtr<IAsyncReader> reader = PinNamed(source.Get(), u"Output").As<IAsyncReader>();
    ASSERT_TRUE(reader);
    LONGLONG total = 0, available = 0;
    ASSERT_EQ(reader->Length(&total, &available), S_OK);
    EXPECT_EQ(total, QFileInfo(m_clip).size());
    EXPECT_EQ(available, total);
    BYTE head[12] = {};
    ASSERT_EQ(reader->SyncRead(0, 12, head), S_OK);
    EXPECT_EQ(std::memcmp(head, "RIFF", 4), 0);
    EXPECT_EQ(std::memcmp(head + 8, "AVI ", 4), 0);
    // Across the end: what exists, then zeros, and S_FALSE.
    BYTE tail[8];
    std::memset(tail, 0xAB, sizeof(tail));
    EXPECT_EQ(reader->SyncRead(total - 2, 8, tail), S_FALSE);
    EXPECT_EQ(tail[2], 0);
    EXPECT_EQ(tail[7], 0);

    // A queued request is read when waited for; a flush gives requests back.
    ComPtr<IMemAllocator> allocator;
    ALLOCATOR_PROPERTIES props{2, 16, 1, 0};
    ASSERT_EQ(reader->RequestAllocator(nullptr, &props, allocator.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ComPtr<IMediaSample> sample;
    ASSERT_EQ(allocator->GetBuffer(sample.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
    REFERENCE_TIME start = 8 * kSecond, stop = 12 * kSecond;  // Bytes 8..12.
    sample->SetTime(&start, &stop);
    ASSERT_EQ(reader->Request(sample.Get(), 77), S_OK);
    IMediaSample* done = nullptr;
    DWORD_PTR user = 0;
    ASSERT_EQ(reader->WaitForNext(1000, &done, &user), S_OK);
    EXPECT_EQ(user, 77u);
    BYTE* data = nullptr;
    done->GetPointer(&data);
    EXPECT_EQ(done->GetActualDataLength(), 4);
    EXPECT_EQ(std::memcmp(data, "AVI ", 4), 0);
    done->Release();
    EXPECT_EQ(reader->WaitForNext(10, &done, &user), VFW_E_TIMEOUT);
    ASSERT_EQ(reader->Request(sample.Get(), 78), S_OK);
    reader->BeginFlush();
    EXPECT_EQ(reader->Request(sample.Get(), 79), VFW_E_WRONG_STATE);
    ASSERT_EQ(reader->WaitForNext(1000, &done, &user), VFW_E_WRONG_STATE);
    EXPECT_EQ(user, 78u);
    done->Release();
    reader->EndFlush();
    qunsetenv("RONVIX_DRIVE_C");
}

TEST_F(Playback, SplitterOffersEachStreamInFileOrderWithTypesFromTheHeaders) {
    ASSERT_EQ(Open(m_clip), S_OK);
    ComPtr<IPin> video = PinNamed(m_splitter.Get(), u"Stream 00");
    ComPtr<IPin> audio = PinNamed(m_splitter.Get(), u"Stream 01");
    ASSERT_TRUE(video && audio);
    EXPECT_FALSE(PinNamed(m_splitter.Get(), u"Stream 02"));

    auto first_type = [](IPin* pin) {
        ComPtr<IEnumMediaTypes> types;
        pin->EnumMediaTypes(types.ReleaseAndGetAddressOf());
        AM_MEDIA_TYPE* t = nullptr;
        EXPECT_EQ(types->Next(1, &t, nullptr), S_OK);
        MediaType mt(*t);
        DeleteMediaType(t);
        return mt;
    };
    const MediaType v = first_type(video.Get());
    EXPECT_EQ(v->majortype, MEDIATYPE_Video);
    EXPECT_EQ(v->subtype, MEDIASUBTYPE_MJPG);
    ASSERT_TRUE(v.VideoInfo());
    EXPECT_EQ(v.VideoInfo()->bmiHeader.biWidth, 320);
    EXPECT_EQ(v.VideoInfo()->bmiHeader.biHeight, 240);
    EXPECT_EQ(v.VideoInfo()->AvgTimePerFrame, 400000);
    const MediaType a = first_type(audio.Get());
    EXPECT_EQ(a->subtype, MEDIASUBTYPE_PCM);
    ASSERT_TRUE(a.WaveFormat());
    EXPECT_EQ(a.WaveFormat()->nSamplesPerSec, 48000u);
    EXPECT_EQ(a.WaveFormat()->nChannels, 2);
    EXPECT_EQ(a.WaveFormat()->wBitsPerSample, 16);

    // Both pins speak for the one file; the graph answers through them.
    ComPtr<IMediaSeeking> seeking = m_graph.As<IMediaSeeking>();
    LONGLONG duration = 0, stop = 0, from_pin = 0;
    ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
    EXPECT_GT(duration, 19 * kSecond / 10);
    EXPECT_LT(duration, 21 * kSecond / 10);
    ASSERT_EQ(seeking->GetStopPosition(&stop), S_OK);
    EXPECT_EQ(stop, duration);
    ASSERT_EQ(audio.As<IMediaSeeking>()->GetDuration(&from_pin), S_OK);
    EXPECT_EQ(from_pin, duration);
}

TEST_F(Playback, EveryPacketArrivesBitForBitInOrderThenEachPinEndsAndTheGraphCompletes) {
    const auto video_digests = PacketDigests(m_clip, "v");
    const auto audio_digests = PacketDigests(m_clip, "a");
    ASSERT_TRUE(video_digests && audio_digests);
    ASSERT_EQ(video_digests->size(), 50u);
    ASSERT_EQ(Open(m_clip), S_OK);
    TestSink* video = Sink(u"Stream 00");
    TestSink* audio = Sink(u"Stream 01");
    ASSERT_TRUE(SUCCEEDED(m_graph.As<IMediaControl>()->Run()));
    EXPECT_EQ(WaitForCompletion(), EC_COMPLETE);
    EXPECT_EQ(video->EndOfStreams(), 1);
    EXPECT_EQ(audio->EndOfStreams(), 1);

    const auto frames = video->ReceivedSamples();
    ASSERT_EQ(frames.size(), video_digests->size());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(Md5Hex(frames[i].data), (*video_digests)[i]) << "frame " << i;
        EXPECT_TRUE(frames[i].has_time);
        EXPECT_EQ(frames[i].start, REFERENCE_TIME(i) * 400000) << "frame " << i;
    }
    const auto chunks = audio->ReceivedSamples();
    ASSERT_EQ(chunks.size(), audio_digests->size());
    for (size_t i = 0; i < chunks.size(); ++i)
        EXPECT_EQ(Md5Hex(chunks[i].data), (*audio_digests)[i]) << "audio chunk " << i;
}

TEST_F(Playback, FilesThatAreNotReadableAviFailToConnectWithAClearResult) {
    struct Case {
        const char* name;
        QByteArray bytes;
        HRESULT expected;
    };
    QFile wav_file(m_dir.filePath("tone.wav"));
    ASSERT_TRUE(RunTool(
        "ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine", "-t", "0.2", wav_file.fileName()}));
    ASSERT_TRUE(wav_file.open(QIODevice::ReadOnly));
    QFile clip(m_clip);
    ASSERT_TRUE(clip.open(QIODevice::ReadOnly));
    const QByteArray avi = clip.readAll();
    QByteArray no_streams = avi.left(12) + QByteArray(500, '\0');
    const Case cases[] = {
        {"empty", QByteArray(), VFW_E_FILE_TOO_SHORT},
        {"riff only", QByteArray("RIFF\x10\0\0\0AVI ", 12), VFW_E_FILE_TOO_SHORT},
        {"text", QByteArray("this is a text file, not a movie\n").repeated(20),
         VFW_E_INVALID_FILE_FORMAT},
        {"wave", wav_file.readAll(), VFW_E_INVALID_FILE_FORMAT},
        {"header zeroed", no_streams, VFW_E_INVALID_FILE_FORMAT},
        {"header cut", avi.left(300), VFW_E_INVALID_FILE_FORMAT},
    };
    for (const Case& c : cases) {
        const QString path = m_dir.filePath(QString("bad-%1.avi").arg(c.name));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.bytes);
        f.close();
        EXPECT_EQ(Open(path), c.expected) << c.name;
        // Nothing was added for a file that did not connect.
        EXPECT_EQ(PinNamed(m_splitter.Get(), u"Stream 00"), nullptr) << c.name;
        TearDown();
        m_splitter = nullptr;
    }
}

// Files of a few hundred bytes whose headers declare what they do not hold
// (the pictures, audio and index sizes of files that once made playback
// take gigabytes) cost only what the file holds: a picture larger than the
// engine takes refuses the file, and the graph around it refuses to run
// with the same result; anything else plays what it holds to the tape
// deck, with every buffer sized from the file, and ends.
TEST_F(Playback, FilesThatDeclareMoreThanTheyHoldCostOnlyWhatTheyHold) {
    std::vector<uint8_t> jpeg(JpegEncoder::MaxSize(64, 48));
    {
        std::vector<uint8_t> rgb(size_t(64) * 48 * 4, 0x80);
        JpegEncoder encoder;
        jpeg.resize(encoder.EncodeRgb32(rgb.data(), 64, 48, false, 75, jpeg));
        ASSERT_FALSE(jpeg.empty());
    }
    const QByteArray frame(reinterpret_cast<const char*>(jpeg.data()), qsizetype(jpeg.size()));
    const HandmadeAvi::Pcm wide_pcm{64, 1'000'000, 16, QByteArray(64, '\0')};
    struct Case {
        const char* name;
        HandmadeAvi avi;
        HRESULT connect;
        int tape_frames;  // Frames the deck records, when the file plays.
    };
    const Case cases[] = {
        {"one 16000x16000 frame", {16000, 16000, {"\xFF\xD8\xFF\xD9"}}, VFW_E_UNSUPPORTED_VIDEO, 0},
        {"a 32768x32768 stream", {32768, 32768, {}, {}, false}, VFW_E_UNSUPPORTED_VIDEO, 0},
        {"32768x32768 and 64 channels at 1 MHz",
         {32768, 32768, {}, wide_pcm, false},
         VFW_E_UNSUPPORTED_VIDEO,
         0},
        {"8193 wide", {8193, 16, {frame}}, VFW_E_UNSUPPORTED_VIDEO, 0},
        {"8000x8000, an index claiming 2 GiB",
         {8000, 8000, {frame}, {}, true, 0x7FFFFFFF},
         S_OK,
         1},
        {"8192x8192 and 64 channels at 1 MHz",
         {8192, 8192, {frame}, wide_pcm, true, 0xFFFFFFF0},
         S_OK,
         1},
        {"8192x8192 without an index", {8192, 8192, {frame, frame}, {}, false}, S_OK, 2},
    };
    RegisterTapePathClasses();
    const QString tapes = m_dir.filePath("tapes");
    qputenv("RONVIX_TAPE_DIR", tapes.toUtf8());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray bytes = c.avi.Bytes();
        ASSERT_LT(bytes.size(), 2048);
        const QString path = m_dir.filePath("declares.avi");
        {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes);
        }
        ASSERT_EQ(Open(path), c.connect);
        if (SUCCEEDED(c.connect)) {
            // Every pin's type and pool hold what the file can, no more.
            for (ComPtr<IPin>& pin : FilterPins(m_splitter.Get())) {
                if (PinDirection(pin.Get()) != PINDIR_OUTPUT)
                    continue;
                auto sink = MakeCom<CheckingSink>();
                ASSERT_TRUE(SUCCEEDED(m_graph->AddFilter(sink.Get(), u"Checker")));
                ASSERT_EQ(m_graph->ConnectDirect(pin.Get(), sink->Input(), nullptr), S_OK);
                AM_MEDIA_TYPE connected{};
                ASSERT_EQ(pin->ConnectionMediaType(&connected), S_OK);
                const MediaType type(connected);
                FreeMediaType(connected);
                if (const VIDEOINFOHEADER* vih = type.VideoInfo()) {
                    EXPECT_EQ(vih->bmiHeader.biSizeImage, DWORD(kMinPacketBytes));
                }
                EXPECT_EQ(sink->Pool().cbBuffer, LONG(kMinPacketBytes));
            }
        }
        TearDown();
        m_splitter = nullptr;

        QDir(tapes).removeRecursively();
        const TapePathResult played =
            PlayTapePath(path.toStdU16String(), bytes.size(), 10000, false);
        EXPECT_EQ(played.connect, c.connect);
        for (const std::string& fault : played.faults)
            ADD_FAILURE() << fault;
        if (FAILED(c.connect))
            continue;
        EXPECT_TRUE(played.video_to_deck);
        EXPECT_TRUE(played.completed);
        const QStringList recorded = QDir(tapes).entryList(QDir::Files);
        ASSERT_EQ(recorded.size(), 1);
        const auto tape = PacketDigests(QDir(tapes).filePath(recorded[0]), "v");
        ASSERT_TRUE(tape);
        EXPECT_EQ(*tape, std::vector<QByteArray>(size_t(c.tape_frames), Md5Hex(jpeg)));
    }
    qunsetenv("RONVIX_TAPE_DIR");
}

TEST_F(Playback, TruncatedAndDamagedFilesPlayWhatIsReadableAndEnd) {
    const auto digests = PacketDigests(m_clip, "v");
    ASSERT_TRUE(digests);
    QFile clip(m_clip);
    ASSERT_TRUE(clip.open(QIODevice::ReadOnly));
    const QByteArray avi = clip.readAll();

    // Cut at 60 %: no index, a partial last chunk. The frames before the cut
    // arrive unchanged.
    const QString cut = m_dir.filePath("cut.avi");
    {
        QFile f(cut);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(avi.left(avi.size() * 6 / 10));
    }
    ASSERT_EQ(Open(cut), S_OK);
    TestSink* video = Sink(u"Stream 00");
    Sink(u"Stream 01");
    ASSERT_TRUE(SUCCEEDED(m_graph.As<IMediaControl>()->Run()));
    EXPECT_EQ(WaitForCompletion(), EC_COMPLETE);
    const auto frames = video->ReceivedSamples();
    EXPECT_GT(frames.size(), 10u);
    EXPECT_LT(frames.size(), digests->size());
    // The last chunk is cut short and arrives as it is (as other readers
    // give it too); every frame before it is whole.
    for (size_t i = 0; i + 1 < frames.size(); ++i)
        EXPECT_EQ(Md5Hex(frames[i].data), (*digests)[i]) << "frame " << i;
    TearDown();
    m_sinks.clear();

    // Garbage over the middle of the data and over the index: it plays to
    // an end, whatever it makes of the damage.
    QByteArray damaged = avi;
    for (qsizetype i = damaged.size() / 2; i < damaged.size() / 2 + 8192; ++i)
        damaged[i] = char(0xFF ^ (i * 31));
    for (qsizetype i = damaged.size() - 600; i < damaged.size(); i += 3)
        damaged[i] = char(i);
    const QString bad = m_dir.filePath("damaged.avi");
    {
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(damaged);
    }
    ASSERT_EQ(Open(bad), S_OK);
    video = Sink(u"Stream 00");
    Sink(u"Stream 01");
    ASSERT_TRUE(SUCCEEDED(m_graph.As<IMediaControl>()->Run()));
    EXPECT_EQ(WaitForCompletion(), EC_COMPLETE);
    EXPECT_GT(video->Count(), 0u);
}

// Every input the fuzzer kept (and any crash it finds, once added there)
// goes the fuzz target's way, played out as "Print to Tape" plays a file: it
// either fails to connect with a file result and fails to run with that
// result, or plays to its end, with every pool sized from the file.
TEST_F(Playback, EveryFuzzCorpusInputFailsCleanlyOrPlaysToTheEnd) {
    const QByteArray source_dir = qgetenv("RONVIX_SOURCE_DIR");
    ASSERT_FALSE(source_dir.isEmpty());
    const QDir corpus(QString::fromUtf8(source_dir) + "/fuzz/corpus/avi_splitter");
    const QStringList inputs = corpus.entryList(QDir::Files);
    ASSERT_GT(inputs.size(), 10);
    RegisterTapePathClasses();
    qputenv("RONVIX_TAPE_DIR", m_dir.filePath("tapes").toUtf8());
    int played = 0, refused = 0;
    for (const QString& input : inputs) {
        const QFileInfo file(corpus.filePath(input));
        const TapePathResult result =
            PlayTapePath(file.filePath().toStdU16String(), file.size(), 10000);
        for (const std::string& fault : result.faults)
            ADD_FAILURE() << input.toStdString() << ": " << fault;
        if (FAILED(result.connect)) {
            EXPECT_TRUE(result.connect == VFW_E_FILE_TOO_SHORT ||
                        result.connect == VFW_E_INVALID_FILE_FORMAT ||
                        result.connect == VFW_E_UNSUPPORTED_VIDEO)
                << input.toStdString() << ": " << std::hex << result.connect;
            ++refused;
        } else {
            ++played;
        }
    }
    qunsetenv("RONVIX_TAPE_DIR");
    EXPECT_GT(played, 0);
    EXPECT_GT(refused, 0);
}

TEST_F(Playback, SeekingARunningGraphFlushesAndPlaysOnFromTheNewPosition) {
    const auto digests = PacketDigests(m_clip, "v");
    ASSERT_TRUE(digests);
    ASSERT_EQ(Open(m_clip), S_OK);
    TestSink::Options blocking;
    blocking.block = true;
    TestSink* video = Sink(u"Stream 00", blocking);
    TestSink* audio = Sink(u"Stream 01");
    ComPtr<IMediaControl> control = m_graph.As<IMediaControl>();
    ComPtr<IMediaSeeking> seeking = m_graph.As<IMediaSeeking>();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(video->WaitForBlocked());

    LONGLONG target = kSecond, none = 0;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, &none,
                                    AM_SEEKING_NoPositioning),
              S_OK);
    LONGLONG now = 0;
    ASSERT_EQ(seeking->GetCurrentPosition(&now), S_OK);
    EXPECT_GE(now, kSecond);
    EXPECT_LT(now, kSecond + kSecond / 2);  // Reported at once, not after playing.
    EXPECT_GE(video->Flushes(), 1);
    EXPECT_GE(audio->Flushes(), 1);

    video->Unblock();
    EXPECT_EQ(WaitForCompletion(), EC_COMPLETE);
    // The frame held when the seek came was given back, not played; play
    // went on from frame 25 with times counted from the new segment.
    const auto frames = video->ReceivedSamples();
    ASSERT_EQ(frames.size(), digests->size() - 25);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(Md5Hex(frames[i].data), (*digests)[25 + i]) << "frame " << i;
        EXPECT_EQ(frames[i].start, REFERENCE_TIME(i) * 400000);
    }
    for (const auto& chunk : audio->ReceivedSamples())
        EXPECT_GE(chunk.start, -kSecond / 10) << "audio from before the seek";
}

TEST_F(Playback, ASeekAfterTheEndPlaysOnAndCompletesAgain) {
    ASSERT_EQ(Open(m_clip), S_OK);
    TestSink* video = Sink(u"Stream 00");
    Sink(u"Stream 01");
    ComPtr<IMediaControl> control = m_graph.As<IMediaControl>();
    ComPtr<IMediaSeeking> seeking = m_graph.As<IMediaSeeking>();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_EQ(WaitForCompletion(), EC_COMPLETE);
    const size_t first_run = video->ReceivedSamples().size();

    // Still running at the end: the user drags the seek bar back to 1 s.
    LONGLONG target = kSecond, none = 0;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, &none,
                                    AM_SEEKING_NoPositioning),
              S_OK);
    EXPECT_EQ(WaitForCompletion(), EC_COMPLETE) << "the graph completes again after a seek";
    EXPECT_GT(video->ReceivedSamples().size(), first_run) << "frames from 1 s on were played again";
}

TEST_F(Playback, StopPositionEndsEarlyAndSeekingWhileStoppedStartsThere) {
    const auto digests = PacketDigests(m_clip, "v");
    ASSERT_TRUE(digests);
    ASSERT_EQ(Open(m_clip), S_OK);
    TestSink* video = Sink(u"Stream 00");
    ComPtr<IMediaSeeking> seeking = m_graph.As<IMediaSeeking>();
    LONGLONG from = kSecond / 2, to = kSecond;
    ASSERT_EQ(seeking->SetPositions(&from, AM_SEEKING_AbsolutePositioning, &to,
                                    AM_SEEKING_AbsolutePositioning),
              S_OK);
    LONGLONG stop = 0;
    ASSERT_EQ(seeking->GetStopPosition(&stop), S_OK);
    EXPECT_EQ(stop, kSecond);
    ASSERT_TRUE(SUCCEEDED(m_graph.As<IMediaControl>()->Run()));
    ASSERT_TRUE(video->WaitFor([&] { return video->EndOfStreams() == 1; }, 20000));
    const auto frames = video->ReceivedSamples();
    // From the frame at or before 0.5 s (frame 12, 0.48 s) to the last one
    // that starts before 1 s (frame 24); times from the new segment's start.
    ASSERT_EQ(frames.size(), 13u);
    EXPECT_EQ(Md5Hex(frames.front().data), (*digests)[12]);
    EXPECT_EQ(frames.front().start, -200000);
    EXPECT_EQ(Md5Hex(frames.back().data), (*digests)[24]);
}

TEST_F(Playback, StopWakesAStreamingThreadBlockedDownstreamAndReleasesEverything) {
    ASSERT_EQ(Open(m_clip), S_OK);
    TestSink::Options blocking;
    blocking.block = true;
    TestSink* video = Sink(u"Stream 00", blocking);
    Sink(u"Stream 01", blocking);
    ComPtr<IMediaControl> control = m_graph.As<IMediaControl>();
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        ASSERT_TRUE(video->WaitForBlocked() || m_sinks[1]->WaitForBlocked());
        const auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(control->Stop(), S_OK);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    }
    // Disconnecting the input drops the file and its reader.
    ASSERT_EQ(m_graph->Disconnect(PinNamed(m_splitter.Get(), u"Input").Get()), S_OK);
    ASSERT_EQ(m_graph->Disconnect(PinNamed(m_source.Get(), u"Output").Get()), S_OK);
    LONGLONG duration = 0;
    EXPECT_EQ(PinNamed(m_splitter.Get(), u"Stream 00").As<IMediaSeeking>()->GetDuration(&duration),
              VFW_E_NOT_CONNECTED);
    m_source = nullptr;
}

}  // namespace
}  // namespace ronvix::media::test
