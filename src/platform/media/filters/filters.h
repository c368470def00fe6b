#pragma once
// The engine's own filters and the registration of every engine class.

#include "platform/com/classregistry.h"
#include "platform/media/interfaces.h"

namespace ronvix::media {

// Registers the graph manager, the capture graph builder and the filters
// of this library (sync, Smart Tee, Sample Grabber, AVI Mux, File Writer)
// in the class registry;
// software filters also in the general filter category. Idempotent and
// thread-safe.
void RegisterEngineClasses();

// Class entries, one per filter (each also creates through CoCreateInstance).
com::ClassEntry SyncClassEntry();
com::ClassEntry SmartTeeClassEntry();
com::ClassEntry SampleGrabberClassEntry();

}  // namespace ronvix::media
