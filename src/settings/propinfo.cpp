#include "settings/propinfo.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QColor>
#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>
#include <QTabWidget>
#include <algorithm>
#include <bit>
#include <limits>
#include <mutex>

#include "framework/component.h"

namespace ronvix::settings {

int CompareText(const QString& a, const QString& b) {
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        char16_t x = a[i].unicode();
        char16_t y = b[i].unicode();
        if (x >= u'a' && x <= u'z')
            x = static_cast<char16_t>(x - 32);
        if (y >= u'a' && y <= u'z')
            y = static_cast<char16_t>(y - 32);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

namespace {

struct Alias {
    QString alias;
    QByteArray qt_name;
};

// The alias table, per class. Built-in entries name the controls the
// program keeps in its settings file.
class AliasRegistry {
public:
    AliasRegistry() {
        Add(&QComboBox::staticMetaObject, QStringLiteral("ItemIndex"), "currentIndex");
        Add(&QComboBox::staticMetaObject, QStringLiteral("Text"), "currentText");
        Add(&QAbstractButton::staticMetaObject, QStringLiteral("Checked"), "checked");
        Add(&QAbstractButton::staticMetaObject, QStringLiteral("Caption"), "text");
        Add(&QLineEdit::staticMetaObject, QStringLiteral("Text"), "text");
        Add(&QLabel::staticMetaObject, QStringLiteral("Caption"), "text");
        Add(&QAbstractSlider::staticMetaObject, QStringLiteral("Position"), "value");
        Add(&QAbstractSlider::staticMetaObject, QStringLiteral("Min"), "minimum");
        Add(&QAbstractSlider::staticMetaObject, QStringLiteral("Max"), "maximum");
        Add(&QTabWidget::staticMetaObject, QStringLiteral("ActivePageIndex"), "currentIndex");
        Add(&QWidget::staticMetaObject, QStringLiteral("Enabled"), "enabled");
        Add(&QWidget::staticMetaObject, QStringLiteral("Visible"), "visible");
        Add(&QWidget::staticMetaObject, QStringLiteral("Hint"), "toolTip");
    }

    void Add(const QMetaObject* cls, const QString& alias, const char* qt_name) {
        std::lock_guard lock(m_mutex);
        QList<Alias>& list = m_aliases[cls];
        for (Alias& a : list)
            if (SameText(a.alias, alias)) {
                a = {alias, qt_name};
                return;
            }
        list.push_back({alias, qt_name});
    }

    // The aliases that apply to `cls`, most derived class first.
    QList<Alias> For(const QMetaObject* cls) {
        std::lock_guard lock(m_mutex);
        QList<Alias> out;
        for (const QMetaObject* m = cls; m; m = m->superClass()) {
            auto it = m_aliases.constFind(m);
            if (it == m_aliases.constEnd())
                continue;
            for (const Alias& a : *it)
                if (std::none_of(out.begin(), out.end(),
                                 [&](const Alias& o) { return SameText(o.alias, a.alias); }))
                    out.push_back(a);
        }
        return out;
    }

private:
    std::mutex m_mutex;
    QHash<const QMetaObject*, QList<Alias>> m_aliases;
};

AliasRegistry& Aliases() {
    static AliasRegistry registry;
    return registry;
}

bool InheritsComponent(const QMetaObject* mo) {
    return mo && (mo->inherits(&fw::TComponent::staticMetaObject) ||
                  mo->inherits(&QWidget::staticMetaObject));
}

// The kind of a Q_PROPERTY, or nothing for a type that is not kept.
std::optional<TPropInfo> Describe(const QMetaProperty& p, const QString& name) {
    TPropInfo info;
    info.name = name;
    info.property = p;
    const QMetaType type = p.metaType();
    if (p.isFlagType()) {
        info.kind = TPropKind::pkSet;
    } else if (p.isEnumType()) {
        info.kind = TPropKind::pkEnumeration;
    } else {
        switch (type.id()) {
            case QMetaType::Bool:
                info.kind = TPropKind::pkEnumeration;
                break;
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::Short:
            case QMetaType::UShort:
            case QMetaType::Long:
            case QMetaType::ULong:
            case QMetaType::SChar:
            case QMetaType::UChar:
            case QMetaType::QColor:
                info.kind = TPropKind::pkInteger;
                break;
            case QMetaType::LongLong:
            case QMetaType::ULongLong:
                info.kind = TPropKind::pkInt64;
                break;
            case QMetaType::Char:
            case QMetaType::QChar:
            case QMetaType::Char16:
                info.kind = TPropKind::pkChar;
                break;
            case QMetaType::Float:
                info.kind = TPropKind::pkFloat;
                info.float_digits = 7;
                break;
            case QMetaType::Double:
                info.kind = TPropKind::pkFloat;
                info.float_digits = 15;
                break;
            case QMetaType::QString:
            case QMetaType::QByteArray:
                info.kind = TPropKind::pkString;
                break;
            case QMetaType::QStringList:
                info.kind = TPropKind::pkStringList;
                break;
            case QMetaType::QVariant:
                info.kind = TPropKind::pkVariant;
                break;
            default:
                if (!(type.flags() & QMetaType::PointerToQObject))
                    return std::nullopt;
                info.kind = TPropKind::pkObject;
                info.component_reference = InheritsComponent(type.metaObject());
                break;
        }
    }
    // An object is loaded in place through its pointer; every other kind
    // must take a value back.
    if (info.kind != TPropKind::pkObject && !p.isWritable())
        return std::nullopt;
    if (!p.isReadable())
        return std::nullopt;
    return info;
}

// The identifiers of a Q_ENUM, lowest value first (the order in which a
// text is matched).
QList<std::pair<int, QString>> EnumIdentifiers(const QMetaEnum& e) {
    QList<std::pair<int, QString>> out;
    for (int i = 0; i < e.keyCount(); ++i)
        out.push_back({e.value(i), QString::fromLatin1(e.key(i))});
    std::stable_sort(out.begin(), out.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
}

// The elements of a set: the Q_FLAG identifiers of single bits, by bit.
QList<std::pair<int, QString>> SetElements(const QMetaEnum& e) {
    QList<std::pair<int, QString>> out;
    for (int i = 0; i < e.keyCount(); ++i) {
        const auto v = static_cast<quint32>(e.value(i));
        if (v == 0 || (v & (v - 1)) != 0)
            continue;
        const int bit = std::countr_zero(v);
        if (std::none_of(out.begin(), out.end(), [&](const auto& o) { return o.first == bit; }))
            out.push_back({bit, QString::fromLatin1(e.key(i))});
    }
    std::sort(out.begin(), out.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
}

// An enumeration or set value as an int, whatever type the variant holds.
int OrdinalOf(const QVariant& v) {
    int out = 0;
    if (v.metaType() == QMetaType::fromType<int>())
        return v.toInt();
    if (QMetaType::convert(v.metaType(), v.constData(), QMetaType::fromType<int>(), &out))
        return out;
    // An enumeration's storage is an integer of the enum's size.
    switch (v.metaType().sizeOf()) {
        case 1:
            return *static_cast<const qint8*>(v.constData());
        case 2:
            return *static_cast<const qint16*>(v.constData());
        default:
            return *static_cast<const qint32*>(v.constData());
    }
}

// Writes an ordinal to an enumeration or set property.
bool WriteOrdinal(QObject* target, const TPropInfo& info, int value) {
    QVariant v(info.property.metaType());
    if (!QMetaType::convert(QMetaType::fromType<int>(), &value, info.property.metaType(),
                            v.data())) {
        switch (info.property.metaType().sizeOf()) {
            case 1:
                *static_cast<qint8*>(v.data()) = static_cast<qint8>(value);
                break;
            case 2:
                *static_cast<qint16*>(v.data()) = static_cast<qint16>(value);
                break;
            default:
                *static_cast<qint32*>(v.data()) = value;
                break;
        }
    }
    return info.Write(target, v);
}

}  // namespace

void RegisterPropertyAlias(const QMetaObject* cls, const QString& alias, const char* qt_name) {
    Aliases().Add(cls, alias, qt_name);
}

TPropInfoList::TPropInfoList(const QObject* object) {
    if (!object)
        return;
    const QMetaObject* mo = object->metaObject();
    for (const Alias& a : Aliases().For(mo)) {
        const int index = mo->indexOfProperty(a.qt_name.constData());
        if (index < 0)
            continue;
        if (auto info = Describe(mo->property(index), a.alias))
            m_items.push_back(*info);
    }
    // Most derived first, so a redeclared property hides its base's.
    for (int i = mo->propertyCount() - 1; i >= 0; --i) {
        const QMetaProperty p = mo->property(i);
        const QString name = QString::fromLatin1(p.name());
        if (name == QLatin1String("objectName") || Find(name))
            continue;
        if (auto info = Describe(p, name))
            m_items.push_back(*info);
    }
    std::stable_sort(m_items.begin(), m_items.end(), [](const TPropInfo& a, const TPropInfo& b) {
        return CompareText(a.name, b.name) < 0;
    });
}

const TPropInfo* TPropInfoList::Find(const QString& name) const {
    for (const TPropInfo& info : m_items)
        if (SameText(info.name, name))
            return &info;
    return nullptr;
}

QString FloatText(double value, int digits) {
    QString s = QString::number(value, 'g', digits);
    const qsizetype e = s.indexOf(u'e');
    if (e < 0)
        return s;
    QString mantissa = s.left(e);
    QString exponent = s.mid(e + 1);
    bool negative = false;
    if (!exponent.isEmpty() && (exponent[0] == u'+' || exponent[0] == u'-')) {
        negative = exponent[0] == u'-';
        exponent.remove(0, 1);
    }
    while (exponent.size() > 1 && exponent[0] == u'0')
        exponent.remove(0, 1);
    return mantissa + u'E' + (negative ? QStringLiteral("-") : QString()) + exponent;
}

QString PropertyText(const QObject* target, const TPropInfo& info) {
    const QVariant v = info.Read(target);
    switch (info.kind) {
        case TPropKind::pkInteger:
            if (v.metaType() == QMetaType::fromType<QColor>()) {
                // The platform's colour value: 0x00BBGGRR.
                const QColor c = v.value<QColor>();
                return QString::number(c.red() | (c.green() << 8) | (c.blue() << 16));
            }
            return QString::number(v.toLongLong());
        case TPropKind::pkInt64:
            if (v.metaType() == QMetaType::fromType<qulonglong>())
                return QString::number(v.toULongLong());
            return QString::number(v.toLongLong());
        case TPropKind::pkChar:
            if (v.metaType() == QMetaType::fromType<char>())
                return QString(QChar::fromLatin1(v.value<char>()));
            return QString(v.toChar());
        case TPropKind::pkEnumeration: {
            if (v.metaType() == QMetaType::fromType<bool>())
                return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
            const char* key = info.property.enumerator().valueToKey(OrdinalOf(v));
            return key ? QString::fromLatin1(key) : QString();
        }
        case TPropKind::pkSet: {
            const auto bits = static_cast<quint32>(OrdinalOf(v));
            QStringList members;
            for (const auto& [bit, name] : SetElements(info.property.enumerator()))
                if (bits & (1u << bit))
                    members.push_back(name);
            return u'[' + members.join(u',') + u']';
        }
        case TPropKind::pkFloat:
            return FloatText(v.toDouble(), info.float_digits);
        case TPropKind::pkString:
            if (v.metaType() == QMetaType::fromType<QByteArray>())
                return QString::fromUtf8(v.toByteArray());
            return v.toString();
        case TPropKind::pkVariant:
            return v.toString();
        case TPropKind::pkStringList:
        case TPropKind::pkObject:
            return {};
    }
    return {};
}

bool SetPropertyFromText(QObject* target, const TPropInfo& info, const QString& text) {
    const QMetaType type = info.property.metaType();
    switch (info.kind) {
        case TPropKind::pkInteger: {
            qint64 value = ParseInteger(text).value_or(0);
            if (type == QMetaType::fromType<QColor>()) {
                if (value < 0 || value > 0xFFFFFF)
                    return false;
                return info.Write(target, QColor(static_cast<int>(value & 0xFF),
                                                 static_cast<int>((value >> 8) & 0xFF),
                                                 static_cast<int>((value >> 16) & 0xFF)));
            }
            // A number the property's type cannot hold is not a number of
            // that type.
            const bool is_unsigned =
                type == QMetaType::fromType<uint>() || type == QMetaType::fromType<ushort>() ||
                type == QMetaType::fromType<ulong>() || type == QMetaType::fromType<uchar>();
            const qint64 lo = is_unsigned ? 0 : -(qint64(1) << (type.sizeOf() * 8 - 1));
            const qint64 hi = is_unsigned ? (qint64(1) << (type.sizeOf() * 8)) - 1
                                          : (qint64(1) << (type.sizeOf() * 8 - 1)) - 1;
            if (value < lo || value > hi)
                value = 0;
            QVariant v = QVariant::fromValue(value);
            if (!v.convert(type))
                return false;
            return info.Write(target, v);
        }
        case TPropKind::pkInt64: {
            QVariant v = QVariant::fromValue(ParseInteger(text).value_or(0));
            return v.convert(type) && info.Write(target, v);
        }
        case TPropKind::pkChar: {
            if (text.isEmpty())
                return false;
            if (type == QMetaType::fromType<char>())
                return info.Write(target, QVariant::fromValue(text[0].toLatin1()));
            QVariant v = QVariant::fromValue(text[0]);
            return v.convert(type) && info.Write(target, v);
        }
        case TPropKind::pkEnumeration: {
            if (type == QMetaType::fromType<bool>()) {
                if (SameText(text, QStringLiteral("False")))
                    return info.Write(target, false);
                if (SameText(text, QStringLiteral("True")))
                    return info.Write(target, true);
                return false;
            }
            for (const auto& [value, name] : EnumIdentifiers(info.property.enumerator()))
                if (SameText(name, text))
                    return WriteOrdinal(target, info, value);
            return false;
        }
        case TPropKind::pkSet: {
            static const QRegularExpression separators(QStringLiteral("[\\s,\\[\\]]+"));
            const auto elements = SetElements(info.property.enumerator());
            quint32 bits = 0;
            for (const QString& word : text.split(separators, Qt::SkipEmptyParts))
                for (const auto& [bit, name] : elements)
                    if (SameText(name, word)) {
                        bits |= 1u << bit;
                        break;
                    }
            return WriteOrdinal(target, info, static_cast<int>(bits));
        }
        case TPropKind::pkFloat: {
            // The file holds "." whatever the locale; the locale parses.
            const QLocale locale;
            QString local = text;
            local.replace(u'.', locale.decimalPoint());
            bool ok = false;
            const double value = locale.toDouble(local, &ok);
            if (!ok)
                return false;
            if (type == QMetaType::fromType<float>())
                return info.Write(target, static_cast<float>(value));
            return info.Write(target, value);
        }
        case TPropKind::pkString:
            if (type == QMetaType::fromType<QByteArray>())
                return info.Write(target, text.toUtf8());
            return info.Write(target, text);
        case TPropKind::pkVariant:
            return info.Write(target, QVariant(text));
        case TPropKind::pkStringList:
        case TPropKind::pkObject:
            return false;
    }
    return false;
}

void TCollection::EndUpdate() {
    if (m_update_count > 0 && --m_update_count == 0 && m_pending) {
        m_pending = false;
        emit Changed();
    }
}

void TCollection::NotifyChanged() {
    if (m_update_count > 0)
        m_pending = true;
    else
        emit Changed();
}

}  // namespace ronvix::settings
