#include "StartStop.h"

#include "AcqState.h"
#include "base/NumberParse.h"
#include "driver/AdDriver.h"

// Fixed start arguments whose meaning belongs to the card library.
namespace {
constexpr std::int16_t kStartArg1 = 50;
constexpr std::int16_t kStartArg3 = 0;
constexpr std::int32_t kStartArg6 = 0;
constexpr std::int16_t kStartArg7 = 1;
constexpr std::int32_t kFullRate = 10000;
constexpr std::int32_t kFastBlockScans = 500;
constexpr std::int32_t kSlowBlockScans = 100;
} // namespace

std::optional<RateParameters> rateParameters(double requestedRate) {
    const auto rate = roundToInt32(requestedRate);
    if (!rate || *rate < 1)
        return std::nullopt;
    if (*rate >= kFullRate)
        return RateParameters{*rate, kFastBlockScans, 1};
    // 10000 / 1 = 10000 is the largest divisor, so the conversion always fits.
    const auto div = roundToInt16(static_cast<double>(kFullRate) / static_cast<double>(*rate));
    return RateParameters{kFullRate, kSlowBlockScans, *div};
}

StartResult startAcquisition(AdDriver& driver, AcqState& state, std::string_view rateText) {
    const auto params = rateParameters(parseLeadingNumber(rateText));
    if (!params)
        return {StartOutcome::BadRate, 0};

    state.SampDiv = params->SampDiv;
    state.SampFreq = params->SampFreq;
    state.PointsPerBuf = params->PointsPerBuf;
    state.SampDivCnt = 0;
    state.ChnCount = kScanChannels;

    driver.StopIntr();
    if (driver.Initial(0, 0, 0, 0) == 0)
        return {StartOutcome::InitFailed, driver.GetLastADError()};

    state.AdBuf.assign(static_cast<std::size_t>(state.ChnCount) * state.PointsPerBuf + 2, 0);
    if (driver.StartIntr(kStartArg1, state.PointsPerBuf, kStartArg3, state.ChnCount, state.SampFreq,
                         kStartArg6, kStartArg7) == 0)
        return {StartOutcome::StartFailed, driver.GetLastADError()};

    state.AdData.fill(state.ChnCount, state.AdZero);
    state.DataPtr = 0;
    return {StartOutcome::Started, 0};
}

std::string startFailureText(const StartResult& result) {
    switch (result.outcome) {
    case StartOutcome::Started:
        return {};
    case StartOutcome::BadRate:
        return "采样频率错误，请输入不小于1的数值";
    case StartOutcome::InitFailed:
        return "初始化错误，Error=" + std::to_string(result.error);
    case StartOutcome::StartFailed:
        return "启动采集错误，Error=" + std::to_string(result.error);
    }
    return {};
}

void stopAcquisition(AdDriver& driver) {
    driver.StopIntr();
}
