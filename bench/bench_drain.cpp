// The tick's drain against memcpy. Each iteration moves one block of codes in
// several ways, one after the other, so the ratios compare runs made under the
// same conditions:
//   decimate      decimateBlock: the block's scans through the decimation
//                 counter into the ring, as unsigned codes
//   drain         drainReadyBlocks for one block: the card's copy into AdBuf
//                 (a memcpy, as the simulated card's) and decimateBlock
//   memcpy        the block's sample bytes copied to the next place of a
//                 ring-sized buffer
//   memcpy_kept   as many bytes as decimate writes into the ring: the kept
//                 codes as the ring's 32-bit values, twice the bytes they
//                 take in the block
// decimate_vs_memcpy_moved sets decimate against the larger of the two: the
// bytes the drain must at least read (the block) or write (the kept codes).
// The bar: at most 2 times that memcpy.
// 500-scan blocks are kept whole (SampDiv 1, 10000 scans/s and up); 100-scan
// blocks keep one scan in 7 (about 1430 scans/s).
#include "BenchSupport.h"
#include "acquisition/AcqState.h"
#include "acquisition/Drain.h"
#include "tests/support/IdleCard.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

// A card whose every block is the same prepared one, copied out as the
// simulated card copies a waiting block.
class OneBlockCard final : public IdleCard {
public:
    explicit OneBlockCard(std::vector<std::int16_t> block) : m_block(std::move(block)) {}
    std::int32_t QueryBuf() override { return 1; }
    std::int32_t ADResult(std::int16_t* buffer) override {
        std::memcpy(buffer + 1, m_block.data(), m_block.size() * sizeof(std::int16_t));
        return 1;
    }

private:
    std::vector<std::int16_t> m_block;
};

void BM_Drain(benchmark::State& bench) {
    const auto scans = static_cast<std::int32_t>(bench.range(0));
    const auto div = static_cast<std::int16_t>(bench.range(1));

    auto state = std::make_unique<AcqState>();
    state->ChnCount = kScanChannels;
    state->PointsPerBuf = scans;
    state->SampDiv = div;
    const std::size_t samples = static_cast<std::size_t>(kScanChannels) * scans;
    state->AdBuf.assign(samples + 2, 0);
    std::mt19937 random(7);
    std::vector<std::int16_t> block(samples);
    for (auto& code : block)
        code = static_cast<std::int16_t>(random());
    std::memcpy(state->AdBuf.data() + 1, block.data(), samples * sizeof(std::int16_t));
    OneBlockCard card(block);

    // memcpy's target is as large as the ring and is walked like it, so both
    // meet the same caches.
    const std::size_t blockBytes = samples * sizeof(std::int16_t);
    // Kept scans per block on average, times 17 codes of 4 bytes.
    const std::size_t keptScans = static_cast<std::size_t>(scans) / static_cast<std::size_t>(div);
    const std::size_t keptBytes = keptScans * kScanChannels * sizeof(std::int32_t);
    const std::size_t ringValues = static_cast<std::size_t>(kRingPoints) * kRingRows;
    std::vector<char> target(ringValues * sizeof(std::int32_t));
    std::size_t offset = 0;
    const std::vector<char> source(std::max(blockBytes, keptBytes));

    // Blocks are timed in batches, so that reading the clock stays a small
    // part of what is measured.
    constexpr int kBatch = 32;
    using bench::Clock;
    using bench::secondsSince;
    double decimate = 0.0;
    double drain = 0.0;
    double copy = 0.0;
    double copyKept = 0.0;
    const auto copyBatch = [&](std::size_t bytes) {
        const Clock::time_point start = Clock::now();
        for (int b = 0; b < kBatch; ++b) {
            if (offset + bytes > target.size())
                offset = 0;
            std::memcpy(target.data() + offset, source.data(), bytes);
            offset += bytes;
        }
        benchmark::ClobberMemory();
        return secondsSince(start);
    };
    for (auto _ : bench) {
        Clock::time_point start = Clock::now();
        for (int b = 0; b < kBatch; ++b)
            decimateBlock(*state);
        benchmark::ClobberMemory();
        decimate += secondsSince(start);

        start = Clock::now();
        for (int b = 0; b < kBatch; ++b)
            drainReadyBlocks(card, *state);
        benchmark::ClobberMemory();
        drain += secondsSince(start);

        copy += copyBatch(blockBytes);
        copyKept += copyBatch(keptBytes);
    }
    const auto n = static_cast<double>(bench.iterations()) * kBatch;
    const double codes = n * static_cast<double>(samples);
    bench.counters["decimate_Mcodes_s"] = codes / decimate / 1e6;
    bench.counters["memcpy_Mcodes_s"] = codes / copy / 1e6;
    bench.counters["decimate_vs_memcpy"] = decimate / copy;
    bench.counters["drain_vs_memcpy"] = drain / copy;
    bench.counters["decimate_vs_memcpy_kept"] = decimate / copyKept;
    bench.counters["decimate_vs_memcpy_moved"] =
        decimate / (blockBytes >= keptBytes ? copy : copyKept);
    bench.counters["block_us"] = 1e6 * decimate / n;
    bench.SetLabel(std::to_string(scans) + "-scan blocks, SampDiv " + std::to_string(div));
}

} // namespace

BENCHMARK(BM_Drain)
    ->Args({500, 1})
    ->Args({100, 7})
    ->ArgNames({"scans", "div"})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
