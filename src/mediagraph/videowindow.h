#pragma once
// TVideoWindow: a control that brings a video renderer into a TFilterGraph
// and makes it draw over the control's area. It joins the graph as a filter
// component (the renderer is its filter) and as a control (it follows the
// run state and graph events). TVMROptions holds the settings of the mixing
// renderer; where that renderer cannot be made, vmVMR falls back to
// vmNormal and the options are only stored.
//
// User interface thread only. Platform failures of the guarded calls raise
// EDirectShowException to whoever activated or ran the graph.

#include <QMenu>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "framework/events.h"
#include "mediagraph/filtergraph.h"
#include "mediagraph/links.h"
#include "platform/win/window.h"

namespace ronvix::mediagraph {

struct IVMRWindowlessControl9;
struct IVMRSurfaceAllocator9;
class TVideoWindow;

// Window style bits the renderer's window control takes.
inline constexpr com::LONG WS_CHILD = 0x40000000;
inline constexpr com::LONG WS_VISIBLE = 0x10000000;
inline constexpr com::LONG WS_CLIPSIBLINGS = 0x04000000;
inline constexpr com::LONG WS_EX_TOPMOST = 0x00000008;

enum TVMRVideoMode { vmrWindowed = 0, vmrWindowless = 1, vmrRenderless = 2 };
enum TVMRPreference : uint32_t {
    vpForceOffscreen = 1u << 0,
    vpForceOverlays = 1u << 1,
    vpForceMixer = 1u << 2,
    vpDoNotRenderColorKeyAndBorder = 1u << 3,
    vpRestrictToInitialMonitor = 1u << 4,
    vpPreferAGPMemWhenMixing = 1u << 5,
};
using TVMRPreferences = uint32_t;  // a set of TVMRPreference bits

// Makes the surface allocator of renderless mode for a window; nothing in
// this system provides one.
using TAllocatorClass =
    std::function<HRESULT(win::HWND window, com::ComPtr<IVMRSurfaceAllocator9>* allocator)>;

class TVMROptions {
public:
    explicit TVMROptions(TVideoWindow* owner) : m_owner(owner) {}

    TVMRVideoMode Mode() const { return m_mode; }
    void SetMode(TVMRVideoMode mode);
    uint32_t Streams() const { return m_streams; }
    // A value outside 1..16 becomes 1.
    void SetStreams(uint32_t streams);
    TVMRPreferences Preferences() const { return m_preferences; }
    void SetPreferences(TVMRPreferences preferences);
    bool KeepAspectRatio() const { return m_keep_aspect_ratio; }
    void SetKeepAspectRatio(bool keep);

private:
    friend class TVideoWindow;
    void ReEnter();

    TVideoWindow* m_owner;
    TVMRVideoMode m_mode = vmrWindowed;
    uint32_t m_streams = 4;
    TVMRPreferences m_preferences = vpForceMixer;
    bool m_keep_aspect_ratio = true;
};

class TVideoWindow : public QWidget, public IFilterLink, public IControlLink {
    Q_OBJECT
public:
    enum TVideoMode { vmNormal = 0, vmVMR = 1 };
    Q_ENUM(TVideoMode)

    explicit TVideoWindow(QWidget* parent = nullptr);
    ~TVideoWindow() override;

    // Whether the mixing renderer can be made in-process.
    static bool VMR9Available();

    TFilterGraph* FilterGraph() const { return m_graph; }
    void SetFilterGraph(TFilterGraph* graph);
    TVideoMode Mode() const { return m_mode; }
    // vmVMR only when the mixing renderer exists, otherwise vmNormal; an
    // active graph gets the new renderer at once.
    void SetMode(TVideoMode mode);
    TVMROptions& VMROptions() { return m_vmr_options; }
    bool FullScreen() const { return m_full_screen; }
    void SetFullScreen(bool full_screen);
    bool FullScreenTopMost() const { return m_full_screen_top_most; }
    void SetFullScreenTopMost(bool top_most);
    void SetVisible(bool visible);
    // The renderer's window while there is a window control, else this one.
    uintptr_t VideoHandle() const;
    QMenu* PopupMenu() const { return m_popup_menu; }
    void SetPopupMenu(QMenu* menu) { m_popup_menu = menu; }
    TAllocatorClass AllocatorClass;
    fw::TNotifyEvent OnPaint;

    // End of loading: remembers the control's own window styles.
    void Loaded();
    com::LONG SavedStyle() const { return m_saved_style; }
    com::LONG SavedExStyle() const { return m_saved_ex_style; }
    bool ScreenMouse() const { return m_screen_mouse; }
    bool HasWindowControl() const { return static_cast<bool>(m_window_control); }

    // Requests are answered by the control, then by the renderer.
    HRESULT QueryInterface(com::REFIID riid, void** out) override;
    com::ULONG AddRef() override { return 1; }
    com::ULONG Release() override { return 1; }

    // IFilterLink
    com::ComPtr<media::IBaseFilter> LinkedFilter() override { return m_renderer; }
    QString LinkedName() override { return objectName(); }
    void LinkNotify(int operation, int param) override;
    // IControlLink
    void ForwardGraphEvent(com::LONG code, com::LONG_PTR param1, com::LONG_PTR param2) override;
    void ForwardGraphState(int operation, int param) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    friend class TVMROptions;
    void ReEnterGraph();
    void ApplyFullScreen(bool full_screen);
    void ApplyRenderingPreferences();
    void ApplyAspectMode();
    void PlaceVideo();
    void NameAndDrain();
    win::HWND Handle();
    // Input the renderer's window hands to its message drain (this control).
    win::LRESULT DrainMessage(win::UINT msg, win::WPARAM wparam, win::LPARAM lparam);

    QPointer<TFilterGraph> m_graph;
    QMetaObject::Connection m_graph_watch;
    TVideoMode m_mode = vmNormal;
    TVMROptions m_vmr_options{this};
    bool m_full_screen = false;
    bool m_full_screen_top_most = false;
    QPointer<QMenu> m_popup_menu;
    com::ComPtr<media::IBaseFilter> m_renderer;
    com::ComPtr<media::IVideoWindow> m_window_control;
    com::ComPtr<IVMRWindowlessControl9> m_windowless;
    com::ComPtr<IVMRSurfaceAllocator9> m_allocator;
    com::LONG m_saved_style = 0;
    com::LONG m_saved_ex_style = 0;
    bool m_screen_mouse = false;
};

}  // namespace ronvix::mediagraph
