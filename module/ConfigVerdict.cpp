#include "ConfigVerdict.h"

#include "ConfigFields.h"

#include <cstring>

bool ChecksumValid(const TModuleConfig& config)
{
    return config.CRC == CRC16(reinterpret_cast<const uint8_t*>(&config), ConfigCRCOffset);
}

bool WriteVerified(const TModuleConfig& sent, const TModuleConfig& held)
{
    return std::memcmp(&sent, &held, sizeof(TModuleConfig)) == 0;
}

bool ModuleDiffers(const TModuleConfig& wanted, const TModuleConfig& held)
{
    return !ChecksumValid(held) || !DifferingFields(wanted, held).empty();
}
