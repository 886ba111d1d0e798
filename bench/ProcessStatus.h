#pragma once
// This process's memory as the system counts it, for the benchmarks that report it.

#include <cstring>
#include <fstream>
#include <string>

// Kilobytes from a line of /proc/self/status ("VmRSS:", "VmHWM:"), or -1.
inline long StatusKB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0)
            return std::atol(line.c_str() + length);
    return -1;
}
