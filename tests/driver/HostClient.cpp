// A stand-in for the program: starts the card host of the folder given, makes
// one call, prints the host's process id and waits to be killed.
#include "driver/HostDriver.h"
#include "driver/ToviraApi.h"

#include <QCoreApplication>
#include <QDir>

#include <array>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QDir dir(QString::fromLocal8Bit(argv[1]));
#if defined(_WIN32)
    HostDriver card(dir.filePath(QStringLiteral("tovira-host.exe")), {},
                    dir.filePath(QStringLiteral("tovira.dll")));
#else
    HostDriver card(dir.filePath(QStringLiteral("tovira-host")), {},
                    dir.filePath(QStringLiteral("libtovira.so")));
#endif
    std::array<std::uint8_t, kCardNameBytes> name{};
    std::int32_t v = 0;
    float f = 0.0F;
    card.ConfigInfo(name.data(), &v, &v, &v, &v, &f, &f, &v);
    std::printf("%lld\n", static_cast<long long>(card.process().processId()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}
