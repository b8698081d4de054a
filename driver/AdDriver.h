#pragma once

#include <cstdint>

/// The card's driver as the program uses it: the seven functions it calls, with
/// the library's argument widths. The program reaches the card only through this
/// interface, so tests can put a scripted card behind it.
class AdDriver {
public:
    virtual ~AdDriver() = default;

    /// Fills the 201-byte name buffer and the calibration floats; the other
    /// references are written by the card and never read.
    virtual std::int32_t ConfigInfo(std::uint8_t* name201, std::int32_t* v1, std::int32_t* v2,
                                    std::int32_t* v3, std::int32_t* v4, float* zeroLevel,
                                    float* span, std::int32_t* extra) = 0;
    /// Stops acquisition; harmless when none runs.
    virtual std::int32_t StopIntr() = 0;
    /// Returns 0 on failure (see GetLastADError).
    virtual std::int32_t Initial(std::int32_t a, std::int32_t b, std::int32_t c,
                                 std::int32_t d) = 0;
    /// Starts interrupt acquisition; returns 0 on failure.
    virtual std::int32_t StartIntr(std::int16_t a, std::int32_t pointsPerBuf, std::int16_t b,
                                   std::int16_t chnCount, std::int32_t sampFreq, std::int32_t c,
                                   std::int16_t d) = 0;
    /// The error number of the last failed call.
    virtual std::int32_t GetLastADError() = 0;
    /// Number of completed blocks waiting; callers keep the low 16 bits.
    virtual std::int32_t QueryBuf() = 0;
    /// Copies the oldest completed block to buffer[0..]; element 0 and the last
    /// element are not samples.
    virtual std::int32_t ADResult(std::int16_t* buffer) = 0;

protected:
    AdDriver() = default;
    AdDriver(const AdDriver&) = default;
    AdDriver& operator=(const AdDriver&) = default;
};
