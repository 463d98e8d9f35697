#pragma once
// Processor time, for the benchmarks' breakdowns: unlike wall time it leaves out the server's
// share, so a slow or busy server can't hide what our own code costs.
#include <sys/resource.h>

namespace bench {

// Processor time so far (every thread, user and system), in seconds: of this program, or of
// the tools it ran and waited for (RUSAGE_CHILDREN; a server still running is not among them).
inline double cpuSeconds(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace bench
