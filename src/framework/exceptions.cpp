#include "framework/exceptions.h"

#include "framework/format.h"

namespace ronvix::fw {

EListError::EListError(int index)
    : Exception(Format(QStringLiteral("List index out of bounds (%d)"), index)) {}

EConvertError::EConvertError(const QString& from_class, const QString& to_class)
    : Exception(Format(QStringLiteral("Cannot assign a %s to a %s"), from_class, to_class)) {}

}  // namespace ronvix::fw
