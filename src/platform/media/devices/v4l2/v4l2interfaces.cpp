// The device interfaces of a V4L2 capture filter. See v4l2interfaces.h.

#include "platform/media/devices/v4l2/v4l2interfaces.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cctype>

#include "platform/com/oleauto.h"
#include "platform/media/devices/devicecontrols.h"

namespace ronvix::media {

using namespace com;

namespace {

bool Mentions(const std::string& name, std::initializer_list<const char*> words) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    for (const char* w : words)
        if (lower.find(w) != std::string::npos)
            return true;
    return false;
}

// The connector kind of a video input: the driver says tuner or not, and
// only its name tells the connector of the others.
LONG VideoConnector(const V4l2AnalogSide::Input& input) {
    if (input.type == V4L2_INPUT_TYPE_TUNER)
        return PhysConn_Video_Tuner;
    if (Mentions(input.name, {"s-video", "svideo", "s video", "y/c"}))
        return PhysConn_Video_SVideo;
    if (Mentions(input.name, {"component", "ypbpr"}))
        return PhysConn_Video_YRYBY;
    if (Mentions(input.name, {"scart"}))
        return PhysConn_Video_SCART;
    if (Mentions(input.name, {"hdmi", "dvi", "sdi"}))
        return PhysConn_Video_SerialDigital;
    if (Mentions(input.name, {"rgb", "vga"}))
        return PhysConn_Video_RGB;
    return PhysConn_Video_Composite;
}

LONG AudioConnector(const std::string& name) {
    if (Mentions(name, {"tuner", "tv"}))
        return PhysConn_Audio_Tuner;
    if (Mentions(name, {"mic"}))
        return PhysConn_Audio_Mic;
    return PhysConn_Audio_Line;
}

// The audio input paired with video input `input`, or -1.
int PairedAudio(const V4l2AnalogSide& side, size_t input) {
    for (size_t k = 0; k < side.audio_inputs.size() && k < 32; ++k)
        if (side.inputs[input].audioset & (1u << k))
            return int(k);
    return -1;
}

HRESULT Name(const std::string& text, LPWSTR* out) {
    *out = CoTaskMemDup(ToUtf16(text));
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

HRESULT V4l2ProcAmp::GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def,
                              LONG* caps) {
    return m_controls->GetRange(ControlSet::ProcAmp, property, min, max, step, def, caps);
}
HRESULT V4l2ProcAmp::Set(LONG property, LONG value, LONG flags) {
    return m_controls->Set(ControlSet::ProcAmp, property, value, flags);
}
HRESULT V4l2ProcAmp::Get(LONG property, LONG* value, LONG* flags) {
    return m_controls->Get(ControlSet::ProcAmp, property, value, flags);
}

HRESULT V4l2CameraControl::GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def,
                                    LONG* caps) {
    return m_controls->GetRange(ControlSet::Camera, property, min, max, step, def, caps);
}
HRESULT V4l2CameraControl::Set(LONG property, LONG value, LONG flags) {
    return m_controls->Set(ControlSet::Camera, property, value, flags);
}
HRESULT V4l2CameraControl::Get(LONG property, LONG* value, LONG* flags) {
    return m_controls->Get(ControlSet::Camera, property, value, flags);
}

HRESULT V4l2ControlNames::GetValueName(REFIID set, LONG property, LONG value, LPWSTR* name) {
    if (!name)
        return E_POINTER;
    *name = nullptr;
    ControlSet which;
    if (set == IAMVideoProcAmp::iid)
        which = ControlSet::ProcAmp;
    else if (set == IAMCameraControl::iid)
        which = ControlSet::Camera;
    else
        return E_INVALIDARG;
    std::u16string text;
    const HRESULT hr = m_controls->ValueName(which, property, value, &text);
    if (hr != S_OK)
        return hr;
    *name = CoTaskMemDup(text);
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT V4l2Decoder::get_AvailableTVFormats(LONG* formats) {
    if (!formats)
        return E_POINTER;
    *formats = TvFormatsOfV4l2Std(m_controls->AnalogSide().standards);
    return S_OK;
}

HRESULT V4l2Decoder::put_TVFormat(LONG format) {
    const uint64_t std = V4l2StdOfTvFormat(format);
    if (!std || !(TvFormatsOfV4l2Std(m_controls->AnalogSide().standards) & format))
        return E_INVALIDARG;
    // Only the variants the decoder takes: a driver may refuse bits it does
    // not know.
    return m_controls->SetStandard(std & m_controls->AnalogSide().standards);
}

HRESULT V4l2Decoder::get_TVFormat(LONG* format) {
    if (!format)
        return E_POINTER;
    *format = AnalogVideo_None;
    uint64_t std = 0;
    if (const HRESULT hr = m_controls->GetStandard(&std); FAILED(hr))
        return hr;
    const LONG in_force = TvFormatsOfV4l2Std(std);
    // A standard chosen as one flag is kept by some drivers as a wider set
    // of bits; it still reads back as the one chosen.
    if (const std::optional<uint64_t> chosen = m_controls->ChosenStandard();
        chosen && (*chosen & std)) {
        *format = TvFormatsOfV4l2Std(*chosen);
        return S_OK;
    }
    // The lowest flag of those in force.
    *format = in_force & -in_force;
    return S_OK;
}

HRESULT V4l2Decoder::get_HorizontalLocked(LONG* locked) {
    if (!locked)
        return E_POINTER;
    uint32_t status = 0;
    if (const HRESULT hr = m_controls->InputStatus(&status); FAILED(hr))
        return hr;
    *locked =
        (status & (V4L2_IN_ST_NO_H_LOCK | V4L2_IN_ST_NO_SIGNAL | V4L2_IN_ST_NO_POWER)) ? 0 : 1;
    return S_OK;
}

HRESULT V4l2Decoder::get_NumberOfLines(LONG* lines) {
    if (!lines)
        return E_POINTER;
    uint64_t std = 0;
    if (const HRESULT hr = m_controls->GetStandard(&std); FAILED(hr))
        return hr;
    *lines = Is525Lines(std) ? 525 : 625;
    return S_OK;
}

HRESULT V4l2Decoder::get_OutputEnable(LONG* enable) {
    if (!enable)
        return E_POINTER;
    *enable = 1;
    return S_OK;
}

HRESULT V4l2Crossbar::get_PinCounts(LONG* outputs, LONG* inputs) {
    if (!outputs || !inputs)
        return E_POINTER;
    const V4l2AnalogSide side = m_controls->AnalogSide();
    *outputs = side.audio_inputs.empty() ? 1 : 2;
    *inputs = LONG(side.inputs.size() + side.audio_inputs.size());
    return S_OK;
}

HRESULT V4l2Crossbar::CanRoute(LONG output, LONG input) {
    const V4l2AnalogSide side = m_controls->AnalogSide();
    const auto videos = LONG(side.inputs.size()), audios = LONG(side.audio_inputs.size());
    if (output == 0)
        return input >= 0 && input < videos ? S_OK : S_FALSE;
    if (output == 1 && audios > 0)
        return input >= videos && input < videos + audios ? S_OK : S_FALSE;
    return S_FALSE;
}

HRESULT V4l2Crossbar::Route(LONG output, LONG input) {
    if (CanRoute(output, input) != S_OK)
        return E_INVALIDARG;
    const V4l2AnalogSide side = m_controls->AnalogSide();
    const auto videos = LONG(side.inputs.size());
    if (output == 1)
        return m_controls->SetAudioInput(int(input - videos));
    const HRESULT hr = m_controls->SetInput(int(input));
    if (FAILED(hr))
        return hr;
    if (const int audio = PairedAudio(side, size_t(input)); audio >= 0)
        m_controls->SetAudioInput(audio);  // The video is routed whatever the sound does.
    return S_OK;
}

HRESULT V4l2Crossbar::get_IsRoutedTo(LONG output, LONG* input) {
    if (!input)
        return E_POINTER;
    *input = -1;
    const V4l2AnalogSide side = m_controls->AnalogSide();
    int index = -1;
    if (output == 0) {
        if (const HRESULT hr = m_controls->GetInput(&index); FAILED(hr))
            return hr;
        *input = index;
        return S_OK;
    }
    if (output == 1 && !side.audio_inputs.empty()) {
        if (const HRESULT hr = m_controls->GetAudioInput(&index); FAILED(hr))
            return hr;
        *input = LONG(side.inputs.size()) + index;
        return S_OK;
    }
    return E_INVALIDARG;
}

HRESULT V4l2Crossbar::get_CrossbarPinInfo(BOOL is_input, LONG index, LONG* related, LONG* type) {
    if (!related || !type)
        return E_POINTER;
    const V4l2AnalogSide side = m_controls->AnalogSide();
    const auto videos = LONG(side.inputs.size()), audios = LONG(side.audio_inputs.size());
    *related = -1;
    if (!is_input) {
        if (index == 0) {
            *type = PhysConn_Video_VideoDecoder;
            *related = audios > 0 ? 1 : -1;
            return S_OK;
        }
        if (index == 1 && audios > 0) {
            *type = PhysConn_Audio_AudioDecoder;
            *related = 0;
            return S_OK;
        }
        return E_INVALIDARG;
    }
    if (index >= 0 && index < videos) {
        *type = VideoConnector(side.inputs[size_t(index)]);
        if (const int audio = PairedAudio(side, size_t(index)); audio >= 0)
            *related = videos + audio;
        return S_OK;
    }
    if (index >= videos && index < videos + audios) {
        const int audio = int(index - videos);
        *type = AudioConnector(side.audio_inputs[size_t(audio)]);
        for (size_t v = 0; v < side.inputs.size(); ++v)
            if (PairedAudio(side, v) == audio) {
                *related = LONG(v);
                break;
            }
        return S_OK;
    }
    return E_INVALIDARG;
}

HRESULT V4l2AnalogDetails::GetPinName(BOOL is_input, LONG index, LPWSTR* name) {
    if (!name)
        return E_POINTER;
    *name = nullptr;
    const V4l2AnalogSide side = m_controls->AnalogSide();
    const auto videos = LONG(side.inputs.size()), audios = LONG(side.audio_inputs.size());
    if (!is_input) {
        if (index == 0)
            return Name("Video Decoder", name);
        if (index == 1 && audios > 0)
            return Name("Audio Decoder", name);
        return E_INVALIDARG;
    }
    if (index >= 0 && index < videos)
        return Name(side.inputs[size_t(index)].name, name);
    if (index >= videos && index < videos + audios)
        return Name(side.audio_inputs[size_t(index - videos)], name);
    return E_INVALIDARG;
}

HRESULT V4l2AnalogDetails::GetDetectedTVFormat(LONG* formats) {
    if (!formats)
        return E_POINTER;
    *formats = AnalogVideo_None;
    uint64_t std = 0;
    const HRESULT hr = m_controls->DetectStandard(&std);
    if (hr != S_OK)
        return FAILED(hr) ? hr : S_FALSE;
    *formats = TvFormatsOfV4l2Std(std);
    return *formats ? S_OK : S_FALSE;
}

}  // namespace ronvix::media
