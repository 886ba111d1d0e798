#include "RecoveryFile.h"

#include "ConfigFile.h"
#include "IniText.h"
#include "WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString FolderName = QStringLiteral("KorvelService");
const QString NamePrefix = QStringLiteral("unsaved-");
const QString NameSuffix = QStringLiteral(".ini");
const QString TimeFormat = QStringLiteral("yyyy-MM-dd_HH-mm-ss");
// A section the configuration reader does not know, so that the file also opens as an ordinary one.
const std::string TypedSection = "TYPED";
const std::string EditedSection = "EDITED";
const std::string FileKey = "FILE";
// Far more than a configuration file with every control's text takes.
constexpr size_t MaxRecoveryFileSize = 64 * 1024;
// Files written in the same second are told apart by a number.
constexpr int MaxNamesPerSecond = 100;

// The texts are single-line, and a quote pair keeps their blanks.
std::string QuotedText(const QString& text)
{
    QString line = text;
    line.replace(u'\r', u' ').replace(u'\n', u' ');
    return '"' + line.toStdString() + '"';
}

// Claims a name no file has, so that nothing of the operator's can be replaced; -1 when the folder
// takes no new file.
int ClaimNewFile(const QString& folder, const QDateTime& time, QString& fileName)
{
    const QString stem = NamePrefix + time.toString(TimeFormat);
    for (int i = 1; i <= MaxNamesPerSecond; ++i) {
        fileName = QDir(folder).filePath(stem + (i == 1 ? QString() : QStringLiteral("-%1").arg(i)) + NameSuffix);
        const int fd = ::open(QFile::encodeName(fileName).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

}  // namespace

std::string TypedTextKey(const TConfigField& field)
{
    return field.Section + '.' + field.Key;
}

QString RecoveryFolderLocation()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative XDG_STATE_HOME is not to be used: the XDG rules say to ignore it.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::home().filePath(QStringLiteral(".local/state"));
    return QDir(base).filePath(FolderName);
}

QString WriteRecoveryFile(const QString& folder, const TRecovery& recovery, const QDateTime& time, QString& error)
{
    QString fileName = QDir(folder).filePath(NamePrefix + time.toString(TimeFormat) + NameSuffix);
    const int fd = QDir().mkpath(folder) ? ClaimNewFile(folder, time, fileName) : -1;
    if (fd < 0) {
        error = QStringLiteral("Ошибка создания файла %1").arg(fileName);
        return {};
    }
    ::close(fd);
    TIniText ini(ConfigToIniText(recovery.Config));
    for (const auto& [key, text] : recovery.Typed)
        ini.WriteString(TypedSection, key, QuotedText(text));
    if (!recovery.FileName.isEmpty())
        ini.WriteString(EditedSection, FileKey, QuotedText(recovery.FileName));
    if (WriteWholeFile(fileName.toStdString(), ini.Text()) != TFileWriteResult::Written) {
        QFile::remove(fileName);
        error = QStringLiteral("Ошибка записи в файл %1").arg(fileName);
        return {};
    }
    return fileName;
}

QStringList RecoveryFiles(const QString& folder)
{
    QStringList files;
    const QDir dir(folder);
    for (const QString& name : dir.entryList({NamePrefix + '*' + NameSuffix}, QDir::Files))
        if (RecoveryFileTime(name).isValid())
            files << dir.filePath(name);
    // Newest first; in the same second, the later number first.
    std::sort(files.begin(), files.end(), [](const QString& a, const QString& b) {
        const QDateTime timeA = RecoveryFileTime(a);
        const QDateTime timeB = RecoveryFileTime(b);
        return timeA != timeB ? timeA > timeB : a.size() != b.size() ? a.size() > b.size() : a > b;
    });
    return files;
}

QDateTime RecoveryFileTime(const QString& fileName)
{
    const QString name = QFileInfo(fileName).fileName();
    if (!name.startsWith(NamePrefix) || !name.endsWith(NameSuffix))
        return {};
    return QDateTime::fromString(name.mid(NamePrefix.size(), TimeFormat.size()), TimeFormat);
}

bool ReadRecoveryFile(const QString& fileName, TRecovery& recovery)
{
    std::string text;
    if (ReadSmallRegularFile(fileName.toStdString(), MaxRecoveryFileSize, text) != TFileReadResult::Read)
        return false;
    ConfigFromIniText(text, recovery.Config);
    recovery.Typed.clear();
    for (const std::string& line : TIniText(text).ReadSectionValues(TypedSection)) {
        const size_t equals = line.find('=');
        recovery.Typed[line.substr(0, equals)] = QString::fromStdString(line.substr(equals + 1));
    }
    recovery.FileName = QString::fromStdString(TIniText(text).ReadString(EditedSection, FileKey, {}));
    return true;
}
