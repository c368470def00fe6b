#include "controls/levelmeter.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace ronvix::controls {

TLevelMeter::TLevelMeter(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

double TLevelMeter::PeakDb(double peak) {
    if (!(peak > 0))
        return kFloorDb;
    return std::clamp(20.0 * std::log10(peak), kFloorDb, 0.0);
}

void TLevelMeter::SetPeaks(std::span<const double> peaks, uint64_t now_ms) {
    if (m_channels.size() != peaks.size())
        m_channels.assign(peaks.size(), Channel{});
    for (size_t c = 0; c < peaks.size(); ++c) {
        Channel& ch = m_channels[c];
        ch.level_db = PeakDb(peaks[c]);
        // The hold follows a higher peak at once and lets go after a second.
        if (ch.level_db >= ch.hold_db || now_ms - ch.hold_since_ms >= kHold_ms) {
            ch.hold_db = ch.level_db;
            ch.hold_since_ms = now_ms;
        }
        if (peaks[c] >= kClipPeak) {
            ch.clipped = true;
            ch.clip_at_ms = now_ms;
        }
        ch.clipping = ch.clipped && now_ms - ch.clip_at_ms < kHold_ms;
    }
    update();
}

void TLevelMeter::Reset() {
    m_channels.clear();
    update();
}

double TLevelMeter::LevelDb(int channel) const {
    return channel >= 0 && channel < Channels() ? m_channels[size_t(channel)].level_db : kFloorDb;
}

double TLevelMeter::HoldDb(int channel) const {
    return channel >= 0 && channel < Channels() ? m_channels[size_t(channel)].hold_db : kFloorDb;
}

bool TLevelMeter::Clipping(int channel) const {
    return channel >= 0 && channel < Channels() && m_channels[size_t(channel)].clipping;
}

void TLevelMeter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    const int n = std::max(1, Channels());
    const int inner = width() - 2;
    auto x_of = [&](double db) {
        return 1 + int(std::lround((db - kFloorDb) / -kFloorDb * inner));
    };
    for (int c = 0; c < Channels(); ++c) {
        const Channel& ch = m_channels[size_t(c)];
        const int top = 1 + c * (height() - 1) / n;
        const int bottom = (c + 1) * (height() - 1) / n;
        const int h = std::max(1, bottom - top);
        const int level_x = x_of(ch.level_db);
        if (ch.clipping) {
            p.fillRect(1, top, level_x - 1, h, QColor(255, 0, 0));
        } else {
            // Green up to -12 dBFS, yellow above.
            const int yellow_x = x_of(-12.0);
            p.fillRect(1, top, std::min(level_x, yellow_x) - 1, h, QColor(0, 200, 0));
            if (level_x > yellow_x)
                p.fillRect(yellow_x, top, level_x - yellow_x, h, QColor(230, 200, 0));
        }
        if (ch.hold_db > kFloorDb)
            p.fillRect(std::max(1, x_of(ch.hold_db) - 2), top, 2, h,
                       ch.clipping ? QColor(255, 0, 0) : QColor(255, 255, 255));
    }
}

}  // namespace ronvix::controls
