#include "LibrarySearch.h"

#include "CardRoute.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>

namespace {

using FolderQuery = UINT(WINAPI*)(LPWSTR, UINT);

QString systemFolder(FolderQuery query) {
    wchar_t path[MAX_PATH + 1];
    const UINT length = query(path, MAX_PATH + 1);
    // 0: none (no SysWOW64 on 32-bit Windows); more than the buffer: too long
    // to be a folder the loader would search.
    if (length == 0 || length > MAX_PATH)
        return {};
    return QDir::fromNativeSeparators(QString::fromWCharArray(path, static_cast<int>(length)));
}

} // namespace

QStringList librarySearchFolders(const QString& programDir) {
    QStringList folders{programDir};
    for (const FolderQuery query :
         {FolderQuery{GetSystemDirectoryW}, FolderQuery{GetSystemWow64DirectoryW},
          FolderQuery{GetWindowsDirectoryW}}) {
        const QString folder = systemFolder(query);
        if (!folder.isEmpty())
            folders << folder;
    }
    const QStringList path =
        qEnvironmentVariable("PATH").split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& folder : path)
        folders << QDir::fromNativeSeparators(folder.trimmed().remove(QLatin1Char('"')));
    folders.removeDuplicates();
    return folders;
}

bool systemSearchFollowsFolders() {
    return false;
}

CardRoute cardRoute(const QString& programDir, const QStringList& folders) {
    const QDir dir(programDir);
    const QString host = dir.filePath(QStringLiteral("tovira-host.exe"));
#if defined(Q_PROCESSOR_X86_64)
    constexpr std::uint16_t kOwnMachine = kPeMachineAmd64;
#else
    constexpr std::uint16_t kOwnMachine = kPeMachineI386;
#endif
    // Windows' loader takes the first tovira.dll on its path whatever its
    // machine, so the program does too.
    for (const QString& folder : folders) {
        const QString dll = QDir(folder).filePath(QStringLiteral("tovira.dll"));
        if (!QFileInfo(dll).isFile())
            continue;
        if (peMachine(dll) == kPeMachineI386 && kOwnMachine != kPeMachineI386)
            return {CardRoute::Kind::Host, dll, host, {}, {QDir::toNativeSeparators(dll)}, {}};
        // Ours, or one the loader will refuse with its own reason.
        return {CardRoute::Kind::Direct, dll, {}, {}, {}, {}};
    }
    return {
        CardRoute::Kind::Missing, dir.filePath(QStringLiteral("tovira.dll")), {}, {}, {}, folders};
}
