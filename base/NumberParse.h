#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

/// Reads the number at the start of a text box's text: blanks, tabs and line
/// feeds anywhere are ignored; an optional sign, digits, an optional fraction and
/// an optional exponent are read; reading stops at the first character that
/// cannot continue the number. Text that does not begin with a number reads 0.
/// Locale-free. Too large a magnitude gives an infinity.
double parseLeadingNumber(std::string_view text);

/// Nearest integer, ties to the even neighbour (2.5 -> 2, 3.5 -> 4); empty when
/// the result does not fit the field's width or the value is not a number.
std::optional<std::int32_t> roundToInt32(double value);
std::optional<std::int16_t> roundToInt16(double value);
