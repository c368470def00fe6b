#include "mediagraph/device_watch.h"

#include "framework/application.h"
#include "platform/media/devices/watch/devicewatch.h"

namespace ronvix::mediagraph {

TDeviceWatch::TDeviceWatch(QObject* owner, const QString& name) : fw::TComponent(owner, name) {
    // The watch's thread posts and never waits; a delivery still queued
    // when this object goes is dropped with it.
    m_watch = std::make_unique<media::DeviceWatch>([this] {
        if (!m_posted.exchange(true))
            QMetaObject::invokeMethod(
                this, [this] { Deliver(); }, Qt::QueuedConnection);
    });
}

TDeviceWatch::~TDeviceWatch() {
    m_watch.reset();
}

void TDeviceWatch::Deliver() {
    m_posted = false;
    fw::SafeCall([&] { fw::Fire(OnChange, this); });
}

}  // namespace ronvix::mediagraph
