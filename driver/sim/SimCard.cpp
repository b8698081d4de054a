#include "SimCard.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace {

using std::chrono::nanoseconds;

constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

// The queue holds at least this much acquisition, so a program that stalls for
// less loses nothing.
constexpr std::int64_t kQueuedSeconds = 1;
// A few blocks of slack even when one block is longer than the queued time.
constexpr std::uint64_t kMinQueuedBlocks = 4;

// Small blocks at high rates complete every few microseconds; collecting them
// at most once a millisecond costs the program nothing (it drains every 50 ms)
// and keeps the thread from waking thousands of times a second.
constexpr std::chrono::milliseconds kMinWakeInterval{1};

} // namespace

SimCard::~SimCard() {
    // The library is unloaded, or the process ends, possibly while a start is
    // still running: the thread must not outlive the code it runs.
    halt();
}

bool SimCard::initialise() {
    halt();
    m_queue.clear();
    m_initialised = true;
    return true;
}

bool SimCard::start(std::int32_t pointsPerBuf, std::int32_t channels, std::int32_t scansPerSecond,
                    std::chrono::milliseconds stall) {
    if (!m_initialised)
        return refuse(kNotInitialised);
    if (scansPerSecond < kMinRate || scansPerSecond > kMaxRate)
        return refuse(kRateOutOfRange);
    if (pointsPerBuf < 1 || pointsPerBuf > kMaxPointsPerBuf || channels < 1 ||
        channels > kMaxChannels)
        return refuse(kBadBlockSize);

    halt();
    const auto rate = static_cast<std::uint64_t>(scansPerSecond);
    const auto points = static_cast<std::uint64_t>(pointsPerBuf);
    const std::uint64_t blocksPerQueue = (rate * kQueuedSeconds + points - 1) / points;
    m_capacity = std::max(blocksPerQueue, kMinQueuedBlocks);
    try {
        m_queue.reset(static_cast<std::size_t>(points) * static_cast<std::size_t>(channels),
                      static_cast<std::size_t>(m_capacity));
    } catch (const std::bad_alloc&) {
        return refuse(kNoResources);
    }

    m_pointsPerBuf = pointsPerBuf;
    m_channels = channels;
    m_rate = scansPerSecond;
    m_stall = stall;
    m_producedBlocks = 0;
    m_stopRequested = false;
    m_startTime = Clock::now();
    try {
        m_thread = std::thread(&SimCard::run, this);
    } catch (const std::system_error&) {
        return refuse(kNoResources);
    }
    return true;
}

void SimCard::stop() {
    halt();
    m_initialised = false;
}

bool SimCard::refuse(std::int32_t error) {
    m_lastError = error;
    return false;
}

void SimCard::halt() {
    if (!m_thread.joinable())
        return;
    {
        // Set under the wait's mutex so the thread cannot miss it between
        // checking and going to sleep.
        std::lock_guard lock(m_wakeMutex);
        m_stopRequested = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

SimCard::Clock::time_point SimCard::completionTime(std::uint64_t block) const {
    // Whole seconds and the remainder apart: scans * 1e9 would overflow 64 bits
    // after a few hours at the highest rate.
    const std::uint64_t scans = (block + 1) * static_cast<std::uint64_t>(m_pointsPerBuf);
    const auto rate = static_cast<std::uint64_t>(m_rate);
    const auto nanos = static_cast<std::int64_t>((scans / rate) * kNanosPerSecond +
                                                 (scans % rate) * kNanosPerSecond / rate);
    return m_startTime + std::chrono::duration_cast<Clock::duration>(nanoseconds(nanos));
}

std::uint64_t SimCard::blocksDueBy(Clock::time_point t) const {
    const std::int64_t elapsed = std::chrono::duration_cast<nanoseconds>(t - m_startTime).count();
    if (elapsed <= 0)
        return 0;
    const auto nanos = static_cast<std::uint64_t>(elapsed);
    const auto rate = static_cast<std::uint64_t>(m_rate);
    const std::uint64_t scans =
        (nanos / kNanosPerSecond) * rate + (nanos % kNanosPerSecond) * rate / kNanosPerSecond;
    return scans / static_cast<std::uint64_t>(m_pointsPerBuf);
}

void SimCard::skipBlocksThatWouldBeDropped(Clock::time_point now) {
    // After a long stall (a suspended machine, a debugger) only the newest
    // queue-full of the overdue blocks can survive; making the older ones just
    // to drop them would keep the thread busy for nothing. One block of margin
    // absorbs rounding between blocksDueBy() and completionTime().
    const std::uint64_t due = blocksDueBy(now);
    if (due <= m_producedBlocks + m_capacity + 1)
        return;
    const std::uint64_t skipped = due - m_producedBlocks - m_capacity - 1;
    m_queue.countSkipped(skipped);
    m_producedBlocks += skipped;
}

bool SimCard::pause(Clock::duration duration) {
    std::unique_lock lock(m_wakeMutex);
    return !m_wake.wait_for(lock, duration, [this] { return m_stopRequested.load(); });
}

void SimCard::run() {
    const auto points = static_cast<std::uint64_t>(m_pointsPerBuf);
    bool stallPending = m_stall.count() > 0;
    while (!m_stopRequested) {
        const Clock::time_point now = Clock::now();
        skipBlocksThatWouldBeDropped(now);
        while (completionTime(m_producedBlocks) <= now) {
            if (m_stopRequested)
                return;
            m_signals.fill(m_queue.slotToFill(), m_producedBlocks * points, m_pointsPerBuf,
                           m_channels);
            m_queue.publish();
            ++m_producedBlocks;
            if (stallPending)
                break;
        }
        if (stallPending && m_producedBlocks > 0) {
            stallPending = false;
            if (!pause(m_stall))
                return;
            // Catch up from the time after the stall, as a late interrupt would.
            continue;
        }
        const Clock::time_point earliest = now + kMinWakeInterval;
        const Clock::time_point wakeAt = std::max(completionTime(m_producedBlocks), earliest);
        std::unique_lock lock(m_wakeMutex);
        m_wake.wait_until(lock, wakeAt, [this] { return m_stopRequested.load(); });
    }
}
