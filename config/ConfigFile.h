#pragma once
// The configuration record in an INI file, and in INI text.

#include "ModuleConfig.h"

#include <string>

// False, the record left alone, for a file that is missing, not a regular file or cannot be read.
bool LoadConfigFromFile(const std::string& fileName, TModuleConfig& config);
// Throws EIniFileError ("Unable to write to " + file name) when the file cannot be written.
// All or nothing: the file is read once, the keys applied in memory and the file replaced once.
void SaveConfigToFile(const std::string& fileName, TModuleConfig config);
// The same two in memory: the record a file holding text gives, and the text that saving the record
// into a file holding existing leaves there.
void ConfigFromIniText(const std::string& text, TModuleConfig& config);
std::string ConfigToIniText(const TModuleConfig& config, const std::string& existing = {});
