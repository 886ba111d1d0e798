#include "HelpBrowser.h"

#include <QFileInfo>
#include <QTextDocument>
#include <QUrl>

namespace {
const QString MissingPageText = QStringLiteral("Страница справки не найдена: ");
}  // namespace

THelpBrowser::THelpBrowser(QWidget* parent) : QTextBrowser(parent)
{}

QVariant THelpBrowser::loadResource(int type, const QUrl& name)
{
    if (type == QTextDocument::HtmlResource && name.isLocalFile() && !QFileInfo::exists(name.toLocalFile()))
        return QStringLiteral("<p>%1%2</p>").arg(MissingPageText, name.toLocalFile().toHtmlEscaped());
    return QTextBrowser::loadResource(type, name);
}
