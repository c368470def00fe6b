#pragma once
// Registers every class and device the engine provides, once per process:
// what the platform's setup would have registered before the program runs.
// Idempotent and thread-safe.

namespace ronvix::mediagraph {

void RegisterPlatformClasses();

}  // namespace ronvix::mediagraph
