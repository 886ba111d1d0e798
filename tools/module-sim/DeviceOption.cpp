#include "DeviceOption.h"

#include "BaudRates.h"
#include "ModuleDefaults.h"

#include <QStringList>

namespace {

constexpr uint MinUnit = 1;
constexpr uint MaxUnit = 247;

std::optional<uint16_t> ParityIndex(const QString& text)
{
    static const QString letters = "NOE";  // in the record's order: none, odd, even
    const auto index = text.size() == 1 ? letters.indexOf(text.at(0).toUpper()) : -1;
    return index < 0 ? std::nullopt : std::optional<uint16_t>(uint16_t(index));
}

}  // namespace

std::optional<TSimDevice> ParseDeviceOption(const QString& text)
{
    const QStringList parts = text.split(':');
    if (parts.size() != 2 && parts.size() != 5)
        return std::nullopt;
    bool channelOk = false, unitOk = false;
    const uint channel = parts[0].toUInt(&channelOk);
    const uint unit = parts[1].toUInt(&unitOk);
    if (!channelOk || channel < 1 || channel > ChannelCount || !unitOk || unit < MinUnit || unit > MaxUnit)
        return std::nullopt;
    TSerialSettings serial{FactoryChannelDefaults.BaudIndex, FactoryChannelDefaults.Parity,
                           FactoryChannelDefaults.StopBits};
    if (parts.size() == 5) {
        const std::string baud = parts[2].toStdString();
        const auto parity = ParityIndex(parts[3]);
        // BaudRateToIndex falls back to the default for an unknown rate; here that is an error.
        const int baudIndex = BaudRateToIndex(baud);
        if (baud != BaudRates[size_t(baudIndex)] || !parity || (parts[4] != "1" && parts[4] != "2"))
            return std::nullopt;
        serial = {uint16_t(baudIndex), *parity, uint16_t(parts[4] == "2" ? 1 : 0)};
    }
    return TSimDevice(int(channel) - 1, uint8_t(unit), serial);
}
