#pragma once
// The engine's plumbing filters: sync, Smart Tee, Sample Grabber and the
// Audio Level Meter.

#include "platform/com/classregistry.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::media {

// Class entries, one per filter (each also creates through CoCreateInstance).
com::ClassEntry SyncClassEntry();
com::ClassEntry SmartTeeClassEntry();
com::ClassEntry SampleGrabberClassEntry();

// The Audio Level Meter: one PCM input and an output that hands on the
// very samples it receives (none needed: without it the meter is a sink);
// IAudioLevels on the filter. Not registered: its users create it here.
HRESULT CreateAudioLevelMeter(REFIID riid, void** out);

}  // namespace ronvix::media
