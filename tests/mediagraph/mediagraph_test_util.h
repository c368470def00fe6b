#pragma once
// Shared set-up of the media graph layer tests: every class the engine
// offers (the renderer and the file playback classes too) is registered
// once, and events posted to hidden windows are delivered on demand.

#include <QCoreApplication>
#include <QEventLoop>

#include "mediagraph/platform.h"

namespace ronvix::mediagraph::test {

inline void RegisterClasses() {
    RegisterPlatformClasses();
}

// Delivers every posted message and event queued for this thread.
inline void DeliverPosted() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace ronvix::mediagraph::test
