#pragma once
// Reading the AVI files the engine writes with ffprobe and ffmpeg: readers
// nobody here wrote, run as separate programs. Header only, so the tests of
// other engine folders include it too.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ronvix::media::test {

// Standard output of `program args`, or nothing when it failed to run or
// exited with an error.
inline std::optional<QByteArray> RunTool(const QString& program, const QStringList& args,
                                         QByteArray* errors = nullptr) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(10000) || !process.waitForFinished(300000))
        return std::nullopt;
    if (errors)
        *errors = process.readAllStandardError();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

struct ProbedStream {
    QString type;  // "video" or "audio"
    QString codec;
    int width = 0;
    int height = 0;
    int sample_rate = 0;
    int channels = 0;
    QString frame_rate;  // "25/1"
    double duration_s = 0;
    long frames = -1;  // As the header says.
};

inline std::optional<std::vector<ProbedStream>> ProbeStreams(const QString& path) {
    const auto out = RunTool("ffprobe", {"-v", "error", "-show_entries",
                                         "stream=codec_type,codec_name,width,height,sample_rate,"
                                         "channels,r_frame_rate,duration,nb_frames",
                                         "-of", "json", path});
    if (!out)
        return std::nullopt;
    std::vector<ProbedStream> streams;
    for (const QJsonValue& v : QJsonDocument::fromJson(*out).object()["streams"].toArray()) {
        const QJsonObject o = v.toObject();
        ProbedStream s;
        s.type = o["codec_type"].toString();
        s.codec = o["codec_name"].toString();
        s.width = o["width"].toInt();
        s.height = o["height"].toInt();
        s.sample_rate = o["sample_rate"].toString().toInt();
        s.channels = o["channels"].toInt();
        s.frame_rate = o["r_frame_rate"].toString();
        s.duration_s = o["duration"].toString().toDouble();
        s.frames = o["nb_frames"].toString("-1").toLong();
        streams.push_back(s);
    }
    return streams;
}

// The packets of a file in file order, as the demuxer reads them.
struct ProbedPacket {
    int stream = 0;
    int64_t pts = 0;  // In the stream's time base.
    int64_t pos = 0;  // Byte position in the file.
    int size = 0;
};

inline std::optional<std::vector<ProbedPacket>> ProbePackets(const QString& path) {
    const auto out =
        RunTool("ffprobe", {"-v", "error", "-show_entries", "packet=stream_index,pts,pos,size",
                            "-of", "csv=p=0", path});
    if (!out)
        return std::nullopt;
    std::vector<ProbedPacket> packets;
    for (const QByteArray& line : out->split('\n')) {
        const QList<QByteArray> f = line.trimmed().split(',');
        if (f.size() < 4)
            continue;
        packets.push_back({f[0].toInt(), f[1].toLongLong(), f[3].toLongLong(), f[2].toInt()});
    }
    return packets;
}

// Per packet: stream, presentation time in the stream's time base, size and
// the Adler-32 of the payload, from ffmpeg's frame checksum output.
struct PacketChecksum {
    int stream = 0;
    int64_t pts = 0;
    int size = 0;
    uint32_t adler = 0;
};

inline std::optional<std::vector<PacketChecksum>> PacketChecksums(const QString& path) {
    const auto out = RunTool(
        "ffmpeg", {"-v", "error", "-i", path, "-map", "0", "-c", "copy", "-f", "framecrc", "-"});
    if (!out)
        return std::nullopt;
    std::vector<PacketChecksum> packets;
    for (const QByteArray& line : out->split('\n')) {
        if (line.startsWith('#'))
            continue;
        const QList<QByteArray> f = line.trimmed().split(',');
        if (f.size() < 6)
            continue;
        bool ok = false;
        const uint32_t adler = f[5].trimmed().mid(2).toUInt(&ok, 16);
        packets.push_back(
            {f[0].toInt(), f[2].trimmed().toLongLong(), f[4].trimmed().toInt(), ok ? adler : 0});
    }
    return packets;
}

// How many packets of stream `selector` ("v:0") the demuxer reads.
inline long CountPackets(const QString& path, const QString& selector) {
    const auto out =
        RunTool("ffprobe", {"-v", "error", "-count_packets", "-select_streams", selector,
                            "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", path});
    return out ? out->trimmed().toLong() : -1;
}

}  // namespace ronvix::media::test
