#include "ModuleInfo.h"

std::string FirmwareText(const TModuleInfo& info)
{
    return std::to_string(info.Version >> 8) + "." + std::to_string(info.Version & 0xFF);
}

std::string MacText(const TModuleInfo& info)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t byte : info.MAC) {
        if (!text.empty())
            text += '-';
        text += Digits[byte >> 4];
        text += Digits[byte & 0x0F];
    }
    return text;
}

bool JumperFitted(const TModuleInfo& info)
{
    return (info.Flags & FactoryJumperFlag) != 0;
}
