#include "HelpBrowser.h"

#include <QFileInfo>
#include <QTextDocument>
#include <QUrl>

THelpBrowser::THelpBrowser(QWidget* parent) : QTextBrowser(parent)
{}

QVariant THelpBrowser::loadResource(int type, const QUrl& name)
{
    if (type == QTextDocument::HtmlResource && name.isLocalFile() && !QFileInfo::exists(name.toLocalFile()))
        return QStringLiteral("<p>%1</p>")
            .arg(tr("Страница справки не найдена: %1").arg(name.toLocalFile().toHtmlEscaped()));
    return QTextBrowser::loadResource(type, name);
}
