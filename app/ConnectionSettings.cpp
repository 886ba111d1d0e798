#include "ConnectionSettings.h"

#include "LocalDefines.h"
#include "RConvert.h"
#include "WholeFile.h"
#include "XML.h"

#include <QDir>
#include <QFileInfo>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <string_view>

namespace {
constexpr const char* IPAddressPath = "CONNECT\\IPAddress";
constexpr const char* TCPPortPath = "CONNECT\\TCPPort";
constexpr int32_t MinTCPPort = 1;
constexpr int32_t MaxTCPPort = 65535;
// A settings file holds two short values; anything larger is not one, and is not read.
constexpr size_t MaxSettingsFileSize = 64 * 1024;
// Each transmission waits 51 ticks of 10 ms; a silent module is tried three times.
constexpr std::string_view FixedMasterParameters = "TIMEOUT=50\r\nREPEATCOUNT=2\r\n";
}  // namespace

TSettings LoadSettingsFile(const std::string& fileName, bool* unusable)
{
    TSettings settings;
    TXMLDocument document;
    std::string text;
    const TFileReadResult read = ReadSmallRegularFile(fileName, MaxSettingsFileSize, text);
    bool parsed = read == TFileReadResult::Read;
    if (parsed) {
        try {
            document.LoadFromText(text);
        } catch (const std::exception&) {
            parsed = false;
        }
    }
    if (unusable)
        *unusable = !parsed && read != TFileReadResult::Missing;
    if (!parsed)
        return settings;  // no usable file: the defaults, silently
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
    // The user's configuration folder may not exist before the first close.
    QDir().mkpath(QFileInfo(QString::fromStdString(fileName)).absolutePath());
    TXMLDocument document;
    document.SetValue(IPAddressPath, settings.IPAddress);
    document.SetValue(TCPPortPath, std::to_string(settings.TCPPort));
    document.SaveToFile(fileName);
}

void KeepSettingsFileAside(const std::string& fileName)
{
    const std::string kept = fileName + ".bak";
    std::error_code error;
    std::filesystem::rename(fileName, kept, error);
    if (error && error != std::errc::no_such_file_or_directory)
        throw std::runtime_error("Ошибка создания файла " + kept);
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
