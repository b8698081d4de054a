#include "CardRoute.h"

#include "HostDriver.h"
#include "LibraryDriver.h"
#include "LibrarySearch.h"

#include <QDir>
#include <QFile>

std::optional<std::uint16_t> peMachine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The DOS header starts "MZ" and holds the PE header's offset at 0x3C; the
    // PE header starts "PE\0\0" and then names the machine.
    const QByteArray dos = file.read(0x40);
    if (dos.size() < 0x40 || !dos.startsWith("MZ"))
        return std::nullopt;
    const auto byte = [](const QByteArray& b, int i) { return static_cast<std::uint8_t>(b[i]); };
    const std::uint32_t offset = byte(dos, 0x3C) | byte(dos, 0x3D) << 8 | byte(dos, 0x3E) << 16 |
                                 std::uint32_t{byte(dos, 0x3F)} << 24;
    if (!file.seek(offset))
        return std::nullopt;
    const QByteArray pe = file.read(6);
    if (pe.size() < 6 || !pe.startsWith(QByteArray("PE\0\0", 4)))
        return std::nullopt;
    return static_cast<std::uint16_t>(byte(pe, 4) | byte(pe, 5) << 8);
}

CardRoute cardRoute(const QString& programDir) {
    return cardRoute(programDir, librarySearchFolders(programDir));
}

std::unique_ptr<AdDriver> makeDriver(const CardRoute& route,
                                     std::function<void(const QString&)> onHostLost) {
    if (route.kind == CardRoute::Kind::Direct)
        return std::make_unique<LibraryDriver>(route.library);
    if (route.kind == CardRoute::Kind::Missing)
        return std::make_unique<LibraryDriver>(route.library, route.searched);
    // Messages name the library as the system writes paths (the host's own
    // path HostProcess shows so).
    auto host = std::make_unique<HostDriver>(route.host, route.launcher,
                                             QDir::toNativeSeparators(route.library),
                                             HostDriver::Timeouts{}, route.hostArguments);
    host->setHostLostHandler(std::move(onHostLost));
    return host;
}
