#pragma once
// The commands of korvel-cli over the module library; each answers the program's exit status.

#include "CliOptions.h"

int RunCliCommand(const TCliOptions& options);
