#pragma once
// Reads typed values off a fuzzer's input, front to back. When the input runs
// out every value reads 0, so each input means one fixed run and a crash
// reproduces from its file alone.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

/// Whether an input is one of the one in `n` on which a target runs its
/// slowest checks. The pick is a hash of the whole input, so any change to an
/// input picks again and a failing input repeats from its file alone, however
/// much the corpus favours some byte values (a first byte of zero is common).
/// A replay of the seeds, where speed does not matter, picks every input.
inline bool sampledInput(const std::uint8_t* data, std::size_t size, std::uint32_t n) {
#ifdef MULTIBUF_SEED_REPLAY
    static_cast<void>(data);
    static_cast<void>(size);
    static_cast<void>(n);
    return true;
#else
    std::uint32_t hash = 2166136261U; // FNV-1a
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619U;
    return hash % n == 0;
#endif
}

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::size_t remaining() const { return m_size - m_pos; }

    template <typename T> T take() {
        // A copy of a fixed size stays in a register; the short copy at the
        // input's end needs its value in memory, which the sanitizers' stack
        // checks make costly, so it is a call of its own that only runs there.
        if (remaining() < sizeof(T))
            return remaining() == 0 ? T{} : takeShort<T>();
        T value;
        std::memcpy(&value, m_data + m_pos, sizeof(T));
        m_pos += sizeof(T);
        return value;
    }

    /// A value in 0..count-1 (count > 0).
    std::uint32_t below(std::uint32_t count) { return take<std::uint32_t>() % count; }

    /// The next `count` bytes, or fewer where the input ends first.
    std::string_view bytes(std::size_t count) {
        const std::size_t n = count < remaining() ? count : remaining();
        const std::string_view taken(reinterpret_cast<const char*>(m_data + m_pos), n);
        m_pos += n;
        return taken;
    }

    /// Whatever is left, as text.
    std::string_view rest() {
        const std::string_view text(reinterpret_cast<const char*>(m_data + m_pos), remaining());
        m_pos = m_size;
        return text;
    }

private:
    template <typename T> [[gnu::noinline]] T takeShort() {
        T value{};
        const std::size_t n = remaining();
        if (n > 0)
            std::memcpy(&value, m_data + m_pos, n);
        m_pos += n;
        return value;
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

/// Bytes as hex digits, for a failure's report.
inline std::string hex(std::string_view s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char c : s) {
        out += digits[static_cast<unsigned char>(c) >> 4];
        out += digits[static_cast<unsigned char>(c) & 15];
    }
    return out;
}
