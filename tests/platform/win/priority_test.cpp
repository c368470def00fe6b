#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win/priority.h"

using namespace ronvix::win;

namespace {

// Runs `body` in a forked child and returns its exit code, so that no test
// changes the scheduling of the test process itself.
int RunInChild(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int rc = 100;
        try {
            rc = body();
        } catch (...) {
        }
        _exit(rc);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
}

// Threads that wait until the object is destroyed, reporting their ids.
class Sleepers {
public:
    explicit Sleepers(int count) {
        for (int i = 0; i < count; ++i)
            m_threads.emplace_back([this] {
                std::unique_lock lock(m_lock);
                m_tids.push_back(static_cast<pid_t>(syscall(SYS_gettid)));
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return m_stop; });
            });
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [&] { return m_tids.size() == static_cast<size_t>(count); });
    }
    ~Sleepers() {
        {
            std::lock_guard lock(m_lock);
            m_stop = true;
        }
        m_changed.notify_all();
        for (auto& t : m_threads)
            t.join();
    }
    // Every thread of the process: the main one and the sleepers.
    std::vector<pid_t> All() {
        std::lock_guard lock(m_lock);
        std::vector<pid_t> all = m_tids;
        all.push_back(getpid());
        return all;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<pid_t> m_tids;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

bool AllNice(const std::vector<pid_t>& tids, int nice) {
    for (pid_t t : tids)
        if (sched_getscheduler(t) != SCHED_OTHER ||
            getpriority(PRIO_PROCESS, static_cast<id_t>(t)) != nice)
            return false;
    return true;
}

bool AllRoundRobin(const std::vector<pid_t>& tids) {
    for (pid_t t : tids)
        if (sched_getscheduler(t) != SCHED_RR)
            return false;
    return true;
}

int NiceOfNewThread() {
    int nice = 99;
    std::thread([&] {
        nice = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
    }).join();
    return nice;
}

bool Privileged() {
    // Raising priority works for root with CAP_SYS_NICE; probe in a child.
    return RunInChild([] { return setpriority(PRIO_PROCESS, 0, -1) == 0 ? 0 : 1; }) == 0;
}

}  // namespace

TEST(Priority, ClassesMapToEveryThreadOfTheProcess) {
    if (!Privileged())
        GTEST_SKIP() << "raising priority needs CAP_SYS_NICE (CI runs as root)";
    int rc = RunInChild([] {
        Sleepers sleepers(3);
        auto tids = sleepers.All();
        HANDLE self = OpenProcess(PROCESS_ALL_ACCESS, TRUE, GetCurrentProcessId());
        if (!self)
            return 1;
        if (!SetPriorityClass(self, HIGH_PRIORITY_CLASS) || !AllNice(tids, -10))
            return 2;
        if (GetPriorityClass(self) != HIGH_PRIORITY_CLASS)
            return 3;
        if (NiceOfNewThread() != -10)
            return 4;
        if (!SetPriorityClass(self, IDLE_PRIORITY_CLASS) || !AllNice(tids, 19))
            return 5;
        if (!SetPriorityClass(self, REALTIME_PRIORITY_CLASS) || !AllRoundRobin(tids))
            return 6;
        if (GetPriorityClass(self) != REALTIME_PRIORITY_CLASS)
            return 7;
        if (!SetPriorityClass(self, NORMAL_PRIORITY_CLASS) || !AllNice(tids, 0))
            return 8;
        if (SetPriorityClass(self, 0x1234) ||
            GetLastError() != ronvix::com::ERROR_INVALID_PARAMETER)
            return 9;
        // The user interface thread asks for the most a normal thread gets.
        if (!SetThreadPriority(GetCurrentThreadId(), 128))
            return 10;
        if (getpriority(PRIO_PROCESS, 0) != -15)
            return 11;
        // The class in force is still the class, not the raised thread's.
        if (GetPriorityClass(self) != NORMAL_PRIORITY_CLASS)
            return 12;
        // A new class keeps the raise above it.
        if (!SetPriorityClass(self, IDLE_PRIORITY_CLASS) || getpriority(PRIO_PROCESS, 0) != 4)
            return 13;
        CloseHandle(self);
        return 0;
    });
    EXPECT_EQ(rc, 0);
}

TEST(Priority, RefusedChangesKeepThePreviousClassSilently) {
    int rc = RunInChild([] {
        // An unprivileged user without nice or rtprio limits, even under root.
        rlimit none{0, 0};
        if (setrlimit(RLIMIT_NICE, &none) != 0 || setrlimit(RLIMIT_RTPRIO, &none) != 0)
            return 1;
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                               setresuid(65534, 65534, 65534) != 0))
            return 2;
        prctl(PR_SET_DUMPABLE, 1);
        Sleepers sleepers(2);
        auto tids = sleepers.All();
        HANDLE self = OpenProcess(PROCESS_ALL_ACCESS, TRUE, GetCurrentProcessId());
        if (!AllNice(tids, 0))
            return 3;
        if (SetPriorityClass(self, REALTIME_PRIORITY_CLASS) || !AllNice(tids, 0))
            return 4;
        if (GetLastError() != ronvix::com::ERROR_ACCESS_DENIED)
            return 5;
        if (SetPriorityClass(self, HIGH_PRIORITY_CLASS) || !AllNice(tids, 0))
            return 6;
        if (GetPriorityClass(self) != NORMAL_PRIORITY_CLASS)
            return 7;
        // Lowering is always allowed; going back up is not.
        if (!SetPriorityClass(self, IDLE_PRIORITY_CLASS) || !AllNice(tids, 19))
            return 8;
        if (SetPriorityClass(self, NORMAL_PRIORITY_CLASS) || !AllNice(tids, 19))
            return 9;
        if (GetPriorityClass(self) != IDLE_PRIORITY_CLASS)
            return 10;
        if (SetThreadPriority(GetCurrentThreadId(), 128))
            return 11;
        return 0;
    });
    EXPECT_EQ(rc, 0);
}

namespace {
struct RecordingPriority : PriorityService {
    bool SetProcessClass(DWORD pid, DWORD cls) override {
        calls.push_back({pid, cls});
        return cls != REALTIME_PRIORITY_CLASS;
    }
    DWORD ProcessClass(DWORD) override {
        return calls.empty() ? NORMAL_PRIORITY_CLASS : calls.back().second;
    }
    bool SetThreadLevel(DWORD, int) override { return true; }
    std::vector<std::pair<DWORD, DWORD>> calls;
};
}  // namespace

TEST(Priority, AReplacementServiceReceivesTheCalls) {
    int nice_before = getpriority(PRIO_PROCESS, 0);
    RecordingPriority fake;
    {
        ScopedPriorityService scope(&fake);
        HANDLE self = OpenProcess(PROCESS_ALL_ACCESS, TRUE, GetCurrentProcessId());
        EXPECT_TRUE(SetPriorityClass(self, IDLE_PRIORITY_CLASS));
        EXPECT_FALSE(SetPriorityClass(self, REALTIME_PRIORITY_CLASS));
        EXPECT_EQ(GetPriorityClass(self), REALTIME_PRIORITY_CLASS);
        ASSERT_EQ(fake.calls.size(), 2u);
        EXPECT_EQ(fake.calls[0],
                  (std::pair<DWORD, DWORD>{GetCurrentProcessId(), IDLE_PRIORITY_CLASS}));
        EXPECT_FALSE(SetPriorityClass(0, IDLE_PRIORITY_CLASS));  // not a process handle
        EXPECT_EQ(fake.calls.size(), 2u);
        CloseHandle(self);
    }
    EXPECT_EQ(&CurrentPriorityService(), &SystemPriorityService());
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), nice_before);
}
