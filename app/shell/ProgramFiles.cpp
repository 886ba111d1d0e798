#include "ProgramFiles.h"

#include "ConnectionSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString SettingsFileLocation(const QString& programFileName)
{
    const QString beside = SettingsFileNameFor(programFileName);
    const QFileInfo program(programFileName);
    if (QFileInfo::exists(beside) || QFileInfo(program.absolutePath()).isWritable())
        return beside;
    // An installed program's folder belongs to the system: the settings go to the user's own.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
        .filePath(QFileInfo(beside).fileName());
}

QString HelpFolderLocation(const QString& programFolder)
{
    const QDir folder(programFolder);
    const QString beside = folder.filePath(QStringLiteral("Help"));
    if (QFileInfo(beside).isDir())
        return beside + '/';
    // Where the build put it relative to the program (../share/KorvelService/Help).
    return QDir::cleanPath(folder.filePath(QStringLiteral(KORVEL_INSTALLED_HELP_FOLDER))) + '/';
}
