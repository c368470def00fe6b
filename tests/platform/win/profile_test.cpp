#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QDir>
#include <array>

#include "platform/win/profile.h"
#include "platform/win/profile_document.h"
#include "win_test_util.h"

using namespace ronvix::win;
using ronvix::win::testing::ReadText;
using ronvix::win::testing::RunInChild;
using ronvix::win::testing::ScopedEnv;
using ronvix::win::testing::StartChild;
using ronvix::win::testing::WaitChild;
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
    // The names of the settings folder's files, hidden ones included.
    QStringList Files() {
        return QDir(QString::fromStdString(m_dir.path().toStdString() + "/config/ronvix"))
            .entryList(QDir::Files | QDir::Hidden | QDir::System);
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

    // A value that already reads as the one written keeps its line as it is.
    ASSERT_TRUE(WritePrivateProfileStringA("Other", "x", "\"1\" ", "ZELK.ini"));
    ASSERT_TRUE(WritePrivateProfileStringA("TMainForm", "NormPos", " 1,2,3,4", "ZELK.ini"));
    EXPECT_EQ(ReadText(Path()), expected);
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

// A batch is one edit: all of its changes or, when one of them could not be
// read back, none.
TEST_F(ProfileTest, ABatchAppliesAllOrNothing) {
    Seed("; kept\n[S]\na=1\nb=2\n[T]\nx=1\n");
    const std::array<ProfileChange, 5> changes{{{"S", "a", "10"},
                                                {"S", "b", std::nullopt},
                                                {"T", std::nullopt, std::nullopt},
                                                {"S", "c", "3"},
                                                {"U", "u", "1"}}};
    ASSERT_TRUE(FileProfileService().Apply("ZELK.ini", changes));
    EXPECT_EQ(ReadText(Path()), "; kept\n[S]\na=10\nc=3\n[U]\nu=1\n");

    const std::array<ProfileChange, 2> bad{{{"S", "a", "11"}, {"S", "b", "x\ny"}}};
    EXPECT_FALSE(FileProfileService().Apply("ZELK.ini", bad));
    EXPECT_EQ(GetLastError(), ronvix::com::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ReadText(Path()), "; kept\n[S]\na=10\nc=3\n[U]\nu=1\n");
}

namespace {

// Tries every kind of change on a file the caller may not write; returns
// what went wrong, or nothing.
std::string ReadOnlyFaults(const std::string& path) {
    std::string faults;
    struct stat before {};
    stat(path.c_str(), &before);
    const std::string text = ReadText(path);
    if (WritePrivateProfileStringA("S", "k", "new", "ZELK.ini") ||
        GetLastError() != ronvix::com::ERROR_ACCESS_DENIED)
        faults += "a new value was written; ";
    if (WritePrivateProfileStringA("S", "k", nullptr, "ZELK.ini"))
        faults += "a key was deleted; ";
    if (WritePrivateProfileStringA("S", nullptr, nullptr, "ZELK.ini"))
        faults += "the section was erased; ";
    if (!WritePrivateProfileStringA("S", "k", "old", "ZELK.ini"))
        faults += "a write that changes nothing failed; ";
    struct stat after {};
    stat(path.c_str(), &after);
    if (ReadText(path) != text || after.st_ino != before.st_ino ||
        after.st_mode != before.st_mode || after.st_gid != before.st_gid)
        faults += "the file changed; ";
    if (QDir(QString::fromStdString(path.substr(0, path.rfind('/'))))
            .entryList(QDir::Files | QDir::Hidden)
            .size() != 1)
        faults += "a file was left beside it; ";
    return faults;
}

}  // namespace

// A file nobody may write is read-only for root as well (the kernel lets
// root write, and a rename ignores the mode), and a file of another user is
// not replaced through a folder the caller may write.
TEST_F(ProfileTest, ReadOnlyFilesStayAsTheyAre) {
    Seed("[S]\nk=old\n");
    ASSERT_EQ(chmod(Path().c_str(), 0444), 0);
    EXPECT_EQ(ReadOnlyFaults(Path()), "");
    EXPECT_EQ(Get("S", "k"), "old");
    if (geteuid() != 0)
        return;

    // The same as an unprivileged user: once with a file of its own, once
    // with root's file, writable only by root, in a folder it may write.
    constexpr uid_t kNobody = 65534;
    const std::string folder = Path().substr(0, Path().rfind('/'));
    ASSERT_EQ(chmod(m_dir.path().toStdString().c_str(), 0755), 0);
    ASSERT_EQ(chmod((m_dir.path().toStdString() + "/config").c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    for (const bool own_file : {true, false}) {
        ASSERT_EQ(chmod(Path().c_str(), own_file ? 0444 : 0644), 0);
        ASSERT_EQ(chown(Path().c_str(), own_file ? kNobody : 0, own_file ? kNobody : 0), 0);
        std::string faults;
        const int code = RunInChild([&] {
            if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
                return 2;
            faults = ReadOnlyFaults(Path());
            std::fputs(faults.c_str(), stderr);
            return faults.empty() ? 0 : 1;
        });
        EXPECT_EQ(code, 0) << (own_file ? "own file" : "root's file");
        EXPECT_EQ(ReadText(Path()), "[S]\nk=old\n");
    }
}

// A FIFO, a link to one and a folder under the settings name read as a
// missing file at once, and no write replaces them.
TEST_F(ProfileTest, OnlyRegularFilesAreReadOrReplaced) {
    Seed("");
    ASSERT_EQ(mkfifo(Path("fifo.ini").c_str(), 0644), 0);
    ASSERT_EQ(symlink(Path("fifo.ini").c_str(), Path("link.ini").c_str()), 0);
    ASSERT_EQ(mkdir(Path("dir.ini").c_str(), 0755), 0);
    for (const char* name : {"fifo.ini", "link.ini", "dir.ini"}) {
        const int code = RunInChild(
            [&] {
                if (Get("S", "k", "<default>", name) != "<default>")
                    return 1;
                if (WritePrivateProfileStringA("S", "k", "v", name))
                    return 2;
                return 0;
            },
            std::chrono::seconds(5));
        EXPECT_EQ(code, 0) << name << " (-1: it hung)";
    }
    struct stat st {};
    ASSERT_EQ(lstat(Path("fifo.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(lstat(Path("link.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(lstat(Path("dir.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// Two processes that change the same file at the same time lose none of
// each other's keys; a lock that another process never lets go makes a
// write give up (within the bound) without changing anything.
TEST_F(ProfileTest, ProcessesTakeTurnsThroughTheLockFile) {
    Seed("[S]\n");
    constexpr int kKeys = 100;
    std::array<pid_t, 2> children{};
    for (int who = 0; who < 2; ++who)
        children[static_cast<size_t>(who)] = StartChild([who] {
            for (int i = 0; i < kKeys; ++i) {
                const std::string key = "p" + std::to_string(who) + "_" + std::to_string(i);
                if (!WritePrivateProfileStringA("S", key.c_str(), "v", "ZELK.ini"))
                    return 1;
            }
            return 0;
        });
    for (pid_t child : children)
        EXPECT_EQ(WaitChild(child), 0);
    int kept = 0;
    for (int who = 0; who < 2; ++who)
        for (int i = 0; i < kKeys; ++i)
            kept += Get("S", ("p" + std::to_string(who) + "_" + std::to_string(i)).c_str()) == "v";
    EXPECT_EQ(kept, 2 * kKeys);
    EXPECT_EQ(Files(), QStringList{"ZELK.ini"});

    const std::string lock_file = Path(".ZELK.ini.lock");
    const int held = open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const std::string before = ReadText(Path());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WritePrivateProfileStringA("S", "late", "v", "ZELK.ini"));
    EXPECT_EQ(GetLastError(), ronvix::com::ERROR_SHARING_VIOLATION);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(ReadText(Path()), before);
    close(held);
    unlink(lock_file.c_str());
    EXPECT_TRUE(WritePrivateProfileStringA("S", "late", "v", "ZELK.ini"));
}
