// What the Test Pattern Camera spends per 720x576 frame, part by part: the
// picture drawn, JPEG-encoded for the capture pin, converted to RGB32 for
// the preview pin, each done whole (as the camera did before), then the
// painter and the row encoder the camera uses now. The parts of one frame are what a real camera
// does in hardware; bench/live_capture.sh shows them beside the capture path's own cost.

#include <benchmark/benchmark.h>

#include <vector>

#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/codecs/jpegrows.h"
#include "platform/media/devices/virtual/testpattern.h"

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

// What the camera does now for the same frames: the painter copies the
// still parts, the row encoder codes only the rows that changed.
void BM_PaintTestPattern(benchmark::State& state) {
    Yuv422Image picture;
    picture.Resize(kWidth, kHeight);
    TestPatternPainter painter;
    uint32_t index = 0;
    for (auto _ : state) {
        painter.Draw(picture, index, REFERENCE_TIME(index) * kPeriod, kPeriod, {});
        ++index;
        benchmark::DoNotOptimize(picture.y.data());
    }
}
BENCHMARK(BM_PaintTestPattern)->Unit(benchmark::kMicrosecond);

void BM_EncodeJpegRows(benchmark::State& state) {
    // A second of frames drawn beforehand, coded in turn (the whole-second
    // border among them), so only the coding is timed.
    std::vector<Yuv422Image> frames(25);
    for (uint32_t i = 0; i < frames.size(); ++i) {
        frames[i].Resize(kWidth, kHeight);
        DrawTestPattern(frames[i], i, REFERENCE_TIME(i) * kPeriod, kPeriod, {});
    }
    JpegRowEncoder encoder;
    std::vector<uint8_t> out(JpegRowEncoder::MaxSize(kWidth, kHeight));
    size_t n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(encoder.Encode(frames[n++ % frames.size()], 75, out));
}
BENCHMARK(BM_EncodeJpegRows)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ronvix::media

BENCHMARK_MAIN();
