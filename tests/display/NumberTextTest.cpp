#include "display/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

TEST(NumberText, Hex4TextPadsToFourUppercaseDigits) {
    const struct {
        std::int32_t code;
        const char* text;
    } rows[] = {
        {0, "0000"},
        {1, "0001"},
        {15, "000F"},
        {255, "00FF"},
        {256, "0100"},
        {3000, "0BB8"},
        {4095, "0FFF"},
        {4096, "1000"},
        {43981, "ABCD"},
        {65535, "FFFF"},
        // Outside the codes the card delivers nothing is cut off.
        {65536, "10000"},
        {-1, "FFFFFFFF"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Hex4Text(row.code), row.text) << row.code;
}

TEST(NumberText, PlainAndSpacedNumberTexts) {
    const struct {
        std::int64_t value;
        const char* plain;
        const char* spaced;
    } rows[] = {
        {0, "0", " 0"},
        {12, "12", " 12"},
        {-3, "-3", "-3"},
        {350, "350", " 350"},
        {31999, "31999", " 31999"},
        {-2147483648LL, "-2147483648", "-2147483648"},
        {5000000000LL, "5000000000", " 5000000000"},
        {std::numeric_limits<std::int64_t>::max(), "9223372036854775807", " 9223372036854775807"},
        {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808", "-9223372036854775808"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(PlainNumText(row.value), row.plain) << row.value;
        EXPECT_EQ(SpacedNumText(row.value), row.spaced) << row.value;
    }
}

TEST(NumberText, AppendFormsAddToWhatIsThere) {
    std::string text = "x";
    appendHex4(text, 3000);
    appendPlainNum(text, -7);
    appendSpacedNum(text, 7);
    appendVoltText(text, 2.32421875);
    appendVoltText(text, -2.55859375F);
    EXPECT_EQ(text, "x0BB8-7 72.324-2.559");
}

TEST(NumberText, CodeVoltsOfIntegerCodes) {
    const struct {
        std::int32_t code, zero, span;
        double volts;
    } rows[] = {
        {3000, 2048, 4096, 2.32421875},
        {1000, 2048, 4096, -2.55859375},
        {2048, 2048, 4096, 0.0},
        {0, 2048, 4096, -5.0},
        {4096, 2048, 4096, 5.0},
        {65535, 32768, 65536, 32767.0 / 65536.0 * 10.0},
        // Division comes before the multiplication: 1 / 3 * 10 and 10 / 3 differ
        // in their last bit.
        {1, 0, 3, 1.0 / 3.0 * 10.0},
        {-100, 0, -7, -100.0 / -7.0 * 10.0},
        // A difference beyond 32 bits must not wrap.
        {std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min(), 1,
         4294967295.0 * 10.0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CodeVolts(row.code, row.zero, row.span), row.volts)
            << row.code << " " << row.zero << " " << row.span;
    EXPECT_NE(1.0 / 3.0 * 10.0, 10.0 / 3.0) << "the division-order row no longer tells them apart";
}

TEST(NumberText, CodeVoltsOfFractionalCodes) {
    EXPECT_EQ(CodeVolts(2048.5, 2048, 4096), 0.5 / 4096.0 * 10.0);
    EXPECT_EQ(CodeVolts(3000.0, 2048, 4096), 2.32421875);
    EXPECT_EQ(CodeVolts(0.25, 1, 3), -0.75 / 3.0 * 10.0);
}

TEST(NumberText, VoltTextOfDoubles) {
    const struct {
        double volts;
        const char* text;
    } rows[] = {
        {2.32421875, "2.324"},
        {-2.55859375, "-2.559"},
        {0.0, "0.000"},
        {-0.0, "0.000"},
        {5.0, "5.000"},
        {-5.0, "-5.000"},
        {154.99755859375, "154.998"},
        // Exact ties go away from zero, not to even.
        {0.3125, "0.313"},
        {-0.3125, "-0.313"},
        {0.0625, "0.063"},
        // Read to 15 digits first: 1.0005 and 2.0005 lie just below the tie as
        // doubles but read as ties.
        {1.0005, "1.001"},
        {2.0005, "2.001"},
        {0.0005, "0.001"},
        {-0.0005, "-0.001"},
        {0.00049999999999, "0.000"},
        // Negative values that round to zero keep their sign.
        {-0.0004, "-0.000"},
        {-0.00015258789, "-0.000"},
        {0.0004, "0.000"},
        // Carries run through every digit.
        {9.9995, "10.000"},
        {-999.9996, "-1000.000"},
        {0.9996, "1.000"},
        {123456.7894, "123456.789"},
        {1e-20, "0.000"},
        {1e20, "100000000000000000000.000"},
        {std::numeric_limits<double>::infinity(), "----"},
        {-std::numeric_limits<double>::infinity(), "----"},
        {std::numeric_limits<double>::quiet_NaN(), "----"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(VoltText(row.volts), row.text) << row.volts;
}

TEST(NumberText, VoltTextOfFloatsReadsSevenDigits) {
    const struct {
        float volts;
        const char* text;
    } rows[] = {
        {2.32421875F, "2.324"},
        {-2.55859375F, "-2.559"},
        {0.0F, "0.000"},
        {0.3125F, "0.313"},
        {-0.0004F, "-0.000"},
        // Below the tie in binary, a tie in seven digits.
        {1.0005F, "1.001"},
        {9.38949966430664F, "9.390"},
        {std::numeric_limits<float>::infinity(), "----"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(VoltText(row.volts), row.text) << row.volts;

    // The same values read to 15 digits land below the tie.
    EXPECT_EQ(VoltText(static_cast<double>(1.0005F)), "1.000");
    EXPECT_EQ(VoltText(static_cast<double>(9.38949966430664F)), "9.389");
}

} // namespace
