#pragma once
// The analog setup of a capture card (its video input, the audio input that
// goes with it, its television standard), remembered per device in the
// settings file, so that a card that starts on its tuner in NTSC records
// from the input and in the standard the user chose last time.
//
// Each device has a section of its own, "Video device <moniker display
// name>", with the keys "VideoInput" and "AudioInput" (crossbar input pin
// numbers) and "VideoStandard" (an AnalogVideo_* flag); the main window's
// own keys are untouched. A device without a crossbar or a decoder has
// nothing to remember and its section is left alone.
//
// UI thread. A write that fails throws the storage's "Unable to write to
// ..." error, which the handler that called it reports.

#include <QString>

#include "platform/media/core/interfaces.h"
#include "settings/formstorage.h"

namespace ronvix::app::pages {

// Reads the setup `filter` is in now and stores it for the device `moniker`.
void RememberAnalogSetup(settings::TFormStorage& storage, const QString& moniker,
                         media::IBaseFilter* filter);

// Sets the setup stored for `moniker` on `filter`'s device. True when it
// set the standard: the device's frames may have changed, so formats read
// before no longer hold.
bool RestoreAnalogSetup(settings::TFormStorage& storage, const QString& moniker,
                        media::IBaseFilter* filter);

}  // namespace ronvix::app::pages
