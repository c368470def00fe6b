#pragma once
// The registration of the engine's own classes.

namespace ronvix::media {

// Registers the graph manager, the capture graph builder and the filters
// of the engine's plumbing, container and file rooms (sync, Smart Tee,
// Sample Grabber, AVI Mux, File Writer) in the class registry;
// software filters also in the general filter category. Idempotent and
// thread-safe.
void RegisterEngineClasses();

}  // namespace ronvix::media
