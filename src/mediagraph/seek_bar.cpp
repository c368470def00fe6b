#include "mediagraph/seek_bar.h"

#include <QMouseEvent>
#include <limits>

#include "framework/application.h"
#include "framework/exceptions.h"

namespace ronvix::mediagraph {

using namespace media;

namespace {
constexpr uintptr_t kTimerId = 1;
constexpr LONGLONG kHundredNsPerMs = 10000;

int ClampToInt(uint32_t v) {
    return v > uint32_t(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                         : static_cast<int>(v);
}
}  // namespace

TDSTrackBar::TDSTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    m_window = std::make_unique<win::MessageWindow>(
        [this](win::HWND, win::UINT msg, win::WPARAM, win::LPARAM) -> win::LRESULT {
            if (msg == win::WM_TIMER)
                fw::SafeCall([this] { TimerTick(); });
            return 0;
        },
        QStringLiteral("TDSTrackBarTimer"));
}

TDSTrackBar::~TDSTrackBar() {
    m_timer_on = false;
    if (m_window)
        win::KillTimer(m_window->Handle(), kTimerId);
    SetFilterGraph(nullptr);
    m_window.reset();
    m_seeking = nullptr;
}

void TDSTrackBar::SetFilterGraph(TFilterGraph* graph) {
    if (graph == m_graph)
        return;
    QObject::disconnect(m_graph_watch);
    if (m_graph)
        m_graph->RemoveControlLink(this);
    if (graph)
        graph->AddControlLink(this);
    m_graph = graph;
    if (graph)
        m_graph_watch = connect(graph, &QObject::destroyed, this, [this] { GraphDestroyed(); });
}

void TDSTrackBar::GraphDestroyed() {
    m_seeking = nullptr;
    m_graph = nullptr;
}

void TDSTrackBar::SetTimerInterval(uint32_t interval_ms) {
    if (interval_ms == m_interval_ms)
        return;
    m_interval_ms = interval_ms;
    UpdateTimer();
}

void TDSTrackBar::SetOnTimer(TTimerEvent handler) {
    m_on_timer = std::move(handler);
    UpdateTimer();
}

void TDSTrackBar::SetTimerOn(bool on) {
    if (on == m_timer_on)
        return;
    m_timer_on = on;
    UpdateTimer();
}

void TDSTrackBar::UpdateTimer() {
    const win::HWND window = TimerWindow();
    win::KillTimer(window, kTimerId);
    if (m_interval_ms != 0 && m_timer_on && win::SetTimer(window, kTimerId, m_interval_ms) == 0)
        throw fw::EOutOfResources();
}

void TDSTrackBar::SetMin(int min) {
    setMinimum(std::min(min, maximum()));
}

void TDSTrackBar::SetMax(int max) {
    if (max < minimum())
        return;
    setMaximum(max);
}

void TDSTrackBar::SetPosition(int position) {
    setValue(position);
}

void TDSTrackBar::TimerTick() {
    // An interval of 0 never runs the timer, and a step of 0 ms has no
    // position to show.
    if (!m_seeking || m_dragging || m_interval_ms == 0)
        return;
    LONGLONG duration = 0;
    LONGLONG current = 0;
    if (com::FAILED(m_seeking->GetDuration(&duration)))
        return;
    if (com::FAILED(m_seeking->GetCurrentPosition(&current)))
        return;
    const auto current_ms = static_cast<uint32_t>(current / kHundredNsPerMs);
    const auto duration_ms = static_cast<uint32_t>(duration / kHundredNsPerMs);
    SetMin(0);
    SetMax(ClampToInt(duration_ms / m_interval_ms));
    SetPosition(ClampToInt(current_ms / m_interval_ms));
    if (m_on_timer)
        m_on_timer(this, current_ms, duration_ms);
}

void TDSTrackBar::Seek() {
    if (!m_seeking || maximum() <= 0)
        return;
    LONGLONG stop = 0;
    m_seeking->GetStopPosition(&stop);
    LONGLONG position = stop * static_cast<LONGLONG>(value()) / static_cast<LONGLONG>(maximum());
    m_seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, &stop,
                            AM_SEEKING_NoPositioning);
}

void TDSTrackBar::mousePressEvent(QMouseEvent* event) {
    QSlider::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        m_dragging = true;
}

void TDSTrackBar::mouseMoveEvent(QMouseEvent* event) {
    QSlider::mouseMoveEvent(event);
    if ((event->buttons() & Qt::LeftButton) && m_seeking)
        fw::SafeCall([this] { Seek(); });
}

void TDSTrackBar::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && m_seeking)
        fw::SafeCall([this] { Seek(); });
    m_dragging = false;
}

HRESULT TDSTrackBar::QueryInterface(com::REFIID riid, void** out) {
    if (!out)
        return com::E_POINTER;
    *out = nullptr;
    if (riid == com::IUnknown::iid || riid == IControlLink::iid) {
        *out = static_cast<IControlLink*>(this);
        return com::S_OK;
    }
    return com::E_NOINTERFACE;
}

void TDSTrackBar::ForwardGraphEvent(com::LONG code, com::LONG_PTR, com::LONG_PTR) {
    if (code != EC_CLOCK_CHANGED || !m_seeking)
        return;
    LONGLONG duration = 0;
    m_seeking->GetDuration(&duration);
    LONGLONG start = 0;
    m_seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &duration,
                            AM_SEEKING_NoPositioning);
}

void TDSTrackBar::ForwardGraphState(int operation, int param) {
    switch (operation) {
        case ControlRun:
            SetTimerOn(isEnabled());
            break;
        case ControlPause:
        case ControlStop:
            SetTimerOn(false);
            break;
        case ControlActive:
            if (param == 1) {
                m_seeking = nullptr;
                if (m_graph)
                    m_graph->QueryInterface(IMediaSeeking::iid, m_seeking.OutVoid());
            } else {
                m_seeking = nullptr;
            }
            break;
        default:
            break;
    }
}

}  // namespace ronvix::mediagraph
