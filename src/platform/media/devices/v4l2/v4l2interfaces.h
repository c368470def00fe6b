#pragma once
// The device interfaces a V4L2 capture filter answers, each over the
// device's shared control handle (V4l2Controls), so they act on the device
// whether or not the filter is in a graph and every instance of the device
// sees what another set:
// - V4l2ProcAmp (IAMVideoProcAmp) and V4l2CameraControl (IAMCameraControl);
// - V4l2ControlNames (IDeviceControlNames): the names of menu values;
// - V4l2Decoder (IAMAnalogVideoDecoder): the television standard;
// - V4l2Crossbar (IAMCrossbar): the video input, and the audio input it
//   pairs with. Output pin 0 is the video decoder, fed by the video inputs
//   (input pins 0 .. n-1, the driver's inputs in its order); output pin 1,
//   where the card has audio inputs, its sound, fed by the audio inputs
//   (input pins n ..). Routing a video input also routes the audio input
//   the driver pairs with it (its audioset), as the card's own tuner
//   software does;
// - V4l2AnalogDetails (IAnalogVideoDetails): pin names, detected standard.
// Threads: control thread; each call is one short round of ioctls.

#include <memory>

#include "platform/media/devices/captureparts.h"
#include "platform/media/devices/v4l2/v4l2device.h"

namespace ronvix::media {

class V4l2ProcAmp final : public Delegating<IAMVideoProcAmp> {
public:
    V4l2ProcAmp(IUnknown& owner, std::shared_ptr<V4l2Controls> controls)
        : Delegating(owner), m_controls(std::move(controls)) {}
    HRESULT GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def,
                     LONG* caps) override;
    HRESULT Set(LONG property, LONG value, LONG flags) override;
    HRESULT Get(LONG property, LONG* value, LONG* flags) override;

private:
    const std::shared_ptr<V4l2Controls> m_controls;
};

class V4l2CameraControl final : public Delegating<IAMCameraControl> {
public:
    V4l2CameraControl(IUnknown& owner, std::shared_ptr<V4l2Controls> controls)
        : Delegating(owner), m_controls(std::move(controls)) {}
    HRESULT GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def,
                     LONG* caps) override;
    HRESULT Set(LONG property, LONG value, LONG flags) override;
    HRESULT Get(LONG property, LONG* value, LONG* flags) override;

private:
    const std::shared_ptr<V4l2Controls> m_controls;
};

class V4l2ControlNames final : public Delegating<IDeviceControlNames> {
public:
    V4l2ControlNames(IUnknown& owner, std::shared_ptr<V4l2Controls> controls)
        : Delegating(owner), m_controls(std::move(controls)) {}
    HRESULT GetValueName(REFIID set, LONG property, LONG value, LPWSTR* name) override;

private:
    const std::shared_ptr<V4l2Controls> m_controls;
};

class V4l2Decoder final : public Delegating<IAMAnalogVideoDecoder> {
public:
    V4l2Decoder(IUnknown& owner, std::shared_ptr<V4l2Controls> controls)
        : Delegating(owner), m_controls(std::move(controls)) {}
    HRESULT get_AvailableTVFormats(LONG* formats) override;
    // E_INVALIDARG for anything but one standard the decoder takes.
    HRESULT put_TVFormat(LONG format) override;
    // The standard the decoder is set to: the one this session chose when
    // it is still in force, else the first (in AnalogVideo_* order) the
    // driver's setting covers.
    HRESULT get_TVFormat(LONG* format) override;
    HRESULT get_HorizontalLocked(LONG* locked) override;
    HRESULT put_VCRHorizontalLocking(LONG) override { return com::E_NOTIMPL; }
    HRESULT get_VCRHorizontalLocking(LONG*) override { return com::E_NOTIMPL; }
    HRESULT get_NumberOfLines(LONG* lines) override;
    HRESULT put_OutputEnable(LONG) override { return com::E_NOTIMPL; }
    HRESULT get_OutputEnable(LONG* enable) override;

private:
    const std::shared_ptr<V4l2Controls> m_controls;
};

class V4l2Crossbar final : public Delegating<IAMCrossbar> {
public:
    V4l2Crossbar(IUnknown& owner, std::shared_ptr<V4l2Controls> controls)
        : Delegating(owner), m_controls(std::move(controls)) {}
    HRESULT get_PinCounts(LONG* outputs, LONG* inputs) override;
    HRESULT CanRoute(LONG output, LONG input) override;
    HRESULT Route(LONG output, LONG input) override;
    HRESULT get_IsRoutedTo(LONG output, LONG* input) override;
    HRESULT get_CrossbarPinInfo(BOOL is_input, LONG index, LONG* related, LONG* type) override;

private:
    const std::shared_ptr<V4l2Controls> m_controls;
};

class V4l2AnalogDetails final : public Delegating<IAnalogVideoDetails> {
public:
    V4l2AnalogDetails(IUnknown& owner, std::shared_ptr<V4l2Controls> controls)
        : Delegating(owner), m_controls(std::move(controls)) {}
    HRESULT GetPinName(BOOL is_input, LONG index, LPWSTR* name) override;
    HRESULT GetDetectedTVFormat(LONG* formats) override;

private:
    const std::shared_ptr<V4l2Controls> m_controls;
};

}  // namespace ronvix::media
