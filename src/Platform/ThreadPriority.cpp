#include "Platform/ThreadPriority.h"

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

} // namespace

bool lowerCurrentThreadToBackground()
{
    const pid_t thread = static_cast<pid_t>(::syscall(SYS_gettid));
    sched_param param{};
    const bool idleClass = ::sched_setscheduler(thread, SCHED_IDLE, &param) == 0;
    // Linux applies a "process" priority to the one thread whose id is given.
    const bool niced = ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), 19) == 0;
    ::syscall(SYS_ioprio_set, kIoprioWhoProcess, thread, kIoprioClassIdle << kIoprioClassShift);
    return idleClass || niced;
}

} // namespace pallix
