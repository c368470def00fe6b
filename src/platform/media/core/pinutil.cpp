#include "platform/media/core/pinutil.h"

namespace ronvix::media {

using namespace com;

GUID PinCategory(IPin* pin) {
    GUID category{};
    ComPtr<IKsPropertySet> props;
    if (!pin || FAILED(pin->QueryInterface(IKsPropertySet::iid, props.OutVoid())))
        return category;
    DWORD returned = 0;
    if (FAILED(props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                          sizeof category, &returned)))
        category = GUID_NULL;
    return category;
}

PIN_DIRECTION PinDirection(IPin* pin) {
    PIN_DIRECTION dir = PINDIR_INPUT;
    if (pin)
        pin->QueryDirection(&dir);
    return dir;
}

bool PinIsConnected(IPin* pin) {
    ComPtr<IPin> peer;
    return pin && SUCCEEDED(pin->ConnectedTo(peer.ReleaseAndGetAddressOf())) && peer;
}

ComPtr<IBaseFilter> PinFilter(IPin* pin) {
    PIN_INFO info;
    if (!pin || FAILED(pin->QueryPinInfo(&info)))
        return nullptr;
    return ComPtr<IBaseFilter>::Adopt(info.pFilter);
}

std::u16string PinName(IPin* pin) {
    PIN_INFO info;
    if (!pin || FAILED(pin->QueryPinInfo(&info)))
        return {};
    if (info.pFilter)
        info.pFilter->Release();
    return std::u16string(info.achName);
}

std::vector<ComPtr<IPin>> FilterPins(IBaseFilter* filter) {
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> pin_enum;
    if (!filter || FAILED(filter->EnumPins(pin_enum.ReleaseAndGetAddressOf())) || !pin_enum)
        return pins;
    IPin* pin = nullptr;
    while (pin_enum->Next(1, &pin, nullptr) == S_OK)
        pins.push_back(ComPtr<IPin>::Adopt(pin));
    return pins;
}

bool PinHasMajorType(IPin* pin, const GUID& major) {
    AM_MEDIA_TYPE connected{};
    if (SUCCEEDED(pin->ConnectionMediaType(&connected))) {
        const bool match = connected.majortype == major;
        FreeMediaType(connected);
        return match;
    }
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf())) || !types)
        return false;
    AM_MEDIA_TYPE* mt = nullptr;
    bool match = false;
    while (!match && types->Next(1, &mt, nullptr) == S_OK) {
        match = mt->majortype == major;
        DeleteMediaType(mt);
    }
    return match;
}

std::u16string FilterName(IBaseFilter* filter) {
    FILTER_INFO info;
    if (!filter || FAILED(filter->QueryFilterInfo(&info)))
        return {};
    if (info.pGraph)
        info.pGraph->Release();
    return std::u16string(info.achName);
}

std::string PinLabel(IPin* pin) {
    ComPtr<IBaseFilter> filter = PinFilter(pin);
    return ToUtf8(FilterName(filter.Get())) + ":" + ToUtf8(PinName(pin));
}

}  // namespace ronvix::media
