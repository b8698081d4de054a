#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

/// Completed blocks waiting for the program, oldest first, in slots allocated
/// once per run. One producer thread fills the slot after the newest block
/// without holding the lock and publishes it; the consumer copies the oldest
/// block out under the lock. When the program falls behind, the oldest block
/// gives way to the new one and is counted as dropped.
class BlockQueue final {
public:
    /// Discards every block and makes room for `capacity` waiting blocks of
    /// `blockSamples` codes each. Only while no producer runs. Throws
    /// std::bad_alloc when the memory is not there.
    void reset(std::size_t blockSamples, std::size_t capacity);
    /// Discards the waiting blocks without counting them as dropped. Only while
    /// no producer runs.
    void clear();

    /// Producer: the slot to fill next. No waiting block lives there, so the
    /// producer writes it without the lock.
    std::int16_t* slotToFill();
    /// Producer: makes the filled slot the newest waiting block.
    void publish();
    /// Producer: counts blocks that were due but skipped because they would
    /// have been dropped before anyone could take them.
    void countSkipped(std::uint64_t blocks);

    /// Number of blocks waiting.
    std::size_t waiting() const;
    /// Copies the oldest waiting block to `out` and removes it; false, with
    /// `out` untouched, when none waits.
    bool takeOldest(std::int16_t* out);
    /// Blocks dropped or skipped since the last reset().
    std::int64_t dropped() const;

private:
    std::int16_t* slot(std::size_t index) { return m_storage.data() + index * m_blockSamples; }

    mutable std::mutex m_mutex;
    std::vector<std::int16_t> m_storage;
    std::size_t m_blockSamples = 0;
    // One slot more than the queue holds: the producer's slot is never a
    // waiting one, even while the queue is full.
    std::size_t m_slots = 0;
    std::size_t m_oldest = 0;
    std::size_t m_waiting = 0;
    // Always (m_oldest + m_waiting) % m_slots. A take moves m_oldest and
    // m_waiting together and leaves it unchanged, so the producer may read it
    // without the lock.
    std::size_t m_fill = 0;
    std::int64_t m_dropped = 0;
};
