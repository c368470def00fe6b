#pragma once
// Every key the program keeps in ZELK.ini, in one table.
//
// A key is written as the control's object name and property joined by "_"
// ("ComboBox1_ItemIndex"): the names the file has always held, whatever the
// code calls the control now. The rows of kind Control are the window's
// stored properties, restored when the window is first shown and saved when
// it closes, in the table's order; the rows of kind Moniker are read and
// written by the device page, as are the rows of kind Device, kept in a
// section of each capture device's own ("Video device <moniker display
// name>"); the rows of kind Placement are the window's
// position, written by the form storage itself. Keys are case-blind in the
// file, as the profile service reads them.

#include <QString>
#include <QStringList>
#include <span>
#include <string_view>

namespace ronvix::app::pages {

// How a value is written.
enum class StoredType {
    Index,     // a list's position, a decimal number; -1 for none
    Flag,      // "True" or "False"
    Seconds,   // a whole number of seconds
    Text,      // the text as typed, quoted when it begins and ends with a quote
    Moniker,   // a device's moniker, as its device list names it
    Format,    // what a format is: "MJPG 1920x1080 30/1", "PCM 44100 16 1"
    Controls,  // control values by name: "Brightness=200, White Balance=auto"
    Geometry   // the window placement's own formats
};

enum class StoredKind { Control, Moniker, Device, Placement };

struct StoredSetting {
    std::string_view key;
    std::string_view section;
    StoredKind kind;
    StoredType type;
    // What an absent or unreadable value means (for a control, what the
    // window shows before anything is restored).
    std::string_view fallback;
    // Which part of the window reads and writes it.
    std::string_view owner;
};

inline constexpr std::string_view kSettingsFile = "ZELK.ini";
inline constexpr std::string_view kWindowSection = "TMainForm";

std::span<const StoredSetting> StoredSettings();

// The row of `key` (case-blind); the program only asks for keys it has.
const StoredSetting& StoredSettingOf(std::string_view key);

// The stored properties as the form storage names them ("ComboBox1.ItemIndex"),
// in the order they are restored and saved.
QStringList StoredControlProperties();

QString Key(const StoredSetting& setting);
// The section of a per-device row for the device `moniker`.
QString DeviceSection(const StoredSetting& setting, const QString& moniker);
QString Fallback(const StoredSetting& setting);

}  // namespace ronvix::app::pages
