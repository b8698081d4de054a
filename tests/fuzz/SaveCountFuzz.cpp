// The save path from the count box's text to the file: every input is a count
// text and a write pointer; the saved Data.csv must be exactly the file the
// reference count asks for, and a refused count must leave the earlier file
// byte for byte. Files go to a temporary folder of the fuzzer's own.

#include "AcqState.h"
#include "CsvExport.h"
#include "FuzzInput.h"
#include "ReferenceNumber.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

namespace {

const std::string kTitleLine = "\"\xCA\xFD\xBE\xDD\xB2\xC9\xBC\xAF\xBD\xE1\xB9\xFB\"\r\n";
const std::string kHeaderLine = ",\"CH1\",\"CH2\",\"CH3\",\"CH4\"\r\n";
const std::string kEarlierFile = "the earlier save\r\n";

// Codes of every width a ring element can hold: acquired codes, pre-filled
// zero levels of any 32-bit value, both extremes.
std::int32_t ringCode(std::int32_t ch, std::int32_t p) {
    switch (p % 7) {
    case 0:
        return std::numeric_limits<std::int32_t>::min() + ch;
    case 1:
        return std::numeric_limits<std::int32_t>::max() - ch;
    case 2:
        return -(p * 31 + ch);
    default:
        return (p * 18 + ch) % 65536;
    }
}

// Every save ends in a flush to disk; a folder in memory, where there is one,
// keeps that from setting the pace.
QString tempTemplate() {
    const QDir ram(QStringLiteral("/dev/shm"));
    const QString base = ram.exists() ? ram.path() : QDir::tempPath();
    return QDir(base).filePath(QStringLiteral("multibuf-fuzz-XXXXXX"));
}

struct Fixture {
    QTemporaryDir dir{tempTemplate()};
    QString path;
    AcqState state;

    Fixture() {
        if (!dir.isValid()) {
            std::fprintf(stderr, "no temporary folder\n");
            std::abort();
        }
        path = QDir(dir.path()).filePath(QStringLiteral("Data.csv"));
        for (std::int32_t p = 0; p < kRingPoints; ++p)
            for (std::int32_t ch = 0; ch < kRingRows; ++ch)
                state.AdData(ch, p) = ringCode(ch, p);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

std::string expectedFile(std::int32_t dataPtr, std::int32_t rows) {
    std::string text = kTitleLine + kHeaderLine;
    for (std::int32_t k = 0; k < rows; ++k) {
        // The oldest of the newest `rows` points, walking forward with the wrap.
        const std::int32_t p = ((dataPtr - rows + k) % kRingPoints + kRingPoints) % kRingPoints;
        text += std::to_string(k) + ',';
        for (std::int32_t ch = 1; ch <= 4; ++ch)
            text += std::to_string(ringCode(ch, p)) + ',';
        text += "\r\n";
    }
    return text;
}

std::string fileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll().toStdString();
}

[[noreturn]] void fail(const char* what, std::string_view text, long long expected,
                       long long actual) {
    std::fprintf(stderr, "%s: count text \"%.*s\" expected %lld got %lld\n", what,
                 static_cast<int>(text.size()), text.data(), expected, actual);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Fixture& f = fixture();
    FuzzInput in(data, size);
    f.state.DataPtr = static_cast<std::int32_t>(in.below(kRingPoints));
    const std::string_view countText = in.rest();

    {
        QFile earlier(f.path);
        if (!earlier.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            earlier.write(kEarlierFile.data(), static_cast<qint64>(kEarlierFile.size())) !=
                static_cast<qint64>(kEarlierFile.size()))
            fail("cannot prepare the earlier file", countText, 0, 0);
    }

    const SaveResult result = saveDataCsv(f.state, countText, f.path);

    // A count that does not fit 16 bits, and -32768 whose row loop cannot
    // count to n - 1, are failures; everything else writes 0 to 32000 rows.
    const auto count = reference::roundTiesEven(reference::leadingNumber(countText),
                                                std::numeric_limits<std::int16_t>::min(),
                                                std::numeric_limits<std::int16_t>::max());
    const bool refused = !count || *count == std::numeric_limits<std::int16_t>::min();
    if (refused) {
        if (result.ok)
            fail("saved a refused count", countText, -1, result.rows);
        if (fileBytes(f.path) != kEarlierFile)
            fail("a refused count touched the earlier file", countText, 0, 0);
        return 0;
    }
    const auto rows = static_cast<std::int32_t>(*count < 0 ? 0 : *count > 32000 ? 32000 : *count);
    if (!result.ok)
        fail("refused a valid count", countText, rows, -1);
    if (result.rows != rows)
        fail("rows written", countText, rows, result.rows);
    if (fileBytes(f.path) != expectedFile(f.state.DataPtr, rows))
        fail("file content", countText, rows, result.rows);
    // Nothing but Data.csv may be left behind, not even a half-written copy.
    const QStringList entries =
        QDir(f.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    if (entries.size() != 1)
        fail("files left in the folder", countText, 1, entries.size());
    return 0;
}
