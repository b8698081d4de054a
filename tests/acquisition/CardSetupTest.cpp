#include "acquisition/CardSetup.h"
#include "acquisition/AcqState.h"
#include "base/FatalError.h"
#include "tests/support/FakeDriver.h"

#include <gtest/gtest.h>

namespace {
AcqState loaded(FakeDriver& card) {
    AcqState s;
    loadCard(card, s, 200);
    return s;
}
} // namespace

TEST(CardSetup, ReadsTheNameUpToTheFirstZeroByteAndNeverPastTheBuffer) {
    FakeDriver card;
    card.nameBytes = {0, 'A', 'B'};
    EXPECT_EQ(loaded(card).HardName, "");

    card.nameBytes = {'P', 'C', 'I', 0, 'x', 'y'};
    EXPECT_EQ(loaded(card).HardName, "PCI");

    card.nameBytes.assign(201, 'N');
    EXPECT_EQ(loaded(card).HardName, std::string(201, 'N'));

    card.nameBytes = {0xB0, 0x41, 0xFF}; // high bytes stay one character each
    EXPECT_EQ(loaded(card).HardName, "\xB0"
                                     "A\xFF");
}

TEST(CardSetup, RoundsTheCalibrationAndSetsTheViewState) {
    FakeDriver card;
    const struct {
        float level;
        std::int32_t code;
    } cases[] = {{2047.5F, 2048}, {2046.5F, 2046}, {2047.4999F, 2047}, {-0.5F, 0}, {0.0F, 0}};
    for (const auto& c : cases) {
        card.zeroLevel = c.level;
        card.span = c.level;
        const AcqState s = loaded(card);
        EXPECT_EQ(s.AdZero, c.code) << c.level;
        EXPECT_EQ(s.AdSpan, c.code) << c.level;
    }
    AcqState s;
    s.BlockTotal = 77;
    loadCard(card, s, 350);
    EXPECT_EQ(s.XNum, 350);
    EXPECT_EQ(s.CurChn, 1);
    EXPECT_EQ(s.BlockTotal, 0);
    EXPECT_EQ(s.ChnCount, 0); // no start yet
    EXPECT_EQ(card.calls.front(), "ConfigInfo");
    EXPECT_EQ(card.count("Initial"), 0); // loading initialises nothing
}

TEST(CardSetup, ACalibrationBeyond32BitsIsFatal) {
    FakeDriver card;
    card.zeroLevel = 3.0e9F;
    EXPECT_THROW(loaded(card), FatalError);
    card.zeroLevel = 0.0F;
    card.span = std::numeric_limits<float>::infinity();
    EXPECT_THROW(loaded(card), FatalError);
}
