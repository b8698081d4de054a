#include "Drain.h"

#include "AcqState.h"
#include "driver/AdDriver.h"

#include <algorithm>

namespace {

// One kept scan into its ring point; the code is the element's bit pattern
// read as unsigned. With the channel count known at compile time the copy
// becomes a few vector moves instead of a counted loop.
template <std::int32_t Channels>
void widenScan(const std::int16_t* scan, std::int32_t* point, std::int32_t channels) {
    const std::int32_t n = Channels > 0 ? Channels : channels;
    for (std::int32_t ch = 0; ch < n; ++ch)
        point[ch] = static_cast<std::uint16_t>(scan[ch]);
}

template <std::int32_t Channels> void decimateScans(AcqState& state) {
    const std::int32_t chn = state.ChnCount;
    // Element 0 is not a sample: scan j, channel ch sits at 1 + j * chn + ch.
    const std::int16_t* scan = state.AdBuf.data() + 1;
    const std::int32_t scans = state.PointsPerBuf;
    const std::int32_t div = state.SampDiv;
    std::int32_t ptr = state.DataPtr;
    if (div == 1) {
        // Every scan is kept and the counter stays 0: no test per scan, and
        // the write pointer is checked for the wrap once per run of points.
        std::int32_t j = 0;
        while (j < scans) {
            const std::int32_t run = std::min(scans - j, kRingPoints - ptr);
            std::int32_t* point = state.AdData.point(ptr);
            for (std::int32_t k = 0; k < run; ++k, scan += chn, point += kRingRows)
                widenScan<Channels>(scan, point, chn);
            j += run;
            ptr += run;
            if (ptr == kRingPoints)
                ptr = 0;
        }
        state.DataPtr = ptr;
        return;
    }
    std::int32_t cnt = state.SampDivCnt;
    for (std::int32_t j = 0; j < scans; ++j, scan += chn) {
        if (++cnt != div)
            continue;
        cnt = 0;
        widenScan<Channels>(scan, state.AdData.point(ptr), chn);
        ptr = ringAdvance(ptr);
    }
    state.SampDivCnt = static_cast<std::int16_t>(cnt);
    state.DataPtr = ptr;
}

} // namespace

void decimateBlock(AcqState& state) {
    // Starts always ask for the 17 channels; any other count takes the
    // general loop.
    if (state.ChnCount == kScanChannels)
        decimateScans<kScanChannels>(state);
    else
        decimateScans<0>(state);
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
