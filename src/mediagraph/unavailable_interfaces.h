#pragma once
// Interfaces and class ids of platform objects that this engine does not
// provide: the DVD graph builder and navigator, the mixing renderer and the
// legacy capture and compression dialogs. The layer still asks for them,
// exactly as it would where they exist, and copes with every request
// failing: creating the classes answers REGDB_E_CLASSNOTREG and no filter
// answers the interfaces. Only the methods the layer calls are declared
// where the platform's interface is long; nothing here is implemented.

#include "platform/media/core/interfaces.h"
#include "platform/win/window.h"

namespace ronvix::mediagraph {

using com::DWORD;
using com::GUID;
using com::HRESULT;
using com::LONG;
using com::ULONG;

inline constexpr GUID CLSID_DvdGraphBuilder = RONVIX_GUID("{FCC152B7-F372-11D0-8E00-00C04FD7C08B}");
inline constexpr GUID CLSID_VideoRenderer = RONVIX_GUID("{70E102B0-5556-11CE-97C0-00AA0055595A}");
inline constexpr GUID CLSID_VideoMixingRenderer9 =
    RONVIX_GUID("{51B4ABF3-748F-4E3B-A276-C828330E926A}");

struct IDvdGraphBuilder : com::IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{FCC152B6-F372-11D0-8E00-00C04FD7C08B}");
    using base = com::IUnknown;
    virtual HRESULT GetFiltergraph(media::IGraphBuilder** graph) = 0;
    virtual HRESULT GetDvdInterface(com::REFIID riid, void** out) = 0;
};

using LCID = DWORD;

// The DVD navigator's information interface (the two language queries).
struct IDvdInfo2 : com::IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{34151510-EEC0-11D2-8201-00A0C9D74842}");
    using base = com::IUnknown;
    virtual HRESULT GetAudioLanguage(ULONG stream, LCID* language) = 0;
    virtual HRESULT GetSubpictureLanguage(ULONG stream, LCID* language) = 0;
};

enum : int {
    VfwCaptureDialog_Source = 1,
    VfwCaptureDialog_Format = 2,
    VfwCaptureDialog_Display = 4,
};
enum : int {
    VfwCompressDialog_Config = 1,
    VfwCompressDialog_About = 2,
    VfwCompressDialog_QueryConfig = 4,
    VfwCompressDialog_QueryAbout = 8,
};

struct IAMVfwCaptureDialogs : com::IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{D8D715A0-6E5E-11D0-B3F0-00AA003761C5}");
    using base = com::IUnknown;
    virtual HRESULT HasDialog(int dialog) = 0;
    virtual HRESULT ShowDialog(int dialog, win::HWND owner) = 0;
};

struct IAMVfwCompressDialogs : com::IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{D8D715A3-6E5E-11D0-B3F0-00AA003761C5}");
    using base = com::IUnknown;
    virtual HRESULT ShowDialog(int dialog, win::HWND owner) = 0;
};

// Mixing renderer configuration.
inline constexpr DWORD VMR9Mode_Windowed = 1;
inline constexpr DWORD VMR9Mode_Windowless = 2;
inline constexpr DWORD VMR9Mode_Renderless = 4;
inline constexpr DWORD VMR9ARMode_None = 0;
inline constexpr DWORD VMR9ARMode_LetterBox = 1;

struct IVMRFilterConfig9 : com::IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{5A804648-4F66-4867-9C43-4F5C822CF1B8}");
    using base = com::IUnknown;
    virtual HRESULT SetNumberOfStreams(DWORD streams) = 0;
    virtual HRESULT GetNumberOfStreams(DWORD* streams) = 0;
    virtual HRESULT SetRenderingPrefs(DWORD prefs) = 0;
    virtual HRESULT GetRenderingPrefs(DWORD* prefs) = 0;
    virtual HRESULT SetRenderingMode(DWORD mode) = 0;
};

struct IVMRWindowlessControl9 : com::IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{8F537D09-F85E-4414-B23B-502E54C79927}");
    using base = com::IUnknown;
    virtual HRESULT GetNativeVideoSize(LONG* width, LONG* height, LONG* ar_width,
                                       LONG* ar_height) = 0;
    virtual HRESULT GetMinIdealVideoSize(LONG* width, LONG* height) = 0;
    virtual HRESULT GetMaxIdealVideoSize(LONG* width, LONG* height) = 0;
    virtual HRESULT SetVideoPosition(const media::RECT* source, const media::RECT* dest) = 0;
    virtual HRESULT GetVideoPosition(media::RECT* source, media::RECT* dest) = 0;
    virtual HRESULT GetAspectRatioMode(DWORD* mode) = 0;
    virtual HRESULT SetAspectRatioMode(DWORD mode) = 0;
    virtual HRESULT SetVideoClippingWindow(win::HWND window) = 0;
};

struct IVMRAspectRatioControl9 : com::IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{00D96C29-BBDE-4EFC-9901-BB5036392146}");
    using base = com::IUnknown;
    virtual HRESULT GetAspectRatioMode(DWORD* mode) = 0;
    virtual HRESULT SetAspectRatioMode(DWORD mode) = 0;
};

struct IVMRSurfaceAllocatorNotify9;

struct IVMRSurfaceAllocator9 : com::IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{8D5148EA-3F5D-46CF-9DF1-D1B896EEDB1F}");
    using base = com::IUnknown;
    virtual HRESULT AdviseNotify(IVMRSurfaceAllocatorNotify9* notify) = 0;
};

struct IVMRSurfaceAllocatorNotify9 : com::IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{DCA3F5DF-BB3A-4D03-BD81-84614BFBFA0C}");
    using base = com::IUnknown;
    virtual HRESULT AdviseSurfaceAllocator(uintptr_t id, IVMRSurfaceAllocator9* allocator) = 0;
};

}  // namespace ronvix::mediagraph
