// The save path from the count box's text to the file: every input is a count
// text and a write pointer. On every input the save must refuse the counts the
// reference refuses, its count must read as the reference reads it, and the
// text it makes must be exactly the file that count asks for. One input in 32
// (and every seed when they are replayed) goes the whole way through the file:
// the saved Data.csv must be that file, nothing else may be left in the
// folder, and a refused count must leave the earlier file byte for byte. Files
// go to a temporary folder of the fuzzer's own.

#include "FuzzInput.h"
#include "ReferenceNumber.h"
#include "acquisition/AcqState.h"
#include "base/NumberParse.h"
#include "export/CsvExport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
    // Each ring point's row after its row number ("c1,c2,c3,c4,\r\n"),
    // made once, so checking a file costs a compare per row.
    std::string tails;
    std::vector<std::size_t> tailAt;
    // The saved file, read back into memory kept from input to input.
    std::vector<char> file;

    Fixture() : tailAt(kRingPoints + 1), file(std::size_t{4} << 20) {
        if (!dir.isValid()) {
            std::fprintf(stderr, "no temporary folder\n");
            std::abort();
        }
        path = QDir(dir.path()).filePath(QStringLiteral("Data.csv"));
        for (std::int32_t p = 0; p < kRingPoints; ++p)
            for (std::int32_t ch = 0; ch < kRingRows; ++ch)
                state.AdData(ch, p) = ringCode(ch, p);
        for (std::int32_t p = 0; p < kRingPoints; ++p) {
            tailAt[static_cast<std::size_t>(p)] = tails.size();
            for (std::int32_t ch = 1; ch <= 4; ++ch)
                tails += std::to_string(ringCode(ch, p)) + ',';
            tails += "\r\n";
        }
        tailAt[kRingPoints] = tails.size();
    }

    /// The saved file's bytes; empty with `ok` false when it cannot be read.
    std::string_view readBack(bool& ok) {
        QFile saved(path);
        ok = saved.open(QIODevice::ReadOnly);
        const qint64 got = ok ? saved.read(file.data(), static_cast<qint64>(file.size())) : -1;
        ok = ok && got >= 0 && got < static_cast<qint64>(file.size());
        return ok ? std::string_view(file.data(), static_cast<std::size_t>(got))
                  : std::string_view();
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// Whether `bytes` is exactly the file for the newest `rows` points before
// `dataPtr`: title, header, then row k for the point `rows - k` before it.
bool isExpectedFile(const Fixture& f, std::string_view bytes, std::int32_t dataPtr,
                    std::int32_t rows) {
    const std::string head = kTitleLine + kHeaderLine;
    if (bytes.substr(0, head.size()) != head)
        return false;
    std::size_t at = head.size();
    for (std::int32_t k = 0; k < rows; ++k) {
        // The oldest of the newest `rows` points, walking forward with the wrap.
        const auto p = static_cast<std::size_t>(((dataPtr - rows + k) % kRingPoints + kRingPoints) %
                                                kRingPoints);
        char number[16];
        char* const end = std::to_chars(number, number + sizeof number, k).ptr;
        *end = ',';
        const std::size_t numberBytes = static_cast<std::size_t>(end - number) + 1;
        const std::size_t tailBytes = f.tailAt[p + 1] - f.tailAt[p];
        if (bytes.size() < at + numberBytes + tailBytes ||
            std::memcmp(bytes.data() + at, number, numberBytes) != 0 ||
            std::memcmp(bytes.data() + at + numberBytes, f.tails.data() + f.tailAt[p], tailBytes) !=
                0)
            return false;
        at += numberBytes + tailBytes;
    }
    return at == bytes.size();
}

[[noreturn]] void fail(const char* what, std::string_view text, long long expected,
                       long long actual) {
    std::fprintf(stderr, "%s: count text \"%.*s\" expected %lld got %lld\n", what,
                 static_cast<int>(text.size()), text.data(), expected, actual);
    std::abort();
}

// The whole way: the earlier file, the save into it, the file read back.
void checkThroughFile(Fixture& f, std::string_view countText, bool refused, std::int32_t rows) {
    {
        QFile earlier(f.path);
        if (!earlier.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            earlier.write(kEarlierFile.data(), static_cast<qint64>(kEarlierFile.size())) !=
                static_cast<qint64>(kEarlierFile.size()))
            fail("cannot prepare the earlier file", countText, 0, 0);
    }

    const SaveResult result = saveDataCsv(f.state, countText, f.path);

    if (refused) {
        if (result.ok)
            fail("saved a refused count", countText, -1, result.rows);
        bool read = false;
        if (f.readBack(read) != kEarlierFile || !read)
            fail("a refused count touched the earlier file", countText, 0, 0);
        return;
    }
    if (!result.ok)
        fail("refused a valid count", countText, rows, -1);
    if (result.rows != rows)
        fail("rows written", countText, rows, result.rows);
    bool read = false;
    const std::string_view saved = f.readBack(read);
    if (!read || !isExpectedFile(f, saved, f.state.DataPtr, rows))
        fail("file content", countText, rows, result.rows);
    // Nothing but Data.csv may be left behind, not even a half-written copy.
    const QStringList entries =
        QDir(f.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    if (entries.size() != 1)
        fail("files left in the folder", countText, 1, entries.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Fixture& f = fixture();
    FuzzInput in(data, size);
    f.state.DataPtr = static_cast<std::int32_t>(in.below(kRingPoints));
    const std::string_view countText = in.rest();

    // A count that does not fit 16 bits, and -32768 whose row loop cannot
    // count to n - 1, are failures; everything else writes 0 to 32000 rows.
    const auto count = reference::roundTiesEven(reference::leadingNumber(countText),
                                                std::numeric_limits<std::int16_t>::min(),
                                                std::numeric_limits<std::int16_t>::max());
    const bool refused = !count || *count == std::numeric_limits<std::int16_t>::min();
    const std::int32_t rows =
        refused ? 0 : static_cast<std::int32_t>(std::clamp<std::int64_t>(*count, 0, kRingPoints));

    // A save's file work (a temporary file, its flush, the rename, reading it
    // back) costs many times the rest, so one input in 32 goes through it.
    if (sampledInput(data, size, 32)) {
        checkThroughFile(f, countText, refused, rows);
        return 0;
    }

    if (refused) {
        // A refusal comes before any file work, so the real path costs nothing
        // here; a save that went ahead would say so.
        const SaveResult result = saveDataCsv(f.state, countText, f.path);
        if (result.ok)
            fail("saved a refused count", countText, -1, result.rows);
        return 0;
    }
    // The count as the save reads it, then the text the save would write.
    const std::optional<std::int16_t> read = roundToInt16(parseLeadingNumber(countText));
    if (!read || *read != *count)
        fail("count read", countText, *count, read ? *read : -1);
    const QByteArray bytes = dataCsvBytes(f.state, rows);
    if (!isExpectedFile(f,
                        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                        f.state.DataPtr, rows))
        fail("file content", countText, rows, rows);
    return 0;
}
