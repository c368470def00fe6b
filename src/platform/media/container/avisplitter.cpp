// The AVI Splitter: reads an AVI file pulled from a File Source and pushes
// each stream's packets out of its own pin. See avisplitter.h.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/com/oleauto.h"
#include "platform/media/container/avidemux.h"
#include "platform/media/container/avisplitter.h"
#include "platform/media/core/filter.h"
#include "platform/media/core/sample.h"

namespace ronvix::media {

using namespace com;

namespace {

// What one output pin's pool may take when its packets are large.
constexpr int64_t kPoolBudgetBytes = int64_t(64) << 20;

constexpr DWORD kSeekingCaps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                               AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                               AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;

class AviSplitter;

std::u16string StreamPinName(size_t index) {
    char text[32];  // "Stream " and up to 20 digits of a size_t.
    std::snprintf(text, sizeof(text), "Stream %02zu", index);
    return ToUtf16(text);
}

class SplitterInputPin final : public BaseInputPin {
public:
    explicit SplitterInputPin(AviSplitter& splitter);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        return mt.majortype == MEDIATYPE_Stream &&
                       (mt.subtype == MEDIASUBTYPE_Avi || mt.subtype == GUID_NULL)
                   ? S_OK
                   : VFW_E_TYPE_NOT_ACCEPTED;
    }
    // The file must be readable before the connection stands, so that a bad
    // file fails the connection with a clear result.
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;

private:
    AviSplitter& m_splitter;
};

// One stream of the file. Its IMediaSeeking speaks for the whole splitter:
// the file has one reader, so seeking any pin moves every stream.
class SplitterOutputPin final : public BaseOutputPin, public IMediaSeeking {
public:
    SplitterOutputPin(AviSplitter& splitter, size_t index);

    ULONG AddRef() override { return BasePin::AddRef(); }
    ULONG Release() override { return BasePin::Release(); }
    HRESULT QueryInterface(REFIID riid, void** out) override {
        return BasePin::QueryInterface(riid, out);
    }

    // Control thread (the splitter's control lock).
    void SetStream(const DemuxStream* stream) {
        std::lock_guard guard(m_type_lock);
        if (stream) {
            m_type = stream->type;
            m_max_packet = stream->max_packet_bytes;
        } else {
            m_type = MediaType();
            m_max_packet = 0;
        }
    }
    bool HasStream() const {
        std::lock_guard guard(m_type_lock);
        return m_type->majortype != GUID_NULL;
    }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        std::lock_guard guard(m_type_lock);
        const AM_MEDIA_TYPE& own = m_type.Get();
        if (own.majortype == GUID_NULL)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return mt.majortype == own.majortype && mt.subtype == own.subtype &&
                       mt.formattype == own.formattype && mt.cbFormat == own.cbFormat &&
                       (own.cbFormat == 0 ||
                        std::memcmp(mt.pbFormat, own.pbFormat, own.cbFormat) == 0)
                   ? S_OK
                   : VFW_E_TYPE_NOT_ACCEPTED;
    }
    std::vector<MediaType> OfferedTypes() override {
        std::lock_guard guard(m_type_lock);
        if (m_type->majortype == GUID_NULL)
            return {};
        return {m_type};
    }

    // IMediaSeeking (control thread).
    HRESULT GetCapabilities(DWORD* caps) override {
        if (!caps)
            return E_POINTER;
        *caps = kSeekingCaps;
        return S_OK;
    }
    HRESULT CheckCapabilities(DWORD* caps) override {
        if (!caps)
            return E_POINTER;
        const DWORD wanted = *caps;
        *caps &= kSeekingCaps;
        return *caps == wanted ? S_OK : (*caps ? S_FALSE : E_FAIL);
    }
    HRESULT IsFormatSupported(const GUID* format) override {
        if (!format)
            return E_POINTER;
        return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
    }
    HRESULT QueryPreferredFormat(GUID* format) override { return GetTimeFormat(format); }
    HRESULT GetTimeFormat(GUID* format) override {
        if (!format)
            return E_POINTER;
        *format = TIME_FORMAT_MEDIA_TIME;
        return S_OK;
    }
    HRESULT IsUsingTimeFormat(const GUID* format) override { return IsFormatSupported(format); }
    HRESULT SetTimeFormat(const GUID* format) override {
        if (!format)
            return E_POINTER;
        return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
    }
    HRESULT GetDuration(LONGLONG* duration) override;
    HRESULT GetStopPosition(LONGLONG* stop) override;
    HRESULT GetCurrentPosition(LONGLONG* current) override;
    HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* target_format, LONGLONG source,
                              const GUID* source_format) override {
        if (!target)
            return E_POINTER;
        if ((target_format && *target_format != TIME_FORMAT_MEDIA_TIME) ||
            (source_format && *source_format != TIME_FORMAT_MEDIA_TIME))
            return E_INVALIDARG;
        *target = source;
        return S_OK;
    }
    HRESULT SetPositions(LONGLONG* current, DWORD current_flags, LONGLONG* stop,
                         DWORD stop_flags) override;
    HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override {
        HRESULT hr = S_OK;
        if (current)
            hr = GetCurrentPosition(current);
        if (SUCCEEDED(hr) && stop)
            hr = GetStopPosition(stop);
        return hr;
    }
    HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override {
        if (earliest)
            *earliest = 0;
        return latest ? GetDuration(latest) : S_OK;
    }
    HRESULT SetRate(double rate) override { return rate == 1.0 ? S_OK : E_NOTIMPL; }
    HRESULT GetRate(double* rate) override {
        if (!rate)
            return E_POINTER;
        *rate = 1.0;
        return S_OK;
    }
    HRESULT GetPreroll(LONGLONG* preroll) override {
        if (!preroll)
            return E_POINTER;
        *preroll = 0;
        return S_OK;
    }

protected:
    HRESULT QueryPinInterface(REFIID riid, void** out) override {
        if (riid == IMediaSeeking::iid)
            return ReturnInterface<IMediaSeeking>(this, out);
        return BasePin::QueryPinInterface(riid, out);
    }
    // Buffers hold the largest packet the file can deliver on this stream
    // (see DemuxStream): never a size only a header field names. A pool of
    // very large packets gets fewer buffers, so one pool stays near
    // kPoolBudgetBytes whatever the file.
    HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES& props) override {
        std::lock_guard guard(m_type_lock);
        const int64_t size = std::clamp(m_max_packet, kMinPacketBytes, kMaxPacketBytes);
        const LONG wanted = m_type.WaveFormat() ? 16 : 8;
        const LONG affordable = static_cast<LONG>(std::max<int64_t>(kPoolBudgetBytes / size, 2));
        props.cBuffers = std::max<LONG>(props.cBuffers, std::min(wanted, affordable));
        props.cbBuffer = std::max<LONG>(props.cbBuffer, static_cast<LONG>(size));
        return S_OK;
    }

private:
    AviSplitter& m_splitter;
    mutable std::mutex m_type_lock;
    // Guarded by m_type_lock.
    MediaType m_type;
    int64_t m_max_packet = 0;
};

class AviSplitter final : public BaseFilter {
public:
    AviSplitter() : BaseFilter(CLSID_AviSplitter) {
        m_input = static_cast<SplitterInputPin*>(AddPin(std::make_unique<SplitterInputPin>(*this)));
    }
    ~AviSplitter() override { StopThread(); }

    // Control thread, under the control lock: the input's file is readable.
    void Attach(std::unique_ptr<AviDemuxer> demux) {
        const std::vector<DemuxStream>& streams = demux->Streams();
        for (size_t i = 0; i < std::max(streams.size(), m_outputs.size()); ++i) {
            if (i == m_outputs.size())
                m_outputs.push_back(static_cast<SplitterOutputPin*>(
                    AddPin(std::make_unique<SplitterOutputPin>(*this, i))));
            m_outputs[i]->SetStream(i < streams.size() ? &streams[i] : nullptr);
        }
        m_refused = S_OK;
        std::lock_guard guard(m_read_lock);
        m_duration = demux->Duration();
        m_stop = m_duration;
        m_segment_start = 0;
        m_last_delivered = 0;
        m_resume = false;
        m_demux = std::move(demux);
    }

    // Control thread, under the control lock: the input refused a file
    // with `reason`.
    void Refuse(HRESULT reason) { m_refused = reason; }

    // A filter that leaves its graph forgets the file it refused there.
    HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        {
            std::lock_guard control(ControlLock());
            m_refused = S_OK;
        }
        return BaseFilter::JoinFilterGraph(graph, name);
    }

    void OnDisconnected(BasePin& pin) override {
        if (&pin != m_input)
            return;
        // The reader goes with the connection; a running thread must not
        // outlive it.
        StopThread();
        if (State() != State_Stopped) {
            for (SplitterOutputPin* out : m_outputs) {
                if (!out->IsConnected())
                    continue;
                out->SetActive(true);
                out->DeliverEndOfStream();
            }
        }
        std::lock_guard guard(m_read_lock);
        m_demux.reset();
    }
    // Pull mode: nothing arrives on the input, so its end means nothing.
    void OnEndOfStream(BaseInputPin&) override {}

    // Seeking, from the output pins (control thread).
    HRESULT Duration(LONGLONG* duration) {
        if (!duration)
            return E_POINTER;
        std::lock_guard guard(m_read_lock);
        if (!m_demux)
            return VFW_E_NOT_CONNECTED;
        *duration = m_duration;
        return S_OK;
    }
    HRESULT StopPosition(LONGLONG* stop) {
        if (!stop)
            return E_POINTER;
        std::lock_guard guard(m_read_lock);
        if (!m_demux)
            return VFW_E_NOT_CONNECTED;
        *stop = m_stop;
        return S_OK;
    }
    HRESULT CurrentPosition(LONGLONG* current) {
        if (!current)
            return E_POINTER;
        std::lock_guard guard(m_read_lock);
        if (!m_demux)
            return VFW_E_NOT_CONNECTED;
        *current = std::max(m_segment_start, m_last_delivered);
        return S_OK;
    }
    HRESULT SetPositions(LONGLONG* current, DWORD current_flags, LONGLONG* stop, DWORD stop_flags);

protected:
    HRESULT OnActivate() override {
        // A graph built around a file the splitter refused would run with
        // nothing to play: it fails to start with the reason instead.
        if (FAILED(m_refused) && !m_input->IsConnected())
            return m_refused;
        std::lock_guard guard(m_read_lock);
        if (!m_demux)
            return S_OK;
        if (m_resume) {
            // A stopped graph goes on from where it stopped.
            m_demux->Seek(m_segment_start);
            m_resume = false;
        }
        StartThreadLocked();
        return S_OK;
    }
    void OnStopRequest() override { m_thread.request_stop(); }
    void OnStopJoin() override {
        if (m_thread.joinable())
            m_thread.join();
        std::lock_guard guard(m_read_lock);
        m_segment_start = std::max(m_segment_start, m_last_delivered);
        m_resume = true;
    }

private:
    void StartThreadLocked() {
        m_thread = std::jthread([this](std::stop_token stop) { Stream(stop); });
    }
    // Wakes and joins the streaming thread. Control thread; the streaming
    // thread never takes the control lock, so holding it here is safe.
    void StopThread() {
        if (!m_thread.joinable())
            return;
        m_thread.request_stop();
        for (SplitterOutputPin* out : m_outputs)
            if (out->IsConnected())
                out->SetActive(false);  // Decommits: a wait for a buffer ends.
        m_thread.join();
        for (SplitterOutputPin* out : m_outputs)
            if (out->IsConnected())
                out->FinishStop();
    }

    void Stream(std::stop_token stop);

    SplitterInputPin* m_input = nullptr;
    std::vector<SplitterOutputPin*> m_outputs;  // Control lock; only grows.
    std::jthread m_thread;                      // Control lock.
    HRESULT m_refused = S_OK;  // Control lock: why the last file offered was refused.

    std::mutex m_read_lock;
    // Guarded by m_read_lock (taken by the streaming thread around each
    // read, and by control calls).
    std::unique_ptr<AviDemuxer> m_demux;
    REFERENCE_TIME m_duration = 0;
    REFERENCE_TIME m_stop = 0;
    REFERENCE_TIME m_segment_start = 0;   // File position of stream time zero.
    REFERENCE_TIME m_last_delivered = 0;  // File time of the last sample taken downstream.
    bool m_resume = false;                // Seek to m_segment_start when next activated.
};

SplitterOutputPin::SplitterOutputPin(AviSplitter& splitter, size_t index)
    : BaseOutputPin(splitter, StreamPinName(index)), m_splitter(splitter) {}

SplitterInputPin::SplitterInputPin(AviSplitter& splitter)
    : BaseInputPin(splitter, u"Input"), m_splitter(splitter) {}

HRESULT SplitterInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (!connector || !mt)
        return E_POINTER;
    std::lock_guard control(m_filter.ControlLock());
    if (IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (m_filter.State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (FAILED(CheckMediaType(*mt)))
        return VFW_E_TYPE_NOT_ACCEPTED;
    ComPtr<IAsyncReader> reader;
    if (FAILED(connector->QueryInterface(IAsyncReader::iid, reader.OutVoid())) || !reader)
        return VFW_E_NO_TRANSPORT;
    LONGLONG total = 0;
    if (FAILED(reader->Length(&total, nullptr))) {
        m_splitter.Refuse(VFW_E_FILE_TOO_SHORT);
        return VFW_E_FILE_TOO_SHORT;
    }
    ByteReader bytes;
    bytes.length = total;
    bytes.read = [reader, total](int64_t position, uint8_t* buffer, int64_t size) -> int64_t {
        if (size > INT32_MAX)
            size = INT32_MAX;
        const HRESULT hr = reader->SyncRead(position, static_cast<LONG>(size), buffer);
        if (FAILED(hr))
            return -1;
        return hr == S_OK ? size : std::clamp<int64_t>(total - position, 0, size);
    };
    std::unique_ptr<AviDemuxer> demux;
    HRESULT hr = AviDemuxer::Open(std::move(bytes), &demux);
    if (FAILED(hr)) {
        m_splitter.Refuse(hr);
        return hr;
    }
    hr = BaseInputPin::ReceiveConnection(connector, mt);
    if (FAILED(hr))
        return hr;
    m_splitter.Attach(std::move(demux));
    return S_OK;
}

HRESULT SplitterOutputPin::GetDuration(LONGLONG* duration) {
    return m_splitter.Duration(duration);
}
HRESULT SplitterOutputPin::GetStopPosition(LONGLONG* stop) {
    return m_splitter.StopPosition(stop);
}
HRESULT SplitterOutputPin::GetCurrentPosition(LONGLONG* current) {
    return m_splitter.CurrentPosition(current);
}
HRESULT SplitterOutputPin::SetPositions(LONGLONG* current, DWORD current_flags, LONGLONG* stop,
                                        DWORD stop_flags) {
    return m_splitter.SetPositions(current, current_flags, stop, stop_flags);
}

HRESULT AviSplitter::SetPositions(LONGLONG* current, DWORD current_flags, LONGLONG* stop,
                                  DWORD stop_flags) {
    const DWORD how = current_flags & AM_SEEKING_PositioningBitsMask;
    const DWORD stop_how = stop_flags & AM_SEEKING_PositioningBitsMask;
    if ((how != AM_SEEKING_NoPositioning && !current) ||
        (stop_how != AM_SEEKING_NoPositioning && !stop))
        return E_POINTER;
    std::lock_guard control(ControlLock());
    REFERENCE_TIME target = 0;
    {
        std::lock_guard guard(m_read_lock);
        if (!m_demux)
            return VFW_E_NOT_CONNECTED;
        if (stop_how != AM_SEEKING_NoPositioning) {
            const REFERENCE_TIME base = stop_how == AM_SEEKING_RelativePositioning ? m_stop : 0;
            m_stop = std::clamp<REFERENCE_TIME>(base + *stop, 0, m_duration);
        }
        if (how == AM_SEEKING_NoPositioning)
            return S_OK;
        const REFERENCE_TIME now = std::max(m_segment_start, m_last_delivered);
        const REFERENCE_TIME base = how == AM_SEEKING_RelativePositioning ? now : 0;
        target = std::clamp<REFERENCE_TIME>(base + *current, 0, m_duration);
    }
    const bool streaming = State() != State_Stopped && m_thread.joinable();
    if (streaming) {
        // Everything downstream lets go of what it holds, the one reader
        // thread stops, and a new segment starts at the target.
        for (SplitterOutputPin* out : m_outputs)
            if (out->IsConnected())
                out->DeliverBeginFlush();
        StopThread();
    }
    HRESULT hr = S_OK;
    {
        // A seek the file cannot make (no index, say) keeps the segment:
        // reading goes on with the times it had, and the caller is told.
        std::lock_guard guard(m_read_lock);
        hr = m_demux->Seek(target);
        if (SUCCEEDED(hr)) {
            m_segment_start = target;
            m_last_delivered = target;
        }
        m_resume = false;
    }
    if (streaming) {
        for (SplitterOutputPin* out : m_outputs) {
            if (!out->IsConnected())
                continue;
            out->SetActive(true);
            out->DeliverEndFlush();
        }
        std::lock_guard guard(m_read_lock);
        StartThreadLocked();
    }
    if (current && SUCCEEDED(hr))
        *current = target;
    return hr;
}

void AviSplitter::Stream(std::stop_token stop) {
    REFERENCE_TIME segment = 0, stop_at = 0;
    {
        std::lock_guard guard(m_read_lock);
        segment = m_segment_start;
        stop_at = m_stop;
    }
    std::vector<SplitterOutputPin*> outputs = m_outputs;  // Fixed while the thread runs.
    std::vector<bool> first(outputs.size(), true);
    for (SplitterOutputPin* out : outputs)
        if (out->IsConnected())
            out->DeliverNewSegment(segment, stop_at, 1.0);

    DemuxPacket packet;
    while (!stop.stop_requested()) {
        HRESULT hr = S_OK;
        {
            std::lock_guard guard(m_read_lock);
            hr = m_demux ? m_demux->Next(&packet) : S_FALSE;
            stop_at = m_stop;
        }
        if (hr != S_OK || packet.start >= stop_at)
            break;
        if (size_t(packet.stream) >= outputs.size())
            continue;
        SplitterOutputPin* out = outputs[size_t(packet.stream)];
        if (!out->IsConnected())
            continue;
        ComPtr<IMediaSample> sample;
        if (FAILED(out->GetDeliveryBuffer(sample.ReleaseAndGetAddressOf(), 0)) || !sample)
            continue;  // Stopping (the pool was decommitted) or disconnected.
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (!data || packet.data.size() > size_t(sample->GetSize()))
            continue;  // Larger than the file lets a packet of this stream be: corrupt.
        std::memcpy(data, packet.data.data(), packet.data.size());
        sample->SetActualDataLength(static_cast<LONG>(packet.data.size()));
        REFERENCE_TIME start = packet.start - segment, end = packet.stop - segment;
        sample->SetTime(&start, &end);
        sample->SetSyncPoint(packet.sync);
        sample->SetDiscontinuity(first[size_t(packet.stream)]);
        first[size_t(packet.stream)] = false;
        hr = out->Deliver(sample.Get());
        if (hr == S_OK) {
            std::lock_guard guard(m_read_lock);
            m_last_delivered = std::max(m_last_delivered, packet.start);
        }
    }
    if (stop.stop_requested())
        return;
    for (SplitterOutputPin* out : outputs)
        if (out->IsConnected())
            out->DeliverEndOfStream();
}

}  // namespace

HRESULT CreateAviSplitter(REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    ComPtr<AviSplitter> splitter = MakeCom<AviSplitter>();
    return splitter->QueryInterface(riid, out);
}

ClassEntry AviSplitterClassEntry() {
    return {CLSID_AviSplitter,
            "AVI Splitter",
            CreateAviSplitter,
            MERIT_NORMAL,
            {CLSID_LegacyAmFilterCategory}};
}

void RegisterPlaybackClasses() {
    ClassRegistry& registry = ClassRegistry::Instance();
    registry.Register(FileSourceClassEntry());
    registry.Register(AviSplitterClassEntry());
}

}  // namespace ronvix::media
