// The capture page's text rules.

#include "workflow/capture_texts.h"

#include <QFileInfo>
#include <QStringList>
#include <algorithm>

#include "framework/strings.h"
#include "mediagraph/graph_util.h"
#include "platform/win/files.h"
#include "platform/win/paths.h"

namespace ronvix::workflow {

namespace {
QString TwoDigits(int value) {
    return value < 10 ? QStringLiteral("0") + QString::number(value) : QString::number(value);
}
}  // namespace

QString FolderPart(const QString& name) {
    for (qsizetype i = name.size() - 1; i >= 0; --i) {
        const QChar c = name[i];
        if (c == u':' || c == u'\\' || c == u'/')
            return name.left(i + 1);
    }
    return {};
}

QString GeneratedFileName(const QString& current, const win::SYSTEMTIME& now) {
    const QStringList parts = {TwoDigits(now.wDay),    TwoDigits(now.wMonth),
                               TwoDigits(now.wYear),   TwoDigits(now.wHour),
                               TwoDigits(now.wMinute), TwoDigits(now.wSecond)};
    return FolderPart(current) + parts.join(u'_') + QStringLiteral(".avi");
}

QString CaptureFolder(const QString& file_name) {
    // A name has a folder when it names a drive or contains a delimiter; a
    // bare name is written in the current folder, so that volume is the one
    // that fills up.
    const QString folder = FolderPart(file_name);
    return folder.isEmpty() ? QStringLiteral(".") : folder;
}

QString ElapsedText(int64_t position_100ns) {
    const int64_t ms = position_100ns / 10000;
    int64_t of_day = (ms / 1000) % 86400;
    if (of_day < 0)
        of_day += 86400;
    const auto h = static_cast<int>(of_day / 3600);
    const auto m = static_cast<int>(of_day / 60 % 60);
    const auto s = static_cast<int>(of_day % 60);
    return QStringLiteral("%1:%2:%3")
        .arg(h, 2, 10, QChar(u'0'))
        .arg(m, 2, 10, QChar(u'0'))
        .arg(s, 2, 10, QChar(u'0'));
}

mediagraph::TVideoCompression CaptureCompression(int index) {
    switch (index) {
        case 1:
            return mediagraph::TVideoCompression::Lossless;
        case 2:
            return mediagraph::TVideoCompression::Uncompressed;
        default:
            return mediagraph::TVideoCompression::Mjpeg;
    }
}

std::optional<QString> RemainingText(uint64_t free_bytes, int64_t rate_kb,
                                     std::optional<int64_t> stop_in_s) {
    std::optional<int64_t> left = stop_in_s;
    if (left)
        left = std::max<int64_t>(*left, 0);
    if (rate_kb != 0) {
        const int64_t disk_s = static_cast<int64_t>(free_bytes / 1024) / rate_kb;
        left = left ? std::min(*left, disk_s) : disk_s;
    }
    if (!left)
        return std::nullopt;
    const int64_t seconds = *left;
    const int64_t hours = seconds / 3600;
    const int64_t minutes = seconds / 60 - 60 * hours;
    const int64_t rest = seconds - 60 * minutes - 3600 * hours;
    auto two = [](int64_t v) {
        // At least two digits; a negative figure (a negative rate) keeps its
        // sign in front of its digits.
        const QString digits = QString::number(v < 0 ? -v : v).rightJustified(2, u'0');
        return v < 0 ? QStringLiteral("-") + digits : digits;
    };
    return two(hours) + u':' + two(minutes) + u':' + two(rest);
}

QString FreeSpaceText(uint64_t free_bytes) {
    return QString::number(free_bytes / 1024 / 1024) + QStringLiteral(" \u041C");
}

QString RateText(int64_t rate_kb) {
    return QString::number(rate_kb) + QStringLiteral(" \u041A/sec");
}

QString NoSignalText(uint64_t quiet_ms) {
    return QStringLiteral("No signal for %1 s").arg(quiet_ms / 1000);
}

QString QualityText(int value) {
    return QString::number((static_cast<int64_t>(value) * 65 + 700) / 10) +
           QStringLiteral("0 K/sec");
}

namespace {

// What stands in the way of a file that cannot be created: the first
// missing or non-folder part of its folder, an unmapped drive, or the
// system's reason.
QString CreateProblem(const QString& name, win::DWORD error) {
    const std::string utf8 = fw::Utf8(name);
    const auto mapped = win::MapPath(utf8);
    if (!mapped)
        return QStringLiteral("drive %1: is not mapped to a folder (set RONVIX_DRIVE_%2)")
            .arg(name.left(1).toUpper(), name.left(1).toUpper());
    if (error == com::ERROR_FILE_NOT_FOUND || error == com::ERROR_PATH_NOT_FOUND) {
        // Walk up from the file's folder to the first part that exists.
        QString missing = QFileInfo(fw::FromUtf8(*mapped)).absolutePath();
        for (QString up = missing; !up.isEmpty();) {
            const QFileInfo part(up);
            if (part.exists()) {
                if (!part.isDir())
                    return QStringLiteral("%1 is a file, not a folder").arg(up);
                return QStringLiteral("the folder %1 does not exist").arg(missing);
            }
            missing = up;
            const QString parent = part.absolutePath();
            if (parent == up)
                break;
            up = parent;
        }
        return QStringLiteral("its folder does not exist");
    }
    switch (error) {
        case com::ERROR_ACCESS_DENIED:
            return QStringLiteral("access is denied");
        case com::ERROR_WRITE_PROTECT:
            return QStringLiteral("the disk is read-only");
        case com::ERROR_DISK_FULL:
        case com::ERROR_HANDLE_DISK_FULL:
            return QStringLiteral("the disk is full");
        case com::ERROR_FILENAME_EXCED_RANGE:
            return QStringLiteral("the name is too long");
        case com::ERROR_DIRECTORY:
            return QStringLiteral("that name is a folder");
        default: {
            QString reason = mediagraph::ResultText(com::HRESULT_FROM_WIN32(error));
            if (reason.endsWith(u'.'))
                reason.chop(1);
            return reason;
        }
    }
}

}  // namespace

std::optional<QString> CaptureFileProblem(const QString& name) {
    if (name.trimmed().isEmpty())
        return QStringLiteral("No capture file is named.");
    const std::string utf8 = fw::Utf8(name);
    const bool existed = win::FileExists(utf8);
    const win::HANDLE file =
        win::CreateFileA(utf8.c_str(), win::GENERIC_WRITE, win::FILE_SHARE_READ, nullptr,
                         win::OPEN_ALWAYS, win::FILE_ATTRIBUTE_NORMAL, 0);
    if (file == win::INVALID_HANDLE_VALUE) {
        const win::DWORD error = win::GetLastError();
        return QStringLiteral("The capture file %1 cannot be created: %2.")
            .arg(name, CreateProblem(name, error));
    }
    win::CloseHandle(file);
    if (!existed)
        win::DeleteFileA(utf8.c_str());
    return std::nullopt;
}

uint64_t SplitSizeBytes(int index) {
    return index > 0 && index < int(std::size(kSplitSizes)) ? kSplitSizes[index].bytes : 0;
}

}  // namespace ronvix::workflow
