#pragma once
// Helpers for the settings tests: a settings folder per test, the file's
// text, forms built like the main window, and a storage whose screen the
// test chooses.

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <cstdlib>
#include <optional>
#include <string>

#include "controls/filenameedit.h"
#include "framework/form.h"
#include "settings/formstorage.h"

namespace ronvix::settings::testing {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        setenv(name, value.toUtf8().constData(), 1);
    }
    ~ScopedEnv() {
        if (m_old)
            setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// XDG_CONFIG_HOME in a fresh temporary folder, so bare settings file names
// land in <folder>/ronvix/.
class ConfigHome {
public:
    ConfigHome() : m_env("XDG_CONFIG_HOME", m_dir.path()) {}
    QString Folder() const { return m_dir.path(); }
    QString IniPath(const QString& name = QStringLiteral("ZELK.ini")) const {
        return m_dir.path() + QStringLiteral("/ronvix/") + name;
    }
    QByteArray Bytes(const QString& name = QStringLiteral("ZELK.ini")) const {
        QFile f(IniPath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool Exists(const QString& name = QStringLiteral("ZELK.ini")) const {
        return QFile::exists(IniPath(name));
    }
    void Write(const QByteArray& text, const QString& name = QStringLiteral("ZELK.ini")) const;

private:
    QTemporaryDir m_dir;
    ScopedEnv m_env;
};

// The value of `key` as the file holds it (without the profile service's
// quote stripping), or nothing.
std::optional<QString> RawValue(const QByteArray& file, const QString& key);

// A form with the main window's stored controls, of the same classes and
// names, inside a page widget like the main window's "Device settings".
class TMainForm : public fw::TForm {
    Q_OBJECT
public:
    enum class Border { Single, Sizeable };
    explicit TMainForm(Border border = Border::Single);
    ~TMainForm() override { DoDestroy(); }

    // Fills the device and format lists as the window's creation handler
    // does, so stored selections have items to select.
    void FillLists(int items = 5);

    QWidget* TabSheet2 = nullptr;
    QComboBox* AudioCapFilters = nullptr;
    QComboBox* VideoCapFilters = nullptr;
    controls::TFilenameEdit* savedialog = nullptr;
    QComboBox* VideoFormats = nullptr;
    QComboBox* AudioFormats = nullptr;
    QComboBox* AudioDestFilters = nullptr;
    QComboBox* VideoOutFilters = nullptr;
    QCheckBox* OverCheck = nullptr;
    controls::TFilenameEdit* SourceFilename = nullptr;
    QComboBox* ComboBox1 = nullptr;
};

// The main window's list, in its order.
QStringList MainWindowStoredProps();

// A storage that sees the screen the test sets.
class TTestStorage : public TFormStorage {
    Q_OBJECT
public:
    using TFormStorage::TFormStorage;
    TScreenMetrics screen{QSize(800, 600), 96, QRect(0, 0, 800, 600)};

protected:
    TScreenMetrics Screen() const override { return screen; }
};

// Makes a storage for `form` configured like the main window's and ends
// its loading.
TTestStorage* AttachStorage(fw::TForm* form, const QStringList& props = MainWindowStoredProps());

}  // namespace ronvix::settings::testing
