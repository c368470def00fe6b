#pragma once
// The control handles of the virtual devices. A device's controls belong to
// the device, not to a filter instance: every instance of the Test Pattern
// Camera shares one CameraControls and every Test Tone Generator one
// ToneControls, for the life of the process, so a new instance shows what
// the last one set, as hardware does. Both are thread-safe: the user
// interface sets values while streaming threads read them for every frame
// or buffer.

#include <array>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/media/core/interfaces.h"

namespace ronvix::media {

// The "property not supported" result of the device control interfaces.
inline constexpr HRESULT E_PROP_ID_UNSUPPORTED = com::HRESULT_FROM_WIN32(1168);

// The picture controls of the test pattern camera, which its pattern is
// drawn with.
struct PictureSettings {
    int brightness = 128;  // 0..255, 128 neutral: adds (value - 128) to luma
    int contrast = 128;    // luma gain value / 128 around mid grey
    int saturation = 128;  // chroma gain value / 128
    int sharpness = 128;   // below 128 blurs, above 128 sharpens
};

class CameraControls {
public:
    static std::shared_ptr<CameraControls> Device();

    static constexpr LONG kMin = 0, kMax = 255, kStep = 1, kDefault = 128;
    // VideoProcAmp_Brightness, _Contrast, _Saturation, _Sharpness are
    // supported; other properties fail with E_PROP_ID_UNSUPPORTED, values
    // outside kMin..kMax with E_INVALIDARG.
    HRESULT SetProperty(LONG property, LONG value);
    HRESULT GetProperty(LONG property, LONG* value) const;
    static bool Supports(LONG property);

    PictureSettings Picture() const;

    // Compression quality 0..1 (E_INVALIDARG outside), 0.75 at start.
    HRESULT SetQuality(double quality);
    double Quality() const;

private:
    mutable std::mutex m_lock;
    // Guarded by m_lock.
    PictureSettings m_picture;
    double m_quality = 0.75;
};

// The input lines of the tone generator, in pin order.
struct ToneLine {
    std::u16string_view name;
    double frequency_hz;
};
inline constexpr std::array<ToneLine, 3> kToneLines = {
    ToneLine{u"Line In", 1000.0}, ToneLine{u"Microphone", 440.0}, ToneLine{u"CD Audio", 2000.0}};

class ToneControls {
public:
    static std::shared_ptr<ToneControls> Device();

    struct Line {
        bool enabled = false;
        double level = 0.5;
    };
    using Lines = std::array<Line, kToneLines.size()>;

    // Enabling a line disables the others; disabling leaves none enabled.
    HRESULT SetEnabled(size_t line, bool enabled);
    // Level 0..1; E_INVALIDARG outside.
    HRESULT SetLevel(size_t line, double level);
    Line Get(size_t line) const;
    Lines Snapshot() const;

private:
    mutable std::mutex m_lock;
    // Guarded by m_lock. "Line In" enabled, every level 0.5 at start.
    Lines m_lines{Line{true, 0.5}, Line{false, 0.5}, Line{false, 0.5}};
};

}  // namespace ronvix::media
