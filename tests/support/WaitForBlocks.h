#pragma once

#include "driver/AdDriver.h"

#include <chrono>
#include <thread>

/// Polls the card's ready count until it reaches `count`; false when `timeout`
/// passes first. For tests on the simulated card, whose thread fills blocks in
/// real time.
inline bool waitForBlocks(AdDriver& card, int count,
                          std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (card.QueryBuf() < count) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
