#include "export/CsvExport.h"

#include "acquisition/AcqState.h"
#if !defined(_WIN32)
#include "tests/support/Unprivileged.h"
#endif

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

// 数据采集结果 in GBK between quotes, then the channel names.
const std::string kTitleLine = "\"\xCA\xFD\xBE\xDD\xB2\xC9\xBC\xAF\xBD\xE1\xB9\xFB\"\r\n";
const std::string kHeaderLine = ",\"CH1\",\"CH2\",\"CH3\",\"CH4\"\r\n";
const std::string kPreviousSave = "an earlier save\r\n0,1,2,3,4,\r\n";

std::string readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    const QByteArray bytes = file.readAll();
    return bytes.toStdString();
}

void writeBytes(const QString& path, const std::string& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes.data(), static_cast<qint64>(bytes.size())),
              static_cast<qint64>(bytes.size()));
}

QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Lines without their CR LF; a trailing piece without CR LF is kept as a line
// so that a missing final line end shows up.
std::vector<std::string> splitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

int openHandleCount() {
#if defined(_WIN32)
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return static_cast<int>(count);
#else
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                                .size());
#endif
}

// Every element of the ring gets its own code (its element number), so a row
// shows which point and channels it came from; across the ring the codes run
// from one digit to six.
std::int32_t tracerCode(std::int32_t ch, std::int32_t p) {
    return p * kRingRows + ch;
}

void fillWithTracers(AcqState& state) {
    for (std::int32_t p = 0; p < kRingPoints; ++p)
        for (std::int32_t ch = 0; ch < kRingRows; ++ch)
            state.AdData(ch, p) = tracerCode(ch, p);
}

std::string tracerRow(std::int32_t row, std::int32_t p) {
    std::string line = std::to_string(row) + ',';
    for (std::int32_t ch = 1; ch <= 4; ++ch)
        line += std::to_string(tracerCode(ch, p)) + ',';
    return line;
}

TEST(CsvExport, WritesExactBytes) {
    struct Point {
        std::int32_t p;
        std::array<std::int32_t, 4> codes; // ring channels 1 to 4
    };
    struct Case {
        const char* name;
        std::int32_t dataPtr;
        const char* count;
        std::vector<Point> points;
        std::string rows;
    };
    const std::vector<Case> cases = {
        {"two rows wrapping from 31999 to 0",
         1,
         "2",
         {{31999, {512, 498, 507, 65535}}, {0, {515, 500, 506, 0}}},
         "0,512,498,507,65535,\r\n"
         "1,515,500,506,0,\r\n"},
        {"five rows ending at the ring's end",
         0,
         "5",
         {{31995, {0, 1, 65535, 65534}},
          {31996, {-1, -2147483647 - 1, 2147483647, 10}},
          {31997, {100, 1000, 10000, 100000}},
          {31998, {7, 70, 700, 7000}},
          {31999, {32768, 32767, 2048, 4095}}},
         "0,0,1,65535,65534,\r\n"
         "1,-1,-2147483648,2147483647,10,\r\n"
         "2,100,1000,10000,100000,\r\n"
         "3,7,70,700,7000,\r\n"
         "4,32768,32767,2048,4095,\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AcqState state;
        // Points outside the saved range and the channels that are not saved all
        // hold a value that must not appear in the file.
        state.AdData.fill(kRingRows, 999999);
        for (const Point& point : c.points)
            for (std::int32_t ch = 1; ch <= 4; ++ch)
                state.AdData(ch, point.p) = point.codes[static_cast<std::size_t>(ch - 1)];
        state.DataPtr = c.dataPtr;

        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString path = dataCsvPath(dir.path());
        const SaveResult result = saveDataCsv(state, c.count, path);

        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.rows, static_cast<int>(c.points.size()));
        EXPECT_EQ(readBytes(path), kTitleLine + kHeaderLine + c.rows);
    }
}

TEST(CsvExport, CountTextDecidesRowsOrFailure) {
    struct Case {
        const char* text;
        bool ok;
        int rows;
    };
    const Case cases[] = {
        {"10000", true, 10000}, {"32000", true, 32000}, {"32001", true, 32000},
        {"32767", true, 32000}, {"32767.5", false, 0},  {"32768", false, 0},
        {"40000", false, 0},    {"-40000", false, 0},   {"-32768", false, 0},
        {"-32767", true, 0},    {"-1", true, 0},        {"0", true, 0},
        {"", true, 0},          {"abc", true, 0},       {"2.5", true, 2},
        {"3.5", true, 4},       {" 1 0", true, 10},
    };

    AcqState state;
    fillWithTracers(state);
    state.DataPtr = 12345;

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dataCsvPath(dir.path());

    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("count text \"") + c.text + '"');
        writeBytes(path, kPreviousSave);

        const SaveResult result = saveDataCsv(state, c.text, path);

        EXPECT_EQ(result.ok, c.ok);
        EXPECT_EQ(entriesOf(dir.path()), QStringList{QStringLiteral("Data.csv")});
        const std::string bytes = readBytes(path);
        if (!c.ok) {
            EXPECT_EQ(bytes, kPreviousSave);
            continue;
        }
        EXPECT_EQ(result.rows, c.rows);
        const std::vector<std::string> lines = splitLines(bytes);
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(c.rows) + 2);
        EXPECT_EQ(lines[0] + "\r\n", kTitleLine);
        EXPECT_EQ(lines[1] + "\r\n", kHeaderLine);
        // The rows are the newest points, oldest first, the last one just before
        // the write pointer.
        for (int i = 0; i < c.rows; ++i) {
            const std::int32_t p = (state.DataPtr - c.rows + i + kRingPoints) % kRingPoints;
            ASSERT_EQ(lines[static_cast<std::size_t>(i) + 2], tracerRow(i, p)) << "row " << i;
        }
    }
}

// One cause that makes a save fail, and how to take it away again.
struct FailureCause {
    const char* name;
    bool stopsOnlyNonRoot; // relies on permission bits, which root ignores
    bool hasEarlierFile;
    std::function<void(const QString& dir)> inject;
    std::function<void(const QString& dir)> clear;
};

void PrintTo(const FailureCause& cause, std::ostream* os) {
    *os << cause.name;
}

constexpr QFile::Permissions kOwnerRw = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions kOwnerRwx = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

#if defined(_WIN32)
// Data.csv open in another program that lets others read it but neither
// write nor replace it, as a spreadsheet holds the file it shows. Sharing is
// decided per handle, so a handle of this process stands for the other one.
HANDLE g_heldFile = INVALID_HANDLE_VALUE;
#else
// A file size limit makes every write past it fail with an error, for root too.
struct rlimit g_savedSizeLimit {};
#endif

// Which failures can be made depends on the system: Windows has file sharing
// and a read-only attribute that stops everyone, Linux permission bits that
// stop all but root and file size limits.
const FailureCause kFailureCauses[] = {
    {"FolderNamedDataCsv", false, false,
     [](const QString& dir) {
         QDir(dir).mkdir(QStringLiteral("Data.csv"));
         writeBytes(dataCsvPath(dir) + QStringLiteral("/inside.txt"), "kept\n");
     },
     [](const QString& dir) { QDir(dataCsvPath(dir)).removeRecursively(); }},
#if defined(_WIN32)
    {"ReadOnlyFile", false, true,
     [](const QString& dir) { QFile::setPermissions(dataCsvPath(dir), QFile::ReadOwner); },
     [](const QString& dir) { QFile::setPermissions(dataCsvPath(dir), kOwnerRw); }},
    {"HeldByAnotherProgram", false, true,
     [](const QString& dir) {
         g_heldFile =
             CreateFileW(reinterpret_cast<const wchar_t*>(dataCsvPath(dir).utf16()), GENERIC_READ,
                         FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
         ASSERT_NE(g_heldFile, INVALID_HANDLE_VALUE);
     },
     [](const QString&) { CloseHandle(g_heldFile); }},
#else
    {"ReadOnlyFile", true, true,
     [](const QString& dir) { QFile::setPermissions(dataCsvPath(dir), QFile::ReadOwner); },
     [](const QString& dir) { QFile::setPermissions(dataCsvPath(dir), kOwnerRw); }},
    {"ReadOnlyFolder", true, true,
     [](const QString& dir) { QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner); },
     [](const QString& dir) { QFile::setPermissions(dir, kOwnerRwx); }},
    {"WriteError", false, true,
     [](const QString&) {
         std::signal(SIGXFSZ, SIG_IGN);
         getrlimit(RLIMIT_FSIZE, &g_savedSizeLimit);
         struct rlimit small = g_savedSizeLimit;
         small.rlim_cur = 4096;
         setrlimit(RLIMIT_FSIZE, &small);
     },
     [](const QString&) {
         setrlimit(RLIMIT_FSIZE, &g_savedSizeLimit);
         std::signal(SIGXFSZ, SIG_DFL);
     }},
#endif
};

class SaveFailure : public ::testing::TestWithParam<FailureCause> {};

TEST_P(SaveFailure, LeavesEarlierFileAloneThenRecovers) {
    const FailureCause& cause = GetParam();
#if !defined(_WIN32)
    if (cause.stopsOnlyNonRoot && geteuid() == 0) {
        // Permission bits do not stop root: the case runs as a user they stop.
        const UnprivilegedRun run = runCurrentTestUnprivileged();
        if (!run.ran)
            GTEST_SKIP() << "running as root, and " << run.output;
        EXPECT_TRUE(run.passed) << run.output;
        return;
    }
#endif

    AcqState state;
    fillWithTracers(state);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dataCsvPath(dir.path());
    if (cause.hasEarlierFile)
        writeBytes(path, kPreviousSave);

    // What must survive: the earlier file, or what the folder in its place holds.
    const QString witness = cause.hasEarlierFile ? path : path + QStringLiteral("/inside.txt");

    const int handlesBefore = openHandleCount();
    cause.inject(dir.path());
    const std::string witnessBefore = readBytes(witness);
    const QStringList entriesBefore = entriesOf(dir.path());
    // The full ring is well past the write-error case's size limit.
    const SaveResult failed = saveDataCsv(state, "32000", path);
    const QStringList entriesAfter = entriesOf(dir.path());
    const std::string witnessAfter = readBytes(witness);
    cause.clear(dir.path());

    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(witnessAfter, witnessBefore);
    EXPECT_EQ(entriesAfter, entriesBefore) << "a temporary file was left behind";
    EXPECT_EQ(openHandleCount(), handlesBefore) << "a handle stayed open";
    ASSERT_FALSE(QFileInfo(path).isDir()) << "the folder was not taken away";

    const SaveResult retried = saveDataCsv(state, "32000", path);
    EXPECT_TRUE(retried.ok);
    EXPECT_EQ(retried.rows, 32000);
    EXPECT_EQ(splitLines(readBytes(path)).size(), 32002U);
    EXPECT_EQ(entriesOf(dir.path()), QStringList{QStringLiteral("Data.csv")});
}

INSTANTIATE_TEST_SUITE_P(CsvExport, SaveFailure, ::testing::ValuesIn(kFailureCauses),
                         [](const ::testing::TestParamInfo<FailureCause>& info) {
                             return std::string(info.param.name);
                         });

TEST(CsvExport, PathIsDataCsvInProgramDirectory) {
    const std::pair<const char*, const char*> cases[] = {
        {"/opt/multibuf", "/opt/multibuf/Data.csv"},
        {"/opt/multibuf/", "/opt/multibuf/Data.csv"},
        {"/", "/Data.csv"},
        {"C:/MultiBuf", "C:/MultiBuf/Data.csv"},
        {"C:/", "C:/Data.csv"},
    };
    for (const auto& [dir, expected] : cases)
        EXPECT_EQ(dataCsvPath(QString::fromUtf8(dir)), QString::fromUtf8(expected)) << dir;
}

TEST(CsvExport, StatusTexts) {
    EXPECT_EQ(saveStatusText(true), "保存完毕！文件名Data.csv");
    EXPECT_EQ(saveStatusText(false), "保存文件失败！可能是您正在编辑Data.csv文件，请先退出该文件");
}

} // namespace
