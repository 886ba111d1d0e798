// The connection settings file, the master's parameter text and the settings dialog's effect on
// the window.

#include "AppTestSupport.h"

#include "ConnectionSettings.h"
#include "ModbusMaster.h"
#include "ProgramFiles.h"

#include <QFile>
#include <QStandardPaths>

#include <functional>
#include <sys/stat.h>

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

// What the program writes: the address and port, then those added later that differ from their
// defaults.
QByteArray SavedSettingsXml(const QByteArray& address, const QByteArray& port, const QByteArray& extra = {})
{
    return "<CONNECT>\r\n <IPAddress>" + address + "</IPAddress>\r\n <TCPPort>" + port + "</TCPPort>\r\n" + extra +
           "</CONNECT>\r\n";
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

TEST(SettingsFile, WritesOnlyItsOwnSettingsAndReadsThemBack)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("KorvelService.xml");
    WriteFile(path, "<CONNECT><IPAddress>1.2.3.4</IPAddress><TCPPort>5</TCPPort><Extra>x</Extra></CONNECT>");
    TSettings settings;
    settings.IPAddress = "127.0.0.1";
    settings.TCPPort = 65535;
    SaveSettingsFile(path.toStdString(), settings);
    EXPECT_EQ(FileBytes(path), SavedSettingsXml("127.0.0.1", "65535"));
    const TSettings read = LoadSettingsFile(path.toStdString());
    EXPECT_EQ(read.IPAddress, settings.IPAddress);
    EXPECT_EQ(read.TCPPort, settings.TCPPort);
}

TEST(SettingsFile, OnlyASmallRegularFileIsReadAndAnythingElseIsKeptAside)
{
    const QByteArray valid = SettingsXml("127.0.0.1", "1502");
    const struct {
        const char* What;
        std::function<void(const QString& path, const QString& folder)> Make;
        bool Read;      // the file's settings, else the defaults
        bool Unusable;  // there, but not usable: kept aside at close
    } cases[] = {
        {"missing", [](const QString&, const QString&) {}, false, false},
        {"regular", [&](const QString& path, const QString&) { WriteFile(path, valid); }, true, false},
        {"link to a regular file",
         [&](const QString& path, const QString& folder) {
             WriteFile(folder + "/real.xml", valid);
             QFile::link(folder + "/real.xml", path);
         },
         true, false},
        {"64 KiB with padding",
         [&](const QString& path, const QString&) { WriteFile(path, valid + QByteArray(65536 - valid.size(), ' ')); },
         true, false},
        {"one byte over 64 KiB",
         [&](const QString& path, const QString&) { WriteFile(path, valid + QByteArray(65537 - valid.size(), ' ')); },
         false, true},
        {"malformed", [](const QString& path, const QString&) { WriteFile(path, "<CONNECT><IPAddress>"); }, false,
         true},
        {"FIFO without a writer", [](const QString& path, const QString&) { ::mkfifo(path.toLocal8Bit(), 0600); },
         false, true},
        {"link to /dev/zero", [](const QString& path, const QString&) { QFile::link("/dev/zero", path); }, false, true},
        {"folder", [](const QString& path, const QString&) { QDir().mkdir(path); }, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        QTemporaryDir folder;
        const QString path = folder.filePath("KorvelService.xml");
        c.Make(path, folder.path());
        bool unusable = !c.Unusable;
        const TSettings settings = LoadSettingsFile(path.toStdString(), &unusable);
        EXPECT_EQ(settings.TCPPort, c.Read ? 1502 : 502);
        EXPECT_EQ(unusable, c.Unusable);
    }
}

// The address is read as the socket reads it, so that the window never shows, nor keeps, one that
// no command could reach; an unusable one is kept aside with the file, as an unusable file is.
TEST(SettingsFile, TheAddressIsReadByTheSocketsDecimalRule)
{
    const struct {
        const char* What;
        QByteArray Address;
        const char* Read;  // the setting read
        bool Unusable;
    } cases[] = {
        {"hexadecimal with 0x", "0x7F.0.0.1", "192.168.127.10", true},
        {"hexadecimal with $", "$7F.0.0.1", "192.168.127.10", true},
        {"hexadecimal last group", "127.0.0.x1", "192.168.127.10", true},
        {"signed group", "127.0.0.+1", "192.168.127.10", true},
        {"a group too large", "10.0.0.300", "192.168.127.10", true},
        {"three groups", "127.0.1", "192.168.127.10", true},
        {"a name", "localhost", "192.168.127.10", true},
        {"blank inside a group, as the masked editors pad", "127.0.0 .1", "127.0.0 .1", false},
        {"blanks around it", " 127.0.0.1 ", "127.0.0.1", false},
        {"empty", "", "192.168.127.10", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        QTemporaryDir folder;
        const QString path = folder.filePath("KorvelService.xml");
        WriteFile(path, SettingsXml(c.Address, "1502"));
        bool unusable = !c.Unusable;
        const TSettings settings = LoadSettingsFile(path.toStdString(), &unusable);
        EXPECT_EQ(settings.IPAddress, c.Read);
        EXPECT_EQ(unusable, c.Unusable);
        EXPECT_EQ(settings.TCPPort, 1502) << "the other values are still read";
    }
}

// Blanks around a value are read past in every element alike: a leading one always was in the
// numbers, and the program never writes either.
TEST(SettingsFile, BlanksAroundAValueAreReadPastInEveryElement)
{
    const struct {
        const char* What;
        QByteArray Port;
        QByteArray Extra;
        int32_t TCPPort;
        int32_t Timeout;
        int32_t Transmissions;
        bool Verify;
        bool Unusable;
    } cases[] = {
        {"blank after the timeout", "1502", " <Timeout>700 </Timeout>\r\n", 1502, 700, 3, true, false},
        {"blank before the port", " 16000", "", 16000, 510, 3, true, false},
        {"blank after the port", "16000 ", "", 16000, 510, 3, true, false},
        {"blanks around the repeats and the check", "1502",
         " <Repeats>  2  </Repeats>\r\n <VerifyWrite> 0 </VerifyWrite>\r\n", 1502, 510, 2, false, false},
        {"the byte 0xFF is a blank too",
         "\xFF"
         "1502\xFF",
         "", 1502, 510, 3, true, false},
        {"a blank inside a number", "15 02", " <Timeout>7 00</Timeout>\r\n", 502, 510, 3, true, true},
        {"a tab is no blank", "\t1502", "", 502, 510, 3, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        QTemporaryDir folder;
        const QString path = folder.filePath("KorvelService.xml");
        WriteFile(path, SavedSettingsXml("127.0.0.1", c.Port, c.Extra));
        bool unusable = !c.Unusable;
        const TSettings settings = LoadSettingsFile(path.toStdString(), &unusable);
        EXPECT_EQ(settings.TCPPort, c.TCPPort);
        EXPECT_EQ(settings.Timeout, c.Timeout);
        EXPECT_EQ(settings.Transmissions, c.Transmissions);
        EXPECT_EQ(settings.VerifyWrite, c.Verify);
        EXPECT_EQ(unusable, c.Unusable);
    }
}

TEST(SettingsFile, LiesBesideTheProgramUnderItsBaseName)
{
    EXPECT_EQ(SettingsFileNameFor("/opt/korvel/KorvelService"), "/opt/korvel/KorvelService.xml");
    EXPECT_EQ(SettingsFileNameFor("/opt/korvel/KorvelService.exe"), "/opt/korvel/KorvelService.xml");
}

TEST(SettingsFile, BesideTheProgramWhereItCanBeWrittenElseInTheUsersConfigurationFolder)
{
    QTemporaryDir folder;
    const QString bin = folder.filePath("bin");
    ASSERT_TRUE(QDir().mkpath(bin));
    const QString program = bin + "/KorvelService";
    EXPECT_EQ(SettingsFileLocation(program), bin + "/KorvelService.xml") << "a writable folder";

    const QString userFile = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + "/KorvelService.xml";
    EXPECT_TRUE(userFile.endsWith("/KorvelService/KorvelService.xml")) << userFile.toStdString();
    QFile::setPermissions(bin, QFile::ReadOwner | QFile::ExeOwner);
    if (QFileInfo(bin).isWritable()) {
        QFile::setPermissions(bin, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        GTEST_SKIP() << "a read-only folder is still writable to this user (root); the install test covers it";
    }
    EXPECT_EQ(SettingsFileLocation(program), userFile) << "a read-only folder";
    QFile::setPermissions(bin, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    WriteFile(bin + "/KorvelService.xml", "");
    QFile::setPermissions(bin, QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_EQ(SettingsFileLocation(program), bin + "/KorvelService.xml") << "a file already there";
    QFile::setPermissions(bin, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(SettingsFile, AnInstalledProgramNeverMakesOneInItsOwnFolder)
{
    QTemporaryDir prefix;
    const QString bin = prefix.filePath("bin");
    ASSERT_TRUE(QDir().mkpath(bin));
    ASSERT_TRUE(QDir().mkpath(prefix.filePath("share/KorvelService/Help")));
    const QString program = bin + "/KorvelService";
    const QString userFile = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + "/KorvelService.xml";
    // Even where it could (as root in /usr/bin): the file would outlive the package.
    EXPECT_EQ(SettingsFileLocation(program), userFile);
    // One this user may write, as a copy installed in the user's own prefix keeps, is still used.
    WriteFile(bin + "/KorvelService.xml", "");
    EXPECT_EQ(SettingsFileLocation(program), bin + "/KorvelService.xml");
}

TEST(SettingsFile, RecentFilesAreKeptOnlyWhenThereAreAnyAndOnlyAsTheyCanComeBack)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("KorvelService.xml");
    TSettings settings;
    SaveSettingsFile(path.toStdString(), settings);
    EXPECT_EQ(FileBytes(path), DefaultSettingsFile);

    const std::string longName = "/plant/" + std::string(250, 'x') + ".ini";
    settings.RecentFiles = {"/plant/a.ini", "/plant/R&D.ini", "/plant/<b>.ini", longName, "/plant/новый цех.ini"};
    for (int i = 0; i < 8; ++i)
        settings.RecentFiles.push_back("/plant/more" + std::to_string(i) + ".ini");
    settings.RecentMaps = {"/plant/meters.csv", "/plant/<drives>.csv", "/plant/pumps.csv"};
    SaveSettingsFile(path.toStdString(), settings);
    const std::vector<std::string> expected{"/plant/a.ini",     "/plant/новый цех.ini", "/plant/more0.ini",
                                            "/plant/more1.ini", "/plant/more2.ini",     "/plant/more3.ini",
                                            "/plant/more4.ini", "/plant/more5.ini"};
    bool unusable = true;
    const TSettings read = LoadSettingsFile(path.toStdString(), &unusable);
    EXPECT_FALSE(unusable);
    EXPECT_EQ(read.RecentFiles, expected);
    EXPECT_EQ(read.RecentMaps, std::vector<std::string>({"/plant/meters.csv", "/plant/pumps.csv"}));
    EXPECT_EQ(read.IPAddress, settings.IPAddress);
}

TEST(HelpFolder, BesideTheProgramFirstThenUnderTheInstalledDataFolder)
{
    QTemporaryDir prefix;
    const QString bin = prefix.filePath("bin");
    ASSERT_TRUE(QDir().mkpath(bin));
    EXPECT_EQ(HelpFolderLocation(bin), prefix.filePath("share/KorvelService/Help") + '/');
    ASSERT_TRUE(QDir().mkpath(bin + "/Help"));
    EXPECT_EQ(HelpFolderLocation(bin), bin + "/Help/");
}

TEST(SettingsFile, MasterTextAndStatusText)
{
    TSettings settings;
    EXPECT_EQ(TModuleClient::ParametersText(settings.IPAddress, uint16_t(settings.TCPPort), ClientOptions(settings)),
              "IPADDRESS=192.168.127.10\r\nTCPPORT=502\r\nTIMEOUT=50\r\nREPEATCOUNT=2\r\n");
    EXPECT_EQ(SettingsStatusText(settings), "192.168.127.10 : 502");
    settings.Timeout = 300;
    settings.Transmissions = 5;
    EXPECT_EQ(TModuleClient::ParametersText(settings.IPAddress, uint16_t(settings.TCPPort), ClientOptions(settings)),
              "IPADDRESS=192.168.127.10\r\nTCPPORT=502\r\nTIMEOUT=29\r\nREPEATCOUNT=4\r\n");
}

// --- the window ----------------------------------------------------------------------------------

using WindowSettingsTest = MainWindowFixture;

TEST_F(WindowSettingsTest, StartsFromTheFileAndPointsTheMasterThere)
{
    WriteFile(SettingsPath, SettingsXml("127.0.0.1", "1502"));
    EXPECT_EQ(Panel(1), "127.0.0.1 : 1502");
    EXPECT_EQ(Window().Client->Master().GetConnectionText(), "127.0.0.1:1502");
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
    EXPECT_EQ(Window().Client->Master().GetConnectionText(), "127.0.0.1:1502");

    WhenModalShown([](QWidget* dialog) {
        dialog->findChild<TMaskEdit*>("MaskEdit1")->setText("127.0.0.2");
        dialog->findChild<TSpinEdit*>("SpinEdit1")->SetValue(2502);
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    Action("SettingsAction")->trigger();
    EXPECT_EQ(Panel(1), "127.0.0.2 : 2502");
    EXPECT_EQ(Window().Client->Master().GetConnectionText(), "127.0.0.2:2502");
    EXPECT_EQ(FileBytes(SettingsPath), before);

    EXPECT_TRUE(CloseWindow());
    EXPECT_EQ(FileBytes(SettingsPath), SavedSettingsXml("127.0.0.2", "2502"));
}

TEST(SettingsFile, TimeoutRepeatsAndVerificationReadWithDefaultsWhenMissingOrBad)
{
    const struct {
        const char* What;
        QByteArray Extra;  // elements after the address and port
        int32_t Timeout;
        int32_t Transmissions;
        bool Verify;
    } cases[] = {
        {"a file of an older program", "", 510, 3, true},
        {"all given", " <Timeout>2500</Timeout>\r\n <Repeats>5</Repeats>\r\n <VerifyWrite>0</VerifyWrite>\r\n", 2500, 5,
         false},
        {"the ends of the ranges", " <Timeout>100</Timeout>\r\n <Repeats>1</Repeats>\r\n", 100, 1, true},
        {"too short and too many", " <Timeout>99</Timeout>\r\n <Repeats>6</Repeats>\r\n", 510, 3, true},
        {"too long and none", " <Timeout>10001</Timeout>\r\n <Repeats>0</Repeats>\r\n", 510, 3, true},
        {"not numbers", " <Timeout>abc</Timeout>\r\n <Repeats>x</Repeats>\r\n", 510, 3, true},
    };
    QTemporaryDir folder;
    const QString path = folder.filePath("KorvelService.xml");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        WriteFile(path, SavedSettingsXml("127.0.0.1", "1502", c.Extra));
        const TSettings settings = LoadSettingsFile(path.toStdString());
        EXPECT_EQ(settings.IPAddress, "127.0.0.1");
        EXPECT_EQ(settings.TCPPort, 1502);
        EXPECT_EQ(settings.Timeout, c.Timeout);
        EXPECT_EQ(settings.Transmissions, c.Transmissions);
        EXPECT_EQ(settings.VerifyWrite, c.Verify);
    }

    TSettings written;
    written.IPAddress = "127.0.0.3";
    written.Timeout = 3000;
    written.Transmissions = 1;
    written.VerifyWrite = false;
    SaveSettingsFile(path.toStdString(), written);
    EXPECT_EQ(
        FileBytes(path),
        SavedSettingsXml("127.0.0.3", "502",
                         " <Timeout>3000</Timeout>\r\n <Repeats>1</Repeats>\r\n <VerifyWrite>0</VerifyWrite>\r\n"));
    const TSettings read = LoadSettingsFile(path.toStdString());
    EXPECT_EQ(read.Timeout, 3000);
    EXPECT_EQ(read.Transmissions, 1);
    EXPECT_FALSE(read.VerifyWrite);
}

TEST_F(WindowSettingsTest, TimeoutAndTransmissionsFromTheDialogReachTheMaster)
{
    WriteFile(SettingsPath, SettingsXml("127.0.0.1", "1502"));
    Window().show();
    EXPECT_EQ(Window().Client->Master().Timeout(), 50u);
    EXPECT_EQ(Window().Client->Master().RepeatCount(), 2);
    QStringList messages;
    WhenModalShown([&](QWidget* dialog) {
        auto* timeout = dialog->findChild<TSpinEdit*>("SpinEdit2");
        auto* transmissions = dialog->findChild<TSpinEdit*>("SpinEdit3");
        EXPECT_EQ(timeout->Value(), 510);
        EXPECT_EQ(transmissions->Value(), 3);
        timeout->SetText("99");
        QTest::keyClick(dialog, Qt::Key_Return);
        timeout->SetText("1000");
        transmissions->SetText("6");
        QTest::keyClick(dialog, Qt::Key_Return);
        transmissions->SetText("1");
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    Action("SettingsAction")->trigger();
    ASSERT_EQ(Dialogs.Boxes.size(), 2u);
    EXPECT_EQ(Dialogs.Boxes[0].Text,
              "Недопустимое значение таймаута ответа !. Интервал допустимых значений 100..10000");
    EXPECT_EQ(Dialogs.Boxes[1].Text, "Недопустимое значение количества передач !. Интервал допустимых значений 1..5");
    EXPECT_EQ(Window().Settings.Timeout, 1000);
    EXPECT_EQ(Window().Settings.Transmissions, 1);
    // 100 ticks of 10 ms, the last of which ends the wait; one transmission, no repeat.
    EXPECT_EQ(Window().Client->Master().Timeout(), 99u);
    EXPECT_EQ(Window().Client->Master().RepeatCount(), 0);
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

TEST_F(WindowSettingsTest, AnUnusableFileIsKeptAsBakBeforeTheCloseReplacesIt)
{
    const QByteArray handWritten = "<CONNECT><IPAddress>10.0.0.1</IPAddress><TCPPort>1502</TCPPort>";
    WriteFile(SettingsPath, handWritten);
    WriteFile(SettingsPath + ".bak", "an older copy");
    EXPECT_EQ(Window().Settings.TCPPort, 502);
    EXPECT_TRUE(CloseWindow());
    EXPECT_EQ(FileBytes(SettingsPath + ".bak"), handWritten);
    EXPECT_EQ(FileBytes(SettingsPath), SavedSettingsXml("192.168.127.10", "502"));

    // The file is good now: the next close leaves the kept copy alone.
    Window_.reset();
    EXPECT_TRUE(CloseWindow());
    EXPECT_EQ(FileBytes(SettingsPath + ".bak"), handWritten);
}

TEST_F(WindowSettingsTest, AFIFOInPlaceOfTheFileNeitherBlocksTheStartNorTheClose)
{
    ASSERT_EQ(::mkfifo(SettingsPath.toLocal8Bit(), 0600), 0);
    EXPECT_EQ(Window().Settings.IPAddress, "192.168.127.10");
    EXPECT_TRUE(CloseWindow());
    EXPECT_TRUE(QFileInfo(SettingsPath + ".bak").exists());
    EXPECT_TRUE(QFileInfo(SettingsPath).isFile());
    EXPECT_EQ(LoadSettingsFile(SettingsPath.toStdString()).TCPPort, 502);
}

TEST_F(WindowSettingsTest, AHexadecimalAddressIsNotUsedAndTheFileIsKeptAsBak)
{
    const QByteArray handWritten = SettingsXml("0x7F.0.0.1", "1502");
    WriteFile(SettingsPath, handWritten);
    EXPECT_EQ(Window().Settings.IPAddress, "192.168.127.10");
    EXPECT_EQ(Panel(1), "192.168.127.10 : 1502");
    EXPECT_EQ(Window().Client->Master().GetConnectionText(), "192.168.127.10:1502");
    EXPECT_TRUE(CloseWindow());
    EXPECT_EQ(FileBytes(SettingsPath + ".bak"), handWritten);
    EXPECT_EQ(FileBytes(SettingsPath), SavedSettingsXml("192.168.127.10", "1502"));
}
