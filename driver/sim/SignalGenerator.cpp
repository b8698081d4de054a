#include "SignalGenerator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// A 16-bit card over -5 V..+5 V: code 0 is -5 V, 32768 is 0 V, 65535 just under +5 V.
constexpr double kZeroCode = 32768.0;
constexpr double kCodesPerVolt = 65536.0 / 10.0;

// Channels are filled a slice of scans at a time so the slice stays in the
// first-level cache while each channel writes its column of it.
constexpr int kSliceScans = 256;

std::uint16_t codeOf(double volts) {
    const double code = std::round(kZeroCode + volts * kCodesPerVolt);
    return static_cast<std::uint16_t>(std::clamp(code, 0.0, 65535.0));
}

std::int32_t codesOf(double volts) {
    return static_cast<std::int32_t>(std::lround(volts * kCodesPerVolt));
}

// splitmix64's finaliser over scan and channel: cheap, stateless, and the same
// for a given scan wherever block boundaries fall.
std::uint16_t noiseBits(std::uint64_t scan, int channel) {
    std::uint64_t z = scan * 0x9E3779B97F4A7C15ULL +
                      static_cast<std::uint64_t>(channel + 1) * 0xD1B54A32D192ED03ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return static_cast<std::uint16_t>(z >> 48);
}

// Maps 16 random bits onto -spread..+spread, all values about equally likely.
std::int32_t spreadNoise(std::uint16_t bits, std::int32_t spread) {
    const auto width = static_cast<std::uint32_t>(2 * spread + 1);
    return static_cast<std::int32_t>((bits * width) >> 16) - spread;
}

std::int16_t sample(std::int32_t code) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(std::clamp(code, 0, 65535)));
}

} // namespace

SignalGenerator::SignalGenerator()
    : m_channels{
          dc(0.0, 0.002),      // 0
          sine(400, 4.0),      // 1
          square(1000, 3.0),   // 2
          triangle(2000, 4.0), // 3
          counter(),           // 4
          dc(1.0),             // 5
          dc(-1.0),            // 6
          dc(2.5),             // 7
          dc(-2.5),            // 8
          sine(100, 2.0),      // 9
          sine(5000, 4.5),     // 10
          sine(32000, 4.0),    // 11
          dc(0.0, 0.5),        // 12
          sine(400, 3.0, 0.3), // 13
          fullScaleNoise(),    // 14
          dc(4.9),             // 15
          dc(-4.9),            // 16
      } {
}

SignalGenerator::Channel SignalGenerator::dc(double volts, double noiseVolts) {
    Channel c;
    c.kind = Kind::Level;
    c.level = codeOf(volts);
    c.noise = codesOf(noiseVolts);
    return c;
}

SignalGenerator::Channel SignalGenerator::sine(int period, double amplitudeVolts,
                                               double noiseVolts) {
    Channel c;
    c.kind = Kind::Wave;
    c.wave.resize(static_cast<std::size_t>(period));
    for (int p = 0; p < period; ++p)
        c.wave[p] = codeOf(amplitudeVolts * std::sin(2.0 * std::numbers::pi * p / period));
    c.noise = codesOf(noiseVolts);
    return c;
}

SignalGenerator::Channel SignalGenerator::square(int period, double amplitudeVolts) {
    Channel c;
    c.kind = Kind::Wave;
    c.wave.resize(static_cast<std::size_t>(period));
    for (int p = 0; p < period; ++p)
        c.wave[p] = codeOf(p < period / 2 ? amplitudeVolts : -amplitudeVolts);
    return c;
}

SignalGenerator::Channel SignalGenerator::triangle(int period, double amplitudeVolts) {
    // Rises from the negative peak at phase 0 to the positive peak at half a
    // period and falls back.
    Channel c;
    c.kind = Kind::Wave;
    c.wave.resize(static_cast<std::size_t>(period));
    const double half = period / 2.0;
    for (int p = 0; p < period; ++p) {
        const double rise = p < half ? p / half : (period - p) / half;
        c.wave[p] = codeOf(amplitudeVolts * (2.0 * rise - 1.0));
    }
    return c;
}

SignalGenerator::Channel SignalGenerator::counter() {
    Channel c;
    c.kind = Kind::Counter;
    return c;
}

SignalGenerator::Channel SignalGenerator::fullScaleNoise() {
    Channel c;
    c.kind = Kind::FullScaleNoise;
    return c;
}

void SignalGenerator::fill(std::int16_t* samples, std::uint64_t firstScan, int scans,
                           int channels) const {
    for (int done = 0; done < scans; done += kSliceScans) {
        const int slice = std::min(kSliceScans, scans - done);
        std::int16_t* const sliceStart = samples + static_cast<std::ptrdiff_t>(done) * channels;
        for (int ch = 0; ch < channels; ++ch)
            fillChannel(ch, sliceStart + ch, channels, firstScan + done, slice);
    }
}

void SignalGenerator::fillChannel(int channel, std::int16_t* out, int stride,
                                  std::uint64_t firstScan, int scans) const {
    if (channel >= kSignalChannels) {
        const std::int16_t zero = sample(static_cast<std::int32_t>(kZeroCode));
        for (int j = 0; j < scans; ++j)
            out[static_cast<std::ptrdiff_t>(j) * stride] = zero;
        return;
    }
    const Channel& c = m_channels[static_cast<std::size_t>(channel)];
    switch (c.kind) {
    case Kind::Level:
        for (int j = 0; j < scans; ++j) {
            std::int32_t code = c.level;
            if (c.noise != 0)
                code += spreadNoise(noiseBits(firstScan + j, channel), c.noise);
            out[static_cast<std::ptrdiff_t>(j) * stride] = sample(code);
        }
        break;
    case Kind::Wave: {
        const std::size_t period = c.wave.size();
        std::size_t phase = static_cast<std::size_t>(firstScan % period);
        for (int j = 0; j < scans; ++j) {
            std::int32_t code = c.wave[phase];
            if (c.noise != 0)
                code += spreadNoise(noiseBits(firstScan + j, channel), c.noise);
            out[static_cast<std::ptrdiff_t>(j) * stride] = sample(code);
            if (++phase == period)
                phase = 0;
        }
        break;
    }
    case Kind::Counter:
        // Wraps at 65536 like the code itself, so a lost or repeated scan
        // shows as a step other than +1 anywhere in a run.
        for (int j = 0; j < scans; ++j) {
            const auto code = static_cast<std::uint16_t>((firstScan + j) & 0xFFFFU);
            out[static_cast<std::ptrdiff_t>(j) * stride] = static_cast<std::int16_t>(code);
        }
        break;
    case Kind::FullScaleNoise:
        for (int j = 0; j < scans; ++j)
            out[static_cast<std::ptrdiff_t>(j) * stride] =
                static_cast<std::int16_t>(noiseBits(firstScan + j, channel));
        break;
    }
}
