// The video window with the engine's real renderer: a camera preview drawn
// over the control, the renderer's window placed, styled and named when the
// graph runs, full screen on and off, input handed back through the message
// drain, and the renderer's refusals while its input is unconnected.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>

#include "../platform/media/core/engine_harness.h"
#include "mediagraph/graph_util.h"
#include "mediagraph/videowindow.h"
#include "mediagraph_test_util.h"
#include "platform/com/errortext.h"
#include "platform/media/devices/virtual/virtualdevices.h"
#include "platform/media/ui/videorenderer.h"
#include "platform/winui/dialogs.h"
#include "platform/winui/widgets.h"

namespace ronvix::mediagraph {
namespace {

using com::ComPtr;
using com::LONG;
using media::IBaseFilter;
using media::IVideoWindow;
using media::OAHWND;

template <class Pred>
bool SpinUntil(Pred done) {
    QDeadlineTimer deadline(5000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Records the input the control itself receives.
class InputLog : public QObject {
public:
    struct Entry {
        QEvent::Type type;
        QPointF position;
        Qt::MouseButton button = Qt::NoButton;
        Qt::KeyboardModifiers modifiers;
        int key = 0;
    };
    std::vector<Entry> entries;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseMove: {
                auto* m = static_cast<QMouseEvent*>(event);
                entries.push_back({event->type(), m->position(), m->button(), m->modifiers(), 0});
                break;
            }
            case QEvent::KeyPress:
                entries.push_back(
                    {event->type(), {}, Qt::NoButton, {}, static_cast<QKeyEvent*>(event)->key()});
                break;
            default:
                break;
        }
        return false;
    }
};

class VideoWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::RegisterClasses();
        panel.setGeometry(50, 50, 420, 320);
        window = new TVideoWindow(&panel);
        window->setObjectName(QStringLiteral("VideoWindow1"));
        window->setGeometry(1, 1, 385, 289);
        window->VMROptions().SetMode(vmrWindowed);
        window->SetFilterGraph(&graph);
        panel.show();
        window->Loaded();
    }
    void TearDown() override {
        if (graph.Active())
            graph.Stop();
        graph.SetActive(false);
    }

    // The camera's preview pin wired straight into the control's renderer.
    void ConnectCamera() {
        auto builder = graph.Query<media::IGraphBuilder>();
        ASSERT_TRUE(builder);
        ASSERT_EQ(
            com::CoCreateInstance(media::CLSID_TestPatternCamera, nullptr,
                                  com::CLSCTX_INPROC_SERVER, IBaseFilter::iid, camera.OutVoid()),
            com::S_OK);
        ASSERT_EQ(builder->AddFilter(camera.Get(), u"Camera"), com::S_OK);
        ComPtr<IBaseFilter> renderer = window->LinkedFilter();
        ASSERT_TRUE(renderer);
        ASSERT_EQ(
            builder->ConnectDirect(media::test::PinNamed(camera.Get(), u"Preview").Get(),
                                   media::test::PinNamed(renderer.Get(), u"Input").Get(), nullptr),
            com::S_OK);
    }
    ComPtr<IVideoWindow> Control() {
        ComPtr<IVideoWindow> control;
        window->QueryInterface(IVideoWindow::iid, control.OutVoid());
        return control;
    }
    QRect RendererRect() {
        LONG left = 0, top = 0, width = 0, height = 0;
        EXPECT_EQ(Control()->GetWindowPosition(&left, &top, &width, &height), com::S_OK);
        return QRect(left, top, width, height);
    }
    LONG Style() {
        LONG style = 0;
        EXPECT_EQ(Control()->get_WindowStyle(&style), com::S_OK);
        return style;
    }
    LONG ExStyle() {
        LONG style = 0;
        EXPECT_EQ(Control()->get_WindowStyleEx(&style), com::S_OK);
        return style;
    }
    OAHWND Owner() {
        OAHWND owner = 0;
        EXPECT_EQ(Control()->get_Owner(&owner), com::S_OK);
        return owner;
    }
    OAHWND Handle(QWidget* w) { return reinterpret_cast<OAHWND>(win::WidgetHandle(w)); }

    win::ScriptedDialogs dialogs;
    QWidget panel;
    TVideoWindow* window = nullptr;  // owned by the panel
    TFilterGraph graph;
    ComPtr<IBaseFilter> camera;
};

TEST_F(VideoWindowTest, AnUnconnectedRendererRefusesWithThePlatformText) {
    graph.SetActive(true);
    ASSERT_TRUE(window->LinkedFilter());
    ASSERT_TRUE(window->HasWindowControl());
    const QString text = QString::fromStdString(com::ErrorText(com::VFW_E_NOT_CONNECTED)) +
                         QStringLiteral(" ($80040209).");
    ASSERT_FALSE(text.startsWith(QStringLiteral(" ")));  // the platform has a text for it
    try {
        graph.Play();
        FAIL() << "running with the renderer unconnected must raise";
    } catch (const EDirectShowException& e) {
        EXPECT_EQ(e.ResultCode(), com::VFW_E_NOT_CONNECTED);
        EXPECT_EQ(e.Message(), text);
    }
    EXPECT_THROW(window->SetFullScreen(true), EDirectShowException);
    EXPECT_FALSE(window->FullScreen());
    EXPECT_THROW(window->ForwardGraphEvent(EC_PALETTE_CHANGED, 0, 0), EDirectShowException);
    // Resizing reaches the renderer from a widget event: the failure is
    // reported, never thrown through the event loop.
    window->resize(200, 100);
    test::DeliverPosted();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, text);
    EXPECT_THROW(window->SetVisible(false), EDirectShowException);
}

TEST_F(VideoWindowTest, TheFirstRunPlacesTheRendererOverTheControlAndNamesIt) {
    graph.SetActive(true);
    ConnectCamera();
    EXPECT_EQ(Owner(), 0) << "no owner before the graph runs";
    EXPECT_EQ(window->VideoHandle(), 0u) << "the renderer's window bears no name yet";

    ASSERT_TRUE(graph.Play());
    EXPECT_EQ(Owner(), Handle(&panel));
    EXPECT_EQ(Style() & (WS_CHILD | WS_CLIPSIBLINGS), WS_CHILD | WS_CLIPSIBLINGS);
    EXPECT_EQ(RendererRect(), window->geometry());
    com::BSTR caption = nullptr;
    ASSERT_EQ(Control()->get_Caption(&caption), com::S_OK);
    EXPECT_EQ(QString::fromUtf16(caption), QStringLiteral("VideoWindow1"));
    com::SysFreeString(caption);
    OAHWND drain = 0;
    ASSERT_EQ(Control()->get_MessageDrain(&drain), com::S_OK);
    EXPECT_EQ(drain, Handle(window));

    // The renderer's window is a child of the panel lying on the control,
    // found by its class and the control's name, and it shows the camera.
    const auto video_handle = reinterpret_cast<win::HWND>(window->VideoHandle());
    QWidget* video = win::HandleWidget(video_handle);
    ASSERT_TRUE(video);
    EXPECT_NE(video, window);
    EXPECT_EQ(video->parentWidget(), &panel);
    EXPECT_EQ(video->geometry(), window->geometry());
    EXPECT_TRUE(SpinUntil([&] { return video->isVisible(); }));
    // Colour bars, not the black of an empty window.
    EXPECT_TRUE(SpinUntil([&] {
        const QImage shot = video->grab().toImage();
        return qGray(shot.pixel(shot.width() / 8, shot.height() / 3)) > 100;
    }));

    // Moving or resizing the control takes the picture along.
    window->setGeometry(10, 20, 200, 150);
    EXPECT_EQ(RendererRect(), QRect(10, 20, 200, 150));
    EXPECT_EQ(video->geometry(), QRect(10, 20, 200, 150));

    window->SetVisible(false);
    LONG visible = -1;
    ASSERT_EQ(Control()->get_Visible(&visible), com::S_OK);
    EXPECT_EQ(visible, 0);
    window->SetVisible(true);
    ASSERT_EQ(Control()->get_Visible(&visible), com::S_OK);
    EXPECT_EQ(visible, -1);
    graph.Stop();

    // Leaving the graph stops and unwires the renderer before letting it go.
    ComPtr<IBaseFilter> renderer = window->LinkedFilter();
    ComPtr<media::IPin> preview = media::test::PinNamed(camera.Get(), u"Preview");
    graph.SetActive(false);
    EXPECT_FALSE(window->LinkedFilter());
    EXPECT_FALSE(window->HasWindowControl());
    ComPtr<media::IPin> peer;
    EXPECT_EQ(preview->ConnectedTo(peer.ReleaseAndGetAddressOf()), com::VFW_E_NOT_CONNECTED);
    media::FILTER_STATE state = media::State_Running;
    ASSERT_EQ(renderer->GetState(0, &state), com::S_OK);
    EXPECT_EQ(state, media::State_Stopped);
}

TEST_F(VideoWindowTest, FullScreenCoversTheScreenAndComesBackAsAChild) {
    graph.SetActive(true);
    ConnectCamera();
    ASSERT_TRUE(graph.Play());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();

    window->SetFullScreen(true);
    EXPECT_TRUE(window->FullScreen());
    EXPECT_TRUE(window->ScreenMouse());
    EXPECT_EQ(Owner(), 0);
    EXPECT_EQ(RendererRect(), QRect(0, 0, screen.width(), screen.height()));
    EXPECT_EQ(Style() & 0x00C40000, 0) << "no caption and no sizing frame";
    EXPECT_EQ(ExStyle() & WS_EX_TOPMOST, 0);
    QWidget* video = win::HandleWidget(reinterpret_cast<win::HWND>(window->VideoHandle()));
    EXPECT_FALSE(video) << "the full-screen window is not the panel's child";

    // Resizing the control leaves the full-screen window where it is.
    window->resize(100, 80);
    EXPECT_EQ(RendererRect(), QRect(0, 0, screen.width(), screen.height()));
    // Top-most applies at once while in full screen.
    window->SetFullScreenTopMost(true);
    EXPECT_EQ(ExStyle() & WS_EX_TOPMOST, WS_EX_TOPMOST);

    // A run while in full screen keeps it.
    graph.Stop();
    ASSERT_TRUE(graph.Play());
    EXPECT_EQ(Owner(), 0);

    // A right click on the full-screen picture opens the control's own menu.
    QMenu menu;
    menu.addAction(QStringLiteral("Leave full screen"));
    window->SetPopupMenu(&menu);
    QWidget* full = win::HandleWidget(win::FindWindowEx(
        nullptr, nullptr, QStringLiteral("VideoRenderer"), QStringLiteral("VideoWindow1")));
    ASSERT_TRUE(full);
    QMouseEvent right(QEvent::MouseButtonRelease, QPointF(5, 5), full->mapToGlobal(QPointF(5, 5)),
                      Qt::RightButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(full, &right);
    EXPECT_TRUE(SpinUntil([&] { return menu.isVisible(); }));
    menu.hide();

    window->SetFullScreen(false);
    EXPECT_FALSE(window->ScreenMouse());
    EXPECT_EQ(Owner(), Handle(&panel));
    EXPECT_EQ(Style() & (WS_CHILD | WS_CLIPSIBLINGS), WS_CHILD | WS_CLIPSIBLINGS);
    EXPECT_EQ(ExStyle(), window->SavedExStyle());
    EXPECT_EQ(RendererRect(), window->geometry());
    video = win::HandleWidget(reinterpret_cast<win::HWND>(window->VideoHandle()));
    ASSERT_TRUE(video);
    // Outside full screen the request takes the inherited way: the control
    // has no menu of its own there.
    QMouseEvent again(QEvent::MouseButtonRelease, QPointF(5, 5), video->mapToGlobal(QPointF(5, 5)),
                      Qt::RightButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(video, &again);
    test::DeliverPosted();
    EXPECT_FALSE(menu.isVisible());
    window->SetPopupMenu(nullptr);

    // Outside full screen the top-most flag is only stored.
    window->SetFullScreenTopMost(false);
    window->SetFullScreenTopMost(true);
    EXPECT_EQ(ExStyle() & WS_EX_TOPMOST, 0);
    EXPECT_EQ(Owner(), Handle(&panel));
}

TEST_F(VideoWindowTest, InputOnThePictureReachesTheControl) {
    graph.SetActive(true);
    ConnectCamera();
    ASSERT_TRUE(graph.Play());
    InputLog log;
    window->installEventFilter(&log);
    QWidget* video = win::HandleWidget(reinterpret_cast<win::HWND>(window->VideoHandle()));
    ASSERT_TRUE(video);

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 20),
                      video->mapToGlobal(QPointF(10, 20)), Qt::LeftButton, Qt::LeftButton,
                      Qt::ShiftModifier);
    QApplication::sendEvent(video, &press);
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(30, 40), video->mapToGlobal(QPointF(30, 40)),
                   Qt::RightButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(video, &up);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(video, &key);
    ASSERT_TRUE(SpinUntil([&] { return log.entries.size() >= 3; }));
    EXPECT_EQ(log.entries[0].type, QEvent::MouseButtonPress);
    EXPECT_EQ(log.entries[0].button, Qt::LeftButton);
    EXPECT_EQ(log.entries[0].position, QPointF(10, 20));
    EXPECT_EQ(log.entries[0].modifiers, Qt::ShiftModifier);
    EXPECT_EQ(log.entries[1].type, QEvent::MouseButtonRelease);
    EXPECT_EQ(log.entries[1].button, Qt::RightButton);
    EXPECT_EQ(log.entries[1].position, QPointF(30, 40));
    EXPECT_EQ(log.entries[2].type, QEvent::KeyPress);
    EXPECT_EQ(log.entries[2].key, int(Qt::Key_A));
    window->removeEventFilter(&log);
}

TEST_F(VideoWindowTest, ThePaletteEventPlacesAndNamesTheRendererAgain) {
    graph.SetActive(true);
    ConnectCamera();
    ASSERT_TRUE(graph.Play());
    ASSERT_EQ(Control()->put_Owner(0), com::S_OK);
    com::BSTR other = com::SysAllocString(u"other");
    ASSERT_EQ(Control()->put_Caption(other), com::S_OK);
    com::SysFreeString(other);

    window->ForwardGraphEvent(EC_PALETTE_CHANGED, 0, 0);
    EXPECT_EQ(Owner(), Handle(&panel));
    com::BSTR caption = nullptr;
    ASSERT_EQ(Control()->get_Caption(&caption), com::S_OK);
    EXPECT_EQ(QString::fromUtf16(caption), QStringLiteral("VideoWindow1"));
    com::SysFreeString(caption);
}

TEST_F(VideoWindowTest, OptionsAndTheMixingRendererFallback) {
    window->SetMode(TVideoWindow::vmVMR);
    EXPECT_EQ(window->Mode(), TVideoWindow::vmNormal);  // no mixing renderer here
    window->VMROptions().SetStreams(0);
    EXPECT_EQ(window->VMROptions().Streams(), 1u);
    window->VMROptions().SetStreams(17);
    EXPECT_EQ(window->VMROptions().Streams(), 1u);
    window->VMROptions().SetStreams(16);
    EXPECT_EQ(window->VMROptions().Streams(), 16u);

    // A mode change on an active graph makes the renderer again.
    graph.SetActive(true);
    ComPtr<IBaseFilter> first = window->LinkedFilter();
    ASSERT_TRUE(first);
    window->SetMode(TVideoWindow::vmNormal);
    ASSERT_TRUE(window->LinkedFilter());
    EXPECT_NE(window->LinkedFilter(), first);
    EXPECT_TRUE(window->HasWindowControl());
    EXPECT_EQ(graph.FilterLinkCount(), 1);

    window->SetFilterGraph(nullptr);
    EXPECT_FALSE(window->LinkedFilter());
    EXPECT_EQ(graph.FilterLinkCount(), 0);
    EXPECT_EQ(graph.ControlLinkCount(), 0);
}

}  // namespace
}  // namespace ronvix::mediagraph
