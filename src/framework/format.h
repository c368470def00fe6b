#pragma once
// Format: fills a pattern with %d, %u, %x, %X, %s and %p directives (and %%),
// as the program's message texts are written. Arguments are taken in order;
// a directive without an argument, or an argument of the wrong kind, is kept
// as written rather than read from nowhere.

#include <QString>
#include <cstdint>
#include <type_traits>
#include <variant>
#include <vector>

namespace ronvix::fw {

using FormatArg = std::variant<int64_t, uint64_t, QString, const void*>;

QString FormatArgs(const QString& pattern, const std::vector<FormatArg>& args);

template <class T>
FormatArg ToFormatArg(const T& v) {
    if constexpr (std::is_same_v<T, bool>)
        return int64_t{v};
    else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>)
        return int64_t{v};
    else if constexpr (std::is_integral_v<T>)
        return uint64_t{v};
    else if constexpr (std::is_enum_v<T>)
        return int64_t{static_cast<int64_t>(v)};
    else if constexpr (std::is_pointer_v<T> && !std::is_convertible_v<T, const char*>)
        return static_cast<const void*>(v);
    else
        return QString(v);
}

template <class... A>
QString Format(const QString& pattern, const A&... args) {
    return FormatArgs(pattern, std::vector<FormatArg>{ToFormatArg(args)...});
}

}  // namespace ronvix::fw
