#pragma once
// Monikers: persistent names of devices, software filters and running
// objects, and the property bags that describe what they name.
//
// Device display names have three shapes:
//   "@device:cm:{category}\<device name>"    a device named by its name
//   "@device:sw:{category}\{class id}"       a registered software filter
//   "@device:pnp:<stable identity>\{category}" a real device (V4L2 path, ALSA card id)
// A device moniker saves itself as a 4-byte little-endian byte count N and
// then N bytes of UTF-16LE display name including its terminating zero;
// OleSaveToStream puts the moniker class id in front of that.

#include <map>
#include <string>
#include <string_view>

#include "platform/com/objidl.h"

namespace ronvix::com {

inline constexpr CLSID CLSID_CDeviceMoniker = RONVIX_GUID("{4315D437-5B8C-11D0-BD3B-00A0C911CE86}");
inline constexpr CLSID CLSID_ItemMoniker = RONVIX_GUID("{00000304-0000-0000-C000-000000000046}");

// Longest display name a saved device moniker may carry (characters with the
// terminating zero). Longer counts in a stream are treated as corruption, so
// a garbled block cannot make the loader allocate without bound.
inline constexpr uint32_t kMaxDisplayNameChars = 32768;

enum class DeviceNameKind { Named, Software, Pnp };

struct DeviceDisplayName {
    DeviceNameKind kind = DeviceNameKind::Named;
    GUID category;
    // Named: the device name; Software: the class id text; Pnp: the identity.
    std::u16string item;
    CLSID clsid;  // Software only
};

// Splits a device display name; nothing for any text that is not one of the
// three shapes (the "@device:" prefix and the kind compare without regard
// to case, as the platform's parser does).
std::optional<DeviceDisplayName> ParseDeviceDisplayName(std::u16string_view name);

// Makes a device moniker for a display name; MK_E_SYNTAX when it is not one.
HRESULT CreateDeviceMoniker(std::u16string_view display_name, IMoniker** out);

// The platform's parser. Accepts device display names; "eaten" receives the
// characters consumed (all on success, 0 on failure).
HRESULT MkParseDisplayName(IBindCtx* ctx, LPCOLESTR name, ULONG* eaten, IMoniker** out);

// An item moniker ("!" and an item name): names an object registered in the
// running object table. Its display name is delimiter + item; two item
// monikers are equal when their display names match without regard to case.
HRESULT CreateItemMoniker(LPCOLESTR delimiter, LPCOLESTR item, IMoniker** out);

// The display name as a string; empty when the moniker gives none.
std::u16string DisplayNameOf(IMoniker* moniker);

// An in-memory property bag holding the given values (UTF-8 text becomes
// VT_BSTR). Writes change only this bag. Thread-safe.
HRESULT CreatePropertyBag(const std::map<std::string, std::string>& text_values,
                          IPropertyBag** out);

// Reads a string property; nothing when it is missing or not text.
std::optional<std::string> ReadBagString(IPropertyBag* bag, std::u16string_view name);

}  // namespace ronvix::com
