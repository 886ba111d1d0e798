#include "PdfText.h"

#include <QProcess>

namespace {
constexpr int PdfToTextMs = 20000;
}  // namespace

QString PdfText(const QString& fileName)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), QStringLiteral("-enc"),
                                                QStringLiteral("UTF-8"), fileName, QStringLiteral("-")});
    if (!process.waitForFinished(PdfToTextMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}
