#include "platform/media/devices/alsa/alsamixer.h"

#include <cmath>

#include "platform/com/oleauto.h"

namespace ronvix::media {

using namespace com;

AlsaInputLines::AlsaInputLines(AlsaCaptureApi api, const std::string& card_id)
    : m_api(std::move(api)) {
    if (!m_api.open_mixer || m_api.open_mixer("hw:CARD=" + card_id, &m_mixer) < 0 || !m_mixer) {
        m_mixer = nullptr;
        return;
    }
    struct Element {
        void* handle;
        AlsaMixerElement info;
        bool used = false;
    };
    std::vector<Element> elements;
    for (void* e : m_api.elements(m_mixer)) {
        AlsaMixerElement info;
        if (m_api.element_info(e, &info) == 0)
            elements.push_back({e, std::move(info)});
    }
    auto gain_of = [](const Element& e) {
        return e.info.capture_volume ? Gain{e.handle, e.info.volume_min, e.info.volume_max}
                                     : Gain{};
    };

    // The capture source enumeration, when the card has one: its items are
    // the exclusive lines. Other enumerations (a second converter's source)
    // are not lines.
    Element* source = nullptr;
    for (Element& e : elements) {
        if (!e.info.capture_source)
            continue;
        e.used = true;
        if (!source)
            source = &e;
    }
    if (source) {
        Gain master;
        void* master_switch = nullptr;
        for (Element& e : elements)
            if (!e.used && e.info.name == "Capture" && e.info.index == 0 &&
                (e.info.capture_volume || e.info.capture_switch)) {
                master = gain_of(e);
                master_switch = e.info.capture_switch ? e.handle : nullptr;
                e.used = true;
            }
        for (unsigned item = 0; item < source->info.items.size(); ++item) {
            Line line{ToUtf16(source->info.items[item]), source->handle, item, master_switch,
                      master};
            for (Element& e : elements) {
                if (e.used || e.info.name != source->info.items[item] || e.info.index != 0 ||
                    !(e.info.capture_volume || e.info.capture_switch))
                    continue;
                if (e.info.capture_volume)
                    line.gain = gain_of(e);
                if (e.info.capture_switch)
                    line.on_switch = e.handle;
                e.used = true;
                break;
            }
            m_lines.push_back(std::move(line));
        }
    }
    for (Element& e : elements) {
        if (e.used || !(e.info.capture_volume || e.info.capture_switch))
            continue;
        // The converter's own element would repeat the capture pin's name.
        std::string name = e.info.name == "Capture" ? "Master Capture" : e.info.name;
        if (e.info.index > 0)
            name += " " + std::to_string(e.info.index);
        m_lines.push_back(
            {ToUtf16(name), nullptr, 0, e.info.capture_switch ? e.handle : nullptr, gain_of(e)});
    }
}

AlsaInputLines::~AlsaInputLines() {
    if (m_mixer)
        m_api.close_mixer(m_mixer);
}

size_t AlsaInputLines::Count() const {
    return m_lines.size();
}

std::u16string AlsaInputLines::Name(size_t line) const {
    return line < m_lines.size() ? m_lines[line].name : std::u16string();
}

HRESULT AlsaInputLines::GetEnabled(size_t index, bool* enabled) {
    if (!enabled)
        return E_POINTER;
    *enabled = false;
    if (index >= m_lines.size())
        return E_INVALIDARG;
    const Line& line = m_lines[index];
    std::lock_guard guard(m_lock);
    m_api.update(m_mixer);
    if (line.source) {
        unsigned item = 0;
        const int err = m_api.get_item(line.source, &item);
        if (err < 0)
            return HResultFromErrno(-err);
        *enabled = item == line.item;
    } else {
        *enabled = true;
    }
    if (*enabled && line.on_switch) {
        bool on = false;
        const int err = m_api.get_switch(line.on_switch, &on);
        if (err < 0)
            return HResultFromErrno(-err);
        *enabled = on;
    }
    return S_OK;
}

HRESULT AlsaInputLines::SetEnabled(size_t index, bool enabled) {
    if (index >= m_lines.size())
        return E_INVALIDARG;
    const Line& line = m_lines[index];
    // An enumerated source always has one input selected, and a line
    // without a switch is always on: neither can be turned off alone.
    if (!enabled && !line.on_switch)
        return E_NOTIMPL;
    std::lock_guard guard(m_lock);
    if (line.source) {
        if (enabled) {
            const int err = m_api.set_item(line.source, line.item);
            if (err < 0)
                return HResultFromErrno(-err);
        } else {
            // An item that is not selected is off already; the switch it
            // shares with the others belongs to the selected one.
            m_api.update(m_mixer);
            unsigned item = 0;
            const int err = m_api.get_item(line.source, &item);
            if (err < 0)
                return HResultFromErrno(-err);
            if (item != line.item)
                return S_OK;
        }
    }
    if (line.on_switch) {
        const int err = m_api.set_switch(line.on_switch, enabled);
        if (err < 0)
            return HResultFromErrno(-err);
    }
    return S_OK;
}

HRESULT AlsaInputLines::GetLevel(size_t index, double* level) {
    if (!level)
        return E_POINTER;
    *level = 0;
    if (index >= m_lines.size())
        return E_INVALIDARG;
    const Gain& gain = m_lines[index].gain;
    if (!gain.element || gain.max <= gain.min) {
        // A line without a gain of its own passes its signal at full level.
        *level = 1.0;
        return S_OK;
    }
    std::lock_guard guard(m_lock);
    m_api.update(m_mixer);
    long value = 0;
    const int err = m_api.get_volume(gain.element, &value);
    if (err < 0)
        return HResultFromErrno(-err);
    *level = std::clamp(double(value - gain.min) / double(gain.max - gain.min), 0.0, 1.0);
    return S_OK;
}

HRESULT AlsaInputLines::SetLevel(size_t index, double level) {
    if (index >= m_lines.size() || !(level >= 0.0 && level <= 1.0))
        return E_INVALIDARG;
    const Gain& gain = m_lines[index].gain;
    if (!gain.element || gain.max <= gain.min)
        return E_NOTIMPL;
    const long value = gain.min + std::lround(level * double(gain.max - gain.min));
    std::lock_guard guard(m_lock);
    const int err = m_api.set_volume(gain.element, value);
    return err < 0 ? HResultFromErrno(-err) : S_OK;
}

}  // namespace ronvix::media
