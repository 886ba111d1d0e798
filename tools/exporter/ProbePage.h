#pragma once
// The page a probe answers: what one cycle found of a module (and, with a reference configuration,
// whether the module still holds it), as Prometheus metrics.

#include "ConfigFileCheck.h"
#include "ModuleCycle.h"

#include <string>

// The configuration a module is expected to hold, by the name a scrape gave it.
struct TReferenceConfig {
    std::string Name;
    TCheckedConfig Config;
};

std::string ProbePage(const TCycleOutcome& outcome, const TReferenceConfig* reference);

// The one word for how the read of the module's blocks ended, as korvel-cli's JSON gives it: ok,
// timeout, refused, unreachable, exception, not_a_module, io; not_asked for a cycle that had not
// had its turn when the scrape's time was up, and waiting for one whose answer had not come.
std::string ModuleStatusWord(const TCycleOutcome& outcome);
