#include "acquisition/Drain.h"
#include "acquisition/AcqState.h"
#include "acquisition/StartStop.h"
#include "tests/support/FakeDriver.h"

#include <gtest/gtest.h>

namespace {

constexpr int kChn = 17;

// A running acquisition at `rate` on a scripted card.
AcqState started(FakeDriver& card, const char* rate) {
    AcqState s;
    s.AdZero = 2048;
    s.AdSpan = 4096;
    EXPECT_EQ(startAcquisition(card, s, rate).outcome, StartOutcome::Started);
    card.calls.clear();
    return s;
}

// Channel 4 of scan j in block b carries the scan's running number; the other
// channels a value derived from it, so every code is traceable.
std::int16_t code(int block, int scans, int j, int ch) {
    const int k = block * scans + j;
    return static_cast<std::int16_t>(ch == 4 ? k : k * 3 + ch);
}

void queueBlocks(FakeDriver& card, int first, int count, int scans) {
    for (int b = first; b < first + count; ++b)
        card.blocks.push_back(
            makeBlock(scans, kChn, [&](int j, int ch) { return code(b, scans, j, ch); }));
}

} // namespace

TEST(Drain, KeepsEverySampDivThScanAcrossBlockBoundaries) {
    FakeDriver card;
    AcqState s = started(card, "3000"); // SampDiv 3, 100-scan blocks
    ASSERT_EQ(s.SampDiv, 3);
    queueBlocks(card, 0, 3, 100);

    const int keptPerBlock[] = {33, 33, 34};
    const int cntAfter[] = {1, 2, 0};
    int kept = 0;
    for (int b = 0; b < 3; ++b) {
        card.queryAnswers.push_back(1);
        EXPECT_EQ(drainReadyBlocks(card, s), 1);
        kept += keptPerBlock[b];
        EXPECT_EQ(s.DataPtr, kept) << "block " << b;
        EXPECT_EQ(s.SampDivCnt, cntAfter[b]) << "block " << b;
    }
    // The kept scans are the 3rd, 6th, 9th ... scan since the start.
    for (int p = 0; p < kept; ++p)
        EXPECT_EQ(s.AdData(4, p), 3 * p + 2) << p;
}

TEST(Drain, OneTickOfTwoBlocksEqualsTwoTicksOfOne) {
    FakeDriver one, two;
    AcqState a = started(one, "4000"); // SampDiv 2
    AcqState b = started(two, "4000");
    queueBlocks(one, 0, 2, 100);
    queueBlocks(two, 0, 2, 100);
    one.queryAnswers = {2};
    two.queryAnswers = {1, 1};
    EXPECT_EQ(drainReadyBlocks(one, a), 2);
    EXPECT_EQ(drainReadyBlocks(two, b), 1);
    EXPECT_EQ(drainReadyBlocks(two, b), 1);
    EXPECT_EQ(a.DataPtr, b.DataPtr);
    EXPECT_EQ(a.SampDivCnt, b.SampDivCnt);
    for (int p = 0; p < a.DataPtr; ++p)
        for (int ch = 0; ch < kChn; ++ch)
            ASSERT_EQ(a.AdData(ch, p), b.AdData(ch, p)) << ch << ' ' << p;
}

TEST(Drain, CodesAreReadAsUnsignedAndTheNonSampleElementsNeverReachTheRing) {
    FakeDriver card;
    AcqState s = started(card, "20000");
    auto block = makeBlock(500, kChn, [](int j, int ch) {
        const std::int16_t values[] = {-1, -32768, 32767, 0};
        return static_cast<std::int16_t>(ch < 4 ? values[ch] : j);
    });
    block.front() = 11111; // element 0 is not a sample
    block.back() = 22222;  // nor is the last one
    card.blocks.push_back(block);
    card.queryAnswers = {1};
    drainReadyBlocks(card, s);
    EXPECT_EQ(s.DataPtr, 500);
    EXPECT_EQ(s.AdData(0, 0), 65535);
    EXPECT_EQ(s.AdData(1, 0), 32768);
    EXPECT_EQ(s.AdData(2, 0), 32767);
    EXPECT_EQ(s.AdData(3, 0), 0);
    EXPECT_EQ(s.AdData(16, 499), 499);
    for (int p = 0; p < 500; ++p)
        for (int ch = 0; ch < kChn; ++ch)
            ASSERT_NE(s.AdData(ch, p), 11111);
    EXPECT_EQ(s.AdData(17, 0), 0);     // row 17 is never written
    EXPECT_EQ(s.AdData(0, 500), 2048); // not reached yet: still the pre-fill
}

TEST(Drain, WrapsFrom31999ToZero) {
    FakeDriver card;
    AcqState s = started(card, "20000");
    s.DataPtr = 31999;
    queueBlocks(card, 0, 1, 500);
    card.queryAnswers = {1};
    drainReadyBlocks(card, s);
    EXPECT_EQ(s.AdData(4, 31999), 0);
    EXPECT_EQ(s.AdData(4, 0), 1);
    EXPECT_EQ(s.AdData(4, 498), 499);
    EXPECT_EQ(s.DataPtr, 499);
    EXPECT_EQ(s.AdData(4, 32000), 0); // the spare column is never written
}

TEST(Drain, ZeroNegativeAndOddCounts) {
    FakeDriver card;
    AcqState s = started(card, "20000");
    card.queryAnswers = {0};
    EXPECT_EQ(drainReadyBlocks(card, s), 0);
    EXPECT_EQ(card.count("ADResult"), 0);

    card.queryAnswers = {-3};
    EXPECT_EQ(drainReadyBlocks(card, s), -3);
    EXPECT_EQ(card.count("ADResult"), 0);
    EXPECT_EQ(s.DataPtr, 0);

    // Only the low 16 bits are the count: 0x10002 is 2, 0xFFFF is -1.
    card.queryAnswers = {0x10002, 0xFFFF};
    EXPECT_EQ(drainReadyBlocks(card, s), 2);
    EXPECT_EQ(card.count("ADResult"), 2);
    EXPECT_EQ(drainReadyBlocks(card, s), -1);
    EXPECT_EQ(card.count("ADResult"), 2);
}

TEST(Drain, ABlockTheCardDidNotDeliverIsReadAgainFromTheBuffer) {
    FakeDriver card;
    AcqState s = started(card, "10000");
    card.queryAnswers = {1};
    drainReadyBlocks(card, s); // nothing delivered: the zeroed buffer counts as a block
    EXPECT_EQ(s.DataPtr, 500);
    EXPECT_EQ(s.AdData(5, 0), 0);
}

TEST(Drain, ABlockWithoutAKeptScanLeavesTheRing) {
    FakeDriver card;
    AcqState s = started(card, "1"); // SampDiv 10000
    queueBlocks(card, 0, 1, 100);
    card.queryAnswers = {1};
    EXPECT_EQ(drainReadyBlocks(card, s), 1);
    EXPECT_EQ(s.DataPtr, 0);
    EXPECT_EQ(s.SampDivCnt, 100);
}
