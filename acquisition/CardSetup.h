#pragma once

#include <cstdint>

class AdDriver;
struct AcqState;

/// The load-time part of the window: asks the card for its name and
/// calibration (the program's first call into the library) and sets the view
/// state. Throws FatalError when the calibration does not fit 32 bits.
void loadCard(AdDriver& driver, AcqState& state, std::int32_t xNumFromUpDown);
