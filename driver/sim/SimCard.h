#pragma once

#include "BlockQueue.h"
#include "SignalGenerator.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

/// The simulated card behind the library's exports. Calls come from one
/// program thread; a start runs acquisition on a thread of the card's own that
/// completes blocks at the requested rate, as the card's interrupts would.
class SimCard final {
public:
    /// Error numbers reported by lastError().
    enum Error : std::int32_t {
        kNoError = 0,
        kNotInitialised = 1, ///< start without Initial since the last stop
        kRateOutOfRange = 2, ///< scans per second outside kMinRate..kMaxRate
        kBadBlockSize = 3,   ///< scans per block or channels outside their ranges
        kNoResources = 4,    ///< memory for the blocks or the thread not available
    };

    static constexpr std::int32_t kMinRate = 1;
    static constexpr std::int32_t kMaxRate = 1'000'000;
    static constexpr std::int32_t kMaxPointsPerBuf = 65536;
    static constexpr std::int32_t kMaxChannels = 32;

    SimCard() = default;
    ~SimCard();
    SimCard(const SimCard&) = delete;
    SimCard& operator=(const SimCard&) = delete;

    /// Stops any acquisition, discards waiting blocks and arms the card for
    /// the next start.
    bool initialise();
    /// Starts acquisition afresh (a running one is stopped first): blocks of
    /// `pointsPerBuf` scans of `channels` codes, `scansPerSecond` scans per
    /// second. On failure sets lastError(); a start refused for its arguments
    /// leaves everything as it was. With a `stall`, the acquisition thread
    /// stops for that long after the first block, as a card whose interrupts
    /// were held up would, and then delivers what fell due at once; what no
    /// longer fits the queue is dropped.
    bool start(std::int32_t pointsPerBuf, std::int32_t channels, std::int32_t scansPerSecond,
               std::chrono::milliseconds stall = std::chrono::milliseconds{0});
    /// Fails the current call with `error`: records it for lastError() and
    /// changes nothing else. The card's own refusals go through here, and so
    /// do the faults a faulty card is asked to show (SimFaults.h). Always
    /// false.
    bool refuse(std::int32_t error);
    /// Stops acquisition and disarms the card; harmless when nothing runs.
    /// Blocks completed so far stay available.
    void stop();

    /// The error number of the last failed call; 0 before any failure.
    std::int32_t lastError() const { return m_lastError; }
    /// Completed blocks waiting.
    std::size_t readyBlocks() const { return m_queue.waiting(); }
    /// Copies the oldest waiting block's codes to `samples`, scan after scan;
    /// false, with `samples` untouched, when none waits.
    bool takeOldestBlock(std::int16_t* samples) { return m_queue.takeOldest(samples); }
    /// Blocks lost to a full queue since the last start.
    std::int64_t droppedBlocks() const { return m_queue.dropped(); }

    /// Lets go of the acquisition thread without waiting for it: for a process
    /// that is ending, where the system has already stopped it.
    void abandon() {
        if (m_thread.joinable())
            m_thread.detach();
    }

private:
    using Clock = std::chrono::steady_clock;

    void halt();
    void run();
    /// Waits `duration` on the acquisition thread; false when a stop came first.
    bool pause(Clock::duration duration);
    Clock::time_point completionTime(std::uint64_t block) const;
    std::uint64_t blocksDueBy(Clock::time_point t) const;
    void skipBlocksThatWouldBeDropped(Clock::time_point now);

    SignalGenerator m_signals;
    BlockQueue m_queue;
    std::thread m_thread;
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    std::atomic<bool> m_stopRequested = false;

    bool m_initialised = false;
    std::int32_t m_lastError = kNoError;

    // The running acquisition; written before its thread starts, then read and
    // advanced by that thread only.
    std::int32_t m_pointsPerBuf = 0;
    std::int32_t m_channels = 0;
    std::int32_t m_rate = 0;
    std::chrono::milliseconds m_stall{0};
    std::uint64_t m_capacity = 0;
    Clock::time_point m_startTime;
    std::uint64_t m_producedBlocks = 0;
};
