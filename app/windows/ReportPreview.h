#pragma once
// The commissioning report's preview: the pages as they will print, the print dialog behind its
// print button, and "Сохранить в PDF..." for a file to send or keep. It stays beside the main window
// and goes when closed.

#include "CommissioningReport.h"

#include <QPrintPreviewDialog>

class QAction;

class TReportPreview : public QPrintPreviewDialog {
    Q_OBJECT

public:
    TReportPreview(TCommissioningReport report, QWidget* parent);

    // Asks for a file and writes the report there as PDF; a failed write is told.
    void SavePdfActionExecute();

    QAction* SavePdfAction = nullptr;

private:
    TCommissioningReport Report;
};

// Opens the preview of the report over parent without waiting for it to close.
TReportPreview* ShowReportPreview(const TCommissioningReport& report, QWidget* parent);
