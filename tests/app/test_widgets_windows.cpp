#include "About_Win.h"
#include "Compare_Win.h"
#include "ExpEthernetSettings_Win.h"
#include "ExchangeRecord.h"
#include "FileInfo.h"
#include "Info_Win.h"
#include "Monitor_Win.h"
#include "Search_Win.h"
#include "Settings_Win.h"
#include "Wait.h"
#include "WidgetsTestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <cstring>

namespace {

// The information block as the module's registers 78..83 give it, register k low byte first.
TModuleInfo InfoFromRegisters(const std::array<uint16_t, 6>& registers)
{
    TModuleInfo info;
    static_assert(sizeof(registers) == sizeof(info));
    std::memcpy(&info, registers.data(), sizeof(info));
    return info;
}

TEST(InfoWindow, ShowsVersionMacAndJumperFromTheRegisters)
{
    const struct {
        std::array<uint16_t, 6> Registers;
        const char* Version;
        const char* MAC;
        const char* Jumper;
        QColor Colour;
    } cases[] = {
        {{0x0103, 0x3412, 0x7856, 0xBC9A, 0, 0x0001}, "1.3", "12-34-56-78-9A-BC", "Установлена", QColor(255, 0, 0)},
        {{0xFFFF, 0, 0, 0, 0xFFFF, 0x00FE}, "255.255", "00-00-00-00-00-00", "Не установлена", QColor(0, 0, 0)},
        {{0x0A00, 0x1A00, 0x3C2B, 0x5E4D, 0, 0xFFFF}, "10.0", "00-1A-2B-3C-4D-5E", "Установлена", QColor(255, 0, 0)},
        {{0x0105, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0x0100}, "1.5", "FF-FF-FF-FF-FF-FF", "Не установлена", QColor(0, 0, 0)},
    };
    for (const auto& c : cases) {
        TInfoWindow window;
        window.FillInfo(InfoFromRegisters(c.Registers));
        EXPECT_EQ(window.Edit1->text(), QString::fromLatin1(c.Version));
        EXPECT_EQ(window.Edit2->text(), QString::fromLatin1(c.MAC));
        EXPECT_EQ(window.Label4->text(), QString::fromUtf8(c.Jumper)) << c.Version;
        EXPECT_EQ(window.Label4->palette().color(QPalette::WindowText), c.Colour) << c.Version;
    }
}

TEST(InfoWindow, StartsWithItsPlaceholdersAtItsPlace)
{
    TInfoWindow window;
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Информация о модуле"));
    EXPECT_EQ(window.Edit1->text(), QStringLiteral("0"));
    EXPECT_EQ(window.Edit2->text(), QStringLiteral("FF-FF-FF-FF-FF-FF"));
    EXPECT_EQ(window.Label4->text(), QStringLiteral("Label4"));
    EXPECT_TRUE(window.Edit1->isReadOnly());
    EXPECT_TRUE(window.Edit2->isReadOnly());
    EXPECT_TRUE(window.Label4->font().bold());
    EXPECT_EQ(window.size(), QSize(433, 242));
    EXPECT_TRUE(window.screen()->availableGeometry().contains(window.geometry()));
}

TEST(InfoWindow, StandsAtItsPlaceWhereTheScreenHasRoomAndWhollyOnASmallerOne)
{
    const QSize size(433, 242);
    const struct {
        QRect screen;
        QPoint expected;
    } cases[] = {
        {QRect(0, 0, 1920, 1080), QPoint(642, 350)},       {QRect(0, 0, 1075, 592), QPoint(642, 350)},
        {QRect(0, 0, 1024, 768), QPoint(1024 - 433, 350)}, {QRect(0, 0, 800, 560), QPoint(800 - 433, 560 - 242)},
        {QRect(1920, 0, 1280, 1024), QPoint(1920, 350)},   {QRect(0, 0, 400, 200), QPoint(0, 0)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PlaceWithin(c.screen, QPoint(642, 350), size), c.expected)
            << c.screen.width() << "x" << c.screen.height();
}

TEST(InfoWindow, F1AsksForItsHelpPageAndEnterEscOrCloseEndIt)
{
    const std::function<void(TInfoWindow&)> closings[] = {
        [](TInfoWindow& window) { QTest::keyClick(window.Button1, Qt::Key_Escape); },
        [](TInfoWindow& window) { window.Button1->click(); },
        [](TInfoWindow& window) { QTest::keyClick(window.Edit1, Qt::Key_Return); },
        [](TInfoWindow& window) { QTest::keyClick(window.Edit2, Qt::Key_Enter); },
    };
    for (const auto& close : closings) {
        QStringList topics;
        bool openAfterF1 = false;
        QString shownVersion;
        OperateModal<TInfoWindow>([&](TInfoWindow& window) {
            shownVersion = window.Edit1->text();
            QTest::keyClick(window.Edit2, Qt::Key_F1);
            QTest::keyClick(window.Button1, Qt::Key_F1, Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier);
            openAfterF1 = window.isVisible();
            close(window);
        });
        ShowModuleInfo(InfoFromRegisters({0x0207, 0, 0, 0, 0, 0}), [&](const QString& topic) { topics << topic; });
        EXPECT_EQ(shownVersion, QStringLiteral("2.7"));
        EXPECT_TRUE(openAfterF1);
        EXPECT_EQ(topics, QStringList(2, QStringLiteral("KorvelService_Info.htm")));
    }
}

TEST(AboutWindow, ShowsTheBuildsVersionCentredOverTheMainWindow)
{
    QWidget mainWindow;
    mainWindow.setGeometry(100, 200, 676, 533);
    TAboutWindow window;
    window.FillAbout(&mainWindow);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("О программе"));
    EXPECT_EQ(window.Label2->text(), QStringLiteral("Приложение для конфигурирования модуля Korvel"));
    EXPECT_EQ(window.Label3->text(), QStringLiteral("Версия: 1.0"));
    EXPECT_EQ(window.size(), QSize(343, 269));
    EXPECT_EQ(window.pos(), QPoint(100 + 338 - 171, 200 + 266 - 134));
}

TEST(AboutWindow, EnterEscAndOkCloseItButF1OpensTheContents)
{
    const std::function<void(TAboutWindow&)> closings[] = {
        [](TAboutWindow& window) { QTest::keyClick(window.Button1, Qt::Key_Return); },
        [](TAboutWindow& window) { QTest::keyClick(window.Label3, Qt::Key_Escape); },
        [](TAboutWindow& window) { window.Button1->click(); },
    };
    for (const auto& close : closings) {
        bool openAfterF1 = false;
        QStringList topics;
        OperateModal<TAboutWindow>([&](TAboutWindow& window) {
            QTest::keyClick(window.Button1, Qt::Key_F1);
            openAfterF1 = window.isVisible();
            close(window);
        });
        ShowAboutWindow(nullptr, [&](const QString& topic) { topics << topic; });
        EXPECT_TRUE(openAfterF1);
        EXPECT_EQ(topics, QStringList{"KorvelService_Conent.htm"});
    }
}

// A window's table holds the focus only for the arrow keys: Tab goes on to the buttons below it and
// Shift+Tab back to the control before it, so that every button is reached from the keyboard.
TEST(WindowTables, TabAndShiftTabLeaveTheTable)
{
    TCompareWindow compare;
    TModuleConfig differing{};
    differing.TCPPort = 1;
    compare.FillRows(TModuleConfig{}, differing);
    compare.CheckBox1->setChecked(false);
    TSearchWindow search("127.0.0.1", 1502, 100);
    search.TableWidget1->setRowCount(2);
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < search.TableWidget1->columnCount(); ++column)
            search.TableWidget1->setItem(row, column, new QTableWidgetItem(QStringLiteral("x")));
    TMonitorWindow monitor;
    for (int row = 0; row < 3; ++row)
        monitor.AddRecord(EventRecord(TExchangeEvent::Connection, QStringLiteral("соединение установлено")));
    ASSERT_TRUE(WaitUntil([&] { return monitor.Rows().rowCount() == 3; }));  // shown on the next refresh

    const struct {
        const char* Window;
        QDialog* Form;
        QAbstractItemView* Table;
        QWidget* Before;
        QWidget* After;
    } cases[] = {
        {"compare", &compare, compare.TableWidget1, compare.CheckBox1, compare.Button1},
        {"search", &search, search.TableWidget1, search.Button1, search.Button3},
        {"monitor", &monitor, monitor.TableView1, nullptr, monitor.Button1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Window);
        c.Form->show();
        QApplication::setActiveWindow(c.Form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(c.Form));
        c.Table->setCurrentIndex(c.Table->model()->index(0, 0));
        c.Table->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(c.Table, Qt::Key_Tab);
        EXPECT_EQ(c.Form->focusWidget(), c.After);
        if (c.Before) {
            c.Table->setFocus(Qt::OtherFocusReason);
            QTest::keyClick(c.Table, Qt::Key_Backtab, Qt::ShiftModifier);
            EXPECT_EQ(c.Form->focusWidget(), c.Before);
        }
        c.Form->hide();
    }
}

// Every dialog works from the keyboard alone: Enter has a button to press, and every label of a
// control and every button but Ok and Отмена (Enter and Esc) has its Alt letter, none used twice.
TEST(DialogKeyboard, EveryDialogHasADefaultButtonAndItsOwnAltLetters)
{
    TCompareWindow compare;
    TMonitorWindow monitor;
    TSearchWindow search("127.0.0.1", 1502, 100);
    TInfoWindow info;
    TAboutWindow about;
    TSettingsWindow settings;
    TExpEthernetSettingsWindow moreSettings;
    for (QDialog* dialog :
         std::initializer_list<QDialog*>{&compare, &monitor, &search, &info, &about, &settings, &moreSettings}) {
        SCOPED_TRACE(dialog->windowTitle().toStdString());
        const QList<QPushButton*> buttons = dialog->findChildren<QPushButton*>();
        EXPECT_EQ(std::count_if(buttons.begin(), buttons.end(), [](QPushButton* b) { return b->isDefault(); }), 1);
        QStringList letters;
        const auto letterOf = [&](const QString& text) {
            const qsizetype at = text.indexOf(u'&');
            EXPECT_TRUE(at >= 0 && at + 1 < text.size()) << text.toStdString();
            if (at >= 0 && at + 1 < text.size())
                letters << text.mid(at + 1, 1).toLower();
        };
        for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
            if (button->text() != "Ok" && button->text() != "Отмена" && !button->text().isEmpty() &&
                !qobject_cast<QToolButton*>(button))
                letterOf(button->text());
        for (QLabel* label : dialog->findChildren<QLabel*>())
            if (label->buddy())
                letterOf(label->text());
        EXPECT_EQ(QSet<QString>(letters.begin(), letters.end()).size(), letters.size())
            << letters.join(' ').toStdString();
    }
}

TEST(DialogKeyboard, EnterPressesTheFocusedButtonAndTheFirstAddressIsReplacedAsTyped)
{
    bool closedByEnter = false;
    QString typed;
    OperateModal<TSearchWindow>([&](TSearchWindow& window) {
        QApplication::setActiveWindow(&window);
        QTest::keyClicks(window.MaskEdit1, "10.0.0.7");
        typed = window.MaskEdit1->Text();
        window.Button4->setFocus();
        QTest::keyClick(window.Button4, Qt::Key_Return);
        closedByEnter = !window.isVisible();
        window.reject();
    });
    std::string address = "192.168.127.10";
    int32_t port = 502;
    EXPECT_FALSE(SearchModules(address, port, 100, {}));
    EXPECT_EQ(typed, "10 .0  .0  .7  ");
    EXPECT_TRUE(closedByEnter);
}

TEST(FileInfo, VersionTextGivesFourPartsOrNothing)
{
    const struct {
        const char* Text;
        bool Read;
        TVersionParts Parts;
    } cases[] = {
        {"1.0.0.0", true, {1, 0, 0, 0}},
        {"2.17.3.65535", true, {2, 17, 3, 65535}},
        {"", false, {}},
        {"1.0", false, {}},
        {"1.0.0.0.0", false, {}},
        {"1.x.0.0", false, {}},
        {"65536.0.0.0", false, {}},
        {"1..0.0", false, {}},
        {"-1.0.0.0", false, {}},
        {"1.0.0.0 ", false, {}},
    };
    for (const auto& c : cases) {
        const TVersionParts untouched{9, 9, 9, 9};
        TVersionParts parts = untouched;
        EXPECT_EQ(ReadVersionInfo(c.Text, parts), c.Read) << c.Text;
        EXPECT_EQ(parts, c.Read ? c.Parts : untouched) << c.Text;
    }
    int major = -1, minor = -1;
    EXPECT_TRUE(GetProgramVersion(major, minor));
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 0);
}

}  // namespace
