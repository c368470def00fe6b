#pragma once
// The capture graph builder (CLSID_CaptureGraphBuilder2): builds capture
// and preview streams into a graph by pin category. Control thread only.

#include "platform/media/core/interfaces.h"

namespace ronvix::media {

HRESULT CreateCaptureGraphBuilderInstance(REFIID riid, void** out);

}  // namespace ronvix::media
