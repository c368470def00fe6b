#pragma once
// Property pages of device filters: the interface a filter answers to list
// its pages, and the class identifiers of the pages the engine's devices
// name. The pages themselves (widgets) live in the media user interface
// library, which builds them by these identifiers for OleCreatePropertyFrame.

#include "platform/com/guid.h"
#include "platform/com/unknwn.h"

namespace ronvix::media {

// A counted array of identifiers; `pElems` comes from the task allocator and
// the receiver frees it with CoTaskMemFree.
struct CAUUID {
    com::ULONG cElems = 0;
    com::GUID* pElems = nullptr;
};

struct ISpecifyPropertyPages : com::IUnknown {
    static constexpr com::GUID iid = RONVIX_GUID("{B196B28B-BAB4-101A-B69C-00AA00341D07}");
    using base = com::IUnknown;
    // Fills `pages`; E_POINTER for null, E_OUTOFMEMORY leaves it empty.
    virtual com::HRESULT GetPages(CAUUID* pages) = 0;
};

// "Video Proc Amp": a slider per picture property of IAMVideoProcAmp.
inline constexpr com::GUID CLSID_VideoProcAmpPropertyPage =
    RONVIX_GUID("{F051650C-5E9A-4D07-9C0A-580F9B45DD4E}");
// "Capture": the compression quality and the current format of the capture
// pin (IAMVideoCompression, IAMStreamConfig).
inline constexpr com::GUID CLSID_CapturePropertyPage =
    RONVIX_GUID("{65BAC312-7876-48EB-83AE-44C8839C8353}");
// "Audio Mixer": enable and level of each input line (IAMAudioInputMixer).
inline constexpr com::GUID CLSID_AudioMixerPropertyPage =
    RONVIX_GUID("{74454457-610E-4981-A5E0-EEEA77216C14}");

// Fills `pages` with a copy of `ids`, for GetPages implementations.
com::HRESULT FillPages(CAUUID* pages, const com::GUID* ids, com::ULONG count);

}  // namespace ronvix::media
