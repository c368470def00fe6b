// The video renderer: a filter whose window is a Qt widget. See
// videorenderer.h for the contract.

#include "platform/media/ui/videorenderer.h"

#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QRegion>
#include <QResizeEvent>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/com/object.h"
#include "platform/com/oleauto.h"
#include "platform/media/codecs/colourspace.h"
#include "platform/media/core/filter.h"
#include "platform/win/window.h"
#include "platform/winui/widgets.h"

namespace ronvix::media {

using namespace com;

namespace {

inline constexpr char kWindowClass[] = "VideoRenderer";

// Every IVideoWindow call fails while the input pin is unconnected, as on the
// platform the system's code was written for.
#define RETURN_IF_UNCONNECTED()         \
    do {                                \
        if (!m_input->IsConnected())    \
            return VFW_E_NOT_CONNECTED; \
    } while (0)

// put_WindowStyle refuses the state bits: they are set through the state
// and visibility calls.
inline constexpr LONG kRefusedStyles = 0x08000000 /* WS_DISABLED */ | 0x20000000 /* WS_MINIMIZE */ |
                                       0x01000000 /* WS_MAXIMIZE */ | 0x00100000 /* WS_HSCROLL */ |
                                       0x00200000 /* WS_VSCROLL */;
inline constexpr LONG SW_HIDE = 0;
inline constexpr LONG SW_SHOWNORMAL = 1;
inline constexpr LONG SW_SHOWMINIMIZED = 2;
inline constexpr LONG SW_SHOWMAXIMIZED = 3;
inline constexpr LONG SW_MINIMIZE = 6;
inline constexpr LONG SW_RESTORE = 9;

bool OnUiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Held while a thread posts a call to the user interface thread, and taken
// by the call before it touches what it carries. Qt's event queue already
// orders the call after its posting, but that order lives in Qt's own,
// uninstrumented locks, which ThreadSanitizer cannot see; this lock states
// the same order in code it does see. It is held only for the post and for
// taking over the call's captures, so a streaming thread never waits for
// painting.
std::mutex& PostLock() {
    static std::mutex lock;
    return lock;
}

// Queues `call` to the user interface thread. Never waits for it.
void PostToUi(std::function<void()> call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    std::lock_guard guard(PostLock());
    QMetaObject::invokeMethod(
        app,
        [call = std::move(call)]() mutable {
            std::function<void()> run;
            {
                std::lock_guard taken(PostLock());
                run = std::move(call);
            }
            run();
        },
        Qt::QueuedConnection);
}

// Runs `call` on the user interface thread: now when already there,
// otherwise queued. Never waits.
void OnUi(std::function<void()> call) {
    if (OnUiThread())
        call();
    else
        PostToUi(std::move(call));
}

LONG VirtualKey(int key) {
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
        return key;  // The same codes.
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return 0x70 + (key - Qt::Key_F1);
    switch (key) {
        case Qt::Key_Backspace:
            return 0x08;
        case Qt::Key_Tab:
            return 0x09;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 0x0D;
        case Qt::Key_Shift:
            return 0x10;
        case Qt::Key_Control:
            return 0x11;
        case Qt::Key_Alt:
            return 0x12;
        case Qt::Key_Pause:
            return 0x13;
        case Qt::Key_Escape:
            return 0x1B;
        case Qt::Key_Space:
            return 0x20;
        case Qt::Key_PageUp:
            return 0x21;
        case Qt::Key_PageDown:
            return 0x22;
        case Qt::Key_End:
            return 0x23;
        case Qt::Key_Home:
            return 0x24;
        case Qt::Key_Left:
            return 0x25;
        case Qt::Key_Up:
            return 0x26;
        case Qt::Key_Right:
            return 0x27;
        case Qt::Key_Down:
            return 0x28;
        case Qt::Key_Insert:
            return 0x2D;
        case Qt::Key_Delete:
            return 0x2E;
        default:
            return 0;
    }
}

// The part of `area` a picture of `video` fills at its own aspect, centred
// (the rest is black bars); all of `area` while the picture's size is not
// known.
QRect Letterbox(QSize area, QSize video) {
    if (video.isEmpty() || area.isEmpty())
        return QRect(QPoint(0, 0), area);
    const int64_t aw = area.width(), ah = area.height();
    const int64_t vw = video.width(), vh = video.height();
    int w = area.width(), h = area.height();
    if (aw * vh > ah * vw)
        w = int(std::max<int64_t>(1, (ah * vw + vh / 2) / vh));
    else
        h = int(std::max<int64_t>(1, (aw * vh + vw / 2) / vw));
    return QRect((area.width() - w) / 2, (area.height() - h) / 2, w, h);
}

// What streaming threads need to know of the window: the picture's size
// and the size it is drawn at. Written on the user interface thread.
struct DrawGeometry {
    std::atomic<int> video_width{0}, video_height{0};
    std::atomic<int> draw_width{0}, draw_height{0};
    QSize Video() const { return QSize(video_width.load(), video_height.load()); }
    void Update(QSize area) {
        const QRect r = Letterbox(area, Video());
        draw_width.store(r.width());
        draw_height.store(r.height());
    }
};

// The window. Lives and dies on the user interface thread.
class VideoWidget final : public QWidget {
public:
    explicit VideoWidget(std::shared_ptr<DrawGeometry> geometry) : m_geometry(std::move(geometry)) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMouseTracking(true);
        setFocusPolicy(Qt::ClickFocus);
    }

    // Shows `frame` and returns the one it replaces, so its pixels can be
    // used again for a later frame.
    QImage SetFrame(QImage frame) {
        std::swap(m_frame, frame);
        update();
        return frame;
    }
    const QImage& Frame() const { return m_frame; }
    void SetDrain(win::HWND drain) { m_drain = drain; }
    win::HWND Drain() const { return m_drain; }
    // Called when the user closes a top-level video window.
    std::function<void()> on_close;

protected:
    // The frame comes made at the size it is drawn (the picture's aspect,
    // letterboxed): drawn as it is, with black bars where the picture's
    // aspect leaves the window uncovered. A frame of an older window size
    // is scaled until the next one comes.
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (m_frame.isNull()) {
            painter.fillRect(rect(), Qt::black);
            return;
        }
        const QRect picture = Letterbox(size(), m_geometry->Video());
        const QRegion bars = QRegion(rect()).subtracted(QRegion(picture));
        for (const QRect& bar : bars)
            painter.fillRect(bar, Qt::black);
        if (m_frame.size() == picture.size()) {
            painter.drawImage(picture.topLeft(), m_frame);
        } else {
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            painter.drawImage(picture, m_frame);
        }
    }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        m_geometry->Update(size());
    }
    void closeEvent(QCloseEvent* event) override {
        QWidget::closeEvent(event);
        if (on_close)
            on_close();
    }
    void mousePressEvent(QMouseEvent* e) override {
        const UINT msg = e->button() == Qt::RightButton    ? win::WM_RBUTTONDOWN
                         : e->button() == Qt::MiddleButton ? 0x0207u
                                                           : win::WM_LBUTTONDOWN;
        if (!ForwardMouse(msg, e))
            QWidget::mousePressEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        const UINT msg = e->button() == Qt::RightButton    ? win::WM_RBUTTONUP
                         : e->button() == Qt::MiddleButton ? 0x0208u
                                                           : win::WM_LBUTTONUP;
        if (!ForwardMouse(msg, e))
            QWidget::mouseReleaseEvent(e);
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        const UINT msg = e->button() == Qt::RightButton    ? 0x0206u
                         : e->button() == Qt::MiddleButton ? 0x0209u
                                                           : win::WM_LBUTTONDBLCLK;
        if (!ForwardMouse(msg, e))
            QWidget::mouseDoubleClickEvent(e);
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (!ForwardMouse(win::WM_MOUSEMOVE, e))
            QWidget::mouseMoveEvent(e);
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (!ForwardKey(win::WM_KEYDOWN, e))
            QWidget::keyPressEvent(e);
    }
    void keyReleaseEvent(QKeyEvent* e) override {
        if (!ForwardKey(win::WM_KEYUP, e))
            QWidget::keyReleaseEvent(e);
    }

private:
    using UINT = win::UINT;

    bool ForwardMouse(UINT msg, QMouseEvent* e) {
        if (!m_drain)
            return false;
        uintptr_t keys = 0;
        const Qt::MouseButtons buttons = e->buttons();
        if (buttons & Qt::LeftButton)
            keys |= MK_LBUTTON;
        if (buttons & Qt::RightButton)
            keys |= MK_RBUTTON;
        if (buttons & Qt::MiddleButton)
            keys |= MK_MBUTTON;
        if (e->modifiers() & Qt::ShiftModifier)
            keys |= MK_SHIFT;
        if (e->modifiers() & Qt::ControlModifier)
            keys |= MK_CONTROL;
        const QPoint p = e->position().toPoint();
        const win::LPARAM at = (win::LPARAM(uint16_t(p.y())) << 16) | uint16_t(p.x());
        win::PostMessage(m_drain, msg, keys, at);
        e->accept();
        return true;
    }
    bool ForwardKey(UINT msg, QKeyEvent* e) {
        if (!m_drain)
            return false;
        const LONG vk = VirtualKey(e->key());
        if (vk == 0)
            return false;
        // lparam: repeat count 1; key-up also carries the previous-state and
        // transition bits.
        const win::LPARAM flags = msg == win::WM_KEYUP ? win::LPARAM(0xC0000001u) : 1;
        win::PostMessage(m_drain, msg, win::WPARAM(vk), flags);
        e->accept();
        return true;
    }

    const std::shared_ptr<DrawGeometry> m_geometry;
    QImage m_frame;
    win::HWND m_drain = nullptr;
};

// The one-frame hand-over from streaming threads to the interface thread.
// Frames circulate: the picture a new frame replaces in the window comes
// back as the spare that the next frame is copied into, so a running
// stream allocates no picture memory per frame.
struct FrameMailbox {
    std::mutex lock;
    // Guarded by lock.
    QImage latest;
    QImage spare;
    bool queued = false;  // A delivery call is on its way.
    // User interface thread only.
    QPointer<VideoWidget> widget;

    // Streaming thread: a picture of this size to copy a frame into, the
    // spare when it fits and nothing else shares it.
    QImage Take(int width, int height) {
        QImage image;
        {
            std::lock_guard guard(lock);
            image = std::move(spare);
            spare = QImage();
        }
        if (image.width() != width || image.height() != height || !image.isDetached() ||
            image.format() != QImage::Format_RGB32)
            image = QImage(width, height, QImage::Format_RGB32);
        return image;
    }

    void Deliver() {
        QImage frame;
        {
            std::lock_guard guard(lock);
            frame = std::move(latest);
            latest = QImage();
            queued = false;
        }
        if (!widget || frame.isNull())
            return;
        QImage replaced = widget->SetFrame(std::move(frame));
        std::lock_guard guard(lock);
        spare = std::move(replaced);
    }
};

bool IsRgb32Video(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype != MEDIATYPE_Video || mt.subtype != MEDIASUBTYPE_RGB32 ||
        mt.formattype != FORMAT_VideoInfo || !mt.pbFormat || mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return false;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    return vih->bmiHeader.biWidth > 0 && vih->bmiHeader.biHeight != 0 &&
           vih->bmiHeader.biBitCount == 32 && vih->bmiHeader.biWidth <= 16384 &&
           std::abs(vih->bmiHeader.biHeight) <= 16384;
}

class RendererInputPin final : public BaseInputPin, public IVideoDrawSize {
public:
    RendererInputPin(BaseFilter& filter, std::shared_ptr<DrawGeometry> geometry)
        : BaseInputPin(filter, u"Input"), m_geometry(std::move(geometry)) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        return IsRgb32Video(mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT QueryInterface(REFIID riid, void** out) override {
        return BaseInputPin::QueryInterface(riid, out);
    }
    ULONG AddRef() override { return BaseInputPin::AddRef(); }
    ULONG Release() override { return BaseInputPin::Release(); }
    HRESULT GetDrawSize(LONG* width, LONG* height) override {
        if (!width || !height)
            return E_POINTER;
        *width = m_geometry->draw_width.load();
        *height = m_geometry->draw_height.load();
        return *width > 0 && *height > 0 ? S_OK : S_FALSE;
    }

protected:
    HRESULT QueryPinInterface(REFIID riid, void** out) override {
        if (riid == IVideoDrawSize::iid)
            return ReturnInterface<IVideoDrawSize>(this, out);
        return BaseInputPin::QueryPinInterface(riid, out);
    }

private:
    const std::shared_ptr<DrawGeometry> m_geometry;
};

class VideoRenderer final : public BaseFilter, public IVideoWindow {
public:
    explicit VideoRenderer(const GUID& clsid)
        : BaseFilter(clsid),
          m_mailbox(std::make_shared<FrameMailbox>()),
          m_geometry(std::make_shared<DrawGeometry>()) {
        m_input = static_cast<RendererInputPin*>(
            AddPin(std::make_unique<RendererInputPin>(*this, m_geometry)));
    }
    ~VideoRenderer() override {
        // The window belongs to the interface thread: deleted there.
        if (QPointer<VideoWidget> widget = m_widget) {
            widget->on_close = nullptr;
            if (OnUiThread())
                delete widget.data();
            else
                widget->deleteLater();
        }
    }

    HRESULT QueryInterface(REFIID riid, void** out) override {
        return BaseFilter::QueryInterface(riid, out);
    }
    ULONG AddRef() override { return BaseFilter::AddRef(); }
    ULONG Release() override { return BaseFilter::Release(); }

    // Streaming thread.
    HRESULT OnReceive(BaseInputPin& pin, IMediaSample* sample) override;

    void OnConnected(BasePin&) override {
        const MediaType mt = m_input->ConnectionType();
        if (const VIDEOINFOHEADER* vih = mt.VideoInfo()) {
            m_video_width = vih->bmiHeader.biWidth;
            m_video_height = std::abs(vih->bmiHeader.biHeight);
            m_geometry->video_width.store(int(m_video_width));
            m_geometry->video_height.store(int(m_video_height));
            if (m_widget)
                m_geometry->Update(m_widget->size());
            if (!m_size_set) {
                m_width = m_video_width;
                m_height = m_video_height;
            }
        }
    }

    // IVideoWindow; user interface thread.
    HRESULT put_Caption(BSTR caption) override {
        RETURN_IF_UNCONNECTED();
        m_caption = caption ? QString::fromUtf16(caption) : QString();
        if (m_widget)
            m_widget->setWindowTitle(m_caption);
        return S_OK;
    }
    HRESULT get_Caption(BSTR* caption) override {
        if (!caption)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        *caption = SysAllocString(reinterpret_cast<LPCOLESTR>(m_caption.utf16()));
        return *caption ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT put_WindowStyle(LONG style) override {
        RETURN_IF_UNCONNECTED();
        if (style & kRefusedStyles)
            return E_INVALIDARG;
        m_style = style;
        if (m_owner)
            m_style |= WS_CHILD;
        ApplyWindow();
        return S_OK;
    }
    HRESULT get_WindowStyle(LONG* style) override {
        if (!style)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        *style = m_style | (m_visible ? WS_VISIBLE : 0);
        return S_OK;
    }
    HRESULT put_WindowStyleEx(LONG style) override {
        RETURN_IF_UNCONNECTED();
        m_style_ex = style;
        ApplyWindow();
        return S_OK;
    }
    HRESULT get_WindowStyleEx(LONG* style) override {
        if (!style)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        *style = m_style_ex;
        return S_OK;
    }
    HRESULT put_AutoShow(LONG auto_show) override {
        RETURN_IF_UNCONNECTED();
        m_auto_show = auto_show != OAFALSE;
        return S_OK;
    }
    HRESULT get_AutoShow(LONG* auto_show) override {
        if (!auto_show)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        *auto_show = m_auto_show ? OATRUE : OAFALSE;
        return S_OK;
    }
    HRESULT put_WindowState(LONG state) override {
        RETURN_IF_UNCONNECTED();
        VideoWidget* w = Widget();
        switch (state) {
            case SW_HIDE:
                m_visible = false;
                break;
            case SW_SHOWMINIMIZED:
            case SW_MINIMIZE:
                m_visible = true;
                if (!m_owner)
                    w->setWindowState(Qt::WindowMinimized);
                break;
            case SW_SHOWMAXIMIZED:
                m_visible = true;
                if (!m_owner)
                    w->setWindowState(Qt::WindowMaximized);
                break;
            case SW_RESTORE:
            case SW_SHOWNORMAL:
                m_visible = true;
                if (!m_owner)
                    w->setWindowState(Qt::WindowNoState);
                break;
            default:
                m_visible = true;
                break;
        }
        w->setVisible(m_visible);
        return S_OK;
    }
    HRESULT get_WindowState(LONG* state) override {
        if (!state)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        VideoWidget* w = Widget();
        *state = !m_visible         ? SW_HIDE
                 : w->isMinimized() ? SW_SHOWMINIMIZED
                 : w->isMaximized() ? SW_SHOWMAXIMIZED
                                    : SW_SHOWNORMAL;
        return S_OK;
    }
    HRESULT put_BackgroundPalette(LONG palette) override {
        RETURN_IF_UNCONNECTED();
        m_background_palette = palette;
        return S_OK;
    }
    HRESULT get_BackgroundPalette(LONG* palette) override {
        if (!palette)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        *palette = m_background_palette;
        return S_OK;
    }
    HRESULT put_Visible(LONG visible) override {
        RETURN_IF_UNCONNECTED();
        m_visible = visible != OAFALSE;
        Widget()->setVisible(m_visible);
        return S_OK;
    }
    HRESULT get_Visible(LONG* visible) override {
        if (!visible)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        *visible = m_visible ? OATRUE : OAFALSE;
        return S_OK;
    }
    HRESULT put_Left(LONG left) override {
        return SetWindowPosition(left, m_top, m_width, m_height);
    }
    HRESULT get_Left(LONG* left) override { return GetOne(left, m_left); }
    HRESULT put_Width(LONG width) override {
        return SetWindowPosition(m_left, m_top, width, m_height);
    }
    HRESULT get_Width(LONG* width) override { return GetOne(width, m_width); }
    HRESULT put_Top(LONG top) override { return SetWindowPosition(m_left, top, m_width, m_height); }
    HRESULT get_Top(LONG* top) override { return GetOne(top, m_top); }
    HRESULT put_Height(LONG height) override {
        return SetWindowPosition(m_left, m_top, m_width, height);
    }
    HRESULT get_Height(LONG* height) override { return GetOne(height, m_height); }
    HRESULT put_Owner(OAHWND owner) override {
        RETURN_IF_UNCONNECTED();
        const auto hwnd = reinterpret_cast<win::HWND>(owner);
        QWidget* parent = hwnd ? win::HandleWidget(hwnd) : nullptr;
        if (hwnd && !parent)
            return E_INVALIDARG;  // Not a window this process can draw in.
        m_owner = hwnd;
        m_owner_widget = parent;
        if (hwnd)
            m_style |= WS_CHILD;
        else
            m_style &= ~WS_CHILD;
        ApplyWindow();
        return S_OK;
    }
    HRESULT get_Owner(OAHWND* owner) override {
        if (!owner)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        *owner = reinterpret_cast<OAHWND>(m_owner);
        return S_OK;
    }
    HRESULT put_MessageDrain(OAHWND drain) override {
        RETURN_IF_UNCONNECTED();
        m_drain = reinterpret_cast<win::HWND>(drain);
        Widget()->SetDrain(m_drain);
        return S_OK;
    }
    HRESULT get_MessageDrain(OAHWND* drain) override {
        if (!drain)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        *drain = reinterpret_cast<OAHWND>(m_drain);
        return S_OK;
    }
    HRESULT get_BorderColor(LONG* color) override { return GetOne(color, m_border_color); }
    HRESULT put_BorderColor(LONG color) override {
        RETURN_IF_UNCONNECTED();
        m_border_color = color;
        return S_OK;
    }
    HRESULT get_FullScreenMode(LONG* full_screen) override {
        if (!full_screen)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        *full_screen = OAFALSE;
        return S_OK;
    }
    HRESULT put_FullScreenMode(LONG) override {
        RETURN_IF_UNCONNECTED();
        // Full screen is made by the caller with an ownerless, undecorated
        // window of the screen's size; the renderer has no mode of its own.
        return E_NOTIMPL;
    }
    HRESULT SetWindowForeground(LONG focus) override {
        RETURN_IF_UNCONNECTED();
        VideoWidget* w = Widget();
        w->raise();
        if (focus != OAFALSE)
            w->activateWindow();
        return S_OK;
    }
    HRESULT NotifyOwnerMessage(OAHWND, LONG, LONG_PTR, LONG_PTR) override {
        RETURN_IF_UNCONNECTED();
        return S_OK;  // Nothing here depends on the owner's system messages.
    }
    HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override {
        RETURN_IF_UNCONNECTED();
        if (width < 0 || height < 0)
            return E_INVALIDARG;
        m_left = left;
        m_top = top;
        m_width = width;
        m_height = height;
        m_size_set = true;
        Widget()->setGeometry(m_left, m_top, m_width, m_height);
        return S_OK;
    }
    HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
        if (!left || !top || !width || !height)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        *left = m_left;
        *top = m_top;
        *width = m_width;
        *height = m_height;
        return S_OK;
    }
    HRESULT GetMinIdealImageSize(LONG* width, LONG* height) override {
        return VideoSize(width, height);
    }
    HRESULT GetMaxIdealImageSize(LONG* width, LONG* height) override {
        return VideoSize(width, height);
    }
    HRESULT GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
        if (!left || !top || !width || !height)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        const QRect r = Widget()->normalGeometry().isValid() ? Widget()->normalGeometry()
                                                             : Widget()->geometry();
        *left = r.x();
        *top = r.y();
        *width = r.width();
        *height = r.height();
        return S_OK;
    }
    HRESULT HideCursor(LONG hide) override {
        RETURN_IF_UNCONNECTED();
        m_cursor_hidden = hide != OAFALSE;
        if (m_cursor_hidden)
            Widget()->setCursor(Qt::BlankCursor);
        else
            Widget()->unsetCursor();
        return S_OK;
    }
    HRESULT IsCursorHidden(LONG* hidden) override {
        if (!hidden)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        *hidden = m_cursor_hidden ? OATRUE : OAFALSE;
        return S_OK;
    }

protected:
    HRESULT QueryInterfaceExtra(REFIID riid, void** out) override {
        if (riid == IVideoWindow::iid)
            return ReturnInterface<IVideoWindow>(this, out);
        return BaseFilter::QueryInterfaceExtra(riid, out);
    }
    HRESULT OnActivate() override {
        if (m_auto_show && m_input->IsConnected()) {
            // State changes come from the interface thread, so this shows the
            // window at once; from another thread the call is queued and
            // keeps the filter alive until it has run.
            ComPtr<VideoRenderer> self(this);
            OnUi([self] {
                self->m_visible = true;
                self->Widget()->setVisible(true);
            });
        }
        return S_OK;
    }
    void OnRun(REFERENCE_TIME) override { WakeStreaming(); }
    void OnStopRequest() override { WakeStreaming(); }

private:
    HRESULT GetOne(LONG* out, LONG value) {
        if (!out)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        *out = value;
        return S_OK;
    }
    HRESULT VideoSize(LONG* width, LONG* height) {
        if (!width || !height)
            return E_POINTER;
        RETURN_IF_UNCONNECTED();
        *width = m_video_width;
        *height = m_video_height;
        return S_OK;
    }

    void WakeStreaming() {
        // Taking the lock orders the state change before a waiter's check.
        { std::lock_guard guard(m_state_lock); }
        m_state_cv.notify_all();
    }

    // The window, made when first needed (again, if its owner took it
    // down). User interface thread.
    VideoWidget* Widget() {
        if (!m_widget) {
            auto* w = new VideoWidget(m_geometry);
            win::WidgetHandle(w, kWindowClass);
            w->setWindowTitle(m_caption);
            w->on_close = [this] { NotifyEvent(EC_USERABORT, 0, 0); };
            w->SetDrain(m_drain);
            m_widget = w;
            m_mailbox->widget = w;
            if (m_owner && !m_owner_widget) {
                m_owner = nullptr;  // The owner was destroyed with the old window.
                m_style &= ~WS_CHILD;
            }
            ApplyWindow();
        }
        return m_widget;
    }
    void ApplyWindow() {
        VideoWidget* w = m_widget;
        if (!w) {
            Widget();  // Applies the settings when it makes the window.
            return;
        }
        const bool was_visible = m_visible;
        if (m_owner_widget) {
            if (w->parentWidget() != m_owner_widget || w->isWindow())
                w->setParent(m_owner_widget, Qt::Widget);
        } else {
            Qt::WindowFlags flags = Qt::Window;
            if (!(m_style & (WS_CAPTION | WS_THICKFRAME)))
                flags |= Qt::FramelessWindowHint;
            if (m_style_ex & WS_EX_TOPMOST)
                flags |= Qt::WindowStaysOnTopHint;
            if (w->parentWidget() || w->windowFlags() != flags)
                w->setParent(nullptr, flags);
        }
        w->setGeometry(m_left, m_top, m_width, m_height);
        // A hidden window's resize event waits for its show; the frames
        // made before it should already have its size.
        m_geometry->Update(w->size());
        w->setVisible(was_visible);
    }

    RendererInputPin* m_input = nullptr;
    std::shared_ptr<FrameMailbox> m_mailbox;
    std::shared_ptr<DrawGeometry> m_geometry;
    Rgb32Scaler m_scaler;  // Used on the streaming thread only.

    // Waits of a streaming thread for Running (a paused renderer holds its
    // frame); woken by state changes and by the pin's stop token.
    std::mutex m_state_lock;
    std::condition_variable_any m_state_cv;

    // User interface thread only.
    QPointer<VideoWidget> m_widget;
    QPointer<QWidget> m_owner_widget;
    win::HWND m_owner = nullptr;
    win::HWND m_drain = nullptr;
    QString m_caption = QStringLiteral("Video Window");
    LONG m_style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    LONG m_style_ex = 0;
    LONG m_left = 0, m_top = 0, m_width = 320, m_height = 240;
    bool m_size_set = false;
    bool m_visible = false;
    bool m_auto_show = true;
    bool m_cursor_hidden = false;
    LONG m_border_color = 0;
    LONG m_background_palette = OATRUE;
    LONG m_video_width = 0, m_video_height = 0;
};

HRESULT VideoRenderer::OnReceive(BaseInputPin& pin, IMediaSample* sample) {
    const MediaType mt = pin.ConnectionType();
    const VIDEOINFOHEADER* vih = mt.VideoInfo();
    if (!vih)
        return VFW_E_TYPE_NOT_ACCEPTED;
    int width = vih->bmiHeader.biWidth;
    int height = std::abs(vih->bmiHeader.biHeight);
    bool bottom_up = vih->bmiHeader.biHeight > 0;
    // A frame made smaller for the window carries its own size, never
    // larger than the connection's.
    AM_MEDIA_TYPE* own = nullptr;
    if (sample->GetMediaType(&own) == S_OK && own) {
        const bool usable = IsRgb32Video(*own);
        if (usable) {
            const auto* v = reinterpret_cast<const VIDEOINFOHEADER*>(own->pbFormat);
            if (v->bmiHeader.biWidth <= width && std::abs(v->bmiHeader.biHeight) <= height) {
                width = v->bmiHeader.biWidth;
                height = std::abs(v->bmiHeader.biHeight);
                bottom_up = v->bmiHeader.biHeight > 0;
            }
        }
        DeleteMediaType(own);
        if (!usable)
            return S_OK;
    }
    const size_t stride = size_t(width) * 4;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    if (!data || size_t(sample->GetActualDataLength()) < stride * size_t(height))
        return S_OK;  // A short frame is not drawn.

    const std::stop_token stop = static_cast<BaseInputPin&>(pin).StopToken();
    // A paused renderer holds the frame until the graph runs.
    {
        std::unique_lock guard(m_state_lock);
        m_state_cv.wait(guard, stop, [&] { return State() != State_Paused; });
    }
    if (stop.stop_requested() || State() == State_Stopped)
        return S_FALSE;
    REFERENCE_TIME start = 0, end = 0;
    if (SUCCEEDED(sample->GetTime(&start, &end))) {
        if (ComPtr<IReferenceClock> clock = Clock())
            clock->WaitUntil(StartTime() + start, stop);  // At once when late.
        if (stop.stop_requested())
            return S_FALSE;
    }

    // The picture is made once at the size the window draws it (the
    // letterboxed part); a window not sized yet gets the frame's own size.
    int draw_width = m_geometry->draw_width.load(), draw_height = m_geometry->draw_height.load();
    if (draw_width <= 0 || draw_height <= 0) {
        draw_width = width;
        draw_height = height;
    }
    QImage frame = m_mailbox->Take(draw_width, draw_height);
    if (draw_width == width && draw_height == height) {
        for (int y = 0; y < height; ++y) {
            const BYTE* row = data + stride * size_t(bottom_up ? height - 1 - y : y);
            std::memcpy(frame.scanLine(y), row, stride);
        }
    } else if (Rgb32Scaler::Suits(width, height, draw_width, draw_height) &&
               frame.bytesPerLine() == qsizetype(draw_width) * 4) {
        // Enlarged, or made smaller by at most half: bilinear mixing leaves
        // no pixel out; done here on the streaming thread alone, in the
        // sample's row order.
        m_scaler.Scale(data, width, height, frame.bits(), draw_width, draw_height, bottom_up);
    } else {
        // Much smaller: Qt's smooth scaling averages every pixel. The
        // sample's rows as they lie (no copy), scaled once into the
        // window's picture; bottom-up rows are drawn mirrored.
        const QImage source(data, width, height, qsizetype(stride), QImage::Format_RGB32);
        QPainter painter(&frame);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        if (bottom_up) {
            painter.translate(0, draw_height);
            painter.scale(1, -1);
        }
        painter.drawImage(QRect(0, 0, draw_width, draw_height), source);
    }
    bool queue = false;
    {
        std::lock_guard guard(m_mailbox->lock);
        // A frame not yet shown is replaced; its picture is the next spare.
        if (!m_mailbox->latest.isNull() && m_mailbox->spare.isNull())
            m_mailbox->spare = std::move(m_mailbox->latest);
        m_mailbox->latest = std::move(frame);
        queue = !m_mailbox->queued;
        m_mailbox->queued = true;
    }
    if (queue) {
        // The call holds the mailbox, not the filter, so it is harmless
        // when the filter is gone before it runs.
        std::shared_ptr<FrameMailbox> mailbox = m_mailbox;
        PostToUi([mailbox] { mailbox->Deliver(); });
    }
    return S_OK;
}

ClassEntry MakeEntry(const GUID& clsid, const char* name, uint32_t merit) {
    ClassEntry entry;
    entry.clsid = clsid;
    entry.friendly_name = name;
    entry.create = [clsid](REFIID riid, void** out) {
        auto filter = MakeCom<VideoRenderer>(clsid);
        return static_cast<IBaseFilter*>(filter.Get())->QueryInterface(riid, out);
    };
    entry.merit = merit;
    entry.categories = {CLSID_LegacyAmFilterCategory};
    return entry;
}

}  // namespace

ClassEntry VideoRendererClassEntry() {
    return MakeEntry(CLSID_VideoRenderer, "Video Renderer", MERIT_PREFERRED);
}

ClassEntry VideoWindowRendererClassEntry() {
    return MakeEntry(CLSID_VideoWindowRenderer, "videowindow", MERIT_DO_NOT_USE);
}

void RegisterRendererClasses() {
    // Registering again replaces each entry with an equal one.
    ClassRegistry& registry = ClassRegistry::Instance();
    registry.Register(VideoRendererClassEntry());
    registry.Register(VideoWindowRendererClassEntry());
}

}  // namespace ronvix::media
