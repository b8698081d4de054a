// The host's channel here is the QProcess's own pair of pipes: waiting on them
// costs a poll, no more.

#include "HostProcess.h"

#include <QProcess>

#if defined(Q_OS_LINUX)
#include <signal.h>
#include <sys/prctl.h>
#endif

struct HostProcess::Channel {};

void HostProcess::ChannelDeleter::operator()(Channel* channel) const {
    delete channel;
}

bool HostProcess::prepare() {
#if defined(Q_OS_LINUX)
    // The kernel kills the host when the program's thread that started it
    // ends, even one stuck in a library call that never returns.
    m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
    return true;
}

bool HostProcess::adopt() {
    return true;
}

void HostProcess::closeInput() {
    m_process.closeWriteChannel();
}

QByteArray HostProcess::unreadOutput() {
    return m_process.readAllStandardOutput();
}

HostProcess::Wait HostProcess::write(const char* data, qint64 bytes, Clock::time_point deadline) {
    m_process.write(data, bytes);
    while (m_process.bytesToWrite() > 0) {
        if (!m_process.waitForBytesWritten(msLeft(deadline)) && m_process.bytesToWrite() > 0) {
            if (!running())
                return Wait::Ended;
            if (msLeft(deadline) == 0)
                return Wait::Silent;
        }
    }
    return Wait::Done;
}

HostProcess::Wait HostProcess::read(char* data, qint64 bytes, Clock::time_point deadline) {
    while (m_process.bytesAvailable() < bytes) {
        if (!m_process.waitForReadyRead(msLeft(deadline)) && m_process.bytesAvailable() < bytes) {
            if (!running())
                return Wait::Ended;
            if (msLeft(deadline) == 0)
                return Wait::Silent;
        }
    }
    m_process.read(data, bytes);
    return Wait::Done;
}
