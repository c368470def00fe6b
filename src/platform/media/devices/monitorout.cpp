#include "platform/media/devices/monitorout.h"

#include <cstdlib>

#include "platform/media/filters/colourspace.h"

namespace ronvix::media {

using namespace com;

MediaType MonitorOutPin::Own() {
    return MediaType::Video(MEDIASUBTYPE_RGB32, kMonitorWidth, kMonitorHeight, 32,
                            kMonitorTimePerFrame);
}

HRESULT MonitorOutPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
    const MediaType own = Own();
    if (mt.majortype != own->majortype || mt.subtype != own->subtype ||
        mt.formattype != own->formattype || !mt.pbFormat || mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    return vih->bmiHeader.biWidth == kMonitorWidth && vih->bmiHeader.biHeight == kMonitorHeight
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

void MonitorFeed::ShowJpeg(IMediaSample* sample, int width, int height) {
    if (!m_pin.IsConnected())
        return;
    BYTE* src = nullptr;
    sample->GetPointer(&src);
    const LONG length = sample->GetActualDataLength();
    if (!src || length <= 0 || width <= 0 || height <= 0)
        return;
    m_picture.resize(Rgb32ImageSize(width, height));
    if (!m_decoder.DecodeRgb32({src, size_t(length)}, width, height, false, m_picture.data()))
        return;  // Nothing to show.
    ShowRgb32(m_picture.data(), width, height, sample);
}

void MonitorFeed::ShowRgb32(const uint8_t* picture, int width, int height, IMediaSample* sample) {
    if (!m_pin.IsConnected() || width <= 0 || height <= 0)
        return;
    ComPtr<IMediaSample> out;
    if (FAILED(m_pin.GetDeliveryBuffer(out.ReleaseAndGetAddressOf(), 0)) || !out)
        return;
    BYTE* dst = nullptr;
    out->GetPointer(&dst);
    const size_t stride = size_t(kMonitorWidth) * 4;
    if (!dst || size_t(out->GetSize()) < stride * kMonitorHeight)
        return;
    // Nearest-neighbour scaling into bottom-up rows.
    for (int y = 0; y < kMonitorHeight; ++y) {
        const int sy = int(int64_t(y) * height / kMonitorHeight);
        const auto* srow =
            reinterpret_cast<const uint32_t*>(picture + size_t(sy) * size_t(width) * 4);
        auto* drow = reinterpret_cast<uint32_t*>(dst + stride * size_t(kMonitorHeight - 1 - y));
        for (int x = 0; x < kMonitorWidth; ++x)
            drow[x] = srow[int64_t(x) * width / kMonitorWidth];
    }
    out->SetActualDataLength(static_cast<LONG>(stride * kMonitorHeight));
    REFERENCE_TIME start = 0, end = 0;
    if (SUCCEEDED(sample->GetTime(&start, &end)))
        out->SetTime(&start, &end);
    out->SetSyncPoint(TRUE);
    m_pin.Deliver(out.Get());
}

void PresentationGate::Wake() {
    { std::lock_guard guard(m_lock); }
    m_cv.notify_all();
}

bool PresentationGate::WaitUntilDue(BaseInputPin& pin, IMediaSample* sample) {
    const std::stop_token stop = pin.StopToken();
    REFERENCE_TIME start = 0, end = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &end));
    for (;;) {
        {
            // Paused: the sample is held until the graph runs.
            std::unique_lock guard(m_lock);
            m_cv.wait(guard, stop, [&] { return m_filter.State() != State_Paused; });
        }
        if (stop.stop_requested() || m_filter.State() == State_Stopped)
            return false;
        if (timed) {
            if (ComPtr<IReferenceClock> clock = m_filter.Clock())
                clock->WaitUntil(m_filter.StartTime() + start, stop);  // At once when late.
            if (stop.stop_requested())
                return false;
        }
        // A pause that came while waiting for the time holds the sample too.
        if (m_filter.State() != State_Paused)
            return true;
    }
}

}  // namespace ronvix::media
