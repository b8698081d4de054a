#pragma once

#include <QString>

// The fatal messages for a card library that cannot be had, worded the same
// whether the program binds the library itself or reaches it through the host.

/// The library did not load.
inline QString libraryNotLoadedText(const QString& library, const QString& reason) {
    return QStringLiteral("无法加载驱动程序库 %1：%2").arg(library, reason);
}

/// The library has no export of that name.
inline QString functionMissingText(const QString& library, const QString& function,
                                   const QString& reason) {
    return QStringLiteral("驱动程序库 %1 中找不到函数 %2：%3").arg(library, function, reason);
}
