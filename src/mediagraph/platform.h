#pragma once
// Registers every class and device the engine provides, once per process:
// what the platform's setup would have registered before the program runs.
// The virtual devices carry `hooks` (tests, benchmarks, ronvix-capture
// --unpaced; the program itself gives none). Idempotent and thread-safe:
// the first call's hooks are the ones registered.

#include "platform/media/devices/virtual/virtualdevices.h"

namespace ronvix::mediagraph {

void RegisterPlatformClasses(const media::VirtualDeviceHooks& hooks = {});

}  // namespace ronvix::mediagraph
