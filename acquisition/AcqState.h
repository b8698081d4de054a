#pragma once

#include "Ring.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// Channels per scan that a start hands to the card (channels 0 to 16).
inline constexpr std::int16_t kScanChannels = 17;

/// Entries of AvgVal, indices 0 to 33: one more than the channel control can
/// select (0 to 32), as the array has always been declared. Only the acquired
/// channels' entries are ever written, and nothing but the average readout
/// reads them, so the spare entries are harmless; the size stays as declared.
inline constexpr std::size_t kAvgValEntries = 34;

/// The acquisition state shared by all of the window's handlers. The first group
/// lives with the window; the second is the program-wide driver side (the
/// parameters handed to the card, the transfer buffer, the card's name and its
/// raw calibration). Everything starts at zero, as when the window is created.
struct AcqState {
    // Blocks received since the window loaded; 64 bits so that a long run at a
    // high block rate can never overflow it.
    std::int64_t BlockTotal = 0;
    std::int32_t AdZero = 0; ///< raw code of 0 V
    std::int32_t AdSpan = 0; ///< codes spanning the 10 V range
    std::int16_t CurChn = 0; ///< plotted channel
    std::array<float, kAvgValEntries> AvgVal{};
    std::int16_t SampDiv = 0;    ///< one scan in SampDiv enters the ring
    std::int16_t SampDivCnt = 0; ///< decimation counter, 0..SampDiv-1 between scans
    Ring AdData;
    std::int32_t DataPtr = 0; ///< where the next kept scan goes, 0..31999
    std::int32_t XNum = 0;    ///< plotted points

    std::vector<std::int16_t> AdBuf; ///< one driver block; element 0 and the last are not samples
    std::int32_t PointsPerBuf = 0;
    std::int16_t ChnCount = 0;
    std::int32_t SampFreq = 0;
    std::string HardName;   ///< the card's name bytes, one character per byte
    float ZeroLevel = 0.0F; ///< the card's zero level as reported
    float Span = 0.0F;      ///< the card's span as reported
};
