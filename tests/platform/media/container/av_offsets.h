#pragma once
// Sound against picture in a finished capture file, measured from the file
// alone with ffprobe and ffmpeg. The test devices mark each whole second of
// the true clock at once on both streams, like a clapper: the camera draws
// a white border on the frame that holds it (the sync test devices make the
// whole frame white), the sound carries a loud 3 kHz burst from it on. So
// at every second the burst's start, in the file's audio, is read against
// the start of the white frame's place in the file's video.
//
// A perfect file shows each burst between its white frame's start and its
// end: an offset of 0 to 1 frame periods.

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/media/container/avi_probe.h"

namespace ronvix::media::test {

struct AvOffsets {
    double frame_rate = 0;         // The video's, as its header says.
    long places = 0;               // The header's video frame count.
    long frames = 0;               // Video frames (non-empty places).
    std::vector<int64_t> white;    // Places of the white frames.
    std::vector<double> bursts_s;  // Starts of the bursts, file time.
    std::vector<double> offsets;   // Burst start minus its white frame's
                                   // start, in frame periods, per pair.
    int lone_bursts = 0;           // Bursts with no white frame near.
    int lone_whites = 0;           // White frames with no burst near.

    bool AllWithin(double low, double high) const {
        for (double o : offsets)
            if (o < low || o > high)
                return false;
        return true;
    }
    double Lowest() const {
        double v = 1e9;
        for (double o : offsets)
            v = std::min(v, o);
        return v;
    }
    double Highest() const {
        double v = -1e9;
        for (double o : offsets)
            v = std::max(v, o);
        return v;
    }
};

namespace av_offsets_detail {

inline double Rational(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('/'));
    if (parts.size() != 2 || parts[1].toDouble() == 0)
        return text.toDouble();
    return parts[0].toDouble() / parts[1].toDouble();
}

}  // namespace av_offsets_detail

// Reads `path` (its first video and first audio stream). Nothing when a tool
// fails or the file lacks either stream.
inline std::optional<AvOffsets> MeasureAvOffsets(const QString& path) {
    const auto streams = ProbeStreams(path);
    if (!streams)
        return std::nullopt;
    AvOffsets r;
    int sample_rate = 0;
    for (const ProbedStream& s : *streams) {
        if (s.type == QLatin1String("video") && r.frame_rate == 0) {
            r.frame_rate = av_offsets_detail::Rational(s.frame_rate);
            r.places = s.frames;
        } else if (s.type == QLatin1String("audio") && sample_rate == 0) {
            sample_rate = s.sample_rate;
        }
    }
    if (r.frame_rate <= 0 || sample_rate <= 0)
        return std::nullopt;

    // The places of the frames (packet times count the empty places), and
    // each frame's brightness along its top edge, in the same order.
    const auto packets =
        RunTool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                            "packet=pts,size", "-of", "csv=p=0", path});
    const auto tops = RunTool("ffmpeg", {"-v", "error", "-i", path, "-map", "0:v:0", "-vf",
                                         "crop=iw:4:0:0,scale=8:1,format=gray", "-fps_mode",
                                         "passthrough", "-f", "rawvideo", "-"});
    const auto sound = RunTool("ffmpeg", {"-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1",
                                          "-f", "s16le", "-acodec", "pcm_s16le", "-"});
    if (!packets || !tops || !sound)
        return std::nullopt;
    std::vector<int64_t> places;
    for (const QByteArray& line : packets->split('\n')) {
        const QList<QByteArray> f = line.trimmed().split(',');
        if (f.size() >= 2 && f[1].toLong() > 0)
            places.push_back(f[0].toLongLong());
    }
    r.frames = long(places.size());
    if (size_t(tops->size()) != places.size() * 8)
        return std::nullopt;  // A frame that did not decode.
    for (size_t i = 0; i < places.size(); ++i) {
        int sum = 0;
        for (int x = 0; x < 8; ++x)
            sum += uint8_t((*tops)[qsizetype(i * 8 + size_t(x))]);
        if (sum / 8 > 180)
            r.white.push_back(places[i]);
    }

    // A burst starts at a loud sample after a tenth of a second of sound
    // below the burst's level.
    const size_t count = size_t(sound->size()) / 2;
    const int16_t* samples = reinterpret_cast<const int16_t*>(sound->constData());
    constexpr int kLoud = int(0.65 * 32767);
    const size_t quiet_needed = size_t(sample_rate) / 10;
    size_t quiet = quiet_needed;  // The file's start counts as quiet.
    for (size_t i = 0; i < count; ++i) {
        if (std::abs(int(samples[i])) >= kLoud) {
            if (quiet >= quiet_needed)
                r.bursts_s.push_back(double(i) / double(sample_rate));
            quiet = 0;
        } else {
            ++quiet;
        }
    }

    // Each burst against the nearest white frame, within two frames.
    const double period_s = 1.0 / r.frame_rate;
    std::vector<bool> used(r.white.size(), false);
    for (double b : r.bursts_s) {
        size_t best = r.white.size();
        double best_distance = 2.0;
        for (size_t w = 0; w < r.white.size(); ++w) {
            const double d = std::fabs(b / period_s - double(r.white[w]) - 0.5);
            if (d < best_distance) {
                best_distance = d;
                best = w;
            }
        }
        if (best == r.white.size()) {
            ++r.lone_bursts;
            continue;
        }
        used[best] = true;
        r.offsets.push_back(b / period_s - double(r.white[best]));
    }
    for (bool u : used)
        r.lone_whites += !u;
    return r;
}

}  // namespace ronvix::media::test
