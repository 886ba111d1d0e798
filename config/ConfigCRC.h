#pragma once
// The checksum that closes the configuration block.

#include "ModuleConfig.h"

#include <cstddef>
#include <cstdint>

uint16_t CRC16(const uint8_t* data, size_t count);
void SetConfigCRC(TModuleConfig& config);
