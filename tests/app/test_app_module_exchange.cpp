// The module commands end to end: the window's master against the simulated module and against
// scripted loopback servers, every box answered by the test.

#include "AppTestSupport.h"

#include "BaudRates.h"
#include "ConfigCRC.h"
#include "ConfigFile.h"
#include "ConnectionSettings.h"
#include "ModbusMaster.h"
#include "ModuleRegisters.h"
#include "ModuleSimServer.h"
#include "ScriptedServer.h"
#include "Wait.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolButton>

#include <cstring>
#include <optional>

namespace {

const QString WrittenText = QStringLiteral("Конфигурация успешно загружена");
const QString ReadText = QStringLiteral("Конфигурация успешно считана");
const QString BadChecksumText =
    QStringLiteral("Контрольная сумма конфигурации модуля неверна: модуль хранит повреждённую конфигурацию.");
// The question after a write that moved the module, naming where it went.
QString ChangeQuestion(quint16 port)
{
    return QStringLiteral("Изменены параметры связи модуля. Изменить соответствующие настроки программы ?\n"
                          "Новый адрес модуля: 127.0.0.1 : %1")
        .arg(port);
}

// A configuration whose own address and port are the ones the window reaches the module at, so
// that a write asks no question.
TModuleConfig LoopbackConfig(quint16 port)
{
    TModuleConfig config{};
    config.Address = {127, 0, 0, 1};
    config.Gateway = {127, 0, 0, 254};
    config.NetMask = {255, 0, 0, 0};
    config.TCPPort = port;
    config.Channels[0] = {0, 4, 1, 1, 250, 0, {10, 1, 2, 50}, {10, 1, 2, 51}, 300, 400, 5020, 5021, {}};
    config.Channels[1] = {17, 12, 2, 0, 100, 0, {10, 1, 3, 50}, {10, 1, 3, 51}, 200, 150, 6020, 6021, {}};
    return config;
}

std::array<uint16_t, ConfigReadRegisterCount> RecordRegisters(const TModuleConfig& config)
{
    std::array<uint16_t, ConfigReadRegisterCount> registers{};
    std::memcpy(registers.data(), &config, sizeof config);
    return registers;
}

}  // namespace

class ModuleExchangeTest : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        ASSERT_TRUE(Module.Listen(QHostAddress::LocalHost, 0)) << Module.ErrorText().toStdString();
        PointSettingsAt(Module.Port());
    }

    // The module's configuration registers 84..139 as a record.
    TModuleConfig ModuleRecord() const
    {
        std::array<uint16_t, ConfigReadRegisterCount> registers{};
        for (int k = 0; k < ConfigReadRegisterCount; ++k)
            registers[size_t(k)] = Module.Register(ConfigFirstRegister + k);
        TModuleConfig config{};
        std::memcpy(&config, registers.data(), sizeof config);
        return config;
    }

    // What the module holds, with the checksum of it unless the test gives one of its own.
    void SetModuleRecord(const TModuleConfig& config, std::optional<uint16_t> crc = std::nullopt)
    {
        TModuleConfig held = config;
        SetConfigCRC(held);
        if (crc)
            held.CRC = *crc;
        const auto registers = RecordRegisters(held);
        for (int k = 0; k < ConfigReadRegisterCount; ++k)
            Module.SetRegister(ConfigFirstRegister + k, registers[size_t(k)]);
    }

    // Waits until boxes with this text were shown atLeast times, and answers how many there were.
    int WaitForBox(const QString& text, int atLeast = 1)
    {
        const auto count = [&] {
            return int(std::count_if(Dialogs.Boxes.begin(), Dialogs.Boxes.end(),
                                     [&](const TShownBox& box) { return box.Text == text; }));
        };
        WaitUntil([&] { return count() >= atLeast; });
        return count();
    }

    bool NothingPending() const { return !Window_->RequestPending(); }

    TModuleSimServer Module;
};

TEST_F(ModuleExchangeTest, WriteThenReadBackShowsWhatWasWritten)
{
    const TModuleConfig written = LoopbackConfig(Module.Port());
    Window().ConfigToControls(written);
    Action("WriteConfigAction")->trigger();
    ASSERT_EQ(WaitForBox(WrittenText), 1);
    EXPECT_EQ(Dialogs.Boxes.back().Flags, 0x40u);
    EXPECT_EQ(Dialogs.Boxes.size(), 1u);  // the module keeps the address we reach it at: no question
    EXPECT_TRUE(Window().Modified);       // a write does not save anything

    TModuleConfig expected = written;
    SetConfigCRC(expected);
    const TModuleConfig stored = ModuleRecord();
    EXPECT_EQ(std::memcmp(&expected, &stored, sizeof expected), 0);
    EXPECT_EQ(Module.Register(139), CRC16(reinterpret_cast<const uint8_t*>(&written), ConfigCRCOffset));
    EXPECT_EQ(Module.Register(140), 0xAAAA);

    // Show something else, then read: the controls show what was written.
    Window().ConfigToControls(TModuleConfig{});
    Window().SetFileName(Path("from-file.ini"));
    Window().SetModified(false);
    Action("ReadConfigAction")->trigger();
    ASSERT_EQ(WaitForBox(ReadText), 1);
    EXPECT_EQ(Dialogs.Boxes.back().Flags, 0x40u);
    EXPECT_EQ(std::memcmp(&Window().Config, &expected, sizeof expected), 0);
    EXPECT_EQ(AddressEdit(1)->text(), "127.0.0.1");
    EXPECT_EQ(PortEdit()->Value(), Module.Port());
    EXPECT_EQ(Frame(1)->findChild<TSpinEdit*>("SpinEdit3")->Value(), 17);
    EXPECT_EQ(Window().windowTitle(), "KorvelService");
    EXPECT_TRUE(Window().FileName.isEmpty());
    EXPECT_FALSE(Window().Modified);
    ASSERT_TRUE(Window().ControlsToConfig());
    EXPECT_EQ(std::memcmp(&Window().Config, &written, ConfigCRCOffset), 0);
}

TEST_F(ModuleExchangeTest, AnInvalidPortOfTheModuleIsRefusedAndNothingIsSent)
{
    Window().ConfigToControls(LoopbackConfig(Module.Port()));
    for (const char* port : {"5O2", "0", "", "70000"}) {
        SCOPED_TRACE(port);
        Dialogs.Boxes.clear();
        PortEdit()->SetText(port);
        Action("WriteConfigAction")->trigger();
        ASSERT_EQ(Dialogs.Boxes.size(), 1u);
        EXPECT_EQ(Dialogs.Boxes[0].Text, "Недопустимое значение TCP порта !. Интервал допустимых значений 1..65535");
        EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x10u);
        EXPECT_FALSE(Window().RequestPending());
    }
    EXPECT_EQ(Module.RequestCount(), 0);
}

TEST_F(ModuleExchangeTest, AReadWarnsWhenTheModulesChecksumIsWrongButStillFillsTheControls)
{
    const TModuleConfig module = LoopbackConfig(Module.Port());
    const uint16_t good = CRC16(reinterpret_cast<const uint8_t*>(&module), ConfigCRCOffset);
    const struct {
        uint16_t CRC;
        QString Message;
        unsigned Flags;
    } cases[] = {
        {good, ReadText, 0x40},
        {uint16_t(good ^ 0x0100), BadChecksumText, 0x30},
        {0, BadChecksumText, 0x30},
    };
    for (const auto& c : cases) {
        SetModuleRecord(module, c.CRC);
        Window().ConfigToControls(TModuleConfig{});
        Window().SetFileName(Path("from-file.ini"));
        Window().SetModified(false);
        Dialogs.Boxes.clear();
        Action("ReadConfigAction")->trigger();
        ASSERT_TRUE(WaitUntil([&] { return !Dialogs.Boxes.empty(); })) << c.CRC;
        EXPECT_EQ(Dialogs.Boxes.size(), 1u);
        EXPECT_EQ(Dialogs.Boxes[0].Text, c.Message) << c.CRC;
        EXPECT_EQ(Dialogs.Boxes[0].Flags, c.Flags) << c.CRC;
        EXPECT_EQ(AddressEdit(1)->text(), "127.0.0.1");
        EXPECT_EQ(Window().Config.CRC, c.CRC);
        EXPECT_TRUE(Window().FileName.isEmpty());
        EXPECT_FALSE(Window().Modified);
    }
}

TEST_F(ModuleExchangeTest, ReservedBytesGoBackUnchangedUnlessAFileWasOpenedInBetween)
{
    TModuleConfig module = LoopbackConfig(Module.Port());
    std::memset(module.Reserved1, 0x5A, sizeof module.Reserved1);
    std::memset(module.Reserved2, 0xC3, sizeof module.Reserved2);
    std::memset(module.Channels[1].Reserved, 0x7E, sizeof module.Channels[1].Reserved);
    SetModuleRecord(module);

    Action("ReadConfigAction")->trigger();
    ASSERT_EQ(WaitForBox(ReadText), 1);
    SetModuleRecord(LoopbackConfig(Module.Port()));  // the module forgets them
    Action("WriteConfigAction")->trigger();
    ASSERT_EQ(WaitForBox(WrittenText), 1);
    const TModuleConfig rewritten = ModuleRecord();
    EXPECT_EQ(std::memcmp(rewritten.Reserved1, module.Reserved1, sizeof module.Reserved1), 0);
    EXPECT_EQ(std::memcmp(rewritten.Reserved2, module.Reserved2, sizeof module.Reserved2), 0);
    EXPECT_EQ(std::memcmp(rewritten.Channels[1].Reserved, module.Channels[1].Reserved, 6), 0);

    const QString file = Path("opened.ini");
    SaveConfigToFile(file.toStdString(), LoopbackConfig(Module.Port()));
    Dialogs.FileAnswers = {file};
    Action("FileOpenAction")->trigger();
    Action("WriteConfigAction")->trigger();
    ASSERT_EQ(WaitForBox(WrittenText, 2), 2);
    const TModuleConfig afterFile = ModuleRecord();
    const TModuleConfig zero{};
    EXPECT_EQ(std::memcmp(afterFile.Reserved1, zero.Reserved1, sizeof zero.Reserved1), 0);
    EXPECT_EQ(std::memcmp(afterFile.Reserved2, zero.Reserved2, sizeof zero.Reserved2), 0);
    EXPECT_EQ(std::memcmp(afterFile.Channels[1].Reserved, zero.Channels[1].Reserved, 6), 0);
}

TEST_F(ModuleExchangeTest, ReadWhileModifiedFollowsTheAnswer)
{
    struct TCase {
        const char* What;
        std::deque<int> Answers;
        std::deque<std::optional<QString>> Files;
        bool Reads;
    };
    const TCase cases[] = {
        {"Cancel", {ID::Cancel}, {}, false},
        {"No", {ID::No}, {}, true},
        {"Yes, then the save dialog cancelled", {ID::Yes}, {std::nullopt}, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        Window().ConfigToControls(LoopbackConfig(Module.Port()));
        ASSERT_TRUE(Window().Modified);
        Dialogs.Boxes.clear();
        Dialogs.BoxAnswers = c.Answers;
        Dialogs.FileAnswers = c.Files;
        const int requests = Module.RequestCount();
        Action("ReadConfigAction")->trigger();
        ASSERT_FALSE(Dialogs.Boxes.empty());
        EXPECT_EQ(Dialogs.Boxes[0].Text, "В конфигурацию внесены изменения. Сохранить их в файле ?");
        EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x23u);
        if (c.Reads) {
            EXPECT_EQ(WaitForBox(ReadText), 1);
            EXPECT_FALSE(Window().Modified);
        } else {
            EXPECT_FALSE(Window().RequestPending());
            EXPECT_EQ(Dialogs.Boxes.size(), 1u);
            EXPECT_TRUE(Window().Modified);
        }
        EXPECT_EQ(Module.RequestCount(), requests + (c.Reads ? 1 : 0));
    }
}

TEST_F(ModuleExchangeTest, WrittenAddressChangeMovesTheProgramToTheModulesNewPort)
{
    TModuleSimServer moved;
    ASSERT_TRUE(moved.Listen(QHostAddress::LocalHost, 0));
    const QByteArray fileBefore = FileBytes(SettingsPath);

    // Declined: nothing moves.
    Window().ConfigToControls(LoopbackConfig(moved.Port()));
    Dialogs.BoxAnswers = {ID::Ok, ID::No};
    Action("WriteConfigAction")->trigger();
    ASSERT_EQ(WaitForBox(ChangeQuestion(moved.Port())), 1);
    EXPECT_EQ(Dialogs.Boxes.back().Flags, 0x24u);
    EXPECT_EQ(Panel(1), QStringLiteral("127.0.0.1 : %1").arg(Module.Port()));

    // Accepted: the status bar and the master's target change at once, the file at close.
    Dialogs.BoxAnswers = {ID::Ok, ID::Yes};
    Action("WriteConfigAction")->trigger();
    ASSERT_EQ(WaitForBox(ChangeQuestion(moved.Port()), 2), 2);
    EXPECT_EQ(Panel(1), QStringLiteral("127.0.0.1 : %1").arg(moved.Port()));
    EXPECT_EQ(Window().Settings.TCPPort, moved.Port());
    EXPECT_EQ(FileBytes(SettingsPath), fileBefore);

    const int oldRequests = Module.RequestCount();
    moved.SetVersion(2, 7);
    WhenModalShown([](QWidget* info) { QTest::keyClick(info, Qt::Key_Escape); });
    Action("ReadInfoAction")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return moved.RequestCount() == 1 && NothingPending(); }));
    EXPECT_EQ(Module.RequestCount(), oldRequests);

    EXPECT_TRUE(CloseWindow());
    // The address and port it moved to; the rest as they were.
    const TSettings saved = LoadSettingsFile(SettingsPath.toStdString());
    EXPECT_EQ(saved.IPAddress, "127.0.0.1");
    EXPECT_EQ(saved.TCPPort, moved.Port());
}

TEST_F(ModuleExchangeTest, TheQuestionAfterAWriteJudgesWhatWasWrittenNotLaterEdits)
{
    Window().ConfigToControls(LoopbackConfig(Module.Port()));
    Action("WriteConfigAction")->trigger();
    // Before the reply arrives the record is collected again with another module address.
    TModuleConfig other = LoopbackConfig(Module.Port());
    other.Address = {10, 9, 8, 7};
    Window().ConfigToControls(other);
    ASSERT_TRUE(Window().ControlsToConfig());
    ASSERT_EQ(WaitForBox(WrittenText), 1);
    EXPECT_EQ(Dialogs.Boxes.size(), 1u);  // the module got the address we reach it at: no question
    EXPECT_EQ(Panel(1), QStringLiteral("127.0.0.1 : %1").arg(Module.Port()));
}

namespace {
// What the window shows of a pending request.
struct TBusyState {
    bool CommandsEnabled;
    bool BusyCursor;
    QString Panel;
};
}  // namespace

TEST_F(ModuleExchangeTest, APendingRequestShowsItselfAndHoldsTheCommandsUntilItsOutcomeIsTold)
{
    TScriptedServer silent([](const TScriptedRequest&) { return TScriptedAnswer{}; });
    ASSERT_TRUE(silent.Listen());
    PointSettingsAt(silent.Port());
    const char* commands[] = {"WriteConfigAction", "ReadConfigAction", "CompareConfigAction", "ReadInfoAction"};
    const auto state = [&] {
        bool enabled = true;
        for (const char* name : commands)
            enabled = enabled && Action(name)->isEnabled();
        const QCursor* cursor = QApplication::overrideCursor();
        return TBusyState{enabled, cursor && cursor->shape() == Qt::BusyCursor, Panel(2)};
    };
    std::optional<TBusyState> atTheMessage;
    DialogsTestHook::OnMessageBox = [&](const QString& text, const QString&, unsigned) {
        Dialogs.Boxes.push_back({text, {}, 0});
        atTheMessage = state();
        return ID::Ok;
    };

    // Three quick clicks: one request.
    for (int click = 0; click < 3; ++click)
        Action("ReadInfoAction")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !silent.Requests().empty(); }));
    const TBusyState pending = state();
    EXPECT_FALSE(pending.CommandsEnabled);
    EXPECT_TRUE(pending.BusyCursor);
    EXPECT_TRUE(pending.Panel.startsWith("Считывание информации… 0,")) << pending.Panel.toStdString();
    EXPECT_TRUE(pending.Panel.endsWith(" с")) << pending.Panel.toStdString();
    EXPECT_TRUE(WaitUntil([&] { return Panel(2) != pending.Panel; })) << "the time runs on";

    ASSERT_TRUE(WaitUntil([&] { return atTheMessage.has_value(); }));
    EXPECT_EQ(Dialogs.Boxes[0].Text, "Ошибка считывания информации (Нет ответа)");
    EXPECT_FALSE(atTheMessage->CommandsEnabled);
    EXPECT_FALSE(atTheMessage->BusyCursor);
    EXPECT_EQ(atTheMessage->Panel, "");
    const TBusyState after = state();
    EXPECT_TRUE(after.CommandsEnabled);
    EXPECT_FALSE(after.BusyCursor);
    EXPECT_EQ(after.Panel, "");
    EXPECT_EQ(Dialogs.Boxes.size(), 1u);
    // The three transmissions of the one request, nothing queued behind it.
    EXPECT_EQ(silent.Requests().size(), 3u);
}

TEST_F(ModuleExchangeTest, NewConnectionSettingsUnderAPendingRequestForgetItAndFreeTheCommands)
{
    TScriptedServer silent([](const TScriptedRequest&) { return TScriptedAnswer{}; });
    ASSERT_TRUE(silent.Listen());
    PointSettingsAt(silent.Port());
    Window().SetModified(false);
    Action("ReadConfigAction")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !silent.Requests().empty(); }));

    // As the settings dialog does when confirmed: the master stops and the request is dropped.
    Window().Settings.TCPPort = Module.Port();
    Window().ApplyConnectionSettings();
    EXPECT_TRUE(NothingPending());
    EXPECT_TRUE(Action("ReadInfoAction")->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(Panel(2), "");

    // The next request, which may get the dropped one's id, is taken for what it is.
    bool infoShown = false;
    WhenModalShown([&](QWidget* info) {
        infoShown = true;
        QTest::keyClick(info, Qt::Key_Escape);
    });
    Action("ReadInfoAction")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return infoShown && NothingPending() && !QApplication::activeModalWidget(); }));
    EXPECT_TRUE(Dialogs.Boxes.empty());
}

TEST_F(ModuleExchangeTest, ClosingUnderAPendingRequestReportsNothing)
{
    TScriptedServer silent([](const TScriptedRequest&) { return TScriptedAnswer{}; });
    ASSERT_TRUE(silent.Listen());
    PointSettingsAt(silent.Port());
    Action("ReadConfigAction")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !silent.Requests().empty(); }));
    EXPECT_TRUE(CloseWindow());
    EXPECT_TRUE(Dialogs.Boxes.empty());
}

TEST_F(ModuleExchangeTest, ACancelledCommandIsToldAsCancelledAndItsOutcomeNeverArrives)
{
    TScriptedServer silent([](const TScriptedRequest&) { return TScriptedAnswer{}; });
    ASSERT_TRUE(silent.Listen());
    // One transmission waited for a second: the untold outcome would come soon after the cancel.
    QFile settings(SettingsPath);
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly | QIODevice::Truncate));
    settings.write("<CONNECT><IPAddress>127.0.0.1</IPAddress><TCPPort>" + QByteArray::number(silent.Port()) +
                   "</TCPPort><Timeout>1000</Timeout><Repeats>1</Repeats></CONNECT>");
    settings.close();
    const QString cancelledWrite = QStringLiteral("Отменено. Модуль мог принять конфигурацию, а мог и не принять: "
                                                  "считайте её из модуля, чтобы проверить.");
    const struct {
        const char* What;
        const char* Command;
        bool ByKey;
        QString Told;
    } cases[] = {
        {"a write by the button", "WriteConfigAction", false, cancelledWrite},
        {"a read by Esc", "ReadInfoAction", true, QStringLiteral("Отменено")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        Window_.reset();
        Dialogs.Boxes.clear();
        const size_t sentBefore = silent.Requests().size();
        Window().ConfigToControls(LoopbackConfig(silent.Port()));
        Window().show();
        auto* cancel = Window().findChild<QToolButton*>("CancelButton");
        EXPECT_FALSE(cancel->isVisible());
        Action(c.Command)->trigger();
        ASSERT_TRUE(WaitUntil([&] { return silent.Requests().size() > sentBefore; }));

        // While it waits: no new settings under it, and a way out beside the busy sign.
        EXPECT_FALSE(Action("SettingsAction")->isEnabled());
        EXPECT_EQ(Action("SettingsAction")->toolTip(),
                  "Настройки\nНедоступно, пока модуль не ответил: Esc отменяет ожидание");
        EXPECT_TRUE(cancel->isVisible());
        EXPECT_EQ(cancel->text(), "Отменить");
        if (c.ByKey)
            QTest::keyClick(AddressEdit(1), Qt::Key_Escape);
        else
            QTest::mouseClick(cancel, Qt::LeftButton);

        ASSERT_EQ(Dialogs.Boxes.size(), 1u);
        EXPECT_EQ(Dialogs.Boxes[0].Text, c.Told);
        EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x40u);
        EXPECT_TRUE(NothingPending());
        EXPECT_EQ(Panel(2), "");
        EXPECT_FALSE(cancel->isVisible());
        EXPECT_TRUE(Action("SettingsAction")->isEnabled());
        EXPECT_EQ(Action("SettingsAction")->toolTip(), "Настройки");
        // The hints are the commands' own again, shortcut and all.
        auto* toolBar = Window().findChild<QToolBar*>("ToolBar1");
        EXPECT_EQ(toolBar->widgetForAction(Action("ReadConfigAction"))->toolTip(),
                  "Считать конфигурацию из модуля (Ctrl+R)");
        // Longer than the withdrawn request's time-out: nothing more is told of it.
        EXPECT_FALSE(WaitUntil([&] { return Dialogs.Boxes.size() > 1; }, std::chrono::milliseconds(1500)));
        EXPECT_EQ(silent.Requests().size(), sentBefore + 1);
    }
}

// Failures reach the operator with the operation's own prefix and the master's status text.
struct TFailureCase {
    const char* What;
    const char* Action;
    bool Silent;  // otherwise an exception reply with code 2
    const char* Message;
    int Transmissions;
};

class ModuleFailureTest : public MainWindowFixture, public ::testing::WithParamInterface<TFailureCase> {};

TEST_P(ModuleFailureTest, ReportsThePrefixAndTheStatus)
{
    const TFailureCase& c = GetParam();
    TScriptedServer server([&c](const TScriptedRequest& request) {
        return c.Silent ? TScriptedAnswer{} : TScriptedAnswer{ExceptionReply(request, 2)};
    });
    ASSERT_TRUE(server.Listen());
    PointSettingsAt(server.Port());

    Window().ConfigToControls(LoopbackConfig(server.Port()));
    Window().SetModified(false);
    Action(c.Action)->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !Dialogs.Boxes.empty(); }, std::chrono::seconds(10)));
    EXPECT_EQ(Dialogs.Boxes[0].Text, QString::fromUtf8(c.Message));
    EXPECT_EQ(Dialogs.Boxes[0].Caption, "KorvelService");
    EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x10u);  // a failure has the error icon, never the information one
    EXPECT_EQ(int(server.Requests().size()), c.Transmissions);
    EXPECT_FALSE(Window().RequestPending());
    EXPECT_EQ(AddressEdit(1)->text(), "127.0.0.1");  // nothing refilled
}

INSTANTIATE_TEST_SUITE_P(Statuses, ModuleFailureTest,
                         ::testing::Values(TFailureCase{"silent_read", "ReadConfigAction", true,
                                                        "Ошибка считывания конфигурации (Нет ответа)", 3},
                                           TFailureCase{"exception_read", "ReadConfigAction", false,
                                                        "Ошибка считывания конфигурации (Исключение (код: 2))", 1},
                                           TFailureCase{"exception_write", "WriteConfigAction", false,
                                                        "Ошибка загрузки конфигурации (Исключение (код: 2))", 1},
                                           TFailureCase{"exception_info", "ReadInfoAction", false,
                                                        "Ошибка считывания информации (Исключение (код: 2))", 1}),
                         ParamNameFromWhat<TFailureCase>);

TEST_F(ModuleExchangeTest, InformationWindowShowsTheBlock)
{
    Module.SetRegister(78, 0x0103);
    Module.SetRegister(79, 0x3412);
    Module.SetRegister(80, 0x7856);
    Module.SetRegister(81, 0xBC9A);
    Module.SetRegister(83, 0x0001);
    Window().show();
    QString version, mac, jumper, helpPage;
    QColor jumperColour;
    WhenModalShown([&](QWidget* info) {
        version = info->findChild<QLineEdit*>("Edit1")->text();
        mac = info->findChild<QLineEdit*>("Edit2")->text();
        auto* label = info->findChild<QLabel*>("Label4");
        jumper = label->text();
        jumperColour = label->palette().color(QPalette::WindowText);
        QTest::keyClick(info, Qt::Key_F1);
        helpPage = ShownHelpPage();
        QTest::keyClick(info, Qt::Key_Escape);
    });
    Action("ReadInfoAction")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !jumper.isEmpty() && NothingPending() && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(version, "1.3");
    EXPECT_EQ(mac, "12-34-56-78-9A-BC");
    EXPECT_EQ(jumper, "Установлена");
    EXPECT_EQ(jumperColour, QColor(Qt::red));
    EXPECT_EQ(helpPage, HelpFolder + "KorvelService_Info.htm");
    EXPECT_TRUE(Dialogs.Boxes.empty());
}

TEST_F(ModuleExchangeTest, AboutShowsTheProgramVersionAndIcon)
{
    Window().show();
    QString version;
    bool iconShown = false;
    WhenModalShown([&](QWidget* about) {
        version = about->findChild<QLabel*>("Label3")->text();
        iconShown = !about->findChild<QLabel*>("Image1")->pixmap().isNull();
        QTest::keyClick(about, Qt::Key_Escape);
    });
    Action("ShowAboutAction")->trigger();
    EXPECT_EQ(version, "Версия: 1.0");
    EXPECT_TRUE(iconShown);
}

TEST_F(ModuleExchangeTest, OnlyTheLaterOfTwoReadsRefillsAndReports)
{
    SetModuleRecord(LoopbackConfig(Module.Port()));
    Window().ReadConfigFromModule();
    Window().ReadConfigFromModule();
    ASSERT_TRUE(WaitUntil([&] { return Module.RequestCount() == 2 && NothingPending(); }));
    EXPECT_EQ(WaitForBox(ReadText), 1);
    EXPECT_EQ(Dialogs.Boxes.size(), 1u);
    EXPECT_EQ(AddressEdit(1)->text(), "127.0.0.1");
}

TEST_F(ModuleExchangeTest, ARefusedRequestIsToldToTheOperator)
{
    // Fill the master's order table while it is stopped, so that nothing is sent.
    TModbusTCPMaster& master = Window().Client->Master();
    for (int i = 0; i < TModbusMaster::OrderSlots; ++i)
        ASSERT_EQ(master.ReadHoldingRegisters(ModuleUnitId, InfoFirstRegister, 1, OrderOneShot), i);
    Action("ReadInfoAction")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !Dialogs.Boxes.empty(); }));
    EXPECT_EQ(Dialogs.Boxes[0].Text, "Ошибка считывания информации (запрос не поставлен в очередь, код -2)");
    EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x10u);
    EXPECT_TRUE(Action("ReadInfoAction")->isEnabled());
}

// --- verification after a write ------------------------------------------------------------------

const QString NotKeptText = QStringLiteral("Модуль подтвердил запись, но хранит другую конфигурацию:");

// The image register of a record's byte offset.
int RegisterAt(size_t offset)
{
    return ConfigFirstRegister + int(offset / 2);
}

TEST_F(ModuleExchangeTest, AWriteIsReportedOnlyOnceTheReadBackAgrees)
{
    std::vector<int> functions;
    QObject::connect(&Module, &TModuleSimServer::RequestServed,
                     [&](int function, int, int) { functions.push_back(function); });
    Window().ConfigToControls(LoopbackConfig(Module.Port()));
    Action("WriteConfigAction")->trigger();
    ASSERT_EQ(WaitForBox(WrittenText), 1);
    EXPECT_EQ(Dialogs.Boxes.size(), 1u);
    EXPECT_EQ(functions, (std::vector<int>{16, 3}));  // the write, then the read-back
    EXPECT_TRUE(NothingPending());
}

TEST_F(ModuleExchangeTest, AModuleThatKeepsSomethingElseIsReportedFieldByField)
{
    const TModuleConfig written = LoopbackConfig(Module.Port());
    TModuleConfig sent = written;
    SetConfigCRC(sent);
    const QString crc = QStringLiteral("%1").arg(sent.CRC, 4, 16, QLatin1Char('0')).toUpper();
    const struct {
        const char* What;
        size_t Offset;  // the register the module alters after storing the write
        uint16_t Held;
        QStringList Lines;
    } cases[] = {
        {"a field",
         offsetof(TModuleConfig, Channels) + sizeof(TChannelConfig) + offsetof(TChannelConfig, BaudIndex),
         4,
         {QStringLiteral("RS-485 Канал 2, Скорость: ") + BaudRates[12] + " → " + BaudRates[4]}},
        {"reserved bytes",
         offsetof(TModuleConfig, Reserved2),
         0x5A5A,
         {"Резерв, байты 86..109: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 → "
          "5A 5A 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"}},
        {"the checksum", offsetof(TModuleConfig, CRC), 0x1234, {"Контрольная сумма: " + crc + " → 1234"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const auto alter = QObject::connect(&Module, &TModuleSimServer::RequestServed, [&](int function, int, int) {
            if (function == 16)
                Module.SetRegister(RegisterAt(c.Offset), c.Held);
        });
        Dialogs.Boxes.clear();
        Window().ConfigToControls(written);
        Action("WriteConfigAction")->trigger();
        ASSERT_TRUE(WaitUntil([&] { return !Dialogs.Boxes.empty() && NothingPending(); }));
        QObject::disconnect(alter);
        ASSERT_EQ(Dialogs.Boxes.size(), 1u);  // no success, and no address question
        EXPECT_EQ(Dialogs.Boxes[0].Text, (QStringList{NotKeptText} + c.Lines).join('\n'));
        EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x30u);
    }
}

TEST_F(ModuleExchangeTest, AWriteTakenWhoseReadBackFailedIsToldAsWrittenButNotVerified)
{
    // The module took the write, so a changed address is still offered to follow.
    const struct {
        quint16 PortShift;
        size_t Boxes;
    } cases[] = {{0, 1}, {1, 2}};
    for (const auto& c : cases) {
        TScriptedServer server([](const TScriptedRequest& request) {
            if (request.FunctionCode() == 16) {
                QByteArray pdu = request.Frame.mid(7, 5);  // function, first register, count
                return TScriptedAnswer{MbapFrame(request.TransactionId(), request.UnitId(), pdu)};
            }
            return TScriptedAnswer{ExceptionReply(request, 4)};
        });
        ASSERT_TRUE(server.Listen());
        Window().Settings.IPAddress = "127.0.0.1";
        Window().Settings.TCPPort = server.Port();
        Window().ApplyConnectionSettings();
        Dialogs.Boxes.clear();
        Dialogs.BoxAnswers = {ID::Ok, ID::No};
        Window().ConfigToControls(LoopbackConfig(quint16(server.Port() + c.PortShift)));
        Action("WriteConfigAction")->trigger();
        ASSERT_TRUE(WaitUntil([&] { return Dialogs.Boxes.size() == c.Boxes; }));
        EXPECT_EQ(Dialogs.Boxes[0].Text, "Конфигурация записана, но не проверена (Исключение (код: 4))");
        EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x30u);
        if (c.Boxes > 1) {
            EXPECT_EQ(Dialogs.Boxes[1].Text, ChangeQuestion(quint16(server.Port() + c.PortShift)));
        }
        EXPECT_EQ(server.Requests().size(), 2u);
        EXPECT_TRUE(Action("WriteConfigAction")->isEnabled());
    }
}

// The module holds what it read back: a write it acknowledged but keeps otherwise still moved it, and
// following its new address is offered.
TEST_F(ModuleExchangeTest, AWriteKeptOtherwiseStillOffersTheModulesNewAddress)
{
    const quint16 newPort = quint16(Module.Port() + 1);
    const auto alter = QObject::connect(&Module, &TModuleSimServer::RequestServed, [&](int function, int, int) {
        if (function == 16)
            Module.SetRegister(RegisterAt(offsetof(TModuleConfig, Channels) + offsetof(TChannelConfig, BaudIndex)), 5);
    });
    Dialogs.BoxAnswers = {ID::Ok, ID::No};
    Window().ConfigToControls(LoopbackConfig(newPort));
    Action("WriteConfigAction")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return Dialogs.Boxes.size() == 2u; }));
    QObject::disconnect(alter);
    EXPECT_TRUE(Dialogs.Boxes[0].Text.startsWith(NotKeptText)) << Dialogs.Boxes[0].Text.toStdString();
    EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x30u);
    EXPECT_EQ(Dialogs.Boxes[1].Text, ChangeQuestion(newPort));
}

// Esc once the module has acknowledged the write withdraws only its check: told as written, with the
// module's new address offered, not as a write that may or may not have been taken.
TEST_F(ModuleExchangeTest, EscDuringTheReadBackOfAnAcknowledgedWriteSaysItWasWritten)
{
    const struct {
        quint16 PortShift;
        size_t Boxes;
    } cases[] = {{0, 1}, {1, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.PortShift);
        TScriptedServer server([](const TScriptedRequest& request) {
            if (request.FunctionCode() != 16)
                return TScriptedAnswer{};  // the read-back waits
            return TScriptedAnswer{MbapFrame(request.TransactionId(), request.UnitId(), request.Frame.mid(7, 5))};
        });
        ASSERT_TRUE(server.Listen());
        Window_.reset();
        Window().Settings.IPAddress = "127.0.0.1";
        Window().Settings.TCPPort = server.Port();
        Window().ApplyConnectionSettings();
        Window().show();
        Dialogs.Boxes.clear();
        Dialogs.BoxAnswers = {ID::Ok, ID::No};
        Window().ConfigToControls(LoopbackConfig(quint16(server.Port() + c.PortShift)));
        Action("WriteConfigAction")->trigger();
        ASSERT_TRUE(WaitUntil([&] { return Panel(2).startsWith("Проверка конфигурации"); }));
        QTest::keyClick(AddressEdit(1), Qt::Key_Escape);
        ASSERT_EQ(Dialogs.Boxes.size(), c.Boxes);
        EXPECT_EQ(Dialogs.Boxes[0].Text, "Конфигурация записана, отменена только её проверка: "
                                         "считайте её из модуля, чтобы проверить.");
        EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x30u);
        if (c.Boxes > 1) {
            EXPECT_EQ(Dialogs.Boxes[1].Text, ChangeQuestion(quint16(server.Port() + c.PortShift)));
        }
        EXPECT_TRUE(NothingPending());
        EXPECT_TRUE(Action("WriteConfigAction")->isEnabled());
    }
}

// The busy hint a command put in the status bar while the pointer rested on it goes with the wait:
// it hid the window's own panels ("Изменен", the module's address) until a menu was opened.
TEST_F(ModuleExchangeTest, TheBusyHintLeavesTheStatusBarWhenTheCommandEnds)
{
    Window().show();
    Window().SetModified(true);
    Action("ReadConfigAction")->trigger();
    ASSERT_TRUE(Window().RequestPending());
    QStatusTipEvent hint(Action("ReadConfigAction")->statusTip());
    QApplication::sendEvent(&Window(), &hint);
    EXPECT_EQ(Window().statusBar()->currentMessage(), "Недоступно, пока модуль не ответил: Esc отменяет ожидание");
    ASSERT_TRUE(WaitUntil([&] { return NothingPending(); }));
    EXPECT_EQ(Window().statusBar()->currentMessage(), "");
    EXPECT_TRUE(Window().findChild<QLabel*>("StatusPanel1")->isVisible());
}

TEST_F(ModuleExchangeTest, VerificationTurnedOffInTheSettingsDialogReportsOnTheAcknowledgement)
{
    Window().show();
    WhenModalShown([](QWidget* dialog) {
        auto* verify = dialog->findChild<QCheckBox*>("CheckBox1");
        EXPECT_EQ(verify->text(), "Проверять запись &чтением");
        EXPECT_TRUE(verify->isChecked());
        verify->setChecked(false);
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    Action("SettingsAction")->trigger();
    EXPECT_FALSE(Window().Settings.VerifyWrite);

    Window().ConfigToControls(LoopbackConfig(Module.Port()));
    Action("WriteConfigAction")->trigger();
    ASSERT_EQ(WaitForBox(WrittenText), 1);
    EXPECT_EQ(Module.RequestCount(), 1);
}

// --- comparison with the module ------------------------------------------------------------------

struct TShownComparison {
    QStringList Rows;  // "label | window | module", differing rows marked with "*"
    QStringList AllRows;
};

QStringList TableRows(const QTableWidget& table)
{
    QStringList rows;
    for (int row = 0; row < table.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < table.columnCount(); ++column)
            if (const QTableWidgetItem* item = table.item(row, column))
                cells << item->text();
        const QTableWidgetItem* first = table.item(row, 0);
        const bool marked = first && first->background().style() != Qt::NoBrush;
        rows << (marked ? "* " : "") + cells.join(" | ");
    }
    return rows;
}

TEST_F(ModuleExchangeTest, ComparisonListsTheDifferingFieldsAndOnRequestAllOfThem)
{
    TModuleConfig module = LoopbackConfig(Module.Port());
    module.Channels[0].Timeout = 900;
    module.NetMask = {255, 255, 0, 0};
    SetModuleRecord(module);
    Window().ConfigToControls(LoopbackConfig(Module.Port()));
    Window().show();
    TShownComparison shown;
    QString title, helpPage;
    WhenModalShown([&](QWidget* window) {
        title = window->windowTitle();
        auto* table = window->findChild<QTableWidget*>("TableWidget1");
        auto* filter = window->findChild<QCheckBox*>("CheckBox1");
        EXPECT_EQ(filter->text(), "только &различия");
        shown.Rows = TableRows(*table);
        filter->click();
        shown.AllRows = TableRows(*table);
        QTest::keyClick(window, Qt::Key_F1);
        helpPage = ShownHelpPage();
        window->findChild<QPushButton*>("Button2")->click();
    });
    Action("CompareConfigAction")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !title.isEmpty() && NothingPending() && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(title, "Сравнение с модулем");
    EXPECT_EQ(shown.Rows,
              QStringList({"* TCP/IP, Маска | 255.0.0.0 | 255.255.0.0", "* RS-485 Канал 1, Таймаут | 250 | 900"}));
    ASSERT_EQ(shown.AllRows.size(), 28);
    EXPECT_EQ(shown.AllRows[0], "TCP/IP, IP адрес | 127.0.0.1 | 127.0.0.1");
    EXPECT_EQ(shown.AllRows[2], shown.Rows[0]);
    EXPECT_EQ(helpPage, HelpFolder + "KorvelService_Conent.htm");
    EXPECT_TRUE(Dialogs.Boxes.empty());
    EXPECT_EQ(Module.RequestCount(), 1);  // "Закрыть" writes nothing
}

TEST_F(ModuleExchangeTest, ComparisonOfEqualConfigurationsSaysSoInOneLine)
{
    SetModuleRecord(LoopbackConfig(Module.Port()));
    Window().ConfigToControls(LoopbackConfig(Module.Port()));
    QStringList rows;
    WhenModalShown([&](QWidget* window) {
        rows = TableRows(*window->findChild<QTableWidget*>("TableWidget1"));
        QTest::keyClick(window, Qt::Key_Escape);
    });
    Action("CompareConfigAction")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !rows.isEmpty() && NothingPending(); }));
    EXPECT_EQ(rows, QStringList{"Конфигурация в окне и в модуле совпадают"});
}

TEST_F(ModuleExchangeTest, ComparisonWritesTheWindowsConfigurationWithVerification)
{
    TModuleConfig module = LoopbackConfig(Module.Port());
    module.Channels[1].TCPPort1 = 7000;
    SetModuleRecord(module);
    const TModuleConfig window = LoopbackConfig(Module.Port());
    Window().ConfigToControls(window);
    std::vector<int> functions;
    QObject::connect(&Module, &TModuleSimServer::RequestServed,
                     [&](int function, int, int) { functions.push_back(function); });
    WhenModalShown([](QWidget* compare) { compare->findChild<QPushButton*>("Button1")->click(); });
    Action("CompareConfigAction")->trigger();
    ASSERT_EQ(WaitForBox(WrittenText), 1);
    EXPECT_EQ(functions, (std::vector<int>{3, 16, 3}));
    EXPECT_EQ(ModuleRecord().Channels[1].TCPPort1, window.Channels[1].TCPPort1);
}

TEST_F(ModuleExchangeTest, ComparisonRefusesABadValueBeforeAskingTheModule)
{
    Window().ConfigToControls(LoopbackConfig(Module.Port()));
    AddressEdit(2)->setText("300.001.001.001");
    Action("CompareConfigAction")->trigger();
    ASSERT_EQ(Dialogs.Boxes.size(), 1u);
    EXPECT_EQ(Dialogs.Boxes[0].Text, "Недопустимое значение основного шлюза !300.001.001.001");
    EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x10u);
    EXPECT_FALSE(Window().RequestPending());
    EXPECT_EQ(Module.RequestCount(), 0);
}
