#pragma once
// The running object table: an in-process registry of live objects by
// moniker, where an external graph editor finds the active graphs.

#include "platform/com/objidl.h"

namespace ronvix::com {

// The process's table (one for the life of the process). `reserved` must be
// 0. The caller receives a reference.
HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable** out);

}  // namespace ronvix::com
