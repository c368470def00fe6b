#include "platform/com/classregistry.h"

#include <algorithm>

#include "platform/com/devices.h"

namespace ronvix::com {

ClassRegistry& ClassRegistry::Instance() {
    static ClassRegistry registry;
    // The platform's own classes are there before anyone asks: a saved
    // moniker must load even when nothing else registered a class yet.
    static std::once_flag built_ins;
    std::call_once(built_ins, [] { RegisterComClasses(registry); });
    return registry;
}

void ClassRegistry::Register(ClassEntry entry) {
    std::lock_guard lock(m_lock);
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [&](const ClassEntry& e) { return e.clsid == entry.clsid; });
    if (it != m_entries.end())
        *it = std::move(entry);
    else
        m_entries.push_back(std::move(entry));
}

void ClassRegistry::Unregister(REFCLSID clsid) {
    std::lock_guard lock(m_lock);
    std::erase_if(m_entries, [&](const ClassEntry& e) { return e.clsid == clsid; });
}

std::optional<ClassEntry> ClassRegistry::Find(REFCLSID clsid) const {
    std::lock_guard lock(m_lock);
    for (const auto& e : m_entries)
        if (e.clsid == clsid)
            return e;
    return std::nullopt;
}

std::vector<ClassEntry> ClassRegistry::InCategory(REFGUID category) const {
    std::lock_guard lock(m_lock);
    std::vector<ClassEntry> out;
    for (const auto& e : m_entries)
        if (std::find(e.categories.begin(), e.categories.end(), category) != e.categories.end())
            out.push_back(e);
    return out;
}

std::vector<ClassEntry> ClassRegistry::All() const {
    std::lock_guard lock(m_lock);
    return m_entries;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID riid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    auto entry = ClassRegistry::Instance().Find(clsid);
    if (!entry || !entry->create)
        return REGDB_E_CLASSNOTREG;
    try {
        HRESULT hr = entry->create(riid, out);
        if (FAILED(hr))
            *out = nullptr;
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace ronvix::com
