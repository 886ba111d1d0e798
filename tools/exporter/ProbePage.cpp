#include "ProbePage.h"

#include "CliOutcome.h"
#include "ConfigVerdict.h"
#include "FleetValues.h"
#include "MetricsText.h"
#include "modbus.h"

#include <cstdlib>
#include <map>
#include <variant>

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

std::string PointStatusWord(const TPointState& state)
{
    switch (state.Status) {
    case TPointStatus::Ok: return "ok";
    case TPointStatus::Exception: return ReasonWord(ModuleFailure(state.Failure).Reason);
    default: return "no_answer";
    }
}

namespace {

// The number as korvel-cli prints it: a float32 as its own shortest text reads (230.52, not
// 230.52000427246094), a bit as 0 or 1.
double SampleOf(const TDeviceValue& value)
{
    return std::strtod(DeviceValueText(value).c_str(), nullptr);
}

// Each point's value (a number's; a text has none), status and exceptions, and whether each device
// answered at all: a device answers when it gave a value or an exception of its own, not when the
// module could not reach it (0x0A, 0x0B) or nothing came.
void AddPoints(TMetricsText& page, const TCycleOutcome& outcome, const TExceptionCounts& counts)
{
    const std::vector<TMapPoint>& points = outcome.Map->Map.Points;
    const auto labels = [&](size_t i) {
        return TMetricLabels{{"point", points[i].Name}, {"device", std::to_string(points[i].Unit)}};
    };
    page.Family("korvel_point_value", TMetricType::Gauge,
                "A map point's value in its engineering units (the units label), scaled as the map says.");
    for (size_t i = 0; i < points.size(); ++i) {
        const TPointState& state = outcome.Points[i];
        if (state.Status != TPointStatus::Ok || !state.Value)
            continue;
        // A word shown in hex or bits is a number all the same (a status word an alert tests); a
        // text is none.
        const bool word = points[i].Type == TDataType::Hex || points[i].Type == TDataType::Binary;
        if (std::holds_alternative<std::string>(*state.Value) && !word)
            continue;
        TMetricLabels withUnits = labels(i);
        withUnits.emplace_back("units", points[i].Units);
        page.Sample(word ? double(state.Raw(points[i]).front()) : SampleOf(*state.Value), withUnits);
    }
    page.Family("korvel_point_status", TMetricType::Gauge,
                "How a map point's read ended: the status label (and the exception code), value 1.");
    std::map<uint8_t, bool> deviceUp;
    for (size_t i = 0; i < points.size(); ++i) {
        const TPointState& state = outcome.Points[i];
        TMetricLabels status = labels(i);
        status.emplace_back("status", PointStatusWord(state));
        if (state.Status == TPointStatus::Exception)
            status.emplace_back("exception", std::to_string(state.Failure.Exception));
        page.Sample(1, status);
        const bool answered = state.Status == TPointStatus::Ok || (state.Status == TPointStatus::Exception &&
                                                                   state.Failure.Exception != ExceptionGatewayPath &&
                                                                   state.Failure.Exception != ExceptionGatewayTarget);
        deviceUp[points[i].Unit] |= answered;
    }
    page.Family("korvel_point_exceptions", TMetricType::Counter,
                "Reads of a map point answered with an exception, over the exporter's cycles with the module.");
    for (size_t i = 0; i < points.size(); ++i) {
        const auto it = counts.Points.find(points[i].Name);
        page.Sample(it == counts.Points.end() ? 0 : double(it->second), labels(i));
    }
    page.Family("korvel_device_up", TMetricType::Gauge,
                "Whether a device on the module's lines answered any read of its points.");
    for (const auto& [unit, up] : deviceUp)
        page.Sample(up ? 1 : 0, {{"device", std::to_string(unit)}});
}

}  // namespace

std::string ProbePage(const TCycleOutcome& outcome, const TExceptionCounts& counts, const TReferenceConfig* reference)
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
    page.Family("korvel_module_exceptions", TMetricType::Counter,
                "Requests to the module and the devices behind it answered with an exception, by code, over the "
                "exporter's cycles with the module.");
    for (const auto& [code, count] : counts.Requests)
        page.Sample(double(count), {{"exception", std::to_string(code)}});
    if (outcome.Map)
        AddPoints(page, outcome, counts);
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
