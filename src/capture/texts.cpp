// The capture page's text rules.

#include "capture/session.h"

#include <QStringList>
#include <algorithm>

namespace ronvix::capture {

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

}  // namespace ronvix::capture
