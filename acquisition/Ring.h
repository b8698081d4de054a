#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

/// Points kept per channel: the ring uses points 0 to 31999.
inline constexpr std::int32_t kRingPoints = 32000;
/// Channel rows per point: channels 0 to 16 are acquired, row 17 stays 0.
inline constexpr std::int32_t kRingRows = 18;

/// The point after `i`: 31999 wraps to 0.
constexpr std::int32_t ringAdvance(std::int32_t i) {
    return i + 1 == kRingPoints ? 0 : i + 1;
}

/// `i` stepped back by `n` (1 <= n <= 32000): the oldest of the last n points
/// when `i` is the write pointer.
constexpr std::int32_t ringStepBack(std::int32_t i, std::int32_t n) {
    const std::int32_t back = i - n;
    return back < 0 ? back + kRingPoints : back;
}

/// The ring of raw codes, one contiguous block, point-major: the 18 channel rows
/// of one point lie next to each other. Point column 32000 exists (the original
/// array was declared 0 to 32000) and is never written or read.
class Ring {
public:
    Ring() : m_codes(static_cast<std::size_t>(kRingRows) * (kRingPoints + 1), 0) {}

    std::int32_t& operator()(std::int32_t ch, std::int32_t p) { return m_codes[index(ch, p)]; }
    std::int32_t operator()(std::int32_t ch, std::int32_t p) const { return m_codes[index(ch, p)]; }
    /// Start of point `p`'s row block, for loops that fill a whole point.
    std::int32_t* point(std::int32_t p) { return m_codes.data() + index(0, p); }
    const std::int32_t* point(std::int32_t p) const { return m_codes.data() + index(0, p); }

    /// Sets channels 0..channels-1 of points 0..31999 to `code`.
    void fill(std::int32_t channels, std::int32_t code);

private:
    static std::size_t index(std::int32_t ch, std::int32_t p) {
        return static_cast<std::size_t>(p) * kRingRows + static_cast<std::size_t>(ch);
    }
    std::vector<std::int32_t> m_codes;
};
