#pragma once
// TDSTrackBar: a track bar that follows the play position of a TFilterGraph
// and seeks when the user drags its thumb. One step of the bar stands for
// TimerInterval milliseconds of media. While the graph runs (and the bar was
// enabled at the run), a timer on a hidden window reads the duration and the
// position and moves the thumb; mouse input with the left button sets a new
// position. Keyboard moves make no seek. User interface thread only.

#include <QPointer>
#include <QSlider>
#include <functional>
#include <memory>

#include "mediagraph/filtergraph.h"
#include "mediagraph/links.h"
#include "platform/win/window.h"

namespace ronvix::mediagraph {

// (sender, current position in ms, duration in ms)
using TTimerEvent = std::function<void(QObject* sender, uint32_t current_pos, uint32_t stop_pos)>;

class TDSTrackBar : public QSlider, public IControlLink {
    Q_OBJECT
    Q_PROPERTY(uint TimerInterval READ TimerInterval WRITE SetTimerInterval)
public:
    explicit TDSTrackBar(QWidget* parent = nullptr);
    ~TDSTrackBar() override;

    TFilterGraph* FilterGraph() const { return m_graph; }
    void SetFilterGraph(TFilterGraph* graph);
    uint32_t TimerInterval() const { return m_interval_ms; }
    // Restarts the timer with the new period; 0 stops it.
    void SetTimerInterval(uint32_t interval_ms);
    const TTimerEvent& OnTimer() const { return m_on_timer; }
    // Storing the handler restarts the timer's period.
    void SetOnTimer(TTimerEvent handler);

    bool TimerOn() const { return m_timer_on; }
    void SetTimerOn(bool on);
    // Kills the timer and starts it again when wanted; EOutOfResources when
    // the window system refuses a timer.
    void UpdateTimer();
    bool Dragging() const { return m_dragging; }
    bool HasSeeking() const { return static_cast<bool>(m_seeking); }
    win::HWND TimerWindow() const { return m_window ? m_window->Handle() : nullptr; }

    // One timer step: thumb to the play position, then OnTimer.
    virtual void TimerTick();

    // The track bar's range rules: a maximum below the minimum is refused.
    void SetMin(int min);
    void SetMax(int max);
    void SetPosition(int position);

    // IControlLink
    HRESULT QueryInterface(com::REFIID riid, void** out) override;
    com::ULONG AddRef() override { return 1; }
    com::ULONG Release() override { return 1; }
    void ForwardGraphEvent(com::LONG code, com::LONG_PTR param1, com::LONG_PTR param2) override;
    void ForwardGraphState(int operation, int param) override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Seek();
    void GraphDestroyed();

    QPointer<TFilterGraph> m_graph;
    QMetaObject::Connection m_graph_watch;
    uint32_t m_interval_ms = 1000;
    TTimerEvent m_on_timer;
    com::ComPtr<media::IMediaSeeking> m_seeking;
    bool m_timer_on = false;
    bool m_dragging = false;
    std::unique_ptr<win::MessageWindow> m_window;
};

}  // namespace ronvix::mediagraph
