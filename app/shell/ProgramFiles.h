#pragma once
// Where the program finds its own files on disk: the connection settings file and the help pages,
// both beside the program in a build tree or portable copy, elsewhere once installed.

#include <QString>

// Beside the program when that file is already there or the program's folder can be written;
// otherwise in the user's configuration folder ($XDG_CONFIG_HOME/KorvelService/KorvelService.xml).
QString SettingsFileLocation(const QString& programFileName);

// The "Help" folder beside the program when it is there, else the installed one under the data
// folder; with a trailing separator.
QString HelpFolderLocation(const QString& programFolder);
