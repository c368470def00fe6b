#include "framework/component.h"

#include <QVariant>

namespace ronvix::fw {

TComponent::TComponent(QObject* owner, const QString& name) : QObject(owner) {
    if (!name.isEmpty())
        setObjectName(name);
}

TComponent::~TComponent() = default;

void TComponent::Loaded() {
    m_loading = false;
}

int TagOf(const QObject* object) {
    if (!object)
        return 0;
    return object->property("Tag").toInt();
}

void SetTag(QObject* object, int tag) {
    if (object)
        object->setProperty("Tag", tag);
}

void LoadComponents(QObject* owner) {
    for (QObject* child : owner->children())
        if (auto* c = qobject_cast<TComponent*>(child))
            c->Loaded();
}

QObject* FindComponent(const QObject* owner, const QString& name) {
    if (!owner || name.isEmpty())
        return nullptr;
    return owner->findChild<QObject*>(name, Qt::FindChildrenRecursively);
}

}  // namespace ronvix::fw
