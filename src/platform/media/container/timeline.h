#pragma once
// The capture file's timeline: where each sample of each stream goes in the
// file. The AVI Mux asks it for every sample and writes what it says; the
// rules live here, apart from the container, so that they hold whatever
// writes the file.
//
// What the file gets (the guarantees a capture's user relies on):
// - One timeline. File time 0 is stream time 0, the moment the graph ran.
//   Each stream is placed by its time stamps, so a stream whose first
//   sample comes later begins after a gap (empty video places, silence) and
//   the streams are aligned from the first second.
// - Audio is the master clock. An audio stream is written continuously: its
//   positions (media times: the device's count of frames, including what it
//   lost) map one to one to file positions, and a gap in them is filled with
//   silence of exactly that length. So the file's audio runs on the sound
//   card's clock and loses no time. Without positions, samples are taken to
//   follow each other.
// - Video is placed against that clock. The first audio stream with stamps
//   tells how far its clock has drifted from the graph's (the file time of
//   its samples minus their stamps); a frame's stamp moved by that drift,
//   in frame periods of the file, is the frame's ideal place (the drift
//   moves slowly: a jump in it is taken only from a sample its source
//   marked as a discontinuity). Frames the source lost (a gap in its frame numbers, or in its
//   stamps when it gives no numbers) keep their places, empty. A filtered measure of how far the
//   frames sit from their ideal places decides, with hysteresis: once the
//   frames sit more than half a frame late (a camera faster than the sound
//   card), a frame is left out; more than half a frame early (slower, or
//   lost frames it did not number), an empty place is inserted and the
//   frame before shows twice. A correction back the other way waits until
//   three quarters of a frame, so jitter in the stamps makes no flapping.
//   Without audio the graph's clock is the file's.
// - Every frame is accounted for: frames written, empty places for frames
//   the source lost, empty places inserted (a late start counts here too)
//   and frames left out. Places = written + lost + inserted.
// - An end, when one is set, cuts every stream at the same file time: a
//   video stream holds the places before it (ending on empty places where
//   its last frames were lost), an audio stream the sample frames before
//   it. What comes after is past the end: not written, not counted.
//
// Threads: not thread-safe; the mux calls it under its file lock.

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "platform/media/core/interfaces.h"

namespace ronvix::media {

class CaptureTimeline {
public:
    // A video stream of `rate_num` / `rate_den` frames per second (the
    // file's frame rate), or an audio stream of `sample_rate` frames per
    // second. Returns the stream's number.
    int AddVideo(int64_t rate_num, int64_t rate_den);
    int AddAudio(int64_t sample_rate);
    // Changes a video stream's frame rate before its first frame is placed.
    void SetVideoRate(int stream, int64_t rate_num, int64_t rate_den);

    // The file's end in file time (> 0), or none (0, the default). Set
    // before the first sample is placed.
    void SetEnd(REFERENCE_TIME end);
    // The places a video stream holds before the end; INT64_MAX without one.
    int64_t EndPlace(int stream) const;
    // Every stream that began has reached the end, or one of them has run a
    // second past it (a stream that went quiet must not hold the end back).
    // False without an end or before any sample.
    bool EndReached() const;
    // Ends a video stream at the end now: the places it has not reached
    // stay empty (counted as lost), and every later frame is past the end.
    // For a stream that went quiet when the end was reached.
    void CloseAtEnd(int stream);

    struct VideoPlace {
        bool left_out = false;  // The frame is not written.
        bool past_end = false;  // Its place is at or after the end: not written.
        int64_t place = 0;      // Its place, in frames from file time 0.
    };
    // Places a frame stamped `stamp` (stream time of its start), numbered
    // `number` by its source (its media time), either when known. Without
    // `allow_left_out`, a frame is never left out: the correction waits for
    // a frame that may be (one whose source can still count it as dropped).
    VideoPlace PlaceVideo(int stream, std::optional<REFERENCE_TIME> stamp,
                          std::optional<int64_t> number, bool allow_left_out = true);

    struct AudioPlace {
        int64_t silence = 0;   // Frames of silence to write first.
        int64_t skip = 0;      // Frames at the sample's start not written.
        int64_t position = 0;  // File position of the first frame written
                               // (after the silence).
        int64_t frames = 0;    // Frames written from the sample, after `skip`
                               // (fewer than it has left where the end cuts it).
    };
    // Places a sample of `frames` frames stamped `stamp`, whose first frame
    // is at position `position` of its source's count, either when known.
    // `discontinuity`: the source marked the sample (its count or stamps
    // may have jumped).
    AudioPlace PlaceAudio(int stream, int64_t frames, std::optional<REFERENCE_TIME> stamp,
                          std::optional<int64_t> position, bool discontinuity);

    // The frame just placed could not be written (the disk's queue was
    // full): its place stays empty and counts with the lost ones.
    void DropPlaced(int stream);

    MUX_STREAM_COUNTS Counts(int stream) const;
    // An audio stream's frames per second.
    int64_t SampleRate(int stream) const { return m_streams.at(size_t(stream)).rate_num; }
    // How far the audio clock ran ahead of the graph's at stream time
    // `at`, 100 ns units: from the audio samples around that time, so that
    // frames placed while the sound runs ahead of them (or behind) still
    // get the drift of their own time.
    REFERENCE_TIME DriftAt(REFERENCE_TIME at) const;

private:
    struct Stream {
        bool video = false;
        int64_t rate_num = 25, rate_den = 1;  // Video frames, or audio frames, per second.
        bool started = false;
        MUX_STREAM_COUNTS counts;
        // Video.
        int64_t next = 0;  // The next free place.
        std::optional<int64_t> last_number;
        double error = 0;         // Filtered: frames' places minus their ideal places.
        double slope = 0;         // The error's change per frame.
        int last_correction = 0;  // +1 left out, -1 inserted, 0 none yet.
        // Audio.
        int64_t origin = 0;       // Source position at file position 0.
        int64_t end = 0;          // File position after what was written.
        int64_t next_source = 0;  // Source position that follows the last sample.
        // How far the stream has come, in its own units (video places,
        // audio frames), past the end included.
        int64_t reached = 0;
    };

    // The end in a stream's own units (places or frames).
    int64_t EndUnits(const Stream& s) const;

    double IdealPlace(const Stream& s, REFERENCE_TIME stamp) const;
    VideoPlace PlaceVideoUncut(Stream& s, std::optional<REFERENCE_TIME> stamp,
                               std::optional<int64_t> number, bool allow_left_out);

    std::vector<Stream> m_streams;
    REFERENCE_TIME m_end = 0;  // 0: none.
    int m_master = -1;         // The audio stream whose clock the video follows.
    // The drift seen on the master's samples: (stamp, drift), a point every
    // tenth of a second at most, the last minute of them.
    struct DriftPoint {
        REFERENCE_TIME stamp;
        REFERENCE_TIME drift;
    };
    std::deque<DriftPoint> m_drift;
};

}  // namespace ronvix::media
