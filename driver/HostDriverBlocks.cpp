// HostDriver's blocks: the slots it shares with the host, and ADResult with
// its read-ahead. The calls, their time limits and the host's end are in
// HostDriver.cpp.

#include "HostDriver.h"

#include "driver/host/HostProtocol.h"

#include <algorithm>
#include <cstring>

using namespace hostproto;

void HostDriver::mapBlocks(const char* function) {
    if (m_blocks || m_state == State::Gone)
        return;
    const Call call(*this, function);
    // The mapping is handed to the running process.
    startHost();
    const std::uint32_t slotCount = blockSlots(m_elements);
    QString reason;
    auto blocks =
        SharedBlocks::create(static_cast<std::size_t>(mappingBytes(slotCount, m_elements)), reason);
    if (!blocks)
        lost(QStringLiteral("无法为驱动程序主机 %1 建立共享内存：%2").arg(m_host->path(), reason));
    std::string r = request(kMapBlocks);
    putU32(r, slotCount);
    putU32(r, m_elements);
    const std::string tail = blocks->reference(*m_host, m_underWine, reason);
    if (tail.empty())
        lost(QStringLiteral("无法为驱动程序主机 %1 建立共享内存：%2").arg(m_host->path(), reason));
    r += tail;
    send(r);
    receiveStatus();
    char size[4];
    receive(size, 4);
    if (getU32(size) > kMaxText)
        garbled();
    std::string text(getU32(size), '\0');
    receive(text.data(), static_cast<qint64>(text.size()));
    blocks->handedOver();
    if (!text.empty()) {
        lost(QStringLiteral("驱动程序主机 %1 无法打开共享内存：%2")
                 .arg(m_host->path(), QString::fromUtf8(text)));
    }
    m_blocks = std::move(blocks);
    m_slots = slotCount;
}

std::int16_t* HostDriver::slot(std::uint32_t index) const {
    return m_blocks->data() + std::size_t{index} * m_elements;
}

HostDriver::Block HostDriver::receiveBlock() {
    // Taken for the rest of the request's blocks, such a failure would leave
    // the replies out of step with the blocks still announced.
    receiveStatus(m_nextSlot == 1);
    char head[16];
    receive(head, sizeof head);
    Block block;
    block.result = getI32(head);
    block.slot = getU32(head + 4);
    block.first = getU32(head + 8);
    block.end = getU32(head + 12);
    // Each reply names the next slot, within the mapping, and a span within
    // the slot: anything else is not to be followed into memory.
    if (block.slot != m_nextSlot || block.slot >= m_slots || block.first > block.end ||
        block.end > m_elements)
        garbled();
    ++m_nextSlot;
    return block;
}

void HostDriver::collectReadAhead() {
    // Another call is about to be made while announced blocks are still on
    // their way: take them in first, to be handed out in order. Their slots
    // stay as they are until the next ADResult request.
    while (m_inFlight > 0) {
        --m_inFlight;
        m_readAhead.push_back(receiveBlock());
    }
}

std::int32_t HostDriver::ADResult(std::int16_t* buffer) {
    if (m_state == State::Gone)
        return 0;
    Block block;
    if (!m_readAhead.empty()) {
        block = m_readAhead.front();
        m_readAhead.pop_front();
    } else {
        // Before the first start the buffer has its two elements, and slots too.
        mapBlocks("ADResult");
        if (m_state == State::Gone)
            return 0;
        const Call call(*this, "ADResult");
        if (m_inFlight == 0) {
            const auto wanted = static_cast<std::uint32_t>(std::max<std::int32_t>(m_announced, 1));
            const std::uint32_t calls = std::min(wanted, m_slots - 1);
            m_announced -= static_cast<std::int32_t>(
                std::min<std::uint32_t>(static_cast<std::uint32_t>(m_announced), calls));
            // The first call finds exactly the caller's buffer, as a direct
            // call would.
            std::memcpy(slot(0), buffer, std::size_t{m_elements} * 2);
            std::string r = request(kADResult);
            putU32(r, calls);
            send(r);
            m_inFlight = calls;
            m_nextSlot = 1;
        }
        --m_inFlight;
        try {
            block = receiveBlock();
        } catch (...) {
            // A failed binding is the host's only answer to the request.
            m_inFlight = 0;
            throw;
        }
    }
    // What the library wrote is what this call changed against the call
    // before; everything else stays as the caller has it.
    // Every element of the span is stored, the caller's own value where the
    // call left it alone: a store the compiler can do many elements at a
    // time, where a store only on a difference goes one element at a time.
    const std::int16_t* before = slot(block.slot - 1);
    const std::int16_t* after = slot(block.slot);
    for (std::uint32_t i = block.first; i < block.end; ++i)
        buffer[i] = after[i] != before[i] ? after[i] : buffer[i];
    return block.result;
}
