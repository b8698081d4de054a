#pragma once
// What the host's main needs from its system (HostMain_win.cpp,
// HostMain_posix.cpp): the program's channel on handles of its own, a report
// of a crash inside the library, and an end when the program goes.

#include "HostServer.h"

#include <cstddef>

/// The host's exit status after it has reported a crash.
inline constexpr int kExitCrashed = 3;

/// Readies the process before the library is loaded: moves the channel to
/// private handles, points standard output at standard error and standard
/// input at the null device, sets up the crash report (it ends the host with
/// kExitCrashed) and a watcher that ends the host when the program's end of
/// the channel closes, even while the library holds the main thread in a call.
void prepareProcess();

/// The channel prepareProcess() took.
class PipeChannel final : public HostChannel {
public:
    bool read(char* data, std::size_t bytes) override;
    bool write(const char* data, std::size_t bytes) override;
};
