#include "DescriptorLimit.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include <dirent.h>
#include <sys/resource.h>

namespace {

// Files saved in a batch, the interruption's socket pair, the output's watch and what Qt opens for
// itself: far fewer than this at any one time beside the sockets.
constexpr size_t ReservedDescriptors = 16;

// Descriptors open in this process, by their entries in /proc; the reserve alone where it is missing.
size_t OpenDescriptors()
{
    DIR* folder = ::opendir("/proc/self/fd");
    if (!folder)
        return ReservedDescriptors;
    size_t count = 0;
    while (const dirent* entry = ::readdir(folder))
        if (entry->d_name[0] != '.')
            ++count;
    ::closedir(folder);
    return count - 1;  // the folder's own
}

}  // namespace

void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max)
        return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

size_t ConnectionsAllowed()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return SIZE_MAX;
    const size_t used = OpenDescriptors() + ReservedDescriptors;
    // At least one, so that a run still goes on and tells the socket it could not get.
    return size_t(limit.rlim_cur) > used ? size_t(limit.rlim_cur) - used : 1;
}

int JobsWithinDescriptorLimit(int requested, size_t modules)
{
    const size_t allowed = ConnectionsAllowed();
    if (std::min(size_t(requested), modules) <= allowed)
        return requested;
    static bool told = false;
    if (!told) {
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        std::fprintf(stderr, "korvel-cli: --jobs снижено до %zu: предел открытых файлов процесса %llu (ulimit -n)\n",
                     allowed, static_cast<unsigned long long>(limit.rlim_cur));
        told = true;
    }
    return int(allowed);
}
