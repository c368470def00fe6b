#pragma once
// One file played out as "Print to Tape" plays it, through the real filters
// and the same graph-building calls: the File Source and the AVI Splitter,
// the video through a Sample Grabber that takes MJPG into the Virtual Tape
// Deck (which records it), "Stream 01" rendered with a Silent Audio Output
// in the graph. Files of an even length whose video reaches the deck play
// with its monitor shown (as the window shows it, so every frame is
// decoded for it), other files without (as ronvix-capture plays). Every output pin left
// unconnected then goes into a sink that takes samples as a renderer does,
// so every pin's pool is decided and used. The graph has no clock:
// everything is due at once.
//
// Shared by the AVI playback fuzz target and the test that replays its
// corpus, so both drive one path. No test framework here: PlayTapePath
// returns what happened and every broken promise it saw as text.
//
// Needs the engine, playback and device classes registered (RegisterAll)
// and $RONVIX_TAPE_DIR naming a writable folder.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/comptr.h"
#include "platform/com/object.h"
#include "platform/com/oleauto.h"
#include "platform/media/container/avidemux.h"
#include "platform/media/container/avisplitter.h"
#include "platform/media/core/filter.h"
#include "platform/media/core/graph.h"
#include "platform/media/core/interfaces.h"
#include "platform/media/core/pinutil.h"
#include "platform/media/devices/alsa/audiooutput.h"
#include "platform/media/devices/virtual/tapedeck.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media::test {

using com::FAILED;
using com::SUCCEEDED;

inline void RegisterTapePathClasses() {
    RegisterEngineClasses();
    RegisterPlaybackClasses();
    RegisterTapeDeck();
}

// A renderer that checks what it is given: the pool it was handed and each
// sample's length against its buffer.
class CheckingSink final : public BaseFilter {
public:
    class Pin final : public BaseInputPin {
    public:
        explicit Pin(CheckingSink& owner) : BaseInputPin(owner, u"In"), m_owner(owner) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
            return IsComplete(mt) ? com::S_OK : com::VFW_E_TYPE_NOT_ACCEPTED;
        }
        HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL read_only) override {
            ALLOCATOR_PROPERTIES props{};
            if (allocator && SUCCEEDED(allocator->GetProperties(&props))) {
                std::lock_guard guard(m_owner.m_lock);
                m_owner.m_pool = props;
            }
            return BaseInputPin::NotifyAllocator(allocator, read_only);
        }

    private:
        CheckingSink& m_owner;
    };

    CheckingSink() : BaseFilter(RONVIX_GUID("{5E1F0002-0000-4000-8000-00000000AA03}")) {
        m_pin = static_cast<Pin*>(AddPin(std::make_unique<Pin>(*this)));
    }
    IPin* Input() { return m_pin; }

    HRESULT OnReceive(BaseInputPin&, IMediaSample* sample) override {
        std::lock_guard guard(m_lock);
        ++m_samples;
        if (sample->GetActualDataLength() < 0 || sample->GetActualDataLength() > sample->GetSize())
            m_faults.push_back("a sample longer than its buffer");
        return com::S_OK;
    }
    ALLOCATOR_PROPERTIES Pool() {
        std::lock_guard guard(m_lock);
        return m_pool;
    }
    std::vector<std::string> Faults() {
        std::lock_guard guard(m_lock);
        return m_faults;
    }

private:
    Pin* m_pin = nullptr;
    std::mutex m_lock;
    // Guarded by m_lock.
    ALLOCATOR_PROPERTIES m_pool{};
    long m_samples = 0;
    std::vector<std::string> m_faults;
};

struct TapePathResult {
    HRESULT connect = com::S_OK;  // The file into the splitter.
    HRESULT run = com::S_OK;      // The first run of the graph.
    bool video_to_deck = false;   // The deck's input got connected.
    bool completed = false;       // EC_COMPLETE, from the start and after a seek.
    std::vector<std::string> faults;
};

// Plays `path` (of `file_bytes` bytes) from the start to its end, then
// (with `then_from_middle`) from its middle to its end; each wait is bounded
// by `timeout_ms`.
inline TapePathResult PlayTapePath(const std::u16string& path, int64_t file_bytes, int timeout_ms,
                                   bool then_from_middle = true) {
    using com::ComPtr;
    TapePathResult result;
    auto fault = [&](std::string text) { result.faults.push_back(std::move(text)); };

    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    graph.As<IMediaFilter>()->SetSyncSource(nullptr);
    ComPtr<ICaptureGraphBuilder2> builder;
    com::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, com::CLSCTX_INPROC_SERVER,
                          ICaptureGraphBuilder2::iid, builder.OutVoid());
    ComPtr<IBaseFilter> splitter, grabber, deck, audio;
    CreateAviSplitter(IBaseFilter::iid, splitter.OutVoid());
    com::CoCreateInstance(CLSID_SampleGrabber, nullptr, com::CLSCTX_INPROC_SERVER, IBaseFilter::iid,
                          grabber.OutVoid());
    CreateTapeDeck(IBaseFilter::iid, deck.OutVoid());
    CreateSilentAudioOutput(IBaseFilter::iid, audio.OutVoid());
    if (!builder || !splitter || !grabber || !deck || !audio) {
        fault("the filters of the path could not be made");
        return result;
    }
    builder->SetFiltergraph(graph.As<IGraphBuilder>().Get());
    AM_MEDIA_TYPE mjpg{};
    mjpg.majortype = MEDIATYPE_Video;
    mjpg.subtype = MEDIASUBTYPE_MJPG;
    grabber.As<ISampleGrabber>()->SetMediaType(&mjpg);
    graph->AddFilter(deck.Get(), u"VideoDestFilter");
    graph->AddFilter(audio.Get(), u"AudioDestFilter");
    graph->AddFilter(splitter.Get(), u"Splitter");
    graph->AddFilter(grabber.Get(), u"OutGrabber");

    ComPtr<IBaseFilter> source;
    if (FAILED(graph->AddSourceFilter(path.c_str(), path.c_str(), source.ReleaseAndGetAddressOf())))
        fault("the file source did not load the file");
    builder->RenderStream(nullptr, nullptr, source.Get(), splitter.Get(), grabber.Get());
    builder->RenderStream(nullptr, nullptr, grabber.Get(), nullptr, deck.Get());
    for (ComPtr<IPin>& pin : FilterPins(splitter.Get()))
        if (PinName(pin.Get()) == u"Stream 01")
            graph->Render(pin.Get());

    ComPtr<IPin> input;
    splitter->FindPin(u"Input", input.ReleaseAndGetAddressOf());
    ComPtr<IPin> peer;
    if (input && input->ConnectedTo(peer.ReleaseAndGetAddressOf()) == com::S_OK) {
        result.connect = com::S_OK;
    } else if (source) {
        // The refusal, as the file's own connection reports it.
        ComPtr<IPin> out;
        source->FindPin(u"Output", out.ReleaseAndGetAddressOf());
        result.connect =
            out && input ? graph->ConnectDirect(out.Get(), input.Get(), nullptr) : com::E_FAIL;
        if (SUCCEEDED(result.connect))
            fault("the file connected only when asked a second time");
    }
    ComPtr<IPin> deck_in;
    deck->FindPin(u"Video In", deck_in.ReleaseAndGetAddressOf());
    result.video_to_deck = deck_in && PinIsConnected(deck_in.Get());
    // A monitor shows what the deck receives; with nothing received it
    // would wait for ever, as a window does.
    ComPtr<CheckingSink> monitor;
    if (file_bytes % 2 == 0 && result.video_to_deck) {
        monitor = com::MakeCom<CheckingSink>();
        graph->AddFilter(monitor.Get(), u"VideoWindow1");
        builder->RenderStream(nullptr, nullptr, deck.Get(), nullptr, monitor.Get());
        if (!PinIsConnected(monitor->Input()))
            fault("the deck's monitor did not connect");
    }

    std::vector<ComPtr<CheckingSink>> sinks;
    for (ComPtr<IPin>& pin : FilterPins(splitter.Get())) {
        if (PinDirection(pin.Get()) != PINDIR_OUTPUT || PinIsConnected(pin.Get()))
            continue;
        sinks.push_back(com::MakeCom<CheckingSink>());
        graph->AddFilter(sinks.back().Get(), u"Sink");
        graph->ConnectDirect(pin.Get(), sinks.back()->Input(), nullptr);
    }
    // Buffers come from what the file holds, never from a size only a
    // header names.
    const int64_t most = std::max<int64_t>(file_bytes, kMinPacketBytes);
    for (ComPtr<CheckingSink>& sink : sinks) {
        const ALLOCATOR_PROPERTIES pool = sink->Pool();
        if (pool.cbBuffer > most || pool.cBuffers > 16)
            fault("a pool of " + std::to_string(pool.cBuffers) + " x " +
                  std::to_string(pool.cbBuffer) + " bytes for a file of " +
                  std::to_string(file_bytes));
    }

    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    ComPtr<IMediaEvent> events = graph.As<IMediaEvent>();
    result.run = control->Run();
    if (FAILED(result.connect) && result.run != result.connect)
        fault("a graph around a refused file ran, or failed for another reason");
    if (SUCCEEDED(result.run)) {
        LONG code = 0;
        events->WaitForCompletion(timeout_ms, &code);
        bool completed = code == EC_COMPLETE;
        LONGLONG duration = 0;
        ComPtr<IMediaSeeking> seeking = graph.As<IMediaSeeking>();
        LONGLONG middle = 0;
        // A file that cannot seek (no index) says so and plays on as it was:
        // it has nothing more to complete.
        if (then_from_middle && seeking && SUCCEEDED(seeking->GetDuration(&duration)) &&
            (middle = duration / 2,
             SUCCEEDED(seeking->SetPositions(&middle, AM_SEEKING_AbsolutePositioning, nullptr,
                                             AM_SEEKING_NoPositioning)))) {
            code = 0;
            events->WaitForCompletion(timeout_ms, &code);
            completed = completed && code == EC_COMPLETE;
        }
        result.completed = completed;
        if (!completed)
            fault("the play did not reach its end");
    }
    const auto stop_began = std::chrono::steady_clock::now();
    control->Stop();
    if (std::chrono::steady_clock::now() - stop_began > std::chrono::seconds(5))
        fault("Stop took longer than five seconds");
    if (monitor)
        sinks.push_back(monitor);
    for (ComPtr<CheckingSink>& sink : sinks)
        for (std::string& f : sink->Faults())
            fault(std::move(f));
    return result;
}

}  // namespace ronvix::media::test
