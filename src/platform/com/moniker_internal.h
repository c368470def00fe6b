#pragma once
// For the implementation of the device enumerator and the running object
// table only.

#include <vector>

#include "platform/com/comptr.h"
#include "platform/com/devices.h"
#include "platform/com/objidl.h"

namespace ronvix::com::detail {

// A device moniker made by an enumeration: it keeps what the device looked
// like then, so its property bag answers even after the device went away.
HRESULT CreateEnumeratedMoniker(const Device& device, IMoniker** out);

// An enumerator over a fixed list of monikers.
HRESULT CreateMonikerEnum(std::vector<ComPtr<IMoniker>> monikers, IEnumMoniker** out);

// Class factories for the class registry.
HRESULT CreateDeviceMonikerInstance(REFIID riid, void** out);
HRESULT CreateItemMonikerInstance(REFIID riid, void** out);

}  // namespace ronvix::com::detail
