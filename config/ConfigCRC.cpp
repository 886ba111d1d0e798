#include "ConfigCRC.h"

uint16_t CRC16(const uint8_t* data, size_t count)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

void SetConfigCRC(TModuleConfig& config)
{
    config.CRC = CRC16(reinterpret_cast<const uint8_t*>(&config), ConfigCRCOffset);
}
