#pragma once

#include <cstdint>
#include <string>

// The number texts the window shows. All of them are locale-free: the decimal
// point is always '.', there are no group separators and the digits are ASCII.
// The append forms write into a caller's string so that a whole readout is built
// in one buffer whose capacity survives from tick to tick.

/// Four uppercase hexadecimal digits of a raw code (0 -> "0000", 3000 -> "0BB8").
/// A value that needs more digits keeps them all; a negative one is written as its
/// 32-bit two's complement, eight digits.
void appendHex4(std::string& out, std::int32_t code);
std::string Hex4Text(std::int32_t code);

/// Decimal digits with a leading '-' when negative, nothing else.
void appendPlainNum(std::string& out, std::int64_t value);
std::string PlainNumText(std::int64_t value);

/// The plain number text with one blank in front of a value of 0 or more, so
/// that a sign position is always there: " 0", " 12", "-3".
void appendSpacedNum(std::string& out, std::int64_t value);
std::string SpacedNumText(std::int64_t value);

/// Volts of a raw code: (code - zero) / span * 10, dividing before multiplying.
/// The span must not be 0.
double CodeVolts(std::int32_t code, std::int32_t zero, std::int32_t span);
/// The same for a fractional code (an average); the difference is taken in
/// floating point.
double CodeVolts(double code, std::int32_t zero, std::int32_t span);

/// What stands in the place of volts that cannot be shown (a card without a span).
inline constexpr char kNoVoltsText[] = "----";

/// Volts with exactly three decimals ("2.324", "-2.559", "0.000"). The double
/// form reads the value to 15 significant digits, the float form to 7, and then
/// rounds the third decimal half away from zero; see NumberText.cpp. A value
/// that is not finite has no volts to show and reads "----".
void appendVoltText(std::string& out, double volts);
void appendVoltText(std::string& out, float volts);
std::string VoltText(double volts);
std::string VoltText(float volts);
