#pragma once
// Faults the simulated card can be told to show, so that a test or a person
// can see what the program does with a card that misbehaves. Each is an
// environment variable that only this library reads, at the call it affects,
// every time that call is made; the program itself reads none of them.

#include "driver/ToviraApi.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace simfaults {

/// Bytes ConfigInfo writes into the whole name buffer when the name is
/// overridden: TOVIRA_SIM_NAME_FILL=<n> gives n bytes (0 to the buffer's
/// size) cycling through 'A'..'Z', with no zero byte when n fills the buffer;
/// otherwise TOVIRA_SIM_NAME=<text> gives the text's bytes (an empty value an
/// empty name), cut at the buffer's size. Empty when neither is set.
struct CardName {
    std::array<std::uint8_t, kCardNameBytes> bytes{};
};
std::optional<CardName> cardName();

/// TOVIRA_SIM_ZERO and TOVIRA_SIM_SPAN: the zero level and span ConfigInfo
/// reports, as decimal floats (also "inf" and "nan").
std::optional<float> zeroLevel();
std::optional<float> span();

/// TOVIRA_SIM_FAIL_INITIAL and TOVIRA_SIM_FAIL_START: the error number with
/// which Initial or StartIntr fails, any 32-bit value.
std::optional<std::int32_t> initialError();
std::optional<std::int32_t> startError();

/// TOVIRA_SIM_STALL_MS: how long the acquisition thread stalls after the
/// first block of each start.
std::optional<std::chrono::milliseconds> stall();

/// TOVIRA_SIM_PRINT=<text>: every call of the card's functions first writes
/// the text and a line feed to standard output, as a chatty library would.
std::optional<std::string> printText();

/// TOVIRA_SIM_CRASH=<function>: that function of the card (ConfigInfo,
/// QueryBuf, ...) writes through a null pointer when called.
bool crashes(const char* function);

/// TOVIRA_SIM_QUERY_COUNT: what QueryBuf answers instead of the number of
/// waiting blocks, any 32-bit value.
std::optional<std::int32_t> queryCount();

} // namespace simfaults
