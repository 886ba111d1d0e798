#include "ModuleRegisters.h"
#include "ConfigCRC.h"

#include <cstring>

TConfigImage BuildConfigImage(const TModuleConfig& config)
{
    TModuleConfig sent = config;
    SetConfigCRC(sent);
    TConfigImage image{};
    std::memcpy(image.data(), &sent, sizeof sent);
    image.back() = ConfigMarker;
    return image;
}
