#include "RConvert.h"

#include <limits>

namespace {

constexpr uint64_t MaxHexValue = std::numeric_limits<uint32_t>::max();
constexpr uint64_t MaxPositive = std::numeric_limits<int32_t>::max();
constexpr uint64_t MaxNegative = MaxPositive + 1;

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

size_t HexPrefixLength(std::string_view text)
{
    if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X'))
        return 1;
    if (text.starts_with("0x") || text.starts_with("0X"))
        return 2;
    return 0;
}

std::optional<int32_t> ParseHex(std::string_view digits)
{
    if (digits.empty())
        return std::nullopt;
    uint64_t value = 0;
    for (char c : digits) {
        const int digit = HexDigitValue(c);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<uint64_t>(digit);
        if (value > MaxHexValue)
            return std::nullopt;
    }
    // All 32 bits are usable and read as signed, so $FFFFFFFF is -1.
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

std::optional<int32_t> ParseDecimal(std::string_view digits, bool negative)
{
    if (digits.empty())
        return std::nullopt;
    const uint64_t limit = negative ? MaxNegative : MaxPositive;
    uint64_t magnitude = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
        if (magnitude > limit)
            return std::nullopt;
    }
    const int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return static_cast<int32_t>(value);
}

}  // namespace

std::optional<int32_t> ParseIntegerText(std::string_view text)
{
    while (text.starts_with(' '))
        text.remove_prefix(1);
    if (const size_t prefix = HexPrefixLength(text))
        return ParseHex(text.substr(prefix));
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+'))
        text.remove_prefix(1);
    return ParseDecimal(text, negative);
}

bool IsValueInRange(const std::string& text, int32_t min, int32_t max)
{
    const auto value = ParseIntegerText(text);
    return value && *value >= min && *value <= max;
}

bool IsIntegerText(const std::string& text)
{
    if (text.empty())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!(c >= '0' && c <= '9') && !(i == 0 && c == '-'))
            return false;
    }
    return true;
}

void RemoveChars(std::string& text, std::string_view set)
{
    std::erase_if(text, [set](char c) { return set.find(c) != std::string_view::npos; });
}

int32_t StrToIntDefault(const std::string& text, int32_t def)
{
    return ParseIntegerText(text).value_or(def);
}

bool IsIPAddressText(const std::string& text)
{
    // A loose check: only the three parts before the dots are looked at, and only from above.
    constexpr int32_t Unparsable = 999;
    std::string_view rest = text;
    int dots = 0;
    for (size_t dot = rest.find('.'); dot != std::string_view::npos; dot = rest.find('.')) {
        ++dots;
        if (StrToIntDefault(std::string(rest.substr(0, dot)), Unparsable) > 255)
            return false;
        rest.remove_prefix(dot + 1);
    }
    return dots == 3;
}
