#pragma once
// A configuration file as the command line takes it: read exactly as the window's Open reads it and
// put through the window's controls, so that what is sent is what the window would send; refused,
// before anything is sent to a module, when the window would refuse it (with the window's message),
// when a value would not be taken as written (the reader's default or the control's range would
// replace it) or when the file holds no configuration at all.

#include "ConfigFields.h"

#include <string>
#include <vector>

enum class TConfigFileState { Ok, Unreadable, BadValue };

struct TCheckedConfig {
    TModuleConfig Config{};  // what the window would send; a key the text lacks has its default
    // The table's fields the text holds, in table order: what a file asks a module to hold.
    std::vector<const TConfigField*> Held;
};

TConfigFileState LoadCheckedConfig(const std::string& fileName, TCheckedConfig& config, std::string& error);
// The same checks on a text; where names its source in the messages ("в файле cabinet.ini").
TConfigFileState CheckConfigText(const std::string& text, const std::string& where, TCheckedConfig& config,
                                 std::string& error);
