// The capture path into a real file: Sample Grabber -> sync -> AVI Mux ->
// File Writer, 720x576 MJPG.
//
// BM_CaptureUnpacedCamera: the Test Pattern Camera unpaced (it draws and
//   encodes every frame, so this measures the camera as much as the path).
//   The first run keeps the camera's frames and writes them once as
//   frames.mjpeg, the input of the ffmpeg comparison in capture_vs_ffmpeg.sh.
// BM_CapturePathRing/N: the same path fed N frames from a ring of those
//   frames as fast as it takes them: the figure to set beside
//   `ffmpeg -c copy` (N = 2000; N = 200 gives the marginal rate).
//
// Files go to $RONVIX_BENCH_DIR (default /tmp) and are left there for the
// script: capture.avi, ring.avi, frames.mjpeg (the ring's frames in the
// order BM_CapturePathRing sends them) and frames.count.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "deliver_copy.h"
#include "platform/com/classregistry.h"
#include "platform/com/object.h"
#include "platform/media/core/filter.h"
#include "platform/media/core/graph.h"
#include "platform/media/core/pinutil.h"
#include "platform/media/devices/virtual/virtualdevices.h"
#include "platform/media/io/filewriter.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media {
namespace {

using namespace com;

constexpr int kCameraFrames = 500;
constexpr int kRingFrames = 2000;

std::string BenchDir() {
    const char* dir = std::getenv("RONVIX_BENCH_DIR");
    return dir && *dir ? dir : "/tmp";
}

// The frames the camera produced, shared by both benchmarks.
std::vector<std::vector<uint8_t>>& Ring() {
    static std::vector<std::vector<uint8_t>> ring;
    return ring;
}

class Counter final : public ComObject<ISampleGrabberCB> {
public:
    explicit Counter(bool keep) : m_keep(keep) {}
    HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT BufferCB(double, BYTE* data, LONG length) override {
        if (m_keep && Ring().size() < size_t(kCameraFrames))
            Ring().emplace_back(data, data + length);  // One streaming thread.
        ++calls;
        return S_OK;
    }
    std::atomic<long> calls{0};

private:
    const bool m_keep;
};

// A source pin that the benchmark thread pushes ring frames through.
class RingSource final : public BaseFilter {
public:
    class Pin final : public BaseOutputPin {
    public:
        explicit Pin(BaseFilter& f) : BaseOutputPin(f, u"Capture", PIN_CATEGORY_CAPTURE) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            return mt.subtype == MEDIASUBTYPE_MJPG ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        std::vector<MediaType> OfferedTypes() override {
            return {MediaType::Video(MEDIASUBTYPE_MJPG, 720, 576, 24, 400000)};
        }

    protected:
        HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES& props) override {
            props.cBuffers = 8;
            props.cbBuffer = 720 * 576 * 2;
            return S_OK;
        }
    };
    RingSource() : BaseFilter(RONVIX_GUID("{5E1F00B0-0000-4000-8000-0000000000B0}")) {
        pin = static_cast<Pin*>(AddPin(std::make_unique<Pin>(*this)));
    }
    HRESULT Push(const std::vector<uint8_t>& frame, REFERENCE_TIME start) {
        return bench::DeliverCopy(*pin, frame, start, 400000, true);
    }
    Pin* pin = nullptr;
};

// Whether the File Writer syncs at its barriers: RONVIX_BENCH_NOSYNC=1
// turns that off, as ffmpeg never syncs.
bool BarrierSync() {
    const char* nosync = std::getenv("RONVIX_BENCH_NOSYNC");
    return !(nosync && *nosync == '1');
}

struct CaptureGraph {
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<IBaseFilter> grabber, sync, mux;

    bool Build(IBaseFilter* source, const std::string& file, ISampleGrabberCB* callback) {
        ComPtr<ICaptureGraphBuilder2> builder;
        CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                         ICaptureGraphBuilder2::iid, builder.OutVoid());
        CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IBaseFilter::iid,
                         grabber.OutVoid());
        CoCreateInstance(CLSID_Sync, nullptr, CLSCTX_INPROC_SERVER, IBaseFilter::iid,
                         sync.OutVoid());
        if (!builder || !grabber || !sync)
            return false;
        builder->SetFiltergraph(graph.As<IGraphBuilder>().Get());
        graph->AddFilter(source, u"VideoSourceFilter");
        graph->AddFilter(grabber.Get(), u"SampleGrabber");
        graph->AddFilter(sync.Get(), u"sync");
        ComPtr<ISampleGrabber> grab = grabber.As<ISampleGrabber>();
        grab->SetMediaType(&MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_MJPG).Get());
        grab->SetCallback(callback, 1);
        const std::u16string name = ToUtf16(file);
        ComPtr<IFileSinkFilter> sink;
        if (FAILED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, name.c_str(),
                                              mux.ReleaseAndGetAddressOf(),
                                              sink.ReleaseAndGetAddressOf())))
            return false;
        // The sources here outrun any disk; the queue may hold what they
        // make, as ffmpeg waits for the disk, so that every frame is written.
        if (ComPtr<IFileWriterQueue> queue = sink.As<IFileWriterQueue>())
            queue->SetQueueLimits(64ull << 20, 512ull << 20, 4ull << 30);
        // RONVIX_BENCH_NOSYNC=1: no sync once a second, as ffmpeg never syncs.
        if (ComPtr<IFileWriterSync> writer = sink.As<IFileWriterSync>())
            writer->SetBarrierSync(BarrierSync());
        return SUCCEEDED(builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, source,
                                               grabber.Get(), sync.Get())) &&
               SUCCEEDED(builder->RenderStream(nullptr, nullptr, sync.Get(), nullptr, mux.Get()));
    }
};

void Register() {
    RegisterEngineClasses();
    RegisterVirtualDevices();
}

void BM_CaptureUnpacedCamera(benchmark::State& state) {
    Register();
    VirtualDeviceHooks hooks;
    hooks.unpaced = true;
    const bool keep = Ring().empty();
    long frames = 0;
    for (auto _ : state) {
        ComPtr<IBaseFilter> camera;
        CreateTestCamera(hooks, IBaseFilter::iid, camera.OutVoid());
        auto counter = MakeCom<Counter>(keep && frames == 0);
        CaptureGraph g;
        if (!camera || !g.Build(camera.Get(), BenchDir() + "/capture.avi", counter.Get())) {
            state.SkipWithError("the capture graph could not be built");
            break;
        }
        ComPtr<IMediaControl> control = g.graph.As<IMediaControl>();
        control->Run();
        while (counter->calls.load() < kCameraFrames)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        control->Stop();
        frames += counter->calls.load();
    }
    state.SetItemsProcessed(frames);
    if (keep && !Ring().empty()) {
        // The same frames the ring benchmark sends, in the same order.
        std::ofstream out(BenchDir() + "/frames.mjpeg", std::ios::binary);
        for (int i = 0; i < kRingFrames; ++i) {
            const auto& f = Ring()[size_t(i) % Ring().size()];
            out.write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
        }
        std::ofstream(BenchDir() + "/frames.count") << kRingFrames << "\n";
    }
}
BENCHMARK(BM_CaptureUnpacedCamera)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_CapturePathRing(benchmark::State& state) {
    Register();
    if (Ring().empty()) {
        state.SkipWithError("no camera frames: run BM_CaptureUnpacedCamera first");
        return;
    }
    // The ring is replayed to make state.range(0) frames per run, as a
    // camera that cycles through pre-encoded frames would.
    const int count = int(state.range(0));
    long frames = 0;
    for (auto _ : state) {
        auto source = MakeCom<RingSource>();
        auto counter = MakeCom<Counter>(false);
        CaptureGraph g;
        if (!g.Build(source.Get(), BenchDir() + "/ring.avi", counter.Get())) {
            state.SkipWithError("the capture graph could not be built");
            break;
        }
        ComPtr<IMediaControl> control = g.graph.As<IMediaControl>();
        control->Run();
        for (int i = 0; i < count; ++i)
            if (source->Push(Ring()[size_t(i) % Ring().size()], REFERENCE_TIME(i) * 400000) != S_OK)
                break;
        control->Stop();  // The file is finished before the time stops.
        frames += counter->calls.load();
    }
    state.SetItemsProcessed(frames);
}
// All the ring's frames, and the first tenth of them: the difference is the
// path's rate with building the graph and finishing the file left out.
BENCHMARK(BM_CapturePathRing)
    ->Arg(kRingFrames)
    ->Arg(kRingFrames / 10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace
}  // namespace ronvix::media
