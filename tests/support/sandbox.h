#pragma once
// Every test process gets its own settings, drive C: and tape folders in a
// fresh temporary folder, so no test reads or writes the user's real files
// and parallel tests never share a settings file. Tests that need other
// places set the variables themselves; a child process a test starts keeps
// the variables it inherits.

#include <cstdlib>
#include <filesystem>
#include <string>

namespace ronvix::testing {

class ProcessSandbox {
public:
    ProcessSandbox() {
        if (std::getenv("RONVIX_TEST_SANDBOX") != nullptr)
            return;  // a test's child process
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ronvix-test-XXXXXX").string();
        if (char* made = mkdtemp(pattern.data())) {
            m_root = made;
            setenv("RONVIX_TEST_SANDBOX", m_root.c_str(), 1);
            Set("XDG_CONFIG_HOME", "config");
            Set("RONVIX_DRIVE_C", "c");
            Set("RONVIX_TAPE_DIR", "tape");
        }
    }
    ~ProcessSandbox() {
        std::error_code ignored;
        if (!m_root.empty())
            std::filesystem::remove_all(m_root, ignored);
    }
    ProcessSandbox(const ProcessSandbox&) = delete;
    ProcessSandbox& operator=(const ProcessSandbox&) = delete;

private:
    void Set(const char* variable, const char* sub) {
        const std::filesystem::path dir = m_root / sub;
        std::error_code ignored;
        std::filesystem::create_directories(dir, ignored);
        setenv(variable, dir.c_str(), 1);
    }
    std::filesystem::path m_root;
};

// Points the settings folder at a fresh temporary folder for one scope, so a
// test starts without what an earlier test in the same process saved.
class ScopedSettingsFolder {
public:
    ScopedSettingsFolder() {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        if (old)
            m_previous = old;
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ronvix-settings-XXXXXX").string();
        if (char* made = mkdtemp(pattern.data())) {
            m_folder = made;
            setenv("XDG_CONFIG_HOME", made, 1);
        }
    }
    ~ScopedSettingsFolder() {
        if (m_previous.empty())
            unsetenv("XDG_CONFIG_HOME");
        else
            setenv("XDG_CONFIG_HOME", m_previous.c_str(), 1);
        std::error_code ignored;
        if (!m_folder.empty())
            std::filesystem::remove_all(m_folder, ignored);
    }
    ScopedSettingsFolder(const ScopedSettingsFolder&) = delete;
    ScopedSettingsFolder& operator=(const ScopedSettingsFolder&) = delete;
    const std::filesystem::path& Folder() const { return m_folder; }

private:
    std::string m_previous;
    std::filesystem::path m_folder;
};

}  // namespace ronvix::testing
