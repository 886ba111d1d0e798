#include "ProbePage.h"

#include "CliOutcome.h"
#include "ConfigVerdict.h"
#include "FleetValues.h"
#include "MetricsText.h"

std::string ModuleStatusWord(const TCycleOutcome& outcome)
{
    if (outcome.Requests == 0)
        return "not_asked";
    if (!outcome.BlocksRead)
        return "waiting";
    if (outcome.NotAModule)
        return "not_a_module";
    return outcome.Module.Ok() ? "ok" : ReasonWord(ModuleFailure(outcome.Module).Reason);
}

std::string ProbePage(const TCycleOutcome& outcome, const TReferenceConfig* reference)
{
    TMetricsText page;
    const bool up = outcome.ModuleUp();
    page.Family("korvel_module_up", TMetricType::Gauge,
                "Whether the module answered the read of its blocks as a module.");
    page.Sample(up ? 1 : 0);
    page.Family("korvel_module_status", TMetricType::Gauge,
                "How the read of the module's blocks ended: the status label, value 1.");
    TMetricLabels status{{"status", ModuleStatusWord(outcome)}};
    if (outcome.BlocksRead && outcome.Module.Exception)
        status.emplace_back("exception", std::to_string(outcome.Module.Exception));
    page.Sample(1, status);
    page.Family("korvel_probe_duration_seconds", TMetricType::Gauge,
                "How long the exchange with the module took, to its last answer or to the scrape's end.");
    page.Sample(outcome.Seconds);
    page.Family("korvel_probe_requests", TMetricType::Gauge, "Requests sent to the module in this scrape's cycle.");
    page.Sample(double(outcome.Requests));
    page.Family("korvel_probe_complete", TMetricType::Gauge,
                "Whether every request of the cycle had its answer before the scrape's time was up.");
    page.Sample(outcome.Finished ? 1 : 0);
    if (!up)
        return page.Text();
    page.Family("korvel_module", TMetricType::Info, "The module's firmware version and MAC address.");
    page.Sample(1, {{"firmware", FirmwareText(outcome.Info)}, {"mac", MacText(outcome.Info)}});
    page.Family("korvel_module_jumper_fitted", TMetricType::Gauge,
                "Whether the factory-configuration jumper is fitted.");
    page.Sample(JumperFitted(outcome.Info) ? 1 : 0);
    page.Family("korvel_module_config_checksum_valid", TMetricType::Gauge,
                "Whether the stored configuration's checksum matches its contents.");
    page.Sample(ChecksumValid(outcome.Config) ? 1 : 0);
    if (reference) {
        // As apply decides: the keys the reference holds, against the module's own values.
        const TModuleConfig wanted = WantedConfig(outcome.Config, reference->Config, {});
        const size_t differing = DifferingFields(wanted, outcome.Config).size();
        const TMetricLabels labels{{"config", reference->Name}};
        page.Family("korvel_module_config_drifted", TMetricType::Gauge,
                    "Whether a field the reference configuration holds differs in the module.");
        page.Sample(differing ? 1 : 0, labels);
        page.Family("korvel_module_config_differing_fields", TMetricType::Gauge,
                    "Fields of the reference configuration that the module holds otherwise.");
        page.Sample(double(differing), labels);
    }
    return page.Text();
}
