#include "DataTypes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <type_traits>

namespace {

constexpr std::array<TWordOrderRow, 4> OrderRows{{
    {TWordOrder::ABCD, "ABCD", false, false},
    {TWordOrder::CDAB, "CDAB", true, false},
    {TWordOrder::BADC, "BADC", false, true},
    {TWordOrder::DCBA, "DCBA", true, true},
}};

uint16_t SwapBytes(uint16_t word)
{
    return uint16_t(word << 8 | word >> 8);
}

bool SameLetters(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? char(x - 'A' + 'a') : x) ==
                      (y >= 'A' && y <= 'Z' ? char(y - 'A' + 'a') : y);
           });
}

// The value's bits from its registers, most significant register first once the order is undone.
uint64_t JoinRegisters(std::span<const uint16_t> registers, TWordOrder order)
{
    const TWordOrderRow& layout = OrderRows[size_t(order)];
    uint64_t bits = 0;
    const size_t count = registers.size();
    for (size_t i = 0; i < count; ++i) {
        const uint16_t word = registers[layout.SwapsWords ? count - 1 - i : i];
        bits = bits << 16 | (layout.SwapsBytes ? SwapBytes(word) : word);
    }
    return bits;
}

std::vector<uint16_t> SplitRegisters(uint64_t bits, int count, TWordOrder order)
{
    const TWordOrderRow& layout = OrderRows[size_t(order)];
    std::vector<uint16_t> registers(size_t(count), 0);
    for (int i = 0; i < count; ++i) {
        const auto word = uint16_t(bits >> (16 * (count - 1 - i)));
        registers[size_t(layout.SwapsWords ? count - 1 - i : i)] = layout.SwapsBytes ? SwapBytes(word) : word;
    }
    return registers;
}

template <class T> std::optional<T> ParseNumber(std::string_view text, int base = 10)
{
    T value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (error != std::errc() || stop != end || text.empty())
        return std::nullopt;
    return value;
}

// A floating-point text: decimal, or nan / inf / -inf in either case.
std::optional<double> ParseReal(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || text.empty())
        return std::nullopt;
    return value;
}

// The unsigned integer as wide as the number, for its bits.
template <class Number> using TBitsOf = std::conditional_t<sizeof(Number) == 8, uint64_t, uint32_t>;

// A whole or floating-point number of sizeof(Number) bytes, a register for every two.
template <class Number> TDeviceValue DecodeNumber(std::span<const uint16_t> registers, TWordOrder order)
{
    const uint64_t bits = JoinRegisters(registers, order);
    if constexpr (std::is_floating_point_v<Number>)
        return std::bit_cast<Number>(TBitsOf<Number>(bits));
    else if constexpr (std::is_same_v<Number, uint64_t>)
        return bits;
    else
        return int64_t(Number(bits));
}

template <class Number> std::optional<uint64_t> NumberBits(std::string_view text)
{
    if constexpr (std::is_floating_point_v<Number>) {
        const auto value = ParseReal(text);
        // A finite number past the float's range would silently become an infinity.
        if (!value || (std::isfinite(*value) && std::isinf(Number(*value))))
            return std::nullopt;
        return std::bit_cast<TBitsOf<Number>>(Number(*value));
    } else {
        // The integer's own range: from_chars refuses what does not fit, and a sign for an unsigned.
        const auto value = ParseNumber<Number>(text);
        return value ? std::optional<uint64_t>(uint64_t(*value)) : std::nullopt;
    }
}

template <class Number> std::vector<uint16_t> EncodeNumber(std::string_view text, TWordOrder order)
{
    const auto bits = NumberBits<Number>(text);
    return bits ? SplitRegisters(*bits, int(sizeof(Number) / 2), order) : std::vector<uint16_t>{};
}

TDeviceValue DecodeHex(std::span<const uint16_t> registers, TWordOrder)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 12; shift >= 0; shift -= 4)
        text += Digits[(registers[0] >> shift) & 0xF];
    return text;
}

std::vector<uint16_t> EncodeHex(std::string_view text, TWordOrder)
{
    if (text.starts_with("0x") || text.starts_with("0X"))
        text.remove_prefix(2);
    const auto value = text.size() <= 4 ? ParseNumber<uint16_t>(text, 16) : std::nullopt;
    return value ? std::vector<uint16_t>{*value} : std::vector<uint16_t>{};
}

TDeviceValue DecodeBinary(std::span<const uint16_t> registers, TWordOrder)
{
    std::string text;
    for (int bit = 15; bit >= 0; --bit)
        text += (registers[0] >> bit) & 1 ? '1' : '0';
    return text;
}

std::vector<uint16_t> EncodeBinary(std::string_view text, TWordOrder)
{
    std::string digits(text);
    std::erase(digits, ' ');
    const auto value = digits.size() <= 16 ? ParseNumber<uint16_t>(digits, 2) : std::nullopt;
    return value ? std::vector<uint16_t>{*value} : std::vector<uint16_t>{};
}

TDeviceValue DecodeAscii(std::span<const uint16_t> registers, TWordOrder order)
{
    const bool swapsBytes = OrderRows[size_t(order)].SwapsBytes;
    std::string text;
    for (uint16_t word : registers) {
        if (swapsBytes)
            word = SwapBytes(word);
        text += char(word >> 8);
        text += char(word & 0xFF);
    }
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

std::vector<uint16_t> EncodeAscii(std::string_view text, TWordOrder order)
{
    const bool swapsBytes = OrderRows[size_t(order)].SwapsBytes;
    std::vector<uint16_t> registers;
    for (size_t i = 0; i < text.size(); i += 2) {
        const auto high = uint8_t(text[i]);
        const auto low = i + 1 < text.size() ? uint8_t(text[i + 1]) : uint8_t(0);
        const auto word = uint16_t(high << 8 | low);
        registers.push_back(swapsBytes ? SwapBytes(word) : word);
    }
    return registers;
}

constexpr std::array<TDataTypeRow, 11> TypeRows{{
    {TDataType::Int16, "int16", 1, false, DecodeNumber<int16_t>, EncodeNumber<int16_t>},
    {TDataType::UInt16, "uint16", 1, false, DecodeNumber<uint16_t>, EncodeNumber<uint16_t>},
    {TDataType::Int32, "int32", 2, false, DecodeNumber<int32_t>, EncodeNumber<int32_t>},
    {TDataType::UInt32, "uint32", 2, false, DecodeNumber<uint32_t>, EncodeNumber<uint32_t>},
    {TDataType::Int64, "int64", 4, false, DecodeNumber<int64_t>, EncodeNumber<int64_t>},
    {TDataType::UInt64, "uint64", 4, false, DecodeNumber<uint64_t>, EncodeNumber<uint64_t>},
    {TDataType::Float32, "float32", 2, false, DecodeNumber<float>, EncodeNumber<float>},
    {TDataType::Float64, "float64", 4, false, DecodeNumber<double>, EncodeNumber<double>},
    {TDataType::Hex, "hex", 1, false, DecodeHex, EncodeHex},
    {TDataType::Binary, "binary", 1, false, DecodeBinary, EncodeBinary},
    {TDataType::Ascii, "ascii", 1, true, DecodeAscii, EncodeAscii},
}};

// The rows are found by the enumerator's value; an enumerator without its row is caught by the
// data types test.
template <class Rows, class Member> constexpr bool InEnumOrder(const Rows& rows, Member member)
{
    for (size_t i = 0; i < rows.size(); ++i)
        if (size_t(rows[i].*member) != i)
            return false;
    return true;
}
static_assert(InEnumOrder(TypeRows, &TDataTypeRow::Type));
static_assert(InEnumOrder(OrderRows, &TWordOrderRow::Order));

// The shortest text that reads back as the same number.
template <class T> void AppendChars(std::string& text, T number)
{
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number);
    text.append(buffer.data(), result.ptr);
}

template <class T> void AppendReal(std::string& text, T number)
{
    if (std::isnan(number))
        text += "nan";
    else if (std::isinf(number))
        text += number < 0 ? "-inf" : "inf";
    else
        AppendChars(text, number);
}

}  // namespace

std::span<const TDataTypeRow> DataTypes()
{
    return TypeRows;
}

std::span<const TWordOrderRow> WordOrders()
{
    return OrderRows;
}

const TDataTypeRow& DataTypeRow(TDataType type)
{
    return TypeRows[size_t(type)];
}

const TWordOrderRow& WordOrderRow(TWordOrder order)
{
    return OrderRows[size_t(order)];
}

int RegistersPerValue(TDataType type)
{
    return DataTypeRow(type).Registers;
}

bool IsMultiRegisterType(TDataType type)
{
    return RegistersPerValue(type) > 1;
}

std::string_view DataTypeName(TDataType type)
{
    return DataTypeRow(type).Name;
}

std::string_view WordOrderName(TWordOrder order)
{
    return WordOrderRow(order).Name;
}

std::optional<TDataType> DataTypeFromName(std::string_view name)
{
    for (const TDataTypeRow& row : TypeRows)
        if (SameLetters(name, row.Name))
            return row.Type;
    return std::nullopt;
}

std::optional<TWordOrder> WordOrderFromName(std::string_view name)
{
    for (const TWordOrderRow& row : OrderRows)
        if (SameLetters(name, row.Name))
            return row.Order;
    return std::nullopt;
}

std::vector<TDeviceValue> DecodeRegisters(std::span<const uint16_t> registers, TDataType type, TWordOrder order)
{
    const TDataTypeRow& row = DataTypeRow(type);
    if (row.Text)
        return {row.Decode(registers, order)};
    const auto width = size_t(row.Registers);
    // A single register has no words to swap; its bytes stay as the protocol carries them.
    const TWordOrder valueOrder = width > 1 ? order : TWordOrder::ABCD;
    std::vector<TDeviceValue> values;
    values.reserve(registers.size() / width);
    for (size_t at = 0; at + width <= registers.size(); at += width)
        values.push_back(row.Decode(registers.subspan(at, width), valueOrder));
    return values;
}

std::vector<uint16_t> EncodeValue(std::string_view text, TDataType type, TWordOrder order)
{
    const TDataTypeRow& row = DataTypeRow(type);
    return row.Encode(text, row.Text || row.Registers > 1 ? order : TWordOrder::ABCD);
}

std::optional<double> DeviceValueNumber(const TDeviceValue& value)
{
    using TNumber = std::optional<double>;
    // A handler left out does not compile; GCC names the alternative without one: "no type named
    // 'type' in 'struct std::invoke_result<TEveryAlternative<...>, const long unsigned int&>'".
    return std::visit(TEveryAlternative{
                          [](bool bit) { return TNumber(bit ? 1.0 : 0.0); },
                          [](int64_t number) { return TNumber(double(number)); },
                          [](uint64_t number) { return TNumber(double(number)); },
                          [](float number) { return TNumber(double(number)); },
                          [](double number) { return TNumber(number); },
                          [](const std::string&) { return TNumber(); },
                      },
                      value);
}

void AppendDeviceValueText(std::string& text, const TDeviceValue& value)
{
    // A handler left out does not compile; GCC names the alternative without one: "no type named
    // 'type' in 'struct std::invoke_result<TEveryAlternative<...>, const long unsigned int&>'".
    std::visit(TEveryAlternative{
                   [&text](bool bit) { text += bit ? '1' : '0'; },
                   [&text](int64_t number) { AppendChars(text, number); },
                   [&text](uint64_t number) { AppendChars(text, number); },
                   [&text](float number) { AppendReal(text, number); },
                   [&text](double number) { AppendReal(text, number); },
                   [&text](const std::string& chars) { text += chars; },
               },
               value);
}

std::string DeviceValueText(const TDeviceValue& value)
{
    std::string text;
    AppendDeviceValueText(text, value);
    return text;
}
