#pragma once
// Text and number checks shared by every editor, file reader and parameter parser.
// Conversions never throw: checks answer bool, StrToIntDefault answers its default.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The one integer-text rule: leading spaces, then an optional sign and decimal digits, or one of
// the prefixes "$", "x", "X", "0x", "0X" and hexadecimal digits (all 32 bits, read as signed).
// Nothing may follow. Every text-to-number conversion of the program goes through it.
std::optional<int32_t> ParseIntegerText(std::string_view text);

bool IsValueInRange(const std::string& text, int32_t min, int32_t max);
bool IsIntegerText(const std::string& text);
void RemoveChars(std::string& text, std::string_view set);
int32_t StrToIntDefault(const std::string& text, int32_t def);
bool IsIPAddressText(const std::string& text);
