#pragma once
// The device registry and the system device enumerator.
//
// Devices are not registered once and for all: providers plug in per
// category and report, at each enumeration, the devices present now. Real
// backends (V4L2, ALSA) come first, in the order they were added, then the
// virtual devices; in the general filter category the registered software
// filters that name that category follow. Each provider reports its devices
// in a stable order (backends sort by device path), so a position in one
// enumeration names the same device in the next as long as nothing changed.
//
// Thread-safe. Providers are called without any registry lock held, on the
// thread that enumerates, and may be called concurrently.

#include <functional>
#include <string>
#include <vector>

#include "platform/com/classregistry.h"
#include "platform/com/objidl.h"

namespace ronvix::com {

inline constexpr GUID CLSID_VideoInputDeviceCategory =
    RONVIX_GUID("{860BB310-5D01-11D0-BD3B-00A0C911CE86}");
inline constexpr GUID CLSID_AudioInputDeviceCategory =
    RONVIX_GUID("{33D9A762-90C8-11D0-BD43-00A0C911CE86}");
inline constexpr GUID CLSID_TransmitCategory =
    RONVIX_GUID("{CC7BFB41-F175-11D1-A392-00E0291F3959}");
inline constexpr GUID CLSID_AudioRendererCategory =
    RONVIX_GUID("{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}");
// The general filter category: every software filter that names it.
inline constexpr GUID CLSID_LegacyAmFilterCategory =
    RONVIX_GUID("{083863F1-70DE-11D0-BD40-00A0C911CE86}");

inline constexpr CLSID CLSID_SystemDeviceEnum =
    RONVIX_GUID("{62BE5D10-60EB-11D0-BD3B-00A0C911CE86}");

// One device as a provider reports it.
struct DeviceDescription {
    // What the device calls itself (UTF-8); shown to the user, need not be
    // unique.
    std::string friendly_name;
    // A stable identity for a real device (for example its /dev/v4l/by-id
    // path or the ALSA card id); the display name is then
    // "@device:pnp:<identity>\{category}". Empty for a device named by its
    // friendly name ("@device:cm:{category}\<friendly name>").
    std::string identity;
    // The device filter's class id; CLSID_NULL when it has none.
    CLSID clsid;
    // Makes a new filter for the device and returns interface `riid` of it.
    std::function<HRESULT(REFIID riid, void** out)> create;
};

// A device as enumerated: its unique display name and its description.
struct Device {
    std::u16string display_name;
    DeviceDescription description;
};

enum class ProviderKind { Backend, Virtual };

using DeviceProvider = std::function<std::vector<DeviceDescription>()>;

class DeviceRegistry {
public:
    static DeviceRegistry& Instance();

    using ProviderId = uint64_t;
    // Adds a provider for `category`; the id removes it again. Never 0.
    ProviderId AddProvider(REFGUID category, ProviderKind kind, DeviceProvider provider);
    void RemoveProvider(ProviderId id);

    // The devices of `category` now, in enumeration order, with display
    // names made unique: when two devices would have the same display name,
    // the later ones get " #2", " #3", ... after their name or identity.
    std::vector<Device> Enumerate(REFGUID category) const;

    // The device that `display_name` names now, by a fresh enumeration of
    // its category; nothing when it is not present.
    std::optional<Device> Find(std::u16string_view display_name) const;

private:
    struct Provider {
        ProviderId id;
        GUID category;
        ProviderKind kind;
        DeviceProvider provider;
    };
    mutable std::mutex m_lock;
    // Guarded by m_lock.
    std::vector<Provider> m_providers;
    ProviderId m_next_id = 1;
};

// Registers the platform's own classes (the system device enumerator and the
// moniker classes) in `registry`. Idempotent; ClassRegistry::Instance() does
// it on first use.
void RegisterComClasses(ClassRegistry& registry);

}  // namespace ronvix::com
