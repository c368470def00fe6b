#include "platform/media/registration/engineclasses.h"

#include "platform/media/container/avimux.h"
#include "platform/media/core/capturebuilder.h"
#include "platform/media/core/graph.h"
#include "platform/media/io/filewriter.h"
#include "platform/media/plumbing/plumbing.h"

namespace ronvix::media {

using namespace com;

void RegisterEngineClasses() {
    // Registering again replaces each entry with an equal one, so repeated
    // calls change nothing.
    {
        ClassRegistry& registry = ClassRegistry::Instance();
        registry.Register(
            {CLSID_FilterGraph, "Filter Graph", CreateFilterGraphInstance, MERIT_DO_NOT_USE, {}});
        registry.Register({CLSID_CaptureGraphBuilder2,
                           "Capture Graph Builder",
                           CreateCaptureGraphBuilderInstance,
                           MERIT_DO_NOT_USE,
                           {}});
        registry.Register(SyncClassEntry());
        registry.Register(SmartTeeClassEntry());
        registry.Register(SampleGrabberClassEntry());
        registry.Register(AviMuxClassEntry());
        registry.Register(FileWriterClassEntry());
    }
}

}  // namespace ronvix::media
