#include "platform/media/devices/virtual/virtualdevices.h"

#include <ctime>
#include <mutex>

#include "platform/com/devices.h"

namespace ronvix::media {

using namespace com;

int64_t ThreadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

void RegisterVirtualDevices(const VirtualDeviceHooks& hooks) {
    static std::once_flag once;
    std::call_once(once, [&hooks] {
        auto camera = [hooks](REFIID riid, void** out) {
            return CreateTestCamera(hooks, riid, out);
        };
        auto tone = [hooks](REFIID riid, void** out) {
            return CreateToneGenerator(hooks, riid, out);
        };
        // The classes are reachable by class id (CoCreateInstance, saved
        // filters) but never inserted by Connect or Render.
        ClassRegistry& classes = ClassRegistry::Instance();
        classes.Register({CLSID_TestPatternCamera, kTestCameraName, camera, MERIT_DO_NOT_USE, {}});
        classes.Register({CLSID_TestToneGenerator, kToneGeneratorName, tone, MERIT_DO_NOT_USE, {}});

        DeviceRegistry& devices = DeviceRegistry::Instance();
        devices.AddProvider(com::CLSID_VideoInputDeviceCategory, ProviderKind::Virtual, [camera] {
            return std::vector<DeviceDescription>{
                {kTestCameraName, {}, CLSID_TestPatternCamera, camera}};
        });
        devices.AddProvider(com::CLSID_AudioInputDeviceCategory, ProviderKind::Virtual, [tone] {
            return std::vector<DeviceDescription>{
                {kToneGeneratorName, {}, CLSID_TestToneGenerator, tone}};
        });
    });
}

}  // namespace ronvix::media
