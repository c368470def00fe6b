#include "mediagraph/device_enum.h"

#include <algorithm>
#include <cstring>

#include "framework/exceptions.h"
#include "mediagraph/graph_util.h"
#include "platform/com/classregistry.h"
#include "platform/com/devices.h"
#include "platform/com/moniker.h"

namespace ronvix::mediagraph {

using com::ComPtr;

namespace {

ComPtr<com::IEnumMoniker> Enumerate(const com::GUID& category) {
    ComPtr<com::ICreateDevEnum> devices;
    com::CoCreateInstance(com::CLSID_SystemDeviceEnum, nullptr, com::CLSCTX_INPROC,
                          com::ICreateDevEnum::iid, devices.OutVoid());
    ComPtr<com::IEnumMoniker> monikers;
    if (!devices ||
        devices->CreateClassEnumerator(category, monikers.ReleaseAndGetAddressOf(), 0) != com::S_OK)
        return nullptr;
    return monikers;
}

// The longest prefix of `utf8` of at most `limit` bytes that ends on a
// character boundary.
size_t CutUtf8(const std::string& utf8, size_t limit) {
    if (utf8.size() <= limit)
        return utf8.size();
    size_t n = limit;
    while (n > 0 && (static_cast<uint8_t>(utf8[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

}  // namespace

TSysDevEnum::TSysDevEnum(const com::GUID& category) {
    SelectCategory(category);
}

void TSysDevEnum::SelectCategory(const com::GUID& category) {
    m_devices.clear();
    m_display_names.clear();
    m_category = category;
    ComPtr<com::IEnumMoniker> monikers = Enumerate(category);
    if (!monikers)
        return;
    com::IMoniker* raw = nullptr;
    com::ULONG fetched = 0;
    while (monikers->Next(1, &raw, &fetched) == com::S_OK) {
        ComPtr<com::IMoniker> moniker = ComPtr<com::IMoniker>::Adopt(raw);
        raw = nullptr;
        ComPtr<com::IPropertyBag> bag;
        moniker->BindToStorage(nullptr, nullptr, com::IPropertyBag::iid, bag.OutVoid());
        auto entry = std::make_unique<TDeviceEntry>();
        if (bag) {
            // A device without a readable name is listed with an empty one.
            const std::string name =
                com::ReadBagString(bag.Get(), u"FriendlyName").value_or(std::string());
            const size_t length = CutUtf8(name, entry->FriendlyName.size());
            std::memcpy(entry->FriendlyName.data(), name.data(), length);
            entry->FriendlyNameLength = static_cast<uint8_t>(length);

            com::VARIANT value;
            if (bag->Read(u"CLSID", &value, nullptr) == com::S_OK) {
                const std::u16string text = value.vt == com::VT_BSTR
                                                ? std::u16string(com::WideView(value.bstrVal))
                                                : std::u16string();
                com::VariantClear(&value);
                const HRESULT hr = com::CLSIDFromString(text.c_str(), &entry->CLSID);
                if (com::FAILED(hr))
                    throw EOleSysError(hr);
            }
        }
        m_devices.push_back(std::move(entry));
        m_display_names.push_back(QString::fromStdU16String(com::DisplayNameOf(moniker.Get())));
    }
}

QString TSysDevEnum::DeviceDisplayName(int index) const {
    if (index < 0 || index >= static_cast<int>(m_display_names.size()))
        return {};
    return m_display_names[static_cast<size_t>(index)];
}

TDeviceEntry TSysDevEnum::DeviceInfo(int index) const {
    if (index < 0 || index >= DeviceCount())
        throw fw::EListError(index);
    return *m_devices[static_cast<size_t>(index)];
}

ComPtr<com::IMoniker> TSysDevEnum::DeviceMoniker(int index) const {
    ComPtr<com::IMoniker> moniker;
    if (index < 0 || index >= DeviceCount())
        return moniker;
    ComPtr<com::IEnumMoniker> monikers = Enumerate(m_category);
    if (!monikers)
        return moniker;
    monikers->Skip(static_cast<com::ULONG>(index));
    monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr);
    monikers->Reset();
    return moniker;
}

}  // namespace ronvix::mediagraph
