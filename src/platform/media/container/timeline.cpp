#include "platform/media/container/timeline.h"

#include <algorithm>
#include <cmath>

namespace ronvix::media {

namespace {

constexpr double kUnitsPerSecond = 10'000'000.0;
// Past this far from their ideal places (in frames) the frames are
// corrected (half a frame, and a hair more so that frames sitting exactly
// half a frame off stay put); a correction back the other way needs the
// larger amount.
constexpr double kCorrect = 0.501;
constexpr double kCorrectBack = 0.75;
// The error filter's gains: the place error and its change per frame (an
// alpha-beta filter, which follows a steady drift without lagging it and
// keeps a quarter of the stamps' jitter).
constexpr double kAlpha = 0.1;
constexpr double kBeta = 0.005;
// A jump in a source's frame numbers beyond this is a new count, not loss.
constexpr int64_t kMaxNumberGap = 1'000'000;
// The audio clock's drift changes slowly; a change larger than this from
// one sample to the next is taken only from a sample marked as a
// discontinuity (a source that re-anchored its stamps on purpose).
constexpr REFERENCE_TIME kMaxDriftStep = 100'000;  // 10 ms
// Drift points are kept this far apart and this long.
constexpr REFERENCE_TIME kDriftPointSpacing = 1'000'000;
constexpr size_t kDriftPoints = 600;
// Beyond the newest point the drift goes on at the rate of the last stretch
// of this length.
constexpr REFERENCE_TIME kDriftSlopeSpan = 20'000'000;

}  // namespace

int CaptureTimeline::AddVideo(int64_t rate_num, int64_t rate_den) {
    Stream s;
    s.video = true;
    s.rate_num = std::max<int64_t>(rate_num, 1);
    s.rate_den = std::max<int64_t>(rate_den, 1);
    m_streams.push_back(s);
    return int(m_streams.size()) - 1;
}

int CaptureTimeline::AddAudio(int64_t sample_rate) {
    Stream s;
    s.rate_num = std::max<int64_t>(sample_rate, 1);
    m_streams.push_back(s);
    return int(m_streams.size()) - 1;
}

void CaptureTimeline::SetVideoRate(int stream, int64_t rate_num, int64_t rate_den) {
    Stream& s = m_streams.at(size_t(stream));
    if (s.video && !s.started) {
        s.rate_num = std::max<int64_t>(rate_num, 1);
        s.rate_den = std::max<int64_t>(rate_den, 1);
    }
}

void CaptureTimeline::DropPlaced(int stream) {
    Stream& s = m_streams.at(size_t(stream));
    if (s.counts.written > 0) {
        --s.counts.written;
        ++s.counts.lost;
        ++s.counts.no_room;
    }
}

MUX_STREAM_COUNTS CaptureTimeline::Counts(int stream) const {
    return m_streams.at(size_t(stream)).counts;
}

REFERENCE_TIME CaptureTimeline::DriftAt(REFERENCE_TIME at) const {
    if (m_drift.empty())
        return 0;
    if (at <= m_drift.front().stamp)
        return m_drift.front().drift;
    const auto after =
        std::upper_bound(m_drift.begin(), m_drift.end(), at,
                         [](REFERENCE_TIME t, const DriftPoint& p) { return t < p.stamp; });
    const DriftPoint* a = nullptr;
    const DriftPoint* b = nullptr;
    if (after != m_drift.end()) {
        a = &*(after - 1);
        b = &*after;
    } else {
        // Past the newest point: on along the last stretch.
        b = &m_drift.back();
        a = &m_drift.front();
        for (auto it = m_drift.rbegin(); it != m_drift.rend(); ++it)
            if (b->stamp - it->stamp >= kDriftSlopeSpan) {
                a = &*it;
                break;
            }
    }
    if (b->stamp <= a->stamp)
        return b->drift;
    const double t = double(at - a->stamp) / double(b->stamp - a->stamp);
    return a->drift + REFERENCE_TIME(std::llround(t * double(b->drift - a->drift)));
}

double CaptureTimeline::IdealPlace(const Stream& s, REFERENCE_TIME stamp) const {
    return double(stamp + DriftAt(stamp)) * double(s.rate_num) /
           (double(s.rate_den) * kUnitsPerSecond);
}

void CaptureTimeline::SetEnd(REFERENCE_TIME end) {
    m_end = std::max<REFERENCE_TIME>(end, 0);
}

int64_t CaptureTimeline::EndUnits(const Stream& s) const {
    if (m_end <= 0)
        return INT64_MAX;
    // Rounded to the nearest place or frame: 5 s at 25 frames a second is
    // 125 places, at 48 kHz 240000 frames.
    const int64_t per = s.video ? s.rate_den * 10'000'000 : 10'000'000;
    return (m_end * s.rate_num + per / 2) / per;
}

int64_t CaptureTimeline::EndPlace(int stream) const {
    return EndUnits(m_streams.at(size_t(stream)));
}

bool CaptureTimeline::EndReached() const {
    if (m_end <= 0)
        return false;
    bool any = false;
    bool all = true;
    for (const Stream& s : m_streams) {
        if (!s.started)
            continue;
        any = true;
        const int64_t end = EndUnits(s);
        const int64_t second =
            s.video ? std::max<int64_t>(1, (s.rate_num + s.rate_den - 1) / s.rate_den) : s.rate_num;
        if (s.reached >= end + second)
            return true;
        all = all && s.reached >= end;
    }
    return any && all;
}

void CaptureTimeline::CloseAtEnd(int stream) {
    Stream& s = m_streams.at(size_t(stream));
    const int64_t end = EndUnits(s);
    if (!s.video || !s.started || end == INT64_MAX || s.next >= end)
        return;
    s.counts.lost += end - s.next;
    s.next = end;
}

CaptureTimeline::VideoPlace CaptureTimeline::PlaceVideo(int stream,
                                                        std::optional<REFERENCE_TIME> stamp,
                                                        std::optional<int64_t> number,
                                                        bool allow_left_out) {
    Stream& s = m_streams.at(size_t(stream));
    const int64_t end = EndUnits(s);
    if (s.started && s.next >= end) {
        // Past the end: nothing is placed, only how far the stream came.
        VideoPlace past;
        past.past_end = true;
        const int64_t at = stamp ? std::llround(IdealPlace(s, *stamp)) : s.next++;
        s.reached = std::max(s.reached, at + 1);
        return past;
    }
    const MUX_STREAM_COUNTS before = s.counts;
    const int64_t first_free = s.next;
    VideoPlace result = PlaceVideoUncut(s, stamp, number, allow_left_out);
    if (result.left_out)
        return result;
    s.reached = std::max(s.reached, result.place + 1);
    if (result.place >= end) {
        // The frame belongs after the end: the places up to the end stay
        // empty (frames that did not come), and the frame is not counted.
        s.counts = before;
        s.counts.lost += std::max<int64_t>(0, end - first_free);
        s.next = std::max(s.next, end);
        result.past_end = true;
    }
    return result;
}

CaptureTimeline::VideoPlace CaptureTimeline::PlaceVideoUncut(Stream& s,
                                                             std::optional<REFERENCE_TIME> stamp,
                                                             std::optional<int64_t> number,
                                                             bool allow_left_out) {
    VideoPlace result;
    if (!stamp) {
        // Nothing to place it by: the next place.
        result.place = s.next++;
        s.started = true;
        ++s.counts.written;
        return result;
    }
    const double ideal = IdealPlace(s, *stamp);
    if (!s.started) {
        // A stream that starts late begins after empty places.
        s.started = true;
        result.place = std::max<int64_t>(0, std::llround(ideal));
        s.counts.inserted += result.place;
        s.error = double(result.place) - ideal;
        s.slope = 0;
        s.next = result.place + 1;
        s.last_number = number;
        ++s.counts.written;
        return result;
    }
    // Places of frames the source lost stay empty.
    int64_t lost = 0;
    if (number && s.last_number) {
        const int64_t gap = *number - *s.last_number - 1;
        lost = gap > 0 && gap < kMaxNumberGap ? gap : 0;
    } else if (!number) {
        // Without numbers, from the stamps: where the next frame belongs
        // by the filtered error, trusted as it learns from more frames
        // (one jittery stamp says little).
        const double trust = std::min(1.0, double(s.counts.written) / 8.0);
        lost = std::max<int64_t>(0, std::llround(ideal - double(s.next) + s.error * trust));
    }
    s.last_number = number;
    s.counts.lost += lost;
    int64_t candidate = s.next + lost;
    const double frames = double(lost + 1);

    const double predicted = s.error + s.slope * frames;
    const double residual = (double(candidate) - ideal) - predicted;
    s.error = predicted + kAlpha * residual;
    s.slope += kBeta * residual / frames;

    const double late = s.last_correction < 0 ? kCorrectBack : kCorrect;
    const double early = s.last_correction > 0 ? kCorrectBack : kCorrect;
    if (s.error > late && allow_left_out) {
        // The frames run ahead of the clock: this one is left out, and the
        // places of lost frames before it stay empty.
        s.error -= 1;
        s.last_correction = 1;
        s.next = candidate;
        ++s.counts.left_out;
        result.left_out = true;
        return result;
    }
    while (s.error < -early) {
        // Behind the clock: an empty place, the frame before shows twice.
        ++candidate;
        ++s.counts.inserted;
        s.error += 1;
        s.last_correction = -1;
    }
    result.place = candidate;
    s.next = candidate + 1;
    ++s.counts.written;
    return result;
}

CaptureTimeline::AudioPlace CaptureTimeline::PlaceAudio(int stream, int64_t frames,
                                                        std::optional<REFERENCE_TIME> stamp,
                                                        std::optional<int64_t> position,
                                                        bool discontinuity) {
    Stream& s = m_streams.at(size_t(stream));
    AudioPlace result;
    frames = std::max<int64_t>(frames, 0);
    const int64_t source = position.value_or(s.next_source);
    if (!s.started) {
        s.started = true;
        // The first sample goes where its stamp says: after silence when
        // it starts late, cut where it starts before file time 0.
        const int64_t lead =
            stamp ? std::llround(double(*stamp) * double(s.rate_num) / kUnitsPerSecond) : 0;
        s.origin = source - lead;
        s.end = 0;
    }
    int64_t at = source - s.origin;
    if (discontinuity && at + frames < s.end) {
        // The source's count went back (it began a new count): it goes on
        // from the end of what was written.
        s.origin = source - s.end;
        at = s.end;
    }
    if (at > s.end) {
        result.silence = at - s.end;  // Sound the device lost.
        s.counts.silence += result.silence;
        s.end = at;
    }
    result.skip = std::clamp<int64_t>(s.end - at, 0, frames);
    result.position = s.end;
    result.frames = frames - result.skip;
    s.end += result.frames;
    s.counts.written += result.frames;
    s.next_source = source + frames;
    s.reached = std::max(s.reached, s.end);
    if (m_end > 0) {
        // The end cuts the silence and the sound at the same frame.
        const int64_t end = EndUnits(s);
        const int64_t silence_from = result.position - result.silence;
        const int64_t keep_silence = std::clamp<int64_t>(end - silence_from, 0, result.silence);
        const int64_t keep_frames = std::clamp<int64_t>(end - result.position, 0, result.frames);
        s.counts.silence -= result.silence - keep_silence;
        s.counts.written -= result.frames - keep_frames;
        result.silence = keep_silence;
        result.frames = keep_frames;
    }

    if (stamp) {
        if (m_master < 0)
            m_master = stream;
        if (m_master == stream) {
            // The file time of the sample's first frame against its stamp.
            const double file_time =
                double(at) * kUnitsPerSecond / double(std::max<int64_t>(s.rate_num, 1));
            const REFERENCE_TIME drift = REFERENCE_TIME(std::llround(file_time)) - *stamp;
            const bool plausible = m_drift.empty() || discontinuity ||
                                   std::llabs(drift - m_drift.back().drift) <= kMaxDriftStep;
            if (plausible &&
                (m_drift.empty() || *stamp >= m_drift.back().stamp + kDriftPointSpacing ||
                 discontinuity)) {
                // A jump comes at the sample that made it: the point before
                // it is moved up to just before this one, so times before
                // keep the old drift.
                if (discontinuity && !m_drift.empty() && m_drift.back().stamp < *stamp - 1)
                    m_drift.push_back({*stamp - 1, m_drift.back().drift});
                while (!m_drift.empty() && m_drift.back().stamp >= *stamp)
                    m_drift.pop_back();
                m_drift.push_back({*stamp, drift});
                while (m_drift.size() > kDriftPoints)
                    m_drift.pop_front();
            }
        }
    }
    return result;
}

}  // namespace ronvix::media
