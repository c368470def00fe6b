#pragma once
// The filter graph manager (CLSID_FilterGraph).
//
// Threads: every control method (building, state changes, seeking, log)
// is called from the user interface thread and takes the graph lock; no
// streaming thread ever takes it. Filters raise events through
// IMediaEventSink from any thread; events queue under their own lock and are
// posted to the notify window, whose thread drains them with GetEvent.
//
// Lifetime: the graph holds a reference on every filter in it; filters hold
// a weak pointer back. Releasing the last reference stops every filter (their
// threads are joined and their devices closed), breaks every connection and
// lets every filter go before the release returns.

#include "platform/com/comptr.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::media {

// A new graph manager with one reference.
com::ComPtr<IFilterGraph2> CreateFilterGraph();

// The class factory entry for CoCreateInstance.
HRESULT CreateFilterGraphInstance(REFIID riid, void** out);

}  // namespace ronvix::media
