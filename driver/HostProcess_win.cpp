#include "HostProcess.h"

#include <QProcess>

#include <windows.h>

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

} // namespace

void HostProcess::prepare(QProcess&) {
}

bool HostProcess::adopt(QProcess& process) {
    const HANDLE job = programJob();
    if (job == nullptr)
        return false;
    HANDLE host = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE,
                              static_cast<DWORD>(process.processId()));
    if (host == nullptr)
        return false;
    const bool assigned = AssignProcessToJobObject(job, host) != 0;
    CloseHandle(host);
    return assigned;
}
