// Tape output end to end: a capture made by the engine is played as the
// tape output session builds its graph (file source, splitter, grabber
// restricted to MJPG, the tape deck, its monitor output rendered to the
// video window, the audio pin rendered to the Silent Audio Output), and the
// deck's recording is compared with the capture packet for packet.

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>

#include <algorithm>

#include "platform/com/oleauto.h"
#include "platform/media/codecs/codecs.h"
#include "platform/media/container/avisplitter.h"
#include "platform/media/container/playback_files.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/devices/alsa/audiooutput.h"
#include "platform/media/devices/propertypages.h"
#include "platform/media/devices/virtual/tapedeck.h"
#include "platform/media/devices/virtual/virtualdevices.h"
#include "platform/media/registration/engineclasses.h"
#include "platform/media/ui/propertyframe.h"
#include "platform/media/ui/videorenderer.h"
#include "platform/winui/dialogs.h"

namespace ronvix::media {
namespace {

using namespace com;
using namespace test;

constexpr REFERENCE_TIME kSecond = 10'000'000;

void Spin(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

ComPtr<IBaseFilter> Create(const GUID& clsid) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IBaseFilter::iid, filter.OutVoid()),
        S_OK);
    return filter;
}

class TapeOutput : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RegisterEngineClasses();
        RegisterCodecClasses();
        RegisterVirtualDevices();
        RegisterRendererClasses();
        RegisterPlaybackClasses();
        RegisterAudioOutputs();
        RegisterTapeDeck();
        s_dir = new QTemporaryDir();
        s_capture = s_dir->filePath("capture.avi");
        MakeCapture(s_capture, 3000);
        s_digests = new std::vector<QByteArray>(
            PacketDigests(s_capture, "v").value_or(std::vector<QByteArray>()));
    }
    static void TearDownTestSuite() {
        delete s_digests;
        delete s_dir;
    }

    // The camera's MJPG through the grabber and the tone into a file, for
    // `ms` of live capture.
    static void MakeCapture(const QString& path, int ms) {
        ComPtr<IFilterGraph2> graph = CreateFilterGraph();
        ComPtr<ICaptureGraphBuilder2> builder;
        ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                   ICaptureGraphBuilder2::iid, builder.OutVoid()),
                  S_OK);
        builder->SetFiltergraph(graph.As<IGraphBuilder>().Get());
        ComPtr<IBaseFilter> camera, tone;
        ASSERT_EQ(CreateTestCamera(IBaseFilter::iid, camera.OutVoid()), S_OK);
        ASSERT_EQ(CreateToneGenerator(IBaseFilter::iid, tone.OutVoid()), S_OK);
        graph->AddFilter(camera.Get(), u"camera");
        graph->AddFilter(tone.Get(), u"tone");
        const std::u16string file = path.toStdU16String();
        ComPtr<IBaseFilter> mux;
        ComPtr<IFileSinkFilter> sink;
        ASSERT_EQ(
            builder->SetOutputFileName(&MEDIASUBTYPE_Avi, file.c_str(),
                                       mux.ReleaseAndGetAddressOf(), sink.ReleaseAndGetAddressOf()),
            S_OK);
        ASSERT_EQ(
            builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, camera.Get(), nullptr, mux.Get()),
            S_OK);
        ASSERT_EQ(
            builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, tone.Get(), nullptr, mux.Get()),
            S_OK);
        ComPtr<IMediaControl> control = graph.As<IMediaControl>();
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        Spin(ms);
        ASSERT_EQ(control->Stop(), S_OK);
    }

    void SetUp() override {
        ASSERT_FALSE(s_digests->empty()) << "the capture could not be read back";
        ASSERT_TRUE(m_tape_dir.isValid());
        qputenv("RONVIX_TAPE_DIR", m_tape_dir.path().toUtf8());
        BuildGraph();
    }
    void TearDown() override {
        if (m_graph)
            m_graph.As<IMediaControl>()->Stop();
        m_graph = nullptr;
        qunsetenv("RONVIX_TAPE_DIR");
    }

    // The session's graph, built in the order the tape output start does.
    void BuildGraph() {
        m_graph = CreateFilterGraph();
        ComPtr<ICaptureGraphBuilder2> builder;
        ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                   ICaptureGraphBuilder2::iid, builder.OutVoid()),
                  S_OK);
        builder->SetFiltergraph(m_graph.As<IGraphBuilder>().Get());
        m_deck = Create(CLSID_VirtualTapeDeck);
        ComPtr<IBaseFilter> window = Create(CLSID_VideoWindowRenderer);
        ComPtr<IBaseFilter> grabber = Create(CLSID_SampleGrabber);
        ComPtr<IBaseFilter> audio = Create(CLSID_SilentAudioOutput);
        ComPtr<IBaseFilter> splitter = Create(CLSID_AviSplitter);
        ASSERT_EQ(grabber.As<ISampleGrabber>()->SetMediaType(
                      &MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_MJPG).Get()),
                  S_OK);
        m_graph->AddFilter(m_deck.Get(), u"VideoDestFilter");
        m_graph->AddFilter(window.Get(), u"VideoWindow1");
        m_graph->AddFilter(grabber.Get(), u"OutGrabber");
        m_graph->AddFilter(audio.Get(), u"AudioDestFilter");
        m_graph->AddFilter(splitter.Get(), u"Splitter");
        const std::u16string file = s_capture.toStdU16String();
        ComPtr<IBaseFilter> source;
        ASSERT_EQ(
            m_graph->AddSourceFilter(file.c_str(), file.c_str(), source.ReleaseAndGetAddressOf()),
            S_OK);
        EXPECT_TRUE(SUCCEEDED(
            builder->RenderStream(nullptr, nullptr, m_deck.Get(), nullptr, window.Get())));
        EXPECT_TRUE(SUCCEEDED(
            builder->RenderStream(nullptr, nullptr, source.Get(), splitter.Get(), grabber.Get())));
        EXPECT_TRUE(SUCCEEDED(
            builder->RenderStream(nullptr, nullptr, grabber.Get(), nullptr, m_deck.Get())));
        ComPtr<IPin> audio_pin;
        for (ComPtr<IPin>& pin : FilterPins(splitter.Get())) {
            PIN_INFO info{};
            pin->QueryPinInfo(&info);
            if (info.pFilter)
                info.pFilter->Release();
            QString name = QString::fromStdU16String(std::u16string(WideView(info.achName)));
            if (name.toLower().contains("stream 01"))
                audio_pin = pin;
        }
        ASSERT_TRUE(audio_pin);
        EXPECT_EQ(m_graph->Render(audio_pin.Get()), S_OK);
        ComPtr<IPin> connected;
        audio_pin->ConnectedTo(connected.ReleaseAndGetAddressOf());
        ASSERT_TRUE(connected);
        PIN_INFO info{};
        connected->QueryPinInfo(&info);
        EXPECT_EQ(info.pFilter, audio.Get()) << "the audio went elsewhere";
        if (info.pFilter)
            info.pFilter->Release();
    }

    // Pumps the interface thread until the graph completes; the code.
    LONG WaitForCompletion(int timeout_ms = 30000) {
        ComPtr<IMediaEvent> events = m_graph.As<IMediaEvent>();
        QDeadlineTimer deadline(timeout_ms);
        while (!deadline.hasExpired()) {
            LONG code = 0;
            if (events->WaitForCompletion(20, &code) == S_OK)
                return code;
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return 0;
    }

    // Stops the session and returns the digests of the one tape it made.
    std::vector<QByteArray> StopAndReadTape() {
        EXPECT_EQ(m_graph.As<IMediaControl>()->Stop(), S_OK);
        LPWSTR name = nullptr;
        EXPECT_EQ(m_deck.As<ITapeDeck>()->GetLastRecording(&name), S_OK);
        const QString tape = QString::fromStdU16String(std::u16string(WideView(name)));
        CoTaskMemFree(name);
        EXPECT_TRUE(tape.startsWith(m_tape_dir.path()));
        EXPECT_EQ(QDir(m_tape_dir.path()).entryList(QDir::Files).size(), 1)
            << "one run, one recording";
        return PacketDigests(tape, "v").value_or(std::vector<QByteArray>());
    }

    // The texts of the deck's "Tape" page: its folder and last recording.
    std::pair<QString, QString> TapePage() {
        ComPtr<ISpecifyPropertyPages> specify = m_deck.As<ISpecifyPropertyPages>();
        CAUUID pages{};
        EXPECT_TRUE(specify && specify->GetPages(&pages) == S_OK);
        std::pair<QString, QString> shown;
        win::ScriptedDialogs dialogs;
        dialogs.QueueDialogAnswer([&shown](QDialog& d) {
            auto* folder = d.findChild<QLabel*>(QStringLiteral("Folder"));
            auto* last = d.findChild<QLabel*>(QStringLiteral("Last recording"));
            EXPECT_TRUE(folder && last);
            if (folder && last)
                shown = {folder->text(), last->text()};
            return int(QDialog::Accepted);
        });
        IUnknown* object = m_deck.Get();
        EXPECT_EQ(OleCreatePropertyFrame(nullptr, 0, 0, u"VideoDestFilter", 1, &object,
                                         pages.cElems, pages.pElems, 0, 0, nullptr),
                  S_OK);
        CoTaskMemFree(pages.pElems);
        EXPECT_TRUE(dialogs.unexpected.empty());
        return shown;
    }

    static inline QTemporaryDir* s_dir = nullptr;
    static inline QString s_capture;
    static inline std::vector<QByteArray>* s_digests = nullptr;
    QTemporaryDir m_tape_dir;
    ComPtr<IFilterGraph2> m_graph;
    ComPtr<IBaseFilter> m_deck;
};

TEST_F(TapeOutput, TheTapeHoldsEveryFrameOfTheCaptureInOrderBitForBit) {
    EXPECT_GT(s_digests->size(), 10u);  // About 75 frames, fewer on a loaded machine.
    ComPtr<IMediaSeeking> seeking = m_graph.As<IMediaSeeking>();
    LONGLONG stop = 0;
    ASSERT_EQ(seeking->GetStopPosition(&stop), S_OK);
    EXPECT_GT(stop, 2 * kSecond);
    ASSERT_TRUE(SUCCEEDED(m_graph.As<IMediaControl>()->Run()));
    EXPECT_EQ(WaitForCompletion(), EC_COMPLETE);
    EXPECT_EQ(StopAndReadTape(), *s_digests);
}

TEST_F(TapeOutput, TheTapePageNamesTheFolderAndTheRecording) {
    const QString folder = QDir::toNativeSeparators(m_tape_dir.path());
    EXPECT_EQ(TapePage(), std::make_pair(folder, QStringLiteral("(none)")));
    ASSERT_TRUE(SUCCEEDED(m_graph.As<IMediaControl>()->Run()));
    Spin(300);
    ASSERT_EQ(m_graph.As<IMediaControl>()->Stop(), S_OK);
    const auto [shown_folder, shown_file] = TapePage();
    EXPECT_EQ(shown_folder, folder);
    const QStringList tapes = QDir(m_tape_dir.path()).entryList(QDir::Files);
    ASSERT_EQ(tapes.size(), 1);
    EXPECT_EQ(shown_file, QDir(m_tape_dir.path()).filePath(tapes[0]));
}

TEST_F(TapeOutput, APauseAndResumeContinueTheSameRecording) {
    ComPtr<IMediaControl> control = m_graph.As<IMediaControl>();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    Spin(800);
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    Spin(500);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    EXPECT_EQ(WaitForCompletion(), EC_COMPLETE);
    EXPECT_EQ(StopAndReadTape(), *s_digests);
}

TEST_F(TapeOutput, SeekingToTheMiddleWhileRunningPlaysOnFromThere) {
    ComPtr<IMediaControl> control = m_graph.As<IMediaControl>();
    ComPtr<IMediaSeeking> seeking = m_graph.As<IMediaSeeking>();
    LONGLONG duration = 0;
    ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    Spin(600);
    LONGLONG middle = duration / 2, none = 0;
    ASSERT_EQ(seeking->SetPositions(&middle, AM_SEEKING_AbsolutePositioning, &none,
                                    AM_SEEKING_NoPositioning),
              S_OK);
    LONGLONG now = 0;
    ASSERT_EQ(seeking->GetCurrentPosition(&now), S_OK);
    EXPECT_GE(now, duration / 2);
    EXPECT_LT(now, duration / 2 + kSecond / 2);
    EXPECT_EQ(WaitForCompletion(), EC_COMPLETE);

    // The tape: the frames played before the seek, then the capture from
    // the frame at or before the middle to its end.
    const std::vector<QByteArray> tape = StopAndReadTape();
    const std::vector<QByteArray>& source = *s_digests;
    size_t before = 0;
    while (before < tape.size() && before < source.size() && tape[before] == source[before])
        ++before;
    EXPECT_GE(before, 3u) << "frames played before the seek";
    EXPECT_LT(before, source.size() / 2 + 3) << "the seek came before the middle was played";
    // Play goes on from the last whole frame whose time is at or before the
    // middle (empty frames, the places of frames the camera dropped, are no
    // key frames). Times are read from the file by ffmpeg.
    const auto lines = RunTool("ffmpeg", {"-v", "error", "-i", s_capture, "-map", "0:v:0", "-c",
                                          "copy", "-f", "framemd5", "-"});
    ASSERT_TRUE(lines);
    const QByteArray empty = Md5Hex({});
    size_t from = 0, index = 0;
    for (const QByteArray& line : lines->split('\n')) {
        const QList<QByteArray> fields = line.split(',');
        if (line.startsWith('#') || fields.size() < 6)
            continue;
        const long long pts = fields[2].trimmed().toLongLong();  // Frames of 40 ms.
        if (pts * 400000 <= middle && fields.last().trimmed() != empty)
            from = index;
        ++index;
    }
    ASSERT_EQ(index, source.size());
    ASSERT_FALSE(tape.empty());
    const std::vector<QByteArray> after(tape.begin() + ptrdiff_t(before), tape.end());
    const std::vector<QByteArray> expected(source.begin() + ptrdiff_t(from), source.end());
    EXPECT_EQ(after.size(), expected.size());
    const auto first =
        after.empty() ? source.end() : std::find(source.begin(), source.end(), after.front());
    EXPECT_TRUE(after == expected)
        << "the frames after the seek differ from the capture's; "
        << "they start at frame " << (first - source.begin()) << " instead of " << from << " ("
        << before << " frames before the seek)";
}

}  // namespace
}  // namespace ronvix::media
