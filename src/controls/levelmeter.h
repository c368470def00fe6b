#pragma once
// TLevelMeter: a thin peak meter, one bar per channel, on a dBFS scale from
// kFloorDb to 0. Each bar shows the latest peak; a mark holds the highest
// peak of the last second; a bar whose channel reached full scale within
// that second is drawn red. Silence (or no channel) shows empty bars.
//
// The owner feeds it peaks as fractions of full scale (IAudioLevels);
// the meter keeps no timer of its own. UI thread only.

#include <QWidget>
#include <cstdint>
#include <span>
#include <vector>

namespace ronvix::controls {

class TLevelMeter : public QWidget {
    Q_OBJECT

public:
    static constexpr double kFloorDb = -60.0;
    static constexpr uint64_t kHold_ms = 1000;
    // A peak at or above this fraction of full scale is clipping (a 16-bit
    // sample at its largest magnitude).
    static constexpr double kClipPeak = 32767.0 / 32768.0;

    explicit TLevelMeter(QWidget* parent = nullptr);

    // The peaks measured since the last call, at `now_ms` (a monotonic
    // clock); the number of channels follows the call.
    void SetPeaks(std::span<const double> peaks, uint64_t now_ms);
    // No channel: empty bars.
    void Reset();

    int Channels() const { return int(m_channels.size()); }
    // The latest peak of `channel` in dBFS, kFloorDb for silence; kFloorDb
    // for a channel the meter does not have.
    double LevelDb(int channel) const;
    // The highest peak within the hold time, in dBFS.
    double HoldDb(int channel) const;
    bool Clipping(int channel) const;

    // dBFS of a peak (fraction of full scale), no lower than kFloorDb.
    static double PeakDb(double peak);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Channel {
        double level_db = kFloorDb;
        double hold_db = kFloorDb;
        uint64_t hold_since_ms = 0;
        uint64_t clip_at_ms = 0;
        bool clipped = false;
        bool clipping = false;
    };
    std::vector<Channel> m_channels;
};

}  // namespace ronvix::controls
