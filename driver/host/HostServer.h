#pragma once

#include <cstddef>

class CardLibrary;

/// The host's two private streams to the program.
class HostChannel {
public:
    virtual ~HostChannel() = default;
    /// Reads exactly `bytes`; false at the end of the stream or on an error.
    virtual bool read(char* data, std::size_t bytes) = 0;
    /// Writes all of `bytes`; false when the program is gone.
    virtual bool write(const char* data, std::size_t bytes) = 0;

protected:
    HostChannel() = default;
    HostChannel(const HostChannel&) = default;
    HostChannel& operator=(const HostChannel&) = default;
};

/// Serves the program's calls one at a time, in the order they come, until the
/// program closes the stream. Returns the host's exit status: 0 at a clean end,
/// 1 when the stream broke or held something that is not a request.
int serveCalls(HostChannel& channel, CardLibrary& library);

/// The library function the host is inside right now ("" between calls), for
/// the report of a crash.
const char* callInProgress();
