// tovira-host: loads the card library and serves the program's calls to it
// over standard input and output (see HostProtocol.h). The library is the one
// named by the first argument (the program passes the file it found, which may
// be in Windows' system folder), else tovira.dll in the host's own folder. It
// shows no window of its own and ends when the program ends.
//
// The library may write to standard output or read standard input; neither
// may reach the program's channel. So the channel moves to private handles at
// once, and standard output then points at standard error, standard input at
// the null device.

#include "CardLibrary.h"
#include "HostProtocol.h"
#include "HostServer.h"

#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

constexpr int kExitCrashed = 3;

#if defined(_WIN32)

HANDLE g_in = INVALID_HANDLE_VALUE;
HANDLE g_out = INVALID_HANDLE_VALUE;

// One transfer on the channel, waited for. The program's pipes may have been
// opened for overlapped I/O (Qt's are), and such a handle needs an OVERLAPPED
// for every call, or a read may report completion before any data came; on a
// pipe without it the call simply completes at once. Anything else (a file,
// when a tool feeds the host one) is read as usual, from where it stands: an
// OVERLAPPED would say where in the file.
bool transfer(HANDLE handle, char* data, DWORD bytes, bool write, DWORD& done) {
    done = 0;
    // Asked once per handle: under Wine every question is a trip to its server.
    static const bool inIsPipe = GetFileType(g_in) == FILE_TYPE_PIPE;
    static const bool outIsPipe = GetFileType(g_out) == FILE_TYPE_PIPE;
    if (!(handle == g_in ? inIsPipe : outIsPipe)) {
        return (write ? WriteFile(handle, data, bytes, &done, nullptr)
                      : ReadFile(handle, data, bytes, &done, nullptr)) != 0;
    }
    thread_local HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    const BOOL started = write ? WriteFile(handle, data, bytes, nullptr, &overlapped)
                               : ReadFile(handle, data, bytes, nullptr, &overlapped);
    if (started) {
        // Done at once, as most are: the count is in the OVERLAPPED.
        done = static_cast<DWORD>(overlapped.InternalHigh);
        return true;
    }
    if (GetLastError() != ERROR_IO_PENDING)
        return false;
    return GetOverlappedResult(handle, &overlapped, &done, TRUE) != 0;
}

class PipeChannel final : public HostChannel {
public:
    bool read(char* data, std::size_t bytes) override {
        while (bytes > 0) {
            DWORD got = 0;
            if (!transfer(g_in, data, static_cast<DWORD>(bytes), false, got) || got == 0)
                return false;
            data += got;
            bytes -= got;
        }
        return true;
    }
    bool write(const char* data, std::size_t bytes) override {
        while (bytes > 0) {
            DWORD put = 0;
            if (!transfer(g_out, const_cast<char*>(data), static_cast<DWORD>(bytes), true, put) ||
                put == 0)
                return false;
            data += put;
            bytes -= put;
        }
        return true;
    }
};

HANDLE privateCopy(HANDLE handle) {
    HANDLE copy = INVALID_HANDLE_VALUE;
    DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    return copy;
}

void takeChannel() {
    g_in = privateCopy(GetStdHandle(STD_INPUT_HANDLE));
    g_out = privateCopy(GetStdHandle(STD_OUTPUT_HANDLE));
    HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    // For libraries that write through the handles, and for C runtimes
    // started after this (the library's own)...
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
    SetStdHandle(STD_INPUT_HANDLE, nul);
    // ...and for the C runtime this host shares with a library built like it.
    _dup2(_fileno(stderr), _fileno(stdout));
    const int nulFd = _open("NUL", _O_RDONLY);
    if (nulFd >= 0)
        _dup2(nulFd, _fileno(stdin));
}

LONG WINAPI reportCrash(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    char reason[160];
    std::snprintf(reason, sizeof reason, "exception 0x%08lX%s at address %p",
                  static_cast<unsigned long>(record->ExceptionCode),
                  record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION ? " (access violation)" : "",
                  record->ExceptionAddress);
    std::string reply = hostproto::textReply(hostproto::kCrashed, callInProgress(), reason);
    DWORD put = 0;
    transfer(g_out, reply.data(), static_cast<DWORD>(reply.size()), true, put);
    // Ends here, before any debugger or crash dialog could start.
    TerminateProcess(GetCurrentProcess(), kExitCrashed);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Ends the host when the program's end of the channel closes, even while the
// library holds the main thread in a call that does not return.
DWORD WINAPI watchProgram(void*) {
    while (true) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(g_in, nullptr, 0, nullptr, &waiting, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE)
                TerminateProcess(GetCurrentProcess(), 0);
            return 0; // not a pipe that can be watched; the main loop sees the end
        }
        Sleep(200);
    }
}

void prepareProcess() {
    // No error boxes of the system's own: a missing library is answered.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    takeChannel();
    SetUnhandledExceptionFilter(reportCrash);
    CreateThread(nullptr, 0, watchProgram, nullptr, 0, nullptr);
}

#else

int g_in = -1;
int g_out = -1;
// The crash report, made before any crash so the signal handler only writes.
char g_crashReply[512];

class PipeChannel final : public HostChannel {
public:
    bool read(char* data, std::size_t bytes) override {
        while (bytes > 0) {
            const ssize_t got = ::read(g_in, data, bytes);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            data += got;
            bytes -= static_cast<std::size_t>(got);
        }
        return true;
    }
    bool write(const char* data, std::size_t bytes) override {
        while (bytes > 0) {
            const ssize_t put = ::write(g_out, data, bytes);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            data += put;
            bytes -= static_cast<std::size_t>(put);
        }
        return true;
    }
};

void takeChannel() {
    g_in = fcntl(0, F_DUPFD_CLOEXEC, 3);
    g_out = fcntl(1, F_DUPFD_CLOEXEC, 3);
    dup2(2, 1);
    const int nul = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nul >= 0) {
        dup2(nul, 0);
        close(nul);
    }
}

// Appends for the signal handler, which may not allocate.
char* append(char* at, const char* end, const char* text) {
    while (*text != '\0' && at < end)
        *at++ = *text++;
    return at;
}

void reportCrash(int signal) {
    char text[256];
    char* at = append(text, text + sizeof text, callInProgress());
    at = append(at, text + sizeof text, "\nsignal ");
    char digits[12];
    int n = 0;
    for (int s = signal; n == 0 || s > 0; s /= 10)
        digits[n++] = static_cast<char>('0' + s % 10);
    while (n > 0 && at < text + sizeof text)
        *at++ = digits[--n];
    at = append(at, text + sizeof text, " (");
    at = append(at, text + sizeof text,
                sigabbrev_np(signal) != nullptr ? sigabbrev_np(signal) : "?");
    at = append(at, text + sizeof text, ")");
    const auto length = static_cast<std::uint32_t>(at - text);
    const std::uint32_t head[2] = {hostproto::kCrashed, length}; // little-endian hosts only
    std::memcpy(g_crashReply, head, sizeof head);
    std::memcpy(g_crashReply + sizeof head, text, length);
    [[maybe_unused]] const ssize_t put = ::write(g_out, g_crashReply, sizeof head + length);
    _exit(kExitCrashed);
}

void* watchProgram(void*) {
    // A pipe's read end reports a hang-up once the program's end is closed.
    pollfd watched{g_in, 0, 0};
    while (poll(&watched, 1, -1) < 0 && errno == EINTR) {
    }
    _exit(0);
}

void prepareProcess() {
    takeChannel();
    // A write to a program that is gone fails instead of killing the host.
    signal(SIGPIPE, SIG_IGN);
    static char alternateStack[64 * 1024];
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_handler = reportCrash;
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (const int s : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT})
        sigaction(s, &action, nullptr);
    pthread_t watcher;
    if (pthread_create(&watcher, nullptr, watchProgram, nullptr) == 0)
        pthread_detach(watcher);
}

#endif

} // namespace

int main(int argc, char* argv[]) {
    prepareProcess();
    PipeChannel channel;
    CardLibrary library(argc > 1 ? CardLibrary::argument(argv, 1) : CardLibrary::besideHost());
    return serveCalls(channel, library);
}
