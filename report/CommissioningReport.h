#pragma once
// The commissioning report: the configuration in the window's own labels and values, both channels
// in their roles, what was read from the module, the connection, the file, the time and a place to
// sign. One document for the window's print, preview and PDF, and for korvel-cli's report command.

#include "ModuleConfig.h"
#include "ModuleInfo.h"
#include "PointState.h"

#include <QDateTime>
#include <QString>

#include <chrono>
#include <optional>
#include <vector>

// What the last exchange with the module said of its configuration.
enum class TReportVerdict {
    None,                // nothing was written or read
    Verified,            // written and read back: the module holds every byte sent
    WrittenUnchecked,    // written without a read-back
    WrittenNotVerified,  // written, but the read-back failed
    NotKept,             // written, but the module holds something else
    ReadValid,           // read, and its checksum is right
    ReadDamaged,         // read, and its checksum is wrong
};

// What was learnt from the module, and through which connection (ReportConnectionText); empty when
// the module was not reached.
struct TReportModule {
    QString Connection;
    std::optional<TModuleInfo> Info;
    TReportVerdict Verdict = TReportVerdict::None;
    // The configuration the verdict is about, and when it was given.
    TModuleConfig Checked{};
    QDateTime CheckedAt;
};

// What was seen of the devices on the module's lines: the units the last search found, and each
// point of a register map as it stood when the report was made.
struct TReportDevices {
    std::optional<std::vector<uint8_t>> FoundUnits;  // none when no search was made
    QString SearchRange;                             // "1-247", of the search
    QString MapFile;                                 // empty when no map was polled
    std::vector<TMapPoint> Points;
    std::vector<TPointState> States;  // one a point
    // When the states held, for the age of a stale value.
    std::chrono::steady_clock::time_point At;
};

struct TCommissioningReport {
    TModuleConfig Config{};
    QString FileName;  // empty when the configuration is in no file
    QDateTime Made;
    TReportModule Module;
    // The section "Устройства на линии", when there is anything for it.
    std::optional<TReportDevices> Devices;
};

// The report as an HTML page, which a QTextDocument lays out for print and PDF alike.
QString ReportHtml(const TCommissioningReport& report);
// The report's title, for the document's properties and the window's dialogs.
QString ReportTitle();
// "127.0.0.1:502, ожидание ответа 510 мс, передач запроса 3": the connection as the report names it.
QString ReportConnectionText(const QString& address, int port, int timeoutMs, int transmissions);
