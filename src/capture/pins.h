#pragma once
// Pin-list and device-list helpers shared by the capture workflow's
// handlers.

#include <QComboBox>

#include "mediagraph/graph_util.h"
#include "mediagraph/mediatype.h"
#include "mediagraph/device_enum.h"

namespace ronvix::app {

// Removes the pins of direction `dir` from `pins`, keeping the others in
// order; each removed pin's media types replace the content of `types`
// (when given).
void TakePins(mediagraph::TPinList& pins, media::PIN_DIRECTION dir,
              mediagraph::TEnumMediaType* types = nullptr);

// The moniker of the device that item `index` of the device list `combo`
// shows (the item keeps its device's display name); for an item without
// one, the device at that position of a fresh enumeration of `devices`'
// category.
com::ComPtr<com::IMoniker> DeviceItemMoniker(const mediagraph::TSysDevEnum& devices,
                                             const QComboBox* combo, int index);

}  // namespace ronvix::app
