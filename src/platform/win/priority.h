#pragma once
// Process priority classes and thread priority levels, mapped to Linux:
//   Realtime     -> SCHED_RR (needs an rtprio limit or CAP_SYS_NICE)
//   High         -> nice -10 (needs a nice limit or CAP_SYS_NICE)
//   Above normal -> nice -5
//   Normal       -> nice 0
//   Below normal -> nice 10
//   Idle         -> nice 19
// Linux schedules threads, not processes, so a class is applied to every
// thread listed in /proc/<pid>/task; threads made later inherit it from
// their creator. A change the system refuses leaves every thread as it was.
// Without CAP_SYS_NICE or a nice limit, nice only goes up: after Idle the
// other classes are refused, and the class in force stays Idle.
//
// A thread raised with SetThreadPriority keeps its level above the class
// (also across class changes), but the threads it starts inherit the raise:
// SettleThreadPriorities puts every other thread of the process back to the
// class in force, and is called after starting threads from a raised one.
//
// The functions go through a replaceable service so that tests of higher
// layers can record what would be set without touching the test process.

#include "platform/win/kernel.h"

namespace ronvix::win {

inline constexpr DWORD REALTIME_PRIORITY_CLASS = 0x100;
inline constexpr DWORD HIGH_PRIORITY_CLASS = 0x80;
inline constexpr DWORD ABOVE_NORMAL_PRIORITY_CLASS = 0x8000;
inline constexpr DWORD NORMAL_PRIORITY_CLASS = 0x20;
inline constexpr DWORD BELOW_NORMAL_PRIORITY_CLASS = 0x4000;
inline constexpr DWORD IDLE_PRIORITY_CLASS = 0x40;

inline constexpr int THREAD_PRIORITY_IDLE = -15;
inline constexpr int THREAD_PRIORITY_LOWEST = -2;
inline constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
inline constexpr int THREAD_PRIORITY_NORMAL = 0;
inline constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
inline constexpr int THREAD_PRIORITY_HIGHEST = 2;
inline constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

// The seam. Implementations must be thread-safe.
class PriorityService {
public:
    virtual ~PriorityService() = default;
    // Applies `priority_class` to every thread of process `pid`. False when
    // the class is unknown or the system refused (nothing changed then).
    virtual bool SetProcessClass(DWORD pid, DWORD priority_class) = 0;
    // The class the process's main thread has now (0 when it cannot be read).
    virtual DWORD ProcessClass(DWORD pid) = 0;
    // Sets thread `tid` to `level` relative to its process's class. Levels
    // above THREAD_PRIORITY_HIGHEST (TIME_CRITICAL, or any larger value)
    // ask for the most the system allows a normal thread. False when refused.
    virtual bool SetThreadLevel(DWORD tid, int level) = 0;
    // Puts every thread of process `pid` that was not raised by
    // SetThreadLevel back to the class in force (threads a raised thread
    // started inherited its raise). Nothing when no thread was raised.
    virtual void SettleThreads(DWORD /*pid*/) {}
};

// The service that changes real scheduling.
PriorityService& SystemPriorityService();
// The service the functions below use: the system one unless replaced.
PriorityService& CurrentPriorityService();
// Replaces the service (not owned; it must outlive its use) and returns the
// previous one; null restores the system service.
PriorityService* SetPriorityService(PriorityService* service);

// Installs a service for one scope.
class ScopedPriorityService {
public:
    explicit ScopedPriorityService(PriorityService* service)
        : m_previous(SetPriorityService(service)) {}
    ~ScopedPriorityService() { SetPriorityService(m_previous); }
    ScopedPriorityService(const ScopedPriorityService&) = delete;
    ScopedPriorityService& operator=(const ScopedPriorityService&) = delete;

private:
    PriorityService* m_previous;
};

// The platform functions. A refusal returns FALSE with ERROR_ACCESS_DENIED
// and prints nothing; the process keeps its previous class.
BOOL SetPriorityClass(HANDLE process, DWORD priority_class);
DWORD GetPriorityClass(HANDLE process);
// `thread_id` is the kernel thread id (GetCurrentThreadId).
BOOL SetThreadPriority(DWORD thread_id, int level);
// The threads of this process that were not raised take the class in force
// again (see above). Cheap when no thread was raised; never fails.
void SettleThreadPriorities();

}  // namespace ronvix::win
