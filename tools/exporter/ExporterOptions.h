#pragma once
// The command line of korvel-exporter.

#include "ExporterServer.h"

#include <QHostAddress>

#include <string>
#include <vector>

struct TExporterOptions {
    QHostAddress Address = QHostAddress::LocalHost;
    uint16_t Port = 9502;
    TExporterSettings Settings;
    bool Help = false;
    bool Version = false;
};

// False with a message for a command line that cannot be run.
bool ParseExporterOptions(const std::vector<std::string>& arguments, TExporterOptions& options, std::string& error);
// What --help prints.
std::string ExporterHelp();
