#pragma once
// Enumerators over snapshots: an enumerator lists what existed when it was
// made, so a filter that adds pins later never invalidates one in use.
// Not thread-safe: one enumerator per thread (Clone for another).

#include <vector>

#include "platform/com/object.h"
#include "platform/media/core/interfaces.h"

namespace ronvix::media {

// Enumerates interface pointers (pins, filters); Next hands out references.
template <class IEnum, class Item>
class InterfaceEnumerator final : public com::ComObject<IEnum> {
public:
    explicit InterfaceEnumerator(std::vector<com::ComPtr<Item>> items, size_t pos = 0)
        : m_items(std::move(items)), m_pos(pos) {}

    HRESULT Next(ULONG count, Item** out, ULONG* fetched) override {
        if (!out)
            return com::E_POINTER;
        if (count != 1 && !fetched)
            return com::E_POINTER;
        ULONG n = 0;
        while (n < count && m_pos < m_items.size()) {
            out[n] = m_items[m_pos++].Get();
            out[n]->AddRef();
            ++n;
        }
        if (fetched)
            *fetched = n;
        return n == count ? com::S_OK : com::S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        const size_t left = m_items.size() - m_pos;
        m_pos += std::min<size_t>(left, count);
        return left >= count ? com::S_OK : com::S_FALSE;
    }
    HRESULT Reset() override {
        m_pos = 0;
        return com::S_OK;
    }
    HRESULT Clone(IEnum** out) override {
        if (!out)
            return com::E_POINTER;
        *out = new InterfaceEnumerator(m_items, m_pos);
        return com::S_OK;
    }

private:
    std::vector<com::ComPtr<Item>> m_items;
    size_t m_pos = 0;
};

using PinEnumerator = InterfaceEnumerator<IEnumPins, IPin>;
using FilterEnumerator = InterfaceEnumerator<IEnumFilters, IBaseFilter>;

// Enumerates media types; Next hands out heap copies the caller deletes
// with DeleteMediaType.
class MediaTypeEnumerator final : public com::ComObject<IEnumMediaTypes> {
public:
    explicit MediaTypeEnumerator(std::vector<MediaType> types, size_t pos = 0)
        : m_types(std::move(types)), m_pos(pos) {}

    HRESULT Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) override;
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMediaTypes** out) override;

private:
    std::vector<MediaType> m_types;
    size_t m_pos = 0;
};

}  // namespace ronvix::media
