// The capture timeline against simulated devices with real faults: skewed
// clocks, late starts, jittery stamps, stalls and lost buffers, for up to
// an hour of capture. At every whole second the camera's white frame and
// the sound card's burst must land together in the file, and every frame
// must be accounted for.

#include "platform/media/container/timeline.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/media/devices/imperfect_devices.h"

namespace ronvix::media::test {
namespace {

constexpr REFERENCE_TIME kMs = 10'000;

struct Case {
    const char* name;
    SimSetup setup;
    REFERENCE_TIME duration;
    int64_t max_corrections;  // Frames left out plus places inserted after the start.
    double slack = 0;         // Frames the window widens by (stamps that jitter).
};

Imperfections Skew(double ppm, REFERENCE_TIME delay = 0) {
    Imperfections f;
    f.clock_ppm = ppm;
    f.start_delay = delay;
    return f;
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    // 400 ppm apart over an hour is 1.44 s: 36 frames to make up.
    cases.push_back(
        {"camera fast, card slow, an hour", {Skew(200), 25, 1, Skew(-200)}, 3600 * kSimSecond, 40});
    cases.push_back(
        {"camera slow, card fast, an hour", {Skew(-200), 25, 1, Skew(200)}, 3600 * kSimSecond, 40});
    cases.push_back(
        {"camera 0.7 s after the card", {Skew(0, 7000 * kMs / 10)}, 60 * kSimSecond, 0});
    cases.push_back(
        {"card 0.7 s after the camera", {{}, 25, 1, Skew(0, 7000 * kMs / 10)}, 60 * kSimSecond, 0});
    Imperfections stalls;
    stalls.stall_every = 60 * kSimSecond;
    stalls.stall_length = 300 * kMs;
    cases.push_back({"ten card stalls of 300 ms", {{}, 25, 1, stalls}, 600 * kSimSecond, 0});
    cases.push_back({"a 29.97 fps camera", {{}, 30000, 1001, {}}, 600 * kSimSecond, 0});
    Imperfections jitter;
    jitter.jitter = 8 * kMs;  // A fifth of a frame either way.
    cases.push_back(
        {"jittery camera stamps", {jitter, 25, 1, Skew(30)}, 600 * kSimSecond, 3, 0.15});
    Imperfections lossy_camera, lossy_card;
    lossy_camera.lose_every = 37;
    lossy_card.lose_every = 101;
    cases.push_back(
        {"lost frames and lost buffers", {lossy_camera, 25, 1, lossy_card}, 300 * kSimSecond, 0});
    return cases;
}

TEST(CaptureTimeline, WhiteFramesAndBurstsLandTogetherAndEveryFrameIsCounted) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        SimulatedDevices devices(c.setup);
        CaptureTimeline timeline;
        const int video = timeline.AddVideo(c.setup.fps_num, c.setup.fps_den);
        const int audio = timeline.AddAudio(c.setup.sample_rate);

        std::map<int64_t, int64_t> white_places;  // Whole second -> place.
        int64_t frames_in = 0, left_out = 0, last_place = -1;
        bool ordered = true;
        // Card frame -> file position, at each buffer's first written frame.
        std::map<int64_t, int64_t> file_position_of_device;
        devices.Run(
            c.duration,
            [&](const SimFrame& f) {
                ++frames_in;
                const auto place = timeline.PlaceVideo(video, f.stamp, f.number);
                if (place.left_out) {
                    ++left_out;
                    return;
                }
                ordered = ordered && place.place > last_place;
                last_place = place.place;
                if (f.white)
                    white_places[(f.true_time + kSimSecond - 1) / kSimSecond] = place.place;
            },
            [&](const SimBuffer& b) {
                const auto place =
                    timeline.PlaceAudio(audio, b.frames, b.stamp, b.position, b.discontinuity);
                if (place.skip < b.frames)
                    file_position_of_device[b.device + place.skip] = place.position;
            });

        // The burst of second S starts at the first card frame captured at
        // or after S; its file time against the white frame's place.
        const double frame_s = double(c.setup.fps_den) / double(c.setup.fps_num);
        int pairs = 0, no_burst = 0;
        double worst_low = 1, worst_high = 0;
        for (const auto& [second, place] : white_places) {
            const REFERENCE_TIME s = second * kSimSecond;
            int64_t low = 0, high = int64_t(2 * double(s) / devices.Card().TickLength()) + 1;
            while (low < high) {
                const int64_t mid = (low + high) / 2;
                if (devices.Card().SampleTime(mid) < s)
                    low = mid + 1;
                else
                    high = mid;
            }
            const int64_t n = low;
            if (devices.Card().SampleTime(n) >= s + kSimBurst) {
                ++no_burst;  // The card captured nothing of this burst.
                continue;
            }
            auto it = file_position_of_device.upper_bound(n);
            if (it == file_position_of_device.begin())
                continue;  // Before the sound began.
            --it;
            const double burst_s =
                double(it->second + (n - it->first)) / double(c.setup.sample_rate);
            const double offset = (burst_s - double(place) * frame_s) / frame_s;
            worst_low = std::min(worst_low, offset);
            worst_high = std::max(worst_high, offset);
            ++pairs;
        }
        const double sample = double(c.setup.fps_num) / double(c.setup.fps_den) /
                              double(c.setup.sample_rate);  // One sample, in frames.
        EXPECT_GE(worst_low, -0.5 - sample - c.slack);
        EXPECT_LE(worst_high, 1.5 + sample + c.slack);
        // Every second has its pair, but for the white frames the camera
        // lost and the bursts the card did not capture.
        EXPECT_GE(pairs + no_burst + devices.lost_white, c.duration / kSimSecond - 1);
        EXPECT_LE(no_burst, 10) << "bursts lost in the stalls only";
        EXPECT_TRUE(ordered);

        const MUX_STREAM_COUNTS v = timeline.Counts(video);
        EXPECT_EQ(v.written + v.left_out, frames_in);
        EXPECT_EQ(v.left_out, left_out);
        EXPECT_EQ(v.written + v.lost + v.inserted, last_place + 1) << "places";
        EXPECT_EQ(v.lost, devices.lost_frames) << "the camera's lost frames keep their places";
        const int64_t lead = std::llround(double(c.setup.camera.start_delay) / 1e7 *
                                          double(c.setup.fps_num) / double(c.setup.fps_den));
        EXPECT_LE(v.left_out + v.inserted - lead, c.max_corrections) << "no flapping";

        const MUX_STREAM_COUNTS a = timeline.Counts(audio);
        EXPECT_EQ(a.written, devices.buffers_delivered * c.setup.buffer_frames);
        // Silence: the card's late start, its lost buffers and its stalls,
        // each of its own length.
        const int64_t expected_silence =
            std::llround(double(c.setup.card.start_delay) * double(c.setup.sample_rate) / 1e7) +
            devices.lost_buffers * c.setup.buffer_frames + devices.LostSound();
        EXPECT_NEAR(double(a.silence), double(expected_silence), 2.0);
    }
}

}  // namespace
}  // namespace ronvix::media::test

namespace ronvix::media::test {
namespace {

// A file with an end of 5 s: whatever the devices do, the video holds
// exactly 125 places (frames, lost places and inserted places add up to
// them), the sound exactly 5 s of frames, nothing past the end is counted,
// and the end is reached once both streams got there, or a second after a
// stream that went quiet was last heard.
TEST(CaptureTimeline, AnEndCutsEveryStreamAtTheSameFileTime) {
    Imperfections lossy;
    lossy.lose_every = 7;
    const struct {
        const char* name;
        SimSetup setup;
        REFERENCE_TIME quiet_after;  // The camera delivers nothing after this.
        REFERENCE_TIME reached_by;   // The end is reached by this time.
    } cases[] = {
        {"perfect devices", {}, INT64_MAX, 5300 * kMs},
        {"camera fast, card slow", {Skew(2000), 25, 1, Skew(-2000)}, INT64_MAX, 5300 * kMs},
        {"card 0.7 s late, camera losing frames",
         {lossy, 25, 1, Skew(0, 7000 * kMs / 10)},
         INT64_MAX,
         5300 * kMs},
        {"camera quiet after 3 s", {}, 3000 * kMs, 6300 * kMs},
    };
    constexpr REFERENCE_TIME kEnd = 5 * kSimSecond;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedDevices devices(c.setup);
        CaptureTimeline timeline;
        const int video = timeline.AddVideo(25, 1);
        const int audio = timeline.AddAudio(c.setup.sample_rate);
        timeline.SetEnd(kEnd);
        int64_t sound = 0, last_place = -1, past_end = 0;
        std::optional<REFERENCE_TIME> reached;
        auto check_end = [&](REFERENCE_TIME now) {
            if (!reached && timeline.EndReached()) {
                reached = now;
                timeline.CloseAtEnd(video);  // As the mux does then.
            }
        };
        devices.Run(
            8 * kSimSecond,
            [&](const SimFrame& f) {
                if (f.true_time > c.quiet_after)
                    return;
                const auto place = timeline.PlaceVideo(video, f.stamp, f.number);
                if (place.past_end)
                    ++past_end;
                else if (!place.left_out)
                    last_place = place.place;
                check_end(f.true_time);
            },
            [&](const SimBuffer& b) {
                const auto place =
                    timeline.PlaceAudio(audio, b.frames, b.stamp, b.position, b.discontinuity);
                sound += place.silence + place.frames;
                check_end(devices.Card().SampleTime(b.device + b.frames));
            });
        const MUX_STREAM_COUNTS v = timeline.Counts(video);
        const MUX_STREAM_COUNTS a = timeline.Counts(audio);
        EXPECT_EQ(timeline.EndPlace(video), 125);
        EXPECT_LT(last_place, 125);
        if (c.quiet_after == INT64_MAX) {
            EXPECT_GT(past_end, 0);
        }
        EXPECT_EQ(v.written + v.lost + v.inserted, 125);
        EXPECT_EQ(sound, 5 * c.setup.sample_rate);
        EXPECT_EQ(a.written + a.silence, 5 * c.setup.sample_rate);
        ASSERT_TRUE(reached) << "the end was never reached";
        EXPECT_GE(*reached, kEnd - 100 * kMs) << "reached before the streams got there";
        EXPECT_LE(*reached, c.reached_by);
    }
}

}  // namespace
}  // namespace ronvix::media::test
