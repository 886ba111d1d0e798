#pragma once
// A configuration file as the command line takes it: read exactly as the window's Open reads it and
// put through the window's controls, so that what is sent is what the window would send; refused,
// before anything is sent to a module, when the window would refuse it (with the window's message),
// when a value would not be taken as written (the reader's default or the control's range would
// replace it) or when the file holds no configuration at all.

#include "LocalDefines.h"

#include <string>

enum class TConfigFileState { Ok, Unreadable, BadValue };

TConfigFileState LoadCheckedConfig(const std::string& fileName, TModuleConfig& config, std::string& error);
