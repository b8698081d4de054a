// Where a tick's time goes besides the drain: one refresh of the channel
// readout, average or instant, against one drain of a 500-scan block, timed
// one after the other in every iteration:
//   drain        decimateBlock for one 500-scan block (17 channels, SampDiv 1)
//   average      averageReadout: means of the newest 100 points and the text
//   instant      instantReadout: newest codes, volts and the texts
//   show_*       the same plus handing the text to a QPlainTextEdit set up as
//                the window's TxtADResult, which is what the window's
//                ShowAverageValues / ShowInstantValues do
#include "BenchSupport.h"
#include "acquisition/AcqState.h"
#include "acquisition/Drain.h"
#include "display/Readouts.h"

#include <QPlainTextEdit>

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>

namespace {

std::unique_ptr<AcqState> runningState() {
    auto state = std::make_unique<AcqState>();
    state->ChnCount = kScanChannels;
    state->PointsPerBuf = 500;
    state->SampDiv = 1;
    state->AdZero = 32768;
    state->AdSpan = 65536;
    state->CurChn = 1;
    state->AdBuf.assign(static_cast<std::size_t>(kScanChannels) * 500 + 2, 0);
    std::mt19937 random(3);
    for (auto& code : state->AdBuf)
        code = static_cast<std::int16_t>(random());
    for (std::int32_t p = 0; p < kRingPoints; ++p)
        for (std::int32_t ch = 0; ch < kScanChannels; ++ch)
            state->AdData(ch, p) = static_cast<std::int32_t>(random() % 65536);
    return state;
}

void BM_ReadoutsAgainstDrain(benchmark::State& bench) {
    const auto state = runningState();
    InstantReadout instant;
    std::string average;
    QPlainTextEdit box;
    box.setReadOnly(true);
    box.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box.resize(154, 346);

    using bench::Clock;
    const auto seconds = bench::secondsSince;
    double drain = 0.0;
    double averageOnly = 0.0;
    double instantOnly = 0.0;
    double showAverage = 0.0;
    double showInstant = 0.0;
    for (auto _ : bench) {
        Clock::time_point start = Clock::now();
        decimateBlock(*state);
        benchmark::ClobberMemory();
        drain += seconds(start);

        start = Clock::now();
        averageReadout(*state, average);
        benchmark::DoNotOptimize(average.data());
        averageOnly += seconds(start);

        start = Clock::now();
        instantReadout(*state, instant);
        benchmark::DoNotOptimize(instant.list.data());
        instantOnly += seconds(start);

        start = Clock::now();
        averageReadout(*state, average);
        box.setPlainText(QString::fromStdString(average));
        showAverage += seconds(start);

        start = Clock::now();
        instantReadout(*state, instant);
        box.setPlainText(QString::fromStdString(instant.list));
        showInstant += seconds(start);
    }
    const auto n = static_cast<double>(bench.iterations());
    bench.counters["drain_us"] = 1e6 * drain / n;
    bench.counters["average_us"] = 1e6 * averageOnly / n;
    bench.counters["instant_us"] = 1e6 * instantOnly / n;
    bench.counters["show_average_us"] = 1e6 * showAverage / n;
    bench.counters["show_instant_us"] = 1e6 * showInstant / n;
    bench.counters["average_vs_drain"] = averageOnly / drain;
    bench.counters["instant_vs_drain"] = instantOnly / drain;
    bench.counters["show_average_vs_drain"] = showAverage / drain;
    bench.counters["show_instant_vs_drain"] = showInstant / drain;
}

} // namespace

BENCHMARK(BM_ReadoutsAgainstDrain)->Unit(benchmark::kMicrosecond);
