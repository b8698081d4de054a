#pragma once

#include <cstdint>

// The rules of the two view controls: the channel control picks the plotted
// channel, the points control the number of newest points plotted.

/// Channels the channel control can select, 0 to 32: more than a scan holds
/// (17), as the card's example always allowed; a channel that is not acquired
/// plots nothing and reads 0 V.
inline constexpr std::int16_t kSelectableChannels = 33;

/// Step of the points control for its new value: coarser steps for longer
/// traces, so that every range can be crossed in a few dozen clicks.
std::int32_t xNumIncrement(std::int32_t value);
