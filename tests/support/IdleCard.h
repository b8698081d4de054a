#pragma once

#include "driver/AdDriver.h"

#include <cstdint>

/// A card that accepts every call and never has a block ready. Cards for
/// benchmarks and fuzzing derive from it and answer only the calls they are
/// about (usually QueryBuf and ADResult).
class IdleCard : public AdDriver {
public:
    std::int32_t ConfigInfo(std::uint8_t*, std::int32_t*, std::int32_t*, std::int32_t*,
                            std::int32_t*, float*, float*, std::int32_t*) override {
        return 1;
    }
    std::int32_t StopIntr() override { return 1; }
    std::int32_t Initial(std::int32_t, std::int32_t, std::int32_t, std::int32_t) override {
        return 1;
    }
    std::int32_t StartIntr(std::int16_t, std::int32_t, std::int16_t, std::int16_t, std::int32_t,
                           std::int32_t, std::int16_t) override {
        return 1;
    }
    std::int32_t GetLastADError() override { return 0; }
    std::int32_t QueryBuf() override { return 0; }
    std::int32_t ADResult(std::int16_t*) override { return 0; }
};
