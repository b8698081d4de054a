#include "driver/CardRoute.h"
#include "driver/DriverMessages.h"
#include "driver/LibraryDriver.h"
#include "driver/LibrarySearch.h"
#include "tests/support/FatalText.h"

#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace {

// The smallest file whose PE header names `machine`.
void writePe(const QString& path, std::uint16_t machine) {
    QByteArray bytes(0x48, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3C] = 0x40;
    bytes.replace(0x40, 4, QByteArray("PE\0\0", 4));
    bytes[0x44] = static_cast<char>(machine & 0xFF);
    bytes[0x45] = static_cast<char>(machine >> 8);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void writeText(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

struct Folders {
    QTemporaryDir root;
    QString program = folder("program");
    QString system = folder("system");
    QString path = folder("path");

    QString folder(const char* name) {
        const QString f = root.filePath(QString::fromLatin1(name));
        QDir().mkpath(f);
        return f;
    }
    QStringList all() const { return {program, system, path}; }
};

TEST(CardRoute, PeMachineIsReadFromTheHeaderAndAnythingElseIsNone) {
    Folders f;
    const QString dll = QDir(f.program).filePath(QStringLiteral("a.dll"));
    writePe(dll, kPeMachineI386);
    EXPECT_EQ(peMachine(dll), kPeMachineI386);
    writePe(dll, kPeMachineAmd64);
    EXPECT_EQ(peMachine(dll), kPeMachineAmd64);
    writeText(dll, "MZ but far too short");
    EXPECT_EQ(peMachine(dll), std::nullopt);
    EXPECT_EQ(peMachine(QDir(f.program).filePath(QStringLiteral("none.dll"))), std::nullopt);
}

#if defined(Q_OS_WIN)

TEST(CardRoute, TheFirstDllOnWindowsSearchPathDecides) {
    Folders f;
    const QString systemDll = QDir(f.system).filePath(QStringLiteral("tovira.dll"));
    const QString pathDll = QDir(f.path).filePath(QStringLiteral("tovira.dll"));
    writePe(systemDll, kPeMachineAmd64);
    writePe(pathDll, kPeMachineI386);

    // A 64-bit library in the system folder, found before the 32-bit one on PATH.
    CardRoute route = cardRoute(f.program, f.all());
    EXPECT_EQ(route.kind, CardRoute::Kind::Direct);
    EXPECT_EQ(route.library, systemDll);

    // A 32-bit library: the host beside the program loads that very file.
    writePe(systemDll, kPeMachineI386);
    route = cardRoute(f.program, f.all());
    EXPECT_EQ(route.kind, CardRoute::Kind::Host);
    EXPECT_EQ(route.library, systemDll);
    EXPECT_EQ(route.host, QDir(f.program).filePath(QStringLiteral("tovira-host.exe")));
    EXPECT_TRUE(route.launcher.isEmpty());
    EXPECT_EQ(route.hostArguments, QStringList{QDir::toNativeSeparators(systemDll)});

    // Something that is no PE file is loaded directly too, and found to be
    // none when the loader refuses it.
    const QString besideDll = QDir(f.program).filePath(QStringLiteral("tovira.dll"));
    writeText(besideDll, "not a library");
    route = cardRoute(f.program, f.all());
    EXPECT_EQ(route.kind, CardRoute::Kind::Direct);
    EXPECT_EQ(route.library, besideDll);
}

TEST(CardRoute, WindowsLooksBesideTheProgramThenInTheSystemFolders) {
    Folders f;
    const QStringList folders = librarySearchFolders(f.program);
    ASSERT_GE(folders.size(), 3);
    EXPECT_EQ(folders.front(), f.program);
    const auto at = [&](const QString& name) {
        for (qsizetype i = 0; i < folders.size(); ++i)
            if (folders[i].endsWith(name, Qt::CaseInsensitive))
                return i;
        return qsizetype{-1};
    };
    EXPECT_EQ(at(QStringLiteral("/system32")), 1) << folders.join(u' ').toStdString();
    EXPECT_GT(at(QStringLiteral("/windows")), 1) << folders.join(u' ').toStdString();
}

#else

TEST(CardRoute, ANativeLibraryBesideTheProgramComesFirstThenA32BitDllThroughWine) {
    Folders f;
    const QString dll = QDir(f.program).filePath(QStringLiteral("tovira.dll"));
    writePe(dll, kPeMachineI386);
    CardRoute route = cardRoute(f.program, {f.program});
    EXPECT_EQ(route.kind, CardRoute::Kind::Host);
    EXPECT_EQ(route.library, dll);
    EXPECT_EQ(route.launcher, QStringList{QStringLiteral("wine")});
    // The host finds the library beside itself.
    EXPECT_TRUE(route.hostArguments.isEmpty());

    writeText(QDir(f.program).filePath(QStringLiteral("libtovira.so")), "");
    route = cardRoute(f.program, {f.program});
    EXPECT_EQ(route.kind, CardRoute::Kind::Direct);
    EXPECT_EQ(route.library, LibraryDriver::besideProgram(f.program));
}

#endif

TEST(CardRoute, AFileThatIsNoLibraryIsSaidToBeNoneAndAnyOtherRefusalIsTheLoaders) {
    // The head of a real library, cut short: a library's header, which the
    // loader refuses with reasons of its own.
    QFile real(LibraryDriver::besideProgram(QStringLiteral(SIM_LIBRARY_DIR)));
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    const QByteArray head = real.read(256);
    const struct {
        const char* what;
        QByteArray contents;
        bool noLibrary;
    } rows[] = {
        {"a text", "not a library\r\n", true},
        {"an empty file", "", true},
        {"a library cut short", head, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Folders f;
        const QString file = LibraryDriver::besideProgram(f.program);
        writeText(file, row.contents);
        const CardRoute route = cardRoute(f.program, f.all());
        ASSERT_EQ(route.kind, CardRoute::Kind::Direct);
        ASSERT_EQ(route.library, file);

        const auto driver = makeDriver(route, nullptr);
        std::array<std::uint8_t, kCardNameBytes> name{};
        std::int32_t v = 0;
        float zero = 0.0F;
        float span = 0.0F;
        const std::string message = fatalErrorText(
            [&] { driver->ConfigInfo(name.data(), &v, &v, &v, &v, &zero, &span, &v); });
        const QString shown = QDir::toNativeSeparators(file);
        if (row.noLibrary) {
            EXPECT_EQ(message, notALibraryText(shown).toStdString());
        } else {
            QLibrary probe(file);
            ASSERT_FALSE(probe.load());
            EXPECT_EQ(message, libraryNotLoadedText(shown, probe.errorString()).toStdString());
        }
    }
}

TEST(CardRoute, NoLibraryAnywhereIsFatalAtTheFirstCallNamingWhereItWasLooked) {
    Folders f;
    // A 64-bit DLL is of no use to a Linux program; on Windows the folders are empty.
#if !defined(Q_OS_WIN)
    writePe(QDir(f.program).filePath(QStringLiteral("tovira.dll")), kPeMachineAmd64);
#endif
    const CardRoute route = cardRoute(f.program, f.all());
    ASSERT_EQ(route.kind, CardRoute::Kind::Missing);
    EXPECT_EQ(route.searched, f.all());

    const auto driver = makeDriver(route, nullptr);
    std::array<std::uint8_t, kCardNameBytes> name{};
    std::int32_t v = 0;
    float zero = 0.0F;
    float span = 0.0F;
    const std::string message =
        fatalErrorText([&] { driver->ConfigInfo(name.data(), &v, &v, &v, &v, &zero, &span, &v); });
    EXPECT_EQ(message.rfind("无法加载驱动程序库 ", 0), 0U) << message;
    for (const QString& folder : f.all())
        EXPECT_NE(message.find(QDir::toNativeSeparators(folder).toStdString()), std::string::npos)
            << message;
}

} // namespace
