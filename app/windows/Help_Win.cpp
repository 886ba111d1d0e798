#include "Help_Win.h"

#include "Dialogs.h"
#include "Forms.h"

#include <QUrl>

namespace {
const QString ContentTopic = QStringLiteral("KorvelService_Conent.htm");
}  // namespace

THelpWindow::THelpWindow(const QString& helpFolder, QWidget* parent) : QDialog(parent), HelpFolder(helpFolder)
{
    setupUi(this);
    SetFormFont(this);
    // A window of its own beside the one it was opened from, which stays usable.
    setWindowFlags(Qt::Window);
    setModal(false);
    connect(Button1, &QToolButton::clicked, TextBrowser1, &QTextBrowser::backward);
    connect(Button2, &QToolButton::clicked, TextBrowser1, &QTextBrowser::forward);
    connect(TextBrowser1, &QTextBrowser::backwardAvailable, Button1, &QToolButton::setEnabled);
    connect(TextBrowser1, &QTextBrowser::forwardAvailable, Button2, &QToolButton::setEnabled);
    connect(TextBrowser1, &QTextBrowser::sourceChanged, this, &THelpWindow::ShowTitle);
    connect(Button3, &QToolButton::clicked, this, &THelpWindow::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &QDialog::close);
}

void THelpWindow::ShowTopic(const QString& topic)
{
    // A topic may name a section of its page: "page.htm#section".
    const qsizetype hash = topic.indexOf(u'#');
    QUrl page = QUrl::fromLocalFile(HelpFolder + topic.left(hash));
    if (hash >= 0)
        page.setFragment(topic.mid(hash + 1));
    TextBrowser1->setSource(page);
    show();
    raise();
    activateWindow();
}

QString THelpWindow::Page() const
{
    return TextBrowser1->source().toLocalFile();
}

void THelpWindow::Button3Click()
{
    ShowTopic(ContentTopic);
}

void THelpWindow::ShowTitle()
{
    const QString title = TextBrowser1->documentTitle();
    setWindowTitle(title.isEmpty() ? QString::fromLatin1(ApplicationTitle) : title);
}
