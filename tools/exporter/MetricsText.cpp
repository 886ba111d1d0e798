#include "MetricsText.h"

#include <QString>

#include <charconv>
#include <cmath>

namespace {

const char* TypeName(TMetricType type)
{
    switch (type) {
    case TMetricType::Counter: return "counter";
    case TMetricType::Gauge: return "gauge";
    case TMetricType::Info: return "gauge";  // what the text format has for an info family
    }
    return "untyped";
}

std::string EscapeHelp(std::string_view text)
{
    std::string escaped;
    for (const char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

}  // namespace

std::string EscapeLabelValue(std::string_view value)
{
    // Through QString and back: a byte sequence that is not UTF-8 becomes U+FFFD.
    const std::string valid = QString::fromUtf8(value.data(), qsizetype(value.size())).toStdString();
    std::string escaped;
    escaped.reserve(valid.size());
    for (const char c : valid) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

std::string MetricNumber(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

void TMetricsText::Family(std::string_view name, TMetricType type, std::string_view help)
{
    Name_ = name;
    if (type == TMetricType::Info)
        Name_ += "_info";
    else if (type == TMetricType::Counter)
        Name_ += "_total";
    Header_ = "# HELP " + Name_ + " " + EscapeHelp(help) + "\n# TYPE " + Name_ + " " + TypeName(type) + "\n";
}

void TMetricsText::Sample(double value, const TMetricLabels& labels)
{
    Text_ += Header_;
    Header_.clear();
    Text_ += Name_;
    if (!labels.empty()) {
        Text_ += '{';
        for (size_t i = 0; i < labels.size(); ++i) {
            if (i)
                Text_ += ',';
            Text_ += labels[i].first + "=\"" + EscapeLabelValue(labels[i].second) + '"';
        }
        Text_ += '}';
    }
    Text_ += ' ' + MetricNumber(value) + '\n';
}
