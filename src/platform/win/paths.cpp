#include "platform/win/paths.h"

#include <QDir>
#include <QStandardPaths>
#include <cstdlib>
#include <vector>

namespace ronvix::win {

namespace {

std::optional<std::string> Env(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    if (!v || !*v)
        return std::nullopt;
    return std::string(v);
}

// Joins the parts of `rest` below `root`, dropping "." and empty parts and
// letting ".." remove only parts that `rest` itself added.
std::string JoinBelow(std::string root, std::string_view rest) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = start;
        while (end < rest.size() && !IsPathDelimiter(rest[end]))
            ++end;
        std::string_view part = rest.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    for (auto part : parts) {
        if (root.empty() || root.back() != '/')
            root += '/';
        root += part;
    }
    // A name that ends in a delimiter names a folder; keep that visible.
    if (!rest.empty() && IsPathDelimiter(rest.back()) && root.back() != '/')
        root += '/';
    return root;
}

}  // namespace

bool HasDrive(std::string_view name) {
    return name.size() >= 2 && name[1] == ':' &&
           ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

std::string VideosFolder() {
    QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (videos.isEmpty())
        videos = QDir::homePath() + QStringLiteral("/Videos");
    return videos.toStdString();
}

std::optional<std::string> DriveFolder(char letter) {
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z')
        return std::nullopt;
    if (auto folder = Env(std::string("RONVIX_DRIVE_") + letter))
        return folder;
    if (letter == 'C')
        return VideosFolder();
    return std::nullopt;
}

std::optional<std::string> MapPath(std::string_view name) {
    if (!HasDrive(name))
        return std::string(name);
    auto root = DriveFolder(name[0]);
    if (!root)
        return std::nullopt;
    return JoinBelow(*root, name.substr(2));
}

std::optional<std::string> MapPathForWriting(std::string_view name) {
    auto path = MapPath(name);
    if (path && HasDrive(name) && (name[0] == 'c' || name[0] == 'C') && !Env("RONVIX_DRIVE_C"))
        QDir().mkpath(QString::fromStdString(VideosFolder()));
    return path;
}

}  // namespace ronvix::win
