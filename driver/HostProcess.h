#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

/// The card host as a child process: its start, its tie to the program's
/// life, its standard error, the waits for its channel and the words for how
/// it ended. It knows nothing of what is said over the channel; HostDriver
/// speaks the protocol on top of it.
///
/// Every wait runs on the calling thread (the window's) up to a deadline, as a
/// call into a directly loaded library would hold it.
class HostProcess final {
public:
    using Clock = std::chrono::steady_clock;

    /// How a wait for the channel ended.
    enum class Wait {
        Done,
        Ended,  ///< the host is no longer running
        Silent, ///< the deadline passed
    };

    /// `launcher` runs the host program (empty, or e.g. {"wine"}); `arguments`
    /// follow the host's path.
    HostProcess(QString hostPath, QStringList launcher, QStringList arguments);
    /// Closes the host's input so it ends; kills it if it does not.
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    /// Starts the host and ties it to the program's life; false, with the
    /// reason in startFailureText(), when it could not be started.
    bool start(Clock::time_point deadline);
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    /// The host's process id; 0 before the start or after it ended.
    qint64 processId() const { return m_process.processId(); }

    /// Writes all of `data` and waits until the host has it.
    Wait write(const char* data, qint64 bytes, Clock::time_point deadline);
    /// Waits for exactly `bytes` and reads them.
    Wait read(char* data, qint64 bytes, Clock::time_point deadline);

    /// Ends the host at once, if it still runs.
    void kill();
    /// Gives a host that said it is ending a moment to do so.
    void awaitEnd();

    /// Called from the event loop when the host ends, unless the destructor
    /// ended it.
    void setFinishedHandler(std::function<void()> handler) { m_onFinished = std::move(handler); }

    /// The host program, as messages name it: written with the system's
    /// separators, as the other paths in them are.
    const QString& path() const { return m_shownPath; }
    /// Why start() failed.
    QString startFailureText() const;
    /// The host ended after it had answered: how it ended.
    QString endedText() const;
    /// The host never answered as a host: how it ended, or that its answer
    /// made no sense, and its (or its launcher's) last words. `output` is what
    /// it sent on the channel that was already read.
    QString notRunText(const QByteArray& output);

private:
    // Each system ties the host to the program in its own way
    // (HostProcess_posix.cpp, HostProcess_win.cpp): called before the start,
    // and once the host runs; false when it could not be tied (it still ends
    // when its input closes).
    static void prepare(QProcess& process);
    static bool adopt(QProcess& process);

    QString exitText() const;
    /// Passes the host's standard error on to the program's, keeping its tail.
    void forwardErrors();

    QString m_hostPath;
    QString m_shownPath;
    QStringList m_launcher;
    QStringList m_arguments;
    QProcess m_process;
    QMetaObject::Connection m_finished;
    std::function<void()> m_onFinished;
    QByteArray m_errorTail; // the end of what the host (or its launcher) wrote to stderr
};
