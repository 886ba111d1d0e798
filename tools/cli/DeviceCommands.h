#pragma once
// The commands of korvel-cli for the devices on the modules' RS-485 lines: poll, units and set.
// Each answers the program's exit status.

#include "CliOptions.h"

#include <vector>

int RunPoll(const TCliOptions& options, const std::vector<TModuleAddress>& modules);
int RunUnits(const TCliOptions& options);
int RunSet(const TCliOptions& options);
