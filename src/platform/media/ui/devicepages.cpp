// The property pages of the engine's devices: "Video Proc Amp" (a slider per
// picture property), "Capture" (compression quality and current format) and
// "Audio Mixer" (each input line's enable and level) and "Tape" (where a tape
// deck records).

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <cmath>

#include "platform/com/oleauto.h"
#include "platform/media/devices/propertypages.h"
#include "platform/media/devices/tapedeck.h"
#include "platform/media/pinutil.h"
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

class VideoProcAmpPage final : public PropertyPage {
public:
    explicit VideoProcAmpPage(ComPtr<IAMVideoProcAmp> amp) : m_amp(std::move(amp)) {
        auto* grid = new QGridLayout(this);
        struct Property {
            LONG id;
            const char* name;
        };
        const Property properties[] = {{VideoProcAmp_Brightness, "Brightness"},
                                       {VideoProcAmp_Contrast, "Contrast"},
                                       {VideoProcAmp_Saturation, "Saturation"},
                                       {VideoProcAmp_Sharpness, "Sharpness"}};
        int row = 0;
        for (const Property& p : properties) {
            LONG min = 0, max = 0, step = 0, def = 0, caps = 0, value = 0, flags = 0;
            if (FAILED(m_amp->GetRange(p.id, &min, &max, &step, &def, &caps)) ||
                FAILED(m_amp->Get(p.id, &value, &flags)))
                continue;
            const QString name = QString::fromLatin1(p.name);
            QSlider* slider = MakeSlider(this, name, min, max, step, value);
            QLabel* label = ValueLabel(this, name, value);
            grid->addWidget(new QLabel(name, this), row, 0);
            grid->addWidget(slider, row, 1);
            grid->addWidget(label, row, 2);
            ++row;
            m_sliders.push_back({p.id, slider, false});
            const size_t index = m_sliders.size() - 1;
            connect(slider, &QSlider::valueChanged, this, [this, label, index](int v) {
                label->setText(QString::number(v));
                m_sliders[index].changed = true;
                SetDirty();
            });
        }
    }
    bool Empty() const { return m_sliders.empty(); }
    QString Title() const override { return QStringLiteral("Video Proc Amp"); }
    void Apply() override {
        for (Entry& e : m_sliders)
            if (e.changed) {
                m_amp->Set(e.id, e.slider->value(), VideoProcAmp_Flags_Manual);
                e.changed = false;
            }
        SetClean();
    }

private:
    struct Entry {
        LONG id;
        QSlider* slider;
        bool changed;
    };
    ComPtr<IAMVideoProcAmp> m_amp;
    std::vector<Entry> m_sliders;
};

class CapturePage final : public PropertyPage {
public:
    CapturePage(ComPtr<IAMVideoCompression> compression, ComPtr<IAMStreamConfig> config)
        : m_compression(std::move(compression)) {
        auto* grid = new QGridLayout(this);
        double quality = 0;
        m_compression->get_Quality(&quality);
        const int value = static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100));
        m_slider = MakeSlider(this, QStringLiteral("Quality"), 0, 100, 1, value);
        QLabel* label = ValueLabel(this, QStringLiteral("Quality"), value);
        grid->addWidget(new QLabel(QStringLiteral("Quality"), this), 0, 0);
        grid->addWidget(m_slider, 0, 1);
        grid->addWidget(label, 0, 2);
        QString format = QStringLiteral("-");
        AM_MEDIA_TYPE* mt = nullptr;
        if (config && SUCCEEDED(config->GetFormat(&mt)) && mt) {
            format = QString::fromStdString(DescribeMediaType(*mt));
            DeleteMediaType(mt);
        }
        auto* format_label = new QLabel(format, this);
        format_label->setObjectName(QStringLiteral("Format"));
        grid->addWidget(new QLabel(QStringLiteral("Format"), this), 1, 0);
        grid->addWidget(format_label, 1, 1, 1, 2);
        connect(m_slider, &QSlider::valueChanged, this, [this, label](int v) {
            label->setText(QString::number(v));
            SetDirty();
        });
    }
    QString Title() const override { return QStringLiteral("Capture"); }
    void Apply() override {
        m_compression->put_Quality(m_slider->value() / 100.0);
        SetClean();
    }

private:
    ComPtr<IAMVideoCompression> m_compression;
    QSlider* m_slider = nullptr;
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
    RegisterPropertyPage(
        CLSID_VideoProcAmpPropertyPage,
        [](std::span<IUnknown* const> objects) -> std::unique_ptr<PropertyPage> {
            for (IUnknown* o : objects) {
                ComPtr<IAMVideoProcAmp> amp;
                if (SUCCEEDED(o->QueryInterface(IAMVideoProcAmp::iid, amp.OutVoid()))) {
                    auto page = std::make_unique<VideoProcAmpPage>(amp);
                    if (!page->Empty())
                        return page;
                }
            }
            return nullptr;
        });
    RegisterPropertyPage(
        CLSID_CapturePropertyPage,
        [](std::span<IUnknown* const> objects) -> std::unique_ptr<PropertyPage> {
            for (IUnknown* o : objects)
                if (ComPtr<IAMVideoCompression> c = FromPins<IAMVideoCompression>(o, PINDIR_OUTPUT))
                    return std::make_unique<CapturePage>(
                        c, FromPins<IAMStreamConfig>(o, PINDIR_OUTPUT));
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
