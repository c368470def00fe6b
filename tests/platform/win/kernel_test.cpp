#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <ctime>

#include "platform/win/files.h"
#include "platform/win/kernel.h"
#include "platform/win/paths.h"
#include "win_test_util.h"

using namespace ronvix::win;
using ronvix::win::testing::ScopedEnv;

TEST(Kernel, SystemTimeIsUtcAndIdentityMatchesTheProcess) {
    SYSTEMTIME st;
    time_t before = time(nullptr);
    GetSystemTime(&st);
    time_t after = time(nullptr);
    tm t{};
    t.tm_year = st.wYear - 1900;
    t.tm_mon = st.wMonth - 1;
    t.tm_mday = st.wDay;
    t.tm_hour = st.wHour;
    t.tm_min = st.wMinute;
    t.tm_sec = st.wSecond;
    time_t as_utc = timegm(&t);
    EXPECT_GE(as_utc, before);
    EXPECT_LE(as_utc, after);
    EXPECT_EQ(st.wDayOfWeek, t.tm_wday);  // timegm filled in the weekday
    EXPECT_LT(st.wMilliseconds, 1000);

    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
    char buf[4096];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(std::string(buf, n), ProgramPath());
    EXPECT_NE(ProgramPath().find("test_platform_win"), std::string::npos);
    char small[5];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 5u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::string(small), ProgramPath().substr(0, 4));
}

TEST(Paths, DriveMapping) {
    ScopedEnv c("RONVIX_DRIVE_C", "/data/c");
    ScopedEnv d("RONVIX_DRIVE_D", std::nullopt);
    ScopedEnv e("RONVIX_DRIVE_E", "/media/e/");
    EXPECT_EQ(MapPath("c:\\capture.avi"), "/data/c/capture.avi");
    EXPECT_EQ(MapPath("C:\\films\\a b\\x.avi"), "/data/c/films/a b/x.avi");
    EXPECT_EQ(MapPath("c:capture.avi"), "/data/c/capture.avi");
    EXPECT_EQ(MapPath("c:\\"), "/data/c/");
    EXPECT_EQ(MapPath("e:\\x/y\\z"), "/media/e/x/y/z");
    EXPECT_EQ(MapPath("d:\\x.avi"), std::nullopt);
    // ".." stays inside the drive, as on the platform.
    EXPECT_EQ(MapPath("c:\\..\\..\\etc\\passwd"), "/data/c/etc/passwd");
    EXPECT_EQ(MapPath("c:\\a\\.\\b\\..\\c.avi"), "/data/c/a/c.avi");
    // Names without a drive pass unchanged.
    EXPECT_EQ(MapPath("/tmp/a\\b.avi"), "/tmp/a\\b.avi");
    EXPECT_EQ(MapPath("ZELK.ini"), "ZELK.ini");
    EXPECT_EQ(MapPath("1:\\x"), "1:\\x");
}

TEST(Paths, DriveCFallsBackToTheVideosFolderCreatedOnWrite) {
    QTemporaryDir home;
    ScopedEnv c("RONVIX_DRIVE_C", std::nullopt);
    ScopedEnv h("HOME", home.path().toStdString());
    ScopedEnv x("XDG_CONFIG_HOME", home.path().toStdString() + "/cfg");
    mkdir((home.path().toStdString() + "/cfg").c_str(), 0700);
    ronvix::win::testing::WriteText(home.path().toStdString() + "/cfg/user-dirs.dirs",
                                    "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n");
    std::string videos = home.path().toStdString() + "/Filme";
    EXPECT_EQ(MapPath("c:\\capture.avi"), videos + "/capture.avi");
    EXPECT_FALSE(FileExists(videos));
    HANDLE h1 = CreateFileA("c:\\capture.avi", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    ASSERT_NE(h1, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h1));
    EXPECT_TRUE(FileExists("c:\\capture.avi"));
}

TEST(Files, ExistenceCreateDeleteAndErrors) {
    QTemporaryDir dir;
    ScopedEnv c("RONVIX_DRIVE_C", dir.path().toStdString());
    EXPECT_FALSE(FileExists("c:\\log.txt"));
    EXPECT_FALSE(FileExists("c:\\"));  // a folder is not a file
    EXPECT_FALSE(FileExists(dir.path().toStdString()));

    HANDLE h = CreateFileA("c:\\log.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(fcntl(static_cast<int>(h), F_GETFD) & FD_CLOEXEC);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(FileExists("c:\\log.txt"));
    EXPECT_EQ(ronvix::win::testing::ReadText(dir.path().toStdString() + "/log.txt"), "hello");

    // Created anew: an existing file is truncated.
    h = CreateFileA("c:\\log.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(ronvix::win::testing::ReadText(dir.path().toStdString() + "/log.txt"), "");
    EXPECT_EQ(CreateFileA("c:\\log.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, 0),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ronvix::com::ERROR_FILE_EXISTS);

    EXPECT_EQ(CreateFileA("c:\\missing\\log.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, 0),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ronvix::com::ERROR_FILE_NOT_FOUND);
    ScopedEnv q("RONVIX_DRIVE_Q", std::nullopt);
    EXPECT_EQ(CreateFileA("q:\\log.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, 0),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ronvix::com::ERROR_PATH_NOT_FOUND);

    EXPECT_FALSE(DeleteFileA("c:\\"));
    EXPECT_TRUE(DeleteFileA("c:\\log.txt"));
    EXPECT_FALSE(FileExists("c:\\log.txt"));
    EXPECT_FALSE(DeleteFileA("c:\\log.txt"));
    EXPECT_EQ(GetLastError(), ronvix::com::ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST(Files, FreeSpaceIsWhatTheCallerMayUseAndWalksUpToAnExistingFolder) {
    QTemporaryDir dir;
    ScopedEnv c("RONVIX_DRIVE_C", dir.path().toStdString());
    struct statvfs vfs {};
    ASSERT_EQ(statvfs(dir.path().toStdString().c_str(), &vfs), 0);
    uint64_t avail = 0, total = 0, free_bytes = 0;
    ASSERT_TRUE(GetDiskFreeSpaceExA("c:\\not\\made\\yet\\", &avail, &total, &free_bytes));
    EXPECT_EQ(total, uint64_t{vfs.f_blocks} * vfs.f_frsize);
    EXPECT_LE(avail, free_bytes);
    // Other processes write meanwhile; the figure is near the one measured.
    uint64_t expected = uint64_t{vfs.f_bavail} * vfs.f_frsize;
    EXPECT_LT(avail > expected ? avail - expected : expected - avail, uint64_t{1} << 30);
    ScopedEnv q("RONVIX_DRIVE_Q", std::nullopt);
    EXPECT_FALSE(GetDiskFreeSpaceExA("q:\\", &avail, nullptr, nullptr));
    EXPECT_TRUE(GetDiskFreeSpaceExA(nullptr, &avail, nullptr, nullptr));
}
