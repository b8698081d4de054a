// The simulated card, driven through the program's own binding on the built
// library, so every check below holds for what the program actually sees.

#include "driver/LibraryDriver.h"
#include "driver/sim/SimToolsApi.h"
#include "tests/support/WaitForBlocks.h"

#include <QFileInfo>
#include <QLibrary>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

#if defined(__unix__)
#include <dlfcn.h>
#endif

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kChannels = 17;
constexpr int kCounterChannel = 4;
// What the test writes into every buffer element before a copy.
constexpr std::int16_t kFill = 0x5A5A;
// Elements past the program's buffer end that a copy must leave alone.
constexpr int kGuardElements = 8;

QString simLibraryPath() {
    return LibraryDriver::besideProgram(QStringLiteral(SIM_LIBRARY_DIR));
}

double volts(std::uint16_t code) {
    return (code - 32768.0) / 65536.0 * 10.0;
}

// One ADResult buffer as the program sizes it (ChnCount * PointsPerBuf + 2
// elements), followed by guard elements.
class Block {
public:
    Block(int scans, int channels)
        : m_scans(scans), m_channels(channels),
          m_elements(static_cast<std::size_t>(scans * channels + 2 + kGuardElements), kFill) {}

    std::int16_t* data() { return m_elements.data(); }
    int scans() const { return m_scans; }
    std::uint16_t code(int scan, int channel) const {
        return static_cast<std::uint16_t>(m_elements[1 + scan * m_channels + channel]);
    }
    bool untouched() const {
        return std::all_of(m_elements.begin(), m_elements.end(),
                           [](std::int16_t e) { return e == kFill; });
    }
    bool guardsUntouched() const {
        return std::all_of(m_elements.end() - kGuardElements, m_elements.end(),
                           [](std::int16_t e) { return e == kFill; });
    }
    bool samplesEqual(const Block& other) const {
        return std::equal(m_elements.begin() + 1, m_elements.end() - kGuardElements - 1,
                          other.m_elements.begin() + 1);
    }

private:
    int m_scans;
    int m_channels;
    std::vector<std::int16_t> m_elements;
};

// The counter channel must read scan number mod 65536 at every scan.
testing::AssertionResult counterRunsFrom(const Block& block, std::uint64_t firstScan) {
    for (int j = 0; j < block.scans(); ++j) {
        const auto expected = static_cast<std::uint16_t>((firstScan + j) & 0xFFFFU);
        if (block.code(j, kCounterChannel) != expected)
            return testing::AssertionFailure()
                   << "scan " << j << " of the block starting at scan " << firstScan << " reads "
                   << block.code(j, kCounterChannel) << ", expected " << expected;
    }
    return testing::AssertionSuccess();
}

class SimCardTest : public testing::Test {
protected:
    void TearDown() override { m_card.StopIntr(); }

    // The program's start sequence.
    bool start(int pointsPerBuf, int sampFreq, int chnCount = kChannels) {
        m_card.StopIntr();
        if (m_card.Initial(0, 0, 0, 0) == 0)
            return false;
        m_pointsPerBuf = pointsPerBuf;
        m_chnCount = chnCount;
        return startIntr(pointsPerBuf, sampFreq, chnCount);
    }
    bool startIntr(int pointsPerBuf, int sampFreq, int chnCount = kChannels) {
        return m_card.StartIntr(50, pointsPerBuf, 0, static_cast<std::int16_t>(chnCount), sampFreq,
                                0, 1) != 0;
    }

    bool waitForBlocks(int count, std::chrono::milliseconds timeout = 3s) {
        return ::waitForBlocks(m_card, count, timeout);
    }

    std::optional<Block> take() {
        Block block(m_pointsPerBuf, m_chnCount);
        if (m_card.ADResult(block.data()) == 0)
            return std::nullopt;
        return block;
    }

    std::int64_t droppedBlocks() {
        const auto fn =
            reinterpret_cast<SimDroppedBlocksFn>(m_tools.resolve(kSimDroppedBlocksExport));
        if (fn == nullptr) {
            ADD_FAILURE() << "no " << kSimDroppedBlocksExport << " export";
            return -1;
        }
        return fn();
    }

    LibraryDriver m_card{simLibraryPath()};
    QLibrary m_tools{simLibraryPath()};
    int m_pointsPerBuf = 0;
    int m_chnCount = 0;
};

TEST_F(SimCardTest, ConfigInfoNamesTheCardAndGivesSixteenBitCalibration) {
    // A name that ran past 201 bytes would show in the guard bytes; one without
    // a terminator would leave no zero among the first 201.
    std::array<std::uint8_t, kCardNameBytes + 16> name;
    name.fill('#');
    std::int32_t v[5] = {};
    float zero = 0.0F;
    float span = 0.0F;
    m_card.ConfigInfo(name.data(), &v[0], &v[1], &v[2], &v[3], &zero, &span, &v[4]);

    const auto end = std::find(name.begin(), name.begin() + kCardNameBytes, 0);
    ASSERT_NE(end, name.begin() + kCardNameBytes) << "no terminating zero";
    EXPECT_NE(end, name.begin()) << "empty name";
    EXPECT_TRUE(std::all_of(name.begin(), end, [](std::uint8_t c) {
        return c >= 0x20 && c < 0x7F;
    })) << "the name must be printable ASCII";
    EXPECT_TRUE(std::all_of(name.begin() + kCardNameBytes, name.end(),
                            [](std::uint8_t c) { return c == '#'; }));
    EXPECT_EQ(zero, 32768.0F);
    EXPECT_EQ(span, 65536.0F);
}

TEST_F(SimCardTest, StartIntrRefusesBadStartsWithTheirErrorNumbers) {
    const struct {
        const char* what;
        bool initialised;
        int pointsPerBuf;
        int chnCount;
        int sampFreq;
        int error; // 0: the start succeeds
    } rows[] = {
        {"no Initial since the last stop", false, 500, 17, 20000, 1},
        {"rate 0", true, 500, 17, 0, 2},
        {"rate just above 1000000", true, 500, 17, 1'000'001, 2},
        {"negative rate", true, 500, 17, -20000, 2},
        {"no scans per block", true, 0, 17, 20000, 3},
        {"negative scans per block", true, -500, 17, 20000, 3},
        {"no channels", true, 500, 0, 20000, 3},
        {"negative channels", true, 500, -17, 20000, 3},
        {"absurd block", true, 50'000'000, 17, 20000, 3},
        {"absurd channel count", true, 500, 30000, 20000, 3},
        {"lowest rate", true, 500, 17, 1, 0},
        {"highest rate", true, 500, 17, 1'000'000, 0},
        {"the program's slow start", true, 100, 17, 10000, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        m_card.StopIntr();
        if (row.initialised) {
            ASSERT_NE(m_card.Initial(0, 0, 0, 0), 0);
        }
        const bool started = startIntr(row.pointsPerBuf, row.sampFreq, row.chnCount);
        if (row.error == 0) {
            EXPECT_TRUE(started);
        } else {
            EXPECT_FALSE(started);
            EXPECT_EQ(m_card.GetLastADError(), row.error);
        }
    }
}

TEST_F(SimCardTest, BlockLayoutIsScanAfterScanFromElementOne) {
    constexpr int kScans = 200;
    const struct {
        int chnCount;
        int lastChannel;
        double lastChannelVolts;
    } rows[] = {
        {5, 4, -1.0}, // the counter is the last channel; -1 only marks "not DC"
        {17, 16, -4.9},
        {20, 19, 0.0}, // channels past 16 read 0 V
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.chnCount);
        ASSERT_TRUE(start(kScans, 1'000'000, row.chnCount));
        ASSERT_TRUE(waitForBlocks(1));
        const std::optional<Block> block = take();
        ASSERT_TRUE(block.has_value());
        EXPECT_TRUE(block->guardsUntouched()) << "wrote past the program's buffer";
        EXPECT_TRUE(counterRunsFrom(*block, 0));
        if (row.lastChannel != kCounterChannel) {
            for (int j = 0; j < kScans; ++j)
                ASSERT_NEAR(volts(block->code(j, row.lastChannel)), row.lastChannelVolts, 0.001)
                    << "scan " << j;
        }
    }
}

TEST_F(SimCardTest, ChannelsCarryTheirDocumentedSignals) {
    enum class Shape { Level, Sine, Square, Triangle, Noise };
    struct Row {
        int channel;
        Shape shape;
        double low;     // volts: no sample below it...
        double high;    // ...or above it
        double reach;   // and the extremes come this close to low and high
        int period = 0; // scans; 0 when not periodic
    };
    const Row rows[] = {
        {0, Shape::Level, -0.01, 0.01, 0.01},       {1, Shape::Sine, -4.0, 4.0, 0.001, 400},
        {2, Shape::Square, -3.0, 3.0, 0.001, 1000}, {3, Shape::Triangle, -4.0, 4.0, 0.001, 2000},
        {5, Shape::Level, 1.0, 1.0, 0.001},         {6, Shape::Level, -1.0, -1.0, 0.001},
        {7, Shape::Level, 2.5, 2.5, 0.001},         {8, Shape::Level, -2.5, -2.5, 0.001},
        {9, Shape::Sine, -2.0, 2.0, 0.001, 100},    {10, Shape::Sine, -4.5, 4.5, 0.001, 5000},
        {11, Shape::Sine, -4.0, 4.0, 0.001, 32000}, {12, Shape::Noise, -0.5, 0.5, 0.01},
        {13, Shape::Noise, -3.3, 3.3, 0.05}, // 3 V sine under +-0.3 V noise
        {14, Shape::Noise, -5.0, 5.0, 0.01},        {15, Shape::Level, 4.9, 4.9, 0.001},
        {16, Shape::Level, -4.9, -4.9, 0.001},
    };
    constexpr double kCodeVolts = 10.0 / 65536.0;

    // Two blocks of 32000 scans: two periods of the slowest sine.
    constexpr int kScans = 32000;
    ASSERT_TRUE(start(kScans, 1'000'000));
    ASSERT_TRUE(waitForBlocks(2));
    std::vector<std::vector<double>> v(kChannels);
    for (int b = 0; b < 2; ++b) {
        const std::optional<Block> block = take();
        ASSERT_TRUE(block.has_value());
        for (int j = 0; j < kScans; ++j)
            for (int ch = 0; ch < kChannels; ++ch)
                v[ch].push_back(volts(block->code(j, ch)));
    }

    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "channel " << row.channel);
        const std::vector<double>& s = v[row.channel];
        const auto [lo, hi] = std::minmax_element(s.begin(), s.end());
        EXPECT_GE(*lo, row.low - kCodeVolts);
        EXPECT_LE(*hi, row.high + kCodeVolts);
        EXPECT_LE(*lo, row.low + row.reach);
        EXPECT_GE(*hi, row.high - row.reach);

        if (row.period > 0) {
            int mismatches = 0;
            for (std::size_t k = 0; k + row.period < s.size(); ++k)
                mismatches += s[k] != s[k + row.period];
            EXPECT_EQ(mismatches, 0) << "not periodic in " << row.period << " scans";
        }
        switch (row.shape) {
        case Shape::Sine: {
            // Whatever the phase, a sine and its value a quarter period later
            // lie on a circle of the amplitude's radius.
            const int quarter = row.period / 4;
            double worst = 0.0;
            for (std::size_t k = 0; k + quarter < s.size(); ++k)
                worst = std::max(worst, std::abs(std::hypot(s[k], s[k + quarter]) - row.high));
            EXPECT_LT(worst, 0.002);
            break;
        }
        case Shape::Square:
            EXPECT_TRUE(std::all_of(s.begin(), s.end(), [&](double x) {
                return std::abs(x - row.low) < 0.001 || std::abs(x - row.high) < 0.001;
            }));
            EXPECT_EQ(std::count_if(s.begin(), s.end(), [&](double x) { return x > 0; }),
                      static_cast<long>(s.size() / 2))
                << "high and low must each last half a period";
            break;
        case Shape::Triangle: {
            // Straight ramps: every step is one full swing per half period.
            const double step = (row.high - row.low) / (row.period / 2.0);
            double worst = 0.0;
            for (std::size_t k = 0; k + 1 < s.size(); ++k)
                worst = std::max(worst, std::abs(std::abs(s[k + 1] - s[k]) - step));
            EXPECT_LT(worst, 2 * kCodeVolts);
            break;
        }
        case Shape::Noise: {
            double mean = 0.0;
            for (double x : s)
                mean += x;
            mean /= static_cast<double>(s.size());
            EXPECT_NEAR(mean, (row.low + row.high) / 2, (row.high - row.low) * 0.02);
            break;
        }
        case Shape::Level:
            break;
        }
    }
}

TEST_F(SimCardTest, CounterContinuesAcrossConsecutiveBlocks) {
    // 40 blocks of 5000 scans wrap the 16-bit counter three times.
    constexpr int kScans = 5000;
    constexpr int kBlocks = 40;
    ASSERT_TRUE(start(kScans, 1'000'000));
    const auto deadline = Clock::now() + 4s;
    std::uint64_t nextScan = 0;
    for (int taken = 0; taken < kBlocks;) {
        ASSERT_LT(Clock::now(), deadline) << "only " << taken << " blocks arrived";
        if (m_card.QueryBuf() == 0) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        const std::optional<Block> block = take();
        ASSERT_TRUE(block.has_value());
        ASSERT_TRUE(counterRunsFrom(*block, nextScan)) << "block " << taken;
        nextScan += kScans;
        ++taken;
    }
    EXPECT_EQ(droppedBlocks(), 0);
}

TEST_F(SimCardTest, ADResultWithoutAWaitingBlockLeavesTheBufferUntouched) {
    // At one scan per second the first block is minutes away.
    ASSERT_TRUE(start(500, 1));
    ASSERT_EQ(m_card.QueryBuf(), 0);
    Block block(500, kChannels);
    EXPECT_EQ(m_card.ADResult(block.data()), 0);
    EXPECT_TRUE(block.untouched());

    // And once every waiting block has been taken.
    ASSERT_TRUE(start(500, 1'000'000));
    ASSERT_TRUE(waitForBlocks(3));
    m_card.StopIntr();
    for (int n = m_card.QueryBuf(); n > 0; --n)
        ASSERT_TRUE(take().has_value());
    EXPECT_EQ(m_card.QueryBuf(), 0);
    EXPECT_EQ(m_card.ADResult(block.data()), 0);
    EXPECT_TRUE(block.untouched());
}

TEST_F(SimCardTest, BlocksCompleteAtTheRequestedRate) {
    // 500-scan blocks at 20000 scans/s: one every 25 ms, about 12 in 300 ms.
    // The bounds only catch a card that ignores the rate.
    ASSERT_TRUE(start(500, 20000));
    std::this_thread::sleep_for(300ms);
    const int ready = m_card.QueryBuf();
    EXPECT_GE(ready, 6);
    EXPECT_LE(ready, 18);
}

TEST_F(SimCardTest, QueryBufNeverExceedsASigned16BitCount) {
    // One-scan blocks at the highest rate pile up 32767 blocks in about 33 ms.
    // The program keeps the count's low 16 bits as a signed number, so a larger
    // count would read as negative or as far too few.
    ASSERT_TRUE(start(1, 1'000'000));
    ASSERT_TRUE(waitForBlocks(32767));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(m_card.QueryBuf(), 32767);
}

TEST_F(SimCardTest, AProgramThatFallsBehindLosesTheOldestBlocks) {
    // 2000-scan blocks at 200000 scans/s: one every 10 ms; a second's worth is 100.
    constexpr int kScans = 2000;
    constexpr int kOneSecondOfBlocks = 100;
    ASSERT_TRUE(start(kScans, 200'000));
    const auto deadline = Clock::now() + 4s;
    while (droppedBlocks() == 0) {
        ASSERT_LT(Clock::now(), deadline) << "nothing dropped";
        std::this_thread::sleep_for(10ms);
    }
    const int full = m_card.QueryBuf();
    EXPECT_GE(full, kOneSecondOfBlocks);
    const std::int64_t droppedBefore = droppedBlocks();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(m_card.QueryBuf(), full) << "the queue must stay bounded";
    EXPECT_GT(droppedBlocks(), droppedBefore);

    // Frozen, the survivors are the newest blocks, right after the dropped ones.
    m_card.StopIntr();
    const std::int64_t dropped = droppedBlocks();
    const int ready = m_card.QueryBuf();
    ASSERT_EQ(ready, full);
    m_pointsPerBuf = kScans;
    for (int i = 0; i < ready; ++i) {
        const std::optional<Block> block = take();
        ASSERT_TRUE(block.has_value());
        ASSERT_TRUE(counterRunsFrom(*block, static_cast<std::uint64_t>(dropped + i) * kScans))
            << "waiting block " << i << " after " << dropped << " dropped";
    }
    EXPECT_EQ(m_card.QueryBuf(), 0);

    // A new start counts afresh.
    ASSERT_TRUE(start(500, 1));
    EXPECT_EQ(droppedBlocks(), 0);
}

TEST_F(SimCardTest, StartWhileRunningRestartsFromScanZero) {
    ASSERT_TRUE(start(1000, 1'000'000));
    ASSERT_TRUE(waitForBlocks(5));
    const std::optional<Block> first = take();
    ASSERT_TRUE(first.has_value());

    // No stop in between; the waiting blocks of the old run must go.
    ASSERT_TRUE(startIntr(1000, 1'000'000));
    ASSERT_TRUE(waitForBlocks(1));
    const std::optional<Block> again = take();
    ASSERT_TRUE(again.has_value());
    EXPECT_TRUE(counterRunsFrom(*again, 0));
    EXPECT_TRUE(again->samplesEqual(*first)) << "the same scans must give the same codes";
}

TEST_F(SimCardTest, StopIntrFreezesTheQueue) {
    ASSERT_TRUE(start(1000, 1'000'000));
    ASSERT_TRUE(waitForBlocks(5));
    m_card.StopIntr();
    const int ready = m_card.QueryBuf();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(m_card.QueryBuf(), ready);
}

TEST_F(SimCardTest, StopIntrWakesACardWaitingForItsNextBlock) {
    // The first block of 10 scans at 1 scan/s is due in 10 s; a stop must not
    // wait for it. The bound is generous on purpose.
    ASSERT_TRUE(start(10, 1));
    std::this_thread::sleep_for(20ms);
    const auto before = Clock::now();
    m_card.StopIntr();
    EXPECT_LT(Clock::now() - before, 1s);
}

TEST_F(SimCardTest, StopIntrIsHarmlessWhenNothingRuns) {
    m_card.StopIntr();
    m_card.StopIntr();
    ASSERT_TRUE(start(500, 1'000'000));
    m_card.StopIntr();
    m_card.StopIntr();
    ASSERT_TRUE(start(500, 1'000'000));
    EXPECT_TRUE(waitForBlocks(1));
}

// The card's thread must never outlive the process or the library. Each case
// runs in a fresh process so the library is loaded there for the first time.
class SimCardLifetime : public testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

    // Starts a fast acquisition through `library` alone; exits with 2 if it cannot.
    static void startRunning(QLibrary& library) {
        const auto initial = reinterpret_cast<InitialFn>(library.resolve("Initial"));
        const auto startIntr = reinterpret_cast<StartIntrFn>(library.resolve("StartIntr"));
        if (initial == nullptr || startIntr == nullptr || initial(0, 0, 0, 0) == 0 ||
            startIntr(50, 500, 0, kChannels, 1'000'000, 0, 1) == 0)
            std::exit(2);
        std::this_thread::sleep_for(20ms);
    }

    // Unloads the library under a running acquisition and exits with 0 if the
    // process survives it.
    [[noreturn]] static void unloadWhileRunning() {
        QLibrary library(simLibraryPath());
        startRunning(library);
        const QByteArray file = QFileInfo(library.fileName()).absoluteFilePath().toLocal8Bit();
        if (!library.unload())
            std::exit(3);
        if (stillMapped(file))
            std::exit(4); // nothing was unloaded, so nothing would be proved
        // A thread left running in the unmapped library would crash by now.
        std::this_thread::sleep_for(50ms);
        std::exit(0);
    }

    static bool stillMapped([[maybe_unused]] const QByteArray& file) {
#if defined(__unix__)
        return dlopen(file.constData(), RTLD_NOW | RTLD_NOLOAD) != nullptr;
#else
        return false;
#endif
    }
};

TEST_F(SimCardLifetime, ProcessExitsWhileAcquisitionRuns) {
    EXPECT_EXIT(
        {
            QLibrary library(simLibraryPath());
            startRunning(library);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(SimCardLifetime, LibraryUnloadsWhileAcquisitionRuns) {
    EXPECT_EXIT(unloadWhileRunning(), testing::ExitedWithCode(0), "");
}

} // namespace
