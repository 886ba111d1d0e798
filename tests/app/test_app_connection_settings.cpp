// The connection settings file, the master's parameter text and the settings dialog's effect on
// the window.

#include "AppTestSupport.h"

#include "ConnectionSettings.h"
#include "ModbusMaster.h"

#include <QFile>

namespace {

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray SettingsXml(const QByteArray& address, const QByteArray& port, const QByteArray& root = "CONNECT")
{
    return "<" + root + ">\r\n <IPAddress>" + address + "</IPAddress>\r\n <TCPPort>" + port + "</TCPPort>\r\n</" +
           root + ">\r\n";
}

}  // namespace

struct TLoadCase {
    const char* What;
    QByteArray File;  // empty: no file at all
    const char* Address;
    int32_t Port;
};

class SettingsFileLoadTest : public ::testing::TestWithParam<TLoadCase> {};

TEST_P(SettingsFileLoadTest, GivesTheFileOrTheDefaultsFieldByField)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("KorvelService.xml");
    if (!GetParam().File.isEmpty())
        WriteFile(path, GetParam().File);
    const TSettings settings = LoadSettingsFile(path.toStdString());
    EXPECT_EQ(settings.IPAddress, GetParam().Address);
    EXPECT_EQ(settings.TCPPort, GetParam().Port);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsFileLoadTest,
    ::testing::Values(
        TLoadCase{"missing", "", "192.168.127.10", 502},
        TLoadCase{"written", SettingsXml("127.0.0.1", "1502"), "127.0.0.1", 1502},
        TLoadCase{"mixed case root", SettingsXml("10.0.0.7", "503", "Connect"), "10.0.0.7", 503},
        TLoadCase{"lower case root", SettingsXml("10.0.0.7", "504", "connect"), "10.0.0.7", 504},
        TLoadCase{"port 0", SettingsXml("10.0.0.7", "0"), "10.0.0.7", 502},
        TLoadCase{"port 65536", SettingsXml("10.0.0.7", "65536"), "10.0.0.7", 502},
        TLoadCase{"port abc", SettingsXml("10.0.0.7", "abc"), "10.0.0.7", 502},
        TLoadCase{"address out of range", SettingsXml("10.0.300.1", "600"), "192.168.127.10", 600},
        TLoadCase{"last part out of range", SettingsXml("10.0.0.300", "600"), "192.168.127.10", 600},
        TLoadCase{"last part not a number", SettingsXml("10.0.0.x", "600"), "192.168.127.10", 600},
        TLoadCase{"leading zeros kept as written", SettingsXml("192.168.127.010", "600"), "192.168.127.010", 600},
        TLoadCase{"no port element", "<CONNECT><IPAddress>10.1.1.1</IPAddress></CONNECT>", "10.1.1.1", 502},
        TLoadCase{"malformed", "<CONNECT><IPAddress>10.1.1.1</TCPPort>", "192.168.127.10", 502}),
    ParamNameFromWhat<TLoadCase>);

TEST(SettingsFile, WritesOnlyTheTwoSettingsAndReadsThemBack)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("KorvelService.xml");
    WriteFile(path, "<CONNECT><IPAddress>1.2.3.4</IPAddress><TCPPort>5</TCPPort><Extra>x</Extra></CONNECT>");
    TSettings settings;
    settings.IPAddress = "127.0.0.1";
    settings.TCPPort = 65535;
    SaveSettingsFile(path.toStdString(), settings);
    EXPECT_EQ(FileBytes(path),
              "<CONNECT>\r\n <IPAddress>127.0.0.1</IPAddress>\r\n <TCPPort>65535</TCPPort>\r\n</CONNECT>\r\n");
    const TSettings read = LoadSettingsFile(path.toStdString());
    EXPECT_EQ(read.IPAddress, settings.IPAddress);
    EXPECT_EQ(read.TCPPort, settings.TCPPort);
}

TEST(SettingsFile, LiesBesideTheProgramUnderItsBaseName)
{
    EXPECT_EQ(SettingsFileNameFor("/opt/korvel/KorvelService"), "/opt/korvel/KorvelService.xml");
    EXPECT_EQ(SettingsFileNameFor("/opt/korvel/KorvelService.exe"), "/opt/korvel/KorvelService.xml");
}

TEST(SettingsFile, MasterTextAndStatusText)
{
    TSettings settings;
    EXPECT_EQ(MasterParametersText(settings),
              "IPADDRESS=192.168.127.10\r\nTCPPORT=502\r\nTIMEOUT=50\r\nREPEATCOUNT=2\r\n");
    EXPECT_EQ(SettingsStatusText(settings), "192.168.127.10 : 502");
}

// --- the window ----------------------------------------------------------------------------------

using WindowSettingsTest = MainWindowFixture;

TEST_F(WindowSettingsTest, StartsFromTheFileAndPointsTheMasterThere)
{
    WriteFile(SettingsPath, SettingsXml("127.0.0.1", "1502"));
    EXPECT_EQ(Panel(1), "127.0.0.1 : 1502");
    EXPECT_EQ(Window().Master->GetConnectionText(), "127.0.0.1:1502");
}

TEST_F(WindowSettingsTest, DialogConfirmedAppliesAtOnceAndTheFileFollowsAtClose)
{
    WriteFile(SettingsPath, SettingsXml("127.0.0.1", "1502"));
    const QByteArray before = FileBytes(SettingsPath);
    Window().show();

    // Cancel first: nothing changes.
    WhenModalShown([](QWidget* dialog) {
        dialog->findChild<TMaskEdit*>("MaskEdit1")->setText("127.0.0.2");
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    Action("SettingsAction")->trigger();
    EXPECT_EQ(Panel(1), "127.0.0.1 : 1502");
    EXPECT_EQ(Window().Master->GetConnectionText(), "127.0.0.1:1502");

    WhenModalShown([](QWidget* dialog) {
        dialog->findChild<TMaskEdit*>("MaskEdit1")->setText("127.0.0.2");
        dialog->findChild<TSpinEdit*>("SpinEdit1")->SetValue(2502);
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    Action("SettingsAction")->trigger();
    EXPECT_EQ(Panel(1), "127.0.0.2 : 2502");
    EXPECT_EQ(Window().Master->GetConnectionText(), "127.0.0.2:2502");
    EXPECT_EQ(FileBytes(SettingsPath), before);

    EXPECT_TRUE(CloseWindow());
    EXPECT_EQ(FileBytes(SettingsPath), SettingsXml("127.0.0.2", "2502"));
}

TEST_F(WindowSettingsTest, F1InTheDialogOpensItsPageInAHelpWindowTheDialogDoesNotBlock)
{
    Window().show();
    QString page, pageAfterClick;
    WhenModalShown([&](QWidget* dialog) {
        QTest::keyClick(dialog, Qt::Key_F1);
        page = ShownHelpPage();
        // Clicked as the operator would: a window the modal dialog blocked would ignore it.
        if (THelpWindow* help = ShownHelpWindow())
            QTest::mouseClick(help->Button3, Qt::LeftButton);
        pageAfterClick = ShownHelpPage();
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    Action("SettingsAction")->trigger();
    EXPECT_EQ(page, HelpFolder + "KorvelService_Settings.htm");
    EXPECT_EQ(pageAfterClick, HelpFolder + "KorvelService_Conent.htm");
}
