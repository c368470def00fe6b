// The MJPEG Compressor and Decompressor on 1080p frames, beside direct
// libjpeg-turbo calls on the same frames (the floor: what the library does
// with the picture already in its own layout). codec_vs_ffmpeg.sh runs this
// beside `ffmpeg -threads 1` on the same frames in one run.
//
// Input, in $RONVIX_BENCH_DIR (default /tmp):
//   frames.yuyv    raw 1920x1080 YUYV (studio range) frames, one after another
//   frames.mjpeg   JPEGs of 1920x1080, one after another (the decode input)
// $RONVIX_BENCH_TARGET_BYTES: the mean JPEG size to match (ffmpeg's at its
// quality); the JPEG quality whose mean size comes nearest is used for both
// encoders and reported, with the sizes, as counters.
//
// BM_EncodeCompressor      YUYV -> MJPG through the filter (pins, samples,
//                          the range expansion into planes, the coder)
// BM_EncodeDirect          tjCompressFromYUVPlanes of ready full-range
//                          4:2:2 planes (no conversion at all)
// BM_DecodeDecompressor    MJPG -> RGB32 full size through the filter
// BM_DecodeDecompressorYuy2  MJPG -> YUY2 full size through the filter (the
//                          stream's own samples, as ffmpeg's plain decode)
// BM_DecodeDirect          tjDecompress2 to BGRA, full size
// BM_DecodeDirectYuv       tjDecompressToYUVPlanes, full size (the floor
//                          of the YUY2 decode: planes without packing)
// BM_DecodePreview         the filter with a renderer drawing 384x216 (the
//                          capture page's 384x288 window, letterboxed):
//                          decoded at the DCT scale that covers it
// All run on the benchmark's thread (delivery is synchronous), so the CPU
// time is the codec path's own.

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "deliver_copy.h"
#include "platform/com/classregistry.h"
#include "platform/com/object.h"
#include "platform/media/codecs/codecs.h"
#include "platform/media/codecs/colourspace.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/core/filter.h"
#include "platform/media/core/graph.h"
#include "platform/media/core/pinutil.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media {
namespace {

using namespace com;

constexpr int kWidth = 1920, kHeight = 1080;
constexpr size_t kYuyvFrame = size_t(kWidth) * kHeight * 2;

std::string BenchDir() {
    const char* dir = std::getenv("RONVIX_BENCH_DIR");
    return dir && *dir ? dir : "/tmp";
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

const std::vector<std::vector<uint8_t>>& YuyvFrames() {
    static const std::vector<std::vector<uint8_t>> frames = [] {
        const std::vector<uint8_t> all = ReadFile(BenchDir() + "/frames.yuyv");
        std::vector<std::vector<uint8_t>> out;
        for (size_t at = 0; at + kYuyvFrame <= all.size(); at += kYuyvFrame)
            out.emplace_back(all.begin() + std::ptrdiff_t(at),
                             all.begin() + std::ptrdiff_t(at + kYuyvFrame));
        return out;
    }();
    return frames;
}

const std::vector<std::vector<uint8_t>>& JpegFrames() {
    static const std::vector<std::vector<uint8_t>> frames = [] {
        const std::vector<uint8_t> all = ReadFile(BenchDir() + "/frames.mjpeg");
        std::vector<std::vector<uint8_t>> out;
        size_t start = 0;
        for (size_t i = 2; i + 2 < all.size(); ++i)
            if (all[i - 2] == 0xFF && all[i - 1] == 0xD9 && all[i] == 0xFF && all[i + 1] == 0xD8) {
                out.emplace_back(all.begin() + std::ptrdiff_t(start),
                                 all.begin() + std::ptrdiff_t(i));
                start = i;
            }
        if (start + 2 < all.size())
            out.emplace_back(all.begin() + std::ptrdiff_t(start), all.end());
        return out;
    }();
    return frames;
}

// The planes the direct encoder starts from: what the library takes as is.
const std::vector<YuvPlanes>& Planes() {
    static const std::vector<YuvPlanes> planes = [] {
        std::vector<YuvPlanes> out;
        for (const auto& f : YuyvFrames()) {
            out.emplace_back();
            StudioYuvToPlanes(f.data(), YuvLayout::Yuy2, kWidth, kHeight, &out.back());
        }
        return out;
    }();
    return planes;
}

size_t EncodePlanes(tjhandle h, const YuvPlanes& p, int quality, std::vector<uint8_t>& dst) {
    const unsigned char* planes[3] = {p.y.data(), p.u.data(), p.v.data()};
    const int strides[3] = {p.width, p.ChromaWidth(), p.ChromaWidth()};
    unsigned char* out = dst.data();
    unsigned long size = static_cast<unsigned long>(dst.size());
    if (tjCompressFromYUVPlanes(h, planes, p.width, strides, p.height, TJSAMP_422, &out, &size,
                                quality, TJFLAG_NOREALLOC | TJFLAG_FASTDCT) != 0)
        return 0;
    return size;
}

// The quality whose mean size over the frames comes nearest the target
// (quality 90 without one).
int MatchedQuality() {
    static const int quality = [] {
        const char* target_text = std::getenv("RONVIX_BENCH_TARGET_BYTES");
        const double target = target_text ? std::atof(target_text) : 0;
        if (target <= 0 || Planes().empty())
            return 90;
        tjhandle h = tjInitCompress();
        std::vector<uint8_t> dst(tjBufSize(kWidth, kHeight, TJSAMP_422));
        int best = 90;
        double best_off = 1e300;
        for (int q = 50; q <= 100; ++q) {
            double total = 0;
            for (const YuvPlanes& p : Planes())
                total += double(EncodePlanes(h, p, q, dst));
            const double off = std::abs(total / double(Planes().size()) - target);
            if (off < best_off) {
                best_off = off;
                best = q;
            }
        }
        tjDestroy(h);
        return best;
    }();
    return quality;
}

// A source whose pin the benchmark thread pushes frames through.
class PushSource final : public BaseFilter {
public:
    class Pin final : public BaseOutputPin {
    public:
        Pin(BaseFilter& f, MediaType type, LONG buffer)
            : BaseOutputPin(f, u"Out"), m_type(std::move(type)), m_buffer(buffer) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            return mt.subtype == m_type->subtype ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        std::vector<MediaType> OfferedTypes() override { return {m_type}; }

    protected:
        HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES& props) override {
            props.cBuffers = 2;
            props.cbBuffer = m_buffer;
            return S_OK;
        }

    private:
        MediaType m_type;
        LONG m_buffer;
    };
    PushSource(MediaType type, LONG buffer)
        : BaseFilter(RONVIX_GUID("{5E1F00C0-0000-4000-8000-0000000000C0}")) {
        pin = static_cast<Pin*>(AddPin(std::make_unique<Pin>(*this, std::move(type), buffer)));
    }
    HRESULT Push(const std::vector<uint8_t>& frame, REFERENCE_TIME start) {
        return bench::DeliverCopy(*pin, frame, start, 333333, false);
    }
    Pin* pin = nullptr;
};

// A sink that counts bytes; with a draw size it answers as a renderer
// showing the picture that big.
class CountSink final : public BaseFilter {
public:
    class Pin final : public BaseInputPin, public IVideoDrawSize {
    public:
        Pin(CountSink& owner) : BaseInputPin(owner, u"In"), m_owner(owner) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            return mt.subtype == m_owner.m_accept ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        std::vector<MediaType> OfferedTypes() override { return {}; }
        HRESULT QueryInterface(REFIID riid, void** out) override {
            return BaseInputPin::QueryInterface(riid, out);
        }
        ULONG AddRef() override { return BaseInputPin::AddRef(); }
        ULONG Release() override { return BaseInputPin::Release(); }
        HRESULT GetDrawSize(LONG* w, LONG* h) override {
            *w = m_owner.m_draw_width;
            *h = m_owner.m_draw_height;
            return S_OK;
        }

    protected:
        HRESULT QueryPinInterface(REFIID riid, void** out) override {
            if (riid == IVideoDrawSize::iid && m_owner.m_draw_width > 0)
                return ReturnInterface<IVideoDrawSize>(this, out);
            return BaseInputPin::QueryPinInterface(riid, out);
        }

    private:
        CountSink& m_owner;
    };
    CountSink(GUID accept, LONG draw_width, LONG draw_height)
        : BaseFilter(RONVIX_GUID("{5E1F00C1-0000-4000-8000-0000000000C1}")),
          m_accept(accept),
          m_draw_width(draw_width),
          m_draw_height(draw_height) {
        pin = static_cast<Pin*>(AddPin(std::make_unique<Pin>(*this)));
    }
    HRESULT OnReceive(BaseInputPin&, IMediaSample* sample) override {
        bytes += sample->GetActualDataLength();
        ++frames;
        return S_OK;
    }
    Pin* pin = nullptr;
    int64_t bytes = 0;
    int64_t frames = 0;

private:
    GUID m_accept;
    LONG m_draw_width, m_draw_height;
};

ComPtr<IPin> PinNamed(IBaseFilter* filter, std::u16string_view name) {
    for (ComPtr<IPin>& pin : FilterPins(filter))
        if (PinName(pin.Get()) == name)
            return pin;
    return nullptr;
}

// source -> filter -> sink, running.
struct Chain {
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<PushSource> source;
    ComPtr<CountSink> sink;
    ComPtr<IBaseFilter> filter;

    bool Build(const ClassEntry& entry, MediaType in, LONG in_buffer, GUID out, LONG draw_width = 0,
               LONG draw_height = 0) {
        RegisterEngineClasses();
        source = MakeCom<PushSource>(std::move(in), in_buffer);
        sink = MakeCom<CountSink>(out, draw_width, draw_height);
        if (entry.create(IBaseFilter::iid, filter.OutVoid()) != S_OK)
            return false;
        graph->AddFilter(source.Get(), u"Source");
        graph->AddFilter(filter.Get(), u"Filter");
        graph->AddFilter(sink.Get(), u"Sink");
        ComPtr<IPin> filter_in = PinNamed(filter.Get(), u"XForm In");
        ComPtr<IPin> filter_out = PinNamed(filter.Get(), u"XForm Out");
        return filter_in && filter_out &&
               graph->ConnectDirect(source->pin, filter_in.Get(), nullptr) == S_OK &&
               graph->ConnectDirect(filter_out.Get(), sink->pin, nullptr) == S_OK &&
               SUCCEEDED(graph.As<IMediaControl>()->Run());
    }
    ~Chain() {
        if (ComPtr<IMediaControl> control = graph.As<IMediaControl>())
            control->Stop();
    }
};

void BM_EncodeCompressor(benchmark::State& state) {
    const auto& frames = YuyvFrames();
    if (frames.empty()) {
        state.SkipWithError("no frames.yuyv");
        return;
    }
    Chain chain;
    if (!chain.Build(MjpegCompressorClassEntry(),
                     MediaType::Video(MEDIASUBTYPE_YUY2, kWidth, kHeight, 16, 333333),
                     LONG(kYuyvFrame), MEDIASUBTYPE_MJPG)) {
        state.SkipWithError("the compressor could not be connected");
        return;
    }
    const int quality = MatchedQuality();
    chain.filter.As<IAMVideoCompression>()->put_Quality(quality / 100.0);
    size_t i = 0;
    for (auto _ : state) {
        chain.source->Push(frames[i % frames.size()], REFERENCE_TIME(i) * 333333);
        ++i;
    }
    state.counters["quality"] = quality;
    state.counters["bytes_per_frame"] =
        chain.sink->frames ? double(chain.sink->bytes) / double(chain.sink->frames) : 0;
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EncodeCompressor)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_EncodeDirect(benchmark::State& state) {
    const auto& planes = Planes();
    if (planes.empty()) {
        state.SkipWithError("no frames.yuyv");
        return;
    }
    const int quality = MatchedQuality();
    tjhandle h = tjInitCompress();
    std::vector<uint8_t> dst(tjBufSize(kWidth, kHeight, TJSAMP_422));
    size_t i = 0;
    double bytes = 0;
    for (auto _ : state)
        bytes += double(EncodePlanes(h, planes[i++ % planes.size()], quality, dst));
    tjDestroy(h);
    state.counters["quality"] = quality;
    state.counters["bytes_per_frame"] = bytes / double(std::max<size_t>(1, i));
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EncodeDirect)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void Decode(benchmark::State& state, const GUID& out, LONG draw_width, LONG draw_height) {
    const auto& frames = JpegFrames();
    if (frames.empty()) {
        state.SkipWithError("no frames.mjpeg");
        return;
    }
    Chain chain;
    if (!chain.Build(MjpegDecompressorClassEntry(),
                     MediaType::Video(MEDIASUBTYPE_MJPG, kWidth, kHeight, 24, 333333), 4 << 20, out,
                     draw_width, draw_height)) {
        state.SkipWithError("the decompressor could not be connected");
        return;
    }
    size_t i = 0;
    for (auto _ : state) {
        chain.source->Push(frames[i % frames.size()], REFERENCE_TIME(i) * 333333);
        ++i;
    }
    state.counters["out_bytes_per_frame"] =
        chain.sink->frames ? double(chain.sink->bytes) / double(chain.sink->frames) : 0;
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DecodeDecompressor(benchmark::State& state) {
    Decode(state, MEDIASUBTYPE_RGB32, 0, 0);
}
BENCHMARK(BM_DecodeDecompressor)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_DecodeDecompressorYuy2(benchmark::State& state) {
    Decode(state, MEDIASUBTYPE_YUY2, 0, 0);
}
BENCHMARK(BM_DecodeDecompressorYuy2)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_DecodePreview(benchmark::State& state) {
    Decode(state, MEDIASUBTYPE_RGB32, 384, 216);
}
BENCHMARK(BM_DecodePreview)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The library called directly on each frame in turn: `decode(handle, jpeg)`.
template <typename Decode>
void DecodeDirect(benchmark::State& state, Decode decode) {
    const auto& frames = JpegFrames();
    if (frames.empty()) {
        state.SkipWithError("no frames.mjpeg");
        return;
    }
    tjhandle h = tjInitDecompress();
    size_t i = 0;
    for (auto _ : state)
        decode(h, frames[i++ % frames.size()]);
    tjDestroy(h);
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DecodeDirect(benchmark::State& state) {
    std::vector<uint8_t> dst(size_t(kWidth) * kHeight * 4);
    DecodeDirect(state, [&](tjhandle h, const std::vector<uint8_t>& f) {
        tjDecompress2(h, f.data(), static_cast<unsigned long>(f.size()), dst.data(), kWidth,
                      kWidth * 4, kHeight, TJPF_BGRA, TJFLAG_FASTDCT);
    });
}
BENCHMARK(BM_DecodeDirect)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_DecodeDirectYuv(benchmark::State& state) {
    std::vector<uint8_t> y(size_t(kWidth) * kHeight), u(y.size() / 2), v(y.size() / 2);
    unsigned char* planes[3] = {y.data(), u.data(), v.data()};
    int strides[3] = {kWidth, kWidth / 2, kWidth / 2};
    DecodeDirect(state, [&](tjhandle h, const std::vector<uint8_t>& f) {
        tjDecompressToYUVPlanes(h, f.data(), static_cast<unsigned long>(f.size()), planes, kWidth,
                                strides, kHeight, TJFLAG_FASTDCT);
    });
}
BENCHMARK(BM_DecodeDirectYuv)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
}  // namespace ronvix::media

BENCHMARK_MAIN();
