// Runs a fuzz target over files and folders of inputs once each, for builds
// without libFuzzer: the committed seeds stay regression tests under gcc and
// the sanitizers. A target that finds a fault aborts, failing the run.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void runFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                  std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

int main(int argc, char** argv) {
    std::size_t inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg)) {
                if (entry.is_regular_file()) {
                    runFile(entry.path());
                    ++inputs;
                }
            }
        } else {
            runFile(arg);
            ++inputs;
        }
    }
    std::printf("%zu inputs replayed\n", inputs);
    // No input at all means the corpus went missing, which is a failure too.
    return inputs > 0 ? 0 : 1;
}
