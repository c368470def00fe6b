// The capture counters and the capture page's text rules.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "capture/counters.h"
#include "capture/session.h"

using namespace ronvix;
using capture::TCaptureCounters;

TEST(CaptureCounters, FirstTickAfterAStartCountsTheStartValues) {
    TCaptureCounters counters;
    counters.Start(1, 1, 0);
    // N = 50 buffers of 40 000 bytes: ((B + 1) / (N + 1) / 1024) * N.
    for (int i = 0; i < 50; ++i)
        counters.AddBuffer(40000);
    const auto v = counters.Take();
    EXPECT_EQ(v.bytes, 2000001);
    EXPECT_EQ(v.divisor, 51);
    EXPECT_EQ(v.multiplier, 50);
    EXPECT_EQ(TCaptureCounters::Rate(v), (2000001 / 51) / 1024 * 50);
    // A tick without buffers: no rate, and everything is back at 0.
    const auto empty = counters.Take();
    EXPECT_EQ(empty.bytes, 0);
    EXPECT_EQ(empty.divisor, 0);
    EXPECT_FALSE(TCaptureCounters::Rate(empty));
    // Right after a start, before any buffer, the rate is 0, not a failure.
    counters.Start(1, 1, 0);
    EXPECT_EQ(TCaptureCounters::Rate(counters.Take()), 0);
}

TEST(CaptureCounters, NoBufferIsLostOrCountedTwiceBetweenStreamingThreadsAndTicks) {
    TCaptureCounters counters;
    counters.Start(0, 0, 0);
    constexpr int kThreads = 2;
    constexpr int kBuffers = 200000;
    std::atomic<bool> done{false};
    int64_t bytes = 0, divisor = 0, multiplier = 0;
    std::vector<std::thread> grabbers;
    for (int t = 0; t < kThreads; ++t)
        grabbers.emplace_back([&, t] {
            for (int i = 0; i < kBuffers; ++i)
                counters.AddBuffer(1000 + t);
        });
    std::thread ticks([&] {
        while (!done.load()) {
            const auto v = counters.Take();
            // Every buffer is whole in one tick: its bytes and its count
            // arrive together.
            ASSERT_EQ(v.divisor, v.multiplier);
            bytes += v.bytes;
            divisor += v.divisor;
            multiplier += v.multiplier;
        }
    });
    for (auto& g : grabbers)
        g.join();
    done = true;
    ticks.join();
    const auto rest = counters.Take();
    EXPECT_EQ(divisor + rest.divisor, int64_t(kThreads) * kBuffers);
    EXPECT_EQ(multiplier + rest.multiplier, int64_t(kThreads) * kBuffers);
    EXPECT_EQ(bytes + rest.bytes, int64_t(kBuffers) * 1000 + int64_t(kBuffers) * 1001);
}

TEST(CaptureTexts, GeneratedNamesKeepTheFolderAndUseTwoDigitFields) {
    win::SYSTEMTIME t;
    t.wYear = 2026;
    t.wMonth = 12;
    t.wDay = 8;
    t.wHour = 6;
    t.wMinute = 5;
    t.wSecond = 9;
    EXPECT_EQ(capture::GeneratedFileName("c:\\capture.avi", t), "c:\\08_12_2026_06_05_09.avi");
    EXPECT_EQ(capture::GeneratedFileName("capture.avi", t), "08_12_2026_06_05_09.avi");
    EXPECT_EQ(capture::GeneratedFileName("/home/me/Videos/a.avi", t),
              "/home/me/Videos/08_12_2026_06_05_09.avi");
    EXPECT_EQ(capture::GeneratedFileName("d:", t), "d:08_12_2026_06_05_09.avi");
}

TEST(CaptureTexts, FreeSpaceIsMeasuredInTheCaptureFilesFolder) {
    EXPECT_EQ(capture::CaptureFolder("c:\\video\\a.avi"), "c:\\video\\");
    EXPECT_EQ(capture::CaptureFolder("/home/me/Videos/a.avi"), "/home/me/Videos/");
    EXPECT_EQ(capture::CaptureFolder("a.avi"), ".")
        << "a bare name is written in the current folder";
}

TEST(CaptureTexts, StatisticsFormats) {
    EXPECT_EQ(capture::FreeSpaceText(5ull << 30), QStringLiteral("5120 \u041C"));
    // 1 048 576 KB at 512 KB a second.
    EXPECT_EQ(capture::RemainingText(1048576ull * 1024, 512), "00:34:08");
    EXPECT_EQ(capture::RemainingText(1000ull * 3600 * 1024, 10), "100:00:00")
        << "hours are not wrapped";
    EXPECT_FALSE(capture::RemainingText(1 << 20, 0));
    // 100 ns units; a day and 5 seconds wraps to 00:00:05.
    EXPECT_EQ(capture::ElapsedText(int64_t(3723) * 10000000), "01:02:03");
    EXPECT_EQ(capture::ElapsedText(int64_t(86405) * 10000000), "00:00:05");
    EXPECT_EQ(capture::QualityText(0), "700 K/sec");
    EXPECT_EQ(capture::QualityText(100), "7200 K/sec");
    EXPECT_EQ(capture::QualityText(33), "2840 K/sec");
}
