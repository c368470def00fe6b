#include "settings/propsstorage.h"

#include <QApplication>
#include <QMetaObject>
#include <QWidget>
#include <algorithm>
#include <map>

namespace ronvix::settings {

namespace {

constexpr int kMaxNesting = 8;

// The object a component belongs to: the window it sits in, or, for a
// component outside any window, its topmost owner. Null without an owner.
QObject* OwnerOf(const QObject* component) {
    QObject* top = nullptr;
    for (QObject* p = component->parent(); p; p = p->parent()) {
        if (auto* w = qobject_cast<QWidget*>(p); w && w->isWindow())
            return w;
        top = p;
    }
    return top;
}

// The name an owner is referred to by: its name, or its class name without
// namespace and without a leading "T" (either case) when it has none.
QString OwnerName(const QObject* owner) {
    if (!owner->objectName().isEmpty())
        return owner->objectName();
    QString cls = QString::fromLatin1(owner->metaObject()->className());
    cls = cls.mid(cls.lastIndexOf(u':') + 1);
    if (cls.startsWith(u'T') || cls.startsWith(u't'))
        cls.remove(0, 1);
    return cls;
}

// Sets a pointer property; false when `object` is not of the property's
// class.
bool WriteReference(QObject* target, const TPropInfo& info, QObject* object) {
    const QMetaType type = info.property.metaType();
    const QMetaObject* cls = type.metaObject();
    if (object && cls && !object->metaObject()->inherits(cls))
        return false;
    // Qt requires QObject to be the first base, so the pointer is the same
    // whatever the static type.
    return info.Write(target, QVariant(type, &object));
}

int ClampCount(qint64 n) {
    return static_cast<int>(std::clamp<qint64>(n, 0, TPropsStorage::kMaxSubsectionItems));
}

}  // namespace

bool SplitStoredPath(const QString& path, QString* component, QString* property) {
    const qsizetype dot = path.indexOf(u'.');
    if (dot < 0)
        return false;
    const QString c = path.left(dot).trimmed();
    const QString p = path.mid(dot + 1).trimmed();
    if (c.isEmpty() || p.isEmpty())
        return false;
    if (component)
        *component = c;
    if (property)
        *property = p;
    return true;
}

QObject* FindComponentByName(const QObject* form, const QString& name) {
    if (!form || name.isEmpty())
        return nullptr;
    for (QObject* child : form->findChildren<QObject*>())
        if (SameText(child->objectName(), name))
            return child;
    return nullptr;
}

QStringList TStoredPropList::Paths() const {
    QStringList out;
    for (const TStoredProp& p : m_items)
        out.push_back(p.path);
    return out;
}

void TStoredPropList::Add(const QString& path, QObject* component) {
    m_items.push_back({path, component});
}

void TStoredPropList::SetPaths(const QStringList& paths) {
    m_items.clear();
    for (const QString& p : paths)
        Add(p);
}

int TStoredPropList::RemoveComponent(const QObject* component) {
    return static_cast<int>(m_items.removeIf([&](const TStoredProp& p) {
        // A destroyed component has already cleared its guarded links.
        return p.component.isNull() || p.component.data() == component;
    }));
}

void ResolveStoredProps(const QObject* form, TStoredPropList& entries, bool resolve) {
    for (int i = entries.Count() - 1; i >= 0; --i) {
        QString component;
        QString property;
        if (!SplitStoredPath(entries.Path(i), &component, &property)) {
            entries.Delete(i);
            continue;
        }
        if (resolve) {
            QObject* c = FindComponentByName(form, component);
            if (!c) {
                entries.Delete(i);
                continue;
            }
            entries.Link(i, c);
        } else {
            QObject* c = entries.Component(i);
            if (!c) {
                entries.Delete(i);
                continue;
            }
            entries.SetPath(i, c->objectName() + u'.' + property);
        }
    }
}

QString TPropsStorage::ReadValue(const QString& section, const QString& key, const QString& def) {
    return OnReadString ? OnReadString(section, key, def) : QString();
}

void TPropsStorage::WriteValue(const QString& section, const QString& key, const QString& text) {
    if (OnWriteString)
        OnWriteString(section, key, text);
}

void TPropsStorage::EraseSubsection(const QString& section) {
    if (OnEraseSection)
        OnEraseSection(section);
}

std::unique_ptr<TPropsStorage> TPropsStorage::CreateNested() const {
    return std::make_unique<TPropsStorage>();
}

std::unique_ptr<TPropsStorage> TPropsStorage::Nested(QObject* target, const QString& section,
                                                     const QString& prefix) const {
    auto nested = CreateNested();
    nested->m_target = target;
    nested->m_section = section;
    nested->m_prefix = prefix;
    nested->m_form = m_form;
    nested->m_depth = m_depth + 1;
    nested->OnReadString = OnReadString;
    nested->OnWriteString = OnWriteString;
    nested->OnEraseSection = OnEraseSection;
    return nested;
}

namespace {

// Runs a list operation over the form's entries with Form set, clearing it
// afterwards also when a step throws.
template <class Op>
void ForEachEntry(QObject* form, TStoredPropList& entries, QObject*& form_slot,
                  TPropsStorage& storage, Op op) {
    ResolveStoredProps(form, entries, false);
    std::map<const QObject*, TPropInfoList> table;
    for (int i = 0; i < entries.Count(); ++i)
        if (const QObject* c = entries.Component(i); c && !table.contains(c))
            table.emplace(c, TPropInfoList(c));
    struct Reset {
        QObject*& slot;
        ~Reset() { slot = nullptr; }
    } reset{form_slot};
    form_slot = form;
    for (int i = 0; i < entries.Count(); ++i) {
        QString component;
        QString property;
        if (!SplitStoredPath(entries.Path(i), &component, &property))
            continue;
        QObject* target = entries.Component(i);
        auto it = table.find(target);
        if (!target || it == table.end())
            continue;
        storage.SetTarget(target);
        storage.SetPrefix(target->objectName() + u'_');
        op(it->second.Find(property));
    }
}

}  // namespace

void TPropsStorage::StorePropertyList(QObject* form, TStoredPropList& entries) {
    ForEachEntry(form, entries, m_form, *this, [&](const TPropInfo* p) { StoreProperty(p); });
}

void TPropsStorage::LoadPropertyList(QObject* form, TStoredPropList& entries) {
    ForEachEntry(form, entries, m_form, *this, [&](const TPropInfo* p) { LoadProperty(p); });
}

void TPropsStorage::StoreAllProperties() {
    const TPropInfoList list(m_target);
    for (int i = 0; i < list.Count(); ++i)
        StoreProperty(&list.Item(i));
}

void TPropsStorage::LoadAllProperties() {
    const TPropInfoList list(m_target);
    for (int i = 0; i < list.Count(); ++i)
        LoadProperty(&list.Item(i));
}

void TPropsStorage::StoreProperty(const TPropInfo* info) {
    if (!info || !m_target)
        return;
    switch (info->kind) {
        case TPropKind::pkStringList:
            StoreStringList(*info);
            return;
        case TPropKind::pkObject:
            StoreObject(*info);
            return;
        default:
            break;
    }
    const QString text = PropertyText(m_target, *info).trimmed();
    if (text.isEmpty() && info->kind != TPropKind::pkString && info->kind != TPropKind::pkChar)
        return;
    WriteValue(m_section, KeyFor(info->name), text);
}

void TPropsStorage::LoadProperty(const TPropInfo* info) {
    if (!info || !m_target)
        return;
    try {
        switch (info->kind) {
            case TPropKind::pkStringList:
                LoadStringList(*info);
                return;
            case TPropKind::pkObject:
                LoadObject(*info);
                return;
            default:
                break;
        }
        const QString current = PropertyText(m_target, *info);
        QString text;
        // A variant is read even when empty: a value that was never set
        // (a new stored value) would otherwise never be restored.
        if (!current.isEmpty() || info->kind == TPropKind::pkString ||
            info->kind == TPropKind::pkChar || info->kind == TPropKind::pkVariant)
            text = ReadValue(m_section, KeyFor(info->name), current).trimmed();
        SetPropertyFromText(m_target, *info, text);
    } catch (...) {
        // A value the property rejects leaves it as it was; the other
        // properties are still restored.
    }
}

void TPropsStorage::StoreStringList(const TPropInfo& info) {
    const QString sub = m_section + u'.' + KeyFor(info.name);
    const QStringList lines = info.Read(m_target).toStringList();
    EraseSubsection(sub);
    if (lines.isEmpty())
        return;
    WriteValue(sub, QStringLiteral("Count"), QString::number(lines.size()));
    for (qsizetype i = 0; i < lines.size(); ++i)
        WriteValue(sub, QStringLiteral("Item%1").arg(i), lines[i]);
}

void TPropsStorage::LoadStringList(const TPropInfo& info) {
    const QString sub = m_section + u'.' + KeyFor(info.name);
    const int count = ClampCount(
        ParseInteger(ReadValue(sub, QStringLiteral("Count"), QStringLiteral("0")).trimmed())
            .value_or(0));
    if (count <= 0)
        return;
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines.push_back(ReadValue(sub, QStringLiteral("Item%1").arg(i), QString()));
    info.Write(m_target, lines);
}

void TPropsStorage::StoreObject(const TPropInfo& info) {
    if (info.component_reference) {
        StoreReference(info);
        return;
    }
    QObject* object = info.Read(m_target).value<QObject*>();
    if (!object || m_depth >= kMaxNesting)
        return;
    if (auto* collection = qobject_cast<TCollection*>(object)) {
        const QString sub = m_section + u'.' + KeyFor(info.name);
        EraseSubsection(sub);
        WriteValue(m_section, KeyFor(info.name) + QStringLiteral(".Count"),
                   QString::number(collection->Count()));
        for (int i = 0; i < collection->Count(); ++i)
            Nested(collection->Item(i), sub, QStringLiteral("Item%1_").arg(i))
                ->StoreAllProperties();
    }
    Nested(object, m_section, KeyFor(info.name))->StoreAllProperties();
}

void TPropsStorage::LoadObject(const TPropInfo& info) {
    if (info.component_reference) {
        LoadReference(info);
        return;
    }
    QObject* object = info.Read(m_target).value<QObject*>();
    if (!object || m_depth >= kMaxNesting)
        return;
    if (auto* collection = qobject_cast<TCollection*>(object)) {
        const QString sub = m_section + u'.' + KeyFor(info.name);
        const int current = collection->Count();
        const int count = ClampCount(
            ParseInteger(ReadValue(m_section, KeyFor(info.name) + QStringLiteral(".Count"),
                                   QString::number(current))
                             .trimmed())
                .value_or(current));
        collection->BeginUpdate();
        struct End {
            TCollection* c;
            ~End() { c->EndUpdate(); }
        } end{collection};
        if (count != current) {
            collection->Clear();
            for (int i = 0; i < count; ++i)
                collection->Add();
        }
        for (int i = 0; i < collection->Count(); ++i)
            Nested(collection->Item(i), sub, QStringLiteral("Item%1_").arg(i))->LoadAllProperties();
    }
    Nested(object, m_section, KeyFor(info.name))->LoadAllProperties();
}

void TPropsStorage::StoreReference(const TPropInfo& info) {
    const QObject* c = info.Read(m_target).value<QObject*>();
    QString text;
    if (!c) {
        text = QStringLiteral("(null)");
    } else {
        const QObject* owner = OwnerOf(c);
        text =
            !owner || owner == m_form ? c->objectName() : OwnerName(owner) + u'.' + c->objectName();
    }
    if (!text.trimmed().isEmpty())
        WriteValue(m_section, KeyFor(info.name), text.trimmed());
}

void TPropsStorage::LoadReference(const TPropInfo& info) {
    const QString text = ReadValue(m_section, KeyFor(info.name), QString()).trimmed();
    if (text.isEmpty())
        return;
    if (SameText(text, QStringLiteral("(null)"))) {
        WriteReference(m_target, info, nullptr);
        return;
    }
    QObject* owner = m_form;
    QString name = text;
    const qsizetype dot = text.indexOf(u'.');
    if (dot >= 0) {
        const QString owner_name = text.left(dot).trimmed();
        name = text.mid(dot + 1).trimmed();
        owner = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (SameText(w->objectName(), owner_name)) {
                owner = w;
                break;
            }
    }
    if (!owner)
        return;
    WriteReference(m_target, info, FindComponentByName(owner, name));
}

}  // namespace ronvix::settings
