#pragma once
// The registry of storable properties and the text of their values.
//
// A class's storable properties are its Q_PROPERTYs, plus aliases that give
// a Qt property the name the program stores it under ("ItemIndex" of a combo
// box is QComboBox::currentIndex). An alias hides a Qt property whose name
// equals it without regard to case, so a list never holds two names that a
// lookup cannot tell apart. Reading and writing go through QMetaProperty, so
// a setter behaves exactly like an assignment in code, notifications
// included, and a setter that throws leaves the exception to the caller.
//
// UI thread only (the properties belong to widgets); the alias registry may
// be extended from any thread before the first lookup.

#include <QList>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

#include "settings/values.h"

namespace ronvix::settings {

// ASCII-only case-insensitive comparison (letters A to Z), the rule for
// property, component and key names.
int CompareText(const QString& a, const QString& b);
inline bool SameText(const QString& a, const QString& b) {
    return CompareText(a, b) == 0;
}

// How a property's value is kept.
enum class TPropKind {
    pkInteger,      // int types and colours: decimal text
    pkInt64,        // 64-bit integers: decimal text
    pkChar,         // one character
    pkEnumeration,  // identifier of a Q_ENUM value, or "True"/"False"
    pkSet,          // "[a,b]" over a Q_FLAG's single-bit identifiers
    pkFloat,        // general format, "." as separator
    pkString,       // the text itself
    pkVariant,      // the value converted to text
    pkStringList,   // lines in a subsection (a QStringList property)
    pkObject,       // a QObject pointer: reference, collection or nested object
};

// One storable property of a class.
struct TPropInfo {
    QString name;  // as the registry spells it (the alias when there is one)
    TPropKind kind = TPropKind::pkInteger;
    QMetaProperty property;
    int float_digits = 15;  // significant digits of a floating-point kind
    // For pkObject: the pointer refers to a component (a TComponent or a
    // widget) owned elsewhere, rather than an object the target owns.
    bool component_reference = false;

    QVariant Read(const QObject* target) const { return property.read(target); }
    // False when the property cannot take the value.
    bool Write(QObject* target, const QVariant& value) const {
        return property.write(target, value);
    }
};

// The storable properties of one object, sorted by name without regard to
// case. Events are not properties here (they are std::function members), so
// every Q_PROPERTY of a kept kind is listed except objectName (the component
// name, kept by the form, not by the settings file). A property must be
// writable, except an object pointer, whose object is loaded in place.
class TPropInfoList {
public:
    explicit TPropInfoList(const QObject* object);

    int Count() const { return static_cast<int>(m_items.size()); }
    const TPropInfo& Item(int i) const { return m_items[i]; }
    // The property of that name without regard to case, or null.
    const TPropInfo* Find(const QString& name) const;

private:
    QList<TPropInfo> m_items;
};

// Gives `qt_name`, a Q_PROPERTY of `cls` (or of a base class), the stored
// name `alias` for `cls` and its subclasses. A subclass's alias wins over a
// base class's alias of the same name. The built-in aliases cover the
// controls the program stores (see propinfo.cpp).
void RegisterPropertyAlias(const QMetaObject* cls, const QString& alias, const char* qt_name);

// The value texts of the kinds (object kinds excepted). A text is what the
// settings file holds, before blanks at both ends are removed.
//
// PropertyText gives the current value's text; an enumeration value without
// identifier gives an empty text.
QString PropertyText(const QObject* target, const TPropInfo& info);
// Sets the property from a text (already trimmed). Returns false and leaves
// the property unchanged when the kind's rules say so (an unknown
// identifier, an empty character, an unparsable float) or the setter
// rejects the value. Exceptions of the setter propagate.
bool SetPropertyFromText(QObject* target, const TPropInfo& info, const QString& text);

// The floating-point text: general format with `digits` significant digits,
// "." as separator, an exponent as "E" and its digits without "+" or leading
// zeros ("1E20", "1.5E-7").
QString FloatText(double value, int digits);

// An ordered, owning list of QObject items kept in a settings subsection.
// Subclasses make the items; loading calls BeginUpdate/EndUpdate around its
// changes so listeners hear one notification.
class TCollection : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual int Count() const = 0;
    virtual QObject* Item(int index) const = 0;
    virtual QObject* Add() = 0;
    virtual void Clear() = 0;
    void BeginUpdate() { ++m_update_count; }
    void EndUpdate();
    bool Updating() const { return m_update_count > 0; }

signals:
    // The collection's items or their number changed (once per update).
    void Changed();

protected:
    // Subclasses call this after each change.
    void NotifyChanged();

private:
    int m_update_count = 0;
    bool m_pending = false;
};

}  // namespace ronvix::settings
