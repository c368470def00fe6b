#include "platform/win/files.h"

#include <sys/stat.h>

namespace ronvix::win {

bool FileExists(const QString& name) {
    if (name.isEmpty()) return false;
    // FIXME: map drive-letter names through the path mapping once it exists.
    struct stat st {};
    const QByteArray path = name.toUtf8();
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace ronvix::win
