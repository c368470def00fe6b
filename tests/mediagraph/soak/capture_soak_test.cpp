// Ten minutes (RONVIX_SOAK_SECONDS) of real-time capture of the built-in
// camera and tone with the preview on, on the capture page's own graphs, on
// an idle machine: nothing is dropped, the file holds exactly the frames
// counted, and at every second the burst starts within its white frame.
// Run with: ctest --test-dir build -L soak --output-on-failure

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>

#include "mediagraph/device_enum.h"
#include "mediagraph/formdata.h"
#include "mediagraph/graph_util.h"
#include "mediagraph/platform.h"
#include "mediagraph/workflowgraphs.h"
#include "platform/media/container/av_offsets.h"
#include "platform/media/devices/virtual/virtualdevices.h"

namespace ronvix::mediagraph {
namespace {

using com::ComPtr;

void Choose(TSysDevEnum& devices, const com::GUID& category, const char* name, TFilter* filter,
            TFilterGraph* graph) {
    devices.SelectCategory(category);
    for (int i = 0; i < devices.DeviceCount(); ++i)
        if (devices.DeviceInfo(i).Name() == QLatin1String(name)) {
            filter->BaseFilter().AssignMoniker(devices.DeviceMoniker(i).Get());
            filter->SetFilterGraph(graph);
            return;
        }
    ADD_FAILURE() << name << " is not listed";
}

TEST(CaptureSoak, TenMinutesWithPreviewDropNothingAndStayInSync) {
    const char* env = std::getenv("RONVIX_SOAK_SECONDS");
    const int seconds = env ? std::atoi(env) : 600;
    RegisterPlatformClasses();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("soak.avi"));

    QObject owner;
    const MainFormMedia m = CreateMainFormMedia(&owner);
    TSysDevEnum devices(media::CLSID_VideoInputDeviceCategory);
    Choose(devices, media::CLSID_VideoInputDeviceCategory, media::kTestCameraName,
           m.VideoSourceFilter, m.CaptureGraph);
    Choose(devices, media::CLSID_AudioInputDeviceCategory, media::kToneGeneratorName,
           m.AudioSourceFilter, m.CaptureGraph);
    m.CaptureGraph->SetActive(true);
    const ComPtr<media::IBaseFilter> mux = AddCaptureFile(m.CaptureGraph, file);
    ASSERT_TRUE(mux);
    RenderCapturePreview(m.CaptureGraph, m.VideoSourceFilter, m.videowindow);
    RenderCaptureStreams(
        {m.CaptureGraph, m.VideoSourceFilter, m.AudioSourceFilter, m.SampleGrabber, m.sync},
        mux.Get());
    ComPtr<media::IAMDroppedFrames> drops;
    {
        auto builder = Supports<media::ICaptureGraphBuilder2>(m.CaptureGraph);
        auto source = Supports<media::IBaseFilter>(m.VideoSourceFilter);
        builder->FindInterface(&media::PIN_CATEGORY_CAPTURE, &media::MEDIATYPE_Video, source.Get(),
                               media::IAMDroppedFrames::iid, drops.OutVoid());
    }
    ASSERT_TRUE(drops);

    m.CaptureGraph->Play();
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    qApp->exec();
    m.CaptureGraph->Stop();
    com::LONG captured = 0, dropped = 0;
    drops->GetNumNotDropped(&captured);
    drops->GetNumDropped(&dropped);
    drops = nullptr;
    media::MUX_STREAM_COUNTS video;
    if (auto counts = VideoStreamCounts(mux.Get()))
        counts->GetCounts(&video);
    m.CaptureGraph->SetActive(false);

    EXPECT_EQ(dropped, 0);
    const auto offsets = media::test::MeasureAvOffsets(file);
    ASSERT_TRUE(offsets);
    EXPECT_EQ(offsets->frames, captured);
    EXPECT_EQ(offsets->places, captured + dropped);
    EXPECT_TRUE(offsets->AllWithin(-0.5 - 0.01, 1.5 + 0.01))
        << "offsets from " << offsets->Lowest() << " to " << offsets->Highest();
    EXPECT_GE(offsets->offsets.size(), size_t(seconds - 1));
    std::printf(
        "%d s: captured %ld, dropped %ld (%lld for the disk, %lld left out), %zu marker "
        "pairs, offsets %.3f .. %.3f\n",
        seconds, long(captured), long(dropped), static_cast<long long>(video.no_room),
        static_cast<long long>(video.left_out), offsets->offsets.size(), offsets->Lowest(),
        offsets->Highest());
}

}  // namespace
}  // namespace ronvix::mediagraph
