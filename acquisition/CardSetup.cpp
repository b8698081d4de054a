#include "CardSetup.h"

#include "AcqState.h"
#include "base/FatalError.h"
#include "base/NumberParse.h"
#include "driver/AdDriver.h"
#include "driver/ToviraApi.h"

#include <array>
#include <string>

namespace {

std::int32_t calibrationCode(float level, const char* what) {
    const auto code = roundToInt32(static_cast<double>(level));
    if (!code)
        throw FatalError(std::string("采集卡报告的") + what + "超出范围：" + std::to_string(level));
    return *code;
}

} // namespace

void loadCard(AdDriver& driver, AcqState& state, std::int32_t xNumFromUpDown) {
    std::array<std::uint8_t, kCardNameBytes> name{};
    std::int32_t v1 = 0, v2 = 0, v3 = 0, v4 = 0, extra = 0;
    driver.ConfigInfo(name.data(), &v1, &v2, &v3, &v4, &state.ZeroLevel, &state.Span, &extra);

    // The name is zero-terminated, but a card may fill all 201 bytes; nothing
    // past the buffer is ever read.
    state.HardName.clear();
    for (std::uint8_t byte : name) {
        if (byte == 0)
            break;
        state.HardName.push_back(static_cast<char>(byte));
    }
    state.AdZero = calibrationCode(state.ZeroLevel, "零电平");
    state.AdSpan = calibrationCode(state.Span, "量程");
    state.XNum = xNumFromUpDown;
    state.CurChn = 1;
    state.BlockTotal = 0;
}
