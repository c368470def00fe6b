#include "app/pages/control_memory.h"

#include <QStringList>
#include <optional>
#include <span>

#include "app/pages/stored_settings.h"
#include "platform/com/comptr.h"

namespace ronvix::app::pages {
namespace {

constexpr int kAmplifier = 0, kCamera = 1;

const StoredSetting& Row(int set) {
    return StoredSettingOf(set == kAmplifier ? "VideoProcAmp" : "CameraControl");
}

std::span<const media::DeviceControlProperty> Properties(int set) {
    if (set == kAmplifier)
        return media::kVideoProcAmpProperties;
    return media::kCameraControlProperties;
}

// The two control interfaces of a filter, called alike.
class Controls {
public:
    explicit Controls(media::IBaseFilter* filter) {
        if (filter) {
            filter->QueryInterface(media::IAMVideoProcAmp::iid, m_amplifier.OutVoid());
            filter->QueryInterface(media::IAMCameraControl::iid, m_camera.OutVoid());
        }
    }
    std::optional<ControlState> Read(int set, com::LONG property) const {
        com::LONG min = 0, max = 0, step = 0, caps = 0;
        ControlState s;
        const bool ok = set == kAmplifier
                            ? m_amplifier &&
                                  com::SUCCEEDED(m_amplifier->GetRange(property, &min, &max, &step,
                                                                       &s.def, &caps)) &&
                                  com::SUCCEEDED(m_amplifier->Get(property, &s.value, &s.flags))
                            : m_camera &&
                                  com::SUCCEEDED(m_camera->GetRange(property, &min, &max, &step,
                                                                    &s.def, &caps)) &&
                                  com::SUCCEEDED(m_camera->Get(property, &s.value, &s.flags));
        return ok ? std::optional(s) : std::nullopt;
    }
    void Set(int set, com::LONG property, com::LONG value, com::LONG flags) const {
        if (set == kAmplifier && m_amplifier)
            m_amplifier->Set(property, value, flags);
        else if (set == kCamera && m_camera)
            m_camera->Set(property, value, flags);
    }

private:
    com::ComPtr<media::IAMVideoProcAmp> m_amplifier;
    com::ComPtr<media::IAMCameraControl> m_camera;
};

bool Automatic(const ControlState& s) {
    return (s.flags & media::VideoProcAmp_Flags_Auto) != 0;
}

// "Brightness=200, White Balance=auto": by name, a value or "auto".
using Remembered = std::map<QString, QString>;

Remembered Parse(const QString& text) {
    Remembered entries;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        if (eq > 0)
            entries[item.left(eq).trimmed()] = item.mid(eq + 1).trimmed();
    }
    return entries;
}

QString Join(int set, const Remembered& entries) {
    QStringList items;
    for (const media::DeviceControlProperty& p : Properties(set))
        if (const auto it = entries.find(QLatin1String(p.name)); it != entries.end())
            items << it->first + QLatin1Char('=') + it->second;
    return items.join(QStringLiteral(", "));
}

}  // namespace

DeviceControls ReadDeviceControls(media::IBaseFilter* filter, std::optional<com::LONG> property) {
    const Controls controls(filter);
    DeviceControls all;
    for (int set : {kAmplifier, kCamera})
        for (const media::DeviceControlProperty& p : Properties(set))
            if (!property || (set == kAmplifier && p.id == *property))
                if (const auto state = controls.Read(set, p.id))
                    all[{set, p.id}] = *state;
    return all;
}

void RememberControlChanges(settings::TFormStorage& storage, const QString& moniker,
                            const DeviceControls& before, media::IBaseFilter* filter) {
    if (moniker.isEmpty())
        return;
    const Controls controls(filter);
    for (int set : {kAmplifier, kCamera}) {
        const QString section = DeviceSection(Row(set), moniker);
        Remembered entries = Parse(storage.ReadEntry(section, Key(Row(set)), QString()));
        bool changed = false;
        for (const media::DeviceControlProperty& p : Properties(set)) {
            const auto was = before.find({set, p.id});
            if (was == before.end())
                continue;
            const auto now = controls.Read(set, p.id);
            if (!now || *now == was->second)
                continue;
            const ControlState& s = *now;
            const QString name = QLatin1String(p.name);
            if (Automatic(s))
                entries[name] = QStringLiteral("auto");
            else if (s.value == s.def)
                entries.erase(name);
            else
                entries[name] = QString::number(s.value);
            changed = true;
        }
        if (changed)
            storage.WriteEntry(section, Key(Row(set)), Join(set, entries));
    }
}

void RestoreDeviceControls(settings::TFormStorage& storage, const QString& moniker,
                           media::IBaseFilter* filter) {
    if (moniker.isEmpty())
        return;
    const Controls controls(filter);
    for (int set : {kAmplifier, kCamera}) {
        const Remembered entries =
            Parse(storage.ReadEntry(DeviceSection(Row(set), moniker), Key(Row(set)), QString()));
        for (const media::DeviceControlProperty& p : Properties(set)) {
            const auto it = entries.find(QLatin1String(p.name));
            if (it == entries.end())
                continue;
            const auto state = controls.Read(set, p.id);
            if (!state)
                continue;  // not a property this device has
            bool number = false;
            const com::LONG value = it->second.toInt(&number);
            if (it->second == QLatin1String("auto"))
                controls.Set(set, p.id, state->value, media::VideoProcAmp_Flags_Auto);
            else if (number && (value != state->value || Automatic(*state)))
                controls.Set(set, p.id, value, media::VideoProcAmp_Flags_Manual);
        }
    }
}

}  // namespace ronvix::app::pages
