#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QDir>

#include "platform/win/profile.h"
#include "platform/win/profile_document.h"
#include "win_test_util.h"

using namespace ronvix::win;
using ronvix::win::testing::ReadText;
using ronvix::win::testing::ScopedEnv;
using ronvix::win::testing::WriteText;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    ProfileTest()
        : m_config("XDG_CONFIG_HOME", m_dir.path().toStdString() + "/config"),
          m_drive("RONVIX_DRIVE_C", m_dir.path().toStdString()) {}

    std::string Get(const char* section, const char* key, const char* def = "<default>",
                    const char* file = "ZELK.ini") {
        char buf[2048];
        DWORD n = GetPrivateProfileStringA(section, key, def, buf, sizeof buf, file);
        return std::string(buf, n);
    }
    std::string Path(const std::string& name = "ZELK.ini") {
        return m_dir.path().toStdString() + "/config/ronvix/" + name;
    }
    void Seed(const std::string& text) {
        QDir().mkpath(QString::fromStdString(m_dir.path().toStdString() + "/config/ronvix"));
        WriteText(Path(), text);
    }

    QTemporaryDir m_dir;
    ScopedEnv m_config;
    ScopedEnv m_drive;
};

}  // namespace

TEST_F(ProfileTest, BareNamesLiveInTheConfigFolderWhichTheFirstWriteCreates) {
    EXPECT_EQ(ProfilePath("ZELK.ini"), Path());
    EXPECT_EQ(Get("TMainForm", "Flags"), "<default>");
    ASSERT_TRUE(WritePrivateProfileStringA("TMainForm", "Flags", "0", "ZELK.ini"));
    EXPECT_EQ(ReadText(Path()), "[TMainForm]\nFlags=0\n");
    // Names with a drive are mapped like every file name.
    ASSERT_TRUE(WritePrivateProfileStringA("S", "k", "v", "c:\\other.ini"));
    EXPECT_EQ(ReadText(m_dir.path().toStdString() + "/other.ini"), "[S]\nk=v\n");
}

TEST_F(ProfileTest, ReadsIgnoreCaseAndStripBlanksThenOneQuotePair) {
    Seed(
        "; settings\n[TMainForm]\n  VideoFormats_ItemIndex = 3  \nA=\"\"quoted\"\"\nB= 'single' \n"
        "C=\"unbalanced'\nD=\"\"\nE=  \n[tmainform]\nVideoFormats_ItemIndex=9\n");
    EXPECT_EQ(Get("tmainform", "videoformats_itemindex"), "3");  // the first section counts
    EXPECT_EQ(Get("TMAINFORM", "A"), "\"quoted\"");
    EXPECT_EQ(Get("TMainForm", "B"), "single");
    EXPECT_EQ(Get("TMainForm", "C"), "\"unbalanced'");
    EXPECT_EQ(Get("TMainForm", "D"), "");
    EXPECT_EQ(Get("TMainForm", "E"), "");
    EXPECT_EQ(Get("TMainForm", "missing", "dflt  "), "dflt");
    EXPECT_EQ(Get("Nope", "A", nullptr), "");
    EXPECT_EQ(GetPrivateProfileIntA("TMainForm", "VideoFormats_ItemIndex", -1, "ZELK.ini"), 3);
    EXPECT_EQ(GetPrivateProfileIntA("TMainForm", "missing", -1, "ZELK.ini"), -1);
    EXPECT_EQ(GetPrivateProfileIntA("TMainForm", "B", -1, "ZELK.ini"), 0);

    // A written text that begins and ends with quotes reads back unchanged
    // when the writer adds one more pair.
    ASSERT_TRUE(WritePrivateProfileStringA("TMainForm", "Q", "\"\"xyz\"\"", "ZELK.ini"));
    EXPECT_EQ(Get("TMainForm", "Q"), "\"xyz\"");
}

TEST_F(ProfileTest, ListsOfSectionsAndKeysWithTheirBufferRule) {
    Seed("[One]\na=1\nB=2\nA=3\n[Two]\n[one]\nc=4\n");
    char buf[64];
    DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "", buf, sizeof buf, "ZELK.ini");
    EXPECT_EQ(std::string(buf, n + 1), std::string("One\0Two\0\0", 9));
    n = GetPrivateProfileStringA("ONE", nullptr, "", buf, sizeof buf, "ZELK.ini");
    EXPECT_EQ(std::string(buf, n + 1), std::string("a\0B\0\0", 5));
    n = GetPrivateProfileStringA(nullptr, nullptr, "", buf, 6, "ZELK.ini");
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::string(buf, 6),
              std::string("One\0T\0", 6).substr(0, 4) + std::string("\0\0", 2));
    n = GetPrivateProfileStringA("One", "a", "", buf, 1, "ZELK.ini");
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(buf[0], '\0');
}

TEST_F(ProfileTest, WritesKeepEveryOtherLineByteForByte) {
    const std::string original =
        "\xEF\xBB\xBF; comment \xFF\xFE garbage\r\n[TMainForm]\r\nFlags=0\r\nweird line\r\n"
        "NormPos=1,2,3,4\r\n\r\n; trailing comment\r\n[Other]\r\nx = 1\r\n[TMainForm]\r\nFlags=7";
    Seed(original);
    ASSERT_TRUE(WritePrivateProfileStringA("tmainform", "FLAGS", "1", "ZELK.ini"));
    std::string expected = original;
    expected.replace(expected.find("Flags=0"), 7, "Flags=1");
    EXPECT_EQ(ReadText(Path()), expected);

    // A new key goes after the section's last key, with the file's line ending.
    ASSERT_TRUE(WritePrivateProfileStringA("TMainForm", "Visible", "0", "ZELK.ini"));
    expected.insert(expected.find("NormPos=1,2,3,4\r\n") + 17, "Visible=0\r\n");
    EXPECT_EQ(ReadText(Path()), expected);

    // A new section goes at the end; the last line gets its line ending.
    ASSERT_TRUE(WritePrivateProfileStringA("New", "k", "v", "ZELK.ini"));
    expected += "\r\n[New]\r\nk=v\r\n";
    EXPECT_EQ(ReadText(Path()), expected);
    EXPECT_EQ(Get("Other", "X"), "1");
}

TEST_F(ProfileTest, DeleteKeyAndEraseSection) {
    Seed("[A]\nk=1\nj=2\nk=3\n[B]\nm=1\n[a]\nk=9\n");
    ASSERT_TRUE(WritePrivateProfileStringA("A", "K", nullptr, "ZELK.ini"));
    EXPECT_EQ(Get("A", "k"), "<default>");
    EXPECT_EQ(ReadText(Path()), "[A]\nj=2\n[B]\nm=1\n[a]\nk=9\n");
    ASSERT_TRUE(WritePrivateProfileStringA("a", nullptr, nullptr, "ZELK.ini"));
    EXPECT_EQ(ReadText(Path()), "[B]\nm=1\n");
    // Removing what is not there succeeds and creates no file.
    EXPECT_TRUE(WritePrivateProfileStringA("A", "k", nullptr, "Fresh.ini"));
    EXPECT_TRUE(WritePrivateProfileStringA("A", nullptr, nullptr, "Fresh.ini"));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("Fresh.ini"))));
}

TEST_F(ProfileTest, TextsThatCouldNotReadBackAreRefused) {
    Seed("[S]\nk=1\n");
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "1\n[Evil]\nx=1", "ZELK.ini"));
    EXPECT_EQ(GetLastError(), ronvix::com::ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(WritePrivateProfileStringA("S", "a=b", "1", "ZELK.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("S]x", "a", "1", "ZELK.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "  ", "1", "ZELK.ini"));
    EXPECT_EQ(ReadText(Path()), "[S]\nk=1\n");
}

TEST_F(ProfileTest, FailedWritesReportFailureAndLeaveTheOldFile) {
    // A folder whose parent is a regular file cannot be made, even by root.
    WriteText(m_dir.path().toStdString() + "/plain", "x");
    {
        ScopedEnv config("XDG_CONFIG_HOME", m_dir.path().toStdString() + "/plain/config");
        EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", "ZELK.ini"));
        EXPECT_EQ(GetLastError(), ronvix::com::ERROR_PATH_NOT_FOUND);
    }
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", "c:\\plain\\x.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", "c:\\missing\\x.ini"));
    ScopedEnv q("RONVIX_DRIVE_Q", std::nullopt);
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", "q:\\x.ini"));

    // The disk refuses in the middle of the write (a file size limit stops
    // root as well): the old file stays whole and no temporary is left.
    Seed("[S]\nk=old\n");
    rlimit old_limit{};
    getrlimit(RLIMIT_FSIZE, &old_limit);
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old_limit;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    BOOL ok = WritePrivateProfileStringA("S", "k", std::string(200, 'n').c_str(), "ZELK.ini");
    DWORD error = GetLastError();
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(ok);
    EXPECT_NE(error, 0u);
    EXPECT_EQ(ReadText(Path()), "[S]\nk=old\n");
    EXPECT_EQ(QDir(QString::fromStdString(m_dir.path().toStdString() + "/config/ronvix"))
                  .entryList(QDir::Files | QDir::Hidden)
                  .size(),
              1);
}

TEST(ProfileDocument, HostileTextReadsWithoutHarm) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 131) & 0xFF);
    std::string long_line(1 << 20, 'v');
    ProfileDocument doc("[S]\nlong=" + long_line + "\n" + garbage + "\n[S]\nk=2\r\n[T\nk=3");
    EXPECT_EQ(doc.Get("S", "long")->size(), long_line.size());
    EXPECT_EQ(doc.Get("T", "k"), "3");  // a header without "]" still names a section
    std::string before = doc.Content();
    ASSERT_TRUE(doc.Set("T", "k", "4"));
    std::string after = doc.Content();
    EXPECT_EQ(after.substr(0, after.size() - 1), before.substr(0, before.size() - 1));
    EXPECT_EQ(doc.Get("T", "k"), "4");
}
