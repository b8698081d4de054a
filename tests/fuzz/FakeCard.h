#pragma once
// The card behind fuzz_host_requests: a plain, deterministic card with no
// thread and nothing slow, so the host's request reader is all an input
// spends its time in. The fuzz build makes it a shared library of its own
// (FakeCardLibrary.cpp, loaded by the host's CardLibrary as any card library
// is), and the target keeps a second copy in its own code: the host's
// replies must say what that copy, called directly with the same arguments
// in the same order, says.

#include <cstdint>
#include <cstring>

namespace fakecard {

/// Most samples in a block the card starts with: the program's largest
/// block, 500 scans of 17 channels. Larger shapes are refused, so the host's
/// slots never pass about a megabyte and no input is slow.
inline constexpr std::int64_t kMaxSamples = 500 * 17;
inline constexpr std::uint32_t kMaxElements = kMaxSamples + 2;

/// Error numbers GetLastADError reports.
inline constexpr std::int32_t kNotInitialised = 1;
inline constexpr std::int32_t kTooLarge = 3;
inline constexpr std::int32_t kInitialRefused = 4;

inline std::uint32_t mix(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352DU;
    x ^= x >> 15;
    x *= 0x846CA68BU;
    x ^= x >> 16;
    return x;
}

class Card {
public:
    std::int32_t configInfo(std::uint8_t* name, std::int32_t* v1, std::int32_t* v2, std::int32_t*,
                            std::int32_t*, float* zeroLevel, float* span, std::int32_t* extra) {
        ++m_configs;
        // The name with its zero byte and nothing after it, as a card that
        // writes only what it has; the other references now and then.
        static constexpr char kName[] = "Fuzz card";
        std::memcpy(name, kName, sizeof kName);
        *zeroLevel = 2048.0F;
        *span = 4096.0F + static_cast<float>(m_configs);
        if (m_configs % 2 == 0)
            *v2 = static_cast<std::int32_t>(m_seed);
        if (m_configs % 4 == 1)
            *extra = static_cast<std::int32_t>(static_cast<std::uint32_t>(*v1) + 1U);
        return m_configs % 3 == 0 ? 0 : 1;
    }

    std::int32_t stopIntr() {
        m_started = false;
        return 1;
    }

    std::int32_t initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
        if (a == -1) {
            m_error = kInitialRefused;
            return 0;
        }
        m_seed = mix(static_cast<std::uint32_t>(a) ^
                     mix(static_cast<std::uint32_t>(b) ^
                         mix(static_cast<std::uint32_t>(c) ^ static_cast<std::uint32_t>(d))));
        m_initialised = true;
        m_started = false;
        m_ready = 0;
        m_error = 0;
        return 1;
    }

    std::int32_t startIntr(std::int16_t, std::int32_t pointsPerBuf, std::int16_t,
                           std::int16_t chnCount, std::int32_t sampFreq, std::int32_t,
                           std::int16_t) {
        if (!m_initialised) {
            m_error = kNotInitialised;
            return 0;
        }
        if (std::int64_t{pointsPerBuf} * chnCount > kMaxSamples) {
            m_error = kTooLarge;
            return 0;
        }
        // A shape that is no block is accepted, and then has no block to
        // write: the host must still give its buffer the two elements.
        m_elements = pointsPerBuf > 0 && chnCount > 0
                         ? static_cast<std::uint32_t>(pointsPerBuf * chnCount + 2)
                         : 0;
        m_started = true;
        m_ready = 0;
        m_blocks = 0;
        m_queries = 0;
        m_seed = mix(m_seed ^ static_cast<std::uint32_t>(sampFreq));
        return 1;
    }

    std::int32_t getLastADError() const { return m_error; }

    std::int32_t queryBuf() {
        ++m_queries;
        if (m_started && m_elements > 0)
            m_ready += static_cast<std::int32_t>((m_seed + m_queries) % 4);
        // Now and then something in the high half, as a card may answer.
        const std::uint32_t high = m_queries % 5 == 0 ? (m_queries & 7U) << 16 : 0;
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(m_ready) | high);
    }

    std::int32_t adResult(std::int16_t* buffer) {
        if (!m_started || m_elements == 0 || m_ready == 0)
            return 0;
        --m_ready;
        const std::uint32_t n = ++m_blocks;
        // The samples, and now and then element 0 or the last one too; every
        // fifth block repeats the one before, so the host's span of what
        // changed is sometimes short or empty.
        const std::uint32_t first = n % 3 == 0 ? 0 : 1;
        const std::uint32_t end = n % 4 == 0 ? m_elements : m_elements - 1;
        const std::uint32_t block = n % 5 == 0 ? n - 1 : n;
        for (std::uint32_t i = first; i < end; ++i)
            buffer[i] = static_cast<std::int16_t>(mix(m_seed ^ (block * 0x9E3779B9U) ^ i));
        return n % 7 == 0 ? 2 : 1;
    }

    std::int64_t simDroppedBlocks() const { return std::int64_t{m_blocks} << 31; }

private:
    bool m_initialised = false;
    bool m_started = false;
    std::uint32_t m_seed = 0;
    std::int32_t m_error = 0;
    std::uint32_t m_elements = 0;
    std::int32_t m_ready = 0;
    std::uint32_t m_queries = 0;
    std::uint32_t m_blocks = 0;
    std::uint32_t m_configs = 0;
};

} // namespace fakecard
