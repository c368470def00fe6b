// The property pages of the engine's devices: "Video Proc Amp" and "Camera
// Control" (a control per property the device has), "Video Decoder" (the
// television standard), "Crossbar" (the inputs), "Capture" (compression
// quality and the pin's format, chosen there too), "Audio Mixer" (each input line's enable and
// level) and "Tape" (where a tape deck records).

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <cmath>
#include <cstring>
#include <map>
#include <span>

#include "platform/com/oleauto.h"
#include "platform/media/core/pinutil.h"
#include "platform/media/devices/propertypages.h"
#include "platform/media/devices/virtual/tapedeck.h"
#include "platform/media/ui/propertyframe.h"

namespace ronvix::media {

using namespace com;

namespace {

QSlider* MakeSlider(QWidget* parent, const QString& name, int min, int max, int step, int value) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(name);
    slider->setRange(min, max);
    slider->setSingleStep(std::max(1, step));
    slider->setPageStep(std::max(1, (max - min) / 10));
    slider->setValue(value);
    return slider;
}

QLabel* ValueLabel(QWidget* parent, const QString& name, int value) {
    auto* label = new QLabel(QString::number(value), parent);
    label->setObjectName(name + QStringLiteral("Value"));
    label->setMinimumWidth(32);
    return label;
}

template <class I>
ComPtr<I> Query(IUnknown* object) {
    ComPtr<I> found;
    if (FAILED(object->QueryInterface(I::iid, found.OutVoid())))
        return nullptr;
    return found;
}

// The first output pin of the object's filter that answers `I`.
template <class I>
ComPtr<I> FromPins(IUnknown* object, PIN_DIRECTION dir) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(object->QueryInterface(IBaseFilter::iid, filter.OutVoid())))
        return nullptr;
    for (ComPtr<IPin>& pin : FilterPins(filter.Get()))
        if (PinDirection(pin.Get()) == dir)
            if (ComPtr<I> found = pin.As<I>())
                return found;
    return nullptr;
}

// Whether `object` is a filter that is not stopped.
bool Running(IUnknown* object) {
    FILTER_STATE state = State_Stopped;
    auto filter = Query<IBaseFilter>(object);
    return filter && SUCCEEDED(filter->GetState(0, &state)) && state != State_Stopped;
}

// One row per control the device has: a slider (or, for a control that
// takes named values, a list of them) over the device's range, the value,
// and an "Auto" box where the device has an automatic mode. "Default" puts
// every value at the device's default. A change reaches the device on
// Apply, which then shows what the device made of it.
template <class Controls>
class ControlPage final : public PropertyPage {
public:
    using Property = DeviceControlProperty;

    ControlPage(QString title, ComPtr<Controls> controls, ComPtr<IDeviceControlNames> names,
                std::span<const Property> properties)
        : m_title(std::move(title)), m_controls(std::move(controls)) {
        auto* grid = new QGridLayout(this);
        int row = 0;
        for (const Property& p : properties) {
            LONG min = 0, max = 0, step = 0, def = 0, caps = 0, value = 0, flags = 0;
            if (FAILED(m_controls->GetRange(p.id, &min, &max, &step, &def, &caps)) ||
                FAILED(m_controls->Get(p.id, &value, &flags)) || max < min)
                continue;
            Row r{p.id, nullptr, nullptr, nullptr, nullptr, def, false};
            const QString name = QString::fromLatin1(p.name);
            grid->addWidget(new QLabel(name, this), row, 0);
            if (QComboBox* menu = MenuOf(names, p.id, min, max, step, name)) {
                r.menu = menu;
                grid->addWidget(menu, row, 1, 1, 2);
                connect(menu, &QComboBox::activated, this, [this, i = m_rows.size()] {
                    m_rows[i].changed = true;
                    SetDirty();
                });
            } else {
                r.slider = MakeSlider(this, name, min, max, step, std::clamp(value, min, max));
                r.label = ValueLabel(this, name, value);
                grid->addWidget(r.slider, row, 1);
                grid->addWidget(r.label, row, 2);
                connect(r.slider, &QSlider::valueChanged, this,
                        [this, label = r.label, i = m_rows.size()](int v) {
                            label->setText(QString::number(v));
                            m_rows[i].changed = true;
                            SetDirty();
                        });
            }
            if (caps & VideoProcAmp_Flags_Auto) {
                r.automatic = new QCheckBox(QStringLiteral("Auto"), this);
                r.automatic->setObjectName(name + QStringLiteral(" Auto"));
                // Without a manual mode the value is always the device's.
                r.automatic->setEnabled((caps & VideoProcAmp_Flags_Manual) != 0);
                grid->addWidget(r.automatic, row, 3);
                connect(r.automatic, &QCheckBox::toggled, this, [this, i = m_rows.size()](bool on) {
                    m_rows[i].changed = true;
                    Widget(m_rows[i])->setEnabled(!on);
                    SetDirty();
                });
            }
            m_rows.push_back(r);
            Show(m_rows.back(), value, flags);
            ++row;
        }
        if (m_rows.empty())
            return;
        auto* defaults = new QPushButton(QStringLiteral("Default"), this);
        defaults->setObjectName(QStringLiteral("Default"));
        grid->addWidget(defaults, row, 0);
        connect(defaults, &QPushButton::clicked, this, [this] {
            for (Row& r : m_rows) {
                SetValue(r, r.def);
                r.changed = true;
            }
            SetDirty();
        });
        grid->setColumnStretch(1, 1);
    }
    bool Empty() const { return m_rows.empty(); }
    QString Title() const override { return m_title; }
    void Apply() override {
        for (Row& r : m_rows)
            if (r.changed) {
                const bool automatic = r.automatic && r.automatic->isChecked();
                m_controls->Set(r.id, Value(r),
                                automatic ? VideoProcAmp_Flags_Auto : VideoProcAmp_Flags_Manual);
                r.changed = false;
            }
        for (Row& r : m_rows) {
            LONG value = 0, flags = 0;
            if (SUCCEEDED(m_controls->Get(r.id, &value, &flags)))
                Show(r, value, flags);
        }
        SetClean();
    }

private:
    struct Row {
        LONG id;
        QSlider* slider;
        QLabel* label;
        QComboBox* menu;
        QCheckBox* automatic;
        LONG def;
        bool changed;
    };

    // A list of the control's named values, or null when it has none.
    QComboBox* MenuOf(const ComPtr<IDeviceControlNames>& names, LONG id, LONG min, LONG max,
                      LONG step, const QString& name) {
        if (!names)
            return nullptr;
        QComboBox* menu = nullptr;
        for (LONG v = min, n = 0; v <= max && n < 64; v += std::max<LONG>(step, 1), ++n) {
            LPWSTR text = nullptr;
            const HRESULT hr = names->GetValueName(Controls::iid, id, v, &text);
            if (hr == S_FALSE || (FAILED(hr) && hr != E_INVALIDARG))
                break;  // Not a menu.
            if (hr == S_OK) {
                if (!menu) {
                    menu = new QComboBox(this);
                    menu->setObjectName(name);
                }
                menu->addItem(QString::fromUtf16(text), int(v));
            }
            CoTaskMemFree(text);
        }
        return menu;
    }
    QWidget* Widget(const Row& r) const {
        return r.menu ? static_cast<QWidget*>(r.menu) : static_cast<QWidget*>(r.slider);
    }
    LONG Value(const Row& r) const {
        return r.menu ? LONG(r.menu->currentData().toInt()) : LONG(r.slider->value());
    }
    void SetValue(Row& r, LONG value) {
        if (r.menu) {
            r.menu->setCurrentIndex(r.menu->findData(int(value)));
        } else {
            const QSignalBlocker quiet(r.slider);
            r.slider->setValue(value);
            r.label->setText(QString::number(r.slider->value()));
        }
    }
    // The device's value and mode, without marking anything changed.
    void Show(Row& r, LONG value, LONG flags) {
        SetValue(r, value);
        const bool automatic = (flags & VideoProcAmp_Flags_Auto) != 0;
        if (r.automatic) {
            const QSignalBlocker quiet(r.automatic);
            r.automatic->setChecked(automatic);
        }
        Widget(r)->setEnabled(!(r.automatic && automatic));
    }

    const QString m_title;
    ComPtr<Controls> m_controls;
    std::vector<Row> m_rows;
};

using ProcAmpPage = ControlPage<IAMVideoProcAmp>;
using CameraControlPage = ControlPage<IAMCameraControl>;

// The television standards by flag, in the order the page lists them.
struct StandardName {
    LONG format;
    const char* name;
};
constexpr StandardName kStandardNames[] = {
    {AnalogVideo_NTSC_M, "NTSC_M"},     {AnalogVideo_NTSC_M_J, "NTSC_M_J"},
    {AnalogVideo_NTSC_433, "NTSC_433"}, {AnalogVideo_PAL_B, "PAL_B"},
    {AnalogVideo_PAL_D, "PAL_D"},       {AnalogVideo_PAL_G, "PAL_G"},
    {AnalogVideo_PAL_H, "PAL_H"},       {AnalogVideo_PAL_I, "PAL_I"},
    {AnalogVideo_PAL_M, "PAL_M"},       {AnalogVideo_PAL_N, "PAL_N"},
    {AnalogVideo_PAL_60, "PAL_60"},     {AnalogVideo_PAL_N_COMBO, "PAL_N_COMBO"},
    {AnalogVideo_SECAM_B, "SECAM_B"},   {AnalogVideo_SECAM_D, "SECAM_D"},
    {AnalogVideo_SECAM_G, "SECAM_G"},   {AnalogVideo_SECAM_H, "SECAM_H"},
    {AnalogVideo_SECAM_K, "SECAM_K"},   {AnalogVideo_SECAM_K1, "SECAM_K1"},
    {AnalogVideo_SECAM_L, "SECAM_L"},   {AnalogVideo_SECAM_L1, "SECAM_L1"},
};

QString StandardsText(LONG formats) {
    QStringList names;
    for (const StandardName& s : kStandardNames)
        if (formats & s.format)
            names << QString::fromLatin1(s.name);
    return names.isEmpty() ? QStringLiteral("None") : names.join(QStringLiteral(", "));
}

// The standard, with what the decoder detects and whether it has a signal
// (read when the page opens and after Apply).
class VideoDecoderPage final : public PropertyPage {
public:
    VideoDecoderPage(ComPtr<IAMAnalogVideoDecoder> decoder, ComPtr<IAnalogVideoDetails> details)
        : m_decoder(std::move(decoder)), m_details(std::move(details)) {
        auto* grid = new QGridLayout(this);
        LONG available = 0;
        m_decoder->get_AvailableTVFormats(&available);
        m_standard = new QComboBox(this);
        m_standard->setObjectName(QStringLiteral("Standard"));
        for (const StandardName& s : kStandardNames)
            if (available & s.format)
                m_standard->addItem(QString::fromLatin1(s.name), int(s.format));
        grid->addWidget(new QLabel(QStringLiteral("Video Standard"), this), 0, 0);
        grid->addWidget(m_standard, 0, 1);
        m_detected = AddText(grid, 1, QStringLiteral("Detected"));
        m_signal = AddText(grid, 2, QStringLiteral("Signal"));
        m_lines = AddText(grid, 3, QStringLiteral("Lines"));
        grid->setColumnStretch(1, 1);
        grid->setRowStretch(4, 1);
        connect(m_standard, &QComboBox::activated, this, [this] { SetDirty(); });
        Read();
    }
    bool Empty() const { return m_standard->count() == 0; }
    QString Title() const override { return QStringLiteral("Video Decoder"); }
    void Apply() override {
        m_decoder->put_TVFormat(LONG(m_standard->currentData().toInt()));
        Read();
        SetClean();
    }

private:
    QLabel* AddText(QGridLayout* grid, int row, const QString& name) {
        grid->addWidget(new QLabel(name, this), row, 0);
        auto* label = new QLabel(QStringLiteral("-"), this);
        label->setObjectName(name);
        grid->addWidget(label, row, 1);
        return label;
    }
    void Read() {
        LONG format = 0, locked = 0, lines = 0, detected = 0;
        if (SUCCEEDED(m_decoder->get_TVFormat(&format)))
            m_standard->setCurrentIndex(m_standard->findData(int(format)));
        if (m_details) {
            const HRESULT hr = m_details->GetDetectedTVFormat(&detected);
            m_detected->setText(SUCCEEDED(hr) ? StandardsText(detected) : QStringLiteral("-"));
        }
        if (SUCCEEDED(m_decoder->get_HorizontalLocked(&locked)))
            m_signal->setText(locked ? QStringLiteral("Locked") : QStringLiteral("No signal"));
        if (SUCCEEDED(m_decoder->get_NumberOfLines(&lines)))
            m_lines->setText(QString::number(lines));
    }

    ComPtr<IAMAnalogVideoDecoder> m_decoder;
    ComPtr<IAnalogVideoDetails> m_details;
    QComboBox* m_standard = nullptr;
    QLabel* m_detected = nullptr;
    QLabel* m_signal = nullptr;
    QLabel* m_lines = nullptr;
};

QString ConnectorName(LONG type) {
    switch (type) {
        case PhysConn_Video_Tuner:
        case PhysConn_Audio_Tuner:
            return QStringLiteral("Tuner");
        case PhysConn_Video_Composite:
            return QStringLiteral("Composite");
        case PhysConn_Video_SVideo:
            return QStringLiteral("S-Video");
        case PhysConn_Video_RGB:
            return QStringLiteral("RGB");
        case PhysConn_Video_YRYBY:
            return QStringLiteral("Component");
        case PhysConn_Video_SerialDigital:
        case PhysConn_Video_ParallelDigital:
            return QStringLiteral("Digital");
        case PhysConn_Video_SCART:
            return QStringLiteral("SCART");
        case PhysConn_Audio_Line:
            return QStringLiteral("Line");
        case PhysConn_Audio_Mic:
            return QStringLiteral("Microphone");
        default:
            return QStringLiteral("Input");
    }
}

// The video input, and the audio input that goes with it: choosing a video
// input chooses the sound the card pairs with it, which the user may change.
class CrossbarPage final : public PropertyPage {
public:
    CrossbarPage(ComPtr<IAMCrossbar> crossbar, ComPtr<IAnalogVideoDetails> details)
        : m_crossbar(std::move(crossbar)) {
        auto* grid = new QGridLayout(this);
        LONG outputs = 0, inputs = 0;
        m_crossbar->get_PinCounts(&outputs, &inputs);
        m_video = AddList(grid, 0, QStringLiteral("Video Input"));
        if (outputs > 1)
            m_audio = AddList(grid, 1, QStringLiteral("Audio Input"));
        for (LONG i = 0; i < inputs; ++i) {
            LONG related = -1, type = 0;
            if (FAILED(m_crossbar->get_CrossbarPinInfo(TRUE, i, &related, &type)))
                continue;
            const bool audio = type >= PhysConn_Audio_Tuner;
            QComboBox* list = audio ? m_audio : m_video;
            if (!list)
                continue;
            QString text = QString::number(i) + QStringLiteral(": ") + ConnectorName(type);
            LPWSTR name = nullptr;
            if (details && SUCCEEDED(details->GetPinName(TRUE, i, &name)) && name)
                text = QString::fromUtf16(name) + QStringLiteral(" (") + ConnectorName(type) +
                       QStringLiteral(")");
            CoTaskMemFree(name);
            list->addItem(text, int(i));
            m_related[i] = related;
        }
        grid->setColumnStretch(1, 1);
        grid->setRowStretch(2, 1);
        connect(m_video, &QComboBox::activated, this, [this] {
            if (m_audio) {
                const LONG related = m_related[LONG(m_video->currentData().toInt())];
                if (related >= 0)
                    m_audio->setCurrentIndex(m_audio->findData(int(related)));
            }
            SetDirty();
        });
        if (m_audio)
            connect(m_audio, &QComboBox::activated, this, [this] { SetDirty(); });
        Read();
    }
    bool Empty() const { return m_video->count() == 0; }
    QString Title() const override { return QStringLiteral("Crossbar"); }
    void Apply() override {
        const int video = m_video->currentData().toInt();
        const int audio = m_audio ? m_audio->currentData().toInt() : -1;
        if (m_video->currentIndex() >= 0)
            m_crossbar->Route(0, video);
        // Routing the video brought its own sound; another one chosen goes
        // after it.
        LONG routed = -1;
        if (m_audio && m_audio->currentIndex() >= 0 &&
            (FAILED(m_crossbar->get_IsRoutedTo(1, &routed)) || routed != audio))
            m_crossbar->Route(1, audio);
        Read();
        SetClean();
    }

private:
    QComboBox* AddList(QGridLayout* grid, int row, const QString& name) {
        grid->addWidget(new QLabel(name, this), row, 0);
        auto* list = new QComboBox(this);
        list->setObjectName(name);
        grid->addWidget(list, row, 1);
        return list;
    }
    void Read() {
        LONG routed = -1;
        if (SUCCEEDED(m_crossbar->get_IsRoutedTo(0, &routed)))
            m_video->setCurrentIndex(m_video->findData(int(routed)));
        if (m_audio && SUCCEEDED(m_crossbar->get_IsRoutedTo(1, &routed)))
            m_audio->setCurrentIndex(m_audio->findData(int(routed)));
    }

    ComPtr<IAMCrossbar> m_crossbar;
    QComboBox* m_video = nullptr;
    QComboBox* m_audio = nullptr;
    std::map<LONG, LONG> m_related;
};

// Compression quality and the capture pin's format: every format the pin
// offers, with the one it has now chosen. Apply sets the format on the pin
// (as the device settings' format list does); a pin whose graph runs takes
// no other format, so the list is disabled then.
class CapturePage final : public PropertyPage {
public:
    CapturePage(ComPtr<IAMVideoCompression> compression, ComPtr<IAMStreamConfig> config,
                bool running)
        : m_compression(std::move(compression)), m_config(std::move(config)) {
        auto* grid = new QGridLayout(this);
        double quality = 0;
        m_compression->get_Quality(&quality);
        const int value = static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100));
        m_slider = MakeSlider(this, QStringLiteral("Quality"), 0, 100, 1, value);
        QLabel* label = ValueLabel(this, QStringLiteral("Quality"), value);
        grid->addWidget(new QLabel(QStringLiteral("Quality"), this), 0, 0);
        grid->addWidget(m_slider, 0, 1);
        grid->addWidget(label, 0, 2);
        m_formats = new QComboBox(this);
        m_formats->setObjectName(QStringLiteral("Format"));
        FillFormats();
        m_formats->setEnabled(!running && m_formats->count() > 1);
        grid->addWidget(new QLabel(QStringLiteral("Format"), this), 1, 0);
        grid->addWidget(m_formats, 1, 1, 1, 2);
        connect(m_slider, &QSlider::valueChanged, this, [this, label](int v) {
            label->setText(QString::number(v));
            SetDirty();
        });
        connect(m_formats, &QComboBox::activated, this, [this] { SetDirty(); });
    }
    QString Title() const override { return QStringLiteral("Capture"); }
    void Apply() override {
        m_compression->put_Quality(m_slider->value() / 100.0);
        const int chosen = m_formats->currentIndex();
        if (m_config && chosen >= 0 && chosen != m_current) {
            AM_MEDIA_TYPE* mt = nullptr;
            BYTE caps[sizeof(VIDEO_STREAM_CONFIG_CAPS)];
            if (m_config->GetStreamCaps(m_formats->currentData().toInt(), &mt, caps) == S_OK &&
                mt) {
                m_config->SetFormat(mt);
                DeleteMediaType(mt);
            }
            // What the pin took, which a refusal leaves as it was.
            FillFormats();
        }
        SetClean();
    }

private:
    // The pin's formats in its own order, the current one selected; a pin
    // without the interface shows "-".
    void FillFormats() {
        const QSignalBlocker quiet(m_formats);
        m_formats->clear();
        m_current = -1;
        AM_MEDIA_TYPE* current = nullptr;
        if (!m_config || FAILED(m_config->GetFormat(&current)) || !current) {
            m_formats->addItem(QStringLiteral("-"));
            return;
        }
        int count = 0, size = 0;
        m_config->GetNumberOfCapabilities(&count, &size);
        BYTE caps[sizeof(VIDEO_STREAM_CONFIG_CAPS)];
        for (int i = 0; i < count && size_t(size) <= sizeof caps; ++i) {
            AM_MEDIA_TYPE* mt = nullptr;
            if (m_config->GetStreamCaps(i, &mt, caps) != S_OK || !mt)
                continue;
            if (m_current < 0 && SameFormat(*mt, *current))
                m_current = m_formats->count();
            m_formats->addItem(QString::fromStdString(DescribeMediaType(*mt)), i);
            DeleteMediaType(mt);
        }
        if (m_current < 0) {
            // A current format outside the list (a driver's own) is shown too.
            m_current = m_formats->count();
            m_formats->addItem(QString::fromStdString(DescribeMediaType(*current)), -1);
        }
        m_formats->setCurrentIndex(m_current);
        DeleteMediaType(current);
    }
    static bool SameFormat(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
        return a.majortype == b.majortype && a.subtype == b.subtype &&
               a.formattype == b.formattype && a.cbFormat == b.cbFormat &&
               (a.cbFormat == 0 || std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0);
    }

    ComPtr<IAMVideoCompression> m_compression;
    ComPtr<IAMStreamConfig> m_config;
    QSlider* m_slider = nullptr;
    QComboBox* m_formats = nullptr;
    int m_current = -1;  // the line of the pin's format
};

class AudioMixerPage final : public PropertyPage {
public:
    explicit AudioMixerPage(IBaseFilter* filter) {
        auto* grid = new QGridLayout(this);
        int row = 0;
        for (ComPtr<IPin>& pin : FilterPins(filter)) {
            if (PinDirection(pin.Get()) != PINDIR_INPUT)
                continue;
            ComPtr<IAMAudioInputMixer> mixer = pin.As<IAMAudioInputMixer>();
            if (!mixer)
                continue;
            const QString name = QString::fromStdU16String(PinName(pin.Get()));
            BOOL enabled = 0;
            double level = 0;
            mixer->get_Enable(&enabled);
            mixer->get_MixLevel(&level);
            auto* check = new QCheckBox(name, this);
            check->setObjectName(name);
            check->setChecked(enabled != 0);
            const int percent = static_cast<int>(std::lround(std::clamp(level, 0.0, 1.0) * 100));
            QSlider* slider = MakeSlider(this, name + QStringLiteral(" Level"), 0, 100, 1, percent);
            QLabel* label = ValueLabel(this, name + QStringLiteral(" Level"), percent);
            grid->addWidget(check, row, 0);
            grid->addWidget(slider, row, 1);
            grid->addWidget(label, row, 2);
            ++row;
            m_lines.push_back({mixer, check, slider, enabled != 0, percent});
            // Whether lines exclude each other is the device's business: the
            // page shows what the device made of a change once it is applied.
            connect(check, &QCheckBox::toggled, this, [this] { SetDirty(); });
            connect(slider, &QSlider::valueChanged, this, [this, label](int v) {
                label->setText(QString::number(v));
                SetDirty();
            });
        }
    }
    bool Empty() const { return m_lines.empty(); }
    QString Title() const override { return QStringLiteral("Audio Mixer"); }
    void Apply() override {
        for (Line& l : m_lines) {
            if (l.slider->value() != l.level)
                l.mixer->put_MixLevel(l.slider->value() / 100.0);
            l.level = l.slider->value();
        }
        // Disable first, so the enabled line is the one the user checked.
        for (Line& l : m_lines)
            if (!l.check->isChecked() && l.enabled)
                l.mixer->put_Enable(FALSE);
        for (Line& l : m_lines)
            if (l.check->isChecked() && !l.enabled)
                l.mixer->put_Enable(TRUE);
        for (Line& l : m_lines) {
            BOOL enabled = 0;
            l.enabled =
                SUCCEEDED(l.mixer->get_Enable(&enabled)) ? enabled != 0 : l.check->isChecked();
            const QSignalBlocker quiet(l.check);
            l.check->setChecked(l.enabled);
        }
        SetClean();
    }

private:
    struct Line {
        ComPtr<IAMAudioInputMixer> mixer;
        QCheckBox* check;
        QSlider* slider;
        bool enabled;
        int level;
    };
    std::vector<Line> m_lines;
};

// Read only: the deck's folder and the file of its current or last run, as
// they are when the page opens.
class TapePage final : public PropertyPage {
public:
    explicit TapePage(ComPtr<ITapeDeck> deck) {
        auto* grid = new QGridLayout(this);
        AddRow(grid, 0, QStringLiteral("Folder"), Take(deck, &ITapeDeck::GetTapeFolder));
        QString last = Take(deck, &ITapeDeck::GetLastRecording);
        AddRow(grid, 1, QStringLiteral("Last recording"),
               last.isEmpty() ? QStringLiteral("(none)") : last);
        grid->setColumnStretch(1, 1);
        grid->setRowStretch(2, 1);
    }
    QString Title() const override { return QStringLiteral("Tape"); }
    void Apply() override { SetClean(); }

private:
    static QString Take(const ComPtr<ITapeDeck>& deck, HRESULT (ITapeDeck::*get)(LPWSTR*)) {
        LPWSTR text = nullptr;
        if (FAILED((deck.Get()->*get)(&text)) || !text)
            return {};
        QString result = QString::fromUtf16(text);
        CoTaskMemFree(text);
        return result;
    }
    void AddRow(QGridLayout* grid, int row, const QString& name, const QString& value) {
        grid->addWidget(new QLabel(name, this), row, 0);
        auto* label = new QLabel(value, this);
        label->setObjectName(name);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(label, row, 1);
    }
};

}  // namespace

void RegisterDevicePropertyPages() {
    RegisterPropertyPage(CLSID_VideoProcAmpPropertyPage,
                         [](std::span<IUnknown* const> objects) -> std::unique_ptr<PropertyPage> {
                             for (IUnknown* o : objects)
                                 if (auto amp = Query<IAMVideoProcAmp>(o)) {
                                     auto page = std::make_unique<ProcAmpPage>(
                                         QStringLiteral("Video Proc Amp"), amp,
                                         Query<IDeviceControlNames>(o), kVideoProcAmpProperties);
                                     if (!page->Empty())
                                         return page;
                                 }
                             return nullptr;
                         });
    RegisterPropertyPage(CLSID_CameraControlPropertyPage,
                         [](std::span<IUnknown* const> objects) -> std::unique_ptr<PropertyPage> {
                             for (IUnknown* o : objects)
                                 if (auto lens = Query<IAMCameraControl>(o)) {
                                     auto page = std::make_unique<CameraControlPage>(
                                         QStringLiteral("Camera Control"), lens,
                                         Query<IDeviceControlNames>(o), kCameraControlProperties);
                                     if (!page->Empty())
                                         return page;
                                 }
                             return nullptr;
                         });
    RegisterPropertyPage(CLSID_VideoDecoderPropertyPage,
                         [](std::span<IUnknown* const> objects) -> std::unique_ptr<PropertyPage> {
                             for (IUnknown* o : objects)
                                 if (auto decoder = Query<IAMAnalogVideoDecoder>(o)) {
                                     auto page = std::make_unique<VideoDecoderPage>(
                                         decoder, Query<IAnalogVideoDetails>(o));
                                     if (!page->Empty())
                                         return page;
                                 }
                             return nullptr;
                         });
    RegisterPropertyPage(CLSID_CrossbarPropertyPage,
                         [](std::span<IUnknown* const> objects) -> std::unique_ptr<PropertyPage> {
                             for (IUnknown* o : objects)
                                 if (auto crossbar = Query<IAMCrossbar>(o)) {
                                     auto page = std::make_unique<CrossbarPage>(
                                         crossbar, Query<IAnalogVideoDetails>(o));
                                     if (!page->Empty())
                                         return page;
                                 }
                             return nullptr;
                         });
    RegisterPropertyPage(
        CLSID_CapturePropertyPage,
        [](std::span<IUnknown* const> objects) -> std::unique_ptr<PropertyPage> {
            for (IUnknown* o : objects)
                if (ComPtr<IAMVideoCompression> c = FromPins<IAMVideoCompression>(o, PINDIR_OUTPUT))
                    return std::make_unique<CapturePage>(
                        c, FromPins<IAMStreamConfig>(o, PINDIR_OUTPUT), Running(o));
            return nullptr;
        });
    RegisterPropertyPage(CLSID_AudioMixerPropertyPage,
                         [](std::span<IUnknown* const> objects) -> std::unique_ptr<PropertyPage> {
                             for (IUnknown* o : objects) {
                                 ComPtr<IBaseFilter> filter;
                                 if (FAILED(o->QueryInterface(IBaseFilter::iid, filter.OutVoid())))
                                     continue;
                                 auto page = std::make_unique<AudioMixerPage>(filter.Get());
                                 if (!page->Empty())
                                     return page;
                             }
                             return nullptr;
                         });
    RegisterPropertyPage(CLSID_TapePropertyPage,
                         [](std::span<IUnknown* const> objects) -> std::unique_ptr<PropertyPage> {
                             for (IUnknown* o : objects) {
                                 ComPtr<ITapeDeck> deck;
                                 if (SUCCEEDED(o->QueryInterface(ITapeDeck::iid, deck.OutVoid())))
                                     return std::make_unique<TapePage>(deck);
                             }
                             return nullptr;
                         });
}

}  // namespace ronvix::media
