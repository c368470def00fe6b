#pragma once
// TSampleGrabber: puts the platform's sample grabber filter into a
// TFilterGraph, restricts the media type the filter accepts to MediaType,
// and reports every buffer that passes by OnBuffer. The stream goes on
// unchanged.
//
// Threads: the component lives on the user interface thread; OnBuffer runs
// on the graph's streaming thread, one call at a time per component (a lock
// keeps two calls from overlapping). A handler must return quickly and must
// not touch controls. An exception that leaves it is reported on the user
// interface thread and never reaches the streaming thread.

#include <QPointer>
#include <functional>
#include <mutex>

#include "framework/component.h"
#include "mediagraph/filtergraph.h"
#include "mediagraph/links.h"
#include "mediagraph/mediatype.h"

namespace ronvix::mediagraph {

// (sender, sample time in seconds, data, length): the data is valid only
// during the call.
using TOnBuffer =
    std::function<void(QObject* sender, double sample_time, void* buffer, int buffer_len)>;

class TSampleGrabber : public fw::TComponent, public IFilterLink, public media::ISampleGrabberCB {
    Q_OBJECT
public:
    explicit TSampleGrabber(QObject* owner = nullptr, const QString& name = {});
    ~TSampleGrabber() override;

    TFilterGraph* FilterGraph() const { return m_graph; }
    void SetFilterGraph(TFilterGraph* graph);
    // The type the filter accepts; takes effect when the filter joins the
    // graph (activation) or on ApplyMediaType.
    TMediaType& MediaType() { return m_media_type; }

    // Set before the graph is activated: a handler assigned later takes
    // effect at the next activation.
    TOnBuffer OnBuffer;

    // Stops the filter, disconnects its input and sets the media type
    // (only while the filter exists).
    void ApplyMediaType();

    // The component answers its own interfaces, then the grabber filter's,
    // so it can stand for the filter wherever the platform wants one.
    HRESULT QueryInterface(com::REFIID riid, void** out) override;
    com::ULONG AddRef() override { return 1; }
    com::ULONG Release() override { return 1; }
    template <class I>
    com::ComPtr<I> Query() {
        com::ComPtr<I> out;
        QueryInterface(I::iid, out.OutVoid());
        return out;
    }

    // IFilterLink
    com::ComPtr<media::IBaseFilter> LinkedFilter() override { return m_filter; }
    QString LinkedName() override { return Name(); }
    void LinkNotify(int operation, int param) override;

    // ISampleGrabberCB (streaming thread)
    HRESULT SampleCB(double sample_time, media::IMediaSample* sample) override;
    HRESULT BufferCB(double sample_time, media::BYTE* buffer, com::LONG length) override;

private:
    QPointer<TFilterGraph> m_graph;
    QMetaObject::Connection m_graph_watch;
    TMediaType m_media_type;
    com::ComPtr<media::IBaseFilter> m_filter;
    com::ComPtr<media::ISampleGrabber> m_grabber;
    com::ComPtr<media::IPin> m_in_pin;
    com::ComPtr<media::IPin> m_out_pin;
    std::mutex m_buffer_lock;  // serialises OnBuffer calls
};

}  // namespace ronvix::mediagraph
