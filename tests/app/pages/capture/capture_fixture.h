#pragma once
// What the capture workflow's tests share: a recording priority service,
// a main window shown with scripted dialogs and its own settings folder,
// device picks as the user makes them, and readers of the files captured.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "app/main_window.h"
#include "platform/media/container/avi_probe.h"
#include "platform/media/devices/virtual/testpattern.h"
#include "platform/media/devices/virtual/virtualdevices.h"
#include "platform/win/priority.h"
#include "platform/winui/dialogs.h"
#include "support/sandbox.h"
#include "workflow/capture_texts.h"

namespace ronvix::testing {

class RecordingPriority : public win::PriorityService {
public:
    bool SetProcessClass(win::DWORD pid, win::DWORD priority_class) override {
        std::lock_guard g(lock);
        classes.push_back({pid, priority_class});
        return true;
    }
    win::DWORD ProcessClass(win::DWORD) override { return 0; }
    bool SetThreadLevel(win::DWORD, int) override { return true; }
    std::mutex lock;
    std::vector<std::pair<win::DWORD, win::DWORD>> classes;
};

inline RecordingPriority& Priority() {
    static RecordingPriority priority;
    return priority;
}

inline void Spin(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Spins until `done` holds or `ms` pass; returns whether it holds.
template <class F>
bool SpinUntil(F done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// The user picks the item named `name` of `combo`.
inline void Pick(QComboBox* combo, const QString& name) {
    const int index = combo->findText(name);
    ASSERT_GE(index, 0) << name.toStdString();
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// Chooses, as the user does, the first line of `combo` that holds both
// `a` and `b`.
inline void PickLine(QComboBox* combo, const char* a, const char* b) {
    for (int i = 0; i < combo->count(); ++i)
        if (combo->itemText(i).contains(QLatin1String(a)) &&
            combo->itemText(i).contains(QLatin1String(b))) {
            combo->setCurrentIndex(i);
            emit combo->activated(i);
            return;
        }
    ADD_FAILURE() << "no line with " << a << " and " << b;
}

// The Linux path of a name on drive C:.
inline QString DriveC(const QString& file) {
    return QString::fromLocal8Bit(qgetenv("RONVIX_DRIVE_C")) + QStringLiteral("/") + file;
}

// The frame number a camera picture carries, or nothing.
inline std::optional<uint32_t> BlockCode(const QImage& picture) {
    using namespace media;
    uint16_t rows[kCodeRows] = {};
    for (int r = 0; r < kCodeRows; ++r)
        for (int bit = 0; bit < kCodeColumns; ++bit) {
            const QRgb p = picture.pixel(kCodeLeft + bit * kCodeCell + kCodeCell / 2,
                                         kCodeTop + r * kCodeCell + kCodeCell / 2);
            if ((qRed(p) + qGreen(p) + qBlue(p)) / 3 > 128)
                rows[r] |= uint16_t(0x8000 >> bit);
        }
    if (rows[2] != uint16_t(~(rows[0] ^ rows[1])))
        return std::nullopt;
    return (uint32_t(rows[0]) << 16) | rows[1];
}

// The video frames of `path` as pictures, in file order.
inline std::vector<QImage> Frames(const QString& path, const QString& scratch) {
    QDir().mkpath(scratch);
    std::vector<QImage> frames;
    if (!media::test::RunTool("ffmpeg", {"-v", "error", "-y", "-i", path, "-map", "0:v",
                                         "-fps_mode", "passthrough", scratch + "/%06d.png"}))
        return frames;
    for (const QString& f : QDir(scratch).entryList({"*.png"}, QDir::Files, QDir::Name))
        frames.push_back(QImage(scratch + "/" + f));
    return frames;
}

// The first channel of the audio stream of `path`, 48 kHz.
inline std::vector<int16_t> Samples(const QString& path) {
    std::vector<int16_t> samples;
    const auto out = media::test::RunTool(
        "ffmpeg", {"-v", "error", "-i", path, "-map", "0:a", "-ac", "1", "-f", "s16le", "-"});
    if (!out)
        return samples;
    samples.resize(size_t(out->size()) / 2);
    memcpy(samples.data(), out->data(), samples.size() * 2);
    return samples;
}

// Sign changes a second over samples [from, to): twice the tone's frequency.
inline double Crossings(const std::vector<int16_t>& s, size_t from, size_t to) {
    int n = 0;
    for (size_t i = from + 1; i < to && i < s.size(); ++i)
        n += (s[i - 1] < 0) != (s[i] < 0);
    return n * 48000.0 / double(to - from);
}

class CaptureWindow : public ::testing::Test {
protected:
    void SetUp() override { Open(); }
    void TearDown() override { form.reset(); }

    void Open() {
        form = std::make_unique<app::MainWindow>();
        form->Show();
    }

    // Picks the virtual devices and names the capture file on drive C:.
    void ChooseDevices(bool video = true, bool audio = true) {
        form->tabs->setCurrentIndex(2);
        if (video)
            Pick(form->devicePage->videoDevices, QString::fromUtf8(media::kTestCameraName));
        if (audio)
            Pick(form->devicePage->audioDevices, QString::fromUtf8(media::kToneGeneratorName));
        form->tabs->setCurrentIndex(0);
    }

    void CaptureFor(int ms) {
        form->capturePage->startButton->click();
        ASSERT_TRUE(form->capturePage->stopButton->isEnabled()) << "the capture did not start";
        Spin(ms);
        form->capturePage->stopButton->click();
    }

    void ExpectNoBox() {
        EXPECT_TRUE(dialogs.unexpected.empty()) << dialogs.unexpected.front().toStdString();
        for (const auto& box : dialogs.boxes)
            ADD_FAILURE() << "box: " << box.text.toStdString();
    }

    ScopedSettingsFolder settings;
    win::ScriptedDialogs dialogs;
    QTemporaryDir scratch;
    std::unique_ptr<app::MainWindow> form;
};

}  // namespace ronvix::testing
