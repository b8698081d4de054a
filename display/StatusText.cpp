#include "StatusText.h"

#include "NumberText.h"

std::string blockStatusText(std::int64_t blockTotal, std::int32_t dataPtr) {
    std::string text = "采集缓冲区个数";
    appendSpacedNum(text, blockTotal);
    text += "       采集数据指针:";
    appendSpacedNum(text, dataPtr);
    return text;
}
