// A V4L2 device's control handle: picture and camera controls, the JPEG
// quality, the analog inputs and standards. See v4l2device.h.

#include <fcntl.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>

#include "platform/com/oleauto.h"
#include "platform/media/codecs/codecs.h"
#include "platform/media/devices/devicecontrols.h"
#include "platform/media/devices/v4l2/v4l2device.h"

namespace ronvix::media {

using namespace com;

namespace {

// The platform's control properties and the V4L2 controls that carry them
// (and their automatic-mode control, 0 when none).
struct ControlMap {
    ControlSet set;
    LONG property;
    uint32_t id;
    uint32_t auto_id;
};
constexpr ControlMap kControls[] = {
    {ControlSet::ProcAmp, VideoProcAmp_Brightness, V4L2_CID_BRIGHTNESS, 0},
    {ControlSet::ProcAmp, VideoProcAmp_Contrast, V4L2_CID_CONTRAST, 0},
    {ControlSet::ProcAmp, VideoProcAmp_Hue, V4L2_CID_HUE, V4L2_CID_HUE_AUTO},
    {ControlSet::ProcAmp, VideoProcAmp_Saturation, V4L2_CID_SATURATION, 0},
    {ControlSet::ProcAmp, VideoProcAmp_Sharpness, V4L2_CID_SHARPNESS, 0},
    {ControlSet::ProcAmp, VideoProcAmp_Gamma, V4L2_CID_GAMMA, 0},
    {ControlSet::ProcAmp, VideoProcAmp_WhiteBalance, V4L2_CID_WHITE_BALANCE_TEMPERATURE,
     V4L2_CID_AUTO_WHITE_BALANCE},
    {ControlSet::ProcAmp, VideoProcAmp_BacklightCompensation, V4L2_CID_BACKLIGHT_COMPENSATION, 0},
    {ControlSet::ProcAmp, VideoProcAmp_Gain, V4L2_CID_GAIN, V4L2_CID_AUTOGAIN},
    {ControlSet::ProcAmp, VideoProcAmp_PowerlineFrequency, V4L2_CID_POWER_LINE_FREQUENCY, 0},
    {ControlSet::Camera, CameraControl_Pan, V4L2_CID_PAN_ABSOLUTE, 0},
    {ControlSet::Camera, CameraControl_Tilt, V4L2_CID_TILT_ABSOLUTE, 0},
    {ControlSet::Camera, CameraControl_Zoom, V4L2_CID_ZOOM_ABSOLUTE, 0},
    {ControlSet::Camera, CameraControl_Exposure, V4L2_CID_EXPOSURE_ABSOLUTE,
     V4L2_CID_EXPOSURE_AUTO},
    {ControlSet::Camera, CameraControl_Iris, V4L2_CID_IRIS_ABSOLUTE, 0},
    {ControlSet::Camera, CameraControl_Focus, V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO},
};

const ControlMap* FindControl(ControlSet set, LONG property) {
    for (const ControlMap& c : kControls)
        if (c.set == set && c.property == property)
            return &c;
    return nullptr;
}

// The platform's flags of both sets have the same values.
static_assert(VideoProcAmp_Flags_Auto == CameraControl_Flags_Auto &&
              VideoProcAmp_Flags_Manual == CameraControl_Flags_Manual);
constexpr LONG kAuto = VideoProcAmp_Flags_Auto;
constexpr LONG kManual = VideoProcAmp_Flags_Manual;

// The control's description; false when the device lacks it.
bool QueryControl(V4l2System& system, int fd, uint32_t id, v4l2_queryctrl* q) {
    *q = v4l2_queryctrl{};
    q->id = id;
    return system.Ioctl(fd, VIDIOC_QUERYCTRL, q) == 0 && !(q->flags & V4L2_CTRL_FLAG_DISABLED);
}

bool IsMenu(const v4l2_queryctrl& q) {
    return q.type == V4L2_CTRL_TYPE_MENU || q.type == V4L2_CTRL_TYPE_INTEGER_MENU;
}

// Whether menu control `q` has item `index`, and its name.
bool MenuItem(V4l2System& system, int fd, const v4l2_queryctrl& q, LONG index,
              std::string* name = nullptr) {
    if (index < q.minimum || index > q.maximum)
        return false;
    v4l2_querymenu m{};
    m.id = q.id;
    m.index = uint32_t(index);
    if (system.Ioctl(fd, VIDIOC_QUERYMENU, &m) != 0)
        return false;
    if (name) {
        if (q.type == V4L2_CTRL_TYPE_INTEGER_MENU) {
            *name = std::to_string(m.value);
        } else {
            const auto* text = reinterpret_cast<const char*>(m.name);
            *name = std::string(text, strnlen(text, sizeof m.name));
        }
    }
    return true;
}

// How an automatic-mode control says "automatic" and "manual". Most are
// booleans; exposure's is a menu whose manual item is V4L2_EXPOSURE_MANUAL
// and whose automatic one is whichever the camera has (UVC cameras offer
// aperture priority, others full auto or shutter priority).
struct AutoMode {
    bool present = false;
    std::optional<int32_t> on;
    std::optional<int32_t> off;
};
AutoMode ReadAutoMode(V4l2System& system, int fd, uint32_t auto_id) {
    AutoMode mode;
    v4l2_queryctrl q;
    if (!auto_id || !QueryControl(system, fd, auto_id, &q))
        return mode;
    mode.present = true;
    if (!IsMenu(q)) {
        mode.on = 1;
        mode.off = 0;
        return mode;
    }
    if (auto_id == V4L2_CID_EXPOSURE_AUTO) {
        if (MenuItem(system, fd, q, V4L2_EXPOSURE_MANUAL))
            mode.off = V4L2_EXPOSURE_MANUAL;
        for (LONG item :
             {V4L2_EXPOSURE_APERTURE_PRIORITY, V4L2_EXPOSURE_AUTO, V4L2_EXPOSURE_SHUTTER_PRIORITY})
            if (MenuItem(system, fd, q, item)) {
                mode.on = int32_t(item);
                break;
            }
    }
    return mode;
}

HRESULT LastError() {
    return HResultFromErrno(errno ? errno : EIO);
}

// Analog television standards: the platform's flags and the V4L2 bits each
// stands for, in the order a standard is reported.
struct StdMap {
    LONG format;
    uint64_t bits;
};
constexpr StdMap kStandards[] = {
    {AnalogVideo_PAL_B, V4L2_STD_PAL_B | V4L2_STD_PAL_B1},
    {AnalogVideo_PAL_D, V4L2_STD_PAL_D | V4L2_STD_PAL_D1 | V4L2_STD_PAL_K},
    {AnalogVideo_PAL_G, V4L2_STD_PAL_G},
    {AnalogVideo_PAL_H, V4L2_STD_PAL_H},
    {AnalogVideo_PAL_I, V4L2_STD_PAL_I},
    {AnalogVideo_PAL_M, V4L2_STD_PAL_M},
    {AnalogVideo_PAL_N, V4L2_STD_PAL_N},
    {AnalogVideo_PAL_N_COMBO, V4L2_STD_PAL_Nc},
    {AnalogVideo_PAL_60, V4L2_STD_PAL_60},
    {AnalogVideo_NTSC_M, V4L2_STD_NTSC_M | V4L2_STD_NTSC_M_KR},
    {AnalogVideo_NTSC_M_J, V4L2_STD_NTSC_M_JP},
    {AnalogVideo_NTSC_433, V4L2_STD_NTSC_443},
    {AnalogVideo_SECAM_B, V4L2_STD_SECAM_B},
    {AnalogVideo_SECAM_D, V4L2_STD_SECAM_D},
    {AnalogVideo_SECAM_G, V4L2_STD_SECAM_G},
    {AnalogVideo_SECAM_H, V4L2_STD_SECAM_H},
    {AnalogVideo_SECAM_K, V4L2_STD_SECAM_K},
    {AnalogVideo_SECAM_K1, V4L2_STD_SECAM_K1},
    {AnalogVideo_SECAM_L, V4L2_STD_SECAM_L},
    {AnalogVideo_SECAM_L1, V4L2_STD_SECAM_LC},
};

}  // namespace

uint64_t V4l2StdOfTvFormat(LONG format) {
    for (const StdMap& s : kStandards)
        if (s.format == format)
            return s.bits;
    return 0;
}

LONG TvFormatsOfV4l2Std(uint64_t std) {
    LONG formats = AnalogVideo_None;
    for (const StdMap& s : kStandards)
        if (std & s.bits)
            formats |= s.format;
    return formats;
}

bool Is525Lines(uint64_t std) {
    return (std & V4L2_STD_525_60) && !(std & V4L2_STD_625_50);
}

bool V4l2AnalogSide::HasCrossbar() const {
    return inputs.size() > 1 || !audio_inputs.empty() ||
           std::any_of(inputs.begin(), inputs.end(),
                       [](const Input& i) { return i.type == V4L2_INPUT_TYPE_TUNER; });
}

std::shared_ptr<V4l2Controls> V4l2Controls::For(const std::shared_ptr<V4l2System>& system,
                                                const V4l2Node& node) {
    static std::mutex lock;
    // Guarded by `lock`. A handle keeps its system alive, so a system's
    // address names one system for the life of the process.
    static std::map<std::pair<V4l2System*, std::string>, std::shared_ptr<V4l2Controls>> handles;
    std::lock_guard guard(lock);
    auto& handle = handles[{system.get(), node.identity}];
    if (!handle)
        handle = std::make_shared<V4l2Controls>(system, node.path);
    else
        handle->SetPath(node.path);
    return handle;
}

V4l2Controls::V4l2Controls(std::shared_ptr<V4l2System> system, std::string path)
    : m_system(std::move(system)), m_path(std::move(path)), m_quality(kDefaultJpegQuality) {}

void V4l2Controls::SetPath(const std::string& path) {
    std::lock_guard guard(m_lock);
    m_path = path;
}

std::string V4l2Controls::Path() const {
    std::lock_guard guard(m_lock);
    return m_path;
}

int V4l2Controls::OpenControl() const {
    return m_system->Open(Path(), O_RDWR | O_NONBLOCK);
}

HRESULT V4l2Controls::GetRange(ControlSet set, LONG property, LONG* min, LONG* max, LONG* step,
                               LONG* def, LONG* caps) {
    if (!min || !max || !step || !def || !caps)
        return E_POINTER;
    const ControlMap* c = FindControl(set, property);
    if (!c)
        return E_PROP_ID_UNSUPPORTED;
    V4l2Fd fd(*m_system, Path());
    if (fd.Get() < 0)
        return LastError();
    v4l2_queryctrl q;
    if (!QueryControl(*m_system, fd.Get(), c->id, &q))
        return E_PROP_ID_UNSUPPORTED;
    const AutoMode mode = ReadAutoMode(*m_system, fd.Get(), c->auto_id);
    *min = q.minimum;
    *max = q.maximum;
    *step = std::max<LONG>(q.step, 1);
    *def = q.default_value;
    // With an automatic mode that cannot be left, the value is the driver's.
    *caps = (!mode.present || mode.off ? kManual : 0) | (mode.on ? kAuto : 0);
    return S_OK;
}

HRESULT V4l2Controls::Set(ControlSet set, LONG property, LONG value, LONG flags) {
    const ControlMap* c = FindControl(set, property);
    if (!c)
        return E_PROP_ID_UNSUPPORTED;
    V4l2Fd fd(*m_system, Path());
    if (fd.Get() < 0)
        return LastError();
    v4l2_queryctrl q;
    if (!QueryControl(*m_system, fd.Get(), c->id, &q))
        return E_PROP_ID_UNSUPPORTED;
    const AutoMode mode = ReadAutoMode(*m_system, fd.Get(), c->auto_id);
    if (mode.present) {
        const bool automatic = (flags & kAuto) != 0;
        const std::optional<int32_t> wanted = automatic ? mode.on : mode.off;
        if (!wanted)
            return E_INVALIDARG;  // The device has no such mode.
        v4l2_control ctrl{c->auto_id, *wanted};
        if (m_system->Ioctl(fd.Get(), VIDIOC_S_CTRL, &ctrl) != 0)
            return LastError();
        if (automatic)
            return S_OK;  // The driver chooses the value now.
    }
    if (value < q.minimum || value > q.maximum ||
        (IsMenu(q) && !MenuItem(*m_system, fd.Get(), q, value)))
        return E_INVALIDARG;
    v4l2_control ctrl{c->id, value};
    return m_system->Ioctl(fd.Get(), VIDIOC_S_CTRL, &ctrl) == 0 ? S_OK : LastError();
}

HRESULT V4l2Controls::Get(ControlSet set, LONG property, LONG* value, LONG* flags) {
    if (!value || !flags)
        return E_POINTER;
    const ControlMap* c = FindControl(set, property);
    if (!c)
        return E_PROP_ID_UNSUPPORTED;
    V4l2Fd fd(*m_system, Path());
    if (fd.Get() < 0)
        return LastError();
    v4l2_queryctrl q;
    if (!QueryControl(*m_system, fd.Get(), c->id, &q))
        return E_PROP_ID_UNSUPPORTED;
    v4l2_control ctrl{c->id, 0};
    if (m_system->Ioctl(fd.Get(), VIDIOC_G_CTRL, &ctrl) != 0)
        return LastError();
    *value = ctrl.value;
    *flags = kManual;
    if (const AutoMode mode = ReadAutoMode(*m_system, fd.Get(), c->auto_id); mode.present) {
        v4l2_control current{c->auto_id, 0};
        if (m_system->Ioctl(fd.Get(), VIDIOC_G_CTRL, &current) == 0 &&
            (!mode.off || current.value != *mode.off))
            *flags = kAuto;
    }
    return S_OK;
}

HRESULT V4l2Controls::ValueName(ControlSet set, LONG property, LONG value, std::u16string* name) {
    if (!name)
        return E_POINTER;
    name->clear();
    const ControlMap* c = FindControl(set, property);
    if (!c)
        return E_PROP_ID_UNSUPPORTED;
    V4l2Fd fd(*m_system, Path());
    if (fd.Get() < 0)
        return LastError();
    v4l2_queryctrl q;
    if (!QueryControl(*m_system, fd.Get(), c->id, &q))
        return E_PROP_ID_UNSUPPORTED;
    if (!IsMenu(q))
        return S_FALSE;
    std::string text;
    if (!MenuItem(*m_system, fd.Get(), q, value, &text))
        return E_INVALIDARG;
    *name = ToUtf16(text);
    return S_OK;
}

bool V4l2Controls::HasCameraControls() {
    V4l2Fd fd(*m_system, Path());
    if (fd.Get() < 0)
        return false;
    v4l2_queryctrl q;
    for (const ControlMap& c : kControls)
        if (c.set == ControlSet::Camera && QueryControl(*m_system, fd.Get(), c.id, &q))
            return true;
    return false;
}

bool V4l2Controls::HasJpegQuality() {
    V4l2Fd fd(*m_system, Path());
    v4l2_queryctrl q;
    return fd.Get() >= 0 &&
           QueryControl(*m_system, fd.Get(), V4L2_CID_JPEG_COMPRESSION_QUALITY, &q) &&
           q.maximum > q.minimum;
}

HRESULT V4l2Controls::SetQuality(double quality) {
    if (!(quality >= 0.0 && quality <= 1.0))
        return E_INVALIDARG;
    V4l2Fd fd(*m_system, Path());
    v4l2_queryctrl q;
    if (fd.Get() >= 0 && QueryControl(*m_system, fd.Get(), V4L2_CID_JPEG_COMPRESSION_QUALITY, &q) &&
        q.maximum > q.minimum) {
        const int64_t step = std::max<int64_t>(q.step, 1);
        const int64_t span = int64_t(q.maximum) - q.minimum;
        const int64_t steps = std::llround(quality * double(span) / double(step));
        v4l2_control ctrl{
            V4L2_CID_JPEG_COMPRESSION_QUALITY,
            static_cast<int32_t>(std::min<int64_t>(q.minimum + steps * step, q.maximum))};
        if (m_system->Ioctl(fd.Get(), VIDIOC_S_CTRL, &ctrl) != 0)
            return LastError();
    }
    // Kept in any case: it is what an MJPEG Compressor behind a device
    // without its own JPEG control encodes with.
    std::lock_guard guard(m_lock);
    m_quality = quality;
    return S_OK;
}

double V4l2Controls::Quality() {
    V4l2Fd fd(*m_system, Path());
    v4l2_queryctrl q;
    if (fd.Get() >= 0 && QueryControl(*m_system, fd.Get(), V4L2_CID_JPEG_COMPRESSION_QUALITY, &q) &&
        q.maximum > q.minimum) {
        v4l2_control ctrl{V4L2_CID_JPEG_COMPRESSION_QUALITY, 0};
        if (m_system->Ioctl(fd.Get(), VIDIOC_G_CTRL, &ctrl) == 0)
            return std::clamp(double(ctrl.value - q.minimum) / double(q.maximum - q.minimum), 0.0,
                              1.0);
    }
    std::lock_guard guard(m_lock);
    return m_quality;
}

// ------------------------------------------------------------ Analog side

V4l2AnalogSide V4l2Controls::AnalogSide() {
    {
        std::lock_guard guard(m_lock);
        if (m_analog)
            return *m_analog;
    }
    V4l2Fd fd(*m_system, Path());
    if (fd.Get() < 0)
        return {};  // Not known yet: asked again next time.
    V4l2AnalogSide side;
    // Bounded walks: a driver that never ends its lists cannot hang us.
    for (uint32_t i = 0; i < 64; ++i) {
        v4l2_input in{};
        in.index = i;
        if (m_system->Ioctl(fd.Get(), VIDIOC_ENUMINPUT, &in) != 0)
            break;
        const auto* name = reinterpret_cast<const char*>(in.name);
        side.inputs.push_back(
            {std::string(name, strnlen(name, sizeof in.name)), in.type, in.std, in.audioset});
    }
    for (uint32_t i = 0; i < 32; ++i) {
        v4l2_audio a{};
        a.index = i;
        if (m_system->Ioctl(fd.Get(), VIDIOC_ENUMAUDIO, &a) != 0)
            break;
        const auto* name = reinterpret_cast<const char*>(a.name);
        side.audio_inputs.emplace_back(name, strnlen(name, sizeof a.name));
    }
    for (uint32_t i = 0; i < 256; ++i) {
        v4l2_standard s{};
        s.index = i;
        if (m_system->Ioctl(fd.Get(), VIDIOC_ENUMSTD, &s) != 0)
            break;
        side.standards |= s.id;
    }
    std::lock_guard guard(m_lock);
    m_analog = side;
    return side;
}

HRESULT V4l2Controls::Ask(unsigned long request, void* arg) {
    V4l2Fd fd(*m_system, Path());
    if (fd.Get() < 0)
        return LastError();
    return m_system->Ioctl(fd.Get(), request, arg) == 0 ? S_OK : LastError();
}

HRESULT V4l2Controls::SetInput(int input) {
    if (input < 0 || size_t(input) >= AnalogSide().inputs.size())
        return E_INVALIDARG;
    int index = input;
    const HRESULT hr = Ask(VIDIOC_S_INPUT, &index);
    if (SUCCEEDED(hr)) {
        std::lock_guard guard(m_lock);
        m_input = input;
    }
    return hr;
}

HRESULT V4l2Controls::GetInput(int* input) {
    return input ? Ask(VIDIOC_G_INPUT, input) : E_POINTER;
}

HRESULT V4l2Controls::SetAudioInput(int input) {
    if (input < 0 || size_t(input) >= AnalogSide().audio_inputs.size())
        return E_INVALIDARG;
    v4l2_audio a{};
    a.index = uint32_t(input);
    const HRESULT hr = Ask(VIDIOC_S_AUDIO, &a);
    if (SUCCEEDED(hr)) {
        std::lock_guard guard(m_lock);
        m_audio_input = input;
    }
    return hr;
}

HRESULT V4l2Controls::GetAudioInput(int* input) {
    if (!input)
        return E_POINTER;
    v4l2_audio a{};
    const HRESULT hr = Ask(VIDIOC_G_AUDIO, &a);
    if (SUCCEEDED(hr))
        *input = int(a.index);
    return hr;
}

HRESULT V4l2Controls::SetStandard(uint64_t std) {
    if (!std || !(std & AnalogSide().standards))
        return E_INVALIDARG;
    v4l2_std_id id = std;
    const HRESULT hr = Ask(VIDIOC_S_STD, &id);
    if (SUCCEEDED(hr)) {
        std::lock_guard guard(m_lock);
        m_std = std;
    }
    return hr;
}

HRESULT V4l2Controls::GetStandard(uint64_t* std) {
    if (!std)
        return E_POINTER;
    v4l2_std_id id = 0;
    const HRESULT hr = Ask(VIDIOC_G_STD, &id);
    if (SUCCEEDED(hr))
        *std = id;
    return hr;
}

std::optional<uint64_t> V4l2Controls::ChosenStandard() const {
    std::lock_guard guard(m_lock);
    return m_std;
}

HRESULT V4l2Controls::DetectStandard(uint64_t* std) {
    if (!std)
        return E_POINTER;
    *std = 0;
    V4l2Fd fd(*m_system, Path());
    if (fd.Get() < 0)
        return LastError();
    v4l2_std_id id = 0;
    // A driver that cannot tell answers ENOTTY or ENODATA; no signal reads
    // as no standard.
    if (m_system->Ioctl(fd.Get(), VIDIOC_QUERYSTD, &id) != 0 || id == 0)
        return S_FALSE;
    *std = id;
    return S_OK;
}

HRESULT V4l2Controls::InputStatus(uint32_t* status) {
    if (!status)
        return E_POINTER;
    V4l2Fd fd(*m_system, Path());
    if (fd.Get() < 0)
        return LastError();
    int index = 0;
    if (m_system->Ioctl(fd.Get(), VIDIOC_G_INPUT, &index) != 0)
        return LastError();
    v4l2_input in{};
    in.index = uint32_t(index);
    if (m_system->Ioctl(fd.Get(), VIDIOC_ENUMINPUT, &in) != 0)
        return LastError();
    *status = in.status;
    return S_OK;
}

void V4l2Controls::ApplyChoices(int fd) {
    std::optional<int> input, audio;
    std::optional<uint64_t> std;
    {
        std::lock_guard guard(m_lock);
        input = m_input;
        audio = m_audio_input;
        std = m_std;
    }
    if (input) {
        int index = *input;
        m_system->Ioctl(fd, VIDIOC_S_INPUT, &index);
    }
    if (audio) {
        v4l2_audio a{};
        a.index = uint32_t(*audio);
        m_system->Ioctl(fd, VIDIOC_S_AUDIO, &a);
    }
    if (std) {
        v4l2_std_id id = *std;
        m_system->Ioctl(fd, VIDIOC_S_STD, &id);
    }
}

}  // namespace ronvix::media
