#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class AdDriver;
struct AcqState;

/// Driver parameters derived from a requested scan rate.
struct RateParameters {
    std::int32_t SampFreq = 0;
    std::int32_t PointsPerBuf = 0;
    std::int16_t SampDiv = 0;
};

/// From 10000 scans/s on the card runs at the requested rate in 500-scan blocks;
/// below it the card runs at 10000 in 100-scan blocks and the drain keeps one
/// scan in SampDiv. Empty for a rate below 1 (the divisor would be 0 or less,
/// or divide by zero) or one that does not fit 32 bits.
std::optional<RateParameters> rateParameters(double requestedRate);

enum class StartOutcome { Started, BadRate, InitFailed, StartFailed };

struct StartResult {
    StartOutcome outcome = StartOutcome::Started;
    std::int32_t error = 0; ///< the card's error number on InitFailed / StartFailed
};

/// Starts acquisition at the rate typed in `rateText`: refuses a bad rate
/// before touching anything, stops the card, initialises it, sizes the transfer
/// buffer, starts it and pre-fills the ring with the zero level. On a driver
/// failure the ring and the write pointer are left as they were.
StartResult startAcquisition(AdDriver& driver, AcqState& state, std::string_view rateText);

/// The status-line text of a failed start ("" for Started).
std::string startFailureText(const StartResult& result);

/// Stops the card, at a stop, at exit and when the window closes; harmless when
/// nothing runs. The state keeps everything, so it can be viewed and saved.
void stopAcquisition(AdDriver& driver);
