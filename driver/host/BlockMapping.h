#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

/// The block slots as the host maps them: the mapping the program made and
/// named in its kMapBlocks request (HostProtocol.h). Each system opens it its
/// own way (BlockMapping_win.cpp, BlockMapping_posix.cpp).
class BlockMapping final {
public:
    /// What the program sent: kMapHandle with a handle of the host's own, or
    /// kMapPath with a file's path.
    struct Reference {
        std::uint32_t kind = 0;
        std::uint64_t handle = 0;
        std::string path;
    };

    /// Maps `bytes` of what `reference` names; empty, with the system's
    /// reason, when it cannot.
    static std::unique_ptr<BlockMapping> open(const Reference& reference, std::size_t bytes,
                                              std::string& reason);
    ~BlockMapping();
    BlockMapping(const BlockMapping&) = delete;
    BlockMapping& operator=(const BlockMapping&) = delete;

    std::int16_t* data() const { return static_cast<std::int16_t*>(m_view); }

private:
    BlockMapping(void* view, std::size_t bytes) : m_view(view), m_bytes(bytes) {}

    void* m_view;
    std::size_t m_bytes;
};
