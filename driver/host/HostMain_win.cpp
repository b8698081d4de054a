// The host's process on Windows: the channel on private handles, the crash
// report from an unhandled-exception filter, and a watcher thread that ends
// the host when the program's end of the channel closes.

#include "HostMain.h"
#include "HostProtocol.h"
#include "HostServer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

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

} // namespace

bool PipeChannel::read(char* data, std::size_t bytes) {
    // Whatever the program has sent is taken in one transfer, a request with
    // its arguments, and handed out from here: under Wine each transfer is a
    // trip to its server.
    static char buffer[4096];
    static std::size_t begin = 0;
    static std::size_t end = 0;
    while (bytes > 0) {
        if (begin == end) {
            DWORD got = 0;
            if (!transfer(g_in, buffer, sizeof buffer, false, got) || got == 0)
                return false;
            begin = 0;
            end = got;
        }
        const std::size_t taken = std::min(bytes, end - begin);
        std::memcpy(data, buffer + begin, taken);
        begin += taken;
        data += taken;
        bytes -= taken;
    }
    return true;
}

bool PipeChannel::write(const char* data, std::size_t bytes) {
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

void prepareProcess() {
    // No error boxes of the system's own: a missing library is answered.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    takeChannel();
    SetUnhandledExceptionFilter(reportCrash);
    CreateThread(nullptr, 0, watchProgram, nullptr, 0, nullptr);
}
