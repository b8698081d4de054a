#include "ViewControls.h"

std::int32_t xNumIncrement(std::int32_t value) {
    if (value > 2000)
        return 500;
    if (value > 1000)
        return 200;
    if (value > 500)
        return 50;
    if (value > 100)
        return 20;
    return 10;
}
