#include "HostProcess.h"

#include <QProcess>

#if defined(Q_OS_LINUX)
#include <signal.h>
#include <sys/prctl.h>
#endif

void HostProcess::prepare([[maybe_unused]] QProcess& process) {
#if defined(Q_OS_LINUX)
    // The kernel kills the host when the program's thread that started it
    // ends, even one stuck in a library call that never returns.
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
}

bool HostProcess::adopt(QProcess&) {
    return true;
}
