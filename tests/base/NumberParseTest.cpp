#include "base/NumberParse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(LeadingNumberParse, ReadsTheNumberAtTheStartOfTheText) {
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"20000", 20000.0},
        {"20 000", 20000.0}, // blanks anywhere are ignored
        {" \t2\n0\t0 0 0", 20000.0},
        {"9999.5", 9999.5},
        {"-12.25", -12.25},
        {"+7", 7.0},
        {".5", 0.5},
        {"5.", 5.0},
        {"1e3", 1000.0},
        {"1.5E-2", 0.015},
        {"2e+2x", 200.0},
        {"1e", 1.0}, // an exponent without digits is not part of the number
        {"1e+", 1.0},
        {"12abc", 12.0}, // reading stops at the first character that cannot continue
        {"3.4.5", 3.4},
        {"1,5", 1.0}, // no locale: the comma ends the number
        {"--5", 0.0},
        {"abc", 0.0},
        {"", 0.0},
        {"   ", 0.0},
        {"-", 0.0},
        {".", 0.0},
        {"\r5", 0.0}, // only blank, tab and line feed are ignored
        {"0x10", 0.0},
        {"１２", 0.0}, // full-width digits are not digits
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(parseLeadingNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(LeadingNumberParse, HugeAndTinyMagnitudes) {
    EXPECT_EQ(parseLeadingNumber("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseLeadingNumber("-1e999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseLeadingNumber("1e-999"), 0.0);
    EXPECT_EQ(parseLeadingNumber("0.000001e-400"), 0.0);
    EXPECT_EQ(parseLeadingNumber("123456789e400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseLeadingNumber("0e99999999999"), 0.0);
    EXPECT_DOUBLE_EQ(parseLeadingNumber("99999999999"), 99999999999.0);
}

TEST(RoundHalfEven, TiesGoToTheEvenNeighbour) {
    const struct {
        double value;
        std::int32_t expected;
    } cases[] = {{2.5, 2},     {3.5, 4},       {12.5, 12},      {-0.5, 0},
                 {-1.5, -2},   {2047.5, 2048}, {2046.5, 2046},  {2047.4999, 2047},
                 {0.49999, 0}, {-2.5, -2},     {9999.5, 10000}, {9998.5, 9998}};
    for (const auto& c : cases) {
        const auto r = roundToInt32(c.value);
        ASSERT_TRUE(r.has_value()) << c.value;
        EXPECT_EQ(*r, c.expected) << c.value;
    }
}

TEST(RoundHalfEven, RefusesWhatDoesNotFitTheField) {
    EXPECT_EQ(roundToInt16(32767.4), std::int16_t{32767});
    EXPECT_FALSE(roundToInt16(32767.5).has_value());
    EXPECT_EQ(roundToInt16(-32768.5), std::int16_t{-32768}); // tie to even: -32768
    EXPECT_FALSE(roundToInt16(-32768.51).has_value());
    EXPECT_EQ(roundToInt32(2147483647.4), 2147483647);
    EXPECT_FALSE(roundToInt32(2147483647.5).has_value());
    EXPECT_FALSE(roundToInt32(std::numeric_limits<double>::infinity()).has_value());
    EXPECT_FALSE(roundToInt32(std::nan("")).has_value());
}
