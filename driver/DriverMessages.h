#pragma once

#include "LibrarySearch.h"

#include <QDir>
#include <QString>
#include <QStringList>

// The fatal messages for a card library that cannot be had, worded the same
// whether the program binds the library itself or reaches it through the host.

/// The library did not load.
inline QString libraryNotLoadedText(const QString& library, const QString& reason) {
    return QStringLiteral("无法加载驱动程序库 %1：%2").arg(library, reason);
}

/// The file found under the library's name is no library of any machine: a
/// text, an empty file, anything without a library's header.
inline QString notALibraryText(const QString& library) {
    return libraryNotLoadedText(library, QStringLiteral("该文件不是任何机器的程序库"));
}

/// The library has no export of that name.
inline QString functionMissingText(const QString& library, const QString& function,
                                   const QString& reason) {
    return QStringLiteral("驱动程序库 %1 中找不到函数 %2：%3").arg(library, function, reason);
}

/// No library was found where the program looked; `reason` is the loader's
/// own, from the last try. Off Windows the system's library search also had
/// its turn.
inline QString libraryNotFoundText(const QString& library, const QStringList& searched,
                                   const QString& reason) {
    QStringList places;
    for (const QString& folder : searched)
        places << QDir::toNativeSeparators(folder);
    if (systemSearchFollowsFolders())
        places << QStringLiteral("系统的库搜索路径");
    return QStringLiteral("无法加载驱动程序库 %1：%2（已查找：%3）")
        .arg(library, reason, places.join(QStringLiteral("；")));
}
