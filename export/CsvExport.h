#pragma once

#include <string>
#include <string_view>

class QByteArray;
class QString;
struct AcqState;

/// Outcome of one save: on success, the number of data rows written.
struct SaveResult {
    bool ok = false;
    int rows = 0;
};

/// Writes the newest points of ring channels 1 to 4 to `path` as Data.csv.
/// `countText` is the save-count box's text; its leading number, rounded ties to
/// even, must fit 16 bits and is capped at the ring's 32000 points. A count of 0
/// or less writes only the title and header lines. The file is replaced whole or
/// not at all: a failed save leaves any earlier file exactly as it was.
SaveResult saveDataCsv(const AcqState& state, std::string_view countText, const QString& path);

/// The whole Data.csv text for the newest `rows` points (0 to 32000), oldest
/// first, the last row being the point just before DataPtr: a GBK title line,
/// the channel header and one line per point, every line ending in CR LF.
QByteArray dataCsvBytes(const AcqState& state, int rows);

/// Where the save goes: Data.csv in the program's directory.
QString dataCsvPath(const QString& programDir);

/// The status line text shown after a save.
std::string saveStatusText(bool ok);
