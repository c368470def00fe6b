#pragma once
// The engine's own filters and the registration of every engine class.

#include <string>
#include <utility>

#include "platform/com/classregistry.h"
#include "platform/com/object.h"
#include "platform/media/filter.h"
#include "platform/media/interfaces.h"

namespace ronvix::media {

// Registers the graph manager, the capture graph builder and the filters
// of this library (sync, Smart Tee, Sample Grabber, AVI Mux, File Writer)
// in the class registry;
// software filters also in the general filter category. Idempotent and
// thread-safe.
void RegisterEngineClasses();

// The class entry of the engine filter `Filter` (a BaseFilter made with
// MakeCom and asked for the caller's interface), listed with the software
// filters at `merit`.
template <class Filter>
com::ClassEntry FilterClassEntry(const com::CLSID& clsid, std::string name, uint32_t merit) {
    return {clsid,
            std::move(name),
            [](com::REFIID riid, void** out) {
                com::ComPtr<Filter> filter = com::MakeCom<Filter>();
                return static_cast<BaseFilter*>(filter.Get())->QueryInterface(riid, out);
            },
            merit,
            {CLSID_LegacyAmFilterCategory}};
}

// Class entries, one per filter (each also creates through CoCreateInstance).
com::ClassEntry SyncClassEntry();
com::ClassEntry SmartTeeClassEntry();
com::ClassEntry SampleGrabberClassEntry();

// The Audio Level Meter: one PCM input and an output that hands on the
// very samples it receives (none needed: without it the meter is a sink);
// IAudioLevels on the filter. Not registered: its users create it here.
HRESULT CreateAudioLevelMeter(REFIID riid, void** out);

}  // namespace ronvix::media
