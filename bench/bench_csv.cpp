// Saving the full ring to Data.csv against the floor for any save that keeps
// the earlier file safe: the same bytes, ready in memory, written to a
// temporary file beside the target, flushed to disk (fdatasync) and renamed
// over it. The two are timed one after the other in every iteration, so the
// ratio holds on a busy machine and a slow disk; the save should stay within
// 1.5 times the reference. The folder is TMPDIR's. BM_FormatOnly shows the
// in-memory share.
#include "BenchSupport.h"
#include "acquisition/AcqState.h"
#include "export/CsvExport.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* kFullRing = "32000";

// Realistic codes: every field is up to five digits, as drained data would be.
std::unique_ptr<AcqState> filledState() {
    auto state = std::make_unique<AcqState>();
    for (std::int32_t p = 0; p < kRingPoints; ++p)
        for (std::int32_t ch = 0; ch < kRingRows - 1; ++ch)
            state->AdData(ch, p) = (p * 131 + ch * 4099) % 65536;
    state->DataPtr = 12345;
    return state;
}

// The floor: what any all-or-nothing save must do with the finished bytes.
bool durableWrite(const QByteArray& content, const QString& target) {
    const QByteArray path = QFile::encodeName(target);
    const QByteArray temporary = path + ".tmp";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const char* data = content.constData();
    std::size_t left = static_cast<std::size_t>(content.size());
    while (left > 0) {
        const ssize_t put = ::write(fd, data, left);
        if (put <= 0) {
            ::close(fd);
            return false;
        }
        data += put;
        left -= static_cast<std::size_t>(put);
    }
    const bool synced = ::fdatasync(fd) == 0;
    return ::close(fd) == 0 && synced && ::rename(temporary.constData(), path.constData()) == 0;
}

void BM_SaveAgainstDurableWrite(benchmark::State& bench) {
    const auto state = filledState();
    QTemporaryDir dir;
    const QString path = dataCsvPath(dir.path());
    // The reference writes the very bytes a save produces, prepared before timing.
    const QByteArray content = dataCsvBytes(*state, kRingPoints);
    const QString reference = dir.filePath(QStringLiteral("Reference.csv"));
    double saveSeconds = 0.0;
    double durableSeconds = 0.0;
    for (auto _ : bench) {
        const auto saveStart = bench::Clock::now();
        const SaveResult result = saveDataCsv(*state, kFullRing, path);
        saveSeconds += bench::secondsSince(saveStart);
        const auto durableStart = bench::Clock::now();
        const bool written = durableWrite(content, reference);
        durableSeconds += bench::secondsSince(durableStart);
        if (!result.ok || result.rows != kRingPoints || !written) {
            bench.SkipWithError("save or reference write failed");
            return;
        }
    }
    const auto n = static_cast<double>(bench.iterations());
    bench.counters["save_ms"] = 1e3 * saveSeconds / n;
    bench.counters["durable_ms"] = 1e3 * durableSeconds / n;
    bench.counters["save_vs_durable"] = saveSeconds / durableSeconds;
    bench.counters["file_bytes"] = static_cast<double>(content.size());
}

// The in-memory part of a save alone, to tell formatting from file handling.
void BM_FormatOnly(benchmark::State& bench) {
    const auto state = filledState();
    qsizetype bytes = 0;
    for (auto _ : bench) {
        const QByteArray content = dataCsvBytes(*state, kRingPoints);
        benchmark::DoNotOptimize(content.constData());
        bytes = content.size();
    }
    bench.SetBytesProcessed(bench.iterations() * bytes);
}

} // namespace

BENCHMARK(BM_SaveAgainstDurableWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FormatOnly)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
