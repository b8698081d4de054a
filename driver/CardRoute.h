#pragma once

#include "AdDriver.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

/// How the program reaches the card, chosen by what lies beside it; nothing
/// else (no command line, variable or setting) has a say.
struct CardRoute {
    enum class Kind {
        /// A library of the program's own architecture, loaded directly; also
        /// the route when nothing usable is there, whose first call then fails
        /// naming the library that is missing.
        Direct,
        /// A 32-bit tovira.dll, through the host beside it.
        Host,
    };
    Kind kind = Kind::Direct;
    QString library;      ///< the library's path (without suffix for Direct)
    QString host;         ///< the host program (Host)
    QStringList launcher; ///< what runs the host: empty, or {"wine"} off Windows
};

/// PE machine numbers of the libraries the program can use.
inline constexpr std::uint16_t kPeMachineI386 = 0x014C;
inline constexpr std::uint16_t kPeMachineAmd64 = 0x8664;

/// The machine a Windows executable or DLL is built for, read from its PE
/// header; empty when the file is not one.
std::optional<std::uint16_t> peMachine(const QString& path);

/// The route for a program in `programDir`:
/// 1. a tovira library of the program's own architecture (libtovira.so, or a
///    tovira.dll of the program's machine on Windows): directly;
/// 2. otherwise a 32-bit tovira.dll: through tovira-host.exe beside it, run
///    with wine off Windows;
/// 3. otherwise directly, so the first call names the missing library.
CardRoute cardRoute(const QString& programDir);

/// The driver for `route`. `onHostLost` hears of a host that ends on its own.
std::unique_ptr<AdDriver> makeDriver(const CardRoute& route,
                                     std::function<void(const QString&)> onHostLost);
