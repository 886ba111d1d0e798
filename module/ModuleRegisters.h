#pragma once
// The module's register map: unit 255, the information block at 78..83, the configuration block
// at 84..139 and the marker register 140 after it; and the byte image that a configuration write
// sends.

#include "ModuleConfig.h"
#include "ModuleInfo.h"

#include <array>
#include <cstdint>

constexpr uint8_t ModuleUnitId = 255;

constexpr uint16_t InfoFirstRegister = 78;
constexpr uint16_t InfoRegisterCount = 6;

constexpr uint16_t ConfigFirstRegister = 84;
constexpr uint16_t ConfigWriteRegisterCount = 57;  // the record and the marker register
constexpr uint16_t ConfigReadRegisterCount = 56;   // the marker register is never read
constexpr uint16_t MarkerRegister = ConfigFirstRegister + ConfigReadRegisterCount;
constexpr uint16_t ConfigMarker = 0xAAAA;

static_assert(InfoRegisterCount * 2 == sizeof(TModuleInfo));
static_assert(ConfigReadRegisterCount * 2 == sizeof(TModuleConfig));
static_assert(InfoFirstRegister + InfoRegisterCount == ConfigFirstRegister);
static_assert(MarkerRegister == 140);

// The information block and the configuration block after it, read in one request.
#pragma pack(push, 1)
struct TModuleBlocks {
    TModuleInfo Info;
    TModuleConfig Config;
};
#pragma pack(pop)
static_assert(sizeof(TModuleBlocks) == (InfoRegisterCount + ConfigReadRegisterCount) * 2);

// Register k of the block is word k: image bytes 2k (low) and 2k+1 (high) on this little-endian
// host, the order in which the master expects register buffers.
using TConfigImage = std::array<uint16_t, ConfigWriteRegisterCount>;

// The record with its checksum over bytes 0..109 and the marker after it; the record itself is
// left as it was.
TConfigImage BuildConfigImage(const TModuleConfig& config);
