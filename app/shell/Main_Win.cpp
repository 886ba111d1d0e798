#include "Main_Win.h"
#include "ui_Main_Win.h"

#include "About_Win.h"
#include "BusySign.h"
#include "ConfigCRC.h"
#include "ConfigFile.h"
#include "ConnectionSettings.h"
#include "Compare_Win.h"
#include "ConfigComparison.h"
#include "Dialogs.h"
#include "ExchangeTrace.h"
#include "Forms.h"
#include "Help_Win.h"
#include "IPAddressText.h"
#include "Info_Win.h"
#include "KorvelApplication.h"
#include "Lines_Win.h"
#include "MapPage.h"
#include "ConfigVerdict.h"
#include "FieldControls.h"
#include "ModbusMaster.h"
#include "ModuleDefaults.h"
#include "ModuleRegisters.h"
#include "RS485Settings_Frm.h"
#include "ProgramFiles.h"
#include "RecentFiles.h"
#include "RecoveryFile.h"
#include "ReportPreview.h"
#include "Settings_Win.h"
#include "WholeFile.h"
#include "modbus.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScopeGuard>
#include <QStatusBar>
#include <QThread>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <stdexcept>

namespace {
// The window's texts, translated where they are shown.
const char* const ModifiedText = QT_TRANSLATE_NOOP("TMainWindow", "Изменен");
const char* const SaveChangesQuestion =
    QT_TRANSLATE_NOOP("TMainWindow", "В конфигурацию внесены изменения. Сохранить их в файле ?");
const char* const OpenErrorText = QT_TRANSLATE_NOOP("TMainWindow", "Ошибка открытия файла %1");
// %1 is the file of the recent files list that is no longer there.
const char* const RecentFileMissingText =
    QT_TRANSLATE_NOOP("TMainWindow", "Файл %1 не найден. Он удалён из списка последних файлов.");
// %1 is a file that exists but whose contents could not be read.
const char* const ReplaceUnreadableQuestion = QT_TRANSLATE_NOOP(
    "TMainWindow", "Файл %1 не удаётся прочитать, его содержимое будет потеряно. Заменить файл конфигурацией ?");
// %1 is a recent file's number, %2 its name.
const char* const RecentFileItemText = QT_TRANSLATE_NOOP("TMainWindow", "&%1 %2");
// %1 is when the edits were kept.
const char* const RecoverQuestion = QT_TRANSLATE_NOOP("TMainWindow", "Восстановить несохранённую конфигурацию от %1?");
// %1 as above, %2 the file the edits were made to.
const char* const RecoverFileQuestion =
    QT_TRANSLATE_NOOP("TMainWindow", "Восстановить несохранённые изменения файла %2 от %1?");
const QString RecoveryTimeFormat = QStringLiteral("dd.MM.yyyy hh:mm:ss");
// %1 is why the trace file took no more lines.
const char* const TraceStoppedText = QT_TRANSLATE_NOOP("TMainWindow", "Запись трассировки прекращена: %1");
// Long enough to be read, then the panels come back.
constexpr int TraceStoppedMessageMs = 30000;

const char* const ConfigOpenFilter = QT_TRANSLATE_NOOP("TMainWindow", "Ini-файлы  (*.ini)|*.ini");
const char* const ConfigSaveFilter = QT_TRANSLATE_NOOP("TMainWindow", "Ini-файлы (*.ini)|*.ini");
const QString ConfigExt = QStringLiteral("ini");
const char* const FirmwareFilter = QT_TRANSLATE_NOOP("TMainWindow", "Hex - файлы (*.hex)|*.hex");
const QString FirmwareExt = QStringLiteral("hex");

// %1 is the reason, as the module client tells it.
const char* const WriteFailedText = QT_TRANSLATE_NOOP("TMainWindow", "Ошибка загрузки конфигурации (%1)");
const char* const ReadFailedText = QT_TRANSLATE_NOOP("TMainWindow", "Ошибка считывания конфигурации (%1)");
const char* const InfoFailedText = QT_TRANSLATE_NOOP("TMainWindow", "Ошибка считывания информации (%1)");
const char* const NotVerifiedText = QT_TRANSLATE_NOOP("TMainWindow", "Конфигурация записана, но не проверена (%1)");
// The second line of a failure whose connection was refused: where the settings point.
const char* const RefusedAddressText = QT_TRANSLATE_NOOP("TMainWindow", "IP адрес модуля: %1, TCP порт: %2");
const char* const WrittenText = QT_TRANSLATE_NOOP("TMainWindow", "Конфигурация успешно загружена");
const char* const ReadText = QT_TRANSLATE_NOOP("TMainWindow", "Конфигурация успешно считана");
// The configuration layer's words, which korvel-cli tells too.
const QString BadChecksumText = QString::fromUtf8(DamagedConfigText);
// %1 lists the values no module holds, one a line. The controls show them as their ranges allow.
const char* const NotAModuleReadText = QT_TRANSLATE_NOOP(
    "TMainWindow", "Конфигурация считана, но устройство не похоже на модуль: модуль не хранит таких значений\n%1");
const char* const ChangeSettingsQuestion =
    QT_TRANSLATE_NOOP("TMainWindow", "Изменены параметры связи модуля. Изменить соответствующие настроки программы ?");
const char* const NotKeptText =
    QT_TRANSLATE_NOOP("TMainWindow", "Модуль подтвердил запись, но хранит другую конфигурацию:");
const char* const WritingText = QT_TRANSLATE_NOOP("TMainWindow", "Загрузка конфигурации…");
const char* const ReadingText = QT_TRANSLATE_NOOP("TMainWindow", "Считывание конфигурации…");
const char* const ReadingInfoText = QT_TRANSLATE_NOOP("TMainWindow", "Считывание информации…");
const char* const ComparingText = QT_TRANSLATE_NOOP("TMainWindow", "Сравнение с модулем…");
const char* const VerifyingText = QT_TRANSLATE_NOOP("TMainWindow", "Проверка конфигурации…");
const char* const CancelledText = QT_TRANSLATE_NOOP("TMainWindow", "Отменено");
const char* const CancelledWriteText =
    QT_TRANSLATE_NOOP("TMainWindow", "Отменено. Модуль мог принять конфигурацию, а мог и не принять: "
                                     "считайте её из модуля, чтобы проверить.");
// The module had acknowledged the write when its read-back was withdrawn.
const char* const CancelledCheckText =
    QT_TRANSLATE_NOOP("TMainWindow", "Конфигурация записана, отменена только её проверка: "
                                     "считайте её из модуля, чтобы проверить.");
// Beside the hints of the commands that wait for the module's answer.
const char* const BusyCommandHint =
    QT_TRANSLATE_NOOP("TMainWindow", "Недоступно, пока модуль не ответил: Esc отменяет ожидание");
// %1 is the module's new address and port.
const char* const NewConnectionText = QT_TRANSLATE_NOOP("TMainWindow", "Новый адрес модуля: %1");

const QString ContentTopic = QStringLiteral("KorvelService_Conent.htm");
const QString TCPIPTopic = QStringLiteral("KorvelService_TCP_IP.htm");
const QString RS485Topic = QStringLiteral("KorvelService_RS485.htm");

// Collection defaults: what stays in the record's fields after the one at which a collection stops.
// The factory values, except the time-out, and the parity and stop bits, which start at their lists'
// first entries; the module's own port is the one its spin edit holds.
constexpr uint16_t PrefillTimeout = 1000;

TModuleConfig CollectionDefaults()
{
    TModuleConfig defaults = FactoryDefaults;
    for (TChannelConfig& channel : defaults.Channels) {
        channel.Parity = 0;
        channel.StopBits = 0;
        channel.Timeout = PrefillTimeout;
    }
    return defaults;
}

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

// The program's exit status when a termination signal's close could not write the recovery file or
// the settings file.
constexpr int NotWrittenStatus = 1;

// A close for a termination signal has nobody to show a message to.
void TellOnStderr(const char* reason)
{
    std::fprintf(stderr, "KorvelService: %s\n", reason);
}

constexpr int WindowClientWidth = 676;
constexpr int WindowClientHeight = 533;
constexpr int ToolButtonSize = 40;
constexpr int WideSeparatorWidth = 16;

// Where the module is reached, as the trace's and the saved capture's headers name it.
TExchangeConnection TraceConnection(const TSettings& settings)
{
    return {QString::fromStdString(settings.IPAddress), settings.TCPPort, settings.Timeout, settings.Transmissions};
}

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
    // The settings are not changed under a waiting command: they would cut it off untold.
    Busy = new TBusySign(
        StatusPanels[BusyPanel],
        {ui->WriteConfigAction, ui->ReadConfigAction, ui->CompareConfigAction, ui->ReadInfoAction, ui->SettingsAction},
        CancelButton, tr(BusyCommandHint), this);
    // No firmware transfer exists: the page is there, but cannot be opened.
    ui->PageControl1->setTabEnabled(ui->PageControl1->indexOf(ui->TabSheet2), false);

    connect(ui->FileNewAction, &QAction::triggered, this, &TMainWindow::FileNewActionExecute);
    connect(ui->FileOpenAction, &QAction::triggered, this, &TMainWindow::FileOpenActionExecute);
    connect(ui->CancelRequestAction, &QAction::triggered, this, &TMainWindow::CancelRequestActionExecute);
    connect(ui->SaveFileAction, &QAction::triggered, this, &TMainWindow::SaveFileActionExecute);
    connect(ui->SaveAsFileAction, &QAction::triggered, this, &TMainWindow::SaveAsFileActionExecute);
    connect(ui->ExitAction, &QAction::triggered, this, &TMainWindow::ExitActionExecute);
    connect(ui->SettingsAction, &QAction::triggered, this, &TMainWindow::SettingsActionExecute);
    connect(ui->WriteConfigAction, &QAction::triggered, this, &TMainWindow::WriteConfigActionExecute);
    connect(ui->ReadConfigAction, &QAction::triggered, this, &TMainWindow::ReadConfigActionExecute);
    connect(ui->ReadInfoAction, &QAction::triggered, this, &TMainWindow::ReadInfoActionExecute);
    connect(ui->CompareConfigAction, &QAction::triggered, this, &TMainWindow::CompareConfigActionExecute);
    connect(ui->ShowMonitorAction, &QAction::triggered, this, &TMainWindow::ShowMonitorActionExecute);
    connect(ui->ReportAction, &QAction::triggered, this, &TMainWindow::ReportActionExecute);
    connect(ui->ShowLinesAction, &QAction::triggered, this, &TMainWindow::ShowLinesActionExecute);
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
    RecoveryFolder = RecoveryFolderLocation();
    FormCreate();
}

TMainWindow::~TMainWindow()
{
    // A window destroyed without a close still lets its master go quietly.
    ReleaseClient();
}

void TMainWindow::SetUpToolBar()
{
    // Buttons without a hint of their own show their action's; every hint names its shortcut.
    const std::map<QAction*, QString> ownHints{
        {ui->FileOpenAction, tr("Открыть файл конфигурации...")},
        {ui->SaveFileAction, tr("Сохранить файл конфигурации")},
        {ui->ReadConfigAction, tr("Считать конфигурацию из модуля")},
    };
    for (QAction* action : ui->ToolBar1->actions()) {
        auto* button = qobject_cast<QToolButton*>(ui->ToolBar1->widgetForAction(action));
        if (!button)
            continue;
        const auto own = ownHints.find(action);
        QString hint = own != ownHints.end() ? own->second : action->toolTip();
        if (!action->shortcut().isEmpty())
            hint += " (" + action->shortcut().toString(QKeySequence::NativeText) + ")";
        // On the action, not the button: the button takes its action's hint again whenever the
        // action changes, as it does each time a module command greys it.
        action->setToolTip(hint);
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
    // Beside the busy sign, shown while a command waits; Esc does the same from anywhere in the window.
    CancelButton = new QToolButton(ui->StatusBar1);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setDefaultAction(ui->CancelRequestAction);
    CancelButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    CancelButton->hide();
    ui->StatusBar1->addWidget(CancelButton);
    addAction(ui->CancelRequestAction);
}

void TMainWindow::CreateFrame(size_t channel, const char* name, QWidget* page)
{
    auto* frame = new TRS485SettingsFrame(this);
    frame->setObjectName(QString::fromLatin1(name));
    frame->OnChanged = [this](QObject*) { SetModified(true); };
    frame->ShowHelpTopic = [this](const QString& topic) { ShowHelpTopic(topic); };
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
    ShowRecentFiles();
    Client = new TModuleClient(Settings.IPAddress, uint16_t(Settings.TCPPort), ClientOptions(Settings), this);
    ExchangeTrace = new TExchangeTrace(this);
    ExchangeTrace->SetMaster(&Client->Master());
    ExchangeTrace->SetConnection(TraceConnection(Settings));
    ShowConnectionSettings();
}

bool TMainWindow::MayDiscardEdits()
{
    if (!Modified)
        return true;
    switch (Ask(tr(SaveChangesQuestion), MB::YesNoCancelQuestion)) {
    case ID::Cancel: return false;
    case ID::Yes: {
        // The operator asked for the edits to be kept: a cancelled dialog or an invalid value keeps
        // them in the window and stops what was asked for.
        bool saved = false;
        RunGuarded([&] { saved = SaveFileAs(); });
        return saved;
    }
    default: return true;
    }
}

bool TMainWindow::FormClose()
{
    if (!MayDiscardEdits())
        return false;
    // Settings that cannot be written are told once; a window that could not be closed for them
    // would leave the operator only a kill.
    if (!RunGuarded([this] { SaveConnectionSettings(); }))
        CloseExitStatus = NotWrittenStatus;
    ReleaseClient();
    return true;
}

void TMainWindow::ReleaseClient()
{
    if (!Client)
        return;
    // The devices window asks through the client: it goes first, with its poll.
    delete LinesWindow;
    // The operator is leaving: a request cut off is not reported.
    ForgetPendingRequests();
    ExchangeTrace->SetMaster(nullptr);
    delete Client;
    Client = nullptr;
}

void TMainWindow::ForgetPendingRequests()
{
    Client->Cancel();
    ++RequestToken;
    Pending = false;
    Busy->Stop();
    Busy->EnableCommands();
}

void TMainWindow::closeEvent(QCloseEvent* event)
{
    if (ClosingOnSignal) {
        // A session ending or a supervisor waits for no answer: what must be kept was written when
        // the signal came.
        ReleaseClient();
        event->accept();
        // Without a running loop there is nothing to end, and a loop started later would end at once.
        if (QThread::currentThread()->loopLevel() > 0)
            QCoreApplication::exit(SignalExitStatus);
        return;
    }
    const bool mayClose = FormClose();
    event->setAccepted(mayClose);
    if (mayClose && CloseExitStatus != 0 && QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(CloseExitStatus);
}

TRecovery TMainWindow::RecoverableEdits() const
{
    // Every field on its own, rather than stopping at the first refused one as a save does: a value
    // the record cannot take keeps the record's previous one, and its text goes beside it.
    TRecovery recovery;
    recovery.Config = Config;
    recovery.FileName = FileName;
    for (const TConfigField& field : ConfigFields()) {
        QString message;
        if (!CollectField(FieldPage(field), field, recovery.Config, message))
            recovery.Typed[TypedTextKey(field)] = FieldText(FieldPage(field), field);
    }
    return recovery;
}

int TMainWindow::SaveOnSignal()
{
    if (EndingOnSignal)
        return SignalExitStatus;
    EndingOnSignal = true;
    if (Modified) {
        QString error;
        if (WriteRecoveryFile(RecoveryFolder, RecoverableEdits(), QDateTime::currentDateTime(), error).isEmpty()) {
            TellOnStderr(error.toUtf8().constData());
            SignalExitStatus = NotWrittenStatus;
        }
    }
    try {
        SaveConnectionSettings();
    } catch (const std::exception& error) {
        TellOnStderr(error.what());
        SignalExitStatus = NotWrittenStatus;
    }
    return SignalExitStatus;
}

void TMainWindow::CloseOnSignal()
{
    SaveOnSignal();
    ClosingOnSignal = true;
    close();
    ClosingOnSignal = false;
}

void TMainWindow::OfferRecovery()
{
    for (const QString& fileName : RecoveryFiles(RecoveryFolder)) {
        TRecovery recovery;
        const bool readable = ReadRecoveryFile(fileName, recovery);
        const QString time = RecoveryFileTime(fileName).toString(RecoveryTimeFormat);
        const int answer = Ask(recovery.FileName.isEmpty() ? tr(RecoverQuestion).arg(time)
                                                           : tr(RecoverFileQuestion).arg(time, recovery.FileName),
                               MB::YesNoQuestion);
        // A question ended by a termination signal was not answered: the file waits for the next start.
        if (EndingOnSignal)
            return;
        if (answer != ID::Yes) {
            QFile::remove(fileName);
            continue;
        }
        if (!readable) {
            Tell(tr(OpenErrorText).arg(fileName), MB::IconError);
            return;
        }
        Config = recovery.Config;
        ConfigToControls(Config);
        for (const TConfigField& field : ConfigFields())
            if (const auto typed = recovery.Typed.find(TypedTextKey(field)); typed != recovery.Typed.end())
                ShowFieldText(FieldPage(field), field, typed->second);
        // The edits belong to their file: a save goes there, as it would have before the program ended.
        SetFileName(recovery.FileName);
        SetModified(true);
        QFile::remove(fileName);
        // One configuration at a time; the older ones are offered at the next start.
        return;
    }
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
    ShowAboutWindow(this, [this](const QString& topic) { ShowHelpTopic(topic); });
}

void TMainWindow::Button1Click()
{
    TFileDialog dialog(TFileDialog::TKind::Open, this);
    dialog.Filter = tr(FirmwareFilter);
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
    StatusPanels[ModifiedPanel]->setText(value ? tr(ModifiedText) : QString());
}

void TMainWindow::SetFileName(const QString& name)
{
    FileName = name;
    setWindowTitle(name.isEmpty() ? Caption() : Caption() + " [" + name + "]");
}

QWidget* TMainWindow::FieldPage(const TConfigField& field) const
{
    return field.Channel < 0 ? static_cast<QWidget*>(ui->TabSheet3) : Frames[size_t(field.Channel)];
}

void TMainWindow::ConfigToControls(const TModuleConfig& config)
{
    for (const TConfigField& field : ConfigFields())
        ShowField(FieldPage(field), field, config);
    for (size_t i = 0; i < ChannelCount; ++i)
        Frames[i]->SetMode(config.Channels[i].SlaveAddress != 0 ? TRS485SettingsFrame::Slave
                                                                : TRS485SettingsFrame::Master);
}

void TMainWindow::PrefillConfig()
{
    static const TModuleConfig defaults = CollectionDefaults();
    // The reserved bytes and the checksum are not touched.
    for (const TConfigField& field : ConfigFields()) {
        if (field.Format == TFieldFormat::Address)
            SetFieldAddress(Config, field, FieldAddress(defaults, field));
        else
            SetFieldWord(Config, field, FieldWord(defaults, field));
    }
    Config.TCPPort = static_cast<uint16_t>(ui->SpinEdit1->Value());
}

bool TMainWindow::ControlsToConfig()
{
    PrefillConfig();
    // Field by field into Config, stopping at the first value the window does not take.
    for (const TConfigField& field : ConfigFields()) {
        QString message;
        if (!CollectField(FieldPage(field), field, Config, message)) {
            Tell(message, MB::IconError);
            return false;
        }
    }
    return true;
}

bool TMainWindow::OpenFile(const QString& name)
{
    // Read aside: a file that cannot be read leaves the window showing what it showed.
    TModuleConfig read = Config;
    if (!LoadConfigFromFile(name.toStdString(), read)) {
        Tell(tr(OpenErrorText).arg(name), MB::IconError);
        return false;
    }
    Config = read;
    ConfigToControls(Config);
    SetFileName(name);
    SetModified(false);
    RememberFile(name);
    return true;
}

void TMainWindow::OpenFileAtStart(const QString& name)
{
    // The caption names the file by its full path, as after the open dialog.
    RunGuarded([&] { OpenFile(QFileInfo(name).absoluteFilePath()); });
}

bool TMainWindow::SaveFile(const QString& name)
{
    std::string unread;
    const TFileReadResult read = ReadWholeFile(name.toStdString(), unread);
    if (read == TFileReadResult::Read || read == TFileReadResult::Missing) {
        SaveConfigToFile(name.toStdString(), Config);
    } else {
        // What the file holds besides the configuration could not be read, so it cannot be kept.
        if (Ask(tr(ReplaceUnreadableQuestion).arg(name), MB::YesNoQuestion) != ID::Yes)
            return false;
        if (WriteWholeFile(name.toStdString(), ConfigToIniText(Config)) != TFileWriteResult::Written)
            throw std::runtime_error("Unable to write to " + name.toStdString());
    }
    SetFileName(name);
    SetModified(false);
    RememberFile(name);
    return true;
}

bool TMainWindow::SaveFileAs()
{
    TFileDialog dialog(TFileDialog::TKind::Save, this);
    dialog.Filter = tr(ConfigSaveFilter);
    dialog.DefaultExt = ConfigExt;
    dialog.FileName = FileName;
    dialog.InitialDir = FileFolder();
    return dialog.Execute() && ControlsToConfig() && SaveFile(dialog.FileName);
}

QString TMainWindow::FileFolder() const
{
    // The file in the window, else the last one used: an engineer's files lie together.
    if (!FileName.isEmpty())
        return QFileInfo(FileName).absolutePath();
    if (!Settings.RecentFiles.empty())
        return QFileInfo(QString::fromStdString(Settings.RecentFiles.front())).absolutePath();
    return {};
}

void TMainWindow::FileNewActionExecute()
{
    if (!MayDiscardEdits())
        return;
    Config = FactoryDefaults;
    ConfigToControls(Config);
    SetFileName({});
    // Refilling the controls announced changes; the factory values are nobody's edits.
    SetModified(false);
}

void TMainWindow::FileOpenActionExecute()
{
    RunGuarded([this] {
        if (!MayDiscardEdits())
            return;
        TFileDialog dialog(TFileDialog::TKind::Open, this);
        dialog.Filter = tr(ConfigOpenFilter);
        dialog.DefaultExt = ConfigExt;
        dialog.InitialDir = FileFolder();
        if (dialog.Execute())
            OpenFile(dialog.FileName);
    });
}

void TMainWindow::OpenRecentFile(const QString& name)
{
    RunGuarded([&] {
        if (!MayDiscardEdits())
            return;
        if (!QFileInfo::exists(name)) {
            RemoveRecentFile(Settings.RecentFiles, name.toStdString());
            ShowRecentFiles();
            Tell(tr(RecentFileMissingText).arg(name), MB::IconError);
            return;
        }
        OpenFile(name);
    });
}

void TMainWindow::RememberFile(const QString& name)
{
    AddRecentFile(Settings.RecentFiles, name.toStdString());
    ShowRecentFiles();
}

void TMainWindow::ShowRecentFiles()
{
    QMenu* menu = ui->RecentFilesMenu;
    // Taken off the window too, so that the menu deletes them with the list.
    for (QAction* item : menu->actions())
        removeAction(item);
    menu->clear();
    int number = 0;
    for (const std::string& file : Settings.RecentFiles) {
        const QString name = QString::fromStdString(file);
        // The name as it is: an ampersand in it is no mnemonic.
        QAction* item = menu->addAction(
            tr(RecentFileItemText).arg(++number).arg(QString(name).replace(u'&', QStringLiteral("&&"))));
        // Alt and the file's number open it from anywhere in the window, not only in the open menu.
        item->setShortcut(QKeySequence(Qt::ALT | Qt::Key(Qt::Key_0 + number)));
        addAction(item);
        connect(item, &QAction::triggered, this, [this, name] { OpenRecentFile(name); });
    }
    menu->setEnabled(number > 0);
}

void TMainWindow::SaveFileActionExecute()
{
    RunGuarded([this] {
        QString name = FileName;
        if (name.isEmpty()) {
            TFileDialog dialog(TFileDialog::TKind::Save, this);
            dialog.Filter = tr(ConfigSaveFilter);
            dialog.DefaultExt = ConfigExt;
            dialog.InitialDir = FileFolder();
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
    Client->Configure(Settings.IPAddress, uint16_t(Settings.TCPPort), ClientOptions(Settings));
    ExchangeTrace->SetConnection(TraceConnection(Settings));
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
    if (MayDiscardEdits())
        ReadConfigFromModule();
}

void TMainWindow::ReadInfoActionExecute()
{
    ReadModuleInfo();
}

void TMainWindow::StartTrace(const QString& fileName)
{
    // Told once and without a box: the work with the module goes on without the trace.
    ExchangeTrace->OnTraceStopped = [this](const QString& reason) {
        const QString text = tr(TraceStoppedText).arg(reason);
        ui->StatusBar1->showMessage(text, TraceStoppedMessageMs);
        std::fprintf(stderr, "KorvelService: %s\n", text.toUtf8().constData());
    };
    if (!ExchangeTrace->OpenTraceFile(fileName))
        Tell(tr(OpenErrorText).arg(fileName), MB::IconError);
}

void TMainWindow::ShowMonitorActionExecute()
{
    ExchangeTrace->ShowMonitor(this, [this](const QString& topic) { ShowHelpTopic(topic); });
}

void TMainWindow::ShowLinesActionExecute()
{
    if (!LinesWindow) {
        const auto newSearch = [this] {
            auto search =
                std::make_unique<TUnitSearch>(Settings.IPAddress, uint16_t(Settings.TCPPort), ClientOptions(Settings));
            // The search's frames go to the monitor with the rest of the exchange.
            search->Client().Master().TraceSink = Client->Master().TraceSink;
            return search;
        };
        LinesWindow = new TLinesWindow(
            *Client, newSearch, [this](const QString& topic) { ShowHelpTopic(topic); }, this);
        LinesWindow->MapPage().SetRecentMaps(
            {[this] { return Settings.RecentMaps; },
             [this](const std::string& name) { AddRecentFile(Settings.RecentMaps, name); },
             [this](const std::string& name) { RemoveRecentFile(Settings.RecentMaps, name); }});
        // The shipped maps lie beside the help pages, in the build tree and installed alike.
        LinesWindow->MapPage().ShippedMapsFolder = QDir::cleanPath(HelpFolder + "../maps");
        LinesWindow->MapPage().OpenLastMap();
    }
    LinesWindow->show();
    LinesWindow->raise();
    LinesWindow->activateWindow();
}

void TMainWindow::ReportActionExecute()
{
    // The report shows the values a save would keep: a value the window refuses is told instead.
    RunGuarded([this] {
        if (ControlsToConfig())
            ShowReportPreview(CommissioningReport(), this);
    });
}

TCommissioningReport TMainWindow::CommissioningReport() const
{
    TCommissioningReport report;
    report.Config = Config;
    report.FileName = FileName;
    report.Made = QDateTime::currentDateTime();
    report.Module = ReportModule;
    if (LinesWindow)
        report.Devices = LinesWindow->ReportDevices();
    return report;
}

void TMainWindow::NoteModuleReached()
{
    const QString at = QStringLiteral("%1:%2").arg(QString::fromStdString(Settings.IPAddress)).arg(Settings.TCPPort);
    if (at != ReportModuleAt)
        ReportModule = {};
    ReportModuleAt = at;
    ReportModule.Connection = ReportConnectionText(QString::fromStdString(Settings.IPAddress), Settings.TCPPort,
                                                   Settings.Timeout, Settings.Transmissions);
}

void TMainWindow::NoteModuleInfo(const TModuleInfo& info)
{
    NoteModuleReached();
    ReportModule.Info = info;
}

void TMainWindow::NoteModuleVerdict(TReportVerdict verdict, const TModuleConfig& checked)
{
    NoteModuleReached();
    ReportModule.Verdict = verdict;
    ReportModule.Checked = checked;
    ReportModule.CheckedAt = QDateTime::currentDateTime();
}

void TMainWindow::CompareConfigActionExecute()
{
    if (ControlsToConfig())
        CompareWithModule();
}

uint64_t TMainWindow::StartRequest(const QString& operation, bool writes)
{
    Pending = true;
    PendingWrites = writes;
    Checking = false;
    Busy->Start(operation);
    return ++RequestToken;
}

void TMainWindow::CancelRequestActionExecute()
{
    if (!Pending)
        return;
    // Withdrawn: the module client tells nothing more of it, whatever the module still answers.
    Client->Cancel();
    ++RequestToken;
    Pending = false;
    Busy->Stop();
    if (Checking) {
        // The module acknowledged the write: it holds the configuration, perhaps at a new address.
        NoteModuleVerdict(TReportVerdict::WrittenNotVerified, WrittenConfig);
        ReportWritten(tr(CancelledCheckText), MB::Warning, WrittenConfig);
    } else {
        // A write may have reached the module before it was withdrawn; only a read tells.
        Tell(tr(PendingWrites ? CancelledWriteText : CancelledText), MB::Information);
    }
    Busy->EnableCommands();
}

void TMainWindow::EndRequest(uint64_t token, const std::function<void()>& tell)
{
    if (token != RequestToken)
        return;  // a request replaced by a later one
    Pending = false;
    Busy->Stop();
    // The commands come back once the outcome has been told, so that no click during its message
    // queues a request behind it; an outcome that starts another request keeps them waiting.
    tell();
    if (!Pending)
        Busy->EnableCommands();
}

void TMainWindow::TellFailure(const char* message, const TModuleResult& result)
{
    QString text = tr(message).arg(QString::fromStdString(result.Text));
    // A refused connection is most often settings that point at the wrong module or port.
    if (result.Connection == TConnectionFailure::Refused)
        text += '\n' + tr(RefusedAddressText).arg(QString::fromStdString(Settings.IPAddress)).arg(Settings.TCPPort);
    Tell(text, MB::IconError);
}

void TMainWindow::WriteConfigToModule(const TModuleConfig& config)
{
    // What is written, so that the outcome compares the module's new address with it rather than
    // with whatever the record holds by then.
    WrittenConfig = config;
    const uint64_t token = StartRequest(tr(WritingText), true);
    if (!Settings.VerifyWrite) {
        Client->WriteConfig(config, [this, token](const TModuleResult& result) {
            EndRequest(token, [&] {
                if (result.Ok()) {
                    NoteModuleVerdict(TReportVerdict::WrittenUnchecked, WrittenConfig);
                    ReportWritten(tr(WrittenText), MB::Information, WrittenConfig);
                } else {
                    TellFailure(WriteFailedText, result);
                }
            });
        });
        return;
    }
    // Acknowledged is not yet kept: the report waits for the read-back.
    Client->WriteAndVerify(
        config,
        [this, token](const TModuleResult& result, bool written, bool verified, const TModuleConfig& held,
                      const std::vector<const TConfigField*>&) {
            EndRequest(token, [&] {
                if (written)
                    NoteModuleVerdict(!result.Ok() ? TReportVerdict::WrittenNotVerified
                                      : verified   ? TReportVerdict::Verified
                                                   : TReportVerdict::NotKept,
                                      WrittenConfig);
                if (!written)
                    TellFailure(WriteFailedText, result);
                else if (!result.Ok())
                    ReportWritten(tr(NotVerifiedText).arg(QString::fromStdString(result.Text)), MB::Warning,
                                  WrittenConfig);
                else if (verified)
                    ReportWritten(tr(WrittenText), MB::Information, WrittenConfig);
                else
                    ReportWritten(NotKeptMessage(held), MB::Warning, held);  // the module holds what it read back
            });
        },
        [this, token] {
            if (token != RequestToken)
                return;
            Checking = true;
            Busy->Start(tr(VerifyingText));
        });
}

void TMainWindow::ReadModuleConfig(const QString& operation, std::function<void(const TModuleConfig&)> onRead)
{
    const uint64_t token = StartRequest(operation);
    Client->ReadConfig(
        [this, token, onRead = std::move(onRead)](const TModuleResult& result, const TModuleConfig& config) {
            EndRequest(token, [&] {
                if (result.Ok()) {
                    NoteModuleVerdict(ChecksumValid(config) ? TReportVerdict::ReadValid : TReportVerdict::ReadDamaged,
                                      config);
                    onRead(config);
                } else {
                    TellFailure(ReadFailedText, result);
                }
            });
        });
}

void TMainWindow::ReadConfigFromModule()
{
    ReadModuleConfig(tr(ReadingText), [this](const TModuleConfig& config) {
        Config = config;
        ConfigToControls(Config);
        SetFileName({});
        // Refilling the controls announced changes; what they show now is the module's.
        SetModified(false);
        if (const std::vector<const TConfigField*> impossible = ImpossibleFields(Config); !impossible.empty()) {
            QStringList values;
            for (const TConfigField* field : impossible)
                values << QString::fromStdString(field->Page + ", " + field->Label + ": " +
                                                 FieldDisplayText(Config, *field));
            Tell(tr(NotAModuleReadText).arg(values.join('\n')), MB::Warning);
        } else if (ChecksumValid(Config))
            Tell(tr(ReadText), MB::Information);
        else
            Tell(BadChecksumText, MB::Warning);
    });
}

void TMainWindow::ReadModuleInfo()
{
    const uint64_t token = StartRequest(tr(ReadingInfoText));
    Client->ReadInfo([this, token](const TModuleResult& result, const TModuleInfo& info) {
        EndRequest(token, [&] {
            if (result.Ok()) {
                NoteModuleInfo(info);
                ShowModuleInfo(info, [this](const QString& topic) { ShowHelpTopic(topic); });
            } else {
                TellFailure(InfoFailedText, result);
            }
        });
    });
}

void TMainWindow::CompareWithModule()
{
    ReadModuleConfig(tr(ComparingText), [this](const TModuleConfig& module) {
        // Config holds what the controls showed when the comparison was asked for; the window is
        // modal, so nothing changes it until the operator decides.
        if (ShowCompareWindow(Config, module, [this](const QString& topic) { ShowHelpTopic(topic); }))
            WriteConfigToModule(Config);
    });
}

QString TMainWindow::NotKeptMessage(const TModuleConfig& held) const
{
    TModuleConfig sent = WrittenConfig;
    SetConfigCRC(sent);
    QStringList message{tr(NotKeptText)};
    message += ConfigDifferenceLines(sent, held);
    return message.join(u'\n');
}

void TMainWindow::ReportWritten(const QString& outcome, unsigned icon, const TModuleConfig& held)
{
    Tell(outcome, icon);
    TSettings followed = Settings;
    followed.IPAddress = IPToStr(held.Address);
    followed.TCPPort = held.TCPPort;
    if (followed.IPAddress == Settings.IPAddress && followed.TCPPort == Settings.TCPPort)
        return;
    if (Ask(tr(ChangeSettingsQuestion) + u'\n' + tr(NewConnectionText).arg(SettingsStatusText(followed)),
            MB::YesNoQuestion) != ID::Yes)
        return;
    Settings.IPAddress = followed.IPAddress;
    Settings.TCPPort = followed.TCPPort;
    ShowConnectionSettings();
    ApplyConnectionSettings();
}
