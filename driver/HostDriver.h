#pragma once

#include "AdDriver.h"
#include "HostLink.h"
#include "SharedBlocks.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

/// The card library reached through the card host (tovira-host), a process of
/// the library's own architecture that loads it and serves its calls over its
/// standard input and output (driver/host/HostProtocol.h). This class speaks
/// that protocol; HostProcess runs the host. The host is started at the first
/// call. Every failure is a FatalError naming the library, the host or the
/// function and the cause: a missing library or export (as LibraryDriver
/// words it), a crash inside the library, a host that ends, or one that does
/// not answer. A host that ends, or talks nonsense, before its first valid
/// answer could not be run at all (a Wine without 32-bit support, say): the
/// message says so and gives how it ended and the launcher's last words.
///
/// Blocks come through a mapping shared with the host (SharedBlocks), made at
/// each StartIntr that changes the block's size; the pipe carries only the
/// calls and short replies. Blocks are read ahead: the first ADResult after a
/// QueryBuf asks for the blocks that QueryBuf announced (as many as the
/// mapping has slots for), and the host copies them one after another into
/// the slots while the program takes them. The library sees the same calls in
/// the same order as long as every announced block is copied, which is what
/// the drain does; a call made before that takes the rest in first and hands
/// them out later, in order. The caller's buffer after each ADResult holds
/// what it would after a direct call: only the elements the library changed
/// are written.
class HostDriver final : public AdDriver {
public:
    struct Timeouts {
        /// The first call starts the host (and Wine may still be making its prefix).
        std::chrono::milliseconds first{60'000};
        std::chrono::milliseconds call{10'000};
    };

    /// `launcher` runs the host program (empty, or e.g. {"wine"});
    /// `hostArguments` follow its path (the library's path, where it is not
    /// beside the host); `libraryPath` is the library the host loads, named in
    /// messages.
    HostDriver(QString hostPath, QStringList launcher, QString libraryPath, Timeouts timeouts,
               QStringList hostArguments = {});
    HostDriver(QString hostPath, QStringList launcher, QString libraryPath)
        : HostDriver(std::move(hostPath), std::move(launcher), std::move(libraryPath), Timeouts{}) {
    }
    /// The same over a host of the caller's (a HostProcess, or a stand-in);
    /// `underWine` spells the mapping's path for a host under Wine.
    HostDriver(std::unique_ptr<HostLink> host, QString libraryPath, Timeouts timeouts,
               bool underWine = false);
    HostDriver(const HostDriver&) = delete;
    HostDriver& operator=(const HostDriver&) = delete;

    std::int32_t ConfigInfo(std::uint8_t* name201, std::int32_t* v1, std::int32_t* v2,
                            std::int32_t* v3, std::int32_t* v4, float* zeroLevel, float* span,
                            std::int32_t* extra) override;
    std::int32_t StopIntr() override;
    std::int32_t Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) override;
    std::int32_t StartIntr(std::int16_t a, std::int32_t pointsPerBuf, std::int16_t b,
                           std::int16_t chnCount, std::int32_t sampFreq, std::int32_t c,
                           std::int16_t d) override;
    std::int32_t GetLastADError() override;
    std::int32_t QueryBuf() override;
    std::int32_t ADResult(std::int16_t* buffer) override;

    /// Called once, from the event loop, with the fatal message when the host
    /// ends while no call is waiting for it. Calls after that return 0: the
    /// program is ending with that message.
    void setHostLostHandler(std::function<void(const QString&)> handler) {
        m_onLost = std::move(handler);
    }

    /// A request beyond the card's own calls (a tool's question, such as the
    /// simulated card's dropped blocks), answered with `replyBytes` after the
    /// status; empty when the host is already gone.
    std::string ask(const std::string& request, std::size_t replyBytes, const char* function);

    /// The host's process, for tools and tests that watch it.
    const HostLink& process() const { return *m_host; }
    /// The block slots shared with the host; null before the first is made.
    const SharedBlocks* sharedBlocks() const { return m_blocks.get(); }

private:
    /// Where the conversation with the host stands.
    enum class State {
        Unstarted, ///< no call made yet
        Starting,  ///< the first call, before the host's first valid answer
        Idle,      ///< answering; no call waits for it
        InCall,    ///< answering; a call waits for its reply
        Gone,      ///< crashed, ended or silent: no further call reaches it
    };
    /// One call to the host, from its request to its reply. While it lives, an end
    /// of the host is this call's to report, and it runs against its own time
    /// limit: the first call's (which starts the host) or the usual one.
    class Call {
    public:
        Call(HostDriver& driver, const char* function) : m_driver(driver) {
            const bool first =
                driver.m_state == State::Unstarted || driver.m_state == State::Starting;
            driver.m_function = function;
            driver.m_limit = first ? driver.m_timeouts.first : driver.m_timeouts.call;
            driver.m_deadline = HostLink::Clock::now() + driver.m_limit;
            driver.m_state = first ? State::Starting : State::InCall;
        }
        ~Call() {
            // A host that failed the call is Gone already and stays so.
            if (m_driver.m_state == State::InCall)
                m_driver.m_state = State::Idle;
            else if (m_driver.m_state == State::Starting)
                m_driver.m_state = State::Unstarted;
        }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

    private:
        HostDriver& m_driver;
    };

    /// One call's reply: slot `slot` holds the buffer after the call, which
    /// changed only elements first to end - 1 of the slot before it.
    struct Block {
        std::int32_t result = 0;
        std::uint32_t slot = 0;
        std::uint32_t first = 0;
        std::uint32_t end = 0;
    };

    /// Starts the host if needed, hands in anything read ahead, then sends the
    /// request.
    void send(const std::string& request);
    /// Starts the host at the first call.
    void startHost();
    std::int32_t callI32(const std::string& request, const char* function);
    void collectReadAhead();
    /// Makes slots of the block buffer's size and hands them to the host,
    /// unless it has them already.
    void mapBlocks(const char* function);
    Block receiveBlock();
    std::int16_t* slot(std::uint32_t index) const;
    /// Reads a reply's status; a failure is fatal with the host's words.
    /// `failureAllowed` is false for a block after a request's first: the
    /// host says a function is missing only as its one answer to a request.
    void receiveStatus(bool failureAllowed = true);
    void receive(char* data, qint64 bytes);
    [[noreturn]] void lost(const QString& message);
    /// After a wait that came back empty: the host ended, or it is silent.
    [[noreturn]] void failWaiting(HostLink::Wait why);
    [[noreturn]] void garbled();
    void onFinished();

    bool m_underWine; // the host runs through Wine: paths are spelled for it
    std::unique_ptr<HostLink> m_host;
    QString m_libraryPath;
    Timeouts m_timeouts;
    std::function<void(const QString&)> m_onLost;

    State m_state = State::Unstarted;
    // The call in progress: its function, its time limit and when that runs out.
    const char* m_function = "";
    std::chrono::milliseconds m_limit{0};
    HostLink::Clock::time_point m_deadline;

    // The block buffer's size since the last start, and the slots of that size
    // shared with the host.
    std::uint32_t m_elements;
    std::unique_ptr<SharedBlocks> m_blocks;
    std::uint32_t m_slots = 0;
    std::int32_t m_announced = 0;  // blocks the last QueryBuf announced, not yet asked for
    std::uint32_t m_inFlight = 0;  // block replies asked for and not yet read
    std::uint32_t m_nextSlot = 0;  // the slot the next block reply must name
    std::deque<Block> m_readAhead; // block replies read before the program asked for them
};
