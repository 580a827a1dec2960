#include "priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace kestrane::threads {

int niceForPriority(double priority) {
    if (std::isnan(priority)) return 0;
    const double nice = std::round(20.0 - 40.0 * priority);
    return static_cast<int>(std::clamp(nice, -20.0, 19.0));
}

bool setCurrentThreadPriority(double priority) {
    if (std::isnan(priority)) return false;  // no priority at all: nothing is set
    // On Linux a nice value belongs to a thread when addressed by its thread id.
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    return setpriority(PRIO_PROCESS, tid, niceForPriority(priority)) == 0;
}

}  // namespace kestrane::threads
