#pragma once
// The media graph interfaces, with the platform's names, identifiers and
// method orders. Every method returns an HRESULT and never throws.
//
// Ownership rules (as on the platform): an interface pointer written to an
// out-parameter carries a reference the caller releases; AM_MEDIA_TYPE
// records written through AM_MEDIA_TYPE** are the caller's to free with
// DeleteMediaType; strings written through LPWSTR* come from the task
// allocator.

#include <cstdint>
#include <stop_token>

#include "platform/com/objidl.h"
#include "platform/com/unknwn.h"
#include "platform/media/core/types.h"

namespace ronvix::media {

using com::IBindCtx;
using com::IMoniker;
using com::IPersist;
using com::IUnknown;
using com::REFCLSID;
using com::REFIID;

struct IBaseFilter;
struct IPin;
struct IFilterGraph;
struct IMediaSample;
struct IMemAllocator;
struct IReferenceClock;

enum PIN_DIRECTION : int32_t { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE : int32_t { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
using OAFilterState = LONG;
using OAHWND = LONG_PTR;
using OAEVENT = LONG_PTR;

inline constexpr size_t MAX_PIN_NAME = 128;
inline constexpr size_t MAX_FILTER_NAME = 128;

struct PIN_INFO {
    IBaseFilter* pFilter = nullptr;  // AddRef'd for the caller.
    PIN_DIRECTION dir = PINDIR_INPUT;
    WCHAR achName[MAX_PIN_NAME] = {};
};

struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME] = {};
    IFilterGraph* pGraph = nullptr;  // AddRef'd for the caller; null outside a graph.
};

struct ALLOCATOR_PROPERTIES {
    LONG cBuffers = 0;
    LONG cbBuffer = 0;
    LONG cbAlign = 0;
    LONG cbPrefix = 0;
};

// The engine's reference clock: 100 ns units of the monotonic clock.
struct IReferenceClock : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{56A86897-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IUnknown;
    virtual HRESULT GetTime(REFERENCE_TIME* time) = 0;
    // Engine extension in place of the platform's event-handle advise calls:
    // blocks until the clock reads at least `time` (S_OK) or `stop` is
    // requested (S_FALSE). Callable from any thread.
    virtual HRESULT WaitUntil(REFERENCE_TIME time, std::stop_token stop) = 0;
};

struct IMediaFilter : IPersist {
    static constexpr GUID iid = RONVIX_GUID("{56A86899-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IPersist;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    virtual HRESULT GetState(DWORD timeout_ms, FILTER_STATE* state) = 0;
    virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;
    virtual HRESULT GetSyncSource(IReferenceClock** clock) = 0;
};

struct IEnumPins : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{56A86892-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IUnknown;
    virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumPins** out) = 0;
};

struct IEnumMediaTypes : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{89C31040-846B-11CE-97D3-00AA0055595A}");
    using base = IUnknown;
    virtual HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMediaTypes** out) = 0;
};

struct IEnumFilters : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{56A86893-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IUnknown;
    virtual HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFilters** out) = 0;
};

struct IBaseFilter : IMediaFilter {
    static constexpr GUID iid = RONVIX_GUID("{56A86895-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IMediaFilter;
    virtual HRESULT EnumPins(IEnumPins** out) = 0;
    virtual HRESULT FindPin(LPCWSTR id, IPin** out) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
    // The graph does not hold a reference through this call: a filter keeps
    // a weak pointer to its graph, which outlives its membership.
    virtual HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0;
    virtual HRESULT QueryVendorInfo(LPWSTR* info) = 0;
};

struct IPin : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{56A86891-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IUnknown;
    virtual HRESULT Connect(IPin* receive_pin, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin** pin) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* dir) = 0;
    virtual HRESULT QueryId(LPWSTR* id) = 0;
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** out) = 0;
    virtual HRESULT QueryInternalConnections(IPin** pins, ULONG* count) = 0;
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;
};

struct IMediaSample : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{56A8689A-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IUnknown;
    virtual HRESULT GetPointer(BYTE** buffer) = 0;
    virtual LONG GetSize() = 0;
    // S_OK with both times, VFW_S_NO_STOP_TIME with start only,
    // VFW_E_SAMPLE_TIME_NOT_SET without times.
    virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) = 0;
    virtual HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) = 0;
    virtual HRESULT IsSyncPoint() = 0;
    virtual HRESULT SetSyncPoint(BOOL sync) = 0;
    virtual HRESULT IsPreroll() = 0;
    virtual HRESULT SetPreroll(BOOL preroll) = 0;
    virtual LONG GetActualDataLength() = 0;
    virtual HRESULT SetActualDataLength(LONG length) = 0;
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE** mt) = 0;
    virtual HRESULT SetMediaType(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT IsDiscontinuity() = 0;
    virtual HRESULT SetDiscontinuity(BOOL discontinuity) = 0;
    virtual HRESULT GetMediaTime(LONGLONG* start, LONGLONG* stop) = 0;
    virtual HRESULT SetMediaTime(LONGLONG* start, LONGLONG* stop) = 0;
};

inline constexpr HRESULT VFW_S_NO_STOP_TIME = com::MakeHr(0x00040270);
inline constexpr HRESULT VFW_S_NOPREVIEWPIN = com::MakeHr(0x0004027E);
inline constexpr DWORD AM_GBF_NOWAIT = 4;

struct IMemAllocator : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{56A8689C-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IUnknown;
    virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
    virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) = 0;
    virtual HRESULT Commit() = 0;
    // Wakes every GetBuffer waiter (they fail with VFW_E_NOT_COMMITTED).
    virtual HRESULT Decommit() = 0;
    // Blocks until a buffer is free (back-pressure) unless `flags` has
    // AM_GBF_NOWAIT, which fails at once with VFW_E_TIMEOUT when none is.
    virtual HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                              DWORD flags) = 0;
    virtual HRESULT ReleaseBuffer(IMediaSample* sample) = 0;
};

struct IMemInputPin : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{56A8689D-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IUnknown;
    virtual HRESULT GetAllocator(IMemAllocator** allocator) = 0;
    virtual HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL read_only) = 0;
    virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) = 0;
    // Called on a streaming thread. The callee AddRefs the sample to keep it
    // beyond the call.
    virtual HRESULT Receive(IMediaSample* sample) = 0;
    virtual HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) = 0;
    virtual HRESULT ReceiveCanBlock() = 0;
};

// Pin categories are answered through this property set.
struct IKsPropertySet : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{31EFAC30-515C-11D0-A9AA-00AA0061BE93}");
    using base = IUnknown;
    virtual HRESULT Set(const GUID& set, DWORD id, void* instance, DWORD instance_size, void* data,
                        DWORD data_size) = 0;
    virtual HRESULT Get(const GUID& set, DWORD id, void* instance, DWORD instance_size, void* data,
                        DWORD data_size, DWORD* returned) = 0;
    virtual HRESULT QuerySupported(const GUID& set, DWORD id, DWORD* support) = 0;
};

inline constexpr DWORD AM_FILTER_MISC_FLAGS_IS_RENDERER = 1;
inline constexpr DWORD AM_FILTER_MISC_FLAGS_IS_SOURCE = 2;

struct IAMFilterMiscFlags : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{2DD74950-A890-11D1-ABE8-00A0C905F375}");
    using base = IUnknown;
    virtual ULONG GetMiscFlags() = 0;
};

struct IFilterGraph : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{56A8689F-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IUnknown;
    virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** out) = 0;
    virtual HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** out) = 0;
    virtual HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT Reconnect(IPin* pin) = 0;
    virtual HRESULT Disconnect(IPin* pin) = 0;
    virtual HRESULT SetDefaultSyncSource() = 0;
};

struct IGraphBuilder : IFilterGraph {
    static constexpr GUID iid = RONVIX_GUID("{56A868A9-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IFilterGraph;
    virtual HRESULT Connect(IPin* out, IPin* in) = 0;
    virtual HRESULT Render(IPin* out) = 0;
    virtual HRESULT RenderFile(LPCWSTR file, LPCWSTR play_list) = 0;
    virtual HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR filter_name, IBaseFilter** out) = 0;
    // `file` is a file descriptor the graph writes its build log to (it
    // keeps its own duplicate, so the caller may close its descriptor); 0
    // stops logging.
    virtual HRESULT SetLogFile(uintptr_t file) = 0;
    virtual HRESULT Abort() = 0;
    virtual HRESULT ShouldOperationContinue() = 0;
};

struct IFilterGraph2 : IGraphBuilder {
    static constexpr GUID iid = RONVIX_GUID("{36B73882-C2C8-11CF-8B46-00805F6CEF60}");
    using base = IGraphBuilder;
    virtual HRESULT AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* ctx, LPCWSTR name,
                                              IBaseFilter** out) = 0;
    virtual HRESULT ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT RenderEx(IPin* out, DWORD flags, DWORD* context) = 0;
};

struct IMediaControl : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{56A868B1-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IUnknown;
    // S_FALSE: the graph is on its way (some filter has not finished the change).
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    // VFW_S_STATE_INTERMEDIATE when the time-out passed mid-change,
    // VFW_S_CANT_CUE when a live source is paused.
    virtual HRESULT GetState(LONG timeout_ms, OAFilterState* state) = 0;
    virtual HRESULT StopWhenReady() = 0;
};

// Event codes.
inline constexpr LONG EC_COMPLETE = 0x01;
inline constexpr LONG EC_USERABORT = 0x02;
inline constexpr LONG EC_ERRORABORT = 0x03;
inline constexpr LONG EC_VIDEO_SIZE_CHANGED = 0x0A;
inline constexpr LONG EC_PAUSED = 0x0E;
inline constexpr LONG EC_BUFFERING_DATA = 0x11;
inline constexpr LONG EC_DEVICE_LOST = 0x1F;
inline constexpr LONG EC_STREAM_CONTROL_STOPPED = 0x1A;
inline constexpr LONG EC_GRAPH_CHANGED = 0x50;
inline constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x01;

struct IMediaEvent : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{56A868B6-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IUnknown;
    // Engine form: a descriptor readable while events are queued is not
    // offered; E_NOTIMPL.
    virtual HRESULT GetEventHandle(OAEVENT* handle) = 0;
    // S_OK with an event, E_ABORT when none came within `timeout_ms`.
    virtual HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeout_ms) = 0;
    virtual HRESULT WaitForCompletion(LONG timeout_ms, LONG* code) = 0;
    virtual HRESULT CancelDefaultHandling(LONG code) = 0;
    virtual HRESULT RestoreDefaultHandling(LONG code) = 0;
    virtual HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
};

struct IMediaEventEx : IMediaEvent {
    static constexpr GUID iid = RONVIX_GUID("{56A868C0-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IMediaEvent;
    // `window` is a window handle (ronvix::win::HWND) carried pointer-sized.
    virtual HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) = 0;
    virtual HRESULT SetNotifyFlags(LONG no_notify_flags) = 0;
    virtual HRESULT GetNotifyFlags(LONG* no_notify_flags) = 0;
};

// What filters call to raise a graph event. Callable from any thread.
struct IMediaEventSink : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{56A868A2-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IUnknown;
    virtual HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
};

inline constexpr GUID TIME_FORMAT_MEDIA_TIME =
    RONVIX_GUID("{7B785574-8C82-11CF-BC0C-00AA00AC74F6}");
inline constexpr DWORD AM_SEEKING_CanSeekAbsolute = 0x1;
inline constexpr DWORD AM_SEEKING_CanSeekForwards = 0x2;
inline constexpr DWORD AM_SEEKING_CanSeekBackwards = 0x4;
inline constexpr DWORD AM_SEEKING_CanGetCurrentPos = 0x8;
inline constexpr DWORD AM_SEEKING_CanGetStopPos = 0x10;
inline constexpr DWORD AM_SEEKING_CanGetDuration = 0x20;
inline constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
inline constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
inline constexpr DWORD AM_SEEKING_RelativePositioning = 0x2;
inline constexpr DWORD AM_SEEKING_PositioningBitsMask = 0x3;

struct IMediaSeeking : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{36B73880-C2C8-11CF-8B46-00805F6CEF60}");
    using base = IUnknown;
    virtual HRESULT GetCapabilities(DWORD* caps) = 0;
    virtual HRESULT CheckCapabilities(DWORD* caps) = 0;
    virtual HRESULT IsFormatSupported(const GUID* format) = 0;
    virtual HRESULT QueryPreferredFormat(GUID* format) = 0;
    virtual HRESULT GetTimeFormat(GUID* format) = 0;
    virtual HRESULT IsUsingTimeFormat(const GUID* format) = 0;
    virtual HRESULT SetTimeFormat(const GUID* format) = 0;
    virtual HRESULT GetDuration(LONGLONG* duration) = 0;
    virtual HRESULT GetStopPosition(LONGLONG* stop) = 0;
    virtual HRESULT GetCurrentPosition(LONGLONG* current) = 0;
    virtual HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* target_format, LONGLONG source,
                                      const GUID* source_format) = 0;
    virtual HRESULT SetPositions(LONGLONG* current, DWORD current_flags, LONGLONG* stop,
                                 DWORD stop_flags) = 0;
    virtual HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) = 0;
    virtual HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) = 0;
    virtual HRESULT SetRate(double rate) = 0;
    virtual HRESULT GetRate(double* rate) = 0;
    virtual HRESULT GetPreroll(LONGLONG* preroll) = 0;
};

struct IFileSinkFilter : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{A2104830-7C70-11CF-8BCE-00AA00A3F1A6}");
    using base = IUnknown;
    virtual HRESULT SetFileName(LPCWSTR file, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* mt) = 0;
};

struct IFileSourceFilter : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{56A868A6-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IUnknown;
    // VFW_E_NOT_FOUND when the file does not exist.
    virtual HRESULT Load(LPCWSTR file, const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* mt) = 0;
};

struct ICaptureGraphBuilder2 : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{93E5A4E0-2D50-11D2-ABFA-00A0C9C6E38D}");
    using base = IUnknown;
    virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
    virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0;
    virtual HRESULT SetOutputFileName(const GUID* type, LPCWSTR file, IBaseFilter** mux,
                                      IFileSinkFilter** sink) = 0;
    virtual HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter,
                                  REFIID riid, void** out) = 0;
    virtual HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                 IBaseFilter* intermediate, IBaseFilter* sink) = 0;
    virtual HRESULT ControlStream(const GUID* category, const GUID* type, IBaseFilter* filter,
                                  REFERENCE_TIME* start, REFERENCE_TIME* stop, WORD start_cookie,
                                  WORD stop_cookie) = 0;
    virtual HRESULT AllocCapFile(LPCWSTR file, LONGLONG size) = 0;
    virtual HRESULT CopyCaptureFile(LPWSTR old_file, LPWSTR new_file, int allow_escape,
                                    IUnknown* progress) = 0;
    virtual HRESULT FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category,
                            const GUID* type, BOOL unconnected, int index, IPin** pin) = 0;
};

// The size a video renderer's input pin draws its picture at now: the part
// of its window the picture fills, letterboxed to the picture's aspect.
// Answered by the renderer's input pin; an upstream converter that finds it
// on its peer may send frames of any size from this one up to the
// connection's, each carrying its own media type (IMediaSample::
// SetMediaType), so that no more pixels are made than are shown.
// Thread-safe; the size follows the window as it changes.
struct IVideoDrawSize : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{AA9B0413-4ACD-43A2-BBE3-225073A10B61}");
    using base = IUnknown;
    // S_FALSE with 0 x 0 when nothing is shown (no window yet).
    virtual HRESULT GetDrawSize(LONG* width, LONG* height) = 0;
};

// Device control interfaces (implemented by the device filters).
struct IAMDroppedFrames : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{C6E13344-30AC-11D0-A18C-00A0C9118956}");
    using base = IUnknown;
    virtual HRESULT GetNumDropped(LONG* dropped) = 0;
    virtual HRESULT GetNumNotDropped(LONG* not_dropped) = 0;
    virtual HRESULT GetDroppedInfo(LONG size, LONG* array, LONG* copied) = 0;
    virtual HRESULT GetAverageFrameSize(LONG* average_size) = 0;
};

enum VideoProcAmpProperty : LONG {
    VideoProcAmp_Brightness = 0,
    VideoProcAmp_Contrast = 1,
    VideoProcAmp_Hue = 2,
    VideoProcAmp_Saturation = 3,
    VideoProcAmp_Sharpness = 4,
    VideoProcAmp_Gamma = 5,
    VideoProcAmp_WhiteBalance = 7,
    VideoProcAmp_BacklightCompensation = 8,
    VideoProcAmp_Gain = 9,
};
inline constexpr LONG VideoProcAmp_Flags_Auto = 0x1;
inline constexpr LONG VideoProcAmp_Flags_Manual = 0x2;

struct IAMVideoProcAmp : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{C6E13360-30AC-11D0-A18C-00A0C9118956}");
    using base = IUnknown;
    virtual HRESULT GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def,
                             LONG* caps_flags) = 0;
    virtual HRESULT Set(LONG property, LONG value, LONG flags) = 0;
    virtual HRESULT Get(LONG property, LONG* value, LONG* flags) = 0;
};

// The processing amplifier's power-line frequency (anti-flicker): the
// platform's kernel-streaming property number, which its amplifier
// interface passes through. A named value: 0 off, 1 50 Hz, 2 60 Hz, 3 auto
// where the device has it.
inline constexpr LONG VideoProcAmp_PowerlineFrequency = 13;

enum CameraControlProperty : LONG {
    CameraControl_Pan = 0,
    CameraControl_Tilt = 1,
    CameraControl_Roll = 2,
    CameraControl_Zoom = 3,
    CameraControl_Exposure = 4,
    CameraControl_Iris = 5,
    CameraControl_Focus = 6,
};
inline constexpr LONG CameraControl_Flags_Auto = 0x1;
inline constexpr LONG CameraControl_Flags_Manual = 0x2;

// A camera's lens and exposure controls. Values are in the device's own
// units (V4L2: exposure in 100 us steps, zoom and focus as the device
// counts them, pan and tilt in arc seconds).
struct IAMCameraControl : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{C6E13370-30AC-11D0-A18C-00A0C9118956}");
    using base = IUnknown;
    virtual HRESULT GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def,
                             LONG* caps_flags) = 0;
    virtual HRESULT Set(LONG property, LONG value, LONG flags) = 0;
    virtual HRESULT Get(LONG property, LONG* value, LONG* flags) = 0;
};

// The amplifier's and the camera's properties by the names their property
// pages and the settings file give them, in the pages' order.
struct DeviceControlProperty {
    LONG id;
    const char* name;
};
inline constexpr DeviceControlProperty kVideoProcAmpProperties[] = {
    {VideoProcAmp_Brightness, "Brightness"},
    {VideoProcAmp_Contrast, "Contrast"},
    {VideoProcAmp_Hue, "Hue"},
    {VideoProcAmp_Saturation, "Saturation"},
    {VideoProcAmp_Sharpness, "Sharpness"},
    {VideoProcAmp_Gamma, "Gamma"},
    {VideoProcAmp_WhiteBalance, "White Balance"},
    {VideoProcAmp_BacklightCompensation, "Backlight Comp"},
    {VideoProcAmp_Gain, "Gain"},
    {VideoProcAmp_PowerlineFrequency, "PowerLine Frequency"},
};
inline constexpr DeviceControlProperty kCameraControlProperties[] = {
    {CameraControl_Exposure, "Exposure"}, {CameraControl_Focus, "Focus"},
    {CameraControl_Iris, "Iris"},         {CameraControl_Zoom, "Zoom"},
    {CameraControl_Pan, "Pan"},           {CameraControl_Tilt, "Tilt"},
    {CameraControl_Roll, "Roll"},
};

// Analog television standards, as flags (AnalogVideoStandard).
inline constexpr LONG AnalogVideo_None = 0x00000000;
inline constexpr LONG AnalogVideo_NTSC_M = 0x00000001;
inline constexpr LONG AnalogVideo_NTSC_M_J = 0x00000002;
inline constexpr LONG AnalogVideo_NTSC_433 = 0x00000004;
inline constexpr LONG AnalogVideo_PAL_B = 0x00000010;
inline constexpr LONG AnalogVideo_PAL_D = 0x00000020;
inline constexpr LONG AnalogVideo_PAL_G = 0x00000040;
inline constexpr LONG AnalogVideo_PAL_H = 0x00000080;
inline constexpr LONG AnalogVideo_PAL_I = 0x00000100;
inline constexpr LONG AnalogVideo_PAL_M = 0x00000200;
inline constexpr LONG AnalogVideo_PAL_N = 0x00000400;
inline constexpr LONG AnalogVideo_PAL_60 = 0x00000800;
inline constexpr LONG AnalogVideo_SECAM_B = 0x00001000;
inline constexpr LONG AnalogVideo_SECAM_D = 0x00002000;
inline constexpr LONG AnalogVideo_SECAM_G = 0x00004000;
inline constexpr LONG AnalogVideo_SECAM_H = 0x00008000;
inline constexpr LONG AnalogVideo_SECAM_K = 0x00010000;
inline constexpr LONG AnalogVideo_SECAM_K1 = 0x00020000;
inline constexpr LONG AnalogVideo_SECAM_L = 0x00040000;
inline constexpr LONG AnalogVideo_SECAM_L1 = 0x00080000;
inline constexpr LONG AnalogVideo_PAL_N_COMBO = 0x00100000;

// The analog video decoder of a capture card: the television standard.
struct IAMAnalogVideoDecoder : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{C6E13350-30AC-11D0-A18C-00A0C9118956}");
    using base = IUnknown;
    // The standards the decoder takes (AnalogVideo_* flags).
    virtual HRESULT get_AvailableTVFormats(LONG* formats) = 0;
    // One standard (a single flag).
    virtual HRESULT put_TVFormat(LONG format) = 0;
    virtual HRESULT get_TVFormat(LONG* format) = 0;
    // 1 when the decoder is locked to a signal's lines, 0 when not.
    virtual HRESULT get_HorizontalLocked(LONG* locked) = 0;
    virtual HRESULT put_VCRHorizontalLocking(LONG vcr) = 0;
    virtual HRESULT get_VCRHorizontalLocking(LONG* vcr) = 0;
    // Lines of the current standard (525 or 625).
    virtual HRESULT get_NumberOfLines(LONG* lines) = 0;
    virtual HRESULT put_OutputEnable(LONG enable) = 0;
    virtual HRESULT get_OutputEnable(LONG* enable) = 0;
};

// Connector kinds of a crossbar's pins (PhysicalConnectorType).
inline constexpr LONG PhysConn_Video_Tuner = 1;
inline constexpr LONG PhysConn_Video_Composite = 2;
inline constexpr LONG PhysConn_Video_SVideo = 3;
inline constexpr LONG PhysConn_Video_RGB = 4;
inline constexpr LONG PhysConn_Video_YRYBY = 5;
inline constexpr LONG PhysConn_Video_SerialDigital = 6;
inline constexpr LONG PhysConn_Video_ParallelDigital = 7;
inline constexpr LONG PhysConn_Video_VideoDecoder = 12;
inline constexpr LONG PhysConn_Video_SCART = 14;
inline constexpr LONG PhysConn_Audio_Tuner = 0x1000;
inline constexpr LONG PhysConn_Audio_Line = 0x1001;
inline constexpr LONG PhysConn_Audio_Mic = 0x1002;
inline constexpr LONG PhysConn_Audio_AudioDecoder = 0x1009;

// The input switch of a capture card: which connector feeds its video
// decoder (output pin 0) and, where the card routes sound, which feeds its
// audio (output pin 1). Input pins are numbered from 0, video inputs first.
struct IAMCrossbar : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{C6E13380-30AC-11D0-A18C-00A0C9118956}");
    using base = IUnknown;
    virtual HRESULT get_PinCounts(LONG* outputs, LONG* inputs) = 0;
    // S_OK when `input` can feed `output`, S_FALSE when not.
    virtual HRESULT CanRoute(LONG output, LONG input) = 0;
    virtual HRESULT Route(LONG output, LONG input) = 0;
    virtual HRESULT get_IsRoutedTo(LONG output, LONG* input) = 0;
    // `related`: the pin of the other kind that goes with this one (a video
    // input's sound), -1 when none; `type`: a PhysConn_* value.
    virtual HRESULT get_CrossbarPinInfo(BOOL is_input, LONG index, LONG* related, LONG* type) = 0;
};

struct IAMVideoCompression : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{C6E13343-30AC-11D0-A18C-00A0C9118956}");
    using base = IUnknown;
    virtual HRESULT put_KeyFrameRate(LONG rate) = 0;
    virtual HRESULT get_KeyFrameRate(LONG* rate) = 0;
    virtual HRESULT put_PFramesPerKeyFrame(LONG frames) = 0;
    virtual HRESULT get_PFramesPerKeyFrame(LONG* frames) = 0;
    virtual HRESULT put_Quality(double quality) = 0;
    virtual HRESULT get_Quality(double* quality) = 0;
    virtual HRESULT put_WindowSize(uint64_t size) = 0;
    virtual HRESULT get_WindowSize(uint64_t* size) = 0;
    virtual HRESULT GetInfo(LPWSTR version, int* version_len, LPWSTR description,
                            int* description_len, LONG* def_key_frame_rate,
                            LONG* def_p_frames_per_key, double* def_quality,
                            LONG* capabilities) = 0;
    virtual HRESULT OverrideKeyFrame(LONG frame) = 0;
    virtual HRESULT OverrideFrameSize(LONG frame, LONG size) = 0;
};

struct IAMAudioInputMixer : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{54C39221-8380-11D0-B3F0-00AA003761C5}");
    using base = IUnknown;
    virtual HRESULT put_Enable(BOOL enable) = 0;
    virtual HRESULT get_Enable(BOOL* enable) = 0;
    virtual HRESULT put_Mono(BOOL mono) = 0;
    virtual HRESULT get_Mono(BOOL* mono) = 0;
    virtual HRESULT put_MixLevel(double level) = 0;
    virtual HRESULT get_MixLevel(double* level) = 0;
    virtual HRESULT put_Pan(double pan) = 0;
    virtual HRESULT get_Pan(double* pan) = 0;
    virtual HRESULT put_Loudness(BOOL loudness) = 0;
    virtual HRESULT get_Loudness(BOOL* loudness) = 0;
    virtual HRESULT put_Treble(double treble) = 0;
    virtual HRESULT get_Treble(double* treble) = 0;
    virtual HRESULT get_TrebleRange(double* range) = 0;
    virtual HRESULT put_Bass(double bass) = 0;
    virtual HRESULT get_Bass(double* bass) = 0;
    virtual HRESULT get_BassRange(double* range) = 0;
};

struct VIDEO_STREAM_CONFIG_CAPS {
    GUID guid;
    ULONG VideoStandard = 0;
    int32_t InputSizeWidth = 0, InputSizeHeight = 0;
    int32_t MinCroppingSizeWidth = 0, MinCroppingSizeHeight = 0;
    int32_t MaxCroppingSizeWidth = 0, MaxCroppingSizeHeight = 0;
    int CropGranularityX = 0, CropGranularityY = 0, CropAlignX = 0, CropAlignY = 0;
    int32_t MinOutputSizeWidth = 0, MinOutputSizeHeight = 0;
    int32_t MaxOutputSizeWidth = 0, MaxOutputSizeHeight = 0;
    int OutputGranularityX = 0, OutputGranularityY = 0;
    int StretchTapsX = 0, StretchTapsY = 0, ShrinkTapsX = 0, ShrinkTapsY = 0;
    LONGLONG MinFrameInterval = 0, MaxFrameInterval = 0;
    LONG MinBitsPerSecond = 0, MaxBitsPerSecond = 0;
};

struct AUDIO_STREAM_CONFIG_CAPS {
    GUID guid;
    ULONG MinimumChannels = 0, MaximumChannels = 0, ChannelsGranularity = 0;
    ULONG MinimumBitsPerSample = 0, MaximumBitsPerSample = 0, BitsPerSampleGranularity = 0;
    ULONG MinimumSampleFrequency = 0, MaximumSampleFrequency = 0, SampleFrequencyGranularity = 0;
};

struct IAMStreamConfig : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{C6E13340-30AC-11D0-A18C-00A0C9118956}");
    using base = IUnknown;
    virtual HRESULT SetFormat(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT GetFormat(AM_MEDIA_TYPE** mt) = 0;
    virtual HRESULT GetNumberOfCapabilities(int* count, int* size) = 0;
    virtual HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) = 0;
};

// The sample grabber's control and callback interfaces.
struct ISampleGrabberCB : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{0579154A-2B53-4994-B0D0-E773148EFF85}");
    using base = IUnknown;
    // Both are called on the streaming thread, once per sample.
    virtual HRESULT SampleCB(double sample_time, IMediaSample* sample) = 0;
    virtual HRESULT BufferCB(double sample_time, BYTE* buffer, LONG length) = 0;
};

struct ISampleGrabber : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{6B652FFF-11FE-4FCE-92AD-0266B5D7C78F}");
    using base = IUnknown;
    virtual HRESULT SetOneShot(BOOL one_shot) = 0;
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* mt) = 0;
    virtual HRESULT SetBufferSamples(BOOL buffer) = 0;
    // With `buffer` null, writes the size needed; otherwise copies at most
    // `*size` bytes of the last buffered sample.
    virtual HRESULT GetCurrentBuffer(LONG* size, LONG* buffer) = 0;
    // The last buffered sample itself, AddRef'd (null when none).
    virtual HRESULT GetCurrentSample(IMediaSample** sample) = 0;
    // `which` 0 calls SampleCB, 1 calls BufferCB.
    virtual HRESULT SetCallback(ISampleGrabberCB* callback, LONG which) = 0;
};

// The video renderer's window control. Methods follow the platform's order;
// the automation base is left out (nothing here dispatches by name).
// `window` values are window handles (ronvix::win::HWND) carried
// pointer-sized; styles are the platform's WS_ and WS_EX_ bit values.
struct IVideoWindow : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{56A868B4-0AD4-11CE-B03A-0020AF0BA770}");
    using base = IUnknown;
    virtual HRESULT put_Caption(com::BSTR caption) = 0;
    // The caller frees the string with SysFreeString.
    virtual HRESULT get_Caption(com::BSTR* caption) = 0;
    virtual HRESULT put_WindowStyle(LONG style) = 0;
    virtual HRESULT get_WindowStyle(LONG* style) = 0;
    virtual HRESULT put_WindowStyleEx(LONG style) = 0;
    virtual HRESULT get_WindowStyleEx(LONG* style) = 0;
    virtual HRESULT put_AutoShow(LONG auto_show) = 0;
    virtual HRESULT get_AutoShow(LONG* auto_show) = 0;
    virtual HRESULT put_WindowState(LONG state) = 0;
    virtual HRESULT get_WindowState(LONG* state) = 0;
    virtual HRESULT put_BackgroundPalette(LONG palette) = 0;
    virtual HRESULT get_BackgroundPalette(LONG* palette) = 0;
    virtual HRESULT put_Visible(LONG visible) = 0;
    virtual HRESULT get_Visible(LONG* visible) = 0;
    virtual HRESULT put_Left(LONG left) = 0;
    virtual HRESULT get_Left(LONG* left) = 0;
    virtual HRESULT put_Width(LONG width) = 0;
    virtual HRESULT get_Width(LONG* width) = 0;
    virtual HRESULT put_Top(LONG top) = 0;
    virtual HRESULT get_Top(LONG* top) = 0;
    virtual HRESULT put_Height(LONG height) = 0;
    virtual HRESULT get_Height(LONG* height) = 0;
    virtual HRESULT put_Owner(OAHWND owner) = 0;
    virtual HRESULT get_Owner(OAHWND* owner) = 0;
    virtual HRESULT put_MessageDrain(OAHWND drain) = 0;
    virtual HRESULT get_MessageDrain(OAHWND* drain) = 0;
    virtual HRESULT get_BorderColor(LONG* color) = 0;
    virtual HRESULT put_BorderColor(LONG color) = 0;
    virtual HRESULT get_FullScreenMode(LONG* full_screen) = 0;
    virtual HRESULT put_FullScreenMode(LONG full_screen) = 0;
    virtual HRESULT SetWindowForeground(LONG focus) = 0;
    virtual HRESULT NotifyOwnerMessage(OAHWND window, LONG message, LONG_PTR wparam,
                                       LONG_PTR lparam) = 0;
    virtual HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    virtual HRESULT GetMinIdealImageSize(LONG* width, LONG* height) = 0;
    virtual HRESULT GetMaxIdealImageSize(LONG* width, LONG* height) = 0;
    virtual HRESULT GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    virtual HRESULT HideCursor(LONG hide) = 0;
    virtual HRESULT IsCursorHidden(LONG* hidden) = 0;
};

// A counted array of GUIDs; `pElems` comes from the task allocator and the
// receiver frees it with CoTaskMemFree.
struct CAUUID {
    ULONG cElems = 0;
    GUID* pElems = nullptr;
};

// The property pages an object offers (class ids of its pages).
struct ISpecifyPropertyPages : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{B196B28B-BAB4-101A-B69C-00AA00341D07}");
    using base = IUnknown;
    virtual HRESULT GetPages(CAUUID* pages) = 0;
};

// Engine extensions: interfaces of this engine that the platform has no
// counterpart for. Identifiers are the engine's own.

// Receive's answer for a sample that a sink took and left out of its output
// on purpose (the capture file's mux leaves a video frame out when the
// camera runs ahead of the sound card's clock). It is a success: the stream
// goes on. A source counts such a frame as dropped, not as delivered, so
// that what it counts as captured is what the file holds. Filters that pass
// samples on return it unchanged.
inline constexpr HRESULT S_SAMPLE_LEFT_OUT = com::MakeHr(0x00040280);

// Receive's answer for a sample that a sink took after the end its owner
// set for its output (a capture file with a stop time): the sample is not
// in the output. A success; a source counts such a sample neither as
// delivered nor as dropped, since the capture it belongs to has ended.
// Filters that pass samples on return it unchanged.
inline constexpr HRESULT S_SAMPLE_PAST_END = com::MakeHr(0x00040281);

// A live source that can end its capture before its graph stops and hand on
// what it has already captured. The graph manager's Stop calls EndCapture on
// every such source, then WaitDelivered, and only then stops the filters, so
// everything a device captured before the stop reaches the filters below it
// while they still run (the capture file loses nothing in flight).
// Control thread.
struct ILiveCaptureEnd : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{6F0E2B61-3A5C-4C0B-9D2E-7A1C55B0E4A3}");
    using base = IUnknown;
    // Captures nothing more from now on; does not wait. Harmless when the
    // filter does not stream.
    virtual HRESULT EndCapture() = 0;
    // Waits until everything captured before EndCapture was delivered (or
    // refused) downstream, at most `timeout_ms`. S_OK when done; S_FALSE
    // when the time ran out (what is still queued then is counted as
    // dropped when the filter stops).
    virtual HRESULT WaitDelivered(DWORD timeout_ms) = 0;
};

// What the capture file's mux made of one input stream in the file being
// written or the last one finished (answered by each of its input pins).
// Video counts are in frames and places (a place is one frame period of
// the file; an empty place repeats the frame before it); audio counts are
// in sample frames.
struct MUX_STREAM_COUNTS {
    LONGLONG written = 0;   // Frames (video) or sample frames (audio) written.
    LONGLONG lost = 0;      // Video: empty places where the source lost frames,
                            // or the disk's queue had no room for one.
    LONGLONG no_room = 0;   // Video: of those, frames the disk's queue had no
                            // room for (the disk fell behind).
    LONGLONG inserted = 0;  // Video: empty places inserted to keep time (a late
                            // start, a camera behind the audio clock).
    LONGLONG left_out = 0;  // Video: frames left out to keep time.
    LONGLONG silence = 0;   // Audio: silence written for sound the device lost
                            // or before a late first sample.
};
struct IMuxStreamCounts : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{0B2E7C4D-91A8-4F57-8E36-2D5C1F9A7B10}");
    using base = IUnknown;
    // E_POINTER without `counts`. Any thread.
    virtual HRESULT GetCounts(MUX_STREAM_COUNTS* counts) = 0;
};

// The end of a capture file in file time (answered by the capture file's
// mux). The file then holds exactly that much of every stream: video
// places up to the end (the last frames as the timeline put them, empty
// places where frames were lost), audio up to the sample frame at the end.
// Once every stream that began has reached the end (or one has gone a
// second past it), the mux raises EC_STREAM_CONTROL_STOPPED once, with
// both parameters 0, and answers later samples with S_SAMPLE_PAST_END, so
// the graph's owner stops the capture as its user would. Set while the
// graph is stopped; it applies from the next run on.
struct IMuxEndTime : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{5C1A7E92-4B3D-4E61-A0F8-93D2B6C4E751}");
    using base = IUnknown;
    // `end_100ns` > 0: the file's end; 0: no end (the default).
    // E_INVALIDARG for a negative end. Control thread.
    virtual HRESULT SetEndTime(REFERENCE_TIME end_100ns) = 0;
    // The end set (0: none), E_POINTER without `end_100ns`. Any thread.
    virtual HRESULT GetEndTime(REFERENCE_TIME* end_100ns) = 0;
};

// The peak levels of a PCM stream (answered by the Audio Level Meter).
// The streaming thread keeps, per channel, the highest absolute sample since
// the last TakePeaks with atomic operations only: measuring never blocks
// or slows the stream.
struct IAudioLevels : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{2F7B9D3A-5E14-4C8B-A6D0-71C3E85B4F26}");
    using base = IUnknown;
    // Channels of the connected stream (0 while unconnected), at most
    // kMaxChannels. E_POINTER without `channels`. Any thread.
    virtual HRESULT GetChannels(LONG* channels) = 0;
    // The highest peak of each of the first `count` channels since the last
    // call, as a fraction of full scale (0 to 1), and starts over. A channel
    // the stream does not have reads 0. Any thread.
    virtual HRESULT TakePeaks(LONG count, double* peaks) = 0;
    static constexpr LONG kMaxChannels = 8;
};

// What a capture card tells of its analog side beyond the decoder and
// crossbar interfaces: its own names of the crossbar's pins ("Composite1",
// "S-Video"), and the standard its decoder detects. Control thread.
struct IAnalogVideoDetails : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{3D4C8B51-6E2A-4F90-B7C3-1A85E06D2F94}");
    using base = IUnknown;
    // The name of crossbar pin `index` (input pins when `is_input`), from
    // the task allocator.
    virtual HRESULT GetPinName(BOOL is_input, LONG index, LPWSTR* name) = 0;
    // The standard (one AnalogVideo_* flag, or several when the decoder can
    // only narrow it down) of the signal on the current input. S_FALSE with
    // AnalogVideo_None when there is no signal or the decoder cannot tell.
    virtual HRESULT GetDetectedTVFormat(LONG* formats) = 0;
};

// The names of the values of a device control that takes a few named
// values (a menu: the power-line frequency's "50 Hz"). `set` is the
// interface the property belongs to (IAMVideoProcAmp::iid or
// IAMCameraControl::iid). Control thread.
struct IDeviceControlNames : IUnknown {
    static constexpr GUID iid = RONVIX_GUID("{8A17F0C2-4B3D-4E65-9D18-C27E5B0A9F36}");
    using base = IUnknown;
    // The name of `value` (task-allocated). S_FALSE with no name when the
    // property is not a menu; E_PROP_ID_UNSUPPORTED when the device lacks
    // it; E_INVALIDARG for a value the menu does not have.
    virtual HRESULT GetValueName(REFIID set, LONG property, LONG value, LPWSTR* name) = 0;
};

// Class identifiers of the engine's objects.
inline constexpr GUID CLSID_FilterGraph = RONVIX_GUID("{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
inline constexpr GUID CLSID_CaptureGraphBuilder2 =
    RONVIX_GUID("{BF87B6E1-8C27-11D0-B3F0-00AA003761C5}");
inline constexpr GUID CLSID_SampleGrabber = RONVIX_GUID("{C1F400A0-3F08-11D3-9F0B-006008039E37}");
inline constexpr GUID CLSID_SmartTee = RONVIX_GUID("{CC58E280-8AA1-11D1-B3F1-00AA003761C5}");
inline constexpr GUID CLSID_Sync = RONVIX_GUID("{B9F665CA-BB48-4632-B660-A8D12BE9BA59}");
inline constexpr GUID CLSID_AviDest = RONVIX_GUID("{E2510970-F137-11CE-8B67-00AA00A3F1A6}");
inline constexpr GUID CLSID_FileWriter = RONVIX_GUID("{8596E5F0-0DA5-11D0-BD21-00A0C911CE86}");
inline constexpr GUID CLSID_AsyncReader = RONVIX_GUID("{E436EBB5-524F-11CE-9F53-0020AF0BA770}");
inline constexpr GUID CLSID_AudioLevelMeter = RONVIX_GUID("{8E2C4A17-6B5D-4F38-9C1E-2A7D5B3F6E90}");

}  // namespace ronvix::media
