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

// The number at the start of `s` (blanks already gone), as its parts: the
// sign, the digits with their point, and the exponent.
struct LeadingNumber {
    bool negative = false;
    std::string_view mantissa; // empty when the text does not begin with a number
    long long exponent = 0;
};

// Digits, then an optional point with more digits; `digits` counts them.
std::size_t skipMantissa(std::string_view s, std::size_t i, std::size_t& digits) {
    for (; i < s.size() && isDigit(s[i]); ++i)
        ++digits;
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && isDigit(s[i]); ++i)
            ++digits;
    }
    return i;
}

// An exponent is read only when digits follow the 'e' and its sign;
// otherwise the number ends before the 'e'.
long long readExponent(std::string_view s, std::size_t i) {
    if (i >= s.size() || (s[i] != 'e' && s[i] != 'E'))
        return 0;
    ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    long long exponent = 0;
    for (; i < s.size() && isDigit(s[i]); ++i) {
        // Saturate: any exponent this large already decides the result.
        if (exponent < 100000)
            exponent = exponent * 10 + (s[i] - '0');
    }
    return negative ? -exponent : exponent;
}

LeadingNumber splitLeadingNumber(std::string_view s) {
    LeadingNumber n;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        n.negative = s[i] == '-';
        ++i;
    }
    std::size_t digits = 0;
    const std::size_t end = skipMantissa(s, i, digits);
    if (digits == 0)
        return n;
    n.mantissa = s.substr(i, end - i);
    n.exponent = readExponent(s, end);
    return n;
}

} // namespace

double parseLeadingNumber(std::string_view text) {
    std::string s;
    s.reserve(text.size());
    for (char c : text)
        if (!isIgnored(c))
            s.push_back(c);

    const LeadingNumber n = splitLeadingNumber(s);
    if (n.mantissa.empty())
        return 0.0;
    // from_chars takes no leading '+'; the sign is applied afterwards.
    std::string number(n.mantissa);
    if (n.exponent != 0)
        number += 'e' + std::to_string(n.exponent);
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value,
                                           std::chars_format::general);
    if (ec == std::errc::result_out_of_range)
        return outOfRangeValue(n.mantissa, n.exponent, n.negative);
    return n.negative ? -value : value;
}

namespace {

std::optional<std::int64_t> roundHalfEven(double value, std::int64_t min, std::int64_t max) {
    if (!std::isfinite(value))
        return std::nullopt;
    // The default floating-point environment rounds to nearest, ties to even.
    const double rounded = std::nearbyint(value);
    if (rounded < static_cast<double>(min) || rounded > static_cast<double>(max))
        return std::nullopt;
    return static_cast<std::int64_t>(rounded);
}

} // namespace

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
