#pragma once
// The commissioning report put on paper or into a file: laid out on a printer or a PDF writer, or
// kept as a PDF or HTML file chosen by the file's extension. Needs a QGuiApplication (any
// platform, the offscreen one included), for the fonts.

#include "CommissioningReport.h"

#include <QByteArray>
#include <QString>

class QPagedPaintDevice;

enum class TReportFormat { Pdf, Html, Unknown };

// By the extension, in any case: ".pdf" or ".html"/".htm".
TReportFormat ReportFormatOf(const QString& fileName);

// Lays the report out on the device's pages.
void PrintReport(const TCommissioningReport& report, QPagedPaintDevice& device);
// The report as an A4 PDF document, its text selectable and its fonts embedded.
QByteArray ReportPdf(const TCommissioningReport& report);
// Replaces the file with the report in the format its extension names; false with the reason.
bool SaveReport(const TCommissioningReport& report, const QString& fileName, QString& error);
