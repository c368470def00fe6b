#pragma once
// The "Device settings" page: the four device lists with their formats and
// property buttons, wired to the capture and play-out sessions. Choosing a
// capture device loads its formats, input lines and picture controls onto
// the capture page; choosing an output device ends a play-out in progress.
// The chosen devices are remembered by their monikers beside the list
// positions. UI thread only.

#include <QComboBox>
#include <QObject>
#include <QPushButton>
#include <memory>
#include <vector>

#include "app/pages/capture_page.h"
#include "mediagraph/device_enum.h"
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
    // The session takes the format chosen in the device's list (a running
    // preview starts again in it).
    void ApplyFormat(bool video);
    // The same without touching what runs.
    void TakeChosenFormat(bool video);
    // The format remembered for the chosen device, chosen again in its list
    // just filled; one it no longer offers is said once.
    void ChooseRememberedFormat(bool video);

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
};

}  // namespace ronvix::app::pages
