#pragma once
// The class identifiers of the property pages the engine's devices list
// through ISpecifyPropertyPages. The pages themselves (widgets) live in the
// media user interface library, which builds them by these identifiers for
// OleCreatePropertyFrame.

#include "platform/media/core/interfaces.h"

namespace ronvix::media {

// "Video Proc Amp": a control per picture property of IAMVideoProcAmp (a
// slider, or a list of the device's named values), with its automatic
// mode where the device has one.
inline constexpr com::GUID CLSID_VideoProcAmpPropertyPage =
    RONVIX_GUID("{F051650C-5E9A-4D07-9C0A-580F9B45DD4E}");
// "Camera Control": a slider per camera control of IAMCameraControl, with
// its automatic mode where the device has one.
inline constexpr com::GUID CLSID_CameraControlPropertyPage =
    RONVIX_GUID("{9C1E4A27-D3B8-4F06-A5E1-6B20F7C94D83}");
// "Video Decoder": the television standard of IAMAnalogVideoDecoder, with
// the one the decoder detects.
inline constexpr com::GUID CLSID_VideoDecoderPropertyPage =
    RONVIX_GUID("{E4B7215A-0C96-4D3F-8A72-F15D39C6B0E8}");
// "Crossbar": the video input of IAMCrossbar and the audio input that goes
// with it.
inline constexpr com::GUID CLSID_CrossbarPropertyPage =
    RONVIX_GUID("{51F08D6C-7A2E-4B19-9C43-D8E6A0B5F217}");
// "Capture": the compression quality and the current format of the capture
// pin (IAMVideoCompression, IAMStreamConfig).
inline constexpr com::GUID CLSID_CapturePropertyPage =
    RONVIX_GUID("{65BAC312-7876-48EB-83AE-44C8839C8353}");
// "Audio Mixer": enable and level of each input line (IAMAudioInputMixer).
inline constexpr com::GUID CLSID_AudioMixerPropertyPage =
    RONVIX_GUID("{74454457-610E-4981-A5E0-EEEA77216C14}");
// "Tape": where a tape deck records and the file of its current or last
// run (ITapeDeck); read only.
inline constexpr com::GUID CLSID_TapePropertyPage =
    RONVIX_GUID("{0E7C2B94-58A1-4F6D-B3C9-7D21E4A06F53}");

// Fills `pages` with a copy of `ids`, for GetPages implementations.
com::HRESULT FillPages(CAUUID* pages, const com::GUID* ids, com::ULONG count);

}  // namespace ronvix::media
