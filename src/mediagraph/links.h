#pragma once
// The two ways components bind to a TFilterGraph.
//
// IFilterLink: a component that puts one filter into the graph (TFilter,
// TSampleGrabber, TVideoWindow). The graph asks for the filter and its name
// and tells the component before and after it adds or removes the filter.
// IControlLink: a control that follows the graph (TVideoWindow, TDSTrackBar):
// it hears every graph event and every run-state change.
//
// Components are owned by their form, not by references: the layer's
// interfaces on a component do not count references, and a component
// removes its links from the graph before it is destroyed. User interface
// thread only; a link may throw (a renderer that cannot be set up), and the
// exception reaches whoever changed the graph's state.

#include <QString>

#include "platform/com/comptr.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::mediagraph {

// LinkNotify operations. The graph sends the first four, always with param 0;
// Rejoin asks a component to bring its filter up to date with its settings.
enum TLinkNotify : int {
    BeforeAdd = 0,
    AfterAdd = 1,
    BeforeRemove = 2,
    AfterRemove = 3,
    Rejoin = 4,
};

// ForwardGraphState operations (3 to 6 are never sent).
enum TControlNotify : int {
    ControlRun = 0,
    ControlPause = 1,
    ControlStop = 2,
    ControlActive = 7,  // param 1 after activation, 0 before deactivation
};

struct IFilterLink : com::IUnknown {
    static constexpr com::GUID iid = RONVIX_GUID("{887F94DA-29E9-44C6-B48E-1FBF0FB59878}");
    using base = com::IUnknown;
    // The filter to put into the graph; may be null.
    virtual com::ComPtr<media::IBaseFilter> LinkedFilter() = 0;
    // The name under which it is added.
    virtual QString LinkedName() = 0;
    virtual void LinkNotify(int operation, int param) = 0;

protected:
    ~IFilterLink() = default;
};

struct IControlLink : com::IUnknown {
    static constexpr com::GUID iid = RONVIX_GUID("{6C0DCD7B-1A98-44EF-A6D5-E23CBC24E620}");
    using base = com::IUnknown;
    // Each drained platform event, unchanged.
    virtual void ForwardGraphEvent(com::LONG code, com::LONG_PTR param1, com::LONG_PTR param2) = 0;
    virtual void ForwardGraphState(int operation, int param) = 0;

protected:
    ~IControlLink() = default;
};

}  // namespace ronvix::mediagraph
