#include "ConfigVerdict.h"

#include "ConfigFields.h"
#include "modbus.h"

#include <algorithm>

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

bool NotAModule(const TModuleResult& result, const TModuleInfo& info)
{
    constexpr uint8_t IllegalFunction = 1;
    constexpr uint8_t IllegalDataAddress = 2;
    if (result.Status == StatusException)
        return result.Exception == IllegalFunction || result.Exception == IllegalDataAddress;
    if (!result.Ok())
        return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
    return std::all_of(bytes, bytes + sizeof info, [](uint8_t byte) { return byte == 0; });
}
