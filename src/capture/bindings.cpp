// Binds the capture workflow's handlers to the main window's controls and
// components.

#include <QMouseEvent>

#include "app/mainform.h"
#include "framework/application.h"
#include "framework/bind.h"

namespace ronvix::app {

namespace {

// Reports mouse moves over a widget, with the buttons held and the
// modifier keys, to a handler that runs inside SafeCall.
class MouseMoveWatch : public QObject {
public:
    using Handler = std::function<void(QObject*, Qt::MouseButtons, Qt::KeyboardModifiers)>;
    MouseMoveWatch(QWidget* widget, Handler handler)
        : QObject(widget), m_handler(std::move(handler)) {
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseMove) {
            const auto* move = static_cast<QMouseEvent*>(event);
            const Qt::MouseButtons buttons = move->buttons();
            const Qt::KeyboardModifiers modifiers = move->modifiers();
            fw::SafeCall([&] { m_handler(watched, buttons, modifiers); });
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

}  // namespace

void TMainForm::BindCaptureHandlers() {
    OnCreate = [this](QObject* sender) { FormCreate(sender); };

    fw::BindClick(VideoCapFilters, [this](QObject* s) { VideoCapFiltersClick(s); });
    fw::BindClick(AudioCapFilters, [this](QObject* s) { AudioCapFiltersClick(s); });
    fw::BindClick(VideoOutFilters, [this](QObject* s) { VideoOutFiltersClick(s); });
    fw::BindClick(AudioDestFilters, [this](QObject* s) { AudioDestFiltersClick(s); });
    fw::BindDblClick(VideoCapFilters, [this](QObject* s) { VideoCapFiltersDblClick(s); });
    fw::BindDblClick(AudioCapFilters, [this](QObject* s) { AudioCapFiltersDblClick(s); });
    fw::BindClick(static_cast<QAbstractButton*>(Button1),
                  [this](QObject* s) { VideoCapFiltersDblClick(s); });
    fw::BindClick(static_cast<QAbstractButton*>(Button2),
                  [this](QObject* s) { AudioCapFiltersDblClick(s); });
    fw::BindClick(static_cast<QAbstractButton*>(Button333),
                  [this](QObject* s) { Button333Click(s); });

    fw::BindClick(static_cast<QAbstractButton*>(StartButton),
                  [this](QObject* s) { StartButtonClick(s); });
    fw::BindClick(static_cast<QAbstractButton*>(StopButton),
                  [this](QObject* s) { StopButtonClick(s); });
    fw::BindClick(preview, [this](QObject* s) { previewClick(s); });

    Timer3->OnTimer = Safe([this](QObject* s) { Timer3Timer(s); });
    Timer->OnTimer = Safe([this](QObject* s) { TimerTimer(s); });
    LevelTimer->OnTimer = Safe([this](QObject* s) { LevelTimerTimer(s); });
    auto buffering = [this](QObject* s, bool on) {
        fw::SafeCall([&] { CaptureGraphGraphBufferingData(s, on); });
    };
    CaptureGraph->OnGraphBufferingData = buffering;
    OutGraph->OnGraphBufferingData = buffering;
    CaptureGraph->OnGraphErrorAbort = [this](QObject* s, com::HRESULT result) {
        fw::SafeCall([&] { CaptureGraphGraphErrorAbort(s, result); });
    };
    CaptureGraph->OnGraphStreamControlStopped = [this](QObject* s, media::IPin*, uint32_t) {
        fw::SafeCall([&] { CaptureGraphGraphStreamControlStopped(s); });
    };
    CaptureGraph->OnGraphDeviceLost = [this](QObject* s, com::IUnknown* device, bool removed) {
        fw::SafeCall([&] { CaptureGraphGraphDeviceLost(s, device, removed); });
    };

    auto picture = Safe([this](QObject* s) { Brightness_sliderChange(s); });
    for (controls::TSlider* slider :
         {Brightness_slider, Contrast_SLIDER, saturation_slider, sharpness_slider})
        slider->OnChange = picture;
    Quality_slider->OnChange = Safe([this](QObject* s) { Quality_sliderChange(s); });
    new MouseMoveWatch(Quality_slider,
                       [this](QObject* s, Qt::MouseButtons b, Qt::KeyboardModifiers m) {
                           Quality_sliderMouseMove(s, b, m);
                       });
    fw::BindClick(InputLines, [this](QObject* s) { InputLinesChange(s); });
    VolumeSlider->OnChanged = Safe([this](QObject* s) { VolumeSliderChange(s); });
    VolumeSlider->OnChange = Safe([this](QObject* s) { SLiderChange(s); });
}

}  // namespace ronvix::app
