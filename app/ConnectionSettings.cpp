#include "ConnectionSettings.h"

#include "LocalDefines.h"
#include "RConvert.h"
#include "XML.h"

#include <QDir>
#include <QFileInfo>
#include <exception>
#include <string_view>

namespace {
constexpr const char* IPAddressPath = "CONNECT\\IPAddress";
constexpr const char* TCPPortPath = "CONNECT\\TCPPort";
constexpr int32_t MinTCPPort = 1;
constexpr int32_t MaxTCPPort = 65535;
// Each transmission waits 51 ticks of 10 ms; a silent module is tried three times.
constexpr std::string_view FixedMasterParameters = "TIMEOUT=50\r\nREPEATCOUNT=2\r\n";
}  // namespace

TSettings LoadSettingsFile(const std::string& fileName)
{
    TSettings settings;
    TXMLDocument document;
    try {
        document.LoadFromFile(fileName);
    } catch (const std::exception&) {
        return settings;  // no usable file: the defaults, silently
    }
    // The loose text check never looks past the third dot; the strict conversion does, so that
    // a hand-edited "10.0.0.300" cannot become the address the master dials.
    const std::string address = document.GetValue(IPAddressPath);
    if (TIPAddress parsed; IsIPAddressText(address) && StrToIP(address, parsed))
        settings.IPAddress = address;
    const std::string port = document.GetValue(TCPPortPath);
    if (IsValueInRange(port, MinTCPPort, MaxTCPPort))
        settings.TCPPort = StrToIntDefault(port, DefaultModuleTCPPort);
    return settings;
}

void SaveSettingsFile(const std::string& fileName, const TSettings& settings)
{
    TXMLDocument document;
    document.SetValue(IPAddressPath, settings.IPAddress);
    document.SetValue(TCPPortPath, std::to_string(settings.TCPPort));
    document.SaveToFile(fileName);
}

std::string MasterParametersText(const TSettings& settings)
{
    std::string text = "IPADDRESS=" + settings.IPAddress + "\r\n";
    text += "TCPPORT=" + std::to_string(settings.TCPPort) + "\r\n";
    text += FixedMasterParameters;
    return text;
}

QString SettingsStatusText(const TSettings& settings)
{
    return QString::fromStdString(settings.IPAddress) + " : " + QString::number(settings.TCPPort);
}

QString SettingsFileNameFor(const QString& programFileName)
{
    const QFileInfo program(programFileName);
    return program.dir().filePath(program.completeBaseName() + ".xml");
}
