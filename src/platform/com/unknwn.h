#pragma once
// IUnknown: the root of every platform interface. Interfaces are abstract
// classes with the platform's names; each names its identifier in `iid` and
// the interface it extends in `base` so that QueryInterface can answer for
// the whole chain.

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace ronvix::com {

struct IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{00000000-0000-0000-C000-000000000046}");
    using base = void;

    // Writes an AddRef'd pointer to `*out` and returns S_OK, or writes nullptr
    // and returns E_NOINTERFACE. `out` null returns E_POINTER.
    virtual HRESULT QueryInterface(REFIID riid, void** out) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

inline constexpr GUID IID_IUnknown = IUnknown::iid;

// The identifier of interface type T.
template <class T>
constexpr const GUID& uuidof() {
    return T::iid;
}

}  // namespace ronvix::com
