#pragma once
// Where the program finds its own files on disk: the connection settings file and the help pages,
// both beside the program in a build tree or portable copy, elsewhere once installed.

#include <QString>

// Beside the program when this user can write that file there (it is writable, or absent and the
// program, not an installed one, may make it in its folder); otherwise in the user's configuration
// folder ($XDG_CONFIG_HOME/KorvelService/KorvelService.xml), for reading and for writing alike.
QString SettingsFileLocation(const QString& programFileName);

// The "Help" folder beside the program when it is there, else the installed one under the data
// folder; with a trailing separator.
QString HelpFolderLocation(const QString& programFolder);
