// The picture, compression and audio input controls of the "Capture" page,
// sent to the chosen devices as the user moves them.

#include <cmath>

#include "app/mainform.h"
#include "capture/pins.h"
#include "mediagraph/graph_util.h"
#include "platform/media/core/types.h"

namespace ronvix::app {

using mediagraph::Supports;
using mediagraph::TPinList;

namespace {

constexpr com::LONG kVideoProcAmpFlagsAuto = 1;

}  // namespace

void TMainForm::Brightness_sliderChange(QObject* sender) {
    auto* slider = qobject_cast<controls::TSlider*>(sender);
    if (!slider)
        return;
    const bool was_active = CaptureGraph->Active();
    CaptureGraph->SetActive(true);
    auto amp = Supports<media::IAMVideoProcAmp>(VideoSourceFilter);
    struct Picture {
        int tag;
        com::LONG property;
        QLabel* field;
    };
    const Picture pictures[] = {{1, media::VideoProcAmp_Brightness, StaticText1},
                                {2, media::VideoProcAmp_Contrast, StaticText2},
                                {4, media::VideoProcAmp_Saturation, StaticText4},
                                {5, media::VideoProcAmp_Sharpness, StaticText3}};
    for (const Picture& p : pictures) {
        if (p.tag != slider->Tag())
            continue;
        amp->Set(p.property, slider->Value(), kVideoProcAmpFlagsAuto);
        p.field->setText(QString::number(slider->Value() - 128));
    }
    CaptureGraph->SetActive(was_active);
}

void TMainForm::Quality_sliderChange(QObject*) {
    CaptureGraph->SetActive(true);
    TPinList pins(VideoSourceFilter->Query<media::IBaseFilter>().Get());
    auto compression = Supports<media::IAMVideoCompression>(pins.FirstPin().Get());
    compression->put_Quality(Quality_slider->Value() / 100.0);
    Quality_text->setText(capture::QualityText(Quality_slider->Value()));
}

void TMainForm::Quality_sliderMouseMove(QObject* sender, Qt::MouseButtons buttons,
                                        Qt::KeyboardModifiers) {
    if (buttons & Qt::LeftButton)
        Quality_sliderChange(sender);
}

void TMainForm::InputLinesChange(QObject*) {
    auto& devices = *m_capture.devices;
    devices.SelectCategory(media::CLSID_AudioInputDeviceCategory);
    const int index = AudioCapFilters->currentIndex();
    if (index < 0)
        return;
    // While previewing or capturing the graph stays as it is and the line
    // is chosen on the device instance that streams; tearing the graph down
    // here would end a capture behind the user's back. The lines belong to
    // the device, so when the running graph holds no instance of it, a
    // separate instance of the chosen device sets them.
    const bool was_active = CaptureGraph->Active();
    com::ComPtr<media::IBaseFilter> filter;
    if (was_active) {
        filter = AudioSourceFilter->Query<media::IBaseFilter>();
        if (!filter) {
            AudioSourceFilter->BaseFilter().AssignMoniker(
                DeviceItemMoniker(devices, AudioCapFilters, index).Get());
            filter = AudioSourceFilter->BaseFilter().BindFilter();
        }
    } else {
        AudioSourceFilter->BaseFilter().AssignMoniker(
            DeviceItemMoniker(devices, AudioCapFilters, index).Get());
        AudioSourceFilter->SetFilterGraph(CaptureGraph);
        CaptureGraph->SetActive(true);
        filter = AudioSourceFilter->Query<media::IBaseFilter>();
    }
    TPinList pins(filter.Get());
    TakePins(pins, media::PINDIR_OUTPUT);  // The input pins, in pin order.
    if (!was_active)
        CaptureGraph->SetActive(false);
    auto mixer = Supports<media::IAMAudioInputMixer>(pins.PinAt(InputLines->currentIndex()).Get());
    mixer->put_Enable(1);
    double level = 0;
    mixer->get_MixLevel(&level);
    VolumeSlider->SetValue(static_cast<int>(std::lround(level * 100)));
}

void TMainForm::VolumeSliderChange(QObject*) {
    auto& devices = *m_capture.devices;
    devices.SelectCategory(media::CLSID_AudioInputDeviceCategory);
    CaptureGraph->SetActive(true);
    const int index = AudioCapFilters->currentIndex();
    if (index < 0)
        return;
    AudioSourceFilter->BaseFilter().AssignMoniker(
        DeviceItemMoniker(devices, AudioCapFilters, index).Get());
    AudioSourceFilter->SetFilterGraph(CaptureGraph);
    TPinList pins(AudioSourceFilter->Query<media::IBaseFilter>().Get());
    TakePins(pins, media::PINDIR_OUTPUT);  // The input pins, in pin order.
    auto mixer = Supports<media::IAMAudioInputMixer>(pins.PinAt(InputLines->currentIndex()).Get());
    mixer->put_Enable(1);
    mixer->put_MixLevel(VolumeSlider->Value() / 100.0);
}

void TMainForm::SLiderChange(QObject*) {
    StaticText8->setText(QString::number(VolumeSlider->Value()) + QStringLiteral(" %"));
}

}  // namespace ronvix::app
