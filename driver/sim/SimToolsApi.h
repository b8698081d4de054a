#pragma once
// The simulated card's one export beyond the card library's own functions,
// for tools and benchmarks; the program never calls it. Plain C calling
// convention, so the export name is `SimDroppedBlocks` on every platform.

#include <cstdint>

extern "C" {
/// Blocks the card completed since the last StartIntr that were dropped
/// because the queue was full (the oldest waiting block gives way).
using SimDroppedBlocksFn = std::int64_t (*)();
}

inline constexpr char kSimDroppedBlocksExport[] = "SimDroppedBlocks";
