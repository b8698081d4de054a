#include "acquisition/Ring.h"

#include <gtest/gtest.h>

TEST(RingArithmetic, AdvanceWrapsAndStepBackAddsTheRingSize) {
    EXPECT_EQ(ringAdvance(0), 1);
    EXPECT_EQ(ringAdvance(31998), 31999);
    EXPECT_EQ(ringAdvance(31999), 0);
    EXPECT_EQ(ringStepBack(0, 1), 31999);
    EXPECT_EQ(ringStepBack(100, 200), 31900);
    EXPECT_EQ(ringStepBack(50, 100), 31950);
    EXPECT_EQ(ringStepBack(1, 2), 31999);
    EXPECT_EQ(ringStepBack(12345, 32000), 12345); // the whole ring: the pointer itself
    EXPECT_EQ(ringStepBack(0, 32000), 0);
    // Walking forward n times from the oldest of the last n points ends at DataPtr - 1.
    for (std::int32_t ptr : {0, 1, 17, 31999})
        for (std::int32_t n : {1, 2, 100, 32000}) {
            std::int32_t p = ringStepBack(ptr, n);
            for (std::int32_t k = 1; k < n; ++k)
                p = ringAdvance(p);
            EXPECT_EQ(p, ringStepBack(ptr, 1)) << ptr << ' ' << n;
        }
}

TEST(RingStorage, IsPointMajorAndFillLeavesRow17AndColumn32000Alone) {
    Ring ring;
    ring.fill(17, 2048);
    EXPECT_EQ(ring(0, 0), 2048);
    EXPECT_EQ(ring(16, 31999), 2048);
    EXPECT_EQ(ring(17, 5), 0);
    EXPECT_EQ(ring(3, 32000), 0);
    ring(4, 7) = 99;
    EXPECT_EQ(ring.point(7)[4], 99); // the 18 rows of one point are adjacent
    EXPECT_EQ(&ring(0, 8) - &ring(0, 7), kRingRows);
}
