#include "ConnectionSettings.h"
#include "IPAddressText.h"

#include "ModuleClient.h"
#include "RecentFiles.h"
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
// The recent files: RECENT\File1 ... File8, an element only for a file there is; the register maps
// of "Устройства на линии" likewise as RECENT\Map1 ... Map8.
constexpr const char* RecentFilePath = "RECENT\\File";
constexpr const char* RecentMapPath = "RECENT\\Map";
constexpr int32_t MinTCPPort = 1;
constexpr int32_t MaxTCPPort = 65535;
// A settings file holds two short values; anything larger is not one, and is not read.
constexpr size_t MaxSettingsFileSize = 64 * 1024;

// The file's values, each checked; one that is there but fails its check takes its default, and the
// file is then one to keep aside before it is replaced, as an unreadable one is.
class TSettingsValues {
public:
    explicit TSettingsValues(const TXMLDocument& document) : Document_(document) {}

    bool Refused() const { return Refused_; }

    // The element's text without blanks around it; empty for a missing element.
    std::string Text(const char* path) const
    {
        // The blanks are those an address may hold. A number has always been read past the ones
        // before it; those after it are read past too, so that every element reads alike.
        const std::string value = Document_.GetValue(path);
        const size_t first = value.find_first_not_of(IPBlankChars);
        if (first == std::string::npos)
            return {};
        return value.substr(first, value.find_last_not_of(IPBlankChars) - first + 1);
    }

    // The address the socket would dial, read by the socket's own rule: an address it would not
    // dial is never shown as the module's.
    std::string Address(const char* path, const std::string& defaultValue)
    {
        const std::string text = Text(path);
        if (text.empty())
            return defaultValue;
        if (TIPAddress parsed{}; DecimalStrToIP(text, parsed))
            return text;
        Refused_ = true;
        return defaultValue;
    }

    int32_t Number(const char* path, int32_t min, int32_t max, int32_t defaultValue)
    {
        const std::string text = Text(path);
        if (text.empty())
            return defaultValue;  // files of older programs lack the later elements
        if (IsValueInRange(text, min, max))
            return StrToIntDefault(text, defaultValue);
        Refused_ = true;
        return defaultValue;
    }

private:
    const TXMLDocument& Document_;
    bool Refused_ = false;
};
std::vector<std::string> RecentNames(const TXMLDocument& document, const std::string& path)
{
    std::vector<std::string> names;
    for (size_t i = 1; i <= MaxRecentFiles; ++i)
        if (std::string name = document.GetValue(path + std::to_string(i)); !name.empty())
            names.push_back(std::move(name));
    return names;
}

void KeepRecentNames(TXMLDocument& document, const std::string& path, const std::vector<std::string>& names)
{
    size_t kept = 0;
    for (const std::string& name : names)
        if (kept < MaxRecentFiles && CanKeepRecentFile(name))
            document.SetValue(path + std::to_string(++kept), name);
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
    TSettingsValues values(document);
    settings.IPAddress = values.Address(IPAddressPath, settings.IPAddress);
    settings.TCPPort = values.Number(TCPPortPath, MinTCPPort, MaxTCPPort, DefaultModuleTCPPort);
    settings.Timeout = values.Number(TimeoutPath, MinReplyTimeout, MaxReplyTimeout, DefaultReplyTimeout);
    settings.Transmissions = values.Number(RepeatsPath, MinTransmissions, MaxTransmissions, DefaultTransmissions);
    settings.VerifyWrite = values.Text(VerifyWritePath) != "0";
    settings.RecentFiles = RecentNames(document, RecentFilePath);
    settings.RecentMaps = RecentNames(document, RecentMapPath);
    if (unusable)
        *unusable = values.Refused();
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
    KeepRecentNames(document, RecentFilePath, settings.RecentFiles);
    KeepRecentNames(document, RecentMapPath, settings.RecentMaps);
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
