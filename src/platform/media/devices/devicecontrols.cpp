#include "platform/media/devices/devicecontrols.h"

#include <cmath>
#include <cstring>

#include "platform/com/oleauto.h"
#include "platform/media/devices/propertypages.h"

namespace ronvix::media {

using namespace com;

HRESULT FillPages(CAUUID* pages, const GUID* ids, ULONG count) {
    if (!pages)
        return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    if (!count)
        return S_OK;
    auto* elems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * count));
    if (!elems)
        return E_OUTOFMEMORY;
    std::memcpy(static_cast<void*>(elems), ids, sizeof(GUID) * count);
    pages->cElems = count;
    pages->pElems = elems;
    return S_OK;
}

std::shared_ptr<CameraControls> CameraControls::Device() {
    static const std::shared_ptr<CameraControls> device = std::make_shared<CameraControls>();
    return device;
}

bool CameraControls::Supports(LONG property) {
    return property == VideoProcAmp_Brightness || property == VideoProcAmp_Contrast ||
           property == VideoProcAmp_Saturation || property == VideoProcAmp_Sharpness;
}

HRESULT CameraControls::SetProperty(LONG property, LONG value) {
    if (!Supports(property))
        return E_PROP_ID_UNSUPPORTED;
    if (value < kMin || value > kMax)
        return E_INVALIDARG;
    std::lock_guard guard(m_lock);
    switch (property) {
        case VideoProcAmp_Brightness:
            m_picture.brightness = value;
            break;
        case VideoProcAmp_Contrast:
            m_picture.contrast = value;
            break;
        case VideoProcAmp_Saturation:
            m_picture.saturation = value;
            break;
        default:
            m_picture.sharpness = value;
            break;
    }
    return S_OK;
}

HRESULT CameraControls::GetProperty(LONG property, LONG* value) const {
    if (!value)
        return E_POINTER;
    if (!Supports(property))
        return E_PROP_ID_UNSUPPORTED;
    std::lock_guard guard(m_lock);
    switch (property) {
        case VideoProcAmp_Brightness:
            *value = m_picture.brightness;
            break;
        case VideoProcAmp_Contrast:
            *value = m_picture.contrast;
            break;
        case VideoProcAmp_Saturation:
            *value = m_picture.saturation;
            break;
        default:
            *value = m_picture.sharpness;
            break;
    }
    return S_OK;
}

PictureSettings CameraControls::Picture() const {
    std::lock_guard guard(m_lock);
    return m_picture;
}

HRESULT CameraControls::SetQuality(double quality) {
    if (!(quality >= 0.0 && quality <= 1.0))
        return E_INVALIDARG;
    std::lock_guard guard(m_lock);
    m_quality = quality;
    return S_OK;
}

double CameraControls::Quality() const {
    std::lock_guard guard(m_lock);
    return m_quality;
}

std::shared_ptr<ToneControls> ToneControls::Device() {
    static const std::shared_ptr<ToneControls> device = std::make_shared<ToneControls>();
    return device;
}

HRESULT ToneControls::SetEnabled(size_t line, bool enabled) {
    if (line >= m_lines.size())
        return E_INVALIDARG;
    std::lock_guard guard(m_lock);
    if (enabled)
        for (Line& l : m_lines)
            l.enabled = false;
    m_lines[line].enabled = enabled;
    return S_OK;
}

HRESULT ToneControls::SetLevel(size_t line, double level) {
    if (line >= m_lines.size() || !(level >= 0.0 && level <= 1.0))
        return E_INVALIDARG;
    std::lock_guard guard(m_lock);
    m_lines[line].level = level;
    return S_OK;
}

ToneControls::Line ToneControls::Get(size_t line) const {
    std::lock_guard guard(m_lock);
    return line < m_lines.size() ? m_lines[line] : Line{};
}

ToneControls::Lines ToneControls::Snapshot() const {
    std::lock_guard guard(m_lock);
    return m_lines;
}

}  // namespace ronvix::media
