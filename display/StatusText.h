#pragma once

#include <cstdint>
#include <string>

/// Caption of lblBlock after a tick with data: blocks received so far and the
/// write pointer, each with the blank of a spaced number in front.
std::string blockStatusText(std::int64_t blockTotal, std::int32_t dataPtr);
