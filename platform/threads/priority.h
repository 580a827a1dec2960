// Priority of the calling thread on a 0.0 (lowest) to 1.0 (highest) scale, as the thread's
// nice value: nice = clamp(round(20 - 40 p), -20, 19), so 0.5 is the normal priority 0.
#pragma once

namespace kestrane::threads {

int niceForPriority(double priority);

// Changes only the calling thread. False when the system refuses (raising the priority above
// what the process may without privilege).
bool setCurrentThreadPriority(double priority);

}  // namespace kestrane::threads
