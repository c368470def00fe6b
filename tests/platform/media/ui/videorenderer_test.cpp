// The video renderer: its window control, the window it makes inside an
// owner, and frames reaching the screen without a streaming thread ever
// waiting for the interface thread.

#include <QApplication>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include <thread>

#include "platform/media/core/engine_harness.h"
#include "platform/media/ui/videorenderer.h"
#include "platform/win/window.h"
#include "platform/winui/widgets.h"

namespace ronvix::media {
namespace {

using namespace com;
using namespace test;

constexpr int kWidth = 32;
constexpr int kHeight = 16;

// Spins the event loop until `done` or five seconds passed.
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

// A bottom-up RGB32 frame: the left half `left`, the right half `right`,
// except the top row in the picture, which is white.
std::vector<uint8_t> Picture(QRgb left, QRgb right) {
    std::vector<uint8_t> frame(size_t(kWidth) * kHeight * 4);
    for (int row = 0; row < kHeight; ++row) {
        const bool top = row == kHeight - 1;  // Bottom-up: the last row is the top.
        for (int x = 0; x < kWidth; ++x) {
            const QRgb c = top ? qRgb(255, 255, 255) : x < kWidth / 2 ? left : right;
            uint8_t* p = frame.data() + (size_t(row) * kWidth + x) * 4;
            p[0] = uint8_t(qBlue(c));
            p[1] = uint8_t(qGreen(c));
            p[2] = uint8_t(qRed(c));
            p[3] = 0xFF;
        }
    }
    return frame;
}

bool Near(QRgb a, QRgb b, int tolerance = 24) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

class Renderer : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterRendererClasses();
        ComPtr<IBaseFilter> renderer;
        ASSERT_EQ(CoCreateInstance(CLSID_VideoWindowRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                   IBaseFilter::iid, renderer.OutVoid()),
                  S_OK);
        m_harness = std::make_unique<FilterHarness>(renderer);
        renderer.As(&m_window);
        ASSERT_TRUE(m_window);
        m_panel = std::make_unique<QWidget>();
        m_panel->setGeometry(100, 100, 387, 291);
        m_panel->show();
        m_panel_hwnd = win::WidgetHandle(m_panel.get(), "TPanel");
    }
    void TearDown() override {
        m_window = nullptr;
        m_harness->Teardown();
        m_harness.reset();
    }

    TestSource* Connect() {
        TestSource::Options options;
        options.types = {MediaType::Video(MEDIASUBTYPE_RGB32, kWidth, kHeight, 32)};
        options.buffer_size = kWidth * kHeight * 4;
        TestSource* source = m_harness->AddSource(options);
        EXPECT_EQ(m_harness->ConnectIn(source, u"Input"), S_OK);
        return source;
    }
    // Places the window as the capture start does.
    void PlaceInPanel() {
        ASSERT_EQ(m_window->put_WindowStyle(0), S_OK);
        ASSERT_EQ(m_window->put_Owner(reinterpret_cast<OAHWND>(m_panel_hwnd)), S_OK);
        ASSERT_EQ(m_window->put_Left(1), S_OK);
        ASSERT_EQ(m_window->put_Top(1), S_OK);
        ASSERT_EQ(m_window->put_Width(384), S_OK);
        ASSERT_EQ(m_window->put_Height(288), S_OK);
    }
    QWidget* VideoWidget(win::HWND parent = nullptr) {
        BSTR caption = nullptr;
        m_window->get_Caption(&caption);
        const QString title = caption ? QString::fromUtf16(caption) : QString();
        SysFreeString(caption);
        return win::HandleWidget(win::FindWindowEx(parent, nullptr, "VideoRenderer", title));
    }

    std::unique_ptr<FilterHarness> m_harness;
    ComPtr<IVideoWindow> m_window;
    std::unique_ptr<QWidget> m_panel;
    win::HWND m_panel_hwnd = nullptr;
};

TEST_F(Renderer, WindowCallsFailUntilTheInputIsConnectedAndTakeOnlyRgb32) {
    LONG value = 0;
    EXPECT_EQ(m_window->put_Owner(reinterpret_cast<OAHWND>(m_panel_hwnd)), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(m_window->put_WindowStyle(0), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(m_window->put_Visible(OATRUE), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(m_window->get_Width(&value), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(m_window->SetWindowPosition(0, 0, 10, 10), VFW_E_NOT_CONNECTED);
    EXPECT_FALSE(VideoWidget()) << "no window before it is needed";

    ComPtr<IPin> input = PinNamed(m_harness->Filter(), u"Input");
    ASSERT_TRUE(input);
    EXPECT_EQ(input->QueryAccept(&MediaType::Video(MEDIASUBTYPE_RGB32, 8, 8, 32).Get()), S_OK);
    EXPECT_EQ(input->QueryAccept(&MediaType::Video(MEDIASUBTYPE_RGB32, 8, -8, 32).Get()), S_OK);
    EXPECT_EQ(input->QueryAccept(&MediaType::Video(MEDIASUBTYPE_RGB24, 8, 8, 24).Get()), S_FALSE);
    EXPECT_EQ(input->QueryAccept(&MediaType::Video(MEDIASUBTYPE_MJPG, 8, 8, 24).Get()), S_FALSE);

    Connect();
    EXPECT_EQ(m_window->get_Width(&value), S_OK);
    EXPECT_EQ(value, kWidth) << "an unplaced window takes the video's size";
}

TEST_F(Renderer, AnOwnerMakesItAChildAndStylesShapeTheTopLevelWindow) {
    Connect();
    BSTR name = SysAllocString(u"videowindow");
    ASSERT_EQ(m_window->put_Caption(name), S_OK);
    SysFreeString(name);
    PlaceInPanel();

    QWidget* video = VideoWidget(m_panel_hwnd);
    ASSERT_TRUE(video) << "no child of class VideoRenderer captioned videowindow in the panel";
    EXPECT_EQ(video->parentWidget(), m_panel.get());
    EXPECT_FALSE(video->isWindow());
    EXPECT_EQ(video->geometry(), QRect(1, 1, 384, 288));
    LONG style = 0;
    ASSERT_EQ(m_window->get_WindowStyle(&style), S_OK);
    EXPECT_TRUE(style & WS_CHILD) << "an owner sets WS_CHILD";
    OAHWND owner = 0;
    ASSERT_EQ(m_window->get_Owner(&owner), S_OK);
    EXPECT_EQ(owner, reinterpret_cast<OAHWND>(m_panel_hwnd));

    // Without an owner: a top-level window, decorated or not by the style.
    ASSERT_EQ(m_window->put_Owner(0), S_OK);
    ASSERT_EQ(m_window->get_WindowStyle(&style), S_OK);
    EXPECT_FALSE(style & WS_CHILD);
    EXPECT_TRUE(video->isWindow());
    EXPECT_EQ(VideoWidget(), win::HandleOf(video) ? video : nullptr);
    EXPECT_TRUE(video->windowFlags() & Qt::FramelessWindowHint);
    ASSERT_EQ(m_window->put_WindowStyle(WS_CAPTION | WS_THICKFRAME | WS_CLIPCHILDREN), S_OK);
    EXPECT_FALSE(video->windowFlags() & Qt::FramelessWindowHint);
    ASSERT_EQ(m_window->put_WindowStyleEx(WS_EX_TOPMOST), S_OK);
    EXPECT_TRUE(video->windowFlags() & Qt::WindowStaysOnTopHint);
    ASSERT_EQ(m_window->get_WindowStyle(&style), S_OK);
    EXPECT_EQ(style & ~WS_VISIBLE, WS_CAPTION | WS_THICKFRAME | WS_CLIPCHILDREN)
        << "other bits are kept and reported back";

    EXPECT_EQ(m_window->put_WindowStyle(0x08000000), E_INVALIDARG) << "WS_DISABLED";
    int not_a_window = 0;
    EXPECT_EQ(m_window->put_Owner(reinterpret_cast<OAHWND>(&not_a_window)), E_INVALIDARG);
}

TEST_F(Renderer, ShowsItselfWhenTheGraphStartsAndDrawsFramesUprightInTheOwner) {
    TestSource* source = Connect();
    PlaceInPanel();
    QWidget* video = VideoWidget(m_panel_hwnd);
    ASSERT_TRUE(video);
    EXPECT_FALSE(video->isVisible()) << "nothing shows before the graph runs";

    ASSERT_EQ(m_harness->Control()->Run(), S_OK);
    EXPECT_TRUE(video->isVisible()) << "auto-show when the graph left Stopped";
    LONG visible = 0;
    ASSERT_EQ(m_window->get_Visible(&visible), S_OK);
    EXPECT_EQ(visible, OATRUE);

    const QRgb red = qRgb(220, 20, 20), blue = qRgb(20, 20, 220);
    ASSERT_EQ(source->Push(Picture(red, blue)), S_OK);
    // The panel's own pixels inside the bevel: the 2:1 video is as wide as
    // the 384x288 window and letterboxed (384x192 from row 48, black bars
    // above and below, never stretched), upright.
    auto shows = [&](QRgb left, QRgb right) {
        const QImage shot = m_panel->grab().toImage();
        return Near(shot.pixel(1 + 96, 1 + 200), left) &&
               Near(shot.pixel(1 + 288, 1 + 200), right) &&
               Near(shot.pixel(1 + 192, 1 + 48 + 3), qRgb(255, 255, 255), 60) &&
               Near(shot.pixel(1 + 192, 1 + 44), qRgb(0, 0, 0), 8) &&
               Near(shot.pixel(1 + 192, 1 + 244), qRgb(0, 0, 0), 8) &&
               Near(shot.pixel(1 + 288, 1 + 236), right);
    };
    EXPECT_TRUE(SpinUntil([&] { return shows(red, blue); }));

    // Auto-show off: the next run leaves a hidden window hidden.
    ASSERT_EQ(m_harness->Control()->Stop(), S_OK);
    ASSERT_EQ(m_window->put_Visible(OAFALSE), S_OK);
    ASSERT_EQ(m_window->put_AutoShow(OAFALSE), S_OK);
    ASSERT_EQ(m_harness->Control()->Run(), S_OK);
    EXPECT_FALSE(video->isVisible());
}

TEST_F(Renderer, StreamingNeverWaitsForTheInterfaceThreadAndTheLatestFrameWins) {
    TestSource* source = Connect();
    PlaceInPanel();
    ASSERT_EQ(m_harness->Control()->Run(), S_OK);
    // The interface thread does not spin while 200 frames go in.
    std::atomic<int> pushed{0};
    std::thread producer([&] {
        for (int i = 0; i < 200; ++i) {
            const QRgb c = i == 199 ? qRgb(20, 200, 20) : qRgb(i, 0, 0);
            if (source->Push(Picture(c, c)) == S_OK)
                ++pushed;
        }
    });
    producer.join();
    EXPECT_EQ(pushed.load(), 200);
    EXPECT_TRUE(SpinUntil(
        [&] { return Near(m_panel->grab().toImage().pixel(100, 150), qRgb(20, 200, 20)); }));
}

TEST_F(Renderer, TheMessageDrainGetsMouseAndKeys) {
    Connect();
    PlaceInPanel();
    std::vector<std::tuple<win::UINT, win::WPARAM, win::LPARAM>> got;
    win::MessageWindow drain([&](win::HWND, win::UINT msg, win::WPARAM w, win::LPARAM l) {
        got.emplace_back(msg, w, l);
        return win::LRESULT(0);
    });
    ASSERT_EQ(m_window->put_MessageDrain(reinterpret_cast<OAHWND>(drain.Handle())), S_OK);
    QWidget* video = VideoWidget(m_panel_hwnd);
    ASSERT_TRUE(video);

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 20),
                      video->mapToGlobal(QPointF(10, 20)), Qt::LeftButton, Qt::LeftButton,
                      Qt::ShiftModifier);
    QApplication::sendEvent(video, &press);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
    QApplication::sendEvent(video, &key);
    ASSERT_TRUE(SpinUntil([&] { return got.size() >= 2; }));
    EXPECT_EQ(std::get<0>(got[0]), win::WM_LBUTTONDOWN);
    EXPECT_EQ(std::get<1>(got[0]), MK_LBUTTON | MK_SHIFT);
    EXPECT_EQ(std::get<2>(got[0]), (20 << 16) | 10);
    EXPECT_EQ(std::get<0>(got[1]), win::WM_KEYDOWN);
    EXPECT_EQ(std::get<1>(got[1]), win::WPARAM('A'));
}

TEST_F(Renderer, AWindowTakenDownWithItsOwnerIsMadeAgain) {
    Connect();
    PlaceInPanel();
    ASSERT_TRUE(VideoWidget(m_panel_hwnd));
    m_panel.reset();  // The owner goes, and its child window with it.
    EXPECT_EQ(m_window->put_Visible(OATRUE), S_OK);
    QWidget* video = VideoWidget();
    ASSERT_TRUE(video);
    EXPECT_TRUE(video->isWindow());
    EXPECT_TRUE(video->isVisible());
    OAHWND owner = 1;
    ASSERT_EQ(m_window->get_Owner(&owner), S_OK);
    EXPECT_EQ(owner, 0);
}

}  // namespace
}  // namespace ronvix::media
