// The window on the built simulated card, told through its environment
// variables to misbehave. Each test shows what a user sees with such a card.
// The library reads each variable at the call it affects, so a test sets it
// just before that call and the guard removes it again afterwards.

#include "tests/support/CardFault.h"
#include "app/FrmMultiBuf.h"
#include "display/UpDown.h"
#include "display/WavePlot.h"
#include "driver/LibraryDriver.h"
#include "driver/sim/SimToolsApi.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

namespace {

using namespace std::chrono_literals;

QString simLibraryPath() {
    return LibraryDriver::besideProgram(QStringLiteral(SIM_LIBRARY_DIR));
}

/// The program's window on the simulated card; fatal errors are recorded.
struct SimWindow {
    LibraryDriver card{simLibraryPath()};
    QStringList fatals;
    std::unique_ptr<FrmMultiBuf> form;

    SimWindow() {
        form = std::make_unique<FrmMultiBuf>(card, [this](const QString& m) { fatals << m; });
    }
    ~SimWindow() { card.StopIntr(); }

    template <typename T = QWidget> T* get(const char* name) const {
        auto* w = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString label(const char* name) const { return get<QLabel>(name)->text(); }
    const AcqState& state() const { return form->state(); }
    void click(const char* name) const {
        QTest::mouseClick(get<QPushButton>(name), Qt::LeftButton);
    }
    std::string fatalText() const { return fatals.join('\n').toStdString(); }

    /// Lets the window's timer drain until `done` holds or `limit` passes.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) const {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > limit.count())
                return false;
            QTest::qWait(10);
        }
        return true;
    }
};

std::int64_t droppedBlocks() {
    QLibrary tools(simLibraryPath());
    const auto fn = reinterpret_cast<SimDroppedBlocksFn>(tools.resolve(kSimDroppedBlocksExport));
    if (fn == nullptr) {
        ADD_FAILURE() << "no " << kSimDroppedBlocksExport << " export";
        return -1;
    }
    return fn();
}

// Points of the counter channel where the code does not follow its
// predecessor by SampDiv, in the ring's first `points` points.
std::vector<std::int32_t> counterGaps(const AcqState& s, std::int32_t points) {
    std::vector<std::int32_t> gaps;
    for (std::int32_t p = 1; p < points; ++p)
        if (s.AdData(4, p) != (s.AdData(4, p - 1) + s.SampDiv) % 65536)
            gaps.push_back(p);
    return gaps;
}

bool allPixels(const QImage& image, QRgb colour) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != colour)
                return false;
    return true;
}

} // namespace

TEST(CardFaults, AFailedInitialShowsItsNumberAndTheNextStartRuns) {
    SimWindow w;
    for (const char* error : {"7", "-5", "2147483647", "0"}) {
        SCOPED_TRACE(error);
        {
            CardFault fault("TOVIRA_SIM_FAIL_INITIAL", error);
            w.click("cmdStart");
        }
        EXPECT_EQ(w.label("lblBlock"), QStringLiteral("初始化错误，Error=") + QLatin1String(error));
        EXPECT_FALSE(w.form->timerRunning());
        EXPECT_TRUE(w.get("cmdStart")->isEnabled());
        EXPECT_FALSE(w.get("cmdStop")->isEnabled());
    }
    w.click("cmdStart");
    ASSERT_TRUE(w.form->timerRunning());
    EXPECT_TRUE(w.runUntil([&] { return w.state().BlockTotal > 0; }));
    w.click("cmdStop");
    EXPECT_TRUE(w.fatals.isEmpty()) << w.fatalText();
}

TEST(CardFaults, AFailedStartIntrShowsItsNumberAndTheNextStartRuns) {
    SimWindow w;
    for (const char* error : {"3", "-1", "-2147483648"}) {
        SCOPED_TRACE(error);
        {
            CardFault fault("TOVIRA_SIM_FAIL_START", error);
            w.click("cmdStart");
        }
        EXPECT_EQ(w.label("lblBlock"),
                  QStringLiteral("启动采集错误，Error=") + QLatin1String(error));
        EXPECT_FALSE(w.form->timerRunning());
        EXPECT_TRUE(w.get("cmdStart")->isEnabled());
        EXPECT_EQ(w.label("LabUpperLimit"), "+5");
    }
    w.click("cmdStart");
    ASSERT_TRUE(w.form->timerRunning());
    EXPECT_TRUE(w.runUntil([&] { return w.state().BlockTotal > 0; }));
    // The first tick with blocks replaces the error text.
    EXPECT_TRUE(w.label("lblBlock").startsWith(QStringLiteral("采集缓冲区个数 ")));
    w.click("cmdStop");
    EXPECT_TRUE(w.fatals.isEmpty()) << w.fatalText();
}

TEST(CardFaults, TheCardNameIsShownAsReported) {
    QString alphabet201;
    for (int i = 0; i < 201; ++i)
        alphabet201 += QChar('A' + i % 26);
    const struct {
        const char* variable;
        QByteArray value;
        QString shown;
    } rows[] = {
#if !defined(_WIN32) // Windows cannot hold a variable with an empty value.
        {"TOVIRA_SIM_NAME", "", ""},
#endif
        {"TOVIRA_SIM_NAME", "PCI-17", "PCI-17"},
        {"TOVIRA_SIM_NAME_FILL", "201", alphabet201}, // no zero byte in the buffer at all
        {"TOVIRA_SIM_NAME_FILL", "200", alphabet201.left(200)},
        {"TOVIRA_SIM_NAME", QByteArray(250, 'Q'), QString(201, QChar('Q'))},
        {"TOVIRA_SIM_NAME", "\xB0\xFF", QString::fromLatin1("\xB0\xFF")}, // a character per byte
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.variable + std::string("=") + row.value.left(20).toStdString());
        CardFault fault(row.variable, row.value);
        SimWindow w;
        EXPECT_EQ(w.label("lblHardInfo"), row.shown);
        EXPECT_EQ(w.state().HardName.size(), static_cast<std::size_t>(row.shown.size()));
        EXPECT_TRUE(w.fatals.isEmpty()) << w.fatalText();
    }
}

TEST(CardFaults, FractionalCalibrationRoundsTiesToEven) {
    const struct {
        const char* zero;
        const char* span;
        std::int32_t adZero, adSpan;
    } rows[] = {
        {"32767.5", "65535.5", 32768, 65536},
        {"2046.5", "4096.5", 2046, 4096},
        {"2047.4999", "4095.5", 2047, 4096},
        {"-0.5", "1.5", 0, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.zero);
        CardFault zero("TOVIRA_SIM_ZERO", row.zero);
        CardFault span("TOVIRA_SIM_SPAN", row.span);
        SimWindow w;
        EXPECT_EQ(w.state().AdZero, row.adZero);
        EXPECT_EQ(w.state().AdSpan, row.adSpan);
        // A start pre-fills the ring with the rounded zero level.
        w.click("cmdStart");
        ASSERT_TRUE(w.form->timerRunning());
        EXPECT_EQ(w.state().AdData(2, 31999), row.adZero);
        w.click("cmdStop");
        EXPECT_TRUE(w.fatals.isEmpty()) << w.fatalText();
    }
}

TEST(CardFaults, ACalibrationBeyond32BitsEndsTheProgramAtLoad) {
    const struct {
        const char* variable;
        const char* value;
        const char* named;
    } rows[] = {
        {"TOVIRA_SIM_ZERO", "3e9", "零电平"},
        {"TOVIRA_SIM_ZERO", "nan", "零电平"},
        {"TOVIRA_SIM_SPAN", "-inf", "量程"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        CardFault fault(row.variable, row.value);
        SimWindow w;
        ASSERT_EQ(w.fatals.size(), 1);
        EXPECT_TRUE(w.fatals[0].contains(QString::fromUtf8(row.named))) << w.fatalText();
    }
}

TEST(CardFaults, AZeroLevelThatOverflowsTheAverageEndsTheProgramAtTheTick) {
    // The largest floats below 2^31 still fit 32 bits, but a hundred pre-filled
    // points of them do not. At 1 scan/s every 10000th scan is kept, so the
    // first ticks average the pre-fill alone.
    for (const char* level : {"2147483520", "-2147483520"}) {
        SCOPED_TRACE(level);
        CardFault zero("TOVIRA_SIM_ZERO", level);
        SimWindow w;
        ASSERT_TRUE(w.fatals.isEmpty()) << w.fatalText();
        w.get<QLineEdit>("txtSampFreq")->setText(QStringLiteral("1"));
        w.click("cmdStart");
        ASSERT_TRUE(w.runUntil([&] { return !w.fatals.isEmpty(); }));
        EXPECT_TRUE(w.fatals[0].contains(QStringLiteral("平均值求和溢出"))) << w.fatalText();
        // Nothing runs on after a fatal error.
        EXPECT_FALSE(w.form->timerRunning());
        EXPECT_EQ(w.fatals.size(), 1);
    }
}

TEST(CardFaults, AZeroSpanShowsDashesAndABlankPlot) {
    CardFault span("TOVIRA_SIM_SPAN", "0");
    SimWindow w;
    w.get<QRadioButton>("OptADValue_0")->click();
    w.click("cmdStart");
    ASSERT_TRUE(w.runUntil([&] { return w.state().BlockTotal >= 2; }));
    // The point count changes the scale and redraws at once.
    QTest::mouseClick(w.get<UpDown>("UpDownXNum")->upButton(), Qt::LeftButton);
    ASSERT_TRUE(w.runUntil([&] { return w.state().BlockTotal >= 4; }));
    w.click("cmdStop");
    ASSERT_TRUE(w.fatals.isEmpty()) << w.fatalText();

    const QString list = w.get<QPlainTextEdit>("TxtADResult")->toPlainText();
    EXPECT_TRUE(list.contains(QStringLiteral("Ch 5="))) << list.toStdString();
    EXPECT_EQ(list.count(QStringLiteral("V: ----")), 17) << list.toStdString();
    EXPECT_EQ(w.label("LabCurChnADVal"), "Chn1 = ----");
    auto* plot = w.get<WavePlot>("PicDraw");
    EXPECT_FALSE(plot->hasScale());
    const QImage shown = plot->grab(plot->contentsRect()).toImage();
    EXPECT_TRUE(allPixels(shown, qRgb(255, 255, 255))) << "the plot shows a trace";
}

TEST(CardFaults, AStallWithinTheQueueLosesNothing) {
    CardFault stall("TOVIRA_SIM_STALL_MS", "400");
    SimWindow w;
    w.click("cmdStart"); // 20000 scans/s in 500-scan blocks: the queue holds 40
    // The first block, the stall, then everything that fell due at once.
    ASSERT_TRUE(w.runUntil([&] { return w.state().BlockTotal >= 30; }));
    w.click("cmdStop");
    ASSERT_TRUE(w.fatals.isEmpty()) << w.fatalText();
    EXPECT_EQ(droppedBlocks(), 0);
    const AcqState& s = w.state();
    EXPECT_EQ(s.DataPtr, s.BlockTotal * 500 % 32000);
    ASSERT_LT(s.BlockTotal * 500, 32000) << "the ring wrapped; the check below needs it whole";
    EXPECT_EQ(counterGaps(s, s.DataPtr), std::vector<std::int32_t>{});
}

TEST(CardFaults, AStallBeyondTheQueueDropsTheOldestAndTheWindowCarriesOn) {
    CardFault stall("TOVIRA_SIM_STALL_MS", "1500");
    SimWindow w;
    w.click("cmdStart");
    // After the stall the queue's 40 newest blocks arrive; then the steady flow.
    ASSERT_TRUE(w.runUntil([&] { return w.state().BlockTotal >= 45; }));
    w.click("cmdStop");
    ASSERT_TRUE(w.fatals.isEmpty()) << w.fatalText();
    const AcqState& s = w.state();
    const std::int64_t dropped = droppedBlocks();
    EXPECT_GT(dropped, 0);
    ASSERT_LT(s.BlockTotal * 500, 32000) << "the ring wrapped; the check below needs it whole";
    // One gap, right after the first block, exactly as long as what was dropped.
    ASSERT_EQ(counterGaps(s, s.DataPtr), std::vector<std::int32_t>{500});
    EXPECT_EQ(s.AdData(4, 500), (499 + 1 + dropped * 500) % 65536);
}

TEST(CardFaults, StopDuringAStallReturnsAtOnce) {
    CardFault stall("TOVIRA_SIM_STALL_MS", "60000");
    SimWindow w;
    w.click("cmdStart");
    ASSERT_TRUE(w.runUntil([&] { return w.state().BlockTotal >= 1; }));
    QElapsedTimer clock;
    clock.start();
    w.click("cmdStop");
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(w.fatals.isEmpty()) << w.fatalText();
}

TEST(CardFaults, BlockCountsOfTheCardsChoosing) {
    const struct {
        const char* answer;
        std::int64_t blockTotal; // after two ticks
        std::int32_t dataPtr;
        const char* status; // "" when the ticks leave the status line alone
    } rows[] = {
        {"0", 0, 0, ""},
        {"-3", -6, 0, "采集缓冲区个数-6       采集数据指针: 0"},
        {"65538", 4, 2000, "采集缓冲区个数 4       采集数据指针: 2000"}, // low 16 bits: 2
        {"32768", -65536, 0, "采集缓冲区个数-65536       采集数据指针: 0"},
        {"2147483647", -2, 0, "采集缓冲区个数-2       采集数据指针: 0"},         // low 16 bits: -1
        {"70001", 8930, 17000, "采集缓冲区个数 8930       采集数据指针: 17000"}, // 4465
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answer);
        SimWindow w;
        w.click("cmdStart");
        {
            CardFault fault("TOVIRA_SIM_QUERY_COUNT", row.answer);
            w.form->TimerAD_Timer();
            w.form->TimerAD_Timer();
        }
        w.click("cmdStop");
        EXPECT_TRUE(w.fatals.isEmpty()) << w.fatalText();
        EXPECT_EQ(w.state().BlockTotal, row.blockTotal);
        EXPECT_EQ(w.state().DataPtr, row.dataPtr);
        EXPECT_EQ(w.label("lblBlock"),
                  *row.status ? QString::fromUtf8(row.status) : QStringLiteral("Label2"));
    }
}

TEST(CardFaults, ALibraryWithoutItsStartFunctionsFailsAtTheFirstPressThatNeedsOne) {
    // The library loads and names the card, but has nothing else.
    LibraryDriver partial(
        QDir(QStringLiteral(PARTIAL_LIBRARY_DIR)).filePath(QStringLiteral("tovira_partial")));
    QStringList fatals;
    FrmMultiBuf form(partial, [&](const QString& m) { fatals << m; });
    ASSERT_TRUE(fatals.isEmpty()) << fatals.join('\n').toStdString();
    EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("lblHardInfo"))->text(),
              "ConfigInfo-only card");

    form.findChild<QPushButton*>(QStringLiteral("cmdStart"))->click();
    ASSERT_EQ(fatals.size(), 1);
    EXPECT_TRUE(fatals[0].contains(QStringLiteral("StopIntr"))) << fatals[0].toStdString();
    EXPECT_FALSE(form.timerRunning());

    // Leaving calls StopIntr twice, at the button and at the close; each
    // failure is caught at its handler's edge and the window still closes.
    form.show();
    form.findChild<QPushButton*>(QStringLiteral("cmdExit"))->click();
    EXPECT_EQ(fatals.size(), 3);
    EXPECT_FALSE(form.isVisible());
}
