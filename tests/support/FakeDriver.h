#pragma once

#include "driver/AdDriver.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

/// A scripted card: records every call and answers from what the test put in.
class FakeDriver final : public AdDriver {
public:
    // ConfigInfo
    std::vector<std::uint8_t> nameBytes; ///< copied into the name buffer (at most 201)
    float zeroLevel = 2048.0F;
    float span = 4096.0F;

    // Initial / StartIntr
    std::int32_t initialResult = 1;
    std::int32_t startResult = 1;
    std::int32_t lastError = 0;

    // QueryBuf answers, one per call; 0 once they run out.
    std::deque<std::int32_t> queryAnswers;
    // ADResult hands out these blocks in order (each the whole buffer); when
    // none is left the buffer is left untouched.
    std::deque<std::vector<std::int16_t>> blocks;

    struct StartArgs {
        std::int16_t a;
        std::int32_t pointsPerBuf;
        std::int16_t b;
        std::int16_t chnCount;
        std::int32_t sampFreq;
        std::int32_t c;
        std::int16_t d;
    };
    std::vector<std::string> calls; ///< names of the functions called, in order
    std::vector<StartArgs> startCalls;
    std::vector<std::int32_t> initialArgs; ///< the four arguments of every Initial call

    std::int32_t ConfigInfo(std::uint8_t* name201, std::int32_t* v1, std::int32_t* v2,
                            std::int32_t* v3, std::int32_t* v4, float* zeroLevelOut, float* spanOut,
                            std::int32_t* extra) override;
    std::int32_t StopIntr() override;
    std::int32_t Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) override;
    std::int32_t StartIntr(std::int16_t a, std::int32_t pointsPerBuf, std::int16_t b,
                           std::int16_t chnCount, std::int32_t sampFreq, std::int32_t c,
                           std::int16_t d) override;
    std::int32_t GetLastADError() override;
    std::int32_t QueryBuf() override;
    std::int32_t ADResult(std::int16_t* buffer) override;

    int count(const std::string& name) const;
};

/// A block of `scans` scans of `channels` codes laid out as the card delivers
/// it: element 0 and the last element are not samples; `code(scan, ch)` gives
/// each sample.
std::vector<std::int16_t> makeBlock(int scans, int channels,
                                    const std::function<std::int16_t(int, int)>& code);
