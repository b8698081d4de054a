#pragma once

#include <QString>
#include <QStringList>

/// The folders where a program in `programDir` looks for tovira.dll, in the
/// order Windows' loader searches them for a library loaded by name: the
/// program's folder, the system folder (and SysWOW64, where 32-bit libraries
/// live on 64-bit Windows), the Windows folder, then each folder on PATH.
/// Elsewhere only the program's folder: the 32-bit DLL is reached through the
/// host beside the program, and a native library is found by the system's own
/// library search.
QStringList librarySearchFolders(const QString& programDir);

/// Whether the system's own library search has its turn after those folders:
/// not on Windows, where they are the loader's whole search; elsewhere a
/// library not found in them is still loaded by name (libtovira.so).
bool systemSearchFollowsFolders();
