#pragma once
// The help viewer's page area: help pages and their style sheet from the help folder, and a line
// in place of a page that is missing, whether asked for by topic or by a link.

#include <QTextBrowser>

class THelpBrowser : public QTextBrowser {
    Q_OBJECT

public:
    explicit THelpBrowser(QWidget* parent = nullptr);

    QVariant loadResource(int type, const QUrl& name) override;
};
