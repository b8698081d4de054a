#pragma once

#include <array>
#include <cstdint>
#include <vector>

/// The simulated card's input signals: each code is a fixed function of the
/// channel and the scan number, so a run can be checked sample by sample and
/// restarts reproduce it exactly. Periodic shapes come from one-period tables
/// built once, noise from an integer hash; no floating point per sample.
class SignalGenerator final {
public:
    /// Channels with a signal of their own; any further channel reads 0 V.
    static constexpr int kSignalChannels = 17;

    SignalGenerator();

    /// Writes `scans` scans of `channels` codes, scan after scan, starting with
    /// scan number `firstScan`. Codes are unsigned 16-bit values stored as their
    /// bit pattern.
    void fill(std::int16_t* samples, std::uint64_t firstScan, int scans, int channels) const;

private:
    enum class Kind { Level, Wave, Counter, FullScaleNoise };
    struct Channel {
        Kind kind = Kind::Level;
        std::uint16_t level = 0;         // Level: the DC code
        std::vector<std::uint16_t> wave; // Wave: one period of codes
        std::int32_t noise = 0;          // uniform noise of +-noise codes on Level and Wave
    };

    static Channel dc(double volts, double noiseVolts = 0.0);
    static Channel sine(int period, double amplitudeVolts, double noiseVolts = 0.0);
    static Channel square(int period, double amplitudeVolts);
    static Channel triangle(int period, double amplitudeVolts);
    static Channel counter();
    static Channel fullScaleNoise();

    void fillChannel(int channel, std::int16_t* out, int stride, std::uint64_t firstScan,
                     int scans) const;

    std::array<Channel, kSignalChannels> m_channels;
};
