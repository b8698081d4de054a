#include "SimFaults.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace simfaults {

namespace {

std::optional<std::string_view> variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return std::string_view(value);
}

// A value that is not a number is reported once per call and ignored, so a
// typing error shows instead of silently running the unfaulted card.
void ignored(const char* name, std::string_view value) {
    std::fprintf(stderr, "tovira (simulated): %s=%.*s is not a number; ignored\n", name,
                 static_cast<int>(value.size()), value.data());
}

// The whole value must be the number: "12ms" is a mistake, not 12.
template <typename T> std::optional<T> number(const char* name) {
    const auto value = variable(name);
    if (!value)
        return std::nullopt;
    std::string_view digits = *value;
    // from_chars takes no '+', which is a natural way to write a count.
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    T parsed{};
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
        ignored(name, *value);
        return std::nullopt;
    }
    return parsed;
}

} // namespace

std::optional<CardName> cardName() {
    if (const auto fill = number<std::int32_t>("TOVIRA_SIM_NAME_FILL")) {
        CardName name;
        const auto count = static_cast<std::size_t>(std::clamp(*fill, 0, kCardNameBytes));
        for (std::size_t i = 0; i < count; ++i)
            name.bytes[i] = static_cast<std::uint8_t>('A' + i % 26);
        return name;
    }
    if (const auto text = variable("TOVIRA_SIM_NAME")) {
        CardName name;
        std::memcpy(name.bytes.data(), text->data(),
                    std::min<std::size_t>(text->size(), kCardNameBytes));
        return name;
    }
    return std::nullopt;
}

std::optional<float> zeroLevel() {
    return number<float>("TOVIRA_SIM_ZERO");
}
std::optional<float> span() {
    return number<float>("TOVIRA_SIM_SPAN");
}

std::optional<std::int32_t> initialError() {
    return number<std::int32_t>("TOVIRA_SIM_FAIL_INITIAL");
}
std::optional<std::int32_t> startError() {
    return number<std::int32_t>("TOVIRA_SIM_FAIL_START");
}

std::optional<std::chrono::milliseconds> stall() {
    const auto ms = number<std::int32_t>("TOVIRA_SIM_STALL_MS");
    if (!ms || *ms <= 0)
        return std::nullopt;
    return std::chrono::milliseconds(*ms);
}

std::optional<std::string> printText() {
    const auto text = variable("TOVIRA_SIM_PRINT");
    return text ? std::optional<std::string>(std::string(*text)) : std::nullopt;
}

bool crashes(const char* function) {
    const auto name = variable("TOVIRA_SIM_CRASH");
    return name && *name == function;
}

std::optional<std::int32_t> queryCount() {
    return number<std::int32_t>("TOVIRA_SIM_QUERY_COUNT");
}

} // namespace simfaults
