// The controls of V4L2 devices against the scripted fake: every picture and
// camera control with the device's ranges, automatic modes and named values;
// an analog card's standard and inputs, which reach the driver, are kept for
// the session, and are set again on the node a stream opens.

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/com/devices.h"
#include "platform/com/oleauto.h"
#include "platform/media/core/engine_harness.h"
#include "platform/media/core/graph.h"
#include "platform/media/devices/devicecontrols.h"
#include "platform/media/devices/propertypages.h"
#include "platform/media/devices/v4l2/fake_v4l2.h"
#include "platform/media/devices/v4l2/v4l2device.h"

namespace ronvix::media::test {
namespace {

using com::E_INVALIDARG;
using com::FALSE;
using com::S_FALSE;
using com::S_OK;
using com::TRUE;

constexpr char kCam[] = "/dev/video0";

ComPtr<IBaseFilter> OnlyDevice() {
    RegisterV4l2Devices();
    const auto devices = com::DeviceRegistry::Instance().Enumerate(CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(devices.size(), 1u);
    ComPtr<IBaseFilter> filter;
    if (!devices.empty()) {
        EXPECT_EQ(devices[0].description.create(IBaseFilter::iid, filter.OutVoid()), S_OK);
    }
    return filter;
}

std::vector<GUID> Pages(IBaseFilter* filter) {
    CAUUID pages;
    EXPECT_EQ(ComPtr<IBaseFilter>(filter).As<ISpecifyPropertyPages>()->GetPages(&pages), S_OK);
    std::vector<GUID> ids(pages.pElems, pages.pElems + pages.cElems);
    com::CoTaskMemFree(pages.pElems);
    return ids;
}

bool Has(const std::vector<GUID>& ids, const GUID& id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

FakeControl Menu(int32_t max, int32_t value, std::map<int32_t, std::string> items) {
    FakeControl c{0, max, 1, value, value, V4L2_CTRL_TYPE_MENU, std::move(items)};
    return c;
}
FakeControl Bool(int32_t value) {
    return FakeControl{0, 1, 1, 1, value, V4L2_CTRL_TYPE_BOOLEAN, {}};
}

// A webcam with the controls UVC cameras have.
FakeNode Webcam() {
    FakeNode node = YuyvCamera("HD Webcam", "/dev/v4l/by-id/usb-HD_Webcam-video-index0");
    node.controls = {
        {V4L2_CID_BRIGHTNESS, FakeControl{-64, 64, 1, 0, 0}},
        {V4L2_CID_CONTRAST, FakeControl{0, 100, 1, 50, 50}},
        {V4L2_CID_SATURATION, FakeControl{0, 100, 1, 64, 64}},
        {V4L2_CID_HUE, FakeControl{-180, 180, 1, 0, 0}},
        {V4L2_CID_GAMMA, FakeControl{100, 500, 1, 300, 300}},
        {V4L2_CID_SHARPNESS, FakeControl{0, 100, 1, 50, 50}},
        {V4L2_CID_BACKLIGHT_COMPENSATION, FakeControl{0, 2, 1, 1, 1}},
        {V4L2_CID_GAIN, FakeControl{0, 255, 1, 32, 32}},
        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, FakeControl{2800, 6500, 10, 4600, 4600}},
        {V4L2_CID_AUTO_WHITE_BALANCE, Bool(1)},
        {V4L2_CID_POWER_LINE_FREQUENCY, Menu(2, 1, {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}})},
        {V4L2_CID_EXPOSURE_AUTO, Menu(3, 3, {{1, "Manual Mode"}, {3, "Aperture Priority Mode"}})},
        {V4L2_CID_EXPOSURE_ABSOLUTE, FakeControl{3, 2047, 1, 250, 250}},
        {V4L2_CID_FOCUS_ABSOLUTE, FakeControl{0, 250, 5, 0, 0}},
        {V4L2_CID_FOCUS_AUTO, Bool(1)},
        {V4L2_CID_ZOOM_ABSOLUTE, FakeControl{100, 500, 1, 100, 100}},
        {V4L2_CID_PAN_ABSOLUTE, FakeControl{-36000, 36000, 3600, 0, 0}},
        {V4L2_CID_TILT_ABSOLUTE, FakeControl{-36000, 36000, 3600, 0, 0}},
    };
    return node;
}

TEST(V4l2Controls, EveryPictureAndCameraControlHasTheDeviceRangeDefaultAndAutomaticMode) {
    ScopedFakeV4l2 fake;
    fake->AddNode(kCam, Webcam());
    ComPtr<IBaseFilter> camera = OnlyDevice();
    ASSERT_TRUE(camera);
    auto amp = camera.As<IAMVideoProcAmp>();
    auto lens = camera.As<IAMCameraControl>();
    auto names = camera.As<IDeviceControlNames>();
    ASSERT_TRUE(amp && lens && names);
    const std::vector<GUID> pages = Pages(camera.Get());
    EXPECT_TRUE(Has(pages, CLSID_VideoProcAmpPropertyPage));
    EXPECT_TRUE(Has(pages, CLSID_CameraControlPropertyPage));
    EXPECT_FALSE(Has(pages, CLSID_VideoDecoderPropertyPage)) << "a camera has no standard";
    EXPECT_FALSE(Has(pages, CLSID_CrossbarPropertyPage)) << "nor inputs to choose";

    struct Expected {
        bool camera;  // IAMCameraControl, else IAMVideoProcAmp.
        LONG property;
        LONG min, max, step, def, caps;
    };
    constexpr LONG M = VideoProcAmp_Flags_Manual, A = VideoProcAmp_Flags_Auto;
    const Expected expected[] = {
        {false, VideoProcAmp_Brightness, -64, 64, 1, 0, M},
        {false, VideoProcAmp_Contrast, 0, 100, 1, 50, M},
        {false, VideoProcAmp_Hue, -180, 180, 1, 0, M},
        {false, VideoProcAmp_Saturation, 0, 100, 1, 64, M},
        {false, VideoProcAmp_Sharpness, 0, 100, 1, 50, M},
        {false, VideoProcAmp_Gamma, 100, 500, 1, 300, M},
        {false, VideoProcAmp_WhiteBalance, 2800, 6500, 10, 4600, M | A},
        {false, VideoProcAmp_BacklightCompensation, 0, 2, 1, 1, M},
        {false, VideoProcAmp_Gain, 0, 255, 1, 32, M},
        {false, VideoProcAmp_PowerlineFrequency, 0, 2, 1, 1, M},
        {true, CameraControl_Pan, -36000, 36000, 3600, 0, M},
        {true, CameraControl_Tilt, -36000, 36000, 3600, 0, M},
        {true, CameraControl_Zoom, 100, 500, 1, 100, M},
        {true, CameraControl_Exposure, 3, 2047, 1, 250, M | A},
        {true, CameraControl_Focus, 0, 250, 5, 0, M | A},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(testing::Message() << (e.camera ? "camera " : "amp ") << e.property);
        LONG min = 0, max = 0, step = 0, def = 0, caps = 0;
        const HRESULT hr = e.camera ? lens->GetRange(e.property, &min, &max, &step, &def, &caps)
                                    : amp->GetRange(e.property, &min, &max, &step, &def, &caps);
        ASSERT_EQ(hr, S_OK);
        EXPECT_EQ(min, e.min);
        EXPECT_EQ(max, e.max);
        EXPECT_EQ(step, e.step);
        EXPECT_EQ(def, e.def);
        EXPECT_EQ(caps, e.caps);
    }
    LONG min, max, step, def, caps;
    EXPECT_EQ(lens->GetRange(CameraControl_Iris, &min, &max, &step, &def, &caps),
              E_PROP_ID_UNSUPPORTED);

    // Exposure: the camera's automatic mode is aperture priority; manual
    // takes it back and sets the value.
    LONG value = 0, flags = 0;
    ASSERT_EQ(lens->Get(CameraControl_Exposure, &value, &flags), S_OK);
    EXPECT_EQ(flags, A);
    ASSERT_EQ(lens->Set(CameraControl_Exposure, 500, M), S_OK);
    EXPECT_EQ(fake->ControlValue(kCam, V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_MANUAL);
    EXPECT_EQ(fake->ControlValue(kCam, V4L2_CID_EXPOSURE_ABSOLUTE), 500);
    ASSERT_EQ(lens->Get(CameraControl_Exposure, &value, &flags), S_OK);
    EXPECT_EQ(value, 500);
    EXPECT_EQ(flags, M);
    ASSERT_EQ(lens->Set(CameraControl_Exposure, 0, A), S_OK);
    EXPECT_EQ(fake->ControlValue(kCam, V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_APERTURE_PRIORITY);
    EXPECT_EQ(fake->ControlValue(kCam, V4L2_CID_EXPOSURE_ABSOLUTE), 500) << "left to the driver";
    // White balance: a boolean automatic mode.
    ASSERT_EQ(amp->Set(VideoProcAmp_WhiteBalance, 5000, M), S_OK);
    EXPECT_EQ(fake->ControlValue(kCam, V4L2_CID_AUTO_WHITE_BALANCE), 0);
    EXPECT_EQ(fake->ControlValue(kCam, V4L2_CID_WHITE_BALANCE_TEMPERATURE), 5000);

    // The power-line frequency takes the values its menu names.
    auto name_of = [&](LONG v) -> std::pair<HRESULT, std::u16string> {
        LPWSTR text = nullptr;
        const HRESULT hr =
            names->GetValueName(IAMVideoProcAmp::iid, VideoProcAmp_PowerlineFrequency, v, &text);
        std::u16string result = text ? std::u16string(text) : std::u16string();
        com::CoTaskMemFree(text);
        return {hr, result};
    };
    EXPECT_EQ(name_of(1), std::make_pair(S_OK, std::u16string(u"50 Hz")));
    EXPECT_EQ(name_of(2), std::make_pair(S_OK, std::u16string(u"60 Hz")));
    EXPECT_EQ(name_of(7).first, E_INVALIDARG);
    LPWSTR text = nullptr;
    EXPECT_EQ(names->GetValueName(IAMVideoProcAmp::iid, VideoProcAmp_Gain, 3, &text), S_FALSE);
    EXPECT_EQ(text, nullptr);
    ASSERT_EQ(amp->Set(VideoProcAmp_PowerlineFrequency, 2, M), S_OK);
    EXPECT_EQ(fake->ControlValue(kCam, V4L2_CID_POWER_LINE_FREQUENCY), 2);
    // An exposure menu without a manual item: the value is the driver's.
    fake->Modify(kCam, [](FakeNode& n) {
        n.controls[V4L2_CID_EXPOSURE_AUTO].menu = {{3, "Aperture Priority Mode"}};
    });
    ASSERT_EQ(lens->GetRange(CameraControl_Exposure, &min, &max, &step, &def, &caps), S_OK);
    EXPECT_EQ(caps, A);
    EXPECT_EQ(lens->Set(CameraControl_Exposure, 100, M), E_INVALIDARG);
}

TEST(V4l2Controls, ACameraWithoutLensControlsHasNoCameraControl) {
    ScopedFakeV4l2 fake;
    fake->AddNode(kCam, YuyvCamera());
    ComPtr<IBaseFilter> camera = OnlyDevice();
    ASSERT_TRUE(camera);
    EXPECT_FALSE(camera.As<IAMCameraControl>());
    EXPECT_FALSE(camera.As<IAMCrossbar>());
    EXPECT_FALSE(camera.As<IAMAnalogVideoDecoder>());
    EXPECT_FALSE(Has(Pages(camera.Get()), CLSID_CameraControlPropertyPage));
}

// A card with a tuner (its sound from the tuner) and two video inputs whose
// sound comes in on the line input.
FakeNode TvCard() {
    FakeNode node;
    node.card = "BT878 video (Hauppauge)";
    node.stable_name = "/dev/v4l/by-path/pci-0000:05:00.0-video-index0";
    node.formats = {
        FakeFormat{V4L2_PIX_FMT_YUYV, {FakeSize{720, 576, {}}, FakeSize{720, 480, {}}}}};
    node.fourcc = V4L2_PIX_FMT_YUYV;
    node.width = 720;
    node.height = 480;
    node.field = V4L2_FIELD_INTERLACED;
    node.standards = {{"PAL", V4L2_STD_PAL}, {"NTSC", V4L2_STD_NTSC_M}, {"SECAM", V4L2_STD_SECAM}};
    node.std = V4L2_STD_NTSC_M;
    node.inputs = {
        FakeInput{"Television", V4L2_INPUT_TYPE_TUNER, V4L2_STD_ALL, 0b01, 0},
        FakeInput{"Composite1", V4L2_INPUT_TYPE_CAMERA, V4L2_STD_ALL, 0b10, V4L2_IN_ST_NO_SIGNAL},
        FakeInput{"S-Video", V4L2_INPUT_TYPE_CAMERA, V4L2_STD_ALL, 0b10, 0}};
    node.audio_inputs = {"Tuner", "Line In"};
    return node;
}

TEST(V4l2Analog, TheStandardAndTheInputsReachTheDriverWithTheirPairedSound) {
    ScopedFakeV4l2 fake;
    fake->AddNode(kCam, TvCard());
    ComPtr<IBaseFilter> card = OnlyDevice();
    ASSERT_TRUE(card);
    auto decoder = card.As<IAMAnalogVideoDecoder>();
    auto crossbar = card.As<IAMCrossbar>();
    auto details = card.As<IAnalogVideoDetails>();
    ASSERT_TRUE(decoder && crossbar && details);
    const std::vector<GUID> pages = Pages(card.Get());
    EXPECT_TRUE(Has(pages, CLSID_VideoDecoderPropertyPage));
    EXPECT_TRUE(Has(pages, CLSID_CrossbarPropertyPage));

    LONG formats = 0;
    ASSERT_EQ(decoder->get_AvailableTVFormats(&formats), S_OK);
    EXPECT_EQ(formats, AnalogVideo_PAL_B | AnalogVideo_PAL_D | AnalogVideo_PAL_G |
                           AnalogVideo_PAL_H | AnalogVideo_PAL_I | AnalogVideo_NTSC_M |
                           AnalogVideo_SECAM_B | AnalogVideo_SECAM_D | AnalogVideo_SECAM_G |
                           AnalogVideo_SECAM_H | AnalogVideo_SECAM_K | AnalogVideo_SECAM_K1 |
                           AnalogVideo_SECAM_L | AnalogVideo_SECAM_L1);
    LONG format = 0, lines = 0;
    ASSERT_EQ(decoder->get_TVFormat(&format), S_OK);
    EXPECT_EQ(format, AnalogVideo_NTSC_M);
    EXPECT_EQ(decoder->put_TVFormat(AnalogVideo_PAL_M), E_INVALIDARG) << "not one it takes";
    EXPECT_EQ(decoder->put_TVFormat(AnalogVideo_PAL_I | AnalogVideo_PAL_B), E_INVALIDARG);
    ASSERT_EQ(decoder->put_TVFormat(AnalogVideo_PAL_I), S_OK);
    ASSERT_EQ(decoder->get_TVFormat(&format), S_OK);
    EXPECT_EQ(format, AnalogVideo_PAL_I) << "the driver keeps all of PAL; the choice reads back";
    ASSERT_EQ(decoder->get_NumberOfLines(&lines), S_OK);
    EXPECT_EQ(lines, 625);

    // The decoder tells what it sees, or that it sees nothing.
    LONG detected = -1;
    EXPECT_EQ(details->GetDetectedTVFormat(&detected), S_FALSE);
    EXPECT_EQ(detected, AnalogVideo_None);
    fake->Modify(kCam, [](FakeNode& n) { n.detected = V4L2_STD_PAL_BG; });
    ASSERT_EQ(details->GetDetectedTVFormat(&detected), S_OK);
    EXPECT_EQ(detected, AnalogVideo_PAL_B | AnalogVideo_PAL_G);

    LONG outputs = 0, inputs = 0;
    ASSERT_EQ(crossbar->get_PinCounts(&outputs, &inputs), S_OK);
    EXPECT_EQ(outputs, 2);
    EXPECT_EQ(inputs, 5);
    struct Pin {
        BOOL input;
        LONG index;
        LONG related, type;
        std::u16string name;
    };
    const Pin expected_pins[] = {
        {TRUE, 0, 3, PhysConn_Video_Tuner, u"Television"},
        {TRUE, 1, 4, PhysConn_Video_Composite, u"Composite1"},
        {TRUE, 2, 4, PhysConn_Video_SVideo, u"S-Video"},
        {TRUE, 3, 0, PhysConn_Audio_Tuner, u"Tuner"},
        {TRUE, 4, 1, PhysConn_Audio_Line, u"Line In"},
        {FALSE, 0, 1, PhysConn_Video_VideoDecoder, u"Video Decoder"},
        {FALSE, 1, 0, PhysConn_Audio_AudioDecoder, u"Audio Decoder"},
    };
    for (const Pin& p : expected_pins) {
        SCOPED_TRACE(testing::Message() << (p.input ? "input " : "output ") << p.index);
        LONG related = 0, type = 0;
        ASSERT_EQ(crossbar->get_CrossbarPinInfo(p.input, p.index, &related, &type), S_OK);
        EXPECT_EQ(related, p.related);
        EXPECT_EQ(type, p.type);
        LPWSTR name = nullptr;
        ASSERT_EQ(details->GetPinName(p.input, p.index, &name), S_OK);
        EXPECT_EQ(std::u16string(name), p.name);
        com::CoTaskMemFree(name);
    }
    EXPECT_EQ(crossbar->CanRoute(0, 3), S_FALSE) << "sound cannot feed the picture";
    EXPECT_EQ(crossbar->Route(1, 1), E_INVALIDARG);

    // The S-Video input, and with it the line input its sound comes in on.
    ASSERT_EQ(crossbar->Route(0, 2), S_OK);
    LONG routed = -1;
    ASSERT_EQ(crossbar->get_IsRoutedTo(0, &routed), S_OK);
    EXPECT_EQ(routed, 2);
    ASSERT_EQ(crossbar->get_IsRoutedTo(1, &routed), S_OK);
    EXPECT_EQ(routed, 4);
    LONG locked = -1;
    ASSERT_EQ(decoder->get_HorizontalLocked(&locked), S_OK);
    EXPECT_EQ(locked, 1);
    ASSERT_EQ(crossbar->Route(0, 1), S_OK);
    ASSERT_EQ(decoder->get_HorizontalLocked(&locked), S_OK);
    EXPECT_EQ(locked, 0) << "nothing is plugged into Composite1";
    ASSERT_EQ(crossbar->Route(0, 2), S_OK);
    const FakeLog expected_log = {"S_STD 0x10", "S_INPUT 2", "S_AUDIO 1", "S_INPUT 1",
                                  "S_AUDIO 1",  "S_INPUT 2", "S_AUDIO 1"};
    EXPECT_EQ(fake->Log(kCam), expected_log);

    // The choice belongs to the device for the session: another instance
    // reads it back, and a stream that opens the node sets it again before
    // its format, whatever the driver did meanwhile.
    card = nullptr;
    decoder = nullptr;
    crossbar = nullptr;
    details = nullptr;
    fake->Modify(kCam, [](FakeNode& n) {
        n.input = 0;
        n.std = V4L2_STD_NTSC_M;
        n.height = 480;
    });
    card = OnlyDevice();
    ComPtr<IFilterGraph2> graph = CreateFilterGraph();
    ComPtr<TestSink> sink = TestSink::Make({{MediaType::Partial(MEDIATYPE_Video)}});
    graph->AddFilter(card.Get(), u"Card");
    graph->AddFilter(sink->Filter(), u"Sink");
    const MediaType pal = MediaType::Video(MEDIASUBTYPE_YUY2, 720, 576, 16, 0);
    ASSERT_EQ(
        graph->ConnectDirect(PinNamed(card.Get(), u"Capture").Get(), sink->Input(), &pal.Get()),
        S_OK);
    const size_t before = fake->Log(kCam).size();
    ASSERT_TRUE(SUCCEEDED(graph.As<IMediaControl>()->Run()));
    graph.As<IMediaControl>()->Stop();
    const FakeLog log = fake->Log(kCam);
    const FakeLog opened(log.begin() + ptrdiff_t(before), log.end());
    const FakeLog expected_open = {"S_INPUT 2", "S_AUDIO 1", "S_STD 0x10", "S_FMT", "STREAMON"};
    EXPECT_EQ(opened, expected_open);
    ASSERT_EQ(card.As<IAMCrossbar>()->get_IsRoutedTo(0, &routed), S_OK);
    EXPECT_EQ(routed, 2);
}

}  // namespace
}  // namespace ronvix::media::test
