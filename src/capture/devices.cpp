// Device selection: the four device lists, the format lists and input lines
// of the chosen capture devices, the picture and quality controls loaded
// from the video device, and the devices' property pages.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include "app/mainform.h"
#include "capture/analogsetup.h"
#include "capture/pins.h"
#include "framework/application.h"
#include "mediagraph/graph_util.h"
#include "platform/com/moniker.h"
#include "platform/media/core/types.h"
#include "platform/winui/widgets.h"

namespace ronvix::app {

using mediagraph::Supports;
using mediagraph::TPinList;

namespace {

const QString kPlayoutEndedForDevice =
    QStringLiteral("Playback was stopped to change the output device.");

// Each item of a device list keeps the display name of its device's
// moniker, so an item always chooses the device it shows, also when the
// category's devices have changed since the list was made (a device added,
// removed, or not answering a probe).
constexpr int kMonikerRole = Qt::UserRole;

void FillNames(mediagraph::TSysDevEnum& devices, const com::GUID& category, QComboBox* combo) {
    devices.SelectCategory(category);
    for (int i = 0; i < devices.DeviceCount(); ++i)
        combo->addItem(devices.DeviceInfo(i).Name(), devices.DeviceDisplayName(i));
    // Filling a list selects nothing: a device is chosen by the user or by
    // the stored selection.
    combo->setCurrentIndex(-1);
}

// Chooses the device of item `index` of `combo` for `filter` in `graph`.
void AssignDevice(const mediagraph::TSysDevEnum& devices, const QComboBox* combo, int index,
                  mediagraph::TFilter* filter, mediagraph::TFilterGraph* graph) {
    filter->BaseFilter().AssignMoniker(DeviceItemMoniker(devices, combo, index).Get());
    filter->SetFilterGraph(graph);
}

// The settings keys that keep the chosen devices' monikers, beside the
// stored list positions.
struct StoredDevice {
    QComboBox* TMainForm::*list;
    const char* key;
};
constexpr StoredDevice kStoredDevices[] = {
    {&TMainForm::VideoCapFilters, "VideoCapFilters_Moniker"},
    {&TMainForm::AudioCapFilters, "AudioCapFilters_Moniker"},
    {&TMainForm::VideoOutFilters, "VideoOutFilters_Moniker"},
    {&TMainForm::AudioDestFilters, "AudioDestFilters_Moniker"},
};

// The frames per second a video type names (0 when it names none).
double FrameRate(const media::AM_MEDIA_TYPE& mt) {
    if ((mt.formattype != media::FORMAT_VideoInfo && mt.formattype != media::FORMAT_VideoInfo2) ||
        !mt.pbFormat || mt.cbFormat < sizeof(media::VIDEOINFOHEADER))
        return 0;
    media::VIDEOINFOHEADER header;
    std::memcpy(&header, mt.pbFormat, sizeof header);
    return header.AvgTimePerFrame > 0 ? 1e7 / double(header.AvgTimePerFrame) : 0;
}

// The lines of a format list, one per type in list order, so a stored
// index keeps naming the same type. Types that read the same (a size the
// device offers at several rates) name their rate.
QStringList FormatLines(const mediagraph::TEnumMediaType& types) {
    QStringList lines;
    for (int i = 0; i < types.Count(); ++i)
        lines << types.Description(i);
    const QStringList plain = lines;
    for (int i = 0; i < types.Count(); ++i) {
        if (plain.count(plain[i]) < 2)
            continue;
        if (const double rate = FrameRate(types.Item(i)->MediaRecord()); rate > 0)
            lines[i] += QStringLiteral(", %1 fps").arg(QString::number(rate, 'g', 5));
    }
    return lines;
}

QString PinName(const TPinList& pins, int index) {
    media::PIN_INFO info;
    pins.PinInfoAt(index, info);
    if (info.pFilter)
        info.pFilter->Release();
    size_t n = 0;
    while (n < std::size(info.achName) && info.achName[n] != 0)
        ++n;
    return QString::fromUtf16(info.achName, static_cast<qsizetype>(n));
}

// Shows `value` on `slider` without running its change handler: the value
// came from the device, and sending it back could move it (the page rounds
// a quality or a level to whole per cent, and a picture value is sent with
// other flags than the device has).
void ShowQuietly(controls::TSlider* slider, int value) {
    struct Restore {
        controls::TSlider* slider;
        fw::TNotifyEvent handler;
        ~Restore() { slider->OnChange = std::move(handler); }
    } restore{slider, std::exchange(slider->OnChange, fw::TNotifyEvent())};
    slider->SetValue(value);
}

struct Picture {
    com::LONG property;
    controls::TSlider* slider;
    QLabel* field;
};

std::array<Picture, 4> Pictures(TMainForm& f) {
    return {{{media::VideoProcAmp_Brightness, f.Brightness_slider, f.StaticText1},
             {media::VideoProcAmp_Contrast, f.Contrast_SLIDER, f.StaticText2},
             {media::VideoProcAmp_Saturation, f.saturation_slider, f.StaticText4},
             {media::VideoProcAmp_Sharpness, f.sharpness_slider, f.StaticText3}}};
}

// The quality slider and its text as the video device has the quality.
void ShowQuality(TMainForm& f, media::IPin* capture_pin) {
    com::ComPtr<media::IAMVideoCompression> compression;
    if (!capture_pin || com::FAILED(capture_pin->QueryInterface(media::IAMVideoCompression::iid,
                                                                compression.OutVoid())))
        return;
    double quality = 0;
    if (com::FAILED(compression->get_Quality(&quality)))
        return;
    ShowQuietly(f.Quality_slider,
                static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100)));
    f.Quality_text->setText(capture::QualityText(f.Quality_slider->Value()));
}

// After the video device's property frame closed: the picture sliders and
// the quality as the device has them now (its pages may have changed them),
// nothing sent back. A property the page does not show stays as it is.
void ShowVideoDeviceValues(TMainForm& f) {
    const com::ComPtr<media::IBaseFilter> source = f.VideoSourceFilter->Query<media::IBaseFilter>();
    if (!source)
        return;
    com::ComPtr<media::IAMVideoProcAmp> amp;
    if (com::SUCCEEDED(source->QueryInterface(media::IAMVideoProcAmp::iid, amp.OutVoid())))
        for (const Picture& p : Pictures(f)) {
            com::LONG value = 0, flags = 0;
            if (!p.slider->isEnabled() || com::FAILED(amp->Get(p.property, &value, &flags)))
                continue;
            ShowQuietly(p.slider, value);
            p.field->setText(QString::number(p.slider->Value() - 128));
        }
    const TPinList pins(source.Get());
    if (pins.Count() > 0)
        ShowQuality(f, pins.FirstPin().Get());
}

// After the audio device's property frame closed: the input line the device
// has enabled, and its level, nothing sent back.
void ShowAudioDeviceValues(TMainForm& f) {
    const com::ComPtr<media::IBaseFilter> source = f.AudioSourceFilter->Query<media::IBaseFilter>();
    if (!source)
        return;
    TPinList pins(source.Get());
    TakePins(pins, media::PINDIR_OUTPUT);  // The input pins, in pin order.
    if (pins.Count() != f.InputLines->count())
        return;  // not the lines the page lists
    for (int i = 0; i < pins.Count(); ++i) {
        com::ComPtr<media::IAMAudioInputMixer> mixer;
        com::BOOL enabled = 0;
        double level = 0;
        if (com::FAILED(
                pins.PinAt(i)->QueryInterface(media::IAMAudioInputMixer::iid, mixer.OutVoid())) ||
            com::FAILED(mixer->get_Enable(&enabled)) || !enabled ||
            com::FAILED(mixer->get_MixLevel(&level)))
            continue;
        f.InputLines->setCurrentIndex(i);
        ShowQuietly(f.VolumeSlider,
                    static_cast<int>(std::lround(std::clamp(level, 0.0, 1.0) * 100)));
        f.StaticText8->setText(QString::number(f.VolumeSlider->Value()) + QStringLiteral(" %"));
        return;
    }
}

}  // namespace

void TakePins(TPinList& pins, media::PIN_DIRECTION dir, mediagraph::TEnumMediaType* types) {
    int i = 0;
    while (i < pins.Count()) {
        media::PIN_INFO info;
        pins.PinInfoAt(i, info);
        if (info.pFilter)
            info.pFilter->Release();
        if (info.dir == dir) {
            if (types)
                types->LoadFromPin(pins.PinAt(i).Get());
            pins.Delete(i);
        } else {
            ++i;
        }
    }
}

com::ComPtr<com::IMoniker> DeviceItemMoniker(const mediagraph::TSysDevEnum& devices,
                                             const QComboBox* combo, int index) {
    const QString name = combo->itemData(index, kMonikerRole).toString();
    if (name.isEmpty())
        return devices.DeviceMoniker(index);
    com::ComPtr<com::IMoniker> moniker;
    com::CreateDeviceMoniker(name.toStdU16String(), moniker.ReleaseAndGetAddressOf());
    return moniker;
}

void TMainForm::FormCreate(QObject*) {
    m_capture.devices =
        std::make_unique<mediagraph::TSysDevEnum>(media::CLSID_VideoInputDeviceCategory);
    FillNames(*m_capture.devices, media::CLSID_VideoInputDeviceCategory, VideoCapFilters);
    FillNames(*m_capture.devices, media::AM_KSCATEGORY_TRANSMIT, VideoOutFilters);
    FillNames(*m_capture.devices, media::CLSID_AudioInputDeviceCategory, AudioCapFilters);
    FillNames(*m_capture.devices, media::CLSID_AudioRendererCategory, AudioDestFilters);
    m_capture.video_types = std::make_unique<mediagraph::TEnumMediaType>();
    m_capture.audio_types = std::make_unique<mediagraph::TEnumMediaType>();
}

void TMainForm::SelectStoredDevices() {
    // The device whose moniker was stored is chosen wherever it stands in
    // the list now. A stored device that is not here selects nothing,
    // rather than whichever device took its place; the stored position
    // counts only where no moniker was stored (settings of an older
    // version).
    for (const StoredDevice& d : kStoredDevices) {
        QComboBox* list = this->*d.list;
        const QString stored =
            FormStorage1->ReadStrValue(QString::fromLatin1(d.key), QString()).trimmed();
        if (stored.isEmpty())
            continue;
        int found = -1;
        for (int i = 0; i < list->count() && found < 0; ++i)
            if (list->itemData(i, kMonikerRole)
                    .toString()
                    .trimmed()
                    .compare(stored, Qt::CaseInsensitive) == 0)
                found = i;
        list->setCurrentIndex(found);
    }
}

void TMainForm::FormStorage1SavePlacement(QObject*) {
    // A list with nothing chosen keeps the stored device, so a device that
    // was away for one run is chosen again when it is back.
    for (const StoredDevice& d : kStoredDevices) {
        const QComboBox* list = this->*d.list;
        const QString moniker = list->currentData(kMonikerRole).toString();
        if (list->currentIndex() >= 0 && !moniker.isEmpty())
            FormStorage1->WriteStrValue(QString::fromLatin1(d.key), moniker);
    }
}

void TMainForm::VideoCapFiltersClick(QObject*) {
    auto& devices = *m_capture.devices;
    devices.SelectCategory(media::CLSID_VideoInputDeviceCategory);
    const int index = VideoCapFilters->currentIndex();
    if (index >= 0) {
        AssignDevice(devices, VideoCapFilters, index, VideoSourceFilter, CaptureGraph);
        // A graph left active holds the previous device's filter; built
        // afresh, it holds the device just chosen, whose formats and
        // quality are then the ones shown. (A running preview ends here
        // and is started again below.)
        CaptureGraph->SetActive(false);
        CaptureGraph->SetActive(true);
        // A card's remembered input and standard; the standard decides the
        // frames it offers, so they are listed by a filter made after it.
        if (capture::RestoreAnalogSetup(*FormStorage1,
                                        VideoCapFilters->itemData(index, kMonikerRole).toString(),
                                        VideoSourceFilter->Query<media::IBaseFilter>().Get())) {
            CaptureGraph->SetActive(false);
            CaptureGraph->SetActive(true);
        }
        {
            TPinList pins(VideoSourceFilter->Query<media::IBaseFilter>().Get());
            VideoFormats->clear();
            m_capture.video_types->LoadFromPin(pins.FirstPin().Get());
            // A device without a quality control is reported; one with it
            // shows its quality as it has it (the slider's own handler would
            // send the rounded figure back).
            Supports<media::IAMVideoCompression>(pins.FirstPin().Get());
            ShowQuality(*this, pins.FirstPin().Get());
            VideoFormats->addItems(FormatLines(*m_capture.video_types));
            CaptureGraph->SetActive(false);
        }
        StartButton->setEnabled(true);
        preview->setEnabled(true);
        if (preview->isChecked()) {
            m_capture.preview = true;
            StartButtonClick(nullptr);
        }
    }
    if (index >= 0) {
        for (QWidget* w :
             {static_cast<QWidget*>(Button1), static_cast<QWidget*>(Brightness_slider),
              static_cast<QWidget*>(saturation_slider), static_cast<QWidget*>(Contrast_SLIDER),
              static_cast<QWidget*>(sharpness_slider), static_cast<QWidget*>(Quality_slider)})
            w->setEnabled(true);
    }
    CaptureGraph->SetActive(true);
    auto amp = Supports<media::IAMVideoProcAmp>(VideoSourceFilter);
    // A property the device lacks (its range or value query fails, or its
    // range is empty) is a disabled slider with an empty field: it neither
    // raises an error nor keeps another property's figures, and the other
    // sliders work. A step the slider cannot take is brought into range.
    // The values are shown as the device has them and not sent back.
    for (const Picture& p : Pictures(*this)) {
        com::LONG min = 0, max = 0, step = 0, def = 0, caps = 0, value = 0, flags = 0;
        if (com::FAILED(amp->GetRange(p.property, &min, &max, &step, &def, &caps)) ||
            com::FAILED(amp->Get(p.property, &value, &flags)) || max <= min) {
            p.slider->setEnabled(false);
            p.field->clear();
            continue;
        }
        p.slider->SetMinValue(min);
        p.slider->SetMaxValue(max);
        p.slider->SetIncrement(std::clamp<com::LONG>(step, 1, max - min));
        ShowQuietly(p.slider, std::clamp(value, min, max));
        p.field->setText(QString::number(p.slider->Value() - 128));
    }
}

void TMainForm::AudioCapFiltersClick(QObject*) {
    auto& devices = *m_capture.devices;
    devices.SelectCategory(media::CLSID_AudioInputDeviceCategory);
    const int index = AudioCapFilters->currentIndex();
    if (index < 0)
        return;
    AssignDevice(devices, AudioCapFilters, index, AudioSourceFilter, CaptureGraph);
    // Built afresh, so the lines and formats are the chosen device's.
    CaptureGraph->SetActive(false);
    CaptureGraph->SetActive(true);
    TPinList pins(AudioSourceFilter->Query<media::IBaseFilter>().Get());
    AudioFormats->clear();
    TakePins(pins, media::PINDIR_OUTPUT, m_capture.audio_types.get());
    for (int i = 0; i < m_capture.audio_types->Count(); ++i)
        AudioFormats->addItem(m_capture.audio_types->Description(i));
    CaptureGraph->SetActive(false);
    InputLines->clear();
    int selected = -1;
    for (int i = 0; i < pins.Count(); ++i) {
        InputLines->addItem(PinName(pins, i));
        auto mixer = Supports<media::IAMAudioInputMixer>(pins.PinAt(i).Get());
        com::BOOL enabled = 0;
        mixer->get_Enable(&enabled);
        if (enabled) {
            selected = i;
            double level = 0;
            mixer->get_MixLevel(&level);
            VolumeSlider->SetValue(static_cast<int>(std::lround(level * 100)));
            StaticText8->setText(QString::number(VolumeSlider->Value()) + QStringLiteral(" %"));
        }
    }
    InputLines->setCurrentIndex(selected);
    StartButton->setEnabled(true);
    preview->setEnabled(true);
    Button2->setEnabled(true);
    // Listing the device tore the graph down: a preview that ran comes
    // back rather than leaving "Preview" ticked over a still picture.
    if (m_capture.preview)
        StartButtonClick(nullptr);
}

void TMainForm::VideoOutFiltersClick(QObject*) {
    auto& devices = *m_capture.devices;
    devices.SelectCategory(media::AM_KSCATEGORY_TRANSMIT);
    const int index = VideoOutFilters->currentIndex();
    if (index < 0)
        return;
    // A play-out in progress ends first: the device chosen is the one the
    // next play-out uses, and the page must not go on showing a session
    // on the device that was replaced.
    const bool ended = EndPlayout();
    AssignDevice(devices, VideoOutFilters, index, VideoDestFilter, OutGraph);
    OutGraph->SetActive(true);
    Button333->setEnabled(true);
    if (ended)
        fw::ReportMessage(kPlayoutEndedForDevice);
}

void TMainForm::AudioDestFiltersClick(QObject*) {
    auto& devices = *m_capture.devices;
    devices.SelectCategory(media::CLSID_AudioRendererCategory);
    const int index = AudioDestFilters->currentIndex();
    if (index < 0)
        return;
    // Listing the device's formats tears the output graph down: a play-out
    // in progress ends first, as "Stop" ends it.
    const bool ended = EndPlayout();
    AssignDevice(devices, AudioDestFilters, index, AudioDestFilter, OutGraph);
    // Built afresh, so the formats are the chosen device's.
    OutGraph->SetActive(false);
    OutGraph->SetActive(true);
    {
        TPinList pins(AudioDestFilter->Query<media::IBaseFilter>().Get());
        AudioDestFormats->clear();
        TakePins(pins, media::PINDIR_INPUT, m_capture.audio_types.get());
        for (int i = 0; i < m_capture.audio_types->Count(); ++i)
            AudioDestFormats->addItem(m_capture.audio_types->Description(i));
    }
    OutGraph->SetActive(false);
    Button4->setEnabled(true);
    if (ended)
        fw::ReportMessage(kPlayoutEndedForDevice);
}

// The property frames open at the main window's corner (the frame call's
// position 0, 0 of its owner), over the window the user works in.
// The frame is modal: once it has closed (OK, or Cancel after Apply), the
// page's controls show what the device has now.
void TMainForm::VideoCapFiltersDblClick(QObject*) {
    CaptureGraph->SetActive(true);
    auto filter = Supports<media::IBaseFilter>(VideoSourceFilter);
    mediagraph::ShowFilterPropertyPages(win::WidgetHandle(this), filter.Get(),
                                        mediagraph::ppDefault);
    capture::RememberAnalogSetup(
        *FormStorage1, VideoCapFilters->currentData(kMonikerRole).toString(), filter.Get());
    ShowVideoDeviceValues(*this);
}

void TMainForm::AudioCapFiltersDblClick(QObject*) {
    CaptureGraph->SetActive(true);
    auto filter = Supports<media::IBaseFilter>(AudioSourceFilter);
    mediagraph::ShowFilterPropertyPages(win::WidgetHandle(this), filter.Get(),
                                        mediagraph::ppDefault);
    ShowAudioDeviceValues(*this);
}

void TMainForm::Button333Click(QObject*) {
    OutGraph->SetActive(true);
    auto filter = Supports<media::IBaseFilter>(VideoDestFilter);
    mediagraph::ShowFilterPropertyPages(win::WidgetHandle(this), filter.Get(),
                                        mediagraph::ppDefault);
}

}  // namespace ronvix::app
