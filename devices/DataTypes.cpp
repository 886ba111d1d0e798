#include "DataTypes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>

namespace {

constexpr std::array<std::string_view, 9> TypeNames = {"int16",   "uint16", "int32",  "uint32", "float32",
                                                       "float64", "hex",    "binary", "ascii"};
constexpr std::array<std::string_view, 4> OrderNames = {"ABCD", "CDAB", "BADC", "DCBA"};

bool SwapsWords(TWordOrder order)
{
    return order == TWordOrder::CDAB || order == TWordOrder::DCBA;
}

bool SwapsBytes(TWordOrder order)
{
    return order == TWordOrder::BADC || order == TWordOrder::DCBA;
}

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
    uint64_t bits = 0;
    const size_t count = registers.size();
    for (size_t i = 0; i < count; ++i) {
        const uint16_t word = registers[SwapsWords(order) ? count - 1 - i : i];
        bits = bits << 16 | (SwapsBytes(order) ? SwapBytes(word) : word);
    }
    return bits;
}

std::vector<uint16_t> SplitRegisters(uint64_t bits, int count, TWordOrder order)
{
    std::vector<uint16_t> registers(size_t(count), 0);
    for (int i = 0; i < count; ++i) {
        const auto word = uint16_t(bits >> (16 * (count - 1 - i)));
        registers[size_t(SwapsWords(order) ? count - 1 - i : i)] = SwapsBytes(order) ? SwapBytes(word) : word;
    }
    return registers;
}

TDeviceValue DecodeOne(uint64_t bits, TDataType type)
{
    switch (type) {
    case TDataType::Int16: return int64_t(int16_t(bits));
    case TDataType::UInt16: return int64_t(uint16_t(bits));
    case TDataType::Int32: return int64_t(int32_t(bits));
    case TDataType::UInt32: return int64_t(uint32_t(bits));
    case TDataType::Float32: return std::bit_cast<float>(uint32_t(bits));
    case TDataType::Float64: return std::bit_cast<double>(bits);
    case TDataType::Hex: {
        static constexpr char Digits[] = "0123456789ABCDEF";
        std::string text = "0x";
        for (int shift = 12; shift >= 0; shift -= 4)
            text += Digits[(bits >> shift) & 0xF];
        return text;
    }
    default: {
        std::string text;
        for (int bit = 15; bit >= 0; --bit)
            text += (bits >> bit) & 1 ? '1' : '0';
        return text;
    }
    }
}

std::string DecodeAscii(std::span<const uint16_t> registers, TWordOrder order)
{
    std::string text;
    for (uint16_t word : registers) {
        if (SwapsBytes(order))
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
    std::vector<uint16_t> registers;
    for (size_t i = 0; i < text.size(); i += 2) {
        const auto high = uint8_t(text[i]);
        const auto low = i + 1 < text.size() ? uint8_t(text[i + 1]) : uint8_t(0);
        const auto word = uint16_t(high << 8 | low);
        registers.push_back(SwapsBytes(order) ? SwapBytes(word) : word);
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

std::optional<uint64_t> EncodeBits(std::string_view text, TDataType type)
{
    switch (type) {
    case TDataType::Int16:
    case TDataType::Int32: {
        const auto value = ParseNumber<int64_t>(text);
        const int64_t limit = type == TDataType::Int16 ? INT16_MAX : INT32_MAX;
        if (!value || *value > limit || *value < -limit - 1)
            return std::nullopt;
        return uint64_t(*value);
    }
    case TDataType::UInt16:
    case TDataType::UInt32: {
        const auto value = ParseNumber<uint64_t>(text);
        if (!value || *value > (type == TDataType::UInt16 ? UINT16_MAX : UINT32_MAX))
            return std::nullopt;
        return *value;
    }
    case TDataType::Float32: {
        const auto value = ParseReal(text);
        // A finite number past the float's range would silently become an infinity.
        if (!value || (std::isfinite(*value) && std::isinf(float(*value))))
            return std::nullopt;
        return std::bit_cast<uint32_t>(float(*value));
    }
    case TDataType::Float64: {
        const auto value = ParseReal(text);
        return value ? std::optional<uint64_t>(std::bit_cast<uint64_t>(*value)) : std::nullopt;
    }
    case TDataType::Hex: {
        if (text.starts_with("0x") || text.starts_with("0X"))
            text.remove_prefix(2);
        const auto value = text.size() <= 4 ? ParseNumber<uint16_t>(text, 16) : std::nullopt;
        return value ? std::optional<uint64_t>(*value) : std::nullopt;
    }
    default: {
        std::string digits(text);
        std::erase(digits, ' ');
        const auto value = digits.size() <= 16 ? ParseNumber<uint16_t>(digits, 2) : std::nullopt;
        return value ? std::optional<uint64_t>(*value) : std::nullopt;
    }
    }
}

// The shortest text that reads back as the same number.
template <class T> void AppendChars(std::string& text, T number)
{
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number);
    text.append(buffer.data(), result.ptr);
}

}  // namespace

int RegistersPerValue(TDataType type)
{
    switch (type) {
    case TDataType::Int32:
    case TDataType::UInt32:
    case TDataType::Float32: return 2;
    case TDataType::Float64: return 4;
    default: return 1;
    }
}

bool IsMultiRegisterType(TDataType type)
{
    return RegistersPerValue(type) > 1;
}

std::string_view DataTypeName(TDataType type)
{
    return TypeNames[size_t(type)];
}

std::string_view WordOrderName(TWordOrder order)
{
    return OrderNames[size_t(order)];
}

std::optional<TDataType> DataTypeFromName(std::string_view name)
{
    for (size_t i = 0; i < TypeNames.size(); ++i)
        if (SameLetters(name, TypeNames[i]))
            return TDataType(i);
    return std::nullopt;
}

std::optional<TWordOrder> WordOrderFromName(std::string_view name)
{
    for (size_t i = 0; i < OrderNames.size(); ++i)
        if (SameLetters(name, OrderNames[i]))
            return TWordOrder(i);
    return std::nullopt;
}

std::vector<TDeviceValue> DecodeRegisters(std::span<const uint16_t> registers, TDataType type, TWordOrder order)
{
    if (type == TDataType::Ascii)
        return {DecodeAscii(registers, order)};
    const size_t width = size_t(RegistersPerValue(type));
    // A single register has no words to swap; its bytes stay as the protocol carries them.
    const TWordOrder valueOrder = width > 1 ? order : TWordOrder::ABCD;
    std::vector<TDeviceValue> values;
    values.reserve(registers.size() / width);
    for (size_t at = 0; at + width <= registers.size(); at += width)
        values.push_back(DecodeOne(JoinRegisters(registers.subspan(at, width), valueOrder), type));
    return values;
}

std::vector<uint16_t> EncodeValue(std::string_view text, TDataType type, TWordOrder order)
{
    if (type == TDataType::Ascii)
        return EncodeAscii(text, order);
    const auto bits = EncodeBits(text, type);
    if (!bits)
        return {};
    const int width = RegistersPerValue(type);
    return SplitRegisters(*bits, width, width > 1 ? order : TWordOrder::ABCD);
}

void AppendDeviceValueText(std::string& text, const TDeviceValue& value)
{
    std::visit(
        [&text](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>)
                text += v ? '1' : '0';
            else if constexpr (std::is_same_v<T, std::string>)
                text += v;
            else if constexpr (std::is_floating_point_v<T>) {
                if (std::isnan(v))
                    text += "nan";
                else if (std::isinf(v))
                    text += v < 0 ? "-inf" : "inf";
                else
                    AppendChars(text, v);
            } else
                AppendChars(text, v);
        },
        value);
}

std::string DeviceValueText(const TDeviceValue& value)
{
    std::string text;
    AppendDeviceValueText(text, value);
    return text;
}
