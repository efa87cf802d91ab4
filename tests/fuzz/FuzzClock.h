#pragma once
// CPU time of the calling thread: what an input cost, whatever else the
// machine is doing (fuzzers run niced beside builds; wall time would blame
// the input for the load).
#include <ctime>

namespace fuzzclock {

inline double now()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

} // namespace fuzzclock
