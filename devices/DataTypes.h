#pragma once
// How the registers of a device on the line are read as values: the data types a field device
// uses and the four orders in which it may lay the words and bytes of a multi-register value.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

enum class TDataType : uint8_t { Int16, UInt16, Int32, UInt32, Float32, Float64, Hex, Binary, Ascii };

// Letters name the bytes of the value, most significant first (A): ABCD is the big-endian order of
// the protocol itself, CDAB swaps the words, BADC the bytes within each word, DCBA both.
enum class TWordOrder : uint8_t { ABCD, CDAB, BADC, DCBA };

// A decoded value: a number (signed or unsigned integer, float32 kept as such so that it is shown
// with its own precision), a coil or input bit, or a text (hex, binary, ASCII).
using TDeviceValue = std::variant<bool, int64_t, float, double, std::string>;

// Registers one value of the type takes; ASCII takes what it is given, two characters a register.
int RegistersPerValue(TDataType type);
bool IsMultiRegisterType(TDataType type);

// The names on the command line and in the window: int16 ... ascii, ABCD ... DCBA (either case).
std::string_view DataTypeName(TDataType type);
std::string_view WordOrderName(TWordOrder order);
std::optional<TDataType> DataTypeFromName(std::string_view name);
std::optional<TWordOrder> WordOrderFromName(std::string_view name);

// The values the registers hold, one per RegistersPerValue registers; registers left over at the end
// make no value. ASCII decodes the whole span into one text, its trailing NUL bytes dropped.
std::vector<TDeviceValue> DecodeRegisters(std::span<const uint16_t> registers, TDataType type, TWordOrder order);

// The registers that carry the value typed as text; empty when the text is no value of the type or
// out of its range. ASCII: two characters a register, an odd length padded with a NUL byte.
std::vector<uint16_t> EncodeValue(std::string_view text, TDataType type, TWordOrder order);

// The value as a person reads it: shortest exact decimal for numbers, "nan", "inf", "-inf".
std::string DeviceValueText(const TDeviceValue& value);
// The same text, added to the end of text: a sample of many values is one string, not one a value.
void AppendDeviceValueText(std::string& text, const TDeviceValue& value);
