#pragma once
// The page a probe answers: what one cycle found of a module (and, with a reference configuration,
// whether the module still holds it), as Prometheus metrics.

#include "ConfigFileCheck.h"
#include "ModuleCycle.h"
#include "ProbeCycles.h"

#include <string>

// The configuration a module is expected to hold, by the name a scrape gave it.
struct TReferenceConfig {
    std::string Name;
    TCheckedConfig Config;
};

// counts: the exceptions of the module's cycles so far, this one's included.
std::string ProbePage(const TCycleOutcome& outcome, const TExceptionCounts& counts, const TReferenceConfig* reference);

// The one word for how the read of the module's blocks ended, as korvel-cli's JSON gives it: ok,
// timeout, refused, unreachable, exception, not_a_module, io; not_asked for a cycle that had not
// had its turn when the scrape's time was up, and waiting for one whose answer had not come.
std::string ModuleStatusWord(const TCycleOutcome& outcome);
// A point's: ok; no_answer (nor in the scrape's time); exception, gateway_path (0x0A),
// gateway_target (0x0B).
std::string PointStatusWord(const TPointState& state);
