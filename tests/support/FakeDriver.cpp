#include "FakeDriver.h"

#include <algorithm>

std::int32_t FakeDriver::ConfigInfo(std::uint8_t* name201, std::int32_t*, std::int32_t*,
                                    std::int32_t*, std::int32_t*, float* zeroLevelOut,
                                    float* spanOut, std::int32_t*) {
    calls.emplace_back("ConfigInfo");
    std::copy_n(nameBytes.begin(), std::min<std::size_t>(nameBytes.size(), 201), name201);
    *zeroLevelOut = zeroLevel;
    *spanOut = span;
    return 1;
}

std::int32_t FakeDriver::StopIntr() {
    calls.emplace_back("StopIntr");
    return 1;
}

std::int32_t FakeDriver::Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
    calls.emplace_back("Initial");
    initialArgs.insert(initialArgs.end(), {a, b, c, d});
    return initialResult;
}

std::int32_t FakeDriver::StartIntr(std::int16_t a, std::int32_t pointsPerBuf, std::int16_t b,
                                   std::int16_t chnCount, std::int32_t sampFreq, std::int32_t c,
                                   std::int16_t d) {
    calls.emplace_back("StartIntr");
    startCalls.push_back({a, pointsPerBuf, b, chnCount, sampFreq, c, d});
    return startResult;
}

std::int32_t FakeDriver::GetLastADError() {
    calls.emplace_back("GetLastADError");
    return lastError;
}

std::int32_t FakeDriver::QueryBuf() {
    calls.emplace_back("QueryBuf");
    if (queryAnswers.empty())
        return 0;
    const std::int32_t n = queryAnswers.front();
    queryAnswers.pop_front();
    return n;
}

std::int32_t FakeDriver::ADResult(std::int16_t* buffer) {
    calls.emplace_back("ADResult");
    if (blocks.empty())
        return 0;
    std::copy(blocks.front().begin(), blocks.front().end(), buffer);
    blocks.pop_front();
    return 1;
}

int FakeDriver::count(const std::string& name) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), name));
}

std::vector<std::int16_t> makeBlock(int scans, int channels,
                                    const std::function<std::int16_t(int, int)>& code) {
    std::vector<std::int16_t> block(static_cast<std::size_t>(scans) * channels + 2, 0);
    for (int j = 0; j < scans; ++j)
        for (int ch = 0; ch < channels; ++ch)
            block[1 + static_cast<std::size_t>(j) * channels + ch] = code(j, ch);
    return block;
}
