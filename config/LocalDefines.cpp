#include "LocalDefines.h"

#include "IniFile.h"
#include "ModuleDefaults.h"
#include "RConvert.h"

#include <cstring>
#include <filesystem>

const std::array<const char*, BaudRateCount> BaudRates = {
    "600",    "1200",   "2400",   "4800",   "9600",   "19200",  "38400",  "48000",  "57600",   "115200",
    "144000", "192000", "230400", "288000", "384000", "460800", "576000", "768000", "1152000", "2304000",
};

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

int BaudRateToIndex(const std::string& text)
{
    for (size_t i = 0; i < BaudRates.size(); ++i)
        if (text == BaudRates[i])
            return static_cast<int>(i);
    return DefaultBaudIndex;
}

const char* BaudRateText(size_t index)
{
    return BaudRates[index < BaudRates.size() ? index : DefaultBaudIndex];
}

uint16_t CRC16(const uint8_t* data, size_t count)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

void SetConfigCRC(TModuleConfig& config)
{
    config.CRC = CRC16(reinterpret_cast<const uint8_t*>(&config), ConfigCRCOffset);
}

namespace {

constexpr const char* SectionIP = "IP";
constexpr const char* ChannelSectionPrefix = "CHANNEL_";

constexpr int32_t MaxParity = 2;

std::string ChannelSection(size_t n)
{
    return ChannelSectionPrefix + std::to_string(n);
}

// Collects the keys in the order they are written, for the file to take them all at once.
class TConfigWriter {
public:
    void Address(const std::string& section, const char* key, const TIPAddress& value)
    {
        Entries.push_back({section, key, IPToStr(value)});
    }
    void Number(const std::string& section, const char* key, unsigned value)
    {
        Entries.push_back({section, key, std::to_string(value)});
    }
    void Text(const std::string& section, const char* key, const std::string& value)
    {
        Entries.push_back({section, key, value});
    }

    std::vector<TIniEntry> Entries;
};

std::vector<TIniEntry> ConfigEntries(const TModuleConfig& config)
{
    TConfigWriter ini;
    ini.Address(SectionIP, "GATEWAY", config.Gateway);
    ini.Address(SectionIP, "NETMASK", config.NetMask);
    ini.Address(SectionIP, "ADDRESS", config.Address);
    ini.Number(SectionIP, "TCP_PORT", config.TCPPort);

    for (size_t n = 0; n < ChannelCount; ++n) {
        const std::string section = ChannelSection(n);
        const TChannelConfig& channel = config.Channels[n];
        ini.Number(section, "SLAVE_ADDRESS", channel.SlaveAddress);
        ini.Text(section, "BAUDRATE", BaudRateText(channel.BaudIndex));
        ini.Number(section, "PARITY", channel.Parity);
        ini.Number(section, "STOPBITS", channel.StopBits + 1u);
        ini.Number(section, "TIMEOUT", channel.Timeout);
        ini.Number(section, "REPLIES", channel.Replies);
        ini.Address(section, "IP_ADDRESS_0", channel.IPAddress0);
        ini.Number(section, "TCP_PORT_0", channel.TCPPort0);
        ini.Address(section, "IP_ADDRESS_1", channel.IPAddress1);
        ini.Number(section, "TCP_PORT_1", channel.TCPPort1);
        ini.Number(section, "ETH_RECV_TOUT", channel.EthRecvTout);
        ini.Number(section, "ETH_CONN_TOUT", channel.EthConnTout);
    }
    return ini.Entries;
}

class TConfigReader {
public:
    explicit TConfigReader(const std::string& fileName) : Ini_(fileName) {}

    // Always ends with a valid address: the stored text if it converts, else the default.
    void Address(const std::string& section, const char* key, const TIPAddress& def, TIPAddress& field) const
    {
        if (!StrToIP(Ini_.ReadString(section, key, IPToStr(def)), field))
            field = def;
    }
    int32_t Integer(const std::string& section, const char* key, int32_t def) const
    {
        return StrToIntDefault(Ini_.ReadString(section, key, ""), def);
    }
    // Kept as the low 16 bits, so 65536 becomes 0 and -1 becomes 65535.
    uint16_t Word(const std::string& section, const char* key, int32_t def) const
    {
        return static_cast<uint16_t>(Integer(section, key, def));
    }
    std::string Text(const std::string& section, const char* key, const char* def) const
    {
        return Ini_.ReadString(section, key, def);
    }

private:
    TIniFile Ini_;
};

}  // namespace

bool LoadConfigFromFile(const std::string& fileName, TModuleConfig& config)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(fileName, error))
        return false;
    std::memset(&config, 0, sizeof config);

    const TConfigReader ini(fileName);
    const TModuleConfig& def = FactoryDefaults;
    ini.Address(SectionIP, "ADDRESS", def.Address, config.Address);
    ini.Address(SectionIP, "GATEWAY", def.Gateway, config.Gateway);
    ini.Address(SectionIP, "NETMASK", def.NetMask, config.NetMask);
    config.TCPPort = ini.Word(SectionIP, "TCP_PORT", def.TCPPort);

    for (size_t n = 0; n < ChannelCount; ++n) {
        const std::string section = ChannelSection(n);
        TChannelConfig& channel = config.Channels[n];
        const TChannelConfig& channelDef = def.Channels[n];
        channel.SlaveAddress = ini.Word(section, "SLAVE_ADDRESS", channelDef.SlaveAddress);
        channel.BaudIndex =
            static_cast<uint16_t>(BaudRateToIndex(ini.Text(section, "BAUDRATE", BaudRates[channelDef.BaudIndex])));
        const int32_t parity = ini.Integer(section, "PARITY", channelDef.Parity);
        channel.Parity = static_cast<uint16_t>(parity > MaxParity ? 0 : parity);
        // The file holds the code plus one: 1 for one stop bit, 2 for two.
        channel.StopBits = ini.Integer(section, "STOPBITS", channelDef.StopBits + 1) == 1 ? 0 : 1;
        channel.Timeout = ini.Word(section, "TIMEOUT", channelDef.Timeout);
        channel.Replies = ini.Word(section, "REPLIES", channelDef.Replies);
        ini.Address(section, "IP_ADDRESS_0", channelDef.IPAddress0, channel.IPAddress0);
        ini.Address(section, "IP_ADDRESS_1", channelDef.IPAddress1, channel.IPAddress1);
        channel.TCPPort0 = ini.Word(section, "TCP_PORT_0", channelDef.TCPPort0);
        channel.TCPPort1 = ini.Word(section, "TCP_PORT_1", channelDef.TCPPort1);
        channel.EthRecvTout = ini.Word(section, "ETH_RECV_TOUT", channelDef.EthRecvTout);
        channel.EthConnTout = ini.Word(section, "ETH_CONN_TOUT", channelDef.EthConnTout);
    }
    return true;
}

void SaveConfigToFile(const std::string& fileName, TModuleConfig config)
{
    TIniFile(fileName).WriteStrings(ConfigEntries(config));
}
