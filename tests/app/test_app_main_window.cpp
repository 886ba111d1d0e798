// The main window as the operator meets it: start-up, editing, the file commands, validation,
// closing, help keys and the settings file.

#include "AppTestSupport.h"

#include "BusySign.h"
#include "ConfigComparison.h"
#include "ConfigFile.h"
#include "ConnectionSettings.h"
#include "ExchangeRecord.h"
#include "ExchangeRecorder.h"
#include "ExchangeTrace.h"
#include "FieldControls.h"
#include "IPAddressText.h"
#include "ModbusMaster.h"
#include "ModuleRegisters.h"
#include "Monitor_Win.h"
#include "Settings_Win.h"
#include "RecoveryFile.h"
#include "TerminationSignals.h"
#include "Wait.h"

#include <QDialog>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>
#include <QTranslator>

#include <QComboBox>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

#include <csignal>
#include <functional>
#include <map>

namespace {

const QString BlankAddress = QStringLiteral("   .   .   .   ");

// Claims every key with a modifier for the control's own editing, as a line edit does under X11's
// key bindings with Ctrl+U (delete the line), and counts the presses of such letters that reach it.
class TClaimingEditKeys : public QObject {
public:
    int Presses = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        const bool withModifier = (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) &&
                                  static_cast<QKeyEvent*>(event)->modifiers() != Qt::NoModifier;
        if (!withModifier)
            return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (event->type() == QEvent::KeyPress && key >= Qt::Key_A && key <= Qt::Key_Z)
            ++Presses;
        event->accept();
        return true;
    }
};

}  // namespace

using MainWindowStartTest = MainWindowFixture;

TEST_F(MainWindowStartTest, ShowsNoFileBlankAddressesAndTheDefaultConnection)
{
    TMainWindow& window = Window();
    EXPECT_EQ(window.windowTitle(), "KorvelService");
    EXPECT_EQ(window.size(), QSize(676, 533));
    EXPECT_EQ(window.font().family(), "Arial Narrow");
    EXPECT_EQ(window.font().pixelSize(), 15);
    EXPECT_EQ(Panel(0), "");
    EXPECT_EQ(Panel(1), "192.168.127.10 : 502");
    EXPECT_EQ(Panel(2), "");
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(AddressEdit(i)->Text(), BlankAddress) << "MaskEdit" << i;
    EXPECT_EQ(PortEdit()->Text(), "1");
    EXPECT_FALSE(window.Modified);
    EXPECT_TRUE(window.FileName.isEmpty());
    EXPECT_TRUE(SameRecord(window.Config, TModuleConfig{}));
    EXPECT_EQ(window.Client->Master().GetParametersText(),
              "IPAddress=192.168.127.10\r\nTCPPort=502\r\nTimeout=50\r\nRepeatCount=2\r\n");
    EXPECT_FALSE(window.Client->Master().IsRunning());  // no connection at start
}

TEST_F(MainWindowStartTest, FramesStartWithTheirOwnValuesOnTheirPages)
{
    const char* pages[] = {"TabSheet4", "TabSheet5"};
    const char* names[] = {"RS485SettingsFrame1", "RS485SettingsFrame2"};
    for (int i = 0; i < 2; ++i) {
        TRS485SettingsFrame* frame = Frame(i);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->objectName(), names[i]);
        EXPECT_EQ(frame->parentWidget()->objectName(), pages[i]);
        EXPECT_EQ(frame->findChild<QComboBox*>("ComboBox1")->currentText(), "600");
        EXPECT_EQ(frame->findChild<QComboBox*>("ComboBox4")->currentText(), "Ведущий");
        EXPECT_EQ(frame->findChild<TMaskEdit*>("MaskEdit1")->text(), "192.168.127.1");
        EXPECT_EQ(frame->findChild<TMaskEdit*>("MaskEdit2")->text(), "192.168.127.2");
        EXPECT_EQ(frame->findChild<TSpinEdit*>("SpinEdit1")->Value(), 100);
        EXPECT_EQ(frame->findChild<TSpinEdit*>("SpinEdit4")->Value(), 502);
    }
}

TEST_F(MainWindowStartTest, ToolbarButtonsShowTheirOwnHintsAndPictures)
{
    // Toolbar, left to right, with the hint each button shows.
    auto* toolBar = Window().findChild<QToolBar*>("ToolBar1");
    const std::pair<const char*, const char*> buttons[] = {
        {"FileOpenAction", "Открыть файл конфигурации... (Ctrl+O)"},
        {"SaveFileAction", "Сохранить файл конфигурации (Ctrl+S)"},
        {"ReadConfigAction", "Считать конфигурацию из модуля (Ctrl+R)"},
        {"WriteConfigAction", "Загрузить конфигурацию в модуль (Ctrl+U)"},
        {"CompareConfigAction", "Сравнить с модулем (Ctrl+D)"},
        {"ReadInfoAction", "Информация о модуле (Ctrl+I)"},
        {"ShowLinesAction", "Устройства на линии (Ctrl+L)"},
        {"HelpContentAction", "Помощь (F1)"},
    };
    QStringList order;
    for (QAction* action : toolBar->actions())
        if (!action->objectName().isEmpty())
            order << action->objectName();
    QStringList expectedOrder;
    for (const auto& [name, hint] : buttons) {
        expectedOrder << name;
        QWidget* button = toolBar->widgetForAction(Action(name));
        EXPECT_EQ(button->toolTip(), QString::fromUtf8(hint)) << name;
        EXPECT_EQ(button->size(), QSize(40, 40)) << name;
        EXPECT_FALSE(Action(name)->icon().isNull()) << name;
    }
    EXPECT_EQ(order, expectedOrder);
}

TEST_F(MainWindowStartTest, MenusHaveMnemonicsAndShortcuts)
{
    // Menu bar: the three menus and the top-level settings command, each with its Alt letter.
    QStringList menus;
    for (QAction* action : Window().menuBar()->actions())
        menus << action->text();
    EXPECT_EQ(menus, QStringList({"&Файл", "&Модуль", "&Настройки", "&Помощь"}));

    const struct {
        const char* Menu;
        QStringList Items;  // text, then the shortcut after a tab
    } expected[] = {
        {"FileMenu",
         {"Со&здать\tCtrl+N", "&Открыть...\tCtrl+O", "&Последние файлы", "&Сохранить\tCtrl+S",
          "Сохранить &как...\tCtrl+Shift+S", "", "О&тчёт...\tCtrl+P", "", "&Выход...\tCtrl+Q"}},
        {"ModuleMenu",
         {"&Загрузить конфигурацию в модуль\tCtrl+U", "&Считать конфигурацию\tCtrl+R", "С&равнить с модулем\tCtrl+D",
          "", "&Информация о модуле\tCtrl+I", "&Монитор обмена\tCtrl+M", "&Устройства на линии\tCtrl+L"}},
        {"HelpMenu", {"&Содержание\tF1", "", "&О программе"}},
    };
    for (const auto& menu : expected) {
        QStringList items;
        for (QAction* action : Window().findChild<QMenu*>(menu.Menu)->actions())
            items << (action->shortcut().isEmpty() ? action->text()
                                                   : action->text() + '\t' + action->shortcut().toString());
        EXPECT_EQ(items, menu.Items) << menu.Menu;
    }
}

TEST_F(MainWindowStartTest, ShortcutsTypedIntoAnEditRunTheirCommandAndInsertNothing)
{
    Window().ConfigToControls(TModuleConfig{});
    Window().show();
    QApplication::setActiveWindow(&Window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
    const std::pair<const char*, QKeySequence> shortcuts[] = {
        {"FileNewAction", QKeySequence("Ctrl+N")},     {"FileOpenAction", QKeySequence("Ctrl+O")},
        {"SaveFileAction", QKeySequence("Ctrl+S")},    {"SaveAsFileAction", QKeySequence("Ctrl+Shift+S")},
        {"ExitAction", QKeySequence("Ctrl+Q")},        {"ReadConfigAction", QKeySequence("Ctrl+R")},
        {"WriteConfigAction", QKeySequence("Ctrl+U")}, {"CompareConfigAction", QKeySequence("Ctrl+D")},
        {"ReadInfoAction", QKeySequence("Ctrl+I")},    {"ShowMonitorAction", QKeySequence("Ctrl+M")},
    };
    QWidget* edits[] = {AddressEdit(1), PortEdit()->findChild<QLineEdit*>()};
    TClaimingEditKeys claiming;
    for (const auto& [name, keys] : shortcuts) {
        // Only the binding is under test here: the commands themselves are tested elsewhere.
        QObject::disconnect(Action(name), &QAction::triggered, nullptr, nullptr);
        QSignalSpy triggered(Action(name), &QAction::triggered);
        // The window's commands come first, also where the platform gives the key to the edit.
        for (bool claimed : {false, true}) {
            for (QWidget* edit : edits) {
                if (claimed)
                    edit->installEventFilter(&claiming);
                edit->setFocus();
                const QString before = qobject_cast<QLineEdit*>(edit)->text();
                QTest::keySequence(edit, keys);
                EXPECT_EQ(qobject_cast<QLineEdit*>(edit)->text(), before)
                    << name << " " << edit->objectName().toStdString();
                edit->removeEventFilter(&claiming);
            }
        }
        EXPECT_EQ(triggered.count(), 4) << name;
    }
}

// While a module command is unavailable (a request pending) its key does nothing: under X11 the edit
// would otherwise take Ctrl+U and delete the address the operator typed.
TEST_F(MainWindowStartTest, TheKeyOfAnUnavailableCommandDoesNotReachTheEdit)
{
    Window().show();
    QApplication::setActiveWindow(&Window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
    TClaimingEditKeys claiming;
    AddressEdit(1)->installEventFilter(&claiming);
    AddressEdit(1)->setFocus();
    for (const char* name : {"WriteConfigAction", "ReadConfigAction", "CompareConfigAction", "ReadInfoAction"}) {
        Action(name)->setEnabled(false);
        QTest::keySequence(AddressEdit(1), Action(name)->shortcut());
        EXPECT_EQ(claiming.Presses, 0) << name;
    }
}

TEST_F(MainWindowStartTest, FirmwarePageIsDisabledWithItsControlsHiddenAndChoosesAHexFile)
{
    auto* pages = Window().findChild<QTabWidget*>("PageControl1");
    EXPECT_EQ(pages->currentWidget()->objectName(), "TabSheet1");
    EXPECT_EQ(Window().findChild<QTabWidget*>("PageControl2")->currentWidget()->objectName(), "TabSheet3");
    EXPECT_FALSE(pages->isTabEnabled(1));
    EXPECT_EQ(pages->tabText(1), "Обновление программного обеспечения");
    QWidget* firmware = pages->widget(1);
    for (const char* name : {"Label5", "Edit1", "Button1", "Button2", "GroupBox2"})
        EXPECT_TRUE(firmware->findChild<QWidget*>(name)->isHidden()) << name;
    EXPECT_EQ(firmware->findChild<QProgressBar*>("ProgressBar1")->value(), 0);

    Dialogs.FileAnswers = {Path("firmware.hex")};
    Window().Button1Click();
    ASSERT_EQ(Dialogs.FileDialogs.size(), 1u);
    EXPECT_EQ(Dialogs.FileDialogs[0].Filter, "Hex - файлы (*.hex)|*.hex");
    EXPECT_EQ(Dialogs.FileDialogs[0].DefaultExt, "hex");
    EXPECT_EQ(firmware->findChild<QLineEdit*>("Edit1")->text(), Path("firmware.hex"));
}

TEST_F(MainWindowStartTest, F1OpensTheHelpPageOfTheShownPage)
{
    auto* outer = Window().findChild<QTabWidget*>("PageControl1");
    auto* inner = Window().findChild<QTabWidget*>("PageControl2");
    const struct {
        int Outer;
        int Inner;
        Qt::KeyboardModifiers Modifiers;
        const char* Topic;  // nullptr: nothing opens
    } cases[] = {
        {0, 0, Qt::NoModifier, "KorvelService_TCP_IP.htm"},
        {0, 1, Qt::ShiftModifier, "KorvelService_RS485.htm"},
        {0, 2, Qt::ControlModifier | Qt::AltModifier, "KorvelService_RS485.htm"},
        {1, 0, Qt::NoModifier, nullptr},
    };
    const auto closeHelp = [] {
        if (THelpWindow* help = ShownHelpWindow())
            help->close();
    };
    for (const auto& c : cases) {
        outer->setCurrentIndex(c.Outer);
        inner->setCurrentIndex(c.Inner);
        closeHelp();
        QTest::keyClick(&Window(), Qt::Key_F1, c.Modifiers);
        EXPECT_EQ(ShownHelpPage(), c.Topic ? HelpFolder + c.Topic : QString()) << c.Outer << c.Inner;
    }

    // Focus in a control: the window still sees the key.
    outer->setCurrentIndex(0);
    inner->setCurrentIndex(0);
    closeHelp();
    QTest::keyClick(AddressEdit(1), Qt::Key_F1);
    EXPECT_EQ(ShownHelpPage(), HelpFolder + "KorvelService_TCP_IP.htm");

    // The open help window turns to the contents, keeping the way back.
    Action("HelpContentAction")->trigger();
    EXPECT_EQ(ShownHelpPage(), HelpFolder + "KorvelService_Conent.htm");
    ShownHelpWindow()->TextBrowser1->backward();
    EXPECT_EQ(ShownHelpPage(), HelpFolder + "KorvelService_TCP_IP.htm");
}

// --- editing and files ---------------------------------------------------------------------------

using MainWindowEditTest = MainWindowFixture;

TEST_F(MainWindowEditTest, EveryEditShowsModified)
{
    const std::vector<std::pair<const char*, std::function<void()>>> edits = {
        {"IP address", [&] { QTest::keyClicks(AddressEdit(1), "1"); }},
        {"gateway", [&] { QTest::keyClicks(AddressEdit(2), "1"); }},
        {"mask", [&] { QTest::keyClicks(AddressEdit(3), "2"); }},
        {"port", [&] { PortEdit()->SetValue(502); }},
        {"channel 1 list", [&] { QTest::keyClick(Frame(0)->findChild<QComboBox*>("ComboBox2"), Qt::Key_Down); }},
        {"channel 2 address", [&] { Frame(1)->findChild<TMaskEdit*>("MaskEdit1")->setText("10.0.0.1"); }},
    };
    for (const auto& [what, edit] : edits) {
        Window().SetModified(false);
        edit();
        EXPECT_TRUE(Window().Modified) << what;
        EXPECT_EQ(Panel(0), "Изменен") << what;
    }
}

TEST_F(MainWindowEditTest, TabIntoAnAddressAndTypingReplacesIt)
{
    Window().ConfigToControls(SampleConfig());
    Window().show();
    QApplication::setActiveWindow(&Window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
    AddressEdit(1)->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(AddressEdit(1), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), AddressEdit(2));
    QTest::keyClicks(AddressEdit(2), "10.1.1.1");
    QTest::keyClick(AddressEdit(2), Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_EQ(QApplication::focusWidget(), AddressEdit(1));
    QTest::keyClicks(AddressEdit(1), "10.1.1.2");

    ASSERT_TRUE(Window().ControlsToConfig());
    EXPECT_EQ(Window().Config.Gateway, (TIPAddress{10, 1, 1, 1}));
    EXPECT_EQ(Window().Config.Address, (TIPAddress{10, 1, 1, 2}));
}

TEST_F(MainWindowEditTest, SaveAsWritesWhatTheFileWriterWritesAndNamesTheFile)
{
    Window().ConfigToControls(SampleConfig());
    const QString name = Path("sample.ini");
    Dialogs.FileAnswers = {name};
    Action("SaveAsFileAction")->trigger();

    ASSERT_EQ(Dialogs.FileDialogs.size(), 1u);
    EXPECT_EQ(Dialogs.FileDialogs[0].Kind, TFileDialog::TKind::Save);
    EXPECT_EQ(Dialogs.FileDialogs[0].Filter, "Ini-файлы (*.ini)|*.ini");
    EXPECT_EQ(Dialogs.FileDialogs[0].DefaultExt, "ini");
    EXPECT_TRUE(Dialogs.Boxes.empty());
    EXPECT_EQ(Window().windowTitle(), "KorvelService [" + name + "]");
    EXPECT_FALSE(Window().Modified);
    EXPECT_EQ(Panel(0), "");
    EXPECT_TRUE(SameRecord(Window().Config, SampleConfig()));

    const QString reference = Path("reference.ini");
    SaveConfigToFile(reference.toStdString(), SampleConfig());
    EXPECT_EQ(FileBytes(name), FileBytes(reference));
}

TEST_F(MainWindowEditTest, SaveUsesTheCurrentFileAndAsksOnlyWithoutOne)
{
    Window().ConfigToControls(SampleConfig());
    Action("SaveFileAction")->trigger();  // no file yet: the dialog, cancelled
    EXPECT_EQ(Dialogs.FileDialogs.size(), 1u);
    EXPECT_TRUE(Window().Modified);
    EXPECT_EQ(Window().windowTitle(), "KorvelService");

    const QString name = Path("first.ini");
    Dialogs.FileAnswers = {name};
    Action("SaveFileAction")->trigger();
    EXPECT_EQ(Dialogs.FileDialogs.size(), 2u);
    EXPECT_EQ(Window().windowTitle(), "KorvelService [" + name + "]");
    EXPECT_FALSE(Window().Modified);

    PortEdit()->SetValue(777);
    EXPECT_TRUE(Window().Modified);
    Action("SaveFileAction")->trigger();
    EXPECT_EQ(Dialogs.FileDialogs.size(), 2u);  // no dialog this time
    EXPECT_FALSE(Window().Modified);
    TModuleConfig saved{};
    ASSERT_TRUE(LoadConfigFromFile(name.toStdString(), saved));
    EXPECT_EQ(saved.TCPPort, 777);
}

TEST_F(MainWindowEditTest, OpenShowsTheFileAndNamesIt)
{
    const QString name = Path("open.ini");
    SaveConfigToFile(name.toStdString(), SampleConfig());
    Dialogs.FileAnswers = {name};
    Action("FileOpenAction")->trigger();

    ASSERT_EQ(Dialogs.FileDialogs.size(), 1u);
    EXPECT_EQ(Dialogs.FileDialogs[0].Kind, TFileDialog::TKind::Open);
    EXPECT_EQ(Dialogs.FileDialogs[0].Filter, "Ini-файлы  (*.ini)|*.ini");
    EXPECT_EQ(Dialogs.FileDialogs[0].DefaultExt, "ini");
    EXPECT_EQ(Window().windowTitle(), "KorvelService [" + name + "]");
    EXPECT_FALSE(Window().Modified);
    EXPECT_EQ(AddressEdit(1)->text(), "10.1.2.3");
    EXPECT_EQ(AddressEdit(3)->text(), "255.255.0.0");
    EXPECT_EQ(PortEdit()->Value(), 1502);
    EXPECT_EQ(Frame(1)->findChild<QComboBox*>("ComboBox4")->currentIndex(), 1);
    EXPECT_EQ(Frame(1)->findChild<TSpinEdit*>("SpinEdit3")->Value(), 17);

    // What the controls show collects back into the very record that was opened.
    ASSERT_TRUE(Window().ControlsToConfig());
    EXPECT_TRUE(SameRecord(Window().Config, SampleConfig()));
}

TEST_F(MainWindowEditTest, OpenOfAMissingFileReportsItAndKeepsWhatTheWindowShowed)
{
    QTest::keyClicks(AddressEdit(1), "1");
    Window().SetModified(false);
    const QString shown = AddressEdit(1)->text();
    const QString missing = Path("missing.ini");
    Dialogs.FileAnswers = {missing};
    Action("FileOpenAction")->trigger();

    ASSERT_EQ(Dialogs.FileDialogs.size(), 1u);
    EXPECT_EQ(Dialogs.FileDialogs[0].Kind, TFileDialog::TKind::Open);
    ASSERT_EQ(Dialogs.Boxes.size(), 1u);
    EXPECT_EQ(Dialogs.Boxes[0].Text, "Ошибка открытия файла " + missing);
    EXPECT_EQ(Dialogs.Boxes[0].Caption, "KorvelService");
    EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x10u);
    EXPECT_EQ(AddressEdit(1)->text(), shown);
    EXPECT_FALSE(Window().Modified);
    EXPECT_EQ(Panel(0), "");
    EXPECT_EQ(Window().windowTitle(), "KorvelService");
}

// Each invalid value stops the save with its own message; nothing is written and nothing changes.
struct TInvalidCase {
    const char* What;
    std::function<void(MainWindowFixture&)> Spoil;
    QString Message;
};

class MainWindowValidationTest : public MainWindowFixture, public ::testing::WithParamInterface<TInvalidCase> {};

TEST_P(MainWindowValidationTest, SaveStopsWithTheMessage)
{
    Window().ConfigToControls(SampleConfig());
    GetParam().Spoil(*this);
    ASSERT_TRUE(Window().Modified);
    const QString name = Path("never.ini");
    Dialogs.FileAnswers = {name};
    Action("SaveAsFileAction")->trigger();

    ASSERT_EQ(Dialogs.Boxes.size(), 1u);
    EXPECT_EQ(Dialogs.Boxes[0].Text, GetParam().Message);
    EXPECT_EQ(Dialogs.Boxes[0].Caption, "KorvelService");
    EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x10u);
    EXPECT_FALSE(QFile::exists(name));
    EXPECT_EQ(Window().windowTitle(), "KorvelService");
    EXPECT_TRUE(Window().Modified);
    EXPECT_EQ(Panel(0), "Изменен");
}

INSTANTIATE_TEST_SUITE_P(
    EveryCheck, MainWindowValidationTest,
    ::testing::Values(TInvalidCase{"address above 255",
                                   [](MainWindowFixture& f) { f.AddressEdit(1)->setText("300.1.2.3"); },
                                   "Недопустимое значение IP адреса !300.1  .2  .3  "},
                      TInvalidCase{"address with an empty group",
                                   [](MainWindowFixture& f) { f.AddressEdit(1)->setText("10.1..3"); },
                                   "Недопустимое значение IP адреса !10 .1  .   .3  "},
                      TInvalidCase{"gateway", [](MainWindowFixture& f) { f.AddressEdit(2)->setText("10.256.0.1"); },
                                   "Недопустимое значение основного шлюза !10 .256.0  .1  "},
                      TInvalidCase{"mask", [](MainWindowFixture& f) { f.AddressEdit(3)->setText("255.255.999.0"); },
                                   "Недопустимое значение маски подсети !255.255.999.0  "},
                      TInvalidCase{"port with a letter", [](MainWindowFixture& f) { f.PortEdit()->SetText("5O2"); },
                                   "Недопустимое значение TCP порта !. Интервал допустимых значений 1..65535"},
                      TInvalidCase{"port 0", [](MainWindowFixture& f) { f.PortEdit()->SetText("0"); },
                                   "Недопустимое значение TCP порта !. Интервал допустимых значений 1..65535"},
                      TInvalidCase{"empty port", [](MainWindowFixture& f) { f.PortEdit()->SetText(""); },
                                   "Недопустимое значение TCP порта !. Интервал допустимых значений 1..65535"},
                      TInvalidCase{"port above 65535", [](MainWindowFixture& f) { f.PortEdit()->SetText("70000"); },
                                   "Недопустимое значение TCP порта !. Интервал допустимых значений 1..65535"},
                      TInvalidCase{"channel 2 time-out",
                                   [](MainWindowFixture& f) {
                                       f.Frame(1)->SetMode(0);
                                       f.Frame(1)->findChild<TSpinEdit*>("SpinEdit1")->SetText("4");
                                   },
                                   "Недопустимое значение таймаута 4. Допускаются значения 5..1000"}),
    ParamNameFromWhat<TInvalidCase>);

TEST_F(MainWindowEditTest, PortTakesOnlyDigitsAsTyped)
{
    Window().ConfigToControls(SampleConfig());
    PortEdit()->SetText("");
    QTest::keyClicks(PortEdit(), "5O2x");
    EXPECT_EQ(PortEdit()->Text(), "52");
    ASSERT_TRUE(Window().ControlsToConfig());
    EXPECT_EQ(Window().Config.TCPPort, 52);
}

// --- closing ----------------------------------------------------------------------------------

using MainWindowCloseTest = MainWindowFixture;

TEST_F(MainWindowCloseTest, UnmodifiedClosesWithoutAQuestionAndWritesTheSettingsFile)
{
    ASSERT_FALSE(QFile::exists(SettingsPath));
    EXPECT_TRUE(CloseWindow());
    EXPECT_TRUE(Dialogs.Boxes.empty());
    EXPECT_EQ(FileBytes(SettingsPath), DefaultSettingsFile);
    EXPECT_EQ(Window().Client, nullptr);
}

TEST_F(MainWindowCloseTest, ModifiedAsksAndFollowsTheAnswer)
{
    struct TCase {
        const char* What;
        std::deque<int> Answers;
        std::deque<std::optional<QString>> Files;
        bool Closes;
        bool FileWritten;
    };
    const QString name = Path("on-close.ini");
    const TCase cases[] = {
        {"Cancel keeps the window", {ID::Cancel}, {}, false, false},
        {"No closes without saving", {ID::No}, {}, true, false},
        {"Yes and a cancelled dialog keeps the window and the edits", {ID::Yes}, {std::nullopt}, false, false},
        {"Yes and a file saves, then closes", {ID::Yes}, {name}, true, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        QFile::remove(name);
        QFile::remove(SettingsPath);
        Window_.reset();
        Dialogs.Boxes.clear();
        Dialogs.BoxAnswers = c.Answers;
        Dialogs.FileAnswers = c.Files;
        Window().ConfigToControls(SampleConfig());
        ASSERT_TRUE(Window().Modified);

        EXPECT_EQ(CloseWindow(), c.Closes);
        ASSERT_FALSE(Dialogs.Boxes.empty());
        EXPECT_EQ(Dialogs.Boxes[0].Text, "В конфигурацию внесены изменения. Сохранить их в файле ?");
        EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x23u);
        EXPECT_EQ(QFile::exists(name), c.FileWritten);
        EXPECT_EQ(QFile::exists(SettingsPath), c.Closes);
        EXPECT_EQ(Window().Client != nullptr, !c.Closes);
        if (!c.Closes) {
            EXPECT_TRUE(Window().Modified);
            EXPECT_EQ(PortEdit()->Value(), 1502);
        }
    }
}

TEST_F(MainWindowCloseTest, YesWithAnInvalidValueKeepsTheWindowOpenForTheCorrection)
{
    Window().ConfigToControls(SampleConfig());
    AddressEdit(1)->setText("300.0.0.1");
    const QString name = Path("wanted.ini");
    Dialogs.BoxAnswers = {ID::Yes};
    Dialogs.FileAnswers = {name};
    EXPECT_FALSE(CloseWindow());
    ASSERT_EQ(Dialogs.Boxes.size(), 2u);
    EXPECT_EQ(Dialogs.Boxes[1].Text, "Недопустимое значение IP адреса !300.0  .0  .1  ");
    EXPECT_FALSE(QFile::exists(name));
    EXPECT_FALSE(QFile::exists(SettingsPath));
    EXPECT_TRUE(Window().Modified);
    EXPECT_NE(Window().Client, nullptr);
}

TEST_F(MainWindowCloseTest, UnwritableSettingsFileIsToldOnceAndTheProgramEndsWithStatus1)
{
    // A plain file where the settings folder would be: no folder can be made there, even by root.
    QFile blocker(Path("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SettingsPath = Path("blocker/KorvelService.xml");
    Window().show();
    // The program's loop, which the close ends with its status; 99 if it never does.
    QTimer::singleShot(0, &Window(), [&] { Window().close(); });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    deadline.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 1);

    ASSERT_EQ(Dialogs.Boxes.size(), 1u);
    EXPECT_TRUE(Dialogs.Boxes[0].Text.startsWith("Ошибка ")) << Dialogs.Boxes[0].Text.toStdString();
    EXPECT_TRUE(Dialogs.Boxes[0].Text.contains(SettingsPath));
    EXPECT_EQ(Dialogs.Boxes[0].Caption, "KorvelService");
    EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x10u);
    EXPECT_FALSE(Window().isVisible());
    EXPECT_EQ(Window().Client, nullptr);
}

TEST_F(MainWindowCloseTest, ExitActionClosesTheWindow)
{
    Window().show();
    Action("ExitAction")->trigger();
    EXPECT_FALSE(Window().isVisible());
    EXPECT_TRUE(QFile::exists(SettingsPath));
}

TEST_F(MainWindowCloseTest, TerminationSignalEndsAModalWindowFirstThenClosesNormally)
{
    CloseOnTerminationSignals(&Window());
    Window().show();
    // The modal dialog runs a loop inside a command, as the information window does inside a
    // completion; the signal must not pull the master away under it.
    bool masterAliveAfterModal = false;
    QEventLoop mainLoop;
    QTimer::singleShot(0, [&] {
        QDialog modal(&Window());
        QTimer::singleShot(0, [] { std::raise(SIGTERM); });
        modal.exec();
        masterAliveAfterModal = Window().Client != nullptr;
        mainLoop.quit();
    });
    mainLoop.exec();
    EXPECT_TRUE(masterAliveAfterModal);
    ASSERT_TRUE(WaitUntil([&] { return !Window().isVisible(); }));
    EXPECT_EQ(Window().Client, nullptr);
    EXPECT_EQ(FileBytes(SettingsPath), DefaultSettingsFile);
}

// --- a termination signal with unsaved edits ------------------------------------------------------

namespace {

// The text of every field's control, so that a window can be compared with another.
std::map<std::string, QString> FieldTexts(TMainWindow& window)
{
    std::map<std::string, QString> texts;
    for (const TConfigField& field : ConfigFields()) {
        QWidget* page = field.Channel < 0 ? window.findChild<QWidget*>("TabSheet3") : window.Frames[field.Channel];
        texts[TypedTextKey(field)] = FieldText(page, field);
    }
    return texts;
}

}  // namespace

class MainWindowSignalTest : public MainWindowFixture {
public:
    QStringList RecoveryFiles() const { return ::RecoveryFiles(RecoveryFolder()); }

    // Ends the window as a session end does and answers whether it closed.
    bool Terminate()
    {
        CloseOnTerminationSignals(&Window());
        Window().show();
        std::raise(SIGTERM);
        return WaitUntil([&] { return !Window().isVisible(); });
    }
};

TEST_F(MainWindowSignalTest, UnsavedEditsGoToARecoveryFileWithoutAQuestionAndComeBackAtTheNextStart)
{
    struct TCase {
        const char* What;
        std::function<void(MainWindowSignalTest&)> Edit;
        std::map<std::string, QString> Typed;  // what the file keeps beside the record
    };
    const TCase cases[] = {
        {"values", [](MainWindowSignalTest&) {}, {}},
        // A value the window does not take is kept as typed, the other fields as values.
        {"an address and an empty port that are no values",
         [](MainWindowSignalTest& t) {
             t.AddressEdit(1)->setText("300.0.0.1");
             t.Frame(1)->findChild<TSpinEdit*>("SpinEdit4")->SetText("");
         },
         {{"IP.ADDRESS", "300.0  .0  .1  "}, {"CHANNEL_1.TCP_PORT_0", ""}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        QDir(RecoveryFolder()).removeRecursively();
        Window_.reset();
        Dialogs.Boxes.clear();
        Window().ConfigToControls(SampleConfig());
        c.Edit(*this);
        ASSERT_TRUE(Window().Modified);
        const auto edited = FieldTexts(Window());

        ASSERT_TRUE(Terminate());
        EXPECT_TRUE(Dialogs.Boxes.empty());
        EXPECT_EQ(FileBytes(SettingsPath), DefaultSettingsFile);
        ASSERT_EQ(RecoveryFiles().size(), 1);
        TRecovery kept;
        ASSERT_TRUE(ReadRecoveryFile(RecoveryFiles()[0], kept));
        EXPECT_EQ(kept.Typed, c.Typed);
        for (const TConfigField& field : ConfigFields())
            EXPECT_TRUE(c.Typed.count(TypedTextKey(field)) || FieldEquals(kept.Config, SampleConfig(), field))
                << field.Key;

        // The next start.
        Window_.reset();
        Dialogs.BoxAnswers = {ID::Yes};
        Window().OfferRecovery();
        ASSERT_EQ(Dialogs.Boxes.size(), 1u);
        EXPECT_TRUE(QRegularExpression("^Восстановить несохранённую конфигурацию от "
                                       "\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d\\?$")
                        .match(Dialogs.Boxes[0].Text)
                        .hasMatch())
            << Dialogs.Boxes[0].Text.toStdString();
        EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x24u);
        EXPECT_EQ(FieldTexts(Window()), edited);
        EXPECT_TRUE(Window().Modified);
        EXPECT_TRUE(Window().FileName.isEmpty());
        EXPECT_TRUE(RecoveryFiles().isEmpty());
    }
}

// Edits of an opened file come back as that file's: the offer names it, the caption shows it, and a
// save goes into it.
TEST_F(MainWindowSignalTest, EditsOfAFileComeBackWithTheirFile)
{
    const QString file = Path("plant 7.ini");
    SaveConfigToFile(file.toStdString(), SampleConfig());
    ASSERT_TRUE(Window().OpenFile(file));
    AddressEdit(1)->setText("10.20.3.31");
    ASSERT_TRUE(Window().Modified);
    ASSERT_TRUE(Terminate());

    Window_.reset();
    Dialogs.Boxes.clear();
    Dialogs.BoxAnswers = {ID::Yes};
    Window().OfferRecovery();
    ASSERT_EQ(Dialogs.Boxes.size(), 1u);
    EXPECT_TRUE(QRegularExpression("^Восстановить несохранённые изменения файла " + QRegularExpression::escape(file) +
                                   " от \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d\\?$")
                    .match(Dialogs.Boxes[0].Text)
                    .hasMatch())
        << Dialogs.Boxes[0].Text.toStdString();
    EXPECT_EQ(Window().FileName, file);
    EXPECT_EQ(Window().windowTitle(), "KorvelService [" + file + "]");
    EXPECT_TRUE(Window().Modified);
    Action("SaveFileAction")->trigger();
    EXPECT_EQ(Dialogs.Boxes.size(), 1u);  // no file dialog, no question
    EXPECT_FALSE(Window().Modified);
    TModuleConfig saved{};
    ASSERT_TRUE(LoadConfigFromFile(file.toStdString(), saved));
    EXPECT_EQ(IPToStr(saved.Address), "10.20.3.31");
}

TEST_F(MainWindowSignalTest, EditsThatCannotBeKeptEndWithStatus1AndTheReasonButTheSettingsAreWritten)
{
    // A plain file where the state folder would be: no folder can be made there, even by root.
    QFile blocker(Path("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Window().RecoveryFolder = Path("blocker/KorvelService");
    Window().ConfigToControls(SampleConfig());
    testing::internal::CaptureStderr();
    EXPECT_EQ(Window().SaveOnSignal(), 1);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(errors.starts_with("KorvelService: Ошибка создания файла " +
                                   Path("blocker/KorvelService/unsaved-").toStdString()))
        << errors;
    EXPECT_EQ(FileBytes(SettingsPath), DefaultSettingsFile);
    EXPECT_TRUE(Dialogs.Boxes.empty());
}

TEST_F(MainWindowSignalTest, TheOfferNamesTheTimeAndADeclinedFileGoes)
{
    TRecovery recovery;
    recovery.Config = SampleConfig();
    QString error;
    const QString older = WriteRecoveryFile(RecoveryFolder(), recovery, QDateTime({2026, 3, 1}, {9, 5, 7}), error);
    const QString newer = WriteRecoveryFile(RecoveryFolder(), recovery, QDateTime({2026, 12, 7}, {18, 30, 15}), error);
    ASSERT_FALSE(older.isEmpty());
    ASSERT_FALSE(newer.isEmpty());
    const auto untouched = FieldTexts(Window());

    // The newest first; declining it offers the next.
    Dialogs.BoxAnswers = {ID::No, ID::No};
    Window().OfferRecovery();
    ASSERT_EQ(Dialogs.Boxes.size(), 2u);
    EXPECT_EQ(Dialogs.Boxes[0].Text, "Восстановить несохранённую конфигурацию от 07.12.2026 18:30:15?");
    EXPECT_EQ(Dialogs.Boxes[1].Text, "Восстановить несохранённую конфигурацию от 01.03.2026 09:05:07?");
    EXPECT_TRUE(RecoveryFiles().isEmpty());
    EXPECT_EQ(FieldTexts(Window()), untouched);
    EXPECT_FALSE(Window().Modified);
}

TEST_F(MainWindowSignalTest, ASignalWhileTheOfferWaitsKeepsTheFileForTheNextStart)
{
    TRecovery recovery;
    QString error;
    ASSERT_FALSE(WriteRecoveryFile(RecoveryFolder(), recovery, QDateTime::currentDateTime(), error).isEmpty());
    CloseOnTerminationSignals(&Window());
    Window().show();
    // The box ends as a signal ends it: with the answer Esc gives.
    DialogsTestHook::OnMessageBox = [&](const QString&, const QString&, unsigned) {
        std::raise(SIGTERM);
        WaitUntil([&] { return !Window().isVisible(); });
        return ID::No;
    };
    Window().OfferRecovery();
    EXPECT_FALSE(Window().isVisible());
    EXPECT_EQ(RecoveryFiles().size(), 1);
}

TEST_F(MainWindowSignalTest, ASignalWhileTheCloseQuestionWaitsStillEndsTheWindowWithTheEditsKept)
{
    CloseOnTerminationSignals(&Window());
    Window().show();
    Window().ConfigToControls(SampleConfig());
    // The question is a modal box in a loop of its own; a signal ends it with Cancel.
    DialogsTestHook::OnMessageBox = [&](const QString&, const QString&, unsigned) {
        QDialog box(&Window());
        QTimer::singleShot(0, [] { std::raise(SIGTERM); });
        box.exec();
        return ID::Cancel;
    };
    // The close ends the loop; the deadline only stops a close that never comes.
    QEventLoop mainLoop;
    QTimer::singleShot(0, [&] { Window().close(); });
    QTimer::singleShot(5000, &mainLoop, &QEventLoop::quit);
    mainLoop.exec();
    // The close ended every loop, as it ends the program's; the application's own loop lets later
    // loops of this test program run again.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QApplication::exec();
    EXPECT_FALSE(Window().isVisible());
    EXPECT_EQ(Window().Client, nullptr);
    ASSERT_EQ(RecoveryFiles().size(), 1);
    TRecovery kept;
    ASSERT_TRUE(ReadRecoveryFile(RecoveryFiles()[0], kept));
    EXPECT_TRUE(DifferingFields(kept.Config, SampleConfig()).empty());
}

// --- the application's error display -----------------------------------------------------------

namespace {
class TThrowingObject : public QObject {
public:
    bool event(QEvent*) override { throw std::runtime_error("Ошибка записи в файл x.xml"); }
};
}  // namespace

TEST(ApplicationErrorDisplay, ShowsWhatNoHandlerCaughtWithTheProgramsCaption)
{
    TScriptedDialogs dialogs;
    TThrowingObject object;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&object, &event));
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_EQ(dialogs.Boxes[0].Text, "Ошибка записи в файл x.xml");
    EXPECT_EQ(dialogs.Boxes[0].Caption, "KorvelService");
    EXPECT_EQ(dialogs.Boxes[0].Flags, 0x10u);
}

// --- translatable texts -------------------------------------------------------------------------

// What the window shows of one text, with a translation that marks every text installed.
struct TTranslatedCase {
    const char* What;
    std::function<QString(MainWindowFixture&)> Shown;
    QString Expected;
};

namespace {

// Answers every text with its context and source text, as a translation file would replace it: a
// text shown unmarked was never offered for translation, and one marked with another context than
// its unit's would not be found in a translation file.
class TMarkingTranslator : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char*, int) const override
    {
        if (!sourceText || !*sourceText)
            return {};
        return QStringLiteral("[%1] %2").arg(QString::fromUtf8(context), QString::fromUtf8(sourceText));
    }
};

class MainWindowTranslationTest : public MainWindowFixture, public ::testing::WithParamInterface<TTranslatedCase> {
public:
    // Installed before the window exists, as a program installs its translation before it builds
    // its windows.
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        ASSERT_TRUE(QCoreApplication::installTranslator(&Marking));
    }
    void TearDown() override
    {
        Window_.reset();
        QCoreApplication::removeTranslator(&Marking);
    }

    TMarkingTranslator Marking;
};

TMonitorWindow& ShownMonitor(MainWindowFixture& f)
{
    f.Action("ShowMonitorAction")->trigger();
    return *f.Window().ExchangeTrace->Monitor();
}

QString RecordedMeaning(TModbusTraceEvent event)
{
    TExchangeRecorder recorder;
    QString meaning;
    QObject::connect(&recorder, &TExchangeRecorder::Recorded,
                     [&](const TExchangeRecord& record) { meaning = record.Meaning; });
    recorder.Trace(event, nullptr, 0, StatusOk);
    return meaning;
}

}  // namespace

TEST_P(MainWindowTranslationTest, TheWindowShowsTheTranslation)
{
    EXPECT_EQ(GetParam().Shown(*this), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    TextsOfEachKind, MainWindowTranslationTest,
    ::testing::Values(
        TTranslatedCase{"status of an edit",
                        [](MainWindowFixture& f) {
                            f.PortEdit()->SetText("503");
                            return f.Panel(0);
                        },
                        "[TMainWindow] Изменен"},
        TTranslatedCase{"file filter",
                        [](MainWindowFixture& f) {
                            f.Action("SaveAsFileAction")->trigger();
                            return f.Dialogs.FileDialogs.empty() ? QString() : f.Dialogs.FileDialogs.back().Filter;
                        },
                        "[TMainWindow] Ini-файлы (*.ini)|*.ini"},
        TTranslatedCase{"message naming a file",
                        [](MainWindowFixture& f) {
                            f.Dialogs.FileAnswers = {f.Path("missing.ini")};
                            f.Action("FileOpenAction")->trigger();
                            return f.Dialogs.Boxes.empty()
                                       ? QString()
                                       : f.Dialogs.Boxes.back().Text.replace(f.Path("missing.ini"), "FILE");
                        },
                        "[TMainWindow] Ошибка открытия файла FILE"},
        TTranslatedCase{"form text",
                        [](MainWindowFixture& f) {
                            auto* pages = f.Window().findChild<QTabWidget*>("PageControl2");
                            return pages->tabText(pages->indexOf(f.Window().findChild<QWidget*>("TabSheet4")));
                        },
                        "[TMainWindow] RS-485 Канал 1"},
        TTranslatedCase{"list filled by the frame",
                        [](MainWindowFixture& f) {
                            const QComboBox* modes = f.Frame(1)->ComboBox4;
                            return modes->itemText(0) + " / " + modes->itemText(1);
                        },
                        "[TRS485SettingsFrame] Ведущий / [TRS485SettingsFrame] Ведомый"},
        TTranslatedCase{"message with a value",
                        [](MainWindowFixture& f) {
                            TSettingsWindow settings(TShowHelpTopic{});
                            settings.MaskEdit1->setText("127.0.0.1");
                            settings.SpinEdit1->SetText("0");
                            settings.ValidateInput();
                            return f.Dialogs.Boxes.empty() ? QString() : f.Dialogs.Boxes.back().Text;
                        },
                        "[TSettingsWindow] Недопустимое значение TCP порта !. Интервал допустимых значений "
                        "1..65535"},
        TTranslatedCase{
            "monitor heading",
            [](MainWindowFixture& f) { return ShownMonitor(f).Rows().headerData(0, Qt::Horizontal).toString(); },
            "[TExchangeTableModel] Дата и время"},
        TTranslatedCase{"monitor sums", [](MainWindowFixture& f) { return ShownMonitor(f).CountersText(); },
                        "[TMonitorWindow] Запросов: 0   Ответов: 0   Таймаутов: 0   Повторов: 0   Исключений: 0   "
                        "Задержка: медиана —, худшая —   [TMonitorWindow] Строк: 0 из 100000"},
        TTranslatedCase{"meaning of a request",
                        [](MainWindowFixture&) {
                            return RequestMeaning(ModuleUnitId, FunctionReadHoldingRegisters, ConfigFirstRegister,
                                                  ConfigReadRegisterCount);
                        },
                        "[TExchangeRecord] чтение конфигурации"},
        TTranslatedCase{"meaning of an exception", [](MainWindowFixture&) { return ExceptionMeaning(2); },
                        "[TExchangeRecord] исключение: недопустимый адрес данных"},
        TTranslatedCase{"meaning of an event",
                        [](MainWindowFixture&) { return RecordedMeaning(TModbusTraceEvent::Timeout); },
                        "[TExchangeRecorder] таймаут: нет ответа"},
        TTranslatedCase{"difference the module kept",
                        [](MainWindowFixture&) {
                            TModuleConfig sent{};
                            TModuleConfig held{};
                            held.CRC = 0xBEEF;
                            return ConfigDifferenceLines(sent, held).join('\n');
                        },
                        "[TConfigComparison] Контрольная сумма: 0000 → BEEF"},
        TTranslatedCase{"running request",
                        [](MainWindowFixture&) {
                            QLabel panel;
                            QAction cancelAction(nullptr);
                            QToolButton cancel;
                            cancel.setDefaultAction(&cancelAction);
                            TBusySign busy(&panel, {}, &cancel, {});
                            busy.Start("Чтение");
                            // Only the words matter here, not how long the request has run.
                            const QString shown = panel.text().replace(QRegularExpression("\\d+,\\d"), "N");
                            busy.Stop();
                            return shown;
                        },
                        "[TBusySign] Чтение N с"}),
    ParamNameFromWhat<TTranslatedCase>);
