#include "Readouts.h"

#include "NumberText.h"
#include "ViewControls.h"
#include "acquisition/AcqState.h"
#include "base/FatalError.h"
#include "base/NumberParse.h"

#include <array>
#include <limits>

namespace {

// Every channel number the channel control can select has an entry in the
// readout's tables, so the caption of a channel that is not acquired reads
// 0 V instead of failing.
constexpr std::int32_t kAveragePoints = 100;

void checkRingArgs(const AcqState& state) {
    if (state.ChnCount < 0 || state.ChnCount > kRingRows)
        throw FatalError("通道数超出范围：" + PlainNumText(state.ChnCount));
    if (state.DataPtr < 0 || state.DataPtr >= kRingPoints)
        throw FatalError("数据指针超出范围：" + PlainNumText(state.DataPtr));
}

void appendLineStart(std::string& out, std::int32_t ch, std::int32_t code) {
    out += "Ch";
    appendSpacedNum(out, ch);
    out += '=';
    appendHex4(out, code);
    out += "   V: ";
}

} // namespace

void instantReadout(const AcqState& state, InstantReadout& out) {
    checkRingArgs(state);
    if (state.CurChn < 0 || state.CurChn >= kSelectableChannels)
        throw FatalError("通道号超出范围：" + PlainNumText(state.CurChn));

    const std::int32_t newest = ringStepBack(state.DataPtr, 1);
    const bool haveVolts = state.AdSpan != 0;
    // The voltages are kept as floats, like the table the readout always had, so
    // the list and the caption show the same single-precision value.
    std::array<std::int32_t, kSelectableChannels> codes{};
    std::array<float, kSelectableChannels> volts{};
    for (std::int32_t ch = 0; ch < state.ChnCount; ++ch) {
        codes[ch] = state.AdData(ch, newest);
        if (haveVolts)
            volts[ch] = static_cast<float>(CodeVolts(codes[ch], state.AdZero, state.AdSpan));
    }

    out.list.clear();
    out.list += "最新采集瞬时值:\r\n";
    for (std::int32_t ch = 0; ch < state.ChnCount; ++ch) {
        appendLineStart(out.list, ch, codes[ch]);
        if (haveVolts)
            appendVoltText(out.list, volts[ch]);
        else
            out.list += kNoVoltsText;
        out.list += "\r\n";
    }

    out.label.clear();
    out.label += "Chn";
    appendPlainNum(out.label, state.CurChn);
    out.label += " = ";
    if (haveVolts)
        appendVoltText(out.label, volts[state.CurChn]);
    else
        out.label += kNoVoltsText;
}

void averageReadout(AcqState& state, std::string& out) {
    checkRingArgs(state);

    const std::int32_t oldest = ringStepBack(state.DataPtr, kAveragePoints);
    for (std::int32_t ch = 0; ch < state.ChnCount; ++ch) {
        std::int64_t sum = 0;
        std::int32_t p = oldest;
        for (std::int32_t k = 0; k < kAveragePoints; ++k) {
            sum += state.AdData(ch, p);
            p = ringAdvance(p);
        }
        // The sum is a 32-bit quantity. Acquired codes (at most 65535) never come
        // near the limit; only an absurd zero level pre-filled into the ring could.
        if (sum < std::numeric_limits<std::int32_t>::min() ||
            sum > std::numeric_limits<std::int32_t>::max())
            throw FatalError("平均值求和溢出：通道" + PlainNumText(ch));
        // A mean of exactly .5 goes to the even code, as every whole-number
        // conversion in the program does; the mean of a 32-bit sum always fits.
        const auto mean = roundToInt32(static_cast<double>(sum) / kAveragePoints);
        state.AvgVal[static_cast<std::size_t>(ch)] = static_cast<float>(*mean);
    }

    const bool haveVolts = state.AdSpan != 0;
    out.clear();
    out += "最新采集平均值:\r\n";
    for (std::int32_t ch = 0; ch < state.ChnCount; ++ch) {
        const float mean = state.AvgVal[static_cast<std::size_t>(ch)];
        appendLineStart(out, ch, static_cast<std::int32_t>(mean));
        // The mean's volts are formatted from the double, not narrowed to float.
        if (haveVolts)
            appendVoltText(out, CodeVolts(static_cast<double>(mean), state.AdZero, state.AdSpan));
        else
            out += kNoVoltsText;
        out += "\r\n";
    }
}
