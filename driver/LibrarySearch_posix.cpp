#include "LibrarySearch.h"

#include "CardRoute.h"
#include "LibraryDriver.h"

#include <QDir>
#include <QFileInfo>

QStringList librarySearchFolders(const QString& programDir) {
    return {programDir};
}

bool systemSearchFollowsFolders() {
    return true;
}

CardRoute cardRoute(const QString& programDir, const QStringList& folders) {
    const QDir dir(programDir);
    const QString host = dir.filePath(QStringLiteral("tovira-host.exe"));
    // That very file, so that what the program says of it names the file.
    const QString library = LibraryDriver::besideProgram(programDir);
    if (QFileInfo::exists(library))
        return {CardRoute::Kind::Direct, library, {}, {}, {}, {}};
    for (const QString& folder : folders) {
        const QString dll = QDir(folder).filePath(QStringLiteral("tovira.dll"));
        // The host loads the library beside itself, so it needs no argument.
        if (peMachine(dll) == kPeMachineI386)
            return {CardRoute::Kind::Host, dll, host, {QStringLiteral("wine")}, {}, {}};
    }
    return {CardRoute::Kind::Missing, QStringLiteral("libtovira.so"), {}, {}, {}, folders};
}
