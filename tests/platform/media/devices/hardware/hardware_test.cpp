// Checks on the real V4L2 devices of the machine: the first video capture
// node is listed and captures two seconds into an AVI file that ffprobe
// reads. Skipped where the machine has no capture node.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <thread>

#include "platform/com/devices.h"
#include "platform/media/codecs/codecs.h"
#include "platform/media/container/avi_probe.h"
#include "platform/media/core/capturebuilder.h"
#include "platform/media/core/graph.h"
#include "platform/media/devices/v4l2/v4l2device.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media::test {
namespace {

using namespace std::chrono_literals;
using com::ComPtr;
using com::S_OK;

TEST(V4l2Hardware, TheFirstCameraIsListedAndCapturesTwoSecondsIntoAnAviFile) {
    const auto nodes = FindV4l2Nodes(*CurrentV4l2System(), V4l2Direction::Capture);
    if (nodes.empty())
        GTEST_SKIP() << "no V4L2 capture node on this machine";
    RegisterEngineClasses();
    RegisterCodecClasses();
    RegisterV4l2Devices();

    const auto devices = com::DeviceRegistry::Instance().Enumerate(CLSID_VideoInputDeviceCategory);
    ASSERT_FALSE(devices.empty());
    EXPECT_EQ(devices[0].description.friendly_name, nodes[0].card);
    std::cout << "capturing from " << nodes[0].path << " (" << nodes[0].card << ", "
              << nodes[0].identity << ")\n";
    ComPtr<IBaseFilter> camera;
    ASSERT_EQ(devices[0].description.create(IBaseFilter::iid, camera.OutVoid()), S_OK);

    QTemporaryDir folder;
    const QString path = folder.filePath("camera.avi");
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(CreateCaptureGraphBuilderInstance(ICaptureGraphBuilder2::iid, builder.OutVoid()),
              S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
    ASSERT_EQ(graph->AddFilter(camera.Get(), u"Camera"), S_OK);
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    const std::u16string file = path.toStdU16String();
    ASSERT_EQ(
        builder->SetOutputFileName(&MEDIASUBTYPE_Avi, file.c_str(), mux.ReleaseAndGetAddressOf(),
                                   sink.ReleaseAndGetAddressOf()),
        S_OK);
    ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(), nullptr,
                                    mux.Get()),
              S_OK);
    auto control = graph.As<IMediaControl>();
    ASSERT_TRUE(com::SUCCEEDED(control->Run())) << "the device did not start";
    std::this_thread::sleep_for(2s);
    ASSERT_EQ(control->Stop(), S_OK);
    LONG captured = 0, dropped = 0;
    auto drops = camera.As<IAMDroppedFrames>();
    drops->GetNumNotDropped(&captured);
    drops->GetNumDropped(&dropped);
    std::cout << captured << " frames captured, " << dropped << " dropped\n";
    graph = nullptr;
    builder = nullptr;
    mux = nullptr;
    sink = nullptr;

    const auto streams = ProbeStreams(path);
    ASSERT_TRUE(streams) << "ffprobe cannot read " << path.toStdString();
    ASSERT_EQ(streams->size(), 1u);
    EXPECT_EQ((*streams)[0].type, "video");
    EXPECT_GT(captured, 0);
    EXPECT_GT(CountPackets(path, "v:0"), 0);
}

}  // namespace
}  // namespace ronvix::media::test
