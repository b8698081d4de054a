#include "Drain.h"

#include "AcqState.h"
#include "AdDriver.h"

void decimateBlock(AcqState& state) {
    const std::int32_t chn = state.ChnCount;
    // Element 0 is not a sample: scan j, channel ch sits at 1 + j * chn + ch.
    const std::int16_t* scan = state.AdBuf.data() + 1;
    std::int32_t cnt = state.SampDivCnt;
    const std::int32_t div = state.SampDiv;
    std::int32_t ptr = state.DataPtr;
    for (std::int32_t j = 0; j < state.PointsPerBuf; ++j, scan += chn) {
        if (++cnt != div)
            continue;
        cnt = 0;
        std::int32_t* dst = state.AdData.point(ptr);
        // The code is the element's bit pattern read as unsigned.
        for (std::int32_t ch = 0; ch < chn; ++ch)
            dst[ch] = static_cast<std::uint16_t>(scan[ch]);
        ptr = ringAdvance(ptr);
    }
    state.SampDivCnt = static_cast<std::int16_t>(cnt);
    state.DataPtr = ptr;
}

std::int16_t drainReadyBlocks(AdDriver& driver, AcqState& state) {
    // The count is a 16-bit value; anything above is not part of it.
    const auto n = static_cast<std::int16_t>(driver.QueryBuf() & 0xFFFF);
    for (std::int32_t b = 1; b <= n; ++b) {
        driver.ADResult(state.AdBuf.data());
        decimateBlock(state);
    }
    return n;
}
