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

void RegisterVirtualDevices() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The classes are reachable by class id (CoCreateInstance, saved
        // filters) but never inserted by Connect or Render.
        ClassRegistry& classes = ClassRegistry::Instance();
        classes.Register(
            {CLSID_TestPatternCamera, kTestCameraName, CreateTestCamera, MERIT_DO_NOT_USE, {}});
        classes.Register({CLSID_TestToneGenerator,
                          kToneGeneratorName,
                          CreateToneGenerator,
                          MERIT_DO_NOT_USE,
                          {}});

        DeviceRegistry& devices = DeviceRegistry::Instance();
        devices.AddProvider(com::CLSID_VideoInputDeviceCategory, ProviderKind::Virtual, [] {
            return std::vector<DeviceDescription>{
                {kTestCameraName, {}, CLSID_TestPatternCamera, CreateTestCamera}};
        });
        devices.AddProvider(com::CLSID_AudioInputDeviceCategory, ProviderKind::Virtual, [] {
            return std::vector<DeviceDescription>{
                {kToneGeneratorName, {}, CLSID_TestToneGenerator, CreateToneGenerator}};
        });
    });
}

}  // namespace ronvix::media
