#pragma once
// The baud rates a channel offers, by the index the configuration record stores.

#include <array>
#include <cstddef>
#include <string>

constexpr size_t BaudRateCount = 20;
constexpr size_t DefaultBaudIndex = 9;  // "115200"
extern const std::array<const char*, BaudRateCount> BaudRates;

int BaudRateToIndex(const std::string& text);
// An index outside the table (a block taken from the module as it came) gives the rate that
// reading the file back would give it anyway, instead of reading past the table.
const char* BaudRateText(size_t index);
