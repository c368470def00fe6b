#include "platform/com/rot.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/com/moniker_internal.h"
#include "platform/com/object.h"

namespace ronvix::com {

namespace {

class RunningObjectTable final : public ComObject<IRunningObjectTable> {
public:
    HRESULT Register(DWORD, IUnknown* object, IMoniker* name, DWORD* cookie) override {
        if (cookie)
            *cookie = 0;
        if (!object || !name || !cookie)
            return E_INVALIDARG;
        ComPtr<IUnknown> held(object);
        ComPtr<IMoniker> held_name(name);
        // Comparing names calls into monikers: do it outside the lock.
        bool duplicate = false;
        for (const auto& e : Snapshot())
            if (e.name->IsEqual(name) == S_OK)
                duplicate = true;
        std::lock_guard lock(m_lock);
        DWORD id = m_next_cookie++;
        if (m_next_cookie == 0)
            m_next_cookie = 1;
        m_entries.push_back(Entry{id, std::move(held), std::move(held_name)});
        *cookie = id;
        return duplicate ? MK_S_MONIKERALREADYREGISTERED : S_OK;
    }

    HRESULT Revoke(DWORD cookie) override {
        Entry removed;
        {
            std::lock_guard lock(m_lock);
            auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                   [&](const Entry& e) { return e.cookie == cookie; });
            if (it == m_entries.end())
                return E_INVALIDARG;
            removed = std::move(*it);
            m_entries.erase(it);
        }
        // `removed` releases the object here, outside the lock, so an object
        // whose destruction revokes something else cannot deadlock.
        return S_OK;
    }

    HRESULT IsRunning(IMoniker* name) override {
        if (!name)
            return E_INVALIDARG;
        for (const auto& e : Snapshot())
            if (e.name->IsEqual(name) == S_OK)
                return S_OK;
        return S_FALSE;
    }

    HRESULT GetObject(IMoniker* name, IUnknown** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!name)
            return E_INVALIDARG;
        for (const auto& e : Snapshot())
            if (e.name->IsEqual(name) == S_OK) {
                *out = e.object.Get();
                (*out)->AddRef();
                return S_OK;
            }
        return MK_E_UNAVAILABLE;
    }

    HRESULT EnumRunning(IEnumMoniker** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        std::vector<ComPtr<IMoniker>> names;
        for (const auto& e : Snapshot())
            names.push_back(e.name);
        return detail::CreateMonikerEnum(std::move(names), out);
    }

private:
    struct Entry {
        DWORD cookie = 0;
        ComPtr<IUnknown> object;
        ComPtr<IMoniker> name;
    };

    std::vector<Entry> Snapshot() const {
        std::lock_guard lock(m_lock);
        return m_entries;
    }

    mutable std::mutex m_lock;
    // Guarded by m_lock.
    std::vector<Entry> m_entries;
    DWORD m_next_cookie = 1;
};

}  // namespace

HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (reserved != 0)
        return E_INVALIDARG;
    // One table for the life of the process; deliberately never destroyed so
    // that objects still registered at exit are not released after the
    // libraries they live in have shut down.
    static RunningObjectTable* const table = MakeCom<RunningObjectTable>().Detach();
    table->AddRef();
    *out = table;
    return S_OK;
}

}  // namespace ronvix::com
