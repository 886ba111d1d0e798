#pragma once
// The help texts of korvel-cli, written from its command table.

#include "CliCommandTable.h"

#include <string>

std::string UsageText();
std::string CommandHelpText(const TCliCommandSpec& command);
std::string VersionText();
