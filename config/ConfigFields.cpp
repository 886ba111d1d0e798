#include "ConfigFields.h"
#include "BaudRates.h"
#include "IPAddressText.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

const std::array<const char*, 3> ParityNames{"NONE", "ODD", "EVEN"};

constexpr int32_t MaxWord = 0xFFFF;
// The role and the slave address share one word.
constexpr const char* RoleKey = "SLAVE_ADDRESS";
constexpr int32_t MaxPort = 65535;

std::string ChannelSection(size_t n)
{
    return "CHANNEL_" + std::to_string(n);
}
std::string ChannelPage(size_t n)
{
    return "RS-485 Канал " + std::to_string(n + 1);
}

std::string ServerAddressMessage(int server)
{
    return "Недопустимое значение IP адреса сервера " + std::to_string(server) + " %text";
}
std::string ServerPortMessage(int server)
{
    return "Недопустимое значение TCP порта сервера " + std::to_string(server) + " %text. Допускаются значения %range";
}

std::vector<TConfigField> BuildFields()
{
    using F = TFieldFormat;
    using R = TFieldRole;
    using FitKind = TFieldFit;
    std::vector<TConfigField> fields{
        {"IP", "ADDRESS", "TCP/IP", "IP адрес", F::Address, offsetof(TModuleConfig, Address), -1, "MaskEdit1",
         R::Always, FitKind::None, 0, 0, "Недопустимое значение IP адреса !%text", true, 2},
        {"IP", "GATEWAY", "TCP/IP", "Основной шлюз", F::Address, offsetof(TModuleConfig, Gateway), -1, "MaskEdit2",
         R::Always, FitKind::None, 0, 0, "Недопустимое значение основного шлюза !%text", false, 0},
        {"IP", "NETMASK", "TCP/IP", "Маска", F::Address, offsetof(TModuleConfig, NetMask), -1, "MaskEdit3", R::Always,
         FitKind::None, 0, 0, "Недопустимое значение маски подсети !%text", false, 1},
        // The module's own port: anything but a number in range would lock the module out of its port.
        {"IP", "TCP_PORT", "TCP/IP", "TCP порт", F::Number, offsetof(TModuleConfig, TCPPort), -1, "SpinEdit1",
         R::Always, FitKind::Clamp, 1, MaxPort,
         "Недопустимое значение TCP порта !. Интервал допустимых значений %range", true, 3},
    };
    struct TChannelField {
        const char* Key;
        const char* Label;
        F Format;
        size_t Offset;
        const char* Control;
        R Role;
        FitKind Fit;
        int32_t Min;
        int32_t Max;
        std::string Message;
        size_t FilePosition;
    };
    const TChannelField channelFields[] = {
        {RoleKey, "Сетевой адрес", F::Number, offsetof(TChannelConfig, SlaveAddress), "SpinEdit3", R::Slave,
         FitKind::Clamp, 0, 255, "Недопустимое значение адреса %text. Допускаются значения %range", 0},
        {"IP_ADDRESS_0", "ModbusTCP Сервер 0, IP адрес", F::Address, offsetof(TChannelConfig, IPAddress0), "MaskEdit1",
         R::Slave, FitKind::None, 0, 0, ServerAddressMessage(0), 6},
        {"TCP_PORT_0", "ModbusTCP Сервер 0, TCP порт", F::Number, offsetof(TChannelConfig, TCPPort0), "SpinEdit4",
         R::Slave, FitKind::Clamp, 1, MaxPort, ServerPortMessage(0), 7},
        {"IP_ADDRESS_1", "ModbusTCP Сервер 1, IP адрес", F::Address, offsetof(TChannelConfig, IPAddress1), "MaskEdit2",
         R::Slave, FitKind::None, 0, 0, ServerAddressMessage(1), 8},
        {"TCP_PORT_1", "ModbusTCP Сервер 1, TCP порт", F::Number, offsetof(TChannelConfig, TCPPort1), "SpinEdit5",
         R::Slave, FitKind::Clamp, 1, MaxPort, ServerPortMessage(1), 9},
        {"BAUDRATE", "Скорость", F::BaudRate, offsetof(TChannelConfig, BaudIndex), "ComboBox1", R::Always,
         FitKind::List, 0, int32_t(BaudRateCount - 1), "", 1},
        {"PARITY", "Паритет", F::Parity, offsetof(TChannelConfig, Parity), "ComboBox2", R::Always, FitKind::List, 0,
         int32_t(ParityNames.size() - 1), "", 2},
        {"STOPBITS", "Стоп-биты", F::StopBits, offsetof(TChannelConfig, StopBits), "ComboBox3", R::Always,
         FitKind::List, 0, 1, "", 3},
        {"TIMEOUT", "Таймаут", F::Number, offsetof(TChannelConfig, Timeout), "SpinEdit1", R::Master, FitKind::Clamp, 5,
         1000, "Недопустимое значение таймаута %text. Допускаются значения %range", 4},
        // The module repeats nothing: the control's range has equal ends, so it shows any value and
        // the collection refuses all but 0.
        {"REPLIES", "Количество повторов", F::Number, offsetof(TChannelConfig, Replies), "SpinEdit2", R::Master,
         FitKind::Check, 0, 0, "Недопустимое значение количества повторов %text. Допускаются значения %range", 5},
        // Held by the frame and edited in its extra-parameters dialog; shown and sent as they are.
        {"ETH_RECV_TOUT", "Таймаут ModbusTCP", F::Number, offsetof(TChannelConfig, EthRecvTout), "EthRecvTout",
         R::Slave, FitKind::None, 0, MaxWord, "", 10},
        {"ETH_CONN_TOUT", "Время установления соединения", F::Number, offsetof(TChannelConfig, EthConnTout),
         "EthConnTout", R::Slave, FitKind::None, 0, MaxWord, "", 11},
    };
    for (size_t n = 0; n < ChannelCount; ++n) {
        const size_t channelOffset = offsetof(TModuleConfig, Channels) + n * sizeof(TChannelConfig);
        for (const TChannelField& field : channelFields)
            fields.push_back({ChannelSection(n), field.Key, ChannelPage(n), field.Label, field.Format,
                              channelOffset + field.Offset, int(n), field.Control, field.Role, field.Fit, field.Min,
                              field.Max, field.Message, false, field.FilePosition});
    }
    return fields;
}

const uint8_t* FieldBytes(const TModuleConfig& config, const TConfigField& field)
{
    return reinterpret_cast<const uint8_t*>(&config) + field.Offset;
}

uint8_t* FieldBytes(TModuleConfig& config, const TConfigField& field)
{
    return reinterpret_cast<uint8_t*>(&config) + field.Offset;
}

void ReplaceAll(std::string& text, const std::string& placeholder, const std::string& value)
{
    for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

}  // namespace

const std::vector<TConfigField>& ConfigFields()
{
    static const std::vector<TConfigField> fields = BuildFields();
    return fields;
}

const TConfigField* FindConfigField(const std::string& section, const std::string& key)
{
    for (const TConfigField& field : ConfigFields())
        if (field.Section == section && field.Key == key)
            return &field;
    return nullptr;
}

size_t FieldSize(const TConfigField& field)
{
    return field.Format == TFieldFormat::Address ? sizeof(TIPAddress) : sizeof(uint16_t);
}

const std::vector<TByteRange>& ReservedRanges()
{
    static const std::vector<TByteRange> ranges = [] {
        std::array<bool, ConfigCRCOffset> covered{};
        for (const TConfigField& field : ConfigFields())
            std::fill_n(covered.begin() + field.Offset, FieldSize(field), true);
        // A run ends where a channel's record ends: each record has reserved bytes of its own.
        const auto channelStart = [](size_t at) {
            const size_t first = offsetof(TModuleConfig, Channels);
            return at >= first && at <= first + ChannelCount * sizeof(TChannelConfig) &&
                   (at - first) % sizeof(TChannelConfig) == 0;
        };
        std::vector<TByteRange> found;
        for (size_t at = 0; at < covered.size(); ++at) {
            if (covered[at])
                continue;
            if (!found.empty() && found.back().Offset + found.back().Size == at && !channelStart(at))
                ++found.back().Size;
            else
                found.push_back({at, 1});
        }
        return found;
    }();
    return ranges;
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

uint16_t FieldWord(const TModuleConfig& config, const TConfigField& field)
{
    uint16_t value = 0;
    std::memcpy(&value, FieldBytes(config, field), sizeof value);
    return value;
}

void SetFieldWord(TModuleConfig& config, const TConfigField& field, uint16_t value)
{
    std::memcpy(FieldBytes(config, field), &value, sizeof value);
}

TIPAddress FieldAddress(const TModuleConfig& config, const TConfigField& field)
{
    TIPAddress address{};
    std::memcpy(address.data(), FieldBytes(config, field), address.size());
    return address;
}

void SetFieldAddress(TModuleConfig& config, const TConfigField& field, const TIPAddress& address)
{
    std::memcpy(FieldBytes(config, field), address.data(), address.size());
}

bool FieldPossible(const TModuleConfig& config, const TConfigField& field)
{
    if (field.Fit != TFieldFit::List && field.Key != RoleKey)
        return true;
    const int32_t value = FieldWord(config, field);
    return value >= field.Min && value <= field.Max;
}

std::vector<const TConfigField*> ImpossibleFields(const TModuleConfig& config)
{
    std::vector<const TConfigField*> impossible;
    for (const TConfigField& field : ConfigFields())
        if (!FieldPossible(config, field))
            impossible.push_back(&field);
    return impossible;
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
    if (!FieldPossible(config, field))
        return (field.Format == TFieldFormat::BaudRate ? "индекс " : "") + std::to_string(FieldWord(config, field));
    if (field.Format == TFieldFormat::Parity) {
        const uint16_t parity = FieldWord(config, field);
        if (parity < ParityNames.size())
            return ParityNames[parity];
    }
    return FieldIniText(config, field);
}

std::string FieldRangeText(const TConfigField& field)
{
    return std::to_string(field.Min) + ".." + std::to_string(field.Max);
}

std::string FieldCheckMessage(const TConfigField& field, const std::string& text)
{
    std::string message = field.Message;
    ReplaceAll(message, "%range", FieldRangeText(field));
    ReplaceAll(message, "%text", text);
    return message;
}
