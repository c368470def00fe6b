#pragma once
// TDeviceWatch: OnChange fires on the user interface thread when capture or
// output devices may have come or gone (a camera or a sound card plugged in
// or out, a sound server's source or sink added or removed), within about
// a second and a half of it; the owner then lists the devices again. It
// watches from its construction to its destruction (media::DeviceWatch,
// devicewatch.h, on a thread of its own that never waits for this one).
//
// Changes that come while an OnChange is still to be delivered are
// delivered with it. The handler runs inside SafeCall: an exception is
// reported and the watch goes on. User interface thread only.

#include <atomic>
#include <memory>

#include "framework/component.h"
#include "framework/events.h"

namespace ronvix::media {
class DeviceWatch;
}

namespace ronvix::mediagraph {

class TDeviceWatch : public fw::TComponent {
    Q_OBJECT
public:
    explicit TDeviceWatch(QObject* owner = nullptr, const QString& name = {});
    // Stops watching: no OnChange fires after it.
    ~TDeviceWatch() override;

    fw::TNotifyEvent OnChange;

private:
    void Deliver();

    // Set by the watch's thread when it posts a delivery, cleared by the
    // delivery, so that changes coming faster than they are delivered
    // queue one delivery.
    std::atomic<bool> m_posted{false};
    std::unique_ptr<media::DeviceWatch> m_watch;
};

}  // namespace ronvix::mediagraph
