#include "mediagraph/videowindow.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <cfenv>

#include "framework/application.h"
#include "mediagraph/graph_util.h"
#include "mediagraph/unavailable_interfaces.h"
#include "platform/com/classregistry.h"
#include "platform/com/object.h"
#include "platform/winui/widgets.h"

namespace ronvix::mediagraph {

using com::ComPtr;
using namespace media;

namespace {

// Renderer set-up may change the floating-point environment; the program's
// own arithmetic must not see that.
class FpuGuard {
public:
    FpuGuard() { std::fegetenv(&m_env); }
    ~FpuGuard() { std::fesetenv(&m_env); }
    FpuGuard(const FpuGuard&) = delete;
    FpuGuard& operator=(const FpuGuard&) = delete;

private:
    std::fenv_t m_env;
};

// Mouse messages beyond the ones the window layer names.
constexpr win::UINT kRButtonDblClk = 0x0206;
constexpr win::UINT kMButtonDown = 0x0207;
constexpr win::UINT kMButtonUp = 0x0208;
constexpr win::UINT kMButtonDblClk = 0x0209;
// Key state bits in the wparam of mouse messages.
constexpr win::WPARAM kMkLButton = 0x1;
constexpr win::WPARAM kMkRButton = 0x2;
constexpr win::WPARAM kMkShift = 0x4;
constexpr win::WPARAM kMkControl = 0x8;
constexpr win::WPARAM kMkMButton = 0x10;

// The Qt key of a virtual-key code, or 0 for codes without one here.
int QtKey(win::WPARAM vk) {
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z'))
        return int(vk);  // the same codes
    if (vk >= 0x70 && vk <= 0x87)
        return Qt::Key_F1 + int(vk - 0x70);
    switch (vk) {
        case 0x08:
            return Qt::Key_Backspace;
        case 0x09:
            return Qt::Key_Tab;
        case 0x0D:
            return Qt::Key_Return;
        case 0x1B:
            return Qt::Key_Escape;
        case 0x20:
            return Qt::Key_Space;
        case 0x21:
            return Qt::Key_PageUp;
        case 0x22:
            return Qt::Key_PageDown;
        case 0x23:
            return Qt::Key_End;
        case 0x24:
            return Qt::Key_Home;
        case 0x25:
            return Qt::Key_Left;
        case 0x26:
            return Qt::Key_Up;
        case 0x27:
            return Qt::Key_Right;
        case 0x28:
            return Qt::Key_Down;
        case 0x2E:
            return Qt::Key_Delete;
        default:
            return 0;
    }
}

constexpr com::LONG kFullScreenStyleMask = static_cast<com::LONG>(0xFF3BFFFF);
constexpr com::LONG kFullScreenExStyleMask = static_cast<com::LONG>(0xFFFDFCFE);

OAHWND AsOAHWND(win::HWND hwnd) {
    return reinterpret_cast<OAHWND>(hwnd);
}

}  // namespace

// ---------------------------------------------------------------- TVMROptions

void TVMROptions::ReEnter() {
    if (m_owner->Mode() == TVideoWindow::vmVMR && m_owner->FilterGraph() &&
        m_owner->FilterGraph()->Active())
        m_owner->ReEnterGraph();
}

void TVMROptions::SetMode(TVMRVideoMode mode) {
    m_mode = mode;
    ReEnter();
}

void TVMROptions::SetStreams(uint32_t streams) {
    m_streams = (streams < 1 || streams > 16) ? 1 : streams;
    ReEnter();
}

void TVMROptions::SetPreferences(TVMRPreferences preferences) {
    m_preferences = preferences;
    ReEnter();
}

void TVMROptions::SetKeepAspectRatio(bool keep) {
    m_keep_aspect_ratio = keep;
    m_owner->ApplyAspectMode();
}

// --------------------------------------------------------------- TVideoWindow

TVideoWindow::TVideoWindow(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);  // TabStop
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(160, 120);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    setAutoFillBackground(true);
    // The renderer's window posts its mouse and key input here while this
    // control is its message drain; without a procedure it would be lost.
    win::SetWindowProc(Handle(), [this](win::HWND, win::UINT msg, win::WPARAM w, win::LPARAM l) {
        return DrainMessage(msg, w, l);
    });
}

TVideoWindow::~TVideoWindow() {
    win::SetWindowProc(Handle(), {});
    fw::SafeCall([this] { SetFilterGraph(nullptr); });
}

bool TVideoWindow::VMR9Available() {
    FpuGuard fpu;
    ComPtr<IBaseFilter> renderer;
    com::CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, com::CLSCTX_INPROC_SERVER,
                          IBaseFilter::iid, renderer.OutVoid());
    return static_cast<bool>(renderer);
}

win::HWND TVideoWindow::Handle() {
    return win::WidgetHandle(this);
}

void TVideoWindow::Loaded() {
    m_saved_style = WS_CHILD | WS_CLIPSIBLINGS | (isVisible() ? WS_VISIBLE : 0);
    m_saved_ex_style = 0;
    Handle();
}

void TVideoWindow::SetFilterGraph(TFilterGraph* graph) {
    if (graph == m_graph)
        return;
    QObject::disconnect(m_graph_watch);
    if (m_graph) {
        m_graph->RemoveFilterLink(this);
        m_graph->RemoveControlLink(this);
    }
    if (graph) {
        graph->AddFilterLink(this);
        graph->AddControlLink(this);
    }
    m_graph = graph;
    if (graph)
        m_graph_watch = connect(graph, &QObject::destroyed, this, [this] { m_graph = nullptr; });
}

void TVideoWindow::ReEnterGraph() {
    if (!m_graph)
        return;
    TFilterGraph* graph = m_graph;
    graph->RemoveFilterLink(this);
    graph->AddFilterLink(this);
}

void TVideoWindow::SetMode(TVideoMode mode) {
    m_mode = (mode == vmVMR && VMR9Available()) ? vmVMR : vmNormal;
    if (m_graph && m_graph->Active())
        ReEnterGraph();
}

uintptr_t TVideoWindow::VideoHandle() const {
    auto* self = const_cast<TVideoWindow*>(this);
    if (!m_window_control)
        return reinterpret_cast<uintptr_t>(win::WidgetHandle(self));
    win::HWND parent = parentWidget() ? win::WidgetHandle(parentWidget()) : nullptr;
    return reinterpret_cast<uintptr_t>(
        win::FindWindowEx(parent, nullptr, QStringLiteral("VideoRenderer"), objectName()));
}

void TVideoWindow::SetVisible(bool visible) {
    QWidget::setVisible(visible);
    if (m_window_control)
        CheckResult(m_window_control->put_Visible(visible ? -1 : 0));
}

void TVideoWindow::SetFullScreenTopMost(bool top_most) {
    m_full_screen_top_most = top_most;
    if (m_full_screen)
        ApplyFullScreen(true);
}

void TVideoWindow::SetFullScreen(bool full_screen) {
    ApplyFullScreen(full_screen);
}

void TVideoWindow::ApplyFullScreen(bool full_screen) {
    if (m_window_control) {
        if (full_screen) {
            CheckResult(m_window_control->put_Owner(0));
            CheckResult(m_window_control->put_WindowStyle(m_saved_style & kFullScreenStyleMask));
            com::LONG ex = m_saved_ex_style & kFullScreenExStyleMask;
            if (m_full_screen_top_most)
                ex |= WS_EX_TOPMOST;
            CheckResult(m_window_control->put_WindowStyleEx(ex));
            QRect screen(0, 0, 1024, 768);
            if (QScreen* s = QGuiApplication::primaryScreen())
                screen = s->geometry();
            CheckResult(m_window_control->SetWindowPosition(0, 0, screen.width(), screen.height()));
            m_screen_mouse = true;
        } else {
            const win::HWND parent = parentWidget() ? win::WidgetHandle(parentWidget()) : nullptr;
            CheckResult(m_window_control->put_Owner(AsOAHWND(parent)));
            CheckResult(
                m_window_control->put_WindowStyle(m_saved_style | WS_CHILD | WS_CLIPSIBLINGS));
            CheckResult(m_window_control->put_WindowStyleEx(m_saved_ex_style));
            CheckResult(m_window_control->SetWindowPosition(x(), y(), width(), height()));
            m_screen_mouse = false;
        }
    }
    m_full_screen = full_screen;
    if (m_windowless)
        m_screen_mouse = false;
}

void TVideoWindow::NameAndDrain() {
    const std::u16string caption = objectName().toStdU16String();
    com::BSTR name = com::SysAllocString(caption.c_str());
    const HRESULT hr = m_window_control->put_Caption(name);
    com::SysFreeString(name);
    CheckResult(hr);
    CheckResult(m_window_control->put_MessageDrain(AsOAHWND(Handle())));
}

void TVideoWindow::ApplyRenderingPreferences() {
    ComPtr<IVMRFilterConfig9> config;
    if (m_renderer)
        m_renderer->QueryInterface(IVMRFilterConfig9::iid, config.OutVoid());
    if (!config)
        return;
    const bool mixer = m_vmr_options.m_preferences & vpForceMixer;
    CheckResult(config->SetRenderingPrefs(m_vmr_options.m_preferences & ~uint32_t(vpForceMixer)));
    com::DWORD prefs = 0;
    CheckResult(config->GetRenderingPrefs(&prefs));
    m_vmr_options.m_preferences = prefs | (mixer ? uint32_t(vpForceMixer) : 0u);
}

void TVideoWindow::ApplyAspectMode() {
    const TVMRVideoMode mode = m_vmr_options.Mode();
    if (mode != vmrWindowed && mode != vmrWindowless)
        return;
    ComPtr<IVMRAspectRatioControl9> aspect;
    QueryInterface(IVMRAspectRatioControl9::iid, aspect.OutVoid());
    if (aspect)
        CheckResult(aspect->SetAspectRatioMode(
            m_vmr_options.KeepAspectRatio() ? VMR9ARMode_LetterBox : VMR9ARMode_None));
}

void TVideoWindow::PlaceVideo() {
    const bool windowed =
        m_mode == vmNormal || (m_mode == vmVMR && m_vmr_options.Mode() == vmrWindowed);
    if (windowed) {
        if (m_window_control && !m_full_screen)
            CheckResult(m_window_control->SetWindowPosition(x(), y(), width(), height()));
    } else if (m_mode == vmVMR && m_vmr_options.Mode() == vmrWindowless && m_windowless) {
        RECT dest;
        dest.right = width();
        dest.bottom = height();
        CheckResult(m_windowless->SetVideoPosition(nullptr, &dest));
    }
}

HRESULT TVideoWindow::QueryInterface(com::REFIID riid, void** out) {
    if (!out)
        return com::E_POINTER;
    *out = nullptr;
    if (riid == com::IUnknown::iid || riid == IFilterLink::iid) {
        *out = static_cast<IFilterLink*>(this);
        return com::S_OK;
    }
    if (riid == IControlLink::iid) {
        *out = static_cast<IControlLink*>(this);
        return com::S_OK;
    }
    if (riid == IVMRWindowlessControl9::iid && m_windowless)
        return com::ReturnInterface(m_windowless.Get(), out);
    if (m_renderer)
        return m_renderer->QueryInterface(riid, out);
    return com::E_NOINTERFACE;
}

void TVideoWindow::LinkNotify(int operation, int) {
    switch (operation) {
        case BeforeAdd: {
            if (m_mode == vmNormal) {
                com::CoCreateInstance(CLSID_VideoRenderer, nullptr, com::CLSCTX_INPROC_SERVER,
                                      IBaseFilter::iid, m_renderer.OutVoid());
                break;
            }
            FpuGuard fpu;
            com::CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, com::CLSCTX_INPROC_SERVER,
                                  IBaseFilter::iid, m_renderer.OutVoid());
            ComPtr<IVMRFilterConfig9> config;
            if (m_renderer)
                m_renderer->QueryInterface(IVMRFilterConfig9::iid, config.OutVoid());
            if (!config)
                break;
            switch (m_vmr_options.Mode()) {
                case vmrWindowed:
                    CheckResult(config->SetRenderingMode(VMR9Mode_Windowed));
                    break;
                case vmrWindowless:
                    CheckResult(config->SetRenderingMode(VMR9Mode_Windowless));
                    break;
                case vmrRenderless: {
                    if (!AllocatorClass)
                        throw EMediaGraphException(QStringLiteral("Allocator class not set."));
                    ComPtr<IVMRSurfaceAllocator9> allocator;
                    const HRESULT hr = AllocatorClass(Handle(), &allocator);
                    if (com::FAILED(hr))
                        throw EMediaGraphException(QStringLiteral("Error Creating Allocator"), hr);
                    CheckResult(config->SetRenderingMode(VMR9Mode_Renderless));
                    ComPtr<IVMRSurfaceAllocatorNotify9> notify;
                    CheckResult(m_renderer->QueryInterface(IVMRSurfaceAllocatorNotify9::iid,
                                                           notify.OutVoid()));
                    CheckResult(notify->AdviseSurfaceAllocator(0, allocator.Get()));
                    m_allocator = allocator;
                    allocator->AdviseNotify(notify.Get());
                    break;
                }
            }
            break;
        }
        case AfterAdd: {
            if (!m_renderer)
                break;
            if (m_mode == vmNormal) {
                CheckResult(
                    m_renderer->QueryInterface(IVideoWindow::iid, m_window_control.OutVoid()));
            } else {
                ComPtr<IVMRFilterConfig9> config;
                if (CheckResult(m_renderer->QueryInterface(IVMRFilterConfig9::iid,
                                                           config.OutVoid())) != com::S_OK)
                    break;
                if (m_vmr_options.m_streams != 4 || (m_vmr_options.m_preferences & vpForceMixer)) {
                    CheckResult(config->SetNumberOfStreams(m_vmr_options.m_streams));
                    com::DWORD streams = 0;
                    CheckResult(config->GetNumberOfStreams(&streams));
                    m_vmr_options.m_streams = streams;
                }
                switch (m_vmr_options.Mode()) {
                    case vmrWindowed:
                        CheckResult(m_renderer->QueryInterface(IVideoWindow::iid,
                                                               m_window_control.OutVoid()));
                        ApplyRenderingPreferences();
                        break;
                    case vmrWindowless:
                        CheckResult(m_renderer->QueryInterface(IVMRWindowlessControl9::iid,
                                                               m_windowless.OutVoid()));
                        CheckResult(m_windowless->SetVideoClippingWindow(Handle()));
                        ApplyRenderingPreferences();
                        PlaceVideo();
                        break;
                    case vmrRenderless:
                        break;
                }
            }
            ApplyAspectMode();
            break;
        }
        case BeforeRemove: {
            if (!m_renderer)
                break;
            CheckResult(m_renderer->Stop());
            TPinList pins(m_renderer.Get());
            for (int i = 0; i < pins.Count(); ++i)
                CheckResult(pins.PinAt(i)->Disconnect());
            if (m_mode == vmVMR && m_vmr_options.Mode() == vmrRenderless)
                m_allocator = nullptr;
            break;
        }
        case AfterRemove:
            m_window_control = nullptr;
            m_windowless = nullptr;
            m_renderer = nullptr;
            break;
        default:
            break;
    }
}

void TVideoWindow::ForwardGraphState(int operation, int) {
    if (operation != ControlRun)
        return;
    if (m_mode == vmNormal) {
        if (!m_window_control)
            return;
        ApplyFullScreen(m_full_screen);
        NameAndDrain();
    } else {
        ApplyFullScreen(m_full_screen);
    }
}

void TVideoWindow::ForwardGraphEvent(com::LONG code, com::LONG_PTR, com::LONG_PTR) {
    if (code == EC_PALETTE_CHANGED && m_window_control) {
        ApplyFullScreen(m_full_screen);
        NameAndDrain();
    } else if (code == EC_VMR_RENDERDEVICE_SET && m_vmr_options.Mode() == vmrWindowed &&
               m_window_control) {
        NameAndDrain();
    }
}

// ------------------------------------------------------------ message drain

win::LRESULT TVideoWindow::DrainMessage(win::UINT msg, win::WPARAM wparam, win::LPARAM lparam) {
    if (msg == win::WM_KEYDOWN || msg == win::WM_KEYUP) {
        const int key = QtKey(wparam);
        if (key == 0)
            return 0;
        const QString text =
            key < 0x100 && QChar(key).isPrint() ? QString(QChar(key).toLower()) : QString();
        QKeyEvent event(msg == win::WM_KEYDOWN ? QEvent::KeyPress : QEvent::KeyRelease, key,
                        Qt::NoModifier, text);
        QCoreApplication::sendEvent(this, &event);
        return 0;
    }
    QEvent::Type type = QEvent::None;
    Qt::MouseButton button = Qt::NoButton;
    switch (msg) {
        case win::WM_MOUSEMOVE:
            type = QEvent::MouseMove;
            break;
        case win::WM_LBUTTONDOWN:
            type = QEvent::MouseButtonPress, button = Qt::LeftButton;
            break;
        case win::WM_LBUTTONUP:
            type = QEvent::MouseButtonRelease, button = Qt::LeftButton;
            break;
        case win::WM_LBUTTONDBLCLK:
            type = QEvent::MouseButtonDblClick, button = Qt::LeftButton;
            break;
        case win::WM_RBUTTONDOWN:
            type = QEvent::MouseButtonPress, button = Qt::RightButton;
            break;
        case win::WM_RBUTTONUP:
            type = QEvent::MouseButtonRelease, button = Qt::RightButton;
            break;
        case kRButtonDblClk:
            type = QEvent::MouseButtonDblClick, button = Qt::RightButton;
            break;
        case kMButtonDown:
            type = QEvent::MouseButtonPress, button = Qt::MiddleButton;
            break;
        case kMButtonUp:
            type = QEvent::MouseButtonRelease, button = Qt::MiddleButton;
            break;
        case kMButtonDblClk:
            type = QEvent::MouseButtonDblClick, button = Qt::MiddleButton;
            break;
        default:
            return 0;
    }
    Qt::MouseButtons buttons;
    if (wparam & kMkLButton)
        buttons |= Qt::LeftButton;
    if (wparam & kMkRButton)
        buttons |= Qt::RightButton;
    if (wparam & kMkMButton)
        buttons |= Qt::MiddleButton;
    Qt::KeyboardModifiers modifiers;
    if (wparam & kMkShift)
        modifiers |= Qt::ShiftModifier;
    if (wparam & kMkControl)
        modifiers |= Qt::ControlModifier;
    // Client coordinates of the renderer's window, which lies over this
    // control outside full screen; signed, as the platform packs them.
    const QPointF at(int16_t(uint16_t(lparam & 0xFFFF)),
                     int16_t(uint16_t((lparam >> 16) & 0xFFFF)));
    QMouseEvent event(type, at, mapToGlobal(at), button, buttons, modifiers);
    QCoreApplication::sendEvent(this, &event);
    // A right click on the picture asks for the context menu, as one on the
    // control itself would (in full screen that is the control's own menu).
    if (msg == win::WM_RBUTTONUP) {
        QContextMenuEvent request(QContextMenuEvent::Mouse, at.toPoint(), mapToGlobal(at).toPoint(),
                                  modifiers);
        QCoreApplication::sendEvent(this, &request);
    }
    return 0;
}

// ------------------------------------------------------------ widget events

void TVideoWindow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.end();
    QWidget::paintEvent(event);
    if (OnPaint)
        fw::SafeCall([this] { OnPaint(this); });
}

void TVideoWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fw::SafeCall([this] { PlaceVideo(); });
}

void TVideoWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    fw::SafeCall([this] { PlaceVideo(); });
}

namespace {
// The event as the inherited handling should see it: at the screen cursor
// while the renderer covers the screen.
QMouseEvent AtCursor(const QMouseEvent& e, QWidget* w) {
    const QPointF global = QCursor::pos();
    (void)w;
    return QMouseEvent(e.type(), global, global, e.button(), e.buttons(), e.modifiers());
}
}  // namespace

void TVideoWindow::mousePressEvent(QMouseEvent* event) {
    if (!m_screen_mouse)
        return QWidget::mousePressEvent(event);
    QMouseEvent moved = AtCursor(*event, this);
    QWidget::mousePressEvent(&moved);
}

void TVideoWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!m_screen_mouse)
        return QWidget::mouseMoveEvent(event);
    QMouseEvent moved = AtCursor(*event, this);
    QWidget::mouseMoveEvent(&moved);
}

void TVideoWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_screen_mouse)
        return QWidget::mouseReleaseEvent(event);
    QMouseEvent moved = AtCursor(*event, this);
    QWidget::mouseReleaseEvent(&moved);
}

void TVideoWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (!m_full_screen)
        return QWidget::contextMenuEvent(event);
    // In full screen the form's own pop-up handling would place the menu
    // against a window that is not where the picture is.
    event->accept();
    if (m_popup_menu)
        m_popup_menu->popup(QCursor::pos());
}

}  // namespace ronvix::mediagraph
