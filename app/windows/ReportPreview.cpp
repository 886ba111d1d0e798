#include "ReportPreview.h"

#include "Dialogs.h"
#include "ReportFile.h"

#include <QAction>
#include <QPrinter>
#include <QScreen>
#include <QToolBar>

#include <utility>

namespace {
const QString PdfExt = QStringLiteral("pdf");
constexpr int PreviewWidth = 960;
constexpr int PreviewHeight = 720;
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
    // Wide enough for the whole tool bar, whose last buttons (print, PDF) would go behind its
    // overflow arrow at the dialog's own size; never past a small field laptop's screen.
    if (const QScreen* screen = parent ? parent->screen() : this->screen())
        resize(QSize(PreviewWidth, PreviewHeight).boundedTo(screen->availableSize()));
    SavePdfAction = new QAction(tr("Сохранить в PDF..."), this);
    SavePdfAction->setObjectName(QStringLiteral("SavePdfAction"));
    SavePdfAction->setShortcut(QKeySequence::Save);
    SavePdfAction->setToolTip(tr("Сохранить отчёт в файл PDF (Ctrl+S)"));
    addAction(SavePdfAction);
    connect(SavePdfAction, &QAction::triggered, this, &TReportPreview::SavePdfActionExecute);
    // First on the tool bar, where no overflow arrow can hide it.
    if (auto* tools = findChild<QToolBar*>()) {
        QAction* first = tools->actions().value(0);
        tools->insertAction(first, SavePdfAction);
        tools->insertSeparator(first);
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
