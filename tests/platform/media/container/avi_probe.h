#pragma once
// Reading the AVI files the engine writes with ffprobe and ffmpeg: readers
// nobody here wrote, run as separate programs. Header only, so the tests of
// other engine folders include it too.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ronvix::media::test {

// Standard output of `program args`, or nothing when it could not be
// started, ran past `timeout_ms`, or exited with an error. Standard input is
// /dev/null; standard error goes to `errors` when given.
//
// The tool is started with posix_spawnp, not QProcess: Qt 6.4's QProcess
// starts a child with clone(CLONE_VM | CLONE_VFORK), and ThreadSanitizer's
// clone interceptor then runs its child-side fork handling on the parent's
// own memory. From then on it has lost the synchronisation the process did
// before, and it reports races on data that is correctly locked, in every
// later test of the same process. posix_spawn needs nothing of the
// sanitizer in the child.
inline std::optional<QByteArray> RunTool(const QString& program, const QStringList& args,
                                         QByteArray* errors = nullptr, int timeout_ms = 300000) {
    std::vector<std::string> words{program.toStdString()};
    for (const QString& a : args)
        words.push_back(a.toStdString());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    int out[2] = {-1, -1}, err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0)
        return std::nullopt;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);

    // Both pipes are drained together, so a tool that fills one while we
    // wait on the other cannot stall.
    QByteArray output, error_output;
    bool timed_out = false;
    if (spawned == 0) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        QByteArray* sinks[2] = {&output, &error_output};
        while (fds[0].fd >= 0 || fds[1].fd >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                timed_out = true;
                break;
            }
            const int ready = ::poll(fds, 2, int(std::min<int64_t>(left.count(), 1000)));
            if (ready < 0 && errno != EINTR)
                break;
            for (int i = 0; i < 2 && ready > 0; ++i) {
                if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                char buffer[65536];
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    sinks[i]->append(buffer, qsizetype(n));
                } else if (n == 0 || errno != EINTR) {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                }
            }
        }
        for (pollfd& f : fds)
            if (f.fd >= 0)
                ::close(f.fd);
    } else {
        ::close(out[0]);
        ::close(err[0]);
        return std::nullopt;
    }
    if (timed_out)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (errors)
        *errors = error_output;
    if (timed_out || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return output;
}

struct ProbedStream {
    QString type;  // "video" or "audio"
    QString codec;
    int width = 0;
    int height = 0;
    int sample_rate = 0;
    int channels = 0;
    QString frame_rate;      // "25/1"
    QString display_aspect;  // "4:3"; empty when the file tells none
    double duration_s = 0;
    long frames = -1;  // As the header says.
};

inline std::optional<std::vector<ProbedStream>> ProbeStreams(const QString& path) {
    const auto out =
        RunTool("ffprobe", {"-v", "error", "-show_entries",
                            "stream=codec_type,codec_name,width,height,sample_rate,"
                            "channels,r_frame_rate,duration,nb_frames,display_aspect_ratio",
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
        s.display_aspect = o["display_aspect_ratio"].toString();
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

// What readers that share none of the program's code make of a file: the
// header's video frame count and the video packets ffprobe reads (it also
// reads on past the indexes), MediaInfo's frame count, the pictures
// GStreamer's AVI demuxer delivers (it passes over empty places), and
// whether a picture decodes one second before the end (the index reaches
// it).
struct OtherReaders {
    long header = -1;
    long packets = -1;
    long mediainfo = -1;
    long gstreamer = -1;
    double duration = 0;
    bool seek_to_end = false;
};

inline OtherReaders ReadWithOtherReaders(const QString& path) {
    OtherReaders r;
    if (const auto streams = ProbeStreams(path); streams && !streams->empty()) {
        r.header = (*streams)[0].frames;
        r.duration = (*streams)[0].duration_s;
    }
    r.packets = CountPackets(path, "v:0");
    if (const auto out = RunTool("mediainfo", {"--Inform=Video;%FrameCount%", path}))
        r.mediainfo = out->trimmed().toLong();
    if (const auto out =
            RunTool("gst-launch-1.0", {"-v", "filesrc", "location=" + path, "!", "avidemux",
                                       "name=d", "d.video_0", "!", "fakesink", "silent=false"}))
        r.gstreamer = long(out->count("chain   ******* (fakesink0:sink)"));
    const QString at = QString::number(std::max(0.0, r.duration - 1.0), 'f', 3);
    if (const auto out = RunTool("ffmpeg", {"-v", "error", "-ss", at, "-i", path, "-map", "0:v:0",
                                            "-frames:v", "1", "-f", "framecrc", "-"}))
        r.seek_to_end = out->contains("0,");
    return r;
}

}  // namespace ronvix::media::test
