#include "ConnectionSettings.h"

#include "LocalDefines.h"
#include "ModuleClient.h"
#include "RConvert.h"
#include "WholeFile.h"
#include "XML.h"

#include <QDir>
#include <QFileInfo>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace {
constexpr const char* IPAddressPath = "CONNECT\\IPAddress";
constexpr const char* TCPPortPath = "CONNECT\\TCPPort";
// Added later: a file without them reads as the defaults, and an older program ignores them.
constexpr const char* TimeoutPath = "CONNECT\\Timeout";
constexpr const char* RepeatsPath = "CONNECT\\Repeats";
constexpr const char* VerifyWritePath = "CONNECT\\VerifyWrite";
constexpr int32_t MinTCPPort = 1;
constexpr int32_t MaxTCPPort = 65535;
// A settings file holds two short values; anything larger is not one, and is not read.
constexpr size_t MaxSettingsFileSize = 64 * 1024;

// The number in the text when it is an integer in min..max, else the default.
int32_t NumberOr(const std::string& text, int32_t min, int32_t max, int32_t defaultValue)
{
    return IsValueInRange(text, min, max) ? StrToIntDefault(text, defaultValue) : defaultValue;
}
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
    settings.TCPPort = NumberOr(document.GetValue(TCPPortPath), MinTCPPort, MaxTCPPort, DefaultModuleTCPPort);
    settings.Timeout = NumberOr(document.GetValue(TimeoutPath), MinReplyTimeout, MaxReplyTimeout, DefaultReplyTimeout);
    settings.Transmissions =
        NumberOr(document.GetValue(RepeatsPath), MinTransmissions, MaxTransmissions, DefaultTransmissions);
    settings.VerifyWrite = document.GetValue(VerifyWritePath) != "0";
    return settings;
}

void SaveSettingsFile(const std::string& fileName, const TSettings& settings)
{
    // The user's configuration folder may not exist before the first close.
    QDir().mkpath(QFileInfo(QString::fromStdString(fileName)).absolutePath());
    TXMLDocument document;
    document.SetValue(IPAddressPath, settings.IPAddress);
    document.SetValue(TCPPortPath, std::to_string(settings.TCPPort));
    // The later settings are written only where they differ from their defaults, so that a file
    // of the program's own defaults stays the file every version writes.
    const TSettings defaults;
    if (settings.Timeout != defaults.Timeout)
        document.SetValue(TimeoutPath, std::to_string(settings.Timeout));
    if (settings.Transmissions != defaults.Transmissions)
        document.SetValue(RepeatsPath, std::to_string(settings.Transmissions));
    if (settings.VerifyWrite != defaults.VerifyWrite)
        document.SetValue(VerifyWritePath, "0");
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

TModuleClientOptions ClientOptions(const TSettings& settings)
{
    return {settings.Timeout, settings.Transmissions};
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
