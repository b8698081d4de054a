#include "CsvExport.h"

#include "acquisition/AcqState.h"
#include "base/NumberParse.h"

#include <QByteArray>
#include <QDir>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

namespace {

// The title 数据采集结果 in GBK: the file's readers expect code page 936 whatever the
// encoding of the system that writes it, so the bytes are spelled out rather than
// produced by a codec that may not exist here.
constexpr std::string_view kTitleLine = "\"\xCA\xFD\xBE\xDD\xB2\xC9\xBC\xAF\xBD\xE1\xB9\xFB\"\r\n";
// An empty first field sits above the row numbers.
constexpr std::string_view kHeaderLine = ",\"CH1\",\"CH2\",\"CH3\",\"CH4\"\r\n";

constexpr std::array<std::int32_t, 4> kExportedChannels{1, 2, 3, 4};

// Widest possible row: a row number below 32000, four 32-bit codes with sign,
// a comma after each field and CR LF. Codes are written as stored, so a
// calibration zero level of any 32-bit value may appear in pre-filled points.
constexpr std::size_t kMaxNumberChars = std::numeric_limits<std::int32_t>::digits10 + 2;
constexpr std::size_t kMaxRowBytes = 5 + 1 + kExportedChannels.size() * (kMaxNumberChars + 1) + 2;

char* appendText(char* out, std::string_view text) {
    return std::copy(text.begin(), text.end(), out);
}

// Two decimal digits at a time for the codes and row numbers a save is made
// of (0 to 99999); making the text is most of a save's own work.
constexpr char kDigitPairs[] = "00010203040506070809101112131415161718192021222324"
                               "25262728293031323334353637383940414243444546474849"
                               "50515253545556575859606162636465666768697071727374"
                               "75767778798081828384858687888990919293949596979899";

char* appendPair(char* out, std::uint32_t pair) {
    std::memcpy(out, kDigitPairs + 2 * pair, 2);
    return out + 2;
}

char* appendNumber(char* out, std::int32_t value) {
    if (value < 0 || value > 99999)
        return std::to_chars(out, out + kMaxNumberChars, value).ptr;
    auto u = static_cast<std::uint32_t>(value);
    if (u < 10) {
        *out = static_cast<char>('0' + u);
        return out + 1;
    }
    if (u < 100)
        return appendPair(out, u);
    if (u < 1000) {
        *out = static_cast<char>('0' + u / 100);
        return appendPair(out + 1, u % 100);
    }
    if (u < 10000)
        return appendPair(appendPair(out, u / 100), u % 100);
    *out = static_cast<char>('0' + u / 10000);
    u %= 10000;
    return appendPair(appendPair(out + 1, u / 100), u % 100);
}

char* appendField(char* out, std::int32_t value) {
    out = appendNumber(out, value);
    *out++ = ',';
    return out;
}

} // namespace

QByteArray dataCsvBytes(const AcqState& state, int rows) {
    rows = std::clamp(rows, 0, static_cast<int>(kRingPoints));
    // Sized for the widest rows and cut to length afterwards: one allocation,
    // no growth while writing.
    QByteArray content(static_cast<qsizetype>(kTitleLine.size() + kHeaderLine.size() +
                                              static_cast<std::size_t>(rows) * kMaxRowBytes),
                       Qt::Uninitialized);
    char* out = content.data();
    out = appendText(out, kTitleLine);
    out = appendText(out, kHeaderLine);
    if (rows > 0) {
        std::int32_t p = ringStepBack(state.DataPtr, rows);
        for (std::int32_t i = 0; i < rows; ++i) {
            const std::int32_t* point = state.AdData.point(p);
            out = appendField(out, i);
            for (const std::int32_t ch : kExportedChannels)
                out = appendField(out, point[ch]);
            *out++ = '\r';
            *out++ = '\n';
            p = ringAdvance(p);
        }
    }
    content.truncate(out - content.constData());
    return content;
}

SaveResult saveDataCsv(const AcqState& state, std::string_view countText, const QString& path) {
    // A count that does not fit 16 bits is refused, not capped: the user typed
    // something other than a point count.
    const std::optional<std::int16_t> count = roundToInt16(parseLeadingNumber(countText));
    if (!count)
        return {};
    // The row loop counts to n - 1 in 16 bits, which -32768 cannot reach; that
    // count has always been a failed save rather than an empty file.
    if (*count == std::numeric_limits<std::int16_t>::min())
        return {};
    // More points than the ring holds would repeat points, so the ring's size caps it.
    const std::int32_t rows = std::clamp<std::int32_t>(*count, 0, kRingPoints);

    const QByteArray content = dataCsvBytes(state, rows);

    // The user may have the previous Data.csv open in a spreadsheet, read-only,
    // or on a full disk: the new file is written beside it and renamed over it
    // only when complete, and never written in place (no direct-write fallback),
    // so a failed save leaves the earlier file whole.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    // flush() before commit(): QSaveFile renames the file into place even when
    // the last buffered write fails inside commit(), so a file the disk refused
    // at its end would replace the earlier one and report success.
    if (file.write(content) != content.size() || !file.flush()) {
        // Destruction then removes the unfinished file and releases its handle.
        file.cancelWriting();
        return {};
    }
    if (!file.commit())
        return {};
    return {true, rows};
}

QString dataCsvPath(const QString& programDir) {
    return QDir(programDir).filePath(QStringLiteral("Data.csv"));
}

std::string saveStatusText(bool ok) {
    return ok ? "保存完毕！文件名Data.csv"
              : "保存文件失败！可能是您正在编辑Data.csv文件，请先退出该文件";
}
