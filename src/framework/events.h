#pragma once
// Event properties: a method reference that may be empty, can be saved,
// replaced and called later. Handlers take the sender first.

#include <QObject>
#include <functional>

namespace ronvix::fw {

using TNotifyEvent = std::function<void(QObject* sender)>;

// Calls `handler` when it is set. Exceptions are not caught here: call it
// inside SafeCall (application.h) wherever a Qt event dispatch is the caller.
template <class F, class... A>
void Fire(const F& handler, A&&... args) {
    if (handler)
        handler(std::forward<A>(args)...);
}

}  // namespace ronvix::fw
