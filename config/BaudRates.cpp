#include "BaudRates.h"

const std::array<const char*, BaudRateCount> BaudRates = {
    "600",    "1200",   "2400",   "4800",   "9600",   "19200",  "38400",  "48000",  "57600",   "115200",
    "144000", "192000", "230400", "288000", "384000", "460800", "576000", "768000", "1152000", "2304000",
};

int BaudRateToIndex(const std::string& text)
{
    for (size_t i = 0; i < BaudRates.size(); ++i)
        if (text == BaudRates[i])
            return static_cast<int>(i);
    return DefaultBaudIndex;
}

const char* BaudRateText(size_t index)
{
    return BaudRates[index < BaudRates.size() ? index : DefaultBaudIndex];
}
