#pragma once
// What every video output device shares: the fixed "Monitor Out" video
// output that shows what the device receives, and presenting frames at
// their sample time as a real output does.
//
// - MonitorOutPin: RGB32 720x576 at 25 fps, offered before the device's
//   input is connected.
// - MonitorFeed: turns each received frame (MJPG, or pictures already
//   decoded to RGB32) into a monitor frame, scaled to 720x576, and delivers
//   it with the received frame's times. A frame that does not decode is not
//   shown. Streaming thread only.
//   A JPEG is decoded at the smallest scale that still covers the monitor
//   (libjpeg's 1/8 steps), so its memory follows the monitor, not the size
//   a header names: at most about 10 MiB for any picture the engine takes.
//   A JPEG that the decoder must hold whole in memory (progressive, or with
//   its components in separate scans) is shown only up to
//   kMonitorMultiScanPixels; a larger one is not shown.
// - PresentationGate: holds a received sample until the graph's clock
//   reaches its start time (at once when late or untimed) and while the
//   filter is paused. Every wait ends when the input pin stops or flushes.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/media/core/filter.h"

namespace ronvix::media {

inline constexpr int kMonitorWidth = 720;
inline constexpr int kMonitorHeight = 576;
inline constexpr REFERENCE_TIME kMonitorTimePerFrame = 400'000;
// Coefficients of a whole picture take up to 6 bytes a pixel: 24 MiB here.
inline constexpr int64_t kMonitorMultiScanPixels = int64_t(2048) * 2048;

class MonitorOutPin final : public BaseOutputPin {
public:
    explicit MonitorOutPin(BaseFilter& device) : BaseOutputPin(device, u"Monitor Out") {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
    std::vector<MediaType> OfferedTypes() override { return {Own()}; }
    static MediaType Own();
};

class MonitorFeed {
public:
    explicit MonitorFeed(MonitorOutPin& pin);
    ~MonitorFeed();
    MonitorFeed(const MonitorFeed&) = delete;
    MonitorFeed& operator=(const MonitorFeed&) = delete;

    // Shows the MJPG frame `sample` of `width` x `height`.
    void ShowJpeg(IMediaSample* sample, int width, int height);
    // Shows a top-down RGB32 picture with the times of `sample`.
    void ShowRgb32(const uint8_t* picture, int width, int height, IMediaSample* sample);

private:
    MonitorOutPin& m_pin;
    void* m_decoder = nullptr;  // A TurboJPEG decompressor.
    std::vector<uint8_t> m_picture;
    std::vector<int> m_columns;  // The source column of each monitor column,
    int m_columns_width = -1;    // for pictures this wide.
};

class PresentationGate {
public:
    explicit PresentationGate(BaseFilter& filter) : m_filter(filter) {}
    // Wakes waiting threads so they re-check the state (run, pause, stop).
    void Wake();
    // Waits until `sample` is due. False when the pin stopped or flushed,
    // or the filter stopped, meanwhile: the sample is then not presented.
    bool WaitUntilDue(BaseInputPin& pin, IMediaSample* sample);

private:
    BaseFilter& m_filter;
    std::mutex m_lock;
    std::condition_variable_any m_cv;
};

}  // namespace ronvix::media
