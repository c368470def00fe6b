#pragma once
// The format chosen for each capture device, remembered in the device's own
// section of the settings file by what the format is, not by its line or
// its place in the list: device lists put the current format first, and a
// line's text depends on its neighbours.
//
// Sections "Video device <moniker display name>" (the analog setup's) and
// "Audio device <moniker display name>"; keys "VideoFormat" and
// "AudioFormat"; values "MJPG 1920x1080 30/1" (FOURCC, size, frame rate as
// a fraction: 30000/1001 for 29.97) and "PCM 44100 16 1" (rate, bits,
// channels). UI thread.

#include <QString>
#include <optional>
#include <vector>

#include "platform/media/core/types.h"
#include "settings/formstorage.h"

namespace ronvix::app::pages {

QString FormatKey(const media::MediaType& type);

// The place in `formats` of the format `key` names; -1 when none is.
int FormatWithKey(const std::vector<media::MediaType>& formats, const QString& key);

void RememberFormat(settings::TFormStorage& storage, bool video, const QString& moniker,
                    const media::MediaType& format);
std::optional<QString> RememberedFormat(settings::TFormStorage& storage, bool video,
                                        const QString& moniker);

}  // namespace ronvix::app::pages
