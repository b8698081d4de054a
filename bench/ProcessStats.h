#pragma once

// What the sustained-rate tool reads of its own process, each system in its
// own way.

/// Seconds from the process's start to now, as the system recorded the start.
double secondsSinceProcessStart();
/// The resident set (working set on Windows), in KiB.
long residentKb();
/// The largest resident set so far, in KiB.
long peakResidentKb();
/// User and system time of the whole process, in seconds.
double processCpuSeconds();
/// User and system time of the calling thread, in seconds.
double threadCpuSeconds();
