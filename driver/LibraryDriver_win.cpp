#include "LibraryDriver.h"

#include "CardRoute.h"
#include "WindowsReason.h"

#include <QDir>

#include <windows.h>

#include <string>

QString LibraryDriver::besideProgram(const QString& programDir) {
    return QDir(programDir).filePath(QStringLiteral("tovira.dll"));
}

bool LibraryDriver::isLibraryFile(const QString& path) {
    // The loader takes only PE files; one of a machine it cannot run it
    // refuses with its own reason.
    return peMachine(path).has_value();
}

QString LibraryDriver::missingFunctionReason(const QLibrary& library, const char* name) {
    // QLibrary keeps no reason for a missing export on Windows. The library
    // is loaded, so the same question to the loader gets the same answer,
    // and this time its error number.
    DWORD error = ERROR_PROC_NOT_FOUND;
    const std::wstring path = QDir::toNativeSeparators(library.fileName()).toStdWString();
    HMODULE module = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, path.c_str(), &module) &&
        GetProcAddress(module, name) == nullptr)
        error = GetLastError();
    return windowsReason(error);
}
