#pragma once
// Mapping the program's Windows-style file names to Linux paths. Every file
// operation of the platform maps its name first.
//
// "X:..." names a drive. Drive C: is $RONVIX_DRIVE_C, or the user's videos
// folder when that is unset; another drive X: is $RONVIX_DRIVE_X or does not
// exist. Backslashes become "/", and the rest of the name is taken as a path
// from the drive's root, as the platform does: "." parts vanish and ".."
// never climbs above the drive's root, so no drive name reaches outside its
// folder. Names without a drive (POSIX paths, bare names) pass unchanged.

#include <optional>
#include <string>
#include <string_view>

namespace ronvix::win {

// True when `name` starts with a drive letter and ":".
bool HasDrive(std::string_view name);

// The folder drive `letter` maps to; nothing for an unmapped drive.
std::optional<std::string> DriveFolder(char letter);

// The user's videos folder: XDG_VIDEOS_DIR from the user-dirs file, else
// ~/Videos.
std::string VideosFolder();

// The Linux path for `name`; nothing when it names an unmapped drive.
std::optional<std::string> MapPath(std::string_view name);

// As MapPath, for a file about to be written: the videos folder that stands
// for drive C: is created when it does not exist yet.
std::optional<std::string> MapPathForWriting(std::string_view name);

// True when the character separates folders in a name ("/" and "\").
constexpr bool IsPathDelimiter(char c) {
    return c == '/' || c == '\\';
}

}  // namespace ronvix::win
