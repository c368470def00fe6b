#pragma once
// Stored property paths ("VideoFormats.ItemIndex") and the worker that
// writes them to, and reads them from, a settings section.
//
// A path names a component of a form and one of its storable properties
// (propinfo.h); its key is the component's current name, "_" and the
// property name as the registry spells it ("VideoFormats_ItemIndex").
// Objects held by properties go to subsections or nested keys; see
// TPropsStorage::StoreProperty.
//
// UI thread only: the properties belong to widgets.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "settings/propinfo.h"

namespace ronvix::settings {

// Splits "Component.Property" at the first full stop, with blanks at both
// ends of each part removed. False for a path without a full stop or with an
// empty part.
bool SplitStoredPath(const QString& path, QString* component, QString* property);

// The component named `name` (without regard to case) among the descendants
// of `form`, searched in creation order, or null.
QObject* FindComponentByName(const QObject* form, const QString& name);

// One line of a stored property list: the path text and the component it
// resolved to. The link is a guarded pointer, so a destroyed component leaves
// an unlinked entry that the next resolution drops.
struct TStoredProp {
    QString path;
    QPointer<QObject> component;
};

// The ordered list of stored property paths of a form storage.
class TStoredPropList {
public:
    int Count() const { return static_cast<int>(m_items.size()); }
    const QString& Path(int i) const { return m_items[i].path; }
    QObject* Component(int i) const { return m_items[i].component; }
    QStringList Paths() const;

    void Add(const QString& path, QObject* component = nullptr);
    void SetPaths(const QStringList& paths);
    void Clear() { m_items.clear(); }
    void Delete(int i) { m_items.removeAt(i); }
    void SetPath(int i, const QString& path) { m_items[i].path = path; }
    void Link(int i, QObject* component) { m_items[i].component = component; }
    // Deletes every entry linked to `component`; returns how many.
    int RemoveComponent(const QObject* component);

private:
    QList<TStoredProp> m_items;
};

// With `resolve` set, links every entry to the form's component of that
// name; otherwise rewrites every linked entry as the component's current
// name, "." and the property name. Either way, entries that are malformed,
// name no component of the form, or have no link are deleted. Visits the
// entries from the last to the first.
void ResolveStoredProps(const QObject* form, TStoredPropList& entries, bool resolve);

// Writes and reads properties of one target through three file operations.
// A storage is made for one operation and discarded after it.
//
// Storing: a failure of the writer propagates and ends the operation.
// Loading: every failure while loading one property (a setter that throws or
// rejects the value, a text that is not a number) is swallowed and leaves
// that property as it was.
class TPropsStorage {
public:
    using Reader =
        std::function<QString(const QString& section, const QString& key, const QString& def)>;
    using Writer =
        std::function<void(const QString& section, const QString& key, const QString& text)>;
    using Eraser = std::function<void(const QString& section)>;

    // Subsection item counts above this are taken as this: a damaged or
    // hostile settings file must not make a restore read or add items
    // without end.
    static constexpr int kMaxSubsectionItems = 10000;

    TPropsStorage() = default;
    virtual ~TPropsStorage() = default;
    TPropsStorage(const TPropsStorage&) = delete;
    TPropsStorage& operator=(const TPropsStorage&) = delete;

    QObject* Target() const { return m_target; }
    void SetTarget(QObject* target) { m_target = target; }
    const QString& Prefix() const { return m_prefix; }
    void SetPrefix(const QString& prefix) { m_prefix = prefix; }
    const QString& Section() const { return m_section; }
    void SetSection(const QString& section) { m_section = section; }
    // The form references are resolved against, set during a list operation.
    QObject* Form() const { return m_form; }

    Reader OnReadString;
    Writer OnWriteString;
    Eraser OnEraseSection;

    // The file operations; empty text or nothing when unset.
    virtual QString ReadValue(const QString& section, const QString& key, const QString& def);
    virtual void WriteValue(const QString& section, const QString& key, const QString& text);
    virtual void EraseSubsection(const QString& section);
    // The key of a property of the target: Prefix followed by the name.
    virtual QString KeyFor(const QString& name) const { return m_prefix + name; }
    // A new empty storage of the same class for a nested object.
    virtual std::unique_ptr<TPropsStorage> CreateNested() const;

    // Write or read every entry of a form's list (after resolving it with
    // the flag clear). Entries naming a property the component lacks are
    // skipped.
    void StorePropertyList(QObject* form, TStoredPropList& entries);
    void LoadPropertyList(QObject* form, TStoredPropList& entries);

    // One property of Target; null is skipped.
    void StoreProperty(const TPropInfo* info);
    void LoadProperty(const TPropInfo* info);
    // Every storable property of Target.
    void StoreAllProperties();
    void LoadAllProperties();

private:
    void StoreObject(const TPropInfo& info);
    void LoadObject(const TPropInfo& info);
    void StoreStringList(const TPropInfo& info);
    void LoadStringList(const TPropInfo& info);
    void StoreReference(const TPropInfo& info);
    void LoadReference(const TPropInfo& info);
    // A nested storage sharing this one's file operations and form.
    std::unique_ptr<TPropsStorage> Nested(QObject* target, const QString& section,
                                          const QString& prefix) const;

    QObject* m_target = nullptr;
    QObject* m_form = nullptr;
    QString m_prefix;
    QString m_section;
    // Nesting depth, so objects that refer to each other cannot recurse
    // without end.
    int m_depth = 0;
};

}  // namespace ronvix::settings
