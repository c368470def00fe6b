#pragma once
// Pin-list and device-list helpers shared by the capture and device pages.

#include <QComboBox>

#include "mediagraph/device_enum.h"
#include "mediagraph/graph_util.h"
#include "mediagraph/mediatype.h"

namespace ronvix::app::pages {

// Each item of a device list keeps the display name of its device's
// moniker in this role, so an item always chooses the device it shows, also
// when the category's devices have changed since the list was made (a
// device added, removed, or not answering a probe).
inline constexpr int kMonikerRole = Qt::UserRole;

// Removes the pins of direction `dir` from `pins`, keeping the others in
// order; each removed pin's media types replace the content of `types`
// (when given).
void TakePins(mediagraph::TPinList& pins, media::PIN_DIRECTION dir,
              mediagraph::TEnumMediaType* types = nullptr);

// The moniker of the device that item `index` of the device list `combo`
// shows (the item keeps its device's display name); for an item without
// one, the device at that position of a fresh enumeration of `devices`'
// category.
// The item of the device list `list` whose device `moniker` names (as a
// stored selection names it: spaces around it and letter case aside), or
// -1.
int DeviceItemOf(const QComboBox* list, const QString& moniker);

com::ComPtr<com::IMoniker> DeviceItemMoniker(const mediagraph::TSysDevEnum& devices,
                                             const QComboBox* combo, int index);

}  // namespace ronvix::app::pages
