#include "display/ViewControls.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TEST(ViewControls, XNumIncrementAtEveryBoundary) {
    const struct {
        std::int32_t value, step;
    } rows[] = {
        {10, 10},    {100, 10},   {101, 20},   {500, 20},   {501, 50},    {1000, 50},
        {1001, 200}, {2000, 200}, {2001, 500}, {5000, 500}, {32000, 500},
    };
    for (const auto& row : rows)
        EXPECT_EQ(xNumIncrement(row.value), row.step) << row.value;
}

TEST(ViewControls, XNumClicksFromTheInitialValue) {
    // The control starts at 200 with a step of 50; every click adds the step
    // in force and then takes the step for the new value.
    std::int32_t value = 200;
    std::int32_t step = 50;
    std::vector<std::int32_t> values;
    std::vector<std::int32_t> steps;
    while (value < 3000) {
        value += step;
        step = xNumIncrement(value);
        values.push_back(value);
        steps.push_back(step);
    }

    std::vector<std::int32_t> expected = {250};
    for (std::int32_t v = 270; v <= 510; v += 20)
        expected.push_back(v);
    for (std::int32_t v = 560; v <= 1010; v += 50)
        expected.push_back(v);
    for (std::int32_t v = 1210; v <= 2010; v += 200)
        expected.push_back(v);
    for (std::int32_t v = 2510; v <= 3010; v += 500)
        expected.push_back(v);
    ASSERT_EQ(values, expected);

    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::int32_t v = values[i];
        const std::int32_t want = v >= 2010 ? 500 : v >= 1010 ? 200 : v >= 510 ? 50 : 20;
        EXPECT_EQ(steps[i], want) << "after the click to " << v;
    }
}

} // namespace
