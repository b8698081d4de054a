// The host's process elsewhere: the channel on private descriptors, the crash
// report from a signal handler, and a watcher thread that ends the host when
// the program's end of the channel closes.

#include "HostMain.h"
#include "HostProtocol.h"
#include "HostServer.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace {

int g_in = -1;
int g_out = -1;
// The crash report's buffer. The signal handler builds the report here at the
// crash, since it may not allocate, and writes it in one go.
char g_crashReply[512];

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

} // namespace

bool PipeChannel::read(char* data, std::size_t bytes) {
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

bool PipeChannel::write(const char* data, std::size_t bytes) {
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
