#include "display/Readouts.h"
#include "acquisition/AcqState.h"
#include "base/FatalError.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

// Counts every allocation of this test program, so a test can show that a piece
// of code allocates nothing.
namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size != 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

// A ring as a start leaves it (every channel at the zero level) with a card of
// zero 2048 and span 4096.
class ReadoutsTest : public ::testing::Test {
protected:
    void SetUp() override {
        s.AdZero = 2048;
        s.AdSpan = 4096;
        s.ChnCount = kScanChannels;
        s.CurChn = 1;
        s.AdData.fill(kScanChannels, s.AdZero);
    }

    void setPoint(std::int32_t p, const std::array<std::int32_t, 17>& codes) {
        for (std::int32_t ch = 0; ch < 17; ++ch)
            s.AdData(ch, p) = codes[static_cast<std::size_t>(ch)];
    }

    // Gives every channel the codes `codes` over the 100 points from `first`.
    void setAveragePoints(std::int32_t first, const std::vector<std::int32_t>& codes) {
        std::int32_t p = first;
        for (std::int32_t code : codes) {
            for (std::int32_t ch = 0; ch < s.ChnCount; ++ch)
                s.AdData(ch, p) = code;
            p = ringAdvance(p);
        }
    }

    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> out;
        std::size_t from = 0;
        for (std::size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
            out.push_back(text.substr(from, at - from));
        EXPECT_EQ(from, text.size()) << "text does not end with CR LF";
        return out;
    }

    // The ring holds 2.3 MB; keep it off the stack.
    std::unique_ptr<AcqState> state = std::make_unique<AcqState>();
    AcqState& s = *state;
    InstantReadout instant;
    std::string average;
};

constexpr std::array<std::int32_t, 17> kCodes = {0,     4096, 2048, 2176, 1920, 3000,
                                                 65535, 2049, 2047, 4095, 2148, 2248,
                                                 1000,  2448, 2548, 2648, 2748};

const char* const kInstantText = "最新采集瞬时值:\r\n"
                                 "Ch 0=0000   V: -5.000\r\n"
                                 "Ch 1=1000   V: 5.000\r\n"
                                 "Ch 2=0800   V: 0.000\r\n"
                                 "Ch 3=0880   V: 0.313\r\n"
                                 "Ch 4=0780   V: -0.313\r\n"
                                 "Ch 5=0BB8   V: 2.324\r\n"
                                 "Ch 6=FFFF   V: 154.998\r\n"
                                 "Ch 7=0801   V: 0.002\r\n"
                                 "Ch 8=07FF   V: -0.002\r\n"
                                 "Ch 9=0FFF   V: 4.998\r\n"
                                 "Ch 10=0864   V: 0.244\r\n"
                                 "Ch 11=08C8   V: 0.488\r\n"
                                 "Ch 12=03E8   V: -2.559\r\n"
                                 "Ch 13=0990   V: 0.977\r\n"
                                 "Ch 14=09F4   V: 1.221\r\n"
                                 "Ch 15=0A58   V: 1.465\r\n"
                                 "Ch 16=0ABC   V: 1.709\r\n";

TEST_F(ReadoutsTest, InstantTextOfTheNewestPoint) {
    s.DataPtr = 7;
    setPoint(6, kCodes);
    instantReadout(s, instant);
    EXPECT_EQ(instant.list, kInstantText);
    EXPECT_EQ(lines(instant.list).size(), 18U);
    EXPECT_EQ(instant.label, "Chn1 = 5.000");
}

TEST_F(ReadoutsTest, InstantReadsThePointBeforeTheWritePointer) {
    const struct {
        std::int32_t dataPtr, newest;
    } rows[] = {{0, 31999}, {50, 49}, {1, 0}, {31999, 31998}};
    for (const auto& row : rows) {
        s.AdData.fill(kScanChannels, s.AdZero);
        setPoint(row.newest, kCodes);
        s.DataPtr = row.dataPtr;
        instantReadout(s, instant);
        EXPECT_EQ(instant.list, kInstantText) << "DataPtr " << row.dataPtr;
    }
}

TEST_F(ReadoutsTest, InstantRightAfterAStartShowsTheZeroLevel) {
    s.DataPtr = 0;
    instantReadout(s, instant);
    const auto text = lines(instant.list);
    ASSERT_EQ(text.size(), 18U);
    for (std::int32_t ch = 0; ch < 17; ++ch)
        EXPECT_EQ(text[static_cast<std::size_t>(ch) + 1],
                  "Ch " + std::to_string(ch) + "=0800   V: 0.000");
}

TEST_F(ReadoutsTest, InstantCaptionOfEverySelectableChannel) {
    s.DataPtr = 7;
    setPoint(6, kCodes);
    const struct {
        std::int16_t channel;
        const char* label;
    } rows[] = {{0, "Chn0 = -5.000"},
                {1, "Chn1 = 5.000"},
                {5, "Chn5 = 2.324"},
                {12, "Chn12 = -2.559"},
                {16, "Chn16 = 1.709"}};
    for (const auto& row : rows) {
        s.CurChn = row.channel;
        instantReadout(s, instant);
        EXPECT_EQ(instant.label, row.label);
    }
    // Channels that are not acquired read 0 V, whatever the ring's spare row
    // holds.
    s.AdData(17, 6) = 4000;
    for (std::int16_t ch = 17; ch <= 32; ++ch) {
        s.CurChn = ch;
        instantReadout(s, instant);
        EXPECT_EQ(instant.label, "Chn" + std::to_string(ch) + " = 0.000");
        EXPECT_EQ(instant.list, kInstantText);
    }
}

TEST_F(ReadoutsTest, InstantVoltsAreSinglePrecision) {
    // With span 4095 code 5893 is 9.389499389... V; as a float it reads 9.3895.
    s.AdSpan = 4095;
    s.DataPtr = 1;
    s.CurChn = 4;
    s.AdData(4, 0) = 5893;
    instantReadout(s, instant);
    EXPECT_EQ(lines(instant.list)[5], "Ch 4=1705   V: 9.390");
    EXPECT_EQ(instant.label, "Chn4 = 9.390");
}

TEST_F(ReadoutsTest, InstantOutOfRangeChannelIsFatal) {
    s.CurChn = 33;
    EXPECT_THROW(instantReadout(s, instant), FatalError);
    s.CurChn = -1;
    EXPECT_THROW(instantReadout(s, instant), FatalError);
}

TEST_F(ReadoutsTest, ARingStateOutsideItsBoundsIsFatalRatherThanReadPastTheRing) {
    const struct {
        const char* what;
        std::int16_t chnCount;
        std::int32_t dataPtr;
    } rows[] = {
        {"more channels than ring rows", kRingRows + 1, 0},
        {"negative channel count", -1, 0},
        {"write pointer past the ring", kScanChannels, kRingPoints},
        {"negative write pointer", kScanChannels, -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        s.ChnCount = row.chnCount;
        s.DataPtr = row.dataPtr;
        instant.list = "before";
        average = "before";
        EXPECT_THROW(instantReadout(s, instant), FatalError);
        EXPECT_THROW(averageReadout(s, average), FatalError);
        // Nothing was shown from the bad state.
        EXPECT_EQ(instant.list, "before");
        EXPECT_EQ(average, "before");
    }
}

TEST_F(ReadoutsTest, ZeroSpanShowsNoVolts) {
    s.AdSpan = 0;
    s.DataPtr = 7;
    setPoint(6, kCodes);
    s.CurChn = 5;
    instantReadout(s, instant);
    const auto text = lines(instant.list);
    ASSERT_EQ(text.size(), 18U);
    EXPECT_EQ(text[0], "最新采集瞬时值:");
    EXPECT_EQ(text[6], "Ch 5=0BB8   V: ----");
    EXPECT_EQ(text[13], "Ch 12=03E8   V: ----");
    for (std::size_t i = 1; i < text.size(); ++i)
        EXPECT_EQ(text[i].substr(text[i].size() - 7), "V: ----") << text[i];
    EXPECT_EQ(instant.label, "Chn5 = ----");
    s.CurChn = 20;
    instantReadout(s, instant);
    EXPECT_EQ(instant.label, "Chn20 = ----");

    setAveragePoints(ringStepBack(s.DataPtr, 100), std::vector<std::int32_t>(100, 3000));
    averageReadout(s, average);
    const auto averageText = lines(average);
    ASSERT_EQ(averageText.size(), 18U);
    EXPECT_EQ(averageText[6], "Ch 5=0BB8   V: ----");
    EXPECT_EQ(s.AvgVal[5], 3000.0F);
}

TEST_F(ReadoutsTest, AverageTextOfTheNewestHundredPoints) {
    s.DataPtr = 500;
    for (std::int32_t k = 0; k < 100; ++k) {
        // Each channel alternates around its code from kCodes, so the mean is
        // that code; points just outside the window must not count.
        for (std::int32_t ch = 0; ch < 17; ++ch) {
            const std::int32_t code = kCodes[static_cast<std::size_t>(ch)];
            const std::int32_t wobble = (code == 0 || code == 65535) ? 0 : (k % 2 ? 1 : -1);
            s.AdData(ch, 400 + k) = code + wobble;
        }
    }
    setPoint(399, {});
    setPoint(500, {});
    s.AvgVal[17] = 123.0F;
    averageReadout(s, average);

    std::string expected = kInstantText;
    expected.replace(0, std::string("最新采集瞬时值:").size(), "最新采集平均值:");
    EXPECT_EQ(average, expected);
    for (std::size_t ch = 0; ch < 17; ++ch)
        EXPECT_EQ(s.AvgVal[ch], static_cast<float>(kCodes[ch])) << ch;
    EXPECT_EQ(s.AvgVal[17], 123.0F) << "entries beyond the channels are not the readout's";
}

TEST_F(ReadoutsTest, AverageWindowWrapsAroundTheRingEnd) {
    const struct {
        std::int32_t dataPtr, oldest;
    } rows[] = {{0, 31900}, {50, 31950}, {100, 0}, {31999, 31899}};
    for (const auto& row : rows) {
        s.AdData.fill(kScanChannels, 65535);
        setAveragePoints(row.oldest, std::vector<std::int32_t>(100, 1000));
        s.DataPtr = row.dataPtr;
        averageReadout(s, average);
        EXPECT_EQ(s.AvgVal[12], 1000.0F) << "DataPtr " << row.dataPtr;
        EXPECT_EQ(lines(average)[13], "Ch 12=03E8   V: -2.559") << "DataPtr " << row.dataPtr;
    }
}

TEST_F(ReadoutsTest, AverageRoundsHalvesToEven) {
    const auto halves = [](std::int32_t low, std::int32_t high, int highCount) {
        std::vector<std::int32_t> codes(100, low);
        for (int i = 0; i < highCount; ++i)
            codes[static_cast<std::size_t>(i) * 100 / highCount] = high;
        return codes;
    };
    const struct {
        std::vector<std::int32_t> codes;
        std::int32_t sum;
        float mean;
        const char* line0;
    } rows[] = {
        {halves(2048, 2049, 50), 204850, 2048.0F, "Ch 0=0800   V: 0.000"},
        {halves(2049, 2050, 50), 204950, 2050.0F, "Ch 0=0802   V: 0.005"},
        {halves(2048, 2049, 51), 204851, 2049.0F, "Ch 0=0801   V: 0.002"},
        {halves(2048, 2049, 49), 204849, 2048.0F, "Ch 0=0800   V: 0.000"},
        {halves(2, 3, 50), 250, 2.0F, "Ch 0=0002   V: -4.995"},
        {halves(3, 4, 50), 350, 4.0F, "Ch 0=0004   V: -4.990"},
        {halves(65534, 65535, 50), 6553450, 65534.0F, "Ch 0=FFFE   V: 154.995"},
    };
    s.DataPtr = 200;
    for (const auto& row : rows) {
        std::int32_t sum = 0;
        for (std::int32_t c : row.codes)
            sum += c;
        ASSERT_EQ(sum, row.sum);
        setAveragePoints(100, row.codes);
        averageReadout(s, average);
        EXPECT_EQ(s.AvgVal[0], row.mean) << row.sum;
        EXPECT_EQ(lines(average)[1], row.line0) << row.sum;
    }
}

TEST_F(ReadoutsTest, AverageVoltsAreNotNarrowedToFloat) {
    // The same code the instant readout shows as 9.390 (through a float) reads
    // 9.389 from the double.
    s.AdSpan = 4095;
    s.DataPtr = 100;
    setAveragePoints(0, std::vector<std::int32_t>(100, 5893));
    averageReadout(s, average);
    EXPECT_EQ(lines(average)[5], "Ch 4=1705   V: 9.389");
}

TEST_F(ReadoutsTest, WarmedUpTicksAllocateNothing) {
    s.DataPtr = 7;
    setPoint(6, kCodes);
    instantReadout(s, instant);
    averageReadout(s, average);
    const long before = g_allocations.load();
    for (int tick = 0; tick < 3; ++tick) {
        s.CurChn = static_cast<std::int16_t>(tick);
        instantReadout(s, instant);
        averageReadout(s, average);
    }
    EXPECT_EQ(g_allocations.load(), before);
    // The texts were replaced, not appended to.
    EXPECT_EQ(instant.list, kInstantText);
    EXPECT_EQ(instant.label, "Chn2 = 0.000");
}

TEST_F(ReadoutsTest, BeforeAnyStartOnlyTheHeadingsAreWritten) {
    s.ChnCount = 0;
    instantReadout(s, instant);
    averageReadout(s, average);
    EXPECT_EQ(instant.list, "最新采集瞬时值:\r\n");
    EXPECT_EQ(instant.label, "Chn1 = 0.000");
    EXPECT_EQ(average, "最新采集平均值:\r\n");
}

} // namespace
