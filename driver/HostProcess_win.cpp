// The host's process on Windows: a job that ends it with the program, and a
// channel of its own.
//
// QProcess's pipes are read by a thread of the system's pool, which wakes the
// waiting thread in turn: each wait for the host's reply crosses threads
// twice, several times a tick, and under Wine every step is a trip to its
// server. So the host's standard input and output are pipes made here, each
// with the program's end opened for overlapped transfers: a reply that is
// there already is taken by one ReadFile, and one that is not is waited for
// on the calling thread, up to the call's deadline. Everything the host sent
// is read in one go and kept for the reads that follow. Its standard error
// stays QProcess's, which passes it on.

#include "HostProcess.h"

#include "WindowsReason.h"

#include <QProcess>
#include <QRandomGenerator>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// One job for the program's life. Windows closes its handle when the program
// ends in any way, and closing the last handle kills every process in it.
HANDLE programJob() {
    static const HANDLE job = [] {
        HANDLE created = CreateJobObjectW(nullptr, nullptr);
        if (created == nullptr)
            return created;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits,
                                     sizeof limits)) {
            CloseHandle(created);
            return HANDLE{nullptr};
        }
        return created;
    }();
    return job;
}

// Enough for every reply the host sends for one request at the highest rate.
constexpr std::size_t kReadBytes = 64 * 1024;

void closeHandle(HANDLE& handle) {
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr)
        CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

// A pipe between the program and the host: the program's end overlapped,
// the host's end inheritable, for the host's start. Named as Qt names its
// own, unguessably, for one connection from this machine; the default
// security lets no other user open it, and the single instance is taken by
// the host's end before anyone else could take it.
bool makePipe(bool toHost, HANDLE& ours, HANDLE& hosts, QString& reason) {
    const QString name = QStringLiteral("\\\\.\\pipe\\tovira-host-%1-%2")
                             .arg(GetCurrentProcessId())
                             .arg(QRandomGenerator::system()->generate64(), 16, 16, QChar(u'0'));
    const auto path = reinterpret_cast<const wchar_t*>(name.utf16());
    ours = CreateNamedPipeW(path,
                            (toHost ? PIPE_ACCESS_OUTBOUND : PIPE_ACCESS_INBOUND) |
                                FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT |
                                PIPE_REJECT_REMOTE_CLIENTS,
                            1, kReadBytes, kReadBytes, 0, nullptr);
    if (ours == INVALID_HANDLE_VALUE) {
        reason = windowsReason(GetLastError());
        return false;
    }
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    // The attributes beside the direction let each side ask the other's
    // state (the host watches its input for the program's end).
    hosts = CreateFileW(path, toHost ? GENERIC_READ | FILE_WRITE_ATTRIBUTES
                                     : GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                        0, &inherited, OPEN_EXISTING, 0, nullptr);
    if (hosts == INVALID_HANDLE_VALUE) {
        reason = windowsReason(GetLastError());
        closeHandle(ours);
        return false;
    }
    return true;
}

} // namespace

struct HostProcess::Channel {
    HANDLE toHost = INVALID_HANDLE_VALUE;   // the program's end of the host's input
    HANDLE fromHost = INVALID_HANDLE_VALUE; // the program's end of the host's output
    // The host's ends, which only the host keeps once it runs: so its end is
    // the pipes' end.
    HANDLE hostIn = INVALID_HANDLE_VALUE;
    HANDLE hostOut = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;   // a transfer's completion
    HANDLE process = nullptr; // the host, to see it end while a transfer waits
    // What came from the host and no read took yet: bytes begin to end.
    std::vector<char> buffer = std::vector<char>(kReadBytes);
    std::size_t begin = 0;
    std::size_t end = 0;

    ~Channel() {
        closeHandle(toHost);
        closeHandle(fromHost);
        closeHandle(hostIn);
        closeHandle(hostOut);
        closeHandle(event);
        closeHandle(process);
    }

    // Starts a transfer on `pipe` and waits for it until `deadline`, or until
    // the host has ended. The bytes moved, or how the wait ended.
    Wait transfer(HANDLE pipe, char* data, DWORD bytes, bool write, int ms, DWORD& done) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event;
        done = 0;
        const BOOL now = write ? WriteFile(pipe, data, bytes, nullptr, &overlapped)
                               : ReadFile(pipe, data, bytes, nullptr, &overlapped);
        if (!now && GetLastError() != ERROR_IO_PENDING)
            return Wait::Ended; // the host closed its end: it has ended, or is ending
        if (!now) {
            const HANDLE waits[2] = {event, process};
            const DWORD woke =
                WaitForMultipleObjects(process != nullptr ? 2 : 1, waits, FALSE, DWORD(ms));
            if (woke != WAIT_OBJECT_0) {
                // The transfer is taken back; what it moved before that counts.
                CancelIoEx(pipe, &overlapped);
                GetOverlappedResult(pipe, &overlapped, &done, TRUE);
                if (done > 0)
                    return Wait::Done;
                return woke == WAIT_OBJECT_0 + 1 ? Wait::Ended : Wait::Silent;
            }
        }
        if (!GetOverlappedResult(pipe, &overlapped, &done, FALSE))
            return Wait::Ended;
        return Wait::Done;
    }
};

void HostProcess::ChannelDeleter::operator()(Channel* channel) const {
    delete channel;
}

bool HostProcess::prepare() {
    auto channel = std::unique_ptr<Channel, ChannelDeleter>(new Channel);
    channel->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (channel->event == nullptr) {
        m_startError = windowsReason(GetLastError());
        return false;
    }
    if (!makePipe(true, channel->toHost, channel->hostIn, m_startError) ||
        !makePipe(false, channel->fromHost, channel->hostOut, m_startError))
        return false;
    // QProcess opens the null device for both, and the host gets the pipes
    // instead. They are inheritable only until the host has started, and
    // the program starts nothing else meanwhile.
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.setStandardOutputFile(QProcess::nullDevice());
    const HANDLE hostIn = channel->hostIn;
    const HANDLE hostOut = channel->hostOut;
    m_process.setCreateProcessArgumentsModifier(
        [hostIn, hostOut](QProcess::CreateProcessArguments* arguments) {
            arguments->startupInfo->hStdInput = hostIn;
            arguments->startupInfo->hStdOutput = hostOut;
            arguments->inheritHandles = true;
        });
    m_channel = std::move(channel);
    return true;
}

bool HostProcess::adopt() {
    if (!m_channel)
        return false;
    closeHandle(m_channel->hostIn);
    closeHandle(m_channel->hostOut);
    const auto id = static_cast<DWORD>(m_process.processId());
    if (id == 0)
        return false;
    m_channel->process = OpenProcess(SYNCHRONIZE, FALSE, id);
    const HANDLE job = programJob();
    if (job == nullptr)
        return false;
    HANDLE host = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, id);
    if (host == nullptr)
        return false;
    const bool assigned = AssignProcessToJobObject(job, host) != 0;
    CloseHandle(host);
    return assigned;
}

void HostProcess::closeInput() {
    if (m_channel)
        closeHandle(m_channel->toHost);
}

QByteArray HostProcess::unreadOutput() {
    if (!m_channel)
        return {};
    Channel& c = *m_channel;
    QByteArray output(c.buffer.data() + c.begin, static_cast<qsizetype>(c.end - c.begin));
    c.begin = c.end = 0;
    // And what is in the pipe still, without waiting for more.
    DWORD waiting = 0;
    while (PeekNamedPipe(c.fromHost, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
        DWORD got = 0;
        if (c.transfer(c.fromHost, c.buffer.data(), DWORD(std::min<std::size_t>(waiting, kReadBytes)),
                       false, 0, got) != Wait::Done)
            break;
        output.append(c.buffer.data(), got);
    }
    return output;
}

HostProcess::Wait HostProcess::write(const char* data, qint64 bytes, Clock::time_point deadline) {
    if (!m_channel || m_channel->toHost == INVALID_HANDLE_VALUE)
        return ended();
    while (bytes > 0) {
        DWORD put = 0;
        const Wait wait = m_channel->transfer(m_channel->toHost, const_cast<char*>(data),
                                              static_cast<DWORD>(bytes), true, msLeft(deadline),
                                              put);
        if (wait == Wait::Ended)
            return ended();
        if (wait == Wait::Silent)
            return wait;
        data += put;
        bytes -= put;
    }
    return Wait::Done;
}

HostProcess::Wait HostProcess::read(char* data, qint64 bytes, Clock::time_point deadline) {
    if (!m_channel)
        return ended();
    Channel& c = *m_channel;
    const auto wanted = static_cast<std::size_t>(bytes);
    while (c.end - c.begin < wanted) {
        // Room at the back for whatever the host has sent.
        if (c.begin > 0) {
            std::memmove(c.buffer.data(), c.buffer.data() + c.begin, c.end - c.begin);
            c.end -= c.begin;
            c.begin = 0;
        }
        if (c.buffer.size() < wanted + kReadBytes / 2)
            c.buffer.resize(wanted + kReadBytes);
        DWORD got = 0;
        const Wait wait = c.transfer(c.fromHost, c.buffer.data() + c.end,
                                     static_cast<DWORD>(c.buffer.size() - c.end), false,
                                     msLeft(deadline), got);
        if (wait == Wait::Silent)
            return wait;
        if (wait == Wait::Ended) {
            // A host that ended may have said why first: that is still to
            // be read, and a read finds the pipe's end only after it.
            if (c.process != nullptr && WaitForSingleObject(c.process, 0) == WAIT_OBJECT_0) {
                closeHandle(c.process);
                continue;
            }
            return ended();
        }
        c.end += got;
    }
    std::memcpy(data, c.buffer.data() + c.begin, wanted);
    c.begin += wanted;
    return Wait::Done;
}
