#include "ConfigVerdict.h"

#include "ConfigCRC.h"
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

namespace {

bool InfoEmpty(const TModuleInfo& info)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
    return std::all_of(bytes, bytes + sizeof info, [](uint8_t byte) { return byte == 0; });
}

}  // namespace

bool NotAModule(const TModuleResult& result, const TModuleInfo& info, const TModuleConfig& config)
{
    constexpr uint8_t IllegalFunction = 1;
    constexpr uint8_t IllegalDataAddress = 2;
    if (result.Status == StatusException)
        return result.Exception == IllegalFunction || result.Exception == IllegalDataAddress;
    if (!result.Ok())
        return false;
    return InfoEmpty(info) || !ImpossibleFields(config).empty();
}

std::string NotAModuleSign(const TModuleInfo& info, const TModuleConfig& config)
{
    if (InfoEmpty(info))
        return "информационный блок пуст";
    std::string values;
    for (const TConfigField* field : ImpossibleFields(config))
        values +=
            (values.empty() ? "" : ", ") + field->Section + "/" + field->Key + "=" + FieldDisplayText(config, *field);
    return "значения вне допустимых: " + values;
}
