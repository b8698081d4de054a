#include "NumberParse.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace {

bool isIgnored(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// from_chars reports out_of_range without a value; the magnitude decides
// whether the number overflowed (infinity) or underflowed (zero).
double outOfRangeValue(std::string_view mantissa, long long exponent, bool negative) {
    long long intDigits = 0;
    long long leadingFractionZeros = 0;
    bool seenNonZero = false;
    bool inFraction = false;
    for (char c : mantissa) {
        if (c == '.') {
            inFraction = true;
        } else if (!inFraction) {
            if (seenNonZero || c != '0')
                ++intDigits;
            seenNonZero = seenNonZero || c != '0';
        } else if (!seenNonZero) {
            if (c == '0')
                ++leadingFractionZeros;
            else
                seenNonZero = true;
        }
    }
    const long long magnitude = (intDigits > 0 ? intDigits : -leadingFractionZeros) + exponent;
    const double value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -value : value;
}

} // namespace

double parseLeadingNumber(std::string_view text) {
    std::string s;
    s.reserve(text.size());
    for (char c : text)
        if (!isIgnored(c))
            s.push_back(c);

    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    const std::size_t mantissaStart = i;
    std::size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0.0;
    const std::size_t mantissaEnd = i;
    long long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        bool expNegative = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            expNegative = s[j] == '-';
            ++j;
        }
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j])) {
                // Saturate: any exponent this large already decides the result.
                if (exponent < 100000)
                    exponent = exponent * 10 + (s[j] - '0');
                ++j;
            }
            if (expNegative)
                exponent = -exponent;
            i = j;
        }
    }

    // from_chars takes no leading '+'; the sign is applied afterwards.
    std::string number = s.substr(mantissaStart, mantissaEnd - mantissaStart);
    if (exponent != 0)
        number += 'e' + std::to_string(exponent);
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value,
                                           std::chars_format::general);
    if (ec == std::errc::result_out_of_range)
        return outOfRangeValue(
            std::string_view(s).substr(mantissaStart, mantissaEnd - mantissaStart), exponent,
            negative);
    return negative ? -value : value;
}

std::optional<std::int64_t> roundHalfEven(double value, std::int64_t min, std::int64_t max) {
    if (!std::isfinite(value))
        return std::nullopt;
    // The default floating-point environment rounds to nearest, ties to even.
    const double rounded = std::nearbyint(value);
    if (rounded < static_cast<double>(min) || rounded > static_cast<double>(max))
        return std::nullopt;
    return static_cast<std::int64_t>(rounded);
}

std::optional<std::int32_t> roundToInt32(double value) {
    const auto r = roundHalfEven(value, std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::int32_t>::max());
    if (!r)
        return std::nullopt;
    return static_cast<std::int32_t>(*r);
}

std::optional<std::int16_t> roundToInt16(double value) {
    const auto r = roundHalfEven(value, std::numeric_limits<std::int16_t>::min(),
                                 std::numeric_limits<std::int16_t>::max());
    if (!r)
        return std::nullopt;
    return static_cast<std::int16_t>(*r);
}
