#include "app/pages/capture_page.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <algorithm>
#include <cmath>
#include <span>
#include <utility>

#include "app/pages/device_items.h"
#include "framework/application.h"
#include "framework/bind.h"
#include "framework/exceptions.h"
#include "framework/strings.h"
#include "mediagraph/graph_util.h"
#include "platform/media/core/types.h"
#include "platform/win/files.h"
#include "platform/win/kernel.h"
#include "platform/winui/dialogs.h"
#include "platform/winui/widgets.h"
#include "workflow/capture_texts.h"

namespace ronvix::app::pages {

using mediagraph::Supports;
using mediagraph::TPinList;

namespace {

constexpr com::LONG kVideoProcAmpFlagsAuto = 1;

// Reports mouse moves over a widget, with the buttons held, to a handler
// that runs inside SafeCall.
class MouseMoveWatch : public QObject {
public:
    using Handler = std::function<void(Qt::MouseButtons)>;
    MouseMoveWatch(QWidget* widget, Handler handler)
        : QObject(widget), m_handler(std::move(handler)) {
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseMove) {
            const Qt::MouseButtons buttons = static_cast<QMouseEvent*>(event)->buttons();
            fw::SafeCall([&] { m_handler(buttons); });
        }
        return false;
    }

private:
    Handler m_handler;
};

// A component event's handler entry: exceptions go to the top-level report.
fw::TNotifyEvent Safe(std::function<void(QObject*)> handler) {
    return
        [handler = std::move(handler)](QObject* sender) { fw::SafeCall([&] { handler(sender); }); };
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

QString PercentText(int value) {
    return QString::number(value) + QStringLiteral(" %");
}

}  // namespace

CapturePage::CapturePage(QWidget* window, workflow::CaptureSession& session)
    : QObject(window), m_window(window), m_session(session) {
    auto timer = [window](const char* name, int interval_ms) {
        auto* t = new fw::TTimer(window, QString::fromUtf8(name));
        t->SetEnabled(false);
        t->SetInterval(interval_ms);
        return t;
    };
    statisticsTimer = timer("Timer", 1000);
    levelTimer = timer("LevelTimer", 50);
    rateTimer = timer("Timer3", 1000);
}

void CapturePage::Connect() {
    fileName->SetDialogKind(controls::TFileDialogKind::dkSave);
    fileName->SetDefaultExt(QStringLiteral("avi"));
    fileName->SetFilter(QStringLiteral("AVI file|*.avi|All files (*.*)|*.*"));
    fileName->SetDialogTitle(QStringLiteral("Set Capture File"));
    fileName->SetNumGlyphs(1);
    qualitySlider->SetIncrement(1);
    qualitySlider->SetValue(1);
    signalField->setWordWrap(true);
    QPalette warning = signalField->palette();
    warning.setColor(QPalette::WindowText, QColor(255, 0, 0));
    signalField->setPalette(warning);
    previewPanel->setAutoFillBackground(true);
    QPalette black = previewPanel->palette();
    black.setColor(QPalette::Window, Qt::black);
    previewPanel->setPalette(black);
    // A first start chooses no device; the panel says where to choose one
    // (the preview's window takes its place once one is chosen).
    deviceHint = new QLabel(
        QStringLiteral("Choose a video or audio capture device on the Device settings page."),
        previewPanel);
    deviceHint->setGeometry(previewPanel->rect().adjusted(24, 0, -24, 0));
    deviceHint->setAlignment(Qt::AlignCenter);
    deviceHint->setWordWrap(true);
    QPalette light = deviceHint->palette();
    light.setColor(QPalette::WindowText, Qt::white);
    deviceHint->setPalette(light);

    fw::BindClick(static_cast<QAbstractButton*>(startButton), [this](QObject*) { Start(true); });
    fw::BindClick(static_cast<QAbstractButton*>(stopButton), [this](QObject*) { onStopClicked(); });
    fw::BindClick(preview, [this](QObject*) { onPreviewClicked(); });
    rateTimer->OnTimer = Safe([this](QObject*) { onRateTick(); });
    statisticsTimer->OnTimer = Safe([this](QObject*) { onStatisticsTick(); });
    levelTimer->OnTimer = Safe([this](QObject*) { onLevelTick(); });
    auto picture = Safe([this](QObject* s) { onPictureChanged(s); });
    for (controls::TSlider* slider :
         {brightnessSlider, contrastSlider, saturationSlider, sharpnessSlider})
        slider->OnChange = picture;
    // The device page remembers an adjustment once it ends, not at every
    // step of a drag (each would rewrite the settings file).
    auto adjusted = Safe([this](QObject*) {
        if (on_controls_set && !m_adjusting.empty())
            on_controls_set(m_adjusting);
        m_adjusting.clear();
    });
    for (controls::TSlider* slider :
         {brightnessSlider, contrastSlider, saturationSlider, sharpnessSlider})
        slider->OnChanged = adjusted;
    qualitySlider->OnChange = Safe([this](QObject*) { onQualityChanged(); });
    new MouseMoveWatch(qualitySlider, [this](Qt::MouseButtons buttons) {
        if (buttons & Qt::LeftButton)
            onQualityChanged();
    });
    fw::BindClick(inputLines, [this](QObject*) { onInputLineChanged(); });
    volumeSlider->OnChanged = Safe([this](QObject*) { onVolumeChanged(); });
    volumeSlider->OnChange = Safe([this](QObject*) { onVolumeMoved(); });

    m_session.place_preview = [this](media::IVideoWindow* window) { PlacePreview(window); };
    m_session.on_started = [this](bool capture) { OnCaptureStarted(capture); };
    m_session.on_capture_ended = [this] { OnCaptureEnded(); };
    m_session.on_report = [](const QString& message) { fw::ReportMessage(message); };
    m_session.on_buffering = [this](bool buffering) {
        bufferingField->setText(buffering ? QStringLiteral("Buff") : QStringLiteral("NOBuff"));
    };
}

void CapturePage::PlacePreview(media::IVideoWindow* window) {
    // The preview fills the inside of the panel's one-pixel bevel.
    window->put_WindowStyle(0);
    window->put_Owner(
        reinterpret_cast<media::OAHWND>(win::WidgetHandle(previewPanel, QStringLiteral("TPanel"))));
    window->put_Left(1);
    window->put_Top(1);
    window->put_Width(384);
    window->put_Height(288);
}

void CapturePage::SetCaptureLocks(bool enabled) {
    for (QWidget* w :
         {static_cast<QWidget*>(audioFormats), static_cast<QWidget*>(audioDevices),
          static_cast<QWidget*>(videoFormats), static_cast<QWidget*>(videoDevices),
          static_cast<QWidget*>(compressionChoice), static_cast<QWidget*>(splitChoice)})
        w->setEnabled(enabled);
}

void CapturePage::Start(bool from_button) {
    // A start that does not get a graph running leaves the rate tick as it
    // found it.
    const bool rate_was_on = rateTimer->Enabled();
    rateTimer->SetEnabled(true);
    if (generateNames->isChecked()) {
        win::SYSTEMTIME now;
        win::GetSystemTime(&now);
        fileName->SetFileName(workflow::GeneratedFileName(fileName->FileName(), now));
    }
    if (from_button && win::FileExists(fileName->FileName()) && !overwrite->isChecked()) {
        const QString text = QStringLiteral("File ") + fileName->FileName() +
                             QStringLiteral(" already exists. Overwrite?");
        if (win::MessageBox(win::WidgetHandle(m_window), text, QStringLiteral("Warning"),
                            win::MB_OKCANCEL) != win::IDOK)
            return;
    }
    audioMeter->Reset();
    if (!from_button && m_session.PreviewOn()) {
        m_session.StartPreview();
        return;
    }
    workflow::CaptureSettings settings;
    settings.file_name = fileName->FileName();
    settings.compression = workflow::CaptureCompression(compressionChoice->currentIndex());
    settings.split_bytes = workflow::SplitSizeBytes(splitChoice->currentIndex());
    if (stopAfterCheck->isChecked() && stopAfterTime->Seconds() > 0)
        settings.stop_after_100ns = int64_t(stopAfterTime->Seconds()) * 10'000'000;
    try {
        m_session.StartCapture(settings);
    } catch (...) {
        // A preview that came back runs the rate tick again.
        rateTimer->SetEnabled(rate_was_on || m_session.Running());
        throw;
    }
}

void CapturePage::OnCaptureStarted(bool capture) {
    rateTimer->SetEnabled(true);
    StartLevels();
    if (!capture)
        return;
    stopButton->setEnabled(true);
    for (QWidget* w : {static_cast<QWidget*>(startButton), static_cast<QWidget*>(preview)})
        w->setEnabled(false);
    SetCaptureLocks(false);
    statisticsTimer->SetEnabled(true);
    signalField->hide();
}

void CapturePage::OnCaptureEnded() {
    // The last tick was up to a second before the end: the figures left
    // shown are the finished file's.
    if (const auto& last = m_session.LastStatistics())
        ShowFrameFigures(*last);
    rateTimer->SetEnabled(false);
    statisticsTimer->SetEnabled(false);
    stopButton->setEnabled(false);
    startButton->setEnabled(true);
    preview->setEnabled(true);
    levelTimer->SetEnabled(false);
    audioMeter->Reset();
    SetCaptureLocks(true);
}

void CapturePage::onStopClicked() {
    m_session.Stop();
}

void CapturePage::onPreviewClicked() {
    m_session.SetPreviewOn(preview->isChecked());
    m_session.Halt();
    if (m_session.PreviewOn())
        Start(false);
}

void CapturePage::DeviceChosen(bool video) {
    deviceHint->hide();
    startButton->setEnabled(true);
    preview->setEnabled(true);
    if (video && preview->isChecked())
        m_session.SetPreviewOn(true);
    if (m_session.PreviewOn())
        Start(false);
}

bool CapturePage::ReleaseForPlayout() {
    // Whatever fails here never keeps the play-out from starting. When the
    // stop throws, "Preview" stays ticked. Unticking runs the box's own
    // handler here rather than through its binding, so that a failure in it
    // is swallowed too, not reported. A capture in progress ends as "Stop"
    // ends it (its file finished, the page restored) rather than being left
    // looking alive with its graph stopped.
    const bool capture_ended = m_session.Capturing();
    try {
        m_session.EndCapture();
        m_session.Halt();
        if (preview->isChecked()) {
            {
                const QSignalBlocker quiet(preview);
                preview->setChecked(false);
            }
            onPreviewClicked();
        }
    } catch (const std::exception&) {
    }
    return capture_ended;
}

void CapturePage::StartLevels() {
    levelTimer->SetEnabled(m_session.Levels() != nullptr);
}

void CapturePage::onRateTick() {
    // A preview alone writes nothing: its ticks leave the last capture's
    // figures as they were. A tick that finds no time passed, or a size it
    // cannot read, changes nothing either.
    if (const auto rate = m_session.RateTick())
        rateField->setText(workflow::RateText(*rate));
    QCoreApplication::processEvents();
}

void CapturePage::ShowFrameFigures(const workflow::CaptureStatistics& stats) {
    // A capture without a video stream has no frame counts: its frame fields
    // keep their texts and the rest is updated.
    if (stats.frames_counted) {
        QPalette palette = droppedField->palette();
        palette.setColor(QPalette::Window, stats.dropped == previousDropped
                                               ? QApplication::palette().color(QPalette::Button)
                                               : QColor(255, 0, 0));
        droppedField->setAutoFillBackground(true);
        droppedField->setPalette(palette);
        previousDropped = stats.dropped;
        capturedField->setText(QString::number(stats.captured));
        droppedField->setText(QString::number(stats.dropped));
    }
    elapsedField->setText(workflow::ElapsedText(stats.position_100ns));
}

void CapturePage::onStatisticsTick() {
    const auto stats = m_session.Statistics();
    if (!stats)
        return;
    ShowFrameFigures(*stats);
    if (stats->frames_counted) {
        const uint64_t quiet_ms = m_session.QuietFor(stats->captured, win::GetTickCount64());
        if (quiet_ms == 0) {
            signalField->hide();
        } else if (quiet_ms >= workflow::kNoSignalAfter_ms) {
            signalField->setText(workflow::NoSignalText(quiet_ms));
            signalField->show();
        }
    }

    const QString folder = workflow::CaptureFolder(fileName->FileName());
    uint64_t free_bytes = 0;
    // A failed query leaves the free-space figures as they were rather than
    // showing a volume with no room.
    if (!win::GetDiskFreeSpaceExA(fw::Utf8(folder).c_str(), &free_bytes, nullptr, nullptr))
        return;
    freeSpaceField->setText(workflow::FreeSpaceText(free_bytes));
    // A timed stop ends the capture before the disk fills when it comes
    // first: the lesser of the two is what remains.
    std::optional<int64_t> stop_in_s;
    if (m_session.StopAt() > 0)
        stop_in_s = (m_session.StopAt() - stats->position_100ns + 9'999'999) / 10'000'000;
    if (const auto remaining = workflow::RemainingText(free_bytes, m_session.Rate(), stop_in_s))
        remainingField->setText(*remaining);
}

void CapturePage::onLevelTick() {
    // Only what the meter measured since the last tick: the streaming
    // thread never waits for this one. A graph that no longer runs (the
    // preview unchecked, a stop) leaves the meter empty and the tick off.
    media::IAudioLevels* levels = m_session.Levels();
    if (!levels || !m_session.Running()) {
        audioMeter->Reset();
        levelTimer->SetEnabled(false);
        return;
    }
    com::LONG channels = 0;
    levels->GetChannels(&channels);
    double peaks[media::IAudioLevels::kMaxChannels] = {};
    channels = std::clamp<com::LONG>(channels, 0, media::IAudioLevels::kMaxChannels);
    levels->TakePeaks(channels, peaks);
    audioMeter->SetPeaks(std::span<const double>(peaks, size_t(channels)), win::GetTickCount64());
}

namespace {

struct Picture {
    int tag;
    com::LONG property;
    controls::TSlider* CapturePage::*slider;
    QLabel* CapturePage::*field;
};
constexpr Picture kPictures[] = {
    {1, media::VideoProcAmp_Brightness, &CapturePage::brightnessSlider,
     &CapturePage::brightnessField},
    {2, media::VideoProcAmp_Contrast, &CapturePage::contrastSlider, &CapturePage::contrastField},
    {4, media::VideoProcAmp_Saturation, &CapturePage::saturationSlider,
     &CapturePage::saturationField},
    {5, media::VideoProcAmp_Sharpness, &CapturePage::sharpnessSlider, &CapturePage::sharpnessField},
};

}  // namespace

void CapturePage::onPictureChanged(QObject* sender) {
    auto* slider = qobject_cast<controls::TSlider*>(sender);
    if (!slider)
        return;
    mediagraph::TFilterGraph* graph = m_session.Graph();
    const bool was_active = graph->Active();
    graph->SetActive(true);
    auto amp = Supports<media::IAMVideoProcAmp>(m_session.Media().VideoSourceFilter);
    const auto source = m_session.Media().VideoSourceFilter->Query<media::IBaseFilter>();
    for (const Picture& p : kPictures) {
        if (p.tag != slider->Tag())
            continue;
        // What the property was before this adjustment began (an earlier
        // step of the same drag keeps its reading).
        const DeviceControls before = ReadDeviceControls(source.Get(), p.property);
        m_adjusting.insert(before.begin(), before.end());
        amp->Set(p.property, slider->Value(), kVideoProcAmpFlagsAuto);
        (this->*p.field)->setText(QString::number(slider->Value() - 128));
    }
    graph->SetActive(was_active);
}

void CapturePage::onQualityChanged() {
    m_session.Graph()->SetActive(true);
    TPinList pins(m_session.Media().VideoSourceFilter->Query<media::IBaseFilter>().Get());
    auto compression = Supports<media::IAMVideoCompression>(pins.FirstPin().Get());
    compression->put_Quality(qualitySlider->Value() / 100.0);
    qualityField->setText(workflow::QualityText(qualitySlider->Value()));
}

void CapturePage::onInputLineChanged() {
    mediagraph::TSysDevEnum& devices = *m_devices;
    devices.SelectCategory(media::CLSID_AudioInputDeviceCategory);
    const int index = audioDevices->currentIndex();
    if (index < 0)
        return;
    mediagraph::TFilterGraph* graph = m_session.Graph();
    mediagraph::TFilter* source = m_session.Media().AudioSourceFilter;
    // While previewing or capturing the graph stays as it is and the line
    // is chosen on the device instance that streams; tearing the graph down
    // here would end a capture behind the user's back. The lines belong to
    // the device, so when the running graph holds no instance of it, a
    // separate instance of the chosen device sets them.
    const bool was_active = graph->Active();
    com::ComPtr<media::IBaseFilter> filter;
    if (was_active) {
        filter = source->Query<media::IBaseFilter>();
        if (!filter) {
            source->BaseFilter().AssignMoniker(
                DeviceItemMoniker(devices, audioDevices, index).Get());
            filter = source->BaseFilter().BindFilter();
        }
    } else {
        source->BaseFilter().AssignMoniker(DeviceItemMoniker(devices, audioDevices, index).Get());
        source->SetFilterGraph(graph);
        graph->SetActive(true);
        filter = source->Query<media::IBaseFilter>();
    }
    TPinList pins(filter.Get());
    TakePins(pins, media::PINDIR_OUTPUT);  // The input pins, in pin order.
    if (!was_active)
        graph->SetActive(false);
    auto mixer = Supports<media::IAMAudioInputMixer>(pins.PinAt(inputLines->currentIndex()).Get());
    mixer->put_Enable(1);
    double level = 0;
    mixer->get_MixLevel(&level);
    volumeSlider->SetValue(static_cast<int>(std::lround(level * 100)));
}

void CapturePage::onVolumeChanged() {
    mediagraph::TSysDevEnum& devices = *m_devices;
    devices.SelectCategory(media::CLSID_AudioInputDeviceCategory);
    mediagraph::TFilterGraph* graph = m_session.Graph();
    mediagraph::TFilter* source = m_session.Media().AudioSourceFilter;
    graph->SetActive(true);
    const int index = audioDevices->currentIndex();
    if (index < 0)
        return;
    source->BaseFilter().AssignMoniker(DeviceItemMoniker(devices, audioDevices, index).Get());
    source->SetFilterGraph(graph);
    TPinList pins(source->Query<media::IBaseFilter>().Get());
    TakePins(pins, media::PINDIR_OUTPUT);  // The input pins, in pin order.
    auto mixer = Supports<media::IAMAudioInputMixer>(pins.PinAt(inputLines->currentIndex()).Get());
    mixer->put_Enable(1);
    mixer->put_MixLevel(volumeSlider->Value() / 100.0);
}

void CapturePage::onVolumeMoved() {
    volumeField->setText(PercentText(volumeSlider->Value()));
}

void CapturePage::ShowQuality(media::IPin* capture_pin) {
    com::ComPtr<media::IAMVideoCompression> compression;
    if (!capture_pin || com::FAILED(capture_pin->QueryInterface(media::IAMVideoCompression::iid,
                                                                compression.OutVoid())))
        return;
    double quality = 0;
    if (com::FAILED(compression->get_Quality(&quality)))
        return;
    ShowQuietly(qualitySlider, static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100)));
    qualityField->setText(workflow::QualityText(qualitySlider->Value()));
}

void CapturePage::ShowVideoDeviceValues() {
    // After the video device's property frame closed: the picture sliders
    // and the quality as the device has them now (its pages may have
    // changed them), nothing sent back. A property the page does not show
    // stays as it is.
    const com::ComPtr<media::IBaseFilter> source =
        m_session.Media().VideoSourceFilter->Query<media::IBaseFilter>();
    if (!source)
        return;
    com::ComPtr<media::IAMVideoProcAmp> amp;
    if (com::SUCCEEDED(source->QueryInterface(media::IAMVideoProcAmp::iid, amp.OutVoid())))
        for (const Picture& p : kPictures) {
            controls::TSlider* slider = this->*p.slider;
            com::LONG value = 0, flags = 0;
            if (!slider->isEnabled() || com::FAILED(amp->Get(p.property, &value, &flags)))
                continue;
            ShowQuietly(slider, value);
            (this->*p.field)->setText(QString::number(slider->Value() - 128));
        }
    const TPinList pins(source.Get());
    if (pins.Count() > 0)
        ShowQuality(pins.FirstPin().Get());
}

void CapturePage::ShowAudioDeviceValues() {
    // After the audio device's property frame closed: the input line the
    // device has enabled, and its level, nothing sent back.
    const com::ComPtr<media::IBaseFilter> source =
        m_session.Media().AudioSourceFilter->Query<media::IBaseFilter>();
    if (!source)
        return;
    TPinList pins(source.Get());
    TakePins(pins, media::PINDIR_OUTPUT);  // The input pins, in pin order.
    if (pins.Count() != inputLines->count())
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
        inputLines->setCurrentIndex(i);
        ShowQuietly(volumeSlider, static_cast<int>(std::lround(std::clamp(level, 0.0, 1.0) * 100)));
        volumeField->setText(PercentText(volumeSlider->Value()));
        return;
    }
}

void CapturePage::LoadPictureControls(bool enable) {
    m_adjusting.clear();  // another device's
    if (enable) {
        for (QWidget* w :
             {static_cast<QWidget*>(brightnessSlider), static_cast<QWidget*>(saturationSlider),
              static_cast<QWidget*>(contrastSlider), static_cast<QWidget*>(sharpnessSlider),
              static_cast<QWidget*>(qualitySlider)})
            w->setEnabled(true);
    }
    m_session.Graph()->SetActive(true);
    auto amp = Supports<media::IAMVideoProcAmp>(m_session.Media().VideoSourceFilter);
    // A property the device lacks (its range or value query fails, or its
    // range is empty) is a disabled slider with an empty field: it neither
    // raises an error nor keeps another property's figures, and the other
    // sliders work. A step the slider cannot take is brought into range.
    // The values are shown as the device has them and not sent back.
    for (const Picture& p : kPictures) {
        controls::TSlider* slider = this->*p.slider;
        QLabel* field = this->*p.field;
        com::LONG min = 0, max = 0, step = 0, def = 0, caps = 0, value = 0, flags = 0;
        if (com::FAILED(amp->GetRange(p.property, &min, &max, &step, &def, &caps)) ||
            com::FAILED(amp->Get(p.property, &value, &flags)) || max <= min) {
            slider->setEnabled(false);
            field->clear();
            continue;
        }
        slider->SetMinValue(min);
        slider->SetMaxValue(max);
        slider->SetIncrement(std::clamp<com::LONG>(step, 1, max - min));
        ShowQuietly(slider, std::clamp(value, min, max));
        field->setText(QString::number(slider->Value() - 128));
    }
}

void CapturePage::DeviceGone(bool video) {
    if (video) {
        for (const Picture& p : kPictures) {
            (this->*p.slider)->setEnabled(false);
            (this->*p.field)->clear();
        }
        qualitySlider->setEnabled(false);
        qualityField->clear();
    } else {
        inputLines->clear();
        audioMeter->Reset();
    }
    if (videoDevices->currentIndex() < 0 && audioDevices->currentIndex() < 0) {
        startButton->setEnabled(false);
        preview->setEnabled(false);
        deviceHint->show();
    }
}

void CapturePage::LoadInputLines(mediagraph::TPinList& inputs) {
    inputLines->clear();
    int selected = -1;
    for (int i = 0; i < inputs.Count(); ++i) {
        media::PIN_INFO info;
        inputs.PinInfoAt(i, info);
        if (info.pFilter)
            info.pFilter->Release();
        size_t n = 0;
        while (n < std::size(info.achName) && info.achName[n] != 0)
            ++n;
        inputLines->addItem(QString::fromUtf16(info.achName, static_cast<qsizetype>(n)));
        auto mixer = Supports<media::IAMAudioInputMixer>(inputs.PinAt(i).Get());
        com::BOOL enabled = 0;
        mixer->get_Enable(&enabled);
        if (enabled) {
            selected = i;
            double level = 0;
            mixer->get_MixLevel(&level);
            volumeSlider->SetValue(static_cast<int>(std::lround(level * 100)));
            volumeField->setText(PercentText(volumeSlider->Value()));
        }
    }
    inputLines->setCurrentIndex(selected);
}

}  // namespace ronvix::app::pages
