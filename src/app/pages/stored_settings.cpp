#include "app/pages/stored_settings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace ronvix::app::pages {
namespace {

using K = StoredKind;
using T = StoredType;
constexpr std::string_view W = kWindowSection;

// clang-format off
constexpr StoredSetting kSettings[] = {
    // The window's stored properties, in the order they are saved.
    {"AudioCapFilters_ItemIndex",  W, K::Control, T::Index,   "-1",             "device page: audio capture device"},
    {"VideoCapFilters_ItemIndex",  W, K::Control, T::Index,   "-1",             "device page: video capture device"},
    {"savedialog_FileName",        W, K::Control, T::Text,    "c:\\capture.avi", "capture page: capture file"},
    {"VideoFormats_ItemIndex",     W, K::Control, T::Index,   "-1",             "device page: video format"},
    {"AudioFormats_ItemIndex",     W, K::Control, T::Index,   "-1",             "device page: audio format"},
    {"AudioDestFilters_ItemIndex", W, K::Control, T::Index,   "-1",             "device page: audio output"},
    {"VideoOutFilters_ItemIndex",  W, K::Control, T::Index,   "-1",             "device page: video output"},
    {"OverCheck_Checked",          W, K::Control, T::Flag,    "False",          "capture page: overwrite"},
    {"SourceFilename_Text",        W, K::Control, T::Text,    "c:\\capture.avi", "play-out page: file to play"},
    {"ComboBox1_ItemIndex",        W, K::Control, T::Index,   "1",              "window: capture priority"},
    {"StopAfterCheck_Checked",     W, K::Control, T::Flag,    "False",          "capture page: timed stop on"},
    {"StopAfterTime_Seconds",      W, K::Control, T::Seconds, "7200",           "capture page: timed stop after"},
    {"CompressionBox_ItemIndex",   W, K::Control, T::Index,   "0",              "capture page: compression"},
    {"SplitSize_ItemIndex",        W, K::Control, T::Index,   "0",              "capture page: split size"},
    // The chosen devices, found again wherever they stand in their lists.
    {"VideoCapFilters_Moniker",    W, K::Moniker, T::Moniker, "",               "device page: video capture device"},
    {"AudioCapFilters_Moniker",    W, K::Moniker, T::Moniker, "",               "device page: audio capture device"},
    {"VideoOutFilters_Moniker",    W, K::Moniker, T::Moniker, "",               "device page: video output"},
    {"AudioDestFilters_Moniker",   W, K::Moniker, T::Moniker, "",               "device page: audio output"},
    // Each capture device's own setup, in a section named after it.
    {"VideoInput",    "Video device <moniker>", K::Device, T::Index,   "", "device page: card's video input"},
    {"AudioInput",    "Video device <moniker>", K::Device, T::Index,   "", "device page: card's audio input"},
    {"VideoStandard", "Video device <moniker>", K::Device, T::Index,   "", "device page: card's TV standard"},
    {"VideoFormat",   "Video device <moniker>", K::Device, T::Format,  "", "device page: video format"},
    {"AudioFormat",   "Audio device <moniker>", K::Device, T::Format,  "", "device page: audio format"},
    {"VideoProcAmp",  "Video device <moniker>", K::Device, T::Controls, "", "picture controls the user set"},
    {"CameraControl", "Video device <moniker>", K::Device, T::Controls, "", "camera controls the user set"},
    // The window's placement; "MinMaxPos" and "NormPos" are also written
    // once more with the screen's size in the key ("NormPos(1280x1024)").
    {"FormVersion",                W, K::Placement, T::Geometry, "0",           "window placement"},
    {"Flags",                      W, K::Placement, T::Geometry, "0",           "window placement"},
    {"ShowCmd",                    W, K::Placement, T::Geometry, "1",           "window placement"},
    {"PixelsPerInch",              W, K::Placement, T::Geometry, "96",          "window placement"},
    {"MinMaxPos",                  W, K::Placement, T::Geometry, "",            "window placement"},
    {"NormPos",                    W, K::Placement, T::Geometry, "",            "window placement"},
    {"Visible",                    W, K::Placement, T::Geometry, "0",           "window placement"},
};
// clang-format on

bool SameKey(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

QString Latin1(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

std::span<const StoredSetting> StoredSettings() {
    return kSettings;
}

const StoredSetting& StoredSettingOf(std::string_view key) {
    for (const StoredSetting& s : kSettings)
        if (SameKey(s.key, key))
            return s;
    // A key the table lacks is a fault of this program, found by its tests.
    std::abort();
}

QStringList StoredControlProperties() {
    QStringList paths;
    for (const StoredSetting& s : kSettings)
        if (s.kind == StoredKind::Control)
            paths << Key(s).replace(QLatin1Char('_'), QLatin1Char('.'));
    return paths;
}

QString Key(const StoredSetting& setting) {
    return Latin1(setting.key);
}

QString DeviceSection(const StoredSetting& setting, const QString& moniker) {
    return Latin1(setting.section).replace(QStringLiteral("<moniker>"), moniker);
}

QString Fallback(const StoredSetting& setting) {
    return Latin1(setting.fallback);
}

}  // namespace ronvix::app::pages
