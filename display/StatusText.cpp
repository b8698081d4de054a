#include "StatusText.h"

#include "NumberText.h"

std::string blockStatusText(std::int64_t blockTotal, std::int32_t dataPtr) {
    std::string text = "采集缓冲区个数";
    appendSpacedNum(text, blockTotal);
    text += "       采集数据指针:";
    appendSpacedNum(text, dataPtr);
    return text;
}

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
