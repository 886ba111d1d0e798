#include "ModuleAddress.h"

#include "CommandFile.h"
#include "IPAddressText.h"
#include "RConvert.h"

#include <cstdio>
#include <sstream>
#include <string_view>

namespace {

uint32_t AddressValue(const TIPAddress& address)
{
    return uint32_t(address[0]) << 24 | uint32_t(address[1]) << 16 | uint32_t(address[2]) << 8 | address[3];
}

TIPAddress AddressOf(uint32_t value)
{
    return {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
}

// The text with every byte but printable ASCII shown by its code: a mark that a host list was
// saved with (a byte-order mark, a no-break space) is invisible in a message that quotes it.
std::string VisibleText(const std::string& text)
{
    std::string visible;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead > 0x20 && lead < 0x7F) {
            visible += char(lead);
            ++i;
            continue;
        }
        // A whole UTF-8 sequence by its code point, a control or stray byte by its value.
        const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        uint32_t code = lead & (0xFF >> (length + 1));
        size_t used = 1;
        while (used < length && i + used < text.size() && (static_cast<unsigned char>(text[i + used]) & 0xC0) == 0x80)
            code = code << 6 | (static_cast<unsigned char>(text[i + used++]) & 0x3F);
        char shown[16];
        if (length > 1 && used == length) {
            std::snprintf(shown, sizeof shown, "<U+%04X>", unsigned(code));
        } else {
            std::snprintf(shown, sizeof shown, "<0x%02X>", unsigned(lead));
            used = 1;
        }
        visible += shown;
        i += used;
    }
    return visible;
}

// The decimal rule without the blanks the masked editors pad with: a command line carries none.
bool ParseDotted(const std::string& text, TIPAddress& address)
{
    return text.find_first_of(IPBlankChars) == std::string::npos && DecimalStrToIP(text, address);
}

}  // namespace

bool ParseModuleAddress(const std::string& text, uint16_t defaultPort, TModuleAddress& address)
{
    const size_t colon = text.find(':');
    TIPAddress ip{};
    if (!ParseDotted(text.substr(0, colon), ip))
        return false;
    uint16_t port = defaultPort;
    if (colon != std::string::npos) {
        const std::string portText = text.substr(colon + 1);
        if (portText.empty() || portText.find_first_not_of("0123456789") != std::string::npos ||
            !IsValueInRange(portText, 1, 65535))
            return false;
        port = uint16_t(StrToIntDefault(portText, 0));
    }
    address = {IPToStr(ip), port};
    return true;
}

bool ParseAddressSpan(const std::string& text, uint32_t& first, uint32_t& last, std::string& error)
{
    TIPAddress low{}, high{};
    const size_t slash = text.find('/');
    const size_t dash = text.find('-');
    if (slash != std::string::npos) {
        const std::string bits = text.substr(slash + 1);
        if (!ParseDotted(text.substr(0, slash), low) || bits.empty() ||
            bits.find_first_not_of("0123456789") != std::string::npos || !IsValueInRange(bits, 0, 32)) {
            error = "неверный диапазон " + text;
            return false;
        }
        const int prefix = StrToIntDefault(bits, 0);
        const uint32_t mask = prefix == 0 ? 0 : ~uint32_t(0) << (32 - prefix);
        const uint32_t base = AddressValue(low) & mask;
        // The network and broadcast addresses of a subnet hold no module.
        const uint32_t edge = prefix <= 30 ? 1 : 0;
        first = base + edge;
        last = (base | ~mask) - edge;
        return true;
    }
    if (dash == std::string::npos && ParseDotted(text, low)) {
        first = last = AddressValue(low);
        return true;
    }
    if (dash == std::string::npos || !ParseDotted(text.substr(0, dash), low) ||
        !ParseDotted(text.substr(dash + 1), high) || AddressValue(high) < AddressValue(low)) {
        error = "неверный диапазон " + text;
        return false;
    }
    first = AddressValue(low);
    last = AddressValue(high);
    return true;
}

bool AddressNumber(const std::string& address, uint32_t& number)
{
    TIPAddress ip{};
    if (!ParseDotted(address, ip))
        return false;
    number = AddressValue(ip);
    return true;
}

bool ParseAddressRange(const std::string& text, uint16_t port, std::vector<TModuleAddress>& addresses,
                       std::string& error)
{
    uint32_t first = 0, last = 0;
    if (!ParseAddressSpan(text, first, last, error))
        return false;
    const uint64_t count = uint64_t(last) - first + 1;
    if (count > MaxScanAddresses) {
        error = "диапазон " + text + " содержит " + std::to_string(count) + " адресов, допускается не более " +
                std::to_string(MaxScanAddresses);
        return false;
    }
    for (uint64_t i = 0; i < count; ++i)
        addresses.push_back({IPToStr(AddressOf(first + uint32_t(i))), port});
    return true;
}

bool ReadHostsFile(const std::string& fileName, uint16_t defaultPort, std::vector<TModuleAddress>& addresses,
                   std::string& error)
{
    std::string text;
    if (!ReadCommandFile(fileName, text, error))
        return false;
    // Editors on some systems save a list with a byte-order mark: it is no part of the first host.
    constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
    if (std::string_view(text).substr(0, ByteOrderMark.size()) == ByteOrderMark)
        text.erase(0, ByteOrderMark.size());
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string host;
        if (!(words >> host))
            continue;
        TModuleAddress address;
        if (!ParseModuleAddress(host, defaultPort, address)) {
            error = fileName + ":" + std::to_string(number) + ": неверный адрес " + VisibleText(host);
            return false;
        }
        for (std::string value; words >> value;)
            address.Values.push_back(value);
        address.Origin = fileName + ":" + std::to_string(number);
        addresses.push_back(address);
    }
    return true;
}
