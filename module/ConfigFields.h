#pragma once
// Every field of the configuration record that the operator edits: where it lives in the INI
// file, what the window calls it, and how it is written for a file and for a person. Comparing
// two configurations, printing one and carrying one in JSON all walk this table.

#include "LocalDefines.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class TFieldFormat {
    Address,   // dotted IPv4 address
    Number,    // unsigned decimal
    BaudRate,  // the rate's text from BaudRates
    Parity,    // 0..2, shown by name
    StopBits,  // code 0..1, written and shown as 1 or 2
};

struct TConfigField {
    std::string Section;  // "IP", "CHANNEL_0" or "CHANNEL_1"
    std::string Key;      // the INI key, e.g. "BAUDRATE"
    std::string Page;     // the window's page, e.g. "RS-485 Канал 1"
    std::string Label;    // the control's label on that page, e.g. "Скорость"
    TFieldFormat Format;
    size_t Offset;  // into TModuleConfig
};

// In the window's order: the TCP/IP page, then channel 1, then channel 2.
const std::vector<TConfigField>& ConfigFields();

bool FieldEquals(const TModuleConfig& a, const TModuleConfig& b, const TConfigField& field);
std::vector<const TConfigField*> DifferingFields(const TModuleConfig& a, const TModuleConfig& b);

// The value as SaveConfigToFile writes it for this key.
std::string FieldIniText(const TModuleConfig& config, const TConfigField& field);
// The value as the window shows it: the parity by name, the rest as in the file.
std::string FieldDisplayText(const TModuleConfig& config, const TConfigField& field);
