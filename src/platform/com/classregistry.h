#pragma once
// The in-process class registry: what CoCreateInstance creates and what the
// device enumerator lists for software filter categories.
//
// Registration is explicit: each library that provides classes has an
// idempotent Register...Classes() function that its users call once (static
// initialisers in static libraries would be dropped by the linker).
// Thread-safe: registration and lookup may happen on any thread.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/unknwn.h"

namespace ronvix::com {

// Filter merit: higher is tried first when the graph manager searches for a
// transform or renderer.
enum : uint32_t {
    MERIT_PREFERRED = 0x800000,
    MERIT_NORMAL = 0x600000,
    MERIT_UNLIKELY = 0x400000,
    MERIT_DO_NOT_USE = 0x200000,
    MERIT_SW_COMPRESSOR = 0x100000,
};

struct ClassEntry {
    CLSID clsid;
    std::string friendly_name;  // UTF-8
    // Creates a new instance and returns interface `riid` of it through `out`.
    std::function<HRESULT(REFIID riid, void** out)> create;
    uint32_t merit = MERIT_DO_NOT_USE;
    // Categories (device enumerator class ids) the class is listed in.
    std::vector<GUID> categories;
};

class ClassRegistry {
public:
    static ClassRegistry& Instance();

    // Adds or replaces the entry for `entry.clsid`. Order of first
    // registration is kept.
    void Register(ClassEntry entry);
    void Unregister(REFCLSID clsid);
    std::optional<ClassEntry> Find(REFCLSID clsid) const;
    // Entries listed in `category`, in registration order.
    std::vector<ClassEntry> InCategory(REFGUID category) const;
    std::vector<ClassEntry> All() const;

private:
    mutable std::mutex m_lock;
    // Guarded by m_lock.
    std::vector<ClassEntry> m_entries;
};

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC = 0x3;
inline constexpr DWORD CLSCTX_ALL = 0x17;

// Creates an instance of a registered class. Aggregation is not supported
// (`outer` non-null fails with CLASS_E_NOAGGREGATION); an unknown class fails
// with REGDB_E_CLASSNOTREG; `*out` is null on every failure.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** out);

}  // namespace ronvix::com
