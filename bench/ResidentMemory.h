#pragma once
// The process's resident memory as the kernel counts it, for the benchmarks' memory figures:
// the current size, the peak since the last reset, and the reset itself.
#include <cstdint>
#include <fstream>
#include <string>

namespace bench {

// A "VmRSS:" or "VmHWM:" line of /proc/self/status, in bytes; 0 when unreadable.
inline std::uint64_t residentField(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stoull(line.substr(field.size())) * 1024;
    }
    return 0;
}

inline std::uint64_t residentNow()
{
    return residentField("VmRSS:");
}

inline std::uint64_t residentPeak()
{
    return residentField("VmHWM:");
}

// Starts a new peak at the present size (Linux: "5" to clear_refs).
inline void resetResidentPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

inline double mebibytes(std::uint64_t bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

} // namespace bench
