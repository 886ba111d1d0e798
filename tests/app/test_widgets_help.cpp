// The help window over the program's own pages: links, back and forward, titles, a missing page.

#include "Compare_Win.h"
#include "ExpEthernetSettings_Win.h"
#include "Help_Win.h"
#include "Monitor_Win.h"
#include "Search_Win.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

namespace {

const QString PagesFolder = QStringLiteral(KORVEL_HELP_FOLDER);

QString PagePath(const char* topic)
{
    return PagesFolder + QString::fromLatin1(topic);
}

// Clicks the link whose text is given, where it is drawn.
bool ClickLink(THelpWindow& window, const QString& text)
{
    QTextBrowser* browser = window.TextBrowser1;
    const QTextCursor found = browser->document()->find(text);
    if (found.isNull())
        return false;
    QTextCursor middle(browser->document());
    middle.setPosition((found.selectionStart() + found.selectionEnd()) / 2);
    browser->setTextCursor(middle);
    browser->ensureCursorVisible();
    const QPoint at = browser->cursorRect(middle).center();
    browser->setTextCursor(QTextCursor(browser->document()));
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, at);
    return true;
}

// The href of every link in the shown page.
QStringList Links(const QTextDocument& document)
{
    QStringList links;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment)
            if (const QString href = fragment.fragment().charFormat().anchorHref(); !href.isEmpty())
                links << href;
    return links;
}

// The names of the sections of the shown page that a topic may ask for after its "#".
QStringList SectionNames(const QTextDocument& document)
{
    QStringList names;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment)
            names << fragment.fragment().charFormat().anchorNames();
    return names;
}

TEST(HelpWindow, FollowsLinksAndGoesBackAndForward)
{
    THelpWindow window(PagesFolder);
    window.ShowTopic(QStringLiteral("KorvelService_Conent.htm"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.Page(), PagePath("KorvelService_Conent.htm"));
    EXPECT_EQ(window.windowTitle(), "KorvelService: содержание");
    EXPECT_FALSE(window.Button1->isEnabled());
    EXPECT_FALSE(window.Button2->isEnabled());

    ASSERT_TRUE(ClickLink(window, QStringLiteral("Каналы RS-485")));
    EXPECT_EQ(window.Page(), PagePath("KorvelService_RS485.htm"));
    EXPECT_NE(window.windowTitle(), "KorvelService: содержание");
    EXPECT_TRUE(window.Button1->isEnabled());

    QTest::mouseClick(window.Button1, Qt::LeftButton);
    EXPECT_EQ(window.Page(), PagePath("KorvelService_Conent.htm"));
    EXPECT_TRUE(window.Button2->isEnabled());
    QTest::mouseClick(window.Button2, Qt::LeftButton);
    EXPECT_EQ(window.Page(), PagePath("KorvelService_RS485.htm"));

    QTest::mouseClick(window.Button3, Qt::LeftButton);
    EXPECT_EQ(window.Page(), PagePath("KorvelService_Conent.htm"));

    QTest::mouseClick(window.Button4, Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
}

TEST(HelpWindow, ATopicWithASectionScrollsToIt)
{
    THelpWindow window(PagesFolder);
    window.resize(600, 300);
    window.ShowTopic(QStringLiteral("KorvelService_Conent.htm#compare"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.Page(), PagePath("KorvelService_Conent.htm"));
    QTextBrowser& browser = *window.TextBrowser1;
    EXPECT_GT(browser.verticalScrollBar()->value(), 0);
    const QTextCursor heading = browser.document()->find(QStringLiteral("Сравнить с модулем (Ctrl+D)"));
    ASSERT_FALSE(heading.isNull());
    const int y = browser.cursorRect(heading).top();
    EXPECT_GE(y, 0);
    EXPECT_LT(y, browser.viewport()->height());
}

TEST(HelpWindow, AMissingPageSaysSoInTheWindow)
{
    THelpWindow window(QDir::tempPath() + "/no-such-help-folder/");
    window.ShowTopic(QStringLiteral("KorvelService_Info.htm"));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.TextBrowser1->toPlainText(),
              "Страница справки не найдена: " + QDir::tempPath() + "/no-such-help-folder/KorvelService_Info.htm");
    EXPECT_EQ(window.windowTitle(), "KorvelService");
}

// Every link of every page leads to a page that exists, and every page has its own title.
TEST(HelpWindow, EveryLinkOfEveryPageLeadsSomewhere)
{
    const char* pages[] = {"KorvelService_Conent.htm", "KorvelService_TCP_IP.htm", "KorvelService_RS485.htm",
                           "KorvelService_Settings.htm", "KorvelService_Info.htm"};
    THelpWindow window(PagesFolder);
    for (const char* page : pages) {
        window.ShowTopic(QString::fromLatin1(page));
        EXPECT_FALSE(window.TextBrowser1->toPlainText().startsWith("Страница справки не найдена")) << page;
        EXPECT_TRUE(window.windowTitle().startsWith("KorvelService: ")) << page;
        for (const QString& link : Links(*window.TextBrowser1->document())) {
            const QUrl target = window.TextBrowser1->source().resolved(QUrl(link));
            if (target.isLocalFile()) {
                EXPECT_TRUE(QFileInfo::exists(target.toLocalFile())) << page << " -> " << link.toStdString();
            }
        }
    }
}

// F1 in each window that asks for a section of a page finds that section there.
TEST(HelpWindow, EveryWindowsSectionIsOnItsPage)
{
    QStringList topics;
    const TShowHelpTopic record = [&](const QString& topic) { topics << topic; };
    TCompareWindow compare(record);
    TMonitorWindow monitor(record);
    TSearchWindow search("127.0.0.1", 1502, 100, record);
    TExpEthernetSettingsWindow moreSettings(record);
    for (QWidget* window : std::initializer_list<QWidget*>{&compare, &monitor, &search, &moreSettings})
        QTest::keyClick(window, Qt::Key_F1);
    ASSERT_EQ(topics.size(), 4);

    THelpWindow help(PagesFolder);
    for (const QString& topic : topics) {
        const QStringList parts = topic.split(u'#');
        ASSERT_EQ(parts.size(), 2) << topic.toStdString();
        help.ShowTopic(parts[0]);
        EXPECT_EQ(help.Page(), PagesFolder + parts[0]) << topic.toStdString();
        EXPECT_TRUE(SectionNames(*help.TextBrowser1->document()).contains(parts[1])) << topic.toStdString();
    }
}

}  // namespace
