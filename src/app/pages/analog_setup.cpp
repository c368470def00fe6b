#include "app/pages/analog_setup.h"

#include <optional>
#include <utility>

#include "app/pages/stored_settings.h"
#include "platform/com/comptr.h"

namespace ronvix::app::pages {

namespace {

const QString kVideoInput = Key(StoredSettingOf("VideoInput"));
const QString kAudioInput = Key(StoredSettingOf("AudioInput"));
const QString kVideoStandard = Key(StoredSettingOf("VideoStandard"));

QString Section(const QString& moniker) {
    return DeviceSection(StoredSettingOf("VideoInput"), moniker);
}

template <class I>
com::ComPtr<I> Query(media::IBaseFilter* filter) {
    com::ComPtr<I> found;
    if (filter)
        filter->QueryInterface(I::iid, found.OutVoid());
    return found;
}

std::optional<com::LONG> Stored(settings::TFormStorage& storage, const QString& section,
                                const QString& key) {
    bool ok = false;
    const com::LONG value = storage.ReadEntry(section, key, QString()).trimmed().toInt(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

}  // namespace

void RememberAnalogSetup(settings::TFormStorage& storage, const QString& moniker,
                         media::IBaseFilter* filter) {
    if (moniker.isEmpty())
        return;
    const QString section = Section(moniker);
    if (auto crossbar = Query<media::IAMCrossbar>(filter)) {
        com::LONG outputs = 0, inputs = 0, routed = -1;
        crossbar->get_PinCounts(&outputs, &inputs);
        if (com::SUCCEEDED(crossbar->get_IsRoutedTo(0, &routed)) && routed >= 0)
            storage.WriteEntry(section, kVideoInput, QString::number(routed));
        if (outputs > 1 && com::SUCCEEDED(crossbar->get_IsRoutedTo(1, &routed)) && routed >= 0)
            storage.WriteEntry(section, kAudioInput, QString::number(routed));
    }
    if (auto decoder = Query<media::IAMAnalogVideoDecoder>(filter)) {
        com::LONG format = 0;
        if (com::SUCCEEDED(decoder->get_TVFormat(&format)) && format != media::AnalogVideo_None)
            storage.WriteEntry(section, kVideoStandard, QString::number(format));
    }
}

bool RestoreAnalogSetup(settings::TFormStorage& storage, const QString& moniker,
                        media::IBaseFilter* filter) {
    if (moniker.isEmpty())
        return false;
    const QString section = Section(moniker);
    // The picture's input first: routing it also routes the sound the card
    // pairs with it, which the stored audio input then overrides.
    if (auto crossbar = Query<media::IAMCrossbar>(filter)) {
        for (const auto& [output, key] : {std::pair{0, kVideoInput}, std::pair{1, kAudioInput}}) {
            com::LONG routed = -1;
            const auto input = Stored(storage, section, key);
            if (input &&
                (com::FAILED(crossbar->get_IsRoutedTo(output, &routed)) || routed != *input))
                crossbar->Route(output, *input);
        }
    }
    auto decoder = Query<media::IAMAnalogVideoDecoder>(filter);
    const auto standard = Stored(storage, section, kVideoStandard);
    if (!decoder || !standard)
        return false;
    com::LONG current = 0;
    if (com::SUCCEEDED(decoder->get_TVFormat(&current)) && current == *standard)
        return false;
    // A standard the card no longer takes (another card under the same
    // name) is refused by the device and changes nothing.
    return com::SUCCEEDED(decoder->put_TVFormat(*standard));
}

}  // namespace ronvix::app::pages
