#include "Main_Win.h"
#include "ui_Main_Win.h"

#include "About_Win.h"
#include "BusySign.h"
#include "ConnectionSettings.h"
#include "Compare_Win.h"
#include "ConfigComparison.h"
#include "Dialogs.h"
#include "ExchangeTrace.h"
#include "Forms.h"
#include "Help_Win.h"
#include "Info_Win.h"
#include "KorvelApplication.h"
#include "ModbusMaster.h"
#include "ModuleDefaults.h"
#include "ModuleRegisters.h"
#include "RS485Settings_Frm.h"
#include "ProgramFiles.h"
#include "Settings_Win.h"
#include "modbus.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QScopeGuard>
#include <QStatusBar>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>

namespace {
const QString ModifiedText = QStringLiteral("Изменен");
const QString SaveChangesQuestion = QStringLiteral("В конфигурацию внесены изменения. Сохранить их в файле ?");
const QString InvalidAddressText = QStringLiteral("Недопустимое значение IP адреса !");
const QString InvalidGatewayText = QStringLiteral("Недопустимое значение основного шлюза !");
const QString InvalidNetMaskText = QStringLiteral("Недопустимое значение маски подсети !");
const QString InvalidPortText = QStringLiteral("Недопустимое значение TCP порта !. Интервал допустимых значений ");
const QString OpenErrorText = QStringLiteral("Ошибка открытия файла ");

const QString ConfigOpenFilter = QStringLiteral("Ini-файлы  (*.ini)|*.ini");
const QString ConfigSaveFilter = QStringLiteral("Ini-файлы (*.ini)|*.ini");
const QString ConfigExt = QStringLiteral("ini");
const QString FirmwareFilter = QStringLiteral("Hex - файлы (*.hex)|*.hex");
const QString FirmwareExt = QStringLiteral("hex");

const QString WriteFailedPrefix = QStringLiteral("Ошибка загрузки конфигурации (");
const QString ReadFailedPrefix = QStringLiteral("Ошибка считывания конфигурации (");
const QString InfoFailedPrefix = QStringLiteral("Ошибка считывания информации (");
const QString WrittenText = QStringLiteral("Конфигурация успешно загружена");
const QString ReadText = QStringLiteral("Конфигурация успешно считана");
const QString BadChecksumText =
    QStringLiteral("Контрольная сумма конфигурации модуля неверна: модуль хранит повреждённую конфигурацию.");
const QString ChangeSettingsQuestion =
    QStringLiteral("Изменены параметры связи модуля. Изменить соответствующие настроки программы ?");
const QString VerifyFailedPrefix = QStringLiteral("Ошибка проверки конфигурации (");
const QString NotKeptText = QStringLiteral("Модуль подтвердил запись, но хранит другую конфигурацию:");
const QString WritingText = QStringLiteral("Загрузка конфигурации…");
const QString ReadingText = QStringLiteral("Считывание конфигурации…");
const QString ReadingInfoText = QStringLiteral("Считывание информации…");
const QString ComparingText = QStringLiteral("Сравнение с модулем…");
const QString VerifyingText = QStringLiteral("Проверка конфигурации…");
const QString RefusedText = QStringLiteral("запрос не поставлен в очередь, код ");

const QString ContentTopic = QStringLiteral("KorvelService_Conent.htm");
const QString TCPIPTopic = QStringLiteral("KorvelService_TCP_IP.htm");
const QString RS485Topic = QStringLiteral("KorvelService_RS485.htm");

// Collection defaults: what stays in the record's fields after the one at which a collection stops.
// The factory values, except the time-out and the lists, which start at their first entries.
constexpr uint16_t PrefillTimeout = 1000;

// Status bar panels: width and alignment.
struct TPanelLayout {
    int Width;
    Qt::Alignment Alignment;
};
constexpr std::array<TPanelLayout, 3> PanelLayouts{{
    {100, Qt::AlignCenter},
    {200, Qt::AlignCenter},
    {250, Qt::AlignLeft | Qt::AlignVCenter},  // room for a running request and its time
}};
constexpr int ModifiedPanel = 0;
constexpr int ConnectionPanel = 1;
constexpr int BusyPanel = 2;

// The program's exit status when a termination signal's close could not write the settings file.
constexpr int SettingsNotWrittenStatus = 1;

constexpr int WindowClientWidth = 676;
constexpr int WindowClientHeight = 533;
constexpr int ToolButtonSize = 40;
constexpr int WideSeparatorWidth = 16;

QString Caption()
{
    return QString::fromUtf8(ApplicationTitle);
}

int Ask(const QString& text, unsigned flags)
{
    return MessageBox(text, Caption(), flags);
}

void Tell(const QString& text, unsigned flags)
{
    MessageBox(text, Caption(), flags);
}
}  // namespace

TMainWindow::TMainWindow(const QString& settingsFileName, const QString& helpFolder, QWidget* parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::TMainWindow>())
{
    // The pictures live in a static library, whose resources register only when asked to.
    Q_INIT_RESOURCE(resources);
    ui->setupUi(this);
    SetFormFont(this);
    setFixedSize(WindowClientWidth, WindowClientHeight);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    // F1 is the help of the page shown (FormKeyDown); the contents command shows the key in its
    // menu but takes it only there, so that the window keeps it.
    SetUpToolBar();
    SetUpStatusBar();
    // Sees the keys before the focused control does (eventFilter).
    qApp->installEventFilter(this);
    Busy =
        new TBusySign(StatusPanels[BusyPanel],
                      {ui->WriteConfigAction, ui->ReadConfigAction, ui->CompareConfigAction, ui->ReadInfoAction}, this);
    // No firmware transfer exists: the page is there, but cannot be opened.
    ui->PageControl1->setTabEnabled(ui->PageControl1->indexOf(ui->TabSheet2), false);

    connect(ui->FileOpenAction, &QAction::triggered, this, &TMainWindow::FileOpenActionExecute);
    connect(ui->SaveFileAction, &QAction::triggered, this, &TMainWindow::SaveFileActionExecute);
    connect(ui->SaveAsFileAction, &QAction::triggered, this, &TMainWindow::SaveAsFileActionExecute);
    connect(ui->ExitAction, &QAction::triggered, this, &TMainWindow::ExitActionExecute);
    connect(ui->SettingsAction, &QAction::triggered, this, &TMainWindow::SettingsActionExecute);
    connect(ui->WriteConfigAction, &QAction::triggered, this, &TMainWindow::WriteConfigActionExecute);
    connect(ui->ReadConfigAction, &QAction::triggered, this, &TMainWindow::ReadConfigActionExecute);
    connect(ui->ReadInfoAction, &QAction::triggered, this, &TMainWindow::ReadInfoActionExecute);
    connect(ui->CompareConfigAction, &QAction::triggered, this, &TMainWindow::CompareConfigActionExecute);
    connect(ui->ShowMonitorAction, &QAction::triggered, this, &TMainWindow::ShowMonitorActionExecute);
    connect(ui->HelpContentAction, &QAction::triggered, this, &TMainWindow::HelpContentActionExecute);
    connect(ui->ShowAboutAction, &QAction::triggered, this, &TMainWindow::ShowAboutActionExecute);
    connect(ui->Button1, &QPushButton::clicked, this, &TMainWindow::Button1Click);
    connect(ui->MaskEdit1, &TMaskEdit::Changed, this, &TMainWindow::MaskEdit1Change);
    connect(ui->MaskEdit2, &TMaskEdit::Changed, this, &TMainWindow::MaskEdit2Change);
    connect(ui->MaskEdit3, &TMaskEdit::Changed, this, &TMainWindow::MaskEdit3Change);
    connect(ui->SpinEdit1, &TSpinEdit::Changed, this, &TMainWindow::SpinEdit1Change);

    SettingsFileName =
        settingsFileName.isEmpty() ? SettingsFileLocation(QCoreApplication::applicationFilePath()) : settingsFileName;
    HelpFolder = helpFolder.isEmpty() ? HelpFolderLocation(QCoreApplication::applicationDirPath()) : helpFolder;
    FormCreate();
}

TMainWindow::~TMainWindow()
{
    // A window destroyed without a close still lets its master go quietly.
    ReleaseMaster();
}

void TMainWindow::SetUpToolBar()
{
    // Buttons without a hint of their own show their action's; every hint names its shortcut.
    const std::map<QAction*, QString> ownHints{
        {ui->FileOpenAction, QStringLiteral("Открыть файл конфигурации...")},
        {ui->SaveFileAction, QStringLiteral("Сохранить файл конфигурации")},
        {ui->ReadConfigAction, QStringLiteral("Считать конфигурацию из модуля")},
    };
    for (QAction* action : ui->ToolBar1->actions()) {
        auto* button = qobject_cast<QToolButton*>(ui->ToolBar1->widgetForAction(action));
        if (!button)
            continue;
        const auto own = ownHints.find(action);
        QString hint = own != ownHints.end() ? own->second : action->toolTip();
        if (!action->shortcut().isEmpty())
            hint += " (" + action->shortcut().toString(QKeySequence::NativeText) + ")";
        button->setToolTip(hint);
        button->setFixedSize(ToolButtonSize, ToolButtonSize);
    }
    // The gap before the help button is wider than the other separators.
    auto* gap = new QWidget(ui->ToolBar1);
    gap->setFixedWidth(WideSeparatorWidth);
    ui->ToolBar1->insertWidget(ui->HelpContentAction, gap);
}

void TMainWindow::SetUpStatusBar()
{
    for (size_t i = 0; i < StatusPanels.size(); ++i) {
        auto* panel = new QLabel(ui->StatusBar1);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFixedWidth(PanelLayouts[i].Width);
        panel->setAlignment(PanelLayouts[i].Alignment);
        panel->setFrameShape(QFrame::StyledPanel);
        ui->StatusBar1->addWidget(panel);
        StatusPanels[i] = panel;
    }
}

void TMainWindow::CreateFrame(size_t channel, const char* name, QWidget* page)
{
    auto* frame = new TRS485SettingsFrame(this);
    frame->setObjectName(QString::fromLatin1(name));
    frame->OnChanged = [this](QObject*) { SetModified(true); };
    page->layout()->addWidget(frame);
    frame->FillLists();
    Frames[channel] = frame;
}

void TMainWindow::FormCreate()
{
    CreateFrame(0, "RS485SettingsFrame1", ui->TabSheet4);
    CreateFrame(1, "RS485SettingsFrame2", ui->TabSheet5);
    // Filling the frames announced changes; the window starts unmodified.
    SetModified(false);
    SetFileName({});
    LoadConnectionSettings();
    Master = new TModbusTCPMaster(this);
    ExchangeTrace = new TExchangeTrace(this);
    ExchangeTrace->SetMaster(Master);
    ApplyConnectionSettings();
    WriteOrderId = -1;
    ReadOrderId = -1;
    InfoOrderId = -1;
    VerifyOrderId = -1;
    CompareOrderId = -1;
    ShowConnectionSettings();
}

bool TMainWindow::FormClose()
{
    if (Modified) {
        switch (Ask(SaveChangesQuestion, MB::YesNoCancelQuestion)) {
        case ID::Cancel: return false;
        case ID::Yes:
            // The operator asked for the edits to be kept: a cancelled dialog or an invalid value
            // keeps the window open with them.
            if (!SaveFileAs())
                return false;
            break;
        default: break;
        }
    }
    SaveConnectionSettings();
    ReleaseMaster();
    return true;
}

void TMainWindow::ReleaseMaster()
{
    if (!Master)
        return;
    // The operator is leaving: a request cut off is not reported.
    ForgetPendingRequests();
    Master->SetActive(false);
    ExchangeTrace->SetMaster(nullptr);
    delete Master;
    Master = nullptr;
}

void TMainWindow::ForgetPendingRequests()
{
    // A stale id would take the completion of a later request that is given the same id.
    WriteOrderId = -1;
    ReadOrderId = -1;
    InfoOrderId = -1;
    VerifyOrderId = -1;
    CompareOrderId = -1;
    Busy->Stop();
    Busy->EnableCommands();
}

bool TMainWindow::RequestPending() const
{
    return WriteOrderId >= 0 || ReadOrderId >= 0 || InfoOrderId >= 0 || VerifyOrderId >= 0 || CompareOrderId >= 0;
}

void TMainWindow::closeEvent(QCloseEvent* event)
{
    bool mayClose = false;
    if (!ClosingOnSignal) {
        // A settings file that cannot be written is shown and keeps the window open; closing again
        // tries again.
        RunGuarded([&] { mayClose = FormClose(); });
    } else {
        try {
            mayClose = FormClose();
        } catch (const std::exception& error) {
            // A session ending or a supervisor cannot wait for a message nobody may read: the reason
            // goes to stderr and the program ends with a failure status.
            std::fprintf(stderr, "KorvelService: %s\n", error.what());
            ReleaseMaster();
            QCoreApplication::exit(SettingsNotWrittenStatus);
        }
    }
    event->setAccepted(mayClose);
}

void TMainWindow::CloseOnSignal()
{
    ClosingOnSignal = true;
    close();
    ClosingOnSignal = false;
}

void TMainWindow::keyPressEvent(QKeyEvent* event)
{
    // Controls pass F1 on, so the window sees it whichever control has the focus.
    FormKeyDown(event->key());
    QMainWindow::keyPressEvent(event);
}

bool TMainWindow::IsCommandKey(const QKeyEvent* key) const
{
    const QKeySequence keys(key->keyCombination());
    const QList<QAction*> actions = findChildren<QAction*>();
    return std::any_of(actions.begin(), actions.end(), [&](const QAction* action) {
        return action->shortcutContext() == Qt::WindowShortcut && action->shortcut() == keys;
    });
}

bool TMainWindow::eventFilter(QObject* watched, QEvent* event)
{
    const bool keyEvent = event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress;
    if (!keyEvent || !watched->isWidgetType() || static_cast<QWidget*>(watched)->window() != this ||
        !IsCommandKey(static_cast<QKeyEvent*>(event)))
        return QMainWindow::eventFilter(watched, event);
    // A control may claim a command's key for its own editing (under X11 a line edit takes Ctrl+U to
    // delete its line): the command comes first, and a key press left over because the command is
    // unavailable does nothing.
    if (event->type() == QEvent::ShortcutOverride)
        event->ignore();
    else
        event->accept();
    return true;
}

void TMainWindow::FormKeyDown(int key)
{
    if (key != Qt::Key_F1 || ui->PageControl1->currentWidget() != ui->TabSheet1)
        return;
    if (ui->PageControl2->currentWidget() == ui->TabSheet3)
        ShowHelpTopic(TCPIPTopic);
    else
        ShowHelpTopic(RS485Topic);
}

void TMainWindow::ShowHelpTopic(const QString& topic)
{
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = this;
    if (HelpWindow && HelpWindow->parentWidget() != owner)
        delete HelpWindow;
    if (!HelpWindow) {
        HelpWindow = new THelpWindow(HelpFolder, owner);
        HelpWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    HelpWindow->ShowTopic(topic);
}

void TMainWindow::ExitActionExecute()
{
    close();
}

void TMainWindow::HelpContentActionExecute()
{
    ShowHelpTopic(ContentTopic);
}

void TMainWindow::ShowAboutActionExecute()
{
    ShowAboutWindow(this);
}

void TMainWindow::Button1Click()
{
    TFileDialog dialog(TFileDialog::TKind::Open, this);
    dialog.Filter = FirmwareFilter;
    dialog.DefaultExt = FirmwareExt;
    if (dialog.Execute())
        ui->Edit1->setText(dialog.FileName);
}

// --- configuration editing and files ------------------------------------------------------------

void TMainWindow::MaskEdit1Change()
{
    SetModified(true);
}

void TMainWindow::MaskEdit2Change()
{
    SetModified(true);
}

void TMainWindow::MaskEdit3Change()
{
    SetModified(true);
}

void TMainWindow::SpinEdit1Change()
{
    SetModified(true);
}

void TMainWindow::SetModified(bool value)
{
    Modified = value;
    StatusPanels[ModifiedPanel]->setText(value ? ModifiedText : QString());
}

void TMainWindow::SetFileName(const QString& name)
{
    FileName = name;
    setWindowTitle(name.isEmpty() ? Caption() : Caption() + " [" + name + "]");
}

void TMainWindow::ConfigToControls(const TModuleConfig& config)
{
    ui->MaskEdit1->setText(QString::fromStdString(IPToStr(config.Address)));
    ui->MaskEdit2->setText(QString::fromStdString(IPToStr(config.Gateway)));
    ui->MaskEdit3->setText(QString::fromStdString(IPToStr(config.NetMask)));
    ui->SpinEdit1->SetValue(config.TCPPort);
    for (size_t i = 0; i < ChannelCount; ++i) {
        const TChannelConfig& channel = config.Channels[i];
        TRS485SettingsFrame& frame = *Frames[i];
        frame.SetSlaveAddress(channel.SlaveAddress);
        frame.SetMode(channel.SlaveAddress != 0 ? 1 : 0);
        frame.SetIPAddress0(channel.IPAddress0);
        frame.SetTCPPort0(channel.TCPPort0);
        frame.SetIPAddress1(channel.IPAddress1);
        frame.SetTCPPort1(channel.TCPPort1);
        frame.EthRecvTout = channel.EthRecvTout;
        frame.EthConnTout = channel.EthConnTout;
        frame.SetBaudIndex(channel.BaudIndex);
        frame.SetParity(channel.Parity);
        frame.SetStopBits(channel.StopBits);
        frame.SetTimeout(channel.Timeout);
        frame.SetReplies(channel.Replies);
    }
}

void TMainWindow::PrefillConfig()
{
    Config.Address = FactoryDefaults.Address;
    Config.Gateway = FactoryDefaults.Gateway;
    Config.NetMask = FactoryDefaults.NetMask;
    Config.TCPPort = static_cast<uint16_t>(ui->SpinEdit1->Value());
    const TChannelConfig& factory = FactoryChannelDefaults;
    for (TChannelConfig& channel : Config.Channels) {
        channel.SlaveAddress = factory.SlaveAddress;
        channel.BaudIndex = factory.BaudIndex;
        channel.Parity = 0;
        channel.StopBits = 0;
        channel.Replies = factory.Replies;
        channel.Timeout = PrefillTimeout;
        channel.IPAddress0 = factory.IPAddress0;
        channel.TCPPort0 = factory.TCPPort0;
        channel.IPAddress1 = factory.IPAddress1;
        channel.TCPPort1 = factory.TCPPort1;
        channel.EthRecvTout = factory.EthRecvTout;
        channel.EthConnTout = factory.EthConnTout;
    }
}

bool TMainWindow::ControlsToConfig()
{
    PrefillConfig();
    const struct {
        TMaskEdit* Edit;
        TIPAddress& Field;
        const QString& Message;
    } addresses[] = {
        {ui->MaskEdit1, Config.Address, InvalidAddressText},
        {ui->MaskEdit2, Config.Gateway, InvalidGatewayText},
        {ui->MaskEdit3, Config.NetMask, InvalidNetMaskText},
    };
    for (const auto& address : addresses) {
        const QString text = address.Edit->Text();
        if (!StrToIP(text.toStdString(), address.Field)) {
            Tell(address.Message + text, MB::IconError);
            return false;
        }
    }
    // The module's own port: anything but a number in range would lock the module out of its port.
    if (!ui->SpinEdit1->IsTextInRange()) {
        Tell(InvalidPortText + ui->SpinEdit1->RangeText(), MB::IconError);
        return false;
    }
    Config.TCPPort = static_cast<uint16_t>(ui->SpinEdit1->Value());
    try {
        for (size_t i = 0; i < ChannelCount; ++i) {
            TChannelConfig& channel = Config.Channels[i];
            TRS485SettingsFrame& frame = *Frames[i];
            channel.SlaveAddress = static_cast<uint16_t>(frame.GetSlaveAddress());
            channel.IPAddress0 = frame.GetIPAddress0();
            channel.TCPPort0 = static_cast<uint16_t>(frame.GetTCPPort0());
            channel.IPAddress1 = frame.GetIPAddress1();
            channel.TCPPort1 = static_cast<uint16_t>(frame.GetTCPPort1());
            channel.BaudIndex = static_cast<uint16_t>(frame.GetBaudIndex());
            channel.Parity = static_cast<uint16_t>(frame.GetParity());
            channel.StopBits = static_cast<uint16_t>(frame.GetStopBits());
            channel.Timeout = static_cast<uint16_t>(frame.GetTimeout());
            channel.Replies = static_cast<uint16_t>(frame.GetReplies());
            channel.EthRecvTout = static_cast<uint16_t>(frame.EthRecvTout);
            channel.EthConnTout = static_cast<uint16_t>(frame.EthConnTout);
        }
    } catch (const std::exception& error) {
        Tell(QString::fromUtf8(error.what()), MB::IconError);
        return false;
    }
    return true;
}

bool TMainWindow::OpenFile(const QString& name)
{
    if (!LoadConfigFromFile(name.toStdString(), Config)) {
        Tell(OpenErrorText + name, MB::IconError);
        return false;
    }
    SetFileName(name);
    return true;
}

void TMainWindow::OpenFileAtStart(const QString& name)
{
    // The caption names the file by its full path, as after the open dialog.
    RunGuarded([&] {
        if (!OpenFile(QFileInfo(name).absoluteFilePath()))
            return;
        ConfigToControls(Config);
        SetModified(false);
    });
}

void TMainWindow::SaveFile(const QString& name)
{
    SaveConfigToFile(name.toStdString(), Config);
    SetFileName(name);
    SetModified(false);
}

bool TMainWindow::SaveFileAs()
{
    TFileDialog dialog(TFileDialog::TKind::Save, this);
    dialog.Filter = ConfigSaveFilter;
    dialog.DefaultExt = ConfigExt;
    dialog.FileName = FileName;
    if (!dialog.Execute() || !ControlsToConfig())
        return false;
    SaveFile(dialog.FileName);
    return true;
}

void TMainWindow::FileOpenActionExecute()
{
    RunGuarded([this] {
        // The edits are offered a file first; not saving them means not opening over them.
        if (Modified && !SaveFileAs())
            return;
        TFileDialog dialog(TFileDialog::TKind::Open, this);
        dialog.Filter = ConfigOpenFilter;
        dialog.DefaultExt = ConfigExt;
        if (!dialog.Execute())
            return;
        OpenFile(dialog.FileName);
        ConfigToControls(Config);
        SetModified(false);
    });
}

void TMainWindow::SaveFileActionExecute()
{
    RunGuarded([this] {
        QString name = FileName;
        if (name.isEmpty()) {
            TFileDialog dialog(TFileDialog::TKind::Save, this);
            dialog.Filter = ConfigSaveFilter;
            dialog.DefaultExt = ConfigExt;
            if (!dialog.Execute())
                return;
            name = dialog.FileName;
        }
        if (ControlsToConfig())
            SaveFile(name);
    });
}

void TMainWindow::SaveAsFileActionExecute()
{
    RunGuarded([this] { SaveFileAs(); });
}

// --- connection settings ------------------------------------------------------------------------

void TMainWindow::LoadConnectionSettings()
{
    Settings = LoadSettingsFile(SettingsFileName.toStdString(), &SettingsFileUnusable);
}

void TMainWindow::SaveConnectionSettings()
{
    const std::string fileName = SettingsFileName.toStdString();
    if (SettingsFileUnusable) {
        KeepSettingsFileAside(fileName);
        SettingsFileUnusable = false;
    }
    SaveSettingsFile(fileName, Settings);
}

void TMainWindow::ApplyConnectionSettings()
{
    // The socket takes a new address only while closed.
    ForgetPendingRequests();
    Master->SetActive(false);
    Master->SetParameters(MasterParametersText(Settings));
}

void TMainWindow::ShowConnectionSettings()
{
    StatusPanels[ConnectionPanel]->setText(SettingsStatusText(Settings));
}

void TMainWindow::SettingsActionExecute()
{
    if (!EditSettings(Settings, [this](const QString& topic) { ShowHelpTopic(topic); }))
        return;
    ApplyConnectionSettings();
    ShowConnectionSettings();
}

// --- module exchange ----------------------------------------------------------------------------

void TMainWindow::WriteConfigActionExecute()
{
    if (ControlsToConfig())
        WriteConfigToModule(Config);
}

void TMainWindow::ReadConfigActionExecute()
{
    if (Modified) {
        switch (Ask(SaveChangesQuestion, MB::YesNoCancelQuestion)) {
        case ID::Cancel: return;
        case ID::Yes: {
            bool saved = false;
            RunGuarded([&] { saved = SaveFileAs(); });
            if (!saved)
                return;
            break;
        }
        default: break;
        }
    }
    ReadConfigFromModule();
}

void TMainWindow::ReadInfoActionExecute()
{
    ReadModuleInfo();
}

void TMainWindow::StartTrace(const QString& fileName)
{
    if (!ExchangeTrace->OpenTraceFile(fileName))
        Tell(OpenErrorText + fileName, MB::IconError);
}

void TMainWindow::ShowMonitorActionExecute()
{
    ExchangeTrace->ShowMonitor(this, [this](const QString& topic) { ShowHelpTopic(topic); });
}

void TMainWindow::CompareConfigActionExecute()
{
    if (ControlsToConfig())
        CompareWithModule();
}

void TMainWindow::WriteConfigToModule(const TModuleConfig& config)
{
    Master->SetActive(true);
    const TConfigImage image = BuildConfigImage(config);
    WrittenConfig = config;
    WriteOrderId = TrackRequest(Master->WriteMultipleRegisters(ModuleUnitId, ConfigFirstRegister, image), WritingText,
                                WriteFailedPrefix, &TMainWindow::WriteOrderId, &TMainWindow::WriteComplete);
}

void TMainWindow::ReadConfigFromModule()
{
    Master->SetActive(true);
    ReadOrderId = TrackRequest(
        Master->ReadHoldingRegisters(ModuleUnitId, ConfigFirstRegister, ConfigReadRegisterCount, OrderOneShot),
        ReadingText, ReadFailedPrefix, &TMainWindow::ReadOrderId, &TMainWindow::ReadComplete);
}

void TMainWindow::ReadModuleInfo()
{
    Master->SetActive(true);
    InfoOrderId =
        TrackRequest(Master->ReadHoldingRegisters(ModuleUnitId, InfoFirstRegister, InfoRegisterCount, OrderOneShot),
                     ReadingInfoText, InfoFailedPrefix, &TMainWindow::InfoOrderId, &TMainWindow::InfoComplete);
}

void TMainWindow::CompareWithModule()
{
    Master->SetActive(true);
    CompareOrderId = TrackRequest(
        Master->ReadHoldingRegisters(ModuleUnitId, ConfigFirstRegister, ConfigReadRegisterCount, OrderOneShot),
        ComparingText, ReadFailedPrefix, &TMainWindow::CompareOrderId, &TMainWindow::CompareComplete);
}

void TMainWindow::VerifyWrittenConfig()
{
    VerifyOrderId = TrackRequest(
        Master->ReadHoldingRegisters(ModuleUnitId, ConfigFirstRegister, ConfigReadRegisterCount, OrderOneShot),
        VerifyingText, VerifyFailedPrefix, &TMainWindow::VerifyOrderId, &TMainWindow::VerifyComplete);
}

int32_t TMainWindow::TrackRequest(int32_t orderId, const QString& operation, const QString& failurePrefix,
                                  TPendingOrder pending, TReplyHandler onReply)
{
    if (orderId < 0) {
        // The master refused to queue it: no completion will ever come, so say so now.
        Tell(failurePrefix + RefusedText + QString::number(orderId) + ")", MB::Information);
        return orderId;
    }
    Master->SetOrderCallback(orderId,
                             [this, failurePrefix, pending, onReply](TModbusMaster* sender, int id, uint8_t status) {
                                 RequestComplete(sender, id, status, this->*pending, failurePrefix, onReply);
                             });
    Busy->Start(operation);
    return orderId;
}

void TMainWindow::RequestComplete(TModbusMaster* sender, int orderId, uint8_t status, int32_t& pending,
                                  const QString& failurePrefix, TReplyHandler onReply)
{
    if (pending != orderId)
        return;  // a request replaced by a later one of its kind
    pending = -1;
    Busy->Stop();
    // The commands come back once the outcome has been told, so that no click during its message
    // queues a request behind it.
    const auto commandsBack = qScopeGuard([this] {
        if (!RequestPending())  // a write's read-back keeps them waiting
            Busy->EnableCommands();
    });

    if (status != StatusOk) {
        Tell(failurePrefix + QString::fromStdString(StatusText(status, sender->GetExceptionCode())) + ")",
             MB::Information);
        return;
    }
    (this->*onReply)(sender);
}

void TMainWindow::WriteComplete(TModbusMaster*)
{
    // Acknowledged is not yet kept: the report waits for the read-back when the operator wants one.
    if (Settings.VerifyWrite)
        VerifyWrittenConfig();
    else
        ReportWritten();
}

void TMainWindow::VerifyComplete(TModbusMaster* sender)
{
    TModuleConfig held{};
    sender->GetReplyData(&held);
    CheckWrittenConfig(held);
}

void TMainWindow::ReadComplete(TModbusMaster* sender)
{
    sender->GetReplyData(&Config);
    ConfigToControls(Config);
    SetFileName({});
    // Refilling the controls announced changes; what they show now is the module's.
    SetModified(false);
    if (Config.CRC == CRC16(reinterpret_cast<const uint8_t*>(&Config), ConfigCRCOffset))
        Tell(ReadText, MB::Information);
    else
        Tell(BadChecksumText, MB::Warning);
}

void TMainWindow::InfoComplete(TModbusMaster* sender)
{
    TModuleInfo info{};
    sender->GetReplyData(&info);
    ShowModuleInfo(info, [this](const QString& topic) { ShowHelpTopic(topic); });
}

void TMainWindow::CompareComplete(TModbusMaster* sender)
{
    TModuleConfig module{};
    sender->GetReplyData(&module);
    // Config holds what the controls showed when the comparison was asked for; the window is
    // modal, so nothing changes it until the operator decides.
    if (ShowCompareWindow(Config, module, [this](const QString& topic) { ShowHelpTopic(topic); }))
        WriteConfigToModule(Config);
}

void TMainWindow::CheckWrittenConfig(const TModuleConfig& held)
{
    TModuleConfig sent = WrittenConfig;
    SetConfigCRC(sent);
    if (SameConfigBlock(sent, held)) {
        ReportWritten();
        return;
    }
    QStringList message{NotKeptText};
    message += ConfigDifferenceLines(sent, held);
    Tell(message.join(u'\n'), MB::Warning);
}

void TMainWindow::ReportWritten()
{
    Tell(WrittenText, MB::Information);
    const std::string address = IPToStr(WrittenConfig.Address);
    if (address == Settings.IPAddress && WrittenConfig.TCPPort == Settings.TCPPort)
        return;
    if (Ask(ChangeSettingsQuestion, MB::YesNoQuestion) != ID::Yes)
        return;
    Settings.IPAddress = address;
    Settings.TCPPort = WrittenConfig.TCPPort;
    ShowConnectionSettings();
    ApplyConnectionSettings();
}
