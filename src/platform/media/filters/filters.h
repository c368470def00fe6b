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

// The Audio Level Meter: one PCM input and an output that hands on the
// very samples it receives (none needed: without it the meter is a sink);
// IAudioLevels on the filter. Not registered: its users create it here.
HRESULT CreateAudioLevelMeter(REFIID riid, void** out);

}  // namespace ronvix::media
