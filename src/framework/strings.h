#pragma once
// Text at byte boundaries: strings are Unicode inside (QString) and UTF-8
// wherever the platform takes bytes.

#include <QString>
#include <string>

namespace ronvix::fw {

inline std::string Utf8(const QString& text) {
    return text.toUtf8().toStdString();
}
inline QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace ronvix::fw
