#include "BlockQueue.h"

#include <algorithm>

void BlockQueue::reset(std::size_t blockSamples, std::size_t capacity) {
    const std::size_t slots = capacity + 1;
    std::lock_guard lock(m_mutex);
    if (m_storage.size() != blockSamples * slots) {
        // Release the old run's slots first so a large restart does not hold
        // both; constructing the vector zeroes, and so touches, every page now
        // rather than on the acquisition thread.
        m_storage = {};
        m_storage = std::vector<std::int16_t>(blockSamples * slots);
    }
    m_blockSamples = blockSamples;
    m_slots = slots;
    m_oldest = 0;
    m_waiting = 0;
    m_fill = 0;
    m_dropped = 0;
}

void BlockQueue::clear() {
    std::lock_guard lock(m_mutex);
    m_oldest = m_fill;
    m_waiting = 0;
}

std::int16_t* BlockQueue::slotToFill() {
    return slot(m_fill);
}

void BlockQueue::publish() {
    std::lock_guard lock(m_mutex);
    if (m_waiting + 1 == m_slots) {
        m_oldest = (m_oldest + 1) % m_slots;
        ++m_dropped;
    } else {
        ++m_waiting;
    }
    m_fill = (m_fill + 1) % m_slots;
}

void BlockQueue::countSkipped(std::uint64_t blocks) {
    std::lock_guard lock(m_mutex);
    m_dropped += static_cast<std::int64_t>(blocks);
}

std::size_t BlockQueue::waiting() const {
    std::lock_guard lock(m_mutex);
    return m_waiting;
}

bool BlockQueue::takeOldest(std::int16_t* out) {
    std::lock_guard lock(m_mutex);
    if (m_waiting == 0)
        return false;
    const std::int16_t* const block = slot(m_oldest);
    std::copy(block, block + m_blockSamples, out);
    m_oldest = (m_oldest + 1) % m_slots;
    --m_waiting;
    return true;
}

std::int64_t BlockQueue::dropped() const {
    std::lock_guard lock(m_mutex);
    return m_dropped;
}
