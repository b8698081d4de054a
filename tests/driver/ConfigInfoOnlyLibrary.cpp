// A card library that exports ConfigInfo and nothing else: the program must
// refuse it at the first call of any other function, naming that function.

#include "driver/ToviraApi.h"

#include <cstring>

extern "C" TOVIRA_EXPORT std::int32_t TOVIRA_CALL ConfigInfo(std::uint8_t* name201, std::int32_t*,
                                                             std::int32_t*, std::int32_t*,
                                                             std::int32_t*, float* zeroLevel,
                                                             float* span, std::int32_t*) {
    constexpr char kName[] = "ConfigInfo-only card";
    std::memcpy(name201, kName, sizeof(kName));
    *zeroLevel = 2048.0F;
    *span = 4096.0F;
    return 1;
}
