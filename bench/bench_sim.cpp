// The simulated card's own cost, apart from the program's: making the codes of
// one block, as its acquisition thread does for every block. At 1,000,000
// scans per second the card makes 17 million codes a second;
// core_share_at_1M is the part of one core that this takes.
#include "driver/sim/SignalGenerator.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr double kCodesPerSecondAtTopRate = 1'000'000.0 * 17;

void BM_SignalFill(benchmark::State& bench) {
    const auto scans = static_cast<int>(bench.range(0));
    constexpr int kChannels = 17;
    const SignalGenerator signals;
    std::vector<std::int16_t> block(static_cast<std::size_t>(scans) * kChannels);
    std::uint64_t first = 0;
    for (auto _ : bench) {
        signals.fill(block.data(), first, scans, kChannels);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
        first += static_cast<std::uint64_t>(scans);
    }
    const double codes = static_cast<double>(bench.iterations()) * scans * kChannels;
    bench.counters["codes_per_s"] = benchmark::Counter(codes, benchmark::Counter::kIsRate);
    // Seconds spent per second of acquisition at the top rate: the elapsed
    // time over the acquisition time the codes stand for.
    bench.counters["core_share_at_1M"] =
        benchmark::Counter(codes / kCodesPerSecondAtTopRate,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_SignalFill)->Arg(500)->Arg(100)->ArgName("scans")->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
