// The card host's command line natively: which library it serves.

#include "driver/host/HostArguments.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

TEST(HostArguments, TheFirstArgumentIsTakenByteForByteElseTheLibraryBesideTheHost) {
    // A folder name with a space and characters outside ASCII, in UTF-8.
    std::string program = "tovira-host";
    std::string library = "/opt/Karte 1/数据采集/libtovira.so";
    char* argv[] = {program.data(), library.data(), nullptr};
    EXPECT_EQ(hostArgument(argv, 1), library);

    // "Beside the host" is beside the running program, here this test.
    const std::filesystem::path beside = libraryBesideHost();
    EXPECT_EQ(beside.filename(), "libtovira.so");
    EXPECT_TRUE(std::filesystem::equivalent(beside.parent_path(), TEST_PROGRAM_DIR))
        << beside << " is not in " << TEST_PROGRAM_DIR;
}

} // namespace
