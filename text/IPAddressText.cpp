#include "IPAddressText.h"

#include "RConvert.h"

#include <algorithm>

std::string IPToStr(const TIPAddress& address)
{
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." + std::to_string(address[2]) + "." +
           std::to_string(address[3]);
}

bool StrToIP(const std::string& text, TIPAddress& address)
{
    TIPAddress parsed{};
    std::string_view rest = text;
    for (size_t i = 0; i < parsed.size(); ++i) {
        // The last part ends at the end of the text; a dot after it would open a fifth part.
        const size_t dot = rest.find('.');
        const bool last = i + 1 == parsed.size();
        if (last != (dot == std::string_view::npos))
            return false;
        std::string part(rest.substr(0, dot));
        RemoveChars(part, IPBlankChars);
        if (!IsValueInRange(part, 0, 255))
            return false;
        parsed[i] = static_cast<uint8_t>(StrToIntDefault(part, 0));
        rest.remove_prefix(last ? rest.size() : dot + 1);
    }
    address = parsed;
    return true;
}

bool DecimalStrToIP(const std::string& text, TIPAddress& address)
{
    const bool decimalOnly = std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '.' || IPBlankChars.find(c) != std::string_view::npos;
    });
    return decimalOnly && StrToIP(text, address);
}
