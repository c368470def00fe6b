#pragma once
// The built-in virtual devices: the Test Pattern Camera (video input
// category) and the Test Tone Generator (audio input category). They let a
// user without hardware capture, and every engine test uses them, so they
// behave like real devices: live pacing on the graph clock, dropped frames
// counted, controls shared by every instance of the device.
//
// Public contract:
// - The camera's first pin is "Capture" (capture category: MJPG and YUY2
//   formats, IAMStreamConfig, IAMVideoCompression, IAMDroppedFrames), its
//   second "Preview" (preview category, RGB32 of the same picture). The
//   filter answers IAMVideoProcAmp, IAMDroppedFrames (of the capture pin)
//   and ISpecifyPropertyPages.
// - The tone generator's first pin is "Capture" (PCM, IAMStreamConfig), then
//   the input lines "Line In", "Microphone", "CD Audio", each answering
//   IAMAudioInputMixer. The filter answers ISpecifyPropertyPages.
// - Controls work whether or not the filter is in a graph.

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/com/classregistry.h"
#include "platform/media/core/interfaces.h"
#include "platform/media/devices/imperfections.h"

namespace ronvix::media {

inline constexpr GUID CLSID_TestPatternCamera =
    RONVIX_GUID("{C66AA9D4-CBF6-440C-AB75-3F310FB00FBA}");
inline constexpr GUID CLSID_TestToneGenerator =
    RONVIX_GUID("{13B704D9-4D82-4E40-BC5E-5485797946A8}");

inline constexpr char kTestCameraName[] = "Test Pattern Camera";
inline constexpr char kToneGeneratorName[] = "Test Tone Generator";

// What tests, benchmarks and ronvix-capture --unpaced tell the virtual
// devices. A device takes a copy when it is made and never looks anywhere
// else; the copy is never changed, so streaming threads read it freely.
// The default (everything off, nothing counted) is the device a user gets.
struct VirtualDeviceHooks {
    // The camera's capture pin delivers frames as fast as the consumer
    // takes them, stamped as if paced, and never drops (benchmarks only).
    bool unpaced = false;
    // What the camera and the tone generator get wrong on purpose (see
    // imperfections.h): a skewed clock, a late start, jittery stamps,
    // stalls, lost frames or buffers.
    Imperfections camera_faults;
    Imperfections tone_faults;
    // Where the camera's threads add the CPU time they spend making
    // pictures (drawing, encoding, converting), in nanoseconds, read from
    // each thread's own CPU clock. A real camera does that work in
    // hardware, so benchmarks subtract it from the process's CPU time to
    // show the capture path's own cost. Null: not counted.
    std::shared_ptr<std::atomic<int64_t>> camera_cpu_ns;
    // The same for the tone generator's making of its sound (what a sound
    // card's converter does).
    std::shared_ptr<std::atomic<int64_t>> tone_cpu_ns;
};

// Adds the two devices to the device registry (after the real backends of
// their categories) and their classes to the class registry; every device
// made through them (moniker or class id) carries `hooks`. Idempotent and
// thread-safe: the first call's hooks are the ones registered.
void RegisterVirtualDevices(const VirtualDeviceHooks& hooks = {});

// New filter instances, for callers that need no moniker. Each returns
// interface `riid` of a new filter through `out`; the filter carries
// `hooks` for its life.
HRESULT CreateTestCamera(REFIID riid, void** out);
HRESULT CreateTestCamera(const VirtualDeviceHooks& hooks, REFIID riid, void** out);
HRESULT CreateToneGenerator(REFIID riid, void** out);
HRESULT CreateToneGenerator(const VirtualDeviceHooks& hooks, REFIID riid, void** out);

// The calling thread's CPU clock, in nanoseconds.
int64_t ThreadCpuNs();

}  // namespace ronvix::media
