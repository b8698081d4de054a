#pragma once
// A slow second reading of a text box's number and of the ties-to-even
// conversion, written without looking at how the program does it, so the
// fuzz targets can hold the program's answers against it on every input.
//
// The number is scanned character by character into a canonical form and
// handed to the C library's strtod, which converts any length of digits and
// exponent exactly. The rounding works on floor() and the exact fractional
// part instead of the rounding mode.

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace reference {

inline double leadingNumber(std::string_view text) {
    std::string s;
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\n')
            s += c;

    const auto digitAt = [&](std::size_t i) { return i < s.size() && s[i] >= '0' && s[i] <= '9'; };
    std::string canonical;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        canonical += s[i++];
    bool anyDigit = false;
    std::string whole;
    while (digitAt(i)) {
        whole += s[i++];
        anyDigit = true;
    }
    std::string fraction;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (digitAt(i)) {
            fraction += s[i++];
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return 0.0;
    canonical += (whole.empty() ? "0" : whole) + "." + (fraction.empty() ? "0" : fraction);
    // An exponent counts only with at least one digit after its optional sign.
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == '-' || s[j] == '+'))
            exponent += s[j++];
        if (digitAt(j)) {
            while (digitAt(j))
                exponent += s[j++];
            canonical += exponent;
        }
    }
    // strtod reads "." by the C locale, which the fuzz targets never change.
    errno = 0;
    return std::strtod(canonical.c_str(), nullptr);
}

/// Nearest integer, ties to even, or nothing when it falls outside min..max or
/// the value is not finite.
inline std::optional<std::int64_t> roundTiesEven(double value, std::int64_t min, std::int64_t max) {
    if (std::isnan(value) || std::isinf(value))
        return std::nullopt;
    // Ties to even is symmetric about 0, so only magnitudes are rounded. For a
    // magnitude m, m - floor(m) is exact (both lie within a factor of two, or
    // floor(m) is 0).
    const double magnitude = std::fabs(value);
    const double below = std::floor(magnitude);
    const double part = magnitude - below;
    double nearest = below;
    if (part > 0.5 || (part == 0.5 && std::fmod(below, 2.0) != 0.0))
        nearest = below + 1.0;
    if (value < 0)
        nearest = -nearest;
    // min and max are exact doubles for the 16- and 32-bit fields used here.
    if (nearest < static_cast<double>(min) || nearest > static_cast<double>(max))
        return std::nullopt;
    return static_cast<std::int64_t>(nearest);
}

} // namespace reference
