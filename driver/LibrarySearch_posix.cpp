#include "LibrarySearch.h"

QStringList librarySearchFolders(const QString& programDir) {
    return {programDir};
}
