#pragma once
// How the registers of a device on the line are read as values: the data types a field device
// uses and the four orders in which it may lay the words and bytes of a multi-register value.
// Each has one row in its table below; the window's lists, korvel-cli's option check and help all
// come from those rows (see CONTRIBUTING.md, "Adding a data type").

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

enum class TDataType : uint8_t { Int16, UInt16, Int32, UInt32, Int64, UInt64, Float32, Float64, Hex, Binary, Ascii };

// Letters name the bytes of the value, most significant first (A): ABCD is the big-endian order of
// the protocol itself, CDAB swaps the words, BADC the bytes within each word, DCBA both.
enum class TWordOrder : uint8_t { ABCD, CDAB, BADC, DCBA };

// A decoded value: a number (a signed integer, an unsigned 64-bit one past the signed range, float32
// kept as such so that it is shown with its own precision), a coil or input bit, or a text (hex,
// binary, ASCII).
using TDeviceValue = std::variant<bool, int64_t, uint64_t, float, double, std::string>;

// The handlers of a visit of a decoded value, one for each alternative, each taking it as it is:
//   std::visit(TEveryAlternative{[](bool) {...}, [](int64_t) {...}, ...}, value);
// An alternative without its handler does not compile (the deleted catch-all is the better match
// for it) rather than being converted silently to the argument of another handler.
template <class... Handlers> struct TEveryAlternative : Handlers... {
    using Handlers::operator()...;
    template <class T> void operator()(const T&) const = delete;
};
template <class... Handlers> TEveryAlternative(Handlers...) -> TEveryAlternative<Handlers...>;

struct TDataTypeRow {
    TDataType Type;
    std::string_view Name;  // on the command line and in the window, matched in either case
    int Registers;          // of one value; a text type takes at least this
    bool Text;              // the registers read are one value, two characters a register
    // The value of the registers of one value (of all read, for a text), the order already undone
    // for a single register, which has no words to swap.
    TDeviceValue (*Decode)(std::span<const uint16_t> registers, TWordOrder order);
    // The registers that carry the value typed as text; empty when the text is no value of the type
    // or out of its range.
    std::vector<uint16_t> (*Encode)(std::string_view text, TWordOrder order);
};

struct TWordOrderRow {
    TWordOrder Order;
    std::string_view Name;
    bool SwapsWords;
    bool SwapsBytes;
};

// Every type and order, in the order of the enumerations (the lists show them so).
std::span<const TDataTypeRow> DataTypes();
std::span<const TWordOrderRow> WordOrders();
const TDataTypeRow& DataTypeRow(TDataType type);
const TWordOrderRow& WordOrderRow(TWordOrder order);

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

// The value as a number to plot or scale: a bit is 0 or 1, a text has none.
std::optional<double> DeviceValueNumber(const TDeviceValue& value);

// The value as a person reads it: shortest exact decimal for numbers, "nan", "inf", "-inf".
std::string DeviceValueText(const TDeviceValue& value);
// The same text, added to the end of text: a sample of many values is one string, not one a value.
void AppendDeviceValueText(std::string& text, const TDeviceValue& value);
