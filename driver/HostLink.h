#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>

/// The card host as HostDriver talks to it: a channel whose waits end at a
/// deadline, and the words for how the host ended. HostProcess is the real
/// one, a child process; a test or a fuzz target can stand in with replies of
/// its own.
class HostLink {
public:
    using Clock = std::chrono::steady_clock;

    /// How a wait for the channel ended.
    enum class Wait {
        Done,
        Ended,  ///< the host is no longer running
        Silent, ///< the deadline passed
    };

    virtual ~HostLink() = default;

    /// Starts the host; false, with the reason in startFailureText(), when it
    /// could not be started.
    virtual bool start(Clock::time_point deadline) = 0;
    virtual bool running() const = 0;
    /// The host's process id; 0 before the start or after it ended.
    virtual qint64 processId() const = 0;

    /// Writes all of `data` and waits until the host has it.
    virtual Wait write(const char* data, qint64 bytes, Clock::time_point deadline) = 0;
    /// Waits for exactly `bytes` and reads them.
    virtual Wait read(char* data, qint64 bytes, Clock::time_point deadline) = 0;

    /// Ends the host at once, if it still runs.
    virtual void kill() = 0;
    /// Gives a host that said it is ending a moment to do so.
    virtual void awaitEnd() = 0;
    /// Called from the event loop when the host ends on its own.
    virtual void setFinishedHandler(std::function<void()> handler) = 0;

    /// The host program, as messages name it.
    virtual const QString& path() const = 0;
    /// Why start() failed.
    virtual QString startFailureText() const = 0;
    /// The host ended after it had answered: how it ended.
    virtual QString endedText() const = 0;
    /// The host never answered as a host: how it ended, or that its answer
    /// made no sense, and its last words. `output` is what it sent on the
    /// channel that was already read.
    virtual QString notRunText(const QByteArray& output) = 0;

protected:
    HostLink() = default;
    HostLink(const HostLink&) = default;
    HostLink& operator=(const HostLink&) = default;
};
