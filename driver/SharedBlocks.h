#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class HostLink;

/// The block slots the program shares with the card host: one mapping both
/// processes see, so blocks need not travel over the host's pipe. Nobody but
/// the two of them can reach it:
/// - Windows: an unnamed mapping with default security, whose handle is
///   duplicated into the host;
/// - Linux: a file in /dev/shm with an unguessable name, made with mode 0600
///   for this user alone and removed as soon as the host has it open, so
///   that the native host and a host under Wine (which opens it as
///   Z:\dev\shm\<name>) map the same pages.
/// Each system's way is in SharedBlocks_win.cpp / SharedBlocks_posix.cpp.
class SharedBlocks final {
public:
    /// A mapping of `bytes`; empty, with the system's reason, when none can be had.
    static std::unique_ptr<SharedBlocks> create(std::size_t bytes, QString& reason);
    ~SharedBlocks();
    SharedBlocks(const SharedBlocks&) = delete;
    SharedBlocks& operator=(const SharedBlocks&) = delete;

    std::int16_t* data() const { return static_cast<std::int16_t*>(m_view); }
    std::size_t bytes() const { return m_bytes; }

    /// The tail of the kMapBlocks request (HostProtocol.h) that tells `host`
    /// how to open the mapping: its kind and the handle or path, spelled for
    /// Wine when the host runs under it. Empty, with the reason, when the
    /// mapping cannot be handed over.
    std::string reference(const HostLink& host, bool underWine, QString& reason);
    /// The host has answered: it has the mapping open, or never will. Nothing
    /// else may open it from now on.
    void handedOver();

    /// The file the mapping lives in where it has one (Linux, until
    /// handedOver()), for tests.
    QString path() const;

private:
    struct Native;
    SharedBlocks(void* view, std::size_t bytes, std::unique_ptr<Native> native);

    void* m_view;
    std::size_t m_bytes;
    std::unique_ptr<Native> m_native;
};
