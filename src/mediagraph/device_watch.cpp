#include "mediagraph/device_watch.h"

#include <mutex>

#include "framework/application.h"
#include "platform/media/devices/watch/devicewatch.h"

namespace ronvix::mediagraph {

namespace {

// Held while the watch's thread posts a delivery, and taken by the delivery
// before it reads what it carries. Qt's event queue already orders the two,
// but in Qt's own uninstrumented locks, which ThreadSanitizer cannot see;
// this lock states the same order where it does see it.
std::mutex& PostLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

TDeviceWatch::TDeviceWatch(QObject* owner, const QString& name) : fw::TComponent(owner, name) {
    // The watch's thread posts and never waits; a delivery still queued
    // when this object goes is dropped with it.
    m_watch = std::make_unique<media::DeviceWatch>([this] {
        if (m_posted.exchange(true))
            return;
        std::lock_guard guard(PostLock());
        QMetaObject::invokeMethod(
            this,
            [this] {
                TDeviceWatch* self = nullptr;
                {
                    std::lock_guard taken(PostLock());
                    self = this;
                }
                self->Deliver();
            },
            Qt::QueuedConnection);
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
