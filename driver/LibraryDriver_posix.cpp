#include "LibraryDriver.h"

#include <QDir>
#include <QFile>

#include <dlfcn.h>

QString LibraryDriver::besideProgram(const QString& programDir) {
    return QDir(programDir).filePath(QStringLiteral("libtovira.so"));
}

bool LibraryDriver::isLibraryFile(const QString& path) {
    // Every library the dynamic loader takes, of any machine, is an ELF file.
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(4) == "\177ELF";
}

QString LibraryDriver::missingFunctionReason(const QLibrary& library, const char* name) {
    // QLibrary keeps no reason for a missing export. The library is loaded,
    // so the same question to the loader gets the same answer, and this time
    // dlerror's words, which name the symbol.
    void* handle =
        dlopen(QFile::encodeName(library.fileName()).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr)
        return QStringLiteral("库中没有这个导出函数");
    dlerror();
    const bool found = dlsym(handle, name) != nullptr;
    const char* error = dlerror();
    const QString reason = !found && error != nullptr ? QString::fromLocal8Bit(error)
                                                      : QStringLiteral("库中没有这个导出函数");
    dlclose(handle);
    return reason;
}
