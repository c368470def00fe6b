#include "platform/com/devices.h"

#include <algorithm>
#include <set>

#include "platform/com/moniker.h"
#include "platform/com/moniker_internal.h"
#include "platform/com/object.h"

namespace ronvix::com {

namespace {

std::u16string DisplayNameFor(REFGUID category, const DeviceDescription& d,
                              std::string_view suffix) {
    std::string name;
    if (!d.identity.empty())
        name = "@device:pnp:" + d.identity + std::string(suffix) + "\\" + category.ToString();
    else
        name = "@device:cm:" + category.ToString() + "\\" + d.friendly_name + std::string(suffix);
    return ToUtf16(name);
}

// Display names compare without regard to ASCII case, as the platform's do.
bool SameDisplayName(std::u16string_view a, std::u16string_view b) {
    auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

class SystemDeviceEnum final : public ComObject<ICreateDevEnum> {
public:
    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        try {
            std::vector<ComPtr<IMoniker>> monikers;
            for (const Device& device : DeviceRegistry::Instance().Enumerate(category)) {
                ComPtr<IMoniker> moniker;
                HRESULT hr =
                    detail::CreateEnumeratedMoniker(device, moniker.ReleaseAndGetAddressOf());
                if (FAILED(hr))
                    return hr;
                monikers.push_back(std::move(moniker));
            }
            if (monikers.empty())
                return S_FALSE;
            return detail::CreateMonikerEnum(std::move(monikers), out);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
};

}  // namespace

DeviceRegistry& DeviceRegistry::Instance() {
    static DeviceRegistry registry;
    return registry;
}

DeviceRegistry::ProviderId DeviceRegistry::AddProvider(REFGUID category, ProviderKind kind,
                                                       DeviceProvider provider) {
    std::lock_guard lock(m_lock);
    ProviderId id = m_next_id++;
    m_providers.push_back(Provider{id, category, kind, std::move(provider)});
    return id;
}

void DeviceRegistry::RemoveProvider(ProviderId id) {
    std::lock_guard lock(m_lock);
    std::erase_if(m_providers, [&](const Provider& p) { return p.id == id; });
}

std::vector<Device> DeviceRegistry::Enumerate(REFGUID category) const {
    std::vector<DeviceProvider> backends, virtuals;
    {
        std::lock_guard lock(m_lock);
        for (const auto& p : m_providers) {
            if (p.category != category)
                continue;
            (p.kind == ProviderKind::Backend ? backends : virtuals).push_back(p.provider);
        }
    }
    std::vector<Device> out;
    std::set<std::u16string> seen;
    auto add = [&](DeviceDescription d) {
        // A display name must name one device: later devices that would
        // repeat one get a number, so binding reaches the one that was listed.
        std::u16string name = DisplayNameFor(category, d, {});
        for (int n = 2; seen.count(name); ++n)
            name = DisplayNameFor(category, d, " #" + std::to_string(n));
        seen.insert(name);
        out.push_back(Device{std::move(name), std::move(d)});
    };
    for (auto* list : {&backends, &virtuals})
        for (const auto& provider : *list)
            if (provider) {
                // A provider that fails contributes nothing this time; the
                // others are still listed.
                std::vector<DeviceDescription> devices;
                try {
                    devices = provider();
                } catch (...) {
                    continue;
                }
                for (auto& d : devices)
                    add(std::move(d));
            }

    if (category == CLSID_LegacyAmFilterCategory) {
        for (const ClassEntry& e : ClassRegistry::Instance().InCategory(category)) {
            std::u16string name =
                ToUtf16("@device:sw:" + category.ToString() + "\\" + e.clsid.ToString());
            if (!seen.insert(name).second)
                continue;
            CLSID clsid = e.clsid;
            out.push_back(Device{
                std::move(name),
                DeviceDescription{e.friendly_name, {}, clsid, [clsid](REFIID riid, void** obj) {
                                      return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC, riid,
                                                              obj);
                                  }}});
        }
    }
    return out;
}

std::optional<Device> DeviceRegistry::Find(std::u16string_view display_name) const {
    auto parsed = ParseDeviceDisplayName(display_name);
    if (!parsed)
        return std::nullopt;
    for (Device& d : Enumerate(parsed->category))
        if (SameDisplayName(d.display_name, display_name))
            return std::move(d);
    return std::nullopt;
}

void RegisterComClasses(ClassRegistry& registry) {
    auto create_enum = [](REFIID riid, void** out) {
        auto e = MakeCom<SystemDeviceEnum>();
        return e->QueryInterface(riid, out);
    };
    if (!registry.Find(CLSID_SystemDeviceEnum))
        registry.Register({CLSID_SystemDeviceEnum, "System Device Enumerator", create_enum});
    if (!registry.Find(CLSID_CDeviceMoniker))
        registry.Register(
            {CLSID_CDeviceMoniker, "Device Moniker", detail::CreateDeviceMonikerInstance});
    if (!registry.Find(CLSID_ItemMoniker))
        registry.Register({CLSID_ItemMoniker, "Item Moniker", detail::CreateItemMonikerInstance});
}

}  // namespace ronvix::com
