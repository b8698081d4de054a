// The card library's C interface. Every export forwards to the one simulated
// card, after looking at the faults it has been told to show (SimFaults.h).

#include "SimCard.h"
#include "SimFaults.h"
#include "SimLifetime.h"
#include "SimToolsApi.h"
#include "driver/ToviraApi.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace {

constexpr char kCardName[] = "Tovira SIM-17";
static_assert(sizeof(kCardName) <= kCardNameBytes);

// Written to the four card-description references and the extra one. The
// program never reads them; they describe the simulated card plausibly.
constexpr std::int32_t kChannelCount = SignalGenerator::kSignalChannels;
constexpr std::int32_t kResolutionBits = 16;
constexpr std::int32_t kMaxScansPerSecond = SimCard::kMaxRate;
constexpr std::int32_t kBoardNumber = 0;
constexpr std::int32_t kExtra = 0;

// Codes 0..65535 cover -5 V..+5 V: 32768 is 0 V and the 10 V range is 65536 codes.
constexpr float kZeroLevel = 32768.0F;
constexpr float kSpan = 65536.0F;

// QueryBuf's caller keeps only the low 16 bits, read as signed.
constexpr std::size_t kMaxReportedBlocks = 32767;

// The faults every function can show on request: output of its own on
// standard output, and a crash. The crash is meant, so the sanitizers must
// let it happen rather than report it.
__attribute__((no_sanitize("undefined"))) void misbehave(const char* function) {
    if (const auto text = simfaults::printText()) {
        std::fputs(text->c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    if (simfaults::crashes(function)) {
        // An address the compiler cannot see is null, so this is a real store
        // through a null pointer, not a trap it put in its place.
        static volatile std::uintptr_t nowhere = 0;
        *reinterpret_cast<volatile std::int32_t*>(nowhere) = 1;
    }
}

template <typename T> void put(T* ref, T value) {
    if (ref != nullptr)
        *ref = value;
}

} // namespace

// How it lives and ends with the library: SimLifetime.h.
SimCard g_card;

extern "C" {

TOVIRA_EXPORT std::int32_t TOVIRA_CALL ConfigInfo(std::uint8_t* name201, std::int32_t* v1,
                                                  std::int32_t* v2, std::int32_t* v3,
                                                  std::int32_t* v4, float* zeroLevel, float* span,
                                                  std::int32_t* extra) {
    misbehave("ConfigInfo");
    if (name201 != nullptr) {
        if (const auto name = simfaults::cardName()) {
            // All 201 bytes, so a name without a zero byte really has none.
            std::memcpy(name201, name->bytes.data(), kCardNameBytes);
        } else {
            std::memset(name201, 0, kCardNameBytes);
            std::memcpy(name201, kCardName, sizeof(kCardName));
        }
    }
    put(v1, kChannelCount);
    put(v2, kResolutionBits);
    put(v3, kMaxScansPerSecond);
    put(v4, kBoardNumber);
    put(zeroLevel, simfaults::zeroLevel().value_or(kZeroLevel));
    put(span, simfaults::span().value_or(kSpan));
    put(extra, kExtra);
    return 1;
}

TOVIRA_EXPORT std::int32_t TOVIRA_CALL StopIntr() {
    misbehave("StopIntr");
    g_card.stop();
    return 1;
}

TOVIRA_EXPORT std::int32_t TOVIRA_CALL Initial(std::int32_t, std::int32_t, std::int32_t,
                                               std::int32_t) {
    misbehave("Initial");
    if (const auto error = simfaults::initialError())
        return g_card.refuse(*error) ? 1 : 0;
    return g_card.initialise() ? 1 : 0;
}

// The first, third, sixth and seventh arguments select the card's interrupt
// mode; the simulation has only the one mode and ignores them.
TOVIRA_EXPORT std::int32_t TOVIRA_CALL StartIntr(std::int16_t, std::int32_t pointsPerBuf,
                                                 std::int16_t, std::int16_t chnCount,
                                                 std::int32_t sampFreq, std::int32_t,
                                                 std::int16_t) {
    misbehave("StartIntr");
    if (const auto error = simfaults::startError())
        return g_card.refuse(*error) ? 1 : 0;
    const auto stall = simfaults::stall().value_or(std::chrono::milliseconds{0});
    keepLoaded();
    return g_card.start(pointsPerBuf, chnCount, sampFreq, stall) ? 1 : 0;
}

TOVIRA_EXPORT std::int32_t TOVIRA_CALL GetLastADError() {
    misbehave("GetLastADError");
    return g_card.lastError();
}

TOVIRA_EXPORT std::int32_t TOVIRA_CALL QueryBuf() {
    misbehave("QueryBuf");
    if (const auto count = simfaults::queryCount())
        return *count;
    return static_cast<std::int32_t>(std::min(g_card.readyBlocks(), kMaxReportedBlocks));
}

// Element 0 and the element after the last sample are not samples; they are
// left as the caller had them.
TOVIRA_EXPORT std::int32_t TOVIRA_CALL ADResult(std::int16_t* buffer) {
    misbehave("ADResult");
    if (buffer == nullptr)
        return 0;
    return g_card.takeOldestBlock(buffer + 1) ? 1 : 0;
}

TOVIRA_EXPORT std::int64_t SimDroppedBlocks() {
    return g_card.droppedBlocks();
}

} // extern "C"

// The binding calls through these pointer types; a mismatch in argument width
// or calling convention must not compile.
static_assert(std::is_same_v<decltype(&ConfigInfo), ConfigInfoFn>);
static_assert(std::is_same_v<decltype(&StopIntr), StopIntrFn>);
static_assert(std::is_same_v<decltype(&Initial), InitialFn>);
static_assert(std::is_same_v<decltype(&StartIntr), StartIntrFn>);
static_assert(std::is_same_v<decltype(&GetLastADError), GetLastADErrorFn>);
static_assert(std::is_same_v<decltype(&QueryBuf), QueryBufFn>);
static_assert(std::is_same_v<decltype(&ADResult), ADResultFn>);
static_assert(std::is_same_v<decltype(&SimDroppedBlocks), SimDroppedBlocksFn>);
