#pragma once
// File functions of the platform. Every name is a user-visible name that the
// platform maps before use.

#include <QString>

namespace ronvix::win {

// True for an existing regular file only, never for a folder.
bool FileExists(const QString& name);

}  // namespace ronvix::win
