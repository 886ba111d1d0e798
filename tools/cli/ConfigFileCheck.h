#pragma once
// A configuration file as the command line takes it: read exactly as the window's Open reads it,
// but refused, before anything is sent to a module, when a value would not be taken as written
// (the reader would put its default in its place) or when the file holds no configuration at all.

#include "LocalDefines.h"

#include <string>

enum class TConfigFileState { Ok, Unreadable, BadValue };

TConfigFileState LoadCheckedConfig(const std::string& fileName, TModuleConfig& config, std::string& error);
