#include "LibrarySearch.h"

#include <QDir>

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
