// What the Test Pattern Camera spends per 720x576 frame, part by part: the
// picture drawn, JPEG-encoded for the capture pin, converted to RGB32 for
// the preview pin. The parts of one frame are what a real camera does in
// hardware; bench/live_capture.sh shows them beside the capture path's own
// cost.

#include <benchmark/benchmark.h>

#include <vector>

#include "platform/media/devices/testpattern.h"
#include "platform/media/filters/jpegcodec.h"

namespace ronvix::media {
namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 576;
constexpr REFERENCE_TIME kPeriod = 400'000;

void BM_DrawTestPattern(benchmark::State& state) {
    Yuv422Image picture;
    picture.Resize(kWidth, kHeight);
    uint32_t index = 0;
    for (auto _ : state) {
        DrawTestPattern(picture, index, REFERENCE_TIME(index) * kPeriod, kPeriod, {});
        ++index;
        benchmark::DoNotOptimize(picture.y.data());
    }
}
BENCHMARK(BM_DrawTestPattern)->Unit(benchmark::kMicrosecond);

void BM_EncodeJpeg(benchmark::State& state) {
    Yuv422Image picture;
    picture.Resize(kWidth, kHeight);
    DrawTestPattern(picture, 0, 0, kPeriod, {});
    JpegEncoder encoder;
    std::vector<uint8_t> out(JpegEncoder::MaxSize(kWidth, kHeight));
    for (auto _ : state)
        benchmark::DoNotOptimize(encoder.EncodeYuv422(picture, 75, out));
}
BENCHMARK(BM_EncodeJpeg)->Unit(benchmark::kMicrosecond);

void BM_PreviewRgb32(benchmark::State& state) {
    Yuv422Image picture;
    picture.Resize(kWidth, kHeight);
    DrawTestPattern(picture, 0, 0, kPeriod, {});
    std::vector<uint8_t> out(size_t(kWidth) * kHeight * 4);
    for (auto _ : state) {
        Yuv422ToRgb32(picture, out.data(), true);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_PreviewRgb32)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ronvix::media

BENCHMARK_MAIN();
