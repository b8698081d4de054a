// Saving the full ring to Data.csv against the floor for the same bytes: one
// plain write of a ready buffer to a file in the same folder. The save should
// stay within three times the plain write. The folder is TMPDIR's: on a disk
// file system the save also pays for the flush to disk and the rename that
// make it all-or-nothing, which the plain write skips; BM_FormatOnly shows the
// in-memory share.
#include "AcqState.h"
#include "CsvExport.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

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

void BM_SaveDataCsv(benchmark::State& bench) {
    const auto state = filledState();
    QTemporaryDir dir;
    const QString path = dataCsvPath(dir.path());
    for (auto _ : bench) {
        const SaveResult result = saveDataCsv(*state, kFullRing, path);
        if (!result.ok || result.rows != kRingPoints) {
            bench.SkipWithError("save failed");
            return;
        }
    }
    const qint64 bytes = QFile(path).size();
    bench.SetBytesProcessed(bench.iterations() * bytes);
    bench.counters["file_bytes"] = static_cast<double>(bytes);
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

void BM_PlainWriteSameBytes(benchmark::State& bench) {
    const auto state = filledState();
    QTemporaryDir dir;
    // The buffer is the very file a save produces, prepared before timing.
    const QString savedPath = dataCsvPath(dir.path());
    if (!saveDataCsv(*state, kFullRing, savedPath).ok) {
        bench.SkipWithError("save failed");
        return;
    }
    QFile saved(savedPath);
    if (!saved.open(QIODevice::ReadOnly)) {
        bench.SkipWithError("cannot read the saved file");
        return;
    }
    const QByteArray content = saved.readAll();
    saved.close();

    const QString path = dir.filePath(QStringLiteral("Plain.csv"));
    for (auto _ : bench) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(content) != content.size()) {
            bench.SkipWithError("plain write failed");
            return;
        }
        file.close();
    }
    bench.SetBytesProcessed(bench.iterations() * content.size());
    bench.counters["file_bytes"] = static_cast<double>(content.size());
}

} // namespace

BENCHMARK(BM_SaveDataCsv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FormatOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWriteSameBytes)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
