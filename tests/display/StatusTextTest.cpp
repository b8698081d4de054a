#include "display/StatusText.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(StatusText, BlockStatusText) {
    const struct {
        std::int64_t blockTotal;
        std::int32_t dataPtr;
        const char* text;
    } rows[] = {
        {40, 20000, "采集缓冲区个数 40       采集数据指针: 20000"},
        {0, 0, "采集缓冲区个数 0       采集数据指针: 0"},
        {-3, 31999, "采集缓冲区个数-3       采集数据指针: 31999"},
        {5000000000LL, 7, "采集缓冲区个数 5000000000       采集数据指针: 7"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(blockStatusText(row.blockTotal, row.dataPtr), row.text);
}

} // namespace
