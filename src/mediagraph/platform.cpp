#include "mediagraph/platform.h"

#include <mutex>

#include "platform/media/codecs/codecs.h"
#include "platform/media/container/avisplitter.h"
#include "platform/media/devices/alsa/alsacapture.h"
#include "platform/media/devices/alsa/audiooutput.h"
#include "platform/media/devices/v4l2/v4l2device.h"
#include "platform/media/devices/virtual/tapedeck.h"
#include "platform/media/devices/virtual/virtualdevices.h"
#include "platform/media/registration/engineclasses.h"
#include "platform/media/ui/propertyframe.h"
#include "platform/media/ui/videorenderer.h"

namespace ronvix::mediagraph {

void RegisterPlatformClasses(const media::VirtualDeviceHooks& hooks) {
    static std::once_flag once;
    std::call_once(once, [&hooks] {
        media::RegisterEngineClasses();
        media::RegisterCodecClasses();
        media::RegisterPlaybackClasses();
        // Real devices first: they lead their categories.
        media::RegisterV4l2Devices();
        media::RegisterAlsaDevices();
        media::RegisterVirtualDevices(hooks);
        media::RegisterTapeDeck();
        media::RegisterAudioOutputs();
        media::RegisterRendererClasses();
        media::RegisterDevicePropertyPages();
    });
}

}  // namespace ronvix::mediagraph
