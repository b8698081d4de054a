// The names the binding and the host look the seven functions up by
// (driver/ToviraApi.h) against the .def files that give the 32-bit libraries
// their exports. Both are written by hand. The linker ties each .def entry to
// the function behind it, but nothing else ties the .def to the table: a name
// that drifted would show only on Windows, as a library the program cannot
// bind.

#include "driver/ToviraApi.h"
#include "driver/sim/SimToolsApi.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

// A .def file's exports: each exported name with the symbol it stands for
// ("" when the symbol has the exported name itself).
std::map<std::string, std::string> defExports(const char* path) {
    std::ifstream file(path);
    EXPECT_TRUE(file.is_open()) << path;
    std::map<std::string, std::string> exports;
    bool inExports = false;
    for (std::string line; std::getline(file, line);) {
        line = line.substr(0, line.find(';'));
        std::istringstream words(line);
        std::string name;
        if (!(words >> name))
            continue;
        if (name == "EXPORTS") {
            inExports = true;
            continue;
        }
        if (!inExports)
            continue;
        std::string equals, symbol;
        if (words >> equals) {
            EXPECT_EQ(equals, "=") << line;
        }
        words >> symbol;
        exports[name] = symbol;
    }
    return exports;
}

// The argument bytes stdcall puts into a decorated name: one 32-bit stack
// slot for each argument, pointers and 16-bit values alike.
template <typename R, typename... Args> constexpr int stackBytes(R (*)(Args...)) {
    return 4 * static_cast<int>(sizeof...(Args));
}

TEST(ExportNames, DecoratedNamesCarryEachFunctionsArgumentBytes) {
    const std::map<std::string, int> bytes = {
        {kConfigInfoExport.decorated, stackBytes(ConfigInfoFn{})},
        {kStopIntrExport.decorated, stackBytes(StopIntrFn{})},
        {kInitialExport.decorated, stackBytes(InitialFn{})},
        {kStartIntrExport.decorated, stackBytes(StartIntrFn{})},
        {kGetLastADErrorExport.decorated, stackBytes(GetLastADErrorFn{})},
        {kQueryBufExport.decorated, stackBytes(QueryBufFn{})},
        {kADResultExport.decorated, stackBytes(ADResultFn{})}};
    ASSERT_EQ(bytes.size(), std::size(kToviraExports));
    for (const ToviraExportName& e : kToviraExports) {
        const std::string decorated = e.decorated;
        EXPECT_EQ(decorated,
                  "_" + std::string(e.plain) + "@" + std::to_string(bytes.at(decorated)));
    }
}

TEST(ExportNames, TheCardLibraryExportsTheSevenDecoratedNamesAndTheToolsOne) {
    const auto exports = defExports(SIM_DEF_FILE);
    std::map<std::string, std::string> expected = {{kSimDroppedBlocksExport, ""}};
    // Each decorated name stands for the compiler's own stdcall symbol, which
    // lacks only the leading underscore.
    for (const ToviraExportName& e : kToviraExports)
        expected[e.decorated] = std::string(e.decorated).substr(1);
    EXPECT_EQ(exports, expected);
}

TEST(ExportNames, ThePartialLibraryExportsConfigInfoAlone) {
    const std::map<std::string, std::string> expected = {
        {kConfigInfoExport.decorated, std::string(kConfigInfoExport.decorated).substr(1)}};
    EXPECT_EQ(defExports(PARTIAL_DEF_FILE), expected);
}

} // namespace
