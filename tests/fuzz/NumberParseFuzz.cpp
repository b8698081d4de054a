// The leading-number parse and the ties-to-even conversions against the slow
// reference, on every input: the whole input as a text box's text, and its
// first eight bytes as a double of any bit pattern (NaN, infinities,
// subnormals, integers beyond 2^53). The rate refusal of a start is checked
// on the parsed value too, since it is where the two meet.

#include "FuzzInput.h"
#include "ReferenceNumber.h"
#include "acquisition/StartStop.h"
#include "base/NumberParse.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void fail(const char* what, std::string_view text, double expected, double actual) {
    std::fprintf(stderr, "%s: text \"%.*s\" expected %.17g got %.17g\n", what,
                 static_cast<int>(text.size()), text.data(), expected, actual);
    std::abort();
}

bool sameDouble(double a, double b) {
    // Bit for bit: -0 and +0 differ in what they print, so they must agree too.
    return std::memcmp(&a, &b, sizeof a) == 0;
}

template <typename T>
void checkRounding(double value, std::optional<T> actual, std::string_view text) {
    const auto expected = reference::roundTiesEven(value, std::numeric_limits<T>::min(),
                                                   std::numeric_limits<T>::max());
    if (expected.has_value() != actual.has_value())
        fail(actual ? "accepted a value outside the field" : "refused a value that fits", text,
             value, expected ? static_cast<double>(*expected) : std::nan(""));
    if (expected && *expected != *actual)
        fail("rounded differently", text, static_cast<double>(*expected),
             static_cast<double>(*actual));
}

void checkRoundings(double value, std::string_view text) {
    checkRounding(value, roundToInt16(value), text);
    checkRounding(value, roundToInt32(value), text);
}

// The start's rate table, from the reference reading: a rate below 1 or
// outside 32 bits is refused; below 10000 the card runs at 10000 in 100-scan
// blocks and keeps one scan in 10000 / rate, rounded ties to even.
void checkRate(double parsed, std::string_view text) {
    const auto params = rateParameters(parsed);
    const auto rate = reference::roundTiesEven(parsed, std::numeric_limits<std::int32_t>::min(),
                                               std::numeric_limits<std::int32_t>::max());
    if (!rate || *rate < 1) {
        if (params)
            fail("accepted a rate below 1", text, 0, params->SampFreq);
        return;
    }
    if (!params)
        fail("refused a valid rate", text, static_cast<double>(*rate), 0);
    if (*rate >= 10000) {
        if (params->SampFreq != *rate || params->PointsPerBuf != 500 || params->SampDiv != 1)
            fail("fast rate parameters", text, static_cast<double>(*rate), params->SampFreq);
        return;
    }
    const auto div = reference::roundTiesEven(10000.0 / static_cast<double>(*rate), 1, 10000);
    if (!div || params->SampFreq != 10000 || params->PointsPerBuf != 100 || params->SampDiv != *div)
        fail("slow rate parameters", text, div ? static_cast<double>(*div) : -1, params->SampDiv);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput bits(data, size);
    const double raw = bits.take<double>();
    checkRoundings(raw, "<raw bits>");

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const double expected = reference::leadingNumber(text);
    const double actual = parseLeadingNumber(text);
    if (!sameDouble(expected, actual))
        fail("parse", text, expected, actual);
    checkRoundings(actual, text);
    checkRate(actual, text);
    return 0;
}
