#include "ProcessMetrics.h"

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct TProcessStat {
    double CpuSeconds = 0;
    double StartTime = 0;  // seconds since the epoch
    double VirtualBytes = 0;
    double ResidentBytes = 0;
};

// The machine's boot time from /proc/stat, which start times in /proc/self/stat count from.
double BootTime()
{
    std::ifstream stat("/proc/stat");
    std::string key;
    double value = 0;
    while (stat >> key) {
        if (key == "btime" && stat >> value)
            return value;
        stat.ignore(4096, '\n');
    }
    return 0;
}

bool ReadStat(TProcessStat& process)
{
    std::ifstream file("/proc/self/stat");
    std::string text;
    if (!std::getline(file, text))
        return false;
    // The command name stands in parentheses and may hold blanks; the fields follow its last ')'.
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(text.substr(close + 2));
    // From field 3 (state) to field 24 (rss): utime is field 14, stime 15, starttime 22, vsize 23.
    std::string field[22];
    for (std::string& f : field)
        if (!(fields >> f))
            return false;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    const double page = double(sysconf(_SC_PAGESIZE));
    process.CpuSeconds = (std::stod(field[11]) + std::stod(field[12])) / ticks;
    process.StartTime = BootTime() + std::stod(field[19]) / ticks;
    process.VirtualBytes = std::stod(field[20]);
    process.ResidentBytes = std::stod(field[21]) * page;
    return true;
}

double OpenDescriptors()
{
    std::error_code error;
    size_t count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end; it.increment(error))
        ++count;
    return double(count);
}

}  // namespace

void AddProcessMetrics(TMetricsText& page)
{
    TProcessStat process;
    if (!ReadStat(process))
        return;
    page.Family("process_cpu_seconds", TMetricType::Counter, "Total user and system CPU time spent in seconds.");
    page.Sample(process.CpuSeconds);
    page.Family("process_resident_memory_bytes", TMetricType::Gauge, "Resident memory size in bytes.");
    page.Sample(process.ResidentBytes);
    page.Family("process_virtual_memory_bytes", TMetricType::Gauge, "Virtual memory size in bytes.");
    page.Sample(process.VirtualBytes);
    page.Family("process_start_time_seconds", TMetricType::Gauge,
                "Start time of the process since unix epoch in seconds.");
    page.Sample(process.StartTime);
    page.Family("process_open_fds", TMetricType::Gauge, "Number of open file descriptors.");
    page.Sample(OpenDescriptors());
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        page.Family("process_max_fds", TMetricType::Gauge, "Maximum number of open file descriptors.");
        page.Sample(limit.rlim_cur == RLIM_INFINITY ? -1 : double(limit.rlim_cur));
    }
}
