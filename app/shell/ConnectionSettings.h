#pragma once
// The connection settings outside the window: their file beside the program, the master's
// parameter text and the status bar text.

#include "Settings.h"

#include <QString>
#include <string>

// Settings read from the file; a missing, unreadable or malformed file gives the defaults, and a
// field that fails its check alone takes its default. Only a regular file (or a link to one) of at
// most 64 KiB is read, without ever blocking. unusable tells whether a file was there but could not
// be used, wholly or in one of its values, so that it can be kept aside before it is replaced.
TSettings LoadSettingsFile(const std::string& fileName, bool* unusable = nullptr);

// Renames the file to the same name with ".bak" (replacing an older one), so that text the
// operator wrote by hand survives its replacement; throws when the file stays in the way.
void KeepSettingsFileAside(const std::string& fileName);

// Replaces the file with the two settings. The XML layer's error is not caught here.
void SaveSettingsFile(const std::string& fileName, const TSettings& settings);

// The reply time-out and the number of transmissions of the module client.
TModuleClientOptions ClientOptions(const TSettings& settings);

// "address : port", as the status bar shows it.
QString SettingsStatusText(const TSettings& settings);

// The settings file of a program: its full file name with the extension replaced by ".xml".
QString SettingsFileNameFor(const QString& programFileName);
