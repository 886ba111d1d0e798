#include "ProgramFiles.h"

#include "ConnectionSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
const QString HelpFolderName = QStringLiteral("Help");

QString InstalledHelpFolder(const QString& programFolder)
{
    // Where the build put it relative to the program (../share/KorvelService/Help).
    return QDir::cleanPath(QDir(programFolder).filePath(QStringLiteral(KORVEL_INSTALLED_HELP_FOLDER)));
}

// An installed program finds its help under the data folder, not beside itself.
bool IsInstalledProgram(const QString& programFolder)
{
    return !QFileInfo(QDir(programFolder).filePath(HelpFolderName)).isDir() &&
           QFileInfo(InstalledHelpFolder(programFolder)).isDir();
}

// The program can replace the file there: it is writable, or absent where a new file may be made.
bool CanKeepSettingsAt(const QFileInfo& file, bool mayCreate)
{
    if (file.exists())
        return file.isFile() && file.isWritable();
    return mayCreate && QFileInfo(file.absolutePath()).isWritable();
}
}  // namespace

QString SettingsFileLocation(const QString& programFileName)
{
    const QString beside = SettingsFileNameFor(programFileName);
    // An installed program's folder belongs to the system: a file there is used only when this user
    // may write it, and none is ever made there, so that the package leaves nothing behind.
    if (CanKeepSettingsAt(QFileInfo(beside), !IsInstalledProgram(QFileInfo(programFileName).absolutePath())))
        return beside;
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
        .filePath(QFileInfo(beside).fileName());
}

QString HelpFolderLocation(const QString& programFolder)
{
    const QString beside = QDir(programFolder).filePath(HelpFolderName);
    if (QFileInfo(beside).isDir())
        return beside + '/';
    return InstalledHelpFolder(programFolder) + '/';
}
