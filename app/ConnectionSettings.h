#pragma once
// The connection settings outside the window: their file beside the program, the master's
// parameter text and the status bar text.

#include "Settings.h"

#include <QString>
#include <string>

// Settings read from the file; a missing, unreadable or malformed file gives the defaults, and a
// field that fails its check alone takes its default.
TSettings LoadSettingsFile(const std::string& fileName);

// Replaces the file with the two settings. The XML layer's error is not caught here.
void SaveSettingsFile(const std::string& fileName, const TSettings& settings);

// The four KEY=VALUE lines that point the ModbusTCP master at the module.
std::string MasterParametersText(const TSettings& settings);

// "address : port", as the status bar shows it.
QString SettingsStatusText(const TSettings& settings);

// The settings file of a program: its full file name with the extension replaced by ".xml".
QString SettingsFileNameFor(const QString& programFileName);
