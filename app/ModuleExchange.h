#pragma once
// The module's register map as the program uses it, and the byte image of the configuration
// block that a write sends.

#include "LocalDefines.h"

#include <array>
#include <cstdint>

constexpr uint8_t ModuleUnitId = 255;

constexpr uint16_t InfoFirstRegister = 78;
constexpr uint16_t InfoRegisterCount = 6;

constexpr uint16_t ConfigFirstRegister = 84;
constexpr uint16_t ConfigWriteRegisterCount = 57;  // the record and the marker register
constexpr uint16_t ConfigReadRegisterCount = 56;   // the marker register is never read
constexpr uint16_t ConfigMarker = 0xAAAA;

static_assert(ConfigReadRegisterCount * 2 == sizeof(TModuleConfig));

// Register k of the block is word k: image bytes 2k (low) and 2k+1 (high) on this little-endian
// host, the order in which the master expects register buffers.
using TConfigImage = std::array<uint16_t, ConfigWriteRegisterCount>;

// The record with its checksum over bytes 0..109 and the marker after it; the record itself is
// left as it was.
TConfigImage BuildConfigImage(const TModuleConfig& config);
