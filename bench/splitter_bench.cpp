// The AVI Splitter's read rate beside ffmpeg's on the same file, in the
// same run: the File Source and the splitter push every packet of every
// stream into sinks that take them at once (no clock), and
// `ffmpeg -c copy -f null` reads the same file. Each is run three times and
// the best time counts; the ratio is ours over ffmpeg's packets per second.
//
//   ronvix_bench_splitter [file.avi]
//
// Without a file, one is made first with ffmpeg: 60 s of 720x576 MJPG at
// 25 fps and 48 kHz stereo PCM, the shape of a capture, in
// $RONVIX_BENCH_DIR (default /tmp).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/com/classregistry.h"
#include "platform/com/oleauto.h"
#include "platform/media/container/avisplitter.h"
#include "platform/media/core/filter.h"
#include "platform/media/core/graph.h"
#include "platform/media/core/pinutil.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media {
namespace {

using namespace com;
using Clock = std::chrono::steady_clock;

// Takes whatever it is given at once and counts it.
class NullSink final : public BaseFilter {
public:
    NullSink() : BaseFilter(RONVIX_GUID("{9A3C1E77-0B52-4D7E-8F11-5C2B7D0E4A19}")) {
        AddPin(std::make_unique<Pin>(*this));
    }
    IPin* Input() { return PinAt(0); }
    HRESULT OnReceive(BaseInputPin&, IMediaSample* sample) override {
        ++packets;
        bytes += uint64_t(sample->GetActualDataLength());
        return S_OK;
    }
    std::atomic<uint64_t> packets{0};
    std::atomic<uint64_t> bytes{0};

private:
    class Pin final : public BaseInputPin {
    public:
        explicit Pin(BaseFilter& f) : BaseInputPin(f, u"In") {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE&) override { return S_OK; }
    };
};

struct Result {
    double seconds = 0;
    uint64_t packets = 0;
    uint64_t bytes = 0;
};

Result RunSplitter(const std::string& file) {
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    graph.As<IMediaFilter>()->SetSyncSource(nullptr);
    const std::u16string name = ToUtf16(file);
    ComPtr<IBaseFilter> source, splitter;
    if (FAILED(graph->AddSourceFilter(name.c_str(), u"Source", source.ReleaseAndGetAddressOf())))
        return {};
    CreateAviSplitter(IBaseFilter::iid, splitter.OutVoid());
    graph->AddFilter(splitter.Get(), u"Splitter");
    ComPtr<IPin> out, in;
    source->FindPin(u"Output", out.ReleaseAndGetAddressOf());
    splitter->FindPin(u"Input", in.ReleaseAndGetAddressOf());
    if (FAILED(graph->ConnectDirect(out.Get(), in.Get(), nullptr)))
        return {};
    std::vector<ComPtr<NullSink>> sinks;
    for (ComPtr<IPin>& pin : FilterPins(splitter.Get())) {
        if (PinDirection(pin.Get()) != PINDIR_OUTPUT)
            continue;
        sinks.push_back(MakeCom<NullSink>());
        graph->AddFilter(sinks.back().Get(), u"Sink");
        graph->ConnectDirect(pin.Get(), sinks.back()->Input(), nullptr);
    }
    const auto start = Clock::now();
    graph.As<IMediaControl>()->Run();
    LONG code = 0;
    graph.As<IMediaEvent>()->WaitForCompletion(-1, &code);
    Result r;
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    graph.As<IMediaControl>()->Stop();
    for (auto& s : sinks) {
        r.packets += s->packets;
        r.bytes += s->bytes;
    }
    return r;
}

// Wall time of one ffmpeg read of `file`.
double RunFfmpeg(const std::string& file) {
    const std::string command = "ffmpeg -v error -i '" + file + "' -map 0 -c copy -f null -";
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0)
        return -1;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace
}  // namespace ronvix::media

int main(int argc, char** argv) {
    using namespace ronvix::media;
    RegisterEngineClasses();
    RegisterPlaybackClasses();
    std::string file;
    if (argc > 1) {
        file = argv[1];
    } else {
        const char* dir = std::getenv("RONVIX_BENCH_DIR");
        file = std::string(dir && *dir ? dir : "/tmp") + "/splitter_bench.avi";
        const std::string make =
            "ffmpeg -v error -y -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i "
            "sine=frequency=1000:sample_rate=48000 -t 60 -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 2 '" +
            file + "'";
        if (std::system(make.c_str()) != 0) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", file.c_str());
            return 1;
        }
    }
    Result best;
    double ffmpeg_best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const Result r = RunSplitter(file);
        if (r.packets == 0) {
            std::fprintf(stderr, "the splitter could not read %s\n", file.c_str());
            return 1;
        }
        if (best.packets == 0 || r.seconds < best.seconds)
            best = r;
        const double f = RunFfmpeg(file);
        if (f < 0) {
            std::fprintf(stderr, "ffmpeg could not read %s\n", file.c_str());
            return 1;
        }
        ffmpeg_best = std::min(ffmpeg_best, f);
    }
    const double ours = double(best.packets) / best.seconds;
    const double theirs = double(best.packets) / ffmpeg_best;
    std::printf("file: %s (%llu packets, %.1f MB)\n", file.c_str(),
                static_cast<unsigned long long>(best.packets), double(best.bytes) / 1e6);
    std::printf("AVI Splitter:            %8.3f s  %10.0f packets/s  %8.1f MB/s\n", best.seconds,
                ours, double(best.bytes) / 1e6 / best.seconds);
    std::printf("ffmpeg -c copy -f null:  %8.3f s  %10.0f packets/s  %8.1f MB/s\n", ffmpeg_best,
                theirs, double(best.bytes) / 1e6 / ffmpeg_best);
    std::printf("ratio (splitter / ffmpeg): %.2f\n", ours / theirs);
    if (argc > 1)
        return 0;

    // Steady-state rates. ffmpeg's time includes starting the process and
    // opening the file, the splitter's (from Run to the end) does not. The
    // same file ten times over (copied, not coded again) is read by both;
    // ffmpeg's marginal rate is its time for the long file less its time
    // for the short one, over the packets the long one has more.
    const std::string longer = file.substr(0, file.size() - 4) + "_x10.avi";
    const std::string loop =
        "ffmpeg -v error -y -stream_loop 9 -i '" + file + "' -map 0 -c copy '" + longer + "'";
    if (std::system(loop.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg could not make %s\n", longer.c_str());
        return 1;
    }
    Result long_best;
    double ffmpeg_long = 1e9, ffmpeg_short = 1e9;
    for (int round = 0; round < 3; ++round) {
        const Result r = RunSplitter(longer);
        if (long_best.packets == 0 || (r.packets > 0 && r.seconds < long_best.seconds))
            long_best = r;
        ffmpeg_long = std::min(ffmpeg_long, RunFfmpeg(longer));
        ffmpeg_short = std::min(ffmpeg_short, RunFfmpeg(file));
    }
    if (long_best.packets == 0 || ffmpeg_long <= ffmpeg_short) {
        std::fprintf(stderr, "no steady-state figures: %s\n", longer.c_str());
        return 1;
    }
    const double ours_long = double(long_best.packets) / long_best.seconds;
    const double marginal = double(long_best.packets - best.packets) / (ffmpeg_long - ffmpeg_short);
    std::printf("steady state, %llu packets:\n",
                static_cast<unsigned long long>(long_best.packets));
    std::printf("AVI Splitter:            %8.3f s  %10.0f packets/s\n", long_best.seconds,
                ours_long);
    std::printf("ffmpeg marginal:         %8.3f s  %10.0f packets/s\n", ffmpeg_long - ffmpeg_short,
                marginal);
    std::printf("ratio, steady state: %.2f\n", ours_long / marginal);
    return 0;
}
