#pragma once
// Shared set-up of the media graph layer tests: the engine's classes are
// registered once, and events posted to hidden windows are delivered on
// demand.

#include <QCoreApplication>
#include <QEventLoop>

#include "platform/media/filters/filters.h"

namespace ronvix::mediagraph::test {

inline void RegisterClasses() {
    media::RegisterEngineClasses();
}

// Delivers every posted message and event queued for this thread.
inline void DeliverPosted() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace ronvix::mediagraph::test
