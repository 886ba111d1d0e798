#include "ReportFile.h"

#include "WholeFile.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

namespace {

constexpr int FontPoints = 10;
constexpr int PdfResolution = 300;

}  // namespace

TReportFormat ReportFormatOf(const QString& fileName)
{
    const QString extension = QFileInfo(fileName).suffix().toLower();
    if (extension == QLatin1String("pdf"))
        return TReportFormat::Pdf;
    if (extension == QLatin1String("html") || extension == QLatin1String("htm"))
        return TReportFormat::Html;
    return TReportFormat::Unknown;
}

void PrintReport(const TCommissioningReport& report, QPagedPaintDevice& device)
{
    QTextDocument document;
    QFont font = document.defaultFont();
    font.setPointSize(FontPoints);
    document.setDefaultFont(font);
    document.setHtml(ReportHtml(report));
    document.print(&device);
}

QByteArray ReportPdf(const TCommissioningReport& report)
{
    QByteArray pdf;
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(PdfResolution);
        // The document keeps a margin of its own on every page.
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
        writer.setTitle(ReportTitle());
        writer.setCreator(QCoreApplication::applicationName());
        PrintReport(report, writer);
    }  // the writer ends the document when it goes
    return pdf;
}

bool SaveReport(const TCommissioningReport& report, const QString& fileName, QString& error)
{
    QByteArray content;
    switch (ReportFormatOf(fileName)) {
    case TReportFormat::Pdf: content = ReportPdf(report); break;
    case TReportFormat::Html: content = ReportHtml(report).toUtf8(); break;
    case TReportFormat::Unknown:
        error = QCoreApplication::translate("TCommissioningReport",
                                            "Неизвестный формат отчёта %1: допускаются .pdf и .html")
                    .arg(fileName);
        return false;
    }
    if (WriteWholeFile(QFile::encodeName(fileName).toStdString(),
                       std::string_view(content.constData(), size_t(content.size()))) != TFileWriteResult::Written) {
        error = QCoreApplication::translate("TCommissioningReport", "Ошибка записи в файл %1").arg(fileName);
        return false;
    }
    return true;
}
