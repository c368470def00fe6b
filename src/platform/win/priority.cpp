#include "platform/win/priority.h"

#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
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

DWORD ClassOfState(const ThreadState& s) {
    if (IsRealtime(s.policy))
        return REALTIME_PRIORITY_CLASS;
    if (s.nice <= -10)
        return HIGH_PRIORITY_CLASS;
    if (s.nice < 0)
        return ABOVE_NORMAL_PRIORITY_CLASS;
    if (s.nice == 0)
        return NORMAL_PRIORITY_CLASS;
    if (s.nice < 19)
        return BELOW_NORMAL_PRIORITY_CLASS;
    return IDLE_PRIORITY_CLASS;
}

bool SameScheduling(const ThreadState& a, const ThreadState& b) {
    if (a.policy != b.policy)
        return false;
    return IsRealtime(a.policy) ? a.param.sched_priority == b.param.sched_priority
                                : a.nice == b.nice;
}

class SystemPriority final : public PriorityService {
public:
    bool SetProcessClass(DWORD pid, DWORD priority_class) override {
        auto target = TargetOf(priority_class);
        if (!target) {
            errno = EINVAL;
            return false;
        }
        std::lock_guard guard(m_lock);
        if (!ApplyClass(pid, *target))
            return false;
        if (pid == static_cast<DWORD>(getpid()))
            KeepRaises();
        return true;
    }

    DWORD ProcessClass(DWORD pid) override {
        std::lock_guard guard(m_lock);
        if (pid == static_cast<DWORD>(getpid())) {
            // The class in force is what the threads that were not raised
            // have: the interface thread after a raise says nothing of it.
            if (m_base)
                return ClassOfState(*m_base);
        }
        auto s = ReadState(static_cast<pid_t>(pid));
        return s ? ClassOfState(*s) : 0;
    }

    bool SetThreadLevel(DWORD tid, int level) override {
        std::lock_guard guard(m_lock);
        if (static_cast<pid_t>(tid) == 0)
            return false;
        // The threads that are not raised keep the state the raised one had
        // before its first raise, when no class was set since.
        if (!m_base && !m_raised.count(static_cast<pid_t>(tid))) {
            if (auto before = ReadState(static_cast<pid_t>(tid)))
                m_base = *before;
        }
        if (!ApplyLevel(static_cast<pid_t>(tid), level))
            return false;
        m_raised[static_cast<pid_t>(tid)] = level;
        return true;
    }

    void SettleThreads(DWORD pid) override {
        std::lock_guard guard(m_lock);
        if (m_raised.empty() || !m_base || pid != static_cast<DWORD>(getpid()))
            return;
        for (pid_t tid : ListThreads(pid)) {
            if (m_raised.count(tid))
                continue;
            auto now = ReadState(tid);
            if (!now || SameScheduling(*now, *m_base))
                continue;
            // Down to the class from an inherited raise: always allowed.
            ThreadState back = *m_base;
            back.tid = tid;
            Restore(back);
        }
    }

private:
    // Applies `target` to every thread of `pid`, all or nothing; records
    // the class state of this process on success. Under m_lock.
    bool ApplyClass(DWORD pid, const Target& target) {
        std::vector<ThreadState> changed;
        std::set<pid_t> done;
        std::optional<pid_t> sample;  // a changed thread, to read the class state from
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
                bool ok = target.realtime ? ApplyRealtime(tid, kRealtimePriority)
                                          : ApplyNice(*before, target.nice);
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
                if (!sample)
                    sample = tid;
            }
            if (!found_new)
                break;
        }
        if (done.empty()) {
            errno = ESRCH;
            return false;
        }
        if (pid == static_cast<DWORD>(getpid()) && sample) {
            if (auto state = ReadState(*sample))
                m_base = *state;
        }
        return true;
    }

    // The class put every raised thread back to the class; each gets its
    // raise again above the new class. One the system refuses now is an
    // ordinary thread from then on. Under m_lock.
    void KeepRaises() {
        for (auto it = m_raised.begin(); it != m_raised.end();) {
            if (ApplyLevel(it->first, it->second))
                ++it;
            else
                it = m_raised.erase(it);
        }
    }

    // Sets thread `tid` to `level` above the class in force. Under m_lock.
    bool ApplyLevel(pid_t tid, int level) {
        auto s = ReadState(tid);
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
        const DWORD in_force = m_base ? ClassOfState(*m_base) : ClassOfState(*s);
        switch (in_force) {
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

    std::mutex m_lock;
    // Guarded by m_lock: the scheduling of the threads of this process that
    // are not raised (known once a class was set or a thread raised), and
    // the raised threads with their levels.
    std::optional<ThreadState> m_base;
    std::map<pid_t, int> m_raised;
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

void SettleThreadPriorities() {
    CurrentPriorityService().SettleThreads(GetCurrentProcessId());
}

}  // namespace ronvix::win
