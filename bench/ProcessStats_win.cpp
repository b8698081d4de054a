#include "ProcessStats.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <psapi.h>

namespace {

double seconds(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 1e7; // 100 ns units
}

struct Times {
    double created = 0.0; // since 1601, as Windows counts
    double cpu = 0.0;     // user and kernel
};

Times processTimes() {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return {seconds(created), seconds(kernel) + seconds(user)};
}

PROCESS_MEMORY_COUNTERS memory() {
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

} // namespace

double secondsSinceProcessStart() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return seconds(now) - processTimes().created;
}

long residentKb() {
    return static_cast<long>(memory().WorkingSetSize / 1024);
}

long peakResidentKb() {
    return static_cast<long>(memory().PeakWorkingSetSize / 1024);
}

double processCpuSeconds() {
    return processTimes().cpu;
}

double threadCpuSeconds() {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    return seconds(kernel) + seconds(user);
}
