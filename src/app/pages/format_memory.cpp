#include "app/pages/format_memory.h"

#include <cmath>
#include <cstdlib>

#include "app/pages/stored_settings.h"
#include "mediagraph/mediatype.h"

namespace ronvix::app::pages {
namespace {

const StoredSetting& Row(bool video) {
    return StoredSettingOf(video ? "VideoFormat" : "AudioFormat");
}

// A frame period as the rate people name: 25/1, 30000/1001; a period that
// is neither a whole rate nor an NTSC one keeps its own fraction.
QString RateFraction(media::REFERENCE_TIME period) {
    if (period <= 0)
        return QStringLiteral("0/1");
    const double fps = 1e7 / double(period);
    if (std::abs(fps - std::round(fps)) < 1e-3)
        return QStringLiteral("%1/1").arg(std::llround(fps));
    if (const double ntsc = fps * 1.001; std::abs(ntsc - std::round(ntsc)) < 1e-3)
        return QStringLiteral("%1/1001").arg(std::llround(ntsc) * 1000);
    return QStringLiteral("10000000/%1").arg(period);
}

}  // namespace

QString FormatKey(const media::MediaType& type) {
    if (const media::VIDEOINFOHEADER* v = type.VideoInfo()) {
        return QStringLiteral("%1 %2x%3 %4")
            .arg(mediagraph::CompressionText(type->subtype.Data1))
            .arg(v->bmiHeader.biWidth)
            .arg(std::abs(v->bmiHeader.biHeight))
            .arg(RateFraction(v->AvgTimePerFrame));
    }
    if (const media::WAVEFORMATEX* w = type.WaveFormat())
        return QStringLiteral("PCM %1 %2 %3")
            .arg(w->nSamplesPerSec)
            .arg(w->wBitsPerSample)
            .arg(w->nChannels);
    return {};
}

int FormatWithKey(const std::vector<media::MediaType>& formats, const QString& key) {
    for (size_t i = 0; i < formats.size(); ++i)
        if (FormatKey(formats[i]) == key)
            return static_cast<int>(i);
    return -1;
}

void RememberFormat(settings::TFormStorage& storage, bool video, const QString& moniker,
                    const media::MediaType& format) {
    const QString key = FormatKey(format);
    if (!moniker.isEmpty() && !key.isEmpty())
        storage.WriteEntry(DeviceSection(Row(video), moniker), Key(Row(video)), key);
}

std::optional<QString> RememberedFormat(settings::TFormStorage& storage, bool video,
                                        const QString& moniker) {
    if (moniker.isEmpty())
        return std::nullopt;
    const QString key =
        storage.ReadEntry(DeviceSection(Row(video), moniker), Key(Row(video)), QString()).trimmed();
    return key.isEmpty() ? std::nullopt : std::optional(key);
}

}  // namespace ronvix::app::pages
