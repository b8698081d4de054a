// The card library fuzz_host_requests loads into the host: the seven card
// functions and SimDroppedBlocks over one FakeCard, and FuzzCardReset, which
// the target calls before each input so every input meets a card just
// loaded and a crash repeats from its file alone.

#include "FakeCard.h"
#include "driver/ToviraApi.h"

#include <cstdint>

namespace {

fakecard::Card g_card;

} // namespace

extern "C" {

TOVIRA_EXPORT std::int32_t TOVIRA_CALL ConfigInfo(std::uint8_t* name201, std::int32_t* v1,
                                                  std::int32_t* v2, std::int32_t* v3,
                                                  std::int32_t* v4, float* zeroLevel, float* span,
                                                  std::int32_t* extra) {
    return g_card.configInfo(name201, v1, v2, v3, v4, zeroLevel, span, extra);
}

TOVIRA_EXPORT std::int32_t TOVIRA_CALL StopIntr() {
    return g_card.stopIntr();
}

TOVIRA_EXPORT std::int32_t TOVIRA_CALL Initial(std::int32_t a, std::int32_t b, std::int32_t c,
                                               std::int32_t d) {
    return g_card.initial(a, b, c, d);
}

TOVIRA_EXPORT std::int32_t TOVIRA_CALL StartIntr(std::int16_t a, std::int32_t pointsPerBuf,
                                                 std::int16_t b, std::int16_t chnCount,
                                                 std::int32_t sampFreq, std::int32_t c,
                                                 std::int16_t d) {
    return g_card.startIntr(a, pointsPerBuf, b, chnCount, sampFreq, c, d);
}

TOVIRA_EXPORT std::int32_t TOVIRA_CALL GetLastADError() {
    return g_card.getLastADError();
}

TOVIRA_EXPORT std::int32_t TOVIRA_CALL QueryBuf() {
    return g_card.queryBuf();
}

TOVIRA_EXPORT std::int32_t TOVIRA_CALL ADResult(std::int16_t* buffer) {
    return g_card.adResult(buffer);
}

TOVIRA_EXPORT std::int64_t SimDroppedBlocks() {
    return g_card.simDroppedBlocks();
}

TOVIRA_EXPORT void FuzzCardReset() {
    g_card = fakecard::Card{};
}

} // extern "C"
