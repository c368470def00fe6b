// The settings file: what the table of stored settings says is what the
// window reads and writes, and a file of an earlier version comes back
// byte for byte.
#include <gtest/gtest.h>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <filesystem>
#include <memory>

#include "app/main_window.h"
#include "app/pages/stored_settings.h"
#include "platform/winui/dialogs.h"
#include "support/sandbox.h"

using namespace ronvix;
using ronvix::app::MainWindow;
namespace pages = ronvix::app::pages;

namespace {

QString IniPath(const ronvix::testing::ScopedSettingsFolder& folder) {
    return QString::fromStdString((folder.Folder() / "ronvix").string()) + "/ZELK.ini";
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The window shown and closed as a user would, with nothing else done.
void ShowAndClose() {
    win::ScriptedDialogs dialogs;
    auto form = std::make_unique<MainWindow>();
    form->Show();
    form->Close();
    form.reset();
    EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text.toStdString();
}

}  // namespace

// Written by the program before its window's code was rearranged; its keys,
// their order and their values' formats are what users' files hold.
TEST(StoredSettings, AFileOfAnEarlierVersionIsWrittenBackByteForByte) {
    // The placement keys name the screen's size.
    ASSERT_EQ(QGuiApplication::primaryScreen()->size(), QSize(800, 800));
    ronvix::testing::ScopedSettingsFolder folder;
    std::filesystem::create_directories(folder.Folder() / "ronvix");
    const QByteArray earlier =
        ReadAll(qEnvironmentVariable("RONVIX_SOURCE_DIR") + "/tests/app/data/stored_settings.ini");
    ASSERT_FALSE(earlier.isEmpty());
    {
        QFile f(IniPath(folder));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(earlier);
    }
    ShowAndClose();
    EXPECT_EQ(ReadAll(IniPath(folder)).toStdString(), earlier.toStdString());
}

// A first run writes each of the window's settings once, with the value the
// table names for a setting nobody chose, and no key the table lacks.
TEST(StoredSettings, AFirstRunWritesTheTablesKeysWithTheirFallbacks) {
    ronvix::testing::ScopedSettingsFolder folder;
    ShowAndClose();
    const QStringList lines =
        QString::fromUtf8(ReadAll(IniPath(folder))).split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.front(), "[" + QString::fromLatin1(pages::kWindowSection) + "]");
    QStringList written;
    for (const QString& line : lines.mid(1)) {
        const qsizetype eq = line.indexOf('=');
        ASSERT_GT(eq, 0) << line.toStdString();
        // "NormPos(800x800)" is NormPos for one screen size.
        const QString key = line.left(eq).remove(QRegularExpression(R"(\(\d+x\d+\)$)"));
        const QString value = line.mid(eq + 1);
        const pages::StoredSetting* row = nullptr;
        for (const pages::StoredSetting& s : pages::StoredSettings())
            if (pages::Key(s).compare(key, Qt::CaseInsensitive) == 0)
                row = &s;
        ASSERT_NE(row, nullptr) << "not in the table: " << line.toStdString();
        if (row->kind == pages::StoredKind::Control) {
            EXPECT_EQ(value.toStdString(), row->fallback) << line.toStdString();
            EXPECT_FALSE(written.contains(key)) << "written twice: " << line.toStdString();
        }
        written << key;
    }
    for (const pages::StoredSetting& s : pages::StoredSettings())
        EXPECT_TRUE(s.kind != pages::StoredKind::Control || written.contains(pages::Key(s)))
            << s.key;
}
