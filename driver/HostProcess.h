#pragma once

#include "HostLink.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

/// The card host as a child process: its start, its tie to the program's
/// life, its standard error, the waits for its channel and the words for how
/// it ended. It knows nothing of what is said over the channel; HostDriver
/// speaks the protocol on top of it.
///
/// Every wait runs on the calling thread (the window's) up to a deadline, as a
/// call into a directly loaded library would hold it.
///
/// The channel is each system's own (HostProcess_posix.cpp,
/// HostProcess_win.cpp): the QProcess's pipes where waiting on them is cheap,
/// and pipes of its own on Windows, where every wait of QProcess goes through
/// a thread of the system's pool and back, several times a tick.
class HostProcess final : public HostLink {
public:
    /// `launcher` runs the host program (empty, or e.g. {"wine"}); `arguments`
    /// follow the host's path.
    HostProcess(QString hostPath, QStringList launcher, QStringList arguments);
    /// Closes the host's input so it ends; kills it if it does not.
    ~HostProcess() override;
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    /// Also ties the host to the program's life.
    bool start(Clock::time_point deadline) override;
    bool running() const override { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const override { return m_process.processId(); }
    Wait write(const char* data, qint64 bytes, Clock::time_point deadline) override;
    Wait read(char* data, qint64 bytes, Clock::time_point deadline) override;
    void kill() override;
    void awaitEnd() override;
    /// Not called when the destructor ends the host.
    void setFinishedHandler(std::function<void()> handler) override {
        m_onFinished = std::move(handler);
    }
    /// Written with the system's separators, as the other paths in messages are.
    const QString& path() const override { return m_shownPath; }
    QString startFailureText() const override;
    QString endedText() const override;
    /// Its (or its launcher's) last words come from its standard error first.
    QString notRunText(const QByteArray& output) override;

private:
    // What each system keeps of the channel, and its release (defined beside
    // each system's transfers).
    struct Channel;
    struct ChannelDeleter {
        void operator()(Channel* channel) const;
    };

    // Each system readies the start in its own way: false, with the reason
    // in m_startError, when the channel cannot be made.
    bool prepare();
    // Called once the host runs. Each system ties the host to the program in
    // its own way: false when it could not be tied (it still ends when its
    // input closes).
    bool adopt();
    // Closes the host's input: a host reading it ends.
    void closeInput();
    // What the host sent on the channel that no read took yet, without waiting.
    QByteArray unreadOutput();
    // The process has ended, or ends in a moment: waits for QProcess to know
    // how, for the messages.
    Wait ended();

    static int msLeft(Clock::time_point deadline);
    QString exitText() const;
    /// Passes the host's standard error on to the program's, keeping its tail.
    void forwardErrors();

    QString m_hostPath;
    QString m_shownPath;
    QStringList m_launcher;
    QStringList m_arguments;
    QProcess m_process;
    std::unique_ptr<Channel, ChannelDeleter> m_channel;
    QString m_startError; // why the channel could not be made, when it could not
    QMetaObject::Connection m_finished;
    std::function<void()> m_onFinished;
    QByteArray m_errorTail; // the end of what the host (or its launcher) wrote to stderr
};
