#pragma once
// AVI files for playback tests, made by ffmpeg (a reader and writer nobody
// here wrote), and the per-frame checksums ffmpeg reads back from a file.
// Header only, so the device tests include it too.

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include "platform/media/container/avi_probe.h"

namespace ronvix::media::test {

// `seconds` of a moving test picture as MJPG at `fps`, with 16-bit stereo
// PCM at 48 kHz unless `audio` is false. False when ffmpeg failed.
inline bool MakeAvi(const QString& path, double seconds, int fps = 25, bool audio = true,
                    const QString& size = "320x240") {
    QStringList args{"-v",
                     "error",
                     "-y",
                     "-f",
                     "lavfi",
                     "-i",
                     QString("testsrc=size=%1:rate=%2").arg(size).arg(fps)};
    if (audio)
        args << "-f"
             << "lavfi"
             << "-i"
             << "sine=frequency=1000:sample_rate=48000";
    args << "-t" << QString::number(seconds) << "-c:v"
         << "mjpeg"
         << "-q:v"
         << "5";
    if (audio)
        args << "-c:a"
             << "pcm_s16le"
             << "-ac"
             << "2";
    args << path;
    return RunTool("ffmpeg", args).has_value();
}

// The MD5 (hex) of each packet of one stream of the file ("v" or "a"), in
// order, as ffmpeg's demuxer reads them.
inline std::optional<std::vector<QByteArray>> PacketDigests(const QString& path,
                                                            const QString& stream = "v") {
    const auto out = RunTool("ffmpeg", {"-v", "error", "-i", path, "-map", "0:" + stream + ":0",
                                        "-c", "copy", "-f", "framemd5", "-"});
    if (!out)
        return std::nullopt;
    std::vector<QByteArray> digests;
    for (const QByteArray& line : out->split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() >= 6)
            digests.push_back(fields.last().trimmed());
    }
    return digests;
}

inline QByteArray Md5Hex(const std::vector<uint8_t>& data) {
    return QCryptographicHash::hash(
               QByteArrayView(reinterpret_cast<const char*>(data.data()), qsizetype(data.size())),
               QCryptographicHash::Md5)
        .toHex();
}

}  // namespace ronvix::media::test
