#include "driver/LibraryDriver.h"
#include "tests/support/FatalText.h"

#include <QDir>
#include <QLibrary>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace {

QString partialLibraryPath() {
    return QDir(QStringLiteral(PARTIAL_LIBRARY_DIR)).filePath(QStringLiteral("tovira_partial"));
}

TEST(LibraryDriver, MissingLibraryIsFatalAtFirstCallNamingPathAndReason) {
    const QString path =
        QDir(QStringLiteral(SIM_LIBRARY_DIR)).filePath(QStringLiteral("no-such-dir/tovira"));
    QLibrary probe(path);
    ASSERT_FALSE(probe.load());
    const std::string reason = probe.errorString().toStdString();

    std::unique_ptr<LibraryDriver> card;
    ASSERT_NO_THROW(card = std::make_unique<LibraryDriver>(path));
    std::array<std::uint8_t, kCardNameBytes> name{};
    std::int32_t v = 0;
    float zero = 0.0F;
    float span = 0.0F;
    const std::string message =
        fatalErrorText([&] { card->ConfigInfo(name.data(), &v, &v, &v, &v, &zero, &span, &v); });

    EXPECT_NE(message.find(QDir::toNativeSeparators(path).toStdString()), std::string::npos)
        << message;
    EXPECT_NE(message.find(reason), std::string::npos) << message << "\nreason: " << reason;
}

// The loader's reason for a missing export: dlerror's words, which name the
// symbol; on Windows the system's words and their number, ERROR_PROC_NOT_FOUND.
std::string noExportReason([[maybe_unused]] const char* exportName) {
#if defined(_WIN32)
    return " (127)";
#else
    return std::string("undefined symbol: ") + exportName;
#endif
}

TEST(LibraryDriver, MissingExportIsFatalAtItsFirstCallNamingIt) {
    LibraryDriver card(partialLibraryPath());

    // The export that is there still works.
    std::array<std::uint8_t, kCardNameBytes> name{};
    std::int32_t v = 0;
    float zero = 0.0F;
    float span = 0.0F;
    ASSERT_NO_THROW(card.ConfigInfo(name.data(), &v, &v, &v, &v, &zero, &span, &v));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(name.data())), "ConfigInfo-only card");
    EXPECT_EQ(span, 4096.0F);

    std::int16_t buffer[4] = {};
    const struct {
        const char* exportName;
        std::function<void()> call;
    } rows[] = {
        {"StopIntr", [&] { card.StopIntr(); }},
        {"Initial", [&] { card.Initial(0, 0, 0, 0); }},
        {"StartIntr", [&] { card.StartIntr(50, 500, 0, 17, 20000, 0, 1); }},
        {"GetLastADError", [&] { card.GetLastADError(); }},
        {"QueryBuf", [&] { card.QueryBuf(); }},
        {"ADResult", [&] { card.ADResult(buffer); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.exportName);
        const std::string message = fatalErrorText(row.call);
        EXPECT_EQ(message.rfind("驱动程序库 ", 0), 0U) << message;
        EXPECT_NE(message.find(std::string(" 中找不到函数 ") + row.exportName + "："),
                  std::string::npos)
            << message;
        EXPECT_NE(message.find(noExportReason(row.exportName)), std::string::npos) << message;
        // Asking again fails the same way rather than calling through a null pointer.
        EXPECT_NE(fatalErrorText(row.call).find(row.exportName), std::string::npos);
    }
}

} // namespace
