#include "app/pages/device_items.h"

#include "platform/com/moniker.h"

namespace ronvix::app::pages {

void TakePins(mediagraph::TPinList& pins, media::PIN_DIRECTION dir,
              mediagraph::TEnumMediaType* types) {
    int i = 0;
    while (i < pins.Count()) {
        media::PIN_INFO info;
        pins.PinInfoAt(i, info);
        if (info.pFilter)
            info.pFilter->Release();
        if (info.dir == dir) {
            if (types)
                types->LoadFromPin(pins.PinAt(i).Get());
            pins.Delete(i);
        } else {
            ++i;
        }
    }
}

com::ComPtr<com::IMoniker> DeviceItemMoniker(const mediagraph::TSysDevEnum& devices,
                                             const QComboBox* combo, int index) {
    const QString name = combo->itemData(index, kMonikerRole).toString();
    if (name.isEmpty())
        return devices.DeviceMoniker(index);
    com::ComPtr<com::IMoniker> moniker;
    com::CreateDeviceMoniker(name.toStdU16String(), moniker.ReleaseAndGetAddressOf());
    return moniker;
}

int DeviceItemOf(const QComboBox* list, const QString& moniker) {
    for (int i = 0; i < list->count(); ++i)
        if (list->itemData(i, kMonikerRole)
                .toString()
                .trimmed()
                .compare(moniker.trimmed(), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

}  // namespace ronvix::app::pages
