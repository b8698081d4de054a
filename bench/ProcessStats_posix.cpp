#include "ProcessStats.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

// Seconds from the process's start to now, from the kernel's record of the
// start (in clock ticks since boot, so to about 10 ms).
double secondsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    // The command name may hold blanks; the fields after it are plain.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 3; i < 22; ++i)
        fields >> field;
    unsigned long long startTicks = 0;
    fields >> startTicks;
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double boot = now.tv_sec + now.tv_nsec / 1e9;
    return boot - static_cast<double>(startTicks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long residentKb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The kernel updates its high-water mark now and then, so it can trail the
// resident set read a moment later; the larger of the two is the peak.
long peakResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return std::max(usage.ru_maxrss, residentKb());
}

namespace {

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

} // namespace

double processCpuSeconds() {
    return cpuSeconds(RUSAGE_SELF);
}

double threadCpuSeconds() {
    return cpuSeconds(RUSAGE_THREAD);
}
