#include "platform/media/devices/captureparts.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>

#include "platform/media/codecs/colourspace.h"
#include "platform/media/codecs/jpegcodec.h"
#include "platform/media/codecs/videotransform.h"
#include "platform/media/devices/livesource.h"
#include "platform/media/devices/propertypages.h"

namespace ronvix::media {

using namespace com;

namespace {
constexpr size_t kDroppedHistory = 64;
}  // namespace

HRESULT CameraPages::GetPages(CAUUID* pages) {
    static constexpr GUID ids[] = {CLSID_VideoProcAmpPropertyPage, CLSID_CapturePropertyPage};
    return FillPages(pages, ids, 2);
}

void DropCounter::Reset() {
    std::lock_guard guard(m_lock);
    m_dropped = m_delivered = 0;
    m_bytes = 0;
    m_history.clear();
}

void DropCounter::Dropped(uint32_t first, uint32_t count) {
    std::lock_guard guard(m_lock);
    m_dropped += static_cast<LONG>(count);
    // Only the most recent numbers are kept, so a long gap costs no more.
    const uint32_t keep = std::min<uint32_t>(count, kDroppedHistory);
    for (uint32_t i = count - keep; i < count; ++i)
        m_history.push_back(static_cast<LONG>(first + i));
    while (m_history.size() > kDroppedHistory)
        m_history.pop_front();
}

void DropCounter::Delivered(size_t bytes) {
    std::lock_guard guard(m_lock);
    ++m_delivered;
    m_bytes += bytes;
}

HRESULT DropCounter::GetNumDropped(LONG* dropped) {
    if (!dropped)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    *dropped = m_dropped;
    return S_OK;
}

HRESULT DropCounter::GetNumNotDropped(LONG* not_dropped) {
    if (!not_dropped)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    *not_dropped = m_delivered;
    return S_OK;
}

HRESULT DropCounter::GetDroppedInfo(LONG size, LONG* array, LONG* copied) {
    if (!array || !copied)
        return E_POINTER;
    if (size <= 0)
        return E_INVALIDARG;
    std::lock_guard guard(m_lock);
    const size_t n = std::min<size_t>(size_t(size), m_history.size());
    std::copy(m_history.end() - ptrdiff_t(n), m_history.end(), array);
    *copied = static_cast<LONG>(n);
    return S_OK;
}

HRESULT DropCounter::GetAverageFrameSize(LONG* average) {
    if (!average)
        return E_POINTER;
    std::lock_guard guard(m_lock);
    *average = m_delivered ? static_cast<LONG>(m_bytes / uint64_t(m_delivered)) : 0;
    return S_OK;
}

MediaType CaptureMediaType(const CaptureFormat& f) {
    if (f.subtype == MEDIASUBTYPE_MJPG) {
        MediaType t = MediaType::Video(MEDIASUBTYPE_MJPG, f.width, f.height, 24, f.period);
        VIDEOINFOHEADER vih = *t.VideoInfo();
        vih.bmiHeader.biSizeImage = static_cast<DWORD>(JpegEncoder::MaxSize(f.width, f.height));
        const uint64_t period = f.period > 0 ? uint64_t(f.period) : 400'000;
        vih.dwBitRate = static_cast<DWORD>(std::min<uint64_t>(
            UINT32_MAX, uint64_t(vih.bmiHeader.biSizeImage) * 8 * 10'000'000 / period / 4));
        t.SetFormat(&vih, sizeof vih);
        return t;
    }
    return MediaType::Video(f.subtype, f.width, f.height, BitsPerPixel(f.subtype), f.period);
}

int BitsPerPixel(const GUID& subtype) {
    if (subtype == MEDIASUBTYPE_RGB32)
        return 32;
    if (subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_MJPG)
        return 24;
    if (const std::optional<YuvLayout> layout = YuvLayoutOf(subtype); layout && IsYuv420(*layout))
        return 12;
    return 16;
}

std::optional<CaptureFormat> FindCaptureFormat(const std::vector<CaptureFormat>& formats,
                                               const AM_MEDIA_TYPE& mt) {
    VideoGeometry g;
    if (!ReadGeometry(mt, &g) || !g.bottom_up)
        return std::nullopt;
    for (const CaptureFormat& f : formats)
        if (f.subtype == mt.subtype && f.width == g.width && f.height == g.height &&
            (g.time_per_frame == 0 || g.time_per_frame == f.period))
            return f;
    return std::nullopt;
}

std::optional<CaptureFormat> FormatStreamConfig::Chosen() const {
    std::lock_guard guard(m_lock);
    return m_chosen;
}

void FormatStreamConfig::Choose(std::optional<CaptureFormat> f) {
    std::lock_guard guard(m_lock);
    m_chosen = f;
}

MediaType FormatStreamConfig::CurrentType() const {
    if (m_pin && m_pin->IsConnected())
        return m_pin->ConnectionType();
    if (const auto chosen = Chosen())
        return CaptureMediaType(*chosen);
    return m_formats.empty() ? MediaType() : CaptureMediaType(m_formats.front());
}

HRESULT FormatStreamConfig::Check(const AM_MEDIA_TYPE& mt) const {
    const auto f = FindCaptureFormat(m_formats, mt);
    if (!f)
        return VFW_E_TYPE_NOT_ACCEPTED;
    const auto chosen = Chosen();
    return !chosen || *chosen == *f ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

std::vector<MediaType> FormatStreamConfig::Offered() const {
    if (const auto chosen = Chosen())
        return {CaptureMediaType(*chosen)};
    std::vector<MediaType> types;
    for (const CaptureFormat& f : m_formats)
        types.push_back(CaptureMediaType(f));
    return types;
}

HRESULT FormatStreamConfig::GetNumberOfCapabilities(int* count, int* size) {
    if (!count || !size)
        return E_POINTER;
    *count = static_cast<int>(m_formats.size());
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT FormatStreamConfig::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) {
    if (!mt || !caps)
        return E_POINTER;
    *mt = nullptr;
    if (index < 0 || index >= static_cast<int>(m_formats.size()))
        return S_FALSE;
    const CaptureFormat& f = m_formats[size_t(index)];
    const MediaType type = CaptureMediaType(f);
    *mt = CreateMediaType(&type.Get());
    if (!*mt)
        return E_OUTOFMEMORY;
    VIDEO_STREAM_CONFIG_CAPS c{};
    c.guid = FORMAT_VideoInfo;
    c.InputSizeWidth = c.MinCroppingSizeWidth = c.MaxCroppingSizeWidth = f.width;
    c.InputSizeHeight = c.MinCroppingSizeHeight = c.MaxCroppingSizeHeight = f.height;
    c.MinOutputSizeWidth = c.MaxOutputSizeWidth = f.width;
    c.MinOutputSizeHeight = c.MaxOutputSizeHeight = f.height;
    c.CropGranularityX = c.CropGranularityY = c.OutputGranularityX = c.OutputGranularityY = 1;
    c.MinFrameInterval = c.MaxFrameInterval = f.period;
    const int64_t period = f.period > 0 ? f.period : 400'000;
    const LONG bits =
        f.subtype == MEDIASUBTYPE_MJPG
            ? static_cast<LONG>(std::min<uint64_t>(INT32_MAX, type.VideoInfo()->dwBitRate))
            : static_cast<LONG>(std::min<int64_t>(
                  INT32_MAX,
                  int64_t(f.width) * f.height * BitsPerPixel(f.subtype) * 10'000'000 / period));
    c.MinBitsPerSecond = c.MaxBitsPerSecond = bits;
    std::memcpy(caps, &c, sizeof c);
    return S_OK;
}

HRESULT FormatStreamConfig::SetFormat(AM_MEDIA_TYPE* mt) {
    std::lock_guard control(m_filter.ControlLock());
    if (m_filter.State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (!mt) {
        Choose(std::nullopt);
        return S_OK;
    }
    const auto f = FindCaptureFormat(m_formats, *mt);
    if (!f)
        return VFW_E_INVALIDMEDIATYPE;
    if (!m_pin || !m_pin->IsConnected()) {
        Choose(f);
        return S_OK;
    }
    const MediaType type = CaptureMediaType(*f);
    ComPtr<IPin> peer = m_pin->Peer();
    if (!peer || peer->QueryAccept(&type.Get()) != S_OK)
        return VFW_E_INVALIDMEDIATYPE;
    const auto was = Chosen();
    Choose(f);
    FILTER_INFO info;
    m_filter.QueryFilterInfo(&info);
    ComPtr<IFilterGraph> graph;
    graph.Attach(info.pGraph);
    ComPtr<IFilterGraph2> graph2 = graph ? graph.As<IFilterGraph2>() : nullptr;
    HRESULT hr = E_UNEXPECTED;
    if (graph2) {
        hr = graph2->ReconnectEx(m_pin, &type.Get());
    } else {
        // Outside a graph the pin reconnects to the same peer itself.
        m_pin->Disconnect();
        peer->Disconnect();
        hr = m_pin->Connect(peer.Get(), &type.Get());
    }
    if (FAILED(hr))
        Choose(was);
    return hr;
}

HRESULT FormatStreamConfig::GetFormat(AM_MEDIA_TYPE** mt) {
    if (!mt)
        return E_POINTER;
    *mt = CreateMediaType(&CurrentType().Get());
    return *mt ? S_OK : E_OUTOFMEMORY;
}

HRESULT JpegQualityCompression::get_KeyFrameRate(LONG* rate) {
    if (!rate)
        return E_POINTER;
    *rate = 1;
    return S_OK;
}

HRESULT JpegQualityCompression::get_PFramesPerKeyFrame(LONG* frames) {
    if (!frames)
        return E_POINTER;
    *frames = 0;
    return S_OK;
}

HRESULT JpegQualityCompression::put_Quality(double quality) {
    if (!(quality >= 0.0 && quality <= 1.0))
        return E_INVALIDARG;
    return m_control.set(quality);
}

HRESULT JpegQualityCompression::get_Quality(double* quality) {
    if (!quality)
        return E_POINTER;
    *quality = m_control.get();
    return S_OK;
}

HRESULT JpegQualityCompression::get_WindowSize(uint64_t* size) {
    if (!size)
        return E_POINTER;
    *size = 1;
    return S_OK;
}

HRESULT JpegQualityCompression::GetInfo(LPWSTR version, int* version_len, LPWSTR description,
                                        int* description_len, LONG* def_key_frame_rate,
                                        LONG* def_p_frames_per_key, double* def_quality,
                                        LONG* capabilities) {
    return JpegCompressionInfo(m_description, m_default, version, version_len, description,
                               description_len, def_key_frame_rate, def_p_frames_per_key,
                               def_quality, capabilities);
}

// --------------------------------------------------------- LiveCaptureEnd

HRESULT LiveCaptureEnd::EndCapture() {
    m_calls.end();
    return S_OK;
}

HRESULT LiveCaptureEnd::WaitDelivered(DWORD timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    return m_calls.wait(deadline) ? S_OK : S_FALSE;
}

// ---------------------------------------------------------- FrameDelivery

void FrameDelivery::Start(const char* name) {
    m_done.store(false);
    m_thread = std::jthread([this, name](std::stop_token stop) {
        pthread_setname_np(pthread_self(), name);
        Run(stop);
        {
            std::lock_guard guard(m_lock);
            m_done.store(true);
        }
        m_cv.notify_all();
    });
}

void FrameDelivery::Push(Frame frame) {
    {
        std::lock_guard guard(m_lock);
        m_queue.push_back(std::move(frame));
    }
    m_cv.notify_all();
}

bool FrameDelivery::WaitIdle(std::stop_token stop) {
    std::unique_lock guard(m_lock);
    return m_cv.wait(guard, stop, [&] { return m_queue.empty() && !m_delivering; });
}

bool FrameDelivery::WaitDelivered(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock guard(m_lock);
    // A delivery thread that already ended (a stop came first) empties
    // nothing more.
    return m_cv.wait_until(guard, deadline, [&] {
        return (m_queue.empty() && !m_delivering) || m_done.load();
    }) && m_queue.empty();
}

void FrameDelivery::RequestStop() {
    m_thread.request_stop();
    // Waiters wait with the thread's token, which wakes them; this covers a
    // waiter between its checks.
    m_cv.notify_all();
}

void FrameDelivery::Join() {
    JoinDelivery(m_thread, m_done, m_pin);
    m_cv.notify_all();
    std::deque<Frame> left;
    {
        std::lock_guard guard(m_lock);
        left.swap(m_queue);
    }
    for (const Frame& f : left)
        if (!f.end)
            CountDropped(f.number);
}

void FrameDelivery::CountDropped(uint32_t number) {
    if (m_counter)
        m_counter->Dropped(number);
}

void FrameDelivery::Run(std::stop_token stop) {
    for (;;) {
        Frame frame;
        {
            std::unique_lock guard(m_lock);
            if (!m_cv.wait(guard, stop, [&] { return !m_queue.empty(); }))
                return;
            frame = std::move(m_queue.front());
            m_queue.pop_front();
            m_delivering = true;
        }
        if (frame.end) {
            m_pin.DeliverEndOfStream();
        } else {
            const HRESULT hr = m_pin.Deliver(frame.sample.Get());
            frame.sample = nullptr;
            if (hr == S_OK) {
                if (m_counter)
                    m_counter->Delivered(frame.length);
            } else if (hr != S_SAMPLE_PAST_END) {
                CountDropped(frame.number);
            }
        }
        {
            std::lock_guard guard(m_lock);
            m_delivering = false;
        }
        m_cv.notify_all();
    }
}

}  // namespace ronvix::media
