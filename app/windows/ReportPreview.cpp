#include "ReportPreview.h"

#include "Dialogs.h"
#include "ReportFile.h"

#include <QAction>
#include <QPrinter>
#include <QToolBar>

#include <utility>

namespace {
const QString PdfExt = QStringLiteral("pdf");
}  // namespace

TReportPreview::TReportPreview(TCommissioningReport report, QWidget* parent)
    : QPrintPreviewDialog(parent)
    , Report(std::move(report))
{
    setObjectName(QStringLiteral("ReportPreview"));
    setWindowTitle(ReportTitle());
    setAttribute(Qt::WA_DeleteOnClose);
    printer()->setDocName(ReportTitle());
    connect(this, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* printer) { PrintReport(Report, *printer); });
    SavePdfAction = new QAction(tr("Сохранить в PDF..."), this);
    SavePdfAction->setObjectName(QStringLiteral("SavePdfAction"));
    connect(SavePdfAction, &QAction::triggered, this, &TReportPreview::SavePdfActionExecute);
    // Beside the preview's own print button, where a report is sent from.
    if (auto* tools = findChild<QToolBar*>()) {
        tools->addSeparator();
        tools->addAction(SavePdfAction);
    }
}

void TReportPreview::SavePdfActionExecute()
{
    TFileDialog dialog(TFileDialog::TKind::Save, this);
    dialog.Filter = tr("Файлы PDF (*.pdf)|*.pdf");
    dialog.DefaultExt = PdfExt;
    if (!dialog.Execute())
        return;
    QString error;
    if (!SaveReport(Report, dialog.FileName, error))
        MessageBox(error, QString::fromUtf8(ApplicationTitle), MB::IconError);
}

TReportPreview* ShowReportPreview(const TCommissioningReport& report, QWidget* parent)
{
    auto* preview = new TReportPreview(report, parent);
    preview->open();
    return preview;
}
