#pragma once
// The picture (Video Proc Amp) and camera (Camera Control) settings the user
// made on a video device, remembered per device in its own section of the
// settings file and set again when the device is chosen, because drivers
// reset them when a camera is plugged in again or the machine restarts.
//
// Only what the user changed is kept, by the property's name: keys
// "VideoProcAmp" and "CameraControl" of the section "Video device <moniker
// display name>", values like "Brightness=200, White Balance=auto". A
// property the user puts back at the device's default value (the pages'
// "Default") is forgotten, so nothing is set for it later. UI thread.

#include <QString>
#include <map>
#include <optional>
#include <utility>

#include "platform/media/core/interfaces.h"
#include "settings/formstorage.h"

namespace ronvix::app::pages {

// One property as the device has it now.
struct ControlState {
    com::LONG value = 0;
    com::LONG flags = 0;
    com::LONG def = 0;
    bool operator==(const ControlState&) const = default;
};
// Keyed by (0 for the amplifier, 1 for the camera; property).
using DeviceControls = std::map<std::pair<int, com::LONG>, ControlState>;

// Every amplifier and camera property `filter` has, as it has it now; or
// only the amplifier's `property`.
DeviceControls ReadDeviceControls(media::IBaseFilter* filter,
                                  std::optional<com::LONG> property = std::nullopt);

// Remembers for `moniker` each property of `before` (read just before the
// user's change) whose value or mode is another now.
void RememberControlChanges(settings::TFormStorage& storage, const QString& moniker,
                            const DeviceControls& before, media::IBaseFilter* filter);

// Sets on `filter` the values remembered for `moniker`; a value the device
// refuses (another device under the same name) is left as it is.
void RestoreDeviceControls(settings::TFormStorage& storage, const QString& moniker,
                           media::IBaseFilter* filter);

}  // namespace ronvix::app::pages
