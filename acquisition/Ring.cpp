#include "Ring.h"

#include <algorithm>

void Ring::fill(std::int32_t channels, std::int32_t code) {
    for (std::int32_t p = 0; p < kRingPoints; ++p)
        std::fill_n(point(p), channels, code);
}
