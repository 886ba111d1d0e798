#pragma once
// The one rule for what the window makes of a configuration: shown in its controls and collected
// again, every field is put through its control as the field table describes it. A configuration
// file is taken by every front end exactly when this changes none of its values.

#include "ConfigFields.h"

#include <string>

struct TControlsFit {
    TModuleConfig Collected{};  // what the window would hold, and send, after the collection
    // The field whose value the collection refuses, with the window's message; nullptr when none.
    const TConfigField* Refused = nullptr;
    std::string Message;
};

// The window shows `shown` (a spin edit puts a value into its range, a list selects its first entry
// for an index it lacks) and then collects it (a spin edit whose range has equal ends refuses any
// other value). The reserved bytes and the checksum stay as `shown` has them.
TControlsFit FitToControls(const TModuleConfig& shown);
