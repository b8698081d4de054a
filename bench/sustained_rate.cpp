// Runs the real window on the real simulated card for a while and reports
// whether it kept up:
//
//   sustained_rate [rate] [xnum] [channel] [seconds] [route]
//                                              (1000000 32000 1 60 direct)
//
// The window is FrmMultiBuf as the program builds it, on the offscreen
// platform and shown, so it repaints as on a screen; the card is the
// simulated card library of the program's folder, reached by `route`:
//   direct   libtovira.so bound by LibraryDriver, as the program does
//   host     the same library through the card host of the program's own
//            build (tovira-host, or tovira-host.exe in the Windows build,
//            where it stands in for the 32-bit route where Wine cannot run
//            32-bit programs)
//   wine     the card built as a 32-bit tovira.dll, through tovira-host.exe
//            under Wine (the build's win32/bin/)
//   host32   the Windows program's own route to the maker's card: the 32-bit
//            tovira-host.exe beside the program on the 32-bit tovira.dll of
//            win32/bin/, run directly (for the Windows build)
// The tool types the rate, sets the point count and the channel through their up-down controls,
// presses "开始采集", lets it run, presses "停止采集" and prints one
// "name: value" line per figure:
//   blocks received    the window's BlockTotal
//   blocks dropped     the card library's own count (SimDroppedBlocks), read
//                      by this tool, never by the program
//   gaps or repeats    breaks in channel 4, which carries the scan number mod
//                      65536: after every tick the new ring points are checked
//                      against the scans the tick's blocks must have brought
//   tick times         from the timer event reaching TimerAD to the end of the
//                      window's tick handler (drain, plot data, readout, status)
//   paint times        every repaint of the window (the plot's trace included)
//   CPU use            the process's user and system time over the run
//   memory             resident set at load, before and after the run, and
//                      the peak
//   start-up           process start to the window's first repaint
#include "ProcessStats.h"
#include "app/FrmMultiBuf.h"
#include "display/UpDown.h"
#include "driver/HostDriver.h"
#include "driver/LibraryDriver.h"
#include "driver/host/HostProtocol.h"
#include "driver/sim/SimToolsApi.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLibrary>
#include <QLineEdit>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Channel 4 counts scans; the ring keeps this many points.
constexpr std::int16_t kCounterChannel = 4;

double msSince(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

struct Percentiles {
    double median = 0.0;
    double p99 = 0.0;
    double max = 0.0;
};

Percentiles percentiles(std::vector<double> values) {
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        const auto i = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
        return values[std::min(i, values.size() - 1)];
    };
    return {at(0.5), at(0.99), values.back()};
}

// Times every repaint of the window: the whole of each update request, which
// lays out and paints every dirty widget, the plot's trace included.
class TimingApplication final : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (event->type() != QEvent::UpdateRequest)
            return QApplication::notify(receiver, event);
        const Clock::time_point start = Clock::now();
        const bool result = QApplication::notify(receiver, event);
        paints.push_back(msSince(start, Clock::now()));
        if (firstPaint == Clock::time_point{})
            firstPaint = Clock::now();
        return result;
    }

    std::vector<double> paints;
    Clock::time_point firstPaint;
};

// Watches the window's drain timer: the start of each tick from the timer's
// own event, the end from a slot connected after the window's handler. Then
// checks the ring points the tick added.
class TickWatch final : public QObject {
public:
    explicit TickWatch(const FrmMultiBuf& window) : m_window(window) { m_ticks.reserve(1 << 16); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Timer)
            m_tickStart = Clock::now();
        return QObject::eventFilter(watched, event);
    }

    void tickEnded() {
        m_ticks.push_back(msSince(m_tickStart, Clock::now()));
        checkNewPoints();
    }

    // The state right after a start: nothing kept yet, so the scan before the
    // first kept one is "scan -1".
    void started() {
        const AcqState& s = m_window.state();
        m_blocks = s.BlockTotal;
        m_divCount = s.SampDivCnt;
        m_newestCode = 0xFFFF;
    }

    const std::vector<double>& ticks() const { return m_ticks; }
    long long breaks() const { return m_breaks; }
    long long ticksWithData() const { return m_ticksWithData; }

private:
    void checkNewPoints() {
        const AcqState& s = m_window.state();
        const long long blocks = s.BlockTotal - m_blocks;
        if (blocks <= 0)
            return;
        ++m_ticksWithData;
        m_blocks = s.BlockTotal;
        // Which scans the blocks must have brought into the ring: every
        // SampDiv-th since the start, wherever the blocks begin.
        const long long scans = blocks * s.PointsPerBuf;
        const long long counted = m_divCount + scans;
        const long long kept = counted / s.SampDiv;
        m_divCount = static_cast<std::int32_t>(counted % s.SampDiv);
        if (m_divCount != s.SampDivCnt)
            ++m_breaks; // the decimation counter went astray
        if (kept == 0)
            return;
        // Points older than a ring's length were overwritten within the tick;
        // the scan numbers of the rest must follow on from the last tick's.
        const long long retained = std::min<long long>(kept, kRingPoints);
        const auto step = static_cast<std::uint32_t>(s.SampDiv);
        std::uint32_t expected =
            m_newestCode + static_cast<std::uint32_t>(kept - retained + 1) * step;
        std::int32_t p = ringStepBack(s.DataPtr, static_cast<std::int32_t>(retained));
        for (long long i = 0; i < retained; ++i) {
            const auto code = static_cast<std::uint32_t>(s.AdData(kCounterChannel, p));
            if (code != (expected & 0xFFFFU)) {
                ++m_breaks;
                expected = code; // count each break once, then follow the new run
            }
            expected += step;
            p = ringAdvance(p);
        }
        m_newestCode = (expected - step) & 0xFFFFU;
    }

    const FrmMultiBuf& m_window;
    std::vector<double> m_ticks;
    Clock::time_point m_tickStart;
    long long m_blocks = 0;
    std::int32_t m_divCount = 0;
    std::uint32_t m_newestCode = 0;
    long long m_breaks = 0;
    long long m_ticksWithData = 0;
};

template <typename T> T* control(FrmMultiBuf& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        std::fprintf(stderr, "sustained_rate: the window has no control %s\n", name);
        std::exit(2);
    }
    return found;
}

// The card library reads its fault settings from the environment; a run of
// this tool is meant to show the card working.
void clearCardFaults() {
    const QStringList names = QProcessEnvironment::systemEnvironment().keys();
    for (const QString& name : names) {
        if (name.startsWith(QLatin1String("TOVIRA_SIM_")))
            qunsetenv(name.toLatin1().constData());
    }
}

void printLine(const char* name, const std::string& value) {
    std::printf("%-22s %s\n", (std::string(name) + ":").c_str(), value.c_str());
}

std::string fixed(double v, int decimals = 2) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

struct Options {
    const char* rate = "1000000";
    int xnum = 32000;
    int channel = 1;
    double seconds = 60.0;
    std::string route = "direct";
};

Options readOptions(int argc, char* argv[]) {
    Options o;
    if (argc > 1)
        o.rate = argv[1];
    if (argc > 2)
        o.xnum = std::atoi(argv[2]);
    if (argc > 3)
        o.channel = std::atoi(argv[3]);
    if (argc > 4)
        o.seconds = std::atof(argv[4]);
    if (argc > 5)
        o.route = argv[5];
    return o;
}

// The card by the chosen route, and the tool's own question to it: how many
// blocks it dropped. The program never asks the card for its losses; this
// tool does, from the same loaded library or through the same host.
struct Card {
    std::unique_ptr<AdDriver> driver;
    std::function<long long()> droppedBlocks;
};

Card openCard(const std::string& route) {
    // The card library is the one in the program's folder, as the program binds it.
    const QString programDir = QStringLiteral(MULTIBUF_PROGRAM_DIR);
    Card card;
    if (route == "direct") {
        card.driver = std::make_unique<LibraryDriver>(LibraryDriver::besideProgram(programDir));
        auto library = std::make_shared<QLibrary>(LibraryDriver::besideProgram(programDir));
        const auto dropped =
            reinterpret_cast<SimDroppedBlocksFn>(library->resolve(kSimDroppedBlocksExport));
        if (dropped == nullptr) {
            std::fprintf(stderr, "sustained_rate: %s\n", qPrintable(library->errorString()));
            std::exit(2);
        }
        card.droppedBlocks = [library, dropped] { return dropped(); };
    } else if (route == "host" || route == "wine" || route == "host32") {
        const QString win32Dir = QStringLiteral(MULTIBUF_WIN32_DIR);
        std::unique_ptr<HostDriver> host;
        if (route == "host") {
            // Given the library's path: the build may keep the host elsewhere.
            const QString library = LibraryDriver::besideProgram(programDir);
            host = std::make_unique<HostDriver>(QStringLiteral(MULTIBUF_HOST_PROGRAM),
                                                QStringList{}, library, HostDriver::Timeouts{},
                                                QStringList{QDir::toNativeSeparators(library)});
        } else if (route == "wine") {
            host = std::make_unique<HostDriver>(win32Dir + QStringLiteral("/tovira-host.exe"),
                                                QStringList{QStringLiteral("wine")},
                                                win32Dir + QStringLiteral("/tovira.dll"));
        } else {
            // As the program reaches a 32-bit tovira.dll in the system folder:
            // the host beside it, given the library's path.
            const QString dll = win32Dir + QStringLiteral("/tovira.dll");
            host = std::make_unique<HostDriver>(programDir + QStringLiteral("/tovira-host.exe"),
                                                QStringList{}, dll, HostDriver::Timeouts{},
                                                QStringList{QDir::toNativeSeparators(dll)});
        }
        HostDriver* asked = host.get();
        card.droppedBlocks = [asked] {
            const std::string reply = asked->ask(hostproto::request(hostproto::kSimDroppedBlocks),
                                                 8, kSimDroppedBlocksExport);
            if (reply.empty())
                return -1LL;
            return static_cast<long long>(hostproto::getU64(reply.data()));
        };
        card.driver = std::move(host);
    } else {
        std::fprintf(stderr, "sustained_rate: route is direct, host, wine or host32, not %s\n",
                     route.c_str());
        std::exit(2);
    }
    return card;
}

// What a run measured, for the report.
struct Figures {
    double startupMs = 0.0;
    double mainToShownMs = 0.0;
    long rssAtLoad = 0;
    long peakAtLoad = 0;
    long rssAtStart = 0;
    double elapsed = 0.0;
    double cpu = 0.0;
    double uiCpu = 0.0;
    long long dropped = 0;
};

void report(const Options& o, const Figures& f, const FrmMultiBuf& window, const TickWatch& watch,
            const std::vector<double>& paints) {
    const AcqState& s = window.state();
    // Below 10000 scans/s the card runs at 10000 and the drain thins them out.
    const double expected = s.SampFreq * f.elapsed / std::max(1, s.PointsPerBuf);
    const Percentiles tick = percentiles(watch.ticks());
    const Percentiles paint = percentiles(paints);

    std::printf("sustained_rate: %s scans/s, XNum %d, channel %d, %.0f s, %s\n", o.rate, o.xnum,
                o.channel, o.seconds, o.route.c_str());
    printLine("startup_ms", fixed(f.startupMs, 0) + " (process start to first repaint; " +
                                fixed(f.mainToShownMs, 0) + " from main)");
    printLine("rss_at_load_kb", std::to_string(f.rssAtLoad));
    printLine("peak_rss_at_load_kb", std::to_string(f.peakAtLoad));
    printLine("seconds", fixed(f.elapsed, 1));
    printLine("blocks_received", std::to_string(s.BlockTotal));
    printLine("blocks_expected", fixed(expected, 0));
    printLine("blocks_dropped", std::to_string(f.dropped));
    printLine("gaps_or_repeats", std::to_string(watch.breaks()));
    printLine("ticks", std::to_string(watch.ticks().size()) + " (" +
                           std::to_string(watch.ticksWithData()) + " with blocks)");
    printLine("tick_median_ms", fixed(tick.median, 3));
    printLine("tick_p99_ms", fixed(tick.p99, 3));
    printLine("tick_max_ms", fixed(tick.max, 3));
    printLine("repaints", std::to_string(paints.size()));
    printLine("paint_median_ms", fixed(paint.median, 3));
    printLine("paint_p99_ms", fixed(paint.p99, 3));
    printLine("paint_max_ms", fixed(paint.max, 3));
    printLine("cpu_percent", fixed(100.0 * f.cpu / f.elapsed, 1));
    printLine("ui_thread_cpu_percent", fixed(100.0 * f.uiCpu / f.elapsed, 1));
    printLine("rss_start_kb", std::to_string(f.rssAtStart));
    printLine("rss_end_kb", std::to_string(residentKb()));
    printLine("peak_rss_kb", std::to_string(peakResidentKb()));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    const Clock::time_point mainStart = Clock::now();
    clearCardFaults();
#if !defined(Q_OS_WIN)
    // Windows' own platform draws as it does for users (under Wine, on the
    // display scripts/bench gives it); elsewhere offscreen, unless told.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    const Options o = readOptions(argc, argv);

    TimingApplication app(argc, argv);
    Card card = openCard(o.route);
    FrmMultiBuf window(*card.driver, [](const QString& message) {
        std::fprintf(stderr, "sustained_rate: the program failed: %s\n",
                     message.toLocal8Bit().constData());
        std::exit(1);
    });

    Figures f;
    window.show();
    while (app.firstPaint == Clock::time_point{})
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    f.startupMs = 1e3 * secondsSinceProcessStart();
    f.mainToShownMs = msSince(mainStart, app.firstPaint);
    f.rssAtLoad = residentKb();
    f.peakAtLoad = peakResidentKb();

    control<QLineEdit>(window, "txtSampFreq")->setText(QString::fromLatin1(o.rate));
    control<UpDown>(window, "UpDownXNum")->setValue(o.xnum);
    control<UpDown>(window, "UpDownChn")->setValue(o.channel);

    TickWatch watch(window);
    auto* timer = control<QTimer>(window, "TimerAD");
    timer->installEventFilter(&watch);
    // Connected after the window's own handler, so it runs after it.
    QObject::connect(timer, &QTimer::timeout, &watch, &TickWatch::tickEnded);

    control<QPushButton>(window, "cmdStart")->click();
    if (!window.timerRunning()) {
        std::fprintf(stderr, "sustained_rate: acquisition did not start\n");
        return 1;
    }
    watch.started();
    app.paints.clear();
    app.paints.reserve(1 << 16);
    f.rssAtStart = residentKb();
    const double cpuAtStart = processCpuSeconds();
    const double uiCpuAtStart = threadCpuSeconds();
    QElapsedTimer wall;
    wall.start();

    // The run ends at the press of "停止采集", not when the event loop has
    // wound down (which takes a while longer under Wine).
    QTimer::singleShot(static_cast<int>(o.seconds * 1000), Qt::PreciseTimer, &window, [&] {
        f.elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
        control<QPushButton>(window, "cmdStop")->click();
        QCoreApplication::quit();
    });
    QApplication::exec();

    f.cpu = processCpuSeconds() - cpuAtStart;
    f.uiCpu = threadCpuSeconds() - uiCpuAtStart;
    f.dropped = card.droppedBlocks();
    report(o, f, window, watch, app.paints);
    return 0;
}
