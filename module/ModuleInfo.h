#pragma once
// The module's information block: holding registers 78..83 as the master hands them over,
// register k in bytes 2k (low) and 2k+1 (high), and how each part of it reads.

#include <cstddef>
#include <cstdint>
#include <string>

#pragma pack(push, 1)
struct TModuleInfo {
    uint16_t Version;  // firmware: high byte major, low byte minor
    uint8_t MAC[6];    // in display order
    uint8_t Reserved1[2];
    uint8_t Flags;  // bit 0: the factory-configuration jumper is fitted
    uint8_t Reserved2;
};
#pragma pack(pop)

constexpr uint8_t FactoryJumperFlag = 0x01;

static_assert(sizeof(TModuleInfo) == 12);
static_assert(offsetof(TModuleInfo, MAC) == 2);
static_assert(offsetof(TModuleInfo, Flags) == 10);

// "major.minor" in decimal: 0x0103 reads "1.3".
std::string FirmwareText(const TModuleInfo& info);
// Six upper-case hexadecimal pairs joined by "-": "12-34-56-78-9A-BC".
std::string MacText(const TModuleInfo& info);
bool JumperFitted(const TModuleInfo& info);
