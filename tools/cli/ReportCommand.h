#pragma once
// korvel-cli report: the commissioning report of one module (its information, its configuration and
// the checksum's verdict, read through one client) or of one configuration file, kept as PDF or HTML
// by the extension of -o. Answers the program's exit status. Run by korvel-cli-report; korvel-cli's
// own RunReport hands the process over to it (ReportLauncher.cpp).

#include "CliOptions.h"

int RunReport(const TCliOptions& options);
