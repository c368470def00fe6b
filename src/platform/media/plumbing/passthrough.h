#pragma once
// Pins for filters that hand on the samples they receive, unchanged and in
// place (sync, Smart Tee capture output, Sample Grabber).

#include <atomic>

#include "platform/media/core/filter.h"

namespace ronvix::media {

// An input pin that takes any complete media type unless the filter narrows
// it with `accept`.
class AnyInputPin : public BaseInputPin {
public:
    AnyInputPin(BaseFilter& filter, std::u16string name) : BaseInputPin(filter, std::move(name)) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        return IsComplete(mt) ? com::S_OK : com::VFW_E_TYPE_NOT_ACCEPTED;
    }
};

// An output pin that carries the type of its partner input and no buffer
// pool of its own: it delivers the very samples the partner received.
class PassThroughOutputPin : public BaseOutputPin {
public:
    PassThroughOutputPin(BaseFilter& filter, std::u16string name, BaseInputPin* partner,
                         const GUID& category = com::GUID_NULL)
        : BaseOutputPin(filter, std::move(name), category), m_partner(partner) {}

    // The partner input must be connected first: its type is the only one
    // this pin carries.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        if (!m_partner->IsConnected())
            return com::VFW_E_NOT_CONNECTED;
        const MediaType in = m_partner->ConnectionType();
        const bool same = in->majortype == mt.majortype && in->subtype == mt.subtype &&
                          in->formattype == mt.formattype;
        return same ? com::S_OK : com::VFW_E_TYPE_NOT_ACCEPTED;
    }
    std::vector<MediaType> OfferedTypes() override {
        if (!m_partner->IsConnected())
            return {};
        return {m_partner->ConnectionType()};
    }
    BaseInputPin* Partner() const { return m_partner; }

protected:
    HRESULT DecideBufferSize(ALLOCATOR_PROPERTIES&) override { return com::S_FALSE; }

private:
    BaseInputPin* const m_partner;
};

}  // namespace ronvix::media
