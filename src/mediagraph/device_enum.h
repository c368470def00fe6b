#pragma once
// TSysDevEnum: the devices of one category as the platform lists them, with
// a display name and a class id each, and the moniker of the device at a
// position. DeviceMoniker enumerates the category afresh and takes the
// device at that position; DeviceDisplayName gives the unique name of the
// device listed at a position, which names that device however the list
// changes later. User interface thread only; nothing platform-side is kept
// between calls.

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/com/comptr.h"
#include "platform/com/objidl.h"

namespace ronvix::mediagraph {

// One listed device, copied whole to callers.
struct TDeviceEntry {
    // The display name in UTF-8, cut to at most 255 bytes at a character
    // boundary: a length byte, then the characters.
    uint8_t FriendlyNameLength = 0;
    std::array<char, 255> FriendlyName{};
    // The device filter's class id; all zero when the device has none.
    com::CLSID CLSID;

    QString Name() const { return QString::fromUtf8(FriendlyName.data(), FriendlyNameLength); }
};

class TSysDevEnum {
public:
    explicit TSysDevEnum(const com::GUID& category);
    TSysDevEnum(const TSysDevEnum&) = delete;
    TSysDevEnum& operator=(const TSysDevEnum&) = delete;

    const com::GUID& Category() const { return m_category; }
    // Stores the category and lists its devices from scratch. A category
    // without devices gives an empty list. A "CLSID" text that does not
    // parse raises EOleSysError; the devices listed before it stay.
    void SelectCategory(const com::GUID& category);
    int DeviceCount() const { return static_cast<int>(m_devices.size()); }
    // EListError outside 0..DeviceCount-1.
    TDeviceEntry DeviceInfo(int index) const;
    // The moniker at `index` of a fresh enumeration of Category; null
    // outside 0..DeviceCount-1 or when the category is empty now.
    com::ComPtr<com::IMoniker> DeviceMoniker(int index) const;
    // The display name of the moniker of the device listed at `index` by
    // the last SelectCategory; empty outside 0..DeviceCount-1.
    QString DeviceDisplayName(int index) const;

private:
    com::GUID m_category;
    std::vector<std::unique_ptr<TDeviceEntry>> m_devices;
    std::vector<QString> m_display_names;  // parallel to m_devices
};

}  // namespace ronvix::mediagraph
