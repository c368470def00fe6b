#include "platform/media/devices/monitorout.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>

#include "platform/media/codecs/colourspace.h"

namespace ronvix::media {

using namespace com;

namespace {

// What a JPEG's headers say about its frame, read before anything is
// decoded or allocated.
struct JpegFrameHeader {
    int width = 0;
    int height = 0;
    // The decoder keeps the coefficients of the whole picture: a
    // progressive frame, or one whose first scan does not hold every
    // component.
    bool whole_picture = false;
};

int Be16(std::span<const uint8_t> data, size_t at) {
    return (int(data[at]) << 8) | data[at + 1];
}

// Walks the markers up to the first scan. Nothing when the stream ends
// first or is not JPEG.
std::optional<JpegFrameHeader> ReadFrameHeader(std::span<const uint8_t> jpeg) {
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8)
        return std::nullopt;
    std::optional<JpegFrameHeader> frame;
    int components = 0;
    size_t at = 2;
    while (at + 4 <= jpeg.size()) {
        if (jpeg[at] != 0xFF)
            return std::nullopt;
        const uint8_t marker = jpeg[at + 1];
        if (marker == 0xFF) {  // Fill byte.
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // No length.
            at += 2;
            continue;
        }
        const size_t length = size_t(Be16(jpeg, at + 2));
        if (length < 2 || marker == 0xD9)
            return std::nullopt;
        const bool sof =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof) {
            if (frame || length < 8 || at + 10 > jpeg.size())
                return std::nullopt;
            frame = JpegFrameHeader{};
            frame->height = Be16(jpeg, at + 5);
            frame->width = Be16(jpeg, at + 7);
            frame->whole_picture =
                marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            components = jpeg[at + 9];
        } else if (marker == 0xDA) {
            if (!frame || at + 5 > jpeg.size())
                return std::nullopt;
            frame->whole_picture = frame->whole_picture || jpeg[at + 4] < components;
            return frame;
        }
        at += 2 + length;
    }
    return std::nullopt;
}

// The smallest of the decoder's scales (n/8) at which the picture still
// covers the monitor in both directions, or is whole.
tjscalingfactor MonitorScale(int width, int height) {
    tjscalingfactor best{1, 1};
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    for (int i = 0; factors && i < count; ++i) {
        const tjscalingfactor f = factors[i];
        if (f.num <= 0 || f.denom <= 0 || f.num > f.denom)
            continue;
        if (TJSCALED(width, f) >= std::min(width, kMonitorWidth) &&
            TJSCALED(height, f) >= std::min(height, kMonitorHeight) &&
            int64_t(f.num) * best.denom < int64_t(best.num) * f.denom)
            best = f;
    }
    return best;
}

}  // namespace

MonitorFeed::MonitorFeed(MonitorOutPin& pin) : m_pin(pin), m_decoder(tjInitDecompress()) {}

MonitorFeed::~MonitorFeed() {
    if (m_decoder)
        tjDestroy(m_decoder);
}

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
    if (!src || length <= 0 || width <= 0 || height <= 0 || !m_decoder)
        return;
    // Only a frame of the size the stream declares is shown, and nothing is
    // allocated for one before its own headers say so.
    const std::span<const uint8_t> jpeg(src, size_t(length));
    const std::optional<JpegFrameHeader> frame = ReadFrameHeader(jpeg);
    if (!frame || frame->width != width || frame->height != height ||
        (frame->whole_picture && int64_t(width) * height > kMonitorMultiScanPixels))
        return;
    const tjscalingfactor scale = MonitorScale(width, height);
    const int w = TJSCALED(width, scale), h = TJSCALED(height, scale);
    m_picture.resize(Rgb32ImageSize(w, h));
    // A warning (a truncated but decodable stream) still gives a picture;
    // only a fatal error leaves nothing to show.
    if (tjDecompress2(m_decoder, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                      m_picture.data(), w, Rgb32Stride(w), h, TJPF_BGRA, TJFLAG_FASTDCT) != 0 &&
        tjGetErrorCode(m_decoder) != TJERR_WARNING)
        return;
    ShowRgb32(m_picture.data(), w, h, sample);
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
    // Nearest-neighbour scaling into bottom-up rows: the source column of
    // each monitor column is worked out once per picture width, and a row
    // that repeats the one before is copied whole.
    if (m_columns_width != width) {
        m_columns.resize(kMonitorWidth);
        for (int x = 0; x < kMonitorWidth; ++x)
            m_columns[size_t(x)] = int(int64_t(x) * width / kMonitorWidth);
        m_columns_width = width;
    }
    int previous = -1;
    for (int y = 0; y < kMonitorHeight; ++y) {
        const int sy = int(int64_t(y) * height / kMonitorHeight);
        auto* drow = reinterpret_cast<uint32_t*>(dst + stride * size_t(kMonitorHeight - 1 - y));
        if (sy == previous) {
            std::memcpy(drow, drow + kMonitorWidth, stride);  // The previous row, just written.
            continue;
        }
        previous = sy;
        const auto* srow =
            reinterpret_cast<const uint32_t*>(picture + size_t(sy) * size_t(width) * 4);
        for (int x = 0; x < kMonitorWidth; ++x)
            drow[x] = srow[m_columns[size_t(x)]];
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
