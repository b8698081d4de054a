#pragma once

#include <cstdint>

class AdDriver;
struct AcqState;

/// Copies every block the card has ready through the decimation into the ring.
/// Returns the block count as the card reported it (its low 16 bits, signed):
/// 0 means nothing happened; a negative count copies nothing. Does not touch
/// BlockTotal, which the tick adds after the displays are refreshed.
std::int16_t drainReadyBlocks(AdDriver& driver, AcqState& state);

/// Moves the scans of the block in AdBuf that pass the decimation counter into
/// the ring at DataPtr, as unsigned 16-bit codes.
void decimateBlock(AcqState& state);
