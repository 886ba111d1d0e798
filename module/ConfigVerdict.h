#pragma once
// The one verdict on a module's configuration, the same for the window and korvel-cli.

#include "ModuleClient.h"
#include "ModuleConfig.h"
#include "ModuleInfo.h"

// What the window and korvel-cli say of a module whose checksum is wrong.
inline constexpr const char* DamagedConfigText =
    "Контрольная сумма конфигурации модуля неверна: модуль хранит повреждённую конфигурацию.";

// The stored checksum matches the 110 bytes before it.
bool ChecksumValid(const TModuleConfig& config);

// A write is verified when the module holds every byte that was sent (sent: the record with its
// checksum): the fields, the reserved bytes and the checksum.
bool WriteVerified(const TModuleConfig& sent, const TModuleConfig& held);

// The module must be written to hold wanted: a field of the table differs, or its stored
// configuration is damaged (its checksum is wrong), whatever its fields hold.
bool ModuleDiffers(const TModuleConfig& wanted, const TModuleConfig& held);

// What the window and korvel-cli say of a device that answers, but not as a module does.
inline constexpr const char* NotAModuleText = "устройство не похоже на модуль";

// The device has no module's registers: it refuses them as an unknown function or address, its
// information block is all zero (no firmware, no MAC), as a plain register server's would be, or its
// configuration holds a value no module holds (ImpossibleFields). A module whose checksum alone is
// wrong is a module.
bool NotAModule(const TModuleResult& result, const TModuleInfo& info, const TModuleConfig& config);
// For a device that answered and is no module: what tells it, "информационный блок пуст" or the
// values no module holds, "CHANNEL_0/PARITY=4660, ...".
std::string NotAModuleSign(const TModuleInfo& info, const TModuleConfig& config);
