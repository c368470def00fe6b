// The capture statistics: the once-a-second rate tick over the capture
// file's size and the statistics tick, and the buffering indication.

#include <QApplication>

#include "app/mainform.h"
#include "framework/strings.h"
#include "mediagraph/graph_util.h"
#include "platform/media/core/types.h"
#include "platform/win/files.h"
#include "platform/win/kernel.h"

namespace ronvix::app {

using mediagraph::Supports;

void TMainForm::Timer3Timer(QObject*) {
    // The rate is what the capture file gained over the last second, every
    // byte of it (frames, sound, the file's own structure, bytes still
    // queued for the disk), so the remaining time is the time until the
    // disk is full. A preview alone writes nothing: its ticks leave the last
    // capture's figures as they were. A tick that finds no time passed, or
    // a size it cannot read, changes nothing either.
    if (m_capture.writer) {
        uint64_t size = 0;
        if (com::SUCCEEDED(m_capture.writer->GetFileSize(&size))) {
            if (const auto rate =
                    m_capture.meter.Tick(static_cast<int64_t>(size), m_capture.now_ms())) {
                m_capture.rate = *rate;
                StaticText6->setText(capture::RateText(*rate));
            }
        }
    }
    QCoreApplication::processEvents();
}

void TMainForm::TimerTimer(QObject*) {
    if (!CaptureGraph->Active())
        return;
    auto builder = Supports<media::ICaptureGraphBuilder2>(CaptureGraph);
    // A capture without a video stream has no dropped-frame counter: its
    // frame fields keep their texts and the rest is updated.
    com::ComPtr<media::IAMDroppedFrames> drops;
    if (auto source = VideoSourceFilter->Query<media::IBaseFilter>()) {
        builder->FindInterface(&media::PIN_CATEGORY_CAPTURE, &media::MEDIATYPE_Video, source.Get(),
                               media::IAMDroppedFrames::iid, drops.OutVoid());
    }
    com::LONG captured = 0;
    com::LONG dropped = 0;
    if (drops) {
        drops->GetNumDropped(&dropped);
        QPalette palette = Dropped_info->palette();
        palette.setColor(QPalette::Window, dropped == m_capture.previous_dropped
                                               ? QApplication::palette().color(QPalette::Button)
                                               : QColor(255, 0, 0));
        Dropped_info->setAutoFillBackground(true);
        Dropped_info->setPalette(palette);
        m_capture.previous_dropped = dropped;
        drops->GetNumNotDropped(&captured);
    }
    auto seeking = Supports<media::IMediaSeeking>(CaptureGraph);
    media::LONGLONG position = 0;
    seeking->GetCurrentPosition(&position);
    Time_info->setText(capture::ElapsedText(position));
    if (drops) {
        Capture_info->setText(QString::number(captured));
        Dropped_info->setText(QString::number(dropped));
        // A device that stops delivering without an error (a cable pulled
        // on a capture card, a stalled driver, blank tape) is shown, and the
        // capture goes on: analog cards go quiet on blank tape, and an
        // unattended capture must not end there. Only a device that is
        // really gone ends it (CaptureGraphGraphDeviceLost).
        const uint64_t now_ms = win::GetTickCount64();
        if (captured != m_capture.last_delivered) {
            m_capture.last_delivered = captured;
            m_capture.delivered_at_ms = now_ms;
            Signal_info->hide();
        } else if (now_ms - m_capture.delivered_at_ms >= capture::kNoSignalAfter_ms) {
            Signal_info->setText(capture::NoSignalText(now_ms - m_capture.delivered_at_ms));
            Signal_info->show();
        }
    }

    const QString folder = capture::CaptureFolder(savedialog->FileName());
    uint64_t free_bytes = 0;
    // A failed query leaves the free-space figures as they were rather than
    // showing a volume with no room.
    if (!win::GetDiskFreeSpaceExA(fw::Utf8(folder).c_str(), &free_bytes, nullptr, nullptr))
        return;
    FreeSpaceText->setText(capture::FreeSpaceText(free_bytes));
    // A timed stop ends the capture before the disk fills when it comes
    // first: the lesser of the two is what remains.
    std::optional<int64_t> stop_in_s;
    if (m_capture.stop_at_100ns > 0)
        stop_in_s = (m_capture.stop_at_100ns - position + 9'999'999) / 10'000'000;
    if (const auto remaining = capture::RemainingText(free_bytes, m_capture.rate, stop_in_s))
        StaticText7->setText(*remaining);
}

void TMainForm::LevelTimerTimer(QObject*) {
    // Only what the meter measured since the last tick: the streaming
    // thread never waits for this one. A graph that no longer runs (the
    // preview unchecked, a stop) leaves the meter empty and the tick off.
    if (!m_capture.levels || !CaptureGraph->Active() || CaptureGraph->State() != 3) {
        AudioMeter->Reset();
        LevelTimer->SetEnabled(false);
        return;
    }
    com::LONG channels = 0;
    m_capture.levels->GetChannels(&channels);
    double peaks[media::IAudioLevels::kMaxChannels] = {};
    channels = std::clamp<com::LONG>(channels, 0, media::IAudioLevels::kMaxChannels);
    m_capture.levels->TakePeaks(channels, peaks);
    AudioMeter->SetPeaks(std::span<const double>(peaks, size_t(channels)), win::GetTickCount64());
}

void TMainForm::CaptureGraphGraphBufferingData(QObject*, bool buffering) {
    Label10->setText(buffering ? QStringLiteral("Buff") : QStringLiteral("NOBuff"));
}

}  // namespace ronvix::app
