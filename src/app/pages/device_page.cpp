// Device selection: the four device lists, the format lists and input lines
// of the chosen capture devices, the picture and quality controls loaded
// from the video device, and the devices' property pages.

#include "app/pages/device_page.h"

#include <cstring>

#include "app/pages/analog_setup.h"
#include "app/pages/control_memory.h"
#include "app/pages/device_items.h"
#include "app/pages/format_memory.h"
#include "app/pages/stored_settings.h"
#include "framework/application.h"
#include "framework/bind.h"
#include "mediagraph/graph_util.h"
#include "platform/media/core/types.h"
#include "platform/winui/widgets.h"

namespace ronvix::app::pages {

using mediagraph::Supports;
using mediagraph::TPinList;

namespace {

const QString kPlayoutEndedForDevice =
    QStringLiteral("Playback was stopped to change the output device.");

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

// A stored list position, read apart from the other stored properties
// because a format list is filled only once its device is chosen.
int ReadIndex(settings::TFormStorage& storage, std::string_view key) {
    const StoredSetting& s = StoredSettingOf(key);
    return storage.ReadIntValue(Key(s), Fallback(s).toInt());
}

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

// Copies of the types a list shows, in list order.
std::vector<media::MediaType> Formats(const mediagraph::TEnumMediaType& types) {
    std::vector<media::MediaType> formats;
    for (int i = 0; i < types.Count(); ++i)
        formats.emplace_back(types.Item(i)->MediaRecord());
    return formats;
}

// The moniker of the device chosen in `devices` (empty when none is).
QString Moniker(const QComboBox* devices) {
    return devices->currentData(kMonikerRole).toString();
}

// The type of the line chosen in `list`, none when no line is.
std::optional<media::MediaType> ChosenFormat(const QComboBox* list,
                                             const std::vector<media::MediaType>& formats) {
    const int index = list->currentIndex();
    if (index < 0 || index >= static_cast<int>(formats.size()))
        return std::nullopt;
    return formats[static_cast<size_t>(index)];
}

}  // namespace

const DevicePage::DeviceList DevicePage::kLists[4] = {
    {&DevicePage::videoDevices, media::CLSID_VideoInputDeviceCategory, "VideoCapFilters_Moniker",
     true, &DevicePage::onVideoDeviceChosen},
    {&DevicePage::audioDevices, media::CLSID_AudioInputDeviceCategory, "AudioCapFilters_Moniker",
     true, &DevicePage::onAudioDeviceChosen},
    {&DevicePage::videoOutputs, media::AM_KSCATEGORY_TRANSMIT, "VideoOutFilters_Moniker", false,
     &DevicePage::onVideoOutputChosen},
    {&DevicePage::audioOutputs, media::CLSID_AudioRendererCategory, "AudioDestFilters_Moniker",
     false, &DevicePage::onAudioOutputChosen},
};

DevicePage::DevicePage(QWidget* window, workflow::CaptureSession& capture,
                       workflow::PlayoutSession& playout, CapturePage& capture_page,
                       settings::TFormStorage& storage)
    : QObject(window),
      m_window(window),
      m_capture(capture),
      m_playout(playout),
      m_capture_page(capture_page),
      m_storage(storage) {}

DevicePage::~DevicePage() = default;

void DevicePage::Connect() {
    fw::BindClick(videoDevices, [this](QObject*) { onVideoDeviceChosen(); });
    fw::BindClick(audioDevices, [this](QObject*) { onAudioDeviceChosen(); });
    fw::BindClick(videoOutputs, [this](QObject*) { onVideoOutputChosen(); });
    fw::BindClick(audioOutputs, [this](QObject*) { onAudioOutputChosen(); });
    fw::BindClick(videoFormats, [this](QObject*) { onVideoFormatChosen(); });
    fw::BindClick(audioFormats, [this](QObject*) { onAudioFormatChosen(); });
    fw::BindDblClick(videoDevices, [this](QObject*) { onVideoPropertiesClicked(); });
    fw::BindDblClick(audioDevices, [this](QObject*) { onAudioPropertiesClicked(); });
    fw::BindClick(static_cast<QAbstractButton*>(videoProperties),
                  [this](QObject*) { onVideoPropertiesClicked(); });
    fw::BindClick(static_cast<QAbstractButton*>(audioProperties),
                  [this](QObject*) { onAudioPropertiesClicked(); });
    fw::BindClick(static_cast<QAbstractButton*>(videoOutputProperties),
                  [this](QObject*) { onVideoOutputPropertiesClicked(); });
    m_capture_page.on_controls_set = [this](const DeviceControls& before) {
        RememberControlChanges(
            m_storage, Moniker(videoDevices), before,
            m_capture.Media().VideoSourceFilter->Query<media::IBaseFilter>().Get());
    };
}

void DevicePage::FillLists() {
    m_devices = std::make_unique<mediagraph::TSysDevEnum>(media::CLSID_VideoInputDeviceCategory);
    FillNames(*m_devices, media::CLSID_VideoInputDeviceCategory, videoDevices);
    FillNames(*m_devices, media::AM_KSCATEGORY_TRANSMIT, videoOutputs);
    FillNames(*m_devices, media::CLSID_AudioInputDeviceCategory, audioDevices);
    FillNames(*m_devices, media::CLSID_AudioRendererCategory, audioOutputs);
    m_video_types = std::make_unique<mediagraph::TEnumMediaType>();
    m_audio_types = std::make_unique<mediagraph::TEnumMediaType>();
    m_capture_page.SetDeviceEnum(m_devices.get());
}

void DevicePage::Release() {
    m_watch.reset();
    m_capture_page.SetDeviceEnum(nullptr);
    m_devices.reset();
    m_video_types.reset();
    m_audio_types.reset();
}

void DevicePage::RestoreSelection() {
    // The device whose moniker was stored is chosen wherever it stands in
    // the list now. A stored device that is not here selects nothing,
    // rather than whichever device took its place; the stored position
    // counts only where no moniker was stored (settings of an older
    // version).
    for (const DeviceList& d : kLists) {
        QComboBox* list = this->*d.list;
        const QString stored =
            m_storage.ReadStrValue(Key(StoredSettingOf(d.stored_key)), QString()).trimmed();
        if (!stored.isEmpty())
            list->setCurrentIndex(DeviceItemOf(list, stored));
    }
    // Each stored capture device is chosen as the user chooses it, and its
    // stored format once its list has been refilled.
    // Choosing a device chose its remembered format; a stored position
    // counts only for a device without one (a file of an earlier version).
    if (videoDevices->currentIndex() >= 0) {
        onVideoDeviceChosen();
        if (!RememberedFormat(m_storage, true, Moniker(videoDevices))) {
            const int stored = ReadIndex(m_storage, "VideoFormats_ItemIndex");
            videoFormats->setCurrentIndex(stored);
            if (stored >= 0)
                ApplyFormat(true);
        }
    }
    if (audioDevices->currentIndex() >= 0) {
        onAudioDeviceChosen();
        if (!RememberedFormat(m_storage, false, Moniker(audioDevices))) {
            const int stored = ReadIndex(m_storage, "AudioFormats_ItemIndex");
            audioFormats->setCurrentIndex(stored);
            if (stored >= 0)
                ApplyFormat(false);
        }
    }
    onAudioOutputChosen();
    onVideoOutputChosen();
}

void DevicePage::SaveSelection() {
    // A list with nothing chosen keeps the stored device, so a device that
    // was away for one run is chosen again when it is back.
    for (const DeviceList& d : kLists) {
        const QComboBox* list = this->*d.list;
        const QString moniker = list->currentData(kMonikerRole).toString();
        if (list->currentIndex() >= 0 && !moniker.isEmpty())
            m_storage.WriteStrValue(Key(StoredSettingOf(d.stored_key)), moniker);
    }
}

void DevicePage::onVideoDeviceChosen() {
    auto& devices = *m_devices;
    devices.SelectCategory(media::CLSID_VideoInputDeviceCategory);
    const int index = videoDevices->currentIndex();
    mediagraph::TFilter* source = m_capture.Media().VideoSourceFilter;
    if (index >= 0) {
        AssignDevice(devices, videoDevices, index, source, m_capture.Graph());
        // A graph left active holds the previous device's filter; built
        // afresh, it holds the device just chosen, whose formats and
        // quality are then the ones shown. (A running preview ends here
        // and is started again below.)
        m_capture.Rebuild();
        // A card's remembered input and standard; the standard decides the
        // frames it offers, so they are listed by a filter made after it.
        if (RestoreAnalogSetup(m_storage, videoDevices->itemData(index, kMonikerRole).toString(),
                               source->Query<media::IBaseFilter>().Get()))
            m_capture.Rebuild();
        // The picture and camera settings the user made on this device, which
        // its driver forgets when it is plugged in again; set when the device
        // is chosen, not at every start, so a change made meanwhile in
        // another program stands until then.
        RestoreDeviceControls(m_storage, Moniker(videoDevices),
                              source->Query<media::IBaseFilter>().Get());
        {
            TPinList pins(source->Query<media::IBaseFilter>().Get());
            videoFormats->clear();
            m_video_types->LoadFromPin(pins.FirstPin().Get());
            // A device without a quality control is reported; one with it
            // shows its quality as it has it (the slider's own handler would
            // send the rounded figure back).
            Supports<media::IAMVideoCompression>(pins.FirstPin().Get());
            m_capture_page.ShowQuality(pins.FirstPin().Get());
            videoFormats->addItems(FormatLines(*m_video_types));
            m_video_formats = Formats(*m_video_types);
            m_capture.ChooseVideoFormat(std::nullopt);
            ChooseRememberedFormat(true);
            m_capture.Graph()->SetActive(false);
        }
        m_capture_page.DeviceChosen(true);
        videoProperties->setEnabled(true);
    }
    m_capture_page.LoadPictureControls(index >= 0);
}

void DevicePage::onAudioDeviceChosen() {
    auto& devices = *m_devices;
    devices.SelectCategory(media::CLSID_AudioInputDeviceCategory);
    const int index = audioDevices->currentIndex();
    if (index < 0)
        return;
    mediagraph::TFilter* source = m_capture.Media().AudioSourceFilter;
    AssignDevice(devices, audioDevices, index, source, m_capture.Graph());
    // Built afresh, so the lines and formats are the chosen device's.
    m_capture.Rebuild();
    TPinList pins(source->Query<media::IBaseFilter>().Get());
    audioFormats->clear();
    TakePins(pins, media::PINDIR_OUTPUT, m_audio_types.get());
    for (int i = 0; i < m_audio_types->Count(); ++i)
        audioFormats->addItem(m_audio_types->Description(i));
    m_audio_formats = Formats(*m_audio_types);
    m_capture.ChooseAudioFormat(std::nullopt);
    ChooseRememberedFormat(false);
    m_capture.Graph()->SetActive(false);
    m_capture_page.LoadInputLines(pins);
    audioProperties->setEnabled(true);
    // Listing the device tore the graph down: a preview that ran comes
    // back rather than leaving "Preview" ticked over a still picture.
    m_capture_page.DeviceChosen(false);
}

void DevicePage::TakeChosenFormat(bool video) {
    if (video)
        m_capture.ChooseVideoFormat(ChosenFormat(videoFormats, m_video_formats));
    else
        m_capture.ChooseAudioFormat(ChosenFormat(audioFormats, m_audio_formats));
}

void DevicePage::ApplyFormat(bool video) {
    TakeChosenFormat(video);
    m_capture_page.DeviceChosen(video);
}

void DevicePage::ChooseRememberedFormat(bool video) {
    QComboBox* devices = video ? videoDevices : audioDevices;
    const std::vector<media::MediaType>& formats = video ? m_video_formats : m_audio_formats;
    const auto key = RememberedFormat(m_storage, video, Moniker(devices));
    if (!key)
        return;
    const int index = FormatWithKey(formats, *key);
    if (index < 0) {
        fw::ReportNotice(QStringLiteral("The %1 device no longer offers the format chosen for it "
                                        "(%2): it keeps its current format.")
                             .arg(QLatin1String(video ? "video" : "audio"), *key));
        return;
    }
    (video ? videoFormats : audioFormats)->setCurrentIndex(index);
    TakeChosenFormat(video);
}

void DevicePage::onVideoFormatChosen() {
    ApplyFormat(true);
    if (const auto format = ChosenFormat(videoFormats, m_video_formats))
        RememberFormat(m_storage, true, Moniker(videoDevices), *format);
}

void DevicePage::onAudioFormatChosen() {
    ApplyFormat(false);
    if (const auto format = ChosenFormat(audioFormats, m_audio_formats))
        RememberFormat(m_storage, false, Moniker(audioDevices), *format);
}

void DevicePage::onVideoOutputChosen() {
    auto& devices = *m_devices;
    devices.SelectCategory(media::AM_KSCATEGORY_TRANSMIT);
    const int index = videoOutputs->currentIndex();
    if (index < 0)
        return;
    // A play-out in progress ends first: the device chosen is the one the
    // next play-out uses, and the page must not go on showing a session
    // on the device that was replaced.
    const bool ended = m_playout.End();
    AssignDevice(devices, videoOutputs, index, m_playout.Media().VideoDestFilter,
                 m_playout.Graph());
    m_playout.Graph()->SetActive(true);
    videoOutputProperties->setEnabled(true);
    if (ended)
        fw::ReportNotice(kPlayoutEndedForDevice);
}

void DevicePage::onAudioOutputChosen() {
    auto& devices = *m_devices;
    devices.SelectCategory(media::CLSID_AudioRendererCategory);
    const int index = audioOutputs->currentIndex();
    if (index < 0)
        return;
    // Listing the device's formats tears the output graph down: a play-out
    // in progress ends first, as "Stop" ends it.
    const bool ended = m_playout.End();
    mediagraph::TFilter* output = m_playout.Media().AudioDestFilter;
    AssignDevice(devices, audioOutputs, index, output, m_playout.Graph());
    // Built afresh, so the formats are the chosen device's.
    m_playout.Graph()->SetActive(false);
    m_playout.Graph()->SetActive(true);
    {
        TPinList pins(output->Query<media::IBaseFilter>().Get());
        audioOutputFormats->clear();
        TakePins(pins, media::PINDIR_INPUT, m_audio_types.get());
        for (int i = 0; i < m_audio_types->Count(); ++i)
            audioOutputFormats->addItem(m_audio_types->Description(i));
    }
    m_playout.Graph()->SetActive(false);
    audioOutputProperties->setEnabled(true);
    if (ended)
        fw::ReportNotice(kPlayoutEndedForDevice);
}

// The property frames open at the main window's corner (the frame call's
// position 0, 0 of its owner), over the window the user works in. The frame
// is modal: once it has closed (OK, or Cancel after Apply), the page's
// controls show what the device has now.
void DevicePage::onVideoPropertiesClicked() {
    const bool idle = !m_capture.Running();
    m_capture.Graph()->SetActive(true);
    auto filter = Supports<media::IBaseFilter>(m_capture.Media().VideoSourceFilter);
    // The pages show the format the list has chosen; a running graph has
    // it already.
    if (idle)
        m_capture.ApplyFormats();
    const DeviceControls before = ReadDeviceControls(filter.Get());
    mediagraph::ShowFilterPropertyPages(win::WidgetHandle(m_window), filter.Get(),
                                        mediagraph::ppDefault);
    RememberAnalogSetup(m_storage, Moniker(videoDevices), filter.Get());
    RememberControlChanges(m_storage, Moniker(videoDevices), before, filter.Get());
    // A format chosen on the pages is chosen in the list too, and
    // remembered as a choice there is.
    if (const auto current = mediagraph::CurrentDeviceFormat(filter.Get())) {
        const int index = FormatWithKey(m_video_formats, FormatKey(*current));
        if (index >= 0 && index != videoFormats->currentIndex()) {
            videoFormats->setCurrentIndex(index);
            TakeChosenFormat(true);
            RememberFormat(m_storage, true, Moniker(videoDevices), *current);
        }
    }
    m_capture_page.ShowVideoDeviceValues();
}

void DevicePage::onAudioPropertiesClicked() {
    m_capture.Graph()->SetActive(true);
    auto filter = Supports<media::IBaseFilter>(m_capture.Media().AudioSourceFilter);
    mediagraph::ShowFilterPropertyPages(win::WidgetHandle(m_window), filter.Get(),
                                        mediagraph::ppDefault);
    m_capture_page.ShowAudioDeviceValues();
}

void DevicePage::onVideoOutputPropertiesClicked() {
    m_playout.Graph()->SetActive(true);
    auto filter = Supports<media::IBaseFilter>(m_playout.Media().VideoDestFilter);
    mediagraph::ShowFilterPropertyPages(win::WidgetHandle(m_window), filter.Get(),
                                        mediagraph::ppDefault);
}

}  // namespace ronvix::app::pages
