// The card host, through the program's own HostDriver and the real host
// program on the real simulated card library, natively: everything a host
// under Wine does but the Windows calls underneath.

#include "driver/HostDriver.h"
#include "acquisition/AcqState.h"
#include "acquisition/Drain.h"
#include "acquisition/StartStop.h"
#include "driver/CardRoute.h"
#include "driver/LibraryDriver.h"
#include "driver/ToviraApi.h"
#include "tests/support/CardFault.h"
#include "tests/support/FatalText.h"
#include "tests/support/WaitForBlocks.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>
#else
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

using namespace std::chrono_literals;

constexpr int kCounterChannel = 4;

// A program folder of its own: the host and, unless left out, a card library
// under the name the host looks for.
struct HostFolder {
    QTemporaryDir dir;
    explicit HostFolder(const QString& library = QStringLiteral(SIM_LIBRARY)) {
        EXPECT_TRUE(dir.isValid());
        EXPECT_TRUE(QFile::copy(QStringLiteral(HOST_PROGRAM), host()));
        if (!library.isEmpty()) {
            EXPECT_TRUE(QFile::copy(library, this->library()));
        }
    }
#if defined(_WIN32)
    QString host() const {
        return dir.filePath(QStringLiteral("tovira-host.exe"));
    }
    QString library() const {
        return dir.filePath(QStringLiteral("tovira.dll"));
    }
#else
    QString host() const {
        return dir.filePath(QStringLiteral("tovira-host"));
    }
    QString library() const {
        return dir.filePath(QStringLiteral("libtovira.so"));
    }
#endif
    std::unique_ptr<HostDriver> driver(HostDriver::Timeouts timeouts = {10s, 10s},
                                       QStringList arguments = {}) const {
        auto card = std::make_unique<HostDriver>(host(), QStringList{}, library(), timeouts,
                                                 std::move(arguments));
        // Later calls would quietly return 0: say why at once. Tests that end
        // the host on purpose set their own handler.
        card->setHostLostHandler([](const QString& message) {
            ADD_FAILURE() << "host lost: " << message.toStdString();
        });
        return card;
    }
};

struct Config {
    std::array<std::uint8_t, kCardNameBytes> name{};
    std::int32_t v[4] = {111, 222, 333, 444};
    float zero = -1.5F;
    float span = -2.5F;
    std::int32_t extra = 555;
    std::int32_t call(AdDriver& card) {
        return card.ConfigInfo(name.data(), &v[0], &v[1], &v[2], &v[3], &zero, &span, &extra);
    }
};

// The program's standard error, caught in a file while this lives.
class CapturedErrors {
public:
    CapturedErrors() {
        std::fflush(stderr);
        m_saved = ::dup(fileno(stderr));
        const int file =
            ::open(path().toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        EXPECT_GE(file, 0);
        ::dup2(file, fileno(stderr));
        ::close(file);
    }
    ~CapturedErrors() {
        std::fflush(stderr);
        ::dup2(m_saved, fileno(stderr));
        ::close(m_saved);
    }
    CapturedErrors(const CapturedErrors&) = delete;
    CapturedErrors& operator=(const CapturedErrors&) = delete;
    QByteArray text() const {
        std::fflush(stderr);
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QString path() const { return m_dir.filePath(QStringLiteral("stderr")); }
    QTemporaryDir m_dir;
    int m_saved = -1;
};

#if defined(_WIN32)

bool processGone(qint64 pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return true;
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

// Killed by another program, as Task Manager ends a process.
constexpr int kKilledStatus = 9;
void killProcess(qint64 pid) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    ASSERT_NE(process, nullptr);
    TerminateProcess(process, kKilledStatus);
    CloseHandle(process);
}
const QString kKilledCause = QStringLiteral("退出，状态 9");

// Every thread of the process suspended, as a debugger stops it.
void stopProcess(qint64 pid) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int stopped = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more;
         more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != static_cast<DWORD>(pid))
            continue;
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
        if (thread != nullptr && SuspendThread(thread) != static_cast<DWORD>(-1))
            ++stopped;
        if (thread != nullptr)
            CloseHandle(thread);
    }
    CloseHandle(snapshot);
    EXPECT_GT(stopped, 0);
}

// The system's own reasons, as the host words them: its message and number.
constexpr const char* kNoLibraryReason = "(126)";
constexpr const char* kNoExportReason = "(127)";
constexpr const char* kCrashCause = "exception 0xC0000005 (access violation) at address ";

#else

bool processGone(qint64 pid) {
    // Reaped, or at least no longer running (a zombie does not count).
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
}

void killProcess(qint64 pid) {
    ::kill(static_cast<pid_t>(pid), SIGKILL);
}
const QString kKilledCause = QStringLiteral("被信号 9 终止");

void stopProcess(qint64 pid) {
    ::kill(static_cast<pid_t>(pid), SIGSTOP);
}

// dlopen's and the signal handler's own words.
constexpr const char* kNoLibraryReason = "libtovira.so: cannot open shared object file";
constexpr const char* kNoExportReason = "undefined symbol: StopIntr";
constexpr const char* kCrashCause = "signal 11 (SEGV)";

#endif

// How long a test waits for something that happens on its own (another
// process's output, its end, the event loop's report of it). A wait ends as
// soon as the thing happens, so the limit only says how long a broken build
// takes to fail: a generous one keeps the suite steady on a machine whose
// hypervisor holds back much of its processor time, and under Wine.
constexpr std::chrono::milliseconds kEventually = 10s;

bool within(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(HostDriver, ConfigInfoLeavesWhatTheLibraryDoesNotWrite) {
    // The ConfigInfo-only card writes the name, the zero level and the span,
    // nothing else.
    HostFolder folder(QStringLiteral(PARTIAL_LIBRARY));
    auto card = folder.driver();
    Config config;
    config.name.fill(0xEE);
    EXPECT_EQ(config.call(*card), 1);
    const std::string name = "ConfigInfo-only card";
    EXPECT_EQ(std::string(config.name.begin(), config.name.begin() + name.size()), name);
    EXPECT_EQ(config.name[name.size()], 0);
    EXPECT_EQ(config.name[name.size() + 1], 0xEE);
    EXPECT_EQ(config.name[200], 0xEE);
    EXPECT_EQ(config.zero, 2048.0F);
    EXPECT_EQ(config.span, 4096.0F);
    EXPECT_EQ(config.v[0], 111);
    EXPECT_EQ(config.v[3], 444);
    EXPECT_EQ(config.extra, 555);
}

TEST(HostDriver, PassesArgumentsAndAnswersWhole) {
    HostFolder folder;
    {
        // The host takes the card's fault settings from the environment it
        // starts in.
        CardFault failInitial("TOVIRA_SIM_FAIL_INITIAL", "-2147483647");
        CardFault count("TOVIRA_SIM_QUERY_COUNT", "70000");
        auto card = folder.driver();
        Config config;
        config.call(*card);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(config.name.data())), "Tovira SIM-17");
        EXPECT_EQ(config.zero, 32768.0F);
        // Any 32-bit error number, negative ones too.
        EXPECT_EQ(card->Initial(0, 0, 0, 0), 0);
        EXPECT_EQ(card->GetLastADError(), -2147483647);
        // The library's whole 32-bit count, not the low 16 bits the drain keeps.
        EXPECT_EQ(card->QueryBuf(), 70000);
    }
    auto card = folder.driver();
    EXPECT_EQ(card->Initial(0, 0, 0, 0), 1);
    // Arguments the card refuses arrive as they were sent.
    EXPECT_EQ(card->StartIntr(50, 500, 0, 17, 1'000'001, 0, 1), 0);
    EXPECT_EQ(card->GetLastADError(), 2);
    EXPECT_EQ(card->StartIntr(50, 500, 0, 33, 20000, 0, 1), 0);
    EXPECT_EQ(card->GetLastADError(), 3);
    EXPECT_EQ(card->StartIntr(50, 500, 0, 17, 20000, 0, 1), 1);
    EXPECT_EQ(card->StopIntr(), 1);
}

TEST(HostDriver, WaitsForAProgramThatPausesBetweenCalls) {
    // The host's reads wait for the next request however long it takes, also
    // on Qt's overlapped pipes on Windows, where a read without its OVERLAPPED
    // may come back at once with nothing.
    HostFolder folder;
    auto card = folder.driver();
    for (int call = 0; call < 5; ++call) {
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(card->GetLastADError(), 0) << "call " << call;
    }
    EXPECT_NE(card->process().processId(), 0);
}

TEST(HostDriver, DrainKeepsEveryScanAndTheBufferEnds) {
    HostFolder folder;
    auto card = folder.driver();
    AcqState state;
    Config().call(*card);
    ASSERT_EQ(startAcquisition(*card, state, "100000").outcome, StartOutcome::Started);
    // Elements that are not samples stay as the program has them.
    state.AdBuf.front() = 0x1234;
    state.AdBuf.back() = -2;
    std::int64_t blocks = 0;
    for (int tick = 0; tick < 6; ++tick) {
        ASSERT_TRUE(waitForBlocks(*card, 2));
        blocks += drainReadyBlocks(*card, state);
    }
    EXPECT_EQ(state.AdBuf.front(), 0x1234);
    EXPECT_EQ(state.AdBuf.back(), -2);
    // Channel 4 counts scans: every kept point follows the one before it.
    const std::int32_t kept = static_cast<std::int32_t>(blocks) * state.PointsPerBuf;
    ASSERT_EQ(state.DataPtr, kept % kRingPoints);
    for (std::int32_t p = 1; p < std::min(kept, kRingPoints); ++p)
        ASSERT_EQ(state.AdData(kCounterChannel, p),
                  (state.AdData(kCounterChannel, p - 1) + 1) % 65536)
            << "point " << p;

    // No block waiting: the library writes nothing, and nothing changes.
    stopAcquisition(*card);
    while (drainReadyBlocks(*card, state) > 0) {
    }
    for (std::size_t i = 0; i < state.AdBuf.size(); ++i)
        state.AdBuf[i] = static_cast<std::int16_t>(i * 7);
    const std::vector<std::int16_t> before = state.AdBuf;
    EXPECT_EQ(card->ADResult(state.AdBuf.data()), 0);
    EXPECT_EQ(state.AdBuf, before);
}

// Starts `card` at 100000 scans/s (500-scan blocks) and takes `blocks` blocks
// in the order the calls below make them, into buffers that start out with
// the same marked contents: `between` is called after the first ADResult of
// each announcement, while the rest of the announced blocks are still on
// their way from a host.
std::vector<std::vector<std::int16_t>> takeBlocks(AdDriver& card, int blocks,
                                                  const std::function<void()>& between) {
    AcqState state;
    EXPECT_EQ(startAcquisition(card, state, "100000").outcome, StartOutcome::Started);
    std::vector<std::int16_t> buffer(state.AdBuf.size());
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<std::int16_t>(0x5000 + i);
    std::vector<std::vector<std::int16_t>> taken;
    while (static_cast<int>(taken.size()) < blocks) {
        if (!waitForBlocks(card, 3))
            break;
        const int announced = card.QueryBuf() & 0xFFFF;
        for (int b = 0; b < announced && static_cast<int>(taken.size()) < blocks; ++b) {
            EXPECT_EQ(card.ADResult(buffer.data()), 1);
            taken.push_back(buffer);
            if (b == 0)
                between();
        }
    }
    stopAcquisition(card);
    return taken;
}

TEST(HostDriver, ACallWhileBlocksAreInFlightComesFirstAndTheBlocksFollowInOrder) {
    constexpr int kBlocks = 12;
    HostFolder folder;
    auto host = folder.driver();
    Config().call(*host);
    int calls = 0;
    // Another call of each kind while blocks are in flight: one that answers
    // a number, and a new count, whose blocks come after the ones in flight.
    const auto viaHost = takeBlocks(*host, kBlocks, [&] {
        EXPECT_EQ(host->GetLastADError(), 0);
        EXPECT_GE(host->QueryBuf(), 0);
        ++calls;
    });
    ASSERT_EQ(viaHost.size(), static_cast<std::size_t>(kBlocks));
    EXPECT_GE(calls, 1);

    // Block i holds scans i * 500 onwards: channel 4 counts them.
    constexpr std::size_t kChannels = 17;
    for (std::size_t i = 0; i < viaHost.size(); ++i)
        EXPECT_EQ(viaHost[i][1 + kCounterChannel], static_cast<std::int16_t>(i * 500)) << i;

    // The same blocks taken from the library loaded directly leave the same
    // buffers, element 0 and the last one included.
    LibraryDriver direct(QStringLiteral(SIM_LIBRARY));
    Config().call(direct);
    const auto directly = takeBlocks(direct, kBlocks, [] {});
    ASSERT_EQ(directly.size(), viaHost.size());
    for (std::size_t i = 0; i < viaHost.size(); ++i)
        EXPECT_EQ(viaHost[i], directly[i]) << "block " << i;
    EXPECT_EQ(viaHost.back().front(), 0x5000);
    EXPECT_EQ(viaHost.back().back(), static_cast<std::int16_t>(0x5000 + 500 * kChannels + 1));
}

TEST(HostDriver, PrintingLibraryDoesNotDisturbTheChannel) {
    HostFolder folder;
    auto card = folder.driver();
    CardFault chatty("TOVIRA_SIM_PRINT", "hello from the card \x01\x02\x03\x04");
    CapturedErrors errors;
    Config config;
    EXPECT_EQ(config.call(*card), 1);
    EXPECT_EQ(config.span, 65536.0F);
    // What the library prints reaches the program's standard error while the host runs.
    EXPECT_TRUE(within(kEventually, [&] { return errors.text().contains("hello from the card"); }))
        << errors.text().toStdString();
    AcqState state;
    ASSERT_EQ(startAcquisition(*card, state, "100000").outcome, StartOutcome::Started);
    ASSERT_TRUE(waitForBlocks(*card, 1));
    EXPECT_GT(drainReadyBlocks(*card, state), 0);
    EXPECT_EQ(state.AdData(kCounterChannel, 1), 1);
}

TEST(HostDriver, LoadsTheLibraryItIsGivenWhereverItLies) {
    // As a library in Windows' system folder is reached: the host beside the
    // program, the library elsewhere, its path the host's argument.
    HostFolder folder(QString{});
    HostFolder elsewhere;
    auto card = folder.driver({10s, 10s}, {QDir::toNativeSeparators(elsewhere.library())});
    Config config;
    EXPECT_EQ(config.call(*card), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(config.name.data())), "Tovira SIM-17");
}

TEST(HostDriver, MissingLibraryOrExportIsFatalAsTheDirectBindingSaysIt) {
    {
        HostFolder folder(QString{});
        auto card = folder.driver();
        const std::string message = fatalErrorText([&] { Config().call(*card); });
        EXPECT_EQ(message.rfind("无法加载驱动程序库 " + folder.library().toStdString() + "：", 0),
                  0)
            << message;
        EXPECT_NE(message.find(kNoLibraryReason), std::string::npos) << message;
    }
    HostFolder folder(QStringLiteral(PARTIAL_LIBRARY));
    auto card = folder.driver();
    ASSERT_EQ(Config().call(*card), 1);
    const std::string message = fatalErrorText([&] { card->StopIntr(); });
    EXPECT_EQ(message.rfind(
                  "驱动程序库 " + folder.library().toStdString() + " 中找不到函数 StopIntr：", 0),
              0)
        << message;
    EXPECT_NE(message.find(kNoExportReason), std::string::npos) << message;
    // The host lives on: the function that is there still answers.
    EXPECT_EQ(Config().call(*card), 1);
}

TEST(HostDriver, TheRouteNamesTheLibraryAndTheHostAsTheSystemWritesPaths) {
    // As the program makes it from the route it chose: the library given by
    // path, and messages that name both with the system's separators.
    HostFolder folder(QStringLiteral(PARTIAL_LIBRARY));
    const QString library = QDir::toNativeSeparators(folder.library());
    CardRoute route{CardRoute::Kind::Host, folder.library(), folder.host(), {}, {library}, {}};
    const auto card = makeDriver(route, nullptr);
    ASSERT_EQ(Config().call(*card), 1);
    std::string message = fatalErrorText([&] { card->StopIntr(); });
    EXPECT_EQ(message.rfind("驱动程序库 " + library.toStdString() + " 中找不到函数 StopIntr：", 0),
              0U)
        << message;

    route.host = folder.dir.filePath(QStringLiteral("gone/tovira-host.exe"));
    const auto none = makeDriver(route, nullptr);
    message = fatalErrorText([&] { Config().call(*none); });
    EXPECT_EQ(message.rfind("无法启动驱动程序主机 " +
                                QDir::toNativeSeparators(route.host).toStdString() + "：",
                            0),
              0U)
        << message;
}

TEST(HostDriver, CrashInsideTheLibraryIsReportedAsACrash) {
    HostFolder folder;
    CardFault crash("TOVIRA_SIM_CRASH", "QueryBuf");
    auto card = folder.driver();
    Config().call(*card);
    const qint64 pid = card->process().processId();
    const std::string message = fatalErrorText([&] { card->QueryBuf(); });
    EXPECT_EQ(message.rfind("驱动程序库 " + folder.library().toStdString() +
                                " 在 QueryBuf 中崩溃：" + kCrashCause,
                            0),
              0U)
        << message;
    EXPECT_TRUE(processGone(pid));
    // Later calls neither hang nor report again.
    EXPECT_EQ(card->StopIntr(), 0);
}

TEST(HostDriver, HostThatEndsIsFatalWhenIdleAndInACall) {
    HostFolder folder;
    {
        auto card = folder.driver();
        QString lostMessage;
        int reports = 0;
        card->setHostLostHandler([&](const QString& m) {
            lostMessage = m;
            ++reports;
        });
        Config().call(*card);
        killProcess(card->process().processId());
        // Nobody is calling: the event loop hears of it.
        EXPECT_TRUE(within(kEventually, [&] { return reports > 0; }));
        EXPECT_EQ(lostMessage, QStringLiteral("驱动程序主机 %1 意外结束：%2")
                                   .arg(QDir::toNativeSeparators(folder.host()), kKilledCause));
        EXPECT_EQ(card->QueryBuf(), 0);
        EXPECT_EQ(reports, 1);
    }
    auto card = folder.driver();
    int reports = 0;
    card->setHostLostHandler([&](const QString&) { ++reports; });
    Config().call(*card);
    killProcess(card->process().processId());
    const std::string message = fatalErrorText([&] { card->QueryBuf(); });
    EXPECT_EQ(message, QStringLiteral("驱动程序主机 %1 意外结束：%2")
                           .arg(QDir::toNativeSeparators(folder.host()), kKilledCause)
                           .toStdString());
    QCoreApplication::processEvents();
    EXPECT_EQ(reports, 0) << "reported twice";
}

#if !defined(_WIN32)

namespace {

// A shell script that stands in for the host.
void writeHostScript(const QString& path, const char* body) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("#!/bin/sh\n") + body + '\n');
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

} // namespace
// Launchers as shell scripts, and a host stopped by a signal: Linux's own means.

TEST(HostDriver, HostThatCannotBeRunIsNamedWithTheLaunchersWords) {
    // Launchers that never get the host to answer, as a Wine without 32-bit
    // support does (it ends at once with status 0 and says nothing with
    // WINEDEBUG=-all); the last row is a "host" that is no host, run directly.
    const struct {
        const char* script;
        const char* cause;
        const char* stderrText = nullptr; // what must reach the program's stderr
        bool launcher = true;
    } rows[] = {
        {"printf 'first words\\nwine: cannot run it\\n\\n' >&2; echo out; exit 3",
         "退出，状态 3（最后的输出：wine: cannot run it）", "first words\nwine: cannot run it\n\n"},
        {"echo 'launcher: no 32-bit loader'; exit 1",
         "退出，状态 1（最后的输出：launcher: no 32-bit loader）"},
        {"printf ab; exit 2", "退出，状态 2（最后的输出：ab）"},
        {"exit 0", "退出，状态 0"},
        {"kill -TERM $$", "被信号 15 终止"},
        {"echo nonsense; exec sleep 30", "应答无法识别（最后的输出：nonsense）"},
        // Of binary junk only what shows is kept: none of controls, bytes that
        // are no UTF-8, private-use (U+F000) or format characters (U+202E).
        {"printf '\\001\\377\\376\\002\\357\\200\\200\\342\\200\\256\\n' >&2; exit 4",
         "退出，状态 4"},
        {"printf 'wine: bad\\001\\377image\\342\\200\\256 here\\n\\377\\376\\033\\n' >&2; exit 5",
         "退出，状态 5（最后的输出：wine: bad image here）"},
        // Characters beyond 16 bits are judged whole, not as two surrogates.
        {"printf '缺少 32 位支持 \\360\\235\\204\\236\\n' >&2; exit 6",
         "退出，状态 6（最后的输出：缺少 32 位支持 𝄞）"},
        {"printf '\\377\\376\\001\\002\\200'; exec sleep 30", "应答无法识别"},
        {"echo 'not a host' >&2; exit 1", "退出，状态 1（最后的输出：not a host）", "not a host\n",
         false},
    };
    for (const auto& row : rows) {
        HostFolder folder;
        const QString script = folder.dir.filePath(QStringLiteral("run"));
        writeHostScript(script, row.script);
        const QString cause = QString::fromUtf8(row.cause);
        const QString expected =
            row.launcher ? QStringLiteral("无法通过 %1 运行驱动程序主机 %2：%3")
                               .arg(script, folder.host(), cause)
                         : QStringLiteral("无法运行驱动程序主机 %1：%2").arg(script, cause);
        CapturedErrors errors;
        HostDriver card(row.launcher ? folder.host() : script,
                        row.launcher ? QStringList{script} : QStringList{}, folder.library(),
                        {10s, 10s});
        EXPECT_EQ(fatalErrorText([&] { Config().call(card); }), expected.toStdString())
            << row.script;
        EXPECT_EQ(card.process().processId(), 0) << row.script;
        if (row.stderrText) {
            EXPECT_TRUE(errors.text().contains(row.stderrText))
                << row.script << ": " << errors.text().toStdString();
        }
    }
}

TEST(HostDriver, SilentHostTimesOutAndIsEnded) {
    // The first call (which starts the host) and later calls each run against
    // their own limit, and the message names the one that ran out.
    const struct {
        const char* what;
        HostDriver::Timeouts timeouts;
        // A "host" that stands in for the real one.
        const char* script;
        const char* silence;
    } rows[] = {
        {"half a first answer, then nothing",
         {400ms, 10s},
         "echo $$ > \"$0.pid\"; printf ab; exec sleep 30",
         "在 0.4 秒内没有应答 ConfigInfo 调用"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        HostFolder folder;
        const QString host = folder.dir.filePath(QStringLiteral("silent"));
        writeHostScript(host, row.script);
        HostDriver card(host, QStringList{}, folder.library(), row.timeouts);
        QElapsedTimer timer;
        timer.start();
        const std::string message = fatalErrorText([&] { Config().call(card); });
        EXPECT_LT(timer.elapsed(), 5000);
        EXPECT_EQ(message, QStringLiteral("驱动程序主机 %1 %2")
                               .arg(host, QString::fromUtf8(row.silence))
                               .toStdString());
        QFile pidFile(host + QStringLiteral(".pid"));
        ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
        EXPECT_TRUE(processGone(pidFile.readAll().trimmed().toLongLong()));
    }
}

#endif

TEST(HostDriver, StoppedHostTimesOutAndIsEnded) {
    // The real host, stopped after its first answer: the next call waits
    // for its reply up to the call's own limit, not the first call's, and
    // the host is ended.
    HostFolder folder;
    auto card = folder.driver({10s, 300ms});
    Config().call(*card);
    const qint64 pid = card->process().processId();
    ASSERT_GT(pid, 0);
    stopProcess(pid);
    QElapsedTimer timer;
    timer.start();
    const std::string message = fatalErrorText([&] { card->QueryBuf(); });
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(message, QStringLiteral("驱动程序主机 %1 在 0.3 秒内没有应答 QueryBuf 调用")
                           .arg(QDir::toNativeSeparators(folder.host()))
                           .toStdString());
    EXPECT_TRUE(within(kEventually, [&] { return processGone(pid); }));
}

TEST(HostDriver, HostEndsWithTheProgramHoweverItEnds) {
    HostFolder folder;
    qint64 pid = 0;
    {
        auto card = folder.driver();
        Config().call(*card);
        pid = card->process().processId();
    }
    EXPECT_TRUE(processGone(pid));

    // A program killed outright: its host must not outlive it.
    QProcess program;
    program.start(QStringLiteral(HOST_CLIENT), {folder.dir.path()});
    ASSERT_TRUE(program.waitForReadyRead(10000)) << program.readAllStandardError().toStdString();
    const qint64 host = program.readLine().trimmed().toLongLong();
    ASSERT_GT(host, 0);
    ASSERT_FALSE(processGone(host));
    program.kill();
    program.waitForFinished();
    EXPECT_TRUE(within(kEventually, [&] { return processGone(host); }));
}

} // namespace
