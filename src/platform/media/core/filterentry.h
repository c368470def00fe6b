#pragma once
// The class registry entry of an engine filter, shared by every room that
// registers filters of its own.

#include <string>
#include <utility>

#include "platform/com/classregistry.h"
#include "platform/com/object.h"
#include "platform/media/core/filter.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::media {

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

}  // namespace ronvix::media
