#pragma once
// Small helpers over the pin and filter interfaces, shared by the graph
// manager, the capture graph builder and higher layers. They work on any
// implementation of the interfaces. Control thread only.

#include <string>
#include <vector>

#include "platform/com/comptr.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::media {

// The category a pin reports through IKsPropertySet; GUID_NULL when none.
GUID PinCategory(IPin* pin);
PIN_DIRECTION PinDirection(IPin* pin);
bool PinIsConnected(IPin* pin);
// The filter that owns `pin`, or null.
com::ComPtr<IBaseFilter> PinFilter(IPin* pin);
std::u16string PinName(IPin* pin);
// The pins of `filter` in order (a snapshot).
std::vector<com::ComPtr<IPin>> FilterPins(IBaseFilter* filter);
// Whether the pin carries (connected) or offers a type of major type `major`.
bool PinHasMajorType(IPin* pin, const GUID& major);
std::u16string FilterName(IBaseFilter* filter);
// "Filter name:Pin name", for logs.
std::string PinLabel(IPin* pin);

}  // namespace ronvix::media
