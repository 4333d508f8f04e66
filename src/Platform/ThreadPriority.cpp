#include "Platform/ThreadPriority.h"

#include <cerrno>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pallix {

namespace {

// From linux/ioprio.h, which glibc does not wrap.
constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassIdle = 3;
constexpr int kIoprioClassShift = 13;
constexpr int kUtilityNice = 10;

pid_t currentThreadId()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

} // namespace

bool lowerCurrentThreadToBackground()
{
    const pid_t thread = currentThreadId();
    sched_param param{};
    const bool idleClass = ::sched_setscheduler(thread, SCHED_IDLE, &param) == 0;
    // Linux applies a "process" priority to the one thread whose id is given.
    const bool niced = ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), 19) == 0;
    ::syscall(SYS_ioprio_set, kIoprioWhoProcess, thread, kIoprioClassIdle << kIoprioClassShift);
    return idleClass || niced;
}

bool lowerCurrentThreadToUtility()
{
    const auto thread = static_cast<id_t>(currentThreadId());
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, thread);
    if (errno != 0)
        return false;
    // Never raised: a process started niced stays as low as it was.
    return nice >= kUtilityNice || ::setpriority(PRIO_PROCESS, thread, kUtilityNice) == 0;
}

} // namespace pallix
