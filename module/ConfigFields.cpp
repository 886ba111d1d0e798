#include "ConfigFields.h"

#include <array>
#include <cstring>

namespace {

const std::array<const char*, 3> ParityNames{"NONE", "ODD", "EVEN"};

std::string ChannelSection(size_t n)
{
    return "CHANNEL_" + std::to_string(n);
}
std::string ChannelPage(size_t n)
{
    return "RS-485 Канал " + std::to_string(n + 1);
}

std::vector<TConfigField> BuildFields()
{
    std::vector<TConfigField> fields{
        {"IP", "ADDRESS", "TCP/IP", "IP адрес", TFieldFormat::Address, offsetof(TModuleConfig, Address)},
        {"IP", "GATEWAY", "TCP/IP", "Основной шлюз", TFieldFormat::Address, offsetof(TModuleConfig, Gateway)},
        {"IP", "NETMASK", "TCP/IP", "Маска", TFieldFormat::Address, offsetof(TModuleConfig, NetMask)},
        {"IP", "TCP_PORT", "TCP/IP", "TCP порт", TFieldFormat::Number, offsetof(TModuleConfig, TCPPort)},
    };
    struct TChannelField {
        const char* Key;
        const char* Label;
        TFieldFormat Format;
        size_t Offset;
    };
    const TChannelField channelFields[] = {
        {"SLAVE_ADDRESS", "Сетевой адрес", TFieldFormat::Number, offsetof(TChannelConfig, SlaveAddress)},
        {"BAUDRATE", "Скорость", TFieldFormat::BaudRate, offsetof(TChannelConfig, BaudIndex)},
        {"PARITY", "Паритет", TFieldFormat::Parity, offsetof(TChannelConfig, Parity)},
        {"STOPBITS", "Стоп-биты", TFieldFormat::StopBits, offsetof(TChannelConfig, StopBits)},
        {"TIMEOUT", "Таймаут", TFieldFormat::Number, offsetof(TChannelConfig, Timeout)},
        {"REPLIES", "Количество повторов", TFieldFormat::Number, offsetof(TChannelConfig, Replies)},
        {"IP_ADDRESS_0", "ModbusTCP Сервер 0, IP адрес", TFieldFormat::Address, offsetof(TChannelConfig, IPAddress0)},
        {"TCP_PORT_0", "ModbusTCP Сервер 0, TCP порт", TFieldFormat::Number, offsetof(TChannelConfig, TCPPort0)},
        {"IP_ADDRESS_1", "ModbusTCP Сервер 1, IP адрес", TFieldFormat::Address, offsetof(TChannelConfig, IPAddress1)},
        {"TCP_PORT_1", "ModbusTCP Сервер 1, TCP порт", TFieldFormat::Number, offsetof(TChannelConfig, TCPPort1)},
        {"ETH_RECV_TOUT", "Таймаут ModbusTCP", TFieldFormat::Number, offsetof(TChannelConfig, EthRecvTout)},
        {"ETH_CONN_TOUT", "Время установления соединения", TFieldFormat::Number, offsetof(TChannelConfig, EthConnTout)},
    };
    for (size_t n = 0; n < ChannelCount; ++n) {
        const size_t channelOffset = offsetof(TModuleConfig, Channels) + n * sizeof(TChannelConfig);
        for (const TChannelField& field : channelFields)
            fields.push_back({ChannelSection(n), field.Key, ChannelPage(n), field.Label, field.Format,
                              channelOffset + field.Offset});
    }
    return fields;
}

size_t FieldSize(const TConfigField& field)
{
    return field.Format == TFieldFormat::Address ? sizeof(TIPAddress) : sizeof(uint16_t);
}

const uint8_t* FieldBytes(const TModuleConfig& config, const TConfigField& field)
{
    return reinterpret_cast<const uint8_t*>(&config) + field.Offset;
}

uint16_t FieldWord(const TModuleConfig& config, const TConfigField& field)
{
    uint16_t value = 0;
    std::memcpy(&value, FieldBytes(config, field), sizeof value);
    return value;
}

TIPAddress FieldAddress(const TModuleConfig& config, const TConfigField& field)
{
    TIPAddress address{};
    std::memcpy(address.data(), FieldBytes(config, field), address.size());
    return address;
}

}  // namespace

const std::vector<TConfigField>& ConfigFields()
{
    static const std::vector<TConfigField> fields = BuildFields();
    return fields;
}

bool FieldEquals(const TModuleConfig& a, const TModuleConfig& b, const TConfigField& field)
{
    return std::memcmp(FieldBytes(a, field), FieldBytes(b, field), FieldSize(field)) == 0;
}

std::vector<const TConfigField*> DifferingFields(const TModuleConfig& a, const TModuleConfig& b)
{
    std::vector<const TConfigField*> differing;
    for (const TConfigField& field : ConfigFields())
        if (!FieldEquals(a, b, field))
            differing.push_back(&field);
    return differing;
}

std::string FieldIniText(const TModuleConfig& config, const TConfigField& field)
{
    switch (field.Format) {
    case TFieldFormat::Address: return IPToStr(FieldAddress(config, field));
    case TFieldFormat::BaudRate: return BaudRateText(FieldWord(config, field));
    case TFieldFormat::StopBits: return std::to_string(FieldWord(config, field) + 1u);
    case TFieldFormat::Number:
    case TFieldFormat::Parity: break;
    }
    return std::to_string(FieldWord(config, field));
}

std::string FieldDisplayText(const TModuleConfig& config, const TConfigField& field)
{
    if (field.Format == TFieldFormat::Parity) {
        const uint16_t parity = FieldWord(config, field);
        if (parity < ParityNames.size())
            return ParityNames[parity];
    }
    return FieldIniText(config, field);
}
