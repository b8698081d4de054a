#include "NumberText.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <iterator>

namespace {

void appendChars(std::string& out, const char* first, const char* last) {
    out.append(first, static_cast<std::size_t>(last - first));
}

// The significant digits of a positive value as to_chars writes them in
// scientific notation, without the point, and the power of ten of the first.
struct Significand {
    char digits[24] = {};
    int count = 0;
    int exponent = 0;
};

template <typename T> Significand significand(T positive, int significantDigits) {
    char sci[48];
    const auto written = std::to_chars(std::begin(sci), std::end(sci), positive,
                                       std::chars_format::scientific, significantDigits - 1);
    // "d.ddde+xx"
    Significand s;
    const char* p = sci;
    for (; p != written.ptr && *p != 'e'; ++p) {
        if (*p != '.')
            s.digits[s.count++] = *p;
    }
    if (p != written.ptr) {
        const char* e = p + 1;
        if (*e == '+')
            ++e;
        std::from_chars(e, written.ptr, s.exponent);
    }
    return s;
}

// The digits down to the thousandths, rounded half away from zero on the
// significant digits, with at least one digit before the point; returns how
// many. The first digit weighs 10^exponent, so exponent + 4 of them reach
// 10^-3; a double reaches 10^308, hence the room `out` must have.
int thousandthsDigits(const Significand& s, char* out) {
    const int kept = s.exponent + 4;
    int count = 0;
    bool roundUp = false;
    if (kept <= 0) {
        roundUp = kept == 0 && s.digits[0] >= '5';
    } else {
        for (; count < kept; ++count)
            out[count] = count < s.count ? s.digits[count] : '0';
        roundUp = kept < s.count && s.digits[kept] >= '5';
    }
    if (roundUp) {
        int i = count - 1;
        for (; i >= 0 && out[i] == '9'; --i)
            out[i] = '0';
        if (i >= 0) {
            ++out[i];
        } else {
            for (int j = count; j > 0; --j)
                out[j] = out[j - 1];
            out[0] = '1';
            ++count;
        }
    }
    if (count < 4) {
        const int shift = 4 - count;
        for (int j = count - 1; j >= 0; --j)
            out[j + shift] = out[j];
        for (int j = 0; j < shift; ++j)
            out[j] = '0';
        count = 4;
    }
    return count;
}

// The volts texts are those of the "#0.000" format of classic Visual Basic's
// Format function, which the readouts of this card have always been made with
// and which users compare ours against:
//  - The value is first written to decimal with the precision of its type,
//    15 significant digits for a double and 7 for a float, and the rounding to
//    three decimals works on those digits. So 1.0005, which as a double lies a
//    hair below the tie, still reads "1.001", and a float that prints as 1.0005
//    reads "1.001" even though its exact binary value is below the tie.
//  - The third decimal is rounded half away from zero on those digits, not to
//    even: 0.3125 V (code 2176 with zero 2048 and span 4096) reads "0.313" and
//    -0.3125 reads "-0.313".
//  - The sign belongs to the value, not to the rounded text: a small negative
//    voltage such as -0.0004 reads "-0.000". With a 16-bit span one code below
//    the zero level is about -0.00015 V, and the minus tells the user that the
//    input sits below zero. A zero, also a negative zero, reads "0.000".
template <typename T> void appendVolts(std::string& out, T volts, int significantDigits) {
    if (!std::isfinite(volts)) {
        out += kNoVoltsText;
        return;
    }
    if (volts == 0) {
        out += "0.000";
        return;
    }
    char thousandths[330];
    const int count =
        thousandthsDigits(significand(std::abs(volts), significantDigits), thousandths);
    if (volts < 0)
        out += '-';
    const auto whole = static_cast<std::size_t>(count - 3);
    out.append(thousandths, whole);
    out += '.';
    out.append(thousandths + whole, 3);
}

} // namespace

void appendHex4(std::string& out, std::int32_t code) {
    char buf[8];
    const auto r =
        std::to_chars(std::begin(buf), std::end(buf), static_cast<std::uint32_t>(code), 16);
    for (auto n = r.ptr - buf; n < 4; ++n)
        out += '0';
    for (const char* p = buf; p != r.ptr; ++p)
        out += (*p >= 'a' && *p <= 'f') ? static_cast<char>(*p - 'a' + 'A') : *p;
}

std::string Hex4Text(std::int32_t code) {
    std::string s;
    appendHex4(s, code);
    return s;
}

void appendPlainNum(std::string& out, std::int64_t value) {
    char buf[24];
    const auto r = std::to_chars(std::begin(buf), std::end(buf), value);
    appendChars(out, buf, r.ptr);
}

std::string PlainNumText(std::int64_t value) {
    std::string s;
    appendPlainNum(s, value);
    return s;
}

void appendSpacedNum(std::string& out, std::int64_t value) {
    if (value >= 0)
        out += ' ';
    appendPlainNum(out, value);
}

std::string SpacedNumText(std::int64_t value) {
    std::string s;
    appendSpacedNum(s, value);
    return s;
}

double CodeVolts(std::int32_t code, std::int32_t zero, std::int32_t span) {
    // The difference of two 32-bit values always fits 64 bits and a double holds
    // it exactly, so this is the 32-bit difference wherever that one exists.
    const auto difference = static_cast<std::int64_t>(code) - zero;
    return static_cast<double>(difference) / span * 10.0;
}

double CodeVolts(double code, std::int32_t zero, std::int32_t span) {
    return (code - zero) / span * 10.0;
}

void appendVoltText(std::string& out, double volts) {
    appendVolts(out, volts, 15);
}

void appendVoltText(std::string& out, float volts) {
    appendVolts(out, volts, 7);
}

std::string VoltText(double volts) {
    std::string s;
    appendVoltText(s, volts);
    return s;
}

std::string VoltText(float volts) {
    std::string s;
    appendVoltText(s, volts);
    return s;
}
