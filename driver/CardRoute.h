#pragma once

#include "AdDriver.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

/// How the program reaches the card, chosen by what lies beside it and, on
/// Windows, in the folders Windows' loader searches; nothing else (no command
/// line, variable or setting) has a say.
struct CardRoute {
    enum class Kind {
        /// A library of the program's own architecture (or one that cannot be
        /// told), loaded directly.
        Direct,
        /// A 32-bit tovira.dll, through the host beside the program.
        Host,
        /// No library anywhere the program looked: loaded directly by name, so
        /// the first call fails naming the library and where it was looked for.
        Missing,
    };
    Kind kind = Kind::Direct;
    QString library;           ///< the library's path (the name alone for Missing off Windows)
    QString host;              ///< the host program (Host)
    QStringList launcher;      ///< what runs the host: empty, or {"wine"} off Windows
    QStringList hostArguments; ///< the host's arguments: the library's path on Windows
    QStringList searched;      ///< where the program looked (Missing)
};

/// PE machine numbers of the libraries the program can use.
inline constexpr std::uint16_t kPeMachineI386 = 0x014C;
inline constexpr std::uint16_t kPeMachineAmd64 = 0x8664;

/// The machine a Windows executable or DLL is built for, read from its PE
/// header; empty when the file is not one.
std::optional<std::uint16_t> peMachine(const QString& path);

/// The route for a program in `programDir`, with tovira.dll looked for in
/// `folders` in order (librarySearchFolders):
/// - Windows: the first tovira.dll found decides: one of the program's own
///   machine (or of no machine it knows) is loaded directly, a 32-bit one
///   through tovira-host.exe beside the program;
/// - elsewhere: libtovira.so beside the program, loaded directly; else the
///   first 32-bit tovira.dll, through tovira-host.exe run with wine;
/// - otherwise Missing: off Windows, the system's library search still has
///   its turn when the first call loads "libtovira.so".
/// Each system's choice lives beside its library search
/// (LibrarySearch_win.cpp, LibrarySearch_posix.cpp), since both follow the
/// same loader.
CardRoute cardRoute(const QString& programDir, const QStringList& folders);
/// The same, looking where this system's loader would.
CardRoute cardRoute(const QString& programDir);

/// The driver for `route`. `onHostLost` hears of a host that ends on its own.
std::unique_ptr<AdDriver> makeDriver(const CardRoute& route,
                                     std::function<void(const QString&)> onHostLost);
