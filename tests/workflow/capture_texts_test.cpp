// The pages' byte counts and rates, and the capture page's text rules.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include "workflow/capture_texts.h"
#include "workflow/rate_meter.h"

using namespace ronvix;
using workflow::TByteCounter;
using workflow::TRateMeter;

TEST(RateMeter, KilobytesASecondOfWhatTheTotalGainedBetweenTwoReadings) {
    TRateMeter meter;
    EXPECT_FALSE(meter.Tick(1 << 20, 5000)) << "no figure before a start";
    meter.Start(0, 1000);
    struct Step {
        int64_t total;
        uint64_t at_ms;
        std::optional<int64_t> rate;
    };
    const Step steps[] = {
        {1000 * 1024, 2000, 1000},                       // a kilobyte a millisecond
        {1000 * 1024, 3000, 0},                          // nothing gained: 0, not the last figure
        {1000 * 1024 + 512 * 1024, 3500, 1024},          // half a second counts as half
        {1000 * 1024 + 512 * 1024, 3500, std::nullopt},  // no time passed
        {2 * 1000 * 1024 + 1023, 4500, 488},             // truncated: 488.28... whole kilobytes
        {100, 5500, std::nullopt},                       // a new, smaller file starts over
        {100 + 2048 * 1024, 6500, 2048},
        {int64_t(3) << 40, 6500 + 3600 * 1000, (int64_t(3) << 30) / 3600},  // no overflow
    };
    for (const Step& s : steps)
        EXPECT_EQ(meter.Tick(s.total, s.at_ms), s.rate) << s.total << " at " << s.at_ms;
}

TEST(ByteCounter, NoBufferIsLostBetweenStreamingThreadsAndReaders) {
    TByteCounter counter;
    constexpr int kThreads = 2;
    constexpr int kBuffers = 200000;
    std::atomic<bool> done{false};
    std::vector<std::thread> grabbers;
    for (int t = 0; t < kThreads; ++t)
        grabbers.emplace_back([&, t] {
            for (int i = 0; i < kBuffers; ++i)
                counter.Add(1000 + t);
            counter.Add(-5);  // a negative length adds nothing
        });
    std::thread reader([&] {
        int64_t last = 0;
        while (!done.load()) {
            const int64_t now = counter.Total();
            ASSERT_GE(now, last) << "a total went back";
            last = now;
        }
    });
    for (auto& g : grabbers)
        g.join();
    done = true;
    reader.join();
    EXPECT_EQ(counter.Total(), int64_t(kBuffers) * 1000 + int64_t(kBuffers) * 1001);
}

TEST(CaptureTexts, GeneratedNamesKeepTheFolderAndUseTwoDigitFields) {
    win::SYSTEMTIME t;
    t.wYear = 2026;
    t.wMonth = 12;
    t.wDay = 8;
    t.wHour = 6;
    t.wMinute = 5;
    t.wSecond = 9;
    EXPECT_EQ(workflow::GeneratedFileName("c:\\capture.avi", t), "c:\\08_12_2026_06_05_09.avi");
    EXPECT_EQ(workflow::GeneratedFileName("capture.avi", t), "08_12_2026_06_05_09.avi");
    EXPECT_EQ(workflow::GeneratedFileName("/home/me/Videos/a.avi", t),
              "/home/me/Videos/08_12_2026_06_05_09.avi");
    EXPECT_EQ(workflow::GeneratedFileName("d:", t), "d:08_12_2026_06_05_09.avi");
}

TEST(CaptureTexts, FreeSpaceIsMeasuredInTheCaptureFilesFolder) {
    EXPECT_EQ(workflow::CaptureFolder("c:\\video\\a.avi"), "c:\\video\\");
    EXPECT_EQ(workflow::CaptureFolder("/home/me/Videos/a.avi"), "/home/me/Videos/");
    EXPECT_EQ(workflow::CaptureFolder("a.avi"), ".")
        << "a bare name is written in the current folder";
}

TEST(CaptureTexts, StatisticsFormats) {
    EXPECT_EQ(workflow::FreeSpaceText(5ull << 30), QStringLiteral("5120 \u041C"));
    // 1 048 576 KB at 512 KB a second.
    EXPECT_EQ(workflow::RemainingText(1048576ull * 1024, 512), "00:34:08");
    EXPECT_EQ(workflow::RemainingText(1000ull * 3600 * 1024, 10), "100:00:00")
        << "hours are not wrapped";
    EXPECT_FALSE(workflow::RemainingText(1 << 20, 0));
    // 100 ns units; a day and 5 seconds wraps to 00:00:05.
    EXPECT_EQ(workflow::ElapsedText(int64_t(3723) * 10000000), "01:02:03");
    EXPECT_EQ(workflow::ElapsedText(int64_t(86405) * 10000000), "00:00:05");
    EXPECT_EQ(workflow::RateText(958), QStringLiteral("958 \u041A/sec"));
    EXPECT_EQ(workflow::QualityText(0), "700 K/sec");
    EXPECT_EQ(workflow::QualityText(100), "7200 K/sec");
    EXPECT_EQ(workflow::QualityText(33), "2840 K/sec");
}
