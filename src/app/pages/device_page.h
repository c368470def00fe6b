#pragma once
// The "Device settings" page: the four device lists with their formats and
// property buttons, wired to the capture and play-out sessions. Choosing a
// capture device loads its formats, input lines and picture controls onto
// the capture page; choosing an output device ends a play-out in progress.
// The chosen devices are remembered by their monikers beside the list
// positions, and the lists follow the devices that come and go
// (device_lists.cpp). UI thread only.

#include <QComboBox>
#include <QObject>
#include <QPushButton>
#include <array>
#include <memory>
#include <string_view>
#include <vector>

#include "app/pages/capture_page.h"
#include "mediagraph/device_enum.h"
#include "mediagraph/device_watch.h"
#include "mediagraph/mediatype.h"
#include "settings/formstorage.h"
#include "workflow/capture_session.h"
#include "workflow/playout_session.h"

namespace ronvix::app::pages {

class DevicePage : public QObject {
    Q_OBJECT
public:
    DevicePage(QWidget* window, workflow::CaptureSession& capture,
               workflow::PlayoutSession& playout, CapturePage& capture_page,
               settings::TFormStorage& storage);
    ~DevicePage() override;

    QComboBox* videoDevices = nullptr;
    QPushButton* videoProperties = nullptr;
    QComboBox* videoFormats = nullptr;
    QComboBox* audioDevices = nullptr;
    QPushButton* audioProperties = nullptr;
    QComboBox* audioFormats = nullptr;
    QComboBox* videoOutputs = nullptr;
    QPushButton* videoOutputProperties = nullptr;
    QComboBox* audioOutputs = nullptr;
    QPushButton* audioOutputProperties = nullptr;
    QComboBox* audioOutputFormats = nullptr;

    void Connect();
    // The device lists filled (nothing chosen), at the window's creation;
    // released at its destruction.
    void FillLists();
    void Release();
    // The stored devices chosen again by their stored monikers, then each
    // chosen as the user would choose it, with the stored formats.
    void RestoreSelection();
    // The monikers of the chosen devices, stored beside the list positions.
    void SaveSelection();
    // From now until Release the lists follow the devices that come and go
    // (RefreshLists on every change the device watch reports).
    void WatchDevices();
    // The lists listed again, each keeping its chosen device wherever it
    // stands now; nothing runs differently while the chosen devices stay.
    // A chosen device that went leaves its list choosing nothing, and its
    // formats and property button as for no device, once its session is
    // idle (a capture or play-out on it ends by its own lost-device
    // handling first). A list that chooses nothing chooses again, as the
    // user would, the device it last chose (or the stored one) when that
    // is present and its session idle.
    void RefreshLists();

    void onVideoDeviceChosen();
    void onAudioDeviceChosen();
    // A format chosen in a capture device's list is the one it records
    // and previews in (a running preview starts again in it).
    void onVideoFormatChosen();
    void onAudioFormatChosen();
    void onVideoOutputChosen();
    void onAudioOutputChosen();
    // The property frames of the capture devices and the video output.
    void onVideoPropertiesClicked();
    void onAudioPropertiesClicked();
    void onVideoOutputPropertiesClicked();

    // The media types the video device's format list shows, in list order.
    const mediagraph::TEnumMediaType& VideoTypes() const { return *m_video_types; }

private:
    // The four device lists, each with its category, the setting that
    // keeps its chosen device's moniker, whose session uses the device
    // (capture, else play-out) and the handler of a choice.
    struct DeviceList {
        QComboBox* DevicePage::*list;
        com::GUID category;
        std::string_view stored_key;
        bool capture;
        void (DevicePage::*chosen)();
    };
    static const DeviceList kLists[4];

    // The session takes the format chosen in the device's list (a running
    // preview starts again in it).
    void ApplyFormat(bool video);
    // The same without touching what runs.
    void TakeChosenFormat(bool video);
    // The format remembered for the chosen device, chosen again in its list
    // just filled; one it no longer offers is said once.
    void ChooseRememberedFormat(bool video);
    // What RefreshLists leaves to an idle session: the lists' gone devices
    // forgotten and their last devices chosen again; while a session that
    // holds one of them is busy, it is tried again shortly (SettleLater).
    void SettleLists();
    void SettleLater();
    // The formats and property button of list `list` (kFollowedLists) as
    // for no device.
    void ForgetDevice(size_t list);

    QWidget* m_window;
    workflow::CaptureSession& m_capture;
    workflow::PlayoutSession& m_playout;
    CapturePage& m_capture_page;
    settings::TFormStorage& m_storage;
    std::unique_ptr<mediagraph::TSysDevEnum> m_devices;
    std::unique_ptr<mediagraph::TEnumMediaType> m_video_types;
    std::unique_ptr<mediagraph::TEnumMediaType> m_audio_types;
    // The capture devices' formats as their lists show them, kept when the
    // lists are filled (the audio type list serves the audio output too).
    std::vector<media::MediaType> m_video_formats;
    std::vector<media::MediaType> m_audio_formats;
    // Device changes, from WatchDevices until Release.
    std::unique_ptr<mediagraph::TDeviceWatch> m_watch;
    // For each followed list (video and audio capture, video and audio
    // output): the moniker of the device it last chose, and whether that
    // device went and is not yet forgotten.
    std::array<QString, 4> m_last_chosen;
    std::array<bool, 4> m_gone{};
    bool m_listing = false;     // RefreshLists or SettleLists runs.
    bool m_relist = false;      // A change came while it ran.
    bool m_settle_due = false;  // SettleLater's timer is queued.
};

}  // namespace ronvix::app::pages
