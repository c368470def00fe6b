// The seek bar on a real file graph: an AVI made by ffmpeg, read by the
// File Source and the AVI Splitter and drawn by the control's renderer. The
// bar's range and thumb come from the splitter's duration and position, and
// its mouse input seeks the splitter.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QMouseEvent>
#include <QTemporaryDir>

#include "../platform/media/core/engine_harness.h"
#include "mediagraph/seek_bar.h"
#include "mediagraph/videowindow.h"
#include "mediagraph_test_util.h"
#include "platform/media/container/avisplitter.h"
#include "platform/media/container/playback_files.h"
#include "platform/winui/dialogs.h"

namespace ronvix::mediagraph {
namespace {

using com::ComPtr;
using media::IBaseFilter;
using media::LONGLONG;

constexpr LONGLONG kSecond = 10'000'000;
constexpr LONGLONG kMs = 10'000;

class SeekBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::RegisterClasses();
        ASSERT_TRUE(dir.isValid());
        window.setObjectName(QStringLiteral("VideoWindow1"));
        window.SetFilterGraph(&graph);
        bar.SetTimerInterval(125);
        bar.SetFilterGraph(&graph);
        bar.SetOnTimer([this](QObject* sender, uint32_t current, uint32_t stop) {
            EXPECT_EQ(sender, &bar);
            ticks.push_back({current, stop});
        });
    }
    void TearDown() override {
        if (graph.Active())
            graph.Stop();
        graph.SetActive(false);
    }

    // Activates the graph with the clip: source, splitter, and the video
    // stream drawn by the control's renderer (the decoder is found by the
    // graph).
    void Open(double seconds) {
        const QString clip = dir.filePath(QStringLiteral("clip.avi"));
        ASSERT_TRUE(media::test::MakeAvi(clip, seconds, 25, false))
            << "ffmpeg could not make the test file";
        graph.SetActive(true);
        auto builder = graph.Query<media::IGraphBuilder>();
        ASSERT_TRUE(builder);
        const std::u16string name = clip.toStdU16String();
        ComPtr<IBaseFilter> source;
        ASSERT_EQ(
            builder->AddSourceFilter(name.c_str(), u"Source", source.ReleaseAndGetAddressOf()),
            com::S_OK);
        ComPtr<IBaseFilter> splitter;
        ASSERT_EQ(
            com::CoCreateInstance(media::CLSID_AviSplitter, nullptr, com::CLSCTX_INPROC_SERVER,
                                  IBaseFilter::iid, splitter.OutVoid()),
            com::S_OK);
        ASSERT_EQ(builder->AddFilter(splitter.Get(), u"AVI Splitter"), com::S_OK);
        ASSERT_EQ(
            builder->ConnectDirect(media::test::PinNamed(source.Get(), u"Output").Get(),
                                   media::test::PinNamed(splitter.Get(), u"Input").Get(), nullptr),
            com::S_OK);
        ComPtr<IBaseFilter> renderer = window.LinkedFilter();
        ASSERT_TRUE(renderer);
        ASSERT_EQ(builder->Connect(media::test::PinNamed(splitter.Get(), u"Stream 00").Get(),
                                   media::test::PinNamed(renderer.Get(), u"Input").Get()),
                  com::S_OK);
        seeking = graph.Query<media::IMediaSeeking>();
        ASSERT_TRUE(seeking);
    }
    LONGLONG Current() {
        LONGLONG current = -1;
        EXPECT_EQ(seeking->GetCurrentPosition(&current), com::S_OK);
        return current;
    }
    void Mouse(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent event(type, QPointF(2, 2), bar.mapToGlobal(QPointF(2, 2)), button, held,
                          Qt::NoModifier);
        QApplication::sendEvent(&bar, &event);
    }

    win::ScriptedDialogs dialogs;
    QTemporaryDir dir;
    TFilterGraph graph;
    TVideoWindow window;
    TDSTrackBar bar;
    ComPtr<media::IMediaSeeking> seeking;
    std::vector<std::pair<uint32_t, uint32_t>> ticks;
};

TEST_F(SeekBarTest, RangeAndThumbFollowThePlayingFile) {
    EXPECT_FALSE(bar.HasSeeking());
    Open(4.0);
    ASSERT_TRUE(bar.HasSeeking());
    LONGLONG duration = 0;
    ASSERT_EQ(seeking->GetDuration(&duration), com::S_OK);
    ASSERT_EQ(duration, 4 * kSecond);  // 100 frames of 40 ms

    ASSERT_TRUE(graph.Play());
    EXPECT_TRUE(bar.TimerOn());
    // Ticks while the file plays: one step is 125 ms of the clip.
    uint32_t last = 0;
    QDeadlineTimer deadline(10000);
    while (last < 500 && !deadline.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        const size_t before = ticks.size();
        bar.TimerTick();
        ASSERT_EQ(ticks.size(), before + 1);
        const auto [current, stop] = ticks.back();
        EXPECT_EQ(stop, 4000u);
        EXPECT_EQ(bar.minimum(), 0);
        EXPECT_EQ(bar.maximum(), 32);
        EXPECT_GE(current, last) << "the position never runs backwards while playing";
        EXPECT_EQ(bar.value(), int(current / 125));
        last = current;
    }
    EXPECT_GE(last, 500u) << "the play position did not advance";
    EXPECT_LE(last, 4000u);

    // Pause and stop end the ticks; deactivation lets the seeking go.
    graph.Pause();
    EXPECT_FALSE(bar.TimerOn());
    graph.SetActive(false);
    EXPECT_FALSE(bar.HasSeeking());
    const size_t count = ticks.size();
    bar.TimerTick();
    EXPECT_EQ(ticks.size(), count);
}

TEST_F(SeekBarTest, MouseInputSeeksTheSplitter) {
    Open(4.0);
    ASSERT_TRUE(graph.Play());
    graph.Pause();
    bar.TimerTick();
    ASSERT_EQ(bar.maximum(), 32);

    // Dropping the thumb half way seeks to half the stop position.
    bar.setValue(16);
    Mouse(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(Current(), 2 * kSecond);
    LONGLONG stop = 0;
    ASSERT_EQ(seeking->GetStopPosition(&stop), com::S_OK);
    EXPECT_EQ(stop, 4 * kSecond) << "the stop position is kept";
    bar.TimerTick();
    EXPECT_EQ(bar.value(), 16);
    EXPECT_EQ(ticks.back().first, 2000u);

    // While the thumb is held, ticks leave it where the user holds it and
    // every move seeks; the release seeks once more and lets go.
    Mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(bar.Dragging());
    bar.setValue(5);
    Mouse(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(Current(), 5 * 125 * kMs);
    bar.setValue(9);
    const size_t count = ticks.size();
    bar.TimerTick();
    EXPECT_EQ(bar.value(), 9);
    EXPECT_EQ(ticks.size(), count) << "no tick while dragging";
    EXPECT_EQ(Current(), 5 * 125 * kMs) << "the tick did not seek";
    Mouse(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(bar.Dragging());
    EXPECT_EQ(Current(), 9 * 125 * kMs);

    // A move without the left button, or a right-button release, makes no
    // seek (the release still ends a drag).
    bar.setValue(20);
    Mouse(QEvent::MouseMove, Qt::NoButton, Qt::RightButton);
    Mouse(QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton);
    EXPECT_EQ(Current(), 9 * 125 * kMs);

    // The clock-changed event takes playback back to the start.
    bar.ForwardGraphEvent(EC_CLOCK_CHANGED, 0, 0);
    EXPECT_EQ(Current(), 0);
    ASSERT_EQ(seeking->GetStopPosition(&stop), com::S_OK);
    EXPECT_EQ(stop, 4 * kSecond);

    // Playing on from a seek reaches the end of the clip.
    bar.setValue(30);
    Mouse(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(Current(), 30 * 125 * kMs);
    ASSERT_TRUE(graph.Play());
    LONG code = 0;
    graph.Query<media::IMediaEvent>()->WaitForCompletion(5000, &code);
    EXPECT_EQ(code, media::EC_COMPLETE);
    bar.TimerTick();
    EXPECT_GE(ticks.back().first, 3960u) << "at the last frame or the end";
    EXPECT_EQ(bar.value(), int(ticks.back().first / 125));
}

TEST_F(SeekBarTest, AClipShorterThanOneStepMakesNoSeek) {
    Open(0.08);  // two frames: 80 ms, under the 125 ms step
    ASSERT_TRUE(graph.Play());
    graph.Pause();
    LONGLONG at = 40 * kMs, none = 0;
    ASSERT_EQ(seeking->SetPositions(&at, media::AM_SEEKING_AbsolutePositioning, &none,
                                    media::AM_SEEKING_NoPositioning),
              com::S_OK);
    bar.TimerTick();
    EXPECT_EQ(bar.maximum(), 0);
    EXPECT_EQ(bar.value(), 0);
    EXPECT_EQ(ticks.back(), std::make_pair(40u, 80u));
    Mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
    Mouse(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(Current(), 40 * kMs);
}

TEST_F(SeekBarTest, TimerFollowsRunStateAndInterval) {
    Open(4.0);
    bar.setEnabled(false);
    ASSERT_TRUE(graph.Play());
    EXPECT_FALSE(bar.TimerOn());  // disabled at the run
    bar.setEnabled(true);
    EXPECT_FALSE(bar.TimerOn());  // still, for the whole run
    graph.Stop();
    EXPECT_FALSE(win::KillTimer(bar.TimerWindow(), 1));
    ASSERT_TRUE(graph.Play());
    EXPECT_TRUE(bar.TimerOn());
    EXPECT_TRUE(win::KillTimer(bar.TimerWindow(), 1));  // the timer exists
    bar.UpdateTimer();
    bar.SetTimerInterval(0);
    EXPECT_FALSE(win::KillTimer(bar.TimerWindow(), 1));  // interval 0 stops it
    const size_t count = ticks.size();
    bar.TimerTick();  // and a tick has no step to divide by
    EXPECT_EQ(ticks.size(), count);
    bar.SetTimerInterval(125);
    EXPECT_TRUE(win::KillTimer(bar.TimerWindow(), 1));

    // The timer's own messages move the thumb while the file plays.
    bar.UpdateTimer();
    QDeadlineTimer deadline(5000);
    while (ticks.size() < count + 2 && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_GE(ticks.size(), count + 2);
    graph.Stop();
    EXPECT_FALSE(bar.TimerOn());
    EXPECT_FALSE(win::KillTimer(bar.TimerWindow(), 1));
}

TEST_F(SeekBarTest, TheRangeKeepsTheTrackBarRules) {
    bar.SetMax(10);
    bar.SetPosition(20);
    EXPECT_EQ(bar.value(), 10);
    bar.SetMax(-1);
    EXPECT_EQ(bar.maximum(), 10);
    int changes = 0;
    QObject::connect(&bar, &QSlider::valueChanged, [&] { ++changes; });
    bar.SetPosition(4);
    EXPECT_EQ(changes, 1);
}

}  // namespace
}  // namespace ronvix::mediagraph
