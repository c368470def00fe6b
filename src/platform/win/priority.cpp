#include "platform/win/priority.h"

#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ronvix::win {

namespace {

// The round-robin priority used for the Realtime class: above every normal
// thread, far below what the kernel's own threads use.
constexpr int kRealtimePriority = 10;

struct Target {
    bool realtime = false;
    int nice = 0;
};

std::optional<Target> TargetOf(DWORD priority_class) {
    switch (priority_class) {
        case REALTIME_PRIORITY_CLASS:
            return Target{true, 0};
        case HIGH_PRIORITY_CLASS:
            return Target{false, -10};
        case ABOVE_NORMAL_PRIORITY_CLASS:
            return Target{false, -5};
        case NORMAL_PRIORITY_CLASS:
            return Target{false, 0};
        case BELOW_NORMAL_PRIORITY_CLASS:
            return Target{false, 10};
        case IDLE_PRIORITY_CLASS:
            return Target{false, 19};
        default:
            return std::nullopt;
    }
}

struct ThreadState {
    pid_t tid = 0;
    int policy = SCHED_OTHER;
    sched_param param{};
    int nice = 0;
};

std::optional<ThreadState> ReadState(pid_t tid) {
    ThreadState s;
    s.tid = tid;
    s.policy = sched_getscheduler(tid);
    if (s.policy < 0 || sched_getparam(tid, &s.param) != 0)
        return std::nullopt;
    errno = 0;
    s.nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno != 0)
        return std::nullopt;
    return s;
}

bool IsRealtime(int policy) {
    return policy == SCHED_RR || policy == SCHED_FIFO;
}

// Sets one thread; errno tells why when it returns false.
bool ApplyRealtime(pid_t tid, int priority) {
    sched_param p{};
    p.sched_priority = priority;
    if (sched_setscheduler(tid, SCHED_RR, &p) == 0)
        return true;
    // Without CAP_SYS_NICE an rtprio limit below our choice still allows a
    // lower round-robin priority.
    rlimit limit{};
    if (errno == EPERM && getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur >= 1 &&
        limit.rlim_cur < static_cast<rlim_t>(priority)) {
        p.sched_priority = static_cast<int>(limit.rlim_cur);
        if (sched_setscheduler(tid, SCHED_RR, &p) == 0)
            return true;
    }
    return false;
}

bool ApplyNice(const ThreadState& before, int nice) {
    if (IsRealtime(before.policy)) {
        sched_param p{};
        if (sched_setscheduler(before.tid, SCHED_OTHER, &p) != 0)
            return false;
    }
    return setpriority(PRIO_PROCESS, static_cast<id_t>(before.tid), nice) == 0;
}

void Restore(const ThreadState& s) {
    int policy = sched_getscheduler(s.tid);
    if (policy != s.policy || IsRealtime(policy))
        sched_setscheduler(s.tid, s.policy, &s.param);
    if (!IsRealtime(s.policy))
        setpriority(PRIO_PROCESS, static_cast<id_t>(s.tid), s.nice);
}

std::vector<pid_t> ListThreads(DWORD pid) {
    std::vector<pid_t> out;
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(dir.c_str());
    if (!d)
        return out;
    while (dirent* e = readdir(d)) {
        char* end = nullptr;
        long tid = std::strtol(e->d_name, &end, 10);
        if (end != e->d_name && *end == '\0' && tid > 0)
            out.push_back(static_cast<pid_t>(tid));
    }
    closedir(d);
    return out;
}

class SystemPriority final : public PriorityService {
public:
    bool SetProcessClass(DWORD pid, DWORD priority_class) override {
        auto target = TargetOf(priority_class);
        if (!target) {
            errno = EINVAL;
            return false;
        }
        std::vector<ThreadState> changed;
        std::set<pid_t> done;
        // Threads started while we work inherit from a thread that may not
        // have been changed yet; pass again until no new thread shows up.
        for (int pass = 0; pass < 8; ++pass) {
            bool found_new = false;
            for (pid_t tid : ListThreads(pid)) {
                if (!done.insert(tid).second)
                    continue;
                found_new = true;
                auto before = ReadState(tid);
                if (!before)
                    continue;  // the thread ended meanwhile
                bool ok = target->realtime ? ApplyRealtime(tid, kRealtimePriority)
                                           : ApplyNice(*before, target->nice);
                if (!ok) {
                    if (errno == ESRCH)
                        continue;
                    int err = errno;
                    // All or nothing: put back what was already changed.
                    Restore(*before);
                    for (auto it = changed.rbegin(); it != changed.rend(); ++it)
                        Restore(*it);
                    errno = err;
                    return false;
                }
                changed.push_back(*before);
            }
            if (!found_new)
                break;
        }
        if (done.empty()) {
            errno = ESRCH;
            return false;
        }
        return true;
    }

    DWORD ProcessClass(DWORD pid) override {
        auto s = ReadState(static_cast<pid_t>(pid));
        if (!s)
            return 0;
        if (IsRealtime(s->policy))
            return REALTIME_PRIORITY_CLASS;
        if (s->nice <= -10)
            return HIGH_PRIORITY_CLASS;
        if (s->nice < 0)
            return ABOVE_NORMAL_PRIORITY_CLASS;
        if (s->nice == 0)
            return NORMAL_PRIORITY_CLASS;
        if (s->nice < 19)
            return BELOW_NORMAL_PRIORITY_CLASS;
        return IDLE_PRIORITY_CLASS;
    }

    bool SetThreadLevel(DWORD tid, int level) override {
        auto s = ReadState(static_cast<pid_t>(tid));
        if (!s)
            return false;
        int clamped = std::clamp(level, -2, 2);
        if (IsRealtime(s->policy)) {
            int priority = level >= THREAD_PRIORITY_TIME_CRITICAL ? kRealtimePriority + 15
                           : level <= THREAD_PRIORITY_IDLE        ? 1
                                                                  : kRealtimePriority + clamped;
            sched_param p{};
            p.sched_priority = priority;
            return sched_setscheduler(s->tid, s->policy, &p) == 0;
        }
        // Levels are relative to the class of the process the thread is in.
        int base = 0;
        switch (ProcessClass(static_cast<DWORD>(getpid()))) {
            case HIGH_PRIORITY_CLASS:
                base = -10;
                break;
            case ABOVE_NORMAL_PRIORITY_CLASS:
                base = -5;
                break;
            case BELOW_NORMAL_PRIORITY_CLASS:
                base = 10;
                break;
            case IDLE_PRIORITY_CLASS:
                base = 19;
                break;
            default:
                base = 0;
                break;
        }
        int nice = level >= THREAD_PRIORITY_TIME_CRITICAL ? base - 15
                   : level <= THREAD_PRIORITY_IDLE        ? 19
                                                          : base - 5 * clamped;
        nice = std::clamp(nice, -20, 19);
        return setpriority(PRIO_PROCESS, static_cast<id_t>(s->tid), nice) == 0;
    }
};

std::atomic<PriorityService*> g_service{nullptr};

}  // namespace

PriorityService& SystemPriorityService() {
    static SystemPriority service;
    return service;
}

PriorityService& CurrentPriorityService() {
    PriorityService* s = g_service.load(std::memory_order_acquire);
    return s ? *s : SystemPriorityService();
}

PriorityService* SetPriorityService(PriorityService* service) {
    PriorityService* previous = g_service.exchange(service, std::memory_order_acq_rel);
    return previous ? previous : &SystemPriorityService();
}

BOOL SetPriorityClass(HANDLE process, DWORD priority_class) {
    DWORD pid = ProcessIdOfHandle(process);
    if (!pid) {
        SetLastError(com::ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!TargetOf(priority_class)) {
        SetLastError(com::ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!CurrentPriorityService().SetProcessClass(pid, priority_class)) {
        SetLastError(com::ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

DWORD GetPriorityClass(HANDLE process) {
    DWORD pid = ProcessIdOfHandle(process);
    if (!pid) {
        SetLastError(com::ERROR_INVALID_HANDLE);
        return 0;
    }
    return CurrentPriorityService().ProcessClass(pid);
}

BOOL SetThreadPriority(DWORD thread_id, int level) {
    if (!CurrentPriorityService().SetThreadLevel(thread_id, level)) {
        SetLastError(com::ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

}  // namespace ronvix::win
