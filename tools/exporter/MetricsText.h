#pragma once
// A page of metrics in Prometheus' text exposition format (version 0.0.4): each family once, its
// HELP and TYPE lines before its samples, label values escaped, so that whatever a map or a module
// names (a point called "a\"b", a firmware text) cannot break the page.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

using TMetricLabels = std::vector<std::pair<std::string, std::string>>;

enum class TMetricType { Gauge, Counter, Info };

class TMetricsText {
public:
    // Starts a family; its samples follow. A family is started once per page; one without samples
    // is left out.
    void Family(std::string_view name, TMetricType type, std::string_view help);
    // A sample of the family last started, named as its type wants ("_total" of a counter, "_info").
    void Sample(double value, const TMetricLabels& labels = {});

    const std::string& Text() const { return Text_; }

    // The content type Prometheus expects of this format.
    static constexpr const char* ContentType = "text/plain; version=0.0.4; charset=utf-8";

private:
    std::string Text_;
    std::string Name_;
    std::string Header_;  // of the family started, until its first sample
};

// Text for a label value or HELP: backslash, double quote and line end escaped as the format wants;
// bytes that are not UTF-8 replaced, so that a page is always valid UTF-8.
std::string EscapeLabelValue(std::string_view value);
// A number as the format writes it: shortest round-trip text, NaN, +Inf, -Inf.
std::string MetricNumber(double value);
