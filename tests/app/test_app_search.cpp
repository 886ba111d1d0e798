// "Поиск модулей" from the settings dialog: simulated modules on several loopback addresses, a
// range around them, and the chosen one's address and port back in the dialog.

#include "AppTestSupport.h"

#include "ModuleSimServer.h"
#include "ScriptedServer.h"
#include "Search_Win.h"
#include "Settings_Win.h"
#include "Wait.h"

#include <QPushButton>
#include <QTableWidget>

#include <memory>

namespace {

class SearchTest : public MainWindowFixture {
protected:
    // Modules on the last address bytes given, all on one port the system picked as free.
    bool StartModules(std::initializer_list<int> lastBytes)
    {
        for (int last : lastBytes) {
            auto module = std::make_unique<TModuleSimServer>();
            const QHostAddress address(QStringLiteral("127.0.0.%1").arg(last));
            if (!module->Listen(address, Port))
                return false;
            Port = module->Port();
            module->SetMac({0x00, 0x1A, 0x2B, 0x3C, 0x4D, uint8_t(last)});
            module->SetJumperFitted(last == 14);
            Modules.push_back(std::move(module));
        }
        return true;
    }

    static QStringList Rows(const QTableWidget& table)
    {
        QStringList rows;
        for (int row = 0; row < table.rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < table.columnCount(); ++column)
                cells << table.item(row, column)->text();
            rows << cells.join(" | ");
        }
        return rows;
    }

    quint16 Port = 0;
    std::vector<std::unique_ptr<TModuleSimServer>> Modules;
};

TEST_F(SearchTest, FindsExactlyTheAnsweringModulesAndFillsTheSettingsDialog)
{
    ASSERT_TRUE(StartModules({20, 11, 14, 30}));
    TSettingsWindow settings;
    settings.MaskEdit1->setText("127.0.0.5");
    settings.SpinEdit1->SetValue(Port);
    QString firstDefault, lastDefault, title, status;
    int portDefault = 0;
    QStringList rows;
    WhenModalShown([&](QWidget* search) {
        title = search->windowTitle();
        auto* first = search->findChild<TMaskEdit*>("MaskEdit1");
        auto* last = search->findChild<TMaskEdit*>("MaskEdit2");
        firstDefault = first->text();
        lastDefault = last->text();
        portDefault = search->findChild<TSpinEdit*>("SpinEdit1")->Value();
        last->setText("127.0.0.40");
        // Runs the whole search before it returns, as the click's handler does.
        QTest::mouseClick(search->findChild<QPushButton*>("Button1"), Qt::LeftButton);
        auto* table = search->findChild<QTableWidget*>("TableWidget1");
        rows = Rows(*table);
        status = search->findChild<QLabel*>("Label4")->text();
        if (table->rowCount() > 1) {
            const QRect cell = table->visualItemRect(table->item(1, 0));
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
            QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        }
        if (search->isVisible())
            search->close();
    });
    QTest::mouseClick(settings.Button3, Qt::LeftButton);

    EXPECT_EQ(title, "Поиск модулей");
    EXPECT_EQ(firstDefault, "127.0.0.1");  // the /24 of the address in the dialog
    EXPECT_EQ(lastDefault, "127.0.0.254");
    EXPECT_EQ(portDefault, Port);
    const QString port = QString::number(Port);
    EXPECT_EQ(rows, QStringList({"127.0.0.11 | " + port + " | 1.0 | 00-1A-2B-3C-4D-0B | Не установлена",
                                 "127.0.0.14 | " + port + " | 1.0 | 00-1A-2B-3C-4D-0E | Установлена",
                                 "127.0.0.20 | " + port + " | 1.0 | 00-1A-2B-3C-4D-14 | Не установлена",
                                 "127.0.0.30 | " + port + " | 1.0 | 00-1A-2B-3C-4D-1E | Не установлена"}));
    EXPECT_TRUE(status.startsWith("Опрошено адресов: 40 из 40, найдено модулей: 4")) << status.toStdString();
    EXPECT_EQ(settings.AddressWithoutBlanks(), "127.0.0.14");
    EXPECT_EQ(settings.SpinEdit1->Value(), Port);
}

// Something that accepts the connection but does not answer in time (a slow module) is named, apart
// from the modules found; addresses where nothing listens are not.
TEST_F(SearchTest, AnAddressThatAcceptedButDidNotAnswerInTimeIsNamed)
{
    TScriptedServer silent([](const TScriptedRequest&) { return TScriptedAnswer{}; });
    ASSERT_TRUE(silent.Listen());
    TSearchWindow search("127.0.0.1", silent.Port(), 200);
    search.MaskEdit2->setText("127.0.0.3");
    search.Button1Click();
    const QString port = QString::number(silent.Port());
    EXPECT_EQ(Rows(*search.TableWidget1), QStringList({"127.0.0.1 | " + port + " | нет ответа за 200 мс |  | "}));
    const QString status = search.Label4->text();
    EXPECT_TRUE(status.startsWith("Опрошено адресов: 3 из 3, найдено модулей: 0, ")) << status.toStdString();
    EXPECT_TRUE(status.endsWith(" с; приняли соединение, но не ответили за 200 мс: 1")) << status.toStdString();
}

TEST_F(SearchTest, ABadRangeIsToldAndNothingIsAsked)
{
    const struct {
        const char* First;
        const char* Last;
        QString Message;
    } cases[] = {
        {"127.0.0.300", "127.0.0.4", "Недопустимое значение IP адреса !"},
        {"127.0.0.9", "127.0.0.4", "Недопустимый диапазон адресов: неверный диапазон 127.0.0.9-127.0.0.4"},
        {"127.0.0.1", "127.0.255.254",
         "Недопустимый диапазон адресов: диапазон 127.0.0.1-127.0.255.254 содержит 65534 адресов, допускается не "
         "более 4096"},
    };
    for (const auto& c : cases) {
        TSearchWindow search("127.0.0.1", 1502, 100);
        search.MaskEdit1->setText(c.First);
        search.MaskEdit2->setText(c.Last);
        Dialogs.Boxes.clear();
        search.Button1Click();
        ASSERT_EQ(Dialogs.Boxes.size(), 1u) << c.First;
        EXPECT_EQ(Dialogs.Boxes[0].Text, c.Message);
        EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x10u);
        EXPECT_EQ(search.ProgressBar1->maximum(), 100);  // never started
    }
}

// Closed while addresses are still being asked, the window stays until they have answered or timed
// out and closes then: gone at once, it left the settings dialog below it waiting in the search's
// loop while it looked closed, and the main window usable with the old settings.
TEST_F(SearchTest, ClosedDuringASearchItStaysUntilTheAskedAddressesAreDone)
{
    TScriptedServer silent([](const TScriptedRequest&) { return TScriptedAnswer{}; });
    ASSERT_TRUE(silent.Listen());
    TSearchWindow search("127.0.0.1", silent.Port(), 300);
    search.MaskEdit2->setText("127.0.0.1");
    search.show();
    bool searchingWhenClosed = false;
    bool visibleAfterClose = false;
    QTimer::singleShot(0, &search, [&] {
        searchingWhenClosed = search.Button2->isEnabled();
        search.close();
        visibleAfterClose = search.isVisible();
    });
    search.Button1Click();

    EXPECT_TRUE(searchingWhenClosed);
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_FALSE(search.isVisible());
    EXPECT_EQ(search.result(), QDialog::Rejected);
    EXPECT_EQ(silent.Requests().size(), 1u);
}

}  // namespace
