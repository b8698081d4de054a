#pragma once
// Reads typed values off a fuzzer's input, front to back. When the input runs
// out every value reads 0, so each input means one fixed run and a crash
// reproduces from its file alone.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::size_t remaining() const { return m_size - m_pos; }

    template <typename T> T take() {
        T value{};
        const std::size_t n = sizeof(T) < remaining() ? sizeof(T) : remaining();
        if (n > 0)
            std::memcpy(&value, m_data + m_pos, n);
        m_pos += n;
        return value;
    }

    /// A value in 0..count-1 (count > 0).
    std::uint32_t below(std::uint32_t count) { return take<std::uint32_t>() % count; }

    /// Whatever is left, as text.
    std::string_view rest() {
        const std::string_view text(reinterpret_cast<const char*>(m_data + m_pos), remaining());
        m_pos = m_size;
        return text;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};
